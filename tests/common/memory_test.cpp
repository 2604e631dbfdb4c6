#include "common/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

// These tests ask the heap for impossible sizes on purpose: under
// AddressSanitizer such a request must fail with null, as it does in a normal
// build, instead of stopping the run.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

bool IsAligned(const void* p, size_t a) { return ((uintptr_t)p & ((a < 8 ? 8 : a) - 1)) == 0; }

void Fill(void* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) ((unsigned char*)p)[i] = (unsigned char)(i * 7 + 1);
}

bool Holds(const void* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (((const unsigned char*)p)[i] != (unsigned char)(i * 7 + 1)) return false;
    return true;
}

bool Zero(const void* p, size_t from, size_t to)
{
    return std::all_of((const unsigned char*)p + from, (const unsigned char*)p + to,
                       [](unsigned char c) { return !c; });
}

}  // namespace

TEST(Memory, BlocksHonourEveryAlignmentAndKeepTheirDataThroughReallocsAndDuplicates)
{
    for (size_t a : {1, 4, 8, 16, 32, 64}) {
        void* p = Mem_Alloc(10, a);
        ASSERT_TRUE(p && IsAligned(p, a)) << a;
        void* base = ((void**)p)[-1];  // the heap block, recorded in front
        EXPECT_TRUE((uintptr_t)base < (uintptr_t)p && (uintptr_t)p - (uintptr_t)base <= (a < 8 ? 8 : a)) << a;
        ASSERT_GE(Mem_GetSize(p), 10u);
        Fill(p, Mem_GetSize(p));        // the whole usable size is writable
        p = Mem_Realloc(p, a, 100000);  // large enough that the heap moves it
        ASSERT_TRUE(IsAligned(p, a) && Mem_GetSize(p) >= 100000u) << a;
        EXPECT_TRUE(Holds(p, 10)) << a;
        Fill(p, 100000);
        p = Mem_Realloc(p, a, 50);
        EXPECT_TRUE(IsAligned(p, a) && Holds(p, 50)) << a;
        p = Mem_Realloc(p, 64, 4000);  // a stricter alignment moves the data to the new boundary
        EXPECT_TRUE(IsAligned(p, 64) && Holds(p, 50)) << a;
        p = Mem_Realloc(p, 8, 20);  // and a looser one later still keeps it
        EXPECT_TRUE(Holds(p, 20)) << a;
        Fill(p, Mem_GetSize(p));
        void* copy = Mem_Dup(p);  // the whole block
        EXPECT_TRUE(copy && Mem_GetSize(copy) >= Mem_GetSize(p) && Holds(copy, Mem_GetSize(p))) << a;
        Mem_Free(copy);
        Mem_Free(p);
    }
    Mem_Free(nullptr);
    EXPECT_EQ(Mem_GetSize(nullptr), 0u);
    EXPECT_EQ(Mem_Dup(nullptr), nullptr);
    char* s = String_Dup("Player 1");
    EXPECT_TRUE(IsAligned(s, 8) && strcmp(s, "Player 1") == 0);
    EXPECT_EQ(String_Dup(nullptr), nullptr);
    Mem_Free(s);
    Mem_Free(Mem_Realloc16(Mem_Alloc16(8), 24));
}

TEST(Memory, RequestsThatCannotBeMetFailWithNullAndKeepTheOldBlock)
{
    EXPECT_EQ(Mem_Alloc(SIZE_MAX - 4, 16), nullptr);    // size + alignment overflows
    EXPECT_EQ(Mem_Alloc(16, 24), nullptr);              // not a power of two
    EXPECT_EQ(Mem_Calloc16(SIZE_MAX / 2, 3), nullptr);  // count x size overflows
    EXPECT_EQ(Mem_Calloc16((size_t)1 << 62, 8), nullptr);
    EXPECT_EQ(Mem_Alloc((size_t)1 << 62, 8), nullptr);  // the heap refuses
    void* p = Mem_Alloc(32, 16);
    Fill(p, 32);
    EXPECT_EQ(Mem_Realloc(p, 16, SIZE_MAX - 8), p);     // overflowing request
    EXPECT_EQ(Mem_Realloc(p, 16, (size_t)1 << 62), p);  // the heap refuses
    EXPECT_EQ(Mem_Realloc(p, 24, 64), p);               // not a power of two
    EXPECT_EQ(Mem_Recalloc(p, 16, (size_t)1 << 62), p);
    EXPECT_TRUE(Holds(p, 32));
    Mem_Free(p);
}

TEST(Memory, ZeroingFormsLeaveNoGarbageUpToTheUsableSize)
{
    unsigned char* p = (unsigned char*)Mem_Calloc(13, 16);
    EXPECT_TRUE(Zero(p, 0, Mem_GetSize(p)));
    Fill(p, Mem_GetSize(p));
    size_t oldSize = Mem_GetSize(p);
    p = (unsigned char*)Mem_Recalloc(p, 16, 5000);
    EXPECT_TRUE(Holds(p, oldSize) && Zero(p, oldSize, Mem_GetSize(p)));
    Fill(p, Mem_GetSize(p));
    p = (unsigned char*)Mem_Recalloc(p, 16, 7);  // a shrink clears the slack behind the new size
    EXPECT_TRUE(Holds(p, 7) && Zero(p, 7, Mem_GetSize(p)));
    Mem_Free(p);
    p = (unsigned char*)Mem_Recalloc(nullptr, 16, 9);
    EXPECT_TRUE(Zero(p, 0, Mem_GetSize(p)));
    Mem_Free(p);
    unsigned char* q = (unsigned char*)Mem_Calloc16(5, 3);
    EXPECT_TRUE(IsAligned(q, 16) && Zero(q, 0, 15));
    Mem_Free(q);
}
