// The billboard batch: the textured quads of one frame (particles, flares,
// object shadows), collected while the world is updated and drawn together
// at the end of each view.
//
// Two kinds of quad:
//   facing quads turn to the camera. The draw rebuilds their corners from
//     the camera of the view being drawn, so every split-screen view sees
//     them face it; the corners stored at the add (from the camera given
//     then) are that camera's;
//   oriented quads lie in a plane given by a normal and a forward direction
//     (ground shadows) and are drawn at their stored corners.
// The batch has a fixed capacity. When it is full a new quad is dropped, or,
// with the wrap switch on, overwrites the ring slot (the ring position runs
// 0, 1, ... modulo the capacity). The state stack empties the batch after
// every rendered state (Billboard_ResetCounts).
//
// The draw (Billboard_Draw, called by the view after its transparent pass):
// nothing while the active switch is off; quads whose centre is farther than
// the batch's distance (300) from the camera are left out; the others are
// grouped by sort key (equal material, equal key), farthest first within a
// key, the groups in the order their first quads were added (the same
// picture on every run), and each key's quads are drawn as one
// immediate-mode 3D batch of two
// triangles per quad, with culling off (the two triangles of a quad have
// opposite windings), the sprite's texture, blend factors, Z write (switch
// 1) and Z test (switch 2). For the subtractive factors (zero, inverse
// source colour) the vertex colour is multiplied by its alpha, so a shadow
// of colour (1, 1, 1, 0.25) darkens the ground by a quarter of its texture.
// Fog is off for the quads; the states the draw changes are put back after.
//
// One batch for the program (made by Sprite3d_Init); main thread only.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct Sprite3d;

enum : uint32_t {
    BILLBOARD_DEFAULT_CAPACITY = 500,
    BILLBOARD_MAX_CAPACITY = 16384,  // vertex indices are 16-bit
};

struct BillboardVertex {
    Vec3 position;
    uint32_t colour;  // packed a r g b
    float u, v;
};

struct BillboardQuad {
    uint32_t sortKey;     // hash of the material text: equal material, equal key
    Sprite3d* sprite;     // not owned
    uint32_t frame;       // animation frame of the sprite
    uint16_t indices[6];  // 4i, 4i+1, 4i+2, 4i+1, 4i+2, 4i+3
    Vec3 centre;
    // Facing quads: offsets from the centre, in the order top-left,
    // top-right, bottom-left, bottom-right; oriented quads: the absolute
    // corners centre - R + A, centre + R + A, centre - R - A, centre + R - A.
    Vec3 corners[4];
    float halfWidth, halfHeight;  // for rebuilding facing corners per view
    uint32_t oriented;            // 1: an oriented quad
    BillboardVertex* vertices;    // the quad's four in the batch's array
};

struct BillboardBatch {
    BillboardQuad* quads;       // capacity
    uint16_t* sortList;         // indices of the quads added, in order
    BillboardVertex* vertices;  // 4 per quad
    uint32_t capacity;
    uint32_t quadCount;
    uint32_t vertexCount;
    uint32_t wrap;          // full: overwrite the ring slot instead of dropping
    uint32_t ringPosition;  // next slot to overwrite
    uint32_t active;        // 0: the draw draws nothing (1 at creation)
    float distance;         // quads farther from the camera are not drawn (300)
};

// Makes the batch (capacity clamped to 1 .. BILLBOARD_MAX_CAPACITY), after
// freeing one made before. 1, or 0 when memory runs out (no batch then).
int Billboard_Init(uint32_t capacity);
void Billboard_Shutdown(void);
// The batch, or null outside Init .. Shutdown.
BillboardBatch* Billboard_GetBatch(void);
// Zeroes every array and count.
void Billboard_Reset(void);
// Quad, vertex and ring counts to 0 (after each rendered state).
void Billboard_ResetCounts(void);
void Billboard_SetWrap(int on);
void Billboard_SetActive(int on);

// A camera-facing quad of sprite frame `frame` (0 when frame >= the sprite's
// frame count) at centre, size (width, height) in world units, colour rgba
// bytes. camera: world matrix whose right and up rows turn the quad (null:
// the world axes). 1 added, 0 dropped (full without wrap, no batch, null
// sprite).
int Billboard_AddFacing(Sprite3d* sprite, const Vec3* centre, const uint8_t* rgba, const Mat4* camera,
                        const float* size, uint32_t frame);
// A quad in the plane of normal (up) and forward (at), orthonormalised,
// size (width across, height along forward), colour rgba 0..1 (x 255,
// truncated, clamped). 1 added, 0 dropped.
int Billboard_AddOriented(Sprite3d* sprite, const Vec3* centre, const Vec3* normal, const Vec3* forward,
                          const float* rgba, const float* size, uint32_t frame);
// The sort key of a sprite's frame.
uint32_t Billboard_SortKey(const Sprite3d* sprite, uint32_t frame);

// Draws the batch for the camera whose world matrix is given (rows right,
// up, at, position), inside an open camera update. Returns the quads drawn.
uint32_t Billboard_Draw(const Mat4* camera);
