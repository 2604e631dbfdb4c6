#include "gfx/toolkit/2d/font2d.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/assert.h"
#include "gfx/core/arraylist.h"
#include "gfx/core/engine.h"
#include "gfx/core/freelist.h"
#include "gfx/core/im3d.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/renderstate.h"
#include "gfx/core/texture.h"
#include "gfx/toolkit/2d/brush2d.h"
#include "gfx/toolkit/2d/path2d.h"
#include "gfx/toolkit/2d/toolkit2d.h"

// Metrics files are read line by line through the engine's file table. Every
// line is normalised before it is looked at: a CR before the line feed goes,
// and a last line without a line feed gets one, so the exact compares
// ("begin\n") and the scans see one form whatever the file's line ends.
// Every %s scan writes into a buffer as long as the line itself.
//
// Bitmap pages become rasters with mip levels. Where the device wants another
// size than the image's, the image is padded (never scaled) so that the
// pixel rectangles of the glyphs keep their texels; the padding is cleared
// to zero so that filtering and mip levels blend glyph edges with
// transparent black, not with whatever memory the resize left there.

namespace {

constexpr uint32_t kPageFlags = RASTERFORMATMIPMAP | RASTERFORMATAUTOMIPMAP;
constexpr int32_t kQuadsPerBatch = 64;
constexpr int32_t kLargestPage = 1 << 15;  // pages are padded to at most this square
// Outline coordinates are in height units; larger values are not glyphs.
constexpr float kLargestCoordinate = 1e4f;

struct Font2DModule {
    int32_t open;
    FreeList* fonts;
    char* path;  // the font path, owned
    Font2D* (*reader)(const char* name);
    uint16_t quadIndices[kQuadsPerBatch * 6];
    // The code (>= 128) of each glyph of the file being read, by glyph index;
    // -1 for glyphs of codes below 128. Shared by all reads.
    int32_t* codes;
    int32_t codeCapacity;
};

Font2DModule g_fonts;
int32_t g_fontsPerBlock = 8;
int32_t g_fontBlocks = 1;

// ---- Lines and numbers ----

struct MetFile {
    FileInterface* io;
    void* file;
    bool ended;
    char line[FONT2D_LINE_SIZE + 2];
};

bool NextLine(MetFile* met)
{
    if (met->ended || !met->io->gets(met->line, FONT2D_LINE_SIZE, met->file)) {
        met->ended = true;
        return false;
    }
    size_t n = strlen(met->line);
    if (n > 0 && met->line[n - 1] == '\n') n--;
    if (n > 0 && met->line[n - 1] == '\r') n--;
    met->line[n] = '\n';
    met->line[n + 1] = '\0';
    return true;
}

// Reads count integers as "%i" does (decimal, 0 octal, 0x hexadecimal), each
// in the range of an int32: a value out of range refuses the line instead
// of being stored undefined.
bool ScanInts(const char* text, int base, int32_t* out, int count)
{
    for (int i = 0; i < count; i++) {
        char* end;
        errno = 0;
        const long long v = strtoll(text, &end, base);
        if (end == text || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
        out[i] = (int32_t)v;
        text = end;
    }
    return true;
}

bool InRange(const float* v, int count)
{
    for (int i = 0; i < count; i++)
        if (!std::isfinite(v[i]) || std::fabs(v[i]) > kLargestCoordinate) return false;
    return true;
}

// ---- Glyphs and codes ----

Font2DGlyph* Glyph(const Font2D* font, int32_t index) { return (Font2DGlyph*)font->glyphs->entries + index; }

Font2DGlyph* AddGlyph(Font2D* font, int32_t* index)
{
    if (font->glyphs->count >= FONT2D_MAX_GLYPHS) return nullptr;
    Font2DGlyph* glyph = (Font2DGlyph*)ArrayList_GetNewEntry(font->glyphs);
    if (!glyph) return nullptr;
    memset(glyph, 0, sizeof(*glyph));
    *index = font->glyphs->count - 1;
    return glyph;
}

bool RecordCode(int32_t index, int32_t code)
{
    if (index >= g_fonts.codeCapacity) {
        const int32_t capacity = (index / 32 + 1) * 32;
        int32_t* grown = (int32_t*)Engine_Realloc(g_fonts.codes, sizeof(int32_t) * (size_t)capacity);
        if (!grown) return false;
        for (int32_t i = g_fonts.codeCapacity; i < capacity; i++) grown[i] = -1;
        g_fonts.codes = grown;
        g_fonts.codeCapacity = capacity;
    }
    g_fonts.codes[index] = code;
    return true;
}

void ResetCodes()
{
    for (int32_t i = 0; i < g_fonts.codeCapacity; i++) g_fonts.codes[i] = -1;
}

// Codes outside 0..0xFFFF have no place in a string of 16-bit units and are
// left unmapped.
bool MapCode(Font2D* font, int32_t code, int32_t index)
{
    if (code < 0 || code > 0xFFFF) return true;
    if (code < 128) {
        font->map[code] = (int16_t)index;
        return true;
    }
    font->flags |= FONT2D_WIDE;
    return RecordCode(index, code);
}

bool BuildRangeTable(Font2D* font)
{
    int32_t lowest = 0x10000, highest = -1;
    const int32_t count = font->glyphs->count < g_fonts.codeCapacity ? font->glyphs->count : g_fonts.codeCapacity;
    for (int32_t i = 0; i < count; i++) {
        const int32_t code = g_fonts.codes[i];
        if (code < 0) continue;
        if (code < lowest) lowest = code;
        if (code > highest) highest = code;
    }
    if (highest < 0) return true;
    const int32_t size = highest - lowest + 1;
    font->range = (int16_t*)Engine_Malloc(sizeof(int16_t) * (size_t)size);
    if (!font->range) return false;
    for (int32_t i = 0; i < size; i++) font->range[i] = -1;
    for (int32_t i = 0; i < count; i++)
        if (g_fonts.codes[i] >= 0) font->range[g_fonts.codes[i] - lowest] = (int16_t)i;
    font->rangeBase = lowest;
    font->rangeCount = size;
    return true;
}

// ---- Images and pages ----

bool Usable(const Image* image)
{
    return image && image->pixels && image->width > 0 && image->height > 0 &&
           (image->depth == 32 || ((image->depth == 4 || image->depth == 8) && image->palette));
}

int32_t BytesPerPixel(const Image* image) { return image->depth == 32 ? 4 : 1; }

// The image with the mask's brightness as alpha when the mask can be read.
void ApplyMaskFile(Image* image, const char* maskName)
{
    Image* mask = Image_Read(maskName);
    if (!mask) return;
    Image_MakeMask(mask);
    // A mask of another size is ignored; the image is then left as it was.
    Image_ApplyMask(image, mask);
    Image_Destroy(mask);
}

bool PreferredSize(Image* image, int32_t* width, int32_t* height, int32_t* depth, int32_t* format)
{
    return Image_FindRasterFormat(image, RASTERTYPETEXTURE | kPageFlags, width, height, depth, format) != nullptr;
}

// Enlarges the image, keeping its pixels at the top left, and clears the new
// area (transparent black, or palette index 0).
bool Pad(Image* image, int32_t width, int32_t height)
{
    const int32_t oldWidth = image->width, oldHeight = image->height;
    if (!(image->flags & IMAGE_OWNSPIXELS) || !Image_Resize(image, width, height)) return false;
    const size_t bpp = (size_t)BytesPerPixel(image);
    for (int32_t y = 0; y < height; y++) {
        uint8_t* row = image->pixels + (size_t)y * (size_t)image->stride;
        if (y >= oldHeight) memset(row, 0, bpp * (size_t)width);
        else if (width > oldWidth) memset(row + bpp * (size_t)oldWidth, 0, bpp * (size_t)(width - oldWidth));
    }
    return true;
}

// Brings the image to a size the device takes for a page: its preferred
// size when that is nowhere smaller than the image, otherwise a power-of-two
// square holding the image, which the device must then take as it is.
bool FitToDevice(Image* image, int32_t* width, int32_t* height, int32_t* depth, int32_t* format)
{
    if (!PreferredSize(image, width, height, depth, format)) return false;
    if (*width == image->width && *height == image->height) return true;
    if (*width >= image->width && *height >= image->height) return Pad(image, *width, *height);
    const int32_t larger = image->width > image->height ? image->width : image->height;
    int32_t side = 1;
    while (side < larger && side < kLargestPage) side *= 2;
    if (side < larger || !Pad(image, side, side) || !PreferredSize(image, width, height, depth, format)) return false;
    return *width == side && *height == side;
}

// Fills raster from image and files it in the font's dictionary under the
// page letter. The raster belongs to the dictionary's texture afterwards,
// or is destroyed on failure.
bool AddPage(Font2D* font, Raster* raster, Image* image, char letter)
{
    Texture* texture = Raster_SetFromImage(raster, image) ? Texture_Create(raster) : nullptr;
    if (!texture) {
        Raster_Destroy(raster);
        return false;
    }
    const char name[2] = {letter, '\0'};
    Texture_SetName(texture, name);
    TextureDictionary_AddTexture(font->dictionary, texture);
    return true;
}

Raster* CreatePageRaster(int32_t width, int32_t height, int32_t depth, int32_t format)
{
    return Raster_Create(width, height, depth, (uint32_t)format | kPageFlags);
}

// ---- METRICS1 ----

bool ReadMetrics1(Font2D* font, MetFile* met)
{
    char image[FONT2D_LINE_SIZE + 1], mask[FONT2D_LINE_SIZE + 2];
    if (!NextLine(met)) return true;
    const int fields = sscanf(met->line, "%2560s %2560s", image, mask);
    if (fields < 1) return true;  // no image: a font without glyphs
    if (fields == 1) snprintf(mask, sizeof mask, "m%s", image);
    Image* picture = Image_Read(image);
    if (!Usable(picture)) {
        if (picture) Image_Destroy(picture);
        return false;
    }
    ApplyMaskFile(picture, mask);
    int32_t width, height, depth, format;
    Raster* raster = nullptr;
    if (FitToDevice(picture, &width, &height, &depth, &format)) raster = CreatePageRaster(width, height, depth, format);
    const bool paged = raster && AddPage(font, raster, picture, 'a');
    Image_Destroy(picture);
    if (!paged) return false;

    int32_t baseline = 0;
    if (!NextLine(met)) return true;
    ScanInts(met->line, 10, &baseline, 1);
    int64_t lastHeight = 0;
    while (NextLine(met)) {
        int32_t v[5];
        if (!ScanInts(met->line, 0, v, 5)) continue;
        const int32_t code = v[0], x0 = v[1], y0 = v[2], x1 = v[3], y1 = v[4];
        // A rectangle without height has no width either; the code has no
        // place in the tables.
        if (y1 <= y0 || code < 0 || code > 0xFFFF) continue;
        int32_t index;
        Font2DGlyph* glyph = AddGlyph(font, &index);
        if (!glyph) return false;
        const int64_t glyphHeight = (int64_t)y1 - y0;
        glyph->uMin = (float)x0 / (float)width;
        glyph->vMin = (float)y0 / (float)height;
        glyph->uMax = (float)x1 / (float)width;
        glyph->vMax = (float)y1 / (float)height;
        glyph->width = (float)((double)((int64_t)x1 - x0) / (double)glyphHeight);
        glyph->raster = raster;
        glyph->page = 'a';
        if (!MapCode(font, code, index)) return false;
        lastHeight = glyphHeight;
    }
    font->height = lastHeight > 0 ? (float)lastHeight : 1.0f;
    font->baseline = (float)baseline / font->height;
    return BuildRangeTable(font);
}

// ---- METRICS2 ----

// The characters of the cells, taken one at a time from the lines after a
// page's baseline; a line is read only when a cell needs a character.
struct CellText {
    const char* cursor;  // into met->line; null: read a line first
};

int32_t NextCharacter(MetFile* met, CellText* text)
{
    for (;;) {
        if (text->cursor) {
            const int32_t code = Font2D_DecodeUtf8(&text->cursor);
            if (code >= 0) return code;
        }
        if (!NextLine(met)) {
            text->cursor = nullptr;
            return -1;
        }
        text->cursor = met->line;
    }
}

// Reads one page; *more is cleared when the file holds no further page.
bool ReadPage(Font2D* font, MetFile* met, int32_t page, bool* more)
{
    char image[FONT2D_LINE_SIZE + 1], mask[FONT2D_LINE_SIZE + 1];
    *more = false;
    if (!NextLine(met)) return true;
    const int fields = sscanf(met->line, "%2560s %2560s", image, mask);
    if (fields < 1) return true;
    Image* picture = Image_Read(image);
    int32_t width, height, depth, format;
    Raster* raster = nullptr;
    if (Usable(picture) && picture->height >= 2 && PreferredSize(picture, &width, &height, &depth, &format))
        raster = CreatePageRaster(width, height, depth, format);
    if (!raster) {
        if (picture) Image_Destroy(picture);
        return false;
    }
    int32_t baseline = 0;
    if (NextLine(met)) ScanInts(met->line, 10, &baseline, 1);

    // The delimiter colour is the top-left pixel's; the first row below it
    // that starts with the colour gives the cell height.
    const int32_t bpp = BytesPerPixel(picture), imageWidth = picture->width, imageHeight = picture->height;
    auto pixel = [&](int32_t x, int32_t y) {
        return picture->pixels + (size_t)y * (size_t)picture->stride + (size_t)x * (size_t)bpp;
    };
    const uint8_t* delimiter = pixel(0, 0);
    int32_t cell = 0;
    for (int32_t y = 1; y < imageHeight && !cell; y++)
        if (memcmp(pixel(0, y), delimiter, (size_t)bpp) == 0) cell = y;
    // A cell needs a row of glyph between its two-pixel borders.
    bool ok = cell >= 3;
    const int32_t firstGlyph = font->glyphs->count;
    CellText text = {nullptr};
    for (int32_t y0 = 0; ok && y0 < imageHeight; y0 += cell) {
        int32_t x0 = 0;
        for (int32_t x = 1; ok && x < imageWidth; x++) {
            if (memcmp(pixel(x, y0), delimiter, (size_t)bpp) != 0) continue;
            if (x - x0 == 1) break;  // two delimiters side by side end the row
            // Every cell takes its character, even one too narrow to hold a glyph.
            const int32_t code = NextCharacter(met, &text);
            if (code >= 0 && code <= 0xFFFF && x - x0 > 4) {
                int32_t index;
                Font2DGlyph* glyph = AddGlyph(font, &index);
                ok = glyph != nullptr;
                if (ok) {
                    glyph->uMin = (float)(x0 + 2) / (float)imageWidth;
                    glyph->vMin = (float)(y0 + 2) / (float)imageHeight;
                    glyph->uMax = (float)(x - 2) / (float)imageWidth;
                    glyph->vMax = (float)(y0 + cell - 2) / (float)imageHeight;
                    glyph->width = (float)(x - x0 - 4) / (float)(cell - 2);
                    glyph->raster = raster;
                    glyph->page = (uint8_t)('a' + page);
                    ok = MapCode(font, code, index);
                }
            }
            x0 = x;
        }
    }
    if (ok && fields == 2) {
        // The masked image goes through the bitmap rule (padding), so the
        // coordinates move from image units to raster units.
        Raster_Destroy(raster);
        raster = nullptr;
        ApplyMaskFile(picture, mask);
        if (FitToDevice(picture, &width, &height, &depth, &format))
            raster = CreatePageRaster(width, height, depth, format);
        ok = raster != nullptr;
        const float su = ok ? (float)imageWidth / (float)width : 0.0f;
        const float sv = ok ? (float)imageHeight / (float)height : 0.0f;
        for (int32_t i = firstGlyph; ok && i < font->glyphs->count; i++) {
            Font2DGlyph* glyph = Glyph(font, i);
            glyph->raster = raster;
            glyph->uMin *= su;
            glyph->uMax *= su;
            glyph->vMin *= sv;
            glyph->vMax *= sv;
        }
    }
    if (ok) {
        ok = AddPage(font, raster, picture, (char)('a' + page));
    } else if (raster) {
        Raster_Destroy(raster);
    }
    Image_Destroy(picture);
    if (!ok) return false;
    font->height = (float)(cell - 2);
    font->baseline = (float)baseline / font->height;
    *more = true;
    return true;
}

bool ReadMetrics2(Font2D* font, MetFile* met)
{
    bool more = true;
    for (int32_t page = 0; page < 4 && more; page++)
        if (!ReadPage(font, met, page, &more)) return false;
    return BuildRangeTable(font);
}

// ---- METRICS3 ----

bool FinishOutlineGlyph(Font2D* font, Path2D* path, float width, int32_t code)
{
    // Single nodes (the advance move of a space) draw nothing; a glyph ended
    // without a path has none.
    path = Path2D_RemoveSinglePoints(path);
    if (path) Path2D_Lock(path);
    int32_t index;
    Font2DGlyph* glyph = AddGlyph(font, &index);
    if (!glyph) {
        Path2D_Destroy(path);
        return false;
    }
    glyph->width = width;
    glyph->path = path;
    return MapCode(font, code, index);
}

bool ReadMetrics3(Font2D* font, MetFile* met)
{
    char name[FONT2D_LINE_SIZE + 1];
    // Curves are flattened for the device as the glyphs are read.
    if (!(Toolkit2D_GetFlatness() > 0.0f)) return false;
    font->kind = FONT2D_OUTLINE;
    font->height = 1.0f;
    font->draw = Font2D_DrawStringOutline;
    if (!NextLine(met) || sscanf(met->line, "%2560[^\n]", name) != 1) return true;
    bool named = false;
    int32_t code = 0;
    float width = 0.0f;
    Path2D* path = nullptr;
    bool ok = true;
    while (ok && NextLine(met)) {
        const char* line = met->line;
        if (!named) {
            // The character starts at the line's second byte; none names code 0.
            const char* at = line + 1;
            code = Font2D_DecodeUtf8(&at);
            if (code < 0) code = 0;
            named = true;
            width = 0.0f;
            continue;
        }
        if (strcmp(line, "begin\n") == 0) {
            if (!path) ok = (path = Path2D_Create()) != nullptr;
            continue;
        }
        if (strcmp(line, "end\n") == 0) {
            // An end without a begin still ends the character: it becomes
            // an empty glyph, and the next line names the next one.
            ok = FinishOutlineGlyph(font, path, width, code);
            path = nullptr;
            named = false;
            continue;
        }
        if (!path) continue;
        // The advance is the first number of the last move, line or curve.
        float v[6];
        Path2D* done;
        if (sscanf(line, "moveto %f %f", &v[0], &v[1]) == 2 && InRange(v, 2))
            done = Path2D_MoveTo(path, width = v[0], v[1]);
        else if (sscanf(line, "lineto %f %f", &v[0], &v[1]) == 2 && InRange(v, 2))
            done = Path2D_LineTo(path, width = v[0], v[1]);
        else if (sscanf(line, "curveto %f %f %f %f %f %f", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) == 6 &&
                 InRange(v, 6))
            done = Path2D_CurveTo(path, width = v[0], v[1], v[2], v[3], v[4], v[5]);
        else if (strcmp(line, "closepath\n") == 0) done = Path2D_ClosePath(path);
        else continue;
        ok = done && Path2D_FlattenInPlace(path);
    }
    // A glyph the file leaves open is dropped.
    if (path) Path2D_Destroy(path);
    return ok && BuildRangeTable(font);
}

// ---- Files ----

// Opens folder + name + ".met" for the folders of the font path in order.
void* OpenAlongPath(FileInterface* io, const char* name)
{
    const size_t nameLength = strlen(name);
    for (const char* folder = g_fonts.path;;) {
        const char* end = strchr(folder, ';');
        const size_t folderLength = end ? (size_t)(end - folder) : strlen(folder);
        char* full = (char*)Engine_Malloc(folderLength + nameLength + 5);
        if (!full) return nullptr;
        memcpy(full, folder, folderLength);
        memcpy(full + folderLength, name, nameLength);
        memcpy(full + folderLength + nameLength, ".met", 5);
        void* file = io->open(full, "r");
        Engine_Free(full);
        if (file) return file;
        if (!end) return nullptr;
        folder = end + 1;
    }
}

Font2D* NewFont()
{
    Font2D* font = (Font2D*)FreeList_Alloc(g_fonts.fonts);
    if (!font) return nullptr;
    memset(font, 0, sizeof(*font));
    font->kind = FONT2D_BITMAP;
    font->height = 1.0f;
    for (int16_t& entry : font->map) entry = -1;
    font->draw = Font2D_DrawStringBitmap;
    font->dictionary = TextureDictionary_Create();
    font->glyphs = ArrayList_Create((int32_t)sizeof(Font2DGlyph));
    if (!font->dictionary || !font->glyphs) {
        Font2D_Destroy(font);
        return nullptr;
    }
    return font;
}

void DestroyLeftover(void* entry, void*) { Font2D_Destroy((Font2D*)entry); }

// Calls fn(glyph) for every character of string that has a glyph.
template <typename Fn>
void ForEachGlyph(const Font2D* font, const void* string, Fn fn)
{
    const uint8_t* s = (const uint8_t*)string;
    const bool wide = font->flags & FONT2D_WIDE;
    for (;;) {
        int32_t code;
        if (wide) {
            code = s[0] | s[1] << 8;
            s += 2;
        } else {
            code = *s++;
        }
        if (code == 0) return;
        const int32_t index = Font2D_FindGlyph(font, code);
        if (index >= 0) fn(*Glyph(font, index));
    }
}

// Moves the CTM to the string's own space: the anchor, one unit per height,
// the base line at y = 0.
void EnterStringSpace(const Font2D* font, const Vec2* anchor, float height)
{
    Ctm2D_Translate(anchor->x, anchor->y);
    Ctm2D_Scale(height, height);
    Ctm2D_Translate(0.0f, -font->baseline);
}

}  // namespace

void Font2D_SetFreeListParams(int32_t perBlock, int32_t preallocBlocks)
{
    if (g_fonts.open) return;
    if (perBlock > 0) g_fontsPerBlock = perBlock;
    if (preallocBlocks >= 0) g_fontBlocks = preallocBlocks;
}

int32_t Font2D_ModuleOpen(void)
{
    if (g_fonts.open) return 0;
    g_fonts.fonts = FreeList_CreateEx((int32_t)sizeof(Font2D), g_fontsPerBlock, 8, g_fontBlocks, nullptr);
    if (!g_fonts.fonts) return 0;
    g_fonts.open = 1;
    if (!Font2D_SetPath("fonts\\")) {
        Font2D_ModuleClose();
        return 0;
    }
    g_fonts.reader = Font2D_ReadMetricsFile;
    for (int32_t q = 0; q < kQuadsPerBatch; q++) {
        const uint16_t v = (uint16_t)(4 * q);
        const uint16_t quad[6] = {v, (uint16_t)(v + 2), (uint16_t)(v + 3), v, (uint16_t)(v + 3), (uint16_t)(v + 1)};
        memcpy(&g_fonts.quadIndices[6 * q], quad, sizeof quad);
    }
    return 1;
}

int32_t Font2D_ModuleClose(void)
{
    if (g_fonts.fonts) {
        FreeList_ForAllUsed(g_fonts.fonts, DestroyLeftover, nullptr);
        FreeList_Destroy(g_fonts.fonts);
    }
    if (g_fonts.path) Engine_Free(g_fonts.path);
    if (g_fonts.codes) Engine_Free(g_fonts.codes);
    g_fonts = Font2DModule{};
    return 1;
}

const char* Font2D_SetPath(const char* path)
{
    if (!g_fonts.open || !path) return nullptr;
    const size_t size = strlen(path) + 1;
    char* copy = (char*)Engine_Malloc(size);
    if (!copy) return nullptr;
    memcpy(copy, path, size);
    if (g_fonts.path) Engine_Free(g_fonts.path);
    g_fonts.path = copy;
    return copy;
}

Font2D* Font2D_Read(const char* name) { return g_fonts.open && g_fonts.reader ? g_fonts.reader(name) : nullptr; }

Font2D* Font2D_ReadMetricsFile(const char* name)
{
    HELM_ASSERT(name);
    if (!g_fonts.open) return nullptr;
    FileInterface* io = FileSystem_GetInterface();
    void* file = OpenAlongPath(io, name);
    if (!file) return nullptr;
    Font2D* font = NewFont();
    // Page images are looked for where the metrics are.
    bool ok = font && Image_SetPath(g_fonts.path);
    MetFile met;
    met.io = io;
    met.file = file;
    met.ended = false;
    if (ok && NextLine(&met)) {
        if (strcmp(met.line, "METRICS1\n") == 0) ok = ReadMetrics1(font, &met);
        else if (strcmp(met.line, "METRICS2\n") == 0) ok = ReadMetrics2(font, &met);
        else if (strcmp(met.line, "METRICS3\n") == 0) ok = ReadMetrics3(font, &met);
        else ok = false;
    } else {
        ok = false;
    }
    io->close(file);
    ResetCodes();
    if (!ok && font) {
        Font2D_Destroy(font);
        font = nullptr;
    }
    return font;
}

int32_t Font2D_Destroy(Font2D* font)
{
    HELM_ASSERT(font);
    if (font->glyphs) {
        for (int32_t i = 0; i < font->glyphs->count; i++)
            if (Glyph(font, i)->path) Path2D_Destroy(Glyph(font, i)->path);
        ArrayList_Destroy(font->glyphs);
    }
    if (font->range) Engine_Free(font->range);
    if (font->dictionary) TextureDictionary_Destroy(font->dictionary);
    FreeList_Free(g_fonts.fonts, font);
    return 1;
}

Font2D* Font2D_SetIntergap(Font2D* font, float gap)
{
    HELM_ASSERT(font);
    font->intergap = gap;
    return font;
}

int32_t Font2D_FindGlyph(const Font2D* font, int32_t code)
{
    HELM_ASSERT(font);
    if (code < 0) return -1;
    if (code < 128) return font->map[code];
    const int32_t at = code - font->rangeBase;
    return font->range && at >= 0 && at < font->rangeCount ? font->range[at] : -1;
}

int32_t Font2D_DecodeUtf8(const char** text)
{
    const uint8_t* s = (const uint8_t*)*text;
    const uint32_t lead = s[0];
    if (lead == 0 || lead == '\n') return -1;
    int32_t length;
    uint32_t code;
    if (lead < 0x80) {
        length = 1;
        code = lead;
    } else if (lead < 0xC0) {
        length = 1;  // a continuation byte cannot start a character
        code = lead;
    } else if (lead < 0xE0) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead < 0xF0) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead < 0xF8) {
        length = 4;
        code = lead & 0x07;
    } else if (lead < 0xFC) {
        length = 5;
        code = lead & 0x03;
    } else {
        length = 6;
        code = lead & 0x01;
    }
    for (int32_t i = 1; i < length; i++) {
        // A sequence cut short stays a character of the lead byte alone, so
        // the bytes after it start characters of their own.
        if ((s[i] & 0xC0) != 0x80) {
            *text += 1;
            return (int32_t)lead;
        }
        code = code << 6 | (s[i] & 0x3F);
    }
    *text += length;
    return (int32_t)code;
}

