#include "common/list.h"

#include "common/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

uintptr_t Addr(const void* p)
{
    return (uintptr_t)p;
}

struct Walk {
    int calls = 0;
    int stopAt = 0;
    List* pool = nullptr;
    void* freeDuringWalk = nullptr;
    std::vector<void*> seen;
};

int Visit(void* item, void* arg)
{
    Walk* walk = (Walk*)arg;
    walk->seen.push_back(item);
    ++walk->calls;
    if (walk->freeDuringWalk) {
        List_Free(walk->pool, walk->freeDuringWalk);
        walk->freeDuringWalk = nullptr;
    }
    return walk->calls == walk->stopAt;
}

}  // namespace

TEST(List, StrideIsTheItemRoundedToTheAlignmentPlusAPointerSizedHeader)
{
    for (size_t a : {1, 2, 4, 8}) {
        List* pool = List_Create(10, a);
        EXPECT_EQ(pool->stride, 24u) << a;
        EXPECT_EQ(pool->headerSize, 8u);
        List_Destroy(pool);
    }
    List* pool = List_Create(10, 16);
    EXPECT_EQ(pool->stride, 32u);
    void* item = List_Alloc(pool);
    EXPECT_EQ(Addr(item) % 16, 0u);
    List_Destroy(pool);

    List* wide = List_Create(10, 64);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Addr(List_Alloc(wide)) % 64, 0u);
    List_Destroy(wide);
    EXPECT_EQ(List_Create(8, 12), nullptr);
}

TEST(List, GrowsInBlocksOf1Then2Then4ServingEachNewBlockFromItsLastSlot)
{
    List* pool = List_Create(16);
    void* a = List_Alloc(pool);
    EXPECT_EQ(pool->blockCount, 1u);
    EXPECT_EQ(Addr(a) - pool->headerSize, Addr(pool->blocks[0]));
    void* b = List_Alloc(pool);
    EXPECT_EQ(pool->blockCount, 2u);
    EXPECT_EQ(Addr(b) - pool->headerSize, Addr(pool->blocks[1]) + pool->stride);
    void* c = List_Alloc(pool);
    EXPECT_EQ(pool->blockCount, 2u);
    EXPECT_EQ(Addr(c) - pool->headerSize, Addr(pool->blocks[1]));
    void* d = List_Alloc(pool);
    EXPECT_EQ(pool->blockCount, 3u);
    EXPECT_EQ(Addr(d) - pool->headerSize, Addr(pool->blocks[2]) + 3 * pool->stride);
    EXPECT_EQ(List_Count(pool), 4u);
    EXPECT_EQ(List_Destroy(pool), 0u);
}

TEST(List, FreedItemsComeBackLastInFirstOutAndZeroed)
{
    List* pool = List_Create(32);
    void* a = List_Alloc(pool);
    void* b = List_Alloc(pool);
    memset(a, 0xAB, 32);
    memset(b, 0xCD, 32);
    List_Free(pool, a);
    List_Free(pool, b);
    EXPECT_EQ(List_Alloc(pool), b);
    EXPECT_EQ(List_Alloc(pool), a);
    for (int i = 0; i < 32; ++i)
        ASSERT_EQ(((unsigned char*)a)[i], 0);
    List_Destroy(pool);
}

TEST(List, FixedBlockSizeCapsTheCapacity)
{
    List* pool = List_Create(12);
    EXPECT_EQ(List_SetBlockSize(pool, 8), 1);
    EXPECT_EQ(pool->blockCount, 1u);
    std::vector<void*> items;
    for (int i = 0; i < 8; ++i) {
        items.push_back(List_Alloc(pool));
        ASSERT_NE(items.back(), nullptr);
    }
    EXPECT_EQ(List_Alloc(pool), nullptr);
    EXPECT_EQ(pool->blockCount, 1u);
    EXPECT_EQ(List_SetBlockSize(pool, 16), 0);
    EXPECT_EQ(pool->fixedBlockItems, 8u);
    List_Free(pool, items[3]);
    EXPECT_EQ(List_Alloc(pool), items[3]);
    List_Destroy(pool);
}

