#include "platform/win32/win32_test.h"

#include <SDL2/SDL.h>

#include "platform/win32/cursor.h"
#include "platform/win32/dialog.h"
#include "platform/win32/message.h"
#include "platform/win32/system.h"
#include "platform/win32/window_internal.h"

void Win32Test_ResetAll()
{
    Message_ResetAll();
    Window_ResetAll();
    Dialog_ResetAll();
    Cursor_ResetAll();
    System_ResetAll();
}

namespace {

uint32_t SdlIdOf(Window* window) { return Window_IsLive(window) ? window->sdlId : 0; }

// The keycode a scancode has on a US layout (SDL's own table needs a
// running video subsystem).
SDL_Keycode DefaultKey(int sc)
{
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'a' + (sc - SDL_SCANCODE_A);
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
    switch (sc) {
        case SDL_SCANCODE_0: return '0';
        case SDL_SCANCODE_RETURN: return SDLK_RETURN;
        case SDL_SCANCODE_ESCAPE: return SDLK_ESCAPE;
        case SDL_SCANCODE_BACKSPACE: return SDLK_BACKSPACE;
        case SDL_SCANCODE_TAB: return SDLK_TAB;
        case SDL_SCANCODE_SPACE: return SDLK_SPACE;
        default: return SDL_SCANCODE_TO_KEYCODE(sc);
    }
}

int Push(SDL_Event* e)
{
    if (!Window_InitEvents()) return 0;
    return SDL_PushEvent(e) == 1 ? 1 : 0;
}

}  // namespace

int Win32Test_PushScancode(int32_t scancode, int down, int alt)
{
    if (scancode <= 0 || scancode >= SDL_NUM_SCANCODES) return 0;
    SDL_Event e = {};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = (SDL_Scancode)scancode;
    e.key.keysym.sym = DefaultKey(scancode);
    e.key.keysym.mod = alt ? KMOD_LALT : KMOD_NONE;
    return Push(&e);
}

int Win32Test_PushKey(uint32_t virtualKey, int down, int alt)
{
    for (int sc = 0; sc < SDL_NUM_SCANCODES; sc++) {
        SDL_Keycode key = DefaultKey(sc);
        if (key != SDLK_UNKNOWN && Message_VirtualKey(key) == virtualKey) return Win32Test_PushScancode(sc, down, alt);
    }
    return 0;
}

int Win32Test_PushFocus(Window* window, int gained)
{
    SDL_Event e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
    e.window.windowID = SdlIdOf(window);
    return Push(&e);
}

int Win32Test_PushClose(Window* window)
{
    SDL_Event e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    e.window.windowID = SdlIdOf(window);
    return Push(&e);
}

int Win32Test_PushMouseMotion(Window* window, int32_t x, int32_t y)
{
    SDL_Event e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = SdlIdOf(window);
    e.motion.x = x;
    e.motion.y = y;
    return Push(&e);
}

int Win32Test_PushMouseButton(Window* window, int button, int down)
{
    SDL_Event e = {};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = SdlIdOf(window);
    e.button.button = (uint8_t)button;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    return Push(&e);
}
