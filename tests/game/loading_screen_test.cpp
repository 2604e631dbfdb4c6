#include "game/loading_screen.h"

#include <gtest/gtest.h>

#include <vector>

#include "game_fixture.h"

namespace {

class LoadingScreenTest : public GameTest {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        saved_ = *LoadingScreen_Get();
        memset(LoadingScreen_Get(), 0, sizeof(LoadingScreen));
    }
    void TearDown() override
    {
        TextFile_Free(&LoadingScreen_Get()->text);
        *LoadingScreen_Get() = saved_;
        GameTest::TearDown();
    }
    LoadingScreen saved_;
};

TEST_F(LoadingScreenTest, TheBarNeverPassesItsWidthAZeroDataSizeDrawsNoneAndTheIndicatorWrapsInsideIt)
{
    LoadingScreen* l = LoadingScreen_Get();
    static int sprite;  // any non-null sprite stands for a loaded bar
    l->bar = (Sprite*)&sprite;
    auto Place = [&](float x, float y, float w, float h) {
        l->barPos[0] = x, l->barPos[1] = y, l->barSize[0] = w, l->barSize[1] = h;
    };
    Place(100, 400, 400, 10);
    l->dataSize[2] = 1000;
    l->type = 2;
    float widths[4];
    for (float& w : widths) w = LoadingScreen_Advance(300.0f).bar[2];
    EXPECT_FLOAT_EQ(widths[0], 120.0f);
    EXPECT_FLOAT_EQ(widths[2], 360.0f);
    EXPECT_FLOAT_EQ(widths[3], 400.0f);
    EXPECT_EQ(LoadingScreen_Advance(1e9f).bar[2], 400.0f);
    EXPECT_EQ(LoadingScreen_Advance(-50.0f).bar[2], 400.0f);
    l->counter = 0;
    l->type = 1;  // DataSize 0
    EXPECT_EQ(LoadingScreen_Advance(300.0f).bar[2], 0.0f);
    l->type = 9;  // no such type: no size
    EXPECT_EQ(LoadingScreen_Advance(300.0f).bar[2], 0.0f);
    l->bar = nullptr;

    // The indicator's pieces wrap inside the bar; a bar too narrow for one has none.
    l->indicator = (Sprite*)&sprite;
    Place(50, 20, 108, 6);
    for (float bytes : {0.0f, 700.0f, 1.0e6f, 3.0e9f}) {
        LoadingLayout layout = LoadingScreen_Advance(bytes);
        ASSERT_EQ(layout.pieceCount, LOADING_PIECES);
        for (const float* p : layout.pieces) {
            EXPECT_TRUE(p[0] >= 50.0f && p[0] < 150.0f) << p[0];
            EXPECT_EQ(std::vector<float>(p + 1, p + 4), std::vector<float>({19, 8, 7}));
        }
    }
    for (float narrow : {8.0f, 8.5f, 0.0f, -20.0f}) {
        l->barSize[0] = narrow;
        EXPECT_EQ(LoadingScreen_Advance(100.0f).pieceCount, 0) << narrow;
    }
    l->indicator = nullptr;
}

}  // namespace

// ---- drawing, inside the program ----

#include "frame_capture.h"
#include "program_fixture.h"
#include "tests/engine/drawing_fixture.h"

namespace {

class LoadingScreenDrawTest : public ProgramTest {
protected:
    static uint32_t& Now()
    {
        static uint32_t now;
        return now;
    }
    // Every read of the clock is 150 ms later, so each report is due.
    static uint32_t Clock() { return Now() += 150; }

    static void WriteImages()
    {
        drawingtest::WriteImage("data/Main.bmp", 8, 8, [](int32_t, int32_t) { return 0xFF00FF00u; });
        drawingtest::WriteImage("data/Bar.bmp", 8, 8, [](int32_t, int32_t) { return 0xFFFF0000u; });
    }
    static void Reset()
    {
        LoadingScreen_Free();
        memset(LoadingScreen_Get(), 0, sizeof(LoadingScreen));
        LoadingScreen_Get()->currentIndex = -1;
    }
};

TEST_F(LoadingScreenDrawTest, ALoadDrawsFramesWithTheBarButNeverInsideAnOpenCameraUpdate)
{
    gametest::WriteConfig("Load.dat",
                          "Images {\n LoadingScreenMain = Main.bmp\n LoadingBar = Bar.bmp\n LoadingBarPos = 100, 400\n"
                          " LoadingBarSize = 400, 20\n LoadingScreenBoss1 = Gone.bmp\n}\nDataSize {\n FrontEndLoadingType_1 = 1000\n}\n");
    RunProgram([] {
        WriteImages();
        Reset();
        LoadingScreen_LoadData("Load.dat");
        LoadingScreen_LoadSprites();
        LoadingScreen_SetImage(0, 1);
        File_SetClock(Clock);
        LoadingScreen_Begin(2);
        LoadingScreen* l = LoadingScreen_Get();
        LoadProgress_AddBytes(0);  // the first report carries the bytes read before
        l->counter = 0.0f;
        l->drawn = 0;
        LoadProgress_AddBytes(250);
        EXPECT_EQ(std::make_pair(l->drawn, l->counter), std::make_pair(1u, 250.0f));
        // A quarter of the bar in the bar's colour, the rest the loading image.
        EXPECT_LE(capture::Distance(capture::Pixel(150, 410), 0xFF0000), 8);
        EXPECT_LE(capture::Distance(capture::Pixel(300, 410), 0x00FF00), 8);
        for (int i = 0; i < 10; i++) LoadProgress_AddBytes(400);
        EXPECT_FLOAT_EQ(l->counter, 1000.0f);  // never past the type's size
        EXPECT_LE(capture::Distance(capture::Pixel(490, 410), 0xFF0000), 8);
        EXPECT_LE(capture::Distance(capture::Pixel(510, 410), 0x00FF00), 8);

        const uint32_t drawn = l->drawn;
        View_SetMainUpdating(1);  // a load inside a state's load callback
        LoadProgress_AddBytes(100);
        View_SetMainUpdating(0);
        EXPECT_EQ(l->drawn, drawn);

        l->type = 4;  // no data size: no bar, no division
        LoadProgress_AddBytes(100);
        EXPECT_EQ(l->drawn, drawn + 1);
        LoadingScreen_End();
        LoadProgress_AddBytes(100);
        EXPECT_EQ(l->drawn, drawn + 1);
        // A missing image falls back to the main one, and without that to black; fades draw over white.
        LoadingScreen_SetImage(-1, 1);
        LoadingScreen_SetImage(5, 1);  // no name: none
        LoadingScreen_SetImage(17, 1);
        EXPECT_EQ(l->currentIndex, 0);
        snprintf(l->images[0], sizeof l->images[0], "Gone.bmp");
        LoadingScreen_SetImage(17, 1);
        EXPECT_NE(l->current, nullptr);
        EXPECT_EQ(LoadingScreen_DrawFade(1, 0.3f, 1) + LoadingScreen_DrawFade(0, 0.0f, 0), 2);
        File_SetClock(nullptr);
        Reset();
        State_Reset();
    });
}

}  // namespace
