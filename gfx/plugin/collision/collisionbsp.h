// The collision tree: a partition of one object's triangles into leaves of
// fewer than four triangles, walked by a line or a box to find the leaves a
// query must test.
//
// Each internal node splits one axis with two planes whose slabs overlap:
// the left child holds what lies at or below the left value, the right child
// what lies at or above the right value, and the left value is at or above
// the right one, so no triangle is ever cut or duplicated. Nodes are numbered
// in pre-order (left subtree first) with node 0 the root; leaves in the order
// the walk meets them. A leaf names a run of the triangle map (first ..
// first + count - 1) that the tree's owner keeps beside it.
//
// The build looks for a split on x, y and z among up to 50 candidates near
// the median of the used vertices and keeps the cheapest (an earlier
// candidate wins a tie), so a mesh always gives the same tree; it stops at
// fewer than four triangles, at 32 levels, or when nothing splits.
//
// Stream form of the tree body (little-endian, after its owner's leaf and
// triangle counts): per node a word axis << 16 | left kind << 8 | right kind
// (axis 0, 4 or 8; kind 1 leaf, 2 node), a word left index << 16 | right
// index, the left and right values as f32; then per leaf a word count << 16
// | first. A tree of N leaves takes 20N - 16 bytes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/maths.h"
#include "gfx/core/vector.h"

struct Stream;
struct Triangle;

enum : uint32_t {
    PLUGIN_COLLISION = 0x11D,      // plugin id of the collision data and of its errors
    COLLISION_ERR_BAD_QUERY = 0,   // a query of an unknown type
    COLLISION_ERR_BAD_DATA = 1,    // streamed collision data that contradicts itself or its owner
    COLLISION_BSP_MAX_DEPTH = 32,  // node levels the walkers' stacks hold
    COLLISION_BSP_MAX_TRIANGLES = 65535,
    COLLISION_BSP_LEAF = 1,  // child kinds
    COLLISION_BSP_NODE = 2,
};

struct CollisionBspNode {
    uint16_t axis;     // 0, 4, 8: byte offset of the coordinate in a Vec3
    uint8_t leftKind;  // COLLISION_BSP_LEAF or _NODE
    uint8_t rightKind;
    uint16_t leftIndex;
    uint16_t rightIndex;
    float leftValue;   // the left child reaches up to here
    float rightValue;  // the right child starts here
};

struct CollisionBspLeaf {
    uint16_t numTriangles;
    uint16_t firstTriangle;  // index into the owner's triangle map
};

// One allocation: this header, numLeaves - 1 nodes, numLeaves leaves.
struct CollisionBsp {
    uint32_t numLeaves;
    CollisionBspNode* nodes;  // null for a single leaf
    CollisionBspLeaf* leaves;
};

// A segment and the six ratios of d = end - start the line walker clips
// with: (dy/dx, dz/dx), (dx/dy, dz/dy), (dx/dz, dy/dz), each pair 0 when its
// divisor is 0.
struct CollisionLine {
    Vec3 start;
    Vec3 end;
};
struct CollisionGradients {
    float dydx, dzdx;
    float dxdy, dzdy;
    float dxdz, dydz;
};
void CollisionLine_Gradients(const CollisionLine* line, CollisionGradients* out);

// Called per leaf reached with its triangle count and first map index;
// return 0 to stop the walk.
typedef int32_t (*CollisionBspLeafCallback)(int32_t numTriangles, int32_t firstTriangle, void* data);

// Builds the tree of numTriangles (1 .. 65535) triangles whose corners index
// positions (numVertices of them) and writes map[i] = the triangle at
// position i of the leaves' runs (map has numTriangles entries). Null with
// 0x80000013 when memory runs out, or {0x11D, 1} for a position that is not
// finite. Free with CollisionBsp_Destroy.
CollisionBsp* CollisionBsp_Build(int32_t numVertices, const Vec3* positions, int32_t numTriangles,
                                 const Triangle* triangles, uint16_t* map);
// A tree of numLeaves (>= 1) leaves with its header set, nodes and leaves
// not filled; null with 0x80000013 when memory runs out.
CollisionBsp* CollisionBsp_Create(int32_t numLeaves);
void CollisionBsp_Destroy(CollisionBsp* tree);
// Bytes of a tree of numLeaves leaves laid out in one block (the header
// included), for owners that allocate it with other data.
size_t CollisionBsp_Size(int32_t numLeaves);
// Sets the header of a tree laid out in a block of CollisionBsp_Size bytes.
CollisionBsp* CollisionBsp_Init(void* block, int32_t numLeaves);

// Walk the leaves the line's segment reaches, or the box (sup the maximum
// corner, inf the minimum) overlaps. Each returns the tree, or null when a
// leaf callback stopped the walk.
const CollisionBsp* CollisionBsp_ForAllLineLeaves(const CollisionBsp* tree, const CollisionLine* line,
                                                  const CollisionGradients* gradients,
                                                  CollisionBspLeafCallback callback, void* data);
const CollisionBsp* CollisionBsp_ForAllSphereLeaves(const CollisionBsp* tree, const BoundingBox* box,
                                                    CollisionBspLeafCallback callback, void* data);

// The tree body: 20N - 16 bytes. Write returns the tree or null. Read fills a
// tree made by CollisionBsp_Create/Init for N leaves and checks it against
// numTriangles: axes 0, 4 or 8, kinds 1 or 2, child nodes after their parent
// (pre-order), every index in range, every node reached once, at most 32
// levels, leaf runs within numTriangles. Null (0x8000001A short read, or
// {0x11D, 1} for a tree that fails the checks) otherwise.
int32_t CollisionBsp_StreamGetSize(const CollisionBsp* tree);
const CollisionBsp* CollisionBsp_StreamWrite(const CollisionBsp* tree, Stream* stream);
CollisionBsp* CollisionBsp_StreamRead(CollisionBsp* tree, Stream* stream, int32_t numTriangles);
