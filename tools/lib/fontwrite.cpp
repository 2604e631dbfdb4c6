#include "tools/lib/fontwrite.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/lib/strokefont.h"
#include "tools/lib/toolfile.h"

namespace {

constexpr int32_t kPad = 2;  // empty pixels around every cell

int Fail(std::string* error, const std::string& text)
{
    if (error) *error = text;
    return 0;
}

int CheckStyle(const FontWriterStyle& s, const std::string& name, std::string* error)
{
    if (s.cellHeight < 8 || s.cellHeight > 256) return Fail(error, "cell height must be 8..256 pixels");
    if (!(s.stroke >= 1.0f) || s.stroke > s.cellHeight / 4.0f)
        return Fail(error, "stroke must be at least 1 pixel and at most a quarter of the cell");
    if (s.outline < 0 || s.outline > 8) return Fail(error, "outline must be 0..8 pixels");
    if (s.imageWidth < 64 || s.imageWidth > 4096 || (s.imageWidth & (s.imageWidth - 1)))
        return Fail(error, "picture width must be a power of two, 64..4096");
    if (name.empty() || name.find_first_of(" \t\r\n/\\") != std::string::npos)
        return Fail(error, "font name \"" + name + "\" is empty or holds blanks or path separators");
    for (char c : s.characters) {
        if (!StrokeFont_Glyph((uint8_t)c))
            return Fail(error, std::string("the line font has no character '") + c + "'");
        if (std::count(s.characters.begin(), s.characters.end(), c) > 1)
            return Fail(error, std::string("character '") + c + "' is listed twice");
    }
    return 1;
}

int32_t NextPowerOfTwo(int32_t v)
{
    int32_t p = 1;
    while (p < v) p *= 2;
    return p;
}

}  // namespace

int FontWriter_Build(const FontWriterStyle& style, const std::string& name, FontWriterFiles* out, std::string* error)
{
    if (!CheckStyle(style, name, error)) return 0;
    std::string characters = style.characters;
    if (characters.empty())
        for (int c = 32; c <= 126; c++) characters += (char)c;

    // Vertical layout: ascent, descent, the stroke and the rim fit the cell.
    const float margin = 1.0f + style.stroke * 0.5f + (float)style.outline;
    const float scale = (style.cellHeight - 2.0f * margin) / (STROKEFONT_ASCENT_UNITS + STROKEFONT_DESCENT_UNITS);
    const float capHeight = scale * STROKEFONT_CAP_UNITS;
    const float baselineFromTop = margin + STROKEFONT_ASCENT_UNITS * scale;
    out->baseline = (int32_t)std::lround(style.cellHeight - baselineFromTop);

    // Cells in rows across the picture.
    struct Cell {
        uint32_t code;
        int32_t x, y, width;
    };
    std::vector<Cell> cells;
    int32_t x = kPad, y = kPad;
    for (char c : characters) {
        const StrokeGlyph* g = StrokeFont_Glyph((uint8_t)c);
        // The advance, widened where a thick stroke or rim would reach past it.
        const float ink = g->width * scale + style.stroke + 2.0f * style.outline + 2.0f;
        const int32_t width = std::max(1, (int32_t)std::ceil(std::max(g->advance * scale, ink)));
        if (width + 2 * kPad > style.imageWidth) return Fail(error, "cells are wider than the picture");
        if (x + width + kPad > style.imageWidth) {
            x = kPad;
            y += style.cellHeight + kPad;
        }
        cells.push_back({(uint8_t)c, x, y, width});
        x += width + kPad;
    }
    const int32_t height = NextPowerOfTwo(y + style.cellHeight + kPad);
    if (height > IMAGEWRITER_MAX_SIDE) return Fail(error, "the cells need a picture taller than the game reads");

    std::vector<float> inner((size_t)style.imageWidth * (size_t)height, 0.0f);
    std::vector<float> outer(style.outline > 0 ? inner.size() : 0, 0.0f);
    for (const Cell& cell : cells) {
        // The ink starts half a gap into the cell; the advance holds the rest.
        const float left = cell.x + (cell.width - StrokeFont_Glyph(cell.code)->width * scale) * 0.5f;
        const float baseline = cell.y + baselineFromTop;
        StrokeFont_Cover(&inner, style.imageWidth, height, left, baseline, capHeight, cell.code, style.stroke);
        if (style.outline > 0)
            StrokeFont_Cover(&outer, style.imageWidth, height, left, baseline, capHeight, cell.code,
                             style.stroke + 2.0f * style.outline);
    }

    out->image = ToolImage(style.imageWidth, height, 0x000000FFu);
    out->mask = ToolImage(style.imageWidth, height, 0x000000FFu);
    for (size_t i = 0; i < inner.size(); i++) {
        const float alpha = style.outline > 0 ? std::max(inner[i], outer[i]) : inner[i];
        // With a rim the strokes are white on black; without, the picture is
        // white wherever the mask lets anything through.
        const uint8_t grey = (uint8_t)std::lround((style.outline > 0 ? inner[i] : (alpha > 0 ? 1.0f : 0.0f)) * 255.0f);
        const uint8_t a = (uint8_t)std::lround(alpha * 255.0f);
        uint8_t* p = &out->image.rgba[i * 4];
        p[0] = p[1] = p[2] = grey;
        uint8_t* m = &out->mask.rgba[i * 4];
        m[0] = m[1] = m[2] = a;
    }

    out->imageFile = name + ".bmp";
    out->maskFile = "m" + name + ".bmp";
    out->metrics = "METRICS1\n" + out->imageFile + " " + out->maskFile + "\n" + std::to_string(out->baseline) + "\n";
    for (const Cell& cell : cells)
        out->metrics += std::to_string(cell.code) + " " + std::to_string(cell.x) + " " + std::to_string(cell.y) + " " +
                        std::to_string(cell.x + cell.width) + " " + std::to_string(cell.y + style.cellHeight) + "\n";
    return 1;
}

int FontWriter_Write(const std::string& folder, const std::string& name, const FontWriterStyle& style,
                     std::string* error)
{
    FontWriterFiles files;
    if (!FontWriter_Build(style, name, &files, error)) return 0;
    const std::string base = folder.empty() ? std::string() : folder + "/";
    return ImageWriter_Write(files.image, base + files.imageFile, error) &&
           ImageWriter_Write(files.mask, base + files.maskFile, error) &&
           ToolFile_Write(base + name + ".met", files.metrics, error);
}
