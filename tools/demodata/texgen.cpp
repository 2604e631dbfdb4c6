#include "tools/demodata/texgen.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/lib/strokefont.h"

namespace {

uint32_t Mix(uint32_t a, uint32_t b, float t)
{
    t = std::clamp(t, 0.0f, 1.0f);
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const float x = (float)(a >> shift & 0xFF), y = (float)(b >> shift & 0xFF);
        out |= (uint32_t)std::lround(x + (y - x) * t) << shift;
    }
    return out;
}

float Lattice(int x, int y, uint32_t seed)
{
    uint32_t h = (uint32_t)x * 374761393u + (uint32_t)y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return (float)((h ^ (h >> 16)) & 0xFFFF) / 65535.0f;
}

// Smooth value noise in 0..1, wrapping every `period` lattice cells so that
// the picture tiles.
float Noise(float x, float y, int period, uint32_t seed)
{
    const int x0 = (int)std::floor(x), y0 = (int)std::floor(y);
    float fx = x - x0, fy = y - y0;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    auto at = [&](int i, int j) {
        return Lattice(((i % period) + period) % period, ((j % period) + period) % period, seed);
    };
    const float top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * fx;
    const float bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * fx;
    return top + (bottom - top) * fy;
}

}  // namespace

int TexGen_Make(const TexGenRecipe& recipe, ToolImage* out, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return 0;
    };
    if (recipe.width < 1 || recipe.height < 1 || recipe.width > IMAGEWRITER_MAX_SIDE ||
        recipe.height > IMAGEWRITER_MAX_SIDE)
        return fail("picture size out of range");
    if (!(recipe.size >= 1.0f)) return fail("pattern size must be at least 1 pixel");
    std::string missing;
    if (!StrokeFont_Covers(recipe.text, &missing)) return fail("the line font can't draw \"" + missing + "\"");
    const std::string& p = recipe.pattern;
    if (p != "solid" && p != "checks" && p != "stripes" && p != "noise" && p != "gradient" && p != "radial")
        return fail("unknown pattern \"" + p + "\"");

    *out = ToolImage(recipe.width, recipe.height);
    const float radians = recipe.angle * std::numbers::pi_v<float> / 180.0f;
    const float dx = std::sin(radians), dy = std::cos(radians);
    // Noise lumps fit the picture a whole number of times, so it tiles.
    const int period = std::max(1, (int)std::lround(std::max(recipe.width, recipe.height) / recipe.size));
    const float scale = (float)period / (float)std::max(recipe.width, recipe.height);
    for (int32_t y = 0; y < recipe.height; y++)
        for (int32_t x = 0; x < recipe.width; x++) {
            const float px = x + 0.5f, py = y + 0.5f;
            uint32_t colour = recipe.a;
            if (p == "checks") {
                const bool odd = ((int)(px / recipe.size) + (int)(py / recipe.size)) % 2;
                colour = odd ? recipe.b : recipe.a;
            } else if (p == "stripes") {
                const float along = px * std::cos(radians) + py * std::sin(radians);
                colour = (int)std::floor(along / recipe.size) % 2 ? recipe.b : recipe.a;
            } else if (p == "noise") {
                const float n = 0.65f * Noise(px * scale, py * scale, period, recipe.seed) +
                                0.35f * Noise(px * scale * 2, py * scale * 2, period * 2, recipe.seed + 7);
                colour = Mix(recipe.a, recipe.b, n);
            } else if (p == "gradient") {
                // Where the pixel lies between the two edges the angle names.
                const float extent = std::fabs(dx) * recipe.width + std::fabs(dy) * recipe.height;
                const float start = (dx < 0 ? recipe.width : 0) * dx + (dy < 0 ? recipe.height : 0) * dy;
                colour = Mix(recipe.a, recipe.b, (px * dx + py * dy - start) / extent);
            } else if (p == "radial") {
                const float cx = recipe.width / 2.0f, cy = recipe.height / 2.0f;
                colour = Mix(recipe.a, recipe.b, std::hypot(px - cx, py - cy) / std::hypot(cx, cy));
            }
            if (x < recipe.border || y < recipe.border || x >= recipe.width - recipe.border ||
                y >= recipe.height - recipe.border)
                colour = recipe.ink;
            out->Set(x, y, colour);
        }
    if (!recipe.text.empty()) {
        float capHeight = recipe.textHeight > 0 ? recipe.textHeight : recipe.height / 3.0f;
        float stroke = recipe.stroke > 0 ? recipe.stroke : std::max(1.0f, capHeight / 8.0f);
        float width = StrokeFont_InkWidth(recipe.text, capHeight);
        // Lettering wider than the picture inside its frame (and a pixel of
        // room) is made smaller until it fits: it is never cut at the edges.
        const float room = (float)recipe.width - 2.0f * (float)(recipe.border + 1);
        if (width + stroke > room && width > 0.0f) {
            const float scale = std::max(0.0f, room) / (width + stroke);
            capHeight *= scale;
            stroke = std::max(1.0f, stroke * scale);
            width = StrokeFont_InkWidth(recipe.text, capHeight);
        }
        StrokeFont_DrawText(out, (recipe.width - width) / 2.0f, (recipe.height + capHeight) / 2.0f, capHeight,
                            recipe.text, recipe.ink, stroke);
    }
    return 1;
}
