#include "tools/demodata/shapes.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

struct P3 {
    float x, y, z;
};

// Step i of n around a circle, the last step landing exactly on the first.
float Angle(int i, int n) { return 2 * kPi * (float)(i % n) / (float)n; }

// Smooth value noise in 0..1 on a lattice of whole numbers.
float Lattice(int x, int z, uint32_t seed)
{
    uint32_t h = (uint32_t)x * 374761393u + (uint32_t)z * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return (float)((h ^ (h >> 16)) & 0xFFFF) / 65535.0f;
}

float ValueNoise(float x, float z, uint32_t seed)
{
    const int x0 = (int)std::floor(x), z0 = (int)std::floor(z);
    float fx = x - x0, fz = z - z0;
    fx = fx * fx * (3 - 2 * fx);
    fz = fz * fz * (3 - 2 * fz);
    const float a = Lattice(x0, z0, seed), b = Lattice(x0 + 1, z0, seed);
    const float c = Lattice(x0, z0 + 1, seed), d = Lattice(x0 + 1, z0 + 1, seed);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fz;
}

// A surface of revolution around y: a profile of (radius, y) pairs from
// top to bottom, swept `segments` times; each band faces outwards (inwards
// when inside). Profile ends of radius 0 close the shape at a pole.
void Lathe(MeshBuilder* m, const std::vector<std::pair<float, float>>& profile, int segments, uint32_t surface,
           bool inside)
{
    const uint32_t rows = (uint32_t)profile.size();
    std::vector<uint32_t> index;
    for (uint32_t r = 0; r < rows; r++)
        for (int s = 0; s <= segments; s++) {
            // The seam's two columns lie at exactly one place (sin 2 pi is
            // not 0 in floats): only their texture coordinates differ.
            const float angle = Angle(s, segments);
            const float radius = profile[r].first;
            index.push_back(m->Point(radius * std::sin(angle), profile[r].second, radius * std::cos(angle),
                                     (float)s / (float)segments, 1.0f - (float)r / (float)(rows - 1)));
        }
    const uint32_t stride = (uint32_t)segments + 1;
    for (uint32_t r = 0; r + 1 < rows; r++)
        for (uint32_t s = 0; s < (uint32_t)segments; s++) {
            const uint32_t a = index[r * stride + s], b = index[r * stride + s + 1];
            const uint32_t c = index[(r + 1) * stride + s + 1], d = index[(r + 1) * stride + s];
            // Seen from outside, the angle runs to the left along a row.
            const bool topPole = profile[r].first == 0, bottomPole = profile[r + 1].first == 0;
            if (inside) {
                if (!topPole) m->Triangle(a, b, c, surface);
                if (!bottomPole) m->Triangle(a, c, d, surface);
            } else {
                if (!topPole) m->Triangle(a, c, b, surface);
                if (!bottomPole) m->Triangle(a, d, c, surface);
            }
        }
}

void Disc(MeshBuilder* m, float radius, float y, int segments, uint32_t surface, bool up)
{
    const uint32_t centre = m->Point(0, y, 0, 0.5f, 0.5f);
    std::vector<uint32_t> rim;
    for (int s = 0; s <= segments; s++) {
        const float angle = Angle(s, segments);
        rim.push_back(m->Point(radius * std::sin(angle), y, radius * std::cos(angle), 0.5f + 0.5f * std::sin(angle),
                               0.5f + 0.5f * std::cos(angle)));
    }
    for (int s = 0; s < segments; s++) {
        if (up) m->Triangle(centre, rim[(size_t)s], rim[(size_t)s + 1], surface);
        else m->Triangle(centre, rim[(size_t)s + 1], rim[(size_t)s], surface);
    }
}

// Exchanges two axes of every point (turning a part built along y onto
// another axis). The exchange mirrors the shape, so every triangle is
// turned round to keep facing out.
void SwapAxes(MeshBuilder* m, int a, int b)
{
    for (size_t i = 0; i < m->points.size(); i += 3) std::swap(m->points[i + (size_t)a], m->points[i + (size_t)b]);
    for (MeshBuilder::Face& t : m->triangles) std::swap(t.b, t.c);
}

