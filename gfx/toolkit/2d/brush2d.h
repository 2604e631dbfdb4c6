// Brushes: the colours, texture coordinates, texture and half-width with
// which strokes and text are drawn, and the vertex buffer both share.
//
// A brush has two sides. A stroke's left edge takes side 1 and its right
// edge side 2, each interpolated along the path by t = running length /
// total length (start + delta x t); text takes side 1 on its top edge and
// side 2 on its base line, t running along the string. A brush whose four
// corner colours are equal draws one constant colour.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct Texture;
struct Im3DVertex;

// A colour as four bytes, 0..255.
struct Brush2DColour {
    uint8_t red, green, blue, alpha;
};

// One side of a brush: colours as floats 0..255 (red, green, blue, alpha).
struct Brush2DSide {
    float colour[4];
    Vec2 uv;
    float colourDelta[4];
    Vec2 uvDelta;
};

struct Brush2D {
    Brush2DSide side1;
    Brush2DSide side2;
    Brush2DColour colour;  // the constant colour (corner 4)
    uint32_t flags;        // BRUSH2D_*
    Texture* texture;      // one reference owned by the brush, or null
    float halfWidth;       // half the stroke width in user units
    int32_t refCount;
};

enum : uint32_t {
    BRUSH2D_COLOURS_VARY = 1,
    BRUSH2D_UVS_VARY = 2,
};

enum : int32_t { BRUSH2D_VERTEX_CAPACITY = 256 };

// The brush free list and the shared vertex buffer; 1, or 0 when memory runs
// out (nothing left allocated). Close destroys the brushes still alive.
int32_t Brush2D_ModuleOpen(void);
int32_t Brush2D_ModuleClose(void);

// Every brush and colour argument must be given (a null one is a broken
// contract).
//
// White in all four corners, texture coordinates (0, 0), no texture,
// half-width 0.5, one reference. Null when the module is closed or its free
// list cannot grow.
Brush2D* Brush2D_Create(void);
// Drops one reference: 1 when that was the last one (the brush's texture
// reference is released and the record freed), else 0.
int32_t Brush2D_Destroy(Brush2D* brush);
// Corners c1..c4: side 1 runs from c4 to c3, side 2 from c1 to c2; c4 is the
// constant colour. The colours vary unless both deltas are zero and the two
// starts are equal.
Brush2D* Brush2D_SetColours(Brush2D* brush, const Brush2DColour* c1, const Brush2DColour* c2, const Brush2DColour* c3,
                            const Brush2DColour* c4);
// Corners t1..t4, laid out like the colours; they vary unless both deltas
// are zero (the starts are not compared).
Brush2D* Brush2D_SetUVs(Brush2D* brush, const Vec2* t1, const Vec2* t2, const Vec2* t3, const Vec2* t4);
// Takes a reference to texture (null: no texture) and releases the one the
// brush held.
Brush2D* Brush2D_SetTexture(Brush2D* brush, Texture* texture);
Brush2D* Brush2D_SetHalfWidth(Brush2D* brush, float halfWidth);

// For strokes and text.

// The shared buffer of BRUSH2D_VERTEX_CAPACITY immediate-mode vertices; null
// while the module is closed.
Im3DVertex* Brush2D_GetVertexBuffer(void);
// A colour packed as A8R8G8B8.
uint32_t Brush2D_Pack(const Brush2DColour* colour);
// Side colour at t, each component rounded to the nearest integer, packed.
uint32_t Brush2D_SideColour(const Brush2DSide* side, float t);
