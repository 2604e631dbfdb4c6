#include "gfx/core/resourceheap.h"

#include <cstdint>

namespace {

const uintptr_t kHeader = sizeof(ResourceHeapBlock);
// A block is split only when the rest would exceed this many bytes.
const uint32_t kSplitThreshold = 64;

inline ResourceHeapBlock* HeaderOf(const void* data) { return (ResourceHeapBlock*)((uintptr_t)data - kHeader); }
inline void* DataOf(ResourceHeapBlock* b) { return (void*)((uintptr_t)b + kHeader); }

// Takes next into b (both free and adjacent).
void Merge(ResourceHeapBlock* b, ResourceHeapBlock* next)
{
    b->size += (uint32_t)kHeader + next->size;
    b->next = next->next;
    if (next->next) next->next->prev = b;
}

}  // namespace

int32_t ResourceHeap_Init(void* memory, uint32_t size)
{
    uintptr_t start = (uintptr_t)memory;
    uintptr_t header = (start + 39) & ~(uintptr_t)31;
    uintptr_t end = (start + size) & ~(uintptr_t)31;
    if (end < header + kHeader + 32) return 0;
    ResourceHeap* heap = (ResourceHeap*)memory;
    ResourceHeapBlock* b = (ResourceHeapBlock*)header;
    b->heap = heap;
    b->next = b->prev = nullptr;
    b->size = (uint32_t)(end - header - kHeader);
    b->inUse = 0;
    heap->first = heap->freeHint = b;
    return 1;
}

void* ResourceHeap_Alloc(ResourceHeap* heap, uint32_t size)
{
    if (size > 0xFFFFFFFFu - 31) return nullptr;
    size = (size + 31) & ~31u;
    if (size == 0) size = 32;
    ResourceHeapBlock* best = nullptr;
    for (ResourceHeapBlock* b = heap->freeHint; b; b = b->next)
        if (!b->inUse && b->size >= size && (!best || b->size < best->size)) best = b;
    if (!best) return nullptr;
    if (best->size - size > kSplitThreshold) {
        ResourceHeapBlock* rest = (ResourceHeapBlock*)((uintptr_t)DataOf(best) + size);
        rest->heap = heap;
        rest->size = best->size - size - (uint32_t)kHeader;
        rest->inUse = 0;
        rest->prev = best;
        rest->next = best->next;
        if (best->next) best->next->prev = rest;
        best->next = rest;
        best->size = size;
        if (rest->next && !rest->next->inUse) Merge(rest, rest->next);
    }
    best->inUse = 1;
    if (heap->freeHint == best) {
        ResourceHeapBlock* b = best->next;
        while (b && b->inUse) b = b->next;
        heap->freeHint = b;
    }
    return DataOf(best);
}

void ResourceHeap_Free(void* data)
{
    if (!data) return;
    ResourceHeapBlock* b = HeaderOf(data);
    ResourceHeap* heap = b->heap;
    b->inUse = 0;
    if (!heap->freeHint || (uintptr_t)b < (uintptr_t)heap->freeHint) heap->freeHint = b;
    if (b->prev && !b->prev->inUse) {
        ResourceHeapBlock* prev = b->prev;
        Merge(prev, b);
        if (heap->freeHint == b) heap->freeHint = prev;
        b = prev;
    }
    if (b->next && !b->next->inUse) Merge(b, b->next);
}

uint32_t ResourceHeap_BlockSize(const void* data) { return HeaderOf(data)->size; }
