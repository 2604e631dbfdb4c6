#include "platform/win32/message.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/win32/cursor.h"
#include "platform/win32/gdi.h"
#include "platform/win32/system.h"
#include "platform/win32/win32_test.h"

namespace {

// Every message a window procedure receives, as "window:message:wParam".
std::vector<std::string> g_log;

intptr_t RecordingProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    g_log.push_back(std::string(Window_GetTitle(window)) + ":" + std::to_string(message) + ":" +
                    std::to_string(wParam));
    if (message == WM_DESTROY) Message_PostQuit(7);
    return Window_DefProc(window, message, wParam, lParam);
}

intptr_t BlackProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message == WM_ERASEBKGND) {
        Gdi_PatBlt((GdiContext*)wParam, 0, 0, 10, 10, GDI_BLACKNESS);
        return 1;
    }
    return Window_DefProc(window, message, wParam, lParam);
}

class MessageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Win32Test_ResetAll();
        g_log.clear();
        WindowClassInfo info = {0, RecordingProc, nullptr, 32512, "TestClass"};
        ASSERT_EQ(WindowClass_Register(&info), 1);
    }
    void TearDown() override { Win32Test_ResetAll(); }

    // Takes and dispatches every waiting message for `filter`.
    static int Drain(Window* filter = nullptr)
    {
        int n = 0;
        WindowMessage msg;
        while (Message_Peek(&msg, filter, 0, 0, MESSAGE_REMOVE)) {
            Message_Dispatch(&msg);
            n++;
        }
        return n;
    }
    static Window* Make(const char* title, uint32_t style = 0, int32_t w = 0, int32_t h = 0)
    {
        return Window_CreateEx(0, "TestClass", title, style, 0, 0, w, h, nullptr, nullptr);
    }
};

TEST_F(MessageTest, ClassesAreUniqueByNameAndWindowsNeedOne)
{
    WindowClassInfo again = {0, RecordingProc, nullptr, 0, "testclass"};
    EXPECT_EQ(WindowClass_Register(&again), 0);
    EXPECT_EQ(Make("x") == nullptr, false);
    EXPECT_EQ(Window_CreateEx(0, "Nope", "x", 0, 0, 0, 0, 0, nullptr, nullptr), nullptr);
    EXPECT_EQ(WindowClass_Unregister("TESTCLASS", nullptr), 1);
    EXPECT_EQ(WindowClass_Unregister("TestClass", nullptr), 0);
    EXPECT_EQ(Make("y"), nullptr);
    WindowClassInfo noProc = {0, nullptr, nullptr, 0, "Other"};
    EXPECT_EQ(WindowClass_Register(&noProc), 0);
}

TEST_F(MessageTest, AWindowFilterLeavesOtherMessagesQueuedAndNullTakesQuit)
{
    Window* a = Make("a");
    Window* b = Make("b");
    ASSERT_TRUE(a && b);
    Message_Post(a, WM_USER, 1, 0);
    Message_Post(b, WM_USER, 2, 0);
    Message_PostQuit(3);
    EXPECT_EQ(Drain(b), 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"b:1024:2"}));
    EXPECT_EQ(Message_QueueLength(), 2);  // a's message and the quit
    WindowMessage msg;
    ASSERT_EQ(Message_Peek(&msg, nullptr, 0, 0, MESSAGE_REMOVE), 1);
    EXPECT_EQ(msg.window, a);
    ASSERT_EQ(Message_Peek(&msg, nullptr, 0, 0, MESSAGE_NOREMOVE), 1);
    EXPECT_EQ(std::make_pair(msg.message, msg.wParam), std::make_pair((uint32_t)WM_QUIT, (uintptr_t)3));
    EXPECT_EQ(Message_Peek(&msg, a, 0, 0, MESSAGE_REMOVE), 0);  // a filter never takes the quit
    EXPECT_EQ(Message_Post((Window*)&msg, WM_USER, 0, 0), 0);  // not a window
}

