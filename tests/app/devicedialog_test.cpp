#include "app/devicedialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/pad.h"
#include "platform/win32/message.h"
#include "tests/app/shell_fixture.h"

namespace {

// A device driver with a mode list of the test's choosing and two
// sub-systems; everything else is left to the engine.
std::vector<VideoModeInfo> g_modes;
int32_t g_currentMode = -1, g_currentSubSystem = 0;

VideoModeInfo Mode(int32_t w, int32_t h, int32_t depth, bool full)
{
    return VideoModeInfo{w, h, depth, full ? 1u : 0u, 60, 0};
}

int32_t FakeRequest(int32_t code, void* out, void*, int32_t arg);
const EngineDevice kRecord = {1.0f, FakeRequest, 0, 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}};

int32_t FakeRequest(int32_t code, void* out, void*, int32_t arg)
{
    const bool inModes = arg >= 0 && arg < (int32_t)g_modes.size();
    switch (code) {
    case REQ_GET_DEVICE: *(EngineDevice*)out = kRecord; return 1;
    case REQ_OPEN:
    case REQ_CLOSE: return 1;
    case REQ_NUM_MODES: *(int32_t*)out = (int32_t)g_modes.size(); return 1;
    case REQ_MODE_INFO:
        if (inModes) *(VideoModeInfo*)out = g_modes[(size_t)arg];
        return inModes;
    case REQ_USE_MODE:
        if (inModes) g_currentMode = arg;
        return inModes;
    case REQ_NUM_SUBSYSTEMS: *(int32_t*)out = 2; return 1;
    case REQ_SUBSYSTEM_INFO:
        if (arg == 0 || arg == 1) strcpy((char*)out, arg ? "Second adapter" : "First adapter");
        return arg == 0 || arg == 1;
    case REQ_CURRENT_SUBSYSTEM: *(int32_t*)out = g_currentSubSystem; return 1;
    case REQ_SELECT_SUBSYSTEM: g_currentSubSystem = arg; return 1;
    default: return 0;
    }
}

class DeviceDialogTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        // Mode 0 is the windowed desktop, as the Direct3D 8 stand-in lists it.
        g_modes = {Mode(1024, 768, 32, false), Mode(640, 480, 16, true),   Mode(640, 480, 32, true),
                   Mode(800, 600, 32, true),   Mode(1024, 768, 32, true),  Mode(1280, 960, 32, true),
                   Mode(1280, 1024, 32, true), Mode(1600, 1200, 32, true), Mode(1024, 640, 32, true)};
        g_currentMode = -1;
        g_currentSubSystem = 0;
        EngineDriver driver = {&kRecord, nullptr};
        Engine_SetDriver(&driver);
        ASSERT_TRUE(Engine_Init(nullptr, 0, 0) && Engine_Open(&window_));
        App_InitDefaults();
        App_ResetState();
        App_RegisterDeviceDialog();
    }
    void TearDown() override
    {
        if (dialog_) Window_Destroy(dialog_);
        Pad_Shutdown();
        Engine_Close();
        Engine_Term();
        ShellTest::TearDown();
    }
    // Reads the sub-systems as App_SelectDevice does ("quiet": no dialog
    // there), then opens the dialog as the modal one would; the mode list.
    std::vector<std::string> Open()
    {
        App_ParseCommandLine("-quiet");
        App_SelectDevice();
        dialog_ = Dialog_Create(nullptr, DEVICE_DIALOG_RESOURCE, nullptr, App_DeviceDialogProc, 0);
        return dialog_ ? Items(MODE_LIST) : std::vector<std::string>{};
    }
    std::vector<std::string> Items(int32_t list)
    {
        std::vector<std::string> items;
        char text[256];
        for (intptr_t i = 0; i < Dialog_SendItemMessage(dialog_, list, CB_GETCOUNT, 0, 0); i++) {
            Dialog_SendItemMessage(dialog_, list, CB_GETLBTEXT, (uintptr_t)i, (intptr_t)text);
            items.push_back(text);
        }
        return items;
    }
    void Command(int32_t id, uint32_t code)
    {
        Message_Send(dialog_, WM_COMMAND, Dialog_CommandParam(id, code), (intptr_t)Dialog_GetItem(dialog_, id));
    }
    int window_ = 0;
    Window* dialog_ = nullptr;
};

