// The resource arena and the best-fit heap it allocates from.
#include "gfx/core/arena.h"

#include "common/assert.h"
#include "gfx/core/arraylist.h"
#include "gfx/core/freelist.h"
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

TEST(ResourceArena, EntriesMovedToTheFrontOutliveOlderOnesAndFreeEmptyAndResizeNotifyAndClearOwners)
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
    EXPECT_EQ(std::tuple(outside.entry, outside.notified), std::tuple(nullptr, 1));
    ResourceArena_Empty();
    Owner a, b;
    ResourceArena_AllocateEntry(&a, &a.entry, 100, Notify);
    ResourceArena_AllocateEntry(&b, &b.entry, 200, Notify);
    EXPECT_EQ(ResourceArena_BytesInUse(), 300u);
    EXPECT_EQ((uintptr_t)ResourceArenaEntry_Data(a.entry) % 16, 0u);
    ResourceArena_FreeEntry(a.entry);
    EXPECT_EQ(std::tuple(a.entry, a.notified), std::tuple(nullptr, 1));
    ResourceArena_NewFrame();
    ResourceArena_Empty();
    EXPECT_EQ(std::tuple(b.entry, b.notified, ResourceArena_BytesInUse()), std::tuple(nullptr, 1, 0u));
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

TEST(ResourceHeap, SmallRequestsTakeOneGranuleAndSplitOnlyAboveTheThreshold)
{
    std::unique_ptr<void, decltype(&free)> memory(aligned_alloc(16, 4096), free);
    ASSERT_EQ(ResourceHeap_Init(memory.get(), 4096), 1);
    ResourceHeap* heap = (ResourceHeap*)memory.get();
    void* one = ResourceHeap_Alloc(heap, 1);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(std::tuple(ResourceHeap_BlockSize(one), (uintptr_t)one % 32), std::tuple(32u, 0u));
    void *a96 = ResourceHeap_Alloc(heap, 96), *fence1 = ResourceHeap_Alloc(heap, 32);
    void *a128 = ResourceHeap_Alloc(heap, 128), *fence2 = ResourceHeap_Alloc(heap, 32);
    ResourceHeap_Free(a96);
    ResourceHeap_Free(a128);
    // Best fit, split only when over 64 bytes are left: 96 stays whole, 128 splits.
    void* b = ResourceHeap_Alloc(heap, 32);
    EXPECT_EQ(std::tuple(b, ResourceHeap_BlockSize(b)), std::tuple(a96, 96u));
    void* c = ResourceHeap_Alloc(heap, 32);
    EXPECT_EQ(std::tuple(c, ResourceHeap_BlockSize(c)), std::tuple(a128, 32u));
    for (void* p : {one, b, fence1, c, fence2}) ResourceHeap_Free(p);
    EXPECT_EQ(heap->first->next, nullptr);  // everything merged back into one block
    EXPECT_EQ(ResourceHeap_Init(memory.get(), 60), 0);
}

// The kernel's containers: free lists of fixed-size entries and array lists.
namespace {

struct Walk {
    FreeList* list;
    std::set<void*> freeThese;
    int visited = 0;
};
void FreeSome(void* entry, void* data)
{
    Walk* w = (Walk*)data;
    w->visited++;
    if (w->freeThese.count(entry)) FreeList_Free(w->list, entry);
}

std::vector<void*> AllocMany(FreeList* list, int n)
{
    std::vector<void*> entries;
    for (int i = 0; i < n; i++) entries.push_back(FreeList_Alloc(list));
    return entries;
}

}  // namespace

TEST(FreeList, ForAllUsedSurvivesACallbackThatEmptiesABlockWithAndWithoutBlocks)
{
    for (uint32_t flags : {0u, (uint32_t)ENGINE_INIT_NO_FREELIST_BLOCKS}) {
        InitScope scope(flags);
        FreeList* list = FreeList_Create(16, 4, 32);
        std::vector<void*> e = AllocMany(list, 9);            // three blocks, the last holds one
        ASSERT_EQ(FreeList_BlockCount(list), flags ? 9 : 3);  // without blocks, one a live entry
        // Free every entry of the middle block and the lone entry of the newest.
        Walk w{list, {e[4], e[5], e[6], e[7], e[8]}};
        ASSERT_EQ(FreeList_ForAllUsed(list, FreeSome, &w), list);
        EXPECT_EQ(w.visited, 9);
        EXPECT_EQ(FreeList_BlockCount(list), flags ? 4 : 1);
        EXPECT_TRUE(FreeList_Validate(list));
        Walk count{list, {}};
        FreeList_ForAllUsed(list, FreeSome, &count);
        EXPECT_EQ(count.visited, 4);
        EXPECT_EQ((uintptr_t)FreeList_Alloc(list) % 32, 0u);  // left in use: destroy releases it
        FreeList_Destroy(list);
    }
}

TEST(FreeList, ValidationFindsABrokenRecordOrBlock)
{
    InitScope scope;
    FreeList* list = FreeList_Create(24, 5, 8);
    AllocMany(list, 2);
    EngineLink released;
    // Each case breaks one thing and mends it again.
    const std::tuple<const char*, void (*)(FreeList*, EngineLink*, int)> cases[] = {
        {"entry size off the alignment", [](FreeList* l, EngineLink*, int undo) { l->entrySize += undo ? -4 : 4; }},
        {"bitmap size off the count", [](FreeList* l, EngineLink*, int undo) { l->bitmapBytes += undo ? -1 : 1; }},
        {"block ring broken",
         [](FreeList* l, EngineLink*, int undo) { l->blocks.next->prev = undo ? &l->blocks : l->blocks.next; }},
        {"bit past the last entry",
         [](FreeList* l, EngineLink*, int) { ((uint8_t*)(l->blocks.next + 1))[0] ^= 0x80u >> 5; }},  // 0-4 only
        {"released entry outside a walk",
         [](FreeList* l, EngineLink* spare, int undo) {
             if (undo) EngineLink_Remove(spare);
             else EngineLink_InsertHead(&l->released, spare);
         }},
    };
    ASSERT_TRUE(FreeList_Validate(list));
    for (const auto& [what, edit] : cases) {
        edit(list, &released, 0);
        EXPECT_FALSE(FreeList_Validate(list)) << what;
        edit(list, &released, 1);
        EXPECT_TRUE(FreeList_Validate(list)) << what;
    }
    FreeList_Destroy(list);
}

TEST(FreeListDeathTest, FreeingAnEntryTwiceOrAnotherListsEntryAsserts)
{
    if (!Assert_Enabled()) GTEST_SKIP() << "assertions are compiled out of this build";
    InitScope scope;
    FreeList *list = FreeList_Create(16, 4, 8), *other = FreeList_Create(16, 4, 8);
    void *entry = FreeList_Alloc(list), *foreign = FreeList_Alloc(other);
    FreeList_Alloc(list);  // keeps the block alive after entry goes
    FreeList_Free(list, entry);
    EXPECT_DEATH(FreeList_Free(list, entry), "freelist\\.cpp:[0-9]+: assertion failed");
    EXPECT_DEATH(FreeList_Free(list, foreign), "freelist\\.cpp:[0-9]+: assertion failed: !entry");
    FreeList_Destroy(other);
    FreeList_Destroy(list);
}
