// What the front end draws: item images, the focused item's secondary
// images, locks over disabled items, and the white fade overlay.
#include <gtest/gtest.h>

#include "frontend_fixture.h"
#include "image_file.h"
#include "tests/game/frame_capture.h"

namespace {

using namespace fetest;

TEST_F(FrontEndTest, ItemsDrawTheirImagesAndTheFadeCoversTheScreen)
{
    WriteFrontEnd(fedata::Screen("FrontEnd_Main",
                                 " Item0 {\n  Image = red.bmp\n  ImagePos = 100, 100\n"
                                 "  SecondaryImage0 = green.bmp\n  SecondaryPos0 = 300, 100\n"
                                 "  Link = FrontEnd_Options\n }\n"
                                 " Item1 {\n  Image = red.bmp\n  ImagePos = 100, 200\n"
                                 "  SecondaryImage0 = green.bmp\n  SecondaryPos0 = 300, 200\n }\n") +
                  fedata::Screen("FrontEnd_Options", " FadeEntry = TRUE\n" + fedata::Items(4, "Pos = 1, 1")) +
                  "Settings {\n LockGraphic = blue.bmp\n}\n");
    RunFrontEnd([] {
        ASSERT_EQ(WriteBitmap("data/red.bmp", 40, 30, 0xFF0000), 1);
        ASSERT_EQ(WriteBitmap("data/green.bmp", 20, 20, 0x00FF00), 1);
        ASSERT_EQ(WriteBitmap("data/blue.bmp", 8, 8, 0x0000FF), 1);
        FrontEnd_GetMemory()->visited = 1;
        StartFrontEnd();
        ASSERT_EQ(Current(), FRONTEND_MAIN);
        Step({});
        EXPECT_LE(capture::Distance(capture::Pixel(120, 115), 0xFF0000), 8);
        EXPECT_LE(capture::Distance(capture::Pixel(120, 215), 0xFF0000), 8);
        // Only the focused item shows its secondary images.
        EXPECT_LE(capture::Distance(capture::Pixel(310, 110), 0x00FF00), 8);
        EXPECT_GT(capture::Distance(capture::Pixel(310, 210), 0x00FF00), 64);
        // A disabled item is dimmed and locked.
        Fe()->screens[FRONTEND_MAIN].items[1].disabled = 1;
        Step({});
        EXPECT_LE(capture::Distance(capture::Pixel(120, 215), 0x0000FF), 100);
        // The fade towards a FadeEntry screen turns the screen white.
        Press(kSelect);
        Wait(0.3f);
        EXPECT_EQ(Current(), FRONTEND_MAIN);
        EXPECT_GE(FrontEnd_CurrentScreen()->fade, 1.0f);
        EXPECT_LE(capture::Distance(capture::Pixel(600, 20), 0xFFFFFF), 8);
        EXPECT_LE(capture::Distance(capture::Pixel(120, 115), 0xFFFFFF), 8);
    });
}

}  // namespace
