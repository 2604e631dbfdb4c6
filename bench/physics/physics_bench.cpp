// The physics engine side by side with Bullet, on the same terms:
//
// - Scenes: the physics tests' recipes (tests/physics/dynamics/
//   dyn_scene_recipes.h) and its own (bench_scenes.h), built in this engine
//   by the tests' DynTestScene and in Bullet from the same description: a pour of 700 spheres and 300
//   hulls into a triangle-mesh bowl (also in steps of 1/50 s, the game's,
//   for 20 s), 2,000 spheres landing in the bowl, a column of 20 unit boxes
//   and a pyramid of 10 rows on a ground box (once more with sleeping off,
//   so that every step solves the whole pyramid), a chain of 20 hinged
//   bars, a wall of 195 bricks struck by a 30 kg ball and twelve figures
//   of 10 boxes with point-to-point joints piling on a mesh ground (both
//   with sleeping on and off), and rays against a terrain of 100,352
//   triangles.
// - Shapes: Bullet gets its native sphere and box shapes, and its hull shape
//   over the same points as ours (qhull's hull vertices) with its default
//   collision margin, printed with the table (Bullet grows a hull by it).
// - Settings: one step of 1/60 s per frame (1/50 s where a scene says so), 10 solver iterations, the same
//   sleeping thresholds (our rest speeds and rest time), gravity 9.81.
// - Figures: CPU time of the step only (this process is single-threaded;
//   steadier than wall time on a shared machine). The two engines' runs of
//   a scene are interleaved (ours, Bullet, Bullet, ours, ...), so that a
//   change of the machine's load falls on both; each pair of runs gives a
//   ratio, and the median of at least five runs is printed with the spread
//   (lowest and highest) of the times and of the ratios; the quality
//   figures are measured by one routine on the poses both engines report,
//   on the true shapes. Both engines are deterministic, so every run must
//   end in the same poses: the pose hash of each engine's runs is compared.
//
// HELM_BENCH_RUNS sets the number of runs (at least 1; 5 by default).
#include <benchmark/benchmark.h>

#include <btBulletDynamicsCommon.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "physics/base/phys_timer.h"
#include "physics/collision/primitive_collector.h"
#include "bench/physics/bench_scenes.h"
#include "tests/physics/dynamics/dyn_test_scene.h"

