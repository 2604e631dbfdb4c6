#include "gfx/core/raster.h"

#include <cstring>

#include "gfx/core/arena.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/freelist.h"
#include "gfx/core/image.h"

namespace {

constexpr int kContextSlots = 10;

// Module globals, kept in the engine instance at the raster module's offset.
struct RasterModule {
    Raster *contexts[kContextSlots];  // the context stack; slot 0 is the dummy
    int32_t top;
    Raster dummy;
    FreeList *rasters;
};

PluginRegistry sRasterRegistry = PLUGIN_REGISTRY_INIT(sizeof(Raster));
int32_t sModuleOffset = -1;
int32_t sOpenCount = 0;

RasterModule *Module(void) { return (RasterModule *)Engine_ModuleGlobals(sModuleOffset); }

// Calls a driver standard function; an empty slot fails.
int32_t Standard(int32_t number, void *out, void *inOut, int32_t arg)
{
    StandardFunction f = Engine_Instance()->standardFunctions[number];
    return f ? f(out, inOut, arg) : 0;
}

}  // namespace

int32_t Raster_InstallModule(void)
{
    return Engine_SetCoreModule(MODULE_RASTER, (int32_t)sizeof(RasterModule), Raster_ModuleOpen, Raster_ModuleClose);
}

void *Raster_ModuleOpen(void *instance, int32_t offset, int32_t)
{
    sModuleOffset = offset;
    RasterModule *m = Module();
    memset(m, 0, sizeof(*m));
    m->dummy.parent = &m->dummy;
    m->dummy.flags = RASTERDONTALLOCATE;
    m->contexts[0] = &m->dummy;
    m->rasters = FreeList_Create(sRasterRegistry.size, 16, 8);
    if (!m->rasters) return nullptr;
    sOpenCount++;
    return instance;
}

void *Raster_ModuleClose(void *instance, int32_t, int32_t)
{
    RasterModule *m = Module();
    if (m->rasters) FreeList_Destroy(m->rasters);
    m->rasters = nullptr;
    sOpenCount--;
    return instance;
}

int32_t Raster_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                              PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&sRasterRegistry, size, pluginId, constructor, destructor, copy);
}

int32_t Raster_GetPluginOffset(uint32_t pluginId) { return PluginRegistry_GetPluginOffset(&sRasterRegistry, pluginId); }

Raster *Raster_Create(int32_t width, int32_t height, int32_t depth, uint32_t creationWord)
{
    RasterModule *m = Module();
    Raster *raster = (Raster *)FreeList_Alloc(m->rasters);
    if (!raster) return nullptr;
    memset(raster, 0, (size_t)sRasterRegistry.size);
    raster->parent = raster;
    raster->width = width;
    raster->height = height;
    raster->depth = depth;
    if (!Standard(STDFN_RASTERCREATE, nullptr, raster, (int32_t)creationWord)) {
        FreeList_Free(m->rasters, raster);
        return nullptr;
    }
    if (!PluginRegistry_RunConstructors(&sRasterRegistry, raster)) {
        Standard(STDFN_RASTERDESTROY, nullptr, raster, 0);
        FreeList_Free(m->rasters, raster);
        return nullptr;
    }
    return raster;
}

int Raster_Destroy(Raster *raster)
{
    if (!raster) return 1;
    PluginRegistry_RunDestructors(&sRasterRegistry, raster);
    Standard(STDFN_RASTERDESTROY, nullptr, raster, 0);
    FreeList_Free(Module()->rasters, raster);
    return 1;
}

uint8_t *Raster_Lock(Raster *raster, uint32_t level, uint32_t mode)
{
    uint8_t *pixels = nullptr;
    if (!Standard(STDFN_RASTERLOCK, &pixels, raster, (int32_t)(((level & 0xff) << 8) | (mode & 0xff)))) return nullptr;
    return pixels;
}

Raster *Raster_Unlock(Raster *raster) { return Standard(STDFN_RASTERUNLOCK, nullptr, raster, 0) ? raster : nullptr; }

uint8_t *Raster_LockPalette(Raster *raster, uint32_t mode)
{
    uint8_t *palette = nullptr;
    if (!Standard(STDFN_RASTERLOCKPALETTE, &palette, raster, (int32_t)mode)) return nullptr;
    return palette;
}

Raster *Raster_UnlockPalette(Raster *raster)
{
    const int32_t ok = Standard(STDFN_RASTERUNLOCKPALETTE, nullptr, raster, 0);
    raster->privateFlags &= (uint8_t)~(RASTERPALETTELOCKEDREAD | RASTERPALETTELOCKEDWRITE);
    return ok ? raster : nullptr;
}

int32_t Raster_GetNumLevels(Raster *raster)
{
    if (!(Raster_GetFormat(raster) & RASTERFORMATMIPMAP)) return 1;
    int32_t count = 0;
    return Standard(STDFN_RASTERGETNUMLEVELS, &count, raster, 0) ? count : -1;
}

Raster *Raster_SubRaster(Raster *raster, Raster *parent, const RasterRect *rect)
{
    if (!(raster->flags & RASTERDONTALLOCATE)) return nullptr;
    raster->width = rect->w;
    raster->height = rect->h;
    raster->offsetX = (int16_t)(parent->offsetX + rect->x);
    raster->offsetY = (int16_t)(parent->offsetY + rect->y);
    if (!Standard(STDFN_RASTERSUBRASTER, raster, parent, 0)) return nullptr;
    raster->parent = parent->parent;
    return raster;
}

Raster *Raster_Show(Raster *raster, void *window, uint32_t flags)
{
    ResourceArena_NewFrame();
    return Standard(STDFN_RASTERSHOW, raster, window, (int32_t)flags) ? raster : nullptr;
}

Raster *Raster_GetCurrentContext(void)
{
    RasterModule *m = Module();
    return m->contexts[m->top];
}

Raster *Raster_SetFromImage(Raster *raster, Image *image)
{
    if (!Standard(STDFN_RASTERFROMIMAGE, raster, image, 0)) return nullptr;
    if (image->flags & IMAGE_GAMMACORRECTED) raster->privateFlags |= RASTERGAMMACORRECTED;
    return raster;
}

Image *Image_SetFromRaster(Image *image, Raster *raster)
{
    if (!Standard(STDFN_IMAGEFROMRASTER, image, raster, 0)) return nullptr;
    if (raster->privateFlags & RASTERGAMMACORRECTED) image->flags |= IMAGE_GAMMACORRECTED;
    return image;
}

Image *Image_FindRasterFormat(Image *image, uint32_t creationWord, int32_t *width, int32_t *height,
                              int32_t *depth, int32_t *format)
{
    Raster record;
    memset(&record, 0, sizeof(record));
    record.parent = &record;
    if (!Standard(STDFN_IMAGEFINDRASTERFORMAT, &record, image, (int32_t)creationWord)) return nullptr;
    *width = record.width;
    *height = record.height;
    *depth = record.depth;
    *format = (int32_t)Raster_GetFormat(&record) | record.type;
    return image;
}
