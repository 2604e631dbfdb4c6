// Paths: chains of sub-paths made of move, line and cubic curve steps, and
// their strokes.
//
// Every node keeps what stroking needs: the unit normal of the segment that
// ends at it, (dy, -dx) / length, replaced at a join by the miter vector m =
// (p + n) / (p . (p + n)) of the two segment normals p and n (so that m
// projected on either normal has length 1), and the running length of the
// polygon from the sub-path's first node. Curves are three nodes (two control
// points and the end point) until they are flattened into lines by recursive
// halving against the toolkit's tolerance of half a raster pixel.
//
// Degenerate input never produces NaN: a zero-length segment keeps the normal
// of the segment before it, a join that doubles back (p . (p + n) near 0)
// takes the new segment's normal instead of the miter, and a sub-path of zero
// length is drawn with t = 0 throughout.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct ArrayList;
struct Brush2D;

enum : uint32_t {
    PATH2D_MOVE = 0,
    PATH2D_LINE = 1,
    PATH2D_CURVE = 2,  // three in a row: control point, control point, end point
};

struct Path2DNode {
    uint32_t type;  // PATH2D_*
    float x, y;
    float nx, ny;  // segment normal, or the miter at a join
    float length;  // running length from the sub-path's first node
};
static_assert(sizeof(Path2DNode) == 24, "nodes are 24 bytes");

// One sub-path; a path is its first sub-path, whose `current` receives new
// nodes.
struct Path2D {
    ArrayList* nodeList;    // editable: the nodes; null while locked
    Path2DNode* nodeArray;  // locked: the nodes (null when there are none)
    int32_t lockedCount;    // node count while locked; -1 while editable
    uint32_t closed;
    uint32_t flat;    // 1 while the sub-path holds no curve nodes
    float offset;     // shifts the stroke sideways
    Path2D* next;     // next sub-path of the chain, or null
    Path2D* current;  // first sub-path only: the sub-path being built
};

// The path free list and the scratch path used for flattening. 1, or 0 when
// memory runs out. Close destroys the paths still alive.
int32_t Path2D_ModuleOpen(void);
int32_t Path2D_ModuleClose(void);

// An empty, editable, flat, open path with offset 0; null when the module is
// closed or memory runs out.
Path2D* Path2D_Create(void);
// Frees every sub-path of the chain with its nodes. Returns 1.
int32_t Path2D_Destroy(Path2D* path);

// A null path is a broken contract everywhere except in Path2D_Destroy and
// Path2D_RemoveSinglePoints.
//
// The building steps return path, or null when the path is locked or memory
// runs out (the path is then as it was before the step, apart from a new
// empty sub-path a failed move may leave).
//
// Starts a new sub-path at (x, y) (the current one when it is still empty).
Path2D* Path2D_MoveTo(Path2D* path, float x, float y);
// A line from the last node; on an empty sub-path it moves to (x, y).
Path2D* Path2D_LineTo(Path2D* path, float x, float y);
// A cubic curve from the last node; on an empty sub-path it moves to (x3, y3).
Path2D* Path2D_CurveTo(Path2D* path, float x1, float y1, float x2, float y2, float x3, float y3);
// Adds a line back to the first node when the last is elsewhere and gives
// the first and last nodes the miter of the two; an empty or one-node
// sub-path is left alone.
Path2D* Path2D_ClosePath(Path2D* path);

// Appends the sub-path source, curves flattened, to destination (as a new
// sub-path unless destination's current one is empty). Lines and moves are
// added again rather than copied, so normals, miters and running lengths
// follow the flattened polygon. Null without a device camera (no tolerance).
Path2D* Path2D_Flatten(Path2D* destination, const Path2D* source);
// Appends the halving of the curve p0..p3 with at most `depth` levels.
Path2D* Path2D_FlattenBezier(Path2D* destination, const Vec2* p0, const Vec2* p1, const Vec2* p2, const Vec2* p3,
                             int32_t depth);
// Flattens every sub-path holding curves where it stands. Null for a locked
// path or without a device camera.
Path2D* Path2D_FlattenInPlace(Path2D* path);
// Appends source's nodes to destination's current sub-path as they are and
// takes over source's closed flag.
Path2D* Path2D_CopyNodes(Path2D* destination, const Path2D* source);
// Frees every sub-path holding exactly one node; returns the new first
// sub-path (null when none is left).
Path2D* Path2D_RemoveSinglePoints(Path2D* path);
// Locking turns every sub-path's node list into a plain array (for paths
// that are complete); unlocking makes them editable again.
Path2D* Path2D_Lock(Path2D* path);
Path2D* Path2D_Unlock(Path2D* path);

// Draws every sub-path as a triangle strip brush->halfWidth to each side
// (shifted by the sub-path's offset), in batches of at most 254 vertices.
// Null (nothing drawn) without a camera and its frame.
Path2D* Path2D_Stroke(Path2D* path, Brush2D* brush);

// The nodes of one sub-path.
int32_t Path2D_GetNodeCount(const Path2D* subPath);
const Path2DNode* Path2D_GetNodes(const Path2D* subPath);

// 1 when the chain is consistent: no cycle, the current sub-path in it, node
// storage matching the lock state, a move first and only first, curves in
// whole triples exactly where a sub-path is not flat, finite points and
// normals, running lengths from 0 that never fall. For tests after edits.
int32_t Path2D_Validate(const Path2D* path);
