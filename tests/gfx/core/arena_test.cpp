#include "gfx/core/arena.h"

#include <gtest/gtest.h>

#include <vector>

#include "gfx/core/error.h"
#include "tests/gfx/core/test_driver.h"

using namespace testdriver;

namespace {

struct Owner {
    ResourceArenaEntry* entry = nullptr;
    int notified = 0;
};

void Notify(ResourceArenaEntry* e) { ((Owner*)e->owner)->notified++; }

// Starts the engine with an arena of the given size.
struct ArenaScope {
    int window = 0;
    explicit ArenaScope(size_t bytes)
    {
        Install();
        Error_Get(nullptr);
        EXPECT_EQ(Engine_Init(nullptr, 0, 0), 1);
        ResourceArena_SetSize(bytes);
        EXPECT_EQ(Engine_Open(&window), 1);
        EXPECT_EQ(Engine_Start(), 1);
    }
    ~ArenaScope()
    {
        Engine_Stop();
        Engine_Close();
        Engine_Term();
        Error_Get(nullptr);
    }
};

}  // namespace

TEST(ResourceArena, EvictsTheOldestFrameFirstThenTheCurrentOne)
{
    ArenaScope scope(8 * 1024);
    std::vector<Owner> owners(64);
    // Frame 1: four entries of 1 KB.
    for (int i = 0; i < 4; i++)
        ASSERT_NE(ResourceArena_AllocateEntry(&owners[i], &owners[i].entry, 1000, Notify), nullptr);
    ResourceArena_NewFrame();
    // Frame 2: keep allocating until frame-1 entries had to go.
    int i = 4;
    while (owners[0].entry) {
        ASSERT_NE(ResourceArena_AllocateEntry(&owners[i], &owners[i].entry, 1000, Notify), nullptr);
        i++;
    }
    EXPECT_EQ(owners[0].notified, 1);
    EXPECT_NE(owners[1].entry, nullptr);  // the oldest went first, one at a time
    EXPECT_EQ(ResourceArena_BytesEvicted(), 0u);
    // Use up frame 1, then the current frame's own oldest entries go and count as evicted.
    int firstOfFrame2 = 4;
    while (owners[firstOfFrame2].entry) {
        ASSERT_NE(ResourceArena_AllocateEntry(&owners[i], &owners[i].entry, 1000, Notify), nullptr);
        i++;
        ASSERT_LT(i, 64);
    }
    for (int k = 0; k < 4; k++) EXPECT_EQ(owners[k].entry, nullptr);
    EXPECT_EQ(owners[firstOfFrame2].notified, 1);
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

TEST(ResourceArena, FreeAndEmptyNotifyAndClearOwners)
{
    ArenaScope scope(16 * 1024);
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
}

TEST(ResourceArena, SizeZeroHasNoArena)
{
    EngineScope scope;
    Owner a;
    Error_Get(nullptr);
    EXPECT_EQ(ResourceArena_AllocateEntry(&a, &a.entry, 16, nullptr), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_ARENA_FULL);
}

TEST(ResourceArena, EntriesMovedToTheFrontOutliveOlderOnesAndOutsideEntriesStayPut)
{
    ArenaScope scope(8 * 1024);
    std::vector<Owner> owners(64);
    for (int i = 0; i < 3; i++)
        ASSERT_NE(ResourceArena_AllocateEntry(&owners[i], &owners[i].entry, 1000, Notify), nullptr);
    ResourceArena_NewFrame();
    ResourceArena_MoveToFront(owners[0].entry);  // used again this frame
    int i = 3;
    while (owners[1].entry && owners[2].entry) {
        ASSERT_NE(ResourceArena_AllocateEntry(&owners[i], &owners[i].entry, 1000, Notify), nullptr);
        i++;
    }
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