TEST_F(DeviceDialogTest, TheModeListShowsFourThreeFullScreenModesThenWindowedOnesWithTheDefaultSelected)
{
    std::vector<std::string> items = Open();
    ASSERT_NE(dialog_, nullptr);
    EXPECT_EQ(items, (std::vector<std::string>{"640 x 480 - 16 bit (Fullscreen)", "640 x 480 - 32 bit (Fullscreen)",
                                               "800 x 600 - 32 bit (Fullscreen)", "1024 x 768 - 32 bit (Fullscreen)",
                                               "1280 x 960 - 32 bit (Fullscreen)", "1024 x 768 - (Window)"}));
    // The item carries its mode's index.
    EXPECT_TRUE(Dialog_SendItemMessage(dialog_, MODE_LIST, CB_GETCURSEL, 0, 0) == 2 &&
                App_GetDeviceSelection()->selectedMode == 3);
    EXPECT_EQ(Items(DEVICE_LIST), (std::vector<std::string>{"First adapter", "Second adapter"}));
    EXPECT_EQ(Dialog_GetFocus(dialog_), Dialog_GetItem(dialog_, DEVICE_LIST));
    EXPECT_TRUE(Dialog_IsButtonChecked(dialog_, KEYBOARD_RADIO) == 1 &&  // no controller
                !Window_IsEnabled(Dialog_GetItem(dialog_, CONTROLLER_RADIO)));
    Command(KEYBOARD_RADIO, BN_CLICKED);
    EXPECT_EQ(App_GetDeviceSelection()->useKeyboard, 1u);
    EXPECT_EQ(Message_Send(dialog_, WM_COMMAND, Dialog_CommandParam(1234, 0), 0), 0);  // not handled

    // "Display all available modes": every full-screen mode, the default kept.
    Dialog_CheckButton(dialog_, ALL_MODES_CHECK, 1);
    Command(ALL_MODES_CHECK, BN_CLICKED);
    items = Items(MODE_LIST);
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items[5] + ", " + items[7] + ", " + items[8],
              "1280 x 1024 - 32 bit (Fullscreen), 1024 x 640 - 32 bit (Fullscreen), 1024 x 768 - (Window)");
    EXPECT_EQ(App_GetDeviceSelection()->selectedMode, 3);

    // Picking a mode, then another sub-system, which refills the list.
    Dialog_SendItemMessage(dialog_, MODE_LIST, CB_SETCURSEL, 4, 0);
    Command(MODE_LIST, CBN_SELCHANGE);
    EXPECT_EQ(App_GetDeviceSelection()->selectedMode, 5);
    Dialog_SendItemMessage(dialog_, DEVICE_LIST, CB_SETCURSEL, 1, 0);
    Command(DEVICE_LIST, CBN_SELCHANGE);
    EXPECT_TRUE(g_currentSubSystem == 1 && App_GetDeviceSelection()->selectedMode == 3);  // the default again
    // Without the default mode the first item is selected.
    Window_Destroy(dialog_);
    g_modes = {Mode(1024, 768, 16, true), Mode(640, 480, 32, false)};
    Open();
    EXPECT_TRUE(Dialog_SendItemMessage(dialog_, MODE_LIST, CB_GETCURSEL, 0, 0) == 0 &&
                App_GetDeviceSelection()->selectedMode == 0);
    // Options choose without the dialog: the last full-screen mode of that size.
    Window_Destroy(dialog_);
    dialog_ = nullptr;
    g_modes.push_back(Mode(1024, 768, 32, true));
    g_modes.push_back(Mode(1024, 640, 32, true));
    App_ParseCommandLine("-fullscreen -Width 1024 -Height 768");
    EXPECT_TRUE(App_SelectDevice() == 1 && g_currentMode == 2);
    App_DestroyBlankWindow();
    // A controller makes it the choice; the keyboard chosen, playing switches the controller pads off.
    Pad_Shutdown();
    if (DInputTest_AttachController(1) < 0) GTEST_SKIP() << "no virtual joysticks";
    Open();
    EXPECT_TRUE(Dialog_IsButtonChecked(dialog_, CONTROLLER_RADIO) == 1 &&
                Window_IsEnabled(Dialog_GetItem(dialog_, CONTROLLER_RADIO)));
    Command(KEYBOARD_RADIO, BN_CLICKED);
    EXPECT_EQ(Pad_GetCount(PAD_CONTROLLER), 1u);
    Command(PLAY_BUTTON, BN_CLICKED);
    EXPECT_EQ(Pad_GetCount(PAD_CONTROLLER), 0u);
}

}  // namespace
