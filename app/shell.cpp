#include "app/shell.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>

#include "app/cache.h"
#include "app/colour.h"
#include "app/config.h"
#include "app/devicedialog.h"
#include "app/file.h"
#include "app/hooks.h"
#include "app/input.h"
#include "app/mainview.h"
#include "app/pad.h"
#include "app/sound.h"
#include "app/soundbank.h"
#include "app/state.h"
#include "app/syskeys.h"
#include "app/testscreen.h"
#include "app/text.h"
#include "app/wad.h"
#include "common/cmdline.h"
#include "common/maths.h"
#include "common/memory.h"
#include "common/strings.h"
#include "gfx/core/arena.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/freelist.h"
#include "gfx/core/image.h"
#include "gfx/core/platform.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/plugin/collision/collision.h"
#include "gfx/plugin/hanim/hanim.h"
#include "gfx/plugin/matfx/matfx.h"
#include "gfx/plugin/random/random.h"
#include "gfx/plugin/skin/skin.h"
#include "gfx/toolkit/bmp/imagebmp.h"
#include "gfx/toolkit/2d/font2d.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "gfx/toolkit/png/imagepng.h"
#include "gfx/world/world.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/direct3d/d3d8_types.h"
#include "platform/win32/clock.h"
#include "platform/win32/cursor.h"
#include "platform/win32/message.h"
#include "platform/win32/mutex.h"
#include "platform/win32/system.h"
#include "platform/win32/win32_test.h"
#include "platform/win32/window.h"

namespace {

constexpr const char* kMutexName = "Tesk Mutex";
constexpr const char* kClassName = "TeskAppClass";
constexpr uint32_t kMainStyle = WINDOW_STYLE_POPUP | WINDOW_STYLE_CAPTION;  // 0x80C00000
constexpr uint32_t kArenaBytes = 0x300000;

// The shell's module values beside the application state record.
struct Shell {
    AppState state;
    const char* title;
    int32_t screenWidth, screenHeight;
    int quit;
    int active;
    int leftButton, rightButton;
    char commandLine[APP_COMMAND_LINE_SIZE];
    char* tokens[APP_MAX_TOKENS];
    int32_t tokenCount;
    int32_t pal;
    int32_t language;
    float dt;
    uint32_t lastTime;
    uint32_t terminateCountdown;
    Frame* rootFrame;
    char* versionText;
    Font* versionFont;
    int logoEscaped;  // a logo was skipped with Escape: later skippable ones return at once
    AppClock clock;
    const char* failedStep;  // what App_EngineOpen could not do, or null
    int hasRun;              // App_Main reached its main loop
    char failedRun[512];     // why the game cannot run (App_FailStart), or ""
};

Shell g_shell = {};

// The shell's own steps are named for the tests' start-up recording.
void Step(const char* name) { AppHooks_Trace(name); }

void CallInit(int (*hook)(void))
{
    if (hook) hook();
}

void CallShutdown(void (*hook)(void))
{
    if (hook) hook();
}

// The graphics plug-ins in their attachment order. Each one's globals lie
// at the offset this order gives it, so the order is part of the engine's
// layout.
struct PluginLink {
    const char* name;
    int32_t (*attach)(void);
};
const PluginLink kPluginChain[] = {
    {"World_PluginAttach", World_PluginAttach},
    {"Random_PluginAttach", Random_PluginAttach},
    {"Skin_PluginAttach", Skin_PluginAttach},
    {"HAnim_PluginAttach", HAnim_PluginAttach},
    {"GeomCollision_PluginAttach", GeomCollision_PluginAttach},
    {"MatFX_PluginAttach", MatFX_PluginAttach},
};

uint32_t SystemClock(void) { return Clock_GetMs(); }

// The random seed a test run fixes; kept apart from the shell record, which
// the start-up clears.
struct FixedSeed {
    bool set;
    unsigned value;
};
FixedSeed g_seed = {false, 0};

// The five services the graphics engine reaches through its forwarders.
char** CommandLineForEngine(int32_t* count) { return App_GetCommandLine(count); }

void InstallForwarders()
{
    PlatformFunctions functions = {App_GetTimeMs, App_IsPAL, App_GetLanguage, App_Terminate, CommandLineForEngine};
    Platform_Install(&functions);
    Text_SetLanguageQuery([]() -> int { return (int)App_GetLanguage(); });
}

void CopyCut(char* out, size_t size, const char* text)
{
    snprintf(out, size, "%s", text ? text : "");
}

int32_t LanguageFromName(const char* name)
{
    static const struct {
        const char* name;
        int32_t number;
    } kLanguages[] = {{"German", 2}, {"French", 3}, {"Spanish", 4}, {"Italian", 5}};
    for (const auto& l : kLanguages)
        if (name && strcasecmp(name, l.name) == 0) return l.number;
    return 0;
}

}  // namespace

