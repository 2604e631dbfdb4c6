// Pool of fixed-size items ("List").
//
// Items come from up to 32 blocks: block i holds 2^i items (1, 2, 4, ...), or
// every block holds a fixed count and the pool never grows past its first
// block. Each slot starts with a header word: a live item's header holds the
// slot's own address (the live tag), a free slot's header links to the next
// free slot. Freed items are served again last-in first-out. Item addresses
// never move while the item is live. Not thread-safe: main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int LIST_MAX_BLOCKS = 32;

// Stamped into the header of each slot unlinked when a trailing block is
// released, so a stale pointer into it is recognisable in a debugger.
constexpr uint32_t LIST_DEAD_SLOT = 0xD0D0DEADu;

struct List {
    size_t stride;                     // bytes per slot: header + item rounded up to the alignment
    size_t headerSize;                 // bytes in front of each item (8, or the alignment above 8)
    size_t alignment;                  // item alignment, at least 8
    uint8_t* blocks[LIST_MAX_BLOCKS];  // blocks in creation order; unused entries null
    uint32_t blockCount;               // blocks created (at most 32)
    uint32_t fixedBlockItems;          // 0: block i holds 2^i items; else items of the single block
    void* freeList;                    // first free slot; each free slot's header links to the next
    uint32_t refCount;                 // 1 after creation
    List* next;                        // global list of all pools, newest first
    List* prev;
};

// Callback of List_ForEach: non-zero stops the walk at this item.
typedef int (*ListForEachFn)(void* item, void* arg);

// A new empty pool with one reference, or null when the heap fails or the
// alignment is not a power of two (0 means the default). Release with
// List_Destroy.
List* List_Create(size_t itemSize, size_t alignment = 0);

// Adds a reference; List_Destroy drops one.
void List_AddRef(List* pool);

// Fixes the pool at one block of `itemsPerBlock` items and creates it now.
// 1 on success; 0 (pool unchanged) when a block exists already, the count is
// 0, or the block can't be allocated.
int List_SetBlockSize(List* pool, uint32_t itemsPerBlock);

// A zeroed item, or null when the pool can't grow (32 blocks, fixed block
// full, heap failure); the pool is unchanged on failure.
void* List_Alloc(List* pool);

// Returns a live item to the pool. Anything that is not a live item of this
// pool (null, freed twice, another pool's item, a stale pointer after a
// clear) is ignored without being read outside this pool's blocks.
void List_Free(List* pool, void* item);

// Number of live items (visits every slot).
uint32_t List_Count(const List* pool);

// Calls fn(item, arg) for every live item, block by block in address order,
// and returns the first item for which fn returned non-zero, or null. Items
// freed by fn are skipped from then on; items fn allocates may or may not be
// visited.
void* List_ForEach(List* pool, ListForEachFn fn, void* arg);

// all = 1: frees every block; every item becomes invalid. all = 0: releases
// trailing blocks that hold no live item, stopping at the first that does.
void List_Clear(List* pool, int all = 1);

// Drops one reference and returns the count left; at 0 the pool and its
// blocks are freed and the pointer is invalid. Null gives 0.
uint32_t List_Destroy(List* pool);

// First pool of the global list of live pools (newest first; follow ->next).
List* List_GetFirst();

// Bytes held by all pools: headers plus blocks.
size_t List_GetTotalBytes();
