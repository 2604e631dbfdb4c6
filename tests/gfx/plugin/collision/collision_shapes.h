// Meshes for the collision tests and benchmark: seeded random triangle
// soups inside a box, as plain arrays.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "gfx/world/geometry.h"

namespace collisionshapes {

struct Soup {
    std::vector<Vec3> positions;
    std::vector<Triangle> triangles;
};

// n triangles of side about `size` scattered in a cube of side `extent`
// centred on the origin; each triangle has its own three vertices.
inline Soup RandomSoup(int32_t n, uint32_t seed, float extent = 20, float size = 1.5f)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> place(-extent / 2, extent / 2), spread(-size, size);
    Soup s;
    for (int32_t i = 0; i < n; i++) {
        const Vec3 c = {place(rng), place(rng), place(rng)};
        for (int k = 0; k < 3; k++)
            s.positions.push_back(Vec3{c.x + spread(rng), c.y + spread(rng), c.z + spread(rng)});
        Triangle t = {};
        t.vertIndex[0] = (uint16_t)(3 * i), t.vertIndex[1] = (uint16_t)(3 * i + 1),
        t.vertIndex[2] = (uint16_t)(3 * i + 2);
        s.triangles.push_back(t);
    }
    return s;
}

// The soup as a geometry with one morph target and every triangle on
// material (may be null). The caller owns it.
inline Geometry* ToGeometry(const Soup& s, Material* material)
{
    Geometry* g = Geometry_Create((int32_t)s.positions.size(), (int32_t)s.triangles.size(), GEOMETRY_POSITIONS);
    for (size_t i = 0; i < s.positions.size(); i++) g->morphTarget[0].verts[i] = s.positions[i];
    for (size_t i = 0; i < s.triangles.size(); i++) {
        const Triangle& t = s.triangles[i];
        Geometry_SetTriangleVertexIndices(g, &g->triangles[i], t.vertIndex[0], t.vertIndex[1], t.vertIndex[2]);
        Geometry_SetTriangleMaterial(g, &g->triangles[i], material);
    }
    MorphTarget_CalcBoundingSphere(&g->morphTarget[0], &g->morphTarget[0].boundingSphere);
    Geometry_Unlock(g);
    return g;
}

}  // namespace collisionshapes
