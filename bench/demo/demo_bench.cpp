// demo_bench: the whole program on the demo data, per level, as a player
// runs it headless: the wall time and the process's CPU time (every thread)
// of a level frame, at each rasteriser thread count and resolution asked
// for, the level's load time cold (no cache the game makes) and from the
// caches, and the peak resident memory of the runs.
//
//   demo_bench [STAGE] [--frames N] [--runs N] [--levels 1,2] [--threads 1,4]
//              [--sizes 640x480,1280x720]
//
// STAGE defaults to build/stage (made by the demo_stage target); the levels
// are the "levels\levelN.cfg" the stage holds (or those --levels names).
// --threads takes counts of HELM_RASTER_THREADS, 0 for the default (one per
// CPU; default list "1,0"); --sizes the window's client sizes (default
// 640x480). Each run is build/helm/helm as a child process in a copy of the
// stage, driven by a script on the fixed 20 ms step, writing its frame times
// through HELM_FRAME_LOG. With --runs N every thread count and size is run
// N times, interleaved (the runs of one round one after the other), and the
// table gives the median with the spread (min-max). Pin the program with
// taskset to compare thread counts on a fixed set of cores; the load
// average is printed beside the figures, since other work on the machine
// moves them. Beside the table it measures the machine's memory bandwidth
// on those cores: each thread clearing, reading and copying (with streaming
// stores, as the present does) buffers of a frame's colour and depth, alone
// and with as many threads as the most the table runs, so that a four-thread
// run that costs more CPU time than it should can be told from a machine
// whose shared bandwidth runs out; and the CPU time of clearing a frame's
// tiles on one thread and on that many, the tiles shared out by rows of
// tiles (as the rasteriser does) or by diagonals. Not run by ctest.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/lib/cfgc.h"

namespace {

namespace fs = std::filesystem;

struct Frame {
    double ms, cpuMs;
    std::string state;
};

struct RunFigures {
    bool ok = false;
    double loadMs = 0;  // the frames that began with the level state still starting
    double meanMs = 0, cpuMs = 0, p99Ms = 0;  // per level frame
    long peakKb = 0;
};

// One way to run the program: a rasteriser thread count and a client size.
struct Setting {
    int threads;  // 0: the default
    int width, height;
};

std::vector<Frame> ReadLog(const fs::path& path)
{
    std::vector<Frame> frames;
    std::ifstream in(path);
    Frame f;
    while (in >> f.ms >> f.cpuMs >> f.state) frames.push_back(f);
    return frames;
}

// Runs the program once in the folder; the figures of its frame log.
RunFigures RunOnce(const fs::path& folder, int level, const Setting& setting, int frames)
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
                "HELM_MUTEX_NAME=demo-bench-" + std::to_string(getpid()), "XDG_RUNTIME_DIR=" + folder.string(),
                "HELM_SCRIPT=" + script.string(),
                "HELM_FRAME_LOG=" + log.string(), "HELM_CAPTURE_DIR=" + (folder / "captures").string()});
    if (setting.threads > 0) env.push_back("HELM_RASTER_THREADS=" + std::to_string(setting.threads));
    std::vector<std::string> argv = {(fs::path(HELM_BINARY_DIR) / "helm" / "helm").string(),
                                     "-quiet",
                                     "-Width",
                                     std::to_string(setting.width),
                                     "-Height",
                                     std::to_string(setting.height),
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
    std::vector<const Frame*> counted;
    for (size_t i = first; i < log_.size(); i++)
        if (log_[i].state == "level") counted.push_back(&log_[i]);
    if (counted.size() > (size_t)frames) counted.erase(counted.begin(), counted.end() - frames);
    if (counted.empty()) return figures;
    std::vector<double> times;
    double sum = 0, cpu = 0;
    for (const Frame* f : counted) {
        times.push_back(f->ms);
        sum += f->ms;
        cpu += f->cpuMs;
    }
    figures.meanMs = sum / times.size();
    figures.cpuMs = cpu / times.size();
    std::sort(times.begin(), times.end());
    figures.p99Ms = times[std::min(times.size() - 1, (size_t)(times.size() * 0.99))];
    figures.ok = true;
    return figures;
}

