#include "game/ingame_menu.h"

#include <gtest/gtest.h>

#include "common/hash.h"
#include "menu_input_fixture.h"

namespace {

const char* const kPause =
    "MenuData {\n pauseMenuMain {\n  sfxScrollBarRange = 160, 0\n  musicScrollBarRange = 160, 10\n"
    "  sfxVolumeSelection {\n   MenuItem = TRUE\n  }\n  musicVolumeSelection {\n   MenuItem = TRUE\n  }\n"
    "  resume {\n   MenuItem = TRUE\n   MenuItemBackup = TRUE\n  }\n"
    "  sfxVolumeAdjuster {\n   ImageColour = 255:255:255:255\n   ImagePosition = 100, 50\n  }\n"
    "  musicVolumeAdjuster {\n   ImageAlpha = 200\n   ImagePosition = 100, 80\n  }\n }\n"
    " bare {\n  sfxVolumeSelection {\n   MenuItem = TRUE\n  }\n  sfxVolumeAdjuster {\n   FPVal0 = 1\n  }\n }\n}\n";

class SliderTest : public MenuInputTest {
protected:
    void SetUp() override
    {
        MenuInputTest::SetUp();
        WriteConfig("InGameMenu.cfg", kPause);
        menu_ = Menu_Load("InGameMenu.cfg");
        ASSERT_NE(menu_, nullptr);
        Game_SetFrameTime(0.05f);
    }
    void TearDown() override
    {
        for (int32_t p = 0; p < menu_->pageCount; p++)
            InGameMenu_Callbacks_PauseMenuMainShutdown(&menu_->pages[p], menu_, nullptr);
        Menu_Free(menu_);
        MenuInputTest::TearDown();
    }

    // The page with its slider record, focused on entry `focus`.
    MenuPage* Page(const char* name, int32_t focus)
    {
        ConfigNode* cfg = Config_Open("InGameMenu.cfg");
        Config_SetSection(cfg, (std::string("MenuData::") + name).c_str());
        MenuPage* page = Menu_FindPage(menu_, Name_Hash(name, 1, 1));
        InGameMenu_Callbacks_PauseMenuMainInit(page, menu_, cfg);
        Config_Close(cfg);
        page->focus = focus;
        return page;
    }
    // One frame of the update with these keys held.
    void Frame(MenuPage* page, std::initializer_list<uint8_t> keys)
    {
        Keys(keys);
        InGameMenu_Callbacks_PauseMenuMainUpdate(page, menu_, nullptr);
    }

    MenuSystem* menu_ = nullptr;
};

TEST_F(SliderTest, StepsAreTruncatedToSixteenthsAndBothDirectionsApply)
{
    GameContext* ctx = Game_GetContext();
    struct Case {
        float from;
        std::initializer_list<uint8_t> keys;
        int32_t focus;
        float to;
    } cases[] = {
        {0.5f, {kKeyLeft}, 0, 0.4375f},
        {0.3f, {kKeyRight}, 0, 0.3125f},
        {0.3f, {kKeyLeft, kKeyRight}, 0, 0.25f},  // lowered to 3/16, then raised
        {0.0f, {kKeyLeft}, 0, 0.0f},
        {1.0f, {kKeyRight}, 0, 1.0f},
        {0.5f, {kKeyLeft}, 2, 0.5f},  // neither selection focused
    };
    for (const Case& c : cases) {
        ctx->effectsVolume = c.from;
        MenuPage* page = Page("pauseMenuMain", c.focus);
        Frame(page, c.keys);
        EXPECT_EQ(ctx->effectsVolume, c.to) << c.from << " focus " << c.focus;
        // The timer started: the next frame does nothing.
        Frame(page, c.keys);
        EXPECT_EQ(ctx->effectsVolume, c.to);
    }
}

TEST_F(SliderTest, APageWithoutKnobsOrSoundStepsAndPlacesNothing)
{
    GameContext* ctx = Game_GetContext();
    ctx->effectsVolume = 0.5f;
    MenuPage* page = Page("bare", 0);
    Frame(page, {kKeyRight});
    EXPECT_EQ(ctx->effectsVolume, 0.5625f);
    InGameMenu_Callbacks_PauseMenuMainShutdown(page, menu_, nullptr);
    EXPECT_EQ(page->userData, nullptr);
    InGameMenu_Callbacks_PauseMenuMainShutdown(page, menu_, nullptr);
    Frame(page, {kKeyRight});  // no record: nothing
    EXPECT_EQ(ctx->effectsVolume, 0.5625f);
}

TEST_F(SliderTest, EverySixteenthSurvivesASaveAndALoadAndStepsFromThere)
{
    GameContext* ctx = Game_GetContext();
    for (int k = 0; k <= 16; k++) {
        const float v = (float)k / 16.0f;
        ctx->effectsVolume = ctx->musicVolume = v;
        uint8_t record[SAVE_RECORD_SIZE];
        Save_BuildRecord(record);
        Save_SealHeader(record);
        Save_SealRecord(record);
        ctx->effectsVolume = ctx->musicVolume = 0.77f;
        ASSERT_EQ(Save_UnpackRecord(record), 1);
        EXPECT_EQ(Volume_StepSixteenth(ctx->effectsVolume, 0), v) << k;
        EXPECT_EQ(Volume_StepSixteenth(ctx->musicVolume, 1), (float)std::min(k + 1, 16) / 16.0f) << k;
        EXPECT_EQ(Volume_StepSixteenth(ctx->musicVolume, -1), (float)std::max(k - 1, 0) / 16.0f) << k;
    }
}

}  // namespace
