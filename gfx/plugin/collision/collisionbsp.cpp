// The collision tree: build, walks and stream.
//
// The build keeps one permutation of the object's triangles and reorders
// ranges of it in place as it splits, so every leaf ends up owning a
// contiguous run; the permutation becomes the owner's triangle map. Nodes
// and leaves are numbered as they are made, a node before its subtrees and
// the left subtree before the right, which is the pre-order the walkers and
// the stream rely on.
#include "gfx/plugin/collision/collisionbsp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/assert.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/stream.h"
#include "gfx/world/geometry.h"

namespace {

constexpr int32_t kLeafBelow = 4;  // runs of fewer triangles become leaves
constexpr int32_t kMaxCandidates = 50;
constexpr float kCandidateScale = 50.0f;
constexpr float kMinSpread = 0.0001f;  // of the largest extent

float Coord(const Vec3& v, int32_t axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }
float& Coord(Vec3& v, int32_t axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

void RaiseBadData(void)
{
    const ErrorRecord e = {(int32_t)PLUGIN_COLLISION, (int32_t)COLLISION_ERR_BAD_DATA};
    Error_Set(&e);
}

// ---- build ----

struct Split {
    int32_t axis;
    float value;
    float cost;
};

struct Classified {
    int32_t numLeft, numRight;
    float leftValue, rightValue;
};

struct BuildWork {
    const Vec3* positions;
    const Triangle* triangles;
    uint16_t* run;      // the permutation of triangle indices
    uint8_t* goesLeft;  // per triangle, for the winning split
    uint32_t* stamp;    // per vertex: the step that last listed it
    uint32_t stampValue;
    int32_t* used;   // the vertices of the current run
    int32_t* order;  // scratch: used vertices sorted, then candidates
    CollisionBspNode* nodes;
    CollisionBspLeaf* leaves;
    int32_t numNodes, numLeaves;
};

// Which side a triangle goes to for a split at v on axis: wholly at or
// below v left (unless it lies on v), at or above right, and a straddling
// one to the side it reaches less far into the other, widening that side's
// value.
bool GoesLeft(const BuildWork& w, int32_t tri, int32_t axis, float v, Classified* c)
{
    const Triangle& t = w.triangles[tri];
    float up = 0, down = 0;
    bool allLeft = true, allRight = true;
    for (int i = 0; i < 3; i++) {
        const float d = Coord(w.positions[t.vertIndex[i]], axis) - v;
        if (d > 0) allLeft = false;
        if (d < 0) allRight = false;
        up = std::max(up, d);
        down = std::max(down, -d);
    }
    if (allLeft && !allRight) return true;
    if (allRight) return false;
    if (up <= down) {
        c->leftValue = std::max(c->leftValue, v + up);
        return true;
    }
    c->rightValue = std::min(c->rightValue, v - down);
    return false;
}

Classified Classify(const BuildWork& w, int32_t first, int32_t count, int32_t axis, float v, bool record)
{
    Classified c = {0, 0, v, v};
    for (int32_t i = first; i < first + count; i++) {
        const bool left = GoesLeft(w, w.run[i], axis, v, &c);
        if (left) c.numLeft++;
        else c.numRight++;
        if (record) w.goesLeft[w.run[i]] = left ? 1 : 0;
    }
    return c;
}

// The expected depth of a balanced tree over n triangles, the weight of a
// side's extent in the cost.
float DepthFactor(int32_t n)
{
    const int32_t log = 31 - __builtin_clz((uint32_t)n);
    return (float)(log + 2) - (float)(1u << (log + 1)) / (float)n;
}

// The cheapest split of the run, or false when none divides it.
bool FindSplit(BuildWork& w, int32_t first, int32_t count, const BoundingBox& box, Split* best)
{
    w.stampValue++;
    int32_t numUsed = 0;
    for (int32_t i = first; i < first + count; i++)
        for (uint16_t v : w.triangles[w.run[i]].vertIndex)
            if (w.stamp[v] != w.stampValue) {
                w.stamp[v] = w.stampValue;
                w.used[numUsed++] = v;
            }
    const float largest = std::max(box.sup.x - box.inf.x, std::max(box.sup.y - box.inf.y, box.sup.z - box.inf.z));
    if (!(largest > 0)) return false;
    bool found = false;
    for (int32_t axis = 0; axis < 3; axis++) {
        const float lo = Coord(box.inf, axis), hi = Coord(box.sup, axis);
        float weight = (hi - lo) / largest;
        weight = weight <= 0.5f ? weight + 0.5f : 1.0f;
        int32_t* order = w.order;
        memcpy(order, w.used, sizeof(int32_t) * (size_t)numUsed);
        const Vec3* p = w.positions;
        std::sort(order, order + numUsed, [&](int32_t a, int32_t b) {
            const float ca = Coord(p[a], axis), cb = Coord(p[b], axis);
            return ca < cb || (ca == cb && a < b);
        });
        const float median = Coord(p[order[numUsed / 2]], axis);
        int32_t* candidates = order + numUsed / 4;
        int32_t numCandidates = numUsed / 2 + 1;
        const float spread = Coord(p[candidates[numCandidates - 1]], axis) - Coord(p[candidates[0]], axis);
        float scale = 0;
        if (spread >= kMinSpread * largest) {
            scale = kCandidateScale / spread;
            // Nearest the median first; equal distances keep the coordinate order.
            std::sort(candidates, candidates + numCandidates, [&](int32_t a, int32_t b) {
                const float ca = Coord(p[a], axis), cb = Coord(p[b], axis);
                const float da = std::fabs(ca - median), db = std::fabs(cb - median);
                return da < db || (da == db && (ca < cb || (ca == cb && a < b)));
            });
        } else {
            candidates = order + numUsed / 2;
            numCandidates = 1;
        }
        int64_t previous = 0;
        int32_t taken = 0;
        for (int32_t i = 0; i < numCandidates && taken < kMaxCandidates; i++) {
            const float v = Coord(p[candidates[i]], axis);
            const int64_t rounded = std::llround((double)(v * scale));
            if (taken > 0 && rounded == previous) continue;
            previous = rounded;
            taken++;
            const Classified c = Classify(w, first, count, axis, v, false);
            if (c.numLeft == 0 || c.numRight == 0) continue;
            const float cost =
                (DepthFactor(c.numLeft) * (c.leftValue - lo) + DepthFactor(c.numRight) * (hi - c.rightValue)) /
                (hi - lo) / weight;
            if (!found || cost < best->cost) {
                *best = Split{axis, v, cost};
                found = true;
            }
        }
    }
    return found;
}

// Builds the subtree of run [first, first + count) within box at depth and
// returns its kind and index.
void BuildRange(BuildWork& w, int32_t first, int32_t count, const BoundingBox& box, int32_t depth, uint8_t* kind,
                uint16_t* index)
{
    Split split;
    if (depth >= (int32_t)COLLISION_BSP_MAX_DEPTH || count < kLeafBelow || !FindSplit(w, first, count, box, &split)) {
        *kind = COLLISION_BSP_LEAF;
        *index = (uint16_t)w.numLeaves;
        w.leaves[w.numLeaves++] = CollisionBspLeaf{(uint16_t)count, (uint16_t)first};
        return;
    }
    const Classified c = Classify(w, first, count, split.axis, split.value, true);
    int32_t next = first;
    for (int32_t i = first; i < first + count; i++)
        if (w.goesLeft[w.run[i]]) std::swap(w.run[i], w.run[next++]);
    const int32_t node = w.numNodes++;
    CollisionBspNode& n = w.nodes[node];
    n.axis = (uint16_t)(4 * split.axis);
    n.leftValue = c.leftValue;
    n.rightValue = c.rightValue;
    BoundingBox left = box, right = box;
    Coord(left.sup, split.axis) = c.leftValue;
    Coord(right.inf, split.axis) = c.rightValue;
    uint8_t kindL, kindR;
    uint16_t indexL, indexR;
    BuildRange(w, first, c.numLeft, left, depth + 1, &kindL, &indexL);
    BuildRange(w, first + c.numLeft, c.numRight, right, depth + 1, &kindR, &indexR);
    CollisionBspNode& done = w.nodes[node];
    done.leftKind = kindL, done.rightKind = kindR;
    done.leftIndex = indexL, done.rightIndex = indexR;
    *kind = COLLISION_BSP_NODE;
    *index = (uint16_t)node;
}

// ---- walks ----

struct LinePending {
    uint8_t kind;
    uint16_t index;
    Vec3 start, end;
};

struct Pending {
    uint8_t kind;
    uint16_t index;
};

uint8_t RootKind(const CollisionBsp* tree) { return tree->nodes ? COLLISION_BSP_NODE : COLLISION_BSP_LEAF; }

// Depth first from now: leaves go to the callback (0 ends the walk: null),
// nodes to step, which returns the child to visit now and hands any other
// to push. Each node pushes at most one child, so the stack holds one entry
// per level at most.
template <typename P, typename Step>
const CollisionBsp* Walk(const CollisionBsp* tree, P now, CollisionBspLeafCallback callback, void* data, Step step)
{
    P stack[COLLISION_BSP_MAX_DEPTH];
    int32_t top = 0;
    auto push = [&](const P& pending) {
        HELM_ASSERT(top < (int32_t)COLLISION_BSP_MAX_DEPTH);
        stack[top++] = pending;
    };
    for (;;) {
        if (now.kind != COLLISION_BSP_LEAF) {
            now = step(tree->nodes[now.index], now, push);
            continue;
        }
        const CollisionBspLeaf& leaf = tree->leaves[now.index];
        if (!callback(leaf.numTriangles, leaf.firstTriangle, data)) return nullptr;
        if (top == 0) return tree;
        now = stack[--top];
    }
}

// The point of the segment from s at coordinate value on axis, the other
// coordinates from the line's gradients.
Vec3 CrossAt(const Vec3& s, int32_t axis, float value, const CollisionGradients& g)
{
    const float t = value - Coord(s, axis);
    switch (axis) {
    case 0: return Vec3{value, s.y + t * g.dydx, s.z + t * g.dzdx};
    case 1: return Vec3{s.x + t * g.dxdy, value, s.z + t * g.dzdy};
    default: return Vec3{s.x + t * g.dxdz, s.y + t * g.dydz, value};
    }
}

}  // namespace

void CollisionLine_Gradients(const CollisionLine* line, CollisionGradients* out)
{
    const Vec3 d = {line->end.x - line->start.x, line->end.y - line->start.y, line->end.z - line->start.z};
    *out = CollisionGradients{};
    if (d.x != 0) out->dydx = d.y / d.x, out->dzdx = d.z / d.x;
    if (d.y != 0) out->dxdy = d.x / d.y, out->dzdy = d.z / d.y;
    if (d.z != 0) out->dxdz = d.x / d.z, out->dydz = d.y / d.z;
}

size_t CollisionBsp_Size(int32_t numLeaves)
{
    HELM_ASSERT(numLeaves >= 1);
    return sizeof(CollisionBsp) + sizeof(CollisionBspNode) * (size_t)(numLeaves - 1) +
           sizeof(CollisionBspLeaf) * (size_t)numLeaves;
}

CollisionBsp* CollisionBsp_Init(void* block, int32_t numLeaves)
{
    CollisionBsp* tree = (CollisionBsp*)block;
    tree->numLeaves = (uint32_t)numLeaves;
    tree->nodes = numLeaves > 1 ? (CollisionBspNode*)(tree + 1) : nullptr;
    tree->leaves = (CollisionBspLeaf*)((char*)(tree + 1) + sizeof(CollisionBspNode) * (size_t)(numLeaves - 1));
    return tree;
}

CollisionBsp* CollisionBsp_Create(int32_t numLeaves)
{
    void* block = Engine_Malloc(CollisionBsp_Size(numLeaves));
    if (!block) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    return CollisionBsp_Init(block, numLeaves);
}

void CollisionBsp_Destroy(CollisionBsp* tree)
{
    if (tree) Engine_Free(tree);
}

CollisionBsp* CollisionBsp_Build(int32_t numVertices, const Vec3* positions, int32_t numTriangles,
                                 const Triangle* triangles, uint16_t* map)
{
    HELM_ASSERT(numVertices >= 1 && positions && triangles && map);
    HELM_ASSERT(numTriangles >= 1 && numTriangles <= (int32_t)COLLISION_BSP_MAX_TRIANGLES);
    // Coordinates that do not compare (NaN) or overflow every sum would
    // make the sorts and costs meaningless: such a mesh gets no tree.
    for (int32_t i = 0; i < numVertices; i++)
        if (!std::isfinite(positions[i].x) || !std::isfinite(positions[i].y) || !std::isfinite(positions[i].z)) {
            RaiseBadData();
            return nullptr;
        }
    for (int32_t i = 0; i < numTriangles; i++)
        for (uint16_t v : triangles[i].vertIndex) HELM_ASSERT(v < numVertices);
    BuildWork w = {};
    w.positions = positions;
    w.triangles = triangles;
    const size_t t = (size_t)numTriangles, v = (size_t)numVertices;
    w.run = (uint16_t*)Engine_Malloc(sizeof(uint16_t) * t);
    w.goesLeft = (uint8_t*)Engine_Malloc(t);
    w.stamp = (uint32_t*)Engine_Calloc(v, sizeof(uint32_t));
    w.used = (int32_t*)Engine_Malloc(sizeof(int32_t) * v);
    w.order = (int32_t*)Engine_Malloc(sizeof(int32_t) * v);
    w.nodes = (CollisionBspNode*)Engine_Calloc(t, sizeof(CollisionBspNode));
    w.leaves = (CollisionBspLeaf*)Engine_Malloc(sizeof(CollisionBspLeaf) * t);
    CollisionBsp* tree = nullptr;
    if (w.run && w.goesLeft && w.stamp && w.used && w.order && w.nodes && w.leaves) {
        for (int32_t i = 0; i < numTriangles; i++) w.run[i] = (uint16_t)i;
        BoundingBox box;
        BoundingBox_Calculate(&box, positions, numVertices);
        uint8_t kind;
        uint16_t index;
        BuildRange(w, 0, numTriangles, box, 0, &kind, &index);
        tree = CollisionBsp_Create(w.numLeaves);
        if (tree) {
            if (w.numNodes) memcpy(tree->nodes, w.nodes, sizeof(CollisionBspNode) * (size_t)w.numNodes);
            memcpy(tree->leaves, w.leaves, sizeof(CollisionBspLeaf) * (size_t)w.numLeaves);
            memcpy(map, w.run, sizeof(uint16_t) * t);
        }
    } else {
        Error_Raise(ERR_OUT_OF_MEMORY);
    }
    for (void* p : {(void*)w.run, (void*)w.goesLeft, (void*)w.stamp, (void*)w.used, (void*)w.order, (void*)w.nodes,
                    (void*)w.leaves})
        if (p) Engine_Free(p);
    return tree;
}

const CollisionBsp* CollisionBsp_ForAllLineLeaves(const CollisionBsp* tree, const CollisionLine* line,
                                                  const CollisionGradients* gradients,
                                                  CollisionBspLeafCallback callback, void* data)
{
    HELM_ASSERT(tree && line && gradients && callback);
    const LinePending root = {RootKind(tree), 0, line->start, line->end};
    return Walk(tree, root, callback, data, [&](const CollisionBspNode& n, const LinePending& now, auto push) {
        const int32_t axis = n.axis / 4;
        const Vec3 s = now.start, e = now.end;
        const float sk = Coord(s, axis), ek = Coord(e, axis);
        const float ls = sk - n.leftValue, le = ek - n.leftValue, rs = sk - n.rightValue, re = ek - n.rightValue;
        const bool nls = std::signbit(ls), nle = std::signbit(le), nrs = std::signbit(rs), nre = std::signbit(re);
        auto left = [&](const Vec3& a, const Vec3& b) { return LinePending{n.leftKind, n.leftIndex, a, b}; };
        auto right = [&](const Vec3& a, const Vec3& b) { return LinePending{n.rightKind, n.rightIndex, a, b}; };
        if (nrs && nre) return left(s, e);
        if (!nls && !nle) return right(s, e);
        if (nls == nle && nrs == nre) {
            // Wholly inside the overlap: both sides, the nearer first.
            if (rs < re) return push(right(s, e)), left(s, e);
            return push(left(s, e)), right(s, e);
        }
        if (nls != nle && !nrs && !nre) {
            const Vec3 p = CrossAt(s, axis, n.leftValue, *gradients);
            if (nls) return push(right(s, e)), left(s, p);
            return push(left(p, e)), right(s, e);
        }
        if (nrs != nre && nls && nle) {
            const Vec3 q = CrossAt(s, axis, n.rightValue, *gradients);
            if (nrs) return push(right(q, e)), left(s, e);
            return push(left(s, e)), right(s, q);
        }
        const Vec3 p = CrossAt(s, axis, n.leftValue, *gradients);
        const Vec3 q = CrossAt(s, axis, n.rightValue, *gradients);
        if (nls) return push(right(q, e)), left(s, p);
        return push(left(p, e)), right(s, q);
    });
}

const CollisionBsp* CollisionBsp_ForAllSphereLeaves(const CollisionBsp* tree, const BoundingBox* box,
                                                    CollisionBspLeafCallback callback, void* data)
{
    HELM_ASSERT(tree && box && callback);
    return Walk(tree, Pending{RootKind(tree), 0}, callback, data,
                [&](const CollisionBspNode& n, const Pending&, auto push) {
                    const int32_t axis = n.axis / 4;
                    if (!(Coord(box->inf, axis) < n.leftValue)) return Pending{n.rightKind, n.rightIndex};
                    if (Coord(box->sup, axis) >= n.rightValue) push(Pending{n.rightKind, n.rightIndex});
                    return Pending{n.leftKind, n.leftIndex};
                });
}

int32_t CollisionBsp_StreamGetSize(const CollisionBsp* tree) { return 20 * (int32_t)tree->numLeaves - 16; }

const CollisionBsp* CollisionBsp_StreamWrite(const CollisionBsp* tree, Stream* stream)
{
    for (uint32_t i = 0; i + 1 < tree->numLeaves; i++) {
        const CollisionBspNode& n = tree->nodes[i];
        const uint32_t words[2] = {(uint32_t)n.axis << 16 | (uint32_t)n.leftKind << 8 | n.rightKind,
                                   (uint32_t)n.leftIndex << 16 | n.rightIndex};
        const float values[2] = {n.leftValue, n.rightValue};
        if (!Stream_WriteInt32(stream, words, 8) || !Stream_WriteReal(stream, values, 8)) return nullptr;
    }
    for (uint32_t i = 0; i < tree->numLeaves; i++) {
        const uint32_t word = (uint32_t)tree->leaves[i].numTriangles << 16 | tree->leaves[i].firstTriangle;
        if (!Stream_WriteInt32(stream, &word, 4)) return nullptr;
    }
    return tree;
}

namespace {

// Walks the tree in pre-order and checks that it meets nodes and leaves in
// exactly their numbering, within the depth the walkers' stacks hold: then
// every node and leaf is reached once and no walk can loop or overflow.
bool CheckShape(const CollisionBsp* tree, int32_t numTriangles)
{
    for (uint32_t i = 0; i + 1 < tree->numLeaves; i++) {
        const CollisionBspNode& n = tree->nodes[i];
        const bool kindsOk = (n.leftKind == COLLISION_BSP_LEAF || n.leftKind == COLLISION_BSP_NODE) &&
                             (n.rightKind == COLLISION_BSP_LEAF || n.rightKind == COLLISION_BSP_NODE);
        if ((n.axis != 0 && n.axis != 4 && n.axis != 8) || !kindsOk) return false;
    }
    for (uint32_t i = 0; i < tree->numLeaves; i++)
        if ((int32_t)tree->leaves[i].firstTriangle + tree->leaves[i].numTriangles > numTriangles) return false;
    struct Pending {
        uint8_t kind;
        uint32_t index;
        int32_t depth;
    } stack[COLLISION_BSP_MAX_DEPTH + 1];
    int32_t top = 0;
    uint32_t nextNode = 0, nextLeaf = 0;
    stack[top++] = Pending{(uint8_t)(tree->numLeaves > 1 ? COLLISION_BSP_NODE : COLLISION_BSP_LEAF), 0, 0};
    while (top > 0) {
        const Pending p = stack[--top];
        if (p.kind == COLLISION_BSP_LEAF) {
            if (p.index != nextLeaf++) return false;
            continue;
        }
        if (p.index != nextNode++ || p.depth >= (int32_t)COLLISION_BSP_MAX_DEPTH) return false;
        const CollisionBspNode& n = tree->nodes[p.index];
        stack[top++] = Pending{n.rightKind, n.rightIndex, p.depth + 1};
        stack[top++] = Pending{n.leftKind, n.leftIndex, p.depth + 1};
    }
    return nextNode + 1 == tree->numLeaves && nextLeaf == tree->numLeaves;
}

}  // namespace

CollisionBsp* CollisionBsp_StreamRead(CollisionBsp* tree, Stream* stream, int32_t numTriangles)
{
    for (uint32_t i = 0; i + 1 < tree->numLeaves; i++) {
        uint32_t words[4];
        if (!Stream_ReadInt32(stream, words, sizeof(words))) return nullptr;
        CollisionBspNode& n = tree->nodes[i];
        n.axis = (uint16_t)((words[0] >> 16) & 0xFF);
        n.leftKind = (uint8_t)(words[0] >> 8);
        n.rightKind = (uint8_t)words[0];
        n.leftIndex = (uint16_t)(words[1] >> 16);
        n.rightIndex = (uint16_t)words[1];
        memcpy(&n.leftValue, &words[2], 4);
        memcpy(&n.rightValue, &words[3], 4);
    }
    for (uint32_t i = 0; i < tree->numLeaves; i++) {
        uint32_t word;
        if (!Stream_ReadInt32(stream, &word, 4)) return nullptr;
        tree->leaves[i] = CollisionBspLeaf{(uint16_t)(word >> 16), (uint16_t)word};
    }
    if (!CheckShape(tree, numTriangles)) {
        RaiseBadData();
        return nullptr;
    }
    return tree;
}
