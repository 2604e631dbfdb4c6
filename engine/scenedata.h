// The parsed data of a scene, shared by the text parser, the cache reader and
// the release: name pools and freeing. Not for callers outside the scene
// modules.
#pragma once

#include <cstddef>
#include <cstdint>

struct Scene;

enum : uint32_t {
    SCENE_POOL_STEP = 256,    // name pools grow by this many bytes
    SCENE_ITEM_STEP = 10,     // item arrays grow by this many items
    SCENE_MAX_BONES = 100,    // room in the bone array
    SCENE_MAX_KEYS = 0xFFFE,  // keys of one motion or envelope (one more for the end key)
};

// Appends length characters of text and a NUL to the pool: the offset of the
// name, or SCENE_NONE when the pool cannot grow (the pool is unchanged).
uint32_t SceneData_AddName(char** pool, uint32_t* size, uint32_t* capacity, const char* text, size_t length);
// The name at offset of a pool of size bytes, or "" for SCENE_NONE or an
// offset outside the pool.
const char* SceneData_Name(const char* pool, uint32_t size, uint32_t offset);
// Frees what the parse or the cache reader made: items with their keys and
// envelopes, records and their working fields, parent codes, bones, bone
// parents and both pools; the fields are left null and the counts 0.
void SceneData_Free(Scene* scene);
