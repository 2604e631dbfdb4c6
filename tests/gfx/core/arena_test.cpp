// The resource arena and the best-fit heap it allocates from.
#include "gfx/core/arena.h"

#include "gfx/core/resourceheap.h"
#include "tests/gfx/core/image_fixture.h"

using namespace testdriver;

namespace {

struct Owner {
    ResourceArenaEntry* entry = nullptr;
    int notified = 0;
};

void Notify(ResourceArenaEntry* e) { ((Owner*)e->owner)->notified++; }

// 1000-byte entries for owners[i], owners[i + 1], ... until done().
template <typename Done>
void FillUntil(std::vector<Owner>& owners, int& i, Done done)
{
    while (!done()) {
        ASSERT_LT(i, (int)owners.size());
        ASSERT_NE(ResourceArena_AllocateEntry(&owners[i], &owners[i].entry, 1000, Notify), nullptr);
        i++;
    }
}

}  // namespace

TEST(ResourceArena, EvictsTheOldestFrameFirstThenTheCurrentOne)
{
    EngineScope scope(0, 8 * 1024);
    std::vector<Owner> owners(64);
    int i = 0;
    FillUntil(owners, i, [&] { return i == 4; });  // frame 1
    ResourceArena_NewFrame();
    // Frame 2: allocate until frame-1 entries had to go, the oldest first, one at a time.
    FillUntil(owners, i, [&] { return !owners[0].entry; });
    EXPECT_EQ(owners[0].notified, 1);
    EXPECT_NE(owners[1].entry, nullptr);
    EXPECT_EQ(ResourceArena_BytesEvicted(), 0u);
    // Frame 1 used up, the current frame's own oldest entries go and count as evicted.
    FillUntil(owners, i, [&] { return !owners[4].entry; });
    for (int k = 0; k < 4; k++) EXPECT_EQ(owners[k].entry, nullptr);
    EXPECT_EQ(owners[4].notified, 1);
    EXPECT_GE(ResourceArena_BytesEvicted(), 1000u);

    // Too large for the whole arena: everything goes and the owner gets null.
    Owner big;
    big.entry = (ResourceArenaEntry*)&big;  // must be cleared
    Error_Get(nullptr);
    EXPECT_EQ(ResourceArena_AllocateEntry(&big, &big.entry, 100000, Notify), nullptr);
    EXPECT_EQ(big.entry, nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_ARENA_FULL);
    EXPECT_EQ(ResourceArena_BytesInUse(), 0u);
}

TEST(ResourceArena, FreeEmptyAndResizeNotifyAndClearOwners)
{
    EngineScope scope(0, 16 * 1024);
    Owner a, b;
    ResourceArena_AllocateEntry(&a, &a.entry, 100, Notify);
    ResourceArena_AllocateEntry(&b, &b.entry, 200, Notify);
    EXPECT_EQ(ResourceArena_BytesInUse(), 300u);
    EXPECT_EQ((uintptr_t)ResourceArenaEntry_Data(a.entry) % 16, 0u);
    ResourceArena_FreeEntry(a.entry);
    EXPECT_EQ(a.entry, nullptr);
    EXPECT_EQ(a.notified, 1);
    ResourceArena_NewFrame();
    ResourceArena_Empty();
    EXPECT_EQ(b.entry, nullptr);
    EXPECT_EQ(b.notified, 1);
    EXPECT_EQ(ResourceArena_BytesInUse(), 0u);
    // Resizing a running arena empties and rebuilds it.
    ResourceArena_AllocateEntry(&a, &a.entry, 100, Notify);
    EXPECT_EQ(ResourceArena_SetSize(32 * 1024), 1);
    EXPECT_EQ(a.entry, nullptr);
    EXPECT_NE(ResourceArena_AllocateEntry(&a, &a.entry, 20000, Notify), nullptr);
    // Of size zero there is no arena at all.
    EXPECT_EQ(ResourceArena_SetSize(0), 1);
    Error_Get(nullptr);
    EXPECT_EQ(ResourceArena_AllocateEntry(&b, &b.entry, 16, nullptr), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_ARENA_FULL);
}

TEST(ResourceArena, EntriesMovedToTheFrontOutliveOlderOnesAndOutsideEntriesStayPut)
{
    EngineScope scope(0, 8 * 1024);
    std::vector<Owner> owners(64);
    int i = 0;
    FillUntil(owners, i, [&] { return i == 3; });
    ResourceArena_NewFrame();
    ResourceArena_MoveToFront(owners[0].entry);  // used again this frame
    FillUntil(owners, i, [&] { return !owners[1].entry || !owners[2].entry; });
    EXPECT_NE(owners[0].entry, nullptr);
    // An entry made outside the arena is left alone, and freed by FreeEntry.
    Owner outside;
    ResourceArenaEntry* e = (ResourceArenaEntry*)Engine_Malloc(sizeof(ResourceArenaEntry) + 16);
    *e = ResourceArenaEntry{{nullptr, nullptr}, 16, &outside, &outside.entry, Notify};
    outside.entry = e;
    ResourceArena_MoveToFront(e);
    EXPECT_EQ(e->link.next, nullptr);
    ResourceArena_FreeEntry(e);
    EXPECT_EQ(outside.entry, nullptr);
    EXPECT_EQ(outside.notified, 1);
    ResourceArena_Empty();  // before the owners go
}

TEST(ResourceHeap, SmallRequestsTakeOneGranuleAndSplitOnlyAboveTheThreshold)
{
    std::unique_ptr<void, decltype(&free)> memory(aligned_alloc(16, 4096), free);
    ASSERT_EQ(ResourceHeap_Init(memory.get(), 4096), 1);
    ResourceHeap* heap = (ResourceHeap*)memory.get();
    void* one = ResourceHeap_Alloc(heap, 1);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(ResourceHeap_BlockSize(one), 32u);
    EXPECT_EQ((uintptr_t)one % 32, 0u);
    // A 96-byte and a 128-byte free block, each fenced by a used one.
    void* a96 = ResourceHeap_Alloc(heap, 96);
    void* fence1 = ResourceHeap_Alloc(heap, 32);
    void* a128 = ResourceHeap_Alloc(heap, 128);
    void* fence2 = ResourceHeap_Alloc(heap, 32);
    ResourceHeap_Free(a96);
    ResourceHeap_Free(a128);
    // Best fit, split only when over 64 bytes are left: 96 stays whole, 128 splits.
    void* b = ResourceHeap_Alloc(heap, 32);
    EXPECT_EQ(b, a96);
    EXPECT_EQ(ResourceHeap_BlockSize(b), 96u);
    void* c = ResourceHeap_Alloc(heap, 32);
    EXPECT_EQ(c, a128);
    EXPECT_EQ(ResourceHeap_BlockSize(c), 32u);
    for (void* p : {one, b, fence1, c, fence2}) ResourceHeap_Free(p);
    EXPECT_EQ(heap->first->next, nullptr);  // everything merged back into one block
    EXPECT_EQ(ResourceHeap_Init(memory.get(), 60), 0);
}
