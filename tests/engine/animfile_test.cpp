#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/binfile.h"
#include "common/bytes.h"
#include "engine/animfile.h"
#include "engine/loaderror.h"
#include "tools/lib/atfwrite.h"

namespace {

// Names of every length from 0 to 9, so each padding case (L mod 4) is met.
AtfWriterSet SampleSet()
{
    AtfWriterSet set;
    for (int i = 0; i < 5; i++) {
        AtfWriterAnimation a;
        a.sceneFlags = 1u << i;
        a.flags = (uint32_t)i % 4;
        a.scenePath = std::string("Anims\\") + std::string(i, 'p') + ".lws";
        a.name = std::string((size_t)i * 2 + 1, (char)('a' + i));
        a.valueA = 100 + i;
        a.blendTime = 0.25f * (float)i;
        set.animations.push_back(a);
    }
    set.animations[0].name = "";
    for (int i = 0; i < 10; i++) set.events.push_back(std::string((size_t)i, (char)('A' + i)));
    set.keyEvents = {{0, 1, 2, 0.5f, 0.75f}, {4, 9, 0xFFFFFFFFu, 0, 0}, {3, 0, 1, 0.0f, 1.0f}};
    return set;
}

// Bytes up to the end of the event-name list.
size_t HeadSize(const AtfWriterSet& set)
{
    AtfWriterSet head = set;
    head.keyEvents.clear();
    return AtfWriter_Encode(head).size();
}

struct FileDeleter {
    void operator()(AnimFile* f) const { AnimFile_Free(f); }
};
using FilePtr = std::unique_ptr<AnimFile, FileDeleter>;

FilePtr Parse(const std::vector<uint8_t>& bytes) { return FilePtr(AnimFile_Parse(bytes.data(), bytes.size())); }

TEST(AnimFile, WrittenSetsReadBackWithEveryStringLength)
{
    const AtfWriterSet set = SampleSet();
    const FilePtr file = Parse(AtfWriter_Encode(set));
    ASSERT_NE(file, nullptr) << LoadError_Get();
    ASSERT_EQ(file->animationCount, set.animations.size());
    for (uint32_t i = 0; i < file->animationCount; i++) {
        const AnimFileAnimation& a = file->animations[i];
        const AtfWriterAnimation& w = set.animations[i];
        EXPECT_EQ(a.sceneFlags, w.sceneFlags);
        EXPECT_EQ(a.flags, w.flags);
        EXPECT_EQ(a.scenePath, w.scenePath);
        EXPECT_EQ(a.name, w.name);
        EXPECT_EQ(a.valueA, w.valueA);
        EXPECT_EQ(a.blendTime, w.blendTime);
    }
    ASSERT_EQ(file->eventCount, set.events.size());
    for (uint32_t i = 0; i < file->eventCount; i++) EXPECT_EQ(file->eventNames[i], set.events[i]);
    // The record with the skip item is no event.
    ASSERT_EQ(file->keyEventCount, 2u);
    EXPECT_EQ(file->keyEvents[0].item, 2u);
    EXPECT_EQ(file->keyEvents[0].end, 0.75f);
    EXPECT_EQ(file->keyEvents[1].animation, 3u);
    EXPECT_EQ(file->keyEvents[1].end, 1.0f);
}

TEST(AnimFile, TheStringLayoutIsTheBinaryFileOne)
{
    // L = 3 takes two words (floor(4 / 4) + 1), not one.
    AtfWriterSet set;
    set.events = {"abc"};
    const std::vector<uint8_t> bytes = AtfWriter_Encode(set);
    const std::vector<uint8_t> expected = {0, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0, 0, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
}

TEST(AnimFile, EveryCutBeforeTheKeyEventsIsRefusedAndLaterCutsEndTheEvents)
{
    const AtfWriterSet set = SampleSet();
    const std::vector<uint8_t> whole = AtfWriter_Encode(set);
    const size_t head = HeadSize(set);
    for (size_t cut = 0; cut <= whole.size(); cut++) {
        const std::vector<uint8_t> part(whole.begin(), whole.begin() + (ptrdiff_t)cut);
        const FilePtr file = Parse(part);
        if (cut < head) {
            EXPECT_EQ(file, nullptr) << cut;
            EXPECT_STRNE(LoadError_Get(), "") << cut;
            continue;
        }
        ASSERT_NE(file, nullptr) << cut;
        // Whole records only; the second record is a skip.
        const size_t records = (cut - head) / 20;
        EXPECT_EQ(file->keyEventCount, records - (records >= 2)) << cut;
    }
}

TEST(AnimFile, ImpossibleCountsAndLengthsAreRefused)
{
    const std::vector<uint8_t> whole = AtfWriter_Encode(SampleSet());
    struct Case {
        const char* what;
        size_t offset;  // of the u32 to overwrite
        uint32_t value;
    };
    // Offsets: the animation count, the first scene path's length, the
    // first name's length, and the event count of a set without animations.
    const size_t firstPath = 4 + 8;
    const size_t firstName = firstPath + 4 + BinFile_PaddedSize(SampleSet().animations[0].scenePath.size());
    for (const Case c : {Case{"animation count", 0, 0x7FFFFFFF}, Case{"animation count", 0, 6},
                         Case{"path length", firstPath, 0xFFFFFFFF}, Case{"path length", firstPath, 4000},
                         Case{"name length", firstName, 0xFFFFFFFC}}) {
        std::vector<uint8_t> bytes = whole;
        Bytes_StoreU32(&bytes[c.offset], c.value);
        EXPECT_EQ(Parse(bytes), nullptr) << c.what << " " << c.value;
        EXPECT_STRNE(LoadError_Get(), "");
    }
    std::vector<uint8_t> events = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(Parse(events), nullptr);
}

TEST(AnimFile, AnEmptySetIsAFile)
{
    const std::vector<uint8_t> bytes(8, 0);
    const FilePtr file = Parse(bytes);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->animationCount, 0u);
    EXPECT_EQ(file->eventCount, 0u);
    EXPECT_EQ(file->keyEventCount, 0u);
}

}  // namespace
