#include "platform/dinput/inputscript.h"

#include <SDL2/SDL.h>

#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dinput/dinput.h"
#include "platform/dinput/dinput_test.h"
#include "platform/win32/clock.h"

namespace {

enum Op { AT, AFTER, PRESS, RELEASE, TAP, HOLD, BUTTON, AXIS, WAIT, EXPECT, CAPTURE, END };

struct Command {
    Op op;
    int line;
    std::string text;  // the line as written, for messages
    uint64_t ms = 0;   // at, after, hold: a time; wait: the timeout
    int32_t key = 0;   // a DirectInput key code
    int32_t controller = 0;
    int32_t index = 0;  // button or axis
    int32_t value = 0;  // button down, or the axis in SDL units
    std::string probe, compare, expected;
    double tolerance = INPUTSCRIPT_DEFAULT_TOLERANCE;
    std::string name;  // capture
};

struct Release {
    uint64_t tick;  // the tick at which the key goes up
    int32_t key;
};

constexpr double kLongestSeconds = 24 * 3600;  // no run lasts a day
constexpr size_t kLongestScript = 1 << 20;
constexpr size_t kLongestCapture = 100;
constexpr int kMaxNumbers = 4;

const char* const kButtons[11] = {"a",    "b",     "x",         "y",          "leftshoulder", "rightshoulder",
                                  "back", "start", "leftstick", "rightstick", "guide"};
const char* const kAxes[6] = {"leftx", "lefty", "rightx", "righty", "lefttrigger", "righttrigger"};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

void CopyOut(char* out, size_t size, const std::string& text)
{
    if (out && size) snprintf(out, size, "%s", text.c_str());
}

// A number that is the whole token, finite and not absurdly large.
bool ParseNumber(const std::string& token, double* out)
{
    if (token.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = strtod(token.c_str(), &end);
    if (*end || errno == ERANGE || !std::isfinite(v) || std::fabs(v) > 1e12) return false;
    *out = v;
    return true;
}

// 1..4 numbers separated by commas (blanks around them allowed).
int ParseNumbers(const std::string& text, double* out)
{
    int count = 0;
    size_t at = 0;
    for (;;) {
        const size_t comma = text.find(',', at);
        std::string part = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        const size_t a = part.find_first_not_of(" \t"), b = part.find_last_not_of(" \t");
        part = a == std::string::npos ? std::string() : part.substr(a, b - a + 1);
        if (count == kMaxNumbers || !ParseNumber(part, &out[count])) return 0;
        count++;
        if (comma == std::string::npos) return count;
        at = comma + 1;
    }
}

bool IsCompare(const std::string& op)
{
    return op == "==" || op == "!=" || op == "<" || op == "<=" || op == ">" || op == ">=";
}

int IndexOf(const char* const* names, int count, const std::string& word)
{
    double number;
    if (ParseNumber(word, &number))
        return number == std::floor(number) && number >= 0 && number < count ? (int)number : -1;
    for (int i = 0; i < count; i++)
        if (strcasecmp(names[i], word.c_str()) == 0) return i;
    return -1;
}

// The DirectInput code of an SDL key name; 0 for none the game could see.
int32_t KeyCode(const std::string& name)
{
    const SDL_Scancode scancode = SDL_GetScancodeFromName(name.c_str());
    return scancode == SDL_SCANCODE_UNKNOWN ? 0 : DInput_KeyFromScancode(scancode);
}

// Splits a line into words: blanks separate, double quotes group, "#" at a
// word's start ends the line. 0 with why set for an unclosed quote.
bool Words(const std::string& line, std::vector<std::string>* words, std::string* why)
{
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) i++;
        if (i >= line.size() || line[i] == '#') break;
        std::string word;
        if (line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                *why = "a quote is never closed";
                return false;
            }
            word = line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
        }
        words->push_back(word);
    }
    return true;
}

}  // namespace

struct InputScript {
    std::string file;
    std::vector<Command> commands;
    int32_t controllers = 0;  // asked for by the script
    std::vector<int32_t> handles;
    size_t next = 0;
    uint32_t stepMs = INPUTSCRIPT_DEFAULT_STEP_MS;
    uint64_t ticks = 0;
    uint64_t nowMs = 0;
    uint64_t markMs = 0;  // when the previous command ran
    bool waiting = false;
    uint64_t waitStartMs = 0;
    bool manualClock = false;
    std::vector<Release> releases;
    int32_t status = INPUTSCRIPT_RUNNING;
    std::string message;
    InputScriptProbe probe = nullptr;
    void* probeUser = nullptr;
    InputScriptCapture capture = nullptr;
    void* captureUser = nullptr;
};

