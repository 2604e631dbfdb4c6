#include "platform/win32/window.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

// A headless window answers like the user left it: minimised, restored,
// resized, maximised, hidden and shown again; its outer size for a client
// area round-trips.
TEST(WindowTest, HeadlessWindowAnswersLikeTheUserLeftIt)
{
    Window *w = Window_Create("t", 640, 480, WINDOW_HEADLESS);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(Window_SdlWindow(w), nullptr);
    WindowRect r = {};
    ASSERT_EQ(Window_GetClientRect(w, &r), 1);
    EXPECT_EQ(std::make_pair(r.right, r.bottom), std::make_pair(640, 480));
    Window_UserMinimise(w, 1);
    EXPECT_EQ(Window_IsIconic(w), 1);
    Window_GetClientRect(w, &r);
    EXPECT_EQ(r.right, 0);
    Window_GetWindowRect(w, &r);
    EXPECT_EQ(r.right - r.left, 0);  // a minimised window has no outer area either
    Window_Show(w, 0);
    EXPECT_EQ(Window_IsVisible(w), 0);
    Window_Show(w, 1);
    EXPECT_EQ(Window_IsVisible(w), 1);
    EXPECT_EQ(Window_IsIconic(w), 0);  // restored
    Window_UserResize(w, 800, 600);
    Window_GetClientRect(w, &r);
    EXPECT_EQ(r.right, 800);
    EXPECT_EQ(Window_GetClientRect(nullptr, &r), 0);

    Window_UserMaximise(w, 1);
    uint32_t style = Window_GetStyle(w);
    EXPECT_NE(style & WINDOW_STYLE_MAXIMIZE, 0u);
    Window_SetStyle(w, style & ~WINDOW_STYLE_MAXIMIZE);
    EXPECT_EQ(Window_GetStyle(w) & WINDOW_STYLE_MAXIMIZE, 0u);
    WindowRect outer = {0, 0, 640, 480};
    ASSERT_EQ(Window_AdjustRect(&outer, Window_GetStyle(w), Window_HasMenu(w), Window_GetExStyle(w)), 1);
    EXPECT_GT(outer.right - outer.left, 640);
    EXPECT_GT(outer.bottom - outer.top, 480);
    ASSERT_EQ(Window_SetOuterSize(w, outer.right - outer.left, outer.bottom - outer.top), 1);
    Window_GetClientRect(w, &r);
    EXPECT_EQ(std::make_pair(r.right, r.bottom), std::make_pair(640, 480));
    Window_GetWindowRect(w, &r);
    EXPECT_EQ(r.right - r.left, outer.right - outer.left);
    EXPECT_EQ(Window_SetOuterSize(w, -1, 5), 0);
    Window_Destroy(w);
    EXPECT_EQ(Window_Create("t", 0, 10, WINDOW_HEADLESS), nullptr);
}

TEST(WindowTest, SdlWindowReportsItsClientSize)
{
    Window *w = Window_Create("t", 160, 120, 0);
    if (!w) GTEST_SKIP() << "no SDL video";
    EXPECT_NE(Window_SdlWindow(w), nullptr);
    WindowRect r = {};
    Window_GetClientRect(w, &r);
    EXPECT_EQ(std::make_pair(r.right, r.bottom), std::make_pair(160, 120));
    Window_Destroy(w);
}

}  // namespace
