// The three scenes of the physics engine's benchmark, run in this engine and
// in Bullet on the same terms: the same shapes (Bullet's hulls get qhull's
// vertices), 10 solver iterations, sleeping on, one sub-step of 1/50 s, the
// same compiler flags. Penetration and drift are measured by one routine on
// the true shapes for both engines. A table comparing the two is printed
// after the benchmarks.
#include <benchmark/benchmark.h>

#include <btBulletDynamicsCommon.h>

#include <ctime>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "physics/base/base_system.h"
#include "physics/base/phys_timer.h"
#include "physics/collision/collision_detection.h"
#include "physics/collision/collision_primitive.h"
#include "physics/collision/convex_hull.h"
#include "physics/collision/mesh_container.h"
#include "physics/collision/primitive_collector.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/dyn_world.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/simulation.h"
#include "physics/dynamics/subspace.h"

namespace {

constexpr float kStep = 1.0f / 50.0f;

// Processor time of this (single-threaded) process in seconds: steadier
// than wall time on a shared machine.
double CpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }
constexpr int kIterations = 10;

// ------------------------------------------------------------ Shared scene data

// The bowl: a paraboloid y = 0.05 (x^2 + z^2) over [-10, 10]^2 on a 100 x 100
// grid: 20,000 triangles.
constexpr int kBowlCells = 100;
constexpr float kBowlHalf = 10.0f;
float BowlHeight(float x, float z) { return 0.05f * (x * x + z * z); }

struct BowlMesh {
  std::vector<float> vertices;  // x, y, z, 0
  std::vector<uint16_t> indices;
};

BowlMesh MakeBowl() {
  BowlMesh m;
  for (int j = 0; j <= kBowlCells; ++j)
    for (int i = 0; i <= kBowlCells; ++i) {
      float x = -kBowlHalf + 2 * kBowlHalf * float(i) / kBowlCells;
      float z = -kBowlHalf + 2 * kBowlHalf * float(j) / kBowlCells;
      m.vertices.insert(m.vertices.end(), {x, BowlHeight(x, z), z, 0.0f});
    }
  for (int j = 0; j < kBowlCells; ++j)
    for (int i = 0; i < kBowlCells; ++i) {
      uint16_t a = uint16_t(j * (kBowlCells + 1) + i), b = uint16_t(a + 1);
      uint16_t c = uint16_t(a + kBowlCells + 1), d = uint16_t(c + 1);
      m.indices.insert(m.indices.end(), {a, c, b, b, c, d});
    }
  return m;
}

// Deterministic pseudo-random numbers in [0, 1).
struct Rng {
  uint32_t s = 12345;
  float Next() {
    s = s * 1664525u + 1013904223u;
    return float(s >> 8) / float(1 << 24);
  }
};

// One dropped body: a sphere (radius) or a hull (qhull's vertices).
struct Dropped {
  bool sphere;
  float radius;
  std::vector<Vec3> hullPoints;  // hull vertices after qhull
  Vec3 start;
};

// 1,000 spheres and 200 hulls in layers above the bowl.
std::vector<Dropped> MakePour(int spheres, int hulls) {
  std::vector<Dropped> out;
  Rng rng;
  int total = spheres + hulls;
  for (int n = 0; n < total; ++n) {
    Dropped d{};
    d.sphere = (n % 6) != 5 || int(out.size()) - (n / 6) >= hulls;
    if (n / 6 >= hulls) d.sphere = true;
    int layer = n / 100, cell = n % 100;
    d.start = V3(-4.5f + float(cell % 10) + 0.2f * rng.Next(), 6.0f + 1.0f * float(layer),
                 -4.5f + float(cell / 10) + 0.2f * rng.Next());
    if (d.sphere) {
      d.radius = 0.2f + 0.1f * rng.Next();
    } else {
      float pts[12 * 4];
      for (int k = 0; k < 12; ++k) {
        pts[k * 4 + 0] = (rng.Next() - 0.5f) * 0.7f;
        pts[k * 4 + 1] = (rng.Next() - 0.5f) * 0.5f;
        pts[k * 4 + 2] = (rng.Next() - 0.5f) * 0.7f;
        pts[k * 4 + 3] = 0;
      }
      const float params[4] = {0.001f, 0.01f, 0.02f, 0.992f};
      ConvexHull* hull = ConvexHull_Build(pts, 12, params, 0.01f);
      if (!hull) {
        d.sphere = true;
        d.radius = 0.25f;
      } else {
        for (const Vec3& v : hull->vertices) d.hullPoints.push_back(v - hull->centroid);
        CollisionShape_Release(hull);
      }
    }
    out.push_back(d);
  }
  return out;
}

