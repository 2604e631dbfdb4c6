// Font writer: rasterises the line font (strokefont.h) into a bitmap font
// the 2D toolkit reads: a metrics file "<name>.met" of the METRICS1 kind,
// its picture "<name>.bmp" and its mask "m<name>.bmp" (the mask's
// brightness becomes the picture's alpha when the font is read).
//
// The metrics file lists, after the picture and mask names and the base
// line, one line per character: the code and the pixel rectangle of its
// cell ("code x0 y0 x1 y1", x1 and y1 exclusive). Every cell is cellHeight
// pixels tall (the reader takes the font's height from the last cell) and
// as wide as the character's advance, so the reader's glyph width
// (x1 - x0) / (y1 - y0) is the advance in heights. Cells stand apart by two
// empty pixels so filtering never picks up a neighbour. The base line value
// is its distance in pixels above the cell's bottom edge.
#pragma once

#include <cstdint>
#include <string>

#include "tools/lib/imagewrite.h"

struct FontWriterStyle {
    int32_t cellHeight = 32;   // pixels of every cell (8..256)
    float stroke = 3.0f;       // line width in pixels (at least 1)
    int32_t outline = 0;       // pixels of dark rim around the strokes (0..8)
    int32_t imageWidth = 256;  // picture width, a power of two (64..4096)
    // The character codes to include, in this order (each once); empty
    // means every printable ASCII character, 32..126.
    std::string characters;
};

struct FontWriterFiles {
    std::string metrics;    // the ".met" text
    std::string imageFile;  // "<name>.bmp"
    std::string maskFile;   // "m<name>.bmp"
    ToolImage image;        // white strokes (black rim with an outline)
    ToolImage mask;         // coverage as grey
    int32_t baseline = 0;   // pixels above the cell's bottom edge
};

// Builds the three files of font `name` in memory. 0 with error set for a
// style out of range, a name that is empty or holds blanks or path
// separators, a character the line font lacks, or cells that do not fit a
// picture of IMAGEWRITER_MAX_SIDE.
int FontWriter_Build(const FontWriterStyle& style, const std::string& name, FontWriterFiles* out, std::string* error);
// Builds and writes "<folder>/<name>.met", "<name>.bmp" and "m<name>.bmp".
// 0 with error set on failure (a file written before the failure may stay).
int FontWriter_Write(const std::string& folder, const std::string& name, const FontWriterStyle& style,
                     std::string* error);
