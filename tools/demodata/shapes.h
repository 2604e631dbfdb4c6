// Procedural geometry of the demo data: triangle meshes built from simple
// parts (boxes, picture cards, ramps, bowls, loops of track, rings, terrain patches,
// cylinders, capsules, spheres) and the composite models made of them
// (jointed characters, karts, a broom), written as LightWave objects.
//
// Coordinates are the game's: y up, lengths in metres. Triangles are wound
// so that cross(b - a, c - b) points out of the solid (clockwise seen from
// the front, as LightWave has it); open shapes (planes, bowls, track) face
// up or inwards, and their surfaces may be made two-sided. Every point
// carries a texture coordinate (the "UV" map, v up); parts tile their
// texture `tile` times per metre (boxes, planes, terrain, track) or once
// around (round parts).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/lib/lwowrite.h"

struct ShapeSurface {
    std::string name;
    float colour[3] = {0.8f, 0.8f, 0.8f};
    std::string texture;  // picture file beside the object, "" none
    // Or a sequence of pictures (frames first..last), each named prefix,
    // the frame's number in `digits` figures, suffix: a texture sequence.
    std::string sequencePrefix, sequenceSuffix;
    int sequenceDigits = 0, sequenceFirst = 0, sequenceLast = -1;
    bool twoSided = false;
    float smoothing = 0.0f;  // smoothing angle in degrees (0: flat)
};

struct MeshBuilder {
    std::vector<float> points;  // x, y, z a point
    std::vector<float> uvs;     // u, v a point
    struct Face {
        uint32_t a, b, c;
        uint32_t surface;
    };
    std::vector<Face> triangles;
    std::vector<ShapeSurface> surfaces;
    float origin[3] = {0, 0, 0};  // added to every point made from here on

    // The surface's index (made when no surface has the name).
    uint32_t Surface(const ShapeSurface& surface);
    uint32_t Point(float x, float y, float z, float u, float v);
    void Triangle(uint32_t a, uint32_t b, uint32_t c, uint32_t surface);
    // Two triangles a-b-c and a-c-d.
    void Quad(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t surface);
};

// Axis-aligned box from lo to hi.
void Shape_Box(MeshBuilder* m, const float lo[3], const float hi[3], uint32_t surface, float tile);
// Wedge on the ground: width along x (centred), rising from y = 0 at z = 0
// to `height` at z = length; closed underneath and at the back.
void Shape_Ramp(MeshBuilder* m, float width, float height, float length, uint32_t surface, float tile);
// A picture card: one quad on z = 0 facing -z, width along x (centred) and
// height up from y = 0, its texture once across it, upright from -z.
void Shape_Card(MeshBuilder* m, float width, float height, uint32_t surface);
// Flat square on y = 0, facing up, size along x and z (centred), cells x cells.
void Shape_Plane(MeshBuilder* m, float sizeX, float sizeZ, int cells, uint32_t surface, float tile);
// Dish open at the top: rim of `radius` at y = 0, bottom `depth` below,
// facing inwards; rings from rim to bottom, segments around.
void Shape_Bowl(MeshBuilder* m, float radius, float depth, int segments, int rings, uint32_t surface);
// Loop of road in the xz plane: a ring strip of `width` around `radius`,
// facing up, banked outwards by `bank` metres at the outer edge. Across the
// road the texture tiles `tile` times per metre; along it, the nearest whole
// number of times round the loop (at least once).
void Shape_TrackLoop(MeshBuilder* m, float radius, float width, int segments, float bank, uint32_t surface, float tile);
// Torus standing upright in the xy plane (its hole along z), centre at the origin.
void Shape_Ring(MeshBuilder* m, float radius, float thickness, int segments, int sides, uint32_t surface);
// Height field of cells x cells over a square of `size` (centred), heights
// 0..height from smooth value noise of `seed`, facing up.
void Shape_Terrain(MeshBuilder* m, float size, int cells, float height, uint32_t seed, uint32_t surface, float tile);
// Closed cylinder along y from y0 to y1.
void Shape_Cylinder(MeshBuilder* m, float radius, float y0, float y1, int segments, uint32_t surface);
// Capsule along y from y0 to y1 (the caps' centres), closed.
void Shape_Capsule(MeshBuilder* m, float radius, float y0, float y1, int segments, uint32_t surface);
void Shape_Sphere(MeshBuilder* m, float radius, int segments, int rings, uint32_t surface);
// Cone along y with its base at y0 and tip at y1, closed.
void Shape_Cone(MeshBuilder* m, float radius, float y0, float y1, int segments, uint32_t surface);

// A part of a jointed model: its geometry around its joint (the joint at
// the origin), the joint's place relative to the parent's joint (or to the
// model's origin for the root) and the parent's index (-1 for the root).
struct ShapePart {
    std::string name;
    int parent = -1;
    float joint[3] = {0, 0, 0};
    MeshBuilder mesh;
};

// A character of `height` metres standing on y = 0, facing +z: "Body" (the
// root, its joint at the hips), "Head", "ArmL", "ArmR", "LegL", "LegR";
// limbs are capsules (or boxes with boxy), body and head boxes.
std::vector<ShapePart> Shape_Character(float height, const ShapeSurface& skin, const ShapeSurface& clothes, bool boxy);
// A kart about 1.6 m long facing +z: "Body" with "Wheel0".."Wheel3"
// (front left, front right, back left, back right).
std::vector<ShapePart> Shape_Kart(const ShapeSurface& body, const ShapeSurface& wheels);
// A broom along +z: "Handle" with "Bristles" at its back end.
std::vector<ShapePart> Shape_Broom(const ShapeSurface& handle, const ShapeSurface& bristles);

// The parts joined into one mesh in their rest pose.
MeshBuilder Shape_Merge(const std::vector<ShapePart>& parts);
// The mesh as a LightWave object (version 2, one layer, the "UV" map, one
// clip per textured surface).
LwoWriterObject Shape_ToObject(const MeshBuilder& mesh);
