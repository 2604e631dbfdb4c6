#include "platform/dinput/dinput.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/dinput/dinput_test.h"
#include "platform/dinput/inputscript.h"
#include "platform/win32/clock.h"
#include "platform/win32/message.h"
#include "platform/win32/win32_test.h"

namespace {

// A fresh DirectInput stand-in; every device, key, controller and message put back after.
class DInputTest : public ::testing::Test {
protected:
    IDirectInput7* di = nullptr;
    std::vector<IDirectInputDevice7*> devices;

    void SetUp() override
    {
        Win32Test_ResetAll();
        DInputTest_ResetState();
        ASSERT_EQ(DirectInputCreateEx(nullptr, 0x0700, IID_IDirectInput7, (void**)&di, nullptr), S_OK);
    }
    void TearDown() override
    {
        for (IDirectInputDevice7* d : devices) d->Release();
        di->Release();
        DInputTest_DetachAll();
        DInputTest_ResetState();
        Win32Test_ResetAll();
    }
    IDirectInputDevice7* Open(const Guid& guid, const DIDATAFORMAT* format, Window* window = nullptr,
                              uint32_t level = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND)
    {
        IDirectInputDevice7* d = nullptr;
        if (di->CreateDeviceEx(guid, IID_IDirectInputDevice7, (void**)&d, nullptr) != S_OK) return nullptr;
        devices.push_back(d);
        EXPECT_EQ(d->SetDataFormat(format), S_OK);
        EXPECT_EQ(d->SetCooperativeLevel(window, level), S_OK);
        return d;
    }
    std::vector<Guid> Enumerate(uint32_t flags)
    {
        std::vector<Guid> found;
        di->EnumDevices(
            DIDEVTYPE_JOYSTICK,
            [](const DIDEVICEINSTANCE* i, void* ctx) -> int32_t {
                ((std::vector<Guid>*)ctx)->push_back(i->guidInstance);
                return DIENUM_CONTINUE;
            },
            &found, flags);
        return found;
    }
    // Opens a virtual game controller (else raw joystick); null without virtual joysticks.
    IDirectInputDevice7* AttachAndOpen(int gameController, int32_t* handle)
    {
        if ((*handle = DInputTest_AttachController(gameController)) < 0) return nullptr;
        std::vector<Guid> all = Enumerate(DIEDFL_ATTACHEDONLY);
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? nullptr : Open(all[0], &c_dfDIJoystick);
    }
    static DIJOYSTATE Read(IDirectInputDevice7* d)
    {
        DIJOYSTATE state = {};
        EXPECT_EQ(d->Poll(), S_OK);
        EXPECT_EQ(d->GetDeviceState(sizeof state, &state), S_OK);
        return state;
    }
};

TEST_F(DInputTest, KeyboardStateFollowsKeyEventsAndTheWindowsFocusAndKeysMapToScancodes)
{
    Window* window = Window_Create("keys", 64, 64, 0);
    if (!window) GTEST_SKIP() << "no SDL video";
    IDirectInputDevice7* keyboard = Open(GUID_SysKeyboard, &c_dfDIKeyboard, window);
    ASSERT_NE(keyboard, nullptr);
    uint8_t keys[256];
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
    ASSERT_EQ(keyboard->Acquire(), S_OK);
    EXPECT_EQ(keyboard->GetDeviceState(255, keys), DIERR_INVALIDPARAM);
    ASSERT_EQ(DInputTest_PushKey(DIK_ESCAPE, 1), 1);
    ASSERT_EQ(DInputTest_PushKey(DIK_RCONTROL, 1), 1);
    ASSERT_EQ(keyboard->GetDeviceState(256, keys), S_OK);
    EXPECT_EQ(keys[DIK_ESCAPE], 0x80);
    EXPECT_EQ(keys[DIK_RCONTROL], 0x80);
    DInputTest_PushKey(DIK_ESCAPE, 0);
    keyboard->GetDeviceState(256, keys);
    EXPECT_EQ(keys[DIK_ESCAPE], 0);
    // An inactive window takes the acquisition away, and gives none back.
    Win32Test_PushFocus(window, 0);
    Message_Peek(nullptr, nullptr, 0, 0, MESSAGE_NOREMOVE);
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
    EXPECT_EQ(keyboard->Acquire(), DIERR_OTHERAPPHASPRIO);
    Win32Test_PushFocus(window, 1);
    Message_Peek(nullptr, nullptr, 0, 0, MESSAGE_NOREMOVE);
    EXPECT_EQ(keyboard->Acquire(), S_OK);
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), S_OK);
    // The keys the game names map to SDL's scancodes and back.
    for (uint8_t key : {DIK_ESCAPE, DIK_RETURN, DIK_SPACE, DIK_RCONTROL, DIK_UP, DIK_DOWN, DIK_LEFT, DIK_RIGHT})
        EXPECT_EQ(DInput_KeyFromScancode(DInput_ScancodeFromKey(key)), key) << (int)key;
    EXPECT_EQ(DInput_ScancodeFromKey(0xF0), 0);
    EXPECT_EQ(DInput_KeyFromScancode(0), 0);
}

