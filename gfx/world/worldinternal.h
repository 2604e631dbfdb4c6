// Shared pieces of the world library's modules. Not for callers.
#pragma once
#include <cstdint>
#include <cstring>

#include "common/assert.h"
#include "common/bytes.h"
#include "gfx/core/error.h"
#include "gfx/core/pipeline.h"
#include "gfx/core/stream.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"

namespace worldinternal {

// Raises a code of the world library: general codes (bit 31) go in as they
// are, the library's own under plugin id 2.
inline void RaiseError(uint32_t code)
{
    ErrorRecord record = {(code & 0x80000000u) ? 0 : (int32_t)WORLD_PLUGIN_ID, (int32_t)code};
    Error_Set(&record);
}

// The two words read from an object's right-to-render extension.
struct RightsSlots {
    uint32_t pluginId;
    uint32_t extraData;
};

inline int32_t RightsSize(const Pipeline* pipeline) { return pipeline && pipeline->pluginId ? 8 : 0; }

inline Stream* RightsWrite(Stream* stream, const Pipeline* pipeline)
{
    uint32_t words[2] = {pipeline->pluginId, pipeline->pluginData};
    return Stream_WriteInt32(stream, words, 8);
}

inline Stream* RightsRead(Stream* stream, int32_t length, RightsSlots* slots)
{
    if (length < 4) {
        RaiseError(ERR_SHORT_READ);  // a refusal says why, like every reader's
        return nullptr;
    }
    if (!Stream_ReadInt32(stream, &slots->pluginId, 4)) return nullptr;
    if (length >= 8 && !Stream_ReadInt32(stream, &slots->extraData, 4)) return nullptr;
    if (length > 8 && !Stream_Skip(stream, (uint32_t)length - 8)) return nullptr;
    return stream;
}

// Reads a struct of `length` bytes into a zero-filled record of `size` bytes
// and skips what lies beyond it.
inline bool ReadStruct(Stream* stream, uint32_t length, uint8_t* record, uint32_t size)
{
    memset(record, 0, size);
    const uint32_t take = length < size ? length : size;
    if (take && Stream_Read(stream, record, take) != take) return false;
    return length <= size || Stream_Skip(stream, length - size);
}

// Bytes the stream has moved since `mark` (for chunks whose end must be reached).
inline uint64_t Moved(const Stream* stream, uint64_t mark) { return stream->moved - mark; }

// Sizes of the engine-module globals of each world module.
int32_t MaterialModule_GlobalsSize(void);
int32_t MeshModule_GlobalsSize(void);
int32_t GeometryModule_GlobalsSize(void);
int32_t AtomicModule_GlobalsSize(void);
int32_t LightModule_GlobalsSize(void);
int32_t WorldModule_GlobalsSize(void);

// Distinct values in first-seen order; the key of a value is its position.
struct KeyList {
    const void* values[0x400];
    int32_t count;
    uint16_t Key(const void* value)
    {
        for (int32_t i = 0; i < count; i++)
            if (values[i] == value) return (uint16_t)i;
        if (count == (int32_t)(sizeof(values) / sizeof(values[0]))) return 0xFFFF;
        values[count] = value;
        return (uint16_t)count++;
    }
};

struct MaterialKeys {
    uint16_t texture, raster, pipeline;
    bool known;
};

// The sort keys of an owner's triangles (geometry or sector), collected in
// triangle order: positions of each material's texture, raster and pipeline
// among the distinct values met so far. No material counts as untextured
// with no pipeline.
struct TriangleKeyCollector {
    KeyList textures, rasters, pipelines;
    MaterialKeys* perMaterial;  // list count + 1 entries (the last for no material)
    int32_t count;
};

bool TriangleKeys_Begin(TriangleKeyCollector* c, int32_t materials);
void TriangleKeys_End(TriangleKeyCollector* c);
// Adds one triangle to mesh; index < 0 (or outside the list) means no material.
BuildMesh* TriangleKeys_Add(TriangleKeyCollector* c, BuildMesh* mesh, const MaterialList* list, int32_t index,
                            uint16_t v0, uint16_t v1, uint16_t v2);

}  // namespace worldinternal
