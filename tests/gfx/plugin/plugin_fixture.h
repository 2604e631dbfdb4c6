// Test harness for the graphics plugins: the world harness with the plugin
// chain attached in the program's order (random numbers, skinning,
// hierarchical animation, collision data, material effects), a current
// texture dictionary and helpers shared by the plugin tests.
#pragma once

#include <cstring>
#include <vector>

#include "gfx/core/frame.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/plugin/collision/collision.h"
#include "gfx/plugin/hanim/hanim.h"
#include "gfx/plugin/matfx/matfx.h"
#include "gfx/plugin/random/random.h"
#include "gfx/plugin/skin/skin.h"
#include "tests/gfx/world/world_fixture.h"

class PluginTest : public WorldTextureTest {
protected:
    void RegisterPlugins() override
    {
        ASSERT_EQ(Random_PluginAttach(), 1);
        ASSERT_EQ(Skin_PluginAttach(), 1);
        ASSERT_EQ(HAnim_PluginAttach(), 1);
        ASSERT_EQ(GeomCollision_PluginAttach(), 1);
        ASSERT_EQ(MatFX_PluginAttach(), 1);
    }

    // A size x size texture of one colour (0xAARRGGBB), named; caller releases.
    static Texture* SolidTexture(const char* name, uint32_t colour, int size = 4)
    {
        Raster* r = Raster_Create(size, size, 0, RASTERTYPETEXTURE | RASTERFORMAT8888);
        uint8_t* p = Raster_Lock(r, 0, RASTERLOCKWRITE);
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++) memcpy(p + y * r->stride + 4 * x, &colour, 4);
        Raster_Unlock(r);
        Texture* t = Texture_Create(r);
        Texture_SetName(t, name);
        return t;
    }

    // The extension chunk of an object's registry and the object read back
    // from such bytes (through the registry's extension reader).
    static worldtest::Bytes WriteExtensions(PluginRegistry* registry, const void* object)
    {
        Stream* s = worldtest::OpenWrite();
        EXPECT_NE(PluginRegistry_StreamWriteExtensions(registry, s, object), nullptr);
        return worldtest::CloseWrite(s);
    }
    static bool ReadExtensions(PluginRegistry* registry, worldtest::Bytes& bytes, void* object)
    {
        Stream* s = worldtest::OpenRead(bytes);
        const bool ok = PluginRegistry_StreamReadExtensions(registry, s, object) != nullptr;
        Stream_Close(s, nullptr);
        return ok;
    }
    // An extension chunk holding one sub-chunk of plugin id with payload.
    static worldtest::Bytes ExtensionChunk(uint32_t id, const worldtest::Bytes& payload)
    {
        worldtest::Bytes out(24 + payload.size());
        worldtest::PutU32(out, 0, CHUNK_EXTENSION);
        worldtest::PutU32(out, 4, (uint32_t)(12 + payload.size()));
        worldtest::PutU32(out, 8, Stream_EncodeStamp(STREAM_VERSION, STREAM_BUILD));
        worldtest::PutU32(out, 12, id);
        worldtest::PutU32(out, 16, (uint32_t)payload.size());
        worldtest::PutU32(out, 20, Stream_EncodeStamp(STREAM_VERSION, STREAM_BUILD));
        if (!payload.empty()) memcpy(out.data() + 24, payload.data(), payload.size());
        return out;
    }
    // Adds a sub-chunk of plugin id to the extension chunk that ends an
    // object chunk (a geometry or an atomic written by its writer), fixing
    // the lengths on the way.
    static worldtest::Bytes AppendSubChunk(worldtest::Bytes chunk, uint32_t id, const worldtest::Bytes& payload)
    {
        const uint32_t add = 12 + (uint32_t)payload.size();
        size_t at = 12;
        while (at < chunk.size() && worldtest::U32(chunk, at) != CHUNK_EXTENSION)
            at += 12 + worldtest::U32(chunk, at + 4);
        EXPECT_LT(at, chunk.size());
        worldtest::PutU32(chunk, 4, worldtest::U32(chunk, 4) + add);
        worldtest::PutU32(chunk, at + 4, worldtest::U32(chunk, at + 4) + add);
        worldtest::Bytes sub(12);
        worldtest::PutU32(sub, 0, id);
        worldtest::PutU32(sub, 4, (uint32_t)payload.size());
        worldtest::PutU32(sub, 8, Stream_EncodeStamp(STREAM_VERSION, STREAM_BUILD));
        sub.insert(sub.end(), payload.begin(), payload.end());
        const size_t end = at + 12 + worldtest::U32(chunk, at + 4) - add;
        chunk.insert(chunk.begin() + (ptrdiff_t)end, sub.begin(), sub.end());
        return chunk;
    }
    // The payload of the first sub-chunk of plugin id in an object chunk's
    // extension chunk (empty when there is none).
    static worldtest::Bytes SubChunk(const worldtest::Bytes& chunk, uint32_t id)
    {
        size_t at = 12;
        while (at < chunk.size() && worldtest::U32(chunk, at) != CHUNK_EXTENSION)
            at += 12 + worldtest::U32(chunk, at + 4);
        const size_t end = at + 12 + worldtest::U32(chunk, at + 4);
        for (at += 12; at + 12 <= end; at += 12 + worldtest::U32(chunk, at + 4))
            if (worldtest::U32(chunk, at) == id)
                return worldtest::Bytes(chunk.begin() + (ptrdiff_t)at + 12,
                                        chunk.begin() + (ptrdiff_t)(at + 12 + worldtest::U32(chunk, at + 4)));
        return {};
    }
    // bytes with the word at `at` replaced.
    static worldtest::Bytes Edited(worldtest::Bytes bytes, size_t at, uint32_t value)
    {
        worldtest::PutU32(bytes, at, value);
        return bytes;
    }
    // The atomic chunk of an atomic, and an atomic read back from one.
    static worldtest::Bytes WriteAtomic(const Atomic* atomic)
    {
        Stream* s = worldtest::OpenWrite();
        EXPECT_NE(Atomic_StreamWrite(atomic, s), nullptr);
        return worldtest::CloseWrite(s);
    }
    static Atomic* ReadAtomic(worldtest::Bytes& bytes)
    {
        Stream* s = worldtest::OpenRead(bytes);
        Atomic* a = Stream_FindChunk(s, CHUNK_ATOMIC, nullptr, nullptr) ? Atomic_StreamRead(s) : nullptr;
        Stream_Close(s, nullptr);
        return a;
    }
    static Matrix Identity()
    {
        Matrix m;
        Matrix_SetIdentity(&m);
        return m;
    }
    // A translation, its flags honest: orthonormal, not the identity.
    static Matrix Translation(float x, float y, float z)
    {
        Matrix m = Identity();
        m.pos = Vec3{x, y, z};
        m.flags = MATRIX_ORTHONORMAL;
        return m;
    }
    // Little-endian words appended to a byte vector.
    static void Words(worldtest::Bytes& out, std::initializer_list<uint32_t> words)
    {
        for (uint32_t w : words) {
            const size_t at = out.size();
            out.resize(at + 4);
            worldtest::PutU32(out, at, w);
        }
    }
    static uint32_t FloatBits(float f)
    {
        uint32_t u;
        memcpy(&u, &f, 4);
        return u;
    }
};
