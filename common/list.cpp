#include "common/list.h"

#include "common/memory.h"

#include <cstring>

namespace {

struct ListModule {
    List* head;         // newest pool first
    size_t totalBytes;  // pool headers plus blocks
};

ListModule g_lists;

uint32_t BlockItems(const List* pool, uint32_t index)
{
    return pool->fixedBlockItems ? pool->fixedBlockItems : (uint32_t)1 << index;
}

size_t BlockBytes(const List* pool, uint32_t index)
{
    return pool->stride * BlockItems(pool, index);
}

bool IsLive(const uint8_t* slot)
{
    void* tag;
    memcpy(&tag, slot, sizeof tag);
    return tag == slot;
}

void SetHeader(uint8_t* slot, const void* value)
{
    memcpy(slot, &value, sizeof value);
}

void* NextFree(const void* slot)
{
    void* next;
    memcpy(&next, slot, sizeof next);
    return next;
}

// Adds one block at the end and pushes its slots so that the last slot of
// the block comes off the free list first. 0 when the pool can't grow.
int Grow(List* pool)
{
    if (pool->blockCount == LIST_MAX_BLOCKS)
        return 0;
    if (pool->fixedBlockItems && pool->blockCount > 0)
        return 0;
    uint32_t items = BlockItems(pool, pool->blockCount);
    if (items > SIZE_MAX / pool->stride)
        return 0;
    size_t bytes = pool->stride * items;
    uint8_t* block = (uint8_t*)Mem_Calloc(bytes, pool->alignment);
    if (!block)
        return 0;
    g_lists.totalBytes += bytes;
    for (uint32_t i = 0; i < items; ++i) {
        uint8_t* slot = block + (size_t)i * pool->stride;
        SetHeader(slot, pool->freeList);
        pool->freeList = slot;
    }
    pool->blocks[pool->blockCount++] = block;
    return 1;
}

// The slot of `item` when it lies on a slot boundary inside one of the
// pool's blocks, else null. Compares addresses as integers: the pointer may
// belong to anything.
uint8_t* FindSlot(const List* pool, const void* item)
{
    uintptr_t slot = (uintptr_t)item - pool->headerSize;
    if ((uintptr_t)item < pool->headerSize)
        return nullptr;
    for (uint32_t i = 0; i < pool->blockCount; ++i) {
        uintptr_t start = (uintptr_t)pool->blocks[i];
        if (slot >= start && slot - start < BlockBytes(pool, i) &&
            (slot - start) % pool->stride == 0)
            return (uint8_t*)slot;
    }
    return nullptr;
}

bool BlockHasLive(const List* pool, uint32_t index)
{
    const uint8_t* block = pool->blocks[index];
    uint32_t items = BlockItems(pool, index);
    for (uint32_t i = 0; i < items; ++i)
        if (IsLive(block + (size_t)i * pool->stride))
            return true;
    return false;
}

// Frees the last block, first unlinking its slots from the free list.
void ReleaseLastBlock(List* pool)
{
    uint32_t index = pool->blockCount - 1;
    uintptr_t start = (uintptr_t)pool->blocks[index];
    size_t bytes = BlockBytes(pool, index);
    void** link = &pool->freeList;
    while (*link) {
        void* slot = *link;
        if ((uintptr_t)slot - start < bytes) {
            *link = NextFree(slot);
            uint64_t dead = LIST_DEAD_SLOT;
            memcpy(slot, &dead, sizeof dead);
        } else {
            link = (void**)slot;
        }
    }
    Mem_Free(pool->blocks[index]);
    g_lists.totalBytes -= bytes;
    pool->blocks[index] = nullptr;
    pool->blockCount = index;
}

}  // namespace