namespace {

// A start that cannot go on: says which step failed, on one line.
int32_t StartFailed(const char* step)
{
    fprintf(stderr, "The game could not start: %s.\n", step);
    fflush(stderr);
    return APP_EXIT_START_FAILED;
}

// The window's size options: whole numbers of pixels, up to the largest
// surface the device makes. 0 with the refused value in `why`.
int CheckScreenSize(char* why, size_t size)
{
    Shell& s = g_shell;
    const int32_t most = (int32_t)D3D8_MAX_SURFACE_SIDE;
    int32_t read = 0;
    return CmdLine_GetIntInRange(s.tokenCount, s.tokens, "Width", 1, most, &read, why, size) &&
           CmdLine_GetIntInRange(s.tokenCount, s.tokens, "Height", 1, most, &read, why, size);
}

}  // namespace

int32_t App_Main(void* instance, void*, const char* commandLine, int32_t showCommand)
{
    g_shell.hasRun = 0;
    g_shell.failedRun[0] = 0;
    if (Mutex_CreateNamed(kMutexName) == MUTEX_EXISTS) {
        fprintf(stderr, "The game is already running: this copy ends.\n");
        fflush(stderr);
        return 0;
    }
    App_InitDefaults();
    App_ResetState();
    App_ParseCommandLine(commandLine);
    InstallForwarders();
    Shell& s = g_shell;
    char refused[128];
    if (!CheckScreenSize(refused, sizeof refused)) return StartFailed(refused);

    App_RegisterClass(instance);
    Window* window = App_CreateWindow(instance);
    s.state.window = window;
    s.state.showCommand = showCommand;
    s.state.instance = instance;
    if (!window) {
        char step[96];
        snprintf(step, sizeof step, "the window of %d x %d pixels could not be made", s.screenWidth, s.screenHeight);
        return StartFailed(step);
    }
    App_PreEngineInit();
    if (!App_EngineOpen(window)) {
        App_DestroyWindow();
        // Leaving the device dialog with "E&xit" is the user's choice.
        if (App_GetDeviceSelection()->userExit) return 0;
        return StartFailed(s.failedStep ? s.failedStep : "the graphics engine could not open");
    }
    App_DestroyBlankWindow();
    App_SuppressSystemKeys(0);
    if (s.state.fullScreen) {
        Window_SetStyle(window, WINDOW_STYLE_POPUP);
        Window_SetPos(window, 0, 0, 0, 0,
                      WINDOW_POS_NOSIZE | WINDOW_POS_NOMOVE | WINDOW_POS_NOZORDER | WINDOW_POS_FRAMECHANGED);
    }
    Window_Show(window, showCommand != 0);
    App_InitSystems();
    s.hasRun = 1;
    int32_t result = App_MainLoop();
    App_ShutdownSystems();
    App_EngineClose();
    App_DestroyWindow();
    return s.failedRun[0] ? StartFailed(s.failedRun) : result;
}

void App_FailStart(const char* why)
{
    if (!g_shell.failedRun[0]) CopyCut(g_shell.failedRun, sizeof g_shell.failedRun, why && *why ? why : "?");
}

void App_ParseCommandLine(const char* commandLine)
{
    Shell& s = g_shell;
    // The command line is cut to the buffer, never overflowing it.
    CopyCut(s.commandLine, sizeof s.commandLine, commandLine);
    int n = String_TokeniseWhitespace(s.commandLine, s.tokens, APP_MAX_TOKENS, 1);
    s.tokenCount = n < APP_MAX_TOKENS ? n : APP_MAX_TOKENS;
    uint32_t pal = 0;
    CmdLine_GetBools(s.tokenCount, s.tokens, 1, "PAL", &pal, nullptr);
    s.pal = (int32_t)pal;
    char* language = nullptr;
    CmdLine_GetStrings(s.tokenCount, s.tokens, 1, "Language", &language, nullptr);
    s.language = LanguageFromName(language);
    char* launch = nullptr;
    CmdLine_GetStrings(s.tokenCount, s.tokens, 1, "Launch", &launch, nullptr);
    if (launch) CopyCut(s.state.launch, sizeof s.state.launch, launch);
}

