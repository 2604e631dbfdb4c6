// The pipeline heap: the memory that pipeline nodes take their cluster data
// from while a pipeline runs. Regions of 128-byte aligned memory are split
// into blocks with 32-byte headers; free blocks are listed in an array of
// free records so that allocation scans only free space. Each region ends in
// a sentinel header (never free) so that blocks never merge across regions.
#pragma once
#include <cstdint>

struct PipelineHeapFreeRecord;

struct PipelineHeapBlock {
    PipelineHeapBlock* prev;  // null for a region's first block
    PipelineHeapBlock* next;  // a sentinel's next is the next region's first block
    uint32_t size;            // data bytes after the header
    uint32_t sentinel;        // 1 for the header that ends a region
    PipelineHeapFreeRecord* freeRecord;  // null while in use
};
static_assert(sizeof(PipelineHeapBlock) == 32, "pipeline heap headers are 32 bytes");

struct PipelineHeapFreeRecord {
    uint32_t size;
    PipelineHeapBlock* block;
};

struct PipelineHeapRegion {
    PipelineHeapRegion* next;
    uint32_t size;  // bytes from the first block header to the end of the sentinel
    uint8_t* data;  // 128-byte aligned
};

struct PipelineHeap {
    uint32_t size;  // region size: at least 1024, a multiple of 32
    PipelineHeapRegion* regions;
    PipelineHeapFreeRecord* freeRecords;
    uint32_t freeCapacity;  // grown 8 at a time
    uint32_t freeCount;
    int32_t resetNeeded;    // set by an allocation; the next run that asks resets
};

PipelineHeap* PipelineHeap_Create(uint32_t size);
void PipelineHeap_Destroy(PipelineHeap* heap);
// Forgets every block: each region becomes one free block.
void PipelineHeap_Reset(PipelineHeap* heap);
// A block of at least size bytes (rounded to 32), from the smallest free
// block that fits; a new region is added when none does. Null when memory
// runs out.
void* PipelineHeap_Alloc(PipelineHeap* heap, uint32_t size);
void PipelineHeap_Free(PipelineHeap* heap, void* data);
