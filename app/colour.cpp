#include "app/colour.h"

namespace {

// 0..1 to a byte, truncated; NaN counts as 0.
uint8_t Channel(float v)
{
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return (uint8_t)(v * 255.0f);
}

}  // namespace

uint32_t Colour_Pack(uint8_t a, uint8_t r, uint8_t g, uint8_t b)
{
    return (uint32_t)a << 24 | (uint32_t)r << 16 | (uint32_t)g << 8 | b;
}

uint32_t Colour_FromBytes(uint8_t r, uint8_t g, uint8_t b) { return Colour_Pack(255, r, g, b); }

uint32_t Colour_FromFloats(float a, float r, float g, float b)
{
    return Colour_Pack(Channel(a), Channel(r), Channel(g), Channel(b));
}

uint32_t Colour_FromRGBFloats(float r, float g, float b) { return Colour_FromFloats(1.0f, r, g, b); }

uint32_t Colour_FromVector(const float* rgba)
{
    return rgba ? Colour_FromFloats(rgba[3], rgba[0], rgba[1], rgba[2]) : 0;
}

uint32_t Colour_Scale(uint32_t colour, float f)
{
    // byte / 255 x f, back to a byte: the same as byte x f, without the
    // round trip through 1/255 that would turn 127 x 1.0 into 126.
    auto scale = [f](uint8_t byte) -> uint8_t {
        float v = byte * f;
        if (!(v > 0.0f)) return 0;
        return v >= 255.0f ? 255 : (uint8_t)v;
    };
    return Colour_Pack(scale(Colour_GetA(colour)), scale(Colour_GetR(colour)), scale(Colour_GetG(colour)),
                       scale(Colour_GetB(colour)));
}

uint8_t Colour_GetA(uint32_t colour) { return (uint8_t)(colour >> 24); }
uint8_t Colour_GetR(uint32_t colour) { return (uint8_t)(colour >> 16); }
uint8_t Colour_GetG(uint32_t colour) { return (uint8_t)(colour >> 8); }
uint8_t Colour_GetB(uint32_t colour) { return (uint8_t)colour; }
