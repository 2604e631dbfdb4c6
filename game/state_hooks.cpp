#include "game/state_hooks.h"

namespace {
GameStateHooks g_hooks = {};
}

void GameStateHooks_Install(const GameStateHooks* hooks) { g_hooks = hooks ? *hooks : GameStateHooks{}; }

const GameStateHooks* GameStateHooks_Get(void) { return &g_hooks; }