TEST_F(DInputTest, ALostDeviceReportsItOnceAndReadsAgainAfterAcquire)
{
    IDirectInputDevice7* mouse = Open(GUID_SysMouse, &c_dfDIMouse2);
    ASSERT_NE(mouse, nullptr);
    DIPROPDWORD buffer = {{sizeof buffer, sizeof(DIPROPHEADER), 0, DIPH_DEVICE}, 16};
    EXPECT_EQ(mouse->SetProperty(DIPROP_BUFFERSIZE, &buffer.header), S_OK);
    EXPECT_EQ(mouse->SetProperty(DIPROP_RANGE, &buffer.header), DIERR_INVALIDPARAM);
    ASSERT_EQ(mouse->Acquire(), S_OK);
    EXPECT_EQ(mouse->Acquire(), S_FALSE);
    DIMOUSESTATE2 state;
    EXPECT_EQ(mouse->GetDeviceState(sizeof state, &state), S_OK);
    DInputTest_LoseDevices();
    EXPECT_EQ(mouse->GetDeviceState(sizeof state, &state), DIERR_INPUTLOST);
    EXPECT_EQ(mouse->GetDeviceState(sizeof state, &state), DIERR_NOTACQUIRED);
    ASSERT_EQ(mouse->Acquire(), S_OK);
    EXPECT_EQ(mouse->GetDeviceState(sizeof state, &state), S_OK);
    uint32_t count = 5;
    EXPECT_EQ(mouse->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), nullptr, &count, 0), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(DInputTest, GameControllerAxesButtonsAndDeadZoneAndRawJoysticksInOrder)
{
    int32_t pad;
    IDirectInputDevice7* d = AttachAndOpen(1, &pad);
    if (!d) GTEST_SKIP() << "no virtual joysticks";
    EXPECT_TRUE(Enumerate(DIEDFL_ATTACHEDONLY | DIEDFL_FORCEFEEDBACK).empty());
    for (uint32_t offset : {DIJOFS_X, DIJOFS_Y}) {
        DIPROPRANGE range = {{sizeof range, sizeof(DIPROPHEADER), offset, DIPH_BYOFFSET}, -128, 127};
        ASSERT_EQ(d->SetProperty(DIPROP_RANGE, &range.header), S_OK);
        DIPROPDWORD zone = {{sizeof zone, sizeof(DIPROPHEADER), offset, DIPH_BYOFFSET}, 2500};
        ASSERT_EQ(d->SetProperty(DIPROP_DEADZONE, &zone.header), S_OK);
    }
    ASSERT_EQ(d->Acquire(), S_OK);
    DIJOYSTATE rest = Read(d);  // other axes keep 0..65535
    EXPECT_EQ(std::make_tuple(rest.lX, rest.lY, rest.lZ, rest.lRz, rest.rgdwPOV[0]),
              std::make_tuple(0, 0, 32768, 32768, 0xFFFFFFFFu));
    const std::pair<int32_t, int32_t> rawToX[] = {{32767, 127}, {-32768, -128}, {8000, 0},
                                                  {-8191, 0},   {16384, 42},    {-16384, -43}};
    for (const auto& [raw, x] : rawToX) {
        DInputTest_SetAxis(pad, DINPUT_TEST_LEFTX, raw);
        EXPECT_EQ(Read(d).lX, x) << raw;
    }
    DInputTest_SetAxis(pad, DINPUT_TEST_RIGHTX, 32767);
    DInputTest_SetAxis(pad, DINPUT_TEST_RIGHTY, -32768);
    DInputTest_SetAxis(pad, DINPUT_TEST_LEFTY, 32767);  // y positive down, as in DirectInput
    DInputTest_SetButton(pad, 4, 1);
    DIJOYSTATE moved = Read(d);
    EXPECT_EQ(std::make_tuple(moved.lZ, moved.lRz, moved.lY, moved.rgbButtons[4], moved.rgbButtons[5]),
              std::make_tuple(65535, 0, 127, 0x80, 0));
    EXPECT_EQ(DInputTest_SetButton(pad, 11, 1), 0);
    // A raw joystick maps its axes, hat and buttons in order.
    DInputTest_DetachAll();
    int32_t stick;
    d = AttachAndOpen(0, &stick);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->Acquire(), S_OK);
    DInputTest_SetAxis(stick, 3, 32767);  // the fourth axis is Rx
    DInputTest_SetButton(stick, 11, 1);
    DIJOYSTATE state = Read(d);  // the hat is centred, and there is only one
    EXPECT_EQ(std::make_tuple(state.lRx, state.lX, state.rgbButtons[11], state.rgdwPOV[0], state.rgdwPOV[1]),
              std::make_tuple(65535, 32768, 0x80, 0xFFFFFFFFu, 0xFFFFFFFFu));
}

