// The screens that lead to a level: locks, the level grids, the track and
// cup roads, the character screens, the tutorial road, CompletedGame and
// Launch.
#include "frontend/select_screens.h"

#include <cstring>
#include <set>
#include <tuple>
#include <vector>

#include "engine/materialanim.h"
#include "engine/node.h"
#include "frontend_fixture.h"
#include "game/loading_screen.h"
#include "game/race_setup.h"
#include "gfx/world/material.h"

namespace {

void Select() { Press(kSelect); }

// Presses select and waits for Launch to leave the front end.
void Launch()
{
    Select();
    Wait(2.0f);
}

std::string Levels()
{
    std::string out;
    for (int i = 0; i < 6; i++) out += std::string(GameSetup_GetLevel(i)) + ";";
    return out;
}

TEST_F(FrontEndTest, TheLockTestTakesTheProgressTableOnlyForEntriesBelow150)
{
    PlayFrontEnd(fedata::Screen("FrontEnd_Options",
                                " Item0 {\n  ReturnValue = 149\n }\n Item1 {\n  ReturnValue = 150\n }\n"
                                " Item2 {\n  ReturnValue = -1\n }\n Item3 {\n  ReturnValue = 0\n }\n"),
                 [] {
                     Open(FRONTEND_OPTIONS);
                     Progress_SetLocked(149, 1);
                     Progress_SetLocked(0, 1);
                     const int expected[] = {1, 0, 0, 1, 1};  // the fifth is past the items
                     for (int i = 0; i < 5; i++) EXPECT_EQ(FrontEnd_IsItemLocked(i), expected[i]) << i;
                     EXPECT_EQ(FrontEnd_IsItemLocked(-1), 1);
                     Progress_SetLocked(149, 0);
                     EXPECT_EQ(FrontEnd_IsItemLocked(0), 0);
                 });
}

TEST_F(FrontEndTest, LevelSelectChoosesDayOrNightThenTheDirectionInTwoStagesAndLaunchRequestsTheLevel)
{
    PlayFrontEnd([] {
        Open(FRONTEND_LEVELSELECT);
        for (int i = 0; i < 2; i++) Press(kDown);
        const FrontEndLevelSelect& ls = Fe()->levelSelect;
        Select();  // the first stage
        EXPECT_EQ(ls.stage1, 1u);
        Press(kRight);
        EXPECT_EQ(ls.day, 0u);
        Press(kDown);  // leaving both stages moves on
        EXPECT_EQ(ls.stage1 + ls.stage2, 0u);
        EXPECT_EQ(Focus(), 3);
        Press(kUp);
        Select();
        Select();  // the second stage
        EXPECT_EQ(ls.stage2, 1u);
        Press(kRight);
        EXPECT_EQ(ls.forwards, 0u);
        EXPECT_EQ(Current(), FRONTEND_LEVELSELECT);
        // Launch shows the loading image, then requests the level.
        Select();
        LoadingScreen_Get()->currentIndex = -1;
        float t = 0;
        for (; Fe() && !Fe()->launchImageShown; t += kDt) Step({});
        EXPECT_NEAR(t, 0.7f, 2 * kDt);
        for (; Fe(); t += kDt) Step({});
        EXPECT_NEAR(t, 1.7f, 2 * kDt);
        EXPECT_EQ(Game_GetRequestedState(), (uint32_t)GAME_REQUEST_LEVEL);
        const std::string track = Game_GetTrackName();
        EXPECT_TRUE(track == "Track1" || track == "Track2" || track == "Track3") << track;
        EXPECT_EQ(Levels(), "LandScape\\Track03\\T03_Night_Backwards.cfg;NONE;;;;;");
        EnterAgain();  // after the level, back where the road to it ended, entered afresh
        EXPECT_EQ(Current(), FRONTEND_LEVELSELECT);
        EXPECT_EQ(Fe()->levelSelect.day + Fe()->levelSelect.forwards, 2u);
    });
}

TEST_F(FrontEndTest, LevelGridsQueueTheLevelsFromTheFocusedItem)
{
    // LevelSelect2's sixth item has ReturnValue 0: its index + 1 is used.
    std::string grid2;
    for (int i = 0; i < 12; i++)
        grid2 += " Item" + std::to_string(i) +
                 " {\n  Link = FrontEnd_Launch\n  ReturnValue = " + std::to_string(i == 5 ? 0 : i + 1) + "\n }\n";
    WriteFrontEnd(fedata::Screen("FrontEnd_LevelSelect2", grid2));
    RunFrontEnd([] {
        // The grid, the keys from its first item, the levels queued.
        const std::tuple<int32_t, std::vector<uint8_t>, const char*> cases[] = {
            // A row's middle item: to the row's end.
            {FRONTEND_LEVELSELECT2, {kDown, kRight}, "level5.cfg;level6.cfg;NONE;"},
            // To the last item.
            {FRONTEND_LEVELSELECT3, {kDown, kRight, kRight, kRight}, "level29.cfg;level30.cfg;NONE;"},
            {FRONTEND_LEVELSELECTZ, {kDown, kDown, kDown, kRight}, "level11.cfg;level12.cfg;NONE;"},
            // Up on the first row wraps to the last, down on the last to the first.
            {FRONTEND_LEVELSELECT2, {kUp}, "level10.cfg;level11.cfg;level12.cfg;NONE;"},
            {FRONTEND_LEVELSELECT3, {kUp, kRight}, "level27.cfg;level28.cfg;level29.cfg;level30.cfg;NONE;"},
            {FRONTEND_LEVELSELECTZ, {kUp, kDown, kUp, kRight}, "level11.cfg;level12.cfg;NONE;"},
        };
        StartFrontEnd();
        for (const auto& [screen, keys, levels] : cases) {
            Open(screen);
            for (uint8_t key : keys) Press(key);
            GameSetup_Reset();
            Launch();
            ASSERT_EQ(Fe(), nullptr);
            EXPECT_EQ(Levels().substr(0, strlen(levels)), levels) << screen;
            EXPECT_EQ(GameSetup_GetPlayerDifficulty(3), Game_GetDifficulty());
            EnterAgain();
        }
    });
}

TEST_F(FrontEndTest, GridSearchesEndAndALockedFocusLaunchesNothing)
{
    WriteFrontEnd();
    RunFrontEnd([] {
        for (int e = 1; e <= 12; e++) Progress_SetLocked(e, e != 2 && e != 3);  // only row 0's items 1 and 2
        StartFrontEnd();
        Open(FRONTEND_LEVELSELECT2);
        EXPECT_EQ(Focus(), 0);  // the first item, locked as it is
        ClearSounds();
        Select();
        EXPECT_TRUE(Heard("Invalid"));
        Step({});
        EXPECT_EQ(Current(), FRONTEND_LEVELSELECT2);
        Press(kDown);  // no other row has an unlocked item: the search ends
        EXPECT_EQ(Focus(), 0);
        Press(kRight);
        EXPECT_EQ(Focus(), 1);
        Press(kRight);
        Press(kRight);  // from the last column to the nearest unlocked from the row's start
        EXPECT_EQ(Focus(), 1);
        Press(kLeft);  // the first item is locked
        EXPECT_EQ(Focus(), 1);
        // LevelSelectZ with no columns moves nothing.
        Open(FRONTEND_LEVELSELECTZ);
        FrontEnd_CurrentScreen()->userVar1 = 0;
        Press(kRight);
        Press(kDown);
        EXPECT_EQ(Focus(), 0);
    });
}

TEST_F(FrontEndTest, TheCupRoadWritesTheClassAndTheCupsFourTracks)
{
    PlayFrontEnd([] {
        Game_SetDifficulty(1);
        // Backing out of Engine keeps the class.
        GameSetup_SetEngineClass(1);
        Open(FRONTEND_ENGINE);
        Press(kBack);
        EXPECT_EQ(Current(), FRONTEND_MAIN);
        EXPECT_EQ(GameSetup_GetEngineClass(), 1u);
        Select();  // Main: PlayGame
        FrontEnd_SetFocus(FRONTEND_PLAYGAME, 2);
        Select();  // PlayGame: Cup, PlayerSelect
        ASSERT_EQ(Current(), FRONTEND_PLAYERSELECT);
        Select();  // player 0 confirms
        Select();  // and the item leads on to Engine
        ASSERT_EQ(Current(), FRONTEND_ENGINE);
        for (int i = 0; i < 2; i++) Press(kDown);
        Select();
        ASSERT_EQ(Current(), FRONTEND_CUPSELECT);
        EXPECT_EQ(GameSetup_GetEngineClass(), 2u);
        for (int i = 0; i < 3; i++) Press(kDown);
        Launch();
        EXPECT_EQ(Levels(),
                  "LandScape\\Track05\\T05_Night_Backwards.cfg;LandScape\\Track03\\T03_Night_Forwards.cfg;"
                  "LandScape\\Track01\\T01_Day_Forwards.cfg;LandScape\\Track04\\T04_Night_Backwards.cfg;"
                  "NONE;NONE;");
        EXPECT_EQ(GameSetup_GetPlayerDifficulty(0), 1u);
        EXPECT_EQ(Game_GetContext()->playerKinds[0], (uint32_t)PLAYER_KIND_HUMAN);
        EnterAgain();  // after the cup, back on CupSelect
        EXPECT_EQ(Current(), FRONTEND_CUPSELECT);
        for (int i = 0; i < 2; i++) Press(kBack);  // to the characters, in the mode of the road taken
        EXPECT_EQ(std::make_pair(Current(), Focus()), std::make_pair((int32_t)FRONTEND_PLAYERSELECT, 2));
    });
}

// The items link onward as the shipped ones do: a select that joins, is
// refused or confirms does only that; the link is followed only once every
// joined player stands confirmed on an unlocked character.
TEST_F(FrontEndTest, CharacterScreensJoinPickDistinctCharactersAndLeaveOnlyWhenAllAreConfirmed)
{
    WriteFrontEnd();
    RunFrontEnd([] {
        Game_SetDifficulty(2);
        Character_SetLocked(3, 1);
        Character_SetLocked(5, 1);
        Character_SetStarsNeeded(5, 300);
        Progress_SetPlayerValue(0, 9, 300);
        StartFrontEnd();
        Open(FRONTEND_PLAYERSELECT);
        EXPECT_EQ(Character_IsLocked(5), 0) << "the stars reached open it";
        const FrontEndCharacterSelect& c = Fe()->characters;
        ASSERT_EQ(c.count, 1);  // the last input player joined at once
        EXPECT_EQ(c.character[0], 0);
        // Each step: the key pressed; then players 0 and 1 confirmed, the sound heard (or null).
        const std::tuple<uint8_t, uint32_t, uint32_t, const char*> steps[] = {
            {kSelect1, 0, 0, nullptr},    // player 1 joins with select on the first free character
            {kRight, 0, 0, "MoveFocus"},  // player 0 skips player 1's character: 2
            {kLeft1, 0, 0, "MoveFocus"},  // player 1 takes the one player 0 left: 0
            {kRight, 0, 0, "MoveFocus"},  // 3, locked
            {kSelect, 0, 0, "Invalid"},   // refused
            {kRight, 0, 0, "MoveFocus"},  // 4
            {kSelect, 1, 0, "Announcer_Char#4"},
            {kRight, 1, 0, nullptr},   // a confirmed player no longer moves
            {kSelect, 1, 0, nullptr},  // player 1 has not confirmed yet
            {kSelect1, 1, 1, "Announcer_Char"},
        };
        for (const auto& [key, confirmed0, confirmed1, sound] : steps) {
            ClearSounds();
            Press(key);
            ASSERT_EQ(Current(), FRONTEND_PLAYERSELECT) << (int)key;
            EXPECT_EQ(std::make_pair(c.confirmed[0], c.confirmed[1]), std::make_pair(confirmed0, confirmed1))
                << (int)key;
            EXPECT_TRUE(!sound || Heard(sound)) << sound;
        }
        EXPECT_EQ(std::make_tuple(c.count, c.character[0], c.character[1]), std::make_tuple(2, 4, 0));
        Select();  // everyone confirmed: on to the item's link
        ASSERT_EQ(Current(), FRONTEND_ENGINE);
        const GameContext* ctx = Game_GetContext();
        EXPECT_EQ(ctx->characters[0], 4);
        EXPECT_EQ(ctx->characters[1], 0);
        std::set<int> distinct(ctx->characters, ctx->characters + GAME_PLAYER_SLOTS);
        EXPECT_EQ(distinct.size(), (size_t)GAME_PLAYER_SLOTS);
        EXPECT_EQ(ctx->playerCount, 2u);
        EXPECT_EQ(GameSetup_Get()->playerFlags[0], 0u);
        EXPECT_EQ(GameSetup_Get()->playerFlags[5], 1u);
        EXPECT_EQ(GameSetup_GetPlayerDifficulty(7), 2u);
    });
}

// Free places say JOIN unless nobody may join (Single Track), on each entry for the mode chosen then; a joined
// player's card shows its character until it confirms (player 1 only joins).
TEST_F(FrontEndTest, CharacterCardsShowTheirCharactersAndFreePlacesFollowThePlayMode)
{
    PlayFrontEnd([] {
        Material* material = Material_Create();
        TexSeq* cards[4];  // ten pictures each: the characters, JOIN, a place nobody can take
        for (int q = 0; q < 4; q++) {
            TexSeq_Load(cards[q] = TexSeq_Create(material),
                        ("FrontEnd\\Quillomere\\Scenes\\01.bmp_0" + std::to_string(q)).c_str());
            for (int f = 0; f < 10; f++) TexSeq_AddFrame(cards[q], nullptr);
        }
        for (int i = 0; i < 2; i++) Select();  // Title, Main: PlayGame
        for (int mode : {0, 1, 0}) {           // Levels, Single Track, Levels
            FrontEnd_SetFocus(FRONTEND_PLAYGAME, mode);
            Select();
            Press(kSelect1);  // player 1 joins where it may
            Select();         // player 0 confirms
            EXPECT_EQ(std::make_tuple(cards[0]->current, cards[1]->current, cards[2]->current, cards[3]->current),
                      std::make_tuple(9u, mode ? 9u : 1u, mode ? 9u : 8u, mode ? 9u : 8u));
            Press(kBack);
        }
        for (TexSeq* seq : cards) TexSeq_Destroy(seq);
        Material_Destroy(material);
    });
}

TEST_F(FrontEndTest, EveryRoadToALevelHasAHumanAndTheDifficulty)
{
    WriteFrontEnd(fedata::Screen("FrontEnd_PlayGame", fedata::Items(3, "Link = FrontEnd_PlayerSelect2", 0)));
    RunFrontEnd([] {
        Game_SetDifficulty(2);
        StartFrontEnd();
        // The tutorial: Main makes everyone a computer player; its exit makes
        // the last input player human again.
        Select();
        for (int i = 0; i < 4; i++) Press(kDown);
        Select();
        ASSERT_EQ(Current(), FRONTEND_TUTORIAL_LEVELS);
        EXPECT_EQ(Game_GetContext()->playerKinds[0], (uint32_t)PLAYER_KIND_COMPUTER);
        Launch();
        const GameContext* ctx = Game_GetContext();
        EXPECT_EQ(std::make_tuple(Levels().substr(0, 16), ctx->playerKinds[0], ctx->playerCount),
                  std::make_tuple("level1.cfg;NONE;", (uint32_t)PLAYER_KIND_HUMAN, 1u));
        EXPECT_EQ(GameSetup_GetMode(), 5u);
        for (int p = 0; p < GAMESETUP_PLAYERS; p++) EXPECT_EQ(GameSetup_GetPlayerDifficulty(p), 2u) << p;

        // Two players through PlayerSelect2 reach LevelSelect2's exit as they were.
        EnterAgain();
        Press(kBack);  // back to Main from the restored Tutorial_Levels
        ASSERT_EQ(Current(), FRONTEND_MAIN);
        for (int i = 0; i < 4; i++) Press(kUp);
        Select();
        Select();
        ASSERT_EQ(Current(), FRONTEND_PLAYERSELECT2);
        Press(kRight1);  // player 1 joins
        Select();
        Press(kSelect1);  // both confirmed
        Select();
        ASSERT_EQ(Current(), FRONTEND_LEVELSELECT2);
        Launch();
        EXPECT_EQ(std::make_tuple(ctx->playerKinds[0], ctx->playerKinds[1], ctx->playerCount, Levels().substr(0, 33)),
                  std::make_tuple((uint32_t)PLAYER_KIND_HUMAN, (uint32_t)PLAYER_KIND_HUMAN, 2u,
                                  "level1.cfg;level2.cfg;level3.cfg;"));
    });
}

TEST_F(FrontEndTest, ACompletedGameShowsItsScreenThenCredits)
{
    WriteFrontEnd(fedata::Screen("FrontEnd_CompletedGame", " Item0 {\n  Link = FrontEnd_Main\n }\n"));
    RunFrontEnd([] {
        for (int e = 1; e <= 12; e++) Progress_SetFlags(e, PROGRESS_COMPLETED, 1);
        StartFrontEnd();
        EXPECT_EQ(Current(), FRONTEND_COMPLETEDGAME);
        EXPECT_EQ(FrontEnd_GetMemory()->completedCount, 12u);
        Select();
        EXPECT_EQ(Current(), FRONTEND_CREDITS);
        Press(kBack);
        EXPECT_EQ(Current(), FRONTEND_MAIN);
        // The next entry with the same count goes to Main as usual.
        FrontEnd_Exit(Fe()->state);
        State_Reset();
        ASSERT_EQ(State_Init(), 1);
        g_rootPushes = 0;
        StartFrontEnd();
        EXPECT_EQ(Current(), FRONTEND_MAIN);
    });
}

// The screens name their scenes' items ("P1_NULL", "Move"); a scene names
// an item's first node "<item>_00". A node named exactly wins.
TEST_F(FrontEndTest, ScreensFindSceneNodesByTheirItemNames)
{
    RunFrontEnd([] {
        auto named = [](Node* parent, const char* name) {
            Node* node = Node_Create(parent);
            if (name) Node_SetName(node, name);
            return node;
        };
        Node* root = named(nullptr, nullptr);
        Node* numbered = named(root, "P1_NULL_00");
        named(root, "P1_NULL_01");
        Node* exact = named(numbered, "Move");
        named(root, "Move_00");
        EXPECT_EQ(std::make_tuple(FrontEnd_FindNode(root, "P1_NULL"), FrontEnd_FindNode(root, "Move"),
                                  FrontEnd_FindNode(root, "CHAR_NULL01"), FrontEnd_FindNode(nullptr, "P1_NULL")),
                  std::make_tuple(numbered, exact, nullptr, nullptr));
        Node_Destroy(root);
    });
}

}  // namespace
