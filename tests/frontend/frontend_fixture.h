// Front-end tests run inside the program's own start-up (640 x 480,
// headless) with the game context reset, every player on the keyboard and
// the executable's state hooks. Step() holds keys for one frame of a fixed
// dt; a root state of the test pushes the front end and stays below it.
#pragma once

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "helm/front_end_hooks.h"
#include "app/pad.h"
#include "app/state.h"
#include "app/text.h"
#include "frontend/front_end.h"
#include "frontend/screen_machine.h"
#include "frontend_data.h"
#include "game/game_context.h"
#include "game/players.h"
#include "platform/dinput/dinput_test.h"
#include "tests/app/wave_fixture.h"
#include "tests/game/program_fixture.h"

namespace fetest {

// Player 0's keys (game/players.h) and player 1's select.
constexpr uint8_t kUp = 0xC8, kDown = 0xD0, kLeft = 0xCB, kRight = 0xCD;
constexpr uint8_t kSelect = 0x1C, kBack = 0x35, kEscape = 0x01, kAction5 = 0x36;
constexpr uint8_t kSelect1 = 0x1D, kLeft1 = 0x1E, kRight1 = 0x20;
constexpr float kDt = 0.05f;

inline std::vector<std::string> g_sounds;  // what the front end played
inline void RecordSound(const char* name, int32_t index)
{
    g_sounds.push_back(name ? (index ? std::string(name) + "#" + std::to_string(index) : std::string(name))
                            : "id" + std::to_string(index));
}

// The root below the front end: pushes it on its first tick, and again
// each time a test allows one more entry; otherwise it stays.
inline int g_rootPushes = 0, g_rootEntries = 1;
inline GameState* RootUpdate(GameState* self, float)
{
    if (g_rootPushes >= g_rootEntries) return self;
    g_rootPushes++;
    GameState* fe = FrontEnd_CreateState();
    return fe ? fe : self;
}

inline FrontEndMemory FreshMemory()
{
    FrontEndMemory m = {};
    for (int32_t& slot : m.history) slot = -1;
    for (int32_t& slot : m.savedHistory) slot = -1;
    return m;
}

// One frame of fixed length with these keys held (every other key up).
inline void Step(std::initializer_list<uint8_t> keys, float dt = kDt)
{
    DInputTest_ResetState();
    for (uint8_t key : keys) DInputTest_PushKey(key, 1);
    App_SetFrameTime(dt);
    App_FrameStep();
}
// A press: one frame down, one up.
inline void Press(uint8_t key)
{
    Step({key});
    Step({});
}
inline void Wait(float seconds)
{
    for (float t = 0; t < seconds; t += kDt) Step({});
}

inline FrontEnd* Fe() { return FrontEnd_Get(); }
inline int32_t Current() { return Fe() ? Fe()->current : -1; }

// Makes the screen current at once (as if reached from Main) and runs its enter.
inline void Open(int32_t screen)
{
    Fe()->current = FRONTEND_MAIN;
    FrontEnd_PushScreen(screen, 1);
    Step({});
    ASSERT_EQ(Current(), screen);
}

// Makes the test's root state current and runs the frames in which it
// pushes the front end and the front end enters.
inline GameState* StartFrontEnd()
{
    GameState* root = State_Create();
    State_SetUpdate(root, RootUpdate);
    Step({});
    Step({});
    return root;
}
// Lets the root push the front end once more (after it left) and runs the
// frames of the push and the entry.
inline void EnterAgain()
{
    g_rootEntries++;
    Step({});
    Step({});
}

inline int32_t Focus() { return Fe() ? FrontEnd_GetFocus(Fe()->current) : -1; }
inline bool Heard(const std::string& s) { return std::find(g_sounds.begin(), g_sounds.end(), s) != g_sounds.end(); }
inline void ClearSounds() { g_sounds.clear(); }

}  // namespace fetest

using namespace fetest;  // the front-end tests name the helpers unqualified

class FrontEndTest : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        fetest::g_sounds.clear();
        fetest::g_rootPushes = 0;
        fetest::g_rootEntries = 1;
        *FrontEnd_GetMemory() = fetest::FreshMemory();
    }
    void TearDown() override
    {
        FrontEnd_SetSoundHook(nullptr);
        *FrontEnd_GetMemory() = fetest::FreshMemory();
        ProgramTest::TearDown();
    }

    // Runs body inside the program with the game's context and pads ready and
    // the front end's state hooks installed; everything left on the stack is
    // dropped afterwards.
    void RunFrontEnd(const std::function<void()>& body, const char* commandLine = "-quiet")
    {
        RunProgram(
            [&] {
                Game_ResetContext();
                Game_LoadFonts();
                Player_AssignDevices();
                GameContext* ctx = Game_GetContext();
                for (int p = 0; p < GAME_PLAYER_SLOTS; p++) ctx->inputDevices[p] = Player_GetInputDevice(p);
                ctx->controllingPlayer = GAME_ANY_PLAYER;
                ProgramHooks_InstallStateHooks();
                FrontEnd_SetSoundHook(fetest::RecordSound);
                body();
                if (FrontEnd* fe = FrontEnd_Get()) FrontEnd_Exit(fe->state);
                // Every state still on the stack is destroyed as a pop would
                // destroy it, so nothing a state holds (the start menu's view
                // and nodes) outlives this engine into the next test.
                for (GameState* s = State_GetCurrent(); s;) {
                    GameState* parent = s->previous;
                    State_Destroy(s);
                    s = parent;
                }
                State_Reset();
                Game_ReleaseContext();
            },
            commandLine);
    }

    // WriteFrontEnd(extra), then body run inside the program once the front
    // end has entered.
    void PlayFrontEnd(const std::string& extra, const std::function<void()>& body)
    {
        WriteFrontEnd(extra);
        RunFrontEnd([&] {
            fetest::StartFrontEnd();
            body();
        });
    }
    void PlayFrontEnd(const std::function<void()>& body) { PlayFrontEnd("", body); }

    // The standard data set (frontend_data.h) with its sound.
    static void WriteFrontEnd(const std::string& extra = "", float demoWaitTime = 0.0f)
    {
        WriteConfig(FRONTEND_CONFIG, fedata::FrontEndConfig(extra, demoWaitTime));
        WriteSound("s.wav");
    }

    // A short silent sound as a data file.
    static void WriteSound(const std::string& name)
    {
        WriteData(name, wavefile::Make(wavefile::Layout{}, wavefile::Samples16(std::vector<int16_t>(64, 0))));
    }
};
