// The hooks through which the root state creates the front end's states.
// The front end lies above the game in the library graph, so the game never
// calls it by name: the executable fills this table with
// FrontEnd_CreateState, StartMenu_CreateState and Options_CreateState. An
// empty slot gives no state (Game_StateForType answers null for its type).
#pragma once

struct GameState;

typedef GameState* (*GameStateCreateFn)(void);

struct GameStateHooks {
    GameStateCreateFn frontEnd;   // game-state type 5
    GameStateCreateFn startMenu;  // type 1
    GameStateCreateFn options;    // type 2
};

// Copies the table (null empties every slot).
void GameStateHooks_Install(const GameStateHooks* hooks);
// The installed table; never null.
const GameStateHooks* GameStateHooks_Get(void);
