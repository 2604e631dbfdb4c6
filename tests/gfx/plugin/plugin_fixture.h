// Test harness for the graphics plugins: the layers' harness with the plugin
// chain attached in the program's order (random numbers, skinning,
// hierarchical animation, collision data, material effects), and helpers for
// the extension chunks the plugins read and write.
#pragma once

#include "gfx/plugin/collision/collision.h"
#include "gfx/plugin/hanim/hanim.h"
#include "gfx/plugin/matfx/matfx.h"
#include "gfx/plugin/random/random.h"
#include "gfx/plugin/skin/skin.h"
#include "tests/gfx/layer_fixture.h"

namespace plugintest {

using namespace gfxtest;

template <typename Base>
class WithPlugins : public Base {
protected:
    void RegisterPlugins() override
    {
        for (auto attach : {Random_PluginAttach, Skin_PluginAttach, HAnim_PluginAttach, GeomCollision_PluginAttach,
                            MatFX_PluginAttach})
            ASSERT_EQ(attach(), 1);
    }
};

// A sub-chunk header of plugin id with the payload after it.
inline Bytes SubChunkOf(uint32_t id, const Bytes& payload)
{
    Bytes out;
    Words(out, {id, (uint32_t)payload.size(), Stream_EncodeStamp(STREAM_VERSION, STREAM_BUILD)});
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}
// An extension chunk holding one sub-chunk.
inline Bytes ExtensionChunk(uint32_t id, const Bytes& payload)
{
    return SubChunkOf(CHUNK_EXTENSION, SubChunkOf(id, payload));
}
// Where the extension chunk that ends an object chunk (a geometry, an atomic
// or a material written by its writer) starts.
inline size_t ExtensionAt(const Bytes& chunk)
{
    size_t at = 12;
    while (at < chunk.size() && U32(chunk, at) != CHUNK_EXTENSION) at += 12 + U32(chunk, at + 4);
    return at;
}
// The object chunk with a sub-chunk of plugin id added to its extension
// chunk, the lengths fixed on the way.
inline Bytes AppendSubChunk(Bytes chunk, uint32_t id, const Bytes& payload)
{
    const size_t at = ExtensionAt(chunk), add = 12 + payload.size();
    EXPECT_LT(at, chunk.size());
    const Bytes sub = SubChunkOf(id, payload);
    chunk.insert(chunk.begin() + (ptrdiff_t)(at + 12 + U32(chunk, at + 4)), sub.begin(), sub.end());
    PutU32(chunk, 4, U32(chunk, 4) + (uint32_t)add);
    PutU32(chunk, at + 4, U32(chunk, at + 4) + (uint32_t)add);
    return chunk;
}
// The payload of the first sub-chunk of plugin id in an object chunk's
// extension chunk (empty when there is none).
inline Bytes SubChunk(const Bytes& chunk, uint32_t id)
{
    const size_t ext = ExtensionAt(chunk), end = ext + 12 + U32(chunk, ext + 4);
    for (size_t at = ext + 12; at + 12 <= end; at += 12 + U32(chunk, at + 4))
        if (U32(chunk, at) == id)
            return Bytes(chunk.begin() + (ptrdiff_t)at + 12, chunk.begin() + (ptrdiff_t)(at + 12 + U32(chunk, at + 4)));
    return {};
}
inline Bytes Edited(Bytes bytes, size_t at, uint32_t value)
{
    PutU32(bytes, at, value);
    return bytes;
}
// The registry's extension chunk of object, and object read from such bytes.
inline Bytes WriteExtensions(PluginRegistry* registry, const void* object)
{
    return Written(
        [registry](const void* o, Stream* s) { return PluginRegistry_StreamWriteExtensions(registry, s, o); }, object);
}
inline bool ReadExtensions(PluginRegistry* registry, Bytes bytes, void* object)
{
    Stream* s = OpenRead(bytes);
    const bool ok = PluginRegistry_StreamReadExtensions(registry, s, object) != nullptr;
    Stream_Close(s, nullptr);
    return ok;
}
inline Matrix Translation(float x, float y, float z)  // orthonormal, not the identity
{
    Matrix m;
    Matrix_SetIdentity(&m);
    m.pos = Vec3{x, y, z};
    m.flags = MATRIX_ORTHONORMAL;
    return m;
}
// A plugin's entry in a registry (its copy callback, offset and size).
inline const PluginEntry* EntryOf(PluginRegistry* registry, uint32_t id)
{
    for (const PluginEntry* e = registry->first; e; e = e->next)
        if (e->pluginId == id) return e;
    return nullptr;
}

}  // namespace plugintest

using PluginTest = plugintest::WithPlugins<WorldTest>;
using PluginSceneTest = plugintest::WithPlugins<SceneTest>;
