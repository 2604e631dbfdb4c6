#include "gfx/world/material.h"

#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/freelist.h"
#include "gfx/core/texture.h"
#include "gfx/world/worldinternal.h"

using namespace worldinternal;

namespace {

constexpr uint32_t kStructSize = 28;
constexpr int32_t kListGrowth = 20;

struct MaterialGlobals {
    FreeList* materials;
};

PluginRegistry sRegistry = PLUGIN_REGISTRY_INIT(sizeof(Material));
int32_t sOffset = -1;
int32_t sOpenCount = 0;
float sDefaultSurface[3] = {1.0f, 1.0f, 1.0f};
RightsSlots sRights;

MaterialGlobals* Globals(void) { return (MaterialGlobals*)Engine_ModuleGlobals(sOffset); }

// Finds the next chunk of `type`; false when it is missing or its version
// is refused (Stream_FindChunk raised the error).
bool FindChunk(Stream* stream, uint32_t type, uint32_t* length)
{
    uint32_t version = 0;
    return Stream_FindChunk(stream, type, length, &version) != 0;
}

}  // namespace

Material* Material_Create(void)
{
    if (sOffset < 0 || !Globals()->materials) return nullptr;
    Material* m = (Material*)FreeList_Alloc(Globals()->materials);
    if (!m) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(m, 0, (size_t)sRegistry.size);
    m->colour[0] = m->colour[1] = m->colour[2] = m->colour[3] = 255;
    memcpy(m->surfaceProperties, sDefaultSurface, sizeof(sDefaultSurface));
    m->refCount = 1;
    PluginRegistry_RunConstructors(&sRegistry, m);
    return m;
}

int32_t Material_Destroy(Material* material)
{
    HELM_ASSERT(material && material->refCount > 0);
    if (material->refCount > 1) {
        material->refCount--;
        return 1;
    }
    PluginRegistry_RunDestructors(&sRegistry, material);
    if (material->texture) Texture_Destroy(material->texture);
    material->texture = nullptr;
    material->refCount = 0;
    FreeList_Free(Globals()->materials, material);
    return 1;
}

Material* Material_SetTexture(Material* material, Texture* texture)
{
    if (texture) texture->refCount++;
    if (material->texture) Texture_Destroy(material->texture);
    material->texture = texture;
    return material;
}

void Material_SetDefaultSurfaceProperties(const float* surface)
{
    static const float kOnes[3] = {1.0f, 1.0f, 1.0f};
    memcpy(sDefaultSurface, surface ? surface : kOnes, sizeof(sDefaultSurface));
}

const float* Material_GetDefaultSurfaceProperties(void) { return sDefaultSurface; }

int32_t Material_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                                PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&sRegistry, size, pluginId, constructor, destructor, copy);
}

int32_t Material_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                      PluginStreamGetSize getSize)
{
    return PluginRegistry_AddPluginStream(&sRegistry, pluginId, read, write, getSize);
}

int32_t Material_SetStreamRightsCallback(uint32_t pluginId, PluginStreamRights callback)
{
    return PluginRegistry_SetStreamRightsCallback(&sRegistry, pluginId, callback);
}

int32_t Material_GetPluginOffset(uint32_t pluginId) { return PluginRegistry_GetPluginOffset(&sRegistry, pluginId); }
PluginRegistry* Material_GetRegistry(void) { return &sRegistry; }

// ---- material chunk ----

int32_t Material_StreamGetSize(const Material* material)
{
    int32_t size = (int32_t)(CHUNK_HEADER_SIZE + kStructSize);
    if (material->texture) size += (int32_t)CHUNK_HEADER_SIZE + Texture_StreamGetSize(material->texture);
    return size + (int32_t)CHUNK_HEADER_SIZE + PluginRegistry_StreamGetExtensionsSize(&sRegistry, material);
}

const Material* Material_StreamWrite(const Material* material, Stream* stream)
{
    uint8_t record[kStructSize] = {};
    memcpy(record + 4, material->colour, 4);
    Bytes_StoreU32(record + 12, material->texture ? 1u : 0u);
    for (int i = 0; i < 3; i++) Bytes_StoreF32(record + 16 + 4 * i, material->surfaceProperties[i]);
    if (!Stream_WriteChunkHeaderDefault(stream, CHUNK_MATERIAL, (uint32_t)Material_StreamGetSize(material)) ||
        !Stream_WriteChunkHeaderDefault(stream, CHUNK_STRUCT, kStructSize) ||
        !Stream_Write(stream, record, kStructSize))
        return nullptr;
    if (material->texture && !Texture_StreamWrite(material->texture, stream)) return nullptr;
    if (!PluginRegistry_StreamWriteExtensions(&sRegistry, stream, material)) return nullptr;
    return material;
}

