#include "platform/win32/system.h"

#include <SDL2/SDL.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/message.h"
#include "platform/win32/window_internal.h"

struct SystemHook {
    int32_t kind;
    SystemHookProc procedure;
};

namespace {

struct SystemModule {
    int32_t screenWidth = 0, screenHeight = 0;  // 0: not read yet
    std::vector<SystemHook*> hooks;             // in the order installed; the newest is called first
    bool filtering = false;                     // the key filter that runs the hooks is installed
    bool inHook = false;                        // a hook procedure runs (from inside SDL's event pump)
    bool keyDown[256] = {};
    bool watching = false;
    uint32_t screenSaverRunning = 0;
};

SystemModule& M()
{
    static SystemModule m;
    return m;
}

void ReadScreen()
{
    SystemModule& m = M();
    if (m.screenWidth > 0) return;
    m.screenWidth = 1024;
    m.screenHeight = 768;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return;
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0) {
        m.screenWidth = mode.w;
        m.screenHeight = mode.h;
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

int KeyWatch(void*, SDL_Event* e)
{
    if (e->type != SDL_KEYDOWN && e->type != SDL_KEYUP) return 1;
    uint32_t vk = Message_VirtualKey(e->key.keysym.sym);
    if (vk && vk < 256) M().keyDown[vk] = e->type == SDL_KEYDOWN;
    return 1;
}

// The low-level keyboard hooks see every key event a window of ours gets,
// before anything else does (the message queue, the key state, DirectInput's
// watch): an event a hook swallows is dropped. SDL calls its filter ahead of
// its watches and its queue. Keys the desktop takes before any window sees
// them never get here.
int KeyFilter(void*, SDL_Event* e)
{
    SystemModule& m = M();
    if ((e->type != SDL_KEYDOWN && e->type != SDL_KEYUP) || m.hooks.empty() || m.inHook) return 1;
    const uint32_t vk = Message_VirtualKey(e->key.keysym.sym);
    if (!vk) return 1;
    const bool down = e->type == SDL_KEYDOWN;
    const bool alt = (e->key.keysym.mod & KMOD_ALT) != 0;
    KeyboardHookRecord record = {vk, (uint32_t)e->key.keysym.scancode, 0, e->key.timestamp, 0};
    if (alt) record.flags |= SYSTEM_LLKHF_ALTDOWN;
    if (!down) record.flags |= SYSTEM_LLKHF_UP;
    const uintptr_t message = alt ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
    m.inHook = true;
    const intptr_t swallowed = m.hooks.back()->procedure(SYSTEM_HC_ACTION, message, (intptr_t)&record);
    m.inHook = false;
    return swallowed ? 0 : 1;
}

// One code point from UTF-8 at text[*i]; false for malformed input.
bool NextUtf8(const uint8_t* text, size_t length, size_t* i, uint32_t* cp)
{
    uint8_t b = text[(*i)++];
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0) return false;
    uint32_t value = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 0; k < extra; k++) {
        if (*i >= length || (text[*i] & 0xC0) != 0x80) return false;
        value = value << 6 | (text[(*i)++] & 0x3F);
    }
    static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (value < kMin[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    *cp = value;
    return true;
}

}  // namespace

int32_t System_GetMetrics(int32_t index)
{
    if (index != SYSTEM_CXSCREEN && index != SYSTEM_CYSCREEN) return 0;
    ReadScreen();
    return index == SYSTEM_CXSCREEN ? M().screenWidth : M().screenHeight;
}

void System_ResetMetrics() { M().screenWidth = M().screenHeight = 0; }

int32_t System_MessageBox(Window*, const char* text, const char* caption, uint32_t)
{
    fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    fflush(stderr);
    return SYSTEM_IDOK;
}

int32_t System_GetVersion(SystemVersionInfo* info)
{
    if (!info) return 0;
    *info = SystemVersionInfo{5, 1, 2600, 2};
    return 1;
}

SystemHook* System_SetWindowsHook(int32_t kind, SystemHookProc procedure, void*, uint32_t)
{
    if (kind != SYSTEM_WH_KEYBOARD_LL || !procedure) return nullptr;
    SystemModule& m = M();
    SystemHook* hook = new SystemHook{kind, procedure};
    m.hooks.push_back(hook);
    if (!m.filtering) {
        SDL_SetEventFilter(KeyFilter, nullptr);
        m.filtering = true;
    }
    return hook;
}

int32_t System_UnhookWindowsHook(SystemHook* hook)
{
    std::vector<SystemHook*>& hooks = M().hooks;
    for (size_t i = 0; i < hooks.size(); i++) {
        if (hooks[i] == hook) {
            hooks.erase(hooks.begin() + (ptrdiff_t)i);
            delete hook;
            return 1;
        }
    }
    return 0;
}

intptr_t System_CallNextHook(SystemHook* hook, int32_t code, uintptr_t wParam, intptr_t lParam)
{
    std::vector<SystemHook*>& hooks = M().hooks;
    for (size_t i = hooks.size(); i-- > 1;)
        if (hooks[i] == hook) return hooks[i - 1]->procedure(code, wParam, lParam);
    return 0;
}

int32_t System_GetHookCount() { return (int32_t)M().hooks.size(); }

int32_t System_ParametersInfo(uint32_t action, uint32_t param, void*, uint32_t)
{
    if (action == 97) M().screenSaverRunning = param;
    return 1;
}

uint32_t System_GetScreenSaverRunning() { return M().screenSaverRunning; }

int16_t System_GetAsyncKeyState(int32_t virtualKey)
{
    if (virtualKey < 0 || virtualKey > 255) return 0;
    System_WatchKeys();
    // A hook asking from inside the event pump sees the state as it stands.
    if (SDL_WasInit(SDL_INIT_EVENTS) && !M().inHook) SDL_PumpEvents();
    return M().keyDown[virtualKey] ? (int16_t)0x8000 : 0;
}

void System_Sleep(uint32_t ms)
{
    uint64_t end = SDL_GetTicks64() + ms;
    for (;;) {
        // Peeking nothing still runs the idle hook; nothing is removed.
        Message_Peek(nullptr, nullptr, WM_NULL, WM_NULL, MESSAGE_NOREMOVE);
        uint64_t now = SDL_GetTicks64();
        if (now >= end) break;
        uint64_t left = end - now;
        SDL_Delay((uint32_t)(left < 5 ? left : 5));
    }
}

namespace {

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

int32_t System_StartAudio()
{
    static bool quiet = false;
    if (!quiet) {
        quiet = true;
        // The library SDL loads (one copy per process): not there, nothing to quiet.
        void* alsa = dlopen("libasound.so.2", RTLD_LAZY);
        typedef int (*SetHandler)(void (*)(const char*, int, const char*, int, const char*, ...));
        if (SetHandler set = alsa ? (SetHandler)dlsym(alsa, "snd_lib_error_set_handler") : nullptr) set(QuietAlsa);
    }
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

int32_t System_IsHeadless()
{
    if (Window_GetHeadless()) return 1;
    const char* driver = nullptr;
    bool started = false;
    if (!SDL_WasInit(SDL_INIT_VIDEO)) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return 1;
        started = true;
    }
    driver = SDL_GetCurrentVideoDriver();
    int32_t headless = !driver || strcmp(driver, "offscreen") == 0 || strcmp(driver, "dummy") == 0;
    if (started) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return headless;
}

int32_t System_MultiByteToWideChar(uint32_t, uint32_t, const char* text, int32_t length, char16_t* out, int32_t size)
{
    if (!text || size < 0) return 0;
    size_t n = length < 0 ? strlen(text) + 1 : (size_t)length;
    std::u16string units;
    for (size_t i = 0; i < n;) {
        uint32_t cp;
        if (!NextUtf8((const uint8_t*)text, n, &i, &cp)) return 0;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            units += (char16_t)(0xD800 + (cp >> 10));
            units += (char16_t)(0xDC00 + (cp & 0x3FF));
        } else {
            units += (char16_t)cp;
        }
    }
    if (size == 0) return (int32_t)units.size();
    if (!out || units.size() > (size_t)size) return 0;
    memcpy(out, units.data(), units.size() * sizeof(char16_t));
    return (int32_t)units.size();
}

int32_t System_WideCharToMultiByte(uint32_t, uint32_t, const char16_t* text, int32_t length, char* out, int32_t size)
{
    if (!text || size < 0) return 0;
    size_t n = 0;
    if (length < 0) {
        while (text[n]) n++;
        n++;
    } else {
        n = (size_t)length;
    }
    std::string bytes;
    for (size_t i = 0; i < n; i++) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= n || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return 0;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return 0;
        }
        if (cp < 0x80) {
            bytes += (char)cp;
        } else if (cp < 0x800) {
            bytes += (char)(0xC0 | cp >> 6);
            bytes += (char)(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            bytes += (char)(0xE0 | cp >> 12);
            bytes += (char)(0x80 | ((cp >> 6) & 0x3F));
            bytes += (char)(0x80 | (cp & 0x3F));
        } else {
            bytes += (char)(0xF0 | cp >> 18);
            bytes += (char)(0x80 | ((cp >> 12) & 0x3F));
            bytes += (char)(0x80 | ((cp >> 6) & 0x3F));
            bytes += (char)(0x80 | (cp & 0x3F));
        }
    }
    if (size == 0) return (int32_t)bytes.size();
    if (!out || bytes.size() > (size_t)size) return 0;
    memcpy(out, bytes.data(), bytes.size());
    return (int32_t)bytes.size();
}

void System_WatchKeys()
{
    SystemModule& m = M();
    if (m.watching || !Window_InitEvents()) return;
    SDL_AddEventWatch(KeyWatch, nullptr);
    m.watching = true;
}

void System_ResetAll()
{
    SystemModule& m = M();
    for (SystemHook* hook : m.hooks) delete hook;
    m.hooks.clear();
    if (m.filtering) SDL_SetEventFilter(nullptr, nullptr);
    m.filtering = false;
    memset(m.keyDown, 0, sizeof m.keyDown);
    m.screenSaverRunning = 0;
    System_ResetMetrics();
}
