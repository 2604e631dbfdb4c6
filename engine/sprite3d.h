// 3D sprites: the textures of the camera-facing and oriented quads of the
// billboard batch (particles, flares, object shadows). A sprite's image holds
// its animation frames stacked vertically, all of one frame height; its
// blend mode picks the blend factors and the two depth switches its quads
// are drawn with.
//
// Sprites live from Sprite3d_LoadSprite (or Sprite3d_Clone) to
// Sprite3d_Release or Sprite3d_Shutdown. Each holds one reference on its
// texture. Main thread only.
#pragma once

#include <cstdint>

struct List;
struct Raster;
struct Texture;

// The graphics engine's blend factors as the blend table uses them.
enum : uint32_t {
    SPRITE3D_BLEND_ZERO = 1,
    SPRITE3D_BLEND_ONE = 2,
    SPRITE3D_BLEND_INVSRCCOLOUR = 4,
    SPRITE3D_BLEND_SRCALPHA = 5,
    SPRITE3D_BLEND_INVSRCALPHA = 6,
};

struct Sprite3d {
    Texture* texture;     // one reference, owned
    Raster* raster;       // the texture's
    float width, height;  // pixels of the whole image
    uint32_t frameCount;  // image height / frame height
    float frameFraction;  // 1 / frameCount: one frame's share of v
    uint32_t srcBlend;    // SPRITE3D_BLEND_*
    uint32_t destBlend;
    uint32_t zWrite;       // switch 1: the quads write depth
    uint32_t zTest;        // switch 2: the quads are depth-tested
    uint32_t renderValue;  // always 3; nothing reads it
};

// Blend modes of Sprite3d_LoadSprite (source, destination, Z write, Z test):
//   0 one, one (additive; "Spinkle" particles, flares), Z test
//   1 zero, inverse source colour (subtractive: shadows), Z test
//   2 source alpha, inverse source alpha ("Smoke"), Z test
//   3 one, one, neither switch
//   5 source alpha, inverse source alpha, Z write and test
//   6 source alpha, inverse source alpha, Z write only
//   any other: one, zero (opaque), Z write and test
void Sprite3d_SetBlendMode(Sprite3d* sprite, uint32_t mode);

// The sprite pool and the billboard batch (capacity 500). 1, or 0 when
// memory runs out (nothing left made).
int Sprite3d_Init(void);
// Releases every sprite, clears the queue, resets the batch and frees the
// pool and the batch.
void Sprite3d_Shutdown(void);
// The pool (its capacity is the caller's: List_SetBlockSize before the first
// load), or null outside Init .. Shutdown.
List* Sprite3d_GetPool(void);

// Reads the texture of the data name path (with its mask image; mask may be
// null) through the texture reader, from the data folder. Null when it can't be read, when its height is not a whole
// multiple of frameHeight (or frameHeight is 0), or when the pool is full;
// nothing is kept then.
Sprite3d* Sprite3d_LoadSprite(const char* path, const char* mask, uint32_t frameHeight, uint32_t blendMode);
// A copy sharing the texture (one more reference); null when the pool is
// full or sprite is null.
Sprite3d* Sprite3d_Clone(const Sprite3d* sprite);
// Drops the sprite's texture reference and frees the record. Null is ignored.
void Sprite3d_Release(Sprite3d* sprite);

// Clears the per-frame queue of 3D sprites. No function queues a sprite
// (3D sprites reach the screen as billboard quads), so the queue is always
// empty; the state stack still clears it after every rendered state.
void Sprite3d_ClearQueue(void);
uint32_t Sprite3d_GetQueueCount(void);
