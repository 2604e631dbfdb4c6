// The physics benchmark's own scenes, beside the tests' recipes it shares
// (tests/physics/dynamics/dyn_scene_recipes.h): a pour of spheres and hulls
// into a triangle-mesh bowl, a wall of bricks struck by a heavy ball,
// jointed figures piling on a mesh ground, and a terrain for the rays.
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

#include "physics/collision/convex_hull.h"
#include "tests/physics/dynamics/dyn_scene_recipes.h"

// Deterministic pseudo-random numbers in [0, 1).
struct SceneRng {
  uint32_t s = 12345;
  float Next() {
    s = s * 1664525u + 1013904223u;
    return float(s >> 8) / float(1 << 24);
  }
};

// A pyramid of unit boxes on the ground box: `rows` boxes at the bottom, one
// less in each row above, each row resting on the joints of the one below;
// boxes of a row 2 cm apart.
inline SceneRecipe Recipe_Pyramid(int rows)
{
    SceneRecipe r;
    Recipe_AddGroundBox(&r);
    const float pitch = 1.02f;
    for (int row = 0; row < rows; ++row) {
        int n = rows - row;
        for (int i = 0; i < n; ++i)
            r.bodies.push_back(Recipe_UnitBox(V3((float(i) - 0.5f * float(n - 1)) * pitch, 0.5f + float(row), 0)));
    }
    return r;
}

// A fixed mesh body at the origin as the recipe's first body.
inline void Recipe_AddMesh(SceneRecipe* r, SceneMesh mesh) {
  r->meshes.push_back(std::move(mesh));
  SceneBody b;
  b.kind = SceneBody::kMesh;
  b.mesh = int(r->meshes.size()) - 1;
  r->bodies.push_back(b);
}

// What the benchmark's scenes add to a recipe: point-to-point joints (the
// two bodies of a joint do not collide) and a body kept out of the world
// until a later step, when it is put in at its recipe pose with a velocity.
struct ScenePointJoint {
  int a, b;
  Vec3 pivot;  // world, as the bodies stand in the recipe (unrotated)
};

struct BenchRecipe {
  SceneRecipe scene;
  std::vector<ScenePointJoint> joints;
  int launchBody = -1;
  int launchStep = 0;
  Vec3 launchVelocity{0, 0, 0};
  BenchRecipe() = default;
  BenchRecipe(SceneRecipe r) : scene(std::move(r)) {}  // NOLINT: a plain recipe is a bench recipe
};

// ------------------------------------------------------------------ The bowl

// A paraboloid y = 0.05 (x^2 + z^2) over [-10, 10]^2 on a 100 x 100 grid:
// 20,000 triangles.
constexpr int kBowlCells = 100;
constexpr float kBowlHalf = 10.0f;
inline float Bowl_Height(float x, float z) { return 0.05f * (x * x + z * z); }

// Corner (i, j) of the bowl's grid.
inline Vec3 Bowl_Vertex(int i, int j) {
  float x = -kBowlHalf + 2 * kBowlHalf * float(i) / kBowlCells;
  float z = -kBowlHalf + 2 * kBowlHalf * float(j) / kBowlCells;
  return V3(x, Bowl_Height(x, z), z);
}

inline SceneMesh Bowl_Mesh() { return Grid_Mesh(kBowlCells, kBowlHalf, Bowl_Height); }


// Centroid-centred vertices of qhull's hull of `count` random points in a
// box of the given size, or none when the points are degenerate.
inline std::vector<Vec3> Recipe_RandomHull(SceneRng* rng, int count, Vec3 size) {
  std::vector<float> pts;
  for (int k = 0; k < count; ++k)
    pts.insert(pts.end(), {(rng->Next() - 0.5f) * size.x, (rng->Next() - 0.5f) * size.y,
                           (rng->Next() - 0.5f) * size.z, 0.0f});
  const float params[4] = {0.001f, 0.01f, 0.02f, 0.992f};
  ConvexHull* hull = ConvexHull_Build(pts.data(), count, params, 0.01f);
  std::vector<Vec3> out;
  if (!hull) return out;
  for (const Vec3& v : hull->vertices) out.push_back(v - hull->centroid);
  CollisionShape_Release(hull);
  return out;
}

