// The program's entry on Linux: turns argv into the one command-line string
// the shell's entry takes, fills the hook table with what the engine layer
// and the game offer, and runs the shell.
//
// Environment, for tests only:
//   HELM_MUTEX_NAME      another name for the single-instance lock, so
//                        parallel test runs and a running game don't stop
//                        each other
//   HELM_SCRIPT          a script of input, checks and captures to play
//                        (platform/dinput/inputscript.h); the run's exit
//                        code is then the script's: 0 after "end", 3 when a
//                        check failed, 2 when the script can't be read
//   HELM_CAPTURE_DIR     the folder captures go to (default: the working
//                        folder), made when missing
//   HELM_FIXED_STEP_MS   the milliseconds the clock moves a frame; with a
//                        script 20 unless given, without one the clock
//                        only steps when this is set
//   HELM_RANDOM_SEED     replaces the time of day as the random seed; a
//                        scripted or fixed-step run without it takes
//                        kScriptedSeed, so a replay plays as it did before
//   HELM_TEST_SCREEN     when set and not empty, the game stays out: the
//                        shell runs its own test screen (its tests use it)
//   HELM_FRAME_LOG       a file that gets one line a frame of a scripted or
//                        fixed-step run: the frame's wall time and the
//                        process's CPU time in it (all threads) in
//                        milliseconds, and the "state" probe at its start
//                        (the benchmarks read it)
//   HELM_SAVE_STOP       stops the program inside its next save, for the
//                        tests of saves cut short by a crash: a byte count N
//                        stops it once the first N bytes of the temporary
//                        file are written, "rename" once the temporary file
//                        is whole and on the disk, just before it replaces
//                        the save, "renamed" just after it replaced it. It
//                        writes "save-stopped" into the working
//                        folder and waits there to be killed
// None of them takes a token of the command line.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "helm/front_end_hooks.h"
#include "helm/program_hooks.h"
#include "app/save.h"
#include "app/shell.h"
#include "platform/dinput/inputscript.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/dshow/dshow_test.h"
#include "platform/win32/clock.h"
#include "platform/win32/entry.h"
#include "platform/win32/message.h"
#include "platform/win32/mutex.h"
#include "platform/win32/sysfile.h"

// The game's probes answer the script's named values once the game is part
// of the program: int GameProbe_Get(const char* name, char* value, size_t
// size), 1 and the value as text for a known name, 0 otherwise.
#if __has_include("game/probe.h")
#include "game/probe.h"
#define HELM_GAME_PROBES 1
#endif

