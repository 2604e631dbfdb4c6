#include "gfx/plugin/hanim/hanim.h"

#include <cstdint>

#include "gfx/toolkit/anim/anim.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace worldtest;

namespace {

class HAnimTest : public PluginTest {
protected:
    std::vector<Frame*> frames;
    void TearDown() override
    {
        for (Frame* f : frames) Frame_Destroy(f);
        PluginTest::TearDown();
    }
    Frame* NewFrame()
    {
        frames.push_back(Frame_Create());
        return frames.back();
    }
    // A hierarchy held by frame (its parent frame), with ids 7, 8, ...
    BoneHierarchy* Hold(Frame* frame, int32_t nodes, uint32_t flags, int32_t keySize)
    {
        std::vector<int32_t> ids;
        std::vector<uint32_t> nodeFlags;
        for (int32_t i = 0; i < nodes; i++) ids.push_back(7 + i), nodeFlags.push_back(0x10u * (uint32_t)i);
        BoneHierarchy* h = HAnim_HierarchyCreate(nodes, nodeFlags.data(), ids.data(), flags, keySize);
        h->parentFrame = frame;
        HAnim_FrameGetExtension(frame)->hierarchy = h;
        return h;
    }
    // The frame's extension chunk, sub-chunk headers included.
    static Bytes Write(Frame* frame) { return WriteExtensions(Frame_GetRegistry(), frame); }
    static const PluginEntry* Entry()
    {
        for (const PluginEntry* e = Frame_GetRegistry()->first; e; e = e->next)
            if (e->pluginId == PLUGIN_HANIM) return e;
        return nullptr;
    }
};

TEST_F(HAnimTest, HierarchiesNumberTheirNodesAndAlignTheirMatrices)
{
    const long before = Live();
    for (int32_t n = 1; n <= 33; n++) {
        BoneHierarchy* h = HAnim_HierarchyCreate(n, nullptr, nullptr, 0, 40);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ((uintptr_t)h->matrixArray % 16, 0u) << n;
        EXPECT_EQ(h->parentHierarchy, h);
        EXPECT_EQ(h->parentFrame, nullptr);
        EXPECT_EQ(h->interpolator->numNodes, n);
        EXPECT_EQ(h->interpolator->maxKeyFrameSize, 40);
        EXPECT_EQ(h->nodeInfo[n - 1].nodeIndex, n - 1);
        for (int32_t i = 0; i < n; i++) h->matrixArray[i].flags = 0;  // the whole array is writable
        HAnim_HierarchyDestroy(h);
    }
    const int32_t ids[2] = {4, 9};
    const uint32_t nodeFlags[2] = {3, 5};
    BoneHierarchy* h = HAnim_HierarchyCreate(2, nodeFlags, ids, HANIM_NO_MATRICES, 0);
    EXPECT_EQ(h->matrixArray, nullptr);
    EXPECT_EQ(h->nodeInfo[1].nodeID, 9);
    EXPECT_EQ(h->nodeInfo[1].flags, 5u);
    EXPECT_EQ(h->nodeInfo[1].frame, nullptr);
    HAnim_HierarchyDestroy(h);
    // Shared arrays belong to another hierarchy: none are made, none freed.
    h = HAnim_HierarchyCreate(5, nullptr, nullptr, HANIM_SHARED_ARRAYS, 0);
    EXPECT_EQ(h->nodeInfo, nullptr);
    EXPECT_EQ(h->matrixArray, nullptr);
    HAnim_HierarchyDestroy(h);
    EXPECT_EQ(Live(), before);
}

TEST_F(HAnimTest, EachHierarchyGetsASerialItsSuccessorAtTheSameAddressDoesNotShare)
{
    BoneHierarchy* a = HAnim_HierarchyCreate(1, nullptr, nullptr, 0, 0);
    const uint32_t serial = a->serial;
    HAnim_HierarchyDestroy(a);
    BoneHierarchy* b = HAnim_HierarchyCreate(1, nullptr, nullptr, 0, 0);
    EXPECT_EQ(b, a);  // the free list hands the same record out again
    EXPECT_NE(b->serial, serial);
    HAnim_HierarchyDestroy(b);
}

TEST_F(HAnimTest, FrameSubChunksHaveTheStatedSizesAndWords)
{
    Frame* frame = NewFrame();
    EXPECT_EQ(Write(frame).size(), 12u);  // an empty extension chunk: no sub-chunk
    HAnim_FrameGetExtension(frame)->nodeID = 5;
    Bytes b = Write(frame);
    ASSERT_EQ(b.size(), 36u);
    EXPECT_EQ(U32(b, 16), 12u);
    EXPECT_EQ(U32(b, 24), 256u);
    EXPECT_EQ(U32(b, 28), 5u);
    EXPECT_EQ(U32(b, 32), 0u);

    BoneHierarchy* h = Hold(frame, 2, 0, 36);
    h->nodeInfo[1].flags = 0;
    b = Write(frame);
    const uint32_t expected[11] = {256, 5, 2, 0, 36, 7, 0, 0, 8, 1, 0};
    ASSERT_EQ(b.size(), 24u + 44u);
    EXPECT_EQ(U32(b, 16), 44u);
    for (int i = 0; i < 11; i++) EXPECT_EQ(U32(b, 24 + 4 * (size_t)i), expected[i]) << i;

    h->flags = HANIM_SHARED_ARRAYS;  // written as holding none
    b = Write(frame);
    ASSERT_EQ(b.size(), 36u);
    EXPECT_EQ(U32(b, 32), 0u);
    h->flags = 0;
}

TEST_F(HAnimTest, AFrameReadBackHoldsAnEqualHierarchyItParents)
{
    Frame* frame = NewFrame();
    HAnim_FrameGetExtension(frame)->nodeID = 3;
    BoneHierarchy* h = Hold(frame, 3, HANIM_LOCAL_SPACE | HANIM_NO_MATRICES, 24);
    h->nodeInfo[0].frame = frame;
    Bytes b = Write(frame);
    Frame* copy = NewFrame();
    ASSERT_TRUE(ReadExtensions(Frame_GetRegistry(), b, copy));
    const HAnimFrameExtension* e = HAnim_FrameGetExtension(copy);
    EXPECT_EQ(e->nodeID, 3);
    ASSERT_NE(e->hierarchy, nullptr);
    const BoneHierarchy* r = e->hierarchy;
    EXPECT_EQ(r->flags, h->flags);
    EXPECT_EQ(r->numNodes, 3);
    EXPECT_EQ(r->interpolator->maxKeyFrameSize, 24);
    EXPECT_EQ(r->parentFrame, copy);
    EXPECT_EQ(r->matrixArray, nullptr);
    for (int32_t i = 0; i < 3; i++) {
        EXPECT_EQ(r->nodeInfo[i].nodeID, h->nodeInfo[i].nodeID);
        EXPECT_EQ(r->nodeInfo[i].nodeIndex, i);
        EXPECT_EQ(r->nodeInfo[i].flags, h->nodeInfo[i].flags);
        EXPECT_EQ(r->nodeInfo[i].frame, nullptr);
    }
}

// The reader checks the version, the node count against the sub-chunk's
// length, the flags and the key-frame size before it allocates, and frees
// what it made when the stream ends early: no block stays behind.
TEST_F(HAnimTest, MalformedFrameSubChunksAreRefusedWithNothingLeftAllocated)
{
    struct Case {
        const char* what;
        std::vector<uint32_t> words;
        uint32_t code;
    };
    const std::vector<Case> cases = {
        {"version", {255, 1, 0}, ERR_BAD_VERSION},
        {"count against length", {256, 1, 2, 0, 0, 7, 0, 0}, HANIM_ERR_BAD_DATA},
        {"negative count", {256, 1, 0xFFFFFFFF}, HANIM_ERR_BAD_DATA},
        {"empty with words after", {256, 1, 0, 0, 0}, HANIM_ERR_BAD_DATA},
        {"shared arrays", {256, 1, 1, 1, 0, 7, 0, 0}, HANIM_ERR_BAD_DATA},
        {"key-frame size", {256, 1, 1, 0, 4097, 7, 0, 0}, HANIM_ERR_BAD_DATA},
        {"negative key-frame size", {256, 1, 1, 0, 0xFFFFFFFF, 7, 0, 0}, HANIM_ERR_BAD_DATA},
        {"too short for a header", {256, 1}, ERR_SHORT_READ},
    };
    for (const Case& c : cases) {
        Bytes payload;
        for (uint32_t w : c.words) Words(payload, {w});
        Bytes chunk = ExtensionChunk(PLUGIN_HANIM, payload);
        Frame* frame = Frame_Create();
        const long before = Live();
        Error_Get(nullptr);
        EXPECT_FALSE(ReadExtensions(Frame_GetRegistry(), chunk, frame)) << c.what;
        ErrorRecord e;
        Error_Get(&e);
        EXPECT_EQ((uint32_t)e.code, c.code) << c.what;
        EXPECT_EQ(HAnim_FrameGetExtension(frame)->hierarchy, nullptr) << c.what;
        EXPECT_EQ(Live(), before) << c.what;
        Frame_Destroy(frame);
    }
    // A payload cut inside the node records: the partly read hierarchy goes.
    Bytes payload;
    Words(payload, {256, 1, 2, 0, 0, 7, 0, 0, 8, 1});
    Bytes chunk = ExtensionChunk(PLUGIN_HANIM, payload);
    PutU32(chunk, 16, 44);  // the sub-chunk claims the full size
    PutU32(chunk, 4, 56);
    Frame* frame = Frame_Create();
    const long before = Live();
    EXPECT_FALSE(ReadExtensions(Frame_GetRegistry(), chunk, frame));
    EXPECT_EQ(HAnim_FrameGetExtension(frame)->hierarchy, nullptr);
    EXPECT_EQ(Live(), before);
    Frame_Destroy(frame);
    Error_Get(nullptr);
}

TEST_F(HAnimTest, ASecondSubChunkReplacesTheFirstHierarchy)
{
    Frame* source = NewFrame();
    Hold(source, 2, 0, 0);
    const Bytes one = Write(source);
    Bytes sub(one.begin() + 12, one.end());
    Bytes twice = ExtensionChunk(PLUGIN_HANIM, {});
    twice.resize(12);
    twice.insert(twice.end(), sub.begin(), sub.end());
    twice.insert(twice.end(), sub.begin(), sub.end());
    PutU32(twice, 4, (uint32_t)(2 * sub.size()));
    Frame* frame = Frame_Create();
    const long before = Live();
    ASSERT_TRUE(ReadExtensions(Frame_GetRegistry(), twice, frame));
    Frame_Destroy(frame);
    EXPECT_EQ(Live(), before);  // both hierarchies went: the second replaced the first
}

TEST_F(HAnimTest, CopiesDuplicateOwnHierarchiesAndOnlyNameSharedOnes)
{
    const PluginEntry* e = Entry();
    ASSERT_NE(e, nullptr);
    Frame* source = NewFrame();
    HAnim_FrameGetExtension(source)->nodeID = 11;
    BoneHierarchy* h = Hold(source, 4, HANIM_LOCAL_SPACE, 36);
    h->nodeInfo[2].frame = source;
    Frame* copy = NewFrame();
    ASSERT_EQ(e->copy(copy, source, e->offset, e->size), copy);
    const HAnimFrameExtension* c = HAnim_FrameGetExtension(copy);
    EXPECT_EQ(c->nodeID, 11);
    ASSERT_NE(c->hierarchy, nullptr);
    EXPECT_NE(c->hierarchy, h);
    EXPECT_NE(c->hierarchy->nodeInfo, h->nodeInfo);
    EXPECT_EQ(c->hierarchy->flags, HANIM_LOCAL_SPACE);
    EXPECT_EQ(c->hierarchy->parentFrame, copy);
    EXPECT_EQ(c->hierarchy->interpolator->maxKeyFrameSize, 36);
    EXPECT_EQ(c->hierarchy->nodeInfo[2].nodeID, 9);
    EXPECT_EQ(c->hierarchy->nodeInfo[2].frame, nullptr);

    h->flags |= HANIM_SHARED_ARRAYS;
    Frame* named = NewFrame();
    e->copy(named, source, e->offset, e->size);
    EXPECT_EQ(HAnim_FrameGetExtension(named)->nodeID, 11);
    EXPECT_EQ(HAnim_FrameGetExtension(named)->hierarchy, nullptr);
    h->flags &= ~HANIM_SHARED_ARRAYS;
}

TEST_F(HAnimTest, DestroyingFramesAndHierarchiesKeepsBothSidesConsistent)
{
    // A frame that only names a hierarchy parented elsewhere: its nodes lose
    // their frames, the hierarchy lives on.
    Frame* owner = NewFrame();
    BoneHierarchy* h = Hold(owner, 2, 0, 0);
    Frame* other = Frame_Create();
    HAnim_FrameGetExtension(other)->hierarchy = h;
    h->nodeInfo[0].frame = other;
    h->nodeInfo[1].frame = owner;
    Frame_Destroy(other);
    EXPECT_EQ(HAnim_FrameGetExtension(owner)->hierarchy, h);
    EXPECT_EQ(h->nodeInfo[0].frame, nullptr);
    EXPECT_EQ(h->nodeInfo[1].frame, nullptr);
    // Destroying the hierarchy clears its parent frame's pointer.
    HAnim_HierarchyDestroy(h);
    EXPECT_EQ(HAnim_FrameGetExtension(owner)->hierarchy, nullptr);
    // Destroying the parent frame destroys the hierarchy with it.
    Frame* parent = Frame_Create();
    Hold(parent, 3, 0, 36);
    const long before = Live();
    Frame_Destroy(parent);
    EXPECT_LT(Live(), before);
}

}  // namespace
