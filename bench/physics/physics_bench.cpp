// The three scenes of the physics engine's benchmark, run in this engine and
// in Bullet on the same terms: the same shapes (Bullet's hulls get qhull's
// vertices), 10 solver iterations, sleeping on, one sub-step of 1/50 s, the
// same compiler flags. The scenes are the physics tests' recipes
// (tests/physics/dynamics/dyn_scene_recipes.h), built in this engine by the
// tests' DynTestScene and in Bullet from the same description. Penetration
// and drift are measured by one routine on the true shapes for both engines.
// A table comparing the two is printed after the benchmarks.
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

#include "physics/base/phys_timer.h"
#include "physics/collision/primitive_collector.h"
#include "tests/physics/dynamics/dyn_test_scene.h"

namespace {

constexpr float kStep = 1.0f / 50.0f;

// Processor time of this (single-threaded) process in seconds: steadier
// than wall time on a shared machine.
double CpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }
constexpr int kIterations = 10;

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
  auto vtx = Bowl_Vertex;
  float u = fx - float(i), w = fz - float(j);
  Vec3 a = vtx(i, j), b = vtx(i + 1, j), c = vtx(i, j + 1), d = vtx(i + 1, j + 1);
  Vec3 t0, t1, t2;
  if (u + w <= 1.0f) { t0 = a; t1 = c; t2 = b; } else { t0 = b; t1 = c; t2 = d; }
  Vec3 n = Vec3_Unit(Vec3_Cross(t1 - t0, t2 - t0));
  if (n.y < 0) n = -n;
  float dist = Vec3_Dot(p - t0, n);
  return dist < 0 ? -dist : 0.0f;
}

