#include "app/save.h"

#include <cstring>

#include "common/hash.h"
#include "app/text.h"
#include "data_fixture.h"
#include "platform/win32/sysfile.h"

namespace {

class Save : public DataTest {
 protected:
  void TearDown() override {
    Save_SetWriteHook(nullptr);
    Save_SetSyncHook(nullptr);
    SysFile_SetDiskFreeQuery(nullptr);
    DataTest::TearDown();
  }
  std::vector<std::string> List() {
    std::vector<std::string> names;
    SaveEnumRecord record;
    intptr_t handle = Save_Enumerate('A', &record);
    if (handle == -1) return names;
    do names.push_back(record.name);
    while (Save_EnumerateNext(handle, &record));
    Save_EnumerateEnd(handle);
    return names;
  }
};

TEST_F(Save, FolderNamesAreTheUpperCasedHashAndName) {
  char folder[SAVE_FOLDER_MAX];
  ASSERT_EQ(Save_FolderName("Player 1", folder), 1);
  char expected[64];
  snprintf(expected, sizeof expected, "%.8X-PLAYER 1", Name_Hash("Player 1", 0, 1));
  EXPECT_STREQ(folder, expected);
  EXPECT_STREQ(folder, "A9D95674-PLAYER 1");
  for (const char* bad : {"", "..", ".hidden", "a\\b", "a/b", "c:d", "..\\..\\x"})
    EXPECT_EQ(Save_FolderName(bad, folder), 0) << bad;
  std::string tooLong(SAVE_NAME_MAX, 'n');
  EXPECT_EQ(Save_FolderName(tooLong.c_str(), folder), 0);
}

TEST_F(Save, FilesRoundTripInTheSlotsFolder) {
  char path[SAVE_PATH_MAX];
  ASSERT_EQ(Save_MakeFolder('B', "BSave1", path, "title"), 1);
  char folder[SAVE_FOLDER_MAX];
  Save_FolderName("BSave1", folder);
  EXPECT_EQ(std::string(path), std::string("B:\\SaveGame\\") + folder + "\\");
  EXPECT_EQ(Save_MakeFolder('B', "BSave1", path, nullptr), 1);  // exists: fine
  EXPECT_TRUE(std::filesystem::is_directory(std::string("SaveGame/") + folder));

  std::vector<uint8_t> record(1936);
  for (size_t i = 0; i < record.size(); i++) record[i] = (uint8_t)(i * 7);
  ASSERT_EQ(Save_WriteFile(path, "game.sav", record.data(), record.size()), 1);
  EXPECT_EQ(Save_GetFileSize(path, "game.sav"), 1936);
  std::vector<uint8_t> back(1936);
  ASSERT_EQ(Save_ReadFile(path, "game.sav", back.data(), back.size()), 1);
  EXPECT_EQ(back, record);
  EXPECT_EQ(Save_ReadFile(path, "game.sav", back.data(), 1937), 0);
  EXPECT_EQ(Save_GetFileSize(path, "missing.sav"), -1);
  EXPECT_EQ(Save_ReadFile(path, "missing.sav", back.data(), 1), 0);
}

size_t g_allowed = 0;
size_t ShortWrite(const void* data, size_t size, void* file) {
  size_t n = size < g_allowed ? size : g_allowed;
  return fwrite(data, 1, n, (FILE*)file);
}

TEST_F(Save, AFailedWriteLeavesTheOldSaveIntact) {
  char path[SAVE_PATH_MAX];
  ASSERT_EQ(Save_MakeFolder('A', "ASlot", path), 1);
  std::string old(1936, 'o');
  ASSERT_EQ(Save_WriteFile(path, "game.sav", old.data(), old.size()), 1);
  g_allowed = 100;
  Save_SetWriteHook(ShortWrite);
  std::string fresh(1936, 'n');
  EXPECT_EQ(Save_WriteFile(path, "game.sav", fresh.data(), fresh.size()), 0);
  Save_SetWriteHook(nullptr);
  std::string back(1936, 0);
  ASSERT_EQ(Save_ReadFile(path, "game.sav", back.data(), back.size()), 1);
  EXPECT_EQ(back, old);
  // No temporary file is left behind beside it.
  char folder[SAVE_FOLDER_MAX];
  Save_FolderName("ASlot", folder);
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(std::string("SaveGame/") + folder)) {
    (void)e;
    files++;
  }
  EXPECT_EQ(files, 1);
}

// What the disk holds at each forced write, and which one fails.
struct SyncWatch {
  std::string file;                // the save's path on disk
  std::vector<std::string> seen;   // "file:<content>" or "folder:<name>:<content>"
  int failAt = -1;                 // index of the call that fails
};
SyncWatch g_watch;
int WatchSync(void* file, const char* folder) {
  std::ifstream in(g_watch.file, std::ios::binary);
  std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  g_watch.seen.push_back(file ? "file:" + now : std::string("folder:") + folder + ":" + now);
  return (int)g_watch.seen.size() - 1 != g_watch.failAt && (!file || SysFile_SyncFile((FILE*)file));
}

