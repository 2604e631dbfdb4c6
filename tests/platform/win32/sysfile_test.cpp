#include "platform/win32/sysfile.h"

#include "scratch.h"

#include <sys/stat.h>
#include <fcntl.h>

#include <set>
#include <string>
#include <utility>

using SysFileTest = ScratchFolder;

namespace {

std::string ReadAll(FILE* file)
{
    std::string text;
    char buffer[64];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    fclose(file);
    return text;
}

bool WriteText(const char* name, const char* text)
{
    FILE* file = SysFile_Open(name, "wb");
    if (!file)
        return false;
    fputs(text, file);
    return fclose(file) == 0;
}

std::set<std::string> FindAll(const char* pattern)
{
    std::set<std::string> names;
    SysFindData data;
    SysFind* find = SysFile_FindFirst(pattern, &data);
    if (!find)
        return names;
    do
        names.insert(std::string(data.name) + (data.isFolder ? "/" : ""));
    while (SysFile_FindNext(find, &data));
    SysFile_FindClose(find);
    return names;
}

uint64_t g_queriedFree;
std::string g_queriedPath;

int FakeDiskFree(const char* realPath, uint64_t* freeBytes)
{
    g_queriedPath = realPath;
    *freeBytes = g_queriedFree;
    return 1;
}

}  // namespace

