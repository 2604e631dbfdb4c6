#include "gfx/toolkit/2d/path2d.h"

#include <cmath>
#include <cstring>

#include "common/assert.h"
#include "gfx/core/arraylist.h"
#include "gfx/core/engine.h"
#include "gfx/core/freelist.h"
#include "gfx/core/im3d.h"
#include "gfx/core/raster.h"
#include "gfx/core/renderstate.h"
#include "gfx/core/texture.h"
#include "gfx/toolkit/2d/brush2d.h"
#include "gfx/toolkit/2d/toolkit2d.h"

// Every edit reserves its nodes before it computes anything, so a failed
// allocation leaves the sub-path exactly as it was, and the pointers into the
// node list (which growing moves) are taken after the growth.

namespace {

// At or below this, p . (p + n) is treated as a join that doubles back.
constexpr float kMiterEpsilon = 1e-6f;
// A batch ends once it holds this many vertices (the index table has 256).
constexpr int32_t kStrokeBatch = 254;

struct Path2DModule {
    FreeList* paths;
    Path2D* scratch;  // flattening target of strokes and in-place flattening
};

Path2DModule g_paths;

bool Locked(const Path2D* sub) { return sub->lockedCount >= 0; }

Path2DNode* Nodes(const Path2D* sub) { return Locked(sub) ? sub->nodeArray : (Path2DNode*)sub->nodeList->entries; }

int32_t Count(const Path2D* sub) { return Locked(sub) ? sub->lockedCount : sub->nodeList->count; }

Path2D* NewSubPath()
{
    if (!g_paths.paths) return nullptr;
    Path2D* sub = (Path2D*)FreeList_Alloc(g_paths.paths);
    if (!sub) return nullptr;
    memset(sub, 0, sizeof(*sub));
    sub->nodeList = ArrayList_Create((int32_t)sizeof(Path2DNode));
    if (!sub->nodeList) {
        FreeList_Free(g_paths.paths, sub);
        return nullptr;
    }
    sub->lockedCount = -1;
    sub->flat = 1;
    sub->current = sub;
    return sub;
}

void FreeStorage(Path2D* sub)
{
    if (sub->nodeList) ArrayList_Destroy(sub->nodeList);
    if (sub->nodeArray) Engine_Free(sub->nodeArray);
    sub->nodeList = nullptr;
    sub->nodeArray = nullptr;
}

void FreeSubPath(Path2D* sub)
{
    FreeStorage(sub);
    FreeList_Free(g_paths.paths, sub);
}

void FreeLeftover(void* entry, void*) { FreeSubPath((Path2D*)entry); }

// Back to one empty, open, flat sub-path.
void Empty(Path2D* path)
{
    for (Path2D* sub = path->next; sub;) {
        Path2D* next = sub->next;
        FreeSubPath(sub);
        sub = next;
    }
    path->next = nullptr;
    path->current = path;
    ArrayList_Clear(path->nodeList);
    path->closed = 0;
    path->flat = 1;
}

// The unit normal (dy, -dx) / length of the segment from a to (x, y), or
// `keep` when the segment has no length.
Vec2 SegmentNormal(const Path2DNode* a, float x, float y, Vec2 keep, float* length)
{
    const float dx = x - a->x, dy = y - a->y;
    const float len = std::sqrt(dx * dx + dy * dy);
    if (!(len > 0.0f) || !std::isfinite(len)) {
        *length = 0.0f;
        return keep;
    }
    *length = len;
    return {dy / len, -dx / len};
}

// The join of normals p (before) and n (after): the miter, or n where the
// path doubles back or the miter would not be finite.
Vec2 Miter(Vec2 p, Vec2 n)
{
    const Vec2 sum = {p.x + n.x, p.y + n.y};
    const float d = p.x * sum.x + p.y * sum.y;
    if (d <= kMiterEpsilon) return n;
    const Vec2 m = {sum.x / d, sum.y / d};
    return std::isfinite(m.x) && std::isfinite(m.y) ? m : n;
}

// Fills node `index` (already reserved, index >= 1) as a segment from the
// node before it; the node before gets its join when `join` is set.
void FillSegment(Path2D* sub, int32_t index, uint32_t type, float x, float y, bool join)
{
    Path2DNode* nodes = Nodes(sub);
    Path2DNode* prev = &nodes[index - 1];
    float len;
    const Vec2 n = SegmentNormal(prev, x, y, {prev->nx, prev->ny}, &len);
    nodes[index] = {type, x, y, n.x, n.y, prev->length + len};
    if (!join) return;
    const Vec2 m = index - 1 == 0 ? n : Miter({prev->nx, prev->ny}, n);
    prev->nx = m.x;
    prev->ny = m.y;
}

bool Editable(const Path2D* path)
{
    HELM_ASSERT(path);
    return !Locked(path->current);
}

Path2D* AppendNodes(Path2D* sub, const Path2DNode* nodes, int32_t count)
{
    if (count <= 0) return sub;
    void* at = ArrayList_GetNewEntries(sub->nodeList, count);
    if (!at) return nullptr;
    memcpy(at, nodes, sizeof(Path2DNode) * (size_t)count);
    return sub;
}

Path2D* Bezier(Path2D* dst, Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3, int32_t depth, float tolerance)
{
    depth--;
    if (depth < 0) return Path2D_LineTo(dst, p3.x, p3.y);
    const Vec2 k = {p3.x - p0.x, p3.y - p0.y};
    const Vec2 a = {p1.x - p0.x, p1.y - p0.y};
    const Vec2 b = {p2.x - p0.x, p2.y - p0.y};
    const float kk = k.x * k.x + k.y * k.y;
    const float ak = a.x * k.x + a.y * k.y, bk = b.x * k.x + b.y * k.y;
    // Both control points within sqrt(tolerance) of the chord. A curve that
    // ends where it starts (k = 0) is never flat and is halved to full depth.
    if ((a.x * a.x + a.y * a.y - tolerance) * kk < ak * ak && (b.x * b.x + b.y * b.y - tolerance) * kk < bk * bk)
        return Path2D_LineTo(dst, p3.x, p3.y);
    auto mid = [](Vec2 u, Vec2 v) { return Vec2{(u.x + v.x) * 0.5f, (u.y + v.y) * 0.5f}; };
    const Vec2 l1 = mid(p0, p1), h = mid(p1, p2), r2 = mid(p2, p3);
    const Vec2 l2 = mid(l1, h), r1 = mid(h, r2);
    const Vec2 m = mid(l2, r1);
    if (!Bezier(dst, p0, l1, l2, m, depth, tolerance)) return nullptr;
    return Bezier(dst, m, r1, r2, p3, depth, tolerance);
}

Path2D* FlattenWith(Path2D* dst, const Path2D* src, float tolerance)
{
    const Path2DNode* nodes = Nodes(src);
    const int32_t count = Count(src);
    for (int32_t i = 0; i < count; i++) {
        const Path2DNode& node = nodes[i];
        Path2D* done;
        if (node.type == PATH2D_MOVE || i == 0) {
            done = Path2D_MoveTo(dst, node.x, node.y);
        } else if (node.type == PATH2D_CURVE && i + 2 < count) {
            const Vec2 p0 = {nodes[i - 1].x, nodes[i - 1].y};
            done = Bezier(dst, p0, {node.x, node.y}, {nodes[i + 1].x, nodes[i + 1].y}, {nodes[i + 2].x, nodes[i + 2].y},
                          TOOLKIT2D_MAX_SUBDIVISION, tolerance);
            i += 2;
        } else {
            done = Path2D_LineTo(dst, node.x, node.y);
        }
        if (!done) return nullptr;
    }
    if (src->closed && !Path2D_ClosePath(dst)) return nullptr;
    return dst;
}

// Draws one flat sub-path `src` with the offset of the sub-path it stands for.
void StrokeSubPath(const Path2D* src, float offset, const Brush2D* brush, const Matrix* world)
{
    const int32_t count = Count(src);
    if (count < 2) return;
    const Path2DNode* nodes = Nodes(src);
    if (brush->texture) {
        const Texture* texture = brush->texture;
        const uint32_t fa = texture->filterAddressing;
        const uint32_t u = (fa >> 8) & 0xF, v = (fa >> 12) & 0xF;
        RenderState_Set(1, texture->raster);
        RenderState_Set(9, (void*)(uintptr_t)(fa & 0xFF));
        RenderState_Set(2, (void*)(uintptr_t)(u == v ? u : 0));
    } else {
        RenderState_Set(1, nullptr);
    }
    const float total = nodes[count - 1].length;
    float r = total > 0.0f ? 1.0f / total : 0.0f;
    if (!std::isfinite(r)) r = 0.0f;
    const bool vary = brush->flags & BRUSH2D_COLOURS_VARY;
    const uint32_t constant = Brush2D_Pack(&brush->colour);
    const float z = Toolkit2D_GetDepth();
    const float left = offset + brush->halfWidth, right = brush->halfWidth - offset;
    const uint32_t flags = brush->texture ? (uint32_t)IM3D_TEXTURED : 0u;
    const uint16_t* indices = Toolkit2D_GetIndexTable();
    Im3DVertex* vertices = Brush2D_GetVertexBuffer();
    auto flush = [&](int32_t n) {
        if (Im3D_Transform(vertices, (uint32_t)n, world, flags)) {
            Im3D_RenderIndexedPrimitive(4, indices, n);
            Im3D_End();
        }
    };
    int32_t n = 0;
    for (int32_t i = 0; i < count; i++) {
        if (n >= kStrokeBatch) {
            flush(n);
            n = 0;
            i--;  // the next strip starts at the node before, joining the two
        }
        const Path2DNode& node = nodes[i];
        const float t = node.length * r;
        const Brush2DSide& s1 = brush->side1;
        const Brush2DSide& s2 = brush->side2;
        vertices[n] = {node.x - node.nx * left,
                       node.y - node.ny * left,
                       z,
                       0,
                       0,
                       0,
                       vary ? Brush2D_SideColour(&s1, t) : constant,
                       s1.uv.x + s1.uvDelta.x * t,
                       s1.uv.y + s1.uvDelta.y * t};
        vertices[n + 1] = {node.x + node.nx * right,
                           node.y + node.ny * right,
                           z,
                           0,
                           0,
                           0,
                           vary ? Brush2D_SideColour(&s2, t) : constant,
                           s2.uv.x + s2.uvDelta.x * t,
                           s2.uv.y + s2.uvDelta.y * t};
        n += 2;
    }
    flush(n);
}

}  // namespace

