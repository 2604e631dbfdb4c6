// The shell services the graphics engine uses, reached through forwarders so
// that the engine never includes the shell: the application installs its
// functions once at start-up. Until then the forwarders answer neutrally
// (time 0, not PAL, language 0, no command line; terminate does nothing).
#pragma once
#include <cstdint>

struct PlatformFunctions {
    uint32_t (*getTimeMs)(void);
    int32_t (*isPAL)(void);
    int32_t (*getLanguage)(void);
    void (*terminate)(void);
    char** (*getCommandLine)(int32_t* count);
};

// Copies the table; null members keep the neutral answers. Null resets all.
void Platform_Install(const PlatformFunctions* functions);

uint32_t Platform_GetTimeMs(void);
int32_t Platform_IsPAL(void);
int32_t Platform_GetLanguage(void);
void Platform_Terminate(void);
char** Platform_GetCommandLine(int32_t* count);