// Median, least and largest of some figures.
struct Spread {
    double median, least, most;
};

Spread SpreadOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return {n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]), v.front(), v.back()};
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    double a = 0, b = 0, c = 0;
    if (!(in >> a >> b >> c)) return "unknown";
    char text[64];
    snprintf(text, sizeof text, "%.2f %.2f %.2f", a, b, c);
    return text;
}

// GB/s per thread of each of `threads` threads at once clearing, reading and
// copying (streaming stores) `bytes`-byte buffers of its own, the best of a
// few passes.
struct Bandwidth {
    double fill, read, copy;
};

Bandwidth MeasureBandwidth(size_t bytes, int threads)
{
    bytes &= ~size_t(63);
    std::vector<Bandwidth> each((size_t)threads);
    std::atomic<int> ready{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++)
        workers.emplace_back([&, t] {
            struct alignas(64) Line {
                uint8_t bytes[64];
            };
            std::vector<Line> fromLines(bytes / 64), toLines(bytes / 64);
            auto* a = fromLines.data()->bytes;
            const auto* from = reinterpret_cast<const __m128i*>(a);
            auto* to = reinterpret_cast<__m128i*>(toLines.data()->bytes);
            const size_t count = bytes / 16;
            ready++;
            while (ready.load() < threads) std::this_thread::yield();
            auto best = [&](auto pass) {
                double least = 1e9;
                for (int r = 0; r < 8; r++) {
                    const auto start = std::chrono::steady_clock::now();
                    pass(r);
                    least = std::min(least,
                                     std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
                }
                return bytes / least / 1e9;
            };
            Bandwidth& b = each[(size_t)t];
            b.fill = best([&](int r) {
                memset(a, r, bytes);
                asm volatile("" ::"r"(a) : "memory");
            });
            uint64_t sum = 0;
            b.read = best([&](int) {
                __m128i acc = _mm_setzero_si128();
                for (size_t i = 0; i < count; i++) acc = _mm_add_epi64(acc, _mm_load_si128(from + i));
                sum += (uint64_t)_mm_cvtsi128_si64(acc);
            });
            b.copy = best([&](int) {
                for (size_t i = 0; i < count; i++) _mm_stream_si128(to + i, _mm_load_si128(from + i));
                _mm_sfence();
            });
            if (sum == 1) printf(" ");  // keeps the reads
        });
    for (std::thread& w : workers) w.join();
    Bandwidth mean = {0, 0, 0};
    for (const Bandwidth& b : each)
        mean.fill += b.fill / threads, mean.read += b.read / threads, mean.copy += b.copy / threads;
    return mean;
}

// CPU milliseconds a frame of `threads` threads clearing the 64 x 64 tiles
// of a width x height frame's colour and depth (four bytes a pixel), a
// tile's rows as the rasteriser clears them, each tile by the thread of
// its row (ty % threads) or of its diagonal ((tx + ty) % threads); the
// best of a few passes.
double TileClearMs(int width, int height, int threads, bool byRows)
{
    const size_t pitch = ((size_t)width * 4 + 63) & ~size_t(63), bytes = pitch * (size_t)height;
    struct alignas(64) Line {
        uint8_t bytes[64];
    };
    std::vector<Line> colour(bytes / 64), depth(bytes / 64);
    uint8_t* surfaces[2] = {colour.data()->bytes, depth.data()->bytes};
    std::vector<double> seconds((size_t)threads, 1e9);
    std::atomic<int> ready{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++)
        workers.emplace_back([&, t] {
            ready++;
            while (ready.load() < threads) std::this_thread::yield();
            for (int pass = 0; pass < 20; pass++) {
                const auto start = std::chrono::steady_clock::now();
                for (int ty = 0; ty * 64 < height; ty++)
                    for (int tx = 0; tx * 64 < width; tx++) {
                        if ((byRows ? ty : tx + ty) % threads != t) continue;
                        const int w = std::min(64, width - tx * 64), h = std::min(64, height - ty * 64);
                        for (uint8_t* surface : surfaces)
                            for (int y = 0; y < h; y++)
                                memset(surface + (size_t)(ty * 64 + y) * pitch + (size_t)tx * 256, pass, (size_t)w * 4);
                    }
                asm volatile("" ::"r"(surfaces) : "memory");
                seconds[(size_t)t] =
                    std::min(seconds[(size_t)t],
                             std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            }
        });
    for (std::thread& w : workers) w.join();
    double sum = 0;
    for (double s : seconds) sum += s;
    return sum * 1000;
}

// "1,4" into numbers; false when a part is not a number at least `least`.
bool ReadList(const char* text, int least, std::vector<int>* out)
{
    out->clear();
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        char* end = nullptr;
        const long v = strtol(part.c_str(), &end, 10);
        if (part.empty() || *end || v < least || v > 1000) return false;
        out->push_back((int)v);
    }
    return !out->empty();
}

bool ReadSizes(const char* text, std::vector<Setting>* out)
{
    out->clear();
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        Setting s = {0, 0, 0};
        char x = 0;
        std::stringstream size(part);
        if (!(size >> s.width >> x >> s.height) || x != 'x' || s.width < 64 || s.height < 64 || s.width > 8192 ||
            s.height > 8192)
            return false;
        out->push_back(s);
    }
    return !out->empty();
}

}  // namespace

