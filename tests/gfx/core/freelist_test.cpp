// The kernel's containers: free lists of fixed-size entries and array lists.
#include "gfx/core/freelist.h"

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
