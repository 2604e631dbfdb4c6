// 2D sprites: images drawn as screen quads at positions of the 640 x 480
// virtual screen (logos, HUD pictures, menu art), or blank coloured
// rectangles.
//
// A loaded sprite is read from a BMP or PNG data file into a texture raster
// of the image's size (32-bit for ".bmp", the device's default format
// otherwise). An image larger than the device's largest texture is halved,
// as often as it takes, and kept as a 16-bit raster (1555). Loads may share a
// sprite by path through the sprite registry (a name cache): the sprite then
// lives until its last release.
//
// The draw: four triangles around a centre vertex (the centre takes the
// sprite's second colour, the corners its first), texture coordinates from
// 0.5 / size to 1 - 0.5 / size so texels are sampled at their centres,
// linear filtering, clamped addressing, blend by the sprite's mode, depth
// test and write on at the near screen depth. Triangles are wound to
// survive the default culling. Draws run inside an open camera update.
// Main thread only.
#pragma once

#include <cstdint>

struct Image;
struct List;
struct NameCache;
struct Raster;
struct Texture;

enum : uint32_t {
    SPRITE_LOADED = 1,  // read from an image file
    SPRITE_BLANK = 4,   // a coloured rectangle without raster
    SPRITE_BMP = 8,     // the file was a ".bmp"
};

enum : uint32_t {
    SPRITE_BLEND_ALPHA = 0,        // source alpha, inverse source alpha
    SPRITE_BLEND_SUBTRACTIVE = 1,  // zero, inverse source colour
    SPRITE_BLEND_ADDITIVE = 2,     // one, one
};

struct SpriteFrame {
    Raster* raster;          // drawn for this frame (the sprite's raster); null for a blank sprite
    float offsetX, offsetY;  // from the sprite's position, virtual pixels
};

struct Sprite {
    uint32_t flags;      // SPRITE_LOADED, SPRITE_BLANK, SPRITE_BMP
    uint32_t blendMode;  // SPRITE_BLEND_*
    Texture* texture;    // when the sprite shows a texture (owned); null otherwise
    Image* image;        // only during the load
    Raster* raster;      // owned
    SpriteFrame frames[1];
    float width, height;  // drawn size, virtual pixels (the image size)
    uint8_t frameCount;   // 1
    uint32_t pixelWidth;  // the image's size, or the size given for a blank sprite
    uint32_t pixelHeight;
    uint32_t colours[2];  // packed a r g b: corners, centre
};

// The pool and the registry; the virtual screen on. 1, or 0 when memory
// runs out (nothing left made).
int Sprite_Init(void);
// Frees every sprite (whatever references remain), the registry and the pool.
void Sprite_Shutdown(void);
// The pool (capacity set by the caller before the first sprite) and the
// registry, or null outside Init .. Shutdown.
List* Sprite_GetPool(void);
NameCache* Sprite_GetCache(void);
// On (at start): draw positions are virtual-screen pixels; off: device pixels.
void Sprite_SetVirtualScreen(int on);

// The sprite of the image data file path. shared: the registry's sprite of
// that path with one more reference when it was loaded shared before; a new
// one is added to the registry. Null when the image can't be read or the
// raster can't be made (nothing kept).
Sprite* Sprite_Load(const char* path, int32_t shared);
// A blank sprite of width x height virtual pixels in the packed colour
// (both colours). Null when the pool is full or colour is null.
Sprite* Sprite_CreateBlank(const uint32_t* colour, int32_t width, int32_t height);
// Drops one reference; the last (or the only one, for an unshared sprite)
// frees the raster, the texture and the record. Null is ignored.
void Sprite_Release(Sprite* sprite);

void Sprite_SetBlendMode(Sprite* sprite, uint32_t mode);
float Sprite_GetWidth(const Sprite* sprite);
float Sprite_GetHeight(const Sprite* sprite);
// Alpha byte of both colours = a (clamped to 0..1) x 255, truncated; the
// colour is kept.
void Sprite_SetAlpha(Sprite* sprite, float alpha);
// Both colours from r, g, b, a (0..1, clamped, x 255 truncated).
void Sprite_SetColour(Sprite* sprite, float red, float green, float blue, float alpha);

// Draws frame `frame` (0 when out of range). source: the pixel rectangle
// (x, y, width, height) of the image to show, or null for all of it.
// destination: (x, y, width, height) on the screen, or null for the whole
// screen.
void Sprite_Draw(Sprite* sprite, uint32_t frame, const float* source, const float* destination);
// Draws every frame at (x, y) plus its offset, at the sprite's size. Edge
// mode 1: a negative x counts from the right edge (x + 640) and a negative
// y from the lower edge.
void Sprite_DrawAt(Sprite* sprite, float x, float y, int32_t edge);
// Frame 0, the whole image, into the destination (null: the whole screen).
void Sprite_DrawSimple(Sprite* sprite, const float* destination);
