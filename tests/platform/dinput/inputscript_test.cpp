#include "platform/dinput/inputscript.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/dinput/dinput.h"
#include "platform/dinput/dinput_test.h"
#include "platform/win32/clock.h"
#include "platform/win32/win32_test.h"

namespace {

std::string ParseError(const std::string& text)
{
    char error[512] = {};
    InputScript* s = InputScript_Parse(text.data(), text.size(), "t.txt", error, sizeof error);
    InputScript_Destroy(s);
    return s ? std::string() : std::string(error);
}

TEST(InputScriptReader, FaultsAreRefusedAtStartWithTheirLine)
{
    struct Case {
        const char* text;
        const char* says;
    } cases[] = {
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
    for (const Case& c : cases) {
        const std::string error = ParseError(c.text);
        EXPECT_EQ(error.rfind(c.says, 0), 0u) << c.text << " gave: " << error;
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
    struct Case {
        const char* actual;
        const char* op;
        const char* expected;
        double tolerance;
        int result;
    } cases[] = {
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
    for (const Case& c : cases) {
        char why[128] = {};
        EXPECT_EQ(InputScript_Compare(c.actual, c.op, c.expected, c.tolerance, why, sizeof why), c.result)
            << c.actual << " " << c.op << " " << c.expected;
        if (c.result < 0) {
            EXPECT_NE(why[0], 0);
        }
    }
}

// Scripts played tick by tick against a keyboard read through the
// DirectInput stand-in, a fake game answering probes, and the clock.
class InputScriptPlay : public ::testing::Test {
protected:
    IDirectInput7* di = nullptr;
    IDirectInputDevice7* keyboard = nullptr;
    InputScript* script = nullptr;
    std::map<std::string, std::string> probes;  // what the "game" answers
    std::vector<std::string> captures;

    void SetUp() override
    {
        Win32Test_ResetAll();
        DInputTest_ResetState();
        ASSERT_EQ(DirectInputCreateEx(nullptr, 0x0700, IID_IDirectInput7, (void**)&di, nullptr), S_OK);
        ASSERT_EQ(di->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInputDevice7, (void**)&keyboard, nullptr), S_OK);
        ASSERT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), S_OK);
        ASSERT_EQ(keyboard->SetCooperativeLevel(nullptr, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), S_OK);
        ASSERT_EQ(keyboard->Acquire(), S_OK);
    }
    void TearDown() override
    {
        InputScript_Destroy(script);
        keyboard->Release();
        di->Release();
        DInputTest_ResetState();
        Win32Test_ResetAll();
    }
    void Play(const std::string& text, uint32_t step = 20)
    {
        char error[512] = {};
        script = InputScript_Parse(text.data(), text.size(), "play.txt", error, sizeof error);
        ASSERT_NE(script, nullptr) << error;
        InputScript_SetProbe(
            script,
            [](const char* name, char* value, size_t size, void* user) -> int {
                auto& table = ((InputScriptPlay*)user)->probes;
                auto it = table.find(name);
                if (it == table.end()) return 0;
                snprintf(value, size, "%s", it->second.c_str());
                return 1;
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
    EXPECT_EQ(timeline, expected);
    EXPECT_EQ(ticks, 24);  // "end" runs at 500 ms, the 25th tick
    EXPECT_EQ(InputScript_GetStatus(script), INPUTSCRIPT_ENDED);
    EXPECT_EQ(InputScript_GetTimeMs(script), 500u);
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
    struct Case {
        const char* script;
        const char* message;
    } cases[] = {
        {"expect lives == 3\nend\n", "play.txt:1: expect lives == 3: lives is 2"},
        {"after 0.1\nexpect   mode == Man_CamRel  \nend\n", "play.txt:2: expect   mode == Man_CamRel: mode is Flitter"},
        {"expect speed > 1\nend\n", "play.txt:1: expect speed > 1: the game knows no probe \"speed\""},
        {"expect mode.x == 1\nend\n", "play.txt:1: expect mode.x == 1: the game knows no probe \"mode.x\""},
        {"expect mode < 3\nend\n", "play.txt:1: expect mode < 3: text compares with == and != only (mode is Flitter)"},
    };
    for (const Case& c : cases) {
        probes = {{"lives", "2"}, {"mode", "Flitter"}};
        Play(c.script);
        Run(100);
        EXPECT_EQ(InputScript_GetStatus(script), INPUTSCRIPT_FAILED) << c.script;
        EXPECT_STREQ(InputScript_GetMessage(script), c.message);
        InputScript_Destroy(script);
        script = nullptr;
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
    InputScript_Destroy(script);
    Play("tap Escape\nat 1\nend\n");
    InputScript_Tick(script);
    EXPECT_EQ(InputScript_GameEnded(script), INPUTSCRIPT_FAILED);
    EXPECT_STREQ(InputScript_GetMessage(script), "play.txt:2: at 1: the game ended before this line");
    InputScript_Destroy(script);
    Play("tap Escape\nwait state == quit\nend\n");
    probes["state"] = "quit";
    EXPECT_EQ(InputScript_GameEnded(script), INPUTSCRIPT_FAILED);  // nothing ran yet: the tap is next
    InputScript_Destroy(script);
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
    std::vector<Guid> pads;
    di->EnumDevices(
        DIDEVTYPE_JOYSTICK,
        [](const DIDEVICEINSTANCE* i, void* ctx) -> int32_t {
            ((std::vector<Guid>*)ctx)->push_back(i->guidInstance);
            return DIENUM_CONTINUE;
        },
        &pads, DIEDFL_ATTACHEDONLY);
    ASSERT_EQ(pads.size(), 2u);
    std::vector<IDirectInputDevice7*> devices;
    for (const Guid& g : pads) {
        IDirectInputDevice7* d = nullptr;
        ASSERT_EQ(di->CreateDeviceEx(g, IID_IDirectInputDevice7, (void**)&d, nullptr), S_OK);
        ASSERT_EQ(d->SetDataFormat(&c_dfDIJoystick), S_OK);
        ASSERT_EQ(d->Acquire(), S_OK);
        devices.push_back(d);
    }
    EXPECT_EQ(InputScript_Tick(script), INPUTSCRIPT_ENDED);
    DIJOYSTATE first = {}, second = {};
    devices[0]->Poll();
    devices[1]->Poll();
    ASSERT_EQ(devices[0]->GetDeviceState(sizeof first, &first), S_OK);
    ASSERT_EQ(devices[1]->GetDeviceState(sizeof second, &second), S_OK);
    EXPECT_EQ(second.rgbButtons[7], 0x80);  // start
    EXPECT_EQ(first.rgbButtons[7], 0);
    EXPECT_EQ(second.lX, 0);      // the left end of 0..65535
    EXPECT_EQ(first.lRx, 65535);  // the left trigger pressed fully
    EXPECT_EQ(first.lX, 32768);
    for (IDirectInputDevice7* d : devices) d->Release();
    InputScript_Destroy(script);
    script = nullptr;
    EXPECT_TRUE([&] {
        std::vector<Guid> left;
        di->EnumDevices(
            DIDEVTYPE_JOYSTICK,
            [](const DIDEVICEINSTANCE* i, void* ctx) -> int32_t {
                ((std::vector<Guid>*)ctx)->push_back(i->guidInstance);
                return DIENUM_CONTINUE;
            },
            &left, DIEDFL_ATTACHEDONLY);
        return left.empty();
    }());
    EXPECT_EQ(
        InputScript_Start(script = InputScript_Parse("end\n", 4, "x", error, sizeof error), 0, error, sizeof error), 0);
}

}  // namespace
