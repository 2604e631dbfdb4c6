// Direct3D 8 rasters: the driver's extension of every raster, their
// creation on the device and destruction, pixel and palette locks, mip
// levels and sub-rasters, and device loss. Rasters whose device objects do
// not survive a reset (camera textures, depth buffers, swap chains) and
// palettised textures (whose palettes live in the device) are tracked, so
// that a reset can release them beforehand and rebuild them after. Palette
// numbers are handed out from a stack of freed ones first.
#include "gfx/driver/d3d8/d3d8raster.h"

#include <cstring>

#include "gfx/core/error.h"
#include "gfx/core/freelist.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8pixel.h"
#include "gfx/driver/d3d8/d3d8rasterdraw.h"
#include "gfx/driver/d3d8/d3d8rasterformat.h"
#include "gfx/driver/d3d8/d3d8rasterseam.h"
#include "gfx/driver/d3d8/d3d8texstream.h"

namespace {

struct TrackedNode {
    Raster* raster;
    TrackedNode* next;
};

// Driver raster state outside the engine instance: it lives with the device.
struct RasterDriver {
    int32_t extOffset = -1;
    FreeList* nodes = nullptr;
    FreeList* palettes = nullptr;
    TrackedNode* tracked = nullptr;   // newest first
    uint16_t* freeNumbers = nullptr;  // stack of palette numbers given back
    int32_t freeCount = 0;
    int32_t freeCapacity = 0;
    uint32_t nextNumber = 0;  // the next number never handed out
    Raster* context = nullptr;
};
RasterDriver sDriver;

D3D8DeviceState& Dev() { return *D3D8_DeviceState(); }

uint32_t Code(uint32_t word) { return word & RASTERFORMATPIXELFORMATMASK; }

bool Track(Raster* raster)
{
    if (!sDriver.nodes) return true;
    TrackedNode* node = (TrackedNode*)FreeList_Alloc(sDriver.nodes);
    if (!node) return false;
    node->raster = raster;
    node->next = sDriver.tracked;
    sDriver.tracked = node;
    return true;
}

void Untrack(Raster* raster)
{
    for (TrackedNode** p = &sDriver.tracked; *p; p = &(*p)->next)
        if ((*p)->raster == raster) {
            TrackedNode* node = *p;
            *p = node->next;
            FreeList_Free(sDriver.nodes, node);
            return;
        }
}

D3D8Palette* NewPalette()
{
    if (!sDriver.palettes) return nullptr;
    D3D8Palette* palette = (D3D8Palette*)FreeList_Alloc(sDriver.palettes);
    if (!palette) return nullptr;
    memset(palette, 0, sizeof(*palette));
    palette->number = sDriver.freeCount > 0 ? sDriver.freeNumbers[--sDriver.freeCount] : sDriver.nextNumber++;
    return palette;
}

void FreePalette(D3D8Palette* palette)
{
    if (sDriver.freeCount == sDriver.freeCapacity) {
        const int32_t capacity = sDriver.freeCapacity + 512;
        uint16_t* grown = (uint16_t*)Engine_Realloc(sDriver.freeNumbers, sizeof(uint16_t) * (size_t)capacity);
        if (grown) {
            sDriver.freeNumbers = grown;
            sDriver.freeCapacity = capacity;
        }
    }
    if (sDriver.freeCount < sDriver.freeCapacity) sDriver.freeNumbers[sDriver.freeCount++] = (uint16_t)palette->number;
    FreeList_Free(sDriver.palettes, palette);
}

// A device call that may run out of video memory: discard managed resources
// and try once more.
template <typename Create>
D3DRESULT WithVideoMemoryRetry(Create create)
{
    D3DRESULT result = create();
    if (result == D3DERR_OUTOFVIDEOMEMORY) {
        Dev().device->ResourceManagerDiscardBytes(0);
        result = create();
    }
    return result;
}

bool CreateCameraTexture(Raster* raster, D3D8RasterExt* ext)
{
    IDirect3DDevice8* device = Dev().device;
    const uint32_t format = D3D8_FormatOfCode(Raster_GetFormat(raster));
    D3DRESULT result = WithVideoMemoryRetry([&] {
        return device->CreateTexture((uint32_t)raster->width, (uint32_t)raster->height, 1, D3DUSAGE_RENDERTARGET,
                                     format, D3DPOOL_DEFAULT, &ext->texture);
    });
    if (result == D3DERR_OUTOFVIDEOMEMORY) {
        D3D8_RaiseMessage("Out of video memory. Failed to create raster.");
        return false;
    }
    if (result < 0) {
        result = device->CreateTexture((uint32_t)raster->width, (uint32_t)raster->height, 1, D3DUSAGE_RENDERTARGET,
                                       Dev().displayFormat, D3DPOOL_DEFAULT, &ext->texture);
        if (result < 0) {
            D3D8_RaiseMessage("Failed to create raster.");
            return false;
        }
        const uint32_t display = D3D8_DisplayCode();
        raster->format = (uint8_t)(((Raster_GetFormat(raster) & ~RASTERFORMATPIXELFORMATMASK) | display) >> 8);
        raster->depth = D3D8_DepthOfCode(display);
    }
    return true;
}

bool CreateDepthBuffer(Raster* raster, D3D8RasterExt* ext)
{
    D3D8DeviceState& d = Dev();
    if (raster->width == d.windowWidth && raster->height == d.windowHeight && d.depthSurface) {
        ext->surface = d.depthSurface;
        return true;
    }
    const D3DRESULT result = WithVideoMemoryRetry([&] {
        return d.device->CreateDepthStencilSurface((uint32_t)raster->width, (uint32_t)raster->height, d.depthFormat, 0,
                                                   &ext->surface);
    });
    if (result < 0) {
        D3D8_RaiseMessage(result == D3DERR_OUTOFVIDEOMEMORY ? "Out of video memory. Failed to create raster."
                                                            : "Failed to create raster.");
        return false;
    }
    return true;
}

int32_t BackBufferDepth()
{
    IDirect3DSurface8* back = Dev().backBuffer;
    D3DSURFACE_DESC desc;
    if (!back || back->GetDesc(&desc) < 0) return 0;
    switch (desc.Format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: return 32;
    case D3DFMT_R5G6B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_X1R5G5B5: return 16;  // 15-bit display modes have 16-bit pixels too
    default: return 0;
    }
}

void* ExtConstructor(void* object, int32_t offset, int32_t)
{
    ((D3D8RasterExt*)((char*)object + offset))->swapChain = nullptr;
    return object;
}

void* ExtDestructor(void* object, int32_t offset, int32_t)
{
    D3D8RasterExt* ext = (D3D8RasterExt*)((char*)object + offset);
    if (ext->swapChain) ext->swapChain->Release();
    ext->swapChain = nullptr;
    return object;
}

}  // namespace