// An input script's fault, or "".
std::string ParseError(const std::string& text)
{
    char error[512] = {};
    InputScript* s = InputScript_Parse(text.data(), text.size(), "t.txt", error, sizeof error);
    InputScript_Destroy(s);
    return s ? std::string() : std::string(error);
}

TEST(InputScriptReader, FaultsAreRefusedAtStartWithTheirLine)
{
    const std::pair<const char*, const char*> cases[] = {
        {"jump\nend\n", "t.txt:1: unknown command \"jump\""},
        {"# fine\n\npress Return\npress Nokey\nend\n", "t.txt:4: unknown key \"Nokey\""},
        {"tap\nend\n", "t.txt:1: tap needs more arguments"},
        {"tap Return Escape\nend\n", "t.txt:1: tap has too many arguments"},
        {"at -1\nend\n", "t.txt:1: \"-1\" is not a time"},
        {"after soon\nend\n", "t.txt:1: \"soon\" is not a time"},
        {"hold Up\nend\n", "t.txt:1: hold needs more"},
        {"controller 5\nend\n", "t.txt:1: controller count must be 1..4"},
        {"at 1\ncontroller 1\nend\n", "t.txt:2: controllers are attached before"},
        {"controller 1\ncontroller 1\nend\n", "t.txt:2: controllers are attached before"},
        {"button 0 a on\nend\n", "t.txt:1: controller \"0\" is not one the script attached (0)"},
        {"controller 2\nbutton 2 a on\nend\n", "t.txt:2: controller \"2\""},
        {"controller 1\nbutton 0 z on\nend\n", "t.txt:2: unknown button \"z\""},
        {"controller 1\nbutton 0 11 on\nend\n", "t.txt:2: unknown button \"11\""},
        {"controller 1\nbutton 0 a down\nend\n", "t.txt:2: a button is \"on\" or \"off\""},
        {"controller 1\naxis 0 leftx 1.5\nend\n", "t.txt:2: axis value \"1.5\" is not -1..1"},
        {"controller 1\naxis 0 lefttrigger -0.5\nend\n", "t.txt:2: axis value \"-0.5\" is not 0..1"},
        {"controller 1\naxis 0 sideways 0\nend\n", "t.txt:2: unknown axis"},
        {"wait state\nend\n", "t.txt:1: wait needs more arguments"},
        {"wait state = level\nend\n", "t.txt:1: unknown comparison \"=\""},
        {"wait state < level\nend\n", "t.txt:1: only numbers compare with <"},
        {"expect player.pos > 1,2,3\nend\n", "t.txt:1: vectors compare with == and != only"},
        {"wait score > 3 within 2\nend\n", "t.txt:1: a wait ends with \"timeout SECONDS\""},
        {"expect score == 3 close\nend\n", "t.txt:1: \"close\" is not a tolerance"},
        {"expect score > 3 0.5\nend\n", "t.txt:1: a tolerance applies to == and !="},
        {"expect state == level 0.5\nend\n", "t.txt:1: a tolerance applies"},
        {"capture ../title\nend\n", "t.txt:1: capture name \"../title\" is not a plain file name"},
        {"capture .hidden\nend\n", "t.txt:1: capture name"},
        {"press \"Left Shift\nend\n", "t.txt:1: a quote is never closed"},
        {"end\ntap Return\n", "t.txt:2: nothing may follow \"end\""},
        {"end now\n", "t.txt:1: end has too many arguments"},
        {"tap Return\n", "t.txt: the script never ends"},
        {"", "t.txt: the script never ends"},
    };
    for (const auto& [text, says] : cases) {
        const std::string error = ParseError(text);
        EXPECT_EQ(error.rfind(says, 0), 0u) << text << " gave: " << error;
    }
    // A NUL inside a line is refused, not read as the line's end.
    EXPECT_EQ(ParseError(std::string("tap Return\0 x\nend\n", 18)).rfind("t.txt:1: a NUL byte", 0), 0u);
    // Well-formed scripts, with every command, quoted names and comments.
    EXPECT_EQ(ParseError("controller 2   # two pads\n"
                         "at 0.5\npress Return\nafter 0.1\nrelease return\ntap \"Left Shift\"\nhold Up 0.25\n"
                         "button 1 start on\nbutton 0 3 off\naxis 0 leftx -1\naxis 1 righttrigger 1\n"
                         "wait state == level timeout 5\nexpect player.pos == 1,2,3 0.5\nexpect score >= 300\n"
                         "capture tour-01-title.png\nend # done\n"),
              "");
    char error[256];
    EXPECT_EQ(InputScript_Load("/no/such/script.txt", error, sizeof error), nullptr);
    EXPECT_EQ(std::string(error).rfind("/no/such/script.txt: can't be opened", 0), 0u) << error;
}