// Spheres and hulls of mass 1 in layers of 10 x 10 above the bowl, 1 m
// apart, starting 6 m up; the hulls spread evenly through the layers.
// Sphere radii 0.2 to 0.3; hulls of 12 random points in 0.7 x 0.5 x 0.7.
inline SceneRecipe Recipe_Pour(int spheres, int hulls) {
  SceneRecipe r;
  Recipe_AddMesh(&r, Bowl_Mesh());
  SceneRng rng;
  int total = spheres + hulls;
  for (int n = 0; n < total; ++n) {
    SceneBody d;
    bool hull = (n + 1) * hulls / total > n * hulls / total;
    int layer = n / 100, cell = n % 100;
    d.position = V3(-4.5f + float(cell % 10) + 0.2f * rng.Next(), 6.0f + 1.0f * float(layer),
                    -4.5f + float(cell / 10) + 0.2f * rng.Next());
    d.mass = 1.0f;
    if (hull) {
      d.kind = SceneBody::kHull;
      d.points = Recipe_RandomHull(&rng, 12, V3(0.7f, 0.5f, 0.7f));
    }
    if (d.points.empty()) {
      d.kind = SceneBody::kSphere;
      d.radius = 0.2f + 0.1f * rng.Next();
    }
    r.bodies.push_back(d);
  }
  return r;
}

// Terrain over [-50, 50]^2 on a 224 x 224 grid (100,352 triangles): long
// shallow slopes with waves, a cliff of 8 m over about 2 m and a steep ridge.
constexpr int kTerrainCells = 224;
constexpr float kTerrainHalf = 50.0f;
inline float Terrain_Height(float x, float z) {
  float h = 0.03f * x + 0.01f * z + 0.6f * std::sin(x * 0.13f) * std::cos(z * 0.11f);
  h += 8.0f / (1.0f + std::exp(-2.0f * (x - 15.0f)));        // the cliff
  float ridge = std::fabs(z + 20.0f);
  if (ridge < 4.0f) h += 3.0f * (4.0f - ridge);              // the ridge
  return h;
}

inline SceneMesh Terrain_Mesh() { return Grid_Mesh(kTerrainCells, kTerrainHalf, Terrain_Height); }

// ------------------------------------------------------------------ The wall

// Bricks of 0.3 x 0.2 x 0.6 m and 10 kg on a ground box, in 10 rows along
// z: 20 bricks in the even rows, 19 over their joints in the odd ones (195
// in all), 1 cm apart in a row. A 30 kg ball of radius 0.4 m is launched at
// 14 m/s into the wall's face, 1 m up, after 1.5 s (when a wall that can
// sleep is asleep).
constexpr int kWallRows = 10;
constexpr float kBrickPitch = 0.61f;
inline BenchRecipe Recipe_Wall() {
  BenchRecipe r;
  SceneBody ground;  // as the tests' ground box, but wide enough for the ball to roll out on
  ground.kind = SceneBody::kBox;
  ground.half = V3(60.0f, 0.5f, 60.0f);
  ground.position = V3(0, -0.5f, 0);
  r.scene.bodies.push_back(ground);
  for (int row = 0; row < kWallRows; ++row) {
    int n = row % 2 ? 19 : 20;
    for (int i = 0; i < n; ++i) {
      SceneBody b;
      b.kind = SceneBody::kBox;
      b.half = V3(0.15f, 0.1f, 0.3f);
      b.mass = 10.0f;
      b.position = V3(0, 0.1f + 0.2f * float(row), (float(i) - 0.5f * float(n - 1)) * kBrickPitch);
      r.scene.bodies.push_back(b);
    }
  }
  SceneBody ball;
  ball.kind = SceneBody::kSphere;
  ball.radius = 0.4f;
  ball.mass = 30.0f;
  ball.position = V3(-1.2f, 1.0f, 0.3f);
  r.scene.bodies.push_back(ball);
  r.launchBody = int(r.scene.bodies.size()) - 1;
  r.launchStep = 90;
  r.launchVelocity = V3(14.0f, 0, 0);
  return r;
}

