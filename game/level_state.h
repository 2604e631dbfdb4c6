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
#pragma once

#include <cstdint>

#include "game/level_session.h"

struct GameState;

constexpr int LEVEL_TIMER_LOGS = 3;

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
};
