#include "app/colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(ColourTest, PackingClampingAndScaling)
{
    // Floats are clamped to 0..1, scaled by 255 and truncated; a scale
    // takes every channel, alpha too, and clamps at 255.
    const float rgba[4] = {0.0f, 1.0f, 0.0f, 0.5f};
    EXPECT_EQ(std::vector<uint32_t>({Colour_Pack(255, 0, 0, 0), Colour_Pack(0x12, 0x34, 0x56, 0x78),
                                     Colour_FromBytes(1, 2, 3), Colour_FromFloats(2.0f, -1.0f, 0.5f, 1.0f),
                                     Colour_FromFloats(NAN, 0.0f, 0.0f, 0.0f), Colour_FromRGBFloats(1.0f, 0.0f, 0.0f),
                                     Colour_FromVector(rgba), Colour_Scale(0x80402010u, 1.0f),
                                     Colour_Scale(0x80402010u, 0.5f), Colour_Scale(0x80FF2010u, 2.0f)}),
              std::vector<uint32_t>({0xFF000000u, 0x12345678u, 0xFF010203u, 0xFF007FFFu, 0u, 0xFFFF0000u, 0x7F00FF00u,
                                     0x80402010u, 0x40201008u, 0xFFFF4020u}));
    const uint32_t c = 0x12345678u;
    EXPECT_EQ(std::vector<int>({Colour_GetA(c), Colour_GetR(c), Colour_GetG(c), Colour_GetB(c)}),
              std::vector<int>({0x12, 0x34, 0x56, 0x78}));
}

}  // namespace
