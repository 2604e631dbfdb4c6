#include "gfx/driver/d3d8/d3d8pixel.h"

#include <cstring>

#include "common/bytes.h"
#include "gfx/core/error.h"
#include "gfx/core/image.h"
#include "gfx/core/imageresample.h"
#include "gfx/core/palquant.h"
#include "gfx/core/raster.h"
#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/driver/d3d8/d3d8rasterformat.h"

// Packing and unpacking use plain masks and shifts: unpacked channels are not
// widened by replicating their top bits (565 white unpacks to 248, 252, 248),
// so pack(unpack(v)) gives v back for every 16-bit value.

static uint32_t Pack1555(const uint8_t *c)
{
    return ((uint32_t)(c[3] & 0x80) << 8) | ((uint32_t)(c[0] & 0xf8) << 7) | ((uint32_t)(c[1] & 0xf8) << 2) |
           (uint32_t)(c[2] >> 3);
}

static uint32_t Pack565(const uint8_t *c)
{
    return ((uint32_t)(c[0] & 0xf8) << 8) | ((uint32_t)(c[1] & 0xfc) << 3) | (uint32_t)(c[2] >> 3);
}

static uint32_t Pack4444(const uint8_t *c)
{
    return ((uint32_t)(c[3] & 0xf0) << 8) | ((uint32_t)(c[0] & 0xf0) << 4) | (uint32_t)(c[1] & 0xf0) |
           (uint32_t)(c[2] >> 4);
}

static uint32_t PackLum8(const uint8_t *c)
{
    // Integer divisions in this order: the grey first, then the alpha scale.
    uint32_t grey = ((uint32_t)c[1] * 59 + (uint32_t)c[2] * 11 + (uint32_t)c[0] * 30) / 100;
    return grey * c[3] / 255;
}

static uint32_t Pack8888(const uint8_t *c)
{
    return ((uint32_t)c[3] << 24) | ((uint32_t)c[0] << 16) | ((uint32_t)c[1] << 8) | c[2];
}

static uint32_t Pack888(const uint8_t *c)
{
    return 0xff000000u | ((uint32_t)c[0] << 16) | ((uint32_t)c[1] << 8) | c[2];
}

static uint32_t Pack555(const uint8_t *c)
{
    return ((uint32_t)(c[0] & 0xf8) << 7) | ((uint32_t)(c[1] & 0xf8) << 2) | (uint32_t)(c[2] >> 3);
}

D3D8PackFunc D3D8_PackFunctionFor(uint32_t formatWord)
{
    switch (formatWord & RASTERFORMATPIXELFORMATMASK) {
    case RASTERFORMATDEFAULT:
    case RASTERFORMAT8888: return Pack8888;
    case RASTERFORMAT1555: return Pack1555;
    case RASTERFORMAT565: return Pack565;
    case RASTERFORMAT4444: return Pack4444;
    case RASTERFORMATLUM8: return PackLum8;
    case RASTERFORMAT888: return Pack888;
    case RASTERFORMAT555: return Pack555;
    default: return nullptr;
    }
}

