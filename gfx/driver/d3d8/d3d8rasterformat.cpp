// Direct3D 8 raster formats: the table between the engine's pixel codes and
// the device's formats, and the resolution of a requested raster format on
// the present device. A request the device cannot hold falls back along
// fixed chains (8888 to 4444 to 1555, 888 to 565, palettes to direct
// colour), chosen by asking the device, never by assuming its formats; the
// texture size is clamped to what its caps allow.
#include "gfx/driver/d3d8/d3d8rasterformat.h"

#include "gfx/core/error.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/driver/d3d8/d3d8rasterseam.h"

namespace {

struct FormatEntry {
    uint32_t d3dFormat;
    int32_t depth;
    int32_t alpha;
};

// Indexed by the pixel code >> 8.
const FormatEntry kFormats[11] = {
    {D3DFMT_UNKNOWN, 0, 0}, {D3DFMT_A1R5G5B5, 16, 1}, {D3DFMT_R5G6B5, 16, 0},   {D3DFMT_A4R4G4B4, 16, 1},
    {D3DFMT_L8, 8, 0},      {D3DFMT_A8R8G8B8, 32, 1}, {D3DFMT_X8R8G8B8, 32, 0}, {D3DFMT_UNKNOWN, 0, 0},
    {D3DFMT_UNKNOWN, 0, 0}, {D3DFMT_UNKNOWN, 0, 0},   {D3DFMT_X1R5G5B5, 16, 0},
};

D3D8DeviceState& Dev() { return *D3D8_DeviceState(); }

uint32_t Code(uint32_t word) { return word & RASTERFORMATPIXELFORMATMASK; }

bool TextureFormatOk(uint32_t format)
{
    const D3D8DeviceState& d = Dev();
    return d.d3d && format != D3DFMT_UNKNOWN &&
           d.d3d->CheckDeviceFormat(d.adapter, d.deviceType, d.displayFormat, 0, D3DRTYPE_TEXTURE, format) >= 0;
}

}  // namespace

int32_t D3D8_TextureCodeOk(uint32_t code) { return TextureFormatOk(D3D8_FormatOfCode(code)); }

int32_t D3D8_RenderTargetCodeOk(uint32_t code)
{
    const D3D8DeviceState& d = Dev();
    const uint32_t format = D3D8_FormatOfCode(code);
    return d.d3d && format != D3DFMT_UNKNOWN &&
           d.d3d->CheckDeviceFormat(d.adapter, d.deviceType, d.displayFormat, D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE,
                                    format) >= 0 &&
           d.d3d->CheckDepthStencilMatch(d.adapter, d.deviceType, d.displayFormat, format, d.depthFormat) >= 0;
}

int32_t D3D8_AlphaPalettesOk(void) { return (Dev().caps.TextureCaps & D3DPTEXTURECAPS_ALPHAPALETTE) != 0; }
int32_t D3D8_PaletteTexturesOk(void) { return TextureFormatOk(D3DFMT_P8); }

uint32_t D3D8_DisplayCode(void)
{
    uint32_t word = 0;
    const uint32_t format = Dev().displayFormat;
    for (uint32_t i = 1; i < 11; i++)
        if (kFormats[i].d3dFormat == format) word = i << 8;
    return word;
}