TEST(InputScriptCompare, NumbersVectorsAndTexts)
{
    const std::tuple<const char*, const char*, const char*, double, int> cases[] = {
        {"300", "==", "300", 0.001, 1},       {"299.9995", "==", "300", 0.001, 1}, {"299.99", "==", "300", 0.001, 0},
        {"299.99", "!=", "300", 0.001, 1},    {"2", "<", "3", 0.001, 1},           {"3", "<", "3", 0.001, 0},
        {"3", "<=", "3", 0.001, 1},           {"3.5", ">", "3", 0.001, 1},         {"-1e-3", ">=", "0", 0.001, 0},
        {"0, 2.5, 3", "==", "0,2,3", 0.6, 1},                                      // distance 0.5
        {"0,2.5,3", "==", "0,2,3", 0.4, 0},   {"1,0,0", "!=", "0,1,0", 1.0, 1},    // distance 1.414
        {"Title", "==", "Title", 0.001, 1},   {"Title", "==", "title", 0.001, 0},  // texts compare exactly
        {"Title", "!=", "Main", 0.001, 1},    {"level", "==", "1", 0.001, 0},      // a text is never a number
        {"1,2", "==", "1,2,3", 0.001, -1},    {"1,2", "<", "3,4", 0.001, -1},      {"Title", ">", "3", 0.001, -1},
        {"3", "~", "3", 0.001, -1},
    };
    for (const auto& [actual, op, expected, tolerance, result] : cases) {
        char why[128] = {};
        EXPECT_EQ(InputScript_Compare(actual, op, expected, tolerance, why, sizeof why), result)
            << actual << " " << op << " " << expected;
        EXPECT_EQ(why[0] != 0, result < 0) << actual << " " << op << " " << expected;  // a fault is said
    }
}

// Scripts played tick by tick against a keyboard read through the
// DirectInput stand-in, a fake game answering probes, and the clock.
class InputScriptPlay : public DInputTest {
protected:
    IDirectInputDevice7* keyboard = nullptr;
    InputScript* script = nullptr;
    std::map<std::string, std::string> probes;  // what the "game" answers
    std::vector<std::string> captures;

