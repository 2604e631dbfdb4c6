#include "game/viewports.h"

#include <gtest/gtest.h>

#include "engine/objectworld.h"
#include "frame_capture.h"
#include "program_fixture.h"
#include "tests/engine/drawing_fixture.h"

namespace {

class ViewportTest : public ProgramTest {
protected:
    // Views for n players: slots 0..n-1, each on its viewport, with the
    // rectangles of the level's table.
    static void MakeViewports(int n, uint32_t fogColour = 0xFF000000u)
    {
        ObjectWorld_Init();  // the level's tree the world views draw
        Game_ResetContext();
        Rules_Init();
        LevelSession* s = Level_GetSession();
        s->numViewports = (uint32_t)n;
        for (int v = 0; v < n; v++) {
            Game_GetContext()->playerKinds[v] = PLAYER_KIND_HUMAN;
            Player_SetViewportIndex(v, v);
            float rect[4];
            ASSERT_EQ(Level_GetViewportRect(n, v, rect), 1);
            Viewport_SetRect(v, rect);
        }
        ASSERT_EQ(Level_SetupViewports(1, fogColour, 40.0f, 0.0f), 1);
    }

    // One frame of the viewports inside the main camera's update.
    static void DrawFrame()
    {
        View_SetMainUpdating(1);
        Level_UpdateViewports();
        View_SetMainUpdating(0);
    }

    static void Finish()
    {
        Rules_Shutdown();
        Game_ReleaseContext();
        ObjectWorld_Shutdown();
    }
};

TEST_F(ViewportTest, GoldenTwoAndThreePlayerFrames)
{
    RunProgram([] {
        drawingtest::WriteImage("data/Screen_Filler24.bmp", 32, 32,
                                [](int32_t x, int32_t y) { return ((x / 8 + y / 8) % 2) ? 0xFFE0C020u : 0xFF203060u; });
        for (int n : {2, 3}) {
            MakeViewports(n);
            Font* font = Game_GetContext()->defaultFonts[0];
            for (int v = 0; v < n; v++) {
                const Vec2 at{0.5f, 0.5f};
                char text[16];
                snprintf(text, sizeof text, "P%d", v + 1);
                Level_AddScreenText(font, v, 0, text, &at, 2.0f, nullptr, 1);
            }
            DrawFrame();
            EXPECT_EQ(capture::MatchGolden(n == 2 ? "viewports_two" : "viewports_three"), "");
            // The blank sprite drawn into the corner shows nothing.
            EXPECT_LE(capture::Distance(capture::Pixel(3, 3), 0x006090), 8);
            if (n == 3) {
                EXPECT_LE(capture::Distance(capture::Pixel(440, 270), 0xE0C020), 8);  // the filler's quarter
            }
            Finish();
        }
        State_Reset();
    });
}

}  // namespace
