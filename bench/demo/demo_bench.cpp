// demo_bench: the whole program on the demo data, per level, as a player
// runs it at 640 x 480 headless: frames per second (mean and 99th-percentile
// frame time) with one rasteriser thread and with the default count, the
// level's load time cold (no cache the game makes) and from the caches,
// and the peak resident memory of the run.
//
//   demo_bench [STAGE] [--frames N]
//
// STAGE defaults to build/stage (made by the demo_stage target); the levels
// are the "levels\levelN.cfg" the stage holds. Each run is build/helm/helm
// as a child process in a copy of the stage, driven by a script on the
// fixed 20 ms step, writing its frame times through HELM_FRAME_LOG. Not run
// by ctest.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/lib/cfgc.h"

namespace {

namespace fs = std::filesystem;

struct Frame {
    double ms;
    std::string state;
};

struct RunFigures {
    bool ok = false;
    double loadMs = 0;  // the frames that began with the level state still starting
    double meanMs = 0, p99Ms = 0;
    long peakKb = 0;
    int frames = 0;
};

std::vector<Frame> ReadLog(const fs::path& path)
{
    std::vector<Frame> frames;
    std::ifstream in(path);
    Frame f;
    while (in >> f.ms >> f.state) frames.push_back(f);
    return frames;
}

// Runs the program once in the folder; the figures of its frame log.
RunFigures RunOnce(const fs::path& folder, int level, bool oneThread, int frames)
{
    RunFigures figures;
    const fs::path script = folder / "bench-script.txt", log = folder / "frames.txt";
    {
        std::ofstream out(script);
        // A second of settling and the first page's Return, then the frames
        // that count.
        out << "wait state == level timeout 600\nafter 1\ntap Return\nafter 1\n"
            << "after " << frames * 0.02 << "\nend\n";
    }
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("HELM_", 0) == 0 || entry.rfind("SDL_", 0) == 0) continue;
        env.push_back(entry);
    }
    env.insert(env.end(),
               {"SDL_VIDEODRIVER=offscreen", "SDL_AUDIODRIVER=dummy", "HELM_FIXED_STEP_MS=20", "HELM_RANDOM_SEED=1",
                "HELM_MUTEX_NAME=demo-bench-" + std::to_string(getpid()), "HELM_SCRIPT=" + script.string(),
                "HELM_FRAME_LOG=" + log.string(), "HELM_CAPTURE_DIR=" + (folder / "captures").string()});
    if (oneThread) env.push_back("HELM_RASTER_THREADS=1");
    std::vector<std::string> argv = {(fs::path(HELM_BINARY_DIR) / "helm" / "helm").string(),
                                     "-quiet",
                                     "-leveltype",
                                     "Glim",
                                     "-levelnumber",
                                     std::to_string(level)};
    std::vector<char*> envp, args;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const std::string where = folder.string(), output = (folder / "output.txt").string();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(where.c_str()) != 0) _exit(126);
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) _exit(126);
        dup2(fd, 1);
        dup2(fd, 2);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    if (pid < 0) return figures;
    int status = 0;
    struct rusage usage = {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "level %d: the run failed; see %s\n", level, output.c_str());
        return figures;
    }
    figures.peakKb = usage.ru_maxrss;
    const std::vector<Frame> log_ = ReadLog(log);
    // The load: the frames that began while the level state was starting.
    size_t first = 0;
    for (; first < log_.size(); first++) {
        if (log_[first].state == "starting" && first + 1 < log_.size() && log_[first + 1].state == "level")
            figures.loadMs += log_[first].ms;
        if (log_[first].state == "level") break;
    }
    // The frames that count: the last `frames` of the level.
    std::vector<double> times;
    for (size_t i = first; i < log_.size(); i++)
        if (log_[i].state == "level") times.push_back(log_[i].ms);
    if (times.size() > (size_t)frames) times.erase(times.begin(), times.end() - frames);
    if (times.empty()) return figures;
    double sum = 0;
    for (double t : times) sum += t;
    figures.meanMs = sum / times.size();
    std::sort(times.begin(), times.end());
    figures.p99Ms = times[std::min(times.size() - 1, (size_t)(times.size() * 0.99))];
    figures.frames = (int)times.size();
    figures.ok = true;
    return figures;
}

}  // namespace

int main(int argc, char** argv)
{
    fs::path stage = fs::path(HELM_BINARY_DIR) / "stage";
    int frames = 300;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--frames") && i + 1 < argc) {
            frames = std::max(10, atoi(argv[++i]));
        } else if (argv[i][0] == '-') {
            fprintf(stderr, "usage: demo_bench [STAGE] [--frames N]\n");
            return 2;
        } else {
            stage = argv[i];
        }
    }
    std::vector<int> levels;
    for (int n = 0; n < 100; n++) {
        const std::string name = "levels\\level" + std::to_string(n) + ".cfg";
        if (fs::exists(stage / "DATA" / Cfgc_OutputPath(name.c_str()))) levels.push_back(n);
    }
    if (levels.empty()) {
        fprintf(stderr, "demo_bench: no level in %s (build the demo_stage target)\n", stage.c_str());
        return 1;
    }
    const fs::path work = fs::temp_directory_path() / ("helm-demo-bench-" + std::to_string(getpid()));
    printf("%d frames a run at 640 x 480, headless; stage %s\n", frames, stage.c_str());
    printf("%-6s %10s %10s | %-24s | %-24s | %9s\n", "level", "load cold", "cached", "1 thread: fps  mean  p99",
           "default: fps  mean  p99", "peak RSS");
    int failed = 0;
    for (int level : levels) {
        const fs::path folder = work / ("level" + std::to_string(level));
        std::error_code ec;
        fs::remove_all(folder, ec);
        fs::create_directories(folder);
        fs::copy(stage, folder, fs::copy_options::recursive);
        const RunFigures cold = RunOnce(folder, level, true, frames);
        const RunFigures cached = RunOnce(folder, level, true, frames);
        const RunFigures threads = RunOnce(folder, level, false, frames);
        if (!cold.ok || !cached.ok || !threads.ok) {
            failed++;
            continue;
        }
        const long peak = std::max({cold.peakKb, cached.peakKb, threads.peakKb});
        printf("%-6d %8.0fms %8.0fms | %7.1f %6.2fms %6.2fms | %7.1f %6.2fms %6.2fms | %6.1f MB\n", level, cold.loadMs,
               cached.loadMs, 1000.0 / cached.meanMs, cached.meanMs, cached.p99Ms, 1000.0 / threads.meanMs,
               threads.meanMs, threads.p99Ms, peak / 1024.0);
        fflush(stdout);
        fs::remove_all(folder, ec);
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return failed ? 1 : 0;
}