// Pose of a body as both engines report it.
struct Pose {
  Vec3 p;
  Quat q;
};

// Deepest penetration of the bodies into the bowl, measured on the true
// shapes: the sphere's distance to the nearest triangles, and each hull
// vertex's depth below the triangle under it (along that triangle's normal).
float TrianglePointDepth(Vec3 p) {
  float fx = (p.x + kBowlHalf) / (2 * kBowlHalf) * kBowlCells;
  float fz = (p.z + kBowlHalf) / (2 * kBowlHalf) * kBowlCells;
  int i = int(std::floor(fx)), j = int(std::floor(fz));
  if (i < 0 || j < 0 || i >= kBowlCells || j >= kBowlCells) return 0.0f;
  auto vtx = [](int a, int b) {
    float x = -kBowlHalf + 2 * kBowlHalf * float(a) / kBowlCells;
    float z = -kBowlHalf + 2 * kBowlHalf * float(b) / kBowlCells;
    return V3(x, BowlHeight(x, z), z);
  };
  float u = fx - float(i), w = fz - float(j);
  Vec3 a = vtx(i, j), b = vtx(i + 1, j), c = vtx(i, j + 1), d = vtx(i + 1, j + 1);
  Vec3 t0, t1, t2;
  if (u + w <= 1.0f) { t0 = a; t1 = c; t2 = b; } else { t0 = b; t1 = c; t2 = d; }
  Vec3 n = Vec3_Normalize(Vec3_Cross(t1 - t0, t2 - t0));
  if (n.y < 0) n = -n;
  float dist = Vec3_Dot(p - t0, n);
  return dist < 0 ? -dist : 0.0f;
}

float SphereDepth(Vec3 c, float r) {
  float fx = (c.x + kBowlHalf) / (2 * kBowlHalf) * kBowlCells;
  float fz = (c.z + kBowlHalf) / (2 * kBowlHalf) * kBowlCells;
  int ci = int(std::floor(fx)), cj = int(std::floor(fz));
  float best = 1e9f;
  auto vtx = [](int a, int b) {
    float x = -kBowlHalf + 2 * kBowlHalf * float(a) / kBowlCells;
    float z = -kBowlHalf + 2 * kBowlHalf * float(b) / kBowlCells;
    return V3(x, BowlHeight(x, z), z);
  };
  for (int j = cj - 3; j <= cj + 3; ++j)
    for (int i = ci - 3; i <= ci + 3; ++i) {
      if (i < 0 || j < 0 || i >= kBowlCells || j >= kBowlCells) continue;
      Vec3 a = vtx(i, j), b = vtx(i + 1, j), c2 = vtx(i, j + 1), d = vtx(i + 1, j + 1);
      int region;
      for (int t = 0; t < 2; ++t) {
        Vec3 q = t ? Geometry_ClosestOnTriangle(c, b, c2, d, &region)
                   : Geometry_ClosestOnTriangle(c, a, c2, b, &region);
        best = std::fmin(best, Vec3_Length(q - c));
      }
    }
  // A centre below the surface counts its full depth.
  float below = TrianglePointDepth(c);
  if (below > 0) return r + below;
  return best < r ? r - best : 0.0f;
}

// A body whose centre is more than 1 m under the surface (or off the bowl)
// went through it: counted as lost, not as a penetration.
bool Lost(const Pose& ps) {
  if (std::fabs(ps.p.x) >= kBowlHalf || std::fabs(ps.p.z) >= kBowlHalf) return ps.p.y < 20.0f;
  return TrianglePointDepth(ps.p) > 1.0f;
}

int CountLost(const std::vector<Pose>& poses) {
  int n = 0;
  for (const Pose& p : poses) n += Lost(p);
  return n;
}

