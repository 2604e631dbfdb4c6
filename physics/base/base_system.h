// Start and stop of the physics engine's global state (timers, warning
// counts, memory peaks). Both calls may be repeated: a second Init while
// started and a Quit while stopped do nothing.
#pragma once

// Starts the engine; returns 1 (also when already started).
int BaseSystem_Init();
// Stops the engine; idempotent. Objects still alive stay valid (their memory
// is the hooks'), but timers are forgotten.
void BaseSystem_Quit();
// 1 between Init and Quit.
int BaseSystem_IsStarted();
// The engine's start-up banner (name and version), a static string.
const char* BaseSystem_GetBanner();
