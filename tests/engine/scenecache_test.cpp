#include "engine/scenecache.h"

#include <cstring>

#include "engine/loaderror.h"
#include "engine/scene.h"
#include "engine/scenedata.h"
#include "engine/scenetext.h"
#include "engine_fixture.h"
#include "tools/lib/lwswrite.h"

namespace {

const char* kCache = "Cache\\00\\test.lsf";

class SceneCacheTest : public EngineFileTest {
protected:
    void SetUp() override
    {
        EngineFileTest::SetUp();
        std::filesystem::create_directories(DataPath("Cache\\00"));
    }
    void TearDown() override
    {
        SceneData_Free(&parsed);
        SceneData_Free(&read);
        EngineFileTest::TearDown();
    }
    void ParseText(const std::string& text)
    {
        WriteData("Scenes\\Test.lws", text);
        void* file = File_Open("Scenes\\Test.lws", "r");
        int version = 0;
        ASSERT_EQ(SceneText_ReadVersion(file, &version), 1);
        ASSERT_EQ(SceneText_Parse(&parsed, file, version), 1) << LoadError_Get();
        File_Close(file);
    }
    int ReadBack(const std::vector<uint8_t>& bytes)
    {
        SceneData_Free(&read);
        read = Scene{};
        LoadError_Clear();
        WriteData(kCache, bytes);
        return SceneCache_Read(&read, kCache);
    }
    Scene parsed{};
    Scene read{};
};

// Everything the cache holds, with pointers as indices.
void ExpectSameScene(const Scene& a, const Scene& b)
{
    EXPECT_EQ(a.fps, b.fps);
    EXPECT_EQ(a.duration, b.duration);
    EXPECT_EQ(a.start, b.start);
    EXPECT_EQ(a.ambient, b.ambient);
    EXPECT_EQ(a.ambientIntensity, b.ambientIntensity);
    EXPECT_EQ(a.firstCamera, b.firstCamera);
    EXPECT_EQ(a.cameraCount, b.cameraCount);
    EXPECT_EQ(a.firstLight, b.firstLight);
    EXPECT_EQ(a.lightCount, b.lightCount);
    ASSERT_EQ(a.itemNameSize, b.itemNameSize);
    EXPECT_EQ(memcmp(a.itemNames, b.itemNames, a.itemNameSize), 0);
    ASSERT_EQ(a.weightMapSize, b.weightMapSize);
    if (a.weightMapSize) {
        EXPECT_EQ(memcmp(a.weightMapNames, b.weightMapNames, a.weightMapSize), 0);
    }
    EXPECT_EQ(a.zoom, b.zoom);
    EXPECT_EQ(a.soundNullCount, b.soundNullCount);
    ASSERT_EQ(a.itemCount, b.itemCount);
    ASSERT_EQ(a.boneCount, b.boneCount);
    auto keysEqual = [](const SceneKey* x, const SceneKey* y, uint32_t n) {
        return n == 0 || memcmp(x, y, n * sizeof(SceneKey)) == 0;
    };
    for (uint32_t i = 0; i < a.itemCount; i++) {
        const SceneItem &x = a.items[i], &y = b.items[i];
        EXPECT_EQ(x.kind, y.kind);
        EXPECT_EQ(x.pivot.y, y.pivot.y);
        EXPECT_EQ(x.pivotRotation.x, y.pivotRotation.x);
        ASSERT_EQ(x.keyCount, y.keyCount) << i;
        EXPECT_TRUE(keysEqual(x.keys, y.keys, x.keyCount)) << i;
        ASSERT_EQ(x.dissolveCount, y.dissolveCount);
        for (uint32_t k = 0; k < x.dissolveCount; k++) {
            EXPECT_EQ(x.dissolveValues[k], y.dissolveValues[k]);
            EXPECT_EQ(x.dissolveTimes[k], y.dissolveTimes[k]);
        }
        ASSERT_EQ(x.intensityCount, y.intensityCount);
        for (uint32_t k = 0; k < x.intensityCount; k++) EXPECT_EQ(x.intensityValues[k], y.intensityValues[k]);
        EXPECT_EQ(x.firstBone ? x.firstBone - a.bones : -1, y.firstBone ? y.firstBone - b.bones : -1);
        EXPECT_EQ(x.falloff, y.falloff);
        const SceneRecord &r = a.records[i], &s = b.records[i];
        EXPECT_EQ(r.nameOffset, s.nameOffset);
        EXPECT_EQ(r.duplicate, s.duplicate);
        EXPECT_EQ(r.lightNameOffset, s.lightNameOffset);
        EXPECT_EQ(r.lightColour, s.lightColour);
        EXPECT_EQ(r.lightType, s.lightType);
        EXPECT_EQ(r.lightIntensity, s.lightIntensity);
        EXPECT_EQ(r.coneAngle, s.coneAngle);
        EXPECT_EQ(r.parentBone, s.parentBone);
        auto at = [](const SceneRecord* p, const SceneRecord* base) { return p ? p - base : -1; };
        EXPECT_EQ(at(r.parent, a.records), at(s.parent, b.records));
        EXPECT_EQ(at(r.firstChild, a.records), at(s.firstChild, b.records));
        EXPECT_EQ(at(r.next, a.records), at(s.next, b.records));
        EXPECT_EQ(a.parentCodes[i], b.parentCodes[i]);
    }
    EXPECT_EQ(a.root ? a.root - a.records : -1, b.root ? b.root - b.records : -1);
    for (uint32_t i = 0; i < a.boneCount; i++) {
        const SceneBone &x = a.bones[i], &y = b.bones[i];
        EXPECT_STREQ(x.name, y.name);
        EXPECT_EQ(x.restLength, y.restLength);
        EXPECT_EQ(x.restDirection.z, y.restDirection.z);
        EXPECT_EQ(x.weightMapOffset, y.weightMapOffset);
        EXPECT_EQ(x.flags, y.flags);
        EXPECT_EQ(x.boneNumber, y.boneNumber);
        ASSERT_EQ(x.keyCount, y.keyCount);
        EXPECT_TRUE(keysEqual(x.keys, y.keys, x.keyCount));
        EXPECT_EQ(x.next ? x.next - a.bones : -1, y.next ? y.next - b.bones : -1);
        EXPECT_EQ(x.firstChild ? x.firstChild - a.bones : -1, y.firstChild ? y.firstChild - b.bones : -1);
        EXPECT_EQ(a.boneParents[i], b.boneParents[i]);
    }
}

LwsWriterScene RichScene()
{
    LwsWriterScene s;
    LwsWriterItem root, skin, light, camera;
    root.name = "Root";
    root.keys.resize(2);
    root.keys[1].time = 1.0f;
    root.keys[1].position[2] = 4.0f;
    root.dissolve = {{0.0f, 0.0f}, {0.5f, 1.0f}};
    root.hasPivotRotation = true;
    root.pivotRotation[0] = 0.5f;
    skin.kind = LwsWriterItem::OBJECT;
    skin.name = "Skin.lwo";
    skin.parentKind = LWS_PARENT_ITEM;
    skin.hasPivot = true;
    skin.pivot[1] = 1.0f;
    skin.bones.resize(2);
    skin.bones[0].name = "Upper";
    skin.bones[0].weightMap = "UpperMap";
    skin.bones[0].falloffType = 2;
    skin.bones[0].keys.resize(2);
    skin.bones[0].keys[1].time = 2.0f;
    skin.bones[1].name = "Lower";
    skin.bones[1].parent = 0;
    skin.bones[1].restDirection[2] = 0.25f;
    light.kind = LwsWriterItem::LIGHT;
    light.lightName = "Lamp";
    light.lightType = 2;
    light.lightColour[1] = 0.5f;
    light.intensityEnvelope = {{1.0f, 0.0f}, {0.0f, 1.0f}};
    camera.kind = LwsWriterItem::CAMERA;
    camera.zoom = 2.0f;
    s.items = {root, skin, light, camera};
    return s;
}

TEST_F(SceneCacheTest, ParsedSceneWithBonesAndEnvelopesRoundTrips)
{
    ParseText(LwsWriter_Write(RichScene()));
    ASSERT_EQ(SceneCache_Write(&parsed, kCache), 1);
    ASSERT_EQ(SceneCache_Read(&read, kCache), 1) << LoadError_Get();
    ExpectSameScene(parsed, read);
    EXPECT_EQ(read.items[1].firstBone, &read.bones[0]);
}

TEST_F(SceneCacheTest, PoolsCarryOneLengthWordAndABonelessSceneEndsAtItsRoot)
{
    ParseText("LWSC\n3\n\nFramesPerSecond 25\n\nAddNullObject Box\n\n");
    ASSERT_EQ(SceneCache_Write(&parsed, kCache), 1);
    const std::vector<uint8_t> bytes = ReadData(kCache);
    auto u32 = [&](size_t at) {
        return (uint32_t)bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | (uint32_t)bytes[at + 3] << 24;
    };
    // Header: 9 words, then the empty weight-map pool (its size only), then
    // the name pool "Box\0": size 4 and two words, no second length word.
    EXPECT_EQ(u32(36), 0u);
    EXPECT_EQ(u32(40), 4u);
    const uint8_t pool[8] = {'B', 'o', 'x', 0, 0, 0, 0, 0};
    EXPECT_EQ(memcmp(&bytes[44], pool, 8), 0);
    // zoom, 3 u16, flags, 2 counts, one item of 44 bytes, one record of 60,
    // the parent code and the root: nothing after it without bones.
    ASSERT_EQ(bytes.size(), 70u + 44 + 60 + 4 + 4);
    EXPECT_EQ(u32(bytes.size() - 4), 0u);  // the root is record 0
    ASSERT_EQ(ReadBack(bytes), 1) << LoadError_Get();
    ExpectSameScene(parsed, read);
}

TEST_F(SceneCacheTest, EveryTruncationFailsWithNothingLeftAllocated)
{
    ParseText(LwsWriter_Write(RichScene()));
    ASSERT_EQ(SceneCache_Write(&parsed, kCache), 1);
    const std::vector<uint8_t> full = ReadData(kCache);
    for (size_t n = 0; n < full.size(); n++) {
        EXPECT_EQ(ReadBack(std::vector<uint8_t>(full.begin(), full.begin() + (long)n)), 0) << n;
        EXPECT_EQ(read.items, nullptr);
        EXPECT_EQ(read.bones, nullptr);
        EXPECT_EQ(read.itemNames, nullptr);
    }
    EXPECT_EQ(ReadBack(full), 1);
}

TEST_F(SceneCacheTest, LyingCountsAndIndicesAreRefused)
{
    // A boneless scene: header 70 bytes with the pool "A\0B\0" (4 bytes),
    // items at 70, records after them.
    ParseText("LWSC\n3\n\nAddNullObject A\n\nAddNullObject B\nParentItem 10000000\n\n");
    ASSERT_EQ(SceneCache_Write(&parsed, kCache), 1);
    const std::vector<uint8_t> good = ReadData(kCache);
    ASSERT_EQ(ReadBack(good), 1) << LoadError_Get();
    const size_t items = 70, records = items + 2 * 44;
    auto put = [](std::vector<uint8_t> b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (8 * i));
        return b;
    };
    auto put16 = [](std::vector<uint8_t> b, size_t at, uint16_t v) {
        b[at] = (uint8_t)v;
        b[at + 1] = (uint8_t)(v >> 8);
        return b;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* reason;
    } cases[] = {
        {"item count", put16(good, 66, 900), "larger than the file"},
        {"bone count", put16(good, 68, 101), "100 bones"},
        {"name pool size", put(good, 40, 4000), "pool runs past"},
        {"camera range", put(good, 24, 3), "camera or light"},
        {"key count", put16(good, items + 28, 5000), "run past"},
        {"first bone", put(good, items + 34, 0), "first bone"},
        {"name offset", put(good, records, 99), "name offset"},
        {"parent index", put(good, records + 60 + 40, 7), "link out of range"},
        {"record item", put(good, records + 56, 1), "link out of range"},
        {"child loop", put(good, records + 60 + 48, 0), "tree"},   // B's first child is A
        {"root", put(good, good.size() - 4, 1), "tree"},          // B is not a root
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadBack(c.bytes), 0) << c.what;
        EXPECT_NE(std::string(LoadError_Get()).find(c.reason), std::string::npos) << c.what << ": " << LoadError_Get();
    }
}

TEST_F(SceneCacheTest, BoneLinksThatLoopAreRefused)
{
    ParseText(LwsWriter_Write(RichScene()));
    ASSERT_EQ(SceneCache_Write(&parsed, kCache), 1);
    std::vector<uint8_t> bytes = ReadData(kCache);
    // The bone parents close the file: make bone 0 hang from bone 1, which
    // hangs from bone 0.
    const size_t last = bytes.size() - 8;
    bytes[last] = 2;
    EXPECT_EQ(ReadBack(bytes), 0);
    EXPECT_NE(std::string(LoadError_Get()).find("bone links"), std::string::npos) << LoadError_Get();
    // A chain that leads to a parent past the bones (bone 0 under bone 1,
    // bone 1 under "bone 5") is refused before it is followed.
    bytes[last + 4] = 6;
    EXPECT_EQ(ReadBack(bytes), 0);
}

}  // namespace
