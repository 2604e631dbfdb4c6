#include "engine/font.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/file.h"
#include "app/shell.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/fontglyphs.h"
#include "engine/virtualscreen.h"
#include "gfx/core/im2d.h"
#include "gfx/core/renderstate.h"
#include "gfx/toolkit/2d/brush2d.h"
#include "gfx/toolkit/2d/font2d.h"
#include "gfx/toolkit/2d/toolkit2d.h"

namespace {

constexpr float kLineFontHeight = 10.0f;  // per unit of size

struct GlyphEntry {
    const FontGlyphSegment* segments;
    uint32_t count;
};

struct FontModule {
    Brush2D* brush;
    List* pool;
    int virtualScreen = 1;
    GlyphEntry glyphs[256];
};

FontModule g_font;

// Builds the code table of the line font: each glyph's segments up to its
// end marker; lower-case letters share the capitals' segments.
void Font_InitSymbolGlyphs(void)
{
    memset(g_font.glyphs, 0, sizeof g_font.glyphs);
    const FontGlyph* table = FontGlyphs_GetTable();
    for (uint32_t i = 0; i < FONT_GLYPH_COUNT; i++) {
        const FontGlyph& g = table[i];
        uint32_t n = 0;
        while (n < FONT_GLYPH_MAX_SEGMENTS) {
            const FontGlyphSegment& s = g.segments[n];
            if (!s.x0 && !s.y0 && !s.x1 && !s.y1) break;
            n++;
        }
        const uint8_t code = (uint8_t)g.code;
        g_font.glyphs[code] = GlyphEntry{g.segments, n};
        if (code >= 'A' && code <= 'Z') g_font.glyphs[code - 'A' + 'a'] = g_font.glyphs[code];
    }
}

uint32_t PackColour(const uint8_t* rgba)
{
    return (uint32_t)rgba[3] << 24 | (uint32_t)rgba[0] << 16 | (uint32_t)rgba[1] << 8 | rgba[2];
}

void SetState(int32_t state, uint32_t value) { RenderState_Set(state, (void*)(uintptr_t)value); }

VirtualScreenMap CurrentMap(void) { return VirtualScreen_GetMap(g_font.virtualScreen); }

// The size in position units: on the virtual screen the size's screen
// factor (screen width / 640, put in by Font_SetSize) comes out again, so a
// text keeps its virtual size on every screen and the mapping onto the
// target stretches it as it stretches sprites.
float PositionSize(const Font* font, const VirtualScreenMap& map)
{
    return map.scaleX > 0.0f ? font->size / map.scaleX : font->size;
}

// The glyph height in position units: the toolkit font's own pixel height,
// or the line font's 10, times the size.
float GlyphHeight(const Font* font, const VirtualScreenMap& map)
{
    const float native = (font->flags & FONT_TOOLKIT) ? font->toolkitFont->height : kLineFontHeight;
    return native * PositionSize(font, map);
}

// Width of the first `length` characters of text, in position units.
float MeasureText(const Font* font, const char* text, size_t length, const VirtualScreenMap& map)
{
    if (font->flags & FONT_TOOLKIT) {
        char part[FONT_TEXT_MAX];
        if (length >= sizeof part) length = sizeof part - 1;
        memcpy(part, text, length);
        part[length] = 0;
        return Font2D_GetStringWidth(font->toolkitFont, part, GlyphHeight(font, map));
    }
    return (float)length * GlyphHeight(font, map);
}

void FlushLines(FontLineBatch* lines)
{
    if (lines->count) Im2D_RenderPrimitive(1, lines->vertices, (int32_t)lines->count);
    lines->count = 0;
}

// Appends the glyphs' segments at the pen (x, y: the base line, target
// pixels, y down), drawing whenever the batch is full.
void DrawLines(Font* font, float x, float y, const char* text, const VirtualScreenMap& map)
{
    FontLineBatch* lines = font->lines;
    const float grid = PositionSize(font, map) * kLineFontHeight / (float)FONT_GLYPH_ADVANCE;
    lines->scaleX = grid * map.scaleX;
    lines->scaleY = grid * map.scaleY;
    const float z = Im2D_GetNearScreenZ();
    RenderState_Set(1, nullptr);
    for (const char* c = text; *c; c++) {
        const GlyphEntry& glyph = g_font.glyphs[(uint8_t)*c];
        for (uint32_t i = 0; i < glyph.count; i++) {
            if (lines->count + 2 > FONT_LINE_CAPACITY * 2) FlushLines(lines);
            const FontGlyphSegment& s = glyph.segments[i];
            ScreenVertex* v = &lines->vertices[lines->count];
            v[0] = ScreenVertex{x + s.x0 * lines->scaleX, y - s.y0 * lines->scaleY, z, 1.0f, lines->colour, 0, 0};
            v[1] = ScreenVertex{x + s.x1 * lines->scaleX, y - s.y1 * lines->scaleY, z, 1.0f, lines->colour, 0, 0};
            lines->count += 2;
        }
        x += (float)FONT_GLYPH_ADVANCE * lines->scaleX;
    }
    FlushLines(lines);
}

// Draws one string at a position in position units (edge mode applied).
//
// Both kinds of font take the same road onto the target as sprites: the
// line font's segments are scaled into target pixels directly; the toolkit
// font is laid out in position units with y up from the lower edge, and a
// CTM level maps that space onto the target's pixels and those onto the
// toolkit's user space (through the device axes, so whatever device
// rectangle the toolkit was given, the text lands on the same pixels). The
// device camera's view window has a positive x (the views set it up), so
// the axes' corner is the target's lower-left one; the CTM only ever scales
// and moves, so the axes lie along x and y.
//
// Both roads blend by the text's alpha whatever the last draw left (a
// subtractive sprite before a text must not turn it black).
void DrawAt(Font* font, float x, float y, const char* text, const VirtualScreenMap& map)
{
    SetState(20, 1);
    SetState(14, 0);
    SetState(6, 0);
    SetState(12, 1);
    SetState(10, 5);
    SetState(11, 6);
    if (!(font->flags & FONT_TOOLKIT)) {
        DrawLines(font, x * map.scaleX, y * map.scaleY, text, map);
        return;
    }
    Vec2 a, b, corner;
    if (!Toolkit2D_GetDeviceAxes(&a, &b, &corner)) return;
    const Brush2DColour c = {font->colour[0], font->colour[1], font->colour[2], font->colour[3]};
    Brush2D_SetColours(g_font.brush, &c, &c, &c, &c);
    Ctm2DMark mark;
    Ctm2D_BeginMark(&mark);
    Ctm2D_Translate(corner.x, corner.y);
    Ctm2D_Scale(a.x * map.scaleX, b.y * map.scaleY);
    Vec2 anchor = {x, map.height - y};
    Font2D_DrawString(font->toolkitFont, text, GlyphHeight(font, map), &anchor, g_font.brush);
    Ctm2D_EndMark(&mark);
}

void FormatInto(char* buffer, const char* format, va_list args)
{
    vsnprintf(buffer, FONT_TEXT_MAX, format ? format : "", args);
}

}  // namespace

