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

int TexGen_Make(const TexGenSpec& spec, ToolImage* out, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return 0;
    };
    if (spec.width < 1 || spec.height < 1 || spec.width > IMAGEWRITER_MAX_SIDE || spec.height > IMAGEWRITER_MAX_SIDE)
        return fail("picture size out of range");
    if (!(spec.size >= 1.0f)) return fail("pattern size must be at least 1 pixel");
    std::string missing;
    if (!StrokeFont_Covers(spec.text, &missing)) return fail("the line font can't draw \"" + missing + "\"");
    const std::string& p = spec.pattern;
    if (p != "solid" && p != "checks" && p != "stripes" && p != "noise" && p != "gradient" && p != "radial")
        return fail("unknown pattern \"" + p + "\"");

    *out = ToolImage(spec.width, spec.height);
    const float radians = spec.angle * std::numbers::pi_v<float> / 180.0f;
    const float dx = std::sin(radians), dy = std::cos(radians);
    // Noise lumps fit the picture a whole number of times, so it tiles.
    const int period = std::max(1, (int)std::lround(std::max(spec.width, spec.height) / spec.size));
    const float scale = (float)period / (float)std::max(spec.width, spec.height);
    for (int32_t y = 0; y < spec.height; y++)
        for (int32_t x = 0; x < spec.width; x++) {
            const float px = x + 0.5f, py = y + 0.5f;
            uint32_t colour = spec.a;
            if (p == "checks") {
                const bool odd = ((int)(px / spec.size) + (int)(py / spec.size)) % 2;
                colour = odd ? spec.b : spec.a;
            } else if (p == "stripes") {
                const float along = px * std::cos(radians) + py * std::sin(radians);
                colour = (int)std::floor(along / spec.size) % 2 ? spec.b : spec.a;
            } else if (p == "noise") {
                const float n = 0.65f * Noise(px * scale, py * scale, period, spec.seed) +
                                0.35f * Noise(px * scale * 2, py * scale * 2, period * 2, spec.seed + 7);
                colour = Mix(spec.a, spec.b, n);
            } else if (p == "gradient") {
                // Where the pixel lies between the two edges the angle names.
                const float extent = std::fabs(dx) * spec.width + std::fabs(dy) * spec.height;
                const float start = (dx < 0 ? spec.width : 0) * dx + (dy < 0 ? spec.height : 0) * dy;
                colour = Mix(spec.a, spec.b, (px * dx + py * dy - start) / extent);
            } else if (p == "radial") {
                const float cx = spec.width / 2.0f, cy = spec.height / 2.0f;
                colour = Mix(spec.a, spec.b, std::hypot(px - cx, py - cy) / std::hypot(cx, cy));
            }
            if (x < spec.border || y < spec.border || x >= spec.width - spec.border || y >= spec.height - spec.border)
                colour = spec.ink;
            out->Set(x, y, colour);
        }
    if (!spec.text.empty()) {
        const float capHeight = spec.textHeight > 0 ? spec.textHeight : spec.height / 3.0f;
        const float stroke = spec.stroke > 0 ? spec.stroke : std::max(1.0f, capHeight / 8.0f);
        const float width = StrokeFont_InkWidth(spec.text, capHeight);
        StrokeFont_DrawText(out, (spec.width - width) / 2.0f, (spec.height + capHeight) / 2.0f, capHeight, spec.text,
                            spec.ink, stroke);
    }
    return 1;
}
