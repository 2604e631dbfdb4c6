// The kernel's containers: free lists of fixed-size entries and array lists.
#include "gfx/core/freelist.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "common/assert.h"
#include "gfx/core/arraylist.h"
#include "tests/gfx/core/image_fixture.h"

using namespace testdriver;

namespace {

// A walk over the used entries that counts them and frees those listed.
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

TEST(FreeList, HandsOutEntriesInOrderThenStartsANewBlockAtTheHead)
{
    InitScope scope;
    FreeList* list = FreeList_Create(24, 16, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->alignment, 8);
    std::vector<void*> entries = AllocMany(list, 16);
    for (int i = 1; i < 16; i++) EXPECT_EQ((char*)entries[i] - (char*)entries[i - 1], 24);
    EXPECT_EQ(FreeList_BlockCount(list), 1);
    // Freed slots are reused lowest first.
    FreeList_Free(list, entries[5]);
    FreeList_Free(list, entries[3]);
    EXPECT_EQ(FreeList_Alloc(list), entries[3]);
    EXPECT_EQ(FreeList_Alloc(list), entries[5]);
    entries.push_back(FreeList_Alloc(list));
    EXPECT_EQ(FreeList_BlockCount(list), 2);
    EXPECT_TRUE(FreeList_Validate(list));
    // The new block is at the head: its entries are served before older gaps.
    FreeList_Free(list, entries[2]);
    char* second = (char*)FreeList_Alloc(list);
    EXPECT_EQ(second, (char*)entries[16] + 24);
    FreeList_Free(list, second);
    // The last entry of a block that is not the only one releases it; the
    // only block stays even when it empties.
    FreeList_Free(list, entries[16]);
    EXPECT_EQ(FreeList_BlockCount(list), 1);
    EXPECT_TRUE(FreeList_Validate(list));
    for (int i = 0; i < 16; i++)
        if (i != 2) FreeList_Free(list, entries[i]);
    EXPECT_EQ(FreeList_BlockCount(list), 1);
    EXPECT_EQ(FreeList_Purge(list), 0);
    FreeList_Destroy(list);
    // Large alignments hold for every entry; destroy releases entries still in use.
    list = FreeList_Create(40, 5, 64);
    for (void* p : AllocMany(list, 12)) EXPECT_EQ((uintptr_t)p % 64, 0u);
    FreeList_Destroy(list);
}

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
        // What is left still walks, allocates and frees normally.
        Walk count{list, {}};
        FreeList_ForAllUsed(list, FreeSome, &count);
        EXPECT_EQ(count.visited, 4);
        EXPECT_EQ((uintptr_t)FreeList_Alloc(list) % 32, 0u);  // left in use: destroy releases it
        FreeList_Destroy(list);
    }
}

TEST(FreeList, PurgeReleasesEmptyBlocksOfListsThatKeepThem)
{
    InitScope scope;
    FreeList* list = FreeList_Create(32, 2, 8);
    list->flags &= ~FREELIST_RELEASE_EMPTY;
    std::vector<void*> e = AllocMany(list, 6);
    for (int i = 0; i < 4; i++) FreeList_Free(list, e[i]);
    EXPECT_EQ(FreeList_BlockCount(list), 3);
    EXPECT_EQ(FreeList_PurgeAll(), 2 * 32);
    EXPECT_EQ(FreeList_BlockCount(list), 1);
    EXPECT_TRUE(FreeList_Validate(list));
    FreeList_Destroy(list);
}

TEST(FreeList, ValidationFindsABrokenRecordOrBlock)
{
    InitScope scope;
    FreeList* list = FreeList_Create(24, 5, 8);
    AllocMany(list, 2);
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
        {"bit past the last entry",
         [](FreeList* l, EngineLink*, int) { ((uint8_t*)(l->blocks.next + 1))[0] ^= 0x80u >> 5; }},  // 0-4 only
        {"released entry outside a walk",
         [](FreeList* l, EngineLink* spare, int undo) {
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

TEST(ArrayList, GrowsByAQuarterAndKeepsEntries)
{
    InitScope scope;
    ArrayList* list = ArrayList_Create(sizeof(int));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(ArrayList_GetArray(list), nullptr);
    for (int i = 0; i < 21; i++) *(int*)ArrayList_GetNewEntry(list) = i;
    EXPECT_EQ(list->capacity, 25);                        // 20, then a quarter more
    int* many = (int*)ArrayList_GetNewEntries(list, 10);  // 21 + 10 >= 25: 25 + 6 + 10
    EXPECT_EQ(list->capacity, 41);
    many[9] = 99;
    EXPECT_EQ(*(int*)ArrayList_GetEntry(list, 20), 20);
    EXPECT_EQ(*(int*)ArrayList_GetEntry(list, 30), 99);
    EXPECT_EQ(ArrayList_GetEntry(list, 31), nullptr);
    int* array = (int*)ArrayList_DestroyKeepArray(list);
    EXPECT_EQ(array[5], 5);
    Engine_Free(array);
    EXPECT_EQ(ArrayList_DestroyKeepArray(ArrayList_Create(8)), nullptr);
}
