// The shell's own test screen: the root state when no game is built (the
// Game_Setup hook is empty). It shows that the program runs end to end:
// window, engine, main view, frame clock, state stack and pads.
//
// It draws with immediate-mode 2D over a dark background: one square per
// pad (the keyboard pad's moves with the arrow keys, each controller pad's
// follows its stick, the mouse pad's sits at the cursor), bright while one
// of the pad's buttons is held, and a bar as long as the smoothed frame
// time. Escape, or closing the window, ends the program. Without a display
// it ends itself after 5 s and writes its last frame as
// "shell-test-screen.png" in the working folder.
#pragma once

#include <cstdint>

struct GameState;

constexpr uint32_t TEST_SCREEN_HEADLESS_MS = 5000;
constexpr const char* TEST_SCREEN_PNG = "shell-test-screen.png";
// Colours (0xAARRGGBB) and sizes the screen draws with.
constexpr uint32_t TEST_SCREEN_BACKGROUND = 0xFF182030;
constexpr uint32_t TEST_SCREEN_KEYBOARD = 0xFF3060A0;
constexpr uint32_t TEST_SCREEN_KEYBOARD_HELD = 0xFF80C0FF;
constexpr int32_t TEST_SCREEN_SQUARE = 32;

// Prints what the screen is and creates it with State_Create (the first
// state created becomes the current one).
GameState* TestScreen_Create(void);
// Where the keyboard pad's square is (its centre, in pixels).
void TestScreen_GetKeyboardSquare(float* x, float* y);
// Forgets everything (between runs in one process).
void TestScreen_Reset(void);
