// The front end's loader, state and what it draws.
#include "frontend/front_end.h"

#include "common/memory.h"
#include "engine/loaderror.h"
#include "engine/physworld.h"
#include "frontend_fixture.h"
#include "game/game_setup.h"
#include "game/memcard_ui.h"
#include "gfx/core/arena.h"
#include "image_file.h"
#include "tests/game/frame_capture.h"

namespace {

TEST_F(FrontEndTest, EveryKeyOfAScreenAndItsItemsLoads)
{
    WriteConfig(
        FRONTEND_CONFIG,
        "Settings {\n DemoWaitTime = 12.5\n StarPos = 30, 40\n StarCountPos = 50, 60\n StarCountJustify = 2\n"
        " StarCountScale = 0.5\n SOUNDS {\n  SoundList {\n   ScreenChange = sc.wav\n   Generic = g.wav\n  }\n }\n}\n"
        "FrontEnd_Main {\n InfoText = LS_INFO\n TitlePos = 10, 20\n TitleText = LS_TITLE\n"
        " TextFile = plain.tdf\n TextFile_PC = pc.tdf\n StaticText = 3\n IndexedText = 4\n"
        " TextColour = 255:0:51\n FadeEntry = TRUE\n NoScene = YES\n Horizontal = ON\n Static = 1\n"
        " Override = TRUE\n userU32Var1 = 7\n userU32Var2 = 9\n"
        " Item0 {\n  Style = Scale|fade | dull|TextSmall|Bogus\n  Pos = 1, 2\n  Text = LS_ITEM\n"
        "  ImagePos = 3, 4\n  BobLo = 5, 6\n  BobHi = 7, 8\n  FadeLo = 0.1\n  FadeHi = 0.2\n  ScaleLo = 0.3\n"
        "  ScaleHi = 0.4\n  DullLo = 0.5\n  DullHi = 0.6\n  Link = FrontEnd_Options\n  Sound = Generic\n"
        "  ReturnValue = 42\n  UserData = level9.cfg\n  SecondaryPos3 = 11, 12\n  SecondarySize3 = 13, 14\n }\n"
        " Item1 {\n  Link = MemCardUIMode_Save\n }\n"
        " Item2 {\n  Link = frontend_options\n  Style = Ignore\n }\n"
        "}\n"
        "Tutorial_Levels {\n TextFile_PC = pc.tdf\n TextFile = plain.tdf\n}\n");
    WriteSound("g.wav");
    WriteConfig("plain.tdf", "Section0 {\n DisplayTime = 1\n}\n");
    WriteConfig("pc.tdf", "Section0 {\n DisplayTime = 1\n}\nSection1 {\n DisplayTime = 1\n}\nSection2 {\n}\n");
    RunFrontEnd([] {
        FrontEnd* fe = (FrontEnd*)Mem_Calloc(sizeof(FrontEnd), 16);
        FrontEnd_Load(fe);
        EXPECT_FLOAT_EQ(fe->demoWaitTime, 12.5f);
        EXPECT_EQ(fe->starCountPosGiven, 1u);
        const FrontEndScreen& main = fe->screens[FRONTEND_MAIN];
        EXPECT_EQ(main.titleText, Text_Id("LS_TITLE"));
        EXPECT_EQ(main.text.sectionCount, 3);                                   // TextFile_PC replaced the plain one
        EXPECT_EQ(fe->screens[FRONTEND_TUTORIAL_LEVELS].text.sectionCount, 3);  // and a later plain one is ignored
        EXPECT_EQ(main.indexedMode, 1u);
        EXPECT_FLOAT_EQ(main.textColour[2], 0.2f);
        EXPECT_EQ(main.fadeEntry + main.noScene + main.horizontal + main.isStatic + main.overrideSelect, 5u);
        EXPECT_EQ(main.userVar2, 9u);
        ASSERT_EQ(main.itemCount, 3);
        const FrontEndItem& item = main.items[0];
        EXPECT_EQ(item.style, FRONTEND_STYLE_SCALE | FRONTEND_STYLE_TEXTSMALL);  // "fade ", " dull", "Bogus": nothing
        const float targets[] = {item.fadeLo, item.fadeHi, item.scaleLo, item.scaleHi, item.dullLo, item.dullHi};
        for (int i = 0; i < 6; i++) EXPECT_FLOAT_EQ(targets[i], 0.1f * (float)(i + 1)) << i;
        EXPECT_FLOAT_EQ(item.scale, 0.3f);  // styled values start at their Lo targets
        EXPECT_FLOAT_EQ(item.fade, 1.0f);   // unstyled ones at 1
        EXPECT_EQ(item.link, FRONTEND_OPTIONS);
        EXPECT_GE(item.sound, 0);
        EXPECT_EQ(item.soundHi, -1);
        EXPECT_STREQ(item.userData, "level9.cfg");
        EXPECT_FLOAT_EQ(item.secondary[3].size[1], 14.0f);
        // A link naming no screen is a save-screen mode; names are exact.
        EXPECT_EQ(std::make_tuple(main.items[1].cardMode, main.items[1].returnValue, main.items[2].link,
                                  main.items[2].cardMode),
                  std::make_tuple((uint32_t)MEMCARD_MODE_SAVE, -1, -1, 0u));
        FrontEnd_Unload(fe);
        Mem_Free(fe);
    });
}

TEST_F(FrontEndTest, WithoutItsFileTheFrontEndHasNoScreensAndEndsTheGame)
{
    RunFrontEnd([] {
        // The front end enters, has nothing to show or to leave by, and leaves as Escape on Main does.
        GameState* root = StartFrontEnd();
        EXPECT_EQ(std::make_tuple(Fe(), State_GetCurrent(), Game_GetContext()->gameStateType),
                  std::make_tuple(nullptr, root, (uint32_t)GAMESTATE_NONE));
    });
}

// What ran before the front end (arena entries, physics time) does not reach
// the next level: the enter empties the arena and makes a fresh world, the
// exit empties the arena again. A test run also touches the other platforms'
// screen animations (missing ones are skipped).
TEST_F(FrontEndTest, EnterAndExitEmptyTheResourceArenaAndTheEnterMakesAFreshPhysicsWorld)
{
    WriteFrontEnd(fedata::Screen("FrontEnd_Title", " ScreenAnim0_SKY = Gone\\Sky\n"));
    RunFrontEnd(
        [] {
            Game_ReadSwitches();
            ASSERT_EQ(Game_GetTestProcess(), 1);
            ResourceArenaEntry* left = nullptr;
            ASSERT_NE(ResourceArena_AllocateEntry(&left, &left, 256, nullptr), nullptr);
            Game_RecreatePhysicsWorld();
            PhysWorld_Update(Game_GetPhysicsWorld(), 0.1f);
            StartFrontEnd();
            ASSERT_NE(Fe(), nullptr);
            EXPECT_NE(strstr(LoadError_Get(), ".atf"), nullptr) << "the SKY animation was looked for";
            EXPECT_EQ(left, nullptr);
            EXPECT_EQ(Game_GetPhysicsWorld()->time, 0.0);
            ASSERT_NE(ResourceArena_AllocateEntry(&left, &left, 256, nullptr), nullptr);
            FrontEnd_GetMemory()->leave = 1;
            Step({});
            EXPECT_EQ(Fe(), nullptr);
            EXPECT_EQ(left, nullptr);
        },
        "-quiet -TestProcess");
}

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
        EXPECT_LE(capture::Distance(capture::Pixel(310, 110), 0x00FF00), 8);
        EXPECT_GT(capture::Distance(capture::Pixel(310, 210), 0x00FF00), 64) << "only the focused item's secondary";
        Fe()->screens[FRONTEND_MAIN].items[0].disabled = 1;
        Step({});
        EXPECT_LE(capture::Distance(capture::Pixel(120, 115), 0x0000FF), 100) << "a disabled item is dimmed and locked";
        Fe()->screens[FRONTEND_MAIN].items[0].disabled = 0;
        Press(kSelect);
        Wait(0.3f);
        EXPECT_GE(FrontEnd_CurrentScreen()->fade, 1.0f);
        EXPECT_LE(capture::Distance(capture::Pixel(600, 20), 0xFFFFFF), 8) << "the fade to a FadeEntry screen: white";
        // Escape on Main ends the game, unless the input is locked.
        Wait(1.0f);
        Press(kBack);
        Wait(1.0f);
        ASSERT_EQ(Current(), FRONTEND_MAIN);
        for (uint32_t locked : {1u, 0u}) {
            Game_GetContext()->inputLocked = locked;
            Press(kEscape);
            EXPECT_EQ(Game_GetContext()->gameStateType == GAMESTATE_NONE, !locked) << locked;
        }
    });
}