TEST(List, ItemsThatAreNotLiveInThisPoolAreIgnoredOnFree)
{
    List* pool = List_Create(16);
    List* other = List_Create(16);
    void* a = List_Alloc(pool);
    void* b = List_Alloc(pool);
    void* foreign = List_Alloc(other);

    List_Free(pool, a);
    List_Free(pool, a);  // twice
    List_Free(pool, foreign);  // a live item of another pool
    List_Free(pool, (char*)b + 4);  // inside a slot, not on its boundary
    // Inside an item whose bytes look like a live header: a self-linked
    // list head 8 bytes before the pointer.
    ((uintptr_t*)b)[1] = (uintptr_t)b + 8;
    List_Free(pool, (char*)b + 16);
    List_Free(pool, nullptr);
    int onStack = 0;
    List_Free(pool, &onStack);
    List_Free(pool, (void*)(uintptr_t)4);  // an address below any header

    EXPECT_EQ(List_Count(pool), 1u);
    EXPECT_EQ(List_Count(other), 1u);
    EXPECT_EQ(((uintptr_t*)b)[1], (uintptr_t)b + 8);
    EXPECT_EQ(List_Alloc(pool), a);  // the free list still holds only a
    void* fresh = List_Alloc(pool);
    EXPECT_NE(fresh, a);
    EXPECT_NE(fresh, b);
    EXPECT_NE(fresh, foreign);

    List_Clear(pool, 1);
    List_Free(pool, b);  // stale after the clear: its block is gone
    EXPECT_EQ(List_Count(pool), 0u);
    List_Destroy(pool);
    List_Destroy(other);
}

TEST(List, ForEachVisitsInAddressOrderAndStopsWhereTheCallbackSays)
{
    List* pool = List_Create(8);
    std::vector<void*> items;
    for (int i = 0; i < 7; ++i)
        items.push_back(List_Alloc(pool));
    Walk all;
    EXPECT_EQ(List_ForEach(pool, Visit, &all), nullptr);
    std::vector<void*> expected;  // block by block, each in address order
    for (uint32_t b = 0; b < pool->blockCount; ++b)
        for (uint32_t i = 0; i < (1u << b); ++i)
            expected.push_back(pool->blocks[b] + i * pool->stride + pool->headerSize);
    EXPECT_EQ(all.seen, expected);

    Walk stop;
    stop.stopAt = 3;
    void* third = List_ForEach(pool, Visit, &stop);
    EXPECT_EQ(stop.calls, 3);
    EXPECT_EQ(third, all.seen[2]);

    Walk freeing;
    freeing.pool = pool;
    freeing.freeDuringWalk = all.seen[4];
    List_ForEach(pool, Visit, &freeing);
    EXPECT_EQ(freeing.calls, 6);  // the item freed by the callback was skipped
    List_Destroy(pool);
}

TEST(List, TrimReleasesOnlyTrailingEmptyBlocks)
{
    List* pool = List_Create(8);
    std::vector<void*> items;
    for (int i = 0; i < 7; ++i)  // blocks of 1, 2 and 4
        items.push_back(List_Alloc(pool));
    size_t before = List_GetTotalBytes();
    // items[3..6] live in the last block; keep one of them.
    for (int i = 3; i < 6; ++i)
        List_Free(pool, items[i]);
    List_Clear(pool, 0);
    EXPECT_EQ(pool->blockCount, 3u);
    EXPECT_EQ(List_GetTotalBytes(), before);

    List_Free(pool, items[6]);
    List_Free(pool, items[1]);
    List_Clear(pool, 0);
    EXPECT_EQ(pool->blockCount, 2u);
    EXPECT_EQ(List_GetTotalBytes(), before - 4 * pool->stride);
    // The free list lost the released block's slots but kept items[1].
    EXPECT_EQ(List_Alloc(pool), items[1]);
    void* grown = List_Alloc(pool);
    EXPECT_EQ(pool->blockCount, 3u);
    EXPECT_EQ(Addr(grown) - pool->headerSize, Addr(pool->blocks[2]) + 3 * pool->stride);
    EXPECT_EQ(List_Count(pool), 4u);
    List_Destroy(pool);
}

TEST(List, DestroyHonoursTheReferenceCountAndUnlinksThePool)
{
    size_t before = List_GetTotalBytes();
    List* pool = List_Create(8);
    List_Alloc(pool);
    EXPECT_EQ(List_GetFirst(), pool);
    List_AddRef(pool);
    EXPECT_EQ(List_Destroy(pool), 1u);
    EXPECT_EQ(List_GetFirst(), pool);
    EXPECT_EQ(List_Count(pool), 1u);
    EXPECT_EQ(List_Destroy(pool), 0u);
    EXPECT_NE(List_GetFirst(), pool);
    EXPECT_EQ(List_GetTotalBytes(), before);
    EXPECT_EQ(List_Destroy(nullptr), 0u);
}
