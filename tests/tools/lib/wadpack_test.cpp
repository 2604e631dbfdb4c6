#include "tools/lib/wadpack.h"

#include "app/wad.h"
#include "tests/app/data_fixture.h"

namespace {

class WadPack : public WadDataTest {
 protected:
  // Every byte of a data name through the file layer, or "<none>".
  static std::string Read(const char* name, const char* mode) {
    void* f = File_Open(name, mode);
    if (!f) return "<none>";
    std::string out;
    char buffer[1000];
    size_t n;
    while ((n = File_Read(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    File_Close(f);
    return out;
  }
};

TEST_F(WadPack, APackedFolderServesTheSameBytesAsTheDisk) {
  std::string big;
  for (int i = 0; i < 70000; i++) big += (char)(i * 31);
  WriteDisk("data/Levels/Track01/track.cfg", "line\r\nnext\n");
  WriteDisk("data/Levels/Track01/mesh.bin", big);
  WriteDisk("data/language/english.txt", "LS_A=a\r\n");
  WriteDisk("data/empty.txt", "");
  std::filesystem::create_directories("data/Nothing/Inside");

  const char* names[] = {"Levels\\Track01\\track.cfg", "LEVELS\\track01\\MESH.BIN",
                         "language/english.txt", "empty.txt"};
  std::vector<std::string> disk;
  for (const char* name : names) disk.push_back(Read(name, "rb"));
  EXPECT_EQ(disk[1], big);

  std::vector<WadPackFile> files;
  std::string error;
  ASSERT_EQ(WadPack_ListFolder("data", &files, &error), 1) << error;
  ASSERT_EQ(files.size(), 4u);
  ASSERT_EQ(WadPack_Write(files, "DATA", "DataPC.wad", &error), 1) << error;
  std::filesystem::rename("data", "moved");  // nothing left on disk to fall back on
  Path_Shutdown();
  ASSERT_EQ(Wad_Mount("DataPC.wad", 1), 1);
  for (size_t i = 0; i < 4; i++) {
    EXPECT_EQ(Read(names[i], "rb"), disk[i]) << names[i];
    EXPECT_EQ(Read(names[i], "r"), disk[i]) << names[i];
  }
  EXPECT_EQ(Read("Nothing\\Inside", "rb"), "<none>");

  // Lines come out as stored, carriage returns included.
  void* f = File_Open("levels\\track01\\track.cfg", "r");
  ASSERT_NE(f, nullptr);
  char line[32];
  ASSERT_NE(File_Gets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "line\r\n");
  File_Close(f);
}

TEST_F(WadPack, NamesTheArchiveCannotServeAreAllNamedAndNothingIsWritten)
{
    // data/Level is a file beside a folder of its name.
    for (const char* path : {"data/a.txt", "data/A.TXT", "data/sub/x.txt", "data/SUB/y.txt", "data/Sub/z.txt",
                             "data/back\\slash.txt", "data/Level", "data/level/map.bin", "data/fine/ok.txt"})
        WriteDisk(path, path);
    std::vector<WadPackFile> files;
    std::string error;
    ASSERT_EQ(WadPack_ListFolder("data", &files, &error), 1) << error;
    EXPECT_EQ(WadPack_Write(files, "DATA", "x.wad", &error), 0);
    EXPECT_FALSE(std::filesystem::exists("x.wad"));
    for (const char* named :
         {"data/A.TXT and data/a.txt differ", "data/SUB/ and data/Sub/ differ", "data/SUB/ and data/sub/ differ",
          "data/back\\slash.txt holds a backslash", "data/Level and data/level/ differ"})
        EXPECT_NE(error.find(named), std::string::npos) << named << " in\n" << error;
    EXPECT_EQ(error.find("ok.txt"), std::string::npos) << error;
    EXPECT_EQ(error.find("x.txt"), std::string::npos) << error;  // a folder pair is named once, as folders
}

TEST_F(WadPack, AFailedWriteLeavesNoArchive) {
  WriteDisk("data/a.txt", "a");
  std::vector<WadPackFile> files;
  std::string error;
  ASSERT_EQ(WadPack_ListFolder("data", &files, &error), 1);
  EXPECT_EQ(WadPack_Write(files, "DATA", "no/such/folder/x.wad", &error), 0);
  EXPECT_FALSE(error.empty());
  files.push_back(WadPackFile{"b.txt", "data/vanished.txt"});
  EXPECT_EQ(WadPack_Write(files, "DATA", "x.wad", &error), 0);
  EXPECT_FALSE(std::filesystem::exists("x.wad"));
  EXPECT_FALSE(std::filesystem::exists("x.wad.tmp"));
  EXPECT_EQ(WadPack_ListFolder("missing", &files, &error), 0);
}

}  // namespace
