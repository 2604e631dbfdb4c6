// Physics shape file writer: builds the "rbs" files that the engine reads
// from the hashed cache before it falls back to a model's own geometry, for
// the data tools and the tests.
//
// Layout, little-endian: u32 0, u32 0, u32 block count; then per block u32
// type and f32 mass, and
//   type 4 (triangle mesh): u32 V, u32 T, V x 3 f32, T x 3 u16 (no padding);
//   type 1024 (convex):     u32 P, P x 3 f32 (the engine builds the hull).
// The writer writes what it is given: tests put malformed files together
// with it (lying counts, indices past the vertices, other block types).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum : uint32_t {
    RBS_MESH = 4,
    RBS_CONVEX = 1024,
};

struct RbsBlock {
    uint32_t type = RBS_CONVEX;
    float mass = 0.0f;
    std::vector<float> points;      // x, y, z per vertex or point
    std::vector<uint16_t> indices;  // meshes: three per triangle
    // Counts written in place of the real ones when set (for malformed files).
    int64_t countOverride = -1;     // V or P
    int64_t triangleOverride = -1;  // T
};

// The file's bytes.
std::vector<uint8_t> Rbs_Write(const std::vector<RbsBlock>& blocks);
// Writes the bytes to path through a temporary file and a rename, creating
// the folders on the way. 0 with message set when it could not be written.
int Rbs_WriteFile(const std::vector<RbsBlock>& blocks, const std::string& path, std::string* message);
// The data-relative path of a model's shape file as the engine looks for it
// ("Objects\Crate.lwo" -> "Cache/xx/xxxxxxxx.rbs"): the cache name of the
// model path exactly as the object configuration writes it.
std::string Rbs_OutputPath(const char* modelPath);
// A convex block of the eight corners of a box centred at (cx, cy, cz).
RbsBlock Rbs_Box(float mass, float hx, float hy, float hz, float cx = 0, float cy = 0, float cz = 0);
// A mesh block of a flat square grid in the x-z plane at height y: n x n
// cells of the given size, centred on the origin, two triangles per cell.
RbsBlock Rbs_Grid(int n, float cell, float y = 0);
