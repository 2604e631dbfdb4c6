#include "frontend/front_end_probe.h"

#include <cstdio>
#include <cstring>

#include "app/state.h"
#include "frontend/front_end.h"
#include "frontend/start_menu.h"

int FrontEndProbe_Get(const char* name, char* value, size_t size)
{
    if (!name || !value || !size) return 0;
    if (!strcmp(name, "state")) {
        const GameState* state = State_GetCurrent();
        if (!state || state->enter) return 0;
        const char* answer = state->update == FrontEnd_Update    ? "frontend"
                             : state->update == StartMenu_Update ? "startmenu"
                             : state->update == Options_Update   ? "options"
                                                                 : nullptr;
        if (!answer) return 0;
        snprintf(value, size, "%s", answer);
        return 1;
    }
    if (!strcmp(name, "screen")) {
        const FrontEnd* fe = FrontEnd_Get();
        if (!fe) return 0;
        const char* screen = FrontEnd_GetScreenName(fe->current);
        if (!screen) return 0;
        if (!strncmp(screen, "FrontEnd_", 9)) screen += 9;
        snprintf(value, size, "%s", screen);
        return 1;
    }
    return 0;
}
