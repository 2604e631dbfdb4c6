// The menus and the save screens drawn inside the program: easing of the
// menus' sizes and scales by the frame time, the colours' switch, and the
// save screens' panel.
#include <gtest/gtest.h>

#include "app/state.h"
#include "engine/font.h"
#include "frame_capture.h"
#include "game/memcard_ui.h"
#include "game/menu_system.h"
#include "program_fixture.h"

namespace {

class MenuRenderTest : public ProgramTest {};

MenuSystem* g_menu = nullptr;

// A state that draws the menu; the frames of the program step it.
GameState* DrawingState()
{
    GameState* state = State_Create();
    State_SetUpdate(state, [](GameState* self, float) { return self; });
    State_SetRender(state, [](GameState*) { Menu_Render(g_menu); });
    return state;
}

void Frames(int n, float dt)
{
    for (int i = 0; i < n; i++) {
        App_SetFrameTime(dt);
        App_FrameStep();
    }
}

TEST_F(MenuRenderTest, SizesAndScalesEaseAtTheirRatesWhileColoursSwitchAtOnce)
{
    WriteConfig("Menu.cfg",
                "MenuData {\n p {\n"
                "  a {\n   MenuItem = TRUE\n   TextPosition = 100, 100\n   TextScale = 1\n   TextSelScale = 2\n"
                "   TextScaleToSelTime = 0.5\n   TextScaleFromSelTime = 0.25\n   TextColour = 255:0:0:255\n"
                "   TextSelColour = 0:255:0:255\n   ImageColour = 9:9:9:255\n   ImageSize = 10, 20\n"
                "   ImageSelSize = 30, 60\n   ImageSizeTimeToChangeToSel = 2, 1\n   TextLocalName = LS_A\n  }\n"
                "  b {\n   MenuItem = TRUE\n  }\n }\n}\n");
    RunProgram([] {
        Game_ResetContext();
        Game_LoadFonts();
        g_menu = Menu_Load("Menu.cfg");
        ASSERT_NE(g_menu, nullptr);
        ASSERT_EQ(Menu_GoToByName(g_menu, "p", 1), 1);
        Menu_SetOpen(g_menu, 1, 1);
        DrawingState();
        Frames(1, 0.1f);  // the first frame of a state has no time
        Frames(5, 0.1f);
        const MenuEntry& a = g_menu->pages[0].entries[0];
        // 10 and 40 pixels a second, 2 scale units a second.
        EXPECT_NEAR(a.image->current[0], 15.0f, 0.01f);
        EXPECT_NEAR(a.image->current[1], 40.0f, 0.01f);
        EXPECT_NEAR(a.text->currentScale, 2.0f, 0.001f);
        const uint8_t* drawn = a.text->font->colour;
        EXPECT_EQ(drawn[0], 0);
        EXPECT_EQ(drawn[1], 255);
        // Unselected: the colour at once, the scale back at 4 units a second
        // (the image has no time back: a hundredth of a second).
        g_menu->pages[0].focus = 1;
        Frames(1, 0.1f);
        EXPECT_EQ(drawn[0], 255);
        EXPECT_EQ(drawn[1], 0);
        EXPECT_NEAR(a.text->currentScale, 1.6f, 0.001f);
        EXPECT_NEAR(a.image->current[0], 10.0f, 0.01f);
        Menu_Free(g_menu);
        g_menu = nullptr;
        State_Reset();
        Game_ReleaseContext();
    });
}

GameState* CardRoot(GameState* self, float)
{
    GameState* card = MemCardUI_CreateState();
    return card ? card : self;
}

TEST_F(MenuRenderTest, TheSaveScreensDrawTheirOverlayOverTheStateBelow)
{
    WriteConfig("MemCard.cfg", "MemCard {\n Colours {\n  Overlay1 = 255:0:0:255\n  Overlay2 = 0:0:255:255\n }\n}\n");
    RunProgram([] {
        Game_ResetContext();
        Game_LoadFonts();
        MemCardUI_Setup();
        GameState* root = State_Create();
        State_SetUpdate(root, CardRoot);
        MemCardUI_SetMode(MEMCARD_MODE_SAVE);
        Frames(30, 0.05f);
        ASSERT_NE(State_GetCurrent(), root);
        // The background at the panel fade (0.65 of red) and the blue rule.
        const uint32_t corner = capture::Pixel(10, 10);
        EXPECT_GT((int)(corner >> 16 & 255), 150);
        EXPECT_LE(capture::Distance(capture::Pixel(300, 101), 0x0000FF), 8);
        MemCardUI_SetMode(MEMCARD_MODE_NONE);
        Frames(2, 0.05f);
        EXPECT_EQ(State_GetCurrent(), root);
        MemCardUI_Shutdown();
        State_Reset();
        Game_ReleaseContext();
    });
}

}  // namespace
