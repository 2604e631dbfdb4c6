// The start menu and the options state.
#include "frontend/start_menu.h"

#include <string>
#include <tuple>

#include "app/text.h"
#include "frontend_fixture.h"
#include "game/game_setup.h"
#include "game/race_setup.h"

namespace {

// Pushes the state the hook makes for `type` over a root of the test and
// runs the frames of its push and enter.
GameState* Push(GameStateCreator create)
{
    static GameStateCreator creator;
    creator = create;
    GameState* root = State_Create();
    State_SetUpdate(root, [](GameState* self, float) -> GameState* {
        if (self->userData) return self;
        self->userData = 1;
        return creator();
    });
    Step({});
    Step({});
    return root;
}

TEST_F(FrontEndTest, HeldDirectionsRepeatAfterHalfASecondAndScrollPastTheRows)
{
    StartMenuList list = {};
    list.count = 40;
    // Down held: one row at once, the next after 0.5 s, then one per 0.025 s.
    std::vector<int> moves;
    int last = 0;
    for (int frame = 1; frame <= 80; frame++) {
        StartMenu_MoveCursor(&list, 0, 1, 0.025f, STARTMENU_ROWS);
        int position = list.scroll + list.cursor;
        if (position != last) moves.push_back(frame);
        last = position;
    }
    ASSERT_GE(moves.size(), 3u);
    EXPECT_EQ(moves[0], 1);
    EXPECT_NEAR(moves[1], 21, 1);  // 0.5 s later
    for (size_t i = 2; i < moves.size(); i++) EXPECT_EQ(moves[i] - moves[i - 1], 1);
    // The cursor stops at row 26; the rows scroll on to the last entry.
    EXPECT_EQ(std::tuple(list.cursor, list.scroll), std::tuple(STARTMENU_ROWS - 1, 40 - STARTMENU_ROWS));
    StartMenu_MoveCursor(&list, 0, 0, 0.025f, STARTMENU_ROWS);
    EXPECT_EQ(list.holds, 0u);
    for (int frame = 0; frame < 100; frame++) StartMenu_MoveCursor(&list, 1, 0, 0.025f, STARTMENU_ROWS);
    EXPECT_EQ(std::tuple(list.cursor, list.scroll), std::tuple(0, 0));
}

TEST_F(FrontEndTest, MenuEntriesReadTheirTypeAndLevelAndStopAt255)
{
    std::string many = "Many {\n";
    for (int i = 0; i < 300; i++) many += " Entry" + std::to_string(i) + " = GameState_Type_Glim,1\n";
    WriteConfig("Menu.cfg",
                "Menu {\n Level three = GameState_Type_Glim,3\n Front = *GameState_Type_FrontEnd\n"
                " Nothing = Bogus,4\n Quit = GameState_Type_Quit\n Glim five = GameState_Type_Glimmer,5\n}\n" +
                    many + "}\n");
    RunFrontEnd([] {
        static const char* const names[] = {
            "GameState_Type_Quit", "", "GameState_Type_Options", "", "", "GameState_Type_FrontEnd",
            "GameState_Type_Glim", ""};
        StartMenuList list = {};
        ASSERT_EQ(StartMenu_ReadSection("Menu.cfg", "Menu", names, 8, &list), 1);
        std::string entries;  // label:type,level,star of each entry; a prefix names the type
        for (int i = 0; i < list.count; i++)
            entries += std::string(list.entries[i].label) + ":" + std::to_string(list.entries[i].type) + "," +
                       std::to_string(list.entries[i].level) + "," + std::to_string(list.entries[i].star) + " ";
        EXPECT_EQ(entries, "Level three:6,3,0 Front:5,0,1 Nothing:0,0,0 Quit:0,0,0 Glim five:6,5,0 ");
        EXPECT_TRUE(StartMenu_ReadSection("Menu.cfg", "Many", names, 8, &list) && list.count == STARTMENU_MAX_ENTRIES);
        StartMenu_FreeList(&list);
        EXPECT_TRUE(StartMenu_ReadSection("Missing.cfg", "Menu", names, 8, &list) == 0 && list.count == 0);
    });
}

TEST_F(FrontEndTest, SelectingAnEntryStartsItsTypeWithItsLevel)
{
    WriteConfig("Menu.cfg", "Menu {\n Nothing = Bogus\n Level three = GameState_Type_Glim,3\n}\n");
    RunFrontEnd([] {
        Push(StartMenu_CreateState);
        GameContext* ctx = Game_GetContext();
        ASSERT_EQ(StartMenu_Get()->loaded, 1u);
        EXPECT_EQ(ctx->gameStateType, (uint32_t)GAMESTATE_GLIM);
        Press(kSelect);  // an entry that names no type does nothing
        EXPECT_EQ(State_GetCurrent()->update, StartMenu_Update);
        Press(kDown);
        Step({kSelect});
        EXPECT_STREQ(GameSetup_GetLevel(0), "level3.cfg");
        EXPECT_STREQ(GameSetup_GetLevel(1), "NONE");
        EXPECT_EQ(Game_GetStartLevelVariant(), 3);
    });
}

TEST_F(FrontEndTest, WithoutMenuCfgTheStartMenuHandsOverToTheFrontEnd)
{
    RunFrontEnd([] {
        Push(StartMenu_CreateState);
        Step({});
        EXPECT_NE(State_GetCurrent()->update, StartMenu_Update);
        EXPECT_EQ(Game_GetRequestedState(), (uint32_t)GAME_REQUEST_FRONTEND);
        EXPECT_EQ(Game_GetContext()->gameStateType, (uint32_t)GAMESTATE_NONE);  // its exit
    });
}

TEST_F(FrontEndTest, TheStartUpSwitchesReachTheStartMenu)
{
    WriteConfig("Menu.cfg", "Menu {\n Front = GameState_Type_FrontEnd\n}\n");
    WriteConfig(FRONTEND_CONFIG, "Settings {\n}\n");
    WriteData("language/english.txt", "LS_TITLE=Title\n");  // the data's only language
    RunProgram(
        [] {
            ProgramHooks_InstallStateHooks();
            Game_Setup();
            char text[TEXT_BUFFER_SIZE];
            EXPECT_STREQ(Text_Get("LS_TITLE", 0, text), "Title");  // whatever language is chosen
            for (int i = 0; i < 4 && State_GetCurrent()->update != StartMenu_Update; i++) Step({});
            EXPECT_EQ(State_GetCurrent()->update, StartMenu_Update);
            // Its entry hands over to the front end.
            Step({kSelect});
            Step({});
            Step({});
            EXPECT_EQ(State_GetCurrent()->update, FrontEnd_Update);
            if (FrontEnd* fe = FrontEnd_Get()) FrontEnd_Exit(fe->state);
            State_Reset();
            Game_ReleaseContext();
        },
        "-quiet -Language French -leveltype Start -levelnumber 0");
}

TEST_F(FrontEndTest, OptionsCyclePlayersKindsAndTheAspect)
{
    WriteConfig("Menu.cfg",
                "Options {\n Char = Options_Player2_Cycle\n Kind = *Options_Player3_Computer\n"
                " Aspect = Options_Aspect\n Back = Options_Back\n}\n");
    RunFrontEnd([] {
        GameContext* ctx = Game_GetContext();
        ctx->characterCount = 8;
        ctx->characters[1] = 7;
        ctx->playerKinds[2] = PLAYER_KIND_COMPUTER;
        ctx->playerKinds[3] = PLAYER_KIND_NONE;
        Push(Options_CreateState);
        ASSERT_EQ(StartMenu_Get()->options.count, 4);
        EXPECT_EQ(StartMenu_Get()->options.entries[1].star, 1);
        Press(kSelect);
        EXPECT_EQ(ctx->characters[1], 0);  // past the last character: the first
        Press(kDown);
        Press(kSelect);
        EXPECT_EQ(ctx->playerKinds[2], (uint32_t)PLAYER_KIND_NONE);  // 2 cycles to 0
        Press(kSelect);
        EXPECT_EQ(ctx->playerKinds[2], (uint32_t)PLAYER_KIND_HUMAN);
        Press(kDown);
        const uint32_t wide = ctx->wideScreen;
        Press(kSelect);
        EXPECT_NE(ctx->wideScreen, wide);
        Press(kDown);
        Step({kSelect});
        Step({});
        EXPECT_NE(State_GetCurrent()->update, Options_Update);
        EXPECT_EQ(ctx->playerCount, 2u);  // players 1 and 3 have a kind
    });
}

}  // namespace
