#include "gfx/core/freelist.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "common/assert.h"
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
    EXPECT_TRUE(FreeList_Validate(list));
    // The new block is at the head: its entries are served before older gaps.
    FreeList_Free(list, entries[2]);
    char* second = (char*)FreeList_Alloc(list);
    EXPECT_EQ(second, entries[16] + 24);
    FreeList_Free(list, second);
    // The last entry of a block that is not the only one releases it.
    FreeList_Free(list, entries[16]);
    EXPECT_EQ(FreeList_BlockCount(list), 1);
    EXPECT_TRUE(FreeList_Validate(list));
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
    EXPECT_TRUE(FreeList_Validate(list));
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
    EXPECT_TRUE(FreeList_Validate(list));
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
    EXPECT_TRUE(FreeList_Validate(list));
    FreeList_Destroy(list);
    ASSERT_EQ(Engine_Term(), 1);
}

TEST(FreeList, ValidationFindsABrokenRecordOrBlock)
{
    InitScope scope;
    FreeList* list = FreeList_Create(24, 5, 8);
    FreeList_Alloc(list);
    FreeList_Alloc(list);
    EngineLink released;
    // Each case breaks one thing and mends it again.
    struct Case {
        const char* what;
        void (*edit)(FreeList* list, EngineLink* spare, int undo);
    } cases[] = {
        {"entry size off the alignment", [](FreeList* l, EngineLink*, int undo) { l->entrySize += undo ? -4 : 4; }},
        {"bitmap size off the count", [](FreeList* l, EngineLink*, int undo) { l->bitmapBytes += undo ? -1 : 1; }},
        {"block ring broken",
         [](FreeList* l, EngineLink*, int undo) { l->blocks.next->prev = undo ? &l->blocks : l->blocks.next; }},
        {"bit past the last entry", [](FreeList* l, EngineLink*, int) {
             uint8_t* bitmap = (uint8_t*)(l->blocks.next + 1);
             bitmap[0] ^= 0x80u >> 5;  // entries 0-4 only
         }},
        {"released entry outside a walk", [](FreeList* l, EngineLink* spare, int undo) {
             if (undo) EngineLink_Remove(spare);
             else EngineLink_InsertHead(&l->released, spare);
         }},
    };
    ASSERT_TRUE(FreeList_Validate(list));
    for (const Case& c : cases) {
        c.edit(list, &released, 0);
        EXPECT_FALSE(FreeList_Validate(list)) << c.what;
        c.edit(list, &released, 1);
        EXPECT_TRUE(FreeList_Validate(list)) << c.what;
    }
    FreeList_Destroy(list);
}

TEST(FreeListDeathTest, FreeingAnEntryTwiceOrAnotherListsEntryAsserts)
{
    if (!Assert_Enabled()) GTEST_SKIP() << "assertions are compiled out of this build";
    InitScope scope;
    FreeList* list = FreeList_Create(16, 4, 8);
    FreeList* other = FreeList_Create(16, 4, 8);
    void* entry = FreeList_Alloc(list);
    void* foreign = FreeList_Alloc(other);
    FreeList_Alloc(list);  // keeps the block alive after entry goes
    FreeList_Free(list, entry);
    EXPECT_DEATH(FreeList_Free(list, entry), "freelist\\.cpp:[0-9]+: assertion failed");
    EXPECT_DEATH(FreeList_Free(list, foreign), "freelist\\.cpp:[0-9]+: assertion failed: !entry");
    FreeList_Destroy(other);
    FreeList_Destroy(list);
}
