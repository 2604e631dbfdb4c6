// Materials and material lists.
//
// A material is the surface description a triangle points at: an optional
// texture, an RGBA colour, an optional pipeline and three surface
// coefficients (ambient, specular, diffuse) for the lighting code. Materials
// are reference counted and shared; geometries and worlds hold them through a
// MaterialList, in which every entry owns one reference (the same material
// may stand in several entries). Lists are also the unit in which materials
// are streamed: the material-list chunk (type 8) writes each material once
// and refers back to earlier entries for repeats.
//
// Records live from creation to the release of their last reference; the
// module (engine module 0x501) owns the free list they come from.
#pragma once
#include <cstdint>

#include "gfx/core/plugin.h"

struct Texture;
struct Pipeline;
struct Stream;

enum : uint32_t {
    MODULE_MATERIAL = 0x501,
    PLUGIN_RIGHT_TO_RENDER = 0x1F,  // the pipeline identity streamed with objects
    CHUNK_MATERIAL = 7,
    CHUNK_MATERIAL_LIST = 8,
    WORLD_PLUGIN_ID = 2,  // plugin id of errors raised by the world library
    // Code (plugin 2) of stream data that contradicts itself or its owner:
    // counts that do not fit their chunk, indices out of range.
    WORLD_ERR_BAD_DATA = 7,
};

struct Material {
    Texture* texture;            // owned reference; null = untextured
    uint8_t colour[4];           // red, green, blue, alpha; 255 each at creation
    Pipeline* pipeline;          // not owned; null = the default pipeline
    float surfaceProperties[3];  // ambient, specular, diffuse
    uint16_t refCount;           // 1 at creation
    // registered extensions follow at their offsets
};

struct MaterialList {
    Material** materials;  // capacity entries, the first count used; null when empty
    int32_t count;
    int32_t capacity;
};

// A new material (texture and pipeline null, white, module surface
// properties, one reference) with its extension constructors run; null when
// the free list cannot give an entry.
Material* Material_Create(void);
// Drops one reference; the last one runs the extension destructors, releases
// the texture and frees the record. Returns 1.
int32_t Material_Destroy(Material* material);
inline Material* Material_AddRef(Material* material)
{
    material->refCount++;
    return material;
}
// Adds a reference to texture (may be null) before releasing the old one, so
// setting the texture a material already holds is safe. Returns material.
Material* Material_SetTexture(Material* material, Texture* texture);
// New materials copy these; null restores 1, 1, 1.
void Material_SetDefaultSurfaceProperties(const float* surface);
const float* Material_GetDefaultSurfaceProperties(void);

int32_t Material_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                                PluginDestructor destructor, PluginCopy copy);
int32_t Material_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                      PluginStreamGetSize getSize);
int32_t Material_SetStreamRightsCallback(uint32_t pluginId, PluginStreamRights callback);
int32_t Material_GetPluginOffset(uint32_t pluginId);
PluginRegistry* Material_GetRegistry(void);

// The material chunk (type 7): payload size, write (header included), and
// read; the caller has found the chunk header. Read returns a new material
// with one reference, or null (0x80000004 for a struct version outside
// 0x31000..0x35000; a texture that cannot be read leaves it untextured).
int32_t Material_StreamGetSize(const Material* material);
const Material* Material_StreamWrite(const Material* material, Stream* stream);
Material* Material_StreamRead(Stream* stream);

// Right-to-render stream callbacks (8 bytes: the pipeline's plugin id and
// extra word), registered on the material registry by the world ties.
int32_t Material_RightsGetSize(const void* material, int32_t offset, int32_t size);
Stream* Material_RightsWrite(Stream* stream, int32_t length, const void* material, int32_t offset, int32_t size);
Stream* Material_RightsRead(Stream* stream, int32_t length, void* material, int32_t offset, int32_t size);

void* Material_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Material_ModuleClose(void* instance, int32_t offset, int32_t size);

// ---- material lists ----
MaterialList* MaterialList_Initialize(MaterialList* list);
// Releases every entry, frees the array and zeroes the list.
MaterialList* MaterialList_Deinitialize(MaterialList* list);
// dst (not initialised) gets source's entries with a reference each; null
// (dst left empty) when memory runs out (0x80000013).
MaterialList* MaterialList_Copy(MaterialList* dst, const MaterialList* source);
// No range check: index must lie in [0, count).
inline Material* MaterialList_GetMaterial(const MaterialList* list, int32_t index) { return list->materials[index]; }
// Appends with a new reference, growing the array by 20 entries when full;
// the new index, or -1 (list unchanged, 0x80000013).
int32_t MaterialList_AppendMaterial(MaterialList* list, Material* material);
// The highest index holding material, or -1.
int32_t MaterialList_FindMaterialIndex(const MaterialList* list, const Material* material);

// The material-list chunk (type 8). Read fills an initialised empty list; on
// failure every material read so far is released and the list left empty.
int32_t MaterialList_StreamGetSize(const MaterialList* list);
const MaterialList* MaterialList_StreamWrite(const MaterialList* list, Stream* stream);
MaterialList* MaterialList_StreamRead(Stream* stream, MaterialList* list);