void D3D8_RaiseMessage(const char*)
{
    // The message names the failing step for whoever reads this code; only
    // the code reaches the error slot.
    const ErrorRecord record = {(int32_t)D3D8_RASTER_PLUGIN_ID, (int32_t)D3D8_ERR_MESSAGE};
    Error_Set(&record);
}

int32_t D3D8_RasterPluginAttach(void)
{
    sDriver.extOffset = Raster_RegisterPlugin((int32_t)sizeof(D3D8RasterExt), D3D8_RASTER_PLUGIN_ID, ExtConstructor,
                                              ExtDestructor, nullptr);
    return sDriver.extOffset >= 0 ? 1 : 0;
}

D3D8RasterExt* D3D8_RasterExt(const Raster* raster) { return (D3D8RasterExt*)((char*)raster + sDriver.extOffset); }

int32_t D3D8_RasterListOpen(void)
{
    sDriver.nodes = FreeList_Create((int32_t)sizeof(TrackedNode), 127, 8);
    sDriver.palettes = FreeList_Create((int32_t)sizeof(D3D8Palette), 16, 8);
    sDriver.tracked = nullptr;
    sDriver.freeCount = sDriver.freeCapacity = 0;
    sDriver.freeNumbers = nullptr;
    sDriver.nextNumber = 0;
    if (!sDriver.nodes || !sDriver.palettes) {
        D3D8_RasterListClose();
        return 0;
    }
    return 1;
}