// A square grid of cells x cells over sizeX by sizeZ (centred), each point
// at the height the function gives, facing up.
template <typename HeightFn>
void Grid(MeshBuilder* m, float sizeX, float sizeZ, int cells, uint32_t surface, float tile, HeightFn height)
{
    std::vector<uint32_t> index;
    for (int j = 0; j <= cells; j++)
        for (int i = 0; i <= cells; i++) {
            const float x = -sizeX / 2 + sizeX * (float)i / (float)cells;
            const float z = -sizeZ / 2 + sizeZ * (float)j / (float)cells;
            index.push_back(m->Point(x, height(x, z), z, (x + sizeX / 2) * tile, (z + sizeZ / 2) * tile));
        }
    const uint32_t row = (uint32_t)cells + 1;
    for (uint32_t j = 0; j < (uint32_t)cells; j++)
        for (uint32_t i = 0; i < (uint32_t)cells; i++)
            m->Quad(index[j * row + i], index[(j + 1) * row + i], index[(j + 1) * row + i + 1], index[j * row + i + 1],
                    surface);
}

void Offset(ShapePart* part, float x, float y, float z)
{
    part->joint[0] = x;
    part->joint[1] = y;
    part->joint[2] = z;
}

}  // namespace

uint32_t MeshBuilder::Surface(const ShapeSurface& surface)
{
    for (size_t i = 0; i < surfaces.size(); i++)
        if (surfaces[i].name == surface.name) return (uint32_t)i;
    surfaces.push_back(surface);
    return (uint32_t)surfaces.size() - 1;
}

uint32_t MeshBuilder::Point(float x, float y, float z, float u, float v)
{
    points.insert(points.end(), {x + origin[0], y + origin[1], z + origin[2]});
    uvs.insert(uvs.end(), {u, v});
    return (uint32_t)(points.size() / 3 - 1);
}

void MeshBuilder::Triangle(uint32_t a, uint32_t b, uint32_t c, uint32_t surface)
{
    triangles.push_back({a, b, c, surface});
}

void MeshBuilder::Quad(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t surface)
{
    Triangle(a, b, c, surface);
    Triangle(a, c, d, surface);
}

void Shape_Box(MeshBuilder* m, const float lo[3], const float hi[3], uint32_t surface, float tile)
{
    // Each face: its four corners clockwise seen from outside, and the two
    // axes its texture runs along.
    struct Face {
        int corners[4];  // bit 0 x, bit 1 y, bit 2 z: 1 = hi
        int uAxis, vAxis;
    };
    static const Face kFaces[6] = {
        {{2, 6, 7, 3}, 0, 2},  // top (+y)
        {{4, 0, 1, 5}, 0, 2},  // bottom (-y)
        {{5, 7, 6, 4}, 0, 1},  // front (+z)
        {{0, 2, 3, 1}, 0, 1},  // back (-z)
        {{1, 3, 7, 5}, 2, 1},  // right (+x)
        {{4, 6, 2, 0}, 2, 1},  // left (-x)
    };
    for (const Face& f : kFaces) {
        uint32_t index[4];
        for (int k = 0; k < 4; k++) {
            const int c = f.corners[k];
            const float p[3] = {c & 1 ? hi[0] : lo[0], c & 2 ? hi[1] : lo[1], c & 4 ? hi[2] : lo[2]};
            index[k] = m->Point(p[0], p[1], p[2], p[f.uAxis] * tile, p[f.vAxis] * tile);
        }
        m->Quad(index[0], index[1], index[2], index[3], surface);
    }
}

