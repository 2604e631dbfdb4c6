// Packed colours: one 32-bit word a << 24 | r << 16 | g << 8 | b, as the
// sprites, the logo screen and the scene code hand them around. Float
// channels run 0..1 and are clamped, then scaled by 255 and truncated.
#pragma once

#include <cstdint>

uint32_t Colour_Pack(uint8_t a, uint8_t r, uint8_t g, uint8_t b);
// Opaque (alpha 255).
uint32_t Colour_FromBytes(uint8_t r, uint8_t g, uint8_t b);
uint32_t Colour_FromFloats(float a, float r, float g, float b);
// Opaque (alpha 1.0).
uint32_t Colour_FromRGBFloats(float r, float g, float b);
// From an array r, g, b, a.
uint32_t Colour_FromVector(const float* rgba);
// Every channel (alpha too) multiplied by f, clamped to 0..255.
uint32_t Colour_Scale(uint32_t colour, float f);
uint8_t Colour_GetA(uint32_t colour);
uint8_t Colour_GetR(uint32_t colour);
uint8_t Colour_GetG(uint32_t colour);
uint8_t Colour_GetB(uint32_t colour);