void D3D8_RasterListClose(void)
{
    if (sDriver.nodes) FreeList_Destroy(sDriver.nodes);
    if (sDriver.palettes) FreeList_Destroy(sDriver.palettes);
    if (sDriver.freeNumbers) Engine_Free(sDriver.freeNumbers);
    sDriver.nodes = nullptr;
    sDriver.palettes = nullptr;
    sDriver.freeNumbers = nullptr;
    sDriver.tracked = nullptr;
    sDriver.freeCount = sDriver.freeCapacity = 0;
    sDriver.context = nullptr;
}

int32_t D3D8_RasterCreate(void*, void* in, int32_t creationWord)
{
    Raster* raster = (Raster*)in;
    D3D8RasterExt* ext = D3D8_RasterExt(raster);
    D3D8DeviceState& d = Dev();
    const uint32_t word = (uint32_t)creationWord;
    memset(ext, 0, sizeof(*ext));
    ext->lockedLevel = 0xff;
    const uint32_t type = word & RASTERTYPEMASK;
    raster->type = (uint8_t)type;
    raster->flags = (uint8_t)(word & 0xf8);
    uint32_t f = word & 0xff00;
    const uint32_t code = Code(f);
    int32_t depth = 0;
    switch (type) {
    case RASTERTYPENORMAL:
    case RASTERTYPETEXTURE:
        if (f & RASTERFORMATPAL4) {
            Error_Raise(D3D8_ERR_FORMAT);
            return 0;
        }
        if (f & RASTERFORMATPAL8) {
            // A device without P8, or a code a palette cannot hold, fails
            // without an error of its own, as the format tests above it do.
            if (!D3D8_PaletteTexturesOk()) return 0;
            if (!code) f |= D3D8_AlphaPalettesOk() ? RASTERFORMAT8888 : RASTERFORMAT888;
            else if (code != RASTERFORMAT888 && !(code == RASTERFORMAT8888 && D3D8_AlphaPalettesOk())) return 0;
            depth = 8;
        } else if (!code) {
            f |= D3D8_BestAlphaCode();
            depth = D3D8_DepthOfCode(f);
        } else {
            if (!D3D8_TextureCodeOk(code)) return 0;
            depth = D3D8_DepthOfCode(code);
        }
        break;
    case RASTERTYPEZBUFFER: {
        const uint32_t own = d.zBufferDepth == 16 ? RASTERFORMAT16 : RASTERFORMAT32;
        if (code && code != own) {
            Error_Raise(D3D8_ERR_FORMAT);
            return 0;
        }
        f = (f & ~RASTERFORMATPIXELFORMATMASK) | own;
        depth = d.zBufferDepth;
        break;
    }
    case RASTERTYPECAMERA:
        if (code && code != D3D8_DisplayCode()) {
            Error_Raise(D3D8_ERR_FORMAT);
            return 0;
        }
        f = (f & ~RASTERFORMATPIXELFORMATMASK) | D3D8_DisplayCode();
        depth = d.displayDepth;
        break;
    case RASTERTYPECAMERATEXTURE:
        if (!code) {
            f |= d.displayDepth == 16                       ? RASTERFORMAT565
                 : D3D8_RenderTargetCodeOk(RASTERFORMAT888) ? RASTERFORMAT888
                                                            : RASTERFORMAT565;
        } else if (!D3D8_RenderTargetCodeOk(code)) {
            Error_Raise(D3D8_ERR_FORMAT);
            return 0;
        }
        depth = D3D8_DepthOfCode(f);
        break;
    default: Error_Raise(D3D8_ERR_FORMAT); return 0;
    }
    raster->format = (uint8_t)(f >> 8);
    raster->depth = depth;
    if (raster->width == 0 || raster->height == 0) {
        raster->flags = RASTERDONTALLOCATE;
        raster->stride = 0;
        if (!raster->depth) raster->depth = 16;
        return type == RASTERTYPECAMERA ? (Track(raster) ? 1 : 0) : 1;
    }
    if ((raster->flags & RASTERDONTALLOCATE) && type != RASTERTYPECAMERA) return 1;
    switch (type) {
    case RASTERTYPENORMAL:
    case RASTERTYPETEXTURE: {
        D3D8_ClampRasterSize(&raster->width, &raster->height, word);
        const bool palettised = f & RASTERFORMATPAL8;
        if (palettised && code && code != RASTERFORMAT888 && code != RASTERFORMAT8888) {
            D3D8_RaiseMessage("Palletized texture can only be RASTERFORMAT888 or RASTERFORMAT8888.");
            return 0;
        }
        if (palettised) {
            ext->palette = NewPalette();
            if (!ext->palette) {
                Error_Raise(ERR_OUT_OF_MEMORY);
                return 0;
            }
        }
        ext->alpha = (uint8_t)D3D8_AlphaOfCode(f);
        const uint32_t format = palettised ? D3DFMT_P8 : D3D8_FormatOfCode(f);
        if (d.device->CreateTexture((uint32_t)raster->width, (uint32_t)raster->height, (f & RASTERFORMATMIPMAP) ? 0 : 1,
                                    0, format, D3DPOOL_MANAGED, &ext->texture) < 0) {
            if (ext->palette) FreePalette(ext->palette);
            ext->palette = nullptr;
            ext->texture = nullptr;
            D3D8_RaiseMessage("Failed to create texture.");
            return 0;
        }
        if (palettised) Track(raster);
        return 1;
    }
    case RASTERTYPECAMERATEXTURE:
        if (f & RASTERFORMATPAL8) {
            D3D8_RaiseMessage("RASTERTYPECAMERATEXTURE can not be palletized.");
            return 0;
        }
        D3D8_ClampRasterSize(&raster->width, &raster->height, word);
        if (!CreateCameraTexture(raster, ext)) return 0;
        Track(raster);
        return 1;
    case RASTERTYPEZBUFFER:
        if (!CreateDepthBuffer(raster, ext)) return 0;
        Track(raster);
        return 1;
    default:  // camera
        if (!(raster->flags & RASTERDONTALLOCATE) &&
            (raster->width > d.windowWidth || raster->height > d.windowHeight)) {
            D3D8_RaiseMessage("Camera raster is too big.");
            return 0;
        }
        raster->depth = BackBufferDepth();
        raster->stride = 0;
        raster->pixels = nullptr;
        raster->flags = RASTERDONTALLOCATE;
        raster->savedWidth = raster->width;
        raster->savedHeight = raster->height;
        Track(raster);
        return 1;
    }
}

