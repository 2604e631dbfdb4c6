#include "engine/physshape.h"

#include <cmath>
#include <cstdio>

#include "app/cache.h"
#include "app/file.h"
#include "common/bytes.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/physbody.h"
#include "engine/lwo.h"
#include "engine/physworld.h"
#include "physics/collision/collision_primitive.h"
#include "physics/collision/convex_hull.h"
#include "physics/collision/mesh_container.h"
#include "physics/dynamics/rigid_body.h"

namespace {

enum : uint32_t {
    kBlockMesh = 4,
    kBlockConvex = 1024,
};
// Bytes of a block before its data (type and mass) and of the data's counts.
constexpr size_t kBlockHead = 8;
// A shape file larger than this is refused unread (the biggest level meshes
// are a few megabytes).
constexpr long kMaxShapeFile = 64L * 1024 * 1024;
constexpr float kShapeRestitution = 0.5f;
constexpr float kShapeFriction = 1.0f;

// Points of four floats (w = 0) for the hull builder and the mesh container.
float* ReadPoints(ByteReader* r, uint32_t count)
{
    if (count > r->left / 12) return nullptr;  // the count lies: fewer bytes than points
    float* points = static_cast<float*>(Mem_Alloc(size_t(count) * 4 * sizeof(float) + 16, 16));
    if (!points) return nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        points[i * 4 + 0] = ByteReader_F32(r);
        points[i * 4 + 1] = ByteReader_F32(r);
        points[i * 4 + 2] = ByteReader_F32(r);
        points[i * 4 + 3] = 0.0f;
    }
    return points;
}

// The whole data file, or null (missing, empty, too big or unreadable).
uint8_t* ReadWholeFile(const char* name, size_t* size)
{
    long length = File_GetSize(name, 1);
    if (length <= 0 || length > kMaxShapeFile) return nullptr;
    void* f = File_Open(name, "rb");
    if (!f) return nullptr;
    uint8_t* data = static_cast<uint8_t*>(Mem_Alloc(size_t(length), 16));
    size_t got = data ? File_Read(data, 1, size_t(length), f) : 0;
    File_Close(f);
    if (!data || got != size_t(length)) {
        Mem_Free(data);
        return nullptr;
    }
    *size = got;
    return data;
}

// Frees what a refused file made: the body first (its primitives hold
// shape references of their own), then every shape record of the file.
PhysBody* Refuse(PhysWorld* world, PhysBody* body, PhysShape** shapes, uint32_t count)
{
    PhysBody_Destroy(world, body);
    for (uint32_t i = 0; i < count; ++i) PhysShape_Free(world, shapes[i]);
    Mem_Free(shapes);
    return nullptr;
}

}  // namespace

PhysShape* PhysShape_Wrap(PhysWorld* world, CollisionShape* shape)
{
    if (!shape) return nullptr;
    PhysShape* s = world && world->shapePool ? static_cast<PhysShape*>(List_Alloc(world->shapePool)) : nullptr;
    if (!s) {
        CollisionShape_Release(shape);
        return nullptr;
    }
    s->shape = shape;
    s->convex = shape->kind == COLLISION_SHAPE_CONVEX ? 1 : 0;
    return s;
}

void PhysShape_Free(PhysWorld* world, PhysShape* shape)
{
    if (!world || !shape) return;
    CollisionShape_Release(shape->shape);
    shape->shape = nullptr;
    List_Free(world->shapePool, shape);
}

PhysShape* PhysShape_ReadMesh(ByteReader* r, PhysWorld* world)
{
    uint32_t v = ByteReader_U32(r);
    uint32_t t = ByteReader_U32(r);
    if (r->overrun) return nullptr;
    // Both counts against what is left before anything is allocated.
    if (v > r->left / 12 || t > (r->left - size_t(v) * 12) / 6) return nullptr;
    float* points = ReadPoints(r, v);
    uint16_t* indices = static_cast<uint16_t*>(Mem_Alloc(size_t(t) * 3 * sizeof(uint16_t) + 16, 16));
    MeshContainer* mesh = MeshContainer_Construct();
    int ok = points && indices && mesh;
    for (uint32_t i = 0; ok && i < t * 3; ++i) {
        indices[i] = ByteReader_U16(r);
        if (indices[i] >= v) ok = 0;  // an index past the vertices refuses the file
    }
    ok = ok && !r->overrun && MeshContainer_AddVertices(mesh, points, int(v));
    if (ok && t) MeshContainer_AddTriangles(mesh, indices, int(t));
    Mem_Free(points);
    Mem_Free(indices);
    if (!ok) {
        CollisionShape_Release(mesh);
        return nullptr;
    }
    return PhysShape_Wrap(world, mesh);
}

