#include "game/level_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "app/sound.h"
#include "game_fixture.h"
#include "platform/dsound/dsound_test.h"
#include "tests/app/wave_fixture.h"

namespace {

class LevelFileTest : public GameTest {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        DSoundTest_SetDirectRender(1);
        Sound_Init();
        Rules_Init();
        GameSetup_Reset();
        GameSetup_SetLevel("level1.cfg", 0);
        memset(&level_, 0, sizeof level_);
        Level_ResetSettings(&level_);
        std::string tone = wavefile::Make(wavefile::Layout{}, wavefile::Samples16(std::vector<int16_t>(100, 1)));
        WriteData("a.wav", tone);
        WriteData("b.wav", tone);
    }
    void TearDown() override
    {
        Rules_Shutdown();
        Sound_Shutdown();
        DSoundTest_SetDirectRender(0);
        GameTest::TearDown();
    }

    // Loads "levels\level1.cfg" written from the group's keys.
    void LoadLevel(const std::string& keys)
    {
        WriteConfig("levels\\level1.cfg", "game {\n Level {\n" + keys + " }\n}\n");
        Level_Load(&level_);
    }

    LevelState level_;
};

TEST_F(LevelFileTest, TheDefaultRuleComesByNameAndAnUnknownNameKeepsTheRuleBeforeLoading)
{
    struct Case {
        const char* name;
        uint32_t rule;
    } cases[] = {{"race", 6}, {"Count Down", 2}, {"HIDDENPICKUPS", 4}, {"sprint", 0}};
    for (const Case& c : cases) {
        Level_SetGameRule(RULE_NORMAL);
        LoadLevel(std::string("DefaultGameType = ") + c.name + "\n");
        EXPECT_EQ(Level_GetGameRule(), c.rule) << c.name;
    }
}

TEST_F(LevelFileTest, WithoutASoundConfigurationTheLevelFileHoldsTheSounds)
{
    WriteConfig("levels\\level1.cfg",
                "game {\n Level {\n levelscene = a.lws\n }\n}\nSOUND {\n SoundList {\n Own = b.wav\n }\n}\n");
    Level_Load(&level_);
    EXPECT_EQ(SoundBank_CountName("Own", SOUNDBANK_UNGROUPED), 1u);
}

TEST_F(LevelFileTest, AMissingLevelFileKeepsTheDefaultsAndSaysWhichFile)
{
    LoadLevel("levelscene = a.lws\nFogType = 7\n");
    Level_ResetSettings(&level_);
    GameSetup_SetLevel("level9.cfg", 0);
    testing::internal::CaptureStderr();
    Level_Load(&level_);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("levels\\level9.cfg"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
    EXPECT_STREQ(Level_GetSceneName(), "");
    EXPECT_EQ(level_.fogType, 1u);
}

}  // namespace
