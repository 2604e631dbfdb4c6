#include "app/namecache.h"

#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"

namespace {

struct Search {
    uint32_t hash;
    const uint32_t* key;
    void* value;
};

int MatchesName(void* item, void* arg)
{
    NameCacheEntry* e = (NameCacheEntry*)item;
    Search* s = (Search*)arg;
    return e->hash == s->hash && (!s->key || e->key == *s->key);
}

int HoldsValue(void* item, void* arg) { return ((NameCacheEntry*)item)->value == ((Search*)arg)->value; }

NameCacheEntry* FindValue(NameCache* cache, void* value)
{
    if (!cache) return nullptr;
    Search s = {0, nullptr, value};
    return (NameCacheEntry*)List_ForEach(cache->entries, HoldsValue, &s);
}

}  // namespace

NameCache* NameCache_Create(void)
{
    NameCache* cache = (NameCache*)Mem_Calloc(sizeof(NameCache), 8);
    if (!cache) return nullptr;
    cache->entries = List_Create(sizeof(NameCacheEntry), 8);
    if (!cache->entries) {
        Mem_Free(cache);
        return nullptr;
    }
    return cache;
}

List* NameCache_GetPool(NameCache* cache) { return cache ? cache->entries : nullptr; }

void NameCache_Destroy(NameCache* cache)
{
    if (!cache) return;
    List_Destroy(cache->entries);
    Mem_Free(cache);
}

int NameCache_Add(NameCache* cache, const char* name, void* value, uint32_t key)
{
    if (!cache || !name) return 0;
    NameCacheEntry* e = (NameCacheEntry*)List_Alloc(cache->entries);
    if (!e) return 0;
    *e = NameCacheEntry{value, 1, Name_Hash(name, 1, 1), key};
    return 1;
}

void* NameCache_Acquire(NameCache* cache, const char* name, const uint32_t* key)
{
    if (!cache || !name) return nullptr;
    Search s = {Name_Hash(name, 1, 1), key, nullptr};
    NameCacheEntry* e = (NameCacheEntry*)List_ForEach(cache->entries, MatchesName, &s);
    if (!e) return nullptr;
    e->count++;
    return e->value;
}

NameCacheEntry* NameCache_AddRef(NameCache* cache, void* value)
{
    NameCacheEntry* e = FindValue(cache, value);
    if (e) e->count++;
    return e;
}

int NameCache_Release(NameCache* cache, void* value)
{
    NameCacheEntry* e = FindValue(cache, value);
    if (!e) return 1;
    if (e->count > 1) {
        e->count--;
        return 0;
    }
    List_Free(cache->entries, e);
    return 1;
}

uint32_t NameCache_GetCount(NameCache* cache, void* value)
{
    NameCacheEntry* e = FindValue(cache, value);
    return e ? e->count : 0;
}