PhysShape* PhysShape_ReadConvex(ByteReader* r, PhysWorld* world)
{
    uint32_t p = ByteReader_U32(r);
    if (r->overrun) return nullptr;
    float* points = ReadPoints(r, p);
    if (!points) return nullptr;
    ConvexHull* hull = ConvexHull_Build(points, int(p), kPhysHullParams, kPhysHullMargin);
    Mem_Free(points);
    return PhysShape_Wrap(world, hull);  // null when qhull refused the points
}

PhysBody* PhysShape_ParseRbs(const uint8_t* data, size_t size, PhysWorld* world)
{
    if (!world || (!data && size)) return nullptr;
    ByteReader r = ByteReader_Init(data, size);
    ByteReader_U32(&r);
    ByteReader_U32(&r);
    uint32_t count = ByteReader_U32(&r);
    // Every block takes at least its head and one count word.
    if (r.overrun || count == 0 || count > r.left / (kBlockHead + 4)) return nullptr;
    PhysShape** shapes = static_cast<PhysShape**>(Mem_Alloc(sizeof(PhysShape*) * count, 8));
    if (!shapes) return nullptr;
    uint32_t made = 0;
    PhysBody* body = nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t type = ByteReader_U32(&r);
        float mass = ByteReader_F32(&r);
        if (r.overrun || !std::isfinite(mass)) return Refuse(world, body, shapes, made);
        PhysShape* shape = nullptr;
        if (type == kBlockMesh)
            shape = PhysShape_ReadMesh(&r, world);
        else if (type == kBlockConvex)
            shape = PhysShape_ReadConvex(&r, world);
        if (!shape) return Refuse(world, body, shapes, made);
        shapes[made++] = shape;
        if (!body) {
            body = PhysBody_CreateFromShape(world, shape, mass);
            if (!body) return Refuse(world, nullptr, shapes, made);
        } else if (!PhysBody_AddShape(body, shape, mass)) {
            return Refuse(world, body, shapes, made);
        }
    }
    Mem_Free(shapes);
    return body;
}

PhysBody* PhysShape_LoadRbs(const char* modelPath, PhysWorld* world)
{
    if (!modelPath || !world) return nullptr;
    char name[CACHE_NAME_MAX];
    Cache_NameFromSource(name, modelPath, 0, "rbs");
    size_t size = 0;
    uint8_t* data = ReadWholeFile(name, &size);
    if (!data) return nullptr;
    PhysBody* body = PhysShape_ParseRbs(data, size, world);
    Mem_Free(data);
    return body;
}

namespace {
// One primitive holding the shape with its mass share, identity placement.
CollisionPrimitive* AddShapePrimitive(RigidBody* rb, const PhysShape* shape, float mass)
{
    PrimitiveDesc d{};
    d.type = PRIMITIVE_TYPE_SHAPE;
    d.shape = shape->shape;
    d.convex = shape->convex;
    Transform_SetIdentity(&d.transform);
    d.mass = mass > 0.0f ? mass : 0.0f;
    return RigidBody_AddPrimitive(rb, &d);
}
}  // namespace

PhysBody* PhysBody_CreateFromShape(PhysWorld* world, PhysShape* shape, float mass)
{
    if (!world || !shape || !shape->shape) return nullptr;
    RigidBody* rb = RigidBody_Construct();
    if (!rb) return nullptr;
    if (!AddShapePrimitive(rb, shape, mass)) {
        PhysObject_Destroy(rb);
        return nullptr;
    }
    rb->restitution = kShapeRestitution;
    rb->friction = kShapeFriction;
    PhysBody* h = PhysBody_Wrap(world, rb);
    if (!h) return nullptr;
    h->shape = shape;
    return h;
}

int PhysBody_AddShape(PhysBody* body, PhysShape* shape, float mass)
{
    RigidBody* rb = PhysBody_Unwrap(body);
    if (!rb || !shape || !shape->shape) return 0;
    return AddShapePrimitive(rb, shape, mass) != nullptr;
}

