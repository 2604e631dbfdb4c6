#include "game/viewports.h"

#include <gtest/gtest.h>

#include "common/list.h"
#include "engine/objectworld.h"
#include "engine/renderobj.h"
#include "frame_capture.h"
#include "program_fixture.h"
#include "tests/engine/drawing_fixture.h"
#include "tests/engine/engine_fixture.h"
#include "tools/lib/lwswrite.h"

namespace {

class ViewportTest : public ProgramTest {
protected:
    // Views for n players: slots 0..n-1, each on its viewport, with the rectangles of the level's table.
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

    // One frame of the viewports inside the main camera's update; the stand-in's recording of it.
    static std::string DrawFrame()
    {
        D3D8Test_StartRecording();
        View_SetMainUpdating(1);
        Level_UpdateViewports();
        View_SetMainUpdating(0);
        D3D8Test_StopRecording();
        return D3D8Test_Recording();
    }

    static void Finish()
    {
        Rules_Shutdown();
        Game_ReleaseContext();
        ObjectWorld_Shutdown();
    }
};

// The frames of one to four players, each viewport with its player's name
// in the middle and texts placed on and past its edges and one wider than a
// quarter: every text is drawn whole inside its own viewport (moved in, or
// made smaller).
TEST_F(ViewportTest, GoldenOneToFourPlayerFrames)
{
    RunProgram([] {
        drawingtest::WriteImage("data/Screen_Filler24.bmp", 32, 32,
                                [](int32_t x, int32_t y) { return ((x / 8 + y / 8) % 2) ? 0xFFE0C020u : 0xFF203060u; });
        const char* const goldens[] = {"viewports_one", "viewports_two", "viewports_three", "viewports_four"};
        // x, y, size, centred: the player's name, then "8888" beyond the lower right, the left, the top, and at
        // the upper right (the corner at the origin stays free for the blank sprite).
        const float places[][4] = {
            {0.5f, 0.5f, 2, 1}, {1.1f, 1.2f, 1, 0}, {-0.3f, 0.35f, 1, 0}, {0.3f, -0.2f, 1, 0}, {0.975f, 0.025f, 1, 1}};
        for (int n = 1; n <= 4; n++) {
            MakeViewports(n);
            Font* font = Game_GetContext()->defaultFonts[0];
            for (int v = 0; v < n; v++) {
                char name[16];
                snprintf(name, sizeof name, "P%d", v + 1);
                for (int slot = 0; slot < 5; slot++) {
                    const Vec2 at{places[slot][0], places[slot][1]};
                    Level_AddScreenText(font, v, slot, slot ? "8888" : name, &at, places[slot][2], nullptr,
                                        (int)places[slot][3]);
                }
                const Vec2 low{0.5f, 0.8f};
                Level_AddScreenText(font, v, 5, "88888888", &low, 5.0f, nullptr, 1);  // 400 wide at its size
            }
            DrawFrame();
            EXPECT_EQ(capture::MatchGolden(goldens[n - 1]), "");
            // The blank sprite drawn into the corner shows nothing.
            EXPECT_LE(capture::Distance(capture::Pixel(3, 3), 0x006090), 8);
            EXPECT_TRUE(n != 3 || capture::Distance(capture::Pixel(440, 270), 0xE0C020) <= 8) << "the filler's quarter";
            Finish();
        }
        // Without the picture the quarter is black, not what the screen showed before (the fourth view).
        std::remove("data/Screen_Filler24.bmp");
        MakeViewports(3);
        DrawFrame();
        EXPECT_LE(capture::Distance(capture::Pixel(440, 270), 0x000000), 8) << "the quarter without a filler";
        Finish();
        State_Reset();
    });
}

TEST_F(ViewportTest, RectanglesSplitTheScreenForOneToFourPlayersWithThreeViewsEach)
{
    const float want[4][4][4] = {
        {{0, 0, 1, 1}},
        {{0, 0, 1, 0.5f}, {0, 0.5f, 1, 0.5f}},
        {{0, 0, 0.5f, 0.5f}, {0.5f, 0, 0.5f, 0.5f}, {0, 0.5f, 0.5f, 0.5f}},
        {{0, 0, 0.5f, 0.5f}, {0.5f, 0, 0.5f, 0.5f}, {0, 0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f, 0.5f}},
    };
    float rect[4];
    EXPECT_EQ(Level_GetViewportRect(0, 0, rect) + Level_GetViewportRect(5, 0, rect) + Level_GetViewportRect(2, 2, rect),
              0);
    RunProgram([&] {
        for (int n = 1; n <= 4; n++) {
            SCOPED_TRACE(n);
            Game_ResetContext();
            const uint32_t before = List_Count(View_GetPool());
            MakeViewports(n);
            EXPECT_EQ(List_Count(View_GetPool()) - before, 3u * n);
            for (int v = 0; v < n; v++) {
                ASSERT_EQ(Level_GetViewportRect(n, v, rect), 1);
                for (int i = 0; i < 4; i++) EXPECT_EQ(rect[i], want[n - 1][v][i]) << v << "," << i;
                // A player's views cover its rectangle: 640 x 480 times the fractions.
                for (View* view : {Viewport_GetWorldView(v), Viewport_GetBackDomeView(v), Viewport_GetHudView(v)}) {
                    ASSERT_NE(view, nullptr);
                    EXPECT_EQ(std::make_pair(view->width, view->height),
                              std::make_pair((uint16_t)(640 * rect[2]), (uint16_t)(480 * rect[3])));
                    EXPECT_EQ(std::make_pair(View_GetFov(view), view->aspect), std::make_pair(0.55f, 0.75f));
                }
                EXPECT_EQ(Viewport_GetBackDomeView(v)->farClip, 250.0f);
                EXPECT_TRUE(Viewport_GetCameraFrame(v) && Viewport_GetHudFrame(v));
            }
            if (n == 2) {  // kinds 1, 0, 2: the second player sits in slot 2, on viewport 1
                Player_SetViewportIndex(1, -1);
                Player_SetViewportIndex(2, 1);
                EXPECT_EQ(Viewport_GetWorldView(2), Level_GetSession()->viewports[1].worldView);
                EXPECT_FALSE(Viewport_GetWorldView(1) || Viewport_GetWorldView(4));
            }
            Finish();
            EXPECT_EQ(List_Count(View_GetPool()), before - 1);  // the screen view went too
        }
        State_Reset();
    });
}

TEST_F(ViewportTest, OnlyTheBackDomeClearsItsImageTheWorldDepthFollowsTheLevelAndLineBatchesDrawOnce)
{
    RunProgram([] {
        MakeViewports(1);
        const std::vector<uint8_t> strip = LwoWriter_Write(enginetest::Model({"S"}, {enginetest::Strip(1)}));
        gametest::WriteData("Strip.lwo", std::string(strip.begin(), strip.end()));
        LwsWriterScene dome;
        dome.items.push_back(gametest::SceneItem("Strip.lwo"));
        dome.items[0].kind = LwsWriterItem::OBJECT;
        gametest::WriteData("Dome.lws", LwsWriter_Write(dome));
        Level_LoadBackDome("Dome.lws", 1);
        ASSERT_NE(Level_GetSession()->backDome.scene, nullptr);
        uint32_t fogged = 0;  // the dome's fog argument holds while its meshes load
        List_ForEach(
            RenderObj_GetPool(),
            [](void* o, void* n) { return *(uint32_t*)n += ((RenderObj*)o)->blendFlags & RENDEROBJ_FOG ? 1 : 0, 0; },
            &fogged);
        EXPECT_EQ(fogged, 1u);
        for (uint32_t zClear : {1u, 0u}) {
            Level_GetSession()->worldZBufferClear = zClear;
            const std::string rec = DrawFrame();  // D3DCLEAR_TARGET 1, D3DCLEAR_ZBUFFER 2
            EXPECT_EQ(capture::CountCalls(rec.c_str(), "Clear(0, 0x3,"), 1) << rec;
            EXPECT_EQ(capture::CountCalls(rec.c_str(), "Clear(0, 0x2,"), zClear ? 2 : 1) << rec;
            EXPECT_EQ(capture::CountCalls(rec.c_str(), "Clear(0, 0x1,"), 0) << rec;
        }

        const Vec3 a{0, 0, 5}, b{1, 1, 5};
        ASSERT_EQ(EntityEffects_AddLine(&a, &b, 0xFFFF0000u, 1), 1);
        ASSERT_EQ(EntityEffects_AddLine(&a, &b, 0xFF00FF00u, 0), 1);
        ASSERT_EQ(EntityEffects_AddLine(&b, &a, 0xFF00FF00u, 0), 1);
        const std::string rec = DrawFrame();
        // The untested batch switches the depth test off (ZFUNC always, 8) and back on afterwards.
        size_t off = rec.find("SetRenderState(23, 0x8)");
        ASSERT_NE(off, std::string::npos) << rec;
        EXPECT_NE(rec.find("SetRenderState(23, 0x4)", off), std::string::npos) << rec;
        EXPECT_EQ(capture::CountCalls(rec.c_str(), "DrawPrimitive(2, 0, 1)"), 1) << rec;  // a line list of 1
        EXPECT_EQ(capture::CountCalls(rec.c_str(), "DrawPrimitive(2, 0, 2)"), 1) << rec;  // and of 2
        EXPECT_EQ(capture::CountCalls(DrawFrame().c_str(), "DrawPrimitive(2,"), 0) << "drawn batches are empty";
        Level_LoadBackDome("", 0);
        EXPECT_EQ(Level_GetSession()->backDome.scene, nullptr);
        Finish();
        State_Reset();
    });
}

}  // namespace
