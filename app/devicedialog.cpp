#include "app/devicedialog.h"

#include <cstdio>
#include <cstring>

#include "app/file.h"
#include "app/hooks.h"
#include "app/pad.h"
#include "app/shell.h"
#include "common/cmdline.h"
#include "gfx/core/engine.h"
#include "platform/win32/cursor.h"
#include "platform/win32/dialog.h"
#include "platform/win32/gdi.h"
#include "platform/win32/message.h"
#include "platform/win32/system.h"
#include "platform/win32/window.h"

namespace {

DeviceSelection g_selection = {};
Window* g_blankWindow = nullptr;

const DialogControlTemplate kControls[] = {
    {-1, DIALOG_GROUPBOX, "Choose your required output device: "},
    {DEVICE_LIST, DIALOG_COMBOBOX, ""},
    {-1, DIALOG_LABEL, "Select a screen resolution:"},
    {MODE_LIST, DIALOG_COMBOBOX, ""},
    {ALL_MODES_CHECK, DIALOG_CHECKBOX, "Display all available modes"},
    {-1, DIALOG_GROUPBOX, "Choose your required input device: "},
    {KEYBOARD_RADIO, DIALOG_RADIO, "Play using your keyboard"},
    {CONTROLLER_RADIO, DIALOG_RADIO, "Play using game controller/joystick"},
    {-1, DIALOG_PICTURE, "104"},
    {-1, DIALOG_LABEL,
     "If you are unsure what these settings mean, just click on the 'Play the Game' button below. This will use the "
     "recommended default settings."},
    {PLAY_BUTTON, DIALOG_DEFBUTTON, "&Play the Game"},
    {EXIT_BUTTON, DIALOG_BUTTON, "E&xit"},
};
const DialogTemplate kDeviceDialog = {"Device Selection", "MS Sans Serif", 8, 410, 166, kControls,
                                      (int32_t)(sizeof kControls / sizeof kControls[0])};

// 4:3 within single-precision rounding: 0x3FAAAA57 and 0x3FAAAAFF.
bool IsFourThree(int32_t width, int32_t height)
{
    const uint32_t loBits = 0x3FAAAA57u, hiBits = 0x3FAAAAFFu;
    float lo, hi;
    memcpy(&lo, &loBits, sizeof lo);
    memcpy(&hi, &hiBits, sizeof hi);
    float ratio = (float)width / (float)height;
    return ratio >= lo && ratio <= hi;
}

int32_t AddItem(Window* list, const char* text, int32_t data)
{
    intptr_t index = Message_Send(list, CB_ADDSTRING, 0, (intptr_t)text);
    Message_Send(list, CB_SETITEMDATA, (uintptr_t)index, data);
    return (int32_t)index;
}

int32_t SelectedModeOf(Window* dialog)
{
    intptr_t item = Dialog_SendItemMessage(dialog, MODE_LIST, CB_GETCURSEL, 0, 0);
    return (int32_t)Dialog_SendItemMessage(dialog, MODE_LIST, CB_GETITEMDATA, (uintptr_t)item, 0);
}

void SelectDefaultMode(Window* dialog)
{
    Dialog_SendItemMessage(dialog, MODE_LIST, CB_SETCURSEL, (uintptr_t)g_selection.defaultModeItem, 0);
    g_selection.selectedMode = SelectedModeOf(dialog);
}

intptr_t BlankProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message == WM_ERASEBKGND) {
        Gdi_PatBlt((GdiContext*)wParam, 0, 0, System_GetMetrics(SYSTEM_CXSCREEN), System_GetMetrics(SYSTEM_CYSCREEN),
                   GDI_BLACKNESS);
        return 1;
    }
    return Window_DefProc(window, message, wParam, lParam);
}

bool IsFullScreenMode(int32_t mode)
{
    VideoModeInfo info = {};
    return Engine_GetVideoModeInfo(&info, mode) && (info.flags & 1);
}

}  // namespace