int32_t Path2D_ModuleOpen(void)
{
    g_paths.paths = FreeList_CreateEx((int32_t)sizeof(Path2D), 32, 8, 1, nullptr);
    if (!g_paths.paths) return 0;
    g_paths.scratch = NewSubPath();
    if (!g_paths.scratch) {
        FreeList_Destroy(g_paths.paths);
        g_paths.paths = nullptr;
        return 0;
    }
    return 1;
}

int32_t Path2D_ModuleClose(void)
{
    if (g_paths.paths) {
        // The scratch path is among the entries.
        FreeList_ForAllUsed(g_paths.paths, FreeLeftover, nullptr);
        FreeList_Destroy(g_paths.paths);
    }
    g_paths = Path2DModule{};
    return 1;
}

Path2D* Path2D_Create(void) { return NewSubPath(); }

int32_t Path2D_Destroy(Path2D* path)
{
    while (path) {
        Path2D* next = path->next;
        FreeSubPath(path);
        path = next;
    }
    return 1;
}

Path2D* Path2D_MoveTo(Path2D* path, float x, float y)
{
    if (!Editable(path)) return nullptr;
    Path2D* sub = path->current;
    if (Count(sub) > 0) {
        Path2D* added = NewSubPath();
        if (!added) return nullptr;
        added->next = sub->next;
        sub->next = added;
        path->current = added;
        sub = added;
    }
    const Path2DNode node = {PATH2D_MOVE, x, y, 0.0f, 0.0f, 0.0f};
    return AppendNodes(sub, &node, 1) ? path : nullptr;
}

