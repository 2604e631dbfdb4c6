#include "engine/billboard.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/hash.h"
#include "common/memory.h"
#include "engine/sprite3d.h"
#include "gfx/core/im3d.h"
#include "gfx/core/renderstate.h"

namespace {

// Engine render states the draw sets.
enum : int32_t {
    kStateRaster = 1,
    kStateAddress = 2,
    kStateZTest = 6,
    kStateZWrite = 8,
    kStateFilter = 9,
    kStateSrcBlend = 10,
    kStateDestBlend = 11,
    kStateVertexAlpha = 12,
    kStateFog = 14,
    kStateCull = 20,
};

constexpr float kU[4] = {0.01f, 0.99f, 0.01f, 0.99f};
constexpr float kVBase[4] = {0.01f, 0.01f, 0.99f, 0.99f};

struct BillboardModule {
    BillboardBatch batch;
    bool made;
    // Scratch of the draw, sized with the batch: nothing is allocated per frame.
    uint16_t* order;   // visible quads, sorted
    float* distances;  // per quad, from the draw's camera
    uint16_t* added;   // per quad, its place in the sort list
    uint16_t* group;   // per quad, the place of its key's first quad
    Im3DVertex* drawVertices;
    uint16_t* drawIndices;
};

BillboardModule g_billboard;

uint32_t Pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }

uint8_t UnitByte(float value)
{
    if (!(value > 0.0f)) return 0;
    if (value >= 1.0f) return 255;
    return (uint8_t)(value * 255.0f);
}

// The slot for a new quad: the next free one, or the ring slot when full
// with wrap on. -1 when the quad is dropped.
int32_t TakeSlot(bool* isNew)
{
    BillboardBatch& b = g_billboard.batch;
    if (b.quadCount < b.capacity) {
        *isNew = true;
        return (int32_t)b.quadCount;
    }
    if (!b.wrap) return -1;
    *isNew = false;
    const uint32_t slot = b.ringPosition % b.capacity;
    b.ringPosition = (slot + 1) % b.capacity;
    return (int32_t)slot;
}

// Takes a slot for a new quad (null when it is dropped) and fills what
// every kind of quad has: key, sprite, frame (0 when out of range), centre
// and half sizes.
BillboardQuad* StartQuad(Sprite3d* sprite, const Vec3* centre, const float* size, uint32_t frame, uint32_t oriented,
                         bool* isNew)
{
    if (!g_billboard.made || !sprite || !centre || !size) return nullptr;
    const int32_t slot = TakeSlot(isNew);
    if (slot < 0) return nullptr;
    if (frame >= sprite->frameCount) frame = 0;
    BillboardQuad& q = g_billboard.batch.quads[slot];
    q.sortKey = Billboard_SortKey(sprite, frame);
    q.sprite = sprite;
    q.frame = frame;
    q.centre = *centre;
    q.halfWidth = size[0] * 0.5f;
    q.halfHeight = size[1] * 0.5f;
    q.oriented = oriented;
    return &q;
}

// Fills the slot's indices, vertices (positions from the stored corners,
// the colour, texture coordinates of the frame) and records a new quad.
void FinishQuad(uint32_t slot, bool isNew, uint32_t colour)
{
    BillboardBatch& b = g_billboard.batch;
    BillboardQuad& q = b.quads[slot];
    const uint16_t base = (uint16_t)(slot * 4);
    const uint16_t pattern[6] = {0, 1, 2, 1, 2, 3};
    for (int k = 0; k < 6; k++) q.indices[k] = (uint16_t)(base + pattern[k]);
    q.vertices = &b.vertices[slot * 4];
    for (int k = 0; k < 4; k++) {
        BillboardVertex& v = q.vertices[k];
        if (q.oriented) v.position = q.corners[k];
        else Vec3_Add(&v.position, &q.centre, &q.corners[k]);
        v.colour = colour;
        v.u = kU[k];
        v.v = (kVBase[k] + (float)q.frame) * q.sprite->frameFraction;
    }
    if (isNew) {
        b.sortList[b.quadCount++] = (uint16_t)slot;
        b.vertexCount += 4;
    }
}

