// The resource arena: a fixed budget of memory for device instance data.
//
// Entries are created into the current frame's list; every presented frame
// (ResourceArena_NewFrame) moves them to the older list. When the arena is
// full the oldest entries are evicted first: their destroy notify runs and
// the owner's back-pointer is cleared, so the owner rebuilds the data when it
// next needs it. The arena behaves as a cache, never as storage.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/core/engine.h"

struct ResourceArenaEntry;
typedef void (*ResourceArenaNotifyFn)(ResourceArenaEntry* entry);

struct ResourceArenaEntry {
    EngineLink link;                  // in a frame list; next null for an entry outside the arena
    uint32_t size;                    // data bytes
    void* owner;
    ResourceArenaEntry** ownerRef;    // where the owner keeps the entry; cleared when it goes
    ResourceArenaNotifyFn destroyNotify;
    // the caller's data follows (16-byte aligned)
};

inline void* ResourceArenaEntry_Data(ResourceArenaEntry* e) { return (void*)(e + 1); }

// Before the engine starts: records the size for the module. Afterwards:
// empties the arena and rebuilds it with the new size. 0 on failure
// (0x80000013 or 12; the arena is then empty and unusable).
int32_t ResourceArena_SetSize(size_t bytes);
// Stores the entry's address through ownerRef and returns it; evicts old
// entries as needed. Null (ownerRef cleared, error 12) when even an empty
// arena cannot hold it or no arena exists.
ResourceArenaEntry* ResourceArena_AllocateEntry(void* owner, ResourceArenaEntry** ownerRef, uint32_t size,
                                                ResourceArenaNotifyFn destroyNotify);
// Marks the entry as the most recently used: it is unlinked and put at the
// head of the current frame's list, so it is evicted after every older one.
// An entry made outside the arena (null link.next) is left alone.
void ResourceArena_MoveToFront(ResourceArenaEntry* entry);
// Notifies, clears the owner's pointer and frees the entry.
void ResourceArena_FreeEntry(ResourceArenaEntry* entry);
void ResourceArena_NewFrame(void);
void ResourceArena_Empty(void);

// Bytes of entries in use, and bytes evicted from the current frame's list
// since the last NewFrame.
size_t ResourceArena_BytesInUse(void);
size_t ResourceArena_BytesEvicted(void);

void* ResourceArena_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* ResourceArena_ModuleClose(void* instance, int32_t offset, int32_t size);
