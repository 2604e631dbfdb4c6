// Collision data and intersection queries.
//
// Geometries and world sectors may carry a GeomCollisionData: the collision
// tree of gfx/plugin/collision/collisionbsp.h over their triangles and the
// triangle map whose runs its leaves name. It is built once from a
// geometry's first morph target (GeomCollision_BuildGeometryData) and streams
// with its owner (sub-chunk 0x11D: i32 leaf count N, i32 triangle count T,
// the tree body, T i32 map entries; 20N - 8 + 4T bytes). Objects of more than
// 65535 triangles get no data (the map is 16-bit); queries on them test
// every triangle.
//
// GeomCollision_ForAllGeometryIntersections intersects a line, a sphere or
// another atomic's bounding sphere with the triangles of an atomic's
// geometry, in the atomic's own space, and calls back for every triangle
// hit. Lines hit front faces only (the line must run against the triangle's
// normal). Geometries with one morph target are searched through their tree
// when they have one; morphing ones test every triangle at the atomic's
// current blend.
#pragma once
#include <cstdint>

#include "common/maths.h"
#include "gfx/plugin/collision/collisionbsp.h"
#include "gfx/world/geometry.h"

struct Atomic;
struct Geometry;
struct WorldSector;

struct GeomCollisionData {
    uint32_t flags;  // GEOMCOLLISION_ONE_BLOCK: the tree lies in this record's allocation
    CollisionBsp* tree;
    uint32_t numTriangles;  // entries of the map: the owner's triangle count
    uint16_t* triangleMap;  // leaf runs -> the owner's triangle indices
};

enum : uint32_t { GEOMCOLLISION_ONE_BLOCK = 1 };

enum GeomCollisionQueryType : int32_t {
    GEOMCOLLISION_LINE = 1,    // line.start -> line.end
    GEOMCOLLISION_SPHERE = 3,  // sphere, in world space
    GEOMCOLLISION_ATOMIC = 5,  // the world bounding sphere of atomic
};

struct GeomCollisionQuery {
    union {
        CollisionLine line;
        Sphere sphere;
        Atomic* atomic;
    };
    int32_t type;  // GeomCollisionQueryType
};

// A triangle hit, in the queried atomic's own space.
struct GeomCollisionTriangle {
    Vec3 normal;              // (p1 - p0) x (p2 - p0), unit length
    Vec3 point;               // p0
    int32_t index;            // into the geometry's triangle array
    const Vec3* vertices[3];  // the corners' positions (valid during the callback only)
};

// distance: for a line the fraction of the way from start to end, for a
// sphere the centre's distance from the triangle's plane divided by the
// radius (both in the atomic's space). Return 0 to stop the query.
typedef int32_t (*GeomCollisionCallback)(const GeomCollisionQuery* query, const GeomCollisionTriangle* triangle,
                                         float distance, void* data);

// Registers the engine, world-sector, atomic and geometry extensions and the
// sector and geometry streams. 1, or 0 when a registration is refused.
// Between Engine_Init and Engine_Open, after HAnim_PluginAttach.
int32_t GeomCollision_PluginAttach(void);

// Replaces the geometry's collision data with data built from its first
// morph target. Returns geometry, or null with no data left (a geometry of
// more than 65535 triangles or none, or memory ran out).
Geometry* GeomCollision_BuildGeometryData(Geometry* geometry);
GeomCollisionData* GeomCollision_GetGeometryData(const Geometry* geometry);
GeomCollisionData* GeomCollision_GetWorldSectorData(const WorldSector* sector);

// Calls back for every triangle of the atomic's geometry the query hits.
// Returns the atomic (also when the callback stopped the query), or null
// for a bad query: {0x11D, 0} for an unknown type, {0, 0x80000016} for an
// atomic query without an atomic. An atomic without geometry hits nothing.
Atomic* GeomCollision_ForAllGeometryIntersections(Atomic* atomic, const GeomCollisionQuery* query,
                                                  GeomCollisionCallback callback, void* data);

// Collision data over the triangles (1 .. 65535 of them); null with
// 0x80000013 when memory runs out. Destroy frees the tree (unless
// it lies in the record's block) and the record.
GeomCollisionData* GeomCollisionData_Create(int32_t numVertices, const Vec3* positions, int32_t numTriangles,
                                            const Triangle* triangles);
void GeomCollisionData_Destroy(GeomCollisionData* data);
