#include "gfx/driver/d3d8/d3d8pixel.h"

#include "gfx/core/raster.h"

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
        rgba[0] = (uint8_t)((v >> 7) & 0xf8);
        rgba[1] = (uint8_t)((v >> 2) & 0xf8);
        rgba[2] = (uint8_t)(v << 3);
        rgba[3] = (v & 0x8000) ? 255 : 0;
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
    case RASTERFORMAT555:
        rgba[0] = (uint8_t)((v >> 7) & 0xf8);
        rgba[1] = (uint8_t)((v >> 2) & 0xf8);
        rgba[2] = (uint8_t)(v << 3);
        rgba[3] = 255;
        return 1;
    default: return 0;
    }
}