TEST_F(MessageTest, CloseDestroysOnceAndDropsTheWindowsQueuedMessages)
{
    Window* w = Make("w");
    ASSERT_NE(w, nullptr);
    Message_Post(w, WM_CLOSE, 0, 0);
    Message_Post(w, WM_USER, 0, 0);
    WindowMessage msg;
    ASSERT_EQ(Message_Peek(&msg, nullptr, 0, 0, MESSAGE_REMOVE), 1);
    Message_Dispatch(&msg);  // default processing of the close destroys
    EXPECT_EQ(g_log, (std::vector<std::string>{"w:16:0", "w:2:0"}));
    // The window's own message went with it; the quit its procedure posted stays.
    ASSERT_EQ(Message_Peek(&msg, nullptr, 0, 0, MESSAGE_REMOVE), 1);
    EXPECT_EQ(std::make_pair(msg.message, msg.wParam), std::make_pair((uint32_t)WM_QUIT, (uintptr_t)7));
    EXPECT_EQ(Window_Destroy(w), 0);  // a second destroy is harmless
    EXPECT_EQ(g_log.size(), 2u);
    EXPECT_EQ(Message_Send(w, WM_USER, 0, 0), 0);
}

TEST_F(MessageTest, SdlEventsBecomeMessagesOfTheirWindowOrTheForegroundOne)
{
    Window* shown = Make("shown", WINDOW_STYLE_POPUP | WINDOW_STYLE_CAPTION | WINDOW_STYLE_VISIBLE, 200, 150);
    if (!shown || !Window_SdlWindow(shown)) GTEST_SKIP() << "no SDL video";
    Drain();
    g_log.clear();
    EXPECT_EQ(Window_IsActive(shown), 1);
    ASSERT_EQ(Win32Test_PushFocus(shown, 0), 1);
    ASSERT_EQ(Win32Test_PushKey(0x1B, 1, 0), 1);     // Escape down
    ASSERT_EQ(Win32Test_PushKey(0x09, 1, 1), 1);     // Alt+Tab: a system key
    ASSERT_EQ(Win32Test_PushMouseButton(shown, 3, 1), 1);
    ASSERT_EQ(Win32Test_PushClose(shown), 1);
    Drain();
    EXPECT_EQ(g_log, (std::vector<std::string>{"shown:6:0", "shown:28:0", "shown:256:27", "shown:260:9",
                                               "shown:516:0", "shown:16:0", "shown:2:0"}));
    EXPECT_EQ(Window_IsLive(shown), 0);
}

TEST_F(MessageTest, ShownWindowsPaintTheirBackgroundAndTakeTheForeground)
{
    WindowClassInfo cover = {0, BlackProc, nullptr, 0, "Blank"};
    ASSERT_EQ(WindowClass_Register(&cover), 1);
    Window* hidden = Make("hidden", 0, 64, 64);
    ASSERT_NE(hidden, nullptr);
    EXPECT_EQ(Window_GetForeground(), nullptr);
    Window* blank = Window_CreateEx(WINDOW_EXSTYLE_TOPMOST, "Blank", "Blank", WINDOW_STYLE_POPUP | WINDOW_STYLE_VISIBLE,
                                    0, 0, 64, 64, nullptr, nullptr);
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(Gdi_GetLastFill(blank), 0xFF000000u);
    EXPECT_EQ(Window_GetForeground(), blank);
    Window_Show(hidden, 1);
    EXPECT_EQ(Window_GetForeground(), hidden);
}

TEST_F(MessageTest, PostingWakesTheWaitAndTheWaitHookReplacesIt)
{
    Message_Post(nullptr, WM_USER, 0, 0);
    EXPECT_EQ(Message_Wait(), 1);  // returns at once: something waits
    int calls = 0;
    Message_SetWaitHook([](void* arg) { ++*(int*)arg; }, &calls);
    Drain();
    EXPECT_EQ(Message_Wait(), 1);
    EXPECT_EQ(calls, 1);
}

