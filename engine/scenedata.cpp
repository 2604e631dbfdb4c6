#include "engine/scenedata.h"

#include <cstring>

#include "common/memory.h"
#include "engine/lwo.h"
#include "engine/scene.h"

uint32_t SceneData_AddName(char** pool, uint32_t* size, uint32_t* capacity, const char* text, size_t length)
{
    if (length >= 0x7FFFFFFFu - *size) return SCENE_NONE;
    const uint32_t need = *size + (uint32_t)length + 1;
    if (need > *capacity) {
        uint32_t grown = *capacity;
        while (grown < need) grown += SCENE_POOL_STEP;
        char* block = (char*)Mem_Realloc(*pool, 8, grown);
        if (Mem_GetSize(block) < grown) return SCENE_NONE;
        *pool = block;
        *capacity = grown;
    }
    const uint32_t offset = *size;
    memcpy(*pool + offset, text, length);
    (*pool)[offset + length] = 0;
    *size = need;
    return offset;
}

const char* SceneData_Name(const char* pool, uint32_t size, uint32_t offset)
{
    if (!pool || offset >= size) return "";
    return pool + offset;
}

void SceneData_Free(Scene* scene)
{
    for (uint32_t i = 0; i < scene->itemCapacity && scene->items; i++) {
        SceneItem* item = &scene->items[i];
        Mem_Free(item->keys);
        Mem_Free(item->dissolveValues);
        Mem_Free(item->dissolveTimes);
        Mem_Free(item->intensityValues);
        Mem_Free(item->intensityTimes);
    }
    for (uint32_t i = 0; i < scene->itemCapacity && scene->records; i++) {
        Lwo_Free(scene->records[i].lwo);
        Mem_Free(scene->records[i].weightFactors);
    }
    for (uint32_t b = 0; b < scene->boneCount && scene->bones; b++) {
        Mem_Free(scene->bones[b].keys);
        Mem_Free(scene->bones[b].name);
    }
    Mem_Free(scene->items);
    Mem_Free(scene->records);
    Mem_Free(scene->parentCodes);
    Mem_Free(scene->bones);
    Mem_Free(scene->boneParents);
    Mem_Free(scene->weightMapNames);
    Mem_Free(scene->itemNames);
    scene->items = nullptr;
    scene->records = nullptr;
    scene->root = nullptr;
    scene->parentCodes = nullptr;
    scene->bones = nullptr;
    scene->boneParents = nullptr;
    scene->weightMapNames = scene->itemNames = nullptr;
    scene->weightMapSize = scene->weightMapCapacity = scene->itemNameSize = scene->itemNameCapacity = 0;
    scene->itemCount = scene->itemCapacity = scene->boneCount = 0;
}
