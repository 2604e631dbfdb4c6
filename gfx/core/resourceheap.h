// The resource heap: best-fit blocks of 32-byte granularity inside one block
// of memory (the resource arena's). Each block has a 32-byte header at an
// address that is a multiple of 32; free neighbours are merged.
#pragma once
#include <cstdint>

struct ResourceHeap;

struct ResourceHeapBlock {
    ResourceHeap* heap;
    ResourceHeapBlock* next;
    ResourceHeapBlock* prev;
    uint32_t size;   // data bytes after the header, a multiple of 32
    uint32_t inUse;
};
static_assert(sizeof(ResourceHeapBlock) == 32, "heap headers keep data 32-byte aligned");

// Sits at the start of the heap's memory.
struct ResourceHeap {
    ResourceHeapBlock* first;
    ResourceHeapBlock* freeHint;  // no free block lies before it
};

// Sets up the heap inside memory (16-byte aligned); 0 when there is not room
// for a header and 32 data bytes.
int32_t ResourceHeap_Init(void* memory, uint32_t size);
// 32-byte aligned data of at least size bytes, or null.
void* ResourceHeap_Alloc(ResourceHeap* heap, uint32_t size);
void ResourceHeap_Free(void* data);
// Data bytes of the block holding data.
uint32_t ResourceHeap_BlockSize(const void* data);
