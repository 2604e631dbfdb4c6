#include "gfx/core/freelist.h"

#include <cstdlib>
#include <cstring>

#include "common/assert.h"
#include "gfx/core/error.h"

namespace {

struct Block {
    EngineLink link;  // first member: the block list links point here
    // bitmap, then the entries
};

struct MemoryModule {
    EngineLink allLists;
    FreeList recordList;  // records of free lists created without a caller record
    bool recordListReady;
};

MemoryModule g_memory;

void* StdCalloc(size_t count, size_t size) { return calloc(count, size); }

const MemoryFunctions kStdMemory = {malloc, free, realloc, StdCalloc};

inline uint8_t* BlockBitmap(Block* block) { return (uint8_t*)(block + 1); }

inline uint8_t* BlockEntries(const FreeList* list, Block* block)
{
    uintptr_t p = (uintptr_t)(BlockBitmap(block) + list->bitmapBytes);
    uintptr_t a = (uintptr_t)list->alignment;
    return (uint8_t*)((p + a - 1) / a * a);
}

inline size_t BlockAllocSize(const FreeList* list)
{
    return sizeof(Block) + (size_t)list->bitmapBytes + (size_t)list->alignment +
           (size_t)list->entriesPerBlock * (size_t)list->entrySize;
}

inline Block* BlockOf(EngineLink* link) { return (Block*)link; }

Block* NewBlock(FreeList* list)
{
    Block* block = (Block*)Engine_Malloc(BlockAllocSize(list));
    if (!block) return nullptr;
    memset(BlockBitmap(block), 0, (size_t)list->bitmapBytes);
    EngineLink_InsertHead(&list->blocks, &block->link);
    return block;
}

bool BlockIsEmpty(const FreeList* list, Block* block)
{
    const uint8_t* bits = BlockBitmap(block);
    for (int32_t i = 0; i < list->bitmapBytes; i++)
        if (bits[i]) return false;
    return true;
}

bool OnlyBlock(const FreeList* list) { return list->blocks.next == list->blocks.prev; }

void ReleaseBlock(Block* block)
{
    EngineLink_Remove(&block->link);
    Engine_Free(block);
}

// Releases the empty blocks of a list, keeping at least one block.
int32_t ReleaseEmptyBlocks(FreeList* list)
{
    int32_t freed = 0;
    EngineLink* link = list->blocks.next;
    while (link != &list->blocks) {
        EngineLink* next = link->next;
        if (!OnlyBlock(list) && BlockIsEmpty(list, BlockOf(link))) {
            ReleaseBlock(BlockOf(link));
            freed++;
        }
        link = next;
    }
    return freed;
}

}  // namespace

FreeList* FreeList_CreateEx(int32_t entrySize, int32_t entriesPerBlock, int32_t alignment,
                            int32_t preallocBlocks, FreeList* record)
{
    if (entrySize <= 0 || entriesPerBlock <= 0) return nullptr;
    if (Engine_GetInitFlags() & ENGINE_INIT_NO_FREELIST_BLOCKS) preallocBlocks = 0;
    if (alignment < 8) alignment = 8;
    // Alignments are powers of two in practice; round anything else up to one.
    int32_t a = 8;
    while (a < alignment) a <<= 1;
    alignment = a;

    FreeList* list = record;
    uint32_t flags = FREELIST_CALLER_RECORD | FREELIST_RELEASE_EMPTY;
    if (!list) {
        flags = FREELIST_RELEASE_EMPTY;
        list = g_memory.recordListReady ? (FreeList*)FreeList_Alloc(&g_memory.recordList)
                                        : (FreeList*)Engine_Malloc(sizeof(FreeList));
        if (!list) {
            Error_Raise(ERR_OUT_OF_MEMORY);
            return nullptr;
        }
    }
    list->entrySize = (entrySize + alignment - 1) / alignment * alignment;
    list->entriesPerBlock = entriesPerBlock;
    list->bitmapBytes = (entriesPerBlock + 7) / 8;
    list->alignment = alignment;
    list->flags = flags;
    list->walking = 0;
    if (Engine_GetInitFlags() & ENGINE_INIT_NO_FREELIST_BLOCKS) list->flags |= FREELIST_NO_BLOCKS;
    EngineLink_Init(&list->blocks);
    EngineLink_Init(&list->released);
    for (int32_t i = 0; i < preallocBlocks; i++) {
        if (!NewBlock(list)) {
            while (!EngineLink_Empty(&list->blocks)) ReleaseBlock(BlockOf(list->blocks.next));
            if (!(flags & FREELIST_CALLER_RECORD)) {
                if (g_memory.recordListReady) FreeList_Free(&g_memory.recordList, list);
                else Engine_Free(list);
            }
            Error_Raise(ERR_OUT_OF_MEMORY);
            return nullptr;
        }
    }
    if (!g_memory.allLists.next) EngineLink_Init(&g_memory.allLists);  // a list made before Engine_Init
    EngineLink_InsertHead(&g_memory.allLists, &list->allLists);
    return list;
}