PhysShape* PhysShape_FromLwo(PhysWorld* world, const LwoObject* model, int convex, const char* path, float sx,
                             float sy, float sz)
{
    if (!world || !model || !model->points || model->pointCount == 0) return nullptr;
    const uint32_t n = model->pointCount;
    if (!convex && n > kPhysMeshMaxPoints) {
        // 16-bit indices cannot reach past the first 65,536 points.
        fprintf(stderr, "%s: %u points are too many for a mesh shape\n", path ? path : "", n);
        return nullptr;
    }
    float* points = static_cast<float*>(Mem_Alloc(size_t(n) * 4 * sizeof(float), 16));
    if (!points) return nullptr;
    for (uint32_t i = 0; i < n; ++i) {
        points[i * 4 + 0] = model->points[i].x * sx;
        points[i * 4 + 1] = model->points[i].y * sy;
        points[i * 4 + 2] = model->points[i].z * sz;
        points[i * 4 + 3] = 0.0f;
    }
    CollisionShape* shape = nullptr;
    if (convex) {
        shape = ConvexHull_Build(points, int(n), kPhysHullParams, kPhysHullMargin);
    } else {
        MeshContainer* mesh = MeshContainer_Construct();
        uint16_t* triangles = static_cast<uint16_t*>(Mem_Alloc(size_t(model->polygonCount) * 3 * sizeof(uint16_t) + 16, 16));
        uint32_t count = 0;
        int ok = mesh && triangles && MeshContainer_AddVertices(mesh, points, int(n));
        for (uint32_t p = 0; ok && p < model->polygonCount; ++p) {
            const LwoPolygon& polygon = model->polygons[p];
            // The first three corners of every polygon.
            if (polygon.count < 3 || polygon.firstIndex + 3 > model->indexCount) continue;
            for (int c = 0; c < 3; ++c) triangles[count * 3 + c] = uint16_t(model->indices[polygon.firstIndex + c]);
            ++count;
        }
        if (ok && count) MeshContainer_AddTriangles(mesh, triangles, int(count));
        Mem_Free(triangles);
        if (ok && count) {
            shape = mesh;
        } else {
            CollisionShape_Release(mesh);
        }
    }
    Mem_Free(points);
    return PhysShape_Wrap(world, shape);
}

PhysBody* PhysBody_FromLwo(PhysWorld* world, const LwoObject* model, float mass, int convex, float sx, float sy,
                           float sz, const char* path)
{
    PhysShape* shape = PhysShape_FromLwo(world, model, convex, path, sx, sy, sz);
    if (!shape) return nullptr;
    PhysBody* body = PhysBody_CreateFromShape(world, shape, mass);
    if (!body) PhysShape_Free(world, shape);
    return body;
}

PhysBody* PhysBody_CreateFromModel(const char* path, PhysWorld* world, float mass, int mode, float sx, float sy,
                                   float sz)
{
    if (!path || !world) return nullptr;
    PhysBody* body = PhysShape_LoadRbs(path, world);
    if (body) return body;
    if (mode == PHYS_MODEL_COMPOSITE) {
        // One hull per layer; the first layer makes the body.
        for (int32_t layer = 0;; ++layer) {
            LwoObject* model = Lwo_Open(path, layer);
            if (!model) break;
            if (!body) {
                body = PhysBody_FromLwo(world, model, mass, 1, sx, sy, sz, path);
            } else if (PhysShape* shape = PhysShape_FromLwo(world, model, 1, path, sx, sy, sz)) {
                if (!PhysBody_AddShape(body, shape, mass)) PhysShape_Free(world, shape);
            }
            Lwo_Free(model);
        }
        return body;
    }
    LwoObject* model = Lwo_Open(path, -1);
    if (!model) return nullptr;
    body = PhysBody_FromLwo(world, model, mass, mode == PHYS_MODEL_HULL ? 1 : 0, sx, sy, sz, path);
    Lwo_Free(model);
    return body;
}

PhysBody* PhysBody_CreateFromModelUnscaled(const char* path, PhysWorld* world, float mass, int mode)
{
    return PhysBody_CreateFromModel(path, world, mass, mode, 1.0f, 1.0f, 1.0f);
}