List* List_Create(size_t itemSize, size_t alignment)
{
    size_t a = alignment ? alignment : 4;
    if ((a & (a - 1)) != 0)
        return nullptr;
    if (a < MEM_MIN_ALIGN)
        a = MEM_MIN_ALIGN;
    if (itemSize > SIZE_MAX / 2 - 2 * a)
        return nullptr;
    List* pool = (List*)Mem_Calloc(sizeof(List), 8);
    if (!pool)
        return nullptr;
    pool->alignment = a;
    pool->headerSize = a;  // one pointer rounded up to the alignment
    pool->stride = (itemSize + a - 1) / a * a + pool->headerSize;
    pool->refCount = 1;
    pool->next = g_lists.head;
    if (g_lists.head)
        g_lists.head->prev = pool;
    g_lists.head = pool;
    g_lists.totalBytes += Mem_GetSize(pool);
    return pool;
}

void List_AddRef(List* pool)
{
    if (pool)
        ++pool->refCount;
}

int List_SetBlockSize(List* pool, uint32_t itemsPerBlock)
{
    if (!pool || pool->blockCount > 0 || itemsPerBlock == 0)
        return 0;
    pool->fixedBlockItems = itemsPerBlock;
    if (!Grow(pool)) {
        pool->fixedBlockItems = 0;
        return 0;
    }
    return 1;
}

void* List_Alloc(List* pool)
{
    if (!pool)
        return nullptr;
    if (!pool->freeList && !Grow(pool))
        return nullptr;
    uint8_t* slot = (uint8_t*)pool->freeList;
    pool->freeList = NextFree(slot);
    memset(slot + pool->headerSize, 0, pool->stride - pool->headerSize);
    SetHeader(slot, slot);
    return slot + pool->headerSize;
}

void List_Free(List* pool, void* item)
{
    if (!pool || !item)
        return;
    uint8_t* slot = FindSlot(pool, item);
    if (!slot || !IsLive(slot))
        return;
    SetHeader(slot, pool->freeList);
    pool->freeList = slot;
}

uint32_t List_Count(const List* pool)
{
    if (!pool)
        return 0;
    uint32_t count = 0;
    for (uint32_t b = 0; b < pool->blockCount; ++b) {
        uint32_t items = BlockItems(pool, b);
        for (uint32_t i = 0; i < items; ++i)
            count += IsLive(pool->blocks[b] + (size_t)i * pool->stride);
    }
    return count;
}

void* List_ForEach(List* pool, ListForEachFn fn, void* arg)
{
    if (!pool || !fn)
        return nullptr;
    // blockCount and blocks are re-read on every step: the callback may grow
    // the pool.
    for (uint32_t b = 0; b < pool->blockCount; ++b) {
        uint32_t items = BlockItems(pool, b);
        for (uint32_t i = 0; i < items && b < pool->blockCount; ++i) {
            uint8_t* slot = pool->blocks[b] + (size_t)i * pool->stride;
            if (IsLive(slot) && fn(slot + pool->headerSize, arg))
                return slot + pool->headerSize;
        }
    }
    return nullptr;
}

void List_Clear(List* pool, int all)
{
    if (!pool)
        return;
    if (all) {
        for (uint32_t b = 0; b < pool->blockCount; ++b) {
            g_lists.totalBytes -= BlockBytes(pool, b);
            Mem_Free(pool->blocks[b]);
            pool->blocks[b] = nullptr;
        }
        pool->blockCount = 0;
        pool->freeList = nullptr;
        return;
    }
    while (pool->blockCount > 0 && !BlockHasLive(pool, pool->blockCount - 1))
        ReleaseLastBlock(pool);
}

uint32_t List_Destroy(List* pool)
{
    if (!pool || pool->refCount == 0)
        return 0;
    if (--pool->refCount > 0)
        return pool->refCount;
    if (pool->prev)
        pool->prev->next = pool->next;
    else
        g_lists.head = pool->next;
    if (pool->next)
        pool->next->prev = pool->prev;
    List_Clear(pool, 1);
    g_lists.totalBytes -= Mem_GetSize(pool);
    Mem_Free(pool);
    return 0;
}

List* List_GetFirst()
{
    return g_lists.head;
}

size_t List_GetTotalBytes()
{
    return g_lists.totalBytes;
}