int App_SelectDevice(void)
{
    DeviceSelection& d = g_selection;
    int32_t n = Engine_GetNumSubSystems();
    if (n <= 0) return 0;
    d.subSystemCount = n < MAX_SUB_SYSTEMS ? n : MAX_SUB_SYSTEMS;
    for (int32_t i = 0; i < d.subSystemCount; i++)
        if (!Engine_GetSubSystemInfo(d.subSystems[i], i)) d.subSystems[i][0] = '\0';
    d.currentSubSystem = Engine_GetCurrentSubSystem();

    int32_t count = 0;
    char** tokens = App_GetCommandLine(&count);
    uint32_t quiet = 0, forceWindow = 0, fullScreen = 0;
    // "quiet" is read twice into one flag: a "-quiet" at the end of the line
    // is left in place by the first read, and the second read sees it again.
    CmdLine_GetBools(count, tokens, 1, "quiet", &quiet, "forcewindow", &forceWindow, nullptr);
    CmdLine_GetBools(count, tokens, 1, "quiet", &quiet, "fullscreen", &fullScreen, nullptr);
    int32_t wantedWidth = 800, wantedHeight = 600;
    CmdLine_GetInts(count, tokens, 1, "Width", &wantedWidth, "Height", &wantedHeight, nullptr);

    bool fullStart = fullScreen != 0;
    if (!fullScreen && !quiet) {
        App_RegisterDeviceDialog();
        const intptr_t chosen =
            Dialog_Box(App_GetInstance(), DEVICE_DIALOG_RESOURCE, App_GetWindow(), App_DeviceDialogProc, 0);
        d.userExit = chosen == 0;
        if (chosen <= 0) return 0;
        fullStart = IsFullScreenMode(d.selectedMode);
    }
    if (fullScreen) {
        int32_t modes = Engine_GetNumVideoModes();
        for (int32_t i = 0; i < modes; i++) {
            VideoModeInfo info = {};
            if (Engine_GetVideoModeInfo(&info, i) && (info.flags & 1) && info.width == wantedWidth &&
                info.height == wantedHeight)
                d.selectedMode = i;  // the last match wins, whatever its depth
        }
    }
    if (fullStart) {
        Cursor_Show(0);
        App_CreateBlankWindow(App_GetInstance());
        // The movie list is opened before the archive is mounted and before
        // the file layer starts for good: the layer runs just for it, so
        // "streams\movies_PC.txt" finds its file however the disk spells it.
        File_Init();
        const AppHooks* h = AppHooks_Get();
        if (h->gameLoadMovieList) h->gameLoadMovieList();
        File_Shutdown();
    }
    if (!Engine_SetSubSystem(d.currentSubSystem) || !Engine_SetVideoMode(d.selectedMode)) return 0;
    VideoModeInfo info = {};
    if (Engine_GetVideoModeInfo(&info, d.selectedMode) && (info.flags & 1)) {
        App_SetScreenSize(info.width, info.height);
        App_GetState()->fullScreen = 1;
    }
    return 1;
}

void App_RegisterDeviceDialog(void) { Dialog_RegisterTemplate(DEVICE_DIALOG_RESOURCE, &kDeviceDialog); }

void App_FillModeList(Window* list)
{
    DeviceSelection& d = g_selection;
    // A list without 800 x 600 x 32 preselects its first item, also after a
    // refill (the position of an earlier list's default would point anywhere).
    d.defaultModeItem = 0;
    int32_t modes = Engine_GetNumVideoModes();
    char text[128];
    for (int32_t i = 0; i < modes; i++) {
        VideoModeInfo info = {};
        if (!Engine_GetVideoModeInfo(&info, i) || !(info.flags & 1)) continue;
        bool listed = d.allModes || (IsFourThree(info.width, info.height) && info.width >= 640 &&
                                     info.width <= 1280 && info.height >= 480 && info.height <= 1024);
        if (!listed) continue;
        snprintf(text, sizeof text, "%d x %d - %d bit %s", info.width, info.height, info.depth, "(Fullscreen)");
        int32_t item = AddItem(list, text, i);
        if (info.width == 800 && info.height == 600 && info.depth == 32) d.defaultModeItem = item;
    }
    for (int32_t i = 0; i < modes; i++) {
        VideoModeInfo info = {};
        if (!Engine_GetVideoModeInfo(&info, i) || (info.flags & 1)) continue;
        snprintf(text, sizeof text, "%d x %d - %s", info.width, info.height, "(Window)");
        AddItem(list, text, i);
    }
}

