// LightWave object writer: builds ".lwo" files (IFF "FORM" of type "LWO2",
// or "LWOB" for version 1) from a plain description, for the data tools and
// the tests.
//
// What is written, in this order:
//   version 2: TAGS, CLIP (one per clip, numbered 1, 2, ... in order), then
//     per layer LAYR, PNTS, BBOX, VMAP (point entries), POLS FACE, PTAG SURF,
//     VMAD (polygon entries), then one SURF per surface;
//   version 1: SRFS, then the layers merged into one PNTS and one POLS (the
//     surface number after each polygon), then SURF with the version-1
//     sub-chunks. Clips, vertex maps and texture blocks are version-2 only;
//     a version-1 surface names its images directly (TIMG, RIMG).
// Every chunk and sub-chunk has an even size (strings are NUL-terminated and
// padded). Point and polygon indices use the variable form: two bytes below
// 0xFF00, else four bytes with 0xFF in the first. Polygons of any size are
// written as given; the game's reader takes triangles only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Big-endian IFF bytes, also for tests that put malformed chunks together.
struct LwoBytes {
    std::vector<uint8_t> data;

    void U1(uint32_t v) { data.push_back((uint8_t)v); }
    void U2(uint32_t v);
    void U4(uint32_t v);
    void F4(float v);
    void Id(const char* id);  // four characters
    // NUL-terminated, padded with a second NUL to an even length.
    void S0(const std::string& text);
    // Variable index: 2 bytes below 0xFF00, else 4 bytes (0xFF, then 24 bits).
    void VX(uint32_t index);
    void Append(const LwoBytes& other) { data.insert(data.end(), other.data.begin(), other.data.end()); }
    // A chunk (4-byte size) or sub-chunk (2-byte size) around payload,
    // with a pad byte after an odd payload.
    void Chunk(const char* id, const LwoBytes& payload);
    void SubChunk(const char* id, const LwoBytes& payload);
};

struct LwoWriterPolygon {
    std::vector<uint32_t> points;  // indices into the layer's points
    uint32_t tag;                  // surface: index into the tags
};

// One vertex map. Entries with a polygon (index into the layer's polygons)
// go to a VMAD chunk, the others to a VMAP chunk.
struct LwoWriterMapEntry {
    uint32_t point;
    int32_t polygon;  // -1: per point
    std::vector<float> values;  // dimension values
};

struct LwoWriterVertexMap {
    std::string type;  // "TXUV", "WGHT", "MORF", "RGB ", "RGBA"
    uint16_t dimension = 2;
    std::string name;
    std::vector<LwoWriterMapEntry> entries;
};

struct LwoWriterLayer {
    uint16_t number = 0;
    std::string name;
    std::vector<float> points;  // x, y, z per point
    std::vector<LwoWriterPolygon> polygons;
    std::vector<LwoWriterVertexMap> maps;
};

// A texture block (version 2): image map of a channel with its projection.
struct LwoWriterBlock {
    std::string channel = "COLR";
    std::string ordinal = "\x80";
    uint16_t axis = 2;  // 0 x, 1 y, 2 z
    float centre[3] = {0, 0, 0};
    float size[3] = {1, 1, 1};
    uint16_t projection = 5;  // 0 planar ... 5 UV
    uint32_t clip = 0;        // 1-based clip number, 0 none
    std::string uvMap;        // texture-coordinate map name, empty none
};

struct LwoWriterSurface {
    std::string name;
    float colour[3] = {0.8f, 0.8f, 0.8f};
    float diffuse = 1.0f;
    float luminosity = 0.0f;
    float specular = 0.0f;
    float reflection = 0.0f;
    float transparency = 0.0f;
    uint16_t sides = 1;           // 3: both sides
    float smoothingAngle = -1.0f; // radians; negative: no SMAN
    // Vertex colouring (VCOL), written when the map name is not empty.
    float vertexColourIntensity = 1.0f;
    std::string vertexColourType = "RGB ";
    std::string vertexColourMap;
    uint32_t reflectionClip = 0;  // version 2: RIMG clip number, 0 none
    std::vector<LwoWriterBlock> blocks;
    // Version 1 texturing: colour texture with its image and planar axes.
    std::string textureType;      // CTEX, e.g. "Planar Image Map"; empty none
    std::string textureImage;     // TIMG
    std::string reflectionImage;  // RIMG
    float textureCentre[3] = {0, 0, 0};
    float textureSize[3] = {1, 1, 1};
    uint16_t textureFlags = 0;    // TFLG: 1 x, 2 y, 4 z
};

struct LwoWriterClip {
    std::string still;  // STIL file name; empty for a sequence
    uint8_t digits = 3;
    uint8_t flags = 0;
    int16_t offset = 0;
    int16_t first = 0;
    int16_t last = 0;
    std::string prefix, suffix;
};

struct LwoWriterObject {
    int version = 2;  // 2 "LWO2", 1 "LWOB"
    std::vector<std::string> tags;
    std::vector<LwoWriterLayer> layers;
    std::vector<LwoWriterSurface> surfaces;
    std::vector<LwoWriterClip> clips;
};

// The whole file.
std::vector<uint8_t> LwoWriter_Write(const LwoWriterObject& object);