float Font2D_GetStringWidth(const Font2D* font, const void* string, float height)
{
    HELM_ASSERT(font && string);
    float width = 0.0f;
    ForEachGlyph(font, string, [&](const Font2DGlyph& glyph) { width += glyph.width + font->intergap; });
    return width * height;
}

float Font2D_GetHeight(const Font2D* font)
{
    HELM_ASSERT(font);
    Vec2 b;
    if (!Toolkit2D_GetDeviceAxes(nullptr, &b, nullptr)) return 0.0f;
    return font->height * std::sqrt(b.x * b.x + b.y * b.y);
}

Font2D* Font2D_DrawString(Font2D* font, const void* string, float height, Vec2* anchor, Brush2D* brush)
{
    HELM_ASSERT(font && font->draw);
    return font->draw(font, string, height, anchor, brush);
}

Font2D* Font2D_DrawStringBitmap(Font2D* font, const void* string, float height, Vec2* anchor, Brush2D* brush)
{
    HELM_ASSERT(font && string && anchor && brush);
    Im3DVertex* vertices = Brush2D_GetVertexBuffer();
    if (!vertices) return nullptr;
    Ctm2DMark mark;
    Ctm2D_BeginMark(&mark);
    EnterStringSpace(font, anchor, height);
    const Matrix* world = Ctm2D_GetCombined();
    if (!world) {
        Ctm2D_EndMark(&mark);
        return nullptr;
    }
    // t runs from 0 to 1 along the string for brushes whose colours vary.
    const float total = Font2D_GetStringWidth(font, string, 1.0f);
    const float scale = total > 0.0f && std::isfinite(1.0f / total) ? 1.0f / total : 0.0f;
    const bool vary = brush->flags & BRUSH2D_COLOURS_VARY;
    const uint32_t constant = Brush2D_Pack(&brush->colour);
    const float z = Toolkit2D_GetDepth();
    int32_t quads = 0;
    auto flush = [&]() {
        if (quads && Im3D_Transform(vertices, (uint32_t)(4 * quads), world, IM3D_TEXTURED | IM3D_NOCLIP)) {
            Im3D_RenderIndexedPrimitive(3, g_fonts.quadIndices, 6 * quads);
            Im3D_End();
        }
        quads = 0;
    };
    const Raster* raster = nullptr;
    bool started = false;
    float pen = 0.0f;
    // The brush is only read: its texture coordinates take no part in text
    // (the glyphs carry their own), and it is left as the caller set it.
    ForEachGlyph(font, string, [&](const Font2DGlyph& glyph) {
        const bool newRaster = !started || glyph.raster != raster;
        if (newRaster || quads >= kQuadsPerBatch) flush();
        if (newRaster) {
            raster = glyph.raster;
            RenderState_Set(1, glyph.raster);
            started = true;
        }
        const float right = pen + glyph.width;
        const float tl = pen * scale, tr = right * scale;
        const uint32_t baseLeft = vary ? Brush2D_SideColour(&brush->side2, tl) : constant;
        const uint32_t topLeft = vary ? Brush2D_SideColour(&brush->side1, tl) : constant;
        const uint32_t baseRight = vary ? Brush2D_SideColour(&brush->side2, tr) : constant;
        const uint32_t topRight = vary ? Brush2D_SideColour(&brush->side1, tr) : constant;
        Im3DVertex* v = vertices + 4 * quads;
        v[0] = {pen, 0.0f, z, 0, 0, 0, baseLeft, glyph.uMin, glyph.vMax};
        v[1] = {pen, 1.0f, z, 0, 0, 0, topLeft, glyph.uMin, glyph.vMin};
        v[2] = {right, 0.0f, z, 0, 0, 0, baseRight, glyph.uMax, glyph.vMax};
        v[3] = {right, 1.0f, z, 0, 0, 0, topRight, glyph.uMax, glyph.vMin};
        quads++;
        pen = right + font->intergap;
    });
    flush();
    anchor->x += pen * height;
    Ctm2D_EndMark(&mark);
    return font;
}