int Font_Init(void)
{
    if (!g_font.brush) g_font.brush = Brush2D_Create();
    if (!g_font.pool) g_font.pool = List_Create(sizeof(Font));
    if (!g_font.brush || !g_font.pool) {
        Font_Shutdown();
        return 0;
    }
    Font2D_SetPath(File_ResolvePath("Fonts\\"));
    g_font.virtualScreen = 1;
    Font_InitSymbolGlyphs();
    return 1;
}

namespace {

int ReleaseOne(void* item, void*)
{
    Font_Release((Font*)item);
    return 0;
}

}  // namespace

void Font_Shutdown(void)
{
    if (g_font.pool) List_ForEach(g_font.pool, ReleaseOne, nullptr);
    List_Destroy(g_font.pool);
    g_font.pool = nullptr;
    if (g_font.brush) Brush2D_Destroy(g_font.brush);
    g_font.brush = nullptr;
}

List* Font_GetPool(void) { return g_font.pool; }

Font* Font_Load(const char* name, const char* folder)
{
    if (!g_font.pool) return nullptr;
    char path[260];
    if (folder && folder[0]) snprintf(path, sizeof path, "Fonts\\%s\\", folder);
    else snprintf(path, sizeof path, "Fonts\\");
    Font2D_SetPath(File_ResolvePath(path));

    Font* font = (Font*)List_Alloc(g_font.pool);
    if (!font) return nullptr;
    font->spacing = 1.0f;
    memset(font->colour, 255, sizeof font->colour);
    Font_SetSize(font, 1.0f);
    if (name) {
        font->toolkitFont = Font2D_Read(name);
        font->name = font->toolkitFont ? String_Dup(name) : nullptr;
        if (!font->toolkitFont || !font->name) {
            Font_Release(font);
            return Font_Load(nullptr, folder);
        }
        font->flags = FONT_TOOLKIT;
        return font;
    }
    font->lines = (FontLineBatch*)Mem_Calloc(sizeof(FontLineBatch), 8);
    if (!font->lines) {
        Font_Release(font);
        return nullptr;
    }
    font->lines->colour = PackColour(font->colour);
    font->lines->scaleX = font->lines->scaleY = kLineFontHeight / (float)FONT_GLYPH_ADVANCE;
    font->flags = FONT_BUILTIN;
    return font;
}

