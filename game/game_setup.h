// The game's set-up and its root state.
//
// The shell calls Game_Setup once after its modules are up (through its hook
// table). It resets the game context, registers the control modes' rows of
// the mode table, reads the start-up switches, mounts
// "DataPC.wad" (without it the game carries on with loose files), shows the
// logos of "configs\logos.cfg", reads "Load.dat" and the loading text,
// defines "<SIZE>" and loads the text tables and the fonts, and creates the
// root state, which becomes the current state.
//
// The root state stays at the bottom of the stack for the whole run. Its
// enter (Game_Init) assigns the input devices, reads "Build.ver", the
// character list, the start-up arguments and "Unlocked.cfg"; its update
// pushes the child chosen by a pending request (1 the front end, 3 the
// level) or else by the game-state type, and pops (ending the program)
// when that type has no state; its destroy releases what the set-up loaded.
//
// Start-up switches (read without removing them):
//   -WadProcess, -TestProcess, -PlatformProcess   presence switches; the
//        first is the data-packing run (every level and sound is touched
//        without waiting for the player)
//   -PlayerConfig X, -LevelConfig X               texts kept for the front end
//   -leveltype T -levelnumber N [-levelvariant V] a direct start: T is a
//        type name without "GameState_Type_": "Glim" plays "levelN.cfg" (race
//        set-up entry 0, entry 1 "NONE") and then reaches the front end;
//        "Start" and "Options" open those states; "FrontEnd" is the
//        ordinary road; "Variant", "MainMenu" and unknown names are ignored
//   -focus [1]            keep running while the window is inactive
//   -kill [1]             end the process after 200 frames
//   -playerset P          the four players' characters 4P .. 4P + 3
//                         (ignored when 4P + 3 reaches the character count)
//
// Text lists: every line has one trailing carriage return removed; a line
// longer than the reader's buffer keeps its first part.
#pragma once

#include <cstddef>
#include <cstdint>

struct GameState;

constexpr int GAME_TEXT_LINE = 256;  // the text lists' line buffer

// The names of the game-state types, "GameState_Type_Start" ...; null for
// type 0 and for 7 or more.
const char* Game_GetStateTypeName(uint32_t type);
// The type whose name, after its first 15 characters, equals the text
// without regard to case; -1 for none.
int Game_FindStateType(const char* shortName);

// ---- set-up ----
// The whole set-up; returns the root state (also made current).
GameState* Game_Setup(void);
// Reads the start-up switches of the command line (App_GetCommandLine).
void Game_ReadSwitches(void);
int Game_GetWadProcess(void);
int Game_GetTestProcess(void);
int Game_GetPlatformProcess(void);
const char* Game_GetPlayerConfig(void);
const char* Game_GetLevelConfig(void);
// The game's archive, in the working folder.
constexpr const char* GAME_DATA_WAD = "DataPC.wad";
// Wad_Mount(GAME_DATA_WAD); 1 when mounted (0 is not an error).
int Game_MountDataWad(void);

// One line of "configs\logos.cfg": name[,time[,fade[,skippable]]], time 0
// and the flags 1 and 0 when absent. 1 when the line names a logo.
struct GameLogo {
    char name[GAME_TEXT_LINE];
    float time;
    int fade;
    int skippable;
};
int Game_ParseLogoLine(char* line, GameLogo* out);
// Shows every logo of the list through the shell's logo screen.
void Game_LoadLogos(void);
// Loading screen type 0, "Load.dat" (images, data sizes, GameMaxPlayers),
// the loading text, the frame, bar and indicator sprites and image 0.
void Game_LoadLoadingScreens(void);

// One line of "streams\movies_PC.txt": name,flag[,standard], the standard
// cut at its first character that is not a letter ("PAL2x" is "PAL").
struct GameMovie {
    char name[GAME_TEXT_LINE];
    int flag;
    char standard[16];
};
int Game_ParseMovieLine(char* line, GameMovie* out);
// A "PAL" line plays only with the PAL switch on, an "NTSC" line only with
// it off, any other line always.
int Game_MovieShouldPlay(const GameMovie* movie, int pal);
// The shell's start-up hook: in the data-packing run opens and closes the
// four movie lists, then plays the videos of "streams\movies_PC.txt". It
// runs before Game_Setup, so it reads "-WadProcess" itself.
void Game_LoadMovieList(void);

// ---- root state ----
GameState* Game_CreateRootState(void);
void Game_Init(GameState* state);
GameState* Game_Update(GameState* state, float dt);
void Game_Exit(GameState* state);
// The function that creates the state of a game-state type, or null: the
// state hooks for types 1, 2 and 5, the level state for 6.
typedef GameState* (*GameStateCreator)(void);
GameStateCreator Game_StateForType(uint32_t type);
// The pre-update of the level state and the start menu: returns the state,
// so its own update runs next.
GameState* Game_PauseUpdate(GameState* state, float dt);

// ---- the parts of Game_Init ----
// The players' input devices (Player_AssignDevices), then the cache with 64
// sub-folders.
void Game_InitInput(void);
// The integer on the first line of "Build.ver"; 0 without the file.
void Game_ReadBuildNumber(void);
// Up to eight names of "CharList.txt", else (missing or nameless) the
// built-in eight.
void Game_LoadCharacterList(void);
// Every entry locked; then "Unlocked.cfg" (comma-separated entry numbers,
// 1..149 count) unlocks its entries, or without the file the built-in
// list: 1, 2, 4, 5, 18, 70-79 and 91-95. Every character starts open; a
// line "Character N STARS" of the file locks character N (1..8) until the
// player has STARS stars (at least 1).
void Game_InitProgress(void);
// The start-up arguments: the direct start, focus, kill and playerset.
// Sets the requested state (1, or the direct start's).
void Game_ApplyStartArguments(void);

// "%s.%s.%s.%s.%.3d" of "0", "A", "xx", "0" and the build number into
// buffer (size bytes).
void Game_FormatVersion(char* buffer, size_t size);
