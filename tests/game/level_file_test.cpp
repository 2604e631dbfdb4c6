#include "game/level_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "app/sound.h"
#include "app/soundbank.h"
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

TEST_F(LevelFileTest, EveryKeyReachesTheSessionAndTheLevelStateAndALevelWithoutItGetsTheDefault)
{
    const LevelSession* s = Level_GetSession();
    const LevelState* l = &level_;
    // Each key with its value, what it reads as, and the value of a level without it.
    struct Key {
        const char* line;
        std::function<double()> read;
        double set, unset;
    } keys[] = {
        {"BackDomeCamRel = FALSE", [&] { return s->backDome.camRel; }, 0, 1},
        {"BackDomeFarClip = 900", [&] { return s->backDome.farClip; }, 900, 250},
        {"BackDomeNearClip = 2", [&] { return s->backDome.nearClip; }, 2, 0.1f},
        {"BackDomePosOffset = 1, 2, 3", [&] { return s->backDome.posOffset.z; }, 3, 0},
        {"BackDomeScaleOffset = 4, 5, 6", [&] { return s->backDome.scaleOffset.x; }, 4, 1},
        {"WorldZBufferClear = FALSE", [&] { return s->worldZBufferClear; }, 0, 1},
        {"WorldFarClip = 400", [&] { return s->worldFarClip; }, 400, 250},
        {"WorldNearClip = 0.5", [&] { return s->worldNearClip; }, 0.5, 0.1f},
        {"levelToUnlock = 12", [&] { return s->levelToUnlock; }, 12, 0},
        {"gametimelength = 60", [&] { return s->timeAllowance; }, 60, 0},
        {"extraGameTypes = FALSE", [&] { return l->extraGameTypes; }, 0, 1},
        {"DefaultGameType = race", [&] { return s->rule; }, RULE_RACE, RULE_NORMAL},
        {"winnerFocusTime = 2.5", [&] { return l->winnerFocusTime; }, 2.5, l->winnerFocusTime},
        {"ClippingDistance = 80", [&] { return l->clippingDistance; }, 80, l->clippingDistance},
        {"ClippingOnSectionDist = 20", [&] { return l->clippingOnSectionDist; }, 20, l->clippingOnSectionDist},
        {"ClippingViewAngle = 90", [&] { return l->clippingViewAngle; }, 1.5707964f, 0},
        {"MapLoadFogOn = TRUE", [&] { return l->mapLoadFogOn; }, 1, 0},
        {"FogType = 1", [&] { return l->fogType; }, 2, 1},
        {"FogColourAlpha = 64", [&] { return l->fogColour; }, 0x400080FFu, 0xFF000000u},
        {"FogDensity = 0.25", [&] { return l->fogDensity; }, 0.25f, l->fogDensity},
        {"FogDistance = 120", [&] { return l->fogDistance; }, 120, 0},
    };
    std::string text = "levelscene = Levels\\Demo\\Demo.lws\nlevelConfigs = Levels\\Demo\\\nlevelSoundConfig = Sounds.cfg\n"
                       "BackDomePath = Domes\\Sky.lws\nClippingSegName = Seg\nFogColourRGB = 255, 128, 0\n";
    for (const Key& k : keys) text += std::string(k.line) + "\n";
    WriteConfig("Sounds.cfg", "SOUND {\n SoundList {\n Hit = a.wav\n }\n}\n");
    LoadLevel(text);
    for (const Key& k : keys) EXPECT_NEAR(k.read(), k.set, 1e-6) << k.line;
    EXPECT_STREQ(s->sceneName, "Levels\\Demo\\Demo.lws");
    EXPECT_STREQ(s->configDir, "Levels\\Demo");
    EXPECT_STREQ(level_.backDomePath, "Domes\\Sky.lws");
    EXPECT_STREQ(level_.clippingSegName, "Seg");
    // The level's sounds come from its sound configuration, in group 1.
    EXPECT_EQ(SoundBank_CountName("Hit", SOUNDBANK_UNGROUPED), 1u);

    // A level without the keys gets every default, not the last level's values.
    Level_ResetSettings(&level_);
    Level_SetGameRule(RULE_NORMAL);
    LoadLevel("");
    for (const Key& k : keys) EXPECT_NEAR(k.read(), k.unset, 1e-6) << k.line;
    EXPECT_STREQ(s->sceneName, "");
    EXPECT_STREQ(s->configDir, "");
    EXPECT_STREQ(level_.backDomePath, "");
    EXPECT_STREQ(level_.clippingSegName, "");
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