float BowlPenetration(const std::vector<Dropped>& drops, const std::vector<Pose>& poses) {
  float worst = 0;
  for (size_t k = 0; k < drops.size(); ++k) {
    const Pose& ps = poses[k];
    if (Lost(ps)) continue;
    if (drops[k].sphere) {
      worst = std::fmax(worst, SphereDepth(ps.p, drops[k].radius));
    } else {
      for (const Vec3& v : drops[k].hullPoints)
        worst = std::fmax(worst, TrianglePointDepth(ps.p + Quat_Rotate(ps.q, v)));
    }
  }
  return worst;
}

// Mean distance moved between two samples of resting bodies.
float Drift(const std::vector<Pose>& a, const std::vector<Pose>& b) {
  double sum = 0;
  for (size_t k = 0; k < a.size(); ++k) sum += Vec3_Length(a[k].p - b[k].p);
  return a.empty() ? 0.0f : float(sum / double(a.size()));
}

// --------------------------------------------------------------- Our engine

struct OurWorld {
  DynWorld* world;
  Simulation* sim;
  Subspace* sub;
  ConstraintManager* cm;
  CollisionDetection* cd;
  std::vector<RigidBody*> bodies;  // [0] is the static body when there is one
  double time = 0;

  OurWorld() {
    BaseSystem_Init();
    world = DynWorld_Construct(4545);
    sim = Simulation_Construct(world);
    DynWorld_AddSimulation(world, sim);
    Simulation_SetSolverIterations(sim, kIterations);
    sub = RigidSubspace_Construct();
    Simulation_AddSubspace(sim, sub);
    cm = ConstraintManager_Construct();
    Subspace_AddAction(sub, cm, 0);
    cd = CollisionDetection_Construct(0.1f);
    CollisionDetection_EnableGroupPair(cd, 1, 1);
    Simulation_SetCollisionDetection(sim, cd);
  }
  ~OurWorld() {
    for (RigidBody* b : bodies) PhysObject_Destroy(b);
    PhysObject_Destroy(cm);
    PhysObject_Destroy(sub);
    PhysObject_Destroy(sim);
    PhysObject_Destroy(cd);
    PhysObject_Destroy(world);
    BaseSystem_Quit();
  }
  RigidBody* Add(PrimitiveDesc d, float mass, Vec3 pos) {
    RigidBody* b = RigidBody_Construct();
    RigidBody_AddPrimitive(b, &d);
    RigidBody_SetMass(b, mass);
    RigidBody_SetCollisionGroup(b, 1);
    RigidBody_SetPositionAndRotation(b, pos, Quat_Identity());
    Subspace_AttachEntity(sub, b);
    CollisionDetection_AddBody(cd, b);
    bodies.push_back(b);
    return b;
  }
  int Awake() const {
    int n = 0;
    for (RigidBody* b : bodies) n += (b->stateFlags & RB_STATE_ACTIVE) != 0;
    return n;
  }
  void Step() {
    time += kStep;
    DynWorld_Step(world, PhysTime_FromSeconds(time), 1);
  }
  std::vector<Pose> Poses(size_t from) const {
    std::vector<Pose> out;
    for (size_t k = from; k < bodies.size(); ++k) out.push_back({bodies[k]->pose.position, bodies[k]->pose.rotation});
    return out;
  }
};

PrimitiveDesc SphereDesc(float r, float mass) {
  PrimitiveDesc d{};
  d.type = PRIMITIVE_TYPE_SPHERE;
  d.radius = r;
  Transform_SetIdentity(&d.transform);
  d.mass = mass;
  return d;
}

PrimitiveDesc ShapeDesc(CollisionShape* shape, int convex, float mass) {
  PrimitiveDesc d{};
  d.type = PRIMITIVE_TYPE_SHAPE;
  d.shape = shape;
  d.convex = convex;
  Transform_SetIdentity(&d.transform);
  d.mass = mass;
  return d;
}

ConvexHull* HullOf(const std::vector<Vec3>& pts) {
  std::vector<float> f;
  for (const Vec3& v : pts) f.insert(f.end(), {v.x, v.y, v.z, 0.0f});
  const float params[4] = {0.001f, 0.01f, 0.02f, 0.992f};
  return ConvexHull_Build(f.data(), int(pts.size()), params, 0.01f);
}

