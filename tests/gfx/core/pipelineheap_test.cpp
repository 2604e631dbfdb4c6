#include "gfx/core/pipelineheap.h"

#include <gtest/gtest.h>

#include "tests/gfx/core/test_driver.h"

using namespace testdriver;

namespace {
PipelineHeapBlock* Header(void* data) { return (PipelineHeapBlock*)((uint8_t*)data - 32); }
}  // namespace

TEST(PipelineHeap, FreeMergesWithEachKindOfNeighbour)
{
    InitScope scope;
    PipelineHeap* heap = PipelineHeap_Create(100);
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(heap->size, 1024u);
    EXPECT_EQ(heap->freeCount, 1u);
    void* a = PipelineHeap_Alloc(heap, 64);
    void* b = PipelineHeap_Alloc(heap, 64);
    void* c = PipelineHeap_Alloc(heap, 64);
    void* d = PipelineHeap_Alloc(heap, 64);
    EXPECT_EQ((uintptr_t)a % 32, 0u);
    EXPECT_EQ(Header(b)->prev, Header(a));
    EXPECT_EQ(heap->freeCount, 1u);  // the rest after d

    PipelineHeap_Free(heap, b);  // neither neighbour free: a new record
    EXPECT_EQ(heap->freeCount, 2u);
    PipelineHeap_Free(heap, a);  // next (b) free: a takes it in
    EXPECT_EQ(heap->freeCount, 2u);
    EXPECT_EQ(Header(a)->size, 64u + 32u + 64u);
    PipelineHeap_Free(heap, d);  // next is the tail rest: d takes it in
    EXPECT_EQ(heap->freeCount, 2u);
    PipelineHeap_Free(heap, c);  // both free: a swallows c and d
    EXPECT_EQ(heap->freeCount, 1u);
    EXPECT_EQ(Header(a)->size, 1024u - 64u);  // one block again, less its header and the sentinel
    void* e = PipelineHeap_Alloc(heap, 32);
    void* f = PipelineHeap_Alloc(heap, 32);
    PipelineHeap_Free(heap, e);
    PipelineHeap_Free(heap, f);  // previous free only (the next, the rest, too): one block
    EXPECT_EQ(heap->freeCount, 1u);

    // Bigger than a region: a new region is added; reset forgets everything.
    void* big = PipelineHeap_Alloc(heap, 5000);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(heap->resetNeeded, 1);
    PipelineHeap_Reset(heap);
    EXPECT_EQ(heap->freeCount, 2u);
    EXPECT_EQ(heap->resetNeeded, 0);
    PipelineHeap_Destroy(heap);
}
