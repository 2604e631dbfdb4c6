// Running the whole program as a player gets it: build/helm/helm as a child
// process, headless, in a working folder of its own copied from the demo
// stage, driven by a script of tests/e2e/scripts/ on a fixed clock, with its
// captured frames compared with golden images in tests/e2e/golden/.
//
// Every run gets its own folder under the test's temporary folder and its
// own single-instance name, so cases run in parallel. It draws with one
// rasteriser thread (pictures are the same at every count, and parallel
// cases must not fight for the cores), a 20 ms step and a fixed seed.
//
// The stage: build/stage (the build's demo_stage target), or the copy the
// set-up case StageSetup.MakesTheCaches filled with every generated cache
// (a CTest fixture that runs before the other cases), once it is ready.
// Goldens: see MatchGoldenFile.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/direct3d/raster_scene.h"
#include "tests/test_env.h"
#include "tools/lib/cfgc.h"

namespace e2e {

namespace fs = std::filesystem;

inline fs::path SourceDir() { return HELM_SOURCE_DIR; }
inline fs::path BinaryDir() { return HELM_BINARY_DIR; }
inline fs::path TempDir() { return TestTmp(); }
inline fs::path Program() { return BinaryDir() / "helm" / "helm"; }
inline fs::path ScriptDir() { return SourceDir() / "tests" / "e2e" / "scripts"; }
inline fs::path GoldenDir() { return SourceDir() / "tests" / "e2e" / "golden"; }

// The stage the set-up case fills with caches (beside build/stage, for the
// cases of every later run), and the mark it leaves when done.
inline fs::path CachedStage() { return BinaryDir() / "stage-cached"; }
constexpr const char* kStageReady = ".e2e-ready";

// The stage runs start from; HELM_E2E_STAGE names another (a stage built
// from data in the making).
inline fs::path Stage()
{
    if (const char* stage = getenv("HELM_E2E_STAGE"); stage && *stage) return stage;
    return fs::exists(CachedStage() / kStageReady) ? CachedStage() : BinaryDir() / "stage";
}

// Where the stage holds the compiled configuration the game opens by that
// name ("FrontEnd\\FrontEnd.cfg"); cases that need a part of the data set
// that is not made yet skip until it is there.
inline fs::path StageConfigPath(const char* gameName) { return Stage() / "DATA" / Cfgc_OutputPath(gameName); }
inline bool StageHasConfig(const char* gameName) { return fs::exists(StageConfigPath(gameName)); }

inline std::string ReadFile(const fs::path& path) { return TestReadFile(path); }

// Copies the folder's tree over `to` (made when missing), files replaced.
inline void CopyTree(const fs::path& from, const fs::path& to)
{
    fs::create_directories(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

struct GameRun {
    std::string name;    // the folder under the temporary folder; the mutex name
    std::string script;  // a file of tests/e2e/scripts/ or an absolute path; "" none
    std::vector<std::string> args = {"-quiet"};
    std::vector<std::string> env = {};  // "NAME=value", after (and over) the defaults
    fs::path stage = {};                // "" the default Stage()
    bool freshFolder = true;            // false: run again in the folder the last run left
    int cpuSeconds = 120;               // CPU time (every thread's) before the process is killed
};

struct Result {
    int exitCode = -1;  // -1 when it did not exit by itself
    int signal = 0;     // the signal that ended it, or 0
    bool timedOut = false;
    std::string output;  // stdout and stderr together
    fs::path folder;     // the working folder
    fs::path captures;   // where its captures went
};

// What a run said beyond the line every run ends with (the shut-down's
// count of the lights left): faults, when it is not empty.
inline std::string Faults(const Result& r)
{
    std::string out = r.output;
    const std::string last = "Light Count: 0\n";
    if (const size_t at = out.find(last); at != std::string::npos) out.erase(at, last.size());
    return out;
}

// A start without a sound device (ALSA asked for a card that is not there),
// and whether the run said so in one line and said nothing else.
inline const std::vector<std::string> kNoSoundDevice = {"SDL_AUDIODRIVER=alsa", "AUDIODEV=hw:99"};
inline bool SaidOnlyItPlaysSilent(const Result& r)
{
    const std::string out = Faults(r);
    return out.rfind("No sound device (", 0) == 0 && out.find('\n') + 1 == out.size() &&
           out.find("): the game plays silent.") != std::string::npos;
}

// A run started on a level directly ("-leveltype Glim -levelnumber N").
inline GameRun LevelRun(const std::string& name, int level, const std::string& script)
{
    GameRun run;
    run.name = name;
    run.script = script;
    run.args = {"-quiet", "-leveltype", "Glim", "-levelnumber", std::to_string(level)};
    return run;
}

inline fs::path FolderOf(const GameRun& run) { return TempDir() / ("run-" + run.name); }

// Compiles the data's configuration text `source` (below data/configs, "/"
// between folders) into the run folder as the game opens it by `name`.
inline bool CompileAs(const fs::path& folder, const std::string& source, const char* name, std::string* message)
{
    return Cfgc_CompileFile((SourceDir() / "data" / "configs" / source).string(),
                            (folder / "DATA" / Cfgc_OutputPath(name)).string(), message) != 0;
}

// The run's character list names the character in every place: player 0,
// and any character a draw picks, plays it.
inline void OnlyCharacter(const fs::path& folder, const std::string& name)
{
    std::ofstream list(folder / "DATA" / "CharList.txt", std::ios::trunc);
    for (int i = 0; i < 8; i++) list << name << "\n";
}

// The front end's configuration with DemoWaitTime 3, compiled into the run
// folder: the title left alone starts the attract demo after 3 s.
inline bool QuickAttract(const fs::path& folder, std::string* message)
{
    std::string text = ReadFile(SourceDir() / "data" / "configs" / "FrontEnd" / "FrontEnd.cfg");
    const size_t at = text.find("DemoWaitTime = ");
    std::ofstream(folder / "quick.cfg") << text.replace(at, text.find('\n', at) - at, "DemoWaitTime = 3");
    return Cfgc_CompileFile((folder / "quick.cfg").string(),
                            (folder / "DATA" / Cfgc_OutputPath("FrontEnd\\FrontEnd.cfg")).string(), message) != 0;
}

// A fresh copy of the stage as the run's folder, for a case to change before
// it runs there (the run then reuses it).
inline fs::path FreshFolder(GameRun& run)
{
    std::error_code ec;
    fs::remove_all(FolderOf(run), ec);
    CopyTree(run.stage.empty() ? Stage() : run.stage, FolderOf(run));
    run.freshFolder = false;
    return FolderOf(run);
}

// Makes the run's working folder (a copy of the stage unless it reuses the
// last one) and starts the program there. Returns the child's id (-1 when
// it could not start); output goes to <folder>/output.txt.
inline pid_t Start(const GameRun& run)
{
    GameRun copy = run;
    const fs::path folder = run.freshFolder ? FreshFolder(copy) : FolderOf(run);
    fs::create_directories(folder / "captures");
    // The whole environment, the run's own settings over the defaults over
    // the inherited one, and the arguments, made before the fork: the child
    // only calls exec.
    std::map<std::string, std::string> vars;
    auto set = [&](const std::string& entry) { vars[entry.substr(0, entry.find('='))] = entry; };
    for (char** e = environ; *e; ++e) set(*e);
    for (const std::string& entry : std::vector<std::string>{
             "SDL_VIDEODRIVER=offscreen", "SDL_AUDIODRIVER=dummy", "HELM_RASTER_THREADS=1", "HELM_FIXED_STEP_MS=20",
             "HELM_MUTEX_NAME=helm-e2e-" + run.name + "-" + std::to_string(getpid()),
             "HELM_CAPTURE_DIR=" + (folder / "captures").string()})
        set(entry);
    if (!run.script.empty())
        set("HELM_SCRIPT=" +
            (fs::path(run.script).is_absolute() ? fs::path(run.script) : ScriptDir() / run.script).string());
    for (const std::string& mine : run.env) set(mine);
    std::vector<std::string> environment, argv = {Program().string()};
    for (const auto& [key, entry] : vars) environment.push_back(entry);
    argv.insert(argv.end(), run.args.begin(), run.args.end());
    std::vector<char*> envp, args;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const std::string output = (folder / "output.txt").string();
    const std::string where = folder.string();
    // The limit counts the program's own work, not the time a busy machine
    // keeps it waiting. HELM_E2E_TIME_SCALE stretches it for slow builds
    // (sanitizers, coverage, no optimisation).
    const char* scale = getenv("HELM_E2E_TIME_SCALE");
    const rlim_t cpu = (rlim_t)run.cpuSeconds * std::max(1, scale ? atoi(scale) : 1);
    const struct rlimit limit = {cpu, cpu};

    const pid_t pid = fork();
    if (pid != 0) return pid;
    // A run that spins is killed by the kernel at its limit; one that
    // outlives the test ends with it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    setrlimit(RLIMIT_CPU, &limit);
    if (chdir(where.c_str()) != 0) _exit(126);
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) _exit(126);
    dup2(fd, 1);
    dup2(fd, 2);
    // Nobody types into a run: the device dialog of a start without "-quiet" takes its default.
    if (const int none = open("/dev/null", O_RDONLY); none >= 0) dup2(none, 0);
    execve(args[0], args.data(), envp.data());
    _exit(127);
}

// The CPU time (every thread's, in clock ticks) a running child has used;
// -1 once it is gone.
inline long CpuTicks(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t name = stat.rfind(')');  // the program's name may hold spaces
    long user = 0, system = 0;
    if (name == std::string::npos ||
        sscanf(stat.c_str() + name + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &user, &system) != 2)
        return -1;
    return user + system;
}

// Tells a hung child: one that used less than a second of CPU time in the
// last minute, so it waits for something that never comes (however busy
// the machine, a program that runs gets several seconds a minute; one held
// in a wait that polls takes a few ticks).
struct Progress {
    long ticks = -1;
    std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
    bool Stalled(pid_t pid)
    {
        const long now = CpuTicks(pid);
        const auto t = std::chrono::steady_clock::now();
        if (ticks < 0) ticks = now;
        if (t - since < std::chrono::minutes(1)) return false;
        if (now - ticks < sysconf(_SC_CLK_TCK)) return true;
        ticks = now, since = t;
        return false;
    }
};

// Waits for the child until it ends, is killed at its CPU limit (see
// Start) or stalls (then it is killed).
inline Result Wait(const GameRun& run, pid_t pid)
{
    Result r;
    r.folder = FolderOf(run);
    r.captures = r.folder / "captures";
    if (pid < 0) {
        r.output = "the program could not be started";
        return r;
    }
    Progress progress;
    int status = 0;
    bool stalled = false;
    struct rusage usage = {};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        if (done < 0) {
            r.output = "lost the program";
            return r;
        }
        if ((stalled = progress.Stalled(pid))) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    r.output = ReadFile(r.folder / "output.txt");
    const double cpu =
        usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    const bool spent = r.signal == SIGKILL && cpu + 0.5 >= run.cpuSeconds;
    r.timedOut = stalled || spent;
    if (stalled) r.output += "\n[killed: less than a second of CPU time used in a minute]";
    if (spent) r.output += "\n[killed after " + std::to_string(std::lround(cpu)) + " s of CPU time]";
    return r;
}

inline Result RunGame(const GameRun& run) { return Wait(run, Start(run)); }

// The capture of the run compared with tests/e2e/golden/<golden>.png
// (golden defaults to the capture's name): empty when it matches.
inline std::string MatchGolden(const Result& r, const std::string& capture, std::string golden = "", int tolerance = 2,
                               int allowedOff = 0)
{
    if (golden.empty()) golden = capture;
    return raster_test::MatchGoldenFile((r.captures / (capture + ".png")).string(),
                                        (GoldenDir() / (golden + ".png")).string(), (r.folder / capture).string(),
                                        tolerance, allowedOff);
}

// The same for a capture made at another window size than the golden's: both
// shrunk to cells of 4 x 4 golden pixels, compared with a tolerance suited to scaling.
inline std::string MatchScaledGolden(const Result& r, const std::string& capture)
{
    return raster_test::MatchGoldenFile((r.captures / (capture + ".png")).string(),
                                        (GoldenDir() / (capture + ".png")).string(), (r.folder / capture).string(), 48,
                                        20, 4);
}

// Skips the case (with why) when the stage was not built.
#define E2E_REQUIRE_STAGE()                                                                          \
    do {                                                                                             \
        if (!std::filesystem::exists(e2e::Stage() / "game.ver"))                                     \
            GTEST_SKIP() << "no demo stage at " << e2e::Stage() << " (build the demo_stage target)"; \
    } while (0)

}  // namespace e2e
