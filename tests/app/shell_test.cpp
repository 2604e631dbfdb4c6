#include "app/shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/mainview.h"
#include "app/pad.h"
#include "app/state.h"
#include "app/testscreen.h"
#include "app/text.h"
#include "gfx/core/platform.h"
#include "platform/dinput/dinput.h"
#include "platform/win32/message.h"
#include "platform/win32/window.h"
#include "tests/app/shell_fixture.h"

namespace {

std::vector<std::string> g_steps;       // start-up and shut-down, in order
std::vector<std::string> g_frameSteps;  // each frame's steps
int g_frames = 0;
int g_framesToRun = 3;
uint32_t g_now = 0;

void Record(const char* step) { g_steps.push_back(step); }
void Trace(const char* step)
{
    const std::string s = step;
    (s == "Pad_Update" || s == "Sound_Update" ? g_frameSteps : g_steps).push_back(s);
}

GameState* CountedUpdate(GameState* state, float)
{
    g_frameSteps.push_back("State_Update");
    return ++g_frames >= g_framesToRun ? nullptr : state;
}

// Every slot filled with a recorder; Game_Setup makes a state that runs a
// few frames and pops.
AppHooks RecordingHooks()
{
    AppHooks h = {};
    h.trace = Trace;
#define RECORD_INIT(slot, name) h.slot = [] { return Record(name), 1; }
#define RECORD_SHUTDOWN(slot, name) h.slot = [] { Record(name); }
    RECORD_INIT(sceneInit, "Scene_Init");
    RECORD_INIT(nodeInit, "Node_Init");
    RECORD_INIT(renderObjInit, "RenderObj_Init");
    RECORD_INIT(spriteInit, "Sprite_Init");
    RECORD_INIT(sceneLightInit, "SceneLight_Init");
    RECORD_INIT(animSetInit, "AnimSet_Init");
    RECORD_INIT(triggerInit, "Trigger_Init");
    RECORD_INIT(nodeExtraInit, "NodeExtra_Init");
    RECORD_INIT(sprite3dInit, "Sprite3d_Init");
    RECORD_INIT(particleInit, "Particle_Init");
    RECORD_INIT(fontInit, "Font_Init");
    RECORD_INIT(renderObjRegisterPlugin, "RenderObj_RegisterPlugin");
    RECORD_SHUTDOWN(spriteShutdown, "Sprite_Shutdown");
    RECORD_SHUTDOWN(sceneShutdown, "Scene_Shutdown");
    RECORD_SHUTDOWN(renderObjShutdown, "RenderObj_Shutdown");
    RECORD_SHUTDOWN(sceneLightShutdown, "SceneLight_Shutdown");
    RECORD_SHUTDOWN(fontShutdown, "Font_Shutdown");
    RECORD_SHUTDOWN(nodeShutdown, "Node_Shutdown");
    RECORD_SHUTDOWN(sprite3dShutdown, "Sprite3d_Shutdown");
#undef RECORD_INIT
#undef RECORD_SHUTDOWN
    h.materialAnimTick = [](float) { g_frameSteps.push_back("MaterialAnim_Tick"); };
    h.viewShowRaster = [] { g_frameSteps.push_back("View_ShowRaster"); };
    h.fontLoad = [](const char* name, void*) -> Font* {
        Record(name ? "Font_Load(name)" : "Font_Load");
        return nullptr;
    };
    h.gameSetup = [] {
        Record("Game_Setup");
        State_SetUpdate(State_Create(), CountedUpdate);
        return 1;
    };
    return h;
}

class ShellRunTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        g_steps.clear();
        g_frameSteps.clear();
        g_frames = 0;
        g_framesToRun = 3;
        hooks_ = RecordingHooks();
    }
    AppHooks hooks_;
};

