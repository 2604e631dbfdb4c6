// Procedural pictures of the demo data: textures, sprites, logos and
// screens drawn from a pattern and two colours, with optional lettering
// from the line font on top.
#pragma once

#include <cstdint>
#include <string>

#include "tools/lib/imagewrite.h"

struct TexGenRecipe {
    // "solid" (a), "checks" (squares of `size` pixels, a and b), "stripes"
    // (bands `size` wide at `angle` degrees), "noise" (smooth value noise
    // between a and b with lumps about `size` pixels across), "gradient"
    // (a at one edge to b at the other, along `angle`: 0 top to bottom,
    // 90 left to right), "radial" (a in the middle to b at the corners).
    std::string pattern = "solid";
    int32_t width = 64;
    int32_t height = 64;
    uint32_t a = 0x808080FFu;  // 0xRRGGBBAA
    uint32_t b = 0x404040FFu;
    float size = 8.0f;
    float angle = 0.0f;
    uint32_t seed = 1;
    // Lettering, centred: capitals textHeight pixels tall (0: a third of
    // the picture's height), strokes `stroke` pixels wide (0: an eighth of
    // the capitals).
    std::string text;
    uint32_t ink = 0xFFFFFFFFu;
    float textHeight = 0.0f;
    float stroke = 0.0f;
    int32_t border = 0;  // pixels of frame in `ink` around the edge
};

// Draws the picture. 0 with error set for an unknown pattern, sizes
// outside 1..IMAGEWRITER_MAX_SIDE, a size under 1 pixel, or text the line
// font can't draw.
int TexGen_Make(const TexGenRecipe& recipe, ToolImage* out, std::string* error);
