#include "tools/lib/strokefont.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tools/lib/imagewrite.h"

namespace {

// Each glyph as polylines: points "x,y" separated by blanks, polylines
// separated by "|". A polyline of one point repeated is a dot.
struct GlyphSource {
    char code;
    const char* strokes;
};

const GlyphSource kGlyphs[] = {
    {'!', "0.5,6 0.5,2|0.5,0 0.5,0"},
    {'"', "0,6 0,4.5|1.5,6 1.5,4.5"},
    {'#', "1,0 1.5,6|2.5,0 3,6|0,2 4,2|0,4 4,4"},
    {'$', "4,5 3,5.5 1,5.5 0,4.5 1,3 3,3 4,1.5 3,0.5 1,0.5 0,1|2,6.5 2,-0.5"},
    {'%', "0,0 4,6|0.5,6 0.5,5|3.5,1 3.5,0"},
    {'&', "4,0 1,4 1,5 2,6 3,5 3,4 0,2 0,1 1,0 2,0 4,2"},
    {'\'', "0,6 0,4.5"},
    {'(', "1.5,6.5 0,4.5 0,1.5 1.5,-0.5"},
    {')', "0,6.5 1.5,4.5 1.5,1.5 0,-0.5"},
    {'*', "2,5 2,1|0.5,4 3.5,2|0.5,2 3.5,4"},
    {'+', "2,1 2,5|0,3 4,3"},
    {',', "1,0.5 1,0 0,-1.5"},
    {'-', "0,3 3,3"},
    {'.', "0.5,0 0.5,0"},
    {'/', "0,0 4,6"},
    {'0', "1,0 0,1 0,5 1,6 3,6 4,5 4,1 3,0 1,0|0,1 4,5"},
    {'1', "1,5 2,6 2,0|1,0 3,0"},
    {'2', "0,5 1,6 3,6 4,5 4,4 0,0 4,0"},
    {'3', "0,5 1,6 3,6 4,5 4,4 3,3 4,2 4,1 3,0 1,0 0,1|1,3 3,3"},
    {'4', "3,0 3,6 0,2 4,2"},
    {'5', "4,6 0,6 0,3 3,3 4,2 4,1 3,0 1,0 0,1"},
    {'6', "4,5 3,6 1,6 0,5 0,1 1,0 3,0 4,1 4,2 3,3 0,3"},
    {'7', "0,6 4,6 1,0"},
    {'8', "1,3 0,4 0,5 1,6 3,6 4,5 4,4 3,3 1,3 0,2 0,1 1,0 3,0 4,1 4,2 3,3"},
    {'9', "0,1 1,0 3,0 4,1 4,5 3,6 1,6 0,5 0,4 1,3 4,3"},
    {':', "0.5,4 0.5,4|0.5,0 0.5,0"},
    {';', "1,4 1,4|1,0.5 1,0 0,-1.5"},
    {'<', "4,5 0,3 4,1"},
    {'=', "0,2 4,2|0,4 4,4"},
    {'>', "0,5 4,3 0,1"},
    {'?', "0,5 1,6 3,6 4,5 4,4 2,3 2,2|2,0 2,0"},
    {'@', "3,2 3,4 1,4 1,2 3,2 4,2 4,5 3,6 1,6 0,5 0,1 1,0 4,0"},
    {'A', "0,0 0,4 2,6 4,4 4,0|0,3 4,3"},
    {'B', "0,0 0,6 3,6 4,5 4,4 3,3 0,3|3,3 4,2 4,1 3,0 0,0"},
    {'C', "4,5 3,6 1,6 0,5 0,1 1,0 3,0 4,1"},
    {'D', "0,0 0,6 2,6 4,4 4,2 2,0 0,0"},
    {'E', "4,6 0,6 0,0 4,0|0,3 3,3"},
    {'F', "4,6 0,6 0,0|0,3 3,3"},
    {'G', "4,5 3,6 1,6 0,5 0,1 1,0 3,0 4,1 4,3 2,3"},
    {'H', "0,0 0,6|4,0 4,6|0,3 4,3"},
    {'I', "0,0 2,0|1,0 1,6|0,6 2,6"},
    {'J', "4,6 4,1 3,0 1,0 0,1"},
    {'K', "0,0 0,6|4,6 0,2|1,3 4,0"},
    {'L', "0,6 0,0 4,0"},
    {'M', "0,0 0,6 2,3 4,6 4,0"},
    {'N', "0,0 0,6 4,0 4,6"},
    {'O', "1,0 0,1 0,5 1,6 3,6 4,5 4,1 3,0 1,0"},
    {'P', "0,0 0,6 3,6 4,5 4,4 3,3 0,3"},
    {'Q', "1,0 0,1 0,5 1,6 3,6 4,5 4,1 3,0 1,0|2,2 4,0"},
    {'R', "0,0 0,6 3,6 4,5 4,4 3,3 0,3|2,3 4,0"},
    {'S', "4,5 3,6 1,6 0,5 0,4 1,3 3,3 4,2 4,1 3,0 1,0 0,1"},
    {'T', "0,6 4,6|2,6 2,0"},
    {'U', "0,6 0,1 1,0 3,0 4,1 4,6"},
    {'V', "0,6 2,0 4,6"},
    {'W', "0,6 1,0 2,4 3,0 4,6"},
    {'X', "0,0 4,6|0,6 4,0"},
    {'Y', "0,6 2,3 4,6|2,3 2,0"},
    {'Z', "0,6 4,6 0,0 4,0"},
    {'[', "2,6.5 0,6.5 0,-0.5 2,-0.5"},
    {'\\', "0,6 4,0"},
    {']', "0,6.5 2,6.5 2,-0.5 0,-0.5"},
    {'^', "0,4 2,6 4,4"},
    {'_', "0,-1 4,-1"},
    {'`', "0,6 1,5"},
    {'{', "2,6.5 1,6 1,3.5 0,3 1,2.5 1,0 2,-0.5"},
    {'|', "0,6.5 0,-0.5"},
    {'}', "0,6.5 1,6 1,3.5 2,3 1,2.5 1,0 0,-0.5"},
    {'~', "0,3 1,4 3,3 4,4"},
};

constexpr float kGap = 1.5f;  // grid units between two glyphs' ink
constexpr float kSpaceAdvance = 3.0f;
constexpr float kLowerScale = 0.7f;  // small capitals

std::vector<StrokeSegment> Parse(const char* strokes, float yScale)
{
    std::vector<StrokeSegment> out;
    const char* p = strokes;
    while (*p) {
        std::vector<float> points;
        while (*p && *p != '|') {
            char* end;
            const float x = strtof(p, &end);
            if (*end != ',') abort();  // the table above is malformed
            const float y = strtof(end + 1, &end);
            points.push_back(x);
            points.push_back(y * yScale);
            p = end;
            while (*p == ' ') p++;
        }
        if (*p == '|') p++;
        for (size_t i = 0; i + 3 < points.size(); i += 2)
            out.push_back({points[i], points[i + 1], points[i + 2], points[i + 3]});
        if (points.size() == 2) out.push_back({points[0], points[1], points[0], points[1]});
    }
    return out;
}

struct Table {
    StrokeGlyph glyphs[95];  // codes 32..126
    bool present[95] = {};
};

void Finish(StrokeGlyph* g)
{
    float right = 0;
    for (const StrokeSegment& s : g->segments) right = std::max({right, s.x0, s.x1});
    g->width = right;
    g->advance = right + kGap;
}

const Table& Glyphs()
{
    static const Table table = [] {
        Table t;
        t.glyphs[0] = StrokeGlyph{{}, 0.0f, kSpaceAdvance};
        t.present[0] = true;
        for (const GlyphSource& source : kGlyphs) {
            const int i = source.code - 32;
            t.glyphs[i].segments = Parse(source.strokes, 1.0f);
            Finish(&t.glyphs[i]);
            t.present[i] = true;
            if (source.code >= 'A' && source.code <= 'Z') {
                const int lower = source.code - 'A' + 'a' - 32;
                t.glyphs[lower].segments = Parse(source.strokes, kLowerScale);
                Finish(&t.glyphs[lower]);
                t.present[lower] = true;
            }
        }
        return t;
    }();
    return table;
}

float SegmentDistance(float px, float py, const StrokeSegment& s, float scale, float ox, float oy)
{
    const float ax = ox + s.x0 * scale, ay = oy - s.y0 * scale;
    const float bx = ox + s.x1 * scale, by = oy - s.y1 * scale;
    const float dx = bx - ax, dy = by - ay;
    const float length2 = dx * dx + dy * dy;
    float t = length2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / length2 : 0.0f;
    t = std::clamp(t, 0.0f, 1.0f);
    const float qx = ax + t * dx - px, qy = ay + t * dy - py;
    return std::sqrt(qx * qx + qy * qy);
}

}  // namespace

