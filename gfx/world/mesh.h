// Mesh headers: an object's triangles grouped by material into meshes of
// 16-bit vertex indices, as triangle lists or triangle strips.
//
// The drawing code never walks triangles one by one; it draws a mesh header.
// Headers are built from a BuildMesh that the owner (a geometry or a world
// sector) fills with its triangles and three sort keys per triangle; the
// meshes are ordered so that opaque materials come first and materials with
// the same raster and pipeline follow each other. Each header carries a
// serial number so that instanced device data can tell a rebuilt header from
// the one it was made from. Headers travel as the binary-mesh extension
// (0x50E) of geometries and sectors.
#pragma once
#include <cstdint>

struct Material;
struct MaterialList;
struct Stream;

enum : uint32_t {
    MODULE_MESH = 0x502,
    PLUGIN_BINARY_MESH = 0x50E,
};

// Header flags: the primitive kind.
enum : uint32_t {
    MESH_TRIANGLE_LIST = 0,
    MESH_TRIANGLE_STRIP = 1,
    MESH_TRIANGLE_FAN = 2,
    MESH_LINE_LIST = 4,
    MESH_POLYLINE = 8,
    MESH_POINT_LIST = 16,
    MESH_PRIMITIVE_MASK = 0xFF,
    MESH_UNINDEXED = 0x100,
};

// One material run or strip. indices point into the header's own block.
struct Mesh {
    uint16_t* indices;
    uint32_t numIndices;
    Material* material;  // not owned: the owner's material list holds it; null = no material
};

// One allocation: this header, numMeshes Mesh records, then every index.
struct MeshHeader {
    uint32_t flags;  // MESH_*
    uint16_t numMeshes;
    uint16_t serialNumber;
    uint32_t totalIndicesInMesh;
    uint32_t firstMeshOffset;  // always 0: the meshes follow the header
};

inline Mesh* MeshHeader_Meshes(MeshHeader* header) { return (Mesh*)(header + 1); }
inline const Mesh* MeshHeader_Meshes(const MeshHeader* header) { return (const Mesh*)(header + 1); }

// The shared header of an object without triangles: all zero, never freed.
MeshHeader* MeshHeader_Empty(void);
// A block of `bytes` from the engine's memory functions.
MeshHeader* MeshHeader_Alloc(uint32_t bytes);
// Frees the header unless it is the shared empty one (or null). Returns 1.
int32_t MeshHeader_Destroy(MeshHeader* header);
typedef Mesh* (*MeshCallback)(Mesh* mesh, MeshHeader* header, void* data);
MeshHeader* MeshHeader_ForAllMeshes(MeshHeader* header, MeshCallback callback, void* data);
// The engine primitive kind of header flags (1 line list, 2 polyline, 3
// triangle list, 4 strip, 5 fan, 6 point list; 0 for unknown flags), and back.
uint32_t MeshHeader_PrimitiveType(uint32_t headerFlags);
uint32_t MeshHeader_FlagsFromPrimitiveType(uint32_t primitiveType);

// ---- building ----

// One triangle to be meshed. The keys are positions of the material's
// texture, that texture's raster and the material's pipeline in the lists of
// distinct values the owner collected, so that equal keys mean equal state.
struct BuildTriangle {
    uint16_t vertices[3];
    uint16_t materialIndex;  // the owner's list index; 0xFFFF for no material
    Material* material;      // null = no material (opaque, untextured)
    uint16_t textureKey;
    uint16_t rasterKey;
    uint16_t pipelineKey;
};

struct BuildMesh {
    int32_t capacity;
    int32_t numTriangles;
    BuildTriangle* triangles;
};

// Room for count triangles; null (0x80000013) when memory runs out.
BuildMesh* BuildMesh_Create(int32_t count);
// Appends one triangle (growing when full); null (0x80000013) on no memory.
BuildMesh* BuildMesh_AddTriangle(BuildMesh* mesh, Material* material, uint16_t v0, uint16_t v1, uint16_t v2,
                                 uint16_t materialIndex, uint16_t textureKey, uint16_t rasterKey, uint16_t pipelineKey);
void BuildMesh_Destroy(BuildMesh* mesh);

typedef MeshHeader* (*MeshBuilder)(BuildMesh* mesh, void* data);
// The builder used for strips (default MeshOp_DefaultBuilder); null restores it.
void Mesh_SetBuilder(MeshBuilder builder, void* data);

// A header from the build mesh: strips through the installed builder, else a
// triangle list. No triangles give the shared empty header. On success the
// build mesh is destroyed; on failure (null) the caller still owns it.
MeshHeader* Mesh_BuildFromTriangles(BuildMesh* mesh, int32_t strips);

// Stable sort of triangle pointers: opaque before translucent, then raster,
// pipeline and texture key and material index ascending; triangles of one
// material keep their order. Translucent: the texture's raster format has a
// 0x100, 0x300 or 0x500 pixel format, or the material alpha is below 255.
void MeshOp_SortTriangles(BuildTriangle** triangles, int32_t count);
// Reorders a list of triangles (3 indices each) so that triangles sharing no
// vertex with the ones before them in a pass come first; in place. After a
// few passes the rest follows in its order, so that the work stays linear
// in the triangles whatever the vertex valence. 0 when memory runs out
// (indices unchanged).
int32_t MeshOp_SpreadTriangles(uint16_t* indices, uint32_t numTriangles);
MeshHeader* MeshOp_BuildTriList(BuildMesh* mesh, void* data);
MeshHeader* MeshOp_BuildStrips(BuildMesh* mesh, int32_t tryAllStartEdges, int32_t keepParity);
MeshHeader* MeshOp_DefaultBuilder(BuildMesh* mesh, void* data);

// Strip pieces as the strip builder produces them, for its join step.
struct MeshStrip {
    uint16_t* indices;
    uint32_t numIndices;
    uint32_t capacity;
    MeshStrip* next;
};
// Joins the strips of the list (the first starts the output) into one strip
// with degenerate triangles, keeping the winding when keepParity is set. The
// result is allocated with the engine's memory functions (caller frees
// indices); 0 when memory runs out (0x80000013).
int32_t MeshOp_JoinStrips(const MeshStrip* list, int32_t keepParity, MeshStrip* out);

// ---- binary-mesh stream ----
// native: the owner's format flags say its vertices live in device data, so
// only the header and per-mesh records are written. A mesh's material is
// written as its index in the list (the highest where it stands twice), 0
// when it is not in the list, and -1 for a mesh without a material.
int32_t MeshHeader_StreamGetSize(const MeshHeader* header, int32_t native);
const MeshHeader* MeshHeader_StreamWrite(const MeshHeader* header, int32_t native, Stream* stream,
                                         const MaterialList* list);
// Reads `length` payload bytes into a new header with a new serial number;
// material index -1 is a mesh without a material. Refused (null): counts
// that do not fit the length or do not sum to the total, material indices
// outside the list and below -1, indices >= numVertices.
MeshHeader* MeshHeader_StreamRead(Stream* stream, int32_t length, int32_t native, const MaterialList* list,
                                  int32_t numVertices);

void* Mesh_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Mesh_ModuleClose(void* instance, int32_t offset, int32_t size);