namespace {

// Reads the arguments of one command line into c; "" or why it is refused.
std::string ParseCommand(InputScript* s, const std::vector<std::string>& w, Command* c, bool* controllerLine)
{
    const std::string& verb = w[0];
    const size_t args = w.size() - 1;
    auto count = [&](size_t lo, size_t hi) -> std::string {
        if (args < lo) return verb + " needs more arguments";
        if (args > hi) return verb + " has too many arguments";
        return "";
    };
    auto seconds = [&](const std::string& word, uint64_t* ms) -> std::string {
        double v;
        if (!ParseNumber(word, &v) || v < 0 || v > kLongestSeconds) return "\"" + word + "\" is not a time in seconds";
        *ms = (uint64_t)std::llround(v * 1000.0);
        return "";
    };
    auto key = [&](const std::string& word) -> std::string {
        c->key = KeyCode(word);
        return c->key ? "" : "unknown key \"" + word + "\"";
    };
    auto controller = [&](const std::string& word) -> std::string {
        double v;
        if (!ParseNumber(word, &v) || v != std::floor(v) || v < 0 || v >= s->controllers)
            return "controller \"" + word + "\" is not one the script attached (" + std::to_string(s->controllers) +
                   ")";
        c->controller = (int32_t)v;
        return "";
    };
    std::string why;
    *controllerLine = false;
    if (verb == "controller") {
        if (!(why = count(1, 1)).empty()) return why;
        double v;
        if (!ParseNumber(w[1], &v) || v != std::floor(v) || v < 1 || v > INPUTSCRIPT_MAX_CONTROLLERS)
            return "controller count must be 1.." + std::to_string(INPUTSCRIPT_MAX_CONTROLLERS);
        if (!s->commands.empty() || s->controllers) return "controllers are attached before every other command, once";
        s->controllers = (int32_t)v;
        *controllerLine = true;
        return "";
    }
    if (verb == "at" || verb == "after") {
        c->op = verb == "at" ? AT : AFTER;
        if (!(why = count(1, 1)).empty()) return why;
        return seconds(w[1], &c->ms);
    }
    if (verb == "press" || verb == "release" || verb == "tap") {
        c->op = verb == "press" ? PRESS : verb == "release" ? RELEASE : TAP;
        if (!(why = count(1, 1)).empty()) return why;
        return key(w[1]);
    }
    if (verb == "hold") {
        c->op = HOLD;
        if (!(why = count(2, 2)).empty() || !(why = key(w[1])).empty()) return why;
        return seconds(w[2], &c->ms);
    }
    if (verb == "button") {
        c->op = BUTTON;
        if (!(why = count(3, 3)).empty() || !(why = controller(w[1])).empty()) return why;
        if ((c->index = IndexOf(kButtons, 11, w[2])) < 0) return "unknown button \"" + w[2] + "\"";
        if (w[3] != "on" && w[3] != "off") return "a button is \"on\" or \"off\", not \"" + w[3] + "\"";
        c->value = w[3] == "on";
        return "";
    }
    if (verb == "axis") {
        c->op = AXIS;
        if (!(why = count(3, 3)).empty() || !(why = controller(w[1])).empty()) return why;
        if ((c->index = IndexOf(kAxes, 6, w[2])) < 0) return "unknown axis \"" + w[2] + "\"";
        double v;
        const bool trigger = c->index >= DINPUT_TEST_TRIGGERLEFT;
        if (!ParseNumber(w[3], &v) || v > 1 || v < (trigger ? 0 : -1))
            return "axis value \"" + w[3] + (trigger ? "\" is not 0..1" : "\" is not -1..1");
        // Sticks: -1..1 over SDL's -32768..32767; triggers: released is the
        // bottom of the raw range, 1 the top.
        c->value = trigger ? (int32_t)std::lround(-32768.0 + v * 65535.0)
                           : (int32_t)std::lround(v >= 0 ? v * 32767.0 : v * 32768.0);
        return "";
    }
    if (verb == "wait" || verb == "expect") {
        c->op = verb == "wait" ? WAIT : EXPECT;
        if (!(why = count(3, verb == "wait" ? 5 : 4)).empty()) return why;
        c->probe = w[1];
        c->compare = w[2];
        c->expected = w[3];
        if (c->probe.empty()) return "empty probe name";
        if (!IsCompare(c->compare)) return "unknown comparison \"" + c->compare + "\"";
        double numbers[kMaxNumbers];
        const int n = ParseNumbers(c->expected, numbers);
        if (n == 0 && c->compare != "==" && c->compare != "!=") return "only numbers compare with " + c->compare;
        if (n > 1 && c->compare != "==" && c->compare != "!=") return "vectors compare with == and != only";
        c->ms = (uint64_t)(INPUTSCRIPT_DEFAULT_TIMEOUT * 1000);
        if (c->op == WAIT && args > 3) {
            if (args != 5 || w[4] != "timeout") return "a wait ends with \"timeout SECONDS\"";
            return seconds(w[5], &c->ms);
        }
        if (c->op == EXPECT && args == 4) {
            if (!ParseNumber(w[4], &c->tolerance) || c->tolerance < 0) return "\"" + w[4] + "\" is not a tolerance";
            if (n == 0 || (c->compare != "==" && c->compare != "!="))
                return "a tolerance applies to == and != of numbers";
        }
        return "";
    }
    if (verb == "capture") {
        c->op = CAPTURE;
        if (!(why = count(1, 1)).empty()) return why;
        c->name = w[1];
        const bool plain =
            c->name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.") ==
            std::string::npos;
        if (c->name.empty() || !plain || c->name[0] == '.' || c->name.size() > kLongestCapture)
            return "capture name \"" + c->name + "\" is not a plain file name";
        if (c->name.size() > 4 && strcasecmp(c->name.c_str() + c->name.size() - 4, ".png") == 0)
            c->name.resize(c->name.size() - 4);
        return "";
    }
    if (verb == "end") {
        c->op = END;
        return count(0, 0);
    }
    return "unknown command \"" + verb + "\"";
}

void Fail(InputScript* s, const Command& c, const std::string& why)
{
    s->status = INPUTSCRIPT_FAILED;
    s->message = s->file + ":" + std::to_string(c.line) + ": " + c.text + ": " + why;
}

// The probe's value as text; false when the game has no such probe. A name
// ending in .x .y .z .w that is unknown is a component of the shorter name.
bool ReadProbe(InputScript* s, const std::string& name, std::string* value)
{
    char buffer[512] = {};
    if (s->probe(name.c_str(), buffer, sizeof buffer, s->probeUser)) {
        buffer[sizeof buffer - 1] = 0;
        *value = buffer;
        return true;
    }
    static const char kComponents[] = "xyzw";
    const size_t n = name.size();
    if (n < 3 || name[n - 2] != '.' || !strchr(kComponents, name[n - 1])) return false;
    std::string whole;
    if (!ReadProbe(s, name.substr(0, n - 2), &whole)) return false;
    double numbers[kMaxNumbers];
    const int count = ParseNumbers(whole, numbers);
    const int component = (int)(strchr(kComponents, name[n - 1]) - kComponents);
    if (component >= count) return false;
    *value = Format("%.9g", numbers[component]);
    return true;
}

// 1 true, 0 false, -1 failed (s failed with the reason).
int Check(InputScript* s, const Command& c)
{
    if (!s->probe) {
        Fail(s, c, "no probes in this run");
        return -1;
    }
    std::string actual;
    if (!ReadProbe(s, c.probe, &actual)) {
        Fail(s, c, "the game knows no probe \"" + c.probe + "\"");
        return -1;
    }
    char why[256] = {};
    const int result =
        InputScript_Compare(actual.c_str(), c.compare.c_str(), c.expected.c_str(), c.tolerance, why, sizeof why);
    if (result < 0) {
        Fail(s, c, std::string(why) + " (" + c.probe + " is " + actual + ")");
        return -1;
    }
    if (result == 0 && c.op == EXPECT) Fail(s, c, c.probe + " is " + actual);
    if (result == 0 && c.op == WAIT && s->nowMs - s->waitStartMs >= c.ms)
        Fail(s, c, Format("timed out after %.3g s; ", c.ms / 1000.0) + c.probe + " is " + actual);
    return result;
}

void PushKey(int32_t key, bool down) { DInputTest_PushKey((uint8_t)key, down ? 1 : 0); }

// Runs the command at s->next; false when it must wait for a later tick.
bool Run(InputScript* s, const Command& c)
{
    switch (c.op) {
    case AT: return s->nowMs >= c.ms;
    case AFTER: return s->nowMs >= s->markMs + c.ms;
    case PRESS: PushKey(c.key, true); return true;
    case RELEASE: PushKey(c.key, false); return true;
    case TAP:
        PushKey(c.key, true);
        s->releases.push_back({s->ticks + 2, c.key});
        return true;
    case HOLD:
        PushKey(c.key, true);
        s->releases.push_back({s->ticks + (c.ms + s->stepMs - 1) / s->stepMs, c.key});
        return true;
    case BUTTON:
        if (!DInputTest_SetButton(s->handles[(size_t)c.controller], c.index, c.value))
            Fail(s, c, "the controller refused the button");
        return true;
    case AXIS:
        if (!DInputTest_SetAxis(s->handles[(size_t)c.controller], c.index, c.value))
            Fail(s, c, "the controller refused the axis");
        return true;
    case WAIT:
        if (!s->waiting) {
            s->waiting = true;
            s->waitStartMs = s->nowMs;
        }
        if (Check(s, c) != 1) return false;
        s->waiting = false;
        return true;
    case EXPECT: Check(s, c); return true;
    case CAPTURE:
        if (s->capture) s->capture(c.name.c_str(), s->captureUser);
        return true;
    case END: s->status = INPUTSCRIPT_ENDED; return false;
    }
    return false;
}

}  // namespace

