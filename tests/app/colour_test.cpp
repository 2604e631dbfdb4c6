#include "app/colour.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(ColourTest, PackingClampingAndScaling)
{
    EXPECT_EQ(Colour_Pack(255, 0, 0, 0), 0xFF000000u);
    EXPECT_EQ(Colour_Pack(0x12, 0x34, 0x56, 0x78), 0x12345678u);
    EXPECT_EQ(Colour_FromBytes(1, 2, 3), 0xFF010203u);
    // Each float clamped to 0..1, scaled by 255 and truncated.
    EXPECT_EQ(Colour_FromFloats(2.0f, -1.0f, 0.5f, 1.0f), 0xFF007FFFu);
    EXPECT_EQ(Colour_FromFloats(NAN, 0.0f, 0.0f, 0.0f), 0u);
    EXPECT_EQ(Colour_FromRGBFloats(1.0f, 0.0f, 0.0f), 0xFFFF0000u);
    const float rgba[4] = {0.0f, 1.0f, 0.0f, 0.5f};
    EXPECT_EQ(Colour_FromVector(rgba), 0x7F00FF00u);
    EXPECT_EQ(Colour_Scale(0x80402010u, 1.0f), 0x80402010u);  // every channel, alpha too
    EXPECT_EQ(Colour_Scale(0x80402010u, 0.5f), 0x40201008u);
    EXPECT_EQ(Colour_Scale(0x80FF2010u, 2.0f), 0xFFFF4020u);  // clamped at 255
    EXPECT_EQ(Colour_GetA(0x12345678u), 0x12);
    EXPECT_EQ(Colour_GetR(0x12345678u), 0x34);
    EXPECT_EQ(Colour_GetG(0x12345678u), 0x56);
    EXPECT_EQ(Colour_GetB(0x12345678u), 0x78);
}

}  // namespace