    void SetUp() override
    {
        DInputTest::SetUp();
        keyboard = Open(GUID_SysKeyboard, &c_dfDIKeyboard, nullptr, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND);
        ASSERT_EQ(keyboard->Acquire(), S_OK);
    }
    void TearDown() override
    {
        InputScript_Destroy(script);
        DInputTest::TearDown();
    }
    // Parses and starts a script (the one before goes).
    void Play(const std::string& text, uint32_t step = 20)
    {
        InputScript_Destroy(script);
        char error[512] = {};
        script = InputScript_Parse(text.data(), text.size(), "play.txt", error, sizeof error);
        ASSERT_NE(script, nullptr) << error;
        InputScript_SetProbe(
            script,
            [](const char* name, char* value, size_t size, void* user) -> int {
                auto& table = ((InputScriptPlay*)user)->probes;
                return table.count(name) && snprintf(value, size, "%s", table[name].c_str()) >= 0;
            },
            this);
        InputScript_SetCapture(
            script, [](const char* name, void* user) { ((InputScriptPlay*)user)->captures.push_back(name); }, this);
        ASSERT_EQ(InputScript_Start(script, step, error, sizeof error), 1) << error;
    }
    bool Down(uint8_t key)
    {
        uint8_t keys[256];
        EXPECT_EQ(keyboard->GetDeviceState(256, keys), S_OK);
        return keys[key] & 0x80;
    }
    // Ticks until the script stops running or `most` ticks; the ticks made.
    int Run(int most, const std::function<void(int)>& each = nullptr)
    {
        int ticks = 0;
        while (ticks < most && InputScript_Tick(script) == INPUTSCRIPT_RUNNING) {
            ticks++;
            if (each) each(ticks);
        }
        return ticks;
    }
};

TEST_F(InputScriptPlay, KeysGoDownAndUpAtTheirTimesOnTheSteppedClock)
{
    Play("at 0.1\npress Return\nafter 0.04\nrelease Return\ntap Escape\nhold Up 0.1\nat 0.5\nend\n");
    std::vector<std::string> timeline;  // what each tick's poll would see
    const int ticks = Run(100, [&](int tick) {
        std::string seen;
        if (Down(DIK_RETURN)) seen += "R";
        if (Down(DIK_ESCAPE)) seen += "E";
        if (Down(DIK_UP)) seen += "U";
        timeline.push_back(seen);
        EXPECT_EQ(Clock_GetMs(), CLOCK_BASE_MS + 20u * (uint32_t)tick);
    });
    // The clock reads 20 ms a tick; Return at 100 ms (tick 5) for 40 ms;
    // Escape tapped at 140 ms is seen by two polls; Up held for 100 ms.
    const std::vector<std::string> expected = {"", "", "", "", "R", "R", "EU", "EU", "U", "U", "U", "",
                                               "", "", "", "", "",  "",  "",   "",   "",  "",  "",  ""};
    // "end" runs at 500 ms, the 25th tick
    EXPECT_EQ(std::make_tuple(timeline, ticks, InputScript_GetStatus(script), InputScript_GetTimeMs(script)),
              std::make_tuple(expected, 24, INPUTSCRIPT_ENDED, 500u));
    EXPECT_EQ(InputScript_Tick(script), INPUTSCRIPT_ENDED);  // later ticks do nothing
    EXPECT_EQ(InputScript_GetTimeMs(script), 500u);
    // but the program's clock: a logo shown when the script ended still runs out.
    EXPECT_EQ(Clock_GetMs(), CLOCK_BASE_MS + 520u);
    InputScript_Destroy(script);
    script = nullptr;
    EXPECT_EQ(Clock_IsManual(), 0);
}

TEST_F(InputScriptPlay, WaitsHoldTheScriptUntilTheGameAgreesOrTimeRunsOut)
{
    probes["state"] = "frontend";
    probes["player.pos"] = "1, 2.5, -3";
    Play(
        "wait state == level timeout 1\ncapture after-wait.png\nexpect player.pos.y > 2\n"
        "expect player.pos == 1,2.5,-3\nwait score >= 300 timeout 0.5\nend\n");
    EXPECT_EQ(Run(10), 10);
    EXPECT_TRUE(captures.empty());
    probes["state"] = "level";
    probes["score"] = "100";
    EXPECT_EQ(InputScript_Tick(script), INPUTSCRIPT_RUNNING);  // the wait is over; the next begins
    EXPECT_EQ(captures, std::vector<std::string>{"after-wait"});
    const int more = Run(100);
    EXPECT_EQ(more, 24);  // the 25th tick is 0.5 s after the wait began
    EXPECT_EQ(InputScript_GetStatus(script), INPUTSCRIPT_FAILED);
    EXPECT_STREQ(InputScript_GetMessage(script),
                 "play.txt:5: wait score >= 300 timeout 0.5: timed out after 0.5 s; score is 100");
}

