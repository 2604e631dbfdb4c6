#include "platform/win32/message.h"

#include <SDL2/SDL.h>
#include <signal.h>
#include <unistd.h>

#include <deque>

#include "platform/win32/cursor.h"
#include "platform/win32/gdi.h"
#include "platform/win32/window_internal.h"

namespace {

// Module record of the queue.
struct MessageModule {
    std::deque<WindowMessage> queue;
    MessageIdleHook idle = nullptr;
    void* idleArg = nullptr;
    MessageWaitHook wait = nullptr;
    void* waitArg = nullptr;
    uint32_t wakeEvent = 0;  // SDL user event that wakes SDL_WaitEvent after a post
    bool inIdle = false;     // the idle hook may peek itself
};

MessageModule& M()
{
    static MessageModule m;
    return m;
}

// SIGINT and SIGTERM (Message_HandleQuitSignals): the first received, and
// whether the pump has asked the main window to close for it.
volatile sig_atomic_t g_quitSignal = 0;
bool g_quitAsked = false;
constexpr unsigned kQuitGraceSeconds = 1;

// Ends the process by the signal, as if it had no handler.
[[noreturn]] void EndBySignal(int sig)
{
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

void OnQuitSignal(int sig)
{
    if (g_quitSignal) EndBySignal(sig);
    g_quitSignal = sig;
    alarm(kQuitGraceSeconds);
}

void OnQuitDeadline(int) { EndBySignal(g_quitSignal ? (int)g_quitSignal : SIGTERM); }

intptr_t PackPoint(int32_t x, int32_t y) { return (intptr_t)(((uint32_t)y & 0xFFFF) << 16 | ((uint32_t)x & 0xFFFF)); }

// The window an input event belongs to: the one owning its SDL window, else
// the foreground window.
Window* TargetOf(uint32_t sdlWindowId)
{
    Window* w = Window_FromSdlId(sdlWindowId);
    return w ? w : Window_GetForeground();
}

void Queue(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    M().queue.push_back(WindowMessage{window, message, wParam, lParam});
}

void TranslateWindowEvent(const SDL_WindowEvent& e)
{
    Window* w = Window_FromSdlId(e.windowID);
    if (!w) return;
    switch (e.event) {
        case SDL_WINDOWEVENT_FOCUS_GAINED:
        case SDL_WINDOWEVENT_FOCUS_LOST: {
            int32_t active = e.event == SDL_WINDOWEVENT_FOCUS_GAINED;
            w->active = active;
            // Any deactivation sends 0: no minimised flag in the high word.
            Queue(w, WM_ACTIVATE, (uintptr_t)active, 0);
            Queue(w, WM_ACTIVATEAPP, (uintptr_t)active, 0);
            break;
        }
        case SDL_WINDOWEVENT_CLOSE: Queue(w, WM_CLOSE, 0, 0); break;
        case SDL_WINDOWEVENT_SIZE_CHANGED: Queue(w, WM_SIZE, 0, PackPoint(e.data1, e.data2)); break;
        case SDL_WINDOWEVENT_EXPOSED: Queue(w, WM_PAINT, 0, 0); break;
        default: break;
    }
}

void TranslateKey(const SDL_KeyboardEvent& e)
{
    Window* w = TargetOf(e.windowID);
    if (!w) return;
    bool down = e.type == SDL_KEYDOWN;
    bool alt = (e.keysym.mod & KMOD_ALT) != 0;
    uint32_t message = alt ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
    // lParam: repeat count 1, the scan code, and for releases the previous
    // state and transition bits.
    intptr_t lParam = 1 | (intptr_t)((e.keysym.scancode & 0xFF) << 16);
    if (!down) lParam |= (intptr_t)0xC0000000u;
    uint32_t vk = Message_VirtualKey(e.keysym.sym);
    if (vk) Queue(w, message, vk, lParam);
}

// The oldest window with an SDL window (the application's main window) is
// asked to close; without one the loop is asked to end.
void AskToClose()
{
    Window* oldest = nullptr;
    for (Window* w : Window_LiveList())
        if (w->sdl && (!oldest || w->serial < oldest->serial)) oldest = w;
    if (oldest) Queue(oldest, WM_CLOSE, 0, 0);
    else Queue(nullptr, WM_QUIT, 0, 0);
}

void Translate(const SDL_Event& e)
{
    switch (e.type) {
        case SDL_WINDOWEVENT: TranslateWindowEvent(e.window); break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: TranslateKey(e.key); break;
        case SDL_MOUSEMOTION: {
            Window* w = TargetOf(e.motion.windowID);
            Cursor_NoteMotion(Window_FromSdlId(e.motion.windowID), e.motion.x, e.motion.y);
            if (w) Queue(w, WM_MOUSEMOVE, 0, PackPoint(e.motion.x, e.motion.y));
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            Window* w = TargetOf(e.button.windowID);
            bool down = e.type == SDL_MOUSEBUTTONDOWN;
            uint32_t message = 0;
            if (e.button.button == SDL_BUTTON_LEFT) message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
            if (e.button.button == SDL_BUTTON_RIGHT) message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
            if (e.button.button == SDL_BUTTON_MIDDLE) message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
            if (w && message) Queue(w, message, 0, PackPoint(e.button.x, e.button.y));
            break;
        }
        case SDL_QUIT: AskToClose(); break;
        default: break;  // the wake event and everything else
    }
}

void Pump()
{
    if (g_quitSignal && !g_quitAsked) {
        g_quitAsked = true;
        AskToClose();
    }
    if (!SDL_WasInit(SDL_INIT_EVENTS)) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) Translate(e);
}

void RunIdle()
{
    MessageModule& m = M();
    if (m.idle && !m.inIdle) {
        m.inIdle = true;
        m.idle(m.idleArg);
        m.inIdle = false;
    }
}

bool Matches(const WindowMessage& msg, Window* filter, uint32_t first, uint32_t last)
{
    if (filter && msg.window != filter && !(msg.window && msg.window->parent == filter)) return false;
    if ((first || last) && (msg.message < first || msg.message > last)) return false;
    return true;
}

}  // namespace