FreeList* FreeList_Create(int32_t entrySize, int32_t entriesPerBlock, int32_t alignment)
{
    return FreeList_CreateEx(entrySize, entriesPerBlock, alignment, 1, nullptr);
}

void FreeList_Destroy(FreeList* list)
{
    if (!list) return;
    EngineLink_Remove(&list->allLists);
    while (!EngineLink_Empty(&list->blocks)) ReleaseBlock(BlockOf(list->blocks.next));
    if (!(list->flags & FREELIST_CALLER_RECORD)) {
        if (g_memory.recordListReady && list != &g_memory.recordList) FreeList_Free(&g_memory.recordList, list);
        else Engine_Free(list);
    }
}

void* FreeList_BlockAlloc(FreeList* list)
{
    for (EngineLink* link = list->blocks.next; link != &list->blocks; link = link->next) {
        Block* block = BlockOf(link);
        uint8_t* bits = BlockBitmap(block);
        for (int32_t byte = 0; byte < list->bitmapBytes; byte++) {
            if (bits[byte] == 0xFF) continue;
            for (int32_t bit = 0; bit < 8; bit++) {
                int32_t index = byte * 8 + bit;
                if (index >= list->entriesPerBlock) break;
                uint8_t mask = (uint8_t)(0x80u >> bit);
                if (!(bits[byte] & mask)) {
                    bits[byte] |= mask;
                    return BlockEntries(list, block) + (size_t)index * (size_t)list->entrySize;
                }
            }
        }
    }
    Block* block = NewBlock(list);
    if (!block) return nullptr;
    BlockBitmap(block)[0] = 0x80;
    return BlockEntries(list, block);
}

void FreeList_BlockFree(FreeList* list, void* entry)
{
    uint8_t* p = (uint8_t*)entry;
    for (EngineLink* link = list->blocks.next; link != &list->blocks; link = link->next) {
        Block* block = BlockOf(link);
        uint8_t* first = BlockEntries(list, block);
        if (p < first || p >= first + (size_t)list->entriesPerBlock * (size_t)list->entrySize) continue;
        size_t index = (size_t)(p - first) / (size_t)list->entrySize;
        const uint8_t mask = (uint8_t)(0x80u >> (index % 8));
        // An entry is freed once, at the address its allocation returned.
        HELM_ASSERT((BlockBitmap(block)[index / 8] & mask) && (size_t)(p - first) % (size_t)list->entrySize == 0);
        BlockBitmap(block)[index / 8] &= (uint8_t)~mask;
        if ((list->flags & FREELIST_RELEASE_EMPTY) && !list->walking && !OnlyBlock(list) &&
            BlockIsEmpty(list, block))
            ReleaseBlock(block);
        return;
    }
    // Not in any block of this list: another list's entry, or a stale one.
    HELM_ASSERT(!entry);
}

// One allocation per entry: a link in the list's block list, then the entry
// at its alignment, with the allocation's start just before it so that
// alignments above the memory functions' 16 bytes still hold.
void* FreeList_DirectAlloc(FreeList* list)
{
    size_t a = (size_t)list->alignment;
    uint8_t* raw = (uint8_t*)Engine_Malloc(sizeof(EngineLink) + sizeof(void*) + a + (size_t)list->entrySize);
    if (!raw) return nullptr;
    uintptr_t p = ((uintptr_t)raw + sizeof(EngineLink) + sizeof(void*) + a - 1) / a * a;
    ((void**)p)[-1] = raw;
    EngineLink_InsertHead(&list->blocks, (EngineLink*)raw);
    return (void*)p;
}

void FreeList_DirectFree(FreeList* list, void* entry)
{
    if (!entry) return;
    EngineLink* link = (EngineLink*)((void**)entry)[-1];
    EngineLink_Remove(link);
    // During a walk the memory stays until the walk ends.
    if (list->walking) EngineLink_InsertHead(&list->released, link);
    else Engine_Free(link);
}

namespace {

inline void* DirectEntry(const FreeList* list, EngineLink* link)
{
    size_t a = (size_t)list->alignment;
    return (void*)(((uintptr_t)link + sizeof(EngineLink) + sizeof(void*) + a - 1) / a * a);
}

FreeList* ForAllDirect(FreeList* list, FreeListCallback callback, void* data)
{
    int32_t n = FreeList_BlockCount(list);
    void** entries = (void**)Engine_Malloc(sizeof(void*) * (size_t)(n ? n : 1));
    if (!entries) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    int32_t i = 0;
    for (EngineLink* link = list->blocks.next; link != &list->blocks; link = link->next)
        entries[i++] = DirectEntry(list, link);
    list->walking++;
    for (i = 0; i < n; i++) callback(entries[i], data);
    list->walking--;
    Engine_Free(entries);
    if (!list->walking)
        while (!EngineLink_Empty(&list->released)) ReleaseBlock(BlockOf(list->released.next));
    return list;
}

}  // namespace