int32_t D3D8_RasterDestroy(void*, void* in, int32_t)
{
    Raster* raster = (Raster*)in;
    D3D8RasterExt* ext = D3D8_RasterExt(raster);
    D3D8DeviceState& d = Dev();
    if (sDriver.context == raster) sDriver.context = nullptr;
    if (raster->parent != raster) {
        if (raster->type == RASTERTYPECAMERA) Untrack(raster);
        return 1;
    }
    // Every stage that holds the texture lets it go, so that a new raster at
    // this address is never taken for one already bound.
    if ((raster->type == RASTERTYPENORMAL || raster->type == RASTERTYPETEXTURE ||
         raster->type == RASTERTYPECAMERATEXTURE) &&
        ext->texture) {
        IDirect3DBaseTexture8* stage0 = nullptr;
        if (d.device && d.device->GetTexture(0, &stage0) >= 0 && stage0) {
            if (stage0 == ext->texture && ext->palette) d.device->SetCurrentTexturePalette(0);
            stage0->Release();
        }
        D3D8_UnbindRasterFromStages(ext->texture);
    }
    switch (raster->type) {
    case RASTERTYPENORMAL:
    case RASTERTYPETEXTURE:
        if (ext->palette) {
            Untrack(raster);
            FreePalette(ext->palette);
            ext->palette = nullptr;
        }
        if (ext->texture) ext->texture->Release();
        ext->texture = nullptr;
        return 1;
    case RASTERTYPEZBUFFER:
        Untrack(raster);
        if (ext->surface && ext->surface != d.depthSurface) ext->surface->Release();
        ext->surface = nullptr;
        return 1;
    case RASTERTYPECAMERA: Untrack(raster); return 1;
    case RASTERTYPECAMERATEXTURE:
        Untrack(raster);
        if (ext->texture) ext->texture->Release();
        ext->texture = nullptr;
        return 1;
    default: Error_Raise(D3D8_ERR_FORMAT); return 0;
    }
}

int32_t D3D8_TextureSetRaster(void* texture, void* raster, int32_t)
{
    ((Texture*)texture)->raster = (Raster*)raster;
    return 1;
}

int32_t D3D8_RasterSetContext(void*, void* raster, int32_t)
{
    sDriver.context = (Raster*)raster;
    return 1;
}

Raster* D3D8_GetCurrentContext(void) { return sDriver.context; }

