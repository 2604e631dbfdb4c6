// Name cache: a registry of shared things (sounds here; scenes, meshes and
// sprites in the engine layer) by name. The first load of a name adds the
// thing with one reference; later loads acquire it (one more reference);
// a release frees the entry at the last reference and tells the caller to
// free the thing.
//
// Names are compared by Name_Hash(name, 1, 1): case and white space do not
// count. A key tells variants of one name apart (the sound system's load
// flags). Lookups walk the entries in pool order and take the first match.
// Main thread only.
#pragma once

#include <cstdint>

struct List;

struct NameCacheEntry {
    void* value;
    uint32_t count;  // references
    uint32_t hash;   // Name_Hash(name, 1, 1)
    uint32_t key;
};

struct NameCache {
    List* entries;  // NameCacheEntry pool
};

// A new empty cache, or null when memory runs out. NameCache_Destroy frees
// it (the values themselves belong to the caller).
NameCache* NameCache_Create(void);
void NameCache_Destroy(NameCache* cache);
// The cache's entry pool (a caller may fix its capacity before the first
// entry); null for a null cache.
List* NameCache_GetPool(NameCache* cache);
// Adds an entry {value, 1, hash of name, key}, with no check for one that
// exists already. 0 when memory ran out or an argument is null.
int NameCache_Add(NameCache* cache, const char* name, void* value, uint32_t key);
// The value of the first entry whose name hash matches (and whose key equals
// *key when key is given), with one more reference; null when none does.
void* NameCache_Acquire(NameCache* cache, const char* name, const uint32_t* key);
// One more reference on the entry that holds value; the entry, or null when
// no entry holds it.
NameCacheEntry* NameCache_AddRef(NameCache* cache, void* value);
// Drops one reference of the entry that holds value. 1 when the entry went
// (that was the last reference) or no entry holds the value: the caller
// frees the thing; 0 while references remain.
int NameCache_Release(NameCache* cache, void* value);
// References of the entry that holds value; 0 when none does.
uint32_t NameCache_GetCount(NameCache* cache, void* value);
