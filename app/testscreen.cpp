#include "app/testscreen.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/mainview.h"
#include "app/pad.h"
#include "app/shell.h"
#include "app/state.h"
#include "gfx/core/camera.h"
#include "gfx/core/im2d.h"
#include "gfx/core/renderstate.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/dinput/dinput.h"
#include "platform/win32/sysfile.h"
#include "platform/win32/system.h"

namespace {

constexpr float kKeyboardSpeed = 240.0f;  // pixels per second
constexpr float kStickReach = 48.0f;      // pixels at full deflection
constexpr float kBarScale = 6000.0f;      // pixels per second of frame time: 1/60 s is 100 px

struct TestScreen {
    float keyboardX, keyboardY;
    uint32_t startMs;   // first update, 0 before it
    bool headless;
    bool capturing;     // the last frame is being written
};

TestScreen g_screen = {};

struct Vertex2D {  // the immediate-mode 2D vertex
    float x, y, z, rhw;
    uint32_t colour;
    float u, v;
};

bool AnyHeld(const Pad* pad, uint32_t from, uint32_t to)
{
    for (uint32_t i = from; i <= to; i++)
        if (Pad_IsDown(pad, i)) return true;
    return false;
}

void Quad(std::vector<Vertex2D>& out, float x0, float y0, float x1, float y1, uint32_t colour)
{
    float z = Im2D_GetNearScreenZ();
    Camera* camera = MainView_GetCamera();
    float rhw = camera ? 1.0f / camera->nearPlane : 1.0f;
    Vertex2D a = {x0, y0, z, rhw, colour, 0, 0}, b = {x1, y0, z, rhw, colour, 0, 0};
    Vertex2D c = {x0, y1, z, rhw, colour, 0, 0}, d = {x1, y1, z, rhw, colour, 0, 0};
    out.insert(out.end(), {a, b, c, c, b, d});
}

void Square(std::vector<Vertex2D>& out, float cx, float cy, uint32_t colour)
{
    float h = TEST_SCREEN_SQUARE * 0.5f;
    Quad(out, cx - h, cy - h, cx + h, cy + h, colour);
}

GameState* Update(GameState* state, float frameTime)
{
    TestScreen& s = g_screen;
    uint32_t now = App_GetTimeMs();
    if (s.startMs == 0) s.startMs = now;
    if (s.capturing) {
        char folder[1024];
        SysFile_GetCurrentFolder(folder, sizeof folder);
        printf("The test screen's last frame is %s/%s\n", folder, TEST_SCREEN_PNG);
        fflush(stdout);
        D3D8Present_CaptureFrame(0, nullptr);
        return nullptr;
    }
    Pad* keyboard = Pad_Get(PAD_KEYBOARD, 0);
    if (Pad_IsDown(keyboard, DIK_ESCAPE)) return nullptr;
    float step = kKeyboardSpeed * frameTime;
    s.keyboardX += step * (Pad_GetValue(keyboard, DIK_RIGHT) - Pad_GetValue(keyboard, DIK_LEFT));
    s.keyboardY += step * (Pad_GetValue(keyboard, DIK_DOWN) - Pad_GetValue(keyboard, DIK_UP));
    s.keyboardX = std::clamp(s.keyboardX, 0.0f, (float)App_GetScreenWidth());
    s.keyboardY = std::clamp(s.keyboardY, 0.0f, (float)App_GetScreenHeight());
    if (s.headless && (uint32_t)(now - s.startMs) >= TEST_SCREEN_HEADLESS_MS) {
        // This frame is presented and written; the next tick ends the screen.
        D3D8Present_CaptureFrame(0, TEST_SCREEN_PNG);
        s.capturing = true;
    }
    return state;
}

void Render(GameState*)
{
    TestScreen& s = g_screen;
    float w = (float)App_GetScreenWidth(), h = (float)App_GetScreenHeight();
    std::vector<Vertex2D> v;
    Quad(v, 0, 0, w, h, TEST_SCREEN_BACKGROUND);
    for (uint32_t i = 0; i < Pad_GetCount(PAD_CONTROLLER); i++) {
        Pad* pad = Pad_Get(PAD_CONTROLLER, i);
        if (!pad) continue;
        float x = 64.0f + 96.0f * (float)i + kStickReach * Pad_GetValue(pad, 4);
        float y = 80.0f - kStickReach * Pad_GetValue(pad, 5);  // value 5 is positive up
        Square(v, x, y, AnyHeld(pad, 16, 29) ? 0xFF80FF80 : 0xFF308040);
    }
    Pad* mouse = Pad_Get(PAD_MOUSE, 0);
    if (mouse) Square(v, Pad_GetValue(mouse, 0), Pad_GetValue(mouse, 1), AnyHeld(mouse, 2, 3) ? 0xFFFFC080 : 0xFFA06030);
    Pad* keyboard = Pad_Get(PAD_KEYBOARD, 0);
    Square(v, s.keyboardX, s.keyboardY, AnyHeld(keyboard, 0, 237) ? TEST_SCREEN_KEYBOARD_HELD : TEST_SCREEN_KEYBOARD);
    float bar = std::min(w - 32.0f, App_GetFrameTime() * kBarScale);
    Quad(v, 16, h - 24, 16 + bar, h - 16, 0xFFE0C040);
    RenderState_Set(RS_TEXTURERASTER, nullptr);
    RenderState_Set(RS_ZTESTENABLE, (void*)(uintptr_t)0);
    RenderState_Set(RS_ZWRITEENABLE, (void*)(uintptr_t)0);
    RenderState_Set(RS_VERTEXALPHAENABLE, (void*)(uintptr_t)0);
    RenderState_Set(RS_CULLMODE, (void*)(uintptr_t)1);  // no culling: the quads' winding does not matter
    Im2D_RenderPrimitive(3, v.data(), (int32_t)v.size());  // a triangle list
}

}  // namespace

GameState* TestScreen_Create(void)
{
    g_screen = TestScreen{};
    g_screen.keyboardX = App_GetScreenWidth() * 0.5f;
    g_screen.keyboardY = App_GetScreenHeight() * 0.5f;
    g_screen.headless = System_IsHeadless() != 0;
    printf("The game is not built yet: this is the shell's test screen (Escape quits)\n");
    fflush(stdout);
    GameState* state = State_Create();
    if (!state) return nullptr;
    State_SetUpdate(state, Update);
    State_SetRender(state, Render);
    return state;
}

void TestScreen_GetKeyboardSquare(float* x, float* y)
{
    if (x) *x = g_screen.keyboardX;
    if (y) *y = g_screen.keyboardY;
}

void TestScreen_Reset(void) { g_screen = TestScreen{}; }