// --------------------------------------------------------------- The figures

// Gentle waves over [-10, 10]^2 on a 40 x 40 grid (3,200 triangles).
inline float Waves_Height(float x, float z) { return 0.15f * std::sin(0.9f * x) * std::cos(0.7f * z); }

// A figure of 10 boxes lying flat, head towards +x (or +z when `alongZ`),
// its torso's centre at `at`: torso, head, upper and lower arms at its
// sides, thighs and shins below it, joined at neck, shoulders, elbows, hips
// and knees by point-to-point joints (1 cm gaps between the boxes).
inline void Recipe_AddFigure(BenchRecipe* r, Vec3 at, bool alongZ) {
  struct Part {
    float x, z, hx, hy, hz, mass;
    int parent;    // -1: none (the torso)
    float pivotX;  // the joint to the parent, on the figure's axis offset by z
  };
  const Part parts[10] = {
      {0.0f, 0.0f, 0.25f, 0.1f, 0.15f, 20.0f, -1, 0.0f},    // torso
      {0.37f, 0.0f, 0.1f, 0.1f, 0.1f, 5.0f, 0, 0.26f},      // head
      {0.08f, 0.21f, 0.14f, 0.05f, 0.05f, 3.0f, 0, 0.22f},  // upper arms
      {0.08f, -0.21f, 0.14f, 0.05f, 0.05f, 3.0f, 0, 0.22f},
      {-0.2f, 0.21f, 0.13f, 0.045f, 0.045f, 2.0f, 2, -0.065f},  // forearms
      {-0.2f, -0.21f, 0.13f, 0.045f, 0.045f, 2.0f, 3, -0.065f},
      {-0.46f, 0.08f, 0.2f, 0.07f, 0.07f, 8.0f, 0, -0.255f},  // thighs
      {-0.46f, -0.08f, 0.2f, 0.07f, 0.07f, 8.0f, 0, -0.255f},
      {-0.87f, 0.08f, 0.2f, 0.06f, 0.06f, 5.0f, 6, -0.665f},  // shins
      {-0.87f, -0.08f, 0.2f, 0.06f, 0.06f, 5.0f, 7, -0.665f},
  };
  auto place = [&](float x, float z) { return alongZ ? at + V3(z, 0, x) : at + V3(x, 0, z); };
  int first = int(r->scene.bodies.size());
  for (const Part& p : parts) {
    SceneBody b;
    b.kind = SceneBody::kBox;
    b.half = alongZ ? V3(p.hz, p.hy, p.hx) : V3(p.hx, p.hy, p.hz);
    b.mass = p.mass;
    b.position = place(p.x, p.z);
    r->scene.bodies.push_back(b);
    if (p.parent >= 0) r->joints.push_back({int(r->scene.bodies.size()) - 1, first + p.parent, place(p.pivotX, p.z)});
  }
}

// Twelve figures dropped in three piles of four on the waves, each lying
// across the one below.
inline BenchRecipe Recipe_Figures() {
  BenchRecipe r;
  Recipe_AddMesh(&r.scene, Grid_Mesh(40, 10.0f, Waves_Height));
  const Vec3 piles[3] = {V3(-1.2f, 0, -0.8f), V3(1.0f, 0, -0.5f), V3(0, 0, 1.2f)};
  for (int k = 0; k < 12; ++k) {
    int pile = k % 3, level = k / 3;
    Recipe_AddFigure(&r, piles[pile] + V3(0, 1.0f + 0.7f * float(level), 0), (pile + level) % 2 == 1);
  }
  return r;
}