int D3D8_UnpackPixel(uint8_t rgba[4], uint32_t v, uint32_t formatWord)
{
    if (formatWord & RASTERFORMATPAL8) {
        rgba[0] = (uint8_t)v;
        rgba[1] = (uint8_t)(v >> 8);
        rgba[2] = (uint8_t)(v >> 16);
        rgba[3] = (uint8_t)(v >> 24);
        return 1;
    }
    switch (formatWord & RASTERFORMATPIXELFORMATMASK) {
    case RASTERFORMAT1555:
    case RASTERFORMAT555:
        rgba[0] = (uint8_t)((v >> 7) & 0xf8);
        rgba[1] = (uint8_t)((v >> 2) & 0xf8);
        rgba[2] = (uint8_t)(v << 3);
        rgba[3] = ((formatWord & RASTERFORMATPIXELFORMATMASK) == RASTERFORMAT555 || (v & 0x8000)) ? 255 : 0;
        return 1;
    case RASTERFORMAT565:
        rgba[0] = (uint8_t)((v >> 8) & 0xf8);
        rgba[1] = (uint8_t)((v >> 3) & 0xfc);
        rgba[2] = (uint8_t)(v << 3);
        rgba[3] = 255;
        return 1;
    case RASTERFORMAT4444:
        rgba[0] = (uint8_t)((v >> 4) & 0xf0);
        rgba[1] = (uint8_t)(v & 0xf0);
        rgba[2] = (uint8_t)(v << 4);
        rgba[3] = ((v & 0xf000) == 0xf000) ? 255 : (uint8_t)((v >> 8) & 0xf0);
        return 1;
    case RASTERFORMATLUM8:
        rgba[0] = rgba[1] = rgba[2] = (uint8_t)v;
        rgba[3] = 255;
        return 1;
    case RASTERFORMATDEFAULT:
    case RASTERFORMAT8888:
        rgba[0] = (uint8_t)(v >> 16);
        rgba[1] = (uint8_t)(v >> 8);
        rgba[2] = (uint8_t)v;
        rgba[3] = (uint8_t)(v >> 24);
        return 1;
    case RASTERFORMAT888:
        rgba[0] = (uint8_t)(v >> 16);
        rgba[1] = (uint8_t)(v >> 8);
        rgba[2] = (uint8_t)v;
        rgba[3] = 255;
        return 1;
    default: return 0;
    }
}

int D3D8_PackPixel(uint32_t* pixel, const uint8_t* rgba, uint32_t formatWord)
{
    const D3D8PackFunc pack = D3D8_PackFunctionFor(formatWord);
    if (!pack) return 0;
    *pixel = pack(rgba);
    return 1;
}

int D3D8_ColourToPixel(uint32_t* pixel, const uint8_t* rgba, uint32_t formatWord)
{
    if (!D3D8_PackPixel(pixel, rgba, formatWord)) {
        Error_Raise(D3D8_ERR_FORMAT);
        return 0;
    }
    return 1;
}

int D3D8_PixelToColour(uint8_t *rgba, uint32_t pixel, uint32_t formatWord)
{
    if (!D3D8_UnpackPixel(rgba, pixel, formatWord)) {
        Error_Raise(D3D8_ERR_FORMAT);
        return 0;
    }
    return 1;
}

int32_t D3D8_ColourToPixelStd(void *pixel, void *rgba, int32_t formatWord)
{
    return D3D8_ColourToPixel((uint32_t *)pixel, (const uint8_t *)rgba, (uint32_t)formatWord);
}
int32_t D3D8_PixelToColourStd(void *rgba, void *pixel, int32_t formatWord)
{
    return D3D8_PixelToColour((uint8_t *)rgba, *(const uint32_t *)pixel, (uint32_t)formatWord);
}
int32_t D3D8_ImageFromRasterStd(void *image, void *raster, int32_t)
{
    return D3D8_ImageFromRaster((Image *)image, (Raster *)raster);
}
int32_t D3D8_RasterFromImageStd(void *raster, void *image, int32_t)
{
    return D3D8_RasterFromImage((Raster *)raster, (Image *)image);
}

namespace {

// Locks level 0 (and the palette of a palettised raster) unless the caller
// already holds such locks; Release undoes only what Acquire did.
struct TransferLocks {
    bool pixels = false;
    bool palette = false;
    bool Acquire(Raster *raster, uint32_t pixelBit, uint32_t paletteBit, uint32_t mode)
    {
        if (!(raster->privateFlags & pixelBit)) {
            if (!Raster_Lock(raster, 0, mode)) return false;
            pixels = true;
        }
        if ((Raster_GetFormat(raster) & RASTERFORMATPAL8) && !(raster->privateFlags & paletteBit)) {
            if (!Raster_LockPalette(raster, mode & (RASTERLOCKREAD | RASTERLOCKWRITE))) {
                Release(raster);
                return false;
            }
            palette = true;
        }
        return true;
    }
    void Release(Raster *raster)
    {
        if (palette) Raster_UnlockPalette(raster);
        if (pixels) Raster_Unlock(raster);
        palette = pixels = false;
    }
};

// Sets the alpha byte of the raster (and of its top-level raster when the
// format has alpha and the raster is a sub-raster).
void SetAlpha(Raster *raster, uint8_t alpha)
{
    D3D8_RasterExt(raster)->alpha = alpha;
    if (alpha && raster->parent != raster) D3D8_RasterExt(raster->parent)->alpha = alpha;
}

bool Is16BitCode(uint32_t code)
{
    return code == RASTERFORMAT4444 || code == RASTERFORMAT1555 || code == RASTERFORMAT565 || code == RASTERFORMAT555;
}

}  // namespace