void Shape_Ramp(MeshBuilder* m, float width, float height, float length, uint32_t surface, float tile)
{
    const float x0 = -width / 2, x1 = width / 2;
    const float slope = std::sqrt(height * height + length * length);
    // The sloped top.
    uint32_t a = m->Point(x0, 0, 0, 0, 0), b = m->Point(x0, height, length, 0, slope * tile);
    uint32_t c = m->Point(x1, height, length, width * tile, slope * tile), d = m->Point(x1, 0, 0, width * tile, 0);
    m->Quad(a, b, c, d, surface);
    // Underneath.
    a = m->Point(x0, 0, 0, 0, 0), b = m->Point(x1, 0, 0, width * tile, 0);
    c = m->Point(x1, 0, length, width * tile, length * tile), d = m->Point(x0, 0, length, 0, length * tile);
    m->Quad(a, b, c, d, surface);
    // The back wall.
    a = m->Point(x0, 0, length, 0, 0), b = m->Point(x1, 0, length, width * tile, 0);
    c = m->Point(x1, height, length, width * tile, height * tile), d = m->Point(x0, height, length, 0, height * tile);
    m->Quad(a, b, c, d, surface);
    // The two sides.
    a = m->Point(x0, 0, 0, 0, 0), b = m->Point(x0, 0, length, length * tile, 0);
    c = m->Point(x0, height, length, length * tile, height * tile);
    m->Triangle(a, b, c, surface);
    a = m->Point(x1, 0, 0, 0, 0), b = m->Point(x1, height, length, length * tile, height * tile);
    c = m->Point(x1, 0, length, length * tile, 0);
    m->Triangle(a, b, c, surface);
}

void Shape_Card(MeshBuilder* m, float width, float height, uint32_t surface)
{
    const float x0 = -width / 2, x1 = width / 2;
    const uint32_t a = m->Point(x0, 0, 0, 0, 0), b = m->Point(x0, height, 0, 0, 1);
    const uint32_t c = m->Point(x1, height, 0, 1, 1), d = m->Point(x1, 0, 0, 1, 0);
    m->Quad(a, b, c, d, surface);
}

void Shape_Plane(MeshBuilder* m, float sizeX, float sizeZ, int cells, uint32_t surface, float tile)
{
    Grid(m, sizeX, sizeZ, cells, surface, tile, [](float, float) { return 0.0f; });
}

void Shape_Bowl(MeshBuilder* m, float radius, float depth, int segments, int rings, uint32_t surface)
{
    // A spherical cap: the rim at y = 0, the bottom `depth` below.
    std::vector<std::pair<float, float>> profile;
    for (int r = 0; r <= rings; r++) {
        const float t = (float)r / (float)rings;  // 0 rim .. 1 bottom
        const float angle = t * kPi / 2;
        profile.emplace_back(radius * std::cos(angle), -depth * std::sin(angle));
    }
    profile.back().first = 0;
    Lathe(m, profile, segments, surface, true);
}

void Shape_TrackLoop(MeshBuilder* m, float radius, float width, int segments, float bank, uint32_t surface, float tile)
{
    const float inner = radius - width / 2, outer = radius + width / 2;
    // The texture runs along the road a whole number of times round the
    // loop, so that its stripes go on across the closing segment. The last
    // points lie on the first but carry the full count: taken from the
    // wrapped angle their 0 squeezed every repeat into that one segment.
    const float repeats = std::max(1.0f, std::round(2 * kPi * radius * tile));
    std::vector<uint32_t> in, out;
    for (int s = 0; s <= segments; s++) {
        const float angle = Angle(s, segments);
        const float along = repeats * (float)s / (float)segments;
        in.push_back(m->Point(inner * std::sin(angle), 0, inner * std::cos(angle), 0, along));
        out.push_back(m->Point(outer * std::sin(angle), bank, outer * std::cos(angle), width * tile, along));
    }
    for (int s = 0; s < segments; s++)
        m->Quad(in[(size_t)s], out[(size_t)s], out[(size_t)s + 1], in[(size_t)s + 1], surface);
}

