#include "app/soundbank.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/config.h"
#include "app/sound.h"
#include "common/list.h"
#include "platform/dsound/dsound_test.h"
#include "tests/app/data_fixture.h"
#include "tests/app/wave_fixture.h"
#include "tools/lib/cfgc.h"

namespace {

// Two sections of sounds (the second a copy's name), one whose sound is
// missing, and one that is no bank at all.
const char* const kBank =
    "SOUND {\n SoundList {\n Hit = hit.wav\n Hit = hit2.wav\n Engine = engine.wav\n Missing = missing.wav\n }\n"
    " SoundSettings {\n Engine {\n Looping = TRUE\n }\n }\n}\n"
    "SOUNDS {\n SoundList {\n Click = hit.wav\n }\n}\nNOTHING {\n SoundList {\n Gone = missing.wav\n }\n}\n"
    "MenuData {\n Title = Start\n}\n";

class SoundBankTest : public DataTest {
protected:
    void SetUp() override
    {
        DataTest::SetUp();
        ASSERT_EQ(ConfigSys_Init(), 1);
        DSoundTest_SetDirectRender(1);
        Sound_Init();
        ASSERT_TRUE(Sound_IsOn() && SoundBank_Init());
        std::vector<uint8_t> bytes;
        CfgcError error;
        ASSERT_EQ(Cfgc_Compile(kBank, strlen(kBank), &bytes, &error), 1) << error.line << ": " << error.message;
        WriteDisk("data/" + Cfgc_OutputPath("Bank.cfg"), bytes);
        std::string tone = wavefile::Make(wavefile::Layout{}, wavefile::Samples16(std::vector<int16_t>(100, 1)));
        for (const char* name : {"data/hit.wav", "data/hit2.wav", "data/engine.wav"}) WriteDisk(name, tone);
    }
    void TearDown() override
    {
        // The shell's order: the sound system goes before the bank.
        Sound_Shutdown();
        SoundBank_Shutdown();
        DSoundTest_SetDirectRender(0);
        ConfigSys_Shutdown();
        DataTest::TearDown();
    }
};

TEST_F(SoundBankTest, EntriesByNameGroupAndIndexWithLoopingFromTheSettings)
{
    uint32_t group = 99;
    ASSERT_EQ(SoundBank_Load("Bank.cfg", "SOUND", &group), 1);
    EXPECT_EQ(std::vector<uint32_t>({group, SoundBank_CountName("Hit", 2), SoundBank_CountName("hit", 0)}),
              std::vector<uint32_t>({2, 2, 0}));
    // Missing's file failed: no entry.
    EXPECT_EQ(std::vector<int32_t>({SoundBank_FindId("Hit", 2, 0), SoundBank_FindId("HIT", 2, 1),
                                    SoundBank_FindId("Engine", 2, 0), SoundBank_FindId("Missing", 2, 0)}),
              std::vector<int32_t>({10000, 10001, 10002, -1}));
    // The bank loaded again is a group of its own; releasing one group keeps the other.
    uint32_t second = 0;
    ASSERT_TRUE(SoundBank_Load("Bank.cfg", "SOUND", &second) && SoundBank_CountName("Hit", second) == 2 &&
                SoundBank_FindId("Hit", second, 0) != 10000);
    // A looping entry gives its instance; others play a one-shot and give none.
    Sound* engine = SoundBank_PlayId(10002, 1.0f, 0, nullptr);
    EXPECT_TRUE(engine && !SoundBank_Play("Hit", 2, 1, 1.0f, 0, nullptr));
    EXPECT_EQ(Sound_Update(0.016f), 2);  // both play
    EXPECT_EQ(SoundBank_PlayId(12345, 1.0f, 0, nullptr), nullptr);
    Sound_Release(engine);
    SoundBank_ReleaseGroup(0);  // nothing
    EXPECT_EQ(SoundBank_CountName("Hit", 2), 2u);
    SoundBank_ReleaseGroup(2);
    EXPECT_EQ(SoundBank_CountName("Hit", 2) * 10 + SoundBank_CountName("Hit", second), 2u);
}

TEST_F(SoundBankTest, AFullFixedPoolStopsTheSectionWithoutLosingItsSound)
{
    ASSERT_EQ(List_SetBlockSize(SoundBank_GetPool(), 2), 1);
    uint32_t group = 0;
    SoundBank_Load("Bank.cfg", "SOUND", &group);
    // engine.wav was loaded and given back.
    EXPECT_TRUE(SoundBank_CountName("Hit", 2) == 2 && SoundBank_FindId("Engine", 2, 0) == -1 && Sound_GetCount() == 2);
}

}  // namespace
