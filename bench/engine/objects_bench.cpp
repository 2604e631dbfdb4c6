// Object and physics-interface figures:
//   ObjectUpdate   one ObjectPool_Update of 1,000 objects with bodies (one
//                  shared hull shape, damped every frame, no shadows);
//                  items per second are objects updated per second
//   LevelStep      one level frame's PhysWorld_Step (1/60 s, one sub-step)
//                  with 200 active bodies (boxes and balls held awake over a
//                  mesh ground) and the node sync of each
// No graphics: the nodes are the content layer's, the shapes built here.
#include <benchmark/benchmark.h>

#include <vector>

#include "common/list.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "engine/physshape.h"
#include "engine/physworld.h"
#include "physics/base/phys_warning.h"
#include "physics/collision/convex_hull.h"
#include "physics/collision/mesh_container.h"

namespace {

void Quiet(const char*, const char*, const char*, int) {}

PhysShape* BoxShape(PhysWorld* world, float h)
{
    std::vector<float> p;
    for (int i = 0; i < 8; ++i) p.insert(p.end(), {i & 1 ? h : -h, i & 2 ? h : -h, i & 4 ? h : -h, 0.0f});
    return PhysShape_Wrap(world, ConvexHull_Build(p.data(), 8, kPhysHullParams, kPhysHullMargin));
}

PhysShape* GroundShape(PhysWorld* world, int n, float cell)
{
    MeshContainer* mesh = MeshContainer_Construct();
    std::vector<float> v;
    std::vector<uint16_t> t;
    float half = n * cell * 0.5f;
    for (int z = 0; z <= n; ++z)
        for (int x = 0; x <= n; ++x) v.insert(v.end(), {x * cell - half, 0.0f, z * cell - half, 0.0f});
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            uint16_t a = uint16_t(z * (n + 1) + x), c = uint16_t(a + n + 1);
            t.insert(t.end(), {a, c, uint16_t(a + 1), uint16_t(a + 1), c, uint16_t(c + 1)});
        }
    MeshContainer_AddVertices(mesh, v.data(), (n + 1) * (n + 1));
    MeshContainer_AddTriangles(mesh, t.data(), n * n * 2);
    return PhysShape_Wrap(world, mesh);
}

struct Stage {
    PhysWorld* world;
    List* pool;
    Stage()
    {
        Physics_SetWarningHook(Quiet);
        Phys_Init();
        PhysContacts_Init();
        Node_Init();
        ObjectWorld_Init();
        world = PhysWorld_CreateDefault();
        PhysWorld_PairCollisionGroups(world, 1, 1);
        ObjectWorld_SetPhysicsWorld(world);
        pool = ObjectPool_Create();
    }
    ~Stage()
    {
        ObjectWorld_Shutdown();
        PhysWorld_Destroy(world);
        PhysContacts_Shutdown();
        PhysWorlds_DestroyAll();
        Node_Shutdown();
    }
};

void ObjectUpdate(benchmark::State& state)
{
    Stage s;
    PhysShape* shape = BoxShape(s.world, 0.5f);
    const int count = 1000;
    for (int i = 0; i < count; ++i) {
        ObjectDescription d{};
        d.parent = ObjectWorld_GetRootNode();
        d.body = PhysBody_CreateFromShape(s.world, shape, 1.0f);
        d.mass = 1.0f;
        d.friction = 1.0f;
        d.active = 1;
        d.collisionGroup = 1;
        d.motionDamping = 0.01f;
        d.rotationDamping = 0.02f;
        Object* o = Object_Create(s.pool, &d);
        Vec3 p{float(i % 32) * 2.0f, float(i / 32) * 2.0f, 0.0f};
        const Vec3 v{0.5f, 0.0f, 0.25f};
        Node_SetPosition(o->node, &p);
        Object_Sync(o, OBJECT_SYNC_ALL);
        PhysBody_SetLinearVelocity(o->body, &v);
    }
    const float dt = 1.0f / 60.0f;
    for (auto _ : state) ObjectPool_Update(s.pool, &dt);
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(ObjectUpdate);

void LevelStep(benchmark::State& state)
{
    Stage s;
    PhysBody* ground = PhysBody_CreateFromShape(s.world, GroundShape(s.world, 20, 2.0f), 0.0f);
    PhysBody_SetCollisionGroup(ground, 1);
    const Vec3 origin{0, 0, 0};
    PhysWorld_AddBody(s.world, ground, &origin, nullptr, nullptr);
    PhysShape* box = BoxShape(s.world, 0.5f);
    std::vector<Node*> nodes;
    for (int i = 0; i < 200; ++i) {
        PhysBody* b = i % 2 ? PhysBody_CreateFromShape(s.world, box, 1.0f) : PhysBody_Create(s.world, 0.5f, 1.0f);
        PhysBody_SetCollisionGroup(b, 1);
        // Ten piles of twenty over the ground: contacts between bodies too.
        Vec3 p{float(i % 10) * 3.0f - 15.0f, 0.6f + float(i / 10) * 1.05f, float(i % 3)};
        PhysWorld_AddBody(s.world, b, &p, nullptr, nullptr);
        PhysBody_SetActive(b, 1);
        PhysBody_HoldActive(b, 1);  // stays awake: 200 active bodies every frame
        nodes.push_back(Node_Create(ObjectWorld_GetRootNode()));
        b->node = nodes.back();
    }
    // Let the piles land first: the figure is the frame of a level in play.
    for (int i = 0; i < 120; ++i) PhysWorld_Step(s.world, 1.0f / 60.0f);
    for (auto _ : state) PhysWorld_Step(s.world, 1.0f / 60.0f);
    state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(LevelStep)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
