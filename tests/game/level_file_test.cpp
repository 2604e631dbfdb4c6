#include "game/level_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "app/sound.h"
#include "app/soundbank.h"
#include "game_fixture.h"
#include "platform/dsound/dsound_test.h"
#include "tests/app/wave_fixture.h"

namespace {

const char* const kEveryKey =
    "game {\n"
    "  Level {\n"
    "    levelscene = Levels\\Demo\\Demo.lws\n"
    "    levelConfigs = Levels\\Demo\\\n"
    "    levelSoundConfig = Sounds.cfg\n"
    "    BackDomePath = Domes\\Sky.lws\n"
    "    BackDomeCamRel = FALSE\n"
    "    BackDomeFarClip = 900\n"
    "    BackDomeNearClip = 2\n"
    "    BackDomePosOffset = 1, 2, 3\n"
    "    BackDomeScaleOffset = 4, 5, 6\n"
    "    WorldZBufferClear = FALSE\n"
    "    WorldFarClip = 400\n"
    "    WorldNearClip = 0.5\n"
    "    levelToUnlock = 12\n"
    "    gametimelength = 60\n"
    "    extraGameTypes = FALSE\n"
    "    DefaultGameType = race\n"
    "    winnerFocusTime = 2.5\n"
    "    ClippingDistance = 80\n"
    "    ClippingOnSectionDist = 20\n"
    "    ClippingViewAngle = 90\n"
    "    ClippingSegName = Seg\n"
    "    MapLoadFogOn = TRUE\n"
    "    FogType = 1\n"
    "    FogColourRGB = 255, 128, 0\n"
    "    FogColourAlpha = 64\n"
    "    FogDensity = 0.25\n"
    "    FogDistance = 120\n"
    "  }\n"
    "}\n";

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

TEST_F(LevelFileTest, EveryKeyReachesTheSessionAndTheLevelState)
{
    WriteConfig("levels\\level1.cfg", kEveryKey);
    WriteConfig("Sounds.cfg", "SOUND {\n SoundList {\n Hit = a.wav\n }\n}\n");
    Level_Load(&level_);
    const LevelSession* s = Level_GetSession();
    EXPECT_STREQ(s->sceneName, "Levels\\Demo\\Demo.lws");
    EXPECT_STREQ(s->configDir, "Levels\\Demo");
    EXPECT_STREQ(level_.backDomePath, "Domes\\Sky.lws");
    EXPECT_EQ(s->backDome.camRel, 0u);
    EXPECT_EQ(s->backDome.farClip, 900.0f);
    EXPECT_EQ(s->backDome.nearClip, 2.0f);
    EXPECT_EQ(s->backDome.posOffset.z, 3.0f);
    EXPECT_EQ(s->backDome.scaleOffset.x, 4.0f);
    EXPECT_EQ(s->worldZBufferClear, 0u);
    EXPECT_EQ(s->worldFarClip, 400.0f);
    EXPECT_EQ(s->worldNearClip, 0.5f);
    EXPECT_EQ(s->levelToUnlock, 12);
    EXPECT_EQ(s->timeAllowance, 60.0f);
    EXPECT_EQ(level_.extraGameTypes, 0u);
    EXPECT_EQ(s->rule, (uint32_t)RULE_RACE);
    EXPECT_EQ(level_.winnerFocusTime, 2.5f);
    EXPECT_EQ(level_.clippingDistance, 80.0f);
    EXPECT_EQ(level_.clippingOnSectionDist, 20.0f);
    EXPECT_NEAR(level_.clippingViewAngle, 1.5707964f, 1e-6f);
    EXPECT_STREQ(level_.clippingSegName, "Seg");
    EXPECT_EQ(level_.mapLoadFogOn, 1u);
    EXPECT_EQ(level_.fogType, 2u);
    EXPECT_EQ(level_.fogColour, 0x400080FFu);
    EXPECT_EQ(level_.fogDensity, 0.25f);
    EXPECT_EQ(level_.fogDistance, 120.0f);
    // The level's sounds come from its sound configuration, in group 1.
    EXPECT_EQ(SoundBank_CountName("Hit", SOUNDBANK_UNGROUPED), 1u);

    // A level without the keys gets every default, not the last level's values.
    Level_ResetSettings(&level_);
    Level_SetGameRule(RULE_NORMAL);
    LoadLevel("");
    EXPECT_STREQ(s->sceneName, "");
    EXPECT_STREQ(s->configDir, "");
    EXPECT_STREQ(level_.backDomePath, "");
    EXPECT_EQ(s->backDome.camRel, 1u);
    EXPECT_EQ(s->backDome.farClip, 250.0f);
    EXPECT_EQ(s->backDome.nearClip, 0.1f);
    EXPECT_EQ(s->backDome.posOffset.z, 0.0f);
    EXPECT_EQ(s->backDome.scaleOffset.x, 1.0f);
    EXPECT_EQ(s->worldZBufferClear, 1u);
    EXPECT_EQ(s->worldFarClip, 250.0f);
    EXPECT_EQ(s->worldNearClip, 0.1f);
    EXPECT_EQ(s->levelToUnlock, 0);
    EXPECT_EQ(s->timeAllowance, 0.0f);
    EXPECT_EQ(level_.extraGameTypes, 1u);
    EXPECT_EQ(s->rule, (uint32_t)RULE_NORMAL);
    EXPECT_EQ(level_.clippingViewAngle, 0.0f);
    EXPECT_STREQ(level_.clippingSegName, "");
    EXPECT_EQ(level_.mapLoadFogOn, 0u);
    EXPECT_EQ(level_.fogType, 1u);
    EXPECT_EQ(level_.fogColour, 0xFF000000u);
    EXPECT_EQ(level_.fogDistance, 0.0f);
    // The previous level's sounds went with group 1.
    EXPECT_EQ(SoundBank_CountName("Hit", SOUNDBANK_UNGROUPED), 0u);
}

TEST_F(LevelFileTest, TheAllowanceIsTheBestTimeOnlyWhenItBeatsTheLength)
{
    struct Case {
        float best, length, allowance;
    } cases[] = {{42, 60, 42}, {0, 60, 60}, {70, 60, 60}, {60, 60, 60}, {-5, 60, 60}, {42, 0, 0}};
    for (const Case& c : cases) {
        Progress_SetFloat(9, c.best);
        LoadLevel("levelToUnlock = 9\ngametimelength = " + std::to_string(c.length) + "\n");
        EXPECT_EQ(Level_GetTimeAllowance(), c.allowance) << c.best << " of " << c.length;
    }
}

TEST_F(LevelFileTest, FogTypesAndTheFogColourWord)
{
    struct Case {
        const char* key;
        uint32_t type;
    } cases[] = {{"", 1}, {"FogType = 0\n", 1}, {"FogType = 1\n", 2}, {"FogType = 7\n", 3}, {"FogType = -1\n", 3}};
    for (const Case& c : cases) {
        LoadLevel(c.key);
        EXPECT_EQ(level_.fogType, c.type) << c.key;
    }
    LoadLevel("FogColourRGB = 255, 128, 0\n");
    EXPECT_EQ(level_.fogColour, 0xFF0080FFu);
    LoadLevel("FogColourRGB = 300, -5, 12.7\nFogColourAlpha = 999\n");
    EXPECT_EQ(level_.fogColour, 0xFF0C00FFu);
    LoadLevel("FogColourRGB = 1, 2\n");  // not a colour: black
    EXPECT_EQ(level_.fogColour, 0xFF000000u);
}

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

TEST_F(LevelFileTest, MusicFollowsTheVolumeAndIsReleased)
{
    Write("Streams/Track2.wav",
          wavefile::Make(wavefile::Layout{}, wavefile::Samples16(std::vector<int16_t>(50000, 9))));
    Level_LoadMusic("Track2", 0.5f, 1);
    Sound* music = Game_GetContext()->music;
    ASSERT_NE(music, nullptr);
    Level_SetMusicVolume(0.25f);
    Level_LoadMusic("Missing", 0.5f, 1);  // replaces the old stream
    EXPECT_EQ(Game_GetContext()->music, nullptr);
    EXPECT_EQ(Sound_GetCount(), 0u);
    Level_SetMusicVolume(0.5f);  // nothing plays: nothing happens
    Level_FreeMusic();
}

}  // namespace