void Shape_Ring(MeshBuilder* m, float radius, float thickness, int segments, int sides, uint32_t surface)
{
    std::vector<uint32_t> index;
    for (int s = 0; s <= segments; s++) {
        const float a = Angle(s, segments);  // around the ring, in the xy plane
        for (int k = 0; k <= sides; k++) {
            const float b = Angle(k, sides);  // around the tube
            const float r = radius + thickness * std::cos(b);
            index.push_back(m->Point(r * std::cos(a), r * std::sin(a), thickness * std::sin(b),
                                     (float)s / (float)segments, (float)k / (float)sides));
        }
    }
    const uint32_t row = (uint32_t)sides + 1;
    for (uint32_t s = 0; s < (uint32_t)segments; s++)
        for (uint32_t k = 0; k < (uint32_t)sides; k++)
            m->Quad(index[s * row + k], index[(s + 1) * row + k], index[(s + 1) * row + k + 1], index[s * row + k + 1],
                    surface);
}

void Shape_Terrain(MeshBuilder* m, float size, int cells, float height, uint32_t seed, uint32_t surface, float tile)
{
    // Two octaves over lumps about a quarter of the patch wide.
    const float f = 4.0f / size;
    Grid(m, size, size, cells, surface, tile, [&](float x, float z) {
        return height *
               (0.7f * ValueNoise(x * f, z * f, seed) + 0.3f * ValueNoise(x * f * 2.5f, z * f * 2.5f, seed + 1));
    });
}

void Shape_Cylinder(MeshBuilder* m, float radius, float y0, float y1, int segments, uint32_t surface)
{
    Lathe(m, {{radius, y1}, {radius, y0}}, segments, surface, false);
    Disc(m, radius, y1, segments, surface, true);
    Disc(m, radius, y0, segments, surface, false);
}

void Shape_Capsule(MeshBuilder* m, float radius, float y0, float y1, int segments, uint32_t surface)
{
    const int cap = std::max(2, segments / 4);
    std::vector<std::pair<float, float>> profile;
    for (int r = 0; r <= cap; r++) {
        const float angle = kPi / 2 * (float)r / (float)cap;  // top pole down to the equator
        profile.emplace_back(radius * std::sin(angle), y1 + radius * std::cos(angle));
    }
    for (int r = 0; r <= cap; r++) {
        const float angle = kPi / 2 * (float)r / (float)cap;
        profile.emplace_back(radius * std::cos(angle), y0 - radius * std::sin(angle));
    }
    profile.front().first = 0;
    profile.back().first = 0;
    Lathe(m, profile, segments, surface, false);
}

void Shape_Sphere(MeshBuilder* m, float radius, int segments, int rings, uint32_t surface)
{
    std::vector<std::pair<float, float>> profile;
    for (int r = 0; r <= rings; r++) {
        const float angle = kPi * (float)r / (float)rings;
        profile.emplace_back(radius * std::sin(angle), radius * std::cos(angle));
    }
    profile.front().first = 0;
    profile.back().first = 0;
    Lathe(m, profile, segments, surface, false);
}

void Shape_Cone(MeshBuilder* m, float radius, float y0, float y1, int segments, uint32_t surface)
{
    Lathe(m, {{0, y1}, {radius, y0}}, segments, surface, false);
    Disc(m, radius, y0, segments, surface, false);
}