int App_InitDefaults(void)
{
    g_shell.title = "HELM Application";
    g_shell.screenWidth = g_shell.screenHeight = 0;
    g_shell.quit = 0;
    return 1;
}

int App_ResetState(void)
{
    g_shell.state = AppState{};
    g_shell.active = 1;
    g_shell.screenWidth = 640;
    g_shell.screenHeight = 480;
    return 1;
}

int32_t App_RegisterClass(void* instance)
{
    WindowClassInfo info = {0x2000, App_WndProc, instance, 32512, kClassName};
    return WindowClass_Register(&info);
}

Window* App_CreateWindow(void* instance)
{
    Shell& s = g_shell;
    CmdLine_GetInts(s.tokenCount, s.tokens, 0, "Width", &s.screenWidth, "Height", &s.screenHeight, nullptr);
    if (s.screenWidth < 1 || s.screenHeight < 1) return nullptr;  // no picture fits
    WindowRect outer = {0, 0, s.screenWidth, s.screenHeight};
    Window_AdjustRect(&outer, kMainStyle, 0, 0);
    auto create = [&]() {
        return Window_CreateEx(0, kClassName, s.title, kMainStyle, WINDOW_USEDEFAULT, WINDOW_USEDEFAULT,
                               outer.right - outer.left, outer.bottom - outer.top, nullptr, instance);
    };
    Window* window = create();
    if (!window && !Window_GetHeadless()) {
        // No display and no offscreen driver: run without an SDL window.
        Window_SetHeadless(1);
        window = create();
    }
    return window;
}

void App_DestroyWindow(void)
{
    // WM_DESTROY may have destroyed it already: a second destroy does nothing.
    Window_Destroy(g_shell.state.window);
}

int App_EngineOpen(Window* window)
{
    Image_InstallModule();
    Raster_InstallModule();
    Texture_InstallModule();
    D3D8_InstallDriver();
    D3D8Present_SetDesktopSize((uint32_t)System_GetMetrics(SYSTEM_CXSCREEN),
                               (uint32_t)System_GetMetrics(SYSTEM_CYSCREEN));
    g_shell.failedStep = "the graphics engine could not open";
    if (!Engine_Init(App_GetMemoryFunctions(), 0, 0)) return 0;
    ResourceArena_SetSize(kArenaBytes);
    App_AttachPlugins();
    g_shell.state.window = window;
    if (!Engine_Open(&g_shell.state.window)) {
        Engine_Term();
        return 0;
    }
    g_shell.failedStep = "no output device and video mode could be chosen";
    if (!App_SelectDevice()) {
        Engine_Close();
        Engine_Term();
        return 0;
    }
    g_shell.failedStep = "the device could not start in the chosen video mode";
    if (!Engine_Start()) {
        Engine_Close();
        Engine_Term();
        return 0;
    }
    g_shell.failedStep = nullptr;
    App_RegisterImageFormats();
    return 1;
}

void App_EngineClose(void)
{
    Engine_Stop();
    Engine_Close();
    Engine_Term();
}

int App_AttachPlugins(void)
{
    for (const PluginLink& link : kPluginChain) {
        Step(link.name);
        if (link.attach && !link.attach()) return 0;
    }
    const AppHooks* hooks = AppHooks_Get();
    if (hooks->renderObjRegisterPlugin) hooks->renderObjRegisterPlugin();
    return 1;
}

int App_RegisterImageFormats(void)
{
    return Image_RegisterFileFormat("bmp", ImageBmp_Read, ImageBmp_Write) &&
           Image_RegisterFileFormat("png", ImagePng_Read, ImagePng_Write);
}

const MemoryFunctions* App_GetMemoryFunctions(void)
{
    static const MemoryFunctions functions = {Mem_Alloc16, Mem_Free, Mem_Realloc16, Mem_Calloc16};
    return &functions;
}

