#include "common/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

// These tests ask the heap for impossible sizes on purpose: under
// AddressSanitizer such a request must fail with null, as it does in a normal
// build, instead of stopping the run.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

bool IsAligned(const void* p, size_t a)
{
    return ((uintptr_t)p & (a - 1)) == 0;
}

void Fill(void* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        ((unsigned char*)p)[i] = (unsigned char)(i * 7 + 1);
}

bool Holds(const void* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (((const unsigned char*)p)[i] != (unsigned char)(i * 7 + 1))
            return false;
    return true;
}

}  // namespace

TEST(Memory, BlocksHonourEveryAlignmentFrom8To64AndRecordTheHeapBlockInFront)
{
    for (size_t a : {1, 4, 8, 16, 32, 64}) {
        void* p = Mem_Alloc(10, a);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(IsAligned(p, a < 8 ? 8 : a)) << "alignment " << a;
        void* base = ((void**)p)[-1];
        EXPECT_LT((uintptr_t)base, (uintptr_t)p);
        EXPECT_LE((uintptr_t)p - (uintptr_t)base, a < 8 ? 8 : a);
        EXPECT_GE(Mem_GetSize(p), 10u);
        Fill(p, Mem_GetSize(p));  // the whole usable size is writable
        Mem_Free(p);
    }
    Mem_Free(nullptr);
    EXPECT_EQ(Mem_GetSize(nullptr), 0u);
}

TEST(Memory, RequestsThatCannotBeMetFailWithNull)
{
    EXPECT_EQ(Mem_Alloc(SIZE_MAX - 4, 16), nullptr);      // size + alignment overflows
    EXPECT_EQ(Mem_Alloc(16, 24), nullptr);               // not a power of two
    EXPECT_EQ(Mem_Calloc16(SIZE_MAX / 2, 3), nullptr);   // count x size overflows
    EXPECT_EQ(Mem_Calloc16((size_t)1 << 62, 8), nullptr);
    EXPECT_EQ(Mem_Alloc((size_t)1 << 62, 8), nullptr);   // the heap refuses
}

TEST(Memory, ReallocKeepsContentsWhenGrowingAndShrinkingAtEveryAlignment)
{
    for (size_t a : {4, 16, 64}) {
        void* p = Mem_Realloc(nullptr, a, 100);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(IsAligned(p, a < 8 ? 8 : a));
        Fill(p, 100);
        p = Mem_Realloc(p, a, 100000);  // large enough that the heap moves it
        EXPECT_TRUE(IsAligned(p, a < 8 ? 8 : a));
        ASSERT_GE(Mem_GetSize(p), 100000u);
        EXPECT_TRUE(Holds(p, 100));
        Fill(p, 100000);
        p = Mem_Realloc(p, a, 50);
        EXPECT_TRUE(IsAligned(p, a < 8 ? 8 : a));
        EXPECT_TRUE(Holds(p, 50));
        Mem_Free(p);
    }
}

TEST(Memory, ReallocToAStricterAlignmentMovesTheDataToTheNewBoundary)
{
    void* p = Mem_Alloc(40, 8);
    Fill(p, 40);
    p = Mem_Realloc(p, 64, 4000);
    EXPECT_TRUE(IsAligned(p, 64));
    EXPECT_TRUE(Holds(p, 40));
    p = Mem_Realloc(p, 8, 20);  // a looser alignment later still keeps the data
    EXPECT_TRUE(Holds(p, 20));
    Mem_Free(p);
}

TEST(Memory, FailedReallocReturnsTheOldBlockStillValid)
{
    void* p = Mem_Alloc(32, 16);
    Fill(p, 32);
    EXPECT_EQ(Mem_Realloc(p, 16, SIZE_MAX - 8), p);       // overflowing request
    EXPECT_EQ(Mem_Realloc(p, 16, (size_t)1 << 62), p);    // the heap refuses
    EXPECT_TRUE(Holds(p, 32));
    EXPECT_EQ(Mem_Recalloc(p, 16, (size_t)1 << 62), p);
    EXPECT_TRUE(Holds(p, 32));
    Mem_Free(p);
}

TEST(Memory, ZeroingFormsLeaveNoGarbageUpToTheUsableSize)
{
    unsigned char* p = (unsigned char*)Mem_Calloc(13, 16);
    for (size_t i = 0; i < Mem_GetSize(p); ++i)
        ASSERT_EQ(p[i], 0) << i;
    Fill(p, Mem_GetSize(p));
    size_t oldSize = Mem_GetSize(p);
    p = (unsigned char*)Mem_Recalloc(p, 16, 5000);
    EXPECT_TRUE(Holds(p, oldSize));
    for (size_t i = oldSize; i < Mem_GetSize(p); ++i)
        ASSERT_EQ(p[i], 0) << i;
    Fill(p, Mem_GetSize(p));
    p = (unsigned char*)Mem_Recalloc(p, 16, 7);  // a shrink clears the slack behind the new size
    EXPECT_TRUE(Holds(p, 7));
    for (size_t i = 7; i < Mem_GetSize(p); ++i)
        ASSERT_EQ(p[i], 0) << i;
    Mem_Free(p);

    unsigned char* q = (unsigned char*)Mem_Calloc16(5, 3);
    for (size_t i = 0; i < 15; ++i)
        ASSERT_EQ(q[i], 0);
    EXPECT_TRUE(IsAligned(q, 16));
    Mem_Free(q);
}

TEST(Memory, DuplicatesCopyTheWholeBlockAndStrings)
{
    void* p = Mem_Alloc(24, 32);
    Fill(p, Mem_GetSize(p));
    void* copy = Mem_Dup(p);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Mem_GetSize(copy) >= Mem_GetSize(p), true);
    EXPECT_TRUE(Holds(copy, Mem_GetSize(p)));
    EXPECT_EQ(Mem_Dup(nullptr), nullptr);
    Mem_Free(copy);
    Mem_Free(p);

    char* s = String_Dup("Player 1");
    EXPECT_STREQ(s, "Player 1");
    EXPECT_TRUE(IsAligned(s, 8));
    EXPECT_EQ(String_Dup(nullptr), nullptr);
    Mem_Free(s);
}