const StrokeGlyph* StrokeFont_Glyph(uint32_t code)
{
    if (code < 32 || code > 126) return nullptr;
    const Table& t = Glyphs();
    return t.present[code - 32] ? &t.glyphs[code - 32] : nullptr;
}

int StrokeFont_Covers(const std::string& text, std::string* missing)
{
    std::string lacking;
    for (char c : text)
        if (!StrokeFont_Glyph((uint8_t)c) && lacking.find(c) == std::string::npos) lacking += c;
    if (missing) *missing = lacking;
    return lacking.empty();
}

float StrokeFont_TextWidth(const std::string& text, float capHeight)
{
    const float scale = capHeight / STROKEFONT_CAP_UNITS;
    float width = 0;
    for (char c : text)
        if (const StrokeGlyph* g = StrokeFont_Glyph((uint8_t)c)) width += g->advance * scale;
    return width;
}

float StrokeFont_InkWidth(const std::string& text, float capHeight)
{
    float width = StrokeFont_TextWidth(text, capHeight);
    for (size_t i = text.size(); i-- > 0;)
        if (const StrokeGlyph* g = StrokeFont_Glyph((uint8_t)text[i])) {
            width -= (g->advance - g->width) * capHeight / STROKEFONT_CAP_UNITS;
            break;
        }
    return width;
}

