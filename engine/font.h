// Fonts: text on the 640 x 480 virtual screen, drawn either with a bitmap
// font of the 2D toolkit (a ".met" metrics file and its images) or, when no
// font is named or the named one can't be read, with the built-in line font
// (engine/fontglyphs.h) drawn as immediate-mode 2D lines.
//
// Units. Positions are virtual-screen pixels, x to the right and y down from
// the top; y is the text's base line. With the virtual screen off they are
// the target's pixels. Heights and widths measured are in the same units as
// positions. A font's size carries the screen factor (screen width / 640,
// applied by Font_SetSize); on the virtual screen it comes out again, so a
// text has the same virtual size on every screen, and the one mapping of
// the virtual screen onto the target (engine/virtualscreen.h) places and
// stretches it as it does sprites, also on targets that are not 4:3. The
// line font's pen advance is a glyph cell, so letters never overlap.
//
// The draw sets what it depends on: culling off, fog off, Z test off (it
// does not inherit the last render object's states). It must run inside an
// open camera update, with the 2D toolkit open on the camera of the whole
// target, its view window x positive (the views set this up); the toolkit's
// device rectangle may be any (the shell gives it the window's pixels, the
// game 640 x 480): text is placed through the toolkit's device axes.
//
// Fonts live from Font_Load to Font_Release or Font_Shutdown. Main thread
// only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/screenvertex.h"

struct Brush2D;
struct Font2D;
struct List;

enum : uint32_t {
    FONT_TOOLKIT = 1,          // drawn with a 2D-toolkit font
    FONT_BUILTIN = 2,          // drawn with the built-in line font
    FONT_LINE_CAPACITY = 256,  // lines per draw call of the line font
    FONT_TEXT_MAX = 1024,      // formatted text is cut here
};

// The line font's batch: lines collected and drawn as one list, at most
// FONT_LINE_CAPACITY at a time.
struct FontLineBatch {
    float scaleX, scaleY;  // grid units to target pixels (size x 10 / 192 on a 4:3 target)
    uint32_t colour;       // packed a r g b
    ScreenVertex vertices[FONT_LINE_CAPACITY * 2];
    uint32_t count;  // vertices
};

struct Font {
    uint32_t flags;        // FONT_TOOLKIT or FONT_BUILTIN
    char* name;            // of a toolkit font, owned; null for the line font
    Font2D* toolkitFont;   // owned
    FontLineBatch* lines;  // owned, line font only
    float size;            // requested size x screen width / 640 (at the time it was set)
    uint8_t colour[4];     // red, green, blue, alpha; opaque white at creation
    float spacing;         // line spacing factor (1)
};

// Creates the toolkit brush, sets the toolkit's font path to "Fonts\"
// (through the file layer), creates the pool, switches the virtual screen on
// and builds the line font's glyph table. 1, or 0 when the brush or the pool
// can't be made (nothing left made).
int Font_Init(void);
// Frees every font, the pool and the brush.
void Font_Shutdown(void);
List* Font_GetPool(void);

// A font of size 1 (with the screen factor), spacing 1, opaque white. With a
// name: the toolkit font "<name>.met" from "Fonts\" (with folder: from
// "Fonts\<folder>\"); when it can't be read, the line font. Without a name:
// the line font. Null only when the pool is full or memory runs out.
Font* Font_Load(const char* name, const char* folder);
// Null is ignored.
void Font_Release(Font* font);

// size x screen width / 640 (2.0 on an 800-wide screen stores 2.5).
void Font_SetSize(Font* font, float size);
void Font_SetSpacing(Font* font, float factor);
// Colour bytes red, green, blue, alpha (also the line batch's colour).
void Font_SetColour(Font* font, const uint8_t* rgba);
// Alpha byte = a (0..1, clamped) x 255, truncated.
void Font_SetAlpha(Font* font, float alpha);
// On (at start): positions are virtual-screen pixels; off: target pixels.
void Font_SetVirtualScreen(int on);

// In position units: the toolkit font's pixel height, or 10, times the size
// without its screen factor (with it, when the virtual screen is off).
float Font_GetHeight(const Font* font);
// The part of that height below the base line (the toolkit font's cells
// reach under it; the line font's glyphs stand on it: 0).
float Font_GetDescent(const Font* font);
// Width of the formatted text in position units: the toolkit's glyph widths
// at that height, or characters x that height for the line font.
float Font_MeasureF(const Font* font, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Draws text with its base line at (x, y). Edge mode: a negative x counts
// from the right edge (x + 640) and a negative y from the lower one.
void Font_DrawString(Font* font, float x, float y, const char* text, int edge);
// Font_DrawString of the formatted text, edge mode on.
void Font_Printf(Font* font, float x, float y, const char* format, ...) __attribute__((format(printf, 4, 5)));
// Lays the formatted text out in the box (x, y, width, height): a line ends
// at "\n" or where the next character would pass the width, moved back to
// the last blank (dropped) or "-" (kept) when there is one, else cut inside
// the word; every line takes at least one character. Lines are drawn at x
// (centred: in the middle of the width), line n at y + n x the font's
// height x spacing; nothing is drawn past a height above 0. Returns the
// height used: (lines + 0.5) x the line height, in virtual pixels.
// One line of the box layout: the number of characters of text that make
// the line, and through skip the characters after them that belong to no
// line (the dropped blank or the "\n"). width is in virtual pixels.
size_t Font_LayoutLine(const Font* font, const char* text, float width, size_t* skip);
float Font_PrintfBox(Font* font, float x, float y, float width, float height, int centred, const char* format, ...)
    __attribute__((format(printf, 7, 8)));