int D3D8_ImageFromRaster(Image *image, Raster *raster)
{
    if (D3D8_RasterIsCompressed(raster->parent)) {
        D3D8_RaiseMessage("Conversion from compressed rasters is not supported.");
        return 0;
    }
    if (image->depth != 32 && image->depth != 8) {
        D3D8_RaiseMessage("Conversion from rasters to 4bit images is not supported");
        return 0;
    }
    if (image->depth == 8 && raster->depth != 8) {
        if (raster->depth == 16 || raster->depth == 24 || raster->depth == 32)
            D3D8_RaiseMessage("Conversion from non palettised rasters to 8bit images is not supported");
        else
            Error_Raise(D3D8_ERR_DEPTH);
        return 0;
    }
    if (image->depth == 32 && raster->depth != 4 && raster->depth != 8 && raster->depth != 16 && raster->depth != 24 &&
        raster->depth != 32) {
        Error_Raise(D3D8_ERR_DEPTH);
        return 0;
    }
    TransferLocks locks;
    if (!locks.Acquire(raster, RASTERPIXELLOCKEDREAD, RASTERPALETTELOCKEDREAD, RASTERLOCKREAD)) return 0;
    const uint32_t format = Raster_GetFormat(raster);
    const uint32_t code = format & RASTERFORMATPIXELFORMATMASK;
    const int32_t width = image->width < raster->width ? image->width : raster->width;
    const int32_t height = image->height < raster->height ? image->height : raster->height;
    const uint8_t *palette = raster->palette;
    for (int32_t y = 0; y < height; y++) {
        const uint8_t *in = raster->pixels + (size_t)y * raster->stride;
        uint8_t *out = image->pixels + (size_t)y * image->stride;
        if (image->depth == 8) {
            memcpy(out, in, (size_t)width);
            continue;
        }
        for (int32_t x = 0; x < width; x++) {
            uint8_t *o = out + 4 * x;
            if (raster->depth <= 8) {
                if (palette) memcpy(o, palette + 4 * in[x], 4);
                else o[0] = o[1] = o[2] = in[x], o[3] = 255;
            } else if (raster->depth == 16) {
                if (Is16BitCode(code)) D3D8_UnpackPixel(o, Bytes_LoadU16(in + 2 * x), code);
            } else if (code == RASTERFORMAT888 || code == RASTERFORMAT8888) {
                D3D8_UnpackPixel(o, Bytes_LoadU32(in + 4 * x), code);
            }
        }
    }
    if (image->depth == 8 && image->palette) {
        if (palette) memcpy(image->palette, palette, 1024);
        else
            for (int i = 0; i < 256; i++) {
                uint8_t *e = image->palette + 4 * i;
                e[0] = e[1] = e[2] = (uint8_t)i;
                e[3] = 255;
            }
    }
    locks.Release(raster);
    return 1;
}