TEST_F(SysFileTest, DataNamesOpenInAnyCaseAndANewFileLandsInTheExistingFolderAndIsFoundAtOnce)
{
    Plant("data/cache/01/0562ecda.cfb", "cached");
    FILE* file = SysFile_Open("DATA\\Cache\\01\\0562ECDA.cfb", "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "cached");
    EXPECT_EQ(SysFile_Open("DATA\\Cache\\02\\0562ECDA.cfb", "rb"), nullptr);
    EXPECT_EQ(SysFile_Open("DATA\\Cache\\01\\0562ECDA.cfb", nullptr), nullptr);
    Plant("data/cache/keep");
    EXPECT_EQ(Resolved("DATA\\CACHE\\KEEP"), "data/cache/keep");  // listing cached
    ASSERT_TRUE(WriteText("Data\\Cache\\Fresh.cfb", "new"));
    EXPECT_TRUE(OnDisk("data/cache/Fresh.cfb"));
    EXPECT_FALSE(OnDisk("Data"));
    file = SysFile_Open("DATA\\CACHE\\FRESH.CFB", "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "new");
}

TEST_F(SysFileTest, AMissingFolderFailsCleanly)
{
    EXPECT_EQ(SysFile_Open("Data\\Missing\\x.cfg", "rb"), nullptr);
    EXPECT_EQ(SysFile_Open("Data\\Missing\\x.cfg", "wb"), nullptr);
    EXPECT_EQ(SysFile_CreateFolder("Data\\Missing\\Deeper"), 0);
    EXPECT_FALSE(OnDisk("Data"));
    uint64_t time = 7;
    EXPECT_EQ(SysFile_GetWriteTime("Data\\Missing\\x.cfg", &time), 0);
    EXPECT_EQ(time, 7u);
}

TEST_F(SysFileTest, CreateFolderReusesExistingPartsAndReportsAnExistingFolder)
{
    Plant("data/keep");
    int existed = 1;
    EXPECT_EQ(SysFile_CreateFolder("Data\\Cache", &existed), 1);
    EXPECT_EQ(existed, 0);
    EXPECT_TRUE(std::filesystem::is_directory("data/Cache"));
    EXPECT_EQ(SysFile_CreateFolder("DATA\\CACHE", &existed), 1);
    EXPECT_EQ(existed, 1);
    EXPECT_EQ(SysFile_CreateFolder("data\\keep", &existed), 0);  // a file of that name
    ASSERT_TRUE(WriteText("Data\\Cache\\f.bin", "x"));
    EXPECT_TRUE(OnDisk("data/Cache/f.bin"));
}

TEST_F(SysFileTest, RenameReplacesTheTargetAndRemoveDeletes)
{
    ASSERT_TRUE(WriteText("save.tmp", "new"));
    ASSERT_TRUE(WriteText("Save.dat", "old"));
    EXPECT_EQ(SysFile_Rename("SAVE.TMP", "save.DAT"), 1);
    FILE* file = SysFile_Open("save.dat", "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "new");
    EXPECT_EQ(SysFile_Open("save.tmp", "rb"), nullptr);
    EXPECT_EQ(SysFile_Rename("save.tmp", "other"), 0);

    EXPECT_EQ(SysFile_Remove("SAVE.DAT"), 1);
    EXPECT_EQ(SysFile_Open("save.dat", "rb"), nullptr);
    EXPECT_EQ(SysFile_Remove("save.dat"), 0);

    EXPECT_EQ(SysFile_CreateFolder("Empty"), 1);
    EXPECT_EQ(SysFile_RemoveFolder("EMPTY"), 1);
    EXPECT_FALSE(OnDisk("Empty"));
    EXPECT_EQ(SysFile_CreateFolder("Full"), 1);
    ASSERT_TRUE(WriteText("FULL\\f", "x"));
    EXPECT_EQ(SysFile_RemoveFolder("full"), 0);  // not empty
}

TEST_F(SysFileTest, WriteTimesCompareOlderAndNewer)
{
    Plant("source.txt");
    Plant("cache.bin");
    struct timespec times[2] = {{1000, 0}, {1000, 0}};  // access, modification
    ASSERT_EQ(utimensat(AT_FDCWD, "source.txt", times, 0), 0);
    uint64_t source = 0, cache = 0;
    ASSERT_EQ(SysFile_GetWriteTime("SOURCE.TXT", &source), 1);
    ASSERT_EQ(SysFile_GetWriteTime("Cache.Bin", &cache), 1);
    EXPECT_EQ(source, 1000ull * 1000000000u);
    EXPECT_GT(cache, source);
}

TEST_F(SysFileTest, FindListsMatchingEntriesWithoutRegardToCase)
{
    Plant("SaveGame/0A1B2C3D-PLAYER 1/data.sav", "12345");
    Plant("SaveGame/notes.TXT");
    Plant("SaveGame/other.txt");
    EXPECT_EQ(FindAll("savegame\\*"),
              (std::set<std::string>{"./", "../", "0A1B2C3D-PLAYER 1/", "notes.TXT", "other.txt"}));
    EXPECT_EQ(FindAll("SAVEGAME\\*.txt"), (std::set<std::string>{"notes.TXT", "other.txt"}));
    EXPECT_EQ(FindAll("SaveGame\\?????.txt"), (std::set<std::string>{"notes.TXT", "other.txt"}));
    EXPECT_EQ(FindAll("SaveGame\\*-player ?"), (std::set<std::string>{"0A1B2C3D-PLAYER 1/"}));
    SysFindData data;
    EXPECT_EQ(SysFile_FindFirst("SaveGame\\*.dat", &data), nullptr);
    EXPECT_EQ(SysFile_FindFirst("Missing\\*", &data), nullptr);
    SysFind* find = SysFile_FindFirst("SaveGame\\0a1b2c3d-player 1\\*.SAV", &data);
    ASSERT_NE(find, nullptr);
    EXPECT_STREQ(data.name, "data.sav");
    EXPECT_EQ(std::make_pair(data.size, data.isFolder), std::make_pair((uint64_t)5, 0));
    EXPECT_EQ(SysFile_FindNext(find, &data), 0);
    SysFile_FindClose(find);
    SysFile_FindClose(nullptr);
}

TEST_F(SysFileTest, DiskFreeSpaceGoesThroughTheInstalledQuery)
{
    uint64_t bytes = 0;
    EXPECT_EQ(SysFile_GetDiskFree(nullptr, &bytes), 1);
    EXPECT_GT(bytes, 0u);

    Plant("savegame/x");
    g_queriedFree = 5ull << 32;
    SysFile_SetDiskFreeQuery(FakeDiskFree);
    EXPECT_EQ(SysFile_GetDiskFree("SAVEGAME", &bytes), 1);
    EXPECT_EQ(bytes, 5ull << 32);
    EXPECT_EQ(g_queriedPath, "savegame");
    SysFile_SetDiskFreeQuery(nullptr);
    bytes = 3;
    EXPECT_EQ(SysFile_GetDiskFree("missing-folder", &bytes), 0);
    EXPECT_EQ(bytes, 3u);
}
