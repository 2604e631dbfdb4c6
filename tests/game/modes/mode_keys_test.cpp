// The key tables: conversions, limits, type masks.
#include "game/modes/mode_keys.h"

#include "app/config.h"
#include "modes_fixture.h"

namespace {

class ModeKeysTest : public ModesTest {
protected:
    ConfigNode* Open(const std::string& keys)
    {
        WriteConfig("Keys.cfg", "vehicle {\n controlData {\n" + keys + "\n }\n}\n");
        ConfigNode* reader = Config_Open("Keys.cfg");
        Config_SetSection(reader, "vehicle");
        return reader;
    }
};

TEST_F(ModeKeysTest, ConversionsLimitsAndTypeMasks)
{
    const std::tuple<ModeKeyConversion, const char*, float> cases[] = {
        {MODEKEY_RAW, "2.5", 2.5f},
        {MODEKEY_PERCENT, "75", 0.75f},
        {MODEKEY_DEGREES, "-90", -1.5707964f},
        {MODEKEY_ABS, "-3", 3.0f},
        {MODEKEY_ABS_DEGREES, "-180", 3.1415927f},
        {MODEKEY_COSINE, "200", -1.0f},
        {MODEKEY_COSINE, "-30", 1.0f},
        {MODEKEY_UNIT, "1.5", 1.0f},
        {MODEKEY_UNIT, "-2", 0.0f},
        {MODEKEY_RAW, "1e30", MODEKEY_LIMIT},
        {MODEKEY_RAW, "-1e30", -MODEKEY_LIMIT},
        {MODEKEY_RAW, "nan", -7.0f},  // not a number: the field keeps its value
    };
    for (auto [conversion, value, expected] : cases) {
        const ModeKey key = {"a", 0,    MODEKEY_FLOAT, conversion, MODEKEY_LEVEL_SECTION, MODEKEY_OPTIONAL,
                             0,   0.0f, nullptr};
        const ModeKeyTable table = {"Test", &key, 1, MODEKEY_NO_FLAGS};
        ConfigNode* reader = Open(std::string("  a = ") + value);
        float a = -7.0f;
        ModeKeys_Read(&table, reader, 0, &a);
        EXPECT_NEAR(a, expected, 1e-5f) << value;
        Config_Close(reader);
    }
    // The modes' own speeds pass through the same guard.
    EXPECT_EQ(ModeKeys_Finite(std::nanf("")), 0.0f);

    // A vector needs some component above 0, a number a value above 0; type numbers are 1..32.
    struct {
        Vec3 v;
        int32_t n;
    } needed = {{-1, 0, 0}, 0};
    const ModeKey keys[] = {
        {"v", 0, MODEKEY_VEC3, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_NEEDED, 0, 0.0f, "no v"},
        {"n", sizeof(Vec3), MODEKEY_INT, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_NEEDED, 0, 0.0f, "no n"}};
    const ModeKeyTable table = {"Test", keys, 2, MODEKEY_NO_FLAGS};
    EXPECT_EQ(ModeKeys_WarnMissing(&table, &needed, 0), 2);
    needed.v.z = 2;
    needed.n = 1;
    EXPECT_EQ(ModeKeys_WarnMissing(&table, &needed, 0), 0);
    ConfigNode* reader = Open("  t0 = 1\n  t1 = 32\n  t2 = 33\n  t3 = -1\n  t5 = 4");
    uint32_t mask = 0;
    g_log.clear();
    EXPECT_EQ(ModeKeys_ReadTypeMask(reader, "controlData", "t%d", &mask, "Test"), 4) << "stops at the missing t4";
    EXPECT_EQ(mask, 0x80000001u);
    EXPECT_EQ(g_log.size(), 2u);
    Config_Close(reader);
}

}  // namespace