int D3D8_RasterFromImage(Raster *raster, Image *image)
{
    const uint32_t format = Raster_GetFormat(raster);
    const uint32_t code = format & RASTERFORMATPIXELFORMATMASK;
    const bool palettised = format & RASTERFORMATPAL8;
    const int32_t depth = raster->depth;
    // Refuse what has no transfer before anything changes.
    if (depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32) {
        Error_Raise(D3D8_ERR_DEPTH);
        return 0;
    }
    if ((depth == 16 && !Is16BitCode(code)) || (depth > 16 && code != RASTERFORMAT888 && code != RASTERFORMAT8888) ||
        (depth <= 8 && !palettised && code != RASTERFORMATLUM8)) {
        Error_Raise(D3D8_ERR_FORMAT);
        return 0;
    }
    // The image side: pixels, and a palette for the indexed depths.
    if (image->depth != 4 && image->depth != 8 && image->depth != 32) {
        Error_Raise(D3D8_ERR_DEPTH);
        return 0;
    }
    if (!image->pixels || (image->depth != 32 && !image->palette)) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return 0;
    }
    Image *source = image;
    if (image->width != raster->width || image->height != raster->height) {
        source = Image_CreateResampled(image, raster->width, raster->height);
        if (!source) return 0;
    }
    TransferLocks locks;
    if (!locks.Acquire(raster, RASTERPIXELLOCKEDWRITE, RASTERPALETTELOCKEDWRITE, RASTERLOCKWRITE | RASTERLOCKNOFETCH)) {
        if (source != image) Image_Destroy(source);
        return 0;
    }
    SetAlpha(raster, (uint8_t)D3D8_AlphaOfCode(format));
    Image *indexed = nullptr;
    bool ok = true;
    if (depth <= 8 && palettised && source->depth == 32) {
        // Quantise to the raster's palette size.
        PaletteQuantiser quantiser;
        indexed = PaletteQuantiser_Create(&quantiser) ? Image_Create(source->width, source->height, depth == 4 ? 4 : 8) : nullptr;
        if (indexed && Image_AllocatePixels(indexed) && PaletteQuantiser_AddImage(&quantiser, source, 1.0f)) {
            PaletteQuantiser_MakePalette(indexed->palette, 1 << indexed->depth, &quantiser);
            PaletteQuantiser_MapImage(indexed->pixels, indexed->stride, indexed->depth, 0, &quantiser, source);
            if (D3D8_RasterExt(raster)->alpha && (D3D8_ImageChooseFormat(indexed) & RASTERFORMATPIXELFORMATMASK) == RASTERFORMAT888) {
                raster->format = (uint8_t)(((format & ~RASTERFORMATPIXELFORMATMASK) | RASTERFORMAT888) >> 8);
                D3D8_RasterExt(raster)->alpha = 0;
            }
        } else {
            Error_Raise(ERR_OUT_OF_MEMORY);
            ok = false;
        }
        if (quantiser.root) PaletteQuantiser_Destroy(&quantiser);
    }
    const Image *from = indexed ? indexed : source;
    const bool fromPalette = from->depth != 32;
    const uint8_t indexMask = from->depth == 4 ? 15 : 255;  // a 4-bit index is the byte's low four bits
    const D3D8PackFunc pack = D3D8_PackFunctionFor(code);
    uint32_t table[256];
    if (ok && fromPalette && from->palette && depth > 8)
        for (int i = 0; i < (1 << from->depth); i++) table[i] = pack(from->palette + 4 * i);
    for (int32_t y = 0; ok && y < raster->height && y < from->height; y++) {
        const uint8_t *in = from->pixels + (size_t)y * from->stride;
        uint8_t *out = raster->pixels + (size_t)y * raster->stride;
        const int32_t width = raster->width < from->width ? raster->width : from->width;
        if (depth <= 8) {
            if (!palettised) {
                for (int32_t x = 0; x < width; x++)
                    out[x] = (uint8_t)PackLum8(fromPalette ? from->palette + 4 * (in[x] & indexMask) : in + 4 * x);
            } else {
                memcpy(out, in, (size_t)width);
            }
        } else {
            for (int32_t x = 0; x < width; x++) {
                const uint32_t v = fromPalette ? table[in[x] & indexMask] : pack(in + 4 * x);
                if (depth == 16) Bytes_StoreU16(out + 2 * x, v);
                else Bytes_StoreU32(out + 4 * x, v);
            }
        }
    }
    if (ok && depth <= 8 && palettised && fromPalette && D3D8_RasterExt(raster)->lockedLevel == 0 && raster->palette)
        memcpy(raster->palette, from->palette, 4u << from->depth);
    if (ok && depth > 16) SetAlpha(raster, code == RASTERFORMAT8888 ? 1 : 0);
    locks.Release(raster);
    if (indexed) Image_Destroy(indexed);
    if (source != image) Image_Destroy(source);
    return ok ? 1 : 0;
}
