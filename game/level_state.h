// The level state: the state-stack mode in which levels are played. Its
// enter sets up every module a level needs and loads the first level of the
// race set-up's list; its update runs the rules, the physics step and the
// objects and handles the end of a level (progress, the next level's unlock,
// the autosave, the next level behind the loading screen) and the pause
// menu; its render draws the viewports, the loading overlay and the menu;
// its destroy tears everything down and leaves for the front end.
//
// The end of a level is a chain of level flags (level_session.h):
//   playing -(ENDED)-> end wait (END_WAIT, 1.0 s) -> fading (FADING, to 1.1
//   at 3 per second) -> LOAD_NEXT: the next level loads in place, or LEAVE
//   and the state is popped back to the root.
// ENDED alone records progress (the entry's completed bit, the next level's
// unlock) and asks for the autosave; ENDED | QUIT leaves without progress.
// The control modes' failure fallbacks use ENDED | QUIT, so a lost game
// never counts as completed. A level without a progress entry
// (levelToUnlock 0) marks nothing.
//
// After every content load the level waits on the "loadingScreenContinue"
// page with the world stopped (WAIT_CONTINUE) until the menu closes; the
// data-packing run skips the wait and advances as soon as a level has
// rendered once.
//
// The attract demo (GameSetup_IsDemo) plays without a player: it skips the
// wait, has no pause menu, and any key, the level's end or a minute of play
// (LEVEL_DEMO_SECONDS) leaves it as a quit does (no progress, no autosave).
// Leaving clears the demo's mark.
#pragma once

#include <cstdint>

#include "game/level_session.h"

struct GameState;
struct MenuSystem;
struct Node;

constexpr int LEVEL_TIMER_LOGS = 3;
constexpr float LEVEL_DEMO_SECONDS = 60.0f;

// One per level state: zero-filled at its enter, freed at its exit.
struct LevelState {
    int32_t levelIndex;               // current entry of the race set-up's level list
    char backDomePath[LEVEL_NAME_MAX];
    float winnerFocusTime;            // for the camera code
    float clippingDistance;
    float clippingOnSectionDist;
    float clippingViewAngle;          // radians
    char clippingSegName[LEVEL_NAME_MAX];
    uint32_t extraGameTypes;          // "startLevel" may offer the extra rules (1 when missing)
    uint32_t mapLoadFogOn;            // meshes load with fog while the level loads
    uint32_t fogType;                 // 1, 2 or 3
    uint32_t fogColour;               // alpha, blue, green, red from the top byte down
    float fogDistance;
    float fogDensity;
    const char* timerLogNames[LEVEL_TIMER_LOGS];
    uint32_t timers[LEVEL_TIMER_LOGS];
    float fadeTimer;
    float endWaitTimer;
    uint32_t renderedOnce;            // set by every render, cleared by every content load
    uint32_t completedBefore;         // the entry was completed when the level ended
    uint8_t controllingPlayer;        // GAME_ANY_PLAYER = any
    float demoTime;                   // the attract demo's play so far (seconds)
    uint32_t steppedOnce;             // the world has stepped since the content load
    uint32_t covered;                 // the last render drew the loading image over the level
};

// ---- the state ----

// A state record running the level: enter Level_Init, update Level_Update,
// render Level_Render, pre-update Game_PauseUpdate, destroy Level_Exit.
// Null when the state pool is exhausted.
GameState* Level_CreateState(void);
// The state's enter: the loading screen of type 3, the level record, the
// callback registry and the object world, the session and every level
// module, the players, and the first level's content.
void Level_Init(GameState* state);
// Loads the content of the level record's current list entry (physics,
// settings, the level file, the scene, the menu, the music) and waits on the
// "loadingScreenContinue" page unless this is the data-packing run.
void Level_LoadContent(GameState* state);
// One frame (see the file top); the next state: this one, the save
// screens, or none to leave.
GameState* Level_Update(GameState* state, float dt);
// Acts on a selection of the pause menu (its entry's selection hash); 0 is
// no selection and does nothing.
void Level_OnMenuResult(GameState* state, uint32_t hash);
void Level_Render(GameState* state);
// Releases the level's content; final also drops what survives a reload
// (the back dome).
void Level_Unload(GameState* state, int final);
void Level_Exit(GameState* state);

// The level record of the running level state, or null.
LevelState* Level_GetState(void);

// ---- the steps ----
void Level_InitPhysics(void);
void Level_LoadScene(LevelState* level);
// The level's players: of the slots 0..3 with a non-zero kind (below
// GameMaxPlayers), the humans first and then the computer-driven ones, each
// in slot order, as many as the context's player count (all when it is 0).
// Each gets the next viewport; the others get none. Their number is the
// number of player entities and of viewports.
void Level_SetupPlayers(void);
// The object scene's item hook: an item named "PlayerStart_Null_NN" gives
// the level's player NN (0-based: the slot drawn in viewport NN) its start
// (the item's world position, at and up) and is consumed (1); one that
// names no player of the level, or no number, is consumed without a start.
// Other items: 0.
int Level_FindPlayerStarts(Node* item, const char* baseName);
// The pairs of collision groups that collide, entered into the physics
// world: (2,2), (2,1), (2,3), (2,4), (2,5), (1,1), (4,4), (5,1), (6,2),
// (6,1), (6,4), (6,5), (7,1), (7,4), (7,5).
void Level_SetupCollisionGroups(void);
// Activates the pickups of the rule (event 8 on the objects named
// "SCORE_PICKUP" for rules 1, 2 and 5, with every race set-up player's
// difficulty set to the game's; "LEVEL_COMP" for 0, 1 and 3;
// "HIDDEN_PICKUP" for 4), then raises the respawn event.
void Level_SetupPickups(void);
// The restart callback: rule clock 0, then Level_SetupPickups.
void Level_OnRestart(uint32_t argument);
void Level_SetupTimerLogs(LevelState* level);
// The viewport callback: the entities' view masks of viewport v.
void Level_PrepareViewportHuds(int viewport);
// The in-game menu of the file, made once per level; Level_FreeInGameMenu
// frees it.
MenuSystem* Level_CreateInGameMenu(const char* fileName);
void Level_FreeInGameMenu(void);
// Registers the generic objects' four callbacks: "GenericObject_Constructor"
// (placed at its scene item, its animation set at time 0),
// "GenericObject_Update" (its scene or animation set advanced by dt) and the
// empty "GenericObject_Destructor" and "GenericObject_Collision".
void GenericObject_Register(void);

// The pickup activations Level_SetupPickups asked for (for tests; the
// events themselves go to the level objects' queue): group name and event.
struct LevelPickupActivation {
    const char* name;
    uint32_t event;
};
constexpr int LEVEL_PICKUP_ACTIVATIONS = 16;
uint32_t LevelTest_GetActivations(const LevelPickupActivation** out);
void LevelTest_ClearActivations(void);
