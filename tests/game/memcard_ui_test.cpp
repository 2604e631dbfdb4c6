#include "game/memcard_ui.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/save.h"
#include "app/state.h"
#include "menu_input_fixture.h"
#include "platform/win32/sysfile.h"

namespace {

constexpr float kDt = 0.05f;

uint64_t g_freeBytes = 1ull << 30;
int g_freeReadable = 1;
int FreeQuery(const char*, uint64_t* bytes)
{
    if (!g_freeReadable) return 0;
    *bytes = g_freeBytes;
    return 1;
}

void FixedTime(char* date, uint32_t* ms)
{
    strcpy(date, "Mon Dec  7 10:00:00 2026\n");
    *ms = 1234;
}

size_t ShortWrite(const void* data, size_t size, void* file) { return fwrite(data, 1, size / 2, (FILE*)file); }


GameState* RootUpdate(GameState* self, float)
{
    GameState* card = MemCardUI_CreateState();
    return card ? card : self;
}

class MemCardTest : public MenuInputTest {
protected:
    void SetUp() override
    {
        MenuInputTest::SetUp();
        g_freeBytes = 1ull << 30;
        g_freeReadable = 1;
        SysFile_SetDiskFreeQuery(FreeQuery);
        Save_SetTimeSource(FixedTime);
        ASSERT_EQ(State_Init(), 1);
        root_ = State_Create();
        State_SetUpdate(root_, RootUpdate);
        SetFileNames("FILE");
        Frame({});
    }
    void TearDown() override
    {
        State_Reset();
        SysFile_SetDiskFreeQuery(nullptr);
        SysFile_SetWritableQuery(nullptr);
        Save_SetCardQuery(nullptr);
        Save_SetTimeSource(nullptr);
        Save_SetWriteHook(nullptr);
        MenuInputTest::TearDown();
    }

    // The eight file names "<prefix>1".."<prefix>8".
    static void SetFileNames(const std::string& prefix)
    {
        std::string text;
        for (int n = 1; n <= 8; n++)
            text += "LS_MEMCARD_FILENAME" + std::to_string(n) + "=" + prefix + std::to_string(n) + "\n";
        WriteData("names.txt", text);
        Text_ParseFile("names.txt");
    }

    static MemCardUI* Ui() { return MemCardUI_Get(); }
    static std::string Text() { return Ui()->message.text ? Ui()->message.text : ""; }
    bool Running() const { return State_GetCurrent() != root_; }

    static void Frame(std::initializer_list<uint8_t> keys, float dt = kDt)
    {
        Keys(keys);
        State_Update(dt);
    }
    static void Wait(float seconds)
    {
        for (float t = 0; t < seconds; t += kDt) Frame({});
    }
    static void Press(uint8_t key)
    {
        Frame({key});
        Frame({});
    }
    // Frames until the message changes from its current text; the seconds taken.
    static float WaitForChange(float limit = 10.0f)
    {
        std::string before = Text();
        float t = 0;
        while (Text() == before && t < limit) {
            Frame({});
            t += kDt;
        }
        return t;
    }

    // Opens the mode and waits until its steps run.
    void Open(uint32_t mode)
    {
        MemCardUI_SetMode(mode);
        Frame({});
        ASSERT_TRUE(Running());
        Wait(1.0f);
        ASSERT_EQ(Ui()->messageFade, MEMCARD_MESSAGE_FADE);
    }

    // From the slot selection: choose slot index `slot`, wait for the check
    // and put the file cursor on `file`.
    void ChooseSlotAndFile(int slot, int file)
    {
        for (int i = 0; i < slot % 4; i++) Press(kKeyRight);
        if (slot >= 4) Press(kKeyDown);
        Press(kKeySelect);
        ASSERT_EQ(Text(), "LS_MEMCARD_MESSAGE_CHECKINPROGRESS");
        WaitForChange();
        ASSERT_EQ(Ui()->message.kind, (uint32_t)MEMCARD_KIND_FILES);
        for (int i = 0; i < file % 4; i++) Press(kKeyRight);
        if (file >= 4) Press(kKeyDown);
        ASSERT_EQ(Ui()->selection, file);
    }

    // A full save from the Save mode into slot A, position `file`.
    void SaveAt(int file)
    {
        Open(MEMCARD_MODE_SAVE);
        ChooseSlotAndFile(0, file);
        Frame({kKeySelect});  // the in-progress message (or the refusal) is up; the next frame writes
    }

    static std::string SavePath(char letter, int file)
    {
        char name[SAVE_NAME_MAX];
        Save_GetFileName(file, name, sizeof name);
        char folder[SAVE_FOLDER_MAX];
        std::string storage = std::string(1, letter) + name;
        if (!Save_FolderName(storage.c_str(), folder)) return "";
        return std::string("SaveGame/") + folder + "/" + name;
    }
    static std::string ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Writes raw bytes as the save of slot `letter`, position `file`.
    static void PlantSave(char letter, int file, const std::string& bytes)
    {
        std::string path = SavePath(letter, file);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
    }
    static std::string ValidRecord()
    {
        uint8_t record[SAVE_RECORD_SIZE];
        Save_BuildRecord(record);
        Save_SealHeader(record);
        Save_SealRecord(record);
        return std::string((const char*)record, sizeof record);
    }

