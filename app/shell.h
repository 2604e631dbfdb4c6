// The application shell: the program's entry and its heartbeat.
//
// App_Main (the Windows entry's shape) makes sure only one copy runs, reads
// the command line, registers and creates the main window, opens the
// graphics engine on it (choosing device and mode through the device
// dialog), initialises every module in a fixed order, lets the game create
// its root state, and runs a message loop that steps one frame whenever no
// message waits. A frame reads the pads, advances texture animations, ticks
// the state stack once, updates sound, presents the main view and measures
// the frame time, smoothed before the next frame uses it. When the stack
// empties or the window is destroyed, the modules shut down in a fixed
// order, the engine closes and the window is destroyed.
//
// The engine layer and the game are reached through app/hooks.h only.
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

struct Window;
struct Frame;
struct MemoryFunctions;
struct Font;

constexpr int APP_MAX_TOKENS = 10;
constexpr size_t APP_COMMAND_LINE_SIZE = 1024;
constexpr size_t APP_LAUNCH_SIZE = 256;

// The application state record, zeroed by App_ResetState.
struct AppState {
    Window* window;            // the main window
    void* instance;            // the module instance given to the entry
    int32_t showCommand;
    uint32_t fullScreen;       // 1 when the chosen video mode is a full-screen one
    uint32_t runWhenInactive;  // 1: frames run while the window is inactive
    char launch[APP_LAUNCH_SIZE];  // the "Launch" option, cut to fit
};

// The exit code of a start that failed (the window, the graphics engine or
// the device could not be made, or the game found no data to run on).
constexpr int32_t APP_EXIT_START_FAILED = 1;

// The entry: returns 0 when the state stack emptied, else the wParam of the
// quit message (the last message taken). A start that fails says on
// standard error which step failed (the window, the graphics engine, the
// device, or what App_FailStart names) and returns APP_EXIT_START_FAILED; a
// second copy says that the game is already running and returns 0 at once,
// as does a user who leaves the device dialog with "E&xit".
int32_t App_Main(void* instance, void* previous, const char* commandLine, int32_t showCommand);
// 1 once the last App_Main reached its main loop (the game ran).
int App_HasRun(void);
// The game cannot run (its data is missing): once its states have ended,
// App_Main shuts down as usual, says "The game could not start: <why>."
// and returns APP_EXIT_START_FAILED. The first reason given stays.
void App_FailStart(const char* why);

// Copies the command line (cut to 1023 characters), splits it at white
// space (double quotes group) into at most 10 tokens, and reads "PAL",
// "Language" and "Launch", removing them from the tokens.
void App_ParseCommandLine(const char* commandLine);
int App_InitDefaults(void);
int App_ResetState(void);
int32_t App_RegisterClass(void* instance);
// Reads "Width" and "Height" (left in the token array) and creates the main
// window: client screenWidth x screenHeight, style pop-up with caption. When
// SDL can't make a window, windows become headless and it tries again. Null
// for a size below one pixel or when no window can be made.
Window* App_CreateWindow(void* instance);
void App_DestroyWindow(void);
// Engine_Init with the shell's memory functions, the 3 MB arena, the plug-in
// chain, Engine_Open on the window, the device dialog, Engine_Start and the
// image formats. 1, or 0 with everything opened closed again (App_Main then
// names the step that failed).
int App_EngineOpen(Window* window);
void App_EngineClose(void);
// The graphics plug-ins in their fixed order, then the engine layer's
// render-object extension; 0 at the first failure.
int App_AttachPlugins(void);
int App_RegisterImageFormats(void);
const MemoryFunctions* App_GetMemoryFunctions(void);
void App_InitSystems(void);
void App_ShutdownSystems(void);
// The message loop after App_InitSystems; returns what App_Main returns.
int32_t App_MainLoop(void);
void App_FrameStep(void);
// The next frame measures (almost) no time.
void App_ResetFrameClock(void);
// Ends the process, without shut-down, after that many frames (0: never).
void App_ScheduleTerminate(uint32_t frames);
// Ends the process at once with exit code 0, without shut-down.
[[noreturn]] void App_Terminate(void);
// Milliseconds; differences are taken as unsigned 32-bit numbers.
uint32_t App_GetTimeMs(void);
// The local date and time as ctime's text (with its line feed); the buffer
// holds 26 bytes at least.
char* App_GetTimeString(char* buffer);
// The token array (at most 10); *count receives its length when asked.
char** App_GetCommandLine(int32_t* count);
Window* App_GetWindow(void);
void* App_GetInstance(void);
void App_SetRunWhenInactive(uint32_t flag);
int32_t App_GetScreenWidth(void);
int32_t App_GetScreenHeight(void);
// Full-screen modes replace the window's size (the device selection).
void App_SetScreenSize(int32_t width, int32_t height);
Frame* App_GetRootFrame(void);
int32_t App_IsPAL(void);
// 0 English, 2 German, 3 French, 4 Spanish, 5 Italian.
int32_t App_GetLanguage(void);
// The CD drive's name for the file layer: always empty.
const char* App_GetCDDriveName(void);
// Shows an image full-screen over black for `seconds` (at least 0.25),
// fading in over the first and, with fade, out over the last 0.25 s.
// Skippable: Return on a keyboard pad skips to a 0.5 s fade (0 without
// fade); Escape too, and every later skippable logo then returns at once.
void App_ShowLogo(const char* image, float seconds, int fade, int skippable);
// Reads "game.ver" from the working folder (never from an archive) whole,
// with a NUL behind what was read, and loads the default font; a missing
// file leaves the version text null.
void App_ReadVersionFile(void);
// Before the engine opens: the 2D fonts' free-list parameters.
void App_PreEngineInit(void);
intptr_t App_WndProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

AppState* App_GetState(void);
// The mouse button flags the window procedure keeps.
int App_GetLeftButton(void);
int App_GetRightButton(void);
// The smoothed frame time in seconds.
float App_GetFrameTime(void);
int App_IsActive(void);
int App_GetQuit(void);
// The contents of "game.ver" (NUL-terminated), or null.
const char* App_GetVersionText(void);
// The font App_ReadVersionFile loaded, or null.
Font* App_GetVersionFont(void);

// ---- test hooks ----
// Replaces the millisecond clock (null restores the system's).
typedef uint32_t (*AppClock)(void);
void App_SetClock(AppClock clock);
// Sets the smoothed frame time.
void App_SetFrameTime(float dt);
// With set, start-up seeds the C library's random numbers with seed instead
// of the time of day (scripted runs repeat exactly); 0 goes back to the time.
void App_SetRandomSeed(int set, uint32_t seed);
// Puts everything a run leaves behind back to the state at process start,
// so the entry can run again in the same process: the single-instance lock
// is released, the Win32 stand-in's windows, classes, queue and cursor
// counter are cleared, and the shell's modules are zeroed (the logos'
// Escape flag included). Call after App_Main has returned.
void App_TestReset(void);
