// Data layer throughput: configuration key lookups, loading text tables of
// growing size (the time per line stays flat), and small files opened and
// read through a mounted archive against the same files on disk. The files
// are read once before timing, so the disk figures are with a warm page
// cache.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/text.h"
#include "app/file.h"
#include "app/wad.h"
#include "gfx/core/engine.h"
#include "platform/win32/path.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/wadpack.h"

namespace {

constexpr int kGroups = 40;
constexpr int kKeysPerGroup = 50;  // 40 x 50 = 2,000 keys
constexpr int kFiles = 5000;       // files in the archive (10,000 entries with their text twins)

struct BenchData {
  std::filesystem::path folder;
  ConfigNode* config = nullptr;
  std::vector<std::string> keys;
  std::vector<std::string> files;
  bool mounted = false;
};

BenchData& Data() {
  static BenchData data;
  return data;
}

void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
}

void SetUpOnce() {
  BenchData& d = Data();
  if (!d.folder.empty()) return;
  std::random_device seed;
  d.folder = std::filesystem::temp_directory_path() / ("helm_data_bench_" + std::to_string(seed()));
  std::filesystem::create_directories(d.folder);
  std::filesystem::current_path(d.folder);
  Path_Shutdown();
  Engine_Init(nullptr, 0, 0);
  File_Init();
  ConfigSys_Init();
  Wad_Init();

  std::string text;
  for (int g = 0; g < kGroups; g++) {
    text += "Group" + std::to_string(g) + " {\n";
    for (int k = 0; k < kKeysPerGroup; k++) {
      text += "  Key" + std::to_string(k) + " = " + std::to_string(g * 1000 + k) + ".5\n";
      d.keys.push_back("Group" + std::to_string(g) + "::Key" + std::to_string(k));
    }
    text += "}\n";
  }
  std::vector<uint8_t> compiled;
  CfgcError error;
  Cfgc_Compile(text.data(), text.size(), &compiled, &error);
  WriteFile(d.folder / "data" / Cfgc_OutputPath("Bench.cfg"),
            std::string(compiled.begin(), compiled.end()));
  d.config = Config_Open("Bench.cfg");

  // 5,000 files of 1 to 4 KB in 50 folders.
  for (int i = 0; i < kFiles; i++) {
    std::string folder = "Folder" + std::to_string(i % 50);
    std::string name = "file" + std::to_string(i) + ".dat";
    WriteFile(d.folder / "data" / folder / name, std::string(1024 + (i % 4) * 1024, (char)('a' + i % 26)));
    d.files.push_back(folder + "\\" + name);
  }
  std::vector<WadPackFile> list;
  std::string packError;
  WadPack_ListFolder((d.folder / "data").string(), &list, &packError);
  WadPack_Write(list, "DATA", (d.folder / "DataPC.wad").string(), &packError);
}

size_t ReadWhole(const std::string& name) {
  static char buffer[8192];
  void* f = File_Open(name.c_str(), "rb");
  if (!f) return 0;
  size_t total = 0, n;
  while ((n = File_Read(buffer, 1, sizeof buffer, f)) > 0) total += n;
  File_Close(f);
  return total;
}

// Reads the files round-robin under the timer, after one untimed pass over
// them that warms the page cache.
void TimeReads(benchmark::State& state, const std::vector<std::string>& files, const char* label) {
  for (const std::string& name : files) ReadWhole(name);
  size_t i = 0, bytes = 0;
  for (auto _ : state) bytes += ReadWhole(files[i++ % files.size()]);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed((int64_t)bytes);
  state.SetLabel(label);
}

void BM_ConfigLookup(benchmark::State& state) {
  SetUpOnce();
  BenchData& d = Data();
  std::mt19937 random(1);
  std::vector<const char*> order;
  for (int i = 0; i < 4096; i++) order.push_back(d.keys[random() % d.keys.size()].c_str());
  size_t i = 0;
  float sum = 0;
  for (auto _ : state) {
    float v = 0;
    Config_GetFloat(d.config, order[i++ & 4095], &v);
    sum += v;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("2,000 keys, random key each lookup");
}
BENCHMARK(BM_ConfigLookup);

// Loads a text table of state.range(0) lines (a key in four appears twice).
void BM_TextLoad(benchmark::State& state) {
  SetUpOnce();
  const int lines = (int)state.range(0);
  const std::string name = "text" + std::to_string(lines) + ".txt";
  std::string text;
  for (int i = 0; i < lines; i++)
    text += "LS_Key" + std::to_string(i - (i % 4 == 3)) + "=Text of line " + std::to_string(i) + "\n";
  WriteFile(Data().folder / "data" / name, text);
  for (auto _ : state) {
    Text_Init();
    Text_ParseFile(name.c_str());
    Text_Shutdown();
  }
  state.SetItemsProcessed(state.iterations() * lines);
  state.SetLabel("lines per second should not fall as the table grows");
}
BENCHMARK(BM_TextLoad)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);

void BM_OpenReadDisk(benchmark::State& state) {
  SetUpOnce();
  BenchData& d = Data();
  if (d.mounted) {
    state.SkipWithError("archive already mounted");
    return;
  }
  TimeReads(state, d.files, "loose files on disk, warm page cache");
}
BENCHMARK(BM_OpenReadDisk);

void BM_OpenReadArchive(benchmark::State& state) {
  SetUpOnce();
  BenchData& d = Data();
  if (!d.mounted) d.mounted = Wad_Mount((d.folder / "DataPC.wad").string().c_str(), 1) == 1;
  if (!d.mounted) {
    state.SkipWithError("mount failed");
    return;
  }
  TimeReads(state, d.files, "archive of 5,000 files, warm page cache");
}
BENCHMARK(BM_OpenReadArchive);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  BenchData& d = Data();
  if (!d.folder.empty()) {
    if (d.config) Config_Close(d.config);
    ConfigSys_Shutdown();
    Wad_Shutdown();
    File_Shutdown();
    Engine_Term();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(d.folder);
  }
  return 0;
}
