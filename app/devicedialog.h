// Device selection: between opening and starting the graphics engine the
// shell chooses the output device (a sub-system of the engine) and the
// video mode, through the "Device Selection" dialog (resource 104) or,
// without asking, from the options "quiet", "fullscreen", "forcewindow",
// "Width" and "Height". It also chooses between keyboard and controller.
// A full-screen start hides the cursor and puts a black top-most window
// over the screen while the start-up movies play and the engine starts.
// Main thread only.
#pragma once

#include <cstdint>

struct Window;

enum : int32_t {
    DEVICE_DIALOG_RESOURCE = 104,
    DEVICE_LIST = 1000,        // output devices
    MODE_LIST = 1001,          // screen resolutions
    PLAY_BUTTON = 1,           // "&Play the Game"
    EXIT_BUTTON = 1002,        // "E&xit"
    KEYBOARD_RADIO = 1008,
    CONTROLLER_RADIO = 1009,
    ALL_MODES_CHECK = 1012,    // "Display all available modes"
    MAX_SUB_SYSTEMS = 16,
};

// 1 when a sub-system and a video mode were set in the engine; 0 otherwise,
// also when the user chose "E&xit". A full-screen mode sets the screen size
// and the state's fullScreen.
int App_SelectDevice(void);
// Registers the dialog's template (resource 104) with the Win32 stand-in.
void App_RegisterDeviceDialog(void);
// Fills a resolution list: the full-screen modes first (4:3 from 640 x 480
// to 1280 x 1024 unless "all modes" is ticked), each carrying its mode
// index, then every windowed mode. 800 x 600 x 32 becomes the default item
// (else item 0).
void App_FillModeList(Window* list);
intptr_t App_DeviceDialogProc(Window* dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);
void App_InitDeviceDialog(Window* dialog);
void App_OnSubSystemChange(Window* dialog);
// The black cover window of a full-screen start; 1 when it was made.
int App_CreateBlankWindow(void* instance);
// Dispatches every waiting message of the cover window (and nothing when
// there is none).
void App_PumpBlankMessages(void);
// Destroys the cover window, if any, and forgets it.
void App_DestroyBlankWindow(void);
Window* App_GetBlankWindow(void);

// What the selection holds (tests and the shell).
struct DeviceSelection {
    int32_t subSystemCount;
    char subSystems[MAX_SUB_SYSTEMS][80];
    int32_t currentSubSystem;
    int32_t selectedMode;
    int32_t defaultModeItem;
    uint32_t allModes;
    uint32_t useKeyboard;
    uint32_t userExit;  // the user left the dialog with "E&xit"
};
const DeviceSelection* App_GetDeviceSelection(void);
// Back to the state at process start (the cover window forgotten too).
void App_ResetDeviceSelection(void);