int32_t D3D8_RasterSubRaster(void* out, void* in, int32_t)
{
    Raster* raster = (Raster*)out;
    const Raster* parent = (const Raster*)in;
    raster->stride = parent->stride;
    raster->depth = parent->depth;
    raster->type = parent->type;
    raster->format = parent->format;
    raster->pixels = nullptr;
    return 1;
}

int32_t D3D8_RasterLock(void* out, void* in, int32_t lockWord)
{
    Raster* raster = (Raster*)in;
    D3D8RasterExt* ext = D3D8_RasterExt(raster);
    Raster* top = raster->parent;
    D3D8RasterExt* topExt = D3D8_RasterExt(top);
    const uint32_t level = ((uint32_t)lockWord >> 8) & 0xff, mode = (uint32_t)lockWord & 0xff;
    const uint32_t type = raster->type;
    if (raster->pixels || (type != RASTERTYPENORMAL && type != RASTERTYPECAMERA && type != RASTERTYPETEXTURE &&
                           type != RASTERTYPECAMERATEXTURE)) {
        Error_Raise(D3D8_ERR_LOCKED);
        return 0;
    }
    const bool writes = mode & RASTERLOCKWRITE, reads = mode & RASTERLOCKREAD;
    const uint32_t flags =
        writes ? D3DLOCK_NOSYSLOCK : (D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_NO_DIRTY_UPDATE);
    const bool sub = raster != top;
    const D3DRECT8 rect = {raster->offsetX, raster->offsetY, raster->offsetX + raster->width,
                           raster->offsetY + raster->height};
    IDirect3DDevice8* device = Dev().device;
    if (type == RASTERTYPENORMAL || type == RASTERTYPETEXTURE) {
        // A record created without device pixels has nothing to lock.
        IDirect3DSurface8* surface = nullptr;
        if (!topExt->texture || topExt->texture->GetSurfaceLevel(level, &surface) < 0) {
            Error_Raise(D3D8_ERR_LOCKED);
            return 0;
        }
        if (surface->LockRect(&ext->lockedRect, sub ? &rect : nullptr, flags) < 0) {
            surface->Release();
            Error_Raise(D3D8_ERR_LOCKED);
            return 0;
        }
        ext->lockSurface = surface;
        ext->targetSurface = nullptr;
    } else {
        IDirect3DSurface8* target = nullptr;
        D3DRESULT got;
        if (type == RASTERTYPECAMERA)
            got = topExt->swapChain ? topExt->swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &target)
                                    : device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &target);
        else got = topExt->texture ? topExt->texture->GetSurfaceLevel(level, &target) : D3DERR_INVALIDCALL;
        D3DSURFACE_DESC desc;
        IDirect3DSurface8* image = nullptr;
        if (got < 0 || target->GetDesc(&desc) < 0 ||
            device->CreateImageSurface(desc.Width, desc.Height, desc.Format, &image) < 0) {
            if (target) target->Release();
            Error_Raise(D3D8_ERR_LOCKED);
            return 0;
        }
        if ((reads && device->CopyRects(target, sub ? &rect : nullptr, 1, image, nullptr) < 0) ||
            image->LockRect(&ext->lockedRect, sub ? &rect : nullptr, flags) < 0) {
            image->Release();
            target->Release();
            Error_Raise(D3D8_ERR_LOCKED);
            return 0;
        }
        ext->lockSurface = image;
        ext->targetSurface = target;
    }
    if (reads) raster->privateFlags |= RASTERPIXELLOCKEDREAD;
    if (writes) raster->privateFlags |= RASTERPIXELLOCKEDWRITE;
    raster->savedWidth = raster->width;
    raster->savedHeight = raster->height;
    raster->width = raster->width >> level ? raster->width >> level : 1;
    raster->height = raster->height >> level ? raster->height >> level : 1;
    raster->stride = ext->lockedRect.Pitch;
    raster->pixels = (uint8_t*)ext->lockedRect.pBits;
    ext->lockedLevel = level;
    *(uint8_t**)out = raster->pixels;
    return 1;
}

