// LightWave object parser: reads a ".lwo" file (IFF "FORM" of type "LWOB",
// version 1, or "LWO2", version 2; all numbers big-endian) into an LwoObject:
// points, triangles, surfaces with their textures, image clips, vertex maps
// (texture coordinates, weights, morphs, colours) and polygon tags. The mesh
// builder turns it into geometry; the scene loader parses skinned objects
// again for their weight maps.
//
// Only triangles are accepted: a polygon of any other size fails the load,
// so objects must be triangulated by whoever writes them. Every count,
// size, offset and index is checked against what it addresses before use;
// a file that does not hold together fails the load with nothing left
// allocated, and LoadError_Get() says why.
//
// Layers: layer -1 reads every layer merged (point, polygon and map indices
// of each layer offset by what the layers before it added); layer k reads the
// k-th LAYR chunk's geometry only (surfaces and clips are always read).
#pragma once

#include <cstdint>

#include "common/maths.h"

constexpr float LWO_MAX_TEXCOORD = 64.0f;         // a texture coordinate beyond this magnitude fails the load
constexpr uint32_t LWO_CHANNEL_COLR = 0x434F4C52;  // "COLR"
constexpr uint32_t LWO_AXIS_X = 1, LWO_AXIS_Y = 2, LWO_AXIS_Z = 4;

struct LwoPolygon {
    uint32_t count;       // vertices: always 3
    uint32_t firstIndex;  // into the index array
    int32_t surface;      // -1 none
};

// A texture block of a surface: an image on a channel with its projection.
struct LwoBlock {
    uint32_t channel;    // four characters, big-endian ("COLR" = LWO_CHANNEL_COLR)
    uint32_t axisFlags;  // LWO_AXIS_*
    Vec3 size;
    Vec3 centre;
    int32_t clip;        // index into the clips, -1 none
    int32_t texCoordMap; // index into the texture-coordinate maps (the block's VMAP), -1 none
};

struct LwoSurface {
    const char* name;  // inside the tag strings
    uint32_t nameLength;
    int32_t textureClip;  // clip of the colour channel's block, -1 none
    float colour[3];
    float diffuse;     // 1.0 by default
    float luminosity;
    float specular;    // 0 by default
    float reflection;
    float transparency;
    float bump;
    uint32_t flags;       // version 1 FLAG
    uint32_t sides;       // SIDE: 3 both sides
    int32_t reflectionClip;  // RIMG, -1 none
    Vec3 textureCentre;   // version 1 TCTR / TSIZ (also in the colour block)
    Vec3 textureSize;
    int32_t index2[2];    // -1, -1
    float smoothCos;      // cosine of the smoothing angle; 0.99999 by default (flat)
    int32_t vertexColourMap;  // index into the colour maps (VCOL), -1 none
    float vertexColourIntensity;
    LwoBlock* blocks;
    uint32_t blockCount;
};

struct LwoClip {
    int32_t index;  // the file's own clip number
    char* still;    // still image file name (after the last separator), or null
    char* prefix;   // sequence: file part of the prefix, and the suffix
    char* suffix;
    int32_t first, last;
    uint8_t digits;
    uint8_t flags;
};

// Vertex-map entries. polygon is -1 for per-point (VMAP) entries.
struct LwoTexCoord {
    float u, v;  // v stored as 1 - v
    uint32_t point;
    int32_t polygon;
};
struct LwoWeight {
    float weight;
    uint32_t point;
    int32_t polygon;
};
struct LwoMorph {
    Vec3 delta;
    uint32_t point;
};
struct LwoColour {
    uint32_t colour;  // packed a << 24 | r << 16 | g << 8 | b
    uint32_t point;
    int32_t polygon;
};

// One vertex map by name. The lookup index is built at the end of the load:
// byPoint[p] is the first per-point entry of point p (-1 none), perPolygon
// chains the polygon entries of each point (head in polygonHead[p], then
// nextOfPoint[e]).
struct LwoVertexMap {
    char* name;
    uint32_t type;  // four characters, big-endian
    uint32_t count;
    uint32_t capacity;
    void* entries;  // LwoTexCoord, LwoWeight, LwoMorph or LwoColour
    int32_t* byPoint;
    int32_t* polygonHead;
    int32_t* nextOfPoint;
};

enum LwoMapKind { LWO_MAP_TEXCOORD = 0, LWO_MAP_WEIGHT, LWO_MAP_MORPH, LWO_MAP_COLOUR, LWO_MAP_KINDS };

