#include "engine/quadbatch.h"

#include "common/memory.h"
#include "gfx/core/im2d.h"
#include "gfx/core/renderstate.h"

namespace {

void SetState(int32_t state, uint32_t value) { RenderState_Set(state, (void*)(uintptr_t)value); }

}  // namespace

QuadBatch* QuadBatch_Create(uint32_t firstPassQuads, uint32_t secondPassQuads)
{
    QuadBatch* batch = (QuadBatch*)Mem_Calloc(sizeof(QuadBatch), 8);
    if (!batch) return nullptr;
    const uint32_t quads[2] = {firstPassQuads, secondPassQuads};
    for (int pass = 0; pass < 2; pass++) {
        batch->capacity[pass] = quads[pass] * 6;
        batch->vertices[pass] = (ScreenVertex*)Mem_Calloc(sizeof(ScreenVertex) * (batch->capacity[pass] + 1));
        if (!batch->vertices[pass]) {
            QuadBatch_Destroy(batch);
            return nullptr;
        }
    }
    batch->enabled = 1;
    return batch;
}

void QuadBatch_Destroy(QuadBatch* batch)
{
    if (!batch) return;
    Mem_Free(batch->vertices[0]);
    Mem_Free(batch->vertices[1]);
    Mem_Free(batch);
}

int QuadBatch_AddQuad(QuadBatch* batch, float x0, float y0, float x1, float y1, uint32_t colour, uint32_t flags)
{
    const int pass = (flags & QUADBATCH_SECOND_PASS) ? 1 : 0;
    if (!batch || batch->count[pass] + 6 > batch->capacity[pass]) return 0;
    const float z = Im2D_GetNearScreenZ();
    // Two triangles, each counter-clockwise on the screen.
    const float corners[6][2] = {{x0, y0}, {x0, y1}, {x1, y0}, {x1, y0}, {x0, y1}, {x1, y1}};
    ScreenVertex* v = batch->vertices[pass] + batch->count[pass];
    for (int k = 0; k < 6; k++) v[k] = ScreenVertex{corners[k][0], corners[k][1], z, 1.0f, colour, 0.0f, 0.0f};
    batch->count[pass] += 6;
    return 1;
}

void QuadBatch_Flush(QuadBatch* batch)
{
    if (!batch) return;
    if (batch->enabled && (batch->count[0] || batch->count[1])) {
        RenderState_Set(1, nullptr);
        SetState(7, 2);
        SetState(6, 0);
        SetState(8, 0);
        SetState(12, 1);
        SetState(10, batch->additive ? 2 : 5);
        SetState(11, batch->additive ? 2 : 6);
        if (batch->count[1]) Im2D_RenderPrimitive(3, batch->vertices[1], (int32_t)batch->count[1]);
        SetState(6, 1);
        SetState(8, 1);
        if (batch->count[0]) Im2D_RenderPrimitive(3, batch->vertices[0], (int32_t)batch->count[0]);
    }
    QuadBatch_Reset(batch);
}

void QuadBatch_Reset(QuadBatch* batch)
{
    if (batch) batch->count[0] = batch->count[1] = 0;
}