TEST_F(ShellRunTest, StartsEveryModuleInOrderRunsFramesAndShutsDownInOrder)
{
    WriteDisk("game.ver", std::string("1.0 build 7\r\n\0tail", 18));
    WriteDisk("data/Text/french.txt", "HELLO=Bonjour\n");
    hooks_.gameSetup = [] {
        Record("Game_Setup");
        // The engine is started, and the options reached their readers.
        EXPECT_TRUE(Engine_GetStatus() == ENGINE_STATUS_STARTED && App_GetLanguage() == 3 &&
                    Platform_GetLanguage() == 3);
        Text_Load("Text", 0);
        char text[TEXT_BUFFER_SIZE];
        EXPECT_EQ(std::string(Text_Get("HELLO", 0, text)) + "|" + App_GetState()->launch, "Bonjour|Level One");
        // No view hooks for it: the shell's own camera; a second begin or end is ignored.
        EXPECT_NE(MainView_GetCamera(), nullptr);
        for (int begin : {1, 1, 0, 0}) MainView_SetUpdating(begin);
        State_SetUpdate(State_Create(), CountedUpdate);
        return 1;
    };
    AppHooks_Install(&hooks_);
    EXPECT_EQ(Run("-quiet -Language French -Launch \"Level One\" -Width 320 -Height 240"), 0);
    const std::vector<std::string> expected = {
        "Font2D_SetFreeListParams", "World_PluginAttach", "Random_PluginAttach", "Skin_PluginAttach",
        "HAnim_PluginAttach", "GeomCollision_PluginAttach", "MatFX_PluginAttach", "RenderObj_RegisterPlugin",
        "Frame_Create", "Pad_Init", "File_Init", "Cache_Init", "Text_Init", "Wad_Init", "Scene_Init", "Node_Init",
        "RenderObj_Init", "Sprite_Init", "SceneLight_Init", "View_Init (the shell's own main view)", "State_Init",
        "ConfigSys_Init", "AnimSet_Init", "Trigger_Init", "NodeExtra_Init", "Sprite3d_Init", "Particle_Init",
        "SoundBank_Init", "Toolkit2D_SetDeviceRect", "Font_Init", "Sound_Init", "Texture_SetMipmapping", "Game_Setup",
        "App_ReadVersionFile", "Font_Load",
        // shut-down
        "View_Shutdown (the shell's own main view)", "Pad_Shutdown", "Sprite_Shutdown", "Scene_Shutdown",
        "RenderObj_Shutdown", "SceneLight_Shutdown", "File_Shutdown", "Text_Shutdown", "Sound_Shutdown",
        "Font_Shutdown", "Node_Shutdown", "Sprite3d_Shutdown", "SoundBank_Shutdown", "Toolkit2D_Close",
        "Frame_DestroyHierarchy", "FreeList_PurgeAll"};
    EXPECT_EQ(g_steps, expected);
    // Three frames in the order pads, texture animation, stack, sound,
    // present; the frame that emptied the stack stopped after it and ended
    // the loop.
    const std::vector<std::string> frame = {"Pad_Update", "MaterialAnim_Tick", "State_Update", "Sound_Update",
                                            "View_ShowRaster"};
    std::vector<std::string> frames = frame;
    frames.insert(frames.end(), frame.begin(), frame.end());
    frames.insert(frames.end(), frame.begin(), frame.begin() + 3);
    EXPECT_TRUE(g_frameSteps == frames && App_GetQuit() == 1);
    // Options past the tenth are not kept.
    App_ParseCommandLine("1 2 3 4 5 6 7 8 9 10 11 12");
    int32_t count = 0;
    EXPECT_STREQ(App_GetCommandLine(&count)[9], "10");
    EXPECT_TRUE(count == 10 && App_GetCommandLine(nullptr) == App_GetCommandLine(&count));
    // The version file is read whole, bytes after a NUL too, and terminated.
    ASSERT_TRUE(App_GetVersionText() &&
                std::string(App_GetVersionText(), 19) == std::string("1.0 build 7\r\n\0tail\0", 19));
    // The window is destroyed, once: the stale handle is ignored.
    EXPECT_TRUE(Engine_GetStatus() == ENGINE_STATUS_NONE && !Window_IsLive(App_GetWindow()) &&
                App_GetScreenWidth() == 320 && App_GetScreenHeight() == 240);
}

TEST_F(ShellRunTest, AHeldLockABadSizeOrExitInTheDialogEndsTheStartWithTheEngineClosed)
{
    // No game: the shell's test screen in its own view until its headless time is up.
    App_SetClock([] { return g_now += 100; });
    WriteDisk("game.ver", "1.0");  // read without a font to show it in
    EXPECT_EQ(Run("-quiet"), 0);
    EXPECT_TRUE(g_now >= 5000 && std::filesystem::exists(TEST_SCREEN_PNG));  // its last frame
    Mutex_Release();
    ASSERT_EQ(Mutex_CreateNamed("anything"), MUTEX_CREATED);  // this process holds the lock
    AppHooks_Install(&hooks_);
    EXPECT_EQ(Run("-quiet"), 0);
    EXPECT_TRUE(g_steps.empty() && !Window_GetForeground());  // no window
    Mutex_Release();
    // So does a size that is not a whole number of pixels up to the device's
    // largest surface, naming the value.
    for (const auto& [line, why] : {std::pair{"-quiet -Width abc", "-Width: \"abc\" is not a number"},
                                    {"-Height 100000 -quiet", "-Height 100000 is above the limit of 8192"},
                                    {"-quiet -Width 0", "-Width 0 is below the limit of 1"}}) {
        testing::internal::CaptureStderr();
        const int32_t result = Run(line);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string("The game could not start: ") + why + ".\n");
        EXPECT_TRUE(result == APP_EXIT_START_FAILED && g_steps.empty() && !Window_GetForeground()) << line;
        Mutex_Release();
    }
    const char* script[] = {"7"};  // the seventh control the user can use: "E&xit"
    Dialog_SetScript(script, 1);
    EXPECT_EQ(Run(""), 0);  // no module started
    EXPECT_TRUE(Engine_GetStatus() == ENGINE_STATUS_NONE && !std::count(g_steps.begin(), g_steps.end(), "Pad_Init"));
}

class FrameTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        g_frames = 0;
        g_framesToRun = 1000;
        AppHooks_Install(nullptr);
        App_InitDefaults();
        App_ResetState();
        ASSERT_EQ(State_Init(), 1);
        State_SetUpdate(State_Create(), CountedUpdate);
    }
};

int g_waits = 0;

TEST_F(FrameTest, WhileInactiveFramesRunOnlyWithRunWhenInactiveOnePerMessage)
{
    App_WndProc(nullptr, WM_ACTIVATE, 0x10000, 0);  // a deactivation with the minimised flag above
    ASSERT_EQ(App_IsActive(), 0);
    // The wait brings three messages, then the quit.
    Message_SetWaitHook([](void*) { Message_Post(nullptr, ++g_waits > 3 ? WM_QUIT : WM_USER, 7, 0); }, nullptr);
    for (uint32_t runWhenInactive : {0u, 1u}) {
        g_waits = 0;
        g_frames = 0;
        App_SetRunWhenInactive(runWhenInactive);
        EXPECT_TRUE(App_MainLoop() == 7 && g_frames == (runWhenInactive ? 4 : 0)) << runWhenInactive;
    }
    App_WndProc(nullptr, WM_ACTIVATE, 1, 0);
    App_WndProc(nullptr, WM_RBUTTONDOWN, 0, 0);
    EXPECT_EQ(App_IsActive() * 10 + App_GetRightButton(), 11);
    Message_SetWaitHook(nullptr, nullptr);
}

TEST_F(ShellTest, ReturnSkipsALogoToAHalfSecondFadeAndEscapeSkipsLaterLogos)
{
    static std::vector<float> alphas;
    static int pressAt = 10;
    static uint8_t key = DIK_RETURN;
    static uint32_t now = 1000;
    App_ResetState();
    ASSERT_EQ(Pad_Init(), 1);
    App_SetClock([] { return now += 50; });  // 50 ms a pass
    static int sprite;
    AppHooks hooks = {};
    hooks.spriteCreateBlank = [](const uint32_t*, int32_t, int32_t) { return (Sprite*)&sprite; };
    hooks.spriteLoad = [](const char*, int32_t) { return (Sprite*)&sprite; };
    hooks.spriteSetAlpha = [](Sprite*, float alpha) {
        alphas.push_back(alpha);
        if ((int)alphas.size() == pressAt) DInputTest_PushKey(key, 1);
    };
    AppHooks_Install(&hooks);
    App_ShowLogo("logo.png", 2.0f, 1, 1);
    // Ten passes, then 0.5 s.
    EXPECT_TRUE(std::abs((int)alphas.size() - 21) <= 1 && std::fabs(alphas.back()) < 1e-4f) << alphas.size();
    DInputTest_PushKey(DIK_RETURN, 0);
    alphas.clear();
    pressAt = 3;
    key = DIK_ESCAPE;
    App_ShowLogo("logo.png", 2.0f, 0, 1);
    EXPECT_EQ(alphas.size(), 4u);  // without fade the skip ends it
    alphas.clear();
    App_ShowLogo("next.png", 2.0f, 1, 1);
    EXPECT_TRUE(alphas.empty());  // skippable: returns at once after an Escape
    App_ShowLogo("legal.png", 0.1f, 0, 0);
    EXPECT_NEAR((double)alphas.size(), 5.0, 1.0);  // not skippable: shown, at least 0.25 s
    DInputTest_PushKey(DIK_ESCAPE, 0);
    // Pads read 0 past their rows and when null; the mouse pad reads the button flags.
    Pad* keyboard = Pad_Get(PAD_KEYBOARD, 0);
    App_WndProc(nullptr, WM_RBUTTONDOWN, 0, 0);
    DInputTest_SetKey(237, 1), DInputTest_SetKey(238, 1);  // the keyboard's row ends at 237
    Pad_Update(0.016f);
    EXPECT_TRUE(Pad_GetValue(Pad_Get(PAD_MOUSE, 0), 3) == 1.0f && Pad_IsDown(keyboard, 237) &&
                Pad_GetValue(keyboard, 238) + Pad_GetValue(keyboard, 256) + Pad_GetValue(nullptr, 0) == 0.0f);
    EXPECT_EQ(Pad_JustPressed(keyboard, 1000) + Pad_JustPressed(nullptr, 0) + Pad_JustPressed(keyboard, DIK_ESCAPE), 0);
    Pad_Shutdown();
}

}  // namespace
