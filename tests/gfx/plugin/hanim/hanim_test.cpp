#include "gfx/plugin/hanim/hanim.h"

#include "gfx/toolkit/anim/anim.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace plugintest;

namespace {

class HAnimTest : public PluginTest {
protected:
    // A hierarchy held by a new owned frame (its parent frame), with ids 7, 8,
    // ... and flags 0, 0x10, ...
    BoneHierarchy* Hold(int32_t nodes, uint32_t flags, int32_t keySize, Frame* frame = nullptr)
    {
        std::vector<int32_t> ids;
        std::vector<uint32_t> nodeFlags;
        for (int32_t i = 0; i < nodes; i++) ids.push_back(7 + i), nodeFlags.push_back(0x10u * (uint32_t)i);
        BoneHierarchy* h = HAnim_HierarchyCreate(nodes, nodeFlags.data(), ids.data(), flags, keySize);
        h->parentFrame = frame ? frame : Own(Frame_Create());
        HAnim_FrameGetExtension(h->parentFrame)->hierarchy = h;
        return h;
    }
    static Bytes Write(Frame* frame) { return WriteExtensions(Frame_GetRegistry(), frame); }
};

TEST_F(HAnimTest, HierarchiesNumberTheirNodesAlignTheirMatricesAndTakeANewSerialEachTime)
{
    const long before = Live();
    for (int32_t n = 1; n <= 33; n++) {
        BoneHierarchy* h = HAnim_HierarchyCreate(n, nullptr, nullptr, 0, 40);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(std::tuple((uintptr_t)h->matrixArray % 16, h->parentHierarchy, h->interpolator->numNodes,
                             h->interpolator->maxKeyFrameSize, h->nodeInfo[n - 1].nodeIndex),
                  std::tuple(0u, h, n, 40, n - 1));
        for (int32_t i = 0; i < n; i++) h->matrixArray[i].flags = 0;  // the whole array is writable
        HAnim_HierarchyDestroy(h);
    }
    const int32_t ids[2] = {4, 9};
    const uint32_t nodeFlags[2] = {3, 5};
    BoneHierarchy* h = HAnim_HierarchyCreate(2, nodeFlags, ids, HANIM_NO_MATRICES, 0);
    EXPECT_EQ(std::tuple(h->matrixArray, h->nodeInfo[1].nodeID, h->nodeInfo[1].flags), std::tuple(nullptr, 9, 5u));
    const uint32_t serial = h->serial;
    HAnim_HierarchyDestroy(h);
    BoneHierarchy* next = HAnim_HierarchyCreate(5, nullptr, nullptr, HANIM_SHARED_ARRAYS, 0);
    // The free list hands the same record out again, under a new serial;
    // shared arrays belong to another hierarchy: none made, none freed.
    EXPECT_TRUE(next == h && next->serial != serial && !next->nodeInfo && !next->matrixArray);
    HAnim_HierarchyDestroy(next);
    EXPECT_EQ(Live(), before);
}

// The reader checks the version, the node count against the sub-chunk's
// length, the flags and the key-frame size before it allocates, and frees
// what it made when the stream ends early: no block stays behind.
TEST_F(HAnimTest, MalformedFrameSubChunksAreRefusedWithNothingLeftAndASecondOneReplacesTheFirst)
{
    auto payload = [](std::initializer_list<uint32_t> words) {
        Bytes b;
        Words(b, words);
        return ExtensionChunk(PLUGIN_HANIM, b);
    };
    Bytes cut = Edited(Edited(payload({256, 1, 2, 0, 0, 7, 0, 0, 8, 1}), 16, 44), 4, 56);  // claims the full size
    const struct {
        const char* what;
        Bytes chunk;
        int32_t code;
    } cases[] = {
        {"version", payload({255, 1, 0}), (int32_t)ERR_BAD_VERSION},
        {"count against length", payload({256, 1, 2, 0, 0, 7, 0, 0}), HANIM_ERR_BAD_DATA},
        {"negative count", payload({256, 1, 0xFFFFFFFF}), HANIM_ERR_BAD_DATA},
        {"empty with words after", payload({256, 1, 0, 0, 0}), HANIM_ERR_BAD_DATA},
        {"shared arrays", payload({256, 1, 1, 1, 0, 7, 0, 0}), HANIM_ERR_BAD_DATA},
        {"key-frame size", payload({256, 1, 1, 0, 4097, 7, 0, 0}), HANIM_ERR_BAD_DATA},
        {"negative key-frame size", payload({256, 1, 1, 0, 0xFFFFFFFF, 7, 0, 0}), HANIM_ERR_BAD_DATA},
        {"too short for a header", payload({256, 1}), (int32_t)ERR_SHORT_READ},
        {"cut inside the node records", cut, 0},
    };
    Frame* frame = Own(Frame_Create());
    for (const auto& c : cases) {
        const long before = Live();
        Error_Get(nullptr);
        EXPECT_FALSE(ReadExtensions(Frame_GetRegistry(), c.chunk, frame)) << c.what;
        EXPECT_TRUE(c.code ? Error_TakeCode() == c.code : Error_TakeCode() != (int32_t)ERR_NO_ERROR) << c.what;
        EXPECT_EQ(HAnim_FrameGetExtension(frame)->hierarchy, nullptr) << c.what;
        EXPECT_EQ(Live(), before) << c.what;
    }
    const Bytes one = Write(Hold(2, 0, 0)->parentFrame);
    Bytes twice(one.begin(), one.begin() + 12);
    for (int i = 0; i < 2; i++) twice.insert(twice.end(), one.begin() + 12, one.end());
    PutU32(twice, 4, (uint32_t)(twice.size() - 12));
    Frame* replaced = Frame_Create();
    const long before = Live();
    ASSERT_TRUE(ReadExtensions(Frame_GetRegistry(), twice, replaced));
    Frame_Destroy(replaced);
    EXPECT_EQ(Live(), before);  // both hierarchies went: the second replaced the first
}

TEST_F(HAnimTest, CopiesDuplicateOwnHierarchiesOnlyNameSharedOnesAndDestructionKeepsBothSidesConsistent)
{
    const PluginEntry* e = EntryOf(Frame_GetRegistry(), PLUGIN_HANIM);
    ASSERT_NE(e, nullptr);
    BoneHierarchy* h = Hold(4, HANIM_LOCAL_SPACE, 36);
    Frame* source = h->parentFrame;
    HAnim_FrameGetExtension(source)->nodeID = 11;
    h->nodeInfo[2].frame = source;
    Frame* copy = Own(Frame_Create());
    ASSERT_EQ(e->copy(copy, source, e->offset, e->size), copy);
    const BoneHierarchy* c = HAnim_FrameGetExtension(copy)->hierarchy;
    ASSERT_TRUE(c && c != h && c->nodeInfo != h->nodeInfo);
    EXPECT_EQ(std::tuple(HAnim_FrameGetExtension(copy)->nodeID, c->flags, c->parentFrame,
                         c->interpolator->maxKeyFrameSize, c->nodeInfo[2].nodeID, c->nodeInfo[2].frame),
              std::tuple(11, (uint32_t)HANIM_LOCAL_SPACE, copy, 36, 9, nullptr));
    h->flags |= HANIM_SHARED_ARRAYS;
    Frame* named = Own(Frame_Create());
    e->copy(named, source, e->offset, e->size);
    EXPECT_EQ(std::tuple(HAnim_FrameGetExtension(named)->nodeID, HAnim_FrameGetExtension(named)->hierarchy),
              std::tuple(11, nullptr));
    // Written, a shared hierarchy is only named, like a frame without one.
    const Bytes shared = Write(source);
    EXPECT_EQ(shared, Write(named));
    Frame* reread = Own(Frame_Create());
    ASSERT_TRUE(ReadExtensions(Frame_GetRegistry(), shared, reread));
    EXPECT_EQ(std::tuple(HAnim_FrameGetExtension(reread)->nodeID, HAnim_FrameGetExtension(reread)->hierarchy),
              std::tuple(11, nullptr));
    h->flags &= ~HANIM_SHARED_ARRAYS;

    // A frame that only names a hierarchy parented elsewhere: its nodes lose
    // their frames, the hierarchy lives on; destroying the hierarchy clears
    // its parent frame's pointer; destroying the parent frame destroys it.
    Frame* other = Frame_Create();
    HAnim_FrameGetExtension(other)->hierarchy = h;
    h->nodeInfo[0].frame = other;
    Frame_Destroy(other);
    EXPECT_EQ(std::tuple(HAnim_FrameGetExtension(source)->hierarchy, h->nodeInfo[0].frame, h->nodeInfo[2].frame),
              std::tuple(h, nullptr, nullptr));
    HAnim_HierarchyDestroy(h);
    EXPECT_EQ(HAnim_FrameGetExtension(source)->hierarchy, nullptr);
    Frame* parent = Frame_Create();
    const long before = Live();
    Hold(3, 0, 36, parent);
    Frame_Destroy(parent);
    EXPECT_LE(Live(), before);
}

}  // namespace
