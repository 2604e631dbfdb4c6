// Aligned heap: every module allocates through these functions.
//
// An aligned block is carved from one C-heap block. The word just in front of
// the aligned address holds the start of that heap block, so Mem_Free and
// Mem_GetSize need nothing but the pointer. Alignments are powers of two; any
// alignment below 8 counts as 8 (the word in front must hold a pointer).
// Blocks from these functions must be released with Mem_Free, never free().
#pragma once

#include <cstddef>

// Smallest alignment a block gets, whatever the caller asks for.
constexpr size_t MEM_MIN_ALIGN = 8;

// A block of `size` bytes at `alignment` (a power of two; 0 means the
// minimum), contents undefined. Null when the heap fails, when size plus
// alignment overflows, or when the alignment is not a power of two.
void* Mem_Alloc(size_t size, size_t alignment = 4);

// As Mem_Alloc, with the whole usable size (see Mem_GetSize) zeroed.
void* Mem_Calloc(size_t size, size_t alignment = 4);

// Releases a block of this heap; null is ignored.
void Mem_Free(void* block);

// Usable bytes of a block: at least the size asked for, possibly more.
// 0 for null.
size_t Mem_GetSize(const void* block);

// CAREFUL: the alignment comes before the size here, the other way round
// from Mem_Alloc(size, alignment) and Mem_Calloc. The layers above (the
// content layer, the game) call reallocate in this order, so it stays; both
// are size_t, and a swapped call compiles silently (Mem_Realloc(p, 256, 16)
// keeps 16 bytes at 256-byte alignment).
// Resizes `block` to `size` bytes at `alignment`, keeping min(old usable size,
// size) bytes. A null block allocates. On failure the old block is returned
// unchanged and still valid, so `p = Mem_Realloc(p, ...)` never loses data;
// callers that must know check Mem_GetSize(result) >= size.
void* Mem_Realloc(void* block, size_t alignment, size_t size);

// Mem_Realloc (alignment before size, as there), and every byte between the
// kept data and the new usable size is zero afterwards (the grown tail, and
// the slack behind a shrink).
void* Mem_Recalloc(void* block, size_t alignment, size_t size);

// Frees the block a pointer field holds and clears the field, so an owner
// that frees twice frees once. A null slot or an empty one is ignored.
template <typename T>
inline void Mem_FreeSlot(T** slot)
{
    if (!slot) return;
    Mem_Free((void*)*slot);
    *slot = nullptr;
}

// A new block (alignment 8) holding a copy of the old block's usable size;
// null for a null block, a block of usable size 0 or a heap failure.
void* Mem_Dup(const void* block);

// A copy of a NUL-terminated string in a new block (alignment 8); the caller
// frees it with Mem_Free. Null for a null string or a heap failure.
char* String_Dup(const char* text);

// The 16-byte aligned forms handed to the graphics engine as its memory
// functions. Mem_Calloc16 fails with null when count x size overflows.
void* Mem_Alloc16(size_t size);
void* Mem_Realloc16(void* block, size_t size);
void* Mem_Calloc16(size_t count, size_t size);