Path2D* Path2D_LineTo(Path2D* path, float x, float y)
{
    if (!Editable(path)) return nullptr;
    Path2D* sub = path->current;
    const int32_t count = Count(sub);
    // A sub-path starts with a move; a line without one becomes it.
    if (count == 0) return Path2D_MoveTo(path, x, y);
    if (!ArrayList_GetNewEntry(sub->nodeList)) return nullptr;
    FillSegment(sub, count, PATH2D_LINE, x, y, true);
    return path;
}

Path2D* Path2D_CurveTo(Path2D* path, float x1, float y1, float x2, float y2, float x3, float y3)
{
    if (!Editable(path)) return nullptr;
    Path2D* sub = path->current;
    const int32_t count = Count(sub);
    if (count == 0) return Path2D_MoveTo(path, x3, y3);
    if (!ArrayList_GetNewEntries(sub->nodeList, 3)) return nullptr;
    FillSegment(sub, count, PATH2D_CURVE, x1, y1, true);
    FillSegment(sub, count + 1, PATH2D_CURVE, x2, y2, false);
    FillSegment(sub, count + 2, PATH2D_CURVE, x3, y3, false);
    sub->flat = 0;
    return path;
}

Path2D* Path2D_ClosePath(Path2D* path)
{
    if (!Editable(path)) return nullptr;
    Path2D* sub = path->current;
    if (Count(sub) < 2) return path;
    const Path2DNode first = Nodes(sub)[0];
    const Path2DNode last = Nodes(sub)[Count(sub) - 1];
    if ((last.x != first.x || last.y != first.y) && !Path2D_LineTo(path, first.x, first.y)) return nullptr;
    Path2DNode* nodes = Nodes(sub);
    Path2DNode* end = &nodes[Count(sub) - 1];
    const Vec2 m = Miter({nodes[0].nx, nodes[0].ny}, {end->nx, end->ny});
    nodes[0].nx = end->nx = m.x;
    nodes[0].ny = end->ny = m.y;
    sub->closed = 1;
    return path;
}