void App_InitSystems(void)
{
    Shell& s = g_shell;
    const AppHooks* h = AppHooks_Get();
    Step("Frame_Create");
    s.rootFrame = Frame_Create();
    srand(g_seed.set ? g_seed.value : (unsigned)time(nullptr));
    Step("Pad_Init");
    Pad_Init();
    Step("File_Init");
    File_Init();
    Step("Cache_Init");
    Cache_Init(6);
    Step("Text_Init");
    Text_Init();
    Step("Wad_Init");
    Wad_Init();
    CallInit(h->sceneInit);
    CallInit(h->nodeInit);
    CallInit(h->renderObjInit);
    CallInit(h->spriteInit);
    CallInit(h->sceneLightInit);
    if (!h->viewInit) Step("View_Init (the shell's own main view)");
    MainView_Init();
    Step("State_Init");
    State_Init();
    Step("ConfigSys_Init");
    ConfigSys_Init();
    CallInit(h->animSetInit);
    CallInit(h->triggerInit);
    CallInit(h->nodeExtraInit);
    CallInit(h->sprite3dInit);
    CallInit(h->particleInit);
    Step("SoundBank_Init");
    SoundBank_Init();
    // The 2D toolkit maps the screen's pixels onto its device camera (it
    // refuses while the engine layer's fonts have not opened it yet).
    Step("Toolkit2D_SetDeviceRect");
    Toolkit2D_SetDeviceRect(0.0f, 0.0f, (float)s.screenWidth, (float)s.screenHeight);
    CallInit(h->fontInit);
    Step("Sound_Init");
    Sound_Init();
    Step("Texture_SetMipmapping");
    Texture_SetMipmapping(1);
    Texture_SetAutoMipmapping(1);
    if (h->gameSetup) {
        // The first State_Create inside it makes the game's root state current.
        h->gameSetup();
    } else {
        Step("TestScreen_Create");
        TestScreen_Create();
    }
    Step("App_ReadVersionFile");
    App_ReadVersionFile();
}

void App_ShutdownSystems(void)
{
    Shell& s = g_shell;
    const AppHooks* h = AppHooks_Get();
    if (!h->viewShutdown) Step("View_Shutdown (the shell's own main view)");
    MainView_Shutdown();
    Step("Pad_Shutdown");
    Pad_Shutdown();
    CallShutdown(h->spriteShutdown);
    CallShutdown(h->sceneShutdown);
    CallShutdown(h->renderObjShutdown);
    CallShutdown(h->sceneLightShutdown);
    Step("File_Shutdown");
    File_Shutdown();
    Step("Text_Shutdown");
    Text_Shutdown();
    // Before the bank: it destroys every sound outright, so the bank's
    // releases afterwards find sound off and do nothing.
    Step("Sound_Shutdown");
    Sound_Shutdown();
    CallShutdown(h->fontShutdown);
    CallShutdown(h->nodeShutdown);
    CallShutdown(h->sprite3dShutdown);
    Step("SoundBank_Shutdown");
    SoundBank_Shutdown();
    Step("Toolkit2D_Close");
    Toolkit2D_Close();
    Step("Frame_DestroyHierarchy");
    if (s.rootFrame) Frame_DestroyHierarchy(s.rootFrame);
    s.rootFrame = nullptr;
    Step("FreeList_PurgeAll");
    FreeList_PurgeAll();
    ResourceArena_Empty();
}

int32_t App_MainLoop(void)
{
    Shell& s = g_shell;
    WindowMessage msg = {};
    while (!s.quit) {
        if (Message_Peek(&msg, nullptr, 0, 0, MESSAGE_REMOVE | MESSAGE_NOYIELD)) {
            if (msg.message == WM_QUIT) break;
            Message_Translate(&msg);
            Message_Dispatch(&msg);
            continue;
        }
        if (s.active) {
            App_FrameStep();
        } else {
            // Inactive: one frame per message with runWhenInactive, none
            // without; the loop sleeps until the next message either way.
            if (s.state.runWhenInactive) App_FrameStep();
            if (!s.quit) Message_Wait();
        }
    }
    // An emptied state stack ends with 0, not with whatever message came last.
    return s.quit ? 0 : (int32_t)msg.wParam;
}

