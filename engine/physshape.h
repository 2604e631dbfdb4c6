// Physics shapes and bodies from models. An object whose physical model is a
// LightWave object gets its body from a prepared shape file (extension "rbs"
// in the hashed cache, named after the model path) when one exists and is
// sound, else from the model's own geometry: one convex hull of the whole
// model, one hull per layer, or the triangle mesh itself.
//
// Shape file, little-endian:
//   u32 (unused), u32 (unused), u32 shape count S;
//   S blocks: u32 type, f32 mass, then
//     type 4 (triangle mesh): u32 V, u32 T, V x 3 f32 vertices, T x 3 u16 indices;
//     type 1024 (convex):     u32 P, P x 3 f32 points (the hull is built here).
// The first block makes the body, later blocks add primitives with their own
// masses. A file that lies about a count, indexes past its vertices, holds a
// block of another type or a hull that cannot be built is refused whole: its
// partial shapes are freed and the caller falls back to the model, as for a
// missing file. Bytes after the last block are not read.
//
// Shape records live in the world's shape pool and hold the builder's
// reference of their shape until the world is destroyed; primitives hold
// references of their own.
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteReader;
struct LwoObject;
struct PhysBody;
struct PhysWorld;
class CollisionShape;

struct PhysShape {
    CollisionShape* shape;  // a convex hull or a triangle-mesh container
    int32_t convex;         // 1 hull, 0 mesh
};

// Body modes of PhysBody_CreateFromModel.
enum PhysModelMode {
    PHYS_MODEL_MESH = 0,       // the triangle mesh ("Concave")
    PHYS_MODEL_HULL = 1,       // one hull of every layer's points
    PHYS_MODEL_COMPOSITE = 2,  // one hull per layer
};

// Hull parameters handed to ConvexHull_Build.
constexpr float kPhysHullParams[4] = {0.001f, 0.01f, 0.02f, 0.992f};
constexpr float kPhysHullMargin = 0.01f;
// Largest number of points a mesh shape can index (16-bit indices).
constexpr uint32_t kPhysMeshMaxPoints = 65536;

// The body of the model's shape file, or null when the file is missing or
// refused (see above). The scale of the caller is not applied to it.
PhysBody* PhysShape_LoadRbs(const char* modelPath, PhysWorld* world);
// Parses a whole shape file held in memory into a body: the reader used by
// PhysShape_LoadRbs and the fuzz target. Null when the bytes are refused.
PhysBody* PhysShape_ParseRbs(const uint8_t* data, size_t size, PhysWorld* world);
// One block's data (after its type and mass) into a new shape record: a mesh
// of 16-byte vertices and u16 triangles, or a hull of the points. Null (the
// reader's position undefined) when the data is short or refused.
PhysShape* PhysShape_ReadMesh(ByteReader* file, PhysWorld* world);
PhysShape* PhysShape_ReadConvex(ByteReader* file, PhysWorld* world);
// A shape record for a shape the caller built (the record takes over the
// caller's reference), or null when the pool is full (the reference is
// released then).
PhysShape* PhysShape_Wrap(PhysWorld* world, CollisionShape* shape);
// Releases the record's shape reference and returns it to the pool. The
// shape lives on in the primitives that use it.
void PhysShape_Free(PhysWorld* world, PhysShape* shape);

// A shape from a loaded LightWave object (one layer or all of them): its
// points times (sx, sy, sz); convex: a hull of them, else a mesh of every
// triangle's corners (refused above 65,536 points). Null when no shape
// could be made (flat or too few points, no triangle, a full pool). The
// path is kept for diagnostics only.
PhysShape* PhysShape_FromLwo(PhysWorld* world, const LwoObject* model, int convex, const char* path, float sx,
                             float sy, float sz);

// A rigid body with one primitive holding the shape (kind 1024 for a hull, 4
// for a mesh), the given mass and identity placement; the handle keeps the
// shape record. Restitution 0.5, friction 1.0 as for spheres. Null on
// exhaustion.
PhysBody* PhysBody_CreateFromShape(PhysWorld* world, PhysShape* shape, float mass);
// Adds one more primitive with that shape and mass (identity placement). 0
// when the primitive was refused.
int PhysBody_AddShape(PhysBody* body, PhysShape* shape, float mass);
// PhysShape_FromLwo then PhysBody_CreateFromShape; null when either fails.
PhysBody* PhysBody_FromLwo(PhysWorld* world, const LwoObject* model, float mass, int convex, float sx, float sy,
                           float sz, const char* path);
// The body of a ".lwo" physical model: from its shape file when that is
// sound (the scale not applied), else from the model with the mode
// (PhysModelMode) and scale. Null when neither gives a body.
PhysBody* PhysBody_CreateFromModel(const char* path, PhysWorld* world, float mass, int mode, float sx, float sy,
                                   float sz);
PhysBody* PhysBody_CreateFromModelUnscaled(const char* path, PhysWorld* world, float mass, int mode);