std::vector<ShapePart> Shape_Character(float height, const ShapeSurface& skin, const ShapeSurface& clothes, bool boxy)
{
    // Proportions of a 1-metre figure, scaled by height.
    const float s = height;
    std::vector<ShapePart> parts(6);
    const char* names[6] = {"Body", "Head", "ArmL", "ArmR", "LegL", "LegR"};
    for (int i = 0; i < 6; i++) parts[(size_t)i].name = names[i];
    // Body: the root, its joint at the hips (0.48 up), the trunk above.
    ShapePart& body = parts[0];
    Offset(&body, 0, 0.48f * s, 0);
    const float trunkLo[3] = {-0.14f * s, 0, -0.08f * s}, trunkHi[3] = {0.14f * s, 0.34f * s, 0.08f * s};
    Shape_Box(&body.mesh, trunkLo, trunkHi, body.mesh.Surface(clothes), 1.0f);
    // Head on the neck, above the trunk.
    ShapePart& head = parts[1];
    head.parent = 0;
    Offset(&head, 0, 0.36f * s, 0);
    const uint32_t face = head.mesh.Surface(skin);
    if (boxy) {
        const float lo[3] = {-0.08f * s, 0, -0.08f * s}, hi[3] = {0.08f * s, 0.16f * s, 0.08f * s};
        Shape_Box(&head.mesh, lo, hi, face, 1.0f);
    } else {
        head.mesh.origin[1] = 0.08f * s;
        Shape_Sphere(&head.mesh, 0.08f * s, 12, 8, face);
    }
    // Limbs hang from their joints (shoulders, hips) down the -y axis.
    struct Limb {
        int index;
        float x, y, length, radius;
        bool skinned;
    } limbs[4] = {{2, -0.19f, 0.32f, 0.3f, 0.04f, true},
                  {3, 0.19f, 0.32f, 0.3f, 0.04f, true},
                  {4, -0.07f, 0.0f, 0.48f, 0.055f, false},
                  {5, 0.07f, 0.0f, 0.48f, 0.055f, false}};
    for (const Limb& l : limbs) {
        ShapePart& part = parts[(size_t)l.index];
        part.parent = 0;
        Offset(&part, l.x * s, l.y * s, 0);
        const uint32_t surface = part.mesh.Surface(l.skinned ? skin : clothes);
        const float r = l.radius * s, length = l.length * s;
        if (boxy) {
            const float lo[3] = {-r, -length, -r}, hi[3] = {r, 0, r};
            Shape_Box(&part.mesh, lo, hi, surface, 1.0f);
        } else {
            Shape_Capsule(&part.mesh, r, -length + r, -r, 10, surface);
        }
    }
    return parts;
}

std::vector<ShapePart> Shape_Kart(const ShapeSurface& bodySurface, const ShapeSurface& wheelSurface)
{
    std::vector<ShapePart> parts(5);
    ShapePart& body = parts[0];
    body.name = "Body";
    Offset(&body, 0, 0.25f, 0);
    const uint32_t paint = body.mesh.Surface(bodySurface);
    const float chassisLo[3] = {-0.45f, -0.1f, -0.8f}, chassisHi[3] = {0.45f, 0.05f, 0.8f};
    Shape_Box(&body.mesh, chassisLo, chassisHi, paint, 1.0f);
    const float seatLo[3] = {-0.25f, 0.05f, -0.5f}, seatHi[3] = {0.25f, 0.35f, -0.2f};
    Shape_Box(&body.mesh, seatLo, seatHi, paint, 1.0f);
    const float noseLo[3] = {-0.3f, 0.05f, 0.45f}, noseHi[3] = {0.3f, 0.15f, 0.8f};
    Shape_Box(&body.mesh, noseLo, noseHi, paint, 1.0f);
    const float wheels[4][2] = {{-0.5f, 0.55f}, {0.5f, 0.55f}, {-0.5f, -0.55f}, {0.5f, -0.55f}};
    for (int w = 0; w < 4; w++) {
        ShapePart& wheel = parts[(size_t)w + 1];
        wheel.name = "Wheel" + std::to_string(w);
        wheel.parent = 0;
        Offset(&wheel, wheels[w][0], -0.07f, wheels[w][1]);
        // A wheel is a short cylinder turned onto the x axis.
        Shape_Cylinder(&wheel.mesh, 0.18f, -0.07f, 0.07f, 14, wheel.mesh.Surface(wheelSurface));
        SwapAxes(&wheel.mesh, 0, 1);
    }
    return parts;
}

