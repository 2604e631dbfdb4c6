// The glyphs of the built-in line font: each a list of line segments on a
// 0..128 grid (x to the right, y up, the base line at y = 0), drawn when no
// bitmap font is named or one can't be read. The font's pen advances 192
// grid units per character, so 64 units of space follow each glyph.
//
// Glyphs exist for "!" to "Z": the punctuation "!" to "/", the digits, the
// seven codes ":" to "@" and the capitals; the font draws lower-case letters
// with the capitals' glyphs. Every other code is blank.
#pragma once

#include <cstdint>

enum : uint32_t {
    FONT_GLYPH_GRID = 128,         // the grid's extent
    FONT_GLYPH_ADVANCE = 192,      // pen advance per character, in grid units
    FONT_GLYPH_MAX_SEGMENTS = 16,  // room per glyph, the all-zero end marker included
    FONT_GLYPH_COUNT = 58,
};

struct FontGlyphSegment {
    uint8_t x0, y0, x1, y1;
};

struct FontGlyph {
    char code;
    // Ended by the first all-zero segment (no glyph uses one).
    FontGlyphSegment segments[FONT_GLYPH_MAX_SEGMENTS];
};

// The table, in code order from "!" (FONT_GLYPH_COUNT entries).
const FontGlyph* FontGlyphs_GetTable(void);
