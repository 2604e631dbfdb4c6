// The physics benchmark's own scenes, beside the tests' recipes it shares
// (tests/physics/dynamics/dyn_scene_recipes.h): a pour of spheres and hulls
// into a triangle-mesh bowl, and a terrain for the rays.
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