void Font_Release(Font* font)
{
    if (!font) return;
    if (font->toolkitFont) Font2D_Destroy(font->toolkitFont);
    Mem_Free(font->name);
    Mem_Free(font->lines);
    List_Free(g_font.pool, font);
}

void Font_SetSize(Font* font, float size) { font->size = size * (float)App_GetScreenWidth() * (1.0f / 640.0f); }

void Font_SetSpacing(Font* font, float factor) { font->spacing = factor; }

void Font_SetColour(Font* font, const uint8_t* rgba)
{
    memcpy(font->colour, rgba, 4);
    if (font->lines) font->lines->colour = PackColour(font->colour);
}

void Font_SetAlpha(Font* font, float alpha)
{
    font->colour[3] = !(alpha > 0.0f) ? 0 : alpha >= 1.0f ? 255 : (uint8_t)(alpha * 255.0f);
    if (font->lines) font->lines->colour = PackColour(font->colour);
}

void Font_SetVirtualScreen(int on) { g_font.virtualScreen = on; }

float Font_GetHeight(const Font* font) { return GlyphHeight(font, CurrentMap()); }

float Font_GetDescent(const Font* font)
{
    if (!(font->flags & FONT_TOOLKIT)) return 0.0f;
    return GlyphHeight(font, CurrentMap()) * std::clamp(font->toolkitFont->baseline, 0.0f, 1.0f);
}

float Font_MeasureF(const Font* font, const char* format, ...)
{
    char text[FONT_TEXT_MAX];
    va_list args;
    va_start(args, format);
    FormatInto(text, format, args);
    va_end(args);
    return MeasureText(font, text, strlen(text), CurrentMap());
}

void Font_DrawString(Font* font, float x, float y, const char* text, int edge)
{
    if (!font || !text) return;
    const VirtualScreenMap map = CurrentMap();
    if (edge) {
        if (x < 0.0f) x += map.width;
        if (y < 0.0f) y += map.height;
    }
    DrawAt(font, x, y, text, map);
}

void Font_Printf(Font* font, float x, float y, const char* format, ...)
{
    char text[FONT_TEXT_MAX];
    va_list args;
    va_start(args, format);
    FormatInto(text, format, args);
    va_end(args);
    Font_DrawString(font, x, y, text, 1);
}

size_t Font_LayoutLine(const Font* font, const char* text, float width, size_t* skip)
{
    const VirtualScreenMap map = CurrentMap();
    const size_t full = strcspn(text, "\n");
    size_t length = full;
    *skip = 0;
    // At least one character stays, so every line moves on.
    while (length > 1 && MeasureText(font, text, length, map) > width) length--;
    if (length == full) {
        *skip = text[full] == '\n';
        return length;
    }
    // Back to the last blank (dropped) or after the last "-" (kept); without
    // either the word is cut where it stopped fitting.
    for (size_t j = length;; j--) {
        if (text[j] == ' ') {
            *skip = 1;
            return j;
        }
        if (j > 0 && text[j - 1] == '-') return j;
        if (j == 0) return length;
    }
}

float Font_PrintfBox(Font* font, float x, float y, float width, float height, int centred, const char* format, ...)
{
    char text[FONT_TEXT_MAX];
    va_list args;
    va_start(args, format);
    FormatInto(text, format, args);
    va_end(args);
    if (!font) return 0.0f;

    const VirtualScreenMap map = CurrentMap();
    const float lineHeight = GlyphHeight(font, map) * font->spacing;
    char line[FONT_TEXT_MAX];
    float lineNumber = 0.0f;
    const char* rest = text;
    while (*rest) {
        size_t skip = 0;
        const size_t length = Font_LayoutLine(font, rest, width, &skip);
        const float offset = lineHeight * lineNumber;
        if (height > 0.0f && offset > height) break;
        memcpy(line, rest, length);
        line[length] = 0;
        float lineX = x;
        if (centred) lineX = x + width * 0.5f - MeasureText(font, line, length, map) * 0.5f;
        DrawAt(font, lineX, y + offset, line, map);
        rest += length + skip;
        lineNumber += 1.0f;
    }
    return (lineNumber + 0.5f) * lineHeight;
}