void App_FrameStep(void)
{
    Shell& s = g_shell;
    if (s.terminateCountdown && --s.terminateCountdown == 0) App_Terminate();
    AppHooks_FrameTick();
    AppHooks_Trace("Pad_Update");
    Pad_Update(s.dt);
    const AppHooks* h = AppHooks_Get();
    if (h->materialAnimTick) h->materialAnimTick(s.dt);
    if (!State_Update(s.dt)) {
        s.quit = 1;
        return;
    }
    if (s.lastTime == 0) s.lastTime = App_GetTimeMs();
    AppHooks_Trace("Sound_Update");
    Sound_Update(s.dt);
    MainView_Show();
    uint32_t now = App_GetTimeMs();
    float measured = (float)(uint32_t)(now - s.lastTime) * 0.001f;
    s.dt = Math_Lerp(s.dt, measured, 0.25f);
    s.lastTime = now;
}

void App_ResetFrameClock(void) { g_shell.lastTime = 0; }

void App_SetRandomSeed(int set, uint32_t seed) { g_seed = {set != 0, seed}; }

void App_ScheduleTerminate(uint32_t frames) { g_shell.terminateCountdown = frames; }

void App_Terminate(void)
{
    fflush(stdout);
    fflush(stderr);
    std::_Exit(0);
}

uint32_t App_GetTimeMs(void) { return g_shell.clock ? g_shell.clock() : SystemClock(); }

char* App_GetTimeString(char* buffer)
{
    if (!buffer) return nullptr;
    time_t now = time(nullptr);
    const char* text = ctime(&now);
    snprintf(buffer, 26, "%s", text ? text : "\n");
    return buffer;
}

char** App_GetCommandLine(int32_t* count)
{
    if (count) *count = g_shell.tokenCount;
    return g_shell.tokens;
}

Window* App_GetWindow(void) { return g_shell.state.window; }
void* App_GetInstance(void) { return g_shell.state.instance; }
void App_SetRunWhenInactive(uint32_t flag) { g_shell.state.runWhenInactive = flag; }
int32_t App_GetScreenWidth(void) { return g_shell.screenWidth; }
int32_t App_GetScreenHeight(void) { return g_shell.screenHeight; }

void App_SetScreenSize(int32_t width, int32_t height)
{
    g_shell.screenWidth = width;
    g_shell.screenHeight = height;
}

Frame* App_GetRootFrame(void) { return g_shell.rootFrame; }
int32_t App_IsPAL(void) { return g_shell.pal; }
int32_t App_GetLanguage(void) { return g_shell.language; }

int App_HasRun(void) { return g_shell.hasRun; }
const char* App_GetCDDriveName(void) { return ""; }

void App_ShowLogo(const char* image, float seconds, int fade, int skippable)
{
    Shell& s = g_shell;
    if (seconds <= 0.25f) seconds = 0.25f;
    if (s.logoEscaped && skippable) return;
    const AppHooks* h = AppHooks_Get();
    uint32_t black = Colour_Pack(255, 0, 0, 0);
    Sprite* background = h->spriteCreateBlank ? h->spriteCreateBlank(&black, 1, 1) : nullptr;
    Sprite* logo = h->spriteLoad ? h->spriteLoad(image, 0) : nullptr;
    auto draw = [h](Sprite* sprite) {
        if (sprite && h->spriteDrawSimple) h->spriteDrawSimple(sprite, nullptr);
    };
    if (logo) {
        float remaining = seconds;
        bool skipped = false;
        uint32_t last = App_GetTimeMs();
        do {
            AppHooks_FrameTick();
            uint32_t now = App_GetTimeMs();
            float elapsed = (float)(uint32_t)(now - last) * 0.001f;
            last = now;
            remaining -= elapsed;
            if (remaining < 0.0f) remaining = 0.0f;
            Pad_Update(elapsed);
            for (uint32_t i = 0; skippable && !skipped && i < 8; i++) {
                Pad* pad = Pad_Get(PAD_KEYBOARD, i);
                bool enter = Pad_JustPressed(pad, 28), escape = Pad_JustPressed(pad, 1);
                if (!enter && !escape) continue;
                skipped = true;
                remaining = fade ? 0.5f : 0.0f;
                if (escape) s.logoEscaped = 1;
            }
            float alpha = 1.0f;
            if (remaining >= seconds - 0.25f) {
                alpha = (seconds - remaining) * 4.0f;
                if (alpha < 0.0f) alpha = 0.0f;
            } else if (fade && remaining <= 0.25f) {
                alpha = remaining * 4.0f;
                if (alpha > 1.0f) alpha = 1.0f;
            }
            if (h->spriteSetAlpha) h->spriteSetAlpha(logo, alpha);
            MainView_SetUpdating(1);
            draw(background);
            draw(logo);
            MainView_SetUpdating(0);
            MainView_Show();
        } while (remaining > 0.0f);
        if (h->spriteRelease) h->spriteRelease(logo);
    }
    if (!background) return;
    if (fade) {
        MainView_SetUpdating(1);
        draw(background);
        MainView_SetUpdating(0);
        MainView_Show();
    }
    if (h->spriteRelease) h->spriteRelease(background);
}