InputScript* InputScript_Parse(const char* text, size_t length, const char* fileName, char* error, size_t errorSize)
{
    const std::string file = fileName ? fileName : "script";
    if (!text || length > kLongestScript) {
        CopyOut(error, errorSize, file + ": the script is missing or too long");
        return nullptr;
    }
    InputScript* s = new InputScript;
    s->file = file;
    bool ended = false;
    int line = 0;
    size_t at = 0;
    while (at < length) {
        line++;
        const void* feed = memchr(text + at, '\n', length - at);
        const size_t end = feed ? (size_t)((const char*)feed - text) : length;
        const std::string raw(text + at, end - at);
        at = end + 1;
        std::vector<std::string> words;
        std::string why;
        if (raw.find('\0') != std::string::npos) why = "a NUL byte inside the line";
        if (why.empty() && !Words(raw, &words, &why)) words.clear();
        if (why.empty() && words.empty()) continue;
        if (why.empty() && ended) why = "nothing may follow \"end\"";
        Command c{};
        bool controllerLine = false;
        if (why.empty()) why = ParseCommand(s, words, &c, &controllerLine);
        if (!why.empty()) {
            CopyOut(error, errorSize, file + ":" + std::to_string(line) + ": " + why);
            delete s;
            return nullptr;
        }
        if (controllerLine) continue;
        c.line = line;
        const size_t a = raw.find_first_not_of(" \t"), b = raw.find_last_not_of(" \t\r");
        c.text = raw.substr(a, b - a + 1);
        ended = c.op == END;
        s->commands.push_back(c);
    }
    if (!ended) {
        CopyOut(error, errorSize, file + ": the script never ends (no \"end\" line)");
        delete s;
        return nullptr;
    }
    return s;
}

