// Scenes of the physics tests and the physics benchmark, as plain
// descriptions: the tests build them with DynTestScene::Build, the benchmark
// builds the same description in this engine and in Bullet, so both engines
// and the tests run one scene. The benchmark's own scenes (a pyramid, a
// pour into a bowl, a terrain) are in bench/physics/bench_scenes.h.
#pragma once
#include <vector>

#include "physics/base/phys_math.h"
#include "tests/physics/collision/collision_test_shapes.h"

// One body. Hull points are given about the body origin, which is the
// hull's centroid (so that both engines put the centre of mass there).
struct SceneBody {
  enum Kind { kSphere, kBox, kHull, kMesh } kind = kSphere;
  float radius = 0.0f;       // kSphere
  Vec3 half{0, 0, 0};        // kBox: half extents
  std::vector<Vec3> points;  // kHull
  int mesh = -1;             // kMesh: index into SceneRecipe::meshes
  float mass = 0.0f;         // 0: fixed
  Vec3 position{0, 0, 0};
  Quat rotation{0, 0, 0, 1};
};

// A hinge between bodies a and b (b -1: the world) through a world pivot
// about a world axis, both as the bodies stand in the recipe.
struct SceneHinge {
  int a, b;
  Vec3 pivot;
  Vec3 axis;
};

struct SceneRecipe {
  std::vector<SceneMesh> meshes;
  std::vector<SceneBody> bodies;
  std::vector<SceneHinge> hinges;  // the two bodies of a hinge do not collide
};

// A box body (mass 0: fixed).
inline SceneBody Recipe_Box(Vec3 half, float mass, Vec3 position) {
  SceneBody b;
  b.kind = SceneBody::kBox, b.half = half, b.mass = mass, b.position = position;
  return b;
}
// A fixed box of half extents (20, 0.5, 20) whose top is the plane y = 0.
inline void Recipe_AddGroundBox(SceneRecipe* r) { r->bodies.push_back(Recipe_Box(V3(20, 0.5f, 20), 0, V3(0, -0.5f, 0))); }
inline SceneBody Recipe_UnitBox(Vec3 position) { return Recipe_Box(V3(0.5f, 0.5f, 0.5f), 1.0f, position); }

// A column of unit boxes of mass 1 standing on the ground box, each resting
// on the one below.
inline SceneRecipe Recipe_Column(int boxes) {
  SceneRecipe r;
  Recipe_AddGroundBox(&r);
  for (int k = 0; k < boxes; ++k) r.bodies.push_back(Recipe_UnitBox(V3(0, 0.5f + float(k), 0)));
  return r;
}

// A chain of `links` bars (0.5 x 0.125 x 0.125 m, mass 1) laid out
// horizontally along +x from a world pivot 12 m up, hinged end to end about
// z, so that it swings down in the x-y plane.
inline SceneRecipe Recipe_Chain(int links) {
  SceneRecipe r;
  const Vec3 top{0, 12, 0};
  for (int k = 0; k < links; ++k) {
    r.bodies.push_back(Recipe_Box(V3(0.25f, 0.0625f, 0.0625f), 1.0f, top + V3(0.25f + 0.5f * float(k), 0, 0)));
    r.hinges.push_back({k, k - 1, top + V3(0.5f * float(k), 0, 0), V3(0, 0, 1)});
  }
  return r;
}