// Corner offsets of a facing quad from the camera's right and up rows.
void FacingCorners(Vec3* corners, const Vec3* right, const Vec3* up, float halfWidth, float halfHeight)
{
    Vec3 r, u;
    Vec3_Scale(&r, right, halfWidth);
    Vec3_Scale(&u, up, halfHeight);
    Vec3_Sub(&corners[0], &u, &r);
    Vec3_Add(&corners[1], &u, &r);
    Vec3_Scale(&corners[2], &corners[1], -1.0f);
    Vec3_Sub(&corners[3], &r, &u);
}

Vec3 Row(const Mat4* m, int row) { return Vec3{m->m[row][0], m->m[row][1], m->m[row][2]}; }

struct SavedStates {
    static constexpr int32_t kStates[5] = {kStateCull, kStateZWrite, kStateZTest, kStateFog, kStateVertexAlpha};
    uint32_t values[5];

    void Save()
    {
        for (int i = 0; i < 5; i++) {
            values[i] = 0;
            RenderState_Get(kStates[i], &values[i]);
        }
    }
    void Restore() const
    {
        for (int i = 0; i < 5; i++) RenderState_Set(kStates[i], (void*)(uintptr_t)values[i]);
    }
};

void SetState(int32_t state, uint32_t value) { RenderState_Set(state, (void*)(uintptr_t)value); }

// The vertex colour as drawn: for the subtractive factors the colour is
// scaled by its alpha, which those factors otherwise ignore.
uint32_t DrawColour(const Sprite3d* sprite, uint32_t colour)
{
    if (sprite->srcBlend != SPRITE3D_BLEND_ZERO || sprite->destBlend != SPRITE3D_BLEND_INVSRCCOLOUR) return colour;
    const uint32_t a = colour >> 24;
    const uint32_t r = (colour >> 16 & 255) * a / 255, g = (colour >> 8 & 255) * a / 255, b = (colour & 255) * a / 255;
    return Pack(a, r, g, b);
}

}  // namespace

int Billboard_Init(uint32_t capacity)
{
    Billboard_Shutdown();
    capacity = std::clamp<uint32_t>(capacity, 1, BILLBOARD_MAX_CAPACITY);
    BillboardModule& m = g_billboard;
    m.batch.quads = (BillboardQuad*)Mem_Calloc(sizeof(BillboardQuad) * capacity, 8);
    m.batch.sortList = (uint16_t*)Mem_Calloc(sizeof(uint16_t) * capacity);
    m.batch.vertices = (BillboardVertex*)Mem_Calloc(sizeof(BillboardVertex) * 4 * capacity);
    m.order = (uint16_t*)Mem_Calloc(sizeof(uint16_t) * capacity);
    m.distances = (float*)Mem_Calloc(sizeof(float) * capacity);
    m.added = (uint16_t*)Mem_Calloc(sizeof(uint16_t) * capacity);
    m.group = (uint16_t*)Mem_Calloc(sizeof(uint16_t) * capacity);
    m.drawVertices = (Im3DVertex*)Mem_Calloc(sizeof(Im3DVertex) * 4 * capacity);
    m.drawIndices = (uint16_t*)Mem_Calloc(sizeof(uint16_t) * 6 * capacity);
    m.made = true;
    if (!m.batch.quads || !m.batch.sortList || !m.batch.vertices || !m.order || !m.distances || !m.added || !m.group ||
        !m.drawVertices || !m.drawIndices) {
        Billboard_Shutdown();
        return 0;
    }
    m.batch.capacity = capacity;
    m.batch.active = 1;
    m.batch.distance = 300.0f;
    return 1;
}

void Billboard_Shutdown(void)
{
    BillboardModule& m = g_billboard;
    Mem_Free(m.batch.quads);
    Mem_Free(m.batch.sortList);
    Mem_Free(m.batch.vertices);
    Mem_Free(m.order);
    Mem_Free(m.distances);
    Mem_Free(m.added);
    Mem_Free(m.group);
    Mem_Free(m.drawVertices);
    Mem_Free(m.drawIndices);
    m = BillboardModule{};
}