float SphereDepth(Vec3 c, float r) {
  float fx = (c.x + kBowlHalf) / (2 * kBowlHalf) * kBowlCells;
  float fz = (c.z + kBowlHalf) / (2 * kBowlHalf) * kBowlCells;
  int ci = int(std::floor(fx)), cj = int(std::floor(fz));
  float best = 1e9f;
  auto vtx = Bowl_Vertex;
  for (int j = cj - 3; j <= cj + 3; ++j)
    for (int i = ci - 3; i <= ci + 3; ++i) {
      if (i < 0 || j < 0 || i >= kBowlCells || j >= kBowlCells) continue;
      Vec3 a = vtx(i, j), b = vtx(i + 1, j), c2 = vtx(i, j + 1), d = vtx(i + 1, j + 1);
      int region;
      for (int t = 0; t < 2; ++t) {
        Vec3 q = t ? Geometry_ClosestOnTriangle(c, b, c2, d, &region)
                   : Geometry_ClosestOnTriangle(c, a, c2, b, &region);
        best = std::fmin(best, Vec3_Norm(q - c));
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

// Poses are those of the recipe's bodies after the bowl (body 0).
float BowlPenetration(const SceneRecipe& scene, const std::vector<Pose>& poses) {
  float worst = 0;
  for (size_t k = 0; k < poses.size(); ++k) {
    const Pose& ps = poses[k];
    const SceneBody& d = scene.bodies[k + 1];
    if (Lost(ps)) continue;
    if (d.kind == SceneBody::kSphere) {
      worst = std::fmax(worst, SphereDepth(ps.p, d.radius));
    } else {
      for (const Vec3& v : d.points)
        worst = std::fmax(worst, TrianglePointDepth(ps.p + Quat_Rotate(ps.q, v)));
    }
  }
  return worst;
}

// Mean distance moved between two samples of resting bodies.
float Drift(const std::vector<Pose>& a, const std::vector<Pose>& b) {
  double sum = 0;
  for (size_t k = 0; k < a.size(); ++k) sum += Vec3_Norm(a[k].p - b[k].p);
  return a.empty() ? 0.0f : float(sum / double(a.size()));
}

// --------------------------------------------------------------- Our engine

// The tests' scene, stepped and read the way the benchmark needs.
struct OurWorld : DynTestScene {
  std::vector<RigidBody*> built;  // the recipe's bodies, in its order
  explicit OurWorld(const SceneRecipe& r) {
    Simulation_SetSolverIterations(sim, kIterations);
    built = Build(r);
  }
  int Awake() const {
    int n = 0;
    for (RigidBody* b : built) n += (b->stateFlags & RB_STATE_ACTIVE) != 0;
    return n;
  }
  void Step() { DynTestScene::Step(kStep); }
  std::vector<Pose> Poses(size_t from) const {
    std::vector<Pose> out;
    for (size_t k = from; k < built.size(); ++k) out.push_back({built[k]->pose.position, built[k]->pose.rotation});
    return out;
  }
};

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
  // The recipe's bodies in its order; only one mesh, the recipe's first.
  void Build(const SceneRecipe& r) {
    for (const SceneBody& d : r.bodies) {
      switch (d.kind) {
        case SceneBody::kSphere: shapes.push_back(std::make_unique<btSphereShape>(d.radius)); break;
        case SceneBody::kBox: {
          // Bullet's hull adds its collision margin (0.04 by default) around
          // the points: unit-box points would make 1.08 m boxes that start
          // 8 cm deep in each other. The points are pulled in by the margin
          // so that both engines stack the same 1 m boxes (Bullet's with
          // rounded edges).
          auto hull = std::make_unique<btConvexHullShape>();
          float m = hull->getMargin();
          for (int i = 0; i < 8; ++i)
            hull->addPoint(btVector3((i & 1) ? d.half.x - m : m - d.half.x, (i & 2) ? d.half.y - m : m - d.half.y,
                                     (i & 4) ? d.half.z - m : m - d.half.z),
                           false);
          hull->recalcLocalAabb();
          shapes.push_back(std::move(hull));
          break;
        }
        case SceneBody::kHull: {
          auto hull = std::make_unique<btConvexHullShape>();
          for (const Vec3& v : d.points) hull->addPoint(btVector3(v.x, v.y, v.z), false);
          hull->recalcLocalAabb();
          shapes.push_back(std::move(hull));
          break;
        }
        case SceneBody::kMesh: {
          const SceneMesh& mesh = r.meshes[size_t(d.mesh)];
          for (size_t k = 0; k < mesh.vertices.size(); k += 4)
            vertices3.insert(vertices3.end(), {mesh.vertices[k], mesh.vertices[k + 1], mesh.vertices[k + 2]});
          for (uint16_t i : mesh.indices) indices32.push_back(i);
          meshData = std::make_unique<btTriangleIndexVertexArray>(
              int(indices32.size() / 3), indices32.data(), 3 * int(sizeof(int)), int(vertices3.size() / 3),
              vertices3.data(), 3 * int(sizeof(float)));
          shapes.push_back(std::make_unique<btBvhTriangleMeshShape>(meshData.get(), true));
          break;
        }
      }
      Add(shapes.back().get(), d.mass, d.position);
    }
  }
  std::vector<Pose> Poses(size_t from) const {
    std::vector<Pose> out;
    for (size_t k = from; k < bodies.size(); ++k) {
      const btTransform& t = bodies[k]->getWorldTransform();
      btQuaternion q = t.getRotation();
      out.push_back({V3(t.getOrigin().x(), t.getOrigin().y(), t.getOrigin().z()), Quat{q.x(), q.y(), q.z(), q.w()}});
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
SceneResult RunPour(World& w, const SceneRecipe& scene) {
  SceneResult r;
  std::vector<Pose> atNine;
  double seconds = 0;
  for (int s = 0; s < kPourSteps; ++s) {
    double t0 = CpuSeconds();
    w.Step();
    seconds += CpuSeconds() - t0;
    if (s % 10 == 9) r.penetration = std::fmax(r.penetration, BowlPenetration(scene, w.Poses(1)));
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
  SceneRecipe scene = Recipe_Pour(1000, 200);
  for (auto _ : state) {
    state.PauseTiming();
    OurWorld w(scene);
    PhysTimer_ClearAll();
    state.ResumeTiming();
    g_pour[0] = RunPour(w, scene);
    CaptureTimers();
  }
  state.counters["us_per_step"] = g_pour[0].usPerStep;
  state.counters["max_penetration"] = g_pour[0].penetration;
  state.counters["drift_last_1s"] = g_pour[0].drift;
  state.counters["lost"] = g_pour[0].lost;
}

void BM_PourBullet(benchmark::State& state) {
  SceneRecipe scene = Recipe_Pour(1000, 200);
  for (auto _ : state) {
    state.PauseTiming();
    BulletWorld w;
    w.Build(scene);
    BulletStepper stepper{&w};
    state.ResumeTiming();
    g_pour[1] = RunPour(stepper, scene);
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
  r.drift = Vec3_Norm(end.back().p - start.back().p);
  r.usPerStep = seconds * 1e6 / kStackSteps;
  return r;
}

void BM_StackOurs(benchmark::State& state) {
  SceneRecipe scene = Recipe_MeshStack(kStackBoxes);
  for (auto _ : state) {
    state.PauseTiming();
    OurWorld w(scene);
    state.ResumeTiming();
    g_stack[0] = RunStack(w);
  }
  state.counters["us_per_step"] = g_stack[0].usPerStep;
  state.counters["max_penetration"] = g_stack[0].penetration;
  state.counters["top_drift"] = g_stack[0].drift;
}

void BM_StackBullet(benchmark::State& state) {
  SceneRecipe scene = Recipe_MeshStack(kStackBoxes);
  for (auto _ : state) {
    state.PauseTiming();
    BulletWorld w;
    w.Build(scene);
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
  SceneRng rng;
  for (int k = 0; k < kRays; ++k) {
    Vec3 from = V3((rng.Next() - 0.5f) * 18, 12, (rng.Next() - 0.5f) * 18);
    Vec3 to = from + V3((rng.Next() - 0.5f) * 4, -20, (rng.Next() - 0.5f) * 4);
    rays.push_back({from, to});
  }
  return rays;
}

void BM_RaysOurs(benchmark::State& state) {
  SceneRecipe scene;
  Recipe_AddMesh(&scene, Bowl_Mesh());
  OurWorld w(scene);
  PrimitiveCollector* pick = PrimitiveCollector_Construct();
  for (CollisionPrimitive* p : w.built[0]->primitives) PrimitiveCollector_Add(pick, p);
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
  SceneRecipe scene;
  Recipe_AddMesh(&scene, Bowl_Mesh());
  BulletWorld w;
  w.Build(scene);
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