FreeList* FreeList_ForAllUsed(FreeList* list, FreeListCallback callback, void* data)
{
    if (!list || !callback) return nullptr;
    if (list->flags & FREELIST_NO_BLOCKS) return ForAllDirect(list, callback, data);
    uint8_t* copy = (uint8_t*)Engine_Malloc((size_t)list->bitmapBytes);
    if (!copy) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    // Blocks that empty during the walk stay linked until it ends, so that the
    // walk never steps through a released block.
    list->walking++;
    for (EngineLink* link = list->blocks.next; link != &list->blocks; link = link->next) {
        Block* block = BlockOf(link);
        memcpy(copy, BlockBitmap(block), (size_t)list->bitmapBytes);
        uint8_t* entries = BlockEntries(list, block);
        for (int32_t index = 0; index < list->entriesPerBlock; index++)
            if (copy[index / 8] & (0x80u >> (index % 8)))
                callback(entries + (size_t)index * (size_t)list->entrySize, data);
    }
    list->walking--;
    Engine_Free(copy);
    if (!list->walking && (list->flags & FREELIST_RELEASE_EMPTY)) ReleaseEmptyBlocks(list);
    return list;
}

int32_t FreeList_Purge(FreeList* list)
{
    if (!list || list->walking || (list->flags & FREELIST_NO_BLOCKS)) return 0;
    return ReleaseEmptyBlocks(list) * list->entrySize;
}

int32_t FreeList_PurgeAll(void)
{
    int32_t total = 0;
    for (EngineLink* link = g_memory.allLists.next; link && link != &g_memory.allLists; link = link->next) {
        FreeList* list = (FreeList*)((char*)link - offsetof(FreeList, allLists));
        int32_t n = FreeList_Purge(list);
        if (n > 0) total += n;
    }
    return total;
}

int32_t FreeList_Validate(const FreeList* list)
{
    if (!list) return 0;
    const int32_t a = list->alignment;
    if (a < 8 || (a & (a - 1)) != 0 || list->entrySize <= 0 || list->entrySize % a != 0 ||
        list->entriesPerBlock <= 0 || list->bitmapBytes != (list->entriesPerBlock + 7) / 8 || list->walking < 0)
        return 0;
    if (!EngineLink_Validate(&list->blocks) || !EngineLink_Validate(&list->released)) return 0;
    if (!list->walking && !EngineLink_Empty(&list->released)) return 0;
    const bool direct = (list->flags & FREELIST_NO_BLOCKS) != 0;
    for (EngineLink* link = list->blocks.next; link != &list->blocks; link = link->next) {
        if (direct) {
            void* entry = DirectEntry(list, link);
            if (((void**)entry)[-1] != (void*)link) return 0;
            continue;
        }
        // Bits past the last entry are never set: the allocator skips them.
        const int32_t used = list->entriesPerBlock % 8;
        if (used && (BlockBitmap(BlockOf(link))[list->bitmapBytes - 1] & (0xFFu >> used))) return 0;
    }
    return 1;
}

int32_t FreeList_BlockCount(const FreeList* list)
{
    int32_t n = 0;
    for (const EngineLink* link = list->blocks.next; link != &list->blocks; link = link->next) n++;
    return n;
}

int32_t Memory_ModuleOpen(const MemoryFunctions* memoryFunctions)
{
    g_engineInstance->memoryFunctions = memoryFunctions ? *memoryFunctions : kStdMemory;
    EngineLink_Init(&g_memory.allLists);
    g_memory.recordListReady = false;
    if (!FreeList_CreateEx(sizeof(FreeList), 16, 8, 0, &g_memory.recordList)) return 0;
    EngineLink_Remove(&g_memory.recordList.allLists);
    g_memory.recordListReady = true;
    return 1;
}

int32_t Memory_ModuleClose(void)
{
    if (!g_memory.recordListReady) return 0;
    while (!EngineLink_Empty(&g_memory.allLists)) {
        FreeList* list = (FreeList*)((char*)g_memory.allLists.next - offsetof(FreeList, allLists));
        FreeList_Destroy(list);
    }
    g_memory.recordListReady = false;
    // The records' own list is not on the list of lists; free its blocks.
    while (!EngineLink_Empty(&g_memory.recordList.blocks)) ReleaseBlock(BlockOf(g_memory.recordList.blocks.next));
    return 1;
}
