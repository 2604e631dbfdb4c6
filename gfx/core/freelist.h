// Free lists: fixed-size entry allocators with a bitmap per block, and the
// engine's memory module (the list of all free lists).
//
// A block is one allocation: two list links, the bitmap (most significant bit
// of byte 0 is entry 0), then the entries from the first multiple of the
// alignment after the bitmap. Entries are handed out lowest first; a block
// that empties is released at once unless it is the list's only block.
// With blocks turned off (Engine_Init flag) every entry is an allocation of
// its own, still linked in the list so that destroy and for-each reach it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/core/engine.h"

struct FreeListBlock;

struct FreeList {
    int32_t entrySize;        // rounded up to the alignment
    int32_t entriesPerBlock;
    int32_t bitmapBytes;      // (entriesPerBlock + 7) / 8
    int32_t alignment;        // at least 8
    EngineLink blocks;        // head of the block list (newest first)
    uint32_t flags;           // FREELIST_*
    EngineLink allLists;      // link in the list of all free lists
    int32_t walking;          // FreeList_ForAllUsed in progress: empty blocks wait
    EngineLink released;      // entries freed during a walk without blocks, freed after it
};

enum : uint32_t {
    FREELIST_CALLER_RECORD = 1,  // the record belongs to the caller
    FREELIST_RELEASE_EMPTY = 2,  // release a block as soon as it empties
    FREELIST_NO_BLOCKS = 4,      // made while free-list blocks were off: one allocation per entry
};

// Creates a free list; record may be the caller's own (never freed). The
// alignment is raised to at least 8; preallocBlocks counts as 0 when
// free-list blocks are off. Null when memory runs out (nothing is left).
FreeList* FreeList_CreateEx(int32_t entrySize, int32_t entriesPerBlock, int32_t alignment,
                            int32_t preallocBlocks, FreeList* record);
FreeList* FreeList_Create(int32_t entrySize, int32_t entriesPerBlock, int32_t alignment);
// Frees every block (entries still in use included) and the record.
void FreeList_Destroy(FreeList* list);
// Through the engine's free-list slots, which Engine_Init points at the block
// allocator or at one allocation per entry.
inline void* FreeList_Alloc(FreeList* list) { return g_engineInstance->freeListAlloc(list); }
inline void FreeList_Free(FreeList* list, void* entry) { g_engineInstance->freeListFree(list, entry); }
void* FreeList_BlockAlloc(FreeList* list);
void FreeList_BlockFree(FreeList* list, void* entry);
void* FreeList_DirectAlloc(FreeList* list);
void FreeList_DirectFree(FreeList* list, void* entry);

typedef void (*FreeListCallback)(void* entry, void* data);
// Calls callback for every used entry; the callback may free the entry it is
// given (and any other). Null when the temporary bitmap copy cannot be made.
FreeList* FreeList_ForAllUsed(FreeList* list, FreeListCallback callback, void* data);
// Releases empty blocks (never the last one); returns entry size x blocks freed.
int32_t FreeList_Purge(FreeList* list);
int32_t FreeList_PurgeAll(void);
// Number of blocks the list holds (for tests and statistics).
int32_t FreeList_BlockCount(const FreeList* list);
// Validation walker for tests, after structural changes: 1 when the record's
// sizes agree with each other, the block ring is whole, no bitmap marks an
// entry past the block's count, entries of per-entry allocations point back
// at their links, and released entries wait only while a walk runs; else 0.
// Reads every block; changes nothing.
int32_t FreeList_Validate(const FreeList* list);

// Opens the memory module: installs the memory functions (null for the
// standard library's) in the current instance and empties the list of lists.
int32_t Memory_ModuleOpen(const MemoryFunctions* memoryFunctions);
// Destroys every free list still alive.
int32_t Memory_ModuleClose(void);