int32_t Message_Peek(WindowMessage* out, Window* filter, uint32_t first, uint32_t last, uint32_t flags)
{
    Pump();
    RunIdle();
    std::deque<WindowMessage>& queue = M().queue;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!Matches(*it, filter, first, last)) continue;
        if (out) *out = *it;
        // The loop ends now and shuts down as usual: the deadline is off.
        if (g_quitSignal && it->message == WM_QUIT && (flags & MESSAGE_REMOVE)) alarm(0);
        if (flags & MESSAGE_REMOVE) queue.erase(it);
        return 1;
    }
    return 0;
}

int32_t Message_Translate(const WindowMessage* message)
{
    if (!message) return 0;
    uint32_t m = message->message;
    return (m == WM_KEYDOWN || m == WM_KEYUP || m == WM_SYSKEYDOWN || m == WM_SYSKEYUP) ? 1 : 0;
}

intptr_t Message_Dispatch(const WindowMessage* message)
{
    if (!message) return 0;
    return Message_Send(message->window, message->message, message->wParam, message->lParam);
}

intptr_t Message_Send(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (!Window_IsLive(window) || !window->procedure) return 0;
    return window->procedure(window, message, wParam, lParam);
}

int32_t Message_Post(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (window && !Window_IsLive(window)) return 0;
    Queue(window, message, wParam, lParam);
    MessageModule& m = M();
    if (Window_InitEvents()) {
        if (!m.wakeEvent) m.wakeEvent = SDL_RegisterEvents(1);
        if (m.wakeEvent != (uint32_t)-1) {
            SDL_Event wake = {};
            wake.type = m.wakeEvent;
            SDL_PushEvent(&wake);
        }
    }
    return 1;
}

void Message_PostQuit(int32_t exitCode) { Message_Post(nullptr, WM_QUIT, (uintptr_t)exitCode, 0); }

int32_t Message_Wait()
{
    MessageModule& m = M();
    if (m.wait) {
        m.wait(m.waitArg);
        return 1;
    }
    if (!m.queue.empty()) return 1;
    if (!Window_InitEvents()) return 0;
    // A quit signal wakes no wait: it is looked for four times a second.
    while (!SDL_WaitEventTimeout(nullptr, 250))
        if (g_quitSignal) return 1;
    return 1;
}

void Message_HandleQuitSignals()
{
    // SDL would turn the signals into a quit event, which nothing takes
    // while the program is busy.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = OnQuitSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = OnQuitDeadline;
    sigaction(SIGALRM, &action, nullptr);
}