void OurBowl(OurWorld& w) {
  BowlMesh bowl = MakeBowl();
  MeshContainer* mesh = MeshContainer_Construct();
  MeshContainer_AddVertices(mesh, bowl.vertices.data(), int(bowl.vertices.size() / 4));
  MeshContainer_AddTriangles(mesh, bowl.indices.data(), int(bowl.indices.size() / 3));
  w.Add(ShapeDesc(mesh, 0, 0.0f), 0.0f, V3(0, 0, 0));
  CollisionShape_Release(mesh);
}

// ------------------------------------------------------------------ Bullet

struct BulletWorld {
  btDefaultCollisionConfiguration config;
  btCollisionDispatcher dispatcher{&config};
  btAxisSweep3 broadphase{btVector3(-100, -100, -100), btVector3(100, 100, 100)};  // sort and sweep too
  btSequentialImpulseConstraintSolver solver;
  btDiscreteDynamicsWorld world{&dispatcher, &broadphase, &solver, &config};
  std::vector<std::unique_ptr<btCollisionShape>> shapes;
  std::vector<std::unique_ptr<btDefaultMotionState>> states;
  std::vector<std::unique_ptr<btRigidBody>> bodies;
  std::unique_ptr<btTriangleIndexVertexArray> meshData;
  std::vector<int> indices32;
  std::vector<float> vertices3;

  BulletWorld() {
    world.setGravity(btVector3(0, -9.81f, 0));
    world.getSolverInfo().m_numIterations = kIterations;
  }
  ~BulletWorld() {
    for (auto& b : bodies) world.removeRigidBody(b.get());
  }
  btRigidBody* Add(btCollisionShape* shape, float mass, Vec3 pos) {
    btVector3 inertia(0, 0, 0);
    if (mass > 0) shape->calculateLocalInertia(mass, inertia);
    auto state = std::make_unique<btDefaultMotionState>(btTransform(btQuaternion::getIdentity(), btVector3(pos.x, pos.y, pos.z)));
    btRigidBody::btRigidBodyConstructionInfo info(mass, state.get(), shape, inertia);
    auto body = std::make_unique<btRigidBody>(info);
    world.addRigidBody(body.get());
    btRigidBody* raw = body.get();
    states.push_back(std::move(state));
    bodies.push_back(std::move(body));
    return raw;
  }
  void Bowl() {
    BowlMesh bowl = MakeBowl();
    for (size_t k = 0; k < bowl.vertices.size(); k += 4)
      vertices3.insert(vertices3.end(), {bowl.vertices[k], bowl.vertices[k + 1], bowl.vertices[k + 2]});
    for (uint16_t i : bowl.indices) indices32.push_back(i);
    meshData = std::make_unique<btTriangleIndexVertexArray>(int(indices32.size() / 3), indices32.data(), 3 * int(sizeof(int)),
                                                            int(vertices3.size() / 3), vertices3.data(), 3 * int(sizeof(float)));
    shapes.push_back(std::make_unique<btBvhTriangleMeshShape>(meshData.get(), true));
    Add(shapes.back().get(), 0.0f, V3(0, 0, 0));
  }
  std::vector<Pose> Poses(size_t from) const {
    std::vector<Pose> out;
    for (size_t k = from; k < bodies.size(); ++k) {
      const btTransform& t = bodies[k]->getWorldTransform();
      btQuaternion q = t.getRotation();
      out.push_back({V3(t.getOrigin().x(), t.getOrigin().y(), t.getOrigin().z()), Quat{q.w(), q.x(), q.y(), q.z()}});
    }
    return out;
  }
};

// ----------------------------------------------------------------- Results

struct SceneResult {
  double usPerStep = 0;
  float penetration = 0;
  float drift = 0;
  int lost = 0;  // bodies that went through the bowl
  int awake = 0; // bodies still active at the end (sleeping is on in both)
  uint32_t poseHash = 0;  // FNV-1a of the final poses' bits: an optimisation must not change it
};

uint32_t PoseHash(const std::vector<Pose>& poses) {
  uint32_t h = 2166136261u;
  for (const Pose& p : poses) {
    const float f[7] = {p.p.x, p.p.y, p.p.z, p.q.w, p.q.x, p.q.y, p.q.z};
    unsigned char bytes[sizeof f];
    std::memcpy(bytes, f, sizeof f);
    for (unsigned char c : bytes) h = (h ^ c) * 16777619u;
  }
  return h;
}
SceneResult g_pour[2], g_stack[2];
std::string g_pourTimers;  // where our engine's time went in the pour

