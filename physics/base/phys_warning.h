// The engine's single warning hook: every problem the engine notices and
// survives (refused input, clamped values, quarantined bodies) is reported as
// (title, message, source file, line). The hook never aborts the engine.
#pragma once

typedef void (*PhysWarningHook)(const char* title, const char* message, const char* file,
                                int line);

// Installs the hook; null restores the built-in one (which writes one line to
// standard error). Returns the previous hook.
PhysWarningHook Physics_SetWarningHook(PhysWarningHook hook);
// Reports a warning through the installed hook and counts it.
void Physics_Warning(const char* title, const char* message, const char* file, int line);
// Number of warnings reported since start-up or the last reset.
int Physics_GetWarningCount();
void Physics_ResetWarningCount();

#define PHYS_WARNING(title, message) Physics_Warning((title), (message), __FILE__, __LINE__)