namespace {

typedef int (*ProbeFunction)(const char* name, char* value, size_t size);

#ifdef HELM_GAME_PROBES
ProbeFunction g_probe = GameProbe_Get;
#else
ProbeFunction g_probe = nullptr;
#endif

// The scripted run, when HELM_SCRIPT or HELM_FIXED_STEP_MS asks for one.
struct ScriptedRun {
    InputScript* script = nullptr;
    uint32_t stepMs = 0;  // 0: the system's clock
    std::string captureDir;
    bool quitPosted = false;
};

ScriptedRun g_run;

// The random seed of a scripted or fixed-step run that names none: the
// same every run, so a script meets the same creatures in the same places.
constexpr uint32_t kScriptedSeed = 1234;

// The shell's own names come first: "clip.frames", the frames the last
// clip showed (0 before any), and "clip.window", 1 when it made a window.
int Probe(const char* name, char* value, size_t size, void*)
{
    if (!strcmp(name, "clip.frames")) return snprintf(value, size, "%d", (int)DShowTest_FramesShown()) > 0;
    if (!strcmp(name, "clip.window")) return snprintf(value, size, "%d", DShowTest_WindowMade()) > 0;
    return g_probe ? g_probe(name, value, size) : 0;
}

void Capture(const char* name, void*)
{
    const std::string path = g_run.captureDir + "/" + name + ".png";
    D3D8Present_CaptureFrame(0, path.c_str());
}

[[noreturn]] void FailRun(const char* message)
{
    fprintf(stderr, "%s\n", message);
    fflush(stdout);
    fflush(stderr);
    std::_Exit(INPUTSCRIPT_EXIT_FAILED);
}

// HELM_FRAME_LOG's file, and the start and state of the frame running.
struct FrameLog {
    FILE* file = nullptr;
    std::chrono::steady_clock::time_point start;
    std::clock_t cpuStart = 0;  // process CPU time, every thread's
    char state[32] = "";
};

FrameLog g_frameLog;

void LogFrame()
{
    FrameLog& log = g_frameLog;
    if (!log.file) return;
    const auto now = std::chrono::steady_clock::now();
    const std::clock_t cpu = std::clock();
    if (log.state[0])
        fprintf(log.file, "%.3f %.3f %s\n", std::chrono::duration<double, std::milli>(now - log.start).count(),
                double(cpu - log.cpuStart) * 1000.0 / CLOCKS_PER_SEC, log.state);
    log.start = now;
    log.cpuStart = cpu;
    if (!g_probe || !g_probe("state", log.state, sizeof log.state) || !log.state[0])
        snprintf(log.state, sizeof log.state, "-");
}

void FrameTick()
{
    LogFrame();
    if (!g_run.script) {
        Clock_Advance(g_run.stepMs);
        return;
    }
    const int32_t status = InputScript_Tick(g_run.script);
    // A failed check ends the run at once: what follows would only hide it.
    if (status == INPUTSCRIPT_FAILED) FailRun(InputScript_GetMessage(g_run.script));
    if (status == INPUTSCRIPT_ENDED && !g_run.quitPosted) {
        Message_PostQuit(0);
        g_run.quitPosted = true;
    }
}

// An unsigned number that is the whole text, at most `most`.
bool ReadNumber(const char* text, unsigned long most, unsigned long* out)
{
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = strtoul(text, &end, 10);
    if (*end || errno || v > most || text[0] == '-') return false;
    *out = v;
    return true;
}

// Sets up the scripted run from the environment; the exit code to leave
// with when that fails, 0 otherwise.
int SetUpRun(AppHooks* hooks)
{
    unsigned long value = 0;
    const char* seed = getenv("HELM_RANDOM_SEED");
    if (seed) {
        if (!ReadNumber(seed, 0xFFFFFFFFul, &value)) {
            fprintf(stderr, "HELM_RANDOM_SEED: \"%s\" is not a number 0..4294967295\n", seed);
            return INPUTSCRIPT_EXIT_BAD_SCRIPT;
        }
        App_SetRandomSeed(1, (uint32_t)value);
    }
    const char* path = getenv("HELM_SCRIPT");
    if (path && !*path) path = nullptr;
    const char* step = getenv("HELM_FIXED_STEP_MS");
    if (step) {
        if (!ReadNumber(step, 1000, &value) || value == 0) {
            fprintf(stderr, "HELM_FIXED_STEP_MS: \"%s\" is not a number 1..1000\n", step);
            return INPUTSCRIPT_EXIT_BAD_SCRIPT;
        }
        g_run.stepMs = (uint32_t)value;
    } else if (path) {
        g_run.stepMs = INPUTSCRIPT_DEFAULT_STEP_MS;
    }
    if (!g_run.stepMs) return 0;
    if (!seed) App_SetRandomSeed(1, kScriptedSeed);
    hooks->frameTick = FrameTick;
    if (const char* log = getenv("HELM_FRAME_LOG"); log && *log) {
        g_frameLog.file = fopen(log, "w");
        if (!g_frameLog.file) {
            fprintf(stderr, "HELM_FRAME_LOG: \"%s\" can't be written\n", log);
            return INPUTSCRIPT_EXIT_BAD_SCRIPT;
        }
    }
    if (!path) {
        Clock_SetManual(1);
        return 0;
    }
    char error[1024];
    g_run.script = InputScript_Load(path, error, sizeof error);
    if (!g_run.script || !InputScript_Start(g_run.script, g_run.stepMs, error, sizeof error)) {
        fprintf(stderr, "%s\n", error);
        return INPUTSCRIPT_EXIT_BAD_SCRIPT;
    }
    const char* captures = getenv("HELM_CAPTURE_DIR");
    g_run.captureDir = captures && *captures ? captures : ".";
    std::error_code ec;
    std::filesystem::create_directories(g_run.captureDir, ec);
    InputScript_SetProbe(g_run.script, Probe, nullptr);
    InputScript_SetCapture(g_run.script, Capture, nullptr);
    return 0;
}

// Where HELM_SAVE_STOP stops the next save.
struct SaveStop {
    unsigned long bytes = 0;    // a byte count: after this many bytes
    bool beforeRename = false;  // "rename"; "renamed" stops after the rename
};

SaveStop g_saveStop;

[[noreturn]] void HoldSave()
{
    if (FILE* f = fopen("save-stopped", "w")) {
        fputs("stopped\n", f);
        fclose(f);
    }
    fflush(stdout);
    fflush(stderr);
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

size_t StoppingWrite(const void* data, size_t size, void* file)
{
    const size_t n = std::min(size, (size_t)g_saveStop.bytes);
    const size_t written = fwrite(data, 1, n, (FILE*)file);
    fflush((FILE*)file);
    if (n < size) HoldSave();
    return written;
}

int StoppingSync(void* file, const char* folder)
{
    const int ok = file ? SysFile_SyncFile((FILE*)file) : SysFile_SyncFolder(folder);
    if ((file != nullptr) == g_saveStop.beforeRename) HoldSave();
    return ok;
}

// 0, or the exit code when HELM_SAVE_STOP is not understood.
int SetUpSaveStop()
{
    const char* stop = getenv("HELM_SAVE_STOP");
    if (!stop || !*stop) return 0;
    if (!strcmp(stop, "rename") || !strcmp(stop, "renamed")) {
        g_saveStop.beforeRename = !strcmp(stop, "rename");
        Save_SetSyncHook(StoppingSync);
        return 0;
    }
    if (!ReadNumber(stop, 0x7FFFFFFFul, &g_saveStop.bytes)) {
        fprintf(stderr, "HELM_SAVE_STOP: \"%s\" is not \"rename\", \"renamed\" or a byte count\n", stop);
        return INPUTSCRIPT_EXIT_BAD_SCRIPT;
    }
    Save_SetWriteHook(StoppingWrite);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Message_HandleQuitSignals();
    size_t length = Entry_BuildCommandLine(argc, argv, nullptr, 0);
    std::vector<char> commandLine(length + 1);
    Entry_BuildCommandLine(argc, argv, commandLine.data(), commandLine.size());
    if (const char* name = getenv("HELM_MUTEX_NAME")) Mutex_SetTestName(name);
    AppHooks hooks = ProgramHooks_Make();
    if (const char* testScreen = getenv("HELM_TEST_SCREEN"); testScreen && *testScreen) {
        hooks.gameSetup = nullptr;
        hooks.gameLoadMovieList = nullptr;
    }
    if (int failed = SetUpSaveStop()) return failed;
    if (int failed = SetUpRun(&hooks)) {
        InputScript_Destroy(g_run.script);
        return failed;
    }
    AppHooks_Install(&hooks);
    ProgramHooks_InstallStateHooks();
    static int instance;  // the module instance is only compared, never read
    int result = App_Main(&instance, nullptr, commandLine.data(), 1);
    Entry_Shutdown();
    if (g_run.script) {
        // The game may end by itself where the script expects it (an Escape
        // on the main menu before "end"); anywhere else the run fails. A
        // game that never ran has said why already.
        if (App_HasRun() && InputScript_GameEnded(g_run.script) == INPUTSCRIPT_FAILED) {
            fprintf(stderr, "%s\n", InputScript_GetMessage(g_run.script));
            result = INPUTSCRIPT_EXIT_FAILED;
        }
        InputScript_Destroy(g_run.script);
    }
    if (g_frameLog.file) fclose(g_frameLog.file);
    return result;
}