intptr_t Window_DefProc(Window* window, uint32_t message, uintptr_t /*wParam*/, intptr_t /*lParam*/)
{
    switch (message) {
        case WM_CLOSE: Window_Destroy(window); return 0;
        case WM_PAINT: Message_Paint(window); return 0;
        default: return 0;
    }
}

void Message_Paint(Window* window)
{
    if (!Window_IsLive(window) || !window->procedure) return;
    GdiContext* dc = Gdi_GetDC(window);
    Message_Send(window, WM_ERASEBKGND, (uintptr_t)dc, 0);
    Gdi_ReleaseDC(window, dc);
}

void Message_SetIdleHook(MessageIdleHook hook, void* arg)
{
    M().idle = hook;
    M().idleArg = arg;
}

void Message_SetWaitHook(MessageWaitHook hook, void* arg)
{
    M().wait = hook;
    M().waitArg = arg;
}

void Message_DropWindow(Window* window)
{
    std::deque<WindowMessage>& queue = M().queue;
    for (auto it = queue.begin(); it != queue.end();) it = it->window == window ? queue.erase(it) : it + 1;
}

void Message_ResetAll()
{
    MessageModule& m = M();
    m.queue.clear();
    m.idle = nullptr;
    m.wait = nullptr;
    if (SDL_WasInit(SDL_INIT_EVENTS)) SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
}

int32_t Message_QueueLength() { return (int32_t)M().queue.size(); }

uint32_t Message_VirtualKey(int32_t key)
{
    if (key >= 'a' && key <= 'z') return (uint32_t)(key - 'a' + 'A');
    if (key >= '0' && key <= '9') return (uint32_t)key;
    if (key >= SDLK_F1 && key <= SDLK_F12) return 0x70 + (uint32_t)(key - SDLK_F1);
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return 0x61 + (uint32_t)(key - SDLK_KP_1);
    switch (key) {
        case SDLK_BACKSPACE: return 0x08;
        case SDLK_TAB: return 0x09;
        case SDLK_RETURN: case SDLK_KP_ENTER: return 0x0D;
        case SDLK_LSHIFT: case SDLK_RSHIFT: return 0x10;
        case SDLK_LCTRL: case SDLK_RCTRL: return 0x11;
        case SDLK_LALT: case SDLK_RALT: return 0x12;
        case SDLK_PAUSE: return 0x13;
        case SDLK_CAPSLOCK: return 0x14;
        case SDLK_ESCAPE: return 0x1B;
        case SDLK_SPACE: return 0x20;
        case SDLK_PAGEUP: return 0x21;
        case SDLK_PAGEDOWN: return 0x22;
        case SDLK_END: return 0x23;
        case SDLK_HOME: return 0x24;
        case SDLK_LEFT: return 0x25;
        case SDLK_UP: return 0x26;
        case SDLK_RIGHT: return 0x27;
        case SDLK_DOWN: return 0x28;
        case SDLK_PRINTSCREEN: return 0x2C;
        case SDLK_INSERT: return 0x2D;
        case SDLK_DELETE: return 0x2E;
        case SDLK_LGUI: return 0x5B;
        case SDLK_RGUI: return 0x5C;
        case SDLK_APPLICATION: return 0x5D;
        case SDLK_KP_0: return 0x60;
        case SDLK_KP_MULTIPLY: return 0x6A;
        case SDLK_KP_PLUS: return 0x6B;
        case SDLK_KP_MINUS: return 0x6D;
        case SDLK_KP_PERIOD: return 0x6E;
        case SDLK_KP_DIVIDE: return 0x6F;
        case SDLK_NUMLOCKCLEAR: return 0x90;
        case SDLK_SCROLLLOCK: return 0x91;
        case SDLK_SEMICOLON: return 0xBA;
        case SDLK_EQUALS: return 0xBB;
        case SDLK_COMMA: return 0xBC;
        case SDLK_MINUS: return 0xBD;
        case SDLK_PERIOD: return 0xBE;
        case SDLK_SLASH: return 0xBF;
        case SDLK_BACKQUOTE: return 0xC0;
        case SDLK_LEFTBRACKET: return 0xDB;
        case SDLK_BACKSLASH: return 0xDC;
        case SDLK_RIGHTBRACKET: return 0xDD;
        case SDLK_QUOTE: return 0xDE;
        default: return 0;
    }
}