int main(int argc, char** argv)
{
    fs::path stage = fs::path(HELM_BINARY_DIR) / "stage";
    int frames = 300, runs = 1;
    std::vector<int> threads = {1, 0}, wantedLevels;
    std::vector<Setting> sizes = {{0, 640, 480}};
    for (int i = 1; i < argc; i++) {
        const bool value = i + 1 < argc;
        if (!strcmp(argv[i], "--frames") && value) {
            frames = std::max(10, atoi(argv[++i]));
        } else if (!strcmp(argv[i], "--runs") && value) {
            runs = std::max(1, atoi(argv[++i]));
        } else if (!strcmp(argv[i], "--threads") && value && ReadList(argv[i + 1], 0, &threads)) {
            i++;
        } else if (!strcmp(argv[i], "--levels") && value && ReadList(argv[i + 1], 0, &wantedLevels)) {
            i++;
        } else if (!strcmp(argv[i], "--sizes") && value && ReadSizes(argv[i + 1], &sizes)) {
            i++;
        } else if (argv[i][0] == '-') {
            fprintf(stderr,
                    "usage: demo_bench [STAGE] [--frames N] [--runs N] [--levels 1,2] [--threads 1,4] "
                    "[--sizes 640x480,1280x720]\n");
            return 2;
        } else {
            stage = argv[i];
        }
    }
    std::vector<int> levels;
    for (int n = 0; n < 100; n++) {
        const std::string name = "levels\\level" + std::to_string(n) + ".cfg";
        const bool wanted =
            wantedLevels.empty() || std::find(wantedLevels.begin(), wantedLevels.end(), n) != wantedLevels.end();
        if (wanted && fs::exists(stage / "DATA" / Cfgc_OutputPath(name.c_str()))) levels.push_back(n);
    }
    if (levels.empty()) {
        fprintf(stderr, "demo_bench: no level in %s (build the demo_stage target)\n", stage.c_str());
        return 1;
    }
    std::vector<Setting> settings;
    for (const Setting& size : sizes)
        for (int t : threads) settings.push_back({t, size.width, size.height});
    const fs::path work = fs::temp_directory_path() / ("helm-demo-bench-" + std::to_string(getpid()));
    printf("%d frames a run, headless, %d run(s) of each setting interleaved: median [min-max]; stage %s\n", frames,
           runs, stage.c_str());
    printf("load average at the start: %s\n", LoadAverage().c_str());
    {
        // A frame's colour and depth at the largest size the runs use.
        size_t frameBytes = 0;
        int most = 1;
        for (const Setting& s : settings) frameBytes = std::max(frameBytes, (size_t)s.width * s.height * 8);
        for (int t : threads) most = std::max(most, t ? t : (int)std::thread::hardware_concurrency());
        const Bandwidth one = MeasureBandwidth(frameBytes, 1), all = MeasureBandwidth(frameBytes, most);
        int width = 0, height = 0;
        for (const Setting& s : settings)
            if ((size_t)s.width * s.height * 8 == frameBytes) width = s.width, height = s.height;
        printf(
            "memory bandwidth per thread, %.1f MB buffers: clear %.1f GB/s, read %.1f, streamed copy %.1f on 1 "
            "thread; %.1f, %.1f, %.1f each on %d at once (%.2f, %.2f, %.2f of one)\n",
            frameBytes / 1048576.0, one.fill, one.read, one.copy, all.fill, all.read, all.copy, most,
            all.fill / one.fill, all.read / one.read, all.copy / one.copy);
        printf(
            "clearing the tiles of a %dx%d frame's colour and depth: %.2f ms CPU on 1 thread; on %d, %.2f with "
            "a thread's tiles on diagonals, %.2f by rows\n",
            width, height, TileClearMs(width, height, 1, true), most, TileClearMs(width, height, most, false),
            TileClearMs(width, height, most, true));
    }
    printf("%-5s %-9s %7s | %-21s | %-21s | %7s | %7s %6s | %8s\n", "level", "size", "threads", "wall ms/frame",
           "CPU ms/frame", "fps", "speed-up", "CPU", "p99 ms");
    int failed = 0;
    for (int level : levels) {
        const fs::path folder = work / ("level" + std::to_string(level));
        std::error_code ec;
        fs::remove_all(folder, ec);
        fs::create_directories(folder);
        fs::copy(stage, folder, fs::copy_options::recursive);
        // The first run finds no cache (its load is the cold one), the
        // second finds the caches the first made.
        const RunFigures cold = RunOnce(folder, level, settings[0], frames);
        std::vector<std::vector<RunFigures>> results(settings.size());
        bool ok = cold.ok;
        for (int r = 0; r < runs && ok; r++)
            for (size_t s = 0; s < settings.size() && ok; s++) {
                results[s].push_back(RunOnce(folder, level, settings[s], frames));
                ok = results[s].back().ok;
            }
        if (!ok) {
            failed++;
            continue;
        }
        long peak = cold.peakKb;
        double baseWall = 0, baseCpu = 0;
        for (size_t s = 0; s < settings.size(); s++) {
            std::vector<double> wall, cpu, p99;
            for (const RunFigures& f : results[s]) {
                wall.push_back(f.meanMs);
                cpu.push_back(f.cpuMs);
                p99.push_back(f.p99Ms);
                peak = std::max(peak, f.peakKb);
            }
            const Spread w = SpreadOf(wall), c = SpreadOf(cpu), p = SpreadOf(p99);
            // Ratios against the first thread count at the same size.
            if (s % threads.size() == 0) baseWall = w.median, baseCpu = c.median;
            char size[24], count[16];
            snprintf(size, sizeof size, "%dx%d", settings[s].width, settings[s].height);
            snprintf(count, sizeof count, settings[s].threads ? "%d" : "default", settings[s].threads);
            printf("%-5d %-9s %7s | %6.2f [%5.2f-%5.2f] | %6.2f [%5.2f-%5.2f] | %7.1f | %7.2fx %5.2fx | %8.2f\n",
                   level, size, count, w.median, w.least, w.most, c.median, c.least, c.most, 1000.0 / w.median,
                   baseWall / w.median, c.median / baseCpu, p.median);
        }
        printf("%-5d load cold %.0f ms, cached %.0f ms; peak RSS %.1f MB; load average %s\n", level, cold.loadMs,
               results[0][0].loadMs, peak / 1024.0, LoadAverage().c_str());
        fflush(stdout);
        fs::remove_all(folder, ec);
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return failed ? 1 : 0;
}