TEST_F(InputScriptPlay, FailedChecksNameTheLineTheProbeAndItsValue)
{
    const std::pair<const char*, const char*> cases[] = {
        {"expect lives == 3\nend\n", "play.txt:1: expect lives == 3: lives is 2"},
        {"after 0.1\nexpect   mode == Man_CamRel  \nend\n", "play.txt:2: expect   mode == Man_CamRel: mode is Flitter"},
        {"expect speed > 1\nend\n", "play.txt:1: expect speed > 1: the game knows no probe \"speed\""},
        {"expect mode.x == 1\nend\n", "play.txt:1: expect mode.x == 1: the game knows no probe \"mode.x\""},
        {"expect mode < 3\nend\n", "play.txt:1: expect mode < 3: text compares with == and != only (mode is Flitter)"},
    };
    for (const auto& [text, message] : cases) {
        probes = {{"lives", "2"}, {"mode", "Flitter"}};
        Play(text);
        Run(100);
        EXPECT_EQ(InputScript_GetStatus(script), INPUTSCRIPT_FAILED) << text;
        EXPECT_STREQ(InputScript_GetMessage(script), message);
    }
    // Without probes every check fails.
    Play("expect lives == 2\nend\n");
    InputScript_SetProbe(script, nullptr, nullptr);
    EXPECT_EQ(InputScript_Tick(script), INPUTSCRIPT_FAILED);
    EXPECT_STREQ(InputScript_GetMessage(script), "play.txt:1: expect lives == 2: no probes in this run");
}

TEST_F(InputScriptPlay, TheGameEndingByItselfPassesOnlyWhereTheScriptEnds)
{
    Play("tap Escape\nend\n");
    EXPECT_EQ(InputScript_Tick(script), INPUTSCRIPT_ENDED);
    Play("tap Escape\nat 1\nend\n");
    InputScript_Tick(script);
    EXPECT_EQ(InputScript_GameEnded(script), INPUTSCRIPT_FAILED);
    EXPECT_STREQ(InputScript_GetMessage(script), "play.txt:2: at 1: the game ended before this line");
    Play("tap Escape\nwait state == quit\nend\n");
    probes["state"] = "quit";
    EXPECT_EQ(InputScript_GameEnded(script), INPUTSCRIPT_FAILED);  // nothing ran yet: the tap is next
    Play("tap Escape\nafter 1\nend\n");
    Run(60);
    EXPECT_EQ(InputScript_GetStatus(script), INPUTSCRIPT_ENDED);
    EXPECT_EQ(InputScript_GameEnded(script), INPUTSCRIPT_ENDED);
}

TEST_F(InputScriptPlay, ControllersAreAttachedAtStartAndDrivenByTheScript)
{
    char error[256];
    const std::string text = "controller 2\nbutton 1 start on\naxis 1 leftx -1\naxis 0 lefttrigger 1\nend\n";
    script = InputScript_Parse(text.data(), text.size(), "pads.txt", error, sizeof error);
    ASSERT_NE(script, nullptr) << error;
    if (!InputScript_Start(script, 20, error, sizeof error)) GTEST_SKIP() << "no virtual joysticks: " << error;
    std::vector<Guid> pads = Enumerate(DIEDFL_ATTACHEDONLY);
    ASSERT_EQ(pads.size(), 2u);
    IDirectInputDevice7* pad[2];
    for (int i = 0; i < 2; i++) {
        ASSERT_NE(pad[i] = Open(pads[(size_t)i], &c_dfDIJoystick, nullptr, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND),
                  nullptr);
        ASSERT_EQ(pad[i]->Acquire(), S_OK);
    }
    EXPECT_EQ(InputScript_Tick(script), INPUTSCRIPT_ENDED);
    DIJOYSTATE first = Read(pad[0]), second = Read(pad[1]);  // start; the left end; the left trigger fully in
    EXPECT_EQ(std::make_tuple(second.rgbButtons[7], first.rgbButtons[7], second.lX, first.lRx, first.lX),
              std::make_tuple(0x80, 0, 0, 65535, 32768));
    InputScript_Destroy(script);
    script = nullptr;
    EXPECT_TRUE(Enumerate(DIEDFL_ATTACHEDONLY).empty());  // the script's controllers went with it
    EXPECT_EQ(
        InputScript_Start(script = InputScript_Parse("end\n", 4, "x", error, sizeof error), 0, error, sizeof error), 0);
}

}  // namespace