namespace {

constexpr int kIterations = 10;
const FreezeManager kFreeze{};  // our default rest speeds and rest time, given to Bullet too

// Processor time of this process in seconds.
double CpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

int Runs() {
  const char* env = std::getenv("HELM_BENCH_RUNS");
  int n = env ? std::atoi(env) : 5;
  return n < 1 ? 1 : n;
}

struct Pose {
  Vec3 p;
  Quat q;
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

// --------------------------------------------------------------- Our engine

struct OurWorld : DynTestScene {
  std::vector<RigidBody*> built;  // the recipe's bodies, in its order
  OurWorld(const BenchRecipe& r, bool keepAwake) {
    Simulation_SetSolverIterations(sim, kIterations);
    built = Build(r.scene);
    for (const ScenePointJoint& j : r.joints) {
      Point2PointConstraint* c = Point2PointConstraint_Construct(built[size_t(j.a)], built[size_t(j.b)]);
      Point2PointConstraint_SetPivotWorld(c, j.pivot);
      ConstraintManager_AddConstraint(cm, c);
      joints.push_back(c);
      CollisionDetection_DisableBodyPair(cd, built[size_t(j.a)], built[size_t(j.b)]);
    }
    if (keepAwake)
      for (RigidBody* b : built)
        if (b->invMass > 0.0f) RigidBody_HoldActive(b);
    if (r.launchBody >= 0) Remove(built[size_t(r.launchBody)]);
  }
  void Launch(const BenchRecipe& r) {
    RigidBody* b = built[size_t(r.launchBody)];
    b->linearVelocity = r.launchVelocity;
    Add(b);
  }
  void Step(float h) { DynTestScene::Step(h); }
  bool IsAwake(size_t k) const {
    const RigidBody* b = built[k];
    return b->invMass > 0.0f && b->subspace && (b->stateFlags & RB_STATE_ACTIVE) != 0;
  }
  // Highest linear and angular speed of the movable bodies but `skip`.
  void MaxSpeeds(float* v, float* w, int skip) const {
    *v = *w = 0.0f;
    for (size_t k = 0; k < built.size(); ++k) {
      if (int(k) == skip) continue;
      const RigidBody* b = built[k];
      *v = std::fmax(*v, Vec3_Norm(b->linearVelocity));
      *w = std::fmax(*w, Vec3_Norm(b->angularVelocity));
    }
  }
  std::vector<Pose> Poses() const {
    std::vector<Pose> out;
    for (RigidBody* b : built) out.push_back({b->pose.position, b->pose.rotation});
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
  std::vector<std::unique_ptr<btTypedConstraint>> joints;
  std::vector<std::unique_ptr<btTriangleIndexVertexArray>> meshData;
  std::vector<std::vector<int>> indices32;
  std::vector<std::vector<float>> vertices3;
  int parked = -1;  // the recipe's body not yet launched into the world

  BulletWorld(const BenchRecipe& r, bool keepAwake) {
    world.setGravity(btVector3(0, -9.81f, 0));
    world.getSolverInfo().m_numIterations = kIterations;
    gDeactivationTime = kFreeze.checkPeriod[0];
    Build(r.scene);
    for (const ScenePointJoint& j : r.joints) {
      const SceneBody& a = r.scene.bodies[size_t(j.a)];
      const SceneBody& b = r.scene.bodies[size_t(j.b)];
      Vec3 pa = j.pivot - a.position, pb = j.pivot - b.position;
      joints.push_back(std::make_unique<btPoint2PointConstraint>(
          *bodies[size_t(j.a)], *bodies[size_t(j.b)], btVector3(pa.x, pa.y, pa.z), btVector3(pb.x, pb.y, pb.z)));
      world.addConstraint(joints.back().get(), true);  // joined bodies do not collide
    }
    if (keepAwake)
      for (auto& b : bodies)
        if (b->getInvMass() > 0) b->setActivationState(DISABLE_DEACTIVATION);
    if (r.launchBody >= 0) world.removeRigidBody(bodies[size_t(r.launchBody)].get());
    parked = r.launchBody;
  }
  void Launch(const BenchRecipe& r) {
    btRigidBody* b = bodies[size_t(r.launchBody)].get();
    b->setLinearVelocity(btVector3(r.launchVelocity.x, r.launchVelocity.y, r.launchVelocity.z));
    world.addRigidBody(b);
    b->activate(true);
    parked = -1;
  }
  ~BulletWorld() {
    for (auto& c : joints) world.removeConstraint(c.get());
    for (auto& b : bodies) world.removeRigidBody(b.get());
  }
  void Add(btCollisionShape* shape, float mass, Vec3 pos, Quat rot) {
    btVector3 inertia(0, 0, 0);
    if (mass > 0) shape->calculateLocalInertia(mass, inertia);
    auto state = std::make_unique<btDefaultMotionState>(
        btTransform(btQuaternion(rot.x, rot.y, rot.z, rot.w), btVector3(pos.x, pos.y, pos.z)));
    btRigidBody::btRigidBodyConstructionInfo info(mass, state.get(), shape, inertia);
    auto body = std::make_unique<btRigidBody>(info);
    body->setSleepingThresholds(kFreeze.restLinear, kFreeze.restAngular);
    world.addRigidBody(body.get());
    states.push_back(std::move(state));
    bodies.push_back(std::move(body));
  }
  void Build(const SceneRecipe& r) {
    for (const SceneBody& d : r.bodies) {
      switch (d.kind) {
        case SceneBody::kSphere: shapes.push_back(std::make_unique<btSphereShape>(d.radius)); break;
        case SceneBody::kBox:
          shapes.push_back(std::make_unique<btBoxShape>(btVector3(d.half.x, d.half.y, d.half.z)));
          break;
        case SceneBody::kHull: {
          auto hull = std::make_unique<btConvexHullShape>();
          for (const Vec3& v : d.points) hull->addPoint(btVector3(v.x, v.y, v.z), false);
          hull->recalcLocalAabb();
          shapes.push_back(std::move(hull));
          break;
        }
        case SceneBody::kMesh: {
          const SceneMesh& mesh = r.meshes[size_t(d.mesh)];
          vertices3.emplace_back();
          indices32.emplace_back();
          for (size_t k = 0; k < mesh.vertices.size(); k += 4)
            vertices3.back().insert(vertices3.back().end(),
                                    {mesh.vertices[k], mesh.vertices[k + 1], mesh.vertices[k + 2]});
          for (uint16_t i : mesh.indices) indices32.back().push_back(i);
          meshData.push_back(std::make_unique<btTriangleIndexVertexArray>(
              int(indices32.back().size() / 3), indices32.back().data(), 3 * int(sizeof(int)),
              int(vertices3.back().size() / 3), vertices3.back().data(), 3 * int(sizeof(float))));
          shapes.push_back(std::make_unique<btBvhTriangleMeshShape>(meshData.back().get(), true));
          break;
        }
      }
      Add(shapes.back().get(), d.mass, d.position, d.rotation);
    }
    // Recipe bodies stand unrotated: a world pivot is the body-space pivot
    // plus the body's position.
    for (const SceneHinge& h : r.hinges) {
      btRigidBody* a = bodies[size_t(h.a)].get();
      Vec3 pa = h.pivot - r.bodies[size_t(h.a)].position;
      btVector3 axis(h.axis.x, h.axis.y, h.axis.z);
      if (h.b < 0) {
        joints.push_back(std::make_unique<btHingeConstraint>(*a, btVector3(pa.x, pa.y, pa.z), axis));
      } else {
        Vec3 pb = h.pivot - r.bodies[size_t(h.b)].position;
        joints.push_back(std::make_unique<btHingeConstraint>(*a, *bodies[size_t(h.b)], btVector3(pa.x, pa.y, pa.z),
                                                             btVector3(pb.x, pb.y, pb.z), axis, axis));
      }
      world.addConstraint(joints.back().get(), h.b >= 0);  // hinged bodies do not collide
    }
  }
  void Step(float h) { world.stepSimulation(h, 0, h); }
  bool IsAwake(size_t k) const { return int(k) != parked && bodies[k]->getInvMass() > 0 && bodies[k]->isActive(); }
  void MaxSpeeds(float* v, float* w, int skip) const {
    *v = *w = 0.0f;
    for (size_t k = 0; k < bodies.size(); ++k) {
      if (int(k) == skip) continue;
      const btRigidBody* b = bodies[k].get();
      *v = std::fmax(*v, float(b->getLinearVelocity().length()));
      *w = std::fmax(*w, float(b->getAngularVelocity().length()));
    }
  }
  std::vector<Pose> Poses() const {
    std::vector<Pose> out;
    for (const auto& b : bodies) {
      const btTransform& t = b->getWorldTransform();
      btQuaternion q = t.getRotation();
      out.push_back({V3(t.getOrigin().x(), t.getOrigin().y(), t.getOrigin().z()), Quat{q.x(), q.y(), q.z(), q.w()}});
    }
    return out;
  }
};

// ---------------------------------------------------------------- Measures

// Movable bodies awake in the world but `skip`.
template <typename World>
int Awake(const World& w, int skip = -1) {
  int n = 0;
  for (size_t k = 0; k < w.Poses().size(); ++k) n += int(k) != skip && w.IsAwake(k);
  return n;
}

// Depth of a point below the bowl's surface (along the normal of the
// triangle under it), 0 above it.
float BowlPointDepth(Vec3 p) {
  float fx = (p.x + kBowlHalf) / (2 * kBowlHalf) * kBowlCells;
  float fz = (p.z + kBowlHalf) / (2 * kBowlHalf) * kBowlCells;
  int i = int(std::floor(fx)), j = int(std::floor(fz));
  if (i < 0 || j < 0 || i >= kBowlCells || j >= kBowlCells) return 0.0f;
  float u = fx - float(i), w = fz - float(j);
  Vec3 a = Bowl_Vertex(i, j), b = Bowl_Vertex(i + 1, j), c = Bowl_Vertex(i, j + 1), d = Bowl_Vertex(i + 1, j + 1);
  Vec3 t0 = a, t1 = c, t2 = b;
  if (u + w > 1.0f) {
    t0 = b;
    t2 = d;
  }
  Vec3 n = Vec3_Unit(Vec3_Cross(t1 - t0, t2 - t0));
  if (n.y < 0) n = -n;
  float dist = Vec3_Dot(p - t0, n);
  return dist < 0 ? -dist : 0.0f;
}

float SphereBowlDepth(Vec3 c, float r) {
  float below = BowlPointDepth(c);
  if (below > 0) return r + below;  // a centre under the surface counts its full depth
  float fx = (c.x + kBowlHalf) / (2 * kBowlHalf) * kBowlCells;
  float fz = (c.z + kBowlHalf) / (2 * kBowlHalf) * kBowlCells;
  int ci = int(std::floor(fx)), cj = int(std::floor(fz));
  float best = 1e9f;
  for (int j = cj - 3; j <= cj + 3; ++j)
    for (int i = ci - 3; i <= ci + 3; ++i) {
      if (i < 0 || j < 0 || i >= kBowlCells || j >= kBowlCells) continue;
      Vec3 a = Bowl_Vertex(i, j), b = Bowl_Vertex(i + 1, j), c2 = Bowl_Vertex(i, j + 1), d = Bowl_Vertex(i + 1, j + 1);
      int region;
      best = std::fmin(best, Vec3_Norm(Geometry_ClosestOnTriangle(c, a, c2, b, &region) - c));
      best = std::fmin(best, Vec3_Norm(Geometry_ClosestOnTriangle(c, b, c2, d, &region) - c));
    }
  return best < r ? r - best : 0.0f;
}

// A pour body whose centre is more than 1 m under the bowl, or below it off
// its edge, went through or off it.
bool LostFromBowl(const Pose& ps) {
  if (std::fabs(ps.p.x) >= kBowlHalf || std::fabs(ps.p.z) >= kBowlHalf) return ps.p.y < 20.0f;
  return BowlPointDepth(ps.p) > 1.0f;
}

// A box whose centre is under the ground box's top (y = 0) by more than
// half a box, or off the ground box (the recipe's first body when fixed,
// else one of the tests' size), went through or off it.
bool LostFromGround(const SceneRecipe& r, const Pose& ps) {
  Vec3 half = r.bodies[0].mass == 0.0f ? r.bodies[0].half : V3(20, 0.5f, 20);
  return ps.p.y < -0.5f || std::fabs(ps.p.x) > half.x || std::fabs(ps.p.z) > half.z;
}

// A figure's body whose centre is more than 0.3 m under the waves, or off
// them, went through or off the ground.
bool LostFromWaves(const Pose& ps) {
  if (std::fabs(ps.p.x) >= 10.0f || std::fabs(ps.p.z) >= 10.0f) return true;
  return ps.p.y < Waves_Height(ps.p.x, ps.p.z) - 0.3f;
}

// Deepest point of a box or sphere of the recipe on the ground box under
// its top, the plane y = 0.
float GroundSink(const SceneRecipe& r, const std::vector<Pose>& poses) {
  float worst = 0.0f;
  for (size_t k = 1; k < poses.size(); ++k) {
    const SceneBody& d = r.bodies[k];
    if (LostFromGround(r, poses[k])) continue;
    float lowest = poses[k].p.y - d.radius;
    if (d.kind == SceneBody::kBox)
      for (int i = 0; i < 8; ++i) {
        Vec3 c = V3((i & 1) ? d.half.x : -d.half.x, (i & 2) ? d.half.y : -d.half.y, (i & 4) ? d.half.z : -d.half.z);
        lowest = std::fmin(lowest, poses[k].p.y + Quat_Rotate(poses[k].q, c).y);
      }
    worst = std::fmax(worst, -lowest);
  }
  return worst;
}

// Deepest overlap of two spheres of the recipe, through a grid of cells as
// wide as the largest sphere.
float SphereOverlap(const SceneRecipe& r, const std::vector<Pose>& poses) {
  constexpr float kCell = 0.6f;
  constexpr uint32_t kBuckets = 4096;
  static std::vector<std::vector<int>> grid(kBuckets);
  for (auto& g : grid) g.clear();
  auto cell = [](float v) { return int(std::floor(v / kCell)); };
  auto bucket = [](int x, int y, int z) {
    return (uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(z) * 83492791u) % kBuckets;
  };
  for (size_t k = 0; k < poses.size(); ++k)
    if (r.bodies[k].kind == SceneBody::kSphere && std::isfinite(poses[k].p.x))
      grid[bucket(cell(poses[k].p.x), cell(poses[k].p.y), cell(poses[k].p.z))].push_back(int(k));
  float worst = 0.0f;
  for (size_t k = 0; k < poses.size(); ++k) {
    if (r.bodies[k].kind != SceneBody::kSphere || !std::isfinite(poses[k].p.x)) continue;
    int x = cell(poses[k].p.x), y = cell(poses[k].p.y), z = cell(poses[k].p.z);
    for (int dz = -1; dz <= 1; ++dz)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          for (int j : grid[bucket(x + dx, y + dy, z + dz)]) {
            if (j <= int(k)) continue;
            float d = Vec3_Norm(poses[size_t(j)].p - poses[k].p);
            worst = std::fmax(worst, r.bodies[k].radius + r.bodies[size_t(j)].radius - d);
          }
  }
  return worst;
}

float BowlPenetration(const SceneRecipe& scene, const std::vector<Pose>& poses) {
  float worst = 0;
  for (size_t k = 1; k < poses.size(); ++k) {
    const Pose& ps = poses[k];
    const SceneBody& d = scene.bodies[k];
    if (LostFromBowl(ps)) continue;
    if (d.kind == SceneBody::kSphere) {
      worst = std::fmax(worst, SphereBowlDepth(ps.p, d.radius));
    } else {
      for (const Vec3& v : d.points) worst = std::fmax(worst, BowlPointDepth(ps.p + Quat_Rotate(ps.q, v)));
    }
  }
  return worst;
}

// Exact boxes of a recipe placed at reported poses: the deepest overlap of
// any two, by this engine's narrow phase with no margin (the same routine
// for both engines' poses). Other bodies are left out.
class BoxOverlap {
public:
  explicit BoxOverlap(const SceneRecipe& r) {
    for (const SceneBody& d : r.bodies) {
      bodies_.push_back(std::make_unique<CollisionBody>());
      if (d.kind != SceneBody::kBox) continue;
      std::vector<float> pts;
      for (int i = 0; i < 8; ++i)
        pts.insert(pts.end(), {(i & 1) ? d.half.x : -d.half.x, (i & 2) ? d.half.y : -d.half.y,
                               (i & 4) ? d.half.z : -d.half.z, 0.0f});
      const float params[4] = {0.001f, 0.01f, 0.02f, 0.992f};
      ConvexHull* hull = ConvexHull_Build(pts.data(), 8, params, 0.01f);
      PrimitiveDesc desc{};
      desc.type = PRIMITIVE_TYPE_SHAPE;
      desc.shape = hull;
      desc.convex = 1;
      Transform_SetIdentity(&desc.transform);
      CollisionBody_AddPrimitive(bodies_.back().get(), desc);
      CollisionShape_Release(hull);
    }
  }
  float Deepest(const std::vector<Pose>& poses) {
    for (size_t k = 0; k < bodies_.size(); ++k) CollisionBody_Place(bodies_[k].get(), Transform{poses[k].q, poses[k].p});
    float worst = 0.0f;
    ContactManifold m;
    for (size_t i = 0; i < bodies_.size(); ++i)
      for (size_t j = i + 1; j < bodies_.size(); ++j) {
        if (bodies_[i]->primitives.Empty() || bodies_[j]->primitives.Empty()) continue;
        CollisionPrimitive* a = bodies_[i]->primitives[0];
        CollisionPrimitive* b = bodies_[j]->primitives[0];
        if (!Aabb_Overlaps(a->bounds, b->bounds)) continue;
        int n = NarrowPhase_CollideStateless(a, b, 0.0f, &m);
        for (int k = 0; k < n; ++k) worst = std::fmax(worst, m.points[k].depth);
      }
    return worst;
  }

private:
  std::vector<std::unique_ptr<CollisionBody>> bodies_;
};

// The chain's joints read from the poses: how far each bar's hinge axis (its
// z axis) has turned out of the world z direction, and the gap between the
// ends that a hinge joins (the first bar's inner end and the world pivot).
void ChainJoints(const SceneRecipe& r, const std::vector<Pose>& p, float* tilt, float* peakGap, double* gapSum) {
  for (size_t k = 0; k < p.size(); ++k) {
    Vec3 z = Quat_Rotate(p[k].q, V3(0, 0, 1));
    *tilt = std::fmax(*tilt, std::acos(std::fmin(1.0f, std::fabs(z.z))) * 57.29578f);
    Vec3 inner = p[k].p + Quat_Rotate(p[k].q, V3(-r.bodies[k].half.x, 0, 0));
    Vec3 joint = k == 0 ? r.hinges[0].pivot : p[k - 1].p + Quat_Rotate(p[k - 1].q, V3(r.bodies[k - 1].half.x, 0, 0));
    float gap = Vec3_Norm(inner - joint);
    *peakGap = std::fmax(*peakGap, gap);
    *gapSum += gap;
  }
}

// The point-to-point joints read from the poses: the gap between the pivot
// as each of its two bodies carries it.
void PointJointGaps(const BenchRecipe& r, const std::vector<Pose>& p, float* peakGap, double* gapSum) {
  for (const ScenePointJoint& j : r.joints) {
    const Pose& a = p[size_t(j.a)];
    const Pose& b = p[size_t(j.b)];
    Vec3 onA = a.p + Quat_Rotate(a.q, j.pivot - r.scene.bodies[size_t(j.a)].position);
    Vec3 onB = b.p + Quat_Rotate(b.q, j.pivot - r.scene.bodies[size_t(j.b)].position);
    float gap = Vec3_Norm(onA - onB);
    *peakGap = std::fmax(*peakGap, gap);
    *gapSum += gap;
  }
}

// ------------------------------------------------------------------ Scenes

enum SceneKind { kPour, kColumn, kPyramid, kChain, kWall, kFigures };

// What one run of a scene gives.
struct RunFigures {
  double usPerStep = 0;
  float penetration = 0;  // deepest, sampled every 10 steps
  double usFirstHalf = 0;  // the same over the first half of the run
  float drift = 0;        // pour: mean move over the last second; stacks: top box's sideways move from its start
  float sink = 0;         // stacks: how far the top box went down from its start
  float groundSink = 0;   // the wall: deepest point of any body under the ground, every step
  float sphereOverlap = 0;  // pours: deepest overlap of two spheres, every step
  int lost = 0;
  double collapseAt = -1;  // first time a box is more than half its size from its start
  // After the launch, if any, and without the launched body (a ball rolls on):
  double settledAt = -1;  // from then on every body stays under the rest speeds
  double asleepAt = -1;   // first time every movable body sleeps
  int awakeAtLaunch = 0, awakeAfter1 = 0,
      awakeAfter3 = 0;  // the launch, and 1 s and 3 s after it (the launched body left out)
  int awakeAtHalf = 0;
  int awakeAtEnd = 0;
  float tilt = 0, peakGap = 0, meanGap = 0;  // the chain and the figures' joints
  uint32_t hash = 0;
};

std::string g_timers;  // where our engine's time went in the pour (last run)

void CaptureTimers() {
  g_timers.clear();
  char line[160];
  for (int i = 0; i < PhysTimer_Count(); ++i) {
    const PhysTimer* t = PhysTimer_Get(i);
    std::snprintf(line, sizeof line, "  %-32s %9.1f ms\n", t->path, PhysTimer_Seconds(t) * 1e3);
    g_timers += line;
  }
}

// Median and spread of a figure over the runs.
struct Spread {
  double median, lo, hi;
};
Spread SpreadOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  double median = n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
  return {median, v.front(), v.back()};
}

// Every run of one engine on one scene: timing spread, the figures of the
// first run, and whether all runs ended in the same poses.
struct SceneResult {
  Spread us{0, 0, 0};
  Spread usFirstHalf{0, 0, 0};
  RunFigures first;
  bool repeatable = true;
};

struct Scene {
  const char* name = "";
  SceneKind kind = kPour;
  BenchRecipe recipe;
  int steps = 0;
  bool keepAwake = false;  // sleeping off: every movable body is held awake in both engines
  float step = 1.0f / 60.0f;
  SceneResult result[2]{};  // ours, Bullet
  Spread ratio{0, 0, 0};    // ours / Bullet per pair of interleaved runs
  Spread ratioFirstHalf{0, 0, 0};
  bool ran = false;
};

template <typename World>
RunFigures RunScene(const Scene& sc, BoxOverlap* boxes) {
  const SceneKind kind = sc.kind;
  const SceneRecipe& r = sc.recipe.scene;
  const int steps = sc.steps, launch = sc.recipe.launchBody >= 0 ? sc.recipe.launchStep : 0;
  World w(sc.recipe, sc.keepAwake);
  constexpr bool kOurs = std::is_same_v<World, OurWorld>;
  if (kOurs && kind == kPour) PhysTimer_ClearAll();
  RunFigures f;
  std::vector<Pose> start = w.Poses(), lastSecond;
  double seconds = 0, firstHalf = 0, gapSum = 0;
  double lastFast = 0;
  const int perSecond = int(std::lround(1.0 / sc.step));
  bool struck = launch == 0;  // sleeping is watched once the launched body woke something
  for (int s = 0; s < steps; ++s) {
    if (launch > 0 && s == launch) {
      f.awakeAtLaunch = Awake(w);
      w.Launch(sc.recipe);
    }
    double t0 = CpuSeconds();
    w.Step(sc.step);
    seconds += CpuSeconds() - t0;
    if (s + 1 == steps / 2) {
      firstHalf = seconds;
      f.awakeAtHalf = Awake(w);
    }
    if (launch > 0 && s + 1 == launch + perSecond) f.awakeAfter1 = Awake(w, sc.recipe.launchBody);
    if (launch > 0 && s + 1 == launch + 3 * perSecond) f.awakeAfter3 = Awake(w, sc.recipe.launchBody);
    double t = double(s + 1) * sc.step;
    std::vector<Pose> p = w.Poses();
    if (kind == kChain) {
      ChainJoints(r, p, &f.tilt, &f.peakGap, &gapSum);
      continue;
    }
    if (kind == kFigures) PointJointGaps(sc.recipe, p, &f.peakGap, &gapSum);
    if (kind == kWall) f.groundSink = std::fmax(f.groundSink, GroundSink(r, p));
    if (kind == kPour) f.sphereOverlap = std::fmax(f.sphereOverlap, SphereOverlap(r, p));
    struck |= s >= launch && Awake(w, sc.recipe.launchBody) > 0;
    if (!struck) continue;
    float v, om;
    w.MaxSpeeds(&v, &om, sc.recipe.launchBody);
    if (v >= kFreeze.restLinear || om >= kFreeze.restAngular) lastFast = t;
    if (f.asleepAt < 0 && Awake(w, sc.recipe.launchBody) == 0) {
      f.asleepAt = t;
      f.settledAt = lastFast;
    }
    if ((kind == kColumn || kind == kPyramid) && f.collapseAt < 0)
      for (size_t k = 1; k < p.size(); ++k)
        if (Vec3_Norm(p[k].p - start[k].p) > r.bodies[k].half.y) {
          f.collapseAt = t;
          break;
        }
    if (s % 10 == 9 && kind != kFigures)
      f.penetration = std::fmax(f.penetration, kind == kPour ? BowlPenetration(r, p) : boxes->Deepest(p));
    if (s == steps - perSecond - 1) lastSecond = p;
  }
  std::vector<Pose> end = w.Poses();
  if (f.asleepAt < 0) f.settledAt = lastFast;
  for (size_t k = 1; k < end.size(); ++k)
    f.lost += kind == kPour      ? LostFromBowl(end[k])
              : kind == kFigures ? LostFromWaves(end[k])
                                 : LostFromGround(r, end[k]);
  if (kind == kPour) {
    double sum = 0;
    for (size_t k = 1; k < end.size(); ++k) sum += Vec3_Norm(end[k].p - lastSecond[k].p);
    f.drift = float(sum / double(end.size() - 1));
  } else if (kind == kColumn || kind == kPyramid) {
    Vec3 moved = end.back().p - start.back().p;
    f.drift = std::sqrt(moved.x * moved.x + moved.z * moved.z);
    f.sink = -moved.y;
  }
  if (kind == kChain) f.meanGap = float(gapSum / (double(steps) * double(end.size())));
  if (kind == kFigures) f.meanGap = float(gapSum / (double(steps) * double(sc.recipe.joints.size())));
  f.awakeAtEnd = Awake(w);
  f.hash = PoseHash(end);
  f.usPerStep = seconds * 1e6 / steps;
  f.usFirstHalf = firstHalf * 1e6 / (steps / 2);
  if (kOurs && kind == kPour && PhysTimer_Count() > 0) CaptureTimers();  // before the world goes
  return f;
}

Scene MakeScene(const char* name, SceneKind kind, BenchRecipe recipe, int steps, bool keepAwake = false,
                float step = 1.0f / 60.0f) {
  Scene s;
  s.name = name;
  s.kind = kind;
  s.recipe = std::move(recipe);
  s.steps = steps;
  s.keepAwake = keepAwake;
  s.step = step;
  return s;
}

std::vector<Scene>& Scenes() {
  static std::vector<Scene> scenes = [] {
    std::vector<Scene> s;
    s.push_back(MakeScene("pour 700 spheres + 300 hulls, 10 s", kPour, Recipe_Pour(700, 300), 600));
    s.push_back(MakeScene("column of 20 boxes, 20 s", kColumn, Recipe_Column(20), 1200));
    s.push_back(MakeScene("pyramid of 10 rows (55 boxes), 20 s", kPyramid, Recipe_Pyramid(10), 1200));
    s.push_back(MakeScene("chain of 20 hinged bars, 10 s", kChain, Recipe_Chain(20), 600));
    s.push_back(
        MakeScene("pyramid of 10 rows kept awake (sleeping off), 20 s", kPyramid, Recipe_Pyramid(10), 1200, true));
    s.push_back(MakeScene("wall of 195 bricks struck by a 30 kg ball at 1.5 s, 10 s", kWall, Recipe_Wall(), 600));
    s.push_back(MakeScene("the same wall kept awake (sleeping off)", kWall, Recipe_Wall(), 600, true));
    s.push_back(MakeScene("12 figures of 10 boxes, point joints, on a mesh, 10 s", kFigures, Recipe_Figures(), 600));
    s.push_back(MakeScene("the same figures kept awake (sleeping off)", kFigures, Recipe_Figures(), 600, true));
    s.push_back(MakeScene("pour 700 spheres + 300 hulls, 1/50 s steps, 20 s", kPour, Recipe_Pour(700, 300), 1000, false,
                          1.0f / 50.0f));
    s.push_back(MakeScene("2,000 spheres into the bowl, 1/50 s steps, 10 s", kPour, Recipe_Pour(2000, 0), 500, false,
                          1.0f / 50.0f));
    return s;
  }();
  return scenes;
}

// Both engines' runs of a scene, interleaved: run k of one engine is paired
// with run k of the other, the engine going first alternating.
void BM_Scene(benchmark::State& state, int index) {
  Scene& sc = Scenes()[size_t(index)];
  std::unique_ptr<BoxOverlap> boxes;
  if (sc.kind == kColumn || sc.kind == kPyramid || sc.kind == kWall)
    boxes = std::make_unique<BoxOverlap>(sc.recipe.scene);
  for (auto _ : state) {
    std::vector<double> us[2], half[2], ratio, ratioHalf;
    for (int run = 0; run < Runs(); ++run) {
      RunFigures f[2];
      for (int turn = 0; turn < 2; ++turn) {
        int engine = (run + turn) % 2;
        f[engine] = engine == 0 ? RunScene<OurWorld>(sc, boxes.get()) : RunScene<BulletWorld>(sc, boxes.get());
      }
      for (int engine = 0; engine < 2; ++engine) {
        SceneResult& out = sc.result[engine];
        if (run == 0) out.first = f[engine];
        out.repeatable &= f[engine].hash == out.first.hash;
        us[engine].push_back(f[engine].usPerStep);
        half[engine].push_back(f[engine].usFirstHalf);
      }
      ratio.push_back(f[0].usPerStep / f[1].usPerStep);
      ratioHalf.push_back(f[0].usFirstHalf / f[1].usFirstHalf);
    }
    for (int engine = 0; engine < 2; ++engine) {
      sc.result[engine].us = SpreadOf(us[engine]);
      sc.result[engine].usFirstHalf = SpreadOf(half[engine]);
    }
    sc.ratio = SpreadOf(ratio);
    sc.ratioFirstHalf = SpreadOf(ratioHalf);
    sc.ran = true;
  }
  state.counters["ours_us_per_step"] = sc.result[0].us.median;
  state.counters["bullet_us_per_step"] = sc.result[1].us.median;
  state.counters["ratio"] = sc.ratio.median;
}

// --------------------------------------------------------------------- Rays

constexpr int kRays = 10000;

// Half the rays fall steeply from 30 m up; the others run long and shallow
// (60 m across, 10 m down) over the slopes.
std::vector<std::pair<Vec3, Vec3>> MakeRays() {
  std::vector<std::pair<Vec3, Vec3>> rays;
  SceneRng rng;
  for (int k = 0; k < kRays; ++k) {
    float x = (rng.Next() - 0.5f) * 90, z = (rng.Next() - 0.5f) * 90;
    if (k % 2 == 0) {
      Vec3 from = V3(x, 30, z);
      rays.push_back({from, from + V3((rng.Next() - 0.5f) * 10, -50, (rng.Next() - 0.5f) * 10)});
    } else {
      float heading = rng.Next() * 6.2831853f;
      Vec3 from = V3(x, Terrain_Height(x, z) + 5.0f, z);
      rays.push_back({from, from + V3(60 * std::cos(heading), -10, 60 * std::sin(heading))});
    }
  }
  return rays;
}

struct RayResult {
  Spread us{0, 0, 0};
  int hits = 0;
};
RayResult g_rays[2];  // ours, Bullet
Spread g_rayRatio{0, 0, 0};
bool g_raysRan = false;

const SceneRecipe& Terrain() {
  static SceneRecipe r = [] {
    SceneRecipe t;
    Recipe_AddMesh(&t, Terrain_Mesh());
    return t;
  }();
  return r;
}

// Microseconds per ray of one pass over the rays; the hits counted in *hits.
double RaysOurs(PrimitiveCollector* pick, const std::vector<std::pair<Vec3, Vec3>>& rays, int* hits) {
  *hits = 0;
  double t0 = CpuSeconds();
  for (const auto& r : rays) {
    RayQuery q;
    RayQuery_Init(&q, r.first, r.second);
    *hits += PrimitiveCollector_CastRay(pick, &q) != nullptr;
  }
  return (CpuSeconds() - t0) * 1e6 / double(rays.size());
}

double RaysBullet(BulletWorld* w, const std::vector<std::pair<Vec3, Vec3>>& rays, int* hits) {
  *hits = 0;
  double t0 = CpuSeconds();
  for (const auto& r : rays) {
    btVector3 from(r.first.x, r.first.y, r.first.z), to(r.second.x, r.second.y, r.second.z);
    btCollisionWorld::ClosestRayResultCallback cb(from, to);
    w->world.rayTest(from, to, cb);
    *hits += cb.hasHit();
  }
  return (CpuSeconds() - t0) * 1e6 / double(rays.size());
}

// Both engines' passes over the rays, interleaved as the scenes' runs are.
void BM_Rays(benchmark::State& state) {
  OurWorld ours(Terrain(), false);
  BulletWorld bullet(Terrain(), false);
  PrimitiveCollector* pick = PrimitiveCollector_Construct();
  for (CollisionPrimitive* p : ours.built[0]->primitives) PrimitiveCollector_Add(pick, p);
  std::vector<std::pair<Vec3, Vec3>> rays = MakeRays();
  for (auto _ : state) {
    std::vector<double> us[2], ratio;
    for (int run = 0; run < Runs(); ++run) {
      double t[2];
      for (int turn = 0; turn < 2; ++turn) {
        int engine = (run + turn) % 2;
        t[engine] = engine == 0 ? RaysOurs(pick, rays, &g_rays[0].hits) : RaysBullet(&bullet, rays, &g_rays[1].hits);
        us[engine].push_back(t[engine]);
      }
      ratio.push_back(t[0] / t[1]);
    }
    for (int engine = 0; engine < 2; ++engine) g_rays[engine].us = SpreadOf(us[engine]);
    g_rayRatio = SpreadOf(ratio);
    g_raysRan = true;
  }
  state.counters["ratio"] = g_rayRatio.median;
  PhysObject_Destroy(pick);
}

// -------------------------------------------------------------------- Table

std::string LoadAverage() {
  char buf[128] = "?";
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (!std::fgets(buf, sizeof buf, f)) std::snprintf(buf, sizeof buf, "?");
    std::fclose(f);
  }
  std::string s = buf;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

std::string Time(double t) {
  char buf[32];
  if (t < 0) return "never";
  std::snprintf(buf, sizeof buf, "%.2f s", t);
  return buf;
}

std::string Us(const Spread& s, int decimals = 1) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f (%.*f-%.*f)", decimals, s.median, decimals, s.lo, decimals, s.hi);
  return buf;
}

void Row(const char* measure, const std::string& ours, const std::string& bullet, const std::string& note = "") {
  std::printf("  %-28s %-26s %-26s %s\n", measure, ours.c_str(), bullet.c_str(), note.c_str());
}

std::string F(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

std::string Ratio(const Spread& s) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f (%.2f-%.2f)", s.median, s.lo, s.hi);
  return buf;
}

void PrintTable(const std::string& loadBefore) {
  std::printf(
      "\nPhysics benchmark: 1/60 s steps, %d iterations, %d interleaved runs per engine; CPU time,\n"
      "median (lowest-highest); ours / Bullet from each pair of runs, median (lowest-highest)\n",
      kIterations, Runs());
  std::printf("Load average before: %s; after: %s (8 cores)\n", loadBefore.c_str(), LoadAverage().c_str());
  std::printf("Bullet: native sphere and box shapes; hull shape over our hull's points with margin %.2f m;\n"
              "sleeping thresholds %.2f m/s and %.2f rad/s for %.1f s in both engines\n",
              btConvexHullShape().getMargin(), kFreeze.restLinear, kFreeze.restAngular, kFreeze.checkPeriod[0]);
  std::printf("\n  %-52s %-22s %-22s %s\n", "CPU time per step (per ray), us", "ours", "Bullet", "ours / Bullet");
  for (const Scene& sc : Scenes())
    if (sc.ran)
      std::printf("  %-52s %-22s %-22s %s\n", sc.name, Us(sc.result[0].us).c_str(), Us(sc.result[1].us).c_str(),
                  Ratio(sc.ratio).c_str());
  if (g_raysRan)
    std::printf("  %-52s %-22s %-22s %s\n", "10,000 rays against 100,352 triangles", Us(g_rays[0].us, 3).c_str(),
                Us(g_rays[1].us, 3).c_str(), Ratio(g_rayRatio).c_str());
  for (Scene& sc : Scenes()) {
    const SceneResult& o = sc.result[0];
    const SceneResult& b = sc.result[1];
    if (!sc.ran) continue;
    std::printf("\n%s\n", sc.name);
    Row("", "ours", "Bullet", "ours / Bullet");
    Row("time per step, us", Us(o.us), Us(b.us), Ratio(sc.ratio));
    const RunFigures& fo = o.first;
    const RunFigures& fb = b.first;
    std::string half = Time(sc.steps / 2 * double(sc.step));
    if (sc.kind == kPour)
      Row(("the same, first " + half).c_str(), Us(o.usFirstHalf), Us(b.usFirstHalf), Ratio(sc.ratioFirstHalf));
    Row("bodies lost", F("%.0f", fo.lost), F("%.0f", fb.lost));
    if (sc.kind == kChain) {
      Row("hinge axis tilt, degrees", F("%.3f", fo.tilt), F("%.3f", fb.tilt));
    }
    if (sc.kind == kChain || sc.kind == kFigures) {
      Row("peak pivot gap, m", F("%.4f", fo.peakGap), F("%.4f", fb.peakGap));
      Row("mean pivot gap, m", F("%.4f", fo.meanGap), F("%.4f", fb.meanGap));
    }
    if (sc.kind != kChain) {
      if (sc.kind != kFigures) Row("deepest penetration, m", F("%.4f", fo.penetration), F("%.4f", fb.penetration));
      if (sc.kind == kPour) {
        Row("deepest sphere overlap, m", F("%.4f", fo.sphereOverlap), F("%.4f", fb.sphereOverlap));
        Row("drift over the last 1 s, m", F("%.4f", fo.drift), F("%.4f", fb.drift));
      }
      if (sc.kind == kColumn || sc.kind == kPyramid) {
        Row("top box drift sideways, m", F("%.4f", fo.drift), F("%.4f", fb.drift));
        Row("top box sink, m", F("%.4f", fo.sink), F("%.4f", fb.sink));
        Row("collapses at", fo.collapseAt < 0 ? "stands" : Time(fo.collapseAt),
            fb.collapseAt < 0 ? "stands" : Time(fb.collapseAt));
      }
      if (sc.kind == kWall) {
        Row("deepest sink into the ground, m", F("%.4f", fo.groundSink), F("%.4f", fb.groundSink));
        Row("awake when struck", F("%.0f", fo.awakeAtLaunch), F("%.0f", fb.awakeAtLaunch));
        Row("bricks awake 1 s / 3 s after", F("%.0f", fo.awakeAfter1) + " / " + F("%.0f", fo.awakeAfter3),
            F("%.0f", fb.awakeAfter1) + " / " + F("%.0f", fb.awakeAfter3));
      }
      Row(sc.recipe.launchBody >= 0 ? "bricks settled at" : "settled at", Time(fo.settledAt), Time(fb.settledAt));
      Row(sc.recipe.launchBody >= 0 ? "bricks all asleep at" : "all asleep at", Time(fo.asleepAt), Time(fb.asleepAt));
      if (sc.kind == kPour) Row(("awake at " + half).c_str(), F("%.0f", fo.awakeAtHalf), F("%.0f", fb.awakeAtHalf));
      Row("awake at the end", F("%.0f", fo.awakeAtEnd), F("%.0f", fb.awakeAtEnd));
    }
    char ho[16], hb[16];
    std::snprintf(ho, sizeof ho, "%08x", unsigned(o.first.hash));
    std::snprintf(hb, sizeof hb, "%08x", unsigned(b.first.hash));
    Row("final poses hash", std::string(ho) + (o.repeatable ? " (all runs)" : " (RUNS DIFFER)"),
        std::string(hb) + (b.repeatable ? " (all runs)" : " (RUNS DIFFER)"));
  }
  if (g_raysRan) {
    std::printf("\n10,000 rays against a terrain of 100,352 triangles\n");
    Row("", "ours", "Bullet", "ours / Bullet");
    Row("time per ray, us", Us(g_rays[0].us, 3), Us(g_rays[1].us, 3), Ratio(g_rayRatio));
    Row("hits", F("%.0f", g_rays[0].hits), F("%.0f", g_rays[1].hits));
  }
  if (!g_timers.empty()) std::printf("\nour engine's timers over the last pour run:\n%s", g_timers.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string loadBefore = LoadAverage();
  benchmark::Initialize(&argc, argv);
  for (int i = 0; i < int(Scenes().size()); ++i)
    benchmark::RegisterBenchmark(("Scene/" + std::to_string(i)).c_str(), BM_Scene, i)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Rays", BM_Rays)->Iterations(1)->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintTable(loadBefore);
  return 0;
}