    GameState* root_ = nullptr;
};

TEST_F(MemCardTest, RefusedFilesLeaveTheProgressAlone)
{
    uint32_t before = Game_GetContext()->progress.flags[9];
    Progress_SetFlags(9, PROGRESS_COMPLETED, 1);
    const std::string changed = ValidRecord();  // progress entry 9 completed
    Progress_SetFlags(9, PROGRESS_COMPLETED, 0);
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"short", changed.substr(0, SAVE_RECORD_SIZE - 1)},
        {"long", changed + "x"},
        {"empty", ""},
        {"header byte",
         [&] {
             std::string b = changed;
             b[3] ^= 0x20;
             return b;
         }()},
        {"record byte",
         [&] {
             std::string b = changed;
             b[900] ^= 0x01;
             return b;
         }()},
        {"settings byte",
         [&] {
             std::string b = changed;
             b[80] ^= 0x01;
             return b;
         }()},
    };
    char name[SAVE_NAME_MAX];
    Save_GetFileName(0, name, sizeof name);
    for (const Case& c : cases) {
        PlantSave('B', 0, c.bytes);
        Save_ClearResult();
        EXPECT_EQ(Save_ReadGame('B', name), 0) << c.what;
        EXPECT_EQ(Save_GetResult(), (uint32_t)SAVE_RESULT_FAILED) << c.what;
        EXPECT_EQ(Game_GetContext()->progress.flags[9], before) << c.what;
    }
    PlantSave('B', 0, changed);
    EXPECT_EQ(Save_ReadGame('B', name), 1);
    EXPECT_EQ(Progress_TestFlags(9, PROGRESS_COMPLETED), 1);
    // Missing files and slots are last errors; the letter must be a slot.
    Save_ClearLastError();
    Save_GetFileName(1, name, sizeof name);
    EXPECT_EQ(Save_ReadGame('B', name), 0);
    EXPECT_EQ(Save_GetLastError(), (uint32_t)SAVE_RESULT_FAILED);
    EXPECT_EQ(Save_ReadGame('Z', name), 0);
    EXPECT_EQ(Save_GetLastError(), (uint32_t)SAVE_RESULT_MISSING);
    Progress_SetFlags(9, PROGRESS_COMPLETED, 0);

    // Through the screens: a save whose header passes but whose record is
    // broken is offered, and its load fails with its message for 0.5 s.
    std::string bad = changed;
    bad[1000] ^= 0x04;
    PlantSave('A', 0, bad);
    Open(MEMCARD_MODE_LOAD);
    ChooseSlotAndFile(0, 0);
    Press(kKeySelect);
    Press(kKeyLeft);
    Press(kKeySelect);
    EXPECT_EQ(Text(), "LS_MEMCARD_ERROR_LOADFAILED");
    float shown = kDt + WaitForChange();
    EXPECT_GE(shown, MEMCARD_FAILURE_TIME);
    EXPECT_LT(shown, MEMCARD_FAILURE_TIME + 2 * kDt);
    EXPECT_EQ(Text(), "LS_MEMCARD_MESSAGE_LOADSELECTCARD");
    EXPECT_EQ(Progress_TestFlags(9, PROGRESS_COMPLETED), 0);
}

TEST_F(MemCardTest, AFailedWriteKeepsTheOldSaveByteForByteAndABadFileNameWritesNothing)
{
    SaveAt(2);
    Wait(4.0f);
    const std::string old = ReadFile(SavePath('A', 2));
    ASSERT_EQ(old.size(), SAVE_RECORD_SIZE);
    Save_SetWriteHook(ShortWrite);
    Progress_SetFlags(20, PROGRESS_COMPLETED, 1);
    SaveAt(2);
    Press(kKeyLeft);
    Press(kKeySelect);  // yes, overwrite
    EXPECT_EQ(Text(), "LS_MEMCARD_ERROR_OVERWRITEFAILED");
    EXPECT_EQ(ReadFile(SavePath('A', 2)), old);
    Wait(1.0f);
    EXPECT_EQ(Text(), "LS_MEMCARD_MESSAGE_SAVESELECTCARD");
    // An empty place fails with the save's own message.
    Press(kKeySelect);
    WaitForChange();
    Press(kKeySelect);
    Frame({});
    EXPECT_EQ(Text(), "LS_MEMCARD_ERROR_SAVEFAILED");
    EXPECT_TRUE(ReadFile(SavePath('A', 0)).empty());
    // So does a file name with a path character, writing nothing.
    MemCardUI_SetMode(MEMCARD_MODE_NONE);
    Frame({});
    Save_SetWriteHook(nullptr);
    std::filesystem::remove_all("SaveGame");
    Text_Shutdown();
    ASSERT_EQ(Text_Init(), 1);
    SetFileNames("BAD/");
    SaveAt(0);
    Frame({});
    EXPECT_EQ(Text(), "LS_MEMCARD_ERROR_SAVEFAILED");
    EXPECT_FALSE(std::filesystem::exists("SaveGame") && !std::filesystem::is_empty("SaveGame"));
}

}  // namespace
