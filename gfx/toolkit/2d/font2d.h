// 2D fonts: character codes mapped to glyphs, read from font metrics files
// (".met", found along the font path), measured and drawn in the toolkit's
// user space.
//
// Three kinds of metrics file, chosen by the first line:
//   METRICS1  a bitmap font: an image and the pixel rectangle of each glyph;
//   METRICS2  a bitmap font of up to four pages whose glyph cells are marked
//             by delimiter-coloured pixels inside the images, the characters
//             given as UTF-8 text;
//   METRICS3  an outline font: every glyph a path, drawn as strokes.
// Widths are in height units (the glyph height is 1); a string of height h
// is drawn h user units high with its base line at the anchor.
//
// Strings: once any glyph has a code of 128 or more the font takes strings of
// 16-bit little-endian units (FONT2D_WIDE), otherwise bytes; a 0 ends them.
// A byte string given to a wide font is misread two bytes a character.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct ArrayList;
struct Brush2D;
struct Path2D;
struct Raster;
struct TextureDictionary;
struct Font2D;

struct Font2DGlyph {
    float width;                   // advance in height units
    Raster* raster;                // the page the glyph is on; null for outline glyphs
    float uMin, vMin, uMax, vMax;  // texture rectangle, top-left to lower-right
    Path2D* path;                  // outline (locked), or null
    uint8_t page;                  // 'a' + page number
};

// Draws string at *anchor (moving the anchor on as the kind does); the font,
// or null when nothing could be drawn.
typedef Font2D* (*Font2DDrawFn)(Font2D* font, const void* string, float height, Vec2* anchor, Brush2D* brush);

struct Font2D {
    uint32_t kind;                  // FONT2D_BITMAP or FONT2D_OUTLINE
    float height;                   // glyph height in pixels (bitmap), 1 (outline)
    float baseline;                 // base line above the glyph bottom, in height units
    float intergap;                 // extra advance after every glyph, in height units
    uint32_t flags;                 // FONT2D_WIDE
    TextureDictionary* dictionary;  // the page textures "a".."d" (owned)
    int16_t map[128];               // glyph index of codes 0..127, -1 for none
    int32_t rangeBase;              // lowest code >= 128 with a glyph
    int32_t rangeCount;
    int16_t* range;     // glyph index of codes rangeBase.., -1 for none (owned)
    ArrayList* glyphs;  // Font2DGlyph
    Font2DDrawFn draw;
};

enum : uint32_t {
    FONT2D_BITMAP = 0,
    FONT2D_OUTLINE = 1,
    FONT2D_WIDE = 0x2,
};

enum : int32_t {
    FONT2D_LINE_SIZE = 2560,    // longest line of a metrics file
    FONT2D_MAX_GLYPHS = 32767,  // glyph indexes are 16-bit
};

// Font records per free-list block and blocks made at open; only before the
// toolkit opens (8 and 1 unless set).
void Font2D_SetFreeListParams(int32_t perBlock, int32_t preallocBlocks);
// Opened and closed by the toolkit; close destroys the fonts still alive.
int32_t Font2D_ModuleOpen(void);
int32_t Font2D_ModuleClose(void);

// Folders separated by ';', each ending with its own separator ("fonts\" at
// open). Null for a null path or when memory runs out (the old path kept);
// otherwise the stored copy.
const char* Font2D_SetPath(const char* path);
// A null font, string, anchor or brush is a broken contract; the path and
// name refusals below are for outside data.
//
// Reads the font `name` (without ".met") through the module's reader.
Font2D* Font2D_Read(const char* name);
// Opens folder + name + ".met" for each folder of the font path in turn and
// parses the first that opens. Image files are looked up along the same path
// (it becomes the image search path). Null when no folder holds the file,
// the first line names no kind, an image cannot be read or made into a
// raster, or the file is malformed beyond use; nothing is left allocated then.
// An outline font needs a device camera (its curves are flattened for it).
Font2D* Font2D_ReadMetricsFile(const char* name);
// Frees the glyphs' paths, the tables, the page textures and the record.
int32_t Font2D_Destroy(Font2D* font);
Font2D* Font2D_SetIntergap(Font2D* font, float gap);

// Sum of (width + intergap) over the characters that have a glyph, x height.
float Font2D_GetStringWidth(const Font2D* font, const void* string, float height);
// The font's pixel height in user units; 0 without a device camera.
float Font2D_GetHeight(const Font2D* font);
// Draws through the font's draw method. Bitmap text moves anchor->x past the
// string; outline text leaves the anchor alone. Text is drawn between a
// camera's begin and end update, with the caller's texture filter.
Font2D* Font2D_DrawString(Font2D* font, const void* string, float height, Vec2* anchor, Brush2D* brush);
Font2D* Font2D_DrawStringBitmap(Font2D* font, const void* string, float height, Vec2* anchor, Brush2D* brush);
Font2D* Font2D_DrawStringOutline(Font2D* font, const void* string, float height, Vec2* anchor, Brush2D* brush);

// The glyph index of a character code, or -1.
int32_t Font2D_FindGlyph(const Font2D* font, int32_t code);
// 1 when the tables point at glyphs that exist, the range table lies in
// 128..0xFFFF of a wide font, bitmap glyphs sit on the font's own pages and
// outline glyphs hold valid locked paths. For tests after reading.
int32_t Font2D_Validate(const Font2D* font);
// Decodes one UTF-8 character at *text, stopping at NUL and line feed: the
// code, or -1 at the end (text not moved). A byte that cannot start a
// character, or a sequence cut short, is one character of the byte's value.
int32_t Font2D_DecodeUtf8(const char** text);