Path2D* Path2D_Flatten(Path2D* destination, const Path2D* source)
{
    HELM_ASSERT(source);
    if (!Editable(destination)) return nullptr;
    const float tolerance = Toolkit2D_GetFlatness();
    if (!(tolerance > 0.0f)) return nullptr;
    return FlattenWith(destination, source, tolerance);
}

Path2D* Path2D_FlattenBezier(Path2D* destination, const Vec2* p0, const Vec2* p1, const Vec2* p2, const Vec2* p3,
                             int32_t depth)
{
    HELM_ASSERT(p0 && p1 && p2 && p3);
    if (!Editable(destination)) return nullptr;
    const float tolerance = Toolkit2D_GetFlatness();
    if (!(tolerance > 0.0f)) return nullptr;
    return Bezier(destination, *p0, *p1, *p2, *p3, depth, tolerance);
}

Path2D* Path2D_FlattenInPlace(Path2D* path)
{
    HELM_ASSERT(path);
    if (!g_paths.scratch) return nullptr;
    for (const Path2D* sub = path; sub; sub = sub->next)
        if (Locked(sub)) return nullptr;
    const float tolerance = Toolkit2D_GetFlatness();
    if (!(tolerance > 0.0f)) return nullptr;
    for (Path2D* sub = path; sub; sub = sub->next) {
        if (sub->flat) continue;
        Empty(g_paths.scratch);
        if (!FlattenWith(g_paths.scratch, sub, tolerance)) return nullptr;
        ArrayList_Clear(sub->nodeList);
        sub->closed = 0;
        sub->flat = 1;
        if (!Path2D_CopyNodes(sub, g_paths.scratch)) return nullptr;
    }
    return path;
}

Path2D* Path2D_CopyNodes(Path2D* destination, const Path2D* source)
{
    HELM_ASSERT(destination && source);
    if (Locked(destination)) return nullptr;
    if (!AppendNodes(destination, Nodes(source), Count(source))) return nullptr;
    destination->closed = source->closed;
    return destination;
}

Path2D* Path2D_RemoveSinglePoints(Path2D* path)
{
    if (!path) return nullptr;
    Path2D* current = path->current;
    Path2D* first = nullptr;
    Path2D* last = nullptr;
    bool currentKept = false;
    for (Path2D* sub = path; sub;) {
        Path2D* next = sub->next;
        if (Count(sub) == 1) {
            FreeSubPath(sub);
        } else {
            sub->next = nullptr;
            if (last) last->next = sub;
            else first = sub;
            last = sub;
            if (sub == current) currentKept = true;
        }
        sub = next;
    }
    if (first) first->current = currentKept ? current : last;
    return first;
}