// A locked tile (60 x 40 at (300, 100), shrunk to 0.8: x 306..353, y 104..135) has the lock over it exactly.
TEST_F(FrontEndTest, EveryLevelGridCoversEachLockedTileExactlyWithTheLock)
{
    const std::string tile = fedata::Items(
        1, "Style = ScaleIcon\n  ScaleLo = 0.8\n  ScaleHi = 0.8\n  Image = red.bmp\n  ImagePos = 300, 100", 1);
    WriteFrontEnd("Settings {\n LockGraphic = blue.bmp\n}\n" + fedata::Screen("FrontEnd_LevelSelect2", tile) +
                  fedata::Screen("FrontEnd_LevelSelect3", tile) + fedata::Screen("FrontEnd_LevelSelectZ", tile));
    RunFrontEnd([] {
        ASSERT_EQ(WriteBitmap("data/red.bmp", 60, 40, 0xFF0000), 1);
        ASSERT_EQ(WriteBitmap("data/blue.bmp", 8, 8, 0x0000FF), 1);
        Progress_SetLocked(1, 1);
        StartFrontEnd();
        const int points[8][3] = {{307, 105, 1}, {352, 105, 1}, {307, 134, 1}, {352, 134, 1},
                                  {304, 120, 0}, {355, 120, 0}, {330, 102, 0}, {330, 137, 0}};
        for (int32_t grid : {FRONTEND_LEVELSELECT2, FRONTEND_LEVELSELECT3, FRONTEND_LEVELSELECTZ}) {
            Open(grid);
            Step({});
            for (const auto& [x, y, locked] : points)
                EXPECT_EQ(capture::Distance(capture::Pixel(x, y), 0x0000FF) < 100, locked == 1) << grid << ": " << x;
        }
    });
}

}  // namespace