Font2D* Font2D_DrawStringOutline(Font2D* font, const void* string, float height, Vec2* anchor, Brush2D* brush)
{
    HELM_ASSERT(font && string && anchor && brush);
    Ctm2DMark mark;
    Ctm2D_BeginMark(&mark);
    EnterStringSpace(font, anchor, height);
    if (!Ctm2D_GetCombined()) {
        Ctm2D_EndMark(&mark);
        return nullptr;
    }
    ForEachGlyph(font, string, [&](const Font2DGlyph& glyph) {
        if (glyph.raster) return;
        if (glyph.path) Path2D_Stroke(glyph.path, brush);
        Ctm2D_Translate(font->intergap + glyph.width, 0.0f);
    });
    Ctm2D_EndMark(&mark);
    return font;
}

int32_t Font2D_Validate(const Font2D* font)
{
    if (!font || !font->glyphs || !font->dictionary) return 0;
    const int32_t count = font->glyphs->count;
    if (count > FONT2D_MAX_GLYPHS) return 0;
    for (int16_t entry : font->map)
        if (entry < -1 || entry >= count) return 0;
    if ((font->range != nullptr) != (font->rangeCount > 0)) return 0;
    if (font->range) {
        if (font->rangeBase < 128 || font->rangeBase + font->rangeCount - 1 > 0xFFFF || !(font->flags & FONT2D_WIDE))
            return 0;
        for (int32_t i = 0; i < font->rangeCount; i++)
            if (font->range[i] < -1 || font->range[i] >= count) return 0;
    }
    for (int32_t i = 0; i < count; i++) {
        const Font2DGlyph* glyph = Glyph(font, i);
        if (glyph->path && (glyph->path->lockedCount < 0 || !Path2D_Validate(glyph->path))) return 0;
        if (!glyph->raster) continue;
        // A bitmap glyph's raster is one of the font's own pages.
        struct Search {
            const Raster* raster;
            bool found;
        } search = {glyph->raster, false};
        TextureDictionary_ForAllTextures(
            font->dictionary,
            [](Texture* texture, void* data) -> Texture* {
                Search* s = (Search*)data;
                s->found = s->found || texture->raster == s->raster;
                return texture;
            },
            &search);
        if (!search.found) return 0;
    }
    return 1;
}