Path2D* Path2D_Lock(Path2D* path)
{
    HELM_ASSERT(path);
    for (Path2D* sub = path; sub; sub = sub->next) {
        if (Locked(sub)) continue;
        const int32_t count = sub->nodeList->count;
        sub->nodeArray = (Path2DNode*)ArrayList_DestroyKeepArray(sub->nodeList);
        sub->nodeList = nullptr;
        sub->lockedCount = count;
    }
    return path;
}

Path2D* Path2D_Unlock(Path2D* path)
{
    HELM_ASSERT(path);
    for (Path2D* sub = path; sub; sub = sub->next) {
        if (!Locked(sub)) continue;
        ArrayList* list = ArrayList_Create((int32_t)sizeof(Path2DNode));
        if (!list) return nullptr;
        if (sub->lockedCount > 0) {
            void* at = ArrayList_GetNewEntries(list, sub->lockedCount);
            if (!at) {
                ArrayList_Destroy(list);
                return nullptr;
            }
            memcpy(at, sub->nodeArray, sizeof(Path2DNode) * (size_t)sub->lockedCount);
        }
        if (sub->nodeArray) Engine_Free(sub->nodeArray);
        sub->nodeArray = nullptr;
        sub->nodeList = list;
        sub->lockedCount = -1;
    }
    return path;
}

Path2D* Path2D_Stroke(Path2D* path, Brush2D* brush)
{
    HELM_ASSERT(path && brush);
    if (!g_paths.scratch) return nullptr;
    for (const Path2D* sub = path; sub; sub = sub->next) {
        const Matrix* world = Ctm2D_GetCombined();
        if (!world) return nullptr;
        const Path2D* src = sub;
        if (!sub->flat) {
            Empty(g_paths.scratch);
            if (!FlattenWith(g_paths.scratch, sub, Toolkit2D_GetFlatness())) continue;
            src = g_paths.scratch;
        }
        StrokeSubPath(src, sub->offset, brush, world);
    }
    return path;
}

int32_t Path2D_GetNodeCount(const Path2D* subPath)
{
    HELM_ASSERT(subPath);
    return Count(subPath);
}

const Path2DNode* Path2D_GetNodes(const Path2D* subPath)
{
    HELM_ASSERT(subPath);
    return Nodes(subPath);
}

int32_t Path2D_Validate(const Path2D* path)
{
    if (!path) return 0;
    // A walker going twice as fast meets the other one inside a cycle.
    for (const Path2D *slow = path, *fast = path; fast && fast->next;) {
        slow = slow->next;
        fast = fast->next->next;
        if (slow == fast) return 0;
    }
    bool currentFound = false;
    for (const Path2D* sub = path; sub; sub = sub->next) {
        if (sub == path->current) currentFound = true;
        const bool locked = sub->lockedCount >= 0;
        if (sub->lockedCount < -1 || locked != (sub->nodeList == nullptr)) return 0;
        if (locked ? (sub->nodeArray == nullptr) != (sub->lockedCount == 0) : sub->nodeArray != nullptr) return 0;
        const Path2DNode* nodes = Nodes(sub);
        const int32_t count = Count(sub);
        int32_t run = 0;  // curve nodes in a row
        bool curves = false;
        for (int32_t i = 0; i < count; i++) {
            const Path2DNode& n = nodes[i];
            if ((i == 0) != (n.type == PATH2D_MOVE) || n.type > PATH2D_CURVE) return 0;
            if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.nx) || !std::isfinite(n.ny)) return 0;
            if (i == 0 ? n.length != 0.0f : !(n.length >= nodes[i - 1].length)) return 0;
            if (n.type == PATH2D_CURVE) {
                run++;
                curves = true;
            } else if (run % 3) {
                return 0;
            } else {
                run = 0;
            }
        }
        if (run % 3 || curves == (sub->flat != 0)) return 0;
    }
    return currentFound ? 1 : 0;
}
