// The game's set-up and context over the whole engine, inside the program.
#include <gtest/gtest.h>

#include "app/sound.h"
#include "app/soundbank.h"
#include "app/text.h"
#include "app/wad.h"
#include "common/list.h"
#include "engine/font.h"
#include "engine/node.h"
#include "engine/sprite.h"
#include "engine/view.h"
#include "game/control_mode.h"
#include "game/game_setup.h"
#include "game/loading_screen.h"
#include "platform/win32/cursor.h"
#include "program_fixture.h"
#include "tools/lib/wadpack.h"

namespace {

class GameProgramTest : public ProgramTest {};

TEST_F(GameProgramTest, TheFirstResetMakesTheContextAndASecondMakesNothingNew)
{
    RunProgram([] {
        const int32_t cursor = Cursor_GetShowCount();
        Game_ResetContext();
        GameContext* ctx = Game_GetContext();
        ASSERT_NE(ctx->screenView, nullptr);
        EXPECT_STREQ(ctx->frontEndPath, "FrontEnd\\FrontEnd.cfg");
        EXPECT_EQ(ctx->gameStateType, (uint32_t)GAMESTATE_START);
        EXPECT_EQ(ctx->effectsVolume, 0.65f);
        EXPECT_EQ(ctx->musicVolume, 0.35f);
        EXPECT_EQ(ctx->playerKinds[0], (uint32_t)PLAYER_KIND_HUMAN);
        EXPECT_EQ(Cursor_GetShowCount(), cursor - 1);
        // The views pool had its block before the table was applied: it grows,
        // and four players' twelve views fit beside the screen view.
        EXPECT_EQ(View_GetPool()->fixedBlockItems, 0u);
        View* views[12];
        for (View*& v : views) {
            v = View_CreateFractional(0, 0, 0.5f, 0.5f, 0.1f, 100.0f);
            EXPECT_NE(v, nullptr);
        }
        for (View*& v : views) View_DestroyRef(&v);

        ASSERT_NE(ctx->defaultFonts[0], nullptr);
        ASSERT_NE(ctx->blankSprites[1], nullptr);
        ASSERT_NE(ctx->cameraNode, nullptr);
        const uint32_t counts[] = {List_Count(View_GetPool()), List_Count(Font_GetPool()), List_Count(Sprite_GetPool()),
                                   List_Count(Node_GetPool())};
        View* view = ctx->screenView;
        ctx->wideScreen = 1;
        ctx->effectsVolume = 0.25f;
        ctx->gameStateType = GAMESTATE_GLIM;
        Progress_SetFlags(3, PROGRESS_COMPLETED, 1);
        Game_ResetContext();
        EXPECT_EQ(ctx->effectsVolume, 0.25f);  // stored values stay
        EXPECT_EQ(ctx->gameStateType, (uint32_t)GAMESTATE_GLIM);
        EXPECT_EQ(Progress_TestFlags(3, PROGRESS_COMPLETED), 1);
        EXPECT_EQ(Cursor_GetShowCount(), cursor - 1);  // hidden once
        EXPECT_EQ(Sound_GetMasterVolume(), 0.25f);
        const uint32_t after[] = {List_Count(View_GetPool()), List_Count(Font_GetPool()), List_Count(Sprite_GetPool()),
                                  List_Count(Node_GetPool())};
        for (int i = 0; i < 4; i++) EXPECT_EQ(after[i], counts[i]) << i;
        EXPECT_EQ(ctx->screenView, view);
        EXPECT_FLOAT_EQ(view->aspect, 9.0f / 16.0f);  // the defaults are applied again
        EXPECT_FLOAT_EQ(View_GetFov(view), 0.65f);
        Game_ReleaseContext();
        EXPECT_EQ(List_Count(Font_GetPool()), counts[1] - 2);
    });
}

TEST_F(GameProgramTest, SetUpRegistersTheModesMountsTheArchiveAndReadsItsListsTablesAndFonts)
{
    // Everything in the archive, nothing loose: only a mounted archive serves it.
    gametest::WriteConfig("Load.dat",
                          "Images {\n LoadingScreenMain = Main.bmp\n LoadingBarSize = 200, 8\n}\n"
                          "DataSize {\n FrontEndLoadingType_Initial = 4096\n}\nUserData {\n GameMaxPlayers = 3\n}\n");
    gametest::WriteConfig(LOADING_TEXT_FILE, "Section0 {\n DisplayTime = 1\n}\n");
    gametest::WriteData("language/english.txt", "LS_SIZE=Needs <SIZE> KB\n");
    gametest::WriteData("Build.ver", "7\n");
    std::vector<WadPackFile> files;
    std::string error;
    ASSERT_EQ(WadPack_ListFolder("data", &files, &error), 1) << error;
    ASSERT_EQ(WadPack_Write(files, "DATA", "DataPC.wad", &error), 1) << error;
    std::filesystem::remove_all("data");
    std::filesystem::create_directories("data");

    RunProgram([] {
        for (uint32_t m = 0; m < CONTROL_MODES; m++) ControlMode_Register(m, nullptr, 0);
        GameState* root = Game_Setup();
        EXPECT_EQ(State_GetCurrent(), root);
        for (uint32_t m = 0; m < CONTROL_MODES; m++)  // every mode's row is filled
            EXPECT_NE(ControlMode_GetSlots(m)->update, nullptr) << ControlMode_GetName(m);
        EXPECT_EQ(Wad_IsMounted(), 1);
        EXPECT_EQ(Game_GetMaxPlayers(), 3u);
        const LoadingScreen* l = LoadingScreen_Get();
        EXPECT_STREQ(l->images[0], "Main.bmp");
        EXPECT_EQ(l->dataSize[0], 4096u);
        EXPECT_EQ(l->text.sectionCount, 1);
        char text[64];
        EXPECT_STREQ(Text_Get("LS_SIZE", 0, text, sizeof text), "Needs 2 KB");
        for (int i = 0; i < GAME_FONTS; i++) EXPECT_NE(Game_GetFont(i), nullptr) << i;
        EXPECT_EQ(Game_GetFont(4), nullptr);
        EXPECT_EQ(Game_GetKartFont(), Game_GetFont(0));
        EXPECT_EQ(Game_GetContext()->secondaryFont, Game_GetFont(2));
        Game_ReadBuildNumber();
        EXPECT_EQ(Game_GetBuildNumber(), 7u);
        // The skating, rolling, flying and battling rows are filled before any level runs.
        for (uint32_t mode : {MODE_AIRPLANE, MODE_BALL, MODE_FAKETILT, MODE_BATTLEBLADES, MODE_CAMERAMODE, MODE_SKATER,
                              MODE_BROOMSTICK}) {
            EXPECT_NE(ControlMode_GetSlots(mode)->load, nullptr) << ControlMode_GetName(mode);
            EXPECT_GT(ControlMode_GetDataSize(mode), 0u) << ControlMode_GetName(mode);
        }
        Game_Exit(root);
        State_Reset();
        EXPECT_EQ(Game_GetFont(0), nullptr);
        EXPECT_EQ(LoadingScreen_Get()->text.sectionCount, 0);
    });
}

TEST_F(GameProgramTest, EveryLanguageOptionShowsTheEnglishTexts)
{
    // The data has English texts only: whatever language is chosen, they are read.
    gametest::WriteData("language/english.txt", "LS_TITLE=Title\n");
    for (const char* option : {"", "-Language German", "-Language French", "-Language Spanish", "-Language Italian"}) {
        RunProgram(
            [option] {
                GameState* root = Game_Setup();
                char text[32];
                EXPECT_STREQ(Text_Get("LS_TITLE", 0, text, sizeof text), "Title") << option;
                Game_Exit(root);
                State_Reset();
            },
            (std::string("-quiet ") + option).c_str());
    }
}

}  // namespace