void CaptureTimers() {
  g_pourTimers.clear();
  char line[160];
  for (int i = 0; i < PhysTimer_Count(); ++i) {
    const PhysTimer* t = PhysTimer_Get(i);
    std::snprintf(line, sizeof line, "  %-32s %9.1f ms\n", t->path, PhysTimer_Seconds(t) * 1e3);
    g_pourTimers += line;
  }
}
double g_rayUs[2];

constexpr int kPourSteps = 500;

// Pour: run 10 s, sampling penetration every 10 steps and drift over the last second.
template <typename World>
SceneResult RunPour(World& w, const std::vector<Dropped>& drops) {
  SceneResult r;
  std::vector<Pose> atNine;
  double seconds = 0;
  for (int s = 0; s < kPourSteps; ++s) {
    double t0 = CpuSeconds();
    w.Step();
    seconds += CpuSeconds() - t0;
    if (s % 10 == 9) r.penetration = std::fmax(r.penetration, BowlPenetration(drops, w.Poses(1)));
    if (s == kPourSteps - 51) atNine = w.Poses(1);
  }
  r.drift = Drift(atNine, w.Poses(1));
  r.lost = CountLost(w.Poses(1));
  r.poseHash = PoseHash(w.Poses(1));
  r.awake = w.Awake();
  r.usPerStep = seconds * 1e6 / kPourSteps;
  return r;
}

struct BulletStepper {
  BulletWorld* w;
  void Step() { w->world.stepSimulation(kStep, 0, kStep); }
  std::vector<Pose> Poses(size_t from) const { return w->Poses(from); }
  int Awake() const {
    int n = 0;
    for (const auto& b : w->bodies) n += b->getInvMass() > 0 && b->isActive();
    return n;
  }
};

void BM_PourOurs(benchmark::State& state) {
  std::vector<Dropped> drops = MakePour(1000, 200);
  for (auto _ : state) {
    state.PauseTiming();
    OurWorld w;
    OurBowl(w);
    for (const Dropped& d : drops) {
      if (d.sphere) {
        w.Add(SphereDesc(d.radius, 1.0f), 1.0f, d.start);
      } else {
        ConvexHull* hull = HullOf(d.hullPoints);
        w.Add(ShapeDesc(hull, 1, 1.0f), 1.0f, d.start);
        CollisionShape_Release(hull);
      }
    }
    PhysTimer_ClearAll();
    state.ResumeTiming();
    g_pour[0] = RunPour(w, drops);
    CaptureTimers();
  }
  state.counters["us_per_step"] = g_pour[0].usPerStep;
  state.counters["max_penetration"] = g_pour[0].penetration;
  state.counters["drift_last_1s"] = g_pour[0].drift;
  state.counters["lost"] = g_pour[0].lost;
}

void BM_PourBullet(benchmark::State& state) {
  std::vector<Dropped> drops = MakePour(1000, 200);
  for (auto _ : state) {
    state.PauseTiming();
    BulletWorld w;
    w.Bowl();
    for (const Dropped& d : drops) {
      if (d.sphere) {
        w.shapes.push_back(std::make_unique<btSphereShape>(d.radius));
      } else {
        auto hull = std::make_unique<btConvexHullShape>();
        for (const Vec3& v : d.hullPoints) hull->addPoint(btVector3(v.x, v.y, v.z), false);
        hull->recalcLocalAabb();
        w.shapes.push_back(std::move(hull));
      }
      w.Add(w.shapes.back().get(), 1.0f, d.start);
    }
    BulletStepper stepper{&w};
    state.ResumeTiming();
    g_pour[1] = RunPour(stepper, drops);
  }
  state.counters["us_per_step"] = g_pour[1].usPerStep;
  state.counters["max_penetration"] = g_pour[1].penetration;
  state.counters["drift_last_1s"] = g_pour[1].drift;
  state.counters["lost"] = g_pour[1].lost;
}

// A 20-box stack on a flat mesh: drift of the top box and box overlap.
constexpr int kStackBoxes = 20;
constexpr int kStackSteps = 500;

