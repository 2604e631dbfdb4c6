#include "gfx/core/pipelineheap.h"

#include <cstddef>
#include <cstdint>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"

namespace {

const uint32_t kHeader = sizeof(PipelineHeapBlock);

inline PipelineHeapBlock* HeaderOf(void* data) { return (PipelineHeapBlock*)((uint8_t*)data - kHeader); }
inline void* DataOf(PipelineHeapBlock* b) { return (uint8_t*)b + kHeader; }

bool AddRecord(PipelineHeap* heap, PipelineHeapBlock* block)
{
    if (heap->freeCount == heap->freeCapacity) {
        uint32_t capacity = heap->freeCapacity + 8;
        PipelineHeapFreeRecord* grown =
            (PipelineHeapFreeRecord*)Engine_Realloc(heap->freeRecords, capacity * sizeof(PipelineHeapFreeRecord));
        if (!grown) {
            Error_Raise(ERR_OUT_OF_MEMORY);
            return false;
        }
        heap->freeRecords = grown;
        heap->freeCapacity = capacity;
        for (uint32_t i = 0; i < heap->freeCount; i++) grown[i].block->freeRecord = &grown[i];
    }
    PipelineHeapFreeRecord* r = &heap->freeRecords[heap->freeCount++];
    r->size = block->size;
    r->block = block;
    block->freeRecord = r;
    return true;
}

// Removes a record; the last record moves into its place.
void DropRecord(PipelineHeap* heap, PipelineHeapFreeRecord* r)
{
    r->block->freeRecord = nullptr;
    PipelineHeapFreeRecord* last = &heap->freeRecords[--heap->freeCount];
    if (r != last) {
        *r = *last;
        r->block->freeRecord = r;
    }
}

// Lays a region out as one free block and its sentinel.
bool FormatRegion(PipelineHeap* heap, PipelineHeapRegion* region)
{
    PipelineHeapBlock* b = (PipelineHeapBlock*)region->data;
    PipelineHeapBlock* sentinel = (PipelineHeapBlock*)(region->data + region->size - kHeader);
    b->prev = nullptr;
    b->next = sentinel;
    b->size = region->size - 2 * kHeader;
    b->sentinel = 0;
    b->freeRecord = nullptr;
    sentinel->prev = b;
    sentinel->next = region->next ? (PipelineHeapBlock*)region->next->data : nullptr;
    sentinel->size = 0;
    sentinel->sentinel = 1;
    sentinel->freeRecord = nullptr;
    return AddRecord(heap, b);
}

PipelineHeapRegion* AddRegion(PipelineHeap* heap, uint32_t size)
{
    uint8_t* raw = (uint8_t*)Engine_Malloc(sizeof(PipelineHeapRegion) + 127 + (size_t)size);
    if (!raw) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    PipelineHeapRegion* region = (PipelineHeapRegion*)raw;
    region->size = size;
    region->data = (uint8_t*)(((uintptr_t)(raw + sizeof(PipelineHeapRegion)) + 127) & ~(uintptr_t)127);
    region->next = nullptr;
    // Append, so that the previous region's sentinel can point at this one.
    PipelineHeapRegion** tail = &heap->regions;
    PipelineHeapRegion* prev = nullptr;
    while (*tail) {
        prev = *tail;
        tail = &(*tail)->next;
    }
    *tail = region;
    if (prev) ((PipelineHeapBlock*)(prev->data + prev->size - kHeader))->next = (PipelineHeapBlock*)region->data;
    if (!FormatRegion(heap, region)) {
        *tail = nullptr;
        if (prev) ((PipelineHeapBlock*)(prev->data + prev->size - kHeader))->next = nullptr;
        Engine_Free(raw);
        return nullptr;
    }
    return region;
}

}  // namespace

PipelineHeap* PipelineHeap_Create(uint32_t size)
{
    if (size < 1024) size = 1024;
    if (size > 0x7FFFFFE0u) return nullptr;
    size = (size + 31) & ~31u;
    PipelineHeap* heap = (PipelineHeap*)Engine_Malloc(sizeof(PipelineHeap));
    if (!heap) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    *heap = PipelineHeap{size, nullptr, nullptr, 0, 0, 0};
    if (!AddRegion(heap, size)) {
        PipelineHeap_Destroy(heap);
        return nullptr;
    }
    return heap;
}

void PipelineHeap_Destroy(PipelineHeap* heap)
{
    if (!heap) return;
    Engine_Free(heap->freeRecords);
    PipelineHeapRegion* r = heap->regions;
    while (r) {
        PipelineHeapRegion* next = r->next;
        Engine_Free(r);
        r = next;
    }
    Engine_Free(heap);
}

void PipelineHeap_Reset(PipelineHeap* heap)
{
    heap->freeCount = 0;
    for (PipelineHeapRegion* r = heap->regions; r; r = r->next) FormatRegion(heap, r);
    heap->resetNeeded = 0;
}

void* PipelineHeap_Alloc(PipelineHeap* heap, uint32_t size)
{
    if (size > 0x7FFFFFE0u - 2 * kHeader) return nullptr;
    size = (size + 31) & ~31u;
    if (size == 0) size = 32;
    PipelineHeapFreeRecord* best = nullptr;
    for (uint32_t i = 0; i < heap->freeCount; i++) {
        PipelineHeapFreeRecord* r = &heap->freeRecords[i];
        if (r->size >= size && (!best || r->size < best->size)) best = r;
    }
    if (!best) {
        uint32_t regionSize = size + 2 * kHeader > heap->size ? size + 2 * kHeader : heap->size;
        PipelineHeapRegion* region = AddRegion(heap, regionSize);
        if (!region) return nullptr;
        best = ((PipelineHeapBlock*)region->data)->freeRecord;
    }
    PipelineHeapBlock* b = best->block;
    if (b->size - size >= kHeader + 32) {
        // The rest becomes a free block that takes over b's record.
        PipelineHeapBlock* rest = (PipelineHeapBlock*)((uint8_t*)DataOf(b) + size);
        rest->prev = b;
        rest->next = b->next;
        rest->next->prev = rest;
        b->next = rest;
        rest->size = b->size - size - kHeader;
        rest->sentinel = 0;
        rest->freeRecord = best;
        best->block = rest;
        best->size = rest->size;
        b->size = size;
        b->freeRecord = nullptr;
    } else {
        DropRecord(heap, best);
    }
    heap->resetNeeded = 1;
    return DataOf(b);
}

void PipelineHeap_Free(PipelineHeap* heap, void* data)
{
    if (!data) return;
    PipelineHeapBlock* b = HeaderOf(data);
    PipelineHeapBlock* prev = b->prev;
    PipelineHeapBlock* next = b->next;
    bool prevFree = prev && prev->freeRecord;
    bool nextFree = next && !next->sentinel && next->freeRecord;
    if (!prevFree && !nextFree) {
        AddRecord(heap, b);
    } else if (!prevFree) {
        b->size += next->size + kHeader;
        b->next = next->next;
        b->next->prev = b;
        b->freeRecord = next->freeRecord;
        b->freeRecord->block = b;
        b->freeRecord->size = b->size;
    } else if (nextFree) {
        DropRecord(heap, next->freeRecord);
        prev->size += b->size + next->size + 2 * kHeader;
        prev->next = next->next;
        prev->next->prev = prev;
        prev->freeRecord->size = prev->size;
    } else {
        prev->size += b->size + kHeader;
        prev->next = next;
        next->prev = prev;
        prev->freeRecord->size = prev->size;
    }
}
