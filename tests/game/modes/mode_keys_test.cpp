// The key tables: conversions, sections per pass, needed keys, bad values.
#include "game/modes/mode_keys.h"

#include "app/config.h"
#include "modes_fixture.h"

using namespace modestest;

namespace {

struct Block {
    float a;
    int32_t n;
    uint32_t flags;
    float pair[2];
    Vec3 v;
    float b;
};

#define FIELD(f) (uint32_t) offsetof(Block, f)

class ModeKeysTest : public ModesTest {
protected:
    // Reads the table's keys from the controlData text (and more sections).
    Block Read(const ModeKey& key, const std::string& text, int32_t pass = 0)
    {
        WriteConfig("Keys.cfg", "vehicle {\n" + text + "\n}\n");
        ConfigNode* reader = Config_Open("Keys.cfg");
        Config_SetSection(reader, "vehicle");
        const ModeKeyTable table = {"Test", &key, 1, FIELD(flags)};
        Block b{};
        b.a = -7.0f;
        ModeKeys_Read(&table, reader, pass, &b);
        Config_Close(reader);
        return b;
    }
};

TEST_F(ModeKeysTest, ConversionsApplyOnlyToKeysThatAreFound)
{
    struct Case {
        ModeKeyConversion conversion;
        const char* value;
        float expected;
    } cases[] = {
        {MODEKEY_RAW, "2.5", 2.5f},
        {MODEKEY_PERCENT, "75", 0.75f},
        {MODEKEY_DEGREES, "-90", -1.5707964f},
        {MODEKEY_ABS, "-3", 3.0f},
        {MODEKEY_ABS_DEGREES, "-180", 3.1415927f},
        {MODEKEY_COSINE, "200", -1.0f},  // clamped to 180 degrees
        {MODEKEY_COSINE, "90", 0.0f},
        {MODEKEY_COSINE, "-30", 1.0f},   // clamped to 0
        {MODEKEY_UNIT, "1.5", 1.0f},
        {MODEKEY_RAW, "1e30", MODEKEY_LIMIT},
        {MODEKEY_RAW, "-1e30", -MODEKEY_LIMIT},
    };
    for (const Case& c : cases) {
        const ModeKey key = {"a", FIELD(a), MODEKEY_FLOAT, c.conversion, MODEKEY_LEVEL_SECTION, MODEKEY_OPTIONAL,
                             0, 0.0f, nullptr};
        EXPECT_NEAR(Read(key, std::string("controlData {\n a = ") + c.value + "\n}").a, c.expected, 1e-5f)
            << c.value;
        EXPECT_EQ(Read(key, "controlData {\n b = 1\n}").a, -7.0f) << "a missing key leaves the field";
    }
    // Vectors convert per component; two values and three values by kind.
    const ModeKey pair = {"p", FIELD(pair), MODEKEY_VEC2, MODEKEY_ABS_DEGREES, MODEKEY_LEVEL_SECTION,
                          MODEKEY_OPTIONAL, 0, 0.0f, nullptr};
    Block b = Read(pair, "controlData {\n p = -30, 20\n}");
    EXPECT_NEAR(b.pair[0], 0.5235988f, 1e-6f);
    EXPECT_NEAR(b.pair[1], 0.34906584f, 1e-6f);
    const ModeKey vec = {"v", FIELD(v), MODEKEY_VEC3, MODEKEY_DEGREES, MODEKEY_LEVEL_SECTION, MODEKEY_OPTIONAL,
                         0, 0.0f, nullptr};
    b = Read(vec, "controlData {\n v = 90, 0, -45\n}");
    EXPECT_NEAR(b.v.x, 1.5707964f, 1e-6f);
    EXPECT_NEAR(b.v.z, -0.7853982f, 1e-6f);
    EXPECT_EQ(Read(vec, "controlData {\n v = 1, 2\n}").v.x, 0.0f) << "two numbers are no vector";
    // Flags change only when present; a value key may set a presence bit.
    const ModeKey flag = {"f", FIELD(flags), MODEKEY_FLAG, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_OPTIONAL,
                          0x10, 0.0f, nullptr};
    EXPECT_EQ(Read(flag, "controlData {\n f = TRUE\n}").flags, 0x10u);
    EXPECT_EQ(Read(flag, "controlData {\n g = TRUE\n}").flags, 0u);
    const ModeKey marked = {"n", FIELD(n), MODEKEY_INT, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_OPTIONAL,
                            0x4, 0.0f, nullptr};
    b = Read(marked, "controlData {\n n = 3000000000\n}");
    EXPECT_EQ(b.n, 2147483647) << "integers clamp to int32";
    EXPECT_EQ(b.flags, 0x4u);
}

TEST_F(ModeKeysTest, EachPassReadsItsSectionAndOnlyFoundKeysOverride)
{
    const std::string text = "controlData {\n a = 1\n b = 2\n}\ncontrolData_3 {\n b = 5\n}\n";
    const ModeKey level = {"b", FIELD(b), MODEKEY_FLOAT, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_OPTIONAL,
                           0, 0.0f, nullptr};
    const ModeKey base = {"b", FIELD(b), MODEKEY_FLOAT, MODEKEY_RAW, MODEKEY_BASE_SECTION, MODEKEY_OPTIONAL,
                          0, 0.0f, nullptr};
    EXPECT_EQ(Read(level, text, 0).b, 2.0f);
    EXPECT_EQ(Read(level, text, 3).b, 5.0f);
    EXPECT_EQ(Read(base, text, 3).b, 2.0f) << "a base-section key reads controlData at every pass";
    const ModeKey a = {"a", FIELD(a), MODEKEY_FLOAT, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_OPTIONAL,
                       0, 0.0f, nullptr};
    EXPECT_EQ(Read(a, text, 3).a, -7.0f) << "absent from controlData_3: untouched";
}

TEST_F(ModeKeysTest, NeededKeysWarnOncePerLoadOnTheValuesLeftAfterBothPasses)
{
    const ModeKey keys[] = {
        {"a", FIELD(a), MODEKEY_FLOAT, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_NEEDED, 0, 0.0f, "no a"},
        {"n", FIELD(n), MODEKEY_INT, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_NEEDED_BY_ROUTE, 0, 0.0f, "no n"},
        {"v", FIELD(v), MODEKEY_VEC3, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_NEEDED, 0, 0.0f, "no v"},
    };
    const ModeKeyTable table = {"Test", keys, 3, FIELD(flags)};
    Block b{};
    entitytest::g_log.clear();
    EXPECT_EQ(ModeKeys_WarnMissing(&table, &b, 0), 2);
    EXPECT_EQ(ModeKeys_WarnMissing(&table, &b, 1), 3) << "the route's keys count for a route-driven entity";
    ASSERT_FALSE(entitytest::g_log.empty());
    EXPECT_NE(entitytest::g_log[0].find("a"), std::string::npos);
    EXPECT_NE(entitytest::g_log[0].find("no a"), std::string::npos);
    b.a = 0.5f;
    b.n = 1;
    b.v = {0, 0, 2};
    EXPECT_EQ(ModeKeys_WarnMissing(&table, &b, 1), 0);

    // Pass 0 then pass levelToUnlock: the pair ends at the second call, also
    // when both are pass 0, and a new load starts a new pair.
    ModeLoadPass tracker{};
    EXPECT_FALSE(ModeLoadPass_IsLast(&tracker, 0));
    EXPECT_TRUE(ModeLoadPass_IsLast(&tracker, 0));
    EXPECT_FALSE(ModeLoadPass_IsLast(&tracker, 0));
    EXPECT_TRUE(ModeLoadPass_IsLast(&tracker, 3));
    EXPECT_FALSE(ModeLoadPass_IsLast(&tracker, 0));
    EXPECT_TRUE(ModeLoadPass_IsLast(&tracker, 0));
}

TEST_F(ModeKeysTest, TypeMasksSetBitsOnlyForNumbersOneToThirtyTwo)
{
    WriteConfig("Keys.cfg", "vehicle {\n controlData {\n t0 = 1\n t1 = 32\n t2 = 33\n t3 = -1\n t5 = 4\n }\n}\n");
    ConfigNode* reader = Config_Open("Keys.cfg");
    Config_SetSection(reader, "vehicle");
    uint32_t mask = 0;
    entitytest::g_log.clear();
    EXPECT_EQ(ModeKeys_ReadTypeMask(reader, "controlData", "t%d", &mask, "Test"), 4) << "stops at the missing t4";
    EXPECT_EQ(mask, 0x80000001u);
    EXPECT_EQ(entitytest::g_log.size(), 2u);
    Config_Close(reader);
}

}  // namespace
