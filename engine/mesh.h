// Meshes: LightWave objects turned into render objects holding one atomic,
// cached in the hashed cache as "dff" files, and shared by path.
//
// A load takes the mesh from the registry when it is shared and loaded
// already; otherwise from its "dff" cache while that is fresh (not older
// than the ".lwo"), else from the ".lwo" itself, after which the cache is
// rewritten. Materials carry special names: "ENV:<coefficient>|<texture>"
// for an environment map and "SEQ:<list file>" for a texture sequence; the
// cache keeps them in one small text file per material ("M%.2d").
//
// Object file names carry render flags (prefix A_, S_ or T_; _ZT, _ZW) and
// an optional "&" tag of load flags; textures are looked for in the object's
// folder and in the platform folder ("pc"), and are copied into the cache
// during a fresh build so that a cached mesh finds them there.
//
// Limits: triangles only (see lwo.h); three vertices per triangle, six for
// two-sided objects, and fewer than 65,536 vertices per geometry: at most
// 21,845 triangles (10,922 two-sided). A bigger object has no visual.
#pragma once

#include <cstdint>

struct RenderObj;

// Object flags.
enum : uint32_t {
    MESH_UNSHARED = 1,   // not shared through the registry
    MESH_TWO_SIDED = 2,  // every triangle also faces the other way; the atomic gets a frame of its own
    MESH_SKINNED = 8,
};

// Load flags from the object file name's "&" tag.
enum : uint32_t {
    MESH_LOAD_ADD = 1,        // A
    MESH_LOAD_MULTIPLY = 2,   // S
    MESH_LOAD_ALPHA = 4,      // T
    MESH_LOAD_NO_ZWRITE = 32, // R (not with W)
    MESH_LOAD_NO_ZTEST = 16,  // W (not with R)
    MESH_LOAD_MIPMAP = 128,   // M
    MESH_LOAD_FILTER = 256,   // F
};

// Geometry formats the builder makes.
enum : uint32_t {
    MESH_FORMAT_PLAIN = 76,       // positions, one texture set, prelit, material colour
    MESH_FORMAT_LIT = 124,        // plus normals and lighting
    MESH_FORMAT_ENV = 152,        // two texture sets, normals, prelit
    MESH_FORMAT_ENV_LIT = 184,    // plus lighting
};

// Module state: the environment frame. Started and stopped by RenderObj_Init
// and RenderObj_Shutdown.
int Mesh_Init(void);
void Mesh_Shutdown(void);

// Loads path (".lwo" stripped when present). builder: non-null asks for lit
// geometry. weightsPerVertex is passed by the scene loader and not used.
// *created (may be null) = 1 for a new render object, 0 for a shared one.
// Null when neither a fresh cache nor the object can be read, or the object
// makes no geometry (LoadError_Get says why). The caller releases the
// object with RenderObj_Release.
RenderObj* Mesh_LoadObject(const char* path, void* reserved, int32_t weightsPerVertex, uint32_t objectFlags,
                           int32_t* created, void* builder);
RenderObj* Mesh_Load(const char* path, uint32_t objectFlags, int32_t* created);
// The mesh cache of path: read (null when missing or refused) and write (1
// when the atomic and every material-name file were written). The loader
// passes the object path without ".lwo", with "|2" added for two-sided
// geometry, which is cached apart.
RenderObj* Mesh_LoadDFF(const char* path);
int Mesh_SaveDFF(RenderObj* object, const char* path);
// Load flags of the "&" tag of the path's file name; 0 without one.
uint32_t Mesh_ParseMaterialFlags(const char* path);
// Render flags of the path's file name (prefixes and _ZT, _ZW).
uint32_t Mesh_RenderFlagsFromName(const char* path);
// The loader's fog flag: while it is on, every object loaded (built or read
// from its cache, not one the registry shares) gets render flag
// RENDEROBJ_FOG, which the additive and multiplying blends clear. Off at
// start and after Mesh_Shutdown; a level that asks for fog turns it on
// while its meshes load.
void Mesh_SetFog(int on);
int Mesh_GetFog(void);
// New objects get a texture dictionary of their own (off by default).
void Mesh_SetPerObjectDictionaries(int on);
// The switch's current value.
int Mesh_GetPerObjectDictionaries(void);
// The environment-map coefficient that replaces the stored one of cached
// meshes; negative (the default) keeps theirs.
void Mesh_SetEnvCoefficientOverride(float coefficient);