int32_t D3D8_RasterUnlock(void*, void* in, int32_t)
{
    Raster* raster = (Raster*)in;
    D3D8RasterExt* ext = D3D8_RasterExt(raster);
    if (!raster->pixels) {
        Error_Raise(D3D8_ERR_NOT_LOCKED);
        return 0;
    }
    const bool written = raster->privateFlags & RASTERPIXELLOCKEDWRITE;
    raster->width = raster->savedWidth;
    raster->height = raster->savedHeight;
    raster->stride = 0;
    raster->pixels = nullptr;
    if (ext->lockSurface) {
        ext->lockSurface->UnlockRect();
        if (ext->targetSurface && written) {
            const bool sub = raster != raster->parent;
            const D3DRECT8 rect = {raster->offsetX, raster->offsetY, raster->offsetX + raster->width,
                                   raster->offsetY + raster->height};
            Dev().device->CopyRects(ext->lockSurface, sub ? &rect : nullptr, 1, ext->targetSurface, nullptr);
        }
        ext->lockSurface->Release();
        if (ext->targetSurface) ext->targetSurface->Release();
    }
    ext->lockSurface = nullptr;
    ext->targetSurface = nullptr;
    raster->privateFlags &= (uint8_t) ~(RASTERPIXELLOCKEDREAD | RASTERPIXELLOCKEDWRITE);
    const uint32_t level = ext->lockedLevel;
    ext->lockedLevel = 0xff;
    if (written && level == 0 && (Raster_GetFormat(raster) & RASTERFORMATAUTOMIPMAP) &&
        (raster->type == RASTERTYPENORMAL || raster->type == RASTERTYPETEXTURE ||
         raster->type == RASTERTYPECAMERATEXTURE))
        Texture_RasterGenerateMipLevels(raster->parent, nullptr);
    return 1;
}

int32_t D3D8_RasterIsTextureType(uint32_t type)
{
    return type == RASTERTYPENORMAL || type == RASTERTYPETEXTURE || type == RASTERTYPECAMERATEXTURE;
}

int32_t D3D8_RasterLockPalette(void* out, void* in, int32_t mode)
{
    Raster* raster = (Raster*)in;
    if (!D3D8_RasterIsTextureType(raster->type)) {
        Error_Raise(D3D8_ERR_LOCKED);
        return 0;
    }
    D3D8Palette* palette = D3D8_RasterExt(raster->parent)->palette;
    if (!palette) {
        Error_Raise(D3D8_ERR_FORMAT);
        return 0;
    }
    raster->palette = (uint8_t*)palette->entries;
    raster->privateFlags |=
        (mode & RASTERLOCKWRITE) ? (RASTERPALETTELOCKEDREAD | RASTERPALETTELOCKEDWRITE) : RASTERPALETTELOCKEDREAD;
    *(uint8_t**)out = raster->palette;
    return 1;
}

int32_t D3D8_RasterUnlockPalette(void*, void* in, int32_t)
{
    Raster* raster = (Raster*)in;
    if (!D3D8_RasterIsTextureType(raster->type)) {
        Error_Raise(D3D8_ERR_NOT_LOCKED);
        return 0;
    }
    D3D8Palette* palette = D3D8_RasterExt(raster->parent)->palette;
    if ((raster->privateFlags & RASTERPALETTELOCKEDWRITE) && palette && Dev().device)
        Dev().device->SetPaletteEntries(palette->number, palette->entries);
    raster->palette = nullptr;
    raster->privateFlags &= (uint8_t) ~(RASTERPALETTELOCKEDREAD | RASTERPALETTELOCKEDWRITE);
    return 1;
}

int32_t D3D8_RasterGetNumLevels(void* out, void* in, int32_t)
{
    const Raster* top = ((const Raster*)in)->parent;
    int32_t count = 1;
    if (D3D8_RasterIsTextureType(top->type)) {
        const D3D8RasterExt* ext = D3D8_RasterExt(top);
        if (ext->texture) {
            count = (int32_t)ext->texture->GetLevelCount();
        } else {
            const int32_t side = top->width > top->height ? top->width : top->height;
            count = 0;
            for (int32_t s = side; s > 0; s >>= 1) count++;
        }
    }
    *(int32_t*)out = count;
    return 1;
}

int32_t D3D8_TextureHasAlpha(const Texture* texture)
{
    return texture && texture->raster ? D3D8_RasterExt(texture->raster)->alpha : 0;
}
int32_t D3D8_RasterIsCubeMap(const Raster* raster) { return D3D8_RasterExt(raster)->cube; }
int32_t D3D8_RasterIsCompressed(const Raster* raster) { return D3D8_RasterExt(raster)->compressed != 0; }