template <typename World>
SceneResult RunStack(World& w) {
  SceneResult r;
  std::vector<Pose> start = w.Poses(1);
  double seconds = 0;
  for (int s = 0; s < kStackSteps; ++s) {
    double t0 = CpuSeconds();
    w.Step();
    seconds += CpuSeconds() - t0;
    // Overlap of neighbouring unit boxes while they still stand on each
    // other (a toppled stack no longer has a meaningful overlap).
    std::vector<Pose> p = w.Poses(1);
    for (int k = 0; k + 1 < kStackBoxes; ++k) {
      Vec3 d = p[k + 1].p - p[k].p;
      if (d.x * d.x + d.z * d.z < 0.25f && d.y > 0.5f) r.penetration = std::fmax(r.penetration, 1.0f - d.y);
    }
    if (std::fabs(p[0].p.x) < 10.0f && std::fabs(p[0].p.z) < 10.0f)  // still over the ground
      r.penetration = std::fmax(r.penetration, 0.5f - p[0].p.y);
  }
  std::vector<Pose> end = w.Poses(1);
  r.drift = Vec3_Length(end.back().p - start.back().p);
  r.usPerStep = seconds * 1e6 / kStackSteps;
  return r;
}

std::vector<Vec3> BoxPoints() {
  std::vector<Vec3> pts;
  for (int i = 0; i < 8; ++i) pts.push_back(V3((i & 1) ? 0.5f : -0.5f, (i & 2) ? 0.5f : -0.5f, (i & 4) ? 0.5f : -0.5f));
  return pts;
}

void BM_StackOurs(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    OurWorld w;
    MeshContainer* mesh = MeshContainer_Construct();
    float v[16] = {-10, 0, -10, 0, 10, 0, -10, 0, -10, 0, 10, 0, 10, 0, 10, 0};
    uint16_t t[6] = {0, 2, 1, 1, 2, 3};
    MeshContainer_AddVertices(mesh, v, 4);
    MeshContainer_AddTriangles(mesh, t, 2);
    w.Add(ShapeDesc(mesh, 0, 0), 0, V3(0, 0, 0));
    CollisionShape_Release(mesh);
    for (int k = 0; k < kStackBoxes; ++k) {
      ConvexHull* hull = HullOf(BoxPoints());
      w.Add(ShapeDesc(hull, 1, 1.0f), 1.0f, V3(0, 0.5f + float(k), 0));
      CollisionShape_Release(hull);
    }
    state.ResumeTiming();
    g_stack[0] = RunStack(w);
  }
  state.counters["us_per_step"] = g_stack[0].usPerStep;
  state.counters["max_penetration"] = g_stack[0].penetration;
  state.counters["top_drift"] = g_stack[0].drift;
}

void BM_StackBullet(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    BulletWorld w;
    std::vector<float> v = {-10, 0, -10, 10, 0, -10, -10, 0, 10, 10, 0, 10};
    std::vector<int> idx = {0, 2, 1, 1, 2, 3};
    btTriangleIndexVertexArray ground(2, idx.data(), 3 * int(sizeof(int)), 4, v.data(), 3 * int(sizeof(float)));
    btBvhTriangleMeshShape groundShape(&ground, true);
    w.Add(&groundShape, 0, V3(0, 0, 0));
    for (int k = 0; k < kStackBoxes; ++k) {
      // Bullet's hull adds its collision margin (0.04 by default) around the
      // points: unit-box points would make 1.08 m boxes that start 8 cm deep
      // in each other. The points are pulled in by the margin so that both
      // engines stack the same 1 m boxes (Bullet's with rounded edges).
      auto hull = std::make_unique<btConvexHullShape>();
      float shrink = (0.5f - hull->getMargin()) / 0.5f;
      for (const Vec3& p : BoxPoints()) hull->addPoint(btVector3(p.x * shrink, p.y * shrink, p.z * shrink), false);
      hull->recalcLocalAabb();
      w.shapes.push_back(std::move(hull));
      w.Add(w.shapes.back().get(), 1.0f, V3(0, 0.5f + float(k), 0));
    }
    BulletStepper stepper{&w};
    state.ResumeTiming();
    g_stack[1] = RunStack(stepper);
  }
  state.counters["us_per_step"] = g_stack[1].usPerStep;
  state.counters["max_penetration"] = g_stack[1].penetration;
  state.counters["top_drift"] = g_stack[1].drift;
}

// 10,000 rays straight down onto the bowl from random points above it.
constexpr int kRays = 10000;

