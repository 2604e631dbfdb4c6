#include "gfx/toolkit/2d/brush2d.h"

#include <cmath>
#include <cstring>

#include "common/assert.h"
#include "gfx/core/engine.h"
#include "gfx/core/freelist.h"
#include "gfx/core/im3d.h"
#include "gfx/core/texture.h"

namespace {

struct Brush2DModule {
    FreeList* brushes;
    Im3DVertex* vertices;
};

Brush2DModule g_brushes;

void ReleaseTexture(Brush2D* brush)
{
    if (brush->texture) Texture_Destroy(brush->texture);
    brush->texture = nullptr;
}

void DestroyLeftover(void* entry, void* data)
{
    ReleaseTexture((Brush2D*)entry);
    FreeList_Free((FreeList*)data, entry);
}

// Side from start s running to end e.
void SetSideColours(Brush2DSide* side, const Brush2DColour* s, const Brush2DColour* e)
{
    const uint8_t start[4] = {s->red, s->green, s->blue, s->alpha};
    const uint8_t end[4] = {e->red, e->green, e->blue, e->alpha};
    for (int i = 0; i < 4; i++) {
        side->colour[i] = start[i];
        side->colourDelta[i] = (float)end[i] - (float)start[i];
    }
}

bool ZeroDelta(const float* delta, int n)
{
    for (int i = 0; i < n; i++)
        if (delta[i] != 0.0f) return false;
    return true;
}

uint8_t RoundChannel(float v)
{
    // t may stray a little outside 0..1 through rounding; a NaN gives 0.
    const float r = std::floor(v + 0.5f);
    return r >= 255.0f ? 255 : r > 0.0f ? (uint8_t)r : 0;
}

}  // namespace

int32_t Brush2D_ModuleOpen(void)
{
    g_brushes.brushes = FreeList_CreateEx((int32_t)sizeof(Brush2D), 8, 16, 1, nullptr);
    if (!g_brushes.brushes) return 0;
    g_brushes.vertices = (Im3DVertex*)Engine_Malloc(sizeof(Im3DVertex) * BRUSH2D_VERTEX_CAPACITY);
    if (!g_brushes.vertices) {
        FreeList_Destroy(g_brushes.brushes);
        g_brushes.brushes = nullptr;
        return 0;
    }
    return 1;
}

int32_t Brush2D_ModuleClose(void)
{
    if (g_brushes.brushes) {
        FreeList_ForAllUsed(g_brushes.brushes, DestroyLeftover, g_brushes.brushes);
        FreeList_Destroy(g_brushes.brushes);
    }
    if (g_brushes.vertices) Engine_Free(g_brushes.vertices);
    g_brushes = Brush2DModule{};
    return 1;
}

Brush2D* Brush2D_Create(void)
{
    if (!g_brushes.brushes) return nullptr;
    Brush2D* brush = (Brush2D*)FreeList_Alloc(g_brushes.brushes);
    if (!brush) return nullptr;
    memset(brush, 0, sizeof(*brush));
    const Brush2DColour white = {255, 255, 255, 255};
    SetSideColours(&brush->side1, &white, &white);
    SetSideColours(&brush->side2, &white, &white);
    brush->colour = white;
    brush->halfWidth = 0.5f;
    brush->refCount = 1;
    return brush;
}

int32_t Brush2D_Destroy(Brush2D* brush)
{
    HELM_ASSERT(brush);
    if (--brush->refCount > 0) return 0;
    ReleaseTexture(brush);
    FreeList_Free(g_brushes.brushes, brush);
    return 1;
}

Brush2D* Brush2D_SetColours(Brush2D* brush, const Brush2DColour* c1, const Brush2DColour* c2, const Brush2DColour* c3,
                            const Brush2DColour* c4)
{
    HELM_ASSERT(brush && c1 && c2 && c3 && c4);
    SetSideColours(&brush->side1, c4, c3);
    SetSideColours(&brush->side2, c1, c2);
    brush->colour = *c4;
    const bool constant = ZeroDelta(brush->side1.colourDelta, 4) && ZeroDelta(brush->side2.colourDelta, 4) &&
                          memcmp(brush->side1.colour, brush->side2.colour, sizeof(brush->side1.colour)) == 0;
    if (constant) brush->flags &= ~BRUSH2D_COLOURS_VARY;
    else brush->flags |= BRUSH2D_COLOURS_VARY;
    return brush;
}

Brush2D* Brush2D_SetUVs(Brush2D* brush, const Vec2* t1, const Vec2* t2, const Vec2* t3, const Vec2* t4)
{
    HELM_ASSERT(brush && t1 && t2 && t3 && t4);
    brush->side1.uv = *t4;
    brush->side1.uvDelta = {t3->x - t4->x, t3->y - t4->y};
    brush->side2.uv = *t1;
    brush->side2.uvDelta = {t2->x - t1->x, t2->y - t1->y};
    const float deltas[4] = {brush->side1.uvDelta.x, brush->side1.uvDelta.y, brush->side2.uvDelta.x,
                             brush->side2.uvDelta.y};
    if (ZeroDelta(deltas, 4)) brush->flags &= ~BRUSH2D_UVS_VARY;
    else brush->flags |= BRUSH2D_UVS_VARY;
    return brush;
}

Brush2D* Brush2D_SetTexture(Brush2D* brush, Texture* texture)
{
    HELM_ASSERT(brush);
    // Taken before the old one goes, so setting the same texture again keeps it.
    if (texture) texture->refCount++;
    ReleaseTexture(brush);
    brush->texture = texture;
    return brush;
}

Brush2D* Brush2D_SetHalfWidth(Brush2D* brush, float halfWidth)
{
    HELM_ASSERT(brush);
    brush->halfWidth = halfWidth;
    return brush;
}

Im3DVertex* Brush2D_GetVertexBuffer(void) { return g_brushes.vertices; }

uint32_t Brush2D_Pack(const Brush2DColour* c)
{
    return (uint32_t)c->alpha << 24 | (uint32_t)c->red << 16 | (uint32_t)c->green << 8 | (uint32_t)c->blue;
}

uint32_t Brush2D_SideColour(const Brush2DSide* side, float t)
{
    Brush2DColour c;
    c.red = RoundChannel(side->colour[0] + side->colourDelta[0] * t);
    c.green = RoundChannel(side->colour[1] + side->colourDelta[1] * t);
    c.blue = RoundChannel(side->colour[2] + side->colourDelta[2] * t);
    c.alpha = RoundChannel(side->colour[3] + side->colourDelta[3] * t);
    return Brush2D_Pack(&c);
}