struct LwoObject {
    int32_t version;  // 1 LWOB, 2 LWO2
    int32_t error;    // set when the file did not hold together
    int32_t layerCount;
    int32_t layer;        // requested layer index, -1 all
    int32_t layerNumber;  // number of the current layer
    float boundingBox[6];
    Vec3* points;
    uint32_t pointCount;
    LwoPolygon* polygons;
    uint32_t polygonCount;
    uint32_t* indices;
    uint32_t indexCount;
    uint32_t firstPoint, firstPolygon, firstIndex;  // bases of the current layer
    uint32_t faceBase;  // first polygon of the layer's most recent FACE POLS
    LwoSurface* surfaces;
    uint32_t surfaceCount;
    char** tags;
    uint32_t tagCount;
    LwoClip* clips;
    uint32_t clipCount;
    LwoVertexMap* maps[LWO_MAP_KINDS];
    uint32_t mapCount[LWO_MAP_KINDS];
    char* folder;  // of the path, up to its last back-slash ("" without one)
    // Filled by Lwo_ComputeNormals: one normal per polygon and per corner.
    Vec3* faceNormals;
    Vec3* cornerNormals;  // indexed like indices
};

// Loads path (".lwo" appended when missing). *layer selects the layer (-1
// all) and receives the index of the last layer read. With stopAtLayer, the
// parse stops when the layer numbered stopNumber is followed by another. Null
// when the file cannot be opened, is not LWOB/LWO2, holds no geometry chunk,
// or fails any check; the caller owns the object (Lwo_Free).
LwoObject* Lwo_Load(const char* path, int32_t* layer, int32_t stopNumber, int32_t stopAtLayer);
// Lwo_Load(path, &layer, 0, 0).
LwoObject* Lwo_Open(const char* path, int32_t layer);
// 1 and the layer's index when the file has a layer numbered number; 0 and
// -2 otherwise.
int Lwo_FindLayer(const char* path, int32_t number, int32_t* index);
void Lwo_Free(LwoObject* object);

// Face normals and per-corner smoothed normals: a corner's normal is the
// angle-weighted sum of the face normals of the polygons around its point
// that are joined to its polygon through polygons around the same point
// whose normals differ by less than the surface's smoothing angle. 0 when
// memory runs out.
int Lwo_ComputeNormals(LwoObject* object);

// Per-corner queries (polygon and corner must be in range).
void Lwo_GetCornerPosition(const LwoObject* object, uint32_t polygon, uint32_t corner, Vec3* out);
// The smoothed corner normal once computed, else the face normal (or 0, 0, 0).
void Lwo_GetCornerNormal(const LwoObject* object, uint32_t polygon, uint32_t corner, Vec3* out);
uint32_t Lwo_GetTexCoordSetCount(const LwoObject* object);
// The entry of texture-coordinate map `set` for the point, the polygon's own
// entry winning over the point's: 1 and u, v; 0 when the map has none.
int Lwo_GetTexCoord(const LwoObject* object, uint32_t set, uint32_t polygon, uint32_t point, float* u, float* v);
// The vertex colour of the polygon's surface's colour map (VCOL) at the
// corner, scaled by the surface's intensity: 1 and the packed colour, or 0.
int Lwo_GetVertexColour(const LwoObject* object, uint32_t polygon, uint32_t corner, uint32_t* colour);
// The weight of map (index into the weight maps) at the corner; 0 when none.
float Lwo_GetWeight(const LwoObject* object, uint32_t map, uint32_t polygon, uint32_t corner);
// 1 and the weight when the map holds an entry for the point (per-point or
// for the polygon).
int Lwo_GetPointWeight(const LwoObject* object, uint32_t map, uint32_t polygon, uint32_t point, float* weight);
// The first point within 0.00001 of position on each axis, or -1.
int32_t Lwo_FindPoint(const LwoObject* object, const Vec3* position);
// The first polygon using the point and the corner there: 1, or 0 when none.
int Lwo_FindPolygonWithPoint(const LwoObject* object, uint32_t point, uint32_t* polygon, uint32_t* corner);
// Planar coordinates of the point from the surface's texture block of the
// channel: 1 and u, v, or 0 when the block has no axis or does not exist.
int Lwo_PlanarTexCoord(const LwoObject* object, uint32_t surface, uint32_t channel, const Vec3* point, float* u,
                       float* v);

// Surfaces and their images.
int32_t Lwo_FindSurface(const LwoObject* object, const char* name);
// Index of the map of that kind and name, or -1.
int32_t Lwo_FindVertexMap(const LwoObject* object, LwoMapKind kind, const char* name);
// Images of the surface's colour texture: 1 for a still, last - first + 1
// for a sequence, 0 without an image.
uint32_t Lwo_GetSurfaceClipCount(const LwoObject* object, uint32_t surface);
// Name of image `frame` (sequence frame k: prefix, the last `digits` digits of
// the 8-digit number first + k, suffix): 1 and the name (cut to size), or 0.
int Lwo_GetSurfaceImageName(const LwoObject* object, uint32_t surface, uint32_t frame, char* name, uint32_t size);
// The reflection value, and the reflection image's name (empty without one):
// 1 when the surface has both a reflection above 0 and an image.
int Lwo_GetSurfaceReflection(const LwoObject* object, uint32_t surface, char* name, uint32_t size, float* value);
// The texture-coordinate map of the surface's colour block, or -1.
int32_t Lwo_GetSurfaceTexCoordMap(const LwoObject* object, uint32_t surface);