Material* Material_StreamRead(Stream* stream)
{
    uint32_t length = 0;
    uint8_t record[kStructSize];
    if (!FindChunk(stream, CHUNK_STRUCT, &length) || !ReadStruct(stream, length, record, kStructSize)) return nullptr;
    Material* material = Material_Create();
    if (!material) return nullptr;
    memcpy(material->colour, record + 4, 4);
    for (int i = 0; i < 3; i++) material->surfaceProperties[i] = Bytes_LoadF32(record + 16 + 4 * i);
    if (Bytes_LoadU32(record + 12)) {
        uint32_t textureLength = 0;
        if (!FindChunk(stream, CHUNK_TEXTURE, &textureLength)) {
            Material_Destroy(material);
            return nullptr;
        }
        // A texture that cannot be had leaves the material untextured; the
        // rest of its chunk is skipped so that the stream stays aligned.
        const uint64_t mark = stream->moved;
        Texture* texture = Texture_StreamRead(stream);
        material->texture = texture;
        const uint64_t used = Moved(stream, mark);
        if (!texture && used < textureLength && !Stream_Skip(stream, (uint32_t)(textureLength - used))) {
            Material_Destroy(material);
            return nullptr;
        }
    }
    sRights = RightsSlots{};
    if (!PluginRegistry_StreamReadExtensions(&sRegistry, stream, material)) {
        Material_Destroy(material);
        return nullptr;
    }
    if (sRights.pluginId) PluginRegistry_CallRightsCallback(&sRegistry, sRights.pluginId, material, sRights.extraData);
    return material;
}

int32_t Material_RightsGetSize(const void* material, int32_t, int32_t)
{
    return RightsSize(((const Material*)material)->pipeline);
}

Stream* Material_RightsWrite(Stream* stream, int32_t, const void* material, int32_t, int32_t)
{
    return RightsWrite(stream, ((const Material*)material)->pipeline);
}

Stream* Material_RightsRead(Stream* stream, int32_t length, void*, int32_t, int32_t)
{
    return RightsRead(stream, length, &sRights);
}

// ---- module ----

void* Material_ModuleOpen(void* instance, int32_t offset, int32_t)
{
    sOffset = offset;
    MaterialGlobals* g = Globals();
    g->materials = FreeList_CreateEx(sRegistry.size, 256, 16, 1, nullptr);
    if (!g->materials) return nullptr;
    sOpenCount++;
    return instance;
}

void* Material_ModuleClose(void* instance, int32_t, int32_t)
{
    MaterialGlobals* g = Globals();
    if (g->materials) FreeList_Destroy(g->materials);
    g->materials = nullptr;
    sOpenCount--;
    return instance;
}

// ---- material lists ----

MaterialList* MaterialList_Initialize(MaterialList* list)
{
    list->materials = nullptr;
    list->count = list->capacity = 0;
    return list;
}

MaterialList* MaterialList_Deinitialize(MaterialList* list)
{
    for (int32_t i = 0; i < list->count; i++) {
        if (list->materials[i]) Material_Destroy(list->materials[i]);
        list->materials[i] = nullptr;
    }
    if (list->materials) Engine_Free(list->materials);
    return MaterialList_Initialize(list);
}

MaterialList* MaterialList_Copy(MaterialList* dst, const MaterialList* source)
{
    MaterialList_Initialize(dst);
    if (!source->materials || source->capacity <= 0) return dst;
    Material** array = (Material**)Engine_Calloc((size_t)source->capacity, sizeof(Material*));
    if (!array) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    for (int32_t i = 0; i < source->count; i++) array[i] = Material_AddRef(source->materials[i]);
    dst->materials = array;
    dst->count = source->count;
    dst->capacity = source->capacity;
    return dst;
}

int32_t MaterialList_AppendMaterial(MaterialList* list, Material* material)
{
    HELM_ASSERT(material);
    if (list->count >= list->capacity) {
        const int32_t capacity = list->capacity + kListGrowth;
        Material** array = (Material**)Engine_Realloc(list->materials, sizeof(Material*) * (size_t)capacity);
        if (!array) {
            RaiseError(ERR_OUT_OF_MEMORY);
            return -1;
        }
        list->materials = array;
        list->capacity = capacity;
    }
    list->materials[list->count] = Material_AddRef(material);
    return list->count++;
}

