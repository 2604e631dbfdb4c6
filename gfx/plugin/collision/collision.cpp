// Collision data of geometries and sectors, its stream, and the queries.
//
// A query works in the atomic's own space: the line's points or the
// sphere's centre go through the inverse of the atomic's world matrix, and a
// sphere's radius is scaled by that inverse's at row, so the triangles are
// never transformed. Hits are reported in that space too.
#include "gfx/plugin/collision/collision.h"

#include <cstring>

#include "common/assert.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/stream.h"
#include "gfx/core/vector.h"
#include "gfx/plugin/collision/intersect.h"
#include "gfx/world/atomic.h"
#include "gfx/world/world.h"

namespace {

constexpr float kMinDeterminant = 1e-8f;
constexpr float kEdgeTolerance = 1e-5f;

struct CollisionModule {
    int32_t engineOffset;
    int32_t sectorOffset;
    int32_t geometryOffset;
    int32_t atomicOffset;
    int32_t openCount;
};

CollisionModule sModule = {-1, -1, -1, -1, 0};

GeomCollisionData*& Slot(void* object, int32_t offset) { return *(GeomCollisionData**)((char*)object + offset); }
GeomCollisionData* Data(const void* object, int32_t offset)
{
    return *(GeomCollisionData* const*)((const char*)object + offset);
}

void Raise(uint32_t code)
{
    const ErrorRecord e = {(code & 0x80000000u) ? 0 : (int32_t)PLUGIN_COLLISION, (int32_t)code};
    Error_Set(&e);
}

// ---- extensions ----

void* EngineOpen(void* engine, int32_t offset, int32_t)
{
    memset((char*)engine + offset, 0, sizeof(int32_t));
    sModule.openCount++;
    return engine;
}

void* EngineClose(void* engine, int32_t, int32_t)
{
    sModule.openCount--;
    return engine;
}

void* ClearSlot(void* object, int32_t offset, int32_t)
{
    Slot(object, offset) = nullptr;
    return object;
}

void* DestroySlot(void* object, int32_t offset, int32_t)
{
    GeomCollisionData*& data = Slot(object, offset);
    if (data) GeomCollisionData_Destroy(data);
    data = nullptr;
    return object;
}

int32_t StreamGetSize(const void* object, int32_t offset, int32_t)
{
    const GeomCollisionData* data = Data(object, offset);
    return data ? CollisionBsp_StreamGetSize(data->tree) + 8 + 4 * (int32_t)data->numTriangles : 0;
}

Stream* StreamWrite(Stream* stream, int32_t, const void* object, int32_t offset, int32_t)
{
    const GeomCollisionData* data = Data(object, offset);
    const int32_t counts[2] = {(int32_t)data->tree->numLeaves, (int32_t)data->numTriangles};
    if (!Stream_WriteInt32(stream, counts, sizeof(counts)) || !CollisionBsp_StreamWrite(data->tree, stream))
        return nullptr;
    for (uint32_t i = 0; i < data->numTriangles; i++) {
        const int32_t entry = data->triangleMap[i];
        if (!Stream_WriteInt32(stream, &entry, 4)) return nullptr;
    }
    return stream;
}

// Reads the data of an object of numTriangles triangles. Everything the
// walkers and queries will index is checked: the counts against the
// sub-chunk and the owner before the allocation, the tree's shape, and the
// map entries against the owner's triangles.
Stream* ReadData(Stream* stream, int32_t length, void* object, int32_t offset, int32_t numTriangles)
{
    int32_t counts[2];
    if (length < 8) {
        Raise(ERR_SHORT_READ);
        return nullptr;
    }
    if (!Stream_ReadInt32(stream, counts, sizeof(counts))) return nullptr;
    const int32_t n = counts[0], t = counts[1];
    if (n < 1 || t != numTriangles || t > (int32_t)COLLISION_BSP_MAX_TRIANGLES ||
        (int64_t)length != 20 * (int64_t)n - 8 + 4 * (int64_t)t) {
        Raise(COLLISION_ERR_BAD_DATA);
        return nullptr;
    }
    const size_t head = (sizeof(GeomCollisionData) + 15) & ~(size_t)15;
    const size_t treeBytes = (CollisionBsp_Size(n) + 15) & ~(size_t)15;
    char* block = (char*)Engine_Malloc(head + treeBytes + sizeof(uint16_t) * (size_t)t);
    if (!block) {
        Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    GeomCollisionData* data = (GeomCollisionData*)block;
    data->flags = GEOMCOLLISION_ONE_BLOCK;
    data->tree = CollisionBsp_Init(block + head, n);
    data->numTriangles = (uint32_t)t;
    data->triangleMap = (uint16_t*)(block + head + treeBytes);
    bool ok = CollisionBsp_StreamRead(data->tree, stream, t) != nullptr;
    for (int32_t i = 0; ok && i < t; i++) {
        int32_t entry;
        ok = Stream_ReadInt32(stream, &entry, 4) != nullptr;
        if (ok && (entry < 0 || entry >= t)) {
            Raise(COLLISION_ERR_BAD_DATA);
            ok = false;
        }
        if (ok) data->triangleMap[i] = (uint16_t)entry;
    }
    if (!ok) {
        Engine_Free(block);
        return nullptr;
    }
    GeomCollisionData*& slot = Slot(object, offset);
    if (slot) GeomCollisionData_Destroy(slot);
    slot = data;
    return stream;
}

Stream* GeometryRead(Stream* stream, int32_t length, void* object, int32_t offset, int32_t)
{
    return ReadData(stream, length, object, offset, ((const Geometry*)object)->numTriangles);
}

Stream* SectorRead(Stream* stream, int32_t length, void* object, int32_t offset, int32_t)
{
    return ReadData(stream, length, object, offset, ((const WorldSector*)object)->numTriangles);
}

// ---- queries ----

Vec3 Sub(const Vec3& a, const Vec3& b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(const Vec3& a, const Vec3& b)
{
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Where a query finds its triangles' corners: one position array, or two
// blended at t (a morphing geometry).
struct Positions {
    const Vec3* a;
    const Vec3* b;  // null unless blending
    float t;
};

Positions QueryPositions(const Atomic* atomic, const Geometry* g)
{
    const MorphTarget* targets = g->morphTarget;
    const int32_t n = g->numMorphTargets, s = atomic->interpolator.startMorphTarget,
                  e = atomic->interpolator.endMorphTarget;
    if (n <= 1 || s < 0 || s >= n) return Positions{targets[0].verts, nullptr, 0};
    if (e < 0 || e >= n) return Positions{targets[0].verts, nullptr, 0};
    if (s == e || !targets[e].verts) return Positions{targets[s].verts, nullptr, 0};
    return Positions{targets[s].verts, targets[e].verts,
                     atomic->interpolator.position * atomic->interpolator.recipTime};
}

struct Query {
    const GeomCollisionQuery* query;
    GeomCollisionCallback callback;
    void* data;
    const Geometry* geometry;
    const uint16_t* map;  // the leaves' runs; null when testing every triangle
    Positions positions;
    // line
    Vec3 start, direction;
    // sphere
    Sphere sphere;
    bool stopped;
};

void Corners(const Query& q, int32_t tri, Vec3 out[3])
{
    const Triangle& t = q.geometry->triangles[tri];
    for (int i = 0; i < 3; i++) {
        const Vec3& a = q.positions.a[t.vertIndex[i]];
        if (!q.positions.b) {
            out[i] = a;
            continue;
        }
        const Vec3& b = q.positions.b[t.vertIndex[i]];
        const float s = q.positions.t;
        out[i] = Vec3{a.x + (b.x - a.x) * s, a.y + (b.y - a.y) * s, a.z + (b.z - a.z) * s};
    }
}

bool Report(Query& q, int32_t tri, const Vec3 p[3], const Vec3& normal, float distance)
{
    const GeomCollisionTriangle hit = {normal, p[0], tri, {&p[0], &p[1], &p[2]}};
    if (!q.callback(q.query, &hit, distance, q.data)) q.stopped = true;
    return !q.stopped;
}

// Front faces only: the line must run against e1 x e2. The tolerance band
// scales with the determinant, so hits on shared edges and at the segment's
// ends count on both sides.
bool LineTriangle(Query& q, int32_t tri)
{
    Vec3 p[3];
    Corners(q, tri, p);
    const Vec3 e1 = Sub(p[1], p[0]), e2 = Sub(p[2], p[0]);
    const Vec3 h = Cross(q.direction, e2);
    const float det = Dot(e1, h);
    if (!(det > kMinDeterminant)) return true;
    const float eps = -kEdgeTolerance * det, limit = det - eps;
    const Vec3 s = Sub(q.start, p[0]);
    const float u = Dot(s, h);
    if (u < eps || u > limit) return true;
    const Vec3 qv = Cross(s, e1);
    const float v = Dot(q.direction, qv);
    if (v < eps || u + v > limit) return true;
    const float t = Dot(e2, qv);
    if (t < eps || t > limit) return true;
    Vec3 n = Cross(e1, e2);
    const float inv = Math_InvSqrtTable(Dot(n, n));
    n = Vec3{n.x * inv, n.y * inv, n.z * inv};
    return Report(q, tri, p, n, t / det);
}

bool SphereTriangle(Query& q, int32_t tri)
{
    Vec3 p[3], normal;
    Corners(q, tri, p);
    float distance = 0;
    if (!Intersect_TriangleTest(&q.sphere, &p[0], &p[1], &p[2], &normal, &distance)) return true;
    return Report(q, tri, p, normal, distance / q.sphere.radius);
}

template <bool (*Test)(Query&, int32_t)>
int32_t TestLeaf(int32_t count, int32_t first, void* data)
{
    Query& q = *(Query*)data;
    for (int32_t i = first; i < first + count; i++)
        if (!Test(q, q.map[i])) return 0;
    return 1;
}

template <bool (*Test)(Query&, int32_t)>
void TestAll(Query& q)
{
    for (int32_t i = 0; i < q.geometry->numTriangles; i++)
        if (!Test(q, i)) return;
}

void LineQuery(Query& q, const Matrix& inverse, const CollisionLine& worldLine)
{
    CollisionLine line;
    Vector3_TransformPoints(&line.start, &worldLine.start, 1, &inverse);
    Vector3_TransformPoints(&line.end, &worldLine.end, 1, &inverse);
    q.start = line.start;
    q.direction = Sub(line.end, line.start);
    const GeomCollisionData* data = GeomCollision_GetGeometryData(q.geometry);
    if (q.geometry->numMorphTargets == 1 && data) {
        CollisionGradients gradients;
        CollisionLine_Gradients(&line, &gradients);
        q.map = data->triangleMap;
        CollisionBsp_ForAllLineLeaves(data->tree, &line, &gradients, TestLeaf<LineTriangle>, &q);
    } else {
        TestAll<LineTriangle>(q);
    }
}

void SphereQuery(Query& q, const Matrix& inverse, const Sphere& worldSphere)
{
    Vector3_TransformPoints(&q.sphere.center, &worldSphere.center, 1, &inverse);
    q.sphere.radius = worldSphere.radius * Math_SqrtTable(Dot(inverse.at, inverse.at));
    const GeomCollisionData* data = GeomCollision_GetGeometryData(q.geometry);
    if (q.geometry->numMorphTargets == 1 && data) {
        const Vec3& c = q.sphere.center;
        const float r = q.sphere.radius;
        const BoundingBox box = {{c.x + r, c.y + r, c.z + r}, {c.x - r, c.y - r, c.z - r}};
        q.map = data->triangleMap;
        CollisionBsp_ForAllSphereLeaves(data->tree, &box, TestLeaf<SphereTriangle>, &q);
    } else {
        TestAll<SphereTriangle>(q);
    }
}

}  // namespace

int32_t GeomCollision_PluginAttach(void)
{
    sModule.engineOffset = Engine_RegisterPlugin((int32_t)sizeof(int32_t), PLUGIN_COLLISION, EngineOpen, EngineClose);
    sModule.sectorOffset = WorldSector_RegisterPlugin((int32_t)sizeof(GeomCollisionData*), PLUGIN_COLLISION, ClearSlot,
                                                      DestroySlot, nullptr);
    const int32_t sectorStream =
        WorldSector_RegisterPluginStream(PLUGIN_COLLISION, SectorRead, StreamWrite, StreamGetSize);
    sModule.atomicOffset =
        Atomic_RegisterPlugin((int32_t)sizeof(GeomCollisionData*), PLUGIN_COLLISION, ClearSlot, nullptr, nullptr);
    sModule.geometryOffset =
        Geometry_RegisterPlugin((int32_t)sizeof(GeomCollisionData*), PLUGIN_COLLISION, ClearSlot, DestroySlot, nullptr);
    const int32_t geometryStream =
        Geometry_RegisterPluginStream(PLUGIN_COLLISION, GeometryRead, StreamWrite, StreamGetSize);
    return sModule.engineOffset >= 0 && sModule.sectorOffset >= 0 && sectorStream >= 0 && sModule.atomicOffset >= 0 &&
                   sModule.geometryOffset >= 0 && geometryStream >= 0
               ? 1
               : 0;
}

GeomCollisionData* GeomCollisionData_Create(int32_t numVertices, const Vec3* positions, int32_t numTriangles,
                                            const Triangle* triangles)
{
    HELM_ASSERT(numTriangles >= 1 && numTriangles <= (int32_t)COLLISION_BSP_MAX_TRIANGLES);
    GeomCollisionData* data =
        (GeomCollisionData*)Engine_Malloc(sizeof(GeomCollisionData) + sizeof(uint16_t) * (size_t)numTriangles);
    if (!data) {
        Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    data->flags = 0;
    data->numTriangles = (uint32_t)numTriangles;
    data->triangleMap = (uint16_t*)(data + 1);
    data->tree = CollisionBsp_Build(numVertices, positions, numTriangles, triangles, data->triangleMap);
    if (!data->tree) {
        Engine_Free(data);
        return nullptr;
    }
    return data;
}

void GeomCollisionData_Destroy(GeomCollisionData* data)
{
    if (!data) return;
    if (!(data->flags & GEOMCOLLISION_ONE_BLOCK)) CollisionBsp_Destroy(data->tree);
    Engine_Free(data);
}

Geometry* GeomCollision_BuildGeometryData(Geometry* geometry)
{
    HELM_ASSERT(geometry && sModule.geometryOffset >= 0);
    GeomCollisionData*& slot = Slot(geometry, sModule.geometryOffset);
    GeomCollisionData_Destroy(slot);
    slot = nullptr;
    const Vec3* positions = geometry->morphTarget ? geometry->morphTarget[0].verts : nullptr;
    // The map holds 16-bit triangle indices: larger geometry is queried
    // triangle by triangle instead.
    if (!positions || !geometry->triangles || geometry->numTriangles < 1 ||
        geometry->numTriangles > (int32_t)COLLISION_BSP_MAX_TRIANGLES)
        return nullptr;
    slot = GeomCollisionData_Create(geometry->numVertices, positions, geometry->numTriangles, geometry->triangles);
    return slot ? geometry : nullptr;
}

GeomCollisionData* GeomCollision_GetGeometryData(const Geometry* geometry)
{
    HELM_ASSERT(sModule.geometryOffset >= 0);
    return Data(geometry, sModule.geometryOffset);
}

GeomCollisionData* GeomCollision_GetWorldSectorData(const WorldSector* sector)
{
    HELM_ASSERT(sModule.sectorOffset >= 0);
    return Data(sector, sModule.sectorOffset);
}

Atomic* GeomCollision_ForAllGeometryIntersections(Atomic* atomic, const GeomCollisionQuery* query,
                                                  GeomCollisionCallback callback, void* data)
{
    HELM_ASSERT(atomic && query && callback);
    Sphere sphere = {};
    switch (query->type) {
    case GEOMCOLLISION_LINE: break;
    case GEOMCOLLISION_SPHERE: sphere = query->sphere; break;
    case GEOMCOLLISION_ATOMIC:
        if (!query->atomic) {
            Raise(ERR_NULL_ARGUMENT);
            return nullptr;
        }
        sphere = *Atomic_GetWorldBoundingSphere(query->atomic);
        break;
    default: Raise(COLLISION_ERR_BAD_QUERY); return nullptr;
    }
    // A geometry without vertices has nothing to hit, whatever its triangle
    // count says (a stream with no vertex data reads back its triangles
    // unset, every corner index 0 of an empty array).
    const Geometry* g = atomic->geometry;
    if (!g || !g->triangles || g->numVertices <= 0 || !g->morphTarget || !g->morphTarget[0].verts) return atomic;
    Query q = {};
    q.query = query;
    q.callback = callback;
    q.data = data;
    q.geometry = g;
    q.positions = QueryPositions(atomic, g);
    if (!q.positions.a) return atomic;
    Matrix inverse;
    Frame* frame = Atomic_GetFrame(atomic);
    if (frame) Matrix_Invert(&inverse, Frame_GetWorldMatrix(frame));
    else Matrix_SetIdentity(&inverse);
    if (query->type == GEOMCOLLISION_LINE) LineQuery(q, inverse, query->line);
    else SphereQuery(q, inverse, sphere);
    return atomic;
}