void StrokeFont_Cover(std::vector<float>* coverage, int32_t width, int32_t height, float x, float baseline,
                      float capHeight, uint32_t code, float stroke)
{
    const StrokeGlyph* g = StrokeFont_Glyph(code);
    if (!g || g->segments.empty() || coverage->size() < (size_t)width * (size_t)height) return;
    const float scale = capHeight / STROKEFONT_CAP_UNITS;
    const float radius = stroke * 0.5f;
    const float reach = radius + 1.0f;
    // The ink's box in pixels, widened by the stroke.
    const int32_t x0 = std::max(0, (int32_t)std::floor(x - reach));
    const int32_t x1 = std::min(width - 1, (int32_t)std::ceil(x + g->width * scale + reach));
    const int32_t y0 = std::max(0, (int32_t)std::floor(baseline - STROKEFONT_ASCENT_UNITS * scale - reach));
    const int32_t y1 = std::min(height - 1, (int32_t)std::ceil(baseline + STROKEFONT_DESCENT_UNITS * scale + reach));
    for (int32_t py = y0; py <= y1; py++)
        for (int32_t px = x0; px <= x1; px++) {
            float nearest = 1e9f;
            for (const StrokeSegment& s : g->segments)
                nearest = std::min(nearest, SegmentDistance(px + 0.5f, py + 0.5f, s, scale, x, baseline));
            // Coverage falls from 1 to 0 over the pixel at the stroke's edge.
            const float c = std::clamp(radius + 0.5f - nearest, 0.0f, 1.0f);
            float& cell = (*coverage)[(size_t)py * (size_t)width + (size_t)px];
            cell = std::max(cell, c);
        }
}

float StrokeFont_DrawText(ToolImage* image, float x, float baseline, float capHeight, const std::string& text,
                          uint32_t colour, float stroke)
{
    std::vector<float> coverage((size_t)image->width * (size_t)image->height, 0.0f);
    const float scale = capHeight / STROKEFONT_CAP_UNITS;
    float pen = x;
    for (char c : text) {
        const StrokeGlyph* g = StrokeFont_Glyph((uint8_t)c);
        if (!g) continue;
        StrokeFont_Cover(&coverage, image->width, image->height, pen, baseline, capHeight, (uint8_t)c, stroke);
        pen += g->advance * scale;
    }
    const float ink[4] = {(float)(colour >> 24 & 0xFF), (float)(colour >> 16 & 0xFF), (float)(colour >> 8 & 0xFF),
                          (float)(colour & 0xFF)};
    for (int32_t y = 0; y < image->height; y++)
        for (int32_t px = 0; px < image->width; px++) {
            const float c = coverage[(size_t)y * (size_t)image->width + (size_t)px] * ink[3] / 255.0f;
            if (c <= 0) continue;
            uint8_t* p = image->At(px, y);
            for (int k = 0; k < 3; k++) p[k] = (uint8_t)std::lround(p[k] + (ink[k] - p[k]) * c);
            p[3] = (uint8_t)std::lround(p[3] + (255.0f - p[3]) * c);
        }
    return pen;
}