void D3D8_ReleaseDeviceRasters(void)
{
    D3D8DeviceState& d = Dev();
    for (TrackedNode* node = sDriver.tracked; node; node = node->next) {
        Raster* raster = node->raster;
        D3D8RasterExt* ext = D3D8_RasterExt(raster);
        if (raster->parent != raster) continue;
        if (raster->type == RASTERTYPEZBUFFER && ext->surface) {
            if (ext->surface != d.depthSurface) ext->surface->Release();
            ext->surface = nullptr;
        } else if (raster->type == RASTERTYPECAMERA && ext->swapChain) {
            ext->swapChain->Release();
            ext->swapChain = nullptr;
            ext->surface = nullptr;
        } else if (raster->type == RASTERTYPECAMERATEXTURE && ext->texture) {
            D3D8_UnbindRasterFromStages(ext->texture);
            ext->texture->Release();
            ext->texture = nullptr;
        }
    }
}

int32_t D3D8_RestoreDeviceRasters(void)
{
    D3D8DeviceState& d = Dev();
    int32_t ok = 1;
    for (TrackedNode* node = sDriver.tracked; node; node = node->next) {
        Raster* raster = node->raster;
        D3D8RasterExt* ext = D3D8_RasterExt(raster);
        if (raster->parent != raster || (raster->flags & RASTERDONTALLOCATE)) continue;
        if (ext->palette) {
            d.device->SetPaletteEntries(ext->palette->number, ext->palette->entries);
        } else if (raster->type == RASTERTYPEZBUFFER && !ext->surface) {
            if (!CreateDepthBuffer(raster, ext)) ok = 0;
        } else if (raster->type == RASTERTYPECAMERATEXTURE && !ext->texture) {
            if (!CreateCameraTexture(raster, ext)) ok = 0;
        }
    }
    return ok;
}
void D3D8_FillRasterStandardFunctions(StandardFunction* table)
{
    table[STDFN_RASTERCLEARRECT] = D3D8_RasterClearRect;
    table[STDFN_RASTERCLEAR] = D3D8_RasterClear;
    table[STDFN_RASTERRENDER] = D3D8_RasterRender;
    table[STDFN_RASTERRENDERSCALED] = D3D8_RasterRenderScaled;
    table[STDFN_RASTERRENDERFAST] = D3D8_RasterRenderFast;
    table[STDFN_RASTERSHOW] = D3D8_RasterShow;
    table[STDFN_COLOURTOPIXEL] = D3D8_ColourToPixelStd;
    table[STDFN_PIXELTOCOLOUR] = D3D8_PixelToColourStd;
    table[STDFN_RASTERCREATE] = D3D8_RasterCreate;
    table[STDFN_RASTERDESTROY] = D3D8_RasterDestroy;
    table[STDFN_IMAGEFROMRASTER] = D3D8_ImageFromRasterStd;
    table[STDFN_RASTERFROMIMAGE] = D3D8_RasterFromImageStd;
    table[STDFN_TEXTURESETRASTER] = D3D8_TextureSetRaster;
    table[STDFN_IMAGEFINDRASTERFORMAT] = D3D8_ImageFindRasterFormat;
    table[STDFN_RASTERSETCONTEXT] = D3D8_RasterSetContext;
    table[STDFN_RASTERSUBRASTER] = D3D8_RasterSubRaster;
    table[STDFN_RASTERLOCK] = D3D8_RasterLock;
    table[STDFN_RASTERUNLOCK] = D3D8_RasterUnlock;
    table[STDFN_RASTERLOCKPALETTE] = D3D8_RasterLockPalette;
    table[STDFN_RASTERUNLOCKPALETTE] = D3D8_RasterUnlockPalette;
    table[STDFN_NATIVETEXTUREGETSIZE] = D3D8_NativeTextureGetSizeStd;
    table[STDFN_NATIVETEXTUREREAD] = D3D8_NativeTextureReadStd;
    table[STDFN_NATIVETEXTUREWRITE] = D3D8_NativeTextureWriteStd;
    table[STDFN_RASTERGETNUMLEVELS] = D3D8_RasterGetNumLevels;
}
