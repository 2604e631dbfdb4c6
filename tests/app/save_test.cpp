#include "app/save.h"

#include <algorithm>

#include "common/hash.h"
#include "platform/win32/sysfile.h"
#include "tests/app/data_fixture.h"

namespace {

class Save : public DataTest {
protected:
    void TearDown() override
    {
        Save_SetWriteHook(nullptr);
        Save_SetSyncHook(nullptr);
        SysFile_SetDiskFreeQuery(nullptr);
        DataTest::TearDown();
    }
    // The save's folder on disk (and its path in `path`).
    static std::string Folder(const char* saveName, char* path)
    {
        EXPECT_EQ(Save_MakeFolder('A', saveName, path), 1) << saveName;
        char folder[SAVE_FOLDER_MAX];
        Save_FolderName(saveName, folder);
        return std::string("SaveGame/") + folder;
    }
    static std::string Read(const char* path, size_t size)
    {
        std::string back(size, '\0');
        return Save_ReadFile(path, "game.sav", back.data(), size) ? back : "-";
    }
};

size_t g_allowed = 0;

// What the disk holds at each forced write, and which one fails.
struct SyncWatch {
    std::string file;               // the save's path on disk
    std::vector<std::string> seen;  // "file:<content>" or "folder:<name>:<content>"
    int failAt = -1;                // index of the call that fails
} g_watch;

TEST_F(Save, FolderNamesAreTheUpperCasedHashAndNameAndCannotLeaveTheSaveFolder)
{
    char folder[SAVE_FOLDER_MAX], expected[64], path[SAVE_PATH_MAX];
    ASSERT_EQ(Save_FolderName("Player 1", folder), 1);
    snprintf(expected, sizeof expected, "%.8X-PLAYER 1", Name_Hash("Player 1", 0, 1));
    EXPECT_EQ(std::string(folder) + " " + folder, std::string(expected) + " A9D95674-PLAYER 1");
    for (const char* bad : {"", "..", ".hidden", "a\\b", "a/b", "c:d", "..\\..\\x", "\\..\\..\\evil", "x/y"})
        EXPECT_EQ(Save_FolderName(bad, folder) + Save_MakeFolder('A', bad, path), 0) << bad;
    EXPECT_EQ(Save_FolderName(std::string(SAVE_NAME_MAX, 'n').c_str(), folder), 0);
    ASSERT_EQ(Save_MakeFolder('A', "ok", path), 1);
    const char data[4] = {1, 2, 3, 4};
    for (const char* file : {"..\\escape.sav", "../escape.sav", "c:escape.sav", "", ".."})
        EXPECT_EQ(Save_WriteFile(path, file, data, 4), 0) << file;
    for (const char* other :
         {"A:\\SaveGame\\..\\", "A:\\Elsewhere\\X\\", "A:\\SaveGame\\a\\b\\", "A:\\SaveGame\\", "A:"})
        EXPECT_EQ(Save_WriteFile(other, "f.sav", data, 4), 0) << other;
    EXPECT_FALSE(std::filesystem::exists("escape.sav") || std::filesystem::exists("SaveGame/escape.sav"));
}

TEST_F(Save, AFailedWriteOrSyncLeavesTheOldSaveIntactAndNoTemporaryFile)
{
    char path[SAVE_PATH_MAX];
    const std::string folder = Folder("ASlot", path);
    ASSERT_EQ(Save_WriteFile(path, "game.sav", "old", 3), 1);  // the standard syncs
    // A short write keeps the old save.
    g_allowed = 2;
    Save_SetWriteHook([](const void* data, size_t size, void* file) {
        return fwrite(data, 1, std::min(size, g_allowed), (FILE*)file);
    });
    EXPECT_TRUE(Save_WriteFile(path, "game.sav", "new", 3) == 0 && Read(path, 3) == "old");
    Save_SetWriteHook(nullptr);
    // Bytes are forced to disk before the rename and the folder after it.
    Save_SetSyncHook([](void* file, const char* name) -> int {
        const std::string now = TestReadFile(g_watch.file);
        g_watch.seen.push_back(file ? "file:" + now : std::string("folder:") + name + ":" + now);
        return (int)g_watch.seen.size() - 1 != g_watch.failAt && (!file || SysFile_SyncFile((FILE*)file));
    });
    g_watch = SyncWatch();
    g_watch.file = folder + "/game.sav";
    ASSERT_EQ(Save_WriteFile(path, "game.sav", "new", 3), 1);
    const std::string folderName = "SaveGame\\" + folder.substr(9);
    EXPECT_EQ(g_watch.seen, (std::vector<std::string>{"file:old", "folder:" + folderName + ":new"}));
    // A file that cannot be forced to disk keeps the old save; a folder that
    // cannot is reported as a failed save.
    for (int failAt : {0, 1}) {
        g_watch.seen.clear();
        g_watch.failAt = failAt;
        EXPECT_TRUE(Save_WriteFile(path, "game.sav", failAt ? "two" : "one", 3) == 0 &&
                    Read(path, 3) == (failAt ? "two" : "new"))
            << failAt;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);  // no temporary file beside it
    // A missing file reads as a failure, an empty read of a present one not; sizes round up to whole KB, 1 at least.
    char bytes[8];  // more than the file holds: a failed read
    EXPECT_EQ(Save_ReadFile(path, "none.sav", nullptr, 0) * 2 + Save_ReadFile(path, "game.sav", nullptr, 0) +
                  Save_ReadFile(path, "game.sav", bytes, sizeof bytes) * 4,
              1);
    EXPECT_EQ(Save_GetCardName('A', nullptr, 8) + Save_GetCardName('A', path, 0), 0);
    EXPECT_EQ(std::vector<uint32_t>(
                  {Save_BytesToKB(0), Save_BytesToKB(1024), Save_BytesToKB(1025), Save_BytesToKB(UINT32_MAX)}),
              (std::vector<uint32_t>{1, 1, 2, 4194304}));
}

TEST_F(Save, EnumerationListsOnlyFoldersThatRebuildTheirOwnNames)
{
    EXPECT_EQ(Save_Enumerate('A', nullptr), -1);  // no SaveGame folder at all
    char path[SAVE_PATH_MAX], folder[SAVE_FOLDER_MAX];
    Folder("AOne", path);
    Folder("CTwo", path);
    std::filesystem::create_directories("SaveGame/12345678-RENAMED");
    std::filesystem::create_directories("SaveGame/short");
    WriteDisk("SaveGame/stray.txt", "x");
    Save_FolderName("lower", folder);
    std::string lower = folder;
    for (char& c : lower) c = (char)tolower((unsigned char)c);
    std::filesystem::create_directories("SaveGame/" + lower);  // compared without case
    std::vector<std::string> names;
    SaveEnumRecord record;
    const intptr_t handle = Save_Enumerate('A', &record);
    ASSERT_NE(handle, -1);
    do names.push_back(record.name);
    while (Save_EnumerateNext(handle, &record));
    Save_EnumerateEnd(handle);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"AONE", "CTWO", "lower"}));
    std::filesystem::remove_all("SaveGame");
    std::filesystem::create_directories("SaveGame/00000000-NOPE");
    Path_Shutdown();
    EXPECT_EQ(Save_Enumerate('A', nullptr), -1);
}

}  // namespace
