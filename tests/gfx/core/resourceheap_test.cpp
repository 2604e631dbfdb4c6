#include "gfx/core/resourceheap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct HeapMemory {
    void* memory;
    explicit HeapMemory(size_t size) : memory(aligned_alloc(16, size)) {}
    ~HeapMemory() { free(memory); }
};

// Walks the blocks: every header 32-aligned, no two free neighbours, and
// headers plus data cover the same bytes as at the start.
uint64_t CheckBlocks(ResourceHeap* heap)
{
    uint64_t total = 0;
    for (ResourceHeapBlock* b = heap->first; b; b = b->next) {
        EXPECT_EQ((uintptr_t)b % 32, 0u);
        EXPECT_EQ(b->size % 32, 0u);
        if (b->next) {
            EXPECT_EQ((uintptr_t)b->next, (uintptr_t)b + 32 + b->size);
            EXPECT_FALSE(!b->inUse && !b->next->inUse);
        }
        total += 32 + b->size;
    }
    return total;
}

}  // namespace

TEST(ResourceHeap, SmallRequestsTakeOneGranuleAndSplitOnlyAboveTheThreshold)
{
    HeapMemory mem(4096);
    ASSERT_EQ(ResourceHeap_Init(mem.memory, 4096), 1);
    ResourceHeap* heap = (ResourceHeap*)mem.memory;
    void* one = ResourceHeap_Alloc(heap, 1);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(ResourceHeap_BlockSize(one), 32u);
    EXPECT_EQ((uintptr_t)one % 32, 0u);

    // Make a 96-byte and a 128-byte free block, each fenced by a used one.
    void* a96 = ResourceHeap_Alloc(heap, 96);
    void* fence1 = ResourceHeap_Alloc(heap, 32);
    void* a128 = ResourceHeap_Alloc(heap, 128);
    void* fence2 = ResourceHeap_Alloc(heap, 32);
    ResourceHeap_Free(a96);
    ResourceHeap_Free(a128);
    // Best fit: 32 bytes go to the 96-byte block, which is not split (96 - 32 <= 64).
    void* b = ResourceHeap_Alloc(heap, 32);
    EXPECT_EQ(b, a96);
    EXPECT_EQ(ResourceHeap_BlockSize(b), 96u);
    // The 128-byte block is split for 32 (128 - 32 > 64).
    void* c = ResourceHeap_Alloc(heap, 32);
    EXPECT_EQ(c, a128);
    EXPECT_EQ(ResourceHeap_BlockSize(c), 32u);
    for (void* p : {one, b, fence1, c, fence2}) ResourceHeap_Free(p);
    EXPECT_EQ(heap->first->next, nullptr);  // everything merged back into one block
    EXPECT_EQ(ResourceHeap_Init(mem.memory, 60), 0);
}

TEST(ResourceHeap, RandomUseKeepsBlocksAlignedMergedAndConserved)
{
    const uint32_t size = 64 * 1024;
    HeapMemory mem(size);
    ASSERT_EQ(ResourceHeap_Init(mem.memory, size), 1);
    ResourceHeap* heap = (ResourceHeap*)mem.memory;
    uint64_t total = CheckBlocks(heap);
    std::mt19937 rng(5);
    std::vector<void*> live;
    for (int step = 0; step < 3000; step++) {
        if (live.empty() || rng() % 3 != 0) {
            void* p = ResourceHeap_Alloc(heap, rng() % 700 + 1);
            if (p) live.push_back(p);
        } else {
            size_t i = rng() % live.size();
            ResourceHeap_Free(live[i]);
            live[i] = live.back();
            live.pop_back();
        }
        if (step % 100 == 0) {
            ASSERT_EQ(CheckBlocks(heap), total);
        }
    }
    for (void* p : live) ResourceHeap_Free(p);
    EXPECT_EQ(CheckBlocks(heap), total);
    EXPECT_EQ(heap->first->next, nullptr);
}