uint32_t D3D8_BestAlphaCode(void)
{
    if (Dev().displayDepth > 16 && D3D8_TextureCodeOk(RASTERFORMAT8888)) return RASTERFORMAT8888;
    return D3D8_TextureCodeOk(RASTERFORMAT4444) ? RASTERFORMAT4444 : RASTERFORMAT1555;
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

int32_t D3D8_CodeOfFormat(uint32_t d3dFormat, uint32_t* word)
{
    for (uint32_t i = 1; i < 11; i++)
        if (kFormats[i].d3dFormat == d3dFormat && d3dFormat != D3DFMT_UNKNOWN) {
            *word = i << 8;
            return 1;
        }
    Error_Raise(D3D8_ERR_FORMAT);
    return 0;
}

void D3D8_ClampRasterSize(int32_t* width, int32_t* height, uint32_t word)
{
    const D3DCAPS8& caps = Dev().caps;
    if (caps.MaxTextureWidth && *width > (int32_t)caps.MaxTextureWidth) *width = (int32_t)caps.MaxTextureWidth;
    if (caps.MaxTextureHeight && *height > (int32_t)caps.MaxTextureHeight) *height = (int32_t)caps.MaxTextureHeight;
    if (caps.TextureCaps & D3DPTEXTURECAPS_POW2) {
        // Normal rasters and rasters without mip levels may keep other sizes
        // on a device with the conditional cap.
        const bool exempt = (caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) &&
                            ((word & RASTERTYPEMASK) == RASTERTYPENORMAL || !(word & RASTERFORMATMIPMAP));
        if (!exempt) {
            for (int32_t* side : {width, height}) {
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

uint32_t D3D8_ImageChooseFormat(const Image* image)
{
    const int32_t depth = Dev().displayDepth;
    if (image->depth == 32) {
        bool middle = false, low = false;
        for (int32_t y = 0; y < image->height && !middle; y++) {
            const uint8_t* p = image->pixels + (size_t)y * image->stride;
            for (int32_t x = 0; x < image->width; x++) {
                const uint8_t a = p[4 * x + 3];
                if (a >= 16 && a <= 254) middle = true;
                else if (a < 16) low = true;
            }
        }
        if (middle) return D3D8_BestAlphaCode();
        if (low)
            return depth <= 16                            ? RASTERFORMAT1555
                   : D3D8_TextureCodeOk(RASTERFORMAT8888) ? RASTERFORMAT8888
                                                          : RASTERFORMAT1555;
        return depth <= 16 ? RASTERFORMAT565 : D3D8_TextureCodeOk(RASTERFORMAT888) ? RASTERFORMAT888 : RASTERFORMAT565;
    }
    if (image->depth == 4 || image->depth == 8) {
        const uint32_t palettised = image->depth == 4 ? RASTERFORMATPAL4 : RASTERFORMATPAL8;
        // Only entries that some pixel uses count. A 4-bit image's pixel is
        // the low four bits of its byte, as everywhere images are converted.
        const uint8_t indexMask = image->depth == 4 ? 15 : 255;
        bool translucent = false;
        if (image->palette && image->pixels)
            for (int32_t y = 0; y < image->height && !translucent; y++) {
                const uint8_t* p = image->pixels + (size_t)y * image->stride;
                for (int32_t x = 0; x < image->width; x++)
                    if (image->palette[4 * (p[x] & indexMask) + 3] != 255) translucent = true;
            }
        return palettised | (translucent ? RASTERFORMAT8888 : RASTERFORMAT888);
    }
    return 0;
}

int32_t D3D8_ResolveRasterFormat(uint32_t type, uint32_t word, uint32_t* resolved)
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
                if (D3D8_PaletteTexturesOk()) {
                    *resolved = f | (D3D8_AlphaPalettesOk() ? RASTERFORMAT8888 : RASTERFORMAT888);
                    return 1;
                }
                f &= ~RASTERFORMATPAL8;
            }
            *resolved = f | (D3D8_TextureCodeOk(RASTERFORMAT8888)   ? RASTERFORMAT8888
                             : D3D8_TextureCodeOk(RASTERFORMAT4444) ? RASTERFORMAT4444
                                                                    : RASTERFORMAT1555);
            return 1;
        }
        if (f & RASTERFORMATPAL8) {
            if (D3D8_PaletteTexturesOk() && (code != RASTERFORMAT8888 || D3D8_AlphaPalettesOk())) {
                *resolved = f;
                return 1;
            }
            f &= ~(RASTERFORMATPAL8 | RASTERFORMATPIXELFORMATMASK);
            if (code == RASTERFORMAT888)
                f |= deep && D3D8_TextureCodeOk(RASTERFORMAT888) ? RASTERFORMAT888 : RASTERFORMAT565;
            else f |= D3D8_BestAlphaCode();
            *resolved = f;
            return 1;
        }
        f &= ~RASTERFORMATPIXELFORMATMASK;
        switch (code) {
        case RASTERFORMAT8888:
            f |= D3D8_TextureCodeOk(RASTERFORMAT8888)   ? RASTERFORMAT8888
                 : D3D8_TextureCodeOk(RASTERFORMAT4444) ? RASTERFORMAT4444
                                                        : RASTERFORMAT1555;
            break;
        case RASTERFORMAT888: f |= D3D8_TextureCodeOk(RASTERFORMAT888) ? RASTERFORMAT888 : RASTERFORMAT565; break;
        case RASTERFORMAT4444: f |= D3D8_TextureCodeOk(RASTERFORMAT4444) ? RASTERFORMAT4444 : RASTERFORMAT1555; break;
        case RASTERFORMATLUM8:
            f |= D3D8_TextureCodeOk(RASTERFORMATLUM8)  ? RASTERFORMATLUM8
                 : D3D8_TextureCodeOk(RASTERFORMAT888) ? RASTERFORMAT888
                                                       : RASTERFORMAT565;
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
        *resolved = f | D3D8_DisplayCode();
        return 1;
    case RASTERTYPECAMERATEXTURE: {
        f &= ~RASTERFORMATPIXELFORMATMASK;
        uint32_t c = code;
        if (!c) {
            c = Dev().zBufferDepth == 16                   ? RASTERFORMAT565
                : D3D8_RenderTargetCodeOk(RASTERFORMAT888) ? RASTERFORMAT888
                                                           : RASTERFORMAT565;
        } else if (Dev().zBufferDepth == 16) {
            if (D3D8_DepthOfCode(c) == 32) c = c == RASTERFORMAT8888 ? RASTERFORMAT4444 : RASTERFORMAT565;
            if (c == RASTERFORMAT4444 && !D3D8_RenderTargetCodeOk(c)) c = RASTERFORMAT1555;
            if (c == RASTERFORMAT1555 && !D3D8_RenderTargetCodeOk(c)) c = RASTERFORMAT565;
        } else {
            if (D3D8_DepthOfCode(c) != 32)
                c = (c == RASTERFORMAT4444 || c == RASTERFORMAT1555) ? RASTERFORMAT8888 : RASTERFORMAT888;
            if (c == RASTERFORMAT8888 && !D3D8_RenderTargetCodeOk(c)) c = RASTERFORMAT888;
        }
        *resolved = f | c;
        return 1;
    }
    default: break;
    }
    Error_Raise(D3D8_ERR_FORMAT);
    return 0;
}

int32_t D3D8_ImageFindRasterFormat(void* out, void* in, int32_t creationWord)
{
    Raster* raster = (Raster*)out;
    const Image* image = (const Image*)in;
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
