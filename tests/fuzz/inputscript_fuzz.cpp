// Fuzzes the script reader of scripted runs: any bytes as a script, and as
// the three texts of a comparison. A script the reader takes must be
// playable: it is started and ticked to its end against a probe that
// answers every name with a piece of the input, without a crash.
#include <cstdio>
#include <string>

#include "platform/dinput/inputscript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input((const char*)data, size);
    char error[256];
    InputScript* script = InputScript_Parse(input.data(), input.size(), "fuzz.txt", error, sizeof error);
    if (!script && !error[0]) abort();  // a refusal always says why
    if (script) {
        std::string answer = input.substr(0, input.size() % 32);
        auto probe = [](const char*, char* value, size_t size, void* answer) {
            snprintf(value, size, "%s", ((std::string*)answer)->c_str());
            return 1;
        };
        InputScript_SetProbe(script, probe, &answer);
        // Controllers need SDL's joysticks; the reader is what is fuzzed, so
        // a script that asks for them is only parsed.
        if (InputScript_Start(script, 50, error, sizeof error)) {
            for (int tick = 0; tick < 200 && InputScript_Tick(script) == INPUTSCRIPT_RUNNING; tick++) {}
            InputScript_GameEnded(script);
        }
        InputScript_Destroy(script);
    }
    const size_t a = input.find('\n'), b = a == std::string::npos ? a : input.find('\n', a + 1);
    if (b != std::string::npos) {
        const std::string actual = input.substr(0, a), op = input.substr(a + 1, b - a - 1),
                          expected = input.substr(b + 1);
        char why[64];
        const int r = InputScript_Compare(actual.c_str(), op.c_str(), expected.c_str(), 0.5, why, sizeof why);
        if (r < -1 || r > 1) abort();
    }
    return 0;
}
