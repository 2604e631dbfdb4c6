#include "gfx/core/freelist.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "tests/gfx/core/test_driver.h"

using namespace testdriver;

TEST(FreeList, HandsOutEntriesInOrderThenStartsANewBlockAtTheHead)
{
    InitScope scope;
    FreeList* list = FreeList_Create(24, 16, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->alignment, 8);
    EXPECT_EQ(list->entrySize, 24);
    std::vector<char*> entries;
    for (int i = 0; i < 16; i++) entries.push_back((char*)FreeList_Alloc(list));
    for (int i = 1; i < 16; i++) EXPECT_EQ(entries[i] - entries[i - 1], 24);
    EXPECT_EQ(FreeList_BlockCount(list), 1);
    // Freed slots are reused lowest first.
    FreeList_Free(list, entries[5]);
    FreeList_Free(list, entries[3]);
    EXPECT_EQ(FreeList_Alloc(list), entries[3]);
    EXPECT_EQ(FreeList_Alloc(list), entries[5]);
    entries.push_back((char*)FreeList_Alloc(list));
    EXPECT_EQ(FreeList_BlockCount(list), 2);
    // The new block is at the head: its entries are served before older gaps.
    FreeList_Free(list, entries[2]);
    char* second = (char*)FreeList_Alloc(list);
    EXPECT_EQ(second, entries[16] + 24);
    FreeList_Free(list, second);
    // The last entry of a block that is not the only one releases it.
    FreeList_Free(list, entries[16]);
    EXPECT_EQ(FreeList_BlockCount(list), 1);
    // The only block stays even when it empties.
    for (int i = 0; i < 16; i++)
        if (i != 2) FreeList_Free(list, entries[i]);
    EXPECT_EQ(FreeList_BlockCount(list), 1);
    EXPECT_EQ(FreeList_Purge(list), 0);
    FreeList_Destroy(list);
}

TEST(FreeList, EntriesHonourLargeAlignments)
{
    InitScope scope;
    FreeList* list = FreeList_Create(40, 5, 64);
    for (int i = 0; i < 12; i++) {
        void* p = FreeList_Alloc(list);
        EXPECT_EQ((uintptr_t)p % 64, 0u);
    }
    FreeList_Destroy(list);  // releases entries still in use
}

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
}  // namespace

TEST(FreeList, ForAllUsedSurvivesACallbackThatEmptiesABlock)
{
    InitScope scope;
    FreeList* list = FreeList_Create(16, 4, 8);
    std::vector<void*> e;
    for (int i = 0; i < 9; i++) e.push_back(FreeList_Alloc(list));  // three blocks, the last holds one
    ASSERT_EQ(FreeList_BlockCount(list), 3);
    // Free every entry of the middle block and the lone entry of the newest.
    Walk w{list, {e[4], e[5], e[6], e[7], e[8]}};
    ASSERT_EQ(FreeList_ForAllUsed(list, FreeSome, &w), list);
    EXPECT_EQ(w.visited, 9);
    EXPECT_EQ(FreeList_BlockCount(list), 1);
    // What is left still allocates and frees normally.
    Walk count{list, {}};
    FreeList_ForAllUsed(list, FreeSome, &count);
    EXPECT_EQ(count.visited, 4);
    FreeList_Destroy(list);
}

TEST(FreeList, PurgeReleasesEmptyBlocksOfListsThatKeepThem)
{
    InitScope scope;
    FreeList* list = FreeList_Create(32, 2, 8);
    list->flags &= ~FREELIST_RELEASE_EMPTY;
    std::vector<void*> e;
    for (int i = 0; i < 6; i++) e.push_back(FreeList_Alloc(list));
    for (int i = 0; i < 4; i++) FreeList_Free(list, e[i]);
    EXPECT_EQ(FreeList_BlockCount(list), 3);
    EXPECT_EQ(FreeList_PurgeAll(), 2 * 32);
    EXPECT_EQ(FreeList_BlockCount(list), 1);
    FreeList_Destroy(list);
}

TEST(FreeList, WithoutBlocksEveryEntryIsItsOwnAllocation)
{
    Install();
    ASSERT_EQ(Engine_Init(nullptr, ENGINE_INIT_NO_FREELIST_BLOCKS, 0), 1);
    FreeList* list = FreeList_Create(24, 16, 32);
    EXPECT_EQ(FreeList_BlockCount(list), 0);
    void* a = FreeList_Alloc(list);
    void* b = FreeList_Alloc(list);
    EXPECT_EQ((uintptr_t)a % 32, 0u);
    EXPECT_NE(a, b);
    // The walk reaches every entry, and the callback may free them.
    Walk w{list, {a, b}};
    ASSERT_EQ(FreeList_ForAllUsed(list, FreeSome, &w), list);
    EXPECT_EQ(w.visited, 2);
    EXPECT_EQ(FreeList_BlockCount(list), 0);
    FreeList_Alloc(list);  // left in use: destroy releases it
    FreeList_Destroy(list);
    ASSERT_EQ(Engine_Term(), 1);
}