InputScript* InputScript_Load(const char* path, char* error, size_t errorSize)
{
    FILE* f = path ? fopen(path, "rb") : nullptr;
    if (!f) {
        CopyOut(error, errorSize, std::string(path ? path : "(no script)") + ": can't be opened: " + strerror(errno));
        return nullptr;
    }
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() <= kLongestScript) text.append(buffer, got);
    const bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) {
        CopyOut(error, errorSize, std::string(path) + ": can't be read");
        return nullptr;
    }
    return InputScript_Parse(text.data(), text.size(), path, error, errorSize);
}

void InputScript_Destroy(InputScript* script)
{
    if (!script) return;
    if (!script->handles.empty()) DInputTest_DetachAll();
    if (script->manualClock) Clock_SetManual(0);
    delete script;
}

void InputScript_SetProbe(InputScript* script, InputScriptProbe probe, void* user)
{
    script->probe = probe;
    script->probeUser = user;
}

void InputScript_SetCapture(InputScript* script, InputScriptCapture capture, void* user)
{
    script->capture = capture;
    script->captureUser = user;
}

int InputScript_Start(InputScript* script, uint32_t stepMs, char* error, size_t errorSize)
{
    if (stepMs < 1 || stepMs > 1000) {
        CopyOut(error, errorSize, script->file + ": the fixed step must be 1..1000 ms");
        return 0;
    }
    for (int32_t i = 0; i < script->controllers; i++) {
        const int32_t handle = DInputTest_AttachController(1);
        if (handle < 0) {
            if (!script->handles.empty()) DInputTest_DetachAll();
            script->handles.clear();
            CopyOut(error, errorSize, script->file + ": a virtual controller can't be attached");
            return 0;
        }
        script->handles.push_back(handle);
    }
    script->stepMs = stepMs;
    Clock_SetManual(1);
    script->manualClock = true;
    return 1;
}