int32_t MaterialList_FindMaterialIndex(const MaterialList* list, const Material* material)
{
    for (int32_t i = list->count - 1; i >= 0; i--)
        if (list->materials[i] == material) return i;
    return -1;
}

namespace {

// Entry i refers back to the nearest earlier entry holding the same material,
// or -1 for its first occurrence.
int32_t BackReference(const MaterialList* list, int32_t i)
{
    for (int32_t j = i - 1; j >= 0; j--)
        if (list->materials[j] == list->materials[i]) return j;
    return -1;
}

}  // namespace

int32_t MaterialList_StreamGetSize(const MaterialList* list)
{
    int32_t size = (int32_t)CHUNK_HEADER_SIZE + 4 + 4 * list->count;
    for (int32_t i = 0; i < list->count; i++)
        if (BackReference(list, i) < 0) size += (int32_t)CHUNK_HEADER_SIZE + Material_StreamGetSize(list->materials[i]);
    return size;
}

const MaterialList* MaterialList_StreamWrite(const MaterialList* list, Stream* stream)
{
    if (!Stream_WriteChunkHeaderDefault(stream, CHUNK_MATERIAL_LIST, (uint32_t)MaterialList_StreamGetSize(list)) ||
        !Stream_WriteChunkHeaderDefault(stream, CHUNK_STRUCT, 4 + 4 * (uint32_t)list->count))
        return nullptr;
    int32_t count = list->count;
    if (!Stream_WriteInt32(stream, &count, 4)) return nullptr;
    for (int32_t i = 0; i < list->count; i++) {
        int32_t ref = BackReference(list, i);
        if (!Stream_WriteInt32(stream, &ref, 4)) return nullptr;
    }
    for (int32_t i = 0; i < list->count; i++)
        if (BackReference(list, i) < 0 && !Material_StreamWrite(list->materials[i], stream)) return nullptr;
    return list;
}

MaterialList* MaterialList_StreamRead(Stream* stream, MaterialList* list)
{
    MaterialList_Initialize(list);
    uint32_t length = 0;
    int32_t count = 0;
    if (!FindChunk(stream, CHUNK_STRUCT, &length)) return nullptr;
    if (length < 4 || !Stream_ReadInt32(stream, &count, 4)) {
        if (length < 4) RaiseError(ERR_SHORT_READ);
        return nullptr;
    }
    // Every entry is a 4-byte word of the struct: a count the struct cannot
    // hold is refused before anything is allocated.
    if (count < 0 || (uint32_t)count > (length - 4) / 4) {
        RaiseError(WORLD_ERR_BAD_DATA);
        return nullptr;
    }
    if (count == 0) return length > 4 && !Stream_Skip(stream, length - 4) ? nullptr : list;
    int32_t* refs = (int32_t*)Engine_Malloc(sizeof(int32_t) * (size_t)count);
    list->materials = (Material**)Engine_Calloc((size_t)count, sizeof(Material*));
    if (!refs || !list->materials) {
        if (refs) Engine_Free(refs);
        MaterialList_Deinitialize(list);
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    list->capacity = count;
    bool ok = Stream_ReadInt32(stream, refs, 4 * (uint32_t)count) != nullptr;
    const uint32_t rest = length - 4 - 4 * (uint32_t)count;
    if (ok && rest) ok = Stream_Skip(stream, rest) != nullptr;
    for (int32_t i = 0; ok && i < count; i++) {
        if (refs[i] >= 0) {
            // A back-reference must name an earlier entry.
            ok = refs[i] < i;
            if (!ok) RaiseError(WORLD_ERR_BAD_DATA);
            else ok = MaterialList_AppendMaterial(list, list->materials[refs[i]]) >= 0;
            continue;
        }
        if (refs[i] != -1) {
            RaiseError(WORLD_ERR_BAD_DATA);
            ok = false;
            break;
        }
        uint32_t materialLength = 0;
        Material* material = FindChunk(stream, CHUNK_MATERIAL, &materialLength) ? Material_StreamRead(stream) : nullptr;
        ok = material && MaterialList_AppendMaterial(list, material) >= 0;
        if (material) Material_Destroy(material);
    }
    Engine_Free(refs);
    if (!ok) {
        MaterialList_Deinitialize(list);
        return nullptr;
    }
    return list;
}

int32_t worldinternal::MaterialModule_GlobalsSize(void) { return (int32_t)sizeof(MaterialGlobals); }