TEST_F(Save, BytesAreForcedToDiskBeforeTheRenameAndTheFolderAfterIt) {
  char path[SAVE_PATH_MAX], folder[SAVE_FOLDER_MAX];
  ASSERT_EQ(Save_MakeFolder('A', "ASlot", path), 1);
  Save_FolderName("ASlot", folder);
  ASSERT_EQ(Save_WriteFile(path, "game.sav", "old", 3), 1);  // the standard syncs
  Save_SetSyncHook(WatchSync);
  g_watch = SyncWatch();
  g_watch.file = std::string("SaveGame/") + folder + "/game.sav";
  ASSERT_EQ(Save_WriteFile(path, "game.sav", "new", 3), 1);
  const std::string folderName = std::string("SaveGame\\") + folder;
  EXPECT_EQ(g_watch.seen, (std::vector<std::string>{"file:old", "folder:" + folderName + ":new"}));
  // A file that cannot be forced to disk keeps the old save; a folder that
  // cannot is reported as a failed save.
  for (int failAt : {0, 1}) {
    g_watch.seen.clear();
    g_watch.failAt = failAt;
    EXPECT_EQ(Save_WriteFile(path, "game.sav", failAt ? "two" : "one", 3), 0) << failAt;
    char back[4] = {};
    ASSERT_EQ(Save_ReadFile(path, "game.sav", back, 3), 1);
    EXPECT_STREQ(back, failAt ? "two" : "new") << failAt;
    EXPECT_FALSE(std::filesystem::exists(g_watch.file + ".tmp"));
  }
}

TEST_F(Save, NamesWithPathCharactersCannotLeaveTheSaveFolder) {
  char path[SAVE_PATH_MAX];
  EXPECT_EQ(Save_MakeFolder('A', "\\..\\..\\evil", path), 0);
  EXPECT_EQ(Save_MakeFolder('A', "x/y", path), 0);
  EXPECT_EQ(Save_MakeFolder('A', ".x", path), 0);
  ASSERT_EQ(Save_MakeFolder('A', "ok", path), 1);
  const char data[4] = {1, 2, 3, 4};
  for (const char* file : {"..\\escape.sav", "../escape.sav", "c:escape.sav", "", ".."})
    EXPECT_EQ(Save_WriteFile(path, file, data, 4), 0) << file;
  for (const char* folder : {"A:\\SaveGame\\..\\", "A:\\Elsewhere\\X\\", "A:\\SaveGame\\a\\b\\",
                             "A:\\SaveGame\\", "A:"})
    EXPECT_EQ(Save_WriteFile(folder, "f.sav", data, 4), 0) << folder;
  EXPECT_FALSE(std::filesystem::exists("escape.sav"));
  EXPECT_FALSE(std::filesystem::exists("SaveGame/escape.sav"));
}

TEST_F(Save, EnumerationListsOnlyFoldersThatRebuildTheirOwnNames) {
  EXPECT_EQ(Save_Enumerate('A', nullptr), -1);  // no SaveGame folder at all
  char path[SAVE_PATH_MAX];
  ASSERT_EQ(Save_MakeFolder('A', "AOne", path), 1);
  ASSERT_EQ(Save_MakeFolder('A', "CTwo", path), 1);
  std::filesystem::create_directories("SaveGame/12345678-RENAMED");
  std::filesystem::create_directories("SaveGame/short");
  WriteDisk("SaveGame/stray.txt", "x");
  char folder[SAVE_FOLDER_MAX];
  Save_FolderName("lower", folder);
  std::string lower = folder;
  for (char& c : lower) c = (char)tolower((unsigned char)c);
  std::filesystem::create_directories("SaveGame/" + lower);  // compared without case
  std::vector<std::string> names = List();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"AONE", "CTWO", "lower"}));

  std::filesystem::remove_all("SaveGame");
  std::filesystem::create_directories("SaveGame/00000000-NOPE");
  Path_Shutdown();
  EXPECT_EQ(Save_Enumerate('A', nullptr), -1);
}

uint64_t g_free = 0;
int FakeFree(const char*, uint64_t* bytes) {
  *bytes = g_free;
  return 1;
}
int BrokenFree(const char*, uint64_t*) {
  return 0;
}

TEST_F(Save, FreeSpaceSaturatesOnLargeDisksAndReportsFailures) {
  SysFile_SetDiskFreeQuery(FakeFree);
  g_free = 5ull << 30;  // 5 GiB: a 32-bit product would wrap to 1 GiB
  EXPECT_EQ(Save_GetFreeSpace('A'), 0x7FFFFFFF);
  g_free = (4ull << 30) + 100;  // would wrap to 100 bytes
  EXPECT_EQ(Save_GetFreeSpace('A'), 0x7FFFFFFF);
  g_free = 123456;
  EXPECT_EQ(Save_GetFreeSpace('A'), 123456);
  SysFile_SetDiskFreeQuery(BrokenFree);
  EXPECT_EQ(Save_GetFreeSpace('A'), SAVE_FREE_SPACE_UNREADABLE);
}

TEST(SaveUnits, KilobytesRoundUpAndAreAtLeastOne) {
  EXPECT_EQ(Save_BytesToKB(0), 1u);
  EXPECT_EQ(Save_BytesToKB(1), 1u);
  EXPECT_EQ(Save_BytesToKB(1024), 1u);
  EXPECT_EQ(Save_BytesToKB(1025), 2u);
  EXPECT_EQ(Save_BytesToKB(1936), 2u);
  EXPECT_EQ(Save_BytesToKB(0xFFFFFFFFu), 4194304u);
  char letters[9] = {};
  EXPECT_EQ(Save_GetCardLetters(letters), 8);
  EXPECT_STREQ(letters, "ABCDEFGH");
}

TEST_F(Save, CardNameIsTheLocalisedTextCutToTheBuffer) {
  ASSERT_EQ(Text_Init(), 1);
  WriteDisk("data/t.txt", "LS_CardNamePC=Memory Card\n");
  Text_ParseFile("t.txt");
  char name[4];
  EXPECT_EQ(Save_GetCardName('A', name, sizeof name), 1);
  EXPECT_STREQ(name, "Mem");
  char whole[32];
  EXPECT_EQ(Save_GetCardName('H', whole, sizeof whole), 1);
  EXPECT_STREQ(whole, "Memory Card");
  EXPECT_EQ(Save_GetCardName('A', nullptr, 4), 0);
  Text_Shutdown();
}

}  // namespace