std::vector<std::pair<Vec3, Vec3>> MakeRays() {
  std::vector<std::pair<Vec3, Vec3>> rays;
  Rng rng;
  for (int k = 0; k < kRays; ++k) {
    Vec3 from = V3((rng.Next() - 0.5f) * 18, 12, (rng.Next() - 0.5f) * 18);
    Vec3 to = from + V3((rng.Next() - 0.5f) * 4, -20, (rng.Next() - 0.5f) * 4);
    rays.push_back({from, to});
  }
  return rays;
}

void BM_RaysOurs(benchmark::State& state) {
  OurWorld w;
  OurBowl(w);
  PrimitiveCollector* pick = PrimitiveCollector_Construct();
  for (CollisionPrimitive* p : w.bodies[0]->primitives) PrimitiveCollector_Add(pick, p);
  std::vector<std::pair<Vec3, Vec3>> rays = MakeRays();
  int hits = 0;
  double seconds = 0;
  for (auto _ : state) {
    double t0 = CpuSeconds();
    for (const auto& r : rays) {
      RayQuery q;
      RayQuery_Init(&q, r.first, r.second);
      hits += PrimitiveCollector_CastRay(pick, &q) != nullptr;
    }
    seconds += CpuSeconds() - t0;
  }
  g_rayUs[0] = seconds * 1e6 / (double(state.iterations()) * kRays);
  state.counters["us_per_ray"] = g_rayUs[0];
  state.counters["hits"] = double(hits) / double(state.iterations());
  PhysObject_Destroy(pick);
}

void BM_RaysBullet(benchmark::State& state) {
  BulletWorld w;
  w.Bowl();
  std::vector<std::pair<Vec3, Vec3>> rays = MakeRays();
  int hits = 0;
  double seconds = 0;
  for (auto _ : state) {
    double t0 = CpuSeconds();
    for (const auto& r : rays) {
      btVector3 from(r.first.x, r.first.y, r.first.z), to(r.second.x, r.second.y, r.second.z);
      btCollisionWorld::ClosestRayResultCallback cb(from, to);
      w.world.rayTest(from, to, cb);
      hits += cb.hasHit();
    }
    seconds += CpuSeconds() - t0;
  }
  g_rayUs[1] = seconds * 1e6 / (double(state.iterations()) * kRays);
  state.counters["us_per_ray"] = g_rayUs[1];
  state.counters["hits"] = double(hits) / double(state.iterations());
}

BENCHMARK(BM_PourOurs)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PourBullet)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StackOurs)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StackBullet)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RaysOurs)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RaysBullet)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto ratio = [](double ours, double theirs) { return theirs > 0 ? ours / theirs : 0.0; };
  std::printf("\n%-26s %12s %12s %8s %14s %14s %12s %12s\n", "scene", "ours us", "bullet us", "ratio",
              "ours max pen", "bullet max pen", "ours drift", "bullet drift");
  std::printf("%-26s %12.1f %12.1f %8.2f %14.4f %14.4f %12.4f %12.4f\n", "pour (per step)", g_pour[0].usPerStep,
              g_pour[1].usPerStep, ratio(g_pour[0].usPerStep, g_pour[1].usPerStep), g_pour[0].penetration,
              g_pour[1].penetration, g_pour[0].drift, g_pour[1].drift);
  std::printf("%-26s %12.1f %12.1f %8.2f %14.4f %14.4f %12.4f %12.4f\n", "20-box stack (per step)", g_stack[0].usPerStep,
              g_stack[1].usPerStep, ratio(g_stack[0].usPerStep, g_stack[1].usPerStep), g_stack[0].penetration,
              g_stack[1].penetration, g_stack[0].drift, g_stack[1].drift);
  std::printf("%-26s %12d %12d\n", "pour: bodies lost", g_pour[0].lost, g_pour[1].lost);
  std::printf("%-26s %12d %12d\n", "pour: awake at 10 s", g_pour[0].awake, g_pour[1].awake);
  std::printf("%-26s     %08x     %08x\n", "pour: final poses hash", unsigned(g_pour[0].poseHash),
              unsigned(g_pour[1].poseHash));
  std::printf("%-26s %12.3f %12.3f %8.2f\n", "rays (per ray)", g_rayUs[0], g_rayUs[1], ratio(g_rayUs[0], g_rayUs[1]));
  std::printf("\nour engine's timers over the pour:\n%s", g_pourTimers.c_str());
  return 0;
}
