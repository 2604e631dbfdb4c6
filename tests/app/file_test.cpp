#include "app/file.h"

#include <cstring>

#include "app/binfile.h"
#include "app/cache.h"

#include "data_fixture.h"

using namespace std::chrono_literals;

namespace {

TEST(FileNames, DataGoesInFrontDoubledBackSlashesCollapseAndExtensionsFollowTheLastDot) {
  const std::pair<const char*, const char*> paths[] = {{"Levels\\Track01", "DATA\\Levels\\Track01"},
                                                       {"\\Menu.cfg", "DATA\\Menu.cfg"},
                                                       {"a\\\\\\b", "DATA\\a\\\\b"},
                                                       {"a\\\\b\\\\c", "DATA\\a\\b\\c"}};
  for (const auto& [name, path] : paths) EXPECT_STREQ(File_ResolvePath(name), path) << name;
  const char* cut = File_ResolvePath(std::string(5000, 'x').c_str());  // within its buffer
  EXPECT_TRUE(strlen(cut) == 1023 && strncmp(cut, "DATA\\xxx", 8) == 0);
  EXPECT_EQ(std::string(File_GetExtension("x.y.z")) + "|" + File_GetExtension("name."), "z|");
  EXPECT_FALSE(File_GetExtension("xyz") || File_GetExtension(""));
}

TEST(FileWithoutEngine, OpensNothingAndReportsNoPosition) {
  FileInterface saved = *FileSystem_GetInterface();
  *FileSystem_GetInterface() = FileInterface{};
  char buffer[8];
  EXPECT_FALSE(File_Init() || File_Open("x", "rb") || File_Gets(buffer, sizeof buffer, nullptr) || File_GetSize("x", 1));
  EXPECT_EQ(File_Tell(nullptr) + File_Seek(nullptr, 0, 0), -2);  // no position, and nothing moved: not a success
  File_Shutdown();
  *FileSystem_GetInterface() = saved;
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
  void* g = disk ? disk->open("DATA\\out.txt", "rb") : nullptr;
  ASSERT_NE(g, nullptr);
  char buffer[16] = {};
  EXPECT_TRUE(disk->read(buffer, 1, sizeof buffer, g) == 7 && !strcmp(buffer, "key=42\n"));
  disk->close(g);
}

TEST_F(FileLayer, AReportSlowerThanTheIntervalLeavesTheLoadAnIntervalOfItsOwn)
{
    // Each report (a loading screen) takes 250 ms of the test's clock; the
    // next comes more than 100 ms after it ended, not at every read.
    static uint32_t now;
    static std::vector<std::pair<uint32_t, float>> reports;
    now = 1000, reports.clear();
    File_SetClock([] { return now; });
    const LoadProgressCallback screen = [](uint32_t ms, float n, void*) { reports.push_back({ms, n}), now += 250; };
    LoadProgress_Begin(1, screen, nullptr);
    for (uint32_t step : {0u, 100u, 1u}) {
        now += step;
        for (int i = 0; i < 50; i++) LoadProgress_AddBytes(4);
    }
    EXPECT_EQ(reports, (std::vector<std::pair<uint32_t, float>>{{1000, 4.0f}, {351, 400.0f}}));
}

TEST_F(FileLayer, ShutdownPutsTheOriginalSlotsBack) {
  FileInterface* live = File_GetLiveInterface();
  File_Shutdown();
  FileInterface original = *live;
  ASSERT_EQ(File_Init(), 1);
  ASSERT_EQ(File_Init(), 1);  // a second take-over changes nothing
  EXPECT_TRUE(live->read != original.read && live->open != original.open);
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

TEST_F(FileLayer, BinaryWordsAreLittleEndianShortReadsFailAndOnlyReadWriteAndAppendModesOpen) {
  std::filesystem::create_directories("data");
  Stream* out = BinFile_Open("Data\\w.bin", "w");
  ASSERT_NE(out, nullptr);
  uint32_t words[2] = {0x11223344u, 0xA0B0C0D0u};
  uint16_t halves[3] = {0x0102, 0xFFFE, 7};
  float matrix[16], vec[6] = {1, 2, 3, -4, -5, -6};
  for (int i = 0; i < 16; i++) matrix[i] = (float)i * 0.5f - 3.0f;
  EXPECT_EQ(std::vector<int>({BinFile_WriteInt32s(out, words, 2), BinFile_WriteInt16s(out, halves, 3),
                              BinFile_WriteMatrix(out, matrix), BinFile_WriteVec3s(out, vec, 2),
                              BinFile_WriteFloats(out, vec, 1)}),
            std::vector<int>(5, 1));
  BinFile_Close(out);
  std::string disk = ReadDisk("data/w.bin");
  ASSERT_EQ(disk.size(), 8u + 6 + 64 + 24 + 4);
  EXPECT_EQ(disk.substr(0, 4) + disk.substr(8, 2), std::string("\x44\x33\x22\x11\x02\x01", 6));
  Stream* in = BinFile_Open("w.bin", "r");
  ASSERT_NE(in, nullptr);
  uint32_t w[2];
  uint16_t h[3];
  float m[16], v[6], one;
  EXPECT_EQ(std::vector<int>({BinFile_ReadInt32s(in, w, 2), BinFile_ReadInt16s(in, h, 3), BinFile_ReadMatrix(in, m),
                              BinFile_ReadVec3s(in, v, 2), BinFile_ReadInt32(in, &one)}),
            std::vector<int>(5, 1));
  EXPECT_EQ(std::vector<float>({(float)(w[1] == words[1]), (float)h[1], v[5], one}),
            std::vector<float>({1, (float)halves[1], -6, 1}));
  EXPECT_EQ(memcmp(m, matrix, sizeof m), 0);
  EXPECT_EQ(BinFile_ReadInt32s(in, w, 1), 0);  // at the end
  BinFile_Close(in);
  char text[8];
  for (const std::string bytes : {"\x01\x02\x03", "ab"}) {  // three bytes are not a word, two no five-byte string
    WriteDisk("data/short.bin", bytes);
    in = BinFile_Open("short.bin", "r");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(bytes.size() == 3 ? BinFile_ReadInt32(in, w) : BinFile_ReadString(in, text, 5), 0);
    BinFile_Close(in);
  }
  EXPECT_EQ(BinFile_Open("Data\\x.bin", "x") || BinFile_Open("Data\\x.bin", "") || BinFile_Open("missing.bin", "r"),
            false);
  for (const char* mode : {"w", "a"}) {
    Stream* s = BinFile_Open("Data\\x.bin", mode);
    ASSERT_NE(s, nullptr) << mode;
    BinFile_WriteInt32s(s, words, 1);
    BinFile_Close(s);
  }
  EXPECT_EQ(ReadDisk("data/x.bin").size(), 8u);
  // A cache older than its source is stale; one as old or newer is fresh.
  for (int ms : {-1, 0, 1}) {
    std::filesystem::last_write_time("data/x.bin", std::filesystem::last_write_time("data/w.bin") + 1ms * ms);
    EXPECT_EQ(Cache_IsStale("w.bin", "x.bin"), ms < 0) << ms;
  }
}

}  // namespace