int32_t InputScript_Tick(InputScript* script)
{
    InputScript* s = script;
    if (s->status != INPUTSCRIPT_RUNNING) {
        // The run is ending, but the program's clock still moves: a loop
        // that waits on it (a logo, a clip) must finish before the quit
        // can be seen.
        if (s->manualClock) Clock_Advance(s->stepMs);
        return s->status;
    }
    s->ticks++;
    s->nowMs += s->stepMs;
    if (s->manualClock) Clock_Advance(s->stepMs);
    for (size_t i = 0; i < s->releases.size();) {
        if (s->releases[i].tick <= s->ticks) {
            PushKey(s->releases[i].key, false);
            s->releases.erase(s->releases.begin() + (long)i);
        } else {
            i++;
        }
    }
    while (s->status == INPUTSCRIPT_RUNNING && s->next < s->commands.size()) {
        const Command& c = s->commands[s->next];
        if (!Run(s, c)) break;
        s->markMs = s->nowMs;
        s->next++;
    }
    return s->status;
}

int32_t InputScript_GameEnded(InputScript* script)
{
    InputScript* s = script;
    if (s->status != INPUTSCRIPT_RUNNING || s->next >= s->commands.size()) return s->status;
    const Command& c = s->commands[s->next];
    if (c.op == END) {
        s->status = INPUTSCRIPT_ENDED;
    } else {
        Fail(s, c, "the game ended before this line");
    }
    return s->status;
}

int32_t InputScript_GetStatus(const InputScript* script) { return script->status; }
const char* InputScript_GetMessage(const InputScript* script) { return script->message.c_str(); }
uint64_t InputScript_GetTimeMs(const InputScript* script) { return script->nowMs; }

int InputScript_Compare(const char* actual, const char* op, const char* expected, double tolerance, char* message,
                        size_t messageSize)
{
    const std::string o = op ? op : "";
    if (!actual || !expected || !IsCompare(o)) {
        CopyOut(message, messageSize, "unknown comparison \"" + o + "\"");
        return -1;
    }
    double a[kMaxNumbers], e[kMaxNumbers];
    const int na = ParseNumbers(actual, a), ne = ParseNumbers(expected, e);
    const bool equality = o == "==" || o == "!=";
    if (ne == 0 || na == 0) {
        if (!equality) {
            CopyOut(message, messageSize, "text compares with == and != only");
            return -1;
        }
        return (strcmp(actual, expected) == 0) == (o == "==");
    }
    if (na != ne) {
        CopyOut(message, messageSize, Format("%d numbers compared with %d", na, ne));
        return -1;
    }
    if (na > 1 && !equality) {
        CopyOut(message, messageSize, "vectors compare with == and != only");
        return -1;
    }
    double distance = 0;
    for (int i = 0; i < na; i++) distance += (a[i] - e[i]) * (a[i] - e[i]);
    distance = std::sqrt(distance);
    if (o == "==") return distance <= tolerance;
    if (o == "!=") return distance > tolerance;
    if (o == "<") return a[0] < e[0];
    if (o == "<=") return a[0] <= e[0];
    if (o == ">") return a[0] > e[0];
    return a[0] >= e[0];
}
