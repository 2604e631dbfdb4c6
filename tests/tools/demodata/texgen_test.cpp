#include "tools/demodata/texgen.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

namespace {

uint32_t At(const ToolImage& image, int x, int y)
{
    const uint8_t* p = image.At(x, y);
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

int Distance(uint32_t a, uint32_t b)
{
    int d = 0;
    for (int shift = 0; shift < 32; shift += 8)
        d = std::max(d, std::abs((int)(a >> shift & 0xFF) - (int)(b >> shift & 0xFF)));
    return d;
}

TEST(TexGen, PatternsPutTheirColoursWhereTheyBelong)
{
    TexGenRecipe recipe;
    recipe.width = 64;
    recipe.height = 32;
    recipe.a = 0xFF0000FFu;
    recipe.b = 0x0000FFFFu;
    ToolImage image;
    std::string error;
    auto make = [&](const char* pattern, float angle) {
        recipe.pattern = pattern, recipe.angle = angle;
        return TexGen_Make(recipe, &image, &error);
    };
    // The pattern and its angle (gradients: 0 top to bottom, 90 left to
    // right, 270 right to left), a pixel, a's colour or b's, and how near.
    const std::tuple<const char*, float, int, int, bool, int> points[] = {
        {"checks", 0, 0, 0, true, 0},       {"checks", 0, 8, 0, false, 0},      {"checks", 0, 8, 8, true, 0},
        {"gradient", 0, 10, 0, true, 8},    {"gradient", 0, 10, 31, false, 8},  {"gradient", 90, 0, 10, true, 4},
        {"gradient", 90, 63, 10, false, 4}, {"gradient", 270, 63, 10, true, 4}, {"radial", 0, 32, 16, true, 8},
        {"radial", 0, 0, 0, false, 8}};
    for (const auto& [pattern, angle, x, y, a, near] : points) {
        ASSERT_EQ(make(pattern, angle), 1) << error;
        EXPECT_LE(Distance(At(image, x, y), a ? recipe.a : recipe.b), near)
            << pattern << angle << " at " << x << "," << y;
    }
    // A gradient down is even across; stripes (8 wide) at 0 are even down.
    ASSERT_EQ(make("gradient", 0), 1);
    EXPECT_EQ(At(image, 0, 16), At(image, 63, 16));
    ASSERT_EQ(make("stripes", 0), 1);
    EXPECT_EQ(At(image, 3, 0), At(image, 3, 31));
    EXPECT_NE(At(image, 3, 0), At(image, 11, 0));
}

TEST(TexGen, NoiseTilesAcrossItsEdgesAndFollowsItsSeed)
{
    TexGenRecipe recipe;
    recipe.pattern = "noise";
    recipe.width = recipe.height = 64;
    recipe.a = 0x000000FFu;
    recipe.b = 0xFFFFFFFFu;
    recipe.size = 16;
    ToolImage one, two, other;
    std::string error;
    ASSERT_EQ(TexGen_Make(recipe, &one, &error), 1);
    ASSERT_EQ(TexGen_Make(recipe, &two, &error), 1);
    EXPECT_EQ(one.rgba, two.rgba);
    recipe.seed = 2;
    ASSERT_EQ(TexGen_Make(recipe, &other, &error), 1);
    EXPECT_NE(one.rgba, other.rgba);
    // Neighbours across the wrap differ no more than neighbours inside.
    int inside = 0, across = 0;
    for (int y = 0; y < 64; y++) {
        inside = std::max(inside, Distance(At(one, 31, y), At(one, 32, y)));
        across = std::max(across, Distance(At(one, 63, y), At(one, 0, y)));
        across = std::max(across, Distance(At(one, y, 63), At(one, y, 0)));
    }
    EXPECT_LE(across, inside + 8);
    int lo = 255, hi = 0;
    for (size_t i = 0; i < one.rgba.size(); i += 4)
        lo = std::min<int>(lo, one.rgba[i]), hi = std::max<int>(hi, one.rgba[i]);
    EXPECT_GT(hi - lo, 100);  // it is not flat
}

TEST(TexGen, LetteringInksTheMiddleAndBordersFrameThePicture)
{
    TexGenRecipe recipe;
    recipe.width = 128;
    recipe.height = 64;
    recipe.a = 0x000000FFu;
    recipe.text = "I";
    recipe.border = 2;
    ToolImage image;
    std::string error;
    ASSERT_EQ(TexGen_Make(recipe, &image, &error), 1);
    // The stem of the I, centred, plain beside it, and the frame at the edges.
    EXPECT_EQ(std::make_tuple(At(image, 64, 32), At(image, 40, 32), At(image, 0, 40), At(image, 127, 63)),
              std::make_tuple(recipe.ink, recipe.a, recipe.ink, recipe.ink));
    // Lettering wider than the picture is made smaller: the column inside
    // each edge of the frame stays clear, and the text is still there.
    TexGenRecipe wide = recipe;
    std::tie(wide.width, wide.text, wide.textHeight, wide.stroke) = std::make_tuple(100, "2 MENAGERIE", 11.0f, 2.0f);
    ASSERT_EQ(TexGen_Make(wide, &image, &error), 1);
    int inked = 0, edges = 0;
    for (int y = 2; y < 62; y++) {
        edges += (At(image, 2, y) != recipe.a) + (At(image, 97, y) != recipe.a);
        for (int x = 0; x < 100; x++) inked += At(image, x, y) != recipe.a;
    }
    EXPECT_EQ(edges, 0);
    EXPECT_GT(inked, 100);

    TexGenRecipe marble = recipe, empty = recipe, fine = recipe, accented = recipe;
    marble.pattern = "marble";
    empty.width = 0;
    fine.size = 0.5f;
    accented.text = "\xE9t\xE9";
    for (const TexGenRecipe& bad : {marble, empty, fine, accented}) {
        error.clear();
        EXPECT_EQ(TexGen_Make(bad, &image, &error), 0);
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
