#include "common/memory.h"

#include <malloc.h>
#include <cstdint>
#include <cstring>

namespace {

// Alignment actually used for a request, or 0 when the request is unusable.
size_t EffectiveAlign(size_t alignment)
{
    if (alignment < MEM_MIN_ALIGN)
        return MEM_MIN_ALIGN;
    if ((alignment & (alignment - 1)) != 0)
        return 0;
    return alignment;
}

// The first multiple of `alignment` strictly above `base`. Heap blocks are at
// least 8-aligned and alignment is at least 8, so the gap is at least one
// pointer wide and at most `alignment` bytes.
uintptr_t AlignAbove(uintptr_t base, size_t alignment)
{
    return (base + alignment) & ~(uintptr_t)(alignment - 1);
}

void*& HeapWord(const void* block)
{
    return *(void**)((uintptr_t)block - sizeof(void*));
}

void* Place(void* base, size_t alignment)
{
    uintptr_t aligned = AlignAbove((uintptr_t)base, alignment);
    HeapWord((void*)aligned) = base;
    return (void*)aligned;
}

}  // namespace

void* Mem_Alloc(size_t size, size_t alignment)
{
    size_t a = EffectiveAlign(alignment);
    if (a == 0 || size > SIZE_MAX - a)
        return nullptr;
    void* base = malloc(size + a);
    if (!base)
        return nullptr;
    return Place(base, a);
}

void* Mem_Calloc(size_t size, size_t alignment)
{
    void* block = Mem_Alloc(size, alignment);
    if (block)
        memset(block, 0, Mem_GetSize(block));
    return block;
}

void Mem_Free(void* block)
{
    if (block)
        free(HeapWord(block));
}

size_t Mem_GetSize(const void* block)
{
    if (!block)
        return 0;
    void* base = HeapWord(block);
    return malloc_usable_size(base) - ((uintptr_t)block - (uintptr_t)base);
}

// realloc the heap block itself: growth in place stays cheap and a shrink
// never copies. When the heap moves the block the data keeps its old offset
// from the heap block's start, so it is moved down to the new aligned
// position (which may differ when the new heap start has another alignment).
void* Mem_Realloc(void* block, size_t alignment, size_t size)
{
    if (!block)
        return Mem_Alloc(size, alignment);
    size_t a = EffectiveAlign(alignment);
    if (a == 0)
        return block;
    void* base = HeapWord(block);
    size_t offset = (uintptr_t)block - (uintptr_t)base;
    size_t keep = Mem_GetSize(block);
    if (keep > size)
        keep = size;
    // Room for the larger of the old offset and the new alignment gap, so the
    // data still fits at its old offset inside the resized heap block.
    size_t gap = offset > a ? offset : a;
    if (size > SIZE_MAX - gap)
        return block;
    void* newBase = realloc(base, size + gap);
    if (!newBase)
        return block;
    void* aligned = (void*)AlignAbove((uintptr_t)newBase, a);
    void* data = (char*)newBase + offset;
    if (aligned != data)
        memmove(aligned, data, keep);
    HeapWord(aligned) = newBase;
    return aligned;
}

void* Mem_Recalloc(void* block, size_t alignment, size_t size)
{
    if (!block)
        return Mem_Calloc(size, alignment);
    size_t oldSize = Mem_GetSize(block);
    void* result = Mem_Realloc(block, alignment, size);
    size_t newSize = Mem_GetSize(result);
    size_t from = oldSize < size ? oldSize : size;
    if (from < newSize)
        memset((char*)result + from, 0, newSize - from);
    return result;
}

void* Mem_Dup(const void* block)
{
    size_t size = Mem_GetSize(block);
    if (size == 0)
        return nullptr;
    void* copy = Mem_Alloc(size, 8);
    if (copy)
        memcpy(copy, block, size);
    return copy;
}

char* String_Dup(const char* text)
{
    if (!text)
        return nullptr;
    size_t size = strlen(text) + 1;
    char* copy = (char*)Mem_Alloc(size, 8);
    if (copy)
        memcpy(copy, text, size);
    return copy;
}

void* Mem_Alloc16(size_t size)
{
    return Mem_Alloc(size, 16);
}

void* Mem_Realloc16(void* block, size_t size)
{
    return Mem_Realloc(block, 16, size);
}

void* Mem_Calloc16(size_t count, size_t size)
{
    if (size != 0 && count > SIZE_MAX / size)
        return nullptr;
    return Mem_Calloc(count * size, 16);
}