std::vector<ShapePart> Shape_Broom(const ShapeSurface& handleSurface, const ShapeSurface& bristleSurface)
{
    std::vector<ShapePart> parts(2);
    ShapePart& handle = parts[0];
    handle.name = "Handle";
    // Built along y, then laid along z.
    Shape_Cylinder(&handle.mesh, 0.025f, -0.7f, 0.7f, 8, handle.mesh.Surface(handleSurface));
    SwapAxes(&handle.mesh, 1, 2);
    ShapePart& bristles = parts[1];
    bristles.name = "Bristles";
    bristles.parent = 0;
    Offset(&bristles, 0, 0, -0.7f);
    Shape_Cone(&bristles.mesh, 0.12f, -0.45f, 0.05f, 10, bristles.mesh.Surface(bristleSurface));
    SwapAxes(&bristles.mesh, 1, 2);
    return parts;
}

MeshBuilder Shape_Merge(const std::vector<ShapePart>& parts)
{
    MeshBuilder merged;
    std::vector<P3> places(parts.size());
    for (size_t i = 0; i < parts.size(); i++) {
        const ShapePart& part = parts[i];
        P3 at = {part.joint[0], part.joint[1], part.joint[2]};
        if (part.parent >= 0) {
            const P3& up = places[(size_t)part.parent];
            at = {at.x + up.x, at.y + up.y, at.z + up.z};
        }
        places[i] = at;
        std::vector<uint32_t> surfaceOf;
        for (const ShapeSurface& s : part.mesh.surfaces) surfaceOf.push_back(merged.Surface(s));
        const uint32_t base = (uint32_t)(merged.points.size() / 3);
        for (size_t p = 0; p < part.mesh.points.size(); p += 3)
            merged.Point(part.mesh.points[p] + at.x, part.mesh.points[p + 1] + at.y, part.mesh.points[p + 2] + at.z,
                         part.mesh.uvs[p / 3 * 2], part.mesh.uvs[p / 3 * 2 + 1]);
        for (const MeshBuilder::Face& t : part.mesh.triangles)
            merged.Triangle(t.a + base, t.b + base, t.c + base, surfaceOf[t.surface]);
    }
    return merged;
}

LwoWriterObject Shape_ToObject(const MeshBuilder& mesh)
{
    LwoWriterObject object;
    LwoWriterLayer layer;
    layer.number = 0;
    layer.points = mesh.points;
    LwoWriterVertexMap uv;
    uv.type = "TXUV";
    uv.dimension = 2;
    uv.name = "UV";
    for (uint32_t p = 0; p < mesh.points.size() / 3; p++)
        uv.entries.push_back({p, -1, {mesh.uvs[p * 2], mesh.uvs[p * 2 + 1]}});
    layer.maps.push_back(uv);
    for (const MeshBuilder::Face& t : mesh.triangles) layer.polygons.push_back({{t.a, t.b, t.c}, t.surface});
    object.layers.push_back(layer);
    for (const ShapeSurface& s : mesh.surfaces) {
        object.tags.push_back(s.name);
        LwoWriterSurface surface;
        surface.name = s.name;
        for (int k = 0; k < 3; k++) surface.colour[k] = s.colour[k];
        surface.sides = s.twoSided ? 3 : 1;
        surface.smoothingAngle = s.smoothing * std::numbers::pi_v<float> / 180.0f;
        if (!s.texture.empty() || s.sequenceLast >= s.sequenceFirst) {
            LwoWriterClip clip;
            clip.still = s.texture;
            if (s.texture.empty()) {
                clip.prefix = s.sequencePrefix;
                clip.suffix = s.sequenceSuffix;
                clip.digits = (uint8_t)s.sequenceDigits;
                clip.first = (int16_t)s.sequenceFirst;
                clip.last = (int16_t)s.sequenceLast;
            }
            object.clips.push_back(clip);
            LwoWriterBlock block;
            block.clip = (uint32_t)object.clips.size();
            block.uvMap = "UV";
            surface.blocks.push_back(block);
        }
        object.surfaces.push_back(surface);
    }
    return object;
}