void App_InitDeviceDialog(Window* dialog)
{
    DeviceSelection& d = g_selection;
    d.allModes = Dialog_IsButtonChecked(dialog, ALL_MODES_CHECK);
    char text[96];
    for (int32_t i = 0; i < d.subSystemCount; i++) {
        snprintf(text, sizeof text, "%s", d.subSystems[i]);
        AddItem(Dialog_GetItem(dialog, DEVICE_LIST), text, i);
    }
    Dialog_SendItemMessage(dialog, DEVICE_LIST, CB_SETCURSEL, 0, 0);
    d.defaultModeItem = 0;
    App_FillModeList(Dialog_GetItem(dialog, MODE_LIST));
    SelectDefaultMode(dialog);
    Window_SetFocus(Dialog_GetItem(dialog, DEVICE_LIST));
    Pad_Init();
    bool controller = Pad_Get(PAD_CONTROLLER, 0) != nullptr;
    Dialog_CheckButton(dialog, KEYBOARD_RADIO, controller ? 0 : 1);
    Dialog_CheckButton(dialog, CONTROLLER_RADIO, controller ? 1 : 0);
    Window_Enable(Dialog_GetItem(dialog, CONTROLLER_RADIO), controller);
    d.useKeyboard = controller ? 0 : 1;
}

void App_OnSubSystemChange(Window* dialog)
{
    DeviceSelection& d = g_selection;
    intptr_t item = Dialog_SendItemMessage(dialog, DEVICE_LIST, CB_GETCURSEL, 0, 0);
    if (item == d.currentSubSystem) return;
    d.currentSubSystem = (int32_t)Dialog_SendItemMessage(dialog, DEVICE_LIST, CB_GETITEMDATA, (uintptr_t)item, 0);
    Engine_SetSubSystem(d.currentSubSystem);
    Dialog_SendItemMessage(dialog, MODE_LIST, CB_RESETCONTENT, 0, 0);
    App_FillModeList(Dialog_GetItem(dialog, MODE_LIST));
    SelectDefaultMode(dialog);
}

intptr_t App_DeviceDialogProc(Window* dialog, uint32_t message, uintptr_t wParam, intptr_t)
{
    DeviceSelection& d = g_selection;
    if (message == WM_INITDIALOG) {
        App_InitDeviceDialog(dialog);
        return 0;  // the focus set on the device list stays
    }
    if (message != WM_COMMAND) return 0;
    int32_t id = (int32_t)(wParam & 0xFFFF);
    uint32_t code = (uint32_t)(wParam >> 16) & 0xFFFF;
    switch (id) {
        case KEYBOARD_RADIO: d.useKeyboard = 1; return 1;
        case CONTROLLER_RADIO: d.useKeyboard = 0; return 1;
        case ALL_MODES_CHECK:
            d.allModes = Dialog_IsButtonChecked(dialog, ALL_MODES_CHECK);
            d.currentSubSystem = -1;
            App_OnSubSystemChange(dialog);
            d.selectedMode = SelectedModeOf(dialog);
            return 1;
        case DEVICE_LIST: App_OnSubSystemChange(dialog); return 1;
        case MODE_LIST:
            if (code != CBN_SELCHANGE) return 0;
            d.selectedMode = SelectedModeOf(dialog);
            return 1;
        case PLAY_BUTTON:
            if (code != BN_CLICKED) return 0;
            Dialog_End(dialog, 1);
            if (d.useKeyboard) Pad_SetJoysticksEnabled(0);
            return 1;
        case EXIT_BUTTON:
            if (code != BN_CLICKED) return 0;
            Dialog_End(dialog, 0);
            return 1;
        default: return 0;
    }
}

int App_CreateBlankWindow(void* instance)
{
    WindowClassInfo info = {0, BlankProc, instance, 0, "Blank"};
    if (!WindowClass_Register(&info)) return 0;
    g_blankWindow = Window_CreateEx(WINDOW_EXSTYLE_TOPMOST, "Blank", "Blank", WINDOW_STYLE_POPUP | WINDOW_STYLE_VISIBLE,
                                    0, 0, System_GetMetrics(SYSTEM_CXSCREEN), System_GetMetrics(SYSTEM_CYSCREEN),
                                    nullptr, instance);
    return g_blankWindow != nullptr;
}

void App_PumpBlankMessages(void)
{
    // A null filter would take every message, the quit message included.
    if (!g_blankWindow) return;
    WindowMessage msg;
    while (Message_Peek(&msg, g_blankWindow, 0, 0, MESSAGE_REMOVE)) {
        Message_Translate(&msg);
        Message_Dispatch(&msg);
    }
}

void App_DestroyBlankWindow(void)
{
    if (!g_blankWindow) return;
    Window_Destroy(g_blankWindow);
    g_blankWindow = nullptr;
}

Window* App_GetBlankWindow(void) { return g_blankWindow; }

const DeviceSelection* App_GetDeviceSelection(void) { return &g_selection; }

void App_ResetDeviceSelection(void)
{
    g_selection = DeviceSelection{};
    g_blankWindow = nullptr;
}
