#include "gfx/core/arraylist.h"

#include <cstddef>
#include <cstdint>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"

namespace {

bool Grow(ArrayList* list, int64_t capacity)
{
    int64_t bytes = capacity * list->entrySize;
    if (capacity > INT32_MAX || bytes > ((int64_t)1 << 40)) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return false;
    }
    void* grown = Engine_Realloc(list->entries, (size_t)bytes);
    if (!grown) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return false;
    }
    list->entries = grown;
    list->capacity = (int32_t)capacity;
    return true;
}

}  // namespace

ArrayList* ArrayList_Create(int32_t entrySize)
{
    if (entrySize <= 0) return nullptr;
    ArrayList* list = (ArrayList*)Engine_Malloc(sizeof(ArrayList));
    if (!list) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    list->entrySize = entrySize;
    list->count = 0;
    list->capacity = 20;
    list->entries = Engine_Malloc((size_t)20 * (size_t)entrySize);
    if (!list->entries) {
        Engine_Free(list);
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    return list;
}

void* ArrayList_GetNewEntry(ArrayList* list)
{
    if (list->count >= list->capacity && !Grow(list, (int64_t)list->capacity + list->capacity / 4)) return nullptr;
    return (char*)list->entries + (size_t)list->count++ * (size_t)list->entrySize;
}

void* ArrayList_GetNewEntries(ArrayList* list, int32_t n)
{
    if (n <= 0) return nullptr;
    if ((int64_t)list->count + n >= list->capacity &&
        !Grow(list, (int64_t)list->capacity + list->capacity / 4 + n))
        return nullptr;
    void* first = (char*)list->entries + (size_t)list->count * (size_t)list->entrySize;
    list->count += n;
    return first;
}

void* ArrayList_GetEntry(ArrayList* list, int32_t i)
{
    if (i < 0 || i >= list->count) return nullptr;
    return (char*)list->entries + (size_t)i * (size_t)list->entrySize;
}

void* ArrayList_GetArray(ArrayList* list) { return list->count ? list->entries : nullptr; }

void ArrayList_Clear(ArrayList* list) { list->count = 0; }

void ArrayList_Destroy(ArrayList* list)
{
    if (!list) return;
    Engine_Free(list->entries);
    Engine_Free(list);
}

void* ArrayList_DestroyKeepArray(ArrayList* list)
{
    void* array = list->count ? list->entries : nullptr;
    if (!array) Engine_Free(list->entries);
    Engine_Free(list);
    return array;
}
