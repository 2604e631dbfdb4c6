#include "gfx/driver/d3d8/d3d8raster.h"

#include <cstring>

#include "gfx/core/error.h"
#include "gfx/core/freelist.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8pixel.h"
#include "gfx/driver/d3d8/d3d8camera.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8im2d.h"
#include "gfx/driver/d3d8/d3d8rasterseam.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/driver/d3d8/d3d8texstream.h"

namespace {

struct FormatEntry {
    uint32_t d3dFormat;
    int32_t depth;
    int32_t alpha;
};

// Indexed by the pixel code >> 8.
const FormatEntry kFormats[11] = {
    {D3DFMT_UNKNOWN, 0, 0},    {D3DFMT_A1R5G5B5, 16, 1}, {D3DFMT_R5G6B5, 16, 0}, {D3DFMT_A4R4G4B4, 16, 1},
    {D3DFMT_L8, 8, 0},         {D3DFMT_A8R8G8B8, 32, 1}, {D3DFMT_X8R8G8B8, 32, 0}, {D3DFMT_UNKNOWN, 0, 0},
    {D3DFMT_UNKNOWN, 0, 0},    {D3DFMT_UNKNOWN, 0, 0},   {D3DFMT_X1R5G5B5, 16, 0},
};

struct TrackedNode {
    Raster *raster;
    TrackedNode *next;
};

// Driver raster state outside the engine instance: it lives with the device.
struct RasterDriver {
    int32_t extOffset = -1;
    FreeList *nodes = nullptr;
    FreeList *palettes = nullptr;
    TrackedNode *tracked = nullptr;  // newest first
    uint16_t *freeNumbers = nullptr; // stack of palette numbers given back
    int32_t freeCount = 0;
    int32_t freeCapacity = 0;
    uint32_t nextNumber = 0;         // the next number never handed out
    Raster *context = nullptr;
};
RasterDriver sDriver;

D3D8DeviceState &Dev() { return *D3D8_DeviceState(); }

uint32_t Code(uint32_t word) { return word & RASTERFORMATPIXELFORMATMASK; }

bool TextureFormatOk(uint32_t format)
{
    const D3D8DeviceState &d = Dev();
    return d.d3d && format != D3DFMT_UNKNOWN &&
           d.d3d->CheckDeviceFormat(d.adapter, d.deviceType, d.displayFormat, 0, D3DRTYPE_TEXTURE, format) >= 0;
}
bool CodeOk(uint32_t code) { return TextureFormatOk(D3D8_FormatOfCode(code)); }

bool RenderTargetOk(uint32_t code)
{
    const D3D8DeviceState &d = Dev();
    const uint32_t format = D3D8_FormatOfCode(code);
    return d.d3d && format != D3DFMT_UNKNOWN &&
           d.d3d->CheckDeviceFormat(d.adapter, d.deviceType, d.displayFormat, D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE,
                                    format) >= 0 &&
           d.d3d->CheckDepthStencilMatch(d.adapter, d.deviceType, d.displayFormat, format, d.depthFormat) >= 0;
}

bool AlphaPalette() { return Dev().caps.TextureCaps & D3DPTEXTURECAPS_ALPHAPALETTE; }
bool P8Ok() { return TextureFormatOk(D3DFMT_P8); }

uint32_t DisplayCode()
{
    uint32_t word = 0;
    const uint32_t format = Dev().displayFormat;
    for (uint32_t i = 1; i < 11; i++)
        if (kFormats[i].d3dFormat == format) word = i << 8;
    return word;
}

// 8888 when the display is deeper than 16 bits and the device has it, else
// 4444 when it has that, else 1555.
uint32_t BestAlphaCode()
{
    if (Dev().displayDepth > 16 && CodeOk(RASTERFORMAT8888)) return RASTERFORMAT8888;
    return CodeOk(RASTERFORMAT4444) ? RASTERFORMAT4444 : RASTERFORMAT1555;
}

bool Track(Raster *raster)
{
    if (!sDriver.nodes) return true;
    TrackedNode *node = (TrackedNode *)FreeList_Alloc(sDriver.nodes);
    if (!node) return false;
    node->raster = raster;
    node->next = sDriver.tracked;
    sDriver.tracked = node;
    return true;
}

void Untrack(Raster *raster)
{
    for (TrackedNode **p = &sDriver.tracked; *p; p = &(*p)->next)
        if ((*p)->raster == raster) {
            TrackedNode *node = *p;
            *p = node->next;
            FreeList_Free(sDriver.nodes, node);
            return;
        }
}

D3D8Palette *NewPalette()
{
    if (!sDriver.palettes) return nullptr;
    D3D8Palette *palette = (D3D8Palette *)FreeList_Alloc(sDriver.palettes);
    if (!palette) return nullptr;
    memset(palette, 0, sizeof(*palette));
    palette->number = sDriver.freeCount > 0 ? sDriver.freeNumbers[--sDriver.freeCount] : sDriver.nextNumber++;
    return palette;
}

void FreePalette(D3D8Palette *palette)
{
    if (sDriver.freeCount == sDriver.freeCapacity) {
        const int32_t capacity = sDriver.freeCapacity + 512;
        uint16_t *grown = (uint16_t *)Engine_Realloc(sDriver.freeNumbers, sizeof(uint16_t) * (size_t)capacity);
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

bool CreateCameraTexture(Raster *raster, D3D8RasterExt *ext)
{
    IDirect3DDevice8 *device = Dev().device;
    const uint32_t format = D3D8_FormatOfCode(Raster_GetFormat(raster));
    D3DRESULT result = WithVideoMemoryRetry([&] {
        return device->CreateTexture((uint32_t)raster->width, (uint32_t)raster->height, 1, D3DUSAGE_RENDERTARGET, format,
                                     D3DPOOL_DEFAULT, &ext->texture);
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
        const uint32_t display = DisplayCode();
        raster->format = (uint8_t)(((Raster_GetFormat(raster) & ~RASTERFORMATPIXELFORMATMASK) | display) >> 8);
        raster->depth = D3D8_DepthOfCode(display);
    }
    return true;
}

bool CreateDepthBuffer(Raster *raster, D3D8RasterExt *ext)
{
    D3D8DeviceState &d = Dev();
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
    IDirect3DSurface8 *back = Dev().backBuffer;
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

void *ExtConstructor(void *object, int32_t offset, int32_t)
{
    ((D3D8RasterExt *)((char *)object + offset))->swapChain = nullptr;
    return object;
}

void *ExtDestructor(void *object, int32_t offset, int32_t)
{
    D3D8RasterExt *ext = (D3D8RasterExt *)((char *)object + offset);
    if (ext->swapChain) ext->swapChain->Release();
    ext->swapChain = nullptr;
    return object;
}

}  // namespace

void D3D8_RaiseMessage(const char *)
{
    // The message names the failing step for whoever reads this code; only
    // the code reaches the error slot.
    const ErrorRecord record = {(int32_t)D3D8_RASTER_PLUGIN_ID, (int32_t)D3D8_ERR_MESSAGE};
    Error_Set(&record);
}

int32_t D3D8_RasterPluginAttach(void)
{
    sDriver.extOffset =
        Raster_RegisterPlugin((int32_t)sizeof(D3D8RasterExt), D3D8_RASTER_PLUGIN_ID, ExtConstructor, ExtDestructor, nullptr);
    return sDriver.extOffset >= 0 ? 1 : 0;
}

D3D8RasterExt *D3D8_RasterExt(const Raster *raster) { return (D3D8RasterExt *)((char *)raster + sDriver.extOffset); }

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

uint32_t D3D8_FormatOfCode(uint32_t word)
{
    const uint32_t i = Code(word) >> 8;
    return i < 11 ? kFormats[i].d3dFormat : D3DFMT_UNKNOWN;
}
int32_t D3D8_DepthOfCode(uint32_t word)
{
    const uint32_t i = Code(word) >> 8;
    return i < 11 ? kFormats[i].depth : 0;
}
int32_t D3D8_AlphaOfCode(uint32_t word)
{
    const uint32_t i = Code(word) >> 8;
    return i < 11 ? kFormats[i].alpha : 0;
}

int32_t D3D8_CodeOfFormat(uint32_t d3dFormat, uint32_t *word)
{
    for (uint32_t i = 1; i < 11; i++)
        if (kFormats[i].d3dFormat == d3dFormat && d3dFormat != D3DFMT_UNKNOWN) {
            *word = i << 8;
            return 1;
        }
    Error_Raise(D3D8_ERR_FORMAT);
    return 0;
}

void D3D8_ClampRasterSize(int32_t *width, int32_t *height, uint32_t word)
{
    const D3DCAPS8 &caps = Dev().caps;
    if (caps.MaxTextureWidth && *width > (int32_t)caps.MaxTextureWidth) *width = (int32_t)caps.MaxTextureWidth;
    if (caps.MaxTextureHeight && *height > (int32_t)caps.MaxTextureHeight) *height = (int32_t)caps.MaxTextureHeight;
    if (caps.TextureCaps & D3DPTEXTURECAPS_POW2) {
        // Normal rasters and rasters without mip levels may keep other sizes
        // on a device with the conditional cap.
        const bool exempt = (caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) &&
                            ((word & RASTERTYPEMASK) == RASTERTYPENORMAL || !(word & RASTERFORMATMIPMAP));
        if (!exempt) {
            for (int32_t *side : {width, height}) {
                int32_t p = 1;
                while (p * 2 <= *side) p *= 2;
                if (*side > 0) *side = p;
            }
        }
    }
    if (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) {
        if (*width < *height) *height = *width;
        else *width = *height;
    }
}

uint32_t D3D8_ImageChooseFormat(const Image *image)
{
    const int32_t depth = Dev().displayDepth;
    if (image->depth == 32) {
        bool middle = false, low = false;
        for (int32_t y = 0; y < image->height && !middle; y++) {
            const uint8_t *p = image->pixels + (size_t)y * image->stride;
            for (int32_t x = 0; x < image->width; x++) {
                const uint8_t a = p[4 * x + 3];
                if (a >= 16 && a <= 254) middle = true;
                else if (a < 16) low = true;
            }
        }
        if (middle) return BestAlphaCode();
        if (low) return depth <= 16 ? RASTERFORMAT1555 : CodeOk(RASTERFORMAT8888) ? RASTERFORMAT8888 : RASTERFORMAT1555;
        return depth <= 16 ? RASTERFORMAT565 : CodeOk(RASTERFORMAT888) ? RASTERFORMAT888 : RASTERFORMAT565;
    }
    if (image->depth == 4 || image->depth == 8) {
        const uint32_t palettised = image->depth == 4 ? RASTERFORMATPAL4 : RASTERFORMATPAL8;
        // Only entries that some pixel uses count. A 4-bit image's pixel is
        // the low four bits of its byte, as everywhere images are converted.
        const uint8_t indexMask = image->depth == 4 ? 15 : 255;
        bool translucent = false;
        if (image->palette && image->pixels)
            for (int32_t y = 0; y < image->height && !translucent; y++) {
                const uint8_t *p = image->pixels + (size_t)y * image->stride;
                for (int32_t x = 0; x < image->width; x++)
                    if (image->palette[4 * (p[x] & indexMask) + 3] != 255) translucent = true;
            }
        return palettised | (translucent ? RASTERFORMAT8888 : RASTERFORMAT888);
    }
    return 0;
}

int32_t D3D8_ResolveRasterFormat(uint32_t type, uint32_t word, uint32_t *resolved)
{
    uint32_t f = word & 0xff00;
    const uint32_t code = Code(f);
    const bool deep = Dev().displayDepth > 16;
    switch (type) {
    case RASTERTYPENORMAL:
    case RASTERTYPETEXTURE:
        // 4-bit palettes are held as 8-bit ones.
        if (f & RASTERFORMATPAL4) f = (f & ~RASTERFORMATPAL4) | RASTERFORMATPAL8;
        if (!code) {
            if (f & RASTERFORMATPAL8) {
                if (P8Ok()) {
                    *resolved = f | (AlphaPalette() ? RASTERFORMAT8888 : RASTERFORMAT888);
                    return 1;
                }
                f &= ~RASTERFORMATPAL8;
            }
            *resolved = f | (CodeOk(RASTERFORMAT8888) ? RASTERFORMAT8888 : CodeOk(RASTERFORMAT4444) ? RASTERFORMAT4444 : RASTERFORMAT1555);
            return 1;
        }
        if (f & RASTERFORMATPAL8) {
            if (P8Ok() && (code != RASTERFORMAT8888 || AlphaPalette())) {
                *resolved = f;
                return 1;
            }
            f &= ~(RASTERFORMATPAL8 | RASTERFORMATPIXELFORMATMASK);
            if (code == RASTERFORMAT888) f |= deep && CodeOk(RASTERFORMAT888) ? RASTERFORMAT888 : RASTERFORMAT565;
            else f |= BestAlphaCode();
            *resolved = f;
            return 1;
        }
        f &= ~RASTERFORMATPIXELFORMATMASK;
        switch (code) {
        case RASTERFORMAT8888:
            f |= CodeOk(RASTERFORMAT8888) ? RASTERFORMAT8888 : CodeOk(RASTERFORMAT4444) ? RASTERFORMAT4444 : RASTERFORMAT1555;
            break;
        case RASTERFORMAT888: f |= CodeOk(RASTERFORMAT888) ? RASTERFORMAT888 : RASTERFORMAT565; break;
        case RASTERFORMAT4444: f |= CodeOk(RASTERFORMAT4444) ? RASTERFORMAT4444 : RASTERFORMAT1555; break;
        case RASTERFORMATLUM8:
            f |= CodeOk(RASTERFORMATLUM8) ? RASTERFORMATLUM8 : CodeOk(RASTERFORMAT888) ? RASTERFORMAT888 : RASTERFORMAT565;
            break;
        default: f |= code; break;
        }
        *resolved = f;
        return 1;
    case RASTERTYPEZBUFFER:
        if (code) break;
        *resolved = f | (Dev().zBufferDepth == 16 ? RASTERFORMAT16 : RASTERFORMAT32);
        return 1;
    case RASTERTYPECAMERA:
        if (code) break;
        *resolved = f | DisplayCode();
        return 1;
    case RASTERTYPECAMERATEXTURE: {
        f &= ~RASTERFORMATPIXELFORMATMASK;
        uint32_t c = code;
        if (!c) {
            c = Dev().zBufferDepth == 16 ? RASTERFORMAT565 : RenderTargetOk(RASTERFORMAT888) ? RASTERFORMAT888 : RASTERFORMAT565;
        } else if (Dev().zBufferDepth == 16) {
            if (D3D8_DepthOfCode(c) == 32) c = c == RASTERFORMAT8888 ? RASTERFORMAT4444 : RASTERFORMAT565;
            if (c == RASTERFORMAT4444 && !RenderTargetOk(c)) c = RASTERFORMAT1555;
            if (c == RASTERFORMAT1555 && !RenderTargetOk(c)) c = RASTERFORMAT565;
        } else {
            if (D3D8_DepthOfCode(c) != 32)
                c = (c == RASTERFORMAT4444 || c == RASTERFORMAT1555) ? RASTERFORMAT8888 : RASTERFORMAT888;
            if (c == RASTERFORMAT8888 && !RenderTargetOk(c)) c = RASTERFORMAT888;
        }
        *resolved = f | c;
        return 1;
    }
    default: break;
    }
    Error_Raise(D3D8_ERR_FORMAT);
    return 0;
}

int32_t D3D8_ImageFindRasterFormat(void *out, void *in, int32_t creationWord)
{
    Raster *raster = (Raster *)out;
    const Image *image = (const Image *)in;
    uint32_t word = (uint32_t)creationWord;
    const uint32_t type = word & RASTERTYPEMASK;
    raster->width = image->width;
    raster->height = image->height;
    raster->depth = 0;
    switch (type) {
    case RASTERTYPENORMAL:
        // Normal rasters never get mip levels.
        word = (word & 0xff) | D3D8_ImageChooseFormat(image);
        D3D8_ClampRasterSize(&raster->width, &raster->height, word);
        break;
    case RASTERTYPEZBUFFER:
    case RASTERTYPECAMERA: break;
    case RASTERTYPETEXTURE:
    case RASTERTYPECAMERATEXTURE:
        word = (word & 0xff) | D3D8_ImageChooseFormat(image) | (word & (RASTERFORMATMIPMAP | RASTERFORMATAUTOMIPMAP));
        D3D8_ClampRasterSize(&raster->width, &raster->height, word);
        break;
    default: Error_Raise(D3D8_ERR_FORMAT); return 0;
    }
    uint32_t resolved;
    if (!D3D8_ResolveRasterFormat(type, word, &resolved)) return 0;
    raster->type = (uint8_t)type;
    raster->flags = (uint8_t)(word & 0xf8);
    raster->format = (uint8_t)(resolved >> 8);
    raster->depth = (resolved & RASTERFORMATPAL8) ? 8 : D3D8_DepthOfCode(resolved);
    return 1;
}

int32_t D3D8_RasterCreate(void *, void *in, int32_t creationWord)
{
    Raster *raster = (Raster *)in;
    D3D8RasterExt *ext = D3D8_RasterExt(raster);
    D3D8DeviceState &d = Dev();
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
            if (!P8Ok()) return 0;
            if (!code) f |= AlphaPalette() ? RASTERFORMAT8888 : RASTERFORMAT888;
            else if (code != RASTERFORMAT888 && !(code == RASTERFORMAT8888 && AlphaPalette())) return 0;
            depth = 8;
        } else if (!code) {
            f |= BestAlphaCode();
            depth = D3D8_DepthOfCode(f);
        } else {
            if (!CodeOk(code)) return 0;
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
        if (code && code != DisplayCode()) {
            Error_Raise(D3D8_ERR_FORMAT);
            return 0;
        }
        f = (f & ~RASTERFORMATPIXELFORMATMASK) | DisplayCode();
        depth = d.displayDepth;
        break;
    case RASTERTYPECAMERATEXTURE:
        if (!code) {
            f |= d.displayDepth == 16 ? RASTERFORMAT565 : RenderTargetOk(RASTERFORMAT888) ? RASTERFORMAT888 : RASTERFORMAT565;
        } else if (!RenderTargetOk(code)) {
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
        if (d.device->CreateTexture((uint32_t)raster->width, (uint32_t)raster->height,
                                    (f & RASTERFORMATMIPMAP) ? 0 : 1, 0, format, D3DPOOL_MANAGED, &ext->texture) < 0) {
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
        if (!(raster->flags & RASTERDONTALLOCATE) && (raster->width > d.windowWidth || raster->height > d.windowHeight)) {
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

int32_t D3D8_RasterDestroy(void *, void *in, int32_t)
{
    Raster *raster = (Raster *)in;
    D3D8RasterExt *ext = D3D8_RasterExt(raster);
    D3D8DeviceState &d = Dev();
    if (sDriver.context == raster) sDriver.context = nullptr;
    if (raster->parent != raster) {
        if (raster->type == RASTERTYPECAMERA) Untrack(raster);
        return 1;
    }
    // Every stage that holds the texture lets it go, so that a new raster at
    // this address is never taken for one already bound.
    if ((raster->type == RASTERTYPENORMAL || raster->type == RASTERTYPETEXTURE || raster->type == RASTERTYPECAMERATEXTURE) &&
        ext->texture) {
        IDirect3DBaseTexture8 *stage0 = nullptr;
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

int32_t D3D8_TextureSetRaster(void *texture, void *raster, int32_t)
{
    ((Texture *)texture)->raster = (Raster *)raster;
    return 1;
}

int32_t D3D8_RasterSetContext(void *, void *raster, int32_t)
{
    sDriver.context = (Raster *)raster;
    return 1;
}

Raster *D3D8_GetCurrentContext(void) { return sDriver.context; }

int32_t D3D8_RasterSubRaster(void *out, void *in, int32_t)
{
    Raster *raster = (Raster *)out;
    const Raster *parent = (const Raster *)in;
    raster->stride = parent->stride;
    raster->depth = parent->depth;
    raster->type = parent->type;
    raster->format = parent->format;
    raster->pixels = nullptr;
    return 1;
}

int32_t D3D8_RasterLock(void *out, void *in, int32_t lockWord)
{
    Raster *raster = (Raster *)in;
    D3D8RasterExt *ext = D3D8_RasterExt(raster);
    Raster *top = raster->parent;
    D3D8RasterExt *topExt = D3D8_RasterExt(top);
    const uint32_t level = ((uint32_t)lockWord >> 8) & 0xff, mode = (uint32_t)lockWord & 0xff;
    const uint32_t type = raster->type;
    if (raster->pixels || (type != RASTERTYPENORMAL && type != RASTERTYPECAMERA && type != RASTERTYPETEXTURE &&
                           type != RASTERTYPECAMERATEXTURE)) {
        Error_Raise(D3D8_ERR_LOCKED);
        return 0;
    }
    const bool writes = mode & RASTERLOCKWRITE, reads = mode & RASTERLOCKREAD;
    const uint32_t flags = writes ? D3DLOCK_NOSYSLOCK : (D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_NO_DIRTY_UPDATE);
    const bool sub = raster != top;
    const D3DRECT8 rect = {raster->offsetX, raster->offsetY, raster->offsetX + raster->width, raster->offsetY + raster->height};
    IDirect3DDevice8 *device = Dev().device;
    if (type == RASTERTYPENORMAL || type == RASTERTYPETEXTURE) {
        // A record created without device pixels has nothing to lock.
        IDirect3DSurface8 *surface = nullptr;
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
        IDirect3DSurface8 *target = nullptr;
        D3DRESULT got;
        if (type == RASTERTYPECAMERA)
            got = topExt->swapChain ? topExt->swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &target)
                                    : device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &target);
        else
            got = topExt->texture ? topExt->texture->GetSurfaceLevel(level, &target) : D3DERR_INVALIDCALL;
        D3DSURFACE_DESC desc;
        IDirect3DSurface8 *image = nullptr;
        if (got < 0 || target->GetDesc(&desc) < 0 || device->CreateImageSurface(desc.Width, desc.Height, desc.Format, &image) < 0) {
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
    raster->pixels = (uint8_t *)ext->lockedRect.pBits;
    ext->lockedLevel = level;
    *(uint8_t **)out = raster->pixels;
    return 1;
}

int32_t D3D8_RasterUnlock(void *, void *in, int32_t)
{
    Raster *raster = (Raster *)in;
    D3D8RasterExt *ext = D3D8_RasterExt(raster);
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
    raster->privateFlags &= (uint8_t)~(RASTERPIXELLOCKEDREAD | RASTERPIXELLOCKEDWRITE);
    const uint32_t level = ext->lockedLevel;
    ext->lockedLevel = 0xff;
    if (written && level == 0 && (Raster_GetFormat(raster) & RASTERFORMATAUTOMIPMAP) &&
        (raster->type == RASTERTYPENORMAL || raster->type == RASTERTYPETEXTURE || raster->type == RASTERTYPECAMERATEXTURE))
        Texture_RasterGenerateMipLevels(raster->parent, nullptr);
    return 1;
}

// Types whose rasters are device textures (and so may have palettes and levels).
static bool TextureType(uint32_t type)
{
    return type == RASTERTYPENORMAL || type == RASTERTYPETEXTURE || type == RASTERTYPECAMERATEXTURE;
}

int32_t D3D8_RasterLockPalette(void *out, void *in, int32_t mode)
{
    Raster *raster = (Raster *)in;
    if (!TextureType(raster->type)) {
        Error_Raise(D3D8_ERR_LOCKED);
        return 0;
    }
    D3D8Palette *palette = D3D8_RasterExt(raster->parent)->palette;
    if (!palette) {
        Error_Raise(D3D8_ERR_FORMAT);
        return 0;
    }
    raster->palette = (uint8_t *)palette->entries;
    raster->privateFlags |= (mode & RASTERLOCKWRITE) ? (RASTERPALETTELOCKEDREAD | RASTERPALETTELOCKEDWRITE)
                                                     : RASTERPALETTELOCKEDREAD;
    *(uint8_t **)out = raster->palette;
    return 1;
}

int32_t D3D8_RasterUnlockPalette(void *, void *in, int32_t)
{
    Raster *raster = (Raster *)in;
    if (!TextureType(raster->type)) {
        Error_Raise(D3D8_ERR_NOT_LOCKED);
        return 0;
    }
    D3D8Palette *palette = D3D8_RasterExt(raster->parent)->palette;
    if ((raster->privateFlags & RASTERPALETTELOCKEDWRITE) && palette && Dev().device)
        Dev().device->SetPaletteEntries(palette->number, palette->entries);
    raster->palette = nullptr;
    raster->privateFlags &= (uint8_t)~(RASTERPALETTELOCKEDREAD | RASTERPALETTELOCKEDWRITE);
    return 1;
}

int32_t D3D8_RasterGetNumLevels(void *out, void *in, int32_t)
{
    const Raster *top = ((const Raster *)in)->parent;
    int32_t count = 1;
    if (TextureType(top->type)) {
        const D3D8RasterExt *ext = D3D8_RasterExt(top);
        if (ext->texture) {
            count = (int32_t)ext->texture->GetLevelCount();
        } else {
            const int32_t side = top->width > top->height ? top->width : top->height;
            count = 0;
            for (int32_t s = side; s > 0; s >>= 1) count++;
        }
    }
    *(int32_t *)out = count;
    return 1;
}

int32_t D3D8_TextureHasAlpha(const Texture *texture)
{
    return texture && texture->raster ? D3D8_RasterExt(texture->raster)->alpha : 0;
}
int32_t D3D8_RasterIsCubeMap(const Raster *raster) { return D3D8_RasterExt(raster)->cube; }
int32_t D3D8_RasterIsCompressed(const Raster *raster) { return D3D8_RasterExt(raster)->compressed != 0; }

void D3D8_ReleaseDeviceRasters(void)
{
    D3D8DeviceState &d = Dev();
    for (TrackedNode *node = sDriver.tracked; node; node = node->next) {
        Raster *raster = node->raster;
        D3D8RasterExt *ext = D3D8_RasterExt(raster);
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
    D3D8DeviceState &d = Dev();
    int32_t ok = 1;
    for (TrackedNode *node = sDriver.tracked; node; node = node->next) {
        Raster *raster = node->raster;
        D3D8RasterExt *ext = D3D8_RasterExt(raster);
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

// ---------------------------------------------------------------------------
// Clearing, drawing one raster into another, and showing.

namespace {

void CombinationError() { D3D8_RaiseMessage("SRC, DST Raster render combination not supported"); }

// The level-0 colour surface behind a raster (one reference, the caller's).
IDirect3DSurface8 *ColourSurface(const Raster *raster)
{
    const Raster *top = raster->parent;
    const D3D8RasterExt *ext = D3D8_RasterExt(top);
    IDirect3DSurface8 *surface = nullptr;
    if (top->type == RASTERTYPECAMERA) {
        if (ext->swapChain) ext->swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &surface);
        else if (Dev().device) Dev().device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &surface);
    } else if (TextureType(top->type) && ext->texture) {
        ext->texture->GetSurfaceLevel(0, &surface);
    }
    return surface;
}

int32_t Render(Raster *source, const RasterRect *area, bool scaled, bool blend)
{
    Raster *context = sDriver.context;
    if (!context || !source) {
        CombinationError();
        return 0;
    }
    if (context->type == RASTERTYPECAMERA || context->type == RASTERTYPECAMERATEXTURE) {
        if (source->type == RASTERTYPEZBUFFER || source->type == RASTERTYPECAMERA) {
            CombinationError();
            return 0;
        }
        return D3D8_RasterRenderQuad(source, area, scaled ? 1 : 0, blend ? 1 : 0);
    }
    const bool sourceOk = source->type == RASTERTYPENORMAL || source->type == RASTERTYPECAMERA ||
                          source->type == RASTERTYPETEXTURE || source->type == RASTERTYPECAMERATEXTURE;
    const bool unscaled = !scaled || (area->w == source->width && area->h == source->height);
    if (!TextureType(context->type) || context->type == RASTERTYPECAMERATEXTURE || !sourceOk || !unscaled ||
        source->format != context->format) {
        CombinationError();
        return 0;
    }
    IDirect3DSurface8 *from = ColourSurface(source), *to = ColourSurface(context);
    const D3DRECT8 rect = {source->offsetX, source->offsetY, source->offsetX + source->width, source->offsetY + source->height};
    const D3DPOINT8 point = {context->offsetX + area->x, context->offsetY + area->y};
    const bool copied = from && to && Dev().device->CopyRects(from, &rect, 1, to, &point) >= 0;
    if (from) from->Release();
    if (to) to->Release();
    if (!copied) CombinationError();
    return copied ? 1 : 0;
}

int32_t ClearArea(const RasterRect *area, uint32_t value)
{
    Raster *context = sDriver.context;
    if (!context) {
        Error_Raise(D3D8_ERR_FORMAT);
        return 0;
    }
    RasterRect r = area ? *area : RasterRect{0, 0, context->width, context->height};
    // Clip to the context raster.
    if (r.x < 0) r.w += r.x, r.x = 0;
    if (r.y < 0) r.h += r.y, r.y = 0;
    if (r.x + r.w > context->width) r.w = context->width - r.x;
    if (r.y + r.h > context->height) r.h = context->height - r.y;
    if (r.w <= 0 || r.h <= 0) return 1;
    const D3DRECT8 rect = {context->offsetX + r.x, context->offsetY + r.y, context->offsetX + r.x + r.w,
                           context->offsetY + r.y + r.h};
    IDirect3DDevice8 *device = Dev().device;
    switch (context->type) {
    case RASTERTYPECAMERA:
    case RASTERTYPECAMERATEXTURE: {
        uint8_t rgba[4];
        if (!D3D8_PixelToColour(rgba, value, Raster_GetFormat(context))) return 0;
        uint32_t colour = 0;
        D3D8_ColourToPixel(&colour, rgba, RASTERFORMAT8888);
        IDirect3DSurface8 *oldTarget = nullptr, *oldDepth = nullptr, *target = nullptr;
        if (context->type == RASTERTYPECAMERATEXTURE) {
            target = ColourSurface(context);
            device->GetRenderTarget(&oldTarget);
            device->GetDepthStencilSurface(&oldDepth);
            if (!target || device->SetRenderTarget(target, nullptr) < 0) {
                for (IDirect3DSurface8 *s : {target, oldTarget, oldDepth})
                    if (s) s->Release();
                Error_Raise(D3D8_ERR_LOCKED);
                return 0;
            }
        }
        const bool cleared = device->Clear(1, &rect, D3DCLEAR_TARGET, colour, 1.0f, 0) >= 0;
        if (target) {
            device->SetRenderTarget(oldTarget, oldDepth);
            for (IDirect3DSurface8 *s : {target, oldTarget, oldDepth})
                if (s) s->Release();
        }
        return cleared ? 1 : 0;
    }
    case RASTERTYPEZBUFFER: return device->Clear(1, &rect, D3DCLEAR_ZBUFFER, 0, 1.0f, 0) >= 0 ? 1 : 0;
    case RASTERTYPENORMAL:
    case RASTERTYPETEXTURE: {
        uint8_t *pixels = Raster_Lock(context, 0, RASTERLOCKWRITE);
        if (!pixels) return 0;
        const int32_t bytes = context->depth / 8;
        for (int32_t y = r.y; y < r.y + r.h; y++)
            for (int32_t x = r.x; x < r.x + r.w; x++)
                for (int32_t b = 0; b < bytes; b++) pixels[(size_t)y * context->stride + (size_t)x * bytes + b] = (uint8_t)(value >> (8 * b));
        Raster_Unlock(context);
        return 1;
    }
    default: Error_Raise(D3D8_ERR_FORMAT); return 0;
    }
}

}  // namespace

int32_t D3D8_RasterClearRect(void *, void *rect, int32_t value) { return ClearArea((const RasterRect *)rect, (uint32_t)value); }
int32_t D3D8_RasterClear(void *, void *, int32_t value) { return ClearArea(nullptr, (uint32_t)value); }

int32_t D3D8_RasterRender(void *raster, void *point, int32_t)
{
    const RasterPoint *p = (const RasterPoint *)point;
    const RasterRect area = {p->x, p->y, ((Raster *)raster)->width, ((Raster *)raster)->height};
    return Render((Raster *)raster, &area, false, true);
}

int32_t D3D8_RasterRenderScaled(void *raster, void *rect, int32_t)
{
    return Render((Raster *)raster, (const RasterRect *)rect, true, true);
}

int32_t D3D8_RasterRenderFast(void *raster, void *point, int32_t)
{
    const RasterPoint *p = (const RasterPoint *)point;
    const RasterRect area = {p->x, p->y, ((Raster *)raster)->width, ((Raster *)raster)->height};
    return Render((Raster *)raster, &area, false, false);
}

namespace {

// The device's vertical-retrace wait as its presentation parameters hold it.
bool WaitsForRetrace(const D3DPRESENT_PARAMETERS &params)
{
    return params.Windowed ? params.SwapEffect == D3DSWAPEFFECT_COPY_VSYNC
                           : params.FullScreen_PresentationInterval == D3DPRESENT_INTERVAL_ONE;
}

// The device reset of the device system: release what does not survive it,
// reset, and rebuild.
bool ResetDevice()
{
    IDirect3DDevice8 *device = Dev().device;
    D3D8_ReleaseDeviceResources();
    if (device->Reset(&D3D8_System()->presentParams) < 0) return false;
    D3D8_FetchDeviceSurfaces();
    return D3D8_RestoreDeviceResources() != 0;
}

}  // namespace

int32_t D3D8_RasterShow(void *raster, void *, int32_t flags)
{
    IDirect3DDevice8 *device = Dev().device;
    if (!device) return 0;
    D3D8DeviceSystem *sys = D3D8_System();
    if (sys->inScene) {
        device->EndScene();
        sys->inScene = 0;
    }
    const bool wait = flags & 1;
    D3DPRESENT_PARAMETERS &params = sys->presentParams;
    if (wait != WaitsForRetrace(params)) {
        if (params.Windowed) params.SwapEffect = wait ? D3DSWAPEFFECT_COPY_VSYNC : D3DSWAPEFFECT_COPY;
        else params.FullScreen_PresentationInterval = wait ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_IMMEDIATE;
        if (!ResetDevice()) return 0;
    }
    const D3D8RasterExt *ext = raster ? D3D8_RasterExt(((Raster *)raster)->parent) : nullptr;
    const D3DRESULT result = ext && ext->swapChain ? ext->swapChain->Present(nullptr, nullptr, nullptr, nullptr)
                                                   : device->Present(nullptr, nullptr, nullptr, nullptr);
    if (result < 0 && device->TestCooperativeLevel() == D3DERR_DEVICENOTRESET) ResetDevice();
    return result >= 0 ? 1 : 0;
}

// The textured quad: one raster drawn into a camera or camera-texture
// context through the 2D immediate mode.
int32_t D3D8_RasterRenderQuad(Raster *source, const RasterRect *area, int32_t scaled, int32_t blend)
{
    Raster *context = sDriver.context;
    IDirect3DDevice8 *device = Dev().device;
    if (!context || !device) {
        CombinationError();
        return 0;
    }
    // 1. A camera texture is drawn into directly when its surface is a
    // render target, else through the back buffer and copied back.
    IDirect3DSurface8 *surface = nullptr, *oldTarget = nullptr, *oldDepth = nullptr;
    bool viaBackBuffer = false;
    if (context->type == RASTERTYPECAMERATEXTURE) {
        surface = ColourSurface(context);
        device->GetRenderTarget(&oldTarget);
        device->GetDepthStencilSurface(&oldDepth);
        D3DSURFACE_DESC desc;
        if (surface && surface != oldTarget) {
            if (surface->GetDesc(&desc) >= 0 && (desc.Usage & D3DUSAGE_RENDERTARGET))
                device->SetRenderTarget(surface, nullptr);
            else
                viaBackBuffer = true;
        }
    }
    // 2. The viewport is the context's rectangle; a scene is open.
    const D3DVIEWPORT8 viewport = {(uint32_t)context->offsetX, (uint32_t)context->offsetY, (uint32_t)context->width,
                                   (uint32_t)context->height, 0.0f, 1.0f};
    device->SetViewport(&viewport);
    D3D8_BeginScene();
    // 3. Four screen vertices; texture coordinates cover the source's
    // rectangle of its top-level raster.
    const Raster *top = source->parent;
    const float x = (float)area->x, y = (float)area->y;
    const float w = (float)(scaled ? area->w : source->width), h = (float)(scaled ? area->h : source->height);
    const float u0 = (float)source->offsetX / (float)top->width, v0 = (float)source->offsetY / (float)top->height;
    const float u1 = (float)(source->offsetX + source->width) / (float)top->width;
    const float v1 = (float)(source->offsetY + source->height) / (float)top->height;
    struct Vertex {
        float x, y, z, rhw;
        uint32_t colour;
        float u, v;
    };
    Vertex quad[4] = {{x, y, 0, 1, 0xffffffffu, u0, v0},
                      {x, y + h, 0, 1, 0xffffffffu, u0, v1},
                      {x + w, y, 0, 1, 0xffffffffu, u1, v0},
                      {x + w, y + h, 0, 1, 0xffffffffu, u1, v1}};
    // 4. Save what the draw changes. The stage-0 colour operation and its
    // argument are kept too, so later draws are not left showing only the
    // texture.
    const int32_t saved[] = {RS_SRCBLEND, RS_DESTBLEND, RS_VERTEXALPHAENABLE, RS_FOGENABLE,
                             RS_TEXTUREFILTER, RS_TEXTUREADDRESSU, RS_TEXTUREADDRESSV};
    uint32_t values[7];
    for (int i = 0; i < 7; i++) D3D8_EngineRenderStateGet(saved[i], &values[i]);
    Raster *savedRaster = nullptr;
    D3D8_EngineRenderStateGet(RS_TEXTURERASTER, &savedRaster);
    uint32_t zEnable = 0, cull = 0, colourOp = 0, colourArg = 0;
    D3D8_GetRenderState(D3DRS_ZENABLE, &zEnable);
    D3D8_GetRenderState(D3DRS_CULLMODE, &cull);
    D3D8_GetTextureStageState(0, D3DTSS_COLOROP, &colourOp);
    D3D8_GetTextureStageState(0, D3DTSS_COLORARG1, &colourArg);
    D3D8_SetStageRaster(source->parent, 0);
    D3D8_SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    D3D8_SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    const bool blends = blend && D3D8_RasterExt(top)->alpha;
    D3D8_SetAlphaBlend(blends ? 1 : 0);
    if (blends) {
        D3D8_SetSrcBlend(5);
        D3D8_SetDestBlend(6);
    }
    D3D8_SetFogEnable(0);
    D3D8_SetTextureFilter(scaled ? 2 : 1);
    D3D8_SetTextureAddressU(3);
    D3D8_SetTextureAddressV(3);
    D3D8_SetRenderState(D3DRS_ZENABLE, 0);
    D3D8_SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    // 5. Draw the strip and put everything back.
    const int32_t drawn = D3D8_Im2DRenderPrimitive(4, quad, 4);
    for (int i = 0; i < 7; i++) D3D8_EngineRenderStateSet(saved[i], (void *)(uintptr_t)values[i]);
    D3D8_SetStageRaster(savedRaster, 0);
    D3D8_SetRenderState(D3DRS_ZENABLE, zEnable);
    D3D8_SetRenderState(D3DRS_CULLMODE, cull);
    D3D8_SetTextureStageState(0, D3DTSS_COLOROP, colourOp);
    D3D8_SetTextureStageState(0, D3DTSS_COLORARG1, colourArg);
    // 6. Finish a camera texture.
    if (surface) {
        if (viaBackBuffer) {
            IDirect3DSurface8 *back = nullptr;
            const D3DRECT8 rect = {context->offsetX, context->offsetY, context->offsetX + context->width,
                                   context->offsetY + context->height};
            if (device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back) >= 0) {
                device->CopyRects(back, &rect, 1, surface, nullptr);
                back->Release();
            }
        } else {
            device->SetRenderTarget(oldTarget, oldDepth);
        }
    }
    for (IDirect3DSurface8 *s : {surface, oldTarget, oldDepth})
        if (s) s->Release();
    return drawn ? 1 : 0;
}

void D3D8_FillRasterStandardFunctions(StandardFunction *table)
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