TEST(CursorTest, CounterPositionAndClientConversion)
{
    Win32Test_ResetAll();
    EXPECT_EQ((std::vector<int>{Cursor_Show(0), Cursor_Show(0), Cursor_Show(1)}), (std::vector<int>{-1, -2, -1}));
    Window* w = Window_Create("c", 100, 80, WINDOW_HEADLESS);
    CursorPoint origin;
    ASSERT_EQ(Window_GetClientOrigin(w, &origin), 1);
    Cursor_SetPos(origin.x - 5, origin.y + 90);
    CursorPoint p;
    Cursor_GetPos(&p);
    ASSERT_EQ(Window_ScreenToClient(w, &p), 1);
    EXPECT_EQ(std::make_pair(p.x, p.y), std::make_pair(-5, 90));
    EXPECT_EQ(Cursor_Clip(nullptr), 1);
    Window_Destroy(w);
    EXPECT_EQ(Window_ScreenToClient(w, &p), 0);
    Win32Test_ResetAll();
    EXPECT_EQ(Cursor_GetShowCount(), 0);
}

TEST(SystemTest, KeyboardHookIsAcceptedAndTheAsyncStateFollowsKeyEvents)
{
    Win32Test_ResetAll();
    SystemVersionInfo version;
    ASSERT_EQ(System_GetVersion(&version), 1);
    EXPECT_EQ(version.platformId, 2u);
    auto proc = [](int32_t, uintptr_t, intptr_t) -> intptr_t { return 1; };
    EXPECT_EQ(System_SetWindowsHook(2, proc, nullptr, 0), nullptr);
    SystemHook* hook = System_SetWindowsHook(SYSTEM_WH_KEYBOARD_LL, proc, nullptr, 0);
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(System_GetHookCount(), 1);
    EXPECT_EQ(System_UnhookWindowsHook(hook), 1);
    EXPECT_EQ(System_GetHookCount(), 0);

    EXPECT_EQ(System_GetAsyncKeyState(0x11), 0);
    ASSERT_EQ(Win32Test_PushKey(0x11, 1, 0), 1);
    EXPECT_EQ((uint16_t)System_GetAsyncKeyState(0x11), 0x8000u);
    ASSERT_EQ(Win32Test_PushKey(0x11, 0, 0), 1);
    EXPECT_EQ(System_GetAsyncKeyState(0x11), 0);
    EXPECT_EQ(System_GetMetrics(SYSTEM_CXSCREEN) > 0, true);
    Win32Test_ResetAll();
}

TEST(SystemTest, CodePageConversionRoundTripsAndRefusesBadInput)
{
    const char* text = "Streams\\VIDEO\\caf\xC3\xA9 \xF0\x9F\x8E\xAC.mpg";
    int32_t units = System_MultiByteToWideChar(SYSTEM_CP_ACP, 0, text, -1, nullptr, 0);
    ASSERT_GT(units, 0);
    std::u16string wide((size_t)units, u'\0');
    ASSERT_EQ(System_MultiByteToWideChar(SYSTEM_CP_ACP, 0, text, -1, wide.data(), units), units);
    EXPECT_EQ(System_MultiByteToWideChar(SYSTEM_CP_ACP, 0, text, -1, wide.data(), units - 1), 0);
    char back[64];
    ASSERT_EQ(System_WideCharToMultiByte(SYSTEM_CP_ACP, 0, wide.data(), -1, back, sizeof back), (int32_t)strlen(text) + 1);
    EXPECT_STREQ(back, text);
    EXPECT_EQ(System_MultiByteToWideChar(SYSTEM_CP_ACP, 0, "\xC3", 1, wide.data(), units), 0);
    EXPECT_EQ(System_MultiByteToWideChar(SYSTEM_CP_ACP, 0, "\xC0\x80", 2, wide.data(), units), 0);  // overlong
}

}  // namespace
