#include "app/file.h"

#include <cstring>
#include <thread>

#include "data_fixture.h"
#include "platform/win32/clock.h"

namespace {

TEST(FileNames, DataGoesInFrontDoubledBackSlashesCollapseAndExtensionsFollowTheLastDot) {
  const std::pair<const char*, const char*> paths[] = {{"Levels\\Track01", "DATA\\Levels\\Track01"},
                                                       {"\\Menu.cfg", "DATA\\Menu.cfg"},
                                                       {"a\\\\\\b", "DATA\\a\\\\b"},
                                                       {"a\\\\b\\\\c", "DATA\\a\\b\\c"}};
  for (const auto& [name, path] : paths) EXPECT_STREQ(File_ResolvePath(name), path) << name;
  const char* cut = File_ResolvePath(std::string(5000, 'x').c_str());  // within its buffer
  EXPECT_EQ(strlen(cut), 1023u);
  EXPECT_EQ(strncmp(cut, "DATA\\xxx", 8), 0);
  EXPECT_STREQ(File_GetExtension("x.y.z"), "z");
  EXPECT_STREQ(File_GetExtension("name."), "");
  EXPECT_EQ(File_GetExtension("xyz"), nullptr);
  EXPECT_EQ(File_GetExtension(""), nullptr);
}

using FileLayer = DataTest;

TEST_F(FileLayer, PrintfWritesThroughTheTableAndTheDiskCopyReadsPlainly) {
  std::filesystem::create_directories("data");
  void* f = File_Open("out.txt", "w");
  ASSERT_NE(f, nullptr);
  EXPECT_GE(File_Printf(f, "%s=%d\n", "key", 42), 0);
  File_Close(f);
  EXPECT_EQ(ReadDisk("data/out.txt"), "key=42\n");
  const FileInterface* disk = File_GetInterface();
  ASSERT_NE(disk, nullptr);
  void* g = disk->open("DATA\\out.txt", "rb");
  ASSERT_NE(g, nullptr);
  char buffer[16] = {};
  EXPECT_EQ(disk->read(buffer, 1, sizeof buffer, g), 7u);
  EXPECT_STREQ(buffer, "key=42\n");
  disk->close(g);
}

struct ProgressLog {
  int calls = 0;
  uint32_t elapsed = 0;
  float bytes = 0;
};

void RecordProgress(uint32_t elapsedMs, float bytes, void* arg) {
  ProgressLog* log = (ProgressLog*)arg;
  log->calls++;
  log->elapsed = elapsedMs;
  log->bytes = bytes;
}

uint32_t g_now = 0;
uint32_t ScriptedClock() { return g_now; }

TEST_F(FileLayer, ProgressReportsAtMostEvery100MsWithTheBytesSinceTheLastReport) {
  WriteDisk("data/big.bin", std::string(100000, 'b'));
  File_SetClock(ScriptedClock);
  g_now = 1000;
  void* f = File_Open("big.bin", "rb");
  ASSERT_NE(f, nullptr);
  std::vector<char> buffer(40000);
  // Counted before any callback is set: carried by the first report.
  File_Read(buffer.data(), 1, 1000, f);

  ProgressLog log;
  LoadProgress_Begin(7, RecordProgress, &log);
  File_Read(buffer.data(), 1, 40000, f);
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(log.elapsed, 1000u);
  EXPECT_EQ(log.bytes, 41000.0f);

  g_now += 50;
  File_Read(buffer.data(), 1, 40000, f);
  EXPECT_EQ(log.calls, 1);  // within 100 ms
  g_now += 50;
  File_Read(buffer.data(), 1, 100, f);
  EXPECT_EQ(log.calls, 1);  // exactly 100 ms is not more than 100
  g_now += 1;
  File_Read(buffer.data(), 4, 10, f);
  EXPECT_EQ(log.calls, 2);
  EXPECT_EQ(log.elapsed, 101u);
  EXPECT_EQ(log.bytes, 40000.0f + 100.0f + 40.0f);

  LoadProgress_End(7);
  g_now += 500;
  File_Read(buffer.data(), 1, 10, f);
  EXPECT_EQ(log.calls, 2);
  File_Close(f);
}

TEST_F(FileLayer, ShutdownPutsTheOriginalSlotsBack) {
  FileInterface* live = File_GetLiveInterface();
  File_Shutdown();
  FileInterface original = *live;
  ASSERT_EQ(File_Init(), 1);
  ASSERT_EQ(File_Init(), 1);  // a second take-over changes nothing
  EXPECT_NE(live->read, original.read);
  EXPECT_NE(live->open, original.open);
  File_Shutdown();
  EXPECT_EQ(memcmp(live, &original, sizeof original), 0);  // every slot
  // And they work without the layer behind them: the engine's own slots
  // take disk paths as given.
  WriteDisk("line.txt", "first\nsecond\n");
  void* f = live->open("line.txt", "rb");
  ASSERT_NE(f, nullptr);
  char line[16] = {};
  EXPECT_STREQ(live->gets(line, sizeof line, f), "first\n");
  EXPECT_EQ(live->read(line, 1, 6, f), 6u);
  live->close(f);
  ASSERT_EQ(File_Init(), 1);
}

}  // namespace