BillboardBatch* Billboard_GetBatch(void) { return g_billboard.made ? &g_billboard.batch : nullptr; }

void Billboard_Reset(void)
{
    BillboardBatch& b = g_billboard.batch;
    if (!g_billboard.made) return;
    memset(b.quads, 0, sizeof(BillboardQuad) * b.capacity);
    memset(b.sortList, 0, sizeof(uint16_t) * b.capacity);
    memset(b.vertices, 0, sizeof(BillboardVertex) * 4 * b.capacity);
    Billboard_ResetCounts();
}

void Billboard_ResetCounts(void)
{
    BillboardBatch& b = g_billboard.batch;
    b.quadCount = b.vertexCount = b.ringPosition = 0;
}

void Billboard_SetWrap(int on) { g_billboard.batch.wrap = on != 0; }
void Billboard_SetActive(int on) { g_billboard.batch.active = on != 0; }

uint32_t Billboard_SortKey(const Sprite3d* sprite, uint32_t frame)
{
    char text[96];
    snprintf(text, sizeof text, "%.8x-%d-%d-%d-%d-%.8x-%d", (uint32_t)(uintptr_t)sprite->texture, (int)sprite->srcBlend,
             (int)sprite->destBlend, (int)sprite->zWrite, (int)sprite->zTest, (uint32_t)(uintptr_t)sprite->raster,
             (int)frame);
    return Name_Hash(text, 1, 1);
}

int Billboard_AddFacing(Sprite3d* sprite, const Vec3* centre, const uint8_t* rgba, const Mat4* camera,
                        const float* size, uint32_t frame)
{
    if (!rgba) return 0;
    bool isNew = false;
    BillboardQuad* quad = StartQuad(sprite, centre, size, frame, 0, &isNew);
    if (!quad) return 0;
    BillboardQuad& q = *quad;
    const Vec3 right = camera ? Row(camera, 0) : Vec3{1, 0, 0};
    const Vec3 up = camera ? Row(camera, 1) : Vec3{0, 1, 0};
    FacingCorners(q.corners, &right, &up, q.halfWidth, q.halfHeight);
    FinishQuad((uint32_t)(quad - g_billboard.batch.quads), isNew, Pack(rgba[3], rgba[0], rgba[1], rgba[2]));
    return 1;
}

int Billboard_AddOriented(Sprite3d* sprite, const Vec3* centre, const Vec3* normal, const Vec3* forward,
                          const float* rgba, const float* size, uint32_t frame)
{
    if (!normal || !forward || !rgba) return 0;
    bool isNew = false;
    BillboardQuad* quad = StartQuad(sprite, centre, size, frame, 1, &isNew);
    if (!quad) return 0;
    BillboardQuad& q = *quad;
    Mat4 m;
    Mat4_FromAtUp(&m, centre, forward, normal);
    Vec3 r = Row(&m, 0), a = Row(&m, 2);
    Vec3_Scale(&r, &r, q.halfWidth);
    Vec3_Scale(&a, &a, q.halfHeight);
    Vec3 across[2];
    Vec3_Sub(&across[0], centre, &r);  // centre - R
    Vec3_Add(&across[1], centre, &r);  // centre + R
    Vec3_Add(&q.corners[0], &across[0], &a);
    Vec3_Add(&q.corners[1], &across[1], &a);
    Vec3_Sub(&q.corners[2], &across[0], &a);
    Vec3_Sub(&q.corners[3], &across[1], &a);
    FinishQuad((uint32_t)(quad - g_billboard.batch.quads), isNew,
               Pack(UnitByte(rgba[3]), UnitByte(rgba[0]), UnitByte(rgba[1]), UnitByte(rgba[2])));
    return 1;
}

