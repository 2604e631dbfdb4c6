// The handlers of the screens that lead to a level: the menus, the engine
// class, the cups, the level choices, the character screens, the tutorial
// levels, the completed-game screen and Launch, which leaves the front end
// for the level state. They fill the race set-up record (game/race_setup.h)
// and the context's players.
//
// Every road towards Launch ends with a human player and the game's
// difficulty: the exits of Tutorial_Levels, LevelSelect, LevelSelect2 and
// LevelSelect3 make the last input player human when no player of 0..7 is
// (after the character screens their players stand), and every exit towards
// Launch writes the difficulty into the eight difficulty words.
//
// Engine and CupSelect offer every class and cup: no progress entry stands
// for them. The cup road is PlayGame -> PlayerSelect -> Engine -> CupSelect
// -> Launch, since the character screens' exit resets the race set-up.
//
// The level grids (LevelSelect2: 4 rows of 3, LevelSelect3: 2 rows of 5,
// LevelSelectZ: userU32Var1 columns x userU32Var2 rows) skip locked items;
// their searches stop after one full cycle, and select on a locked focused
// item plays "Invalid" and launches nothing.
//
// On the character screens one select does one thing: it joins a player,
// or is refused on a locked character ("Invalid"), or confirms one; the
// screen follows its item's link only on a select made once every joined
// player stands confirmed on an unlocked character.
//
// Main thread only.
#pragma once

#include <cstdint>

// The level path of a cup track: cup 0..4, track 0..3, into out (size
// bytes): "LandScape\TrackNN\TNN_<Day|Night>_<Forwards|Backwards>.cfg".
// 0 for a cup or track out of range (out empty).
int FrontEnd_CupTrackPath(int cup, int track, char* out, unsigned size);
// 1 when the cup's track runs backwards.
int FrontEnd_CupTrackBackwards(int cup, int track);
// The level path of track n (1..5) with the two toggles.
void FrontEnd_TrackPath(int track, int day, int forwards, char* out, unsigned size);

// Puts the background scene's position nodes back under their parents and
// frees the character screens' sprite: the exit of the front end while a
// character screen is shown.
void FrontEnd_ReleaseCharacterScreen(void);

void FrontEnd_MenuEnter(int);
void FrontEnd_MenuExit(int);
void FrontEnd_MenuUpdate(float* dt);
void FrontEnd_EngineEnter(int);
void FrontEnd_EngineExit(int);
void FrontEnd_EngineUpdate(float* dt);
void FrontEnd_CupSelectEnter(int);
void FrontEnd_CupSelectExit(int);
void FrontEnd_CupSelectUpdate(float* dt);
void FrontEnd_CupSelectRenderFront(float* time);
void FrontEnd_LevelSelectEnter(int);
void FrontEnd_LevelSelectExit(int);
void FrontEnd_LevelSelectUpdate(float* dt);
void FrontEnd_LevelSelectRenderBack(float* time);
void FrontEnd_LevelSelectRenderFront(float* time);
void FrontEnd_LevelSubSelectEnter(int);
void FrontEnd_LevelSelect2Exit(int);
void FrontEnd_LevelSelect2Update(float* dt);
void FrontEnd_LevelSelect3Exit(int);
void FrontEnd_LevelSelect3Update(float* dt);
void FrontEnd_LevelSelect3RenderFront(float* time);
void FrontEnd_LevelSelectZEnter(int);
void FrontEnd_LevelSelectZExit(int);
void FrontEnd_LevelSelectZUpdate(float* dt);
void FrontEnd_PlayerSelectEnter(int);
void FrontEnd_PlayerSelect2Enter(int);
void FrontEnd_PlayerSelectExit(int);
void FrontEnd_PlayerSelectUpdate(float* dt);
void FrontEnd_PlayerSelectRenderBack(float* time);
void FrontEnd_PlayerSelectRenderFront(float* time);
void FrontEnd_TutorialLevelsEnter(int);
void FrontEnd_TutorialLevelsExit(int);
void FrontEnd_CompletedGameExit(int);
void FrontEnd_LaunchEnter(int);
// Launch's exit: a random track name, the level requested, and the front
// end's update returns none so the state pops.
void FrontEnd_LaunchLevel(int);
// Launch's exit hook in the screen table: FrontEnd_LaunchLevel.
void FrontEnd_LaunchExit(int);
void FrontEnd_LaunchUpdate(float* dt);
void FrontEnd_LaunchRender(float* time);
