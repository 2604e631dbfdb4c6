// 2D quad batches: untextured screen quads for 2D effects, collected and
// drawn in two passes. Quads of the second pass are drawn first, without
// depth test or write; those of the first pass then with both on.
//
// A batch belongs to its creator (QuadBatch_Create .. QuadBatch_Destroy).
// Main thread only.
#pragma once

#include <cstdint>

#include "engine/screenvertex.h"

enum : uint32_t {
    QUADBATCH_SECOND_PASS = 1,  // QuadBatch_AddQuad flag
};

struct QuadBatch {
    ScreenVertex* vertices[2];  // first and second pass: two triangles (6 vertices) per quad
    uint32_t capacity[2];       // vertices
    uint32_t count[2];          // vertices
    uint32_t enabled;           // 0: the flush draws nothing (1 at creation)
    uint32_t additive;          // blend one, one instead of alpha (0 at creation)
};

// A batch with room for the given numbers of quads in each pass; null when
// memory runs out.
QuadBatch* QuadBatch_Create(uint32_t firstPassQuads, uint32_t secondPassQuads);
// Null is ignored.
void QuadBatch_Destroy(QuadBatch* batch);
// The screen rectangle (x0, y0) .. (x1, y1) in pixels of the current camera
// raster, packed colour a r g b, in the pass flags selects. 1 added, 0 when
// that pass is full.
int QuadBatch_AddQuad(QuadBatch* batch, float x0, float y0, float x1, float y1, uint32_t colour, uint32_t flags);
// Inside an open camera update, when enabled and not empty: texture none,
// shading 2, vertex alpha on, blend source alpha / inverse source alpha (one
// / one when additive); Z test and write off for the second pass, then on
// for the first; both counts go back to 0 (also when disabled).
void QuadBatch_Flush(QuadBatch* batch);
// Both counts to 0.
void QuadBatch_Reset(QuadBatch* batch);