uint32_t Billboard_Draw(const Mat4* camera)
{
    BillboardModule& m = g_billboard;
    BillboardBatch& b = m.batch;
    if (!m.made || !b.active || b.quadCount == 0 || !camera) return 0;
    const Vec3 eye = Row(camera, 3), right = Row(camera, 0), up = Row(camera, 1);

    uint32_t visible = 0;
    const float limit = b.distance * b.distance;
    for (uint32_t i = 0; i < b.quadCount; i++) {
        const uint16_t n = b.sortList[i];
        const float d = Vec3_DistanceSq(&b.quads[n].centre, &eye);
        if (!(d <= limit)) continue;
        m.distances[n] = d;
        m.added[n] = (uint16_t)i;
        m.order[visible++] = n;
    }
    if (visible == 0) return 0;
    // Quads of one key form a group, drawn farthest first. Groups are drawn
    // in the order their first quad was added: the keys hash addresses, so
    // ordering groups by key value would change the picture from run to run.
    std::sort(m.order, m.order + visible, [&](uint16_t x, uint16_t y) {
        const uint32_t kx = b.quads[x].sortKey, ky = b.quads[y].sortKey;
        return kx != ky ? kx < ky : m.added[x] < m.added[y];
    });
    for (uint32_t first = 0, end; first < visible; first = end) {
        const uint32_t key = b.quads[m.order[first]].sortKey;
        for (end = first; end < visible && b.quads[m.order[end]].sortKey == key; end++)
            m.group[m.order[end]] = m.added[m.order[first]];
    }
    std::sort(m.order, m.order + visible, [&](uint16_t x, uint16_t y) {
        if (m.group[x] != m.group[y]) return m.group[x] < m.group[y];
        if (m.distances[x] != m.distances[y]) return m.distances[x] > m.distances[y];
        return m.added[x] < m.added[y];
    });

    SavedStates saved;
    saved.Save();
    SetState(kStateCull, 1);
    SetState(kStateFog, 0);
    SetState(kStateVertexAlpha, 1);
    SetState(kStateFilter, 2);
    SetState(kStateAddress, 3);

    uint32_t drawn = 0;
    for (uint32_t first = 0; first < visible;) {
        const uint32_t key = b.quads[m.order[first]].sortKey;
        uint32_t end = first;
        while (end < visible && b.quads[m.order[end]].sortKey == key) end++;
        const Sprite3d* sprite = b.quads[m.order[first]].sprite;
        RenderState_Set(kStateRaster, sprite->raster);
        SetState(kStateSrcBlend, sprite->srcBlend);
        SetState(kStateDestBlend, sprite->destBlend);
        SetState(kStateZWrite, sprite->zWrite);
        SetState(kStateZTest, sprite->zTest);

        const uint32_t count = end - first;
        for (uint32_t j = 0; j < count; j++) {
            const BillboardQuad& q = b.quads[m.order[first + j]];
            Vec3 facing[4];
            if (!q.oriented) FacingCorners(facing, &right, &up, q.halfWidth, q.halfHeight);
            for (int k = 0; k < 4; k++) {
                Im3DVertex& v = m.drawVertices[j * 4 + k];
                Vec3 p = q.vertices[k].position;
                if (!q.oriented) Vec3_Add(&p, &q.centre, &facing[k]);
                v = Im3DVertex{p.x,
                               p.y,
                               p.z,
                               0,
                               0,
                               0,
                               DrawColour(q.sprite, q.vertices[k].colour),
                               q.vertices[k].u,
                               q.vertices[k].v};
            }
            const uint16_t base = (uint16_t)(j * 4);
            const uint16_t pattern[6] = {0, 1, 2, 1, 2, 3};
            for (int k = 0; k < 6; k++) m.drawIndices[j * 6 + k] = (uint16_t)(base + pattern[k]);
        }
        if (Im3D_Transform(m.drawVertices, count * 4, nullptr, IM3D_TEXTURED)) {
            Im3D_RenderIndexedPrimitive(3, m.drawIndices, (int32_t)(count * 6));
            Im3D_End();
            drawn += count;
        }
        first = end;
    }
    saved.Restore();
    return drawn;
}
