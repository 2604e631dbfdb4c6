// The game's hooks to the front end's three states: the root state creates
// the front end (type 5), the start menu (type 1) and the options state
// (type 2) through them, since the game lies below the front end in the
// library graph. The executable installs them; tests of the whole program
// install the same table.
#pragma once

#include "frontend/front_end.h"
#include "frontend/front_end_probe.h"
#include "frontend/start_menu.h"
#include "game/probe.h"
#include "game/state_hooks.h"

inline GameStateHooks ProgramHooks_MakeStateHooks()
{
    GameStateHooks hooks = {};
    hooks.frontEnd = FrontEnd_CreateState;
    hooks.startMenu = StartMenu_CreateState;
    hooks.options = Options_CreateState;
    return hooks;
}

inline void ProgramHooks_InstallStateHooks()
{
    const GameStateHooks hooks = ProgramHooks_MakeStateHooks();
    GameStateHooks_Install(&hooks);
    // Scripted runs ask the front end for its state and screen through the
    // game's probes.
    GameProbe_SetFrontEndProbe(FrontEndProbe_Get);
}
