#include "app/file.h"

#include <cstring>

#include "data_fixture.h"

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

TEST(FileWithoutEngine, OpensNothingAndReportsNoPosition) {
  FileInterface saved = *FileSystem_GetInterface();
  *FileSystem_GetInterface() = FileInterface{};
  EXPECT_EQ(File_Init(), 0);
  EXPECT_EQ(File_Open("x", "rb"), nullptr);
  EXPECT_EQ(File_Tell(nullptr), -1);
  EXPECT_EQ(File_Seek(nullptr, 0, 0), -1);  // nothing moved: not a success
  char buffer[8];
  EXPECT_EQ(File_Gets(buffer, sizeof buffer, nullptr), nullptr);
  EXPECT_EQ(File_GetSize("x", 1), 0);
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
  ASSERT_NE(disk, nullptr);
  void* g = disk->open("DATA\\out.txt", "rb");
  ASSERT_NE(g, nullptr);
  char buffer[16] = {};
  EXPECT_EQ(disk->read(buffer, 1, sizeof buffer, g), 7u);
  EXPECT_STREQ(buffer, "key=42\n");
  disk->close(g);
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
