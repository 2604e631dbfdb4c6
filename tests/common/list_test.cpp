#include "common/list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

uintptr_t Addr(const void* p) { return (uintptr_t)p; }

std::vector<void*> AllocN(List* pool, int n)
{
    std::vector<void*> items;
    for (int i = 0; i < n; ++i) items.push_back(List_Alloc(pool));
    return items;
}

struct Walk {
    int stopAt = 0;
    List* pool = nullptr;
    void* freeDuringWalk = nullptr;
    std::vector<void*> seen;
};

int Visit(void* item, void* arg)
{
    Walk* walk = (Walk*)arg;
    walk->seen.push_back(item);
    if (walk->freeDuringWalk) List_Free(walk->pool, walk->freeDuringWalk);
    walk->freeDuringWalk = nullptr;
    return (int)walk->seen.size() == walk->stopAt;
}

}  // namespace

TEST(List, ItemsAreAlignedApartAndComeBackLastInFirstOutAndZeroed)
{
    for (size_t a : {1, 8, 16, 64}) {
        List* pool = List_Create(10, a);
        std::vector<void*> items = AllocN(pool, 7);
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(Addr(items[i]) % (a < 8 ? 8 : a), 0u) << a;
            memset(items[i], (int)i + 1, 10);  // whole items: none overlaps another
        }
        for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(((uint8_t*)items[i])[9], i + 1) << a;
        List_Free(pool, items[2]);
        List_Free(pool, items[5]);
        EXPECT_EQ(List_Alloc(pool), items[5]);
        EXPECT_EQ(List_Alloc(pool), items[2]);
        EXPECT_EQ(((uint8_t*)items[2])[9], 0);
        List_Destroy(pool);
    }
    EXPECT_EQ(List_Create(8, 12), nullptr);  // not a power of two
}

TEST(List, GrowsInBlocksOf1Then2Then4AndWalksEachBlockInAddressOrder)
{
    List* pool = List_Create(8);
    std::vector<size_t> bytes = {List_GetTotalBytes()};
    std::vector<void*> items;
    for (int i = 0; i < 7; ++i) {
        items.push_back(List_Alloc(pool));
        bytes.push_back(List_GetTotalBytes());
    }
    const size_t one = bytes[1] - bytes[0];
    EXPECT_EQ(std::make_tuple(bytes[2] - bytes[1], bytes[3], bytes[4] - bytes[3], bytes[7]),
              std::make_tuple(2 * one, bytes[2], 4 * one, bytes[4]));
    // A new block serves its last slot first, so the walk (block by block,
    // each in address order) meets each block's items in reverse.
    Walk all;
    EXPECT_EQ(List_ForEach(pool, Visit, &all), nullptr);
    EXPECT_EQ(all.seen, (std::vector<void*>{items[0], items[2], items[1], items[6], items[5], items[4], items[3]}));
    Walk stop;
    stop.stopAt = 3;
    EXPECT_EQ(List_ForEach(pool, Visit, &stop), items[1]);
    EXPECT_EQ(stop.seen.size(), 3u);
    Walk freeing;
    freeing.pool = pool;
    freeing.freeDuringWalk = all.seen[4];
    List_ForEach(pool, Visit, &freeing);
    EXPECT_EQ(freeing.seen.size(), 6u);  // the item freed by the callback was skipped

    // Trimming releases trailing blocks without live items only: items[3..6]
    // share the last block, items[3] in its last slot.
    for (int i = 4; i < 7; ++i) List_Free(pool, items[i]);
    List_Clear(pool, 0);
    EXPECT_EQ(List_GetTotalBytes(), bytes[7]);
    List_Free(pool, items[3]);
    List_Free(pool, items[1]);
    List_Clear(pool, 0);
    EXPECT_EQ(List_GetTotalBytes(), bytes[7] - 4 * one);
    // The free list lost the released block's slots but kept items[1].
    EXPECT_EQ(List_Alloc(pool), items[1]);
    List_Alloc(pool);
    EXPECT_EQ(List_GetTotalBytes(), bytes[7]);
    EXPECT_EQ(List_Count(pool), 4u);
    List_Destroy(pool);
}

TEST(List, ItemsThatAreNotLiveInThisPoolAreIgnoredOnFree)
{
    List *pool = List_Create(16), *other = List_Create(16);
    void *a = List_Alloc(pool), *b = List_Alloc(pool), *foreign = List_Alloc(other);
    List_Free(pool, a);
    List_Free(pool, a);             // twice
    List_Free(pool, foreign);       // a live item of another pool
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
    EXPECT_TRUE(fresh != a && fresh != b && fresh != foreign);
    List_Clear(pool, 1);
    List_Free(pool, b);  // stale after the clear: its block is gone
    EXPECT_EQ(List_Count(pool), 0u);
    List_Destroy(pool);
    List_Destroy(other);
}

TEST(List, DestroyHonoursTheReferenceCountAndUnlinksThePool)
{
    size_t before = List_GetTotalBytes();
    List* older = List_Create(8);
    List* pool = List_Create(8);
    List_Alloc(pool);
    EXPECT_EQ(List_GetFirst(), pool);
    List_AddRef(pool);
    EXPECT_EQ(List_Destroy(pool), 1u);
    EXPECT_EQ(List_GetFirst(), pool);
    EXPECT_EQ(List_Count(pool), 1u);
    EXPECT_EQ(List_Destroy(pool), 0u);
    EXPECT_EQ(List_GetFirst(), older);
    EXPECT_EQ(List_Destroy(older), 0u);
    EXPECT_EQ(List_GetTotalBytes(), before);
    EXPECT_EQ(List_Destroy(nullptr), 0u);
}
