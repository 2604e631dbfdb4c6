// The data tools' line font: every printable ASCII character as a few
// straight strokes, drawn into pictures with a stroke width and smooth
// (area-like) edges. The font writer rasterises bitmap fonts from it, and
// procedural textures use it for lettering.
//
// Glyphs are designed on a grid whose capital letters stand 6 units tall on
// the base line (y = 0, y up); descenders reach down to -2. A lower-case
// letter is its capital drawn at 0.7 of the height (small capitals).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ToolImage;

constexpr float STROKEFONT_CAP_UNITS = 6.0f;      // grid units of a capital's height
constexpr float STROKEFONT_DESCENT_UNITS = 2.0f;  // below the base line
constexpr float STROKEFONT_ASCENT_UNITS = 7.0f;   // brackets reach above the capitals

struct StrokeSegment {
    float x0, y0, x1, y1;  // grid units; equal ends make a dot
};

struct StrokeGlyph {
    std::vector<StrokeSegment> segments;
    float width;    // the ink's width in grid units
    float advance;  // pen movement after the glyph, in grid units
};

// The glyph of a character code, or null when the font has none (codes
// outside 32..126).
const StrokeGlyph* StrokeFont_Glyph(uint32_t code);
// 1 when every byte of text has a glyph; otherwise 0 and, when asked, the
// characters without one (each once, in order of appearance).
int StrokeFont_Covers(const std::string& text, std::string* missing = nullptr);
// Width of text in pixels for capitals capHeight pixels tall (characters
// without a glyph add nothing): the pen's travel, gap after the last
// glyph included.
float StrokeFont_TextWidth(const std::string& text, float capHeight);
// The travel without the gap after the last glyph: what centring needs.
float StrokeFont_InkWidth(const std::string& text, float capHeight);

// Adds the glyph's ink to a coverage map (width x height values 0..1, rows
// top to bottom, kept as the larger of old and new). The glyph's origin (left
// end of the base line) is at pixel coordinates (x, baseline); stroke is the
// line width in pixels. Nothing for a code without a glyph.
void StrokeFont_Cover(std::vector<float>* coverage, int32_t width, int32_t height, float x, float baseline,
                      float capHeight, uint32_t code, float stroke);
// Draws text in colour (0xRRGGBBAA) over the picture, blended by coverage;
// returns the pen position after the text.
float StrokeFont_DrawText(ToolImage* image, float x, float baseline, float capHeight, const std::string& text,
                          uint32_t colour, float stroke);
