// The front end's answers to the probes of scripted runs (game/probe.h):
// "state" while one of its states is current ("frontend", "startmenu",
// "options") and "screen" while the front end runs (its current screen's
// name without "FrontEnd_": "Title", "LevelSelect2", "Tutorial_Main").
// The executable hands it to GameProbe_SetFrontEndProbe. Test hook.
#pragma once

#include <cstddef>

// GameProbe_Get's contract: 1 with the value for a name it answers now, 0
// (value untouched) for every other name.
int FrontEndProbe_Get(const char* name, char* value, size_t size);