void App_ReadVersionFile(void)
{
    Shell& s = g_shell;
    Mem_Free(s.versionText);
    s.versionText = nullptr;
    // The untouched table: the name is used as given, from the working
    // folder, never from an archive.
    const FileInterface* disk = File_GetInterface();
    void* file = disk ? disk->open("game.ver", "r") : nullptr;
    if (!file) return;
    long size = -1;
    if (disk->seek(file, 0, SEEK_END) == 0) size = disk->tell(file);
    disk->seek(file, 0, SEEK_SET);
    if (size < 0) size = 0;
    // Bytes are read and counted: text mode may give fewer than the size,
    // and the NUL goes behind what was read.
    char* text = (char*)Mem_Alloc((size_t)size + 1, 4);
    if (text) {
        size_t got = disk->read(text, 1, (size_t)size, file);
        text[got] = '\0';
    }
    disk->close(file);
    s.versionText = text;
    const AppHooks* h = AppHooks_Get();
    if (h->fontLoad) s.versionFont = h->fontLoad(nullptr, nullptr);
}

void App_PreEngineInit(void)
{
    // The 2D fonts' free lists are sized before the engine opens.
    Step("Font2D_SetFreeListParams");
    Font2D_SetFreeListParams(8, 8);
}

intptr_t App_WndProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    Shell& s = g_shell;
    switch (message) {
        case WM_DESTROY:
            Cursor_Clip(nullptr);
            Message_PostQuit(0);
            App_SuppressSystemKeys(1);
            return 0;
        case WM_SIZE:
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP:
        case WM_MOUSEMOVE:
        case WM_HOTKEY:
            // Swallowed: Alt+F4 typed into the window does nothing. The
            // window manager's close arrives as WM_CLOSE.
            return 0;
        case WM_ACTIVATE:
            // The low word: the platform packs a minimised flag above it.
            s.active = (wParam & 0xFFFF) != 0;
            return 0;
        case WM_ACTIVATEAPP:
            Input_SetActive(wParam != 0);
            return Window_DefProc(window, message, wParam, lParam);
        case WM_LBUTTONDOWN: s.leftButton = 1; return 0;
        case WM_LBUTTONUP: s.leftButton = 0; return 0;
        case WM_RBUTTONDOWN: s.rightButton = 1; return 0;
        case WM_RBUTTONUP: s.rightButton = 0; return 0;
        default: return Window_DefProc(window, message, wParam, lParam);
    }
}

AppState* App_GetState(void) { return &g_shell.state; }
int App_GetLeftButton(void) { return g_shell.leftButton; }
int App_GetRightButton(void) { return g_shell.rightButton; }
float App_GetFrameTime(void) { return g_shell.dt; }
int App_IsActive(void) { return g_shell.active; }
int App_GetQuit(void) { return g_shell.quit; }
const char* App_GetVersionText(void) { return g_shell.versionText; }
Font* App_GetVersionFont(void) { return g_shell.versionFont; }

void App_SetClock(AppClock clock) { g_shell.clock = clock; }
void App_SetFrameTime(float dt) { g_shell.dt = dt; }

void App_TestReset(void)
{
    Mutex_Release();
    State_Reset();
    ConfigSys_Shutdown();
    Wad_Shutdown();
    Text_Shutdown();
    Pad_Shutdown();
    FuncSlot_Reset();
    App_ResetDeviceSelection();
    App_ResetSystemKeys();
    TestScreen_Reset();
    Mem_Free(g_shell.versionText);
    AppClock clock = g_shell.clock;
    g_shell = Shell{};
    g_shell.clock = clock;
    Platform_Install(nullptr);
    Text_SetLanguageQuery(nullptr);
    Win32Test_ResetAll();
}
