#include "game/memcard_ui.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

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
int NoCards(char*) { return 0; }
int RefuseChanges(const char*) { return 0; }

constexpr uint8_t kKeyDelete = 0x9D;  // player 0's action 6 (Right Ctrl)

// The bytes with one bit pattern flipped at the offset.
std::string Flip(std::string bytes, size_t at, char bits)
{
    bytes[at] ^= bits;
    return bytes;
}

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
    static void Press(uint8_t key) { Frame({key}), Frame({}); }
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

    // From the slot selection: choose slot index `slot`, wait for the check and put the file cursor on `file`.
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
    // What is wrong; the bytes.
    const std::tuple<const char*, std::string> cases[] = {
        {"short", changed.substr(0, SAVE_RECORD_SIZE - 1)},
        {"long", changed + "x"},
        {"empty", ""},
        {"header byte", Flip(changed, 3, 0x20)},
        {"record byte", Flip(changed, 900, 0x01)},
        {"settings byte", Flip(changed, 80, 0x01)},
    };
    char name[SAVE_NAME_MAX];
    Save_GetFileName(0, name, sizeof name);
    for (const auto& [what, bytes] : cases) {
        PlantSave('B', 0, bytes);
        Save_ClearResult();
        EXPECT_EQ(Save_ReadGame('B', name), 0) << what;
        EXPECT_EQ(Save_GetResult(), (uint32_t)SAVE_RESULT_FAILED) << what;
        EXPECT_EQ(Game_GetContext()->progress.flags[9], before) << what;
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
    // broken is offered, and its load fails with its message, which stands
    // two seconds: long enough to be read.
    PlantSave('A', 0, Flip(changed, 1000, 0x04));
    Open(MEMCARD_MODE_LOAD);
    ChooseSlotAndFile(0, 0);
    Press(kKeySelect);
    Press(kKeyLeft);
    Press(kKeySelect);
    EXPECT_EQ(Text(), "LS_MEMCARD_ERROR_LOADFAILED");
    float shown = kDt + WaitForChange();
    EXPECT_GE(shown, 2.0f);
    EXPECT_LT(shown, 2.0f + 2 * kDt);
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
    // The failure replaced the in-progress message and still stands two
    // seconds of its own, unless a key ends it.
    Wait(1.9f);
    EXPECT_EQ(Text(), "LS_MEMCARD_ERROR_OVERWRITEFAILED");
    Press(kKeySelect);
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

TEST_F(MemCardTest, TheBootCheckShowsWhatTheSlotsHold)
{
    // A save somewhere, the free space readable, the bytes free; the message.
    const std::tuple<bool, int, uint64_t, const char*> cases[] = {
        {true, 1, 1ull << 30, "LS_MEMCARD_MESSAGE_BOOTSELECTCARD"},
        {false, 1, 1ull << 30, "LS_MEMCARD_MESSAGE_BOOTNOFILE"},
        {false, 0, 0, "LS_MEMCARD_MESSAGE_BOOTUNFORMATTED"},
        {false, 1, 100, "LS_MEMCARD_MESSAGE_BOOTNOSPACE"},
    };
    for (const auto& [save, readable, bytes, message] : cases) {
        std::filesystem::remove_all("SaveGame");
        if (save) PlantSave('G', 6, ValidRecord());
        g_freeReadable = readable;
        g_freeBytes = bytes;
        Open(MEMCARD_MODE_BOOT);
        EXPECT_EQ(Text(), message);
        EXPECT_STREQ(Ui()->message.title, "LS_MEMCARD_TITLE_AUTOSAVE");
        // Backing out asks; yes ends the boot mode with autosave off.
        Press(kKeyBack);
        EXPECT_EQ(Text(), "LS_MEMCARD_MESSAGE_AUTOSAVECANCEL");
        Press(kKeyLeft);
        Press(kKeySelect);
        Frame({});
        EXPECT_FALSE(Running()) << message;
        EXPECT_EQ(Ui()->autosaveEnabled, 0u);
    }
    // The findings without a slot to use are checked again every frame.
    g_freeReadable = 0;
    Open(MEMCARD_MODE_BOOT);
    EXPECT_EQ(Text(), "LS_MEMCARD_MESSAGE_BOOTUNFORMATTED");
    g_freeReadable = 1;
    g_freeBytes = 1ull << 30;
    Frame({});
    EXPECT_EQ(Text(), "LS_MEMCARD_MESSAGE_BOOTNOFILE");
    // Continue, choose slot C and an empty place: a new save, autosave on.
    Press(kKeySelect);
    EXPECT_EQ(Text(), "LS_MEMCARD_MESSAGE_BOOTSELECTCARD");
    ChooseSlotAndFile(2, 5);
    EXPECT_EQ(Text(), "LS_MEMCARD_MESSAGE_BOOTSELECTFILE");
    Press(kKeySelect);
    EXPECT_EQ(Text(), "LS_MEMCARD_SUCCESS_AUTOSAVE");
    Wait(3.0f);
    EXPECT_FALSE(Running());
    EXPECT_EQ(std::make_tuple(Ui()->autosaveEnabled, Ui()->autosaveLetter, Ui()->autosaveFile),
              std::make_tuple(1u, 'C', 5));
    EXPECT_EQ(ReadFile(SavePath('C', 5)).size(), SAVE_RECORD_SIZE);
}

// What the storage says to a save at an empty place (the free space among it) and the confirmations every mode shares,
// from the Save road's file grid at its first place: the messages each road shows in turn, where it ends, and what the
// disk holds afterwards.
TEST_F(MemCardTest, EveryConfirmationRoadShowsItsMessagesAndEndsOnAGrid)
{
    // BLOCKED: a file named SaveGame; FULL: 1000 bytes free; HUGE: above 4 GB free.
    enum Storage { PLAIN, UNREADABLE, BLOCKED, READ_ONLY, FULL, HUGE };
    enum Removal { KEPT, AT_CHECK, AT_ANSWER };              // when the slot goes away
    // Messages, and what is on the disk afterwards.
    const char *const F = "LS_MEMCARD_MESSAGE_SAVESELECTFILE", *const S = "LS_MEMCARD_MESSAGE_SAVESELECTCARD",
                      *const DA = "LS_MEMCARD_MESSAGE_DELETEWARNING", *const DI = "LS_MEMCARD_MESSAGE_DELETEINPROGRESS",
                      *const UF = "LS_MEMCARD_ERROR_CARDUNFORMATTED", *const FA = "LS_MEMCARD_MESSAGE_FORMATWARNING",
                      *const FI = "LS_MEMCARD_MESSAGE_FORMATINPROGRESS",
                      *const CI = "LS_MEMCARD_MESSAGE_CHECKINPROGRESS",
                      *const RO = "LS_MEMCARD_ERROR_CARDUNFORMATTEDREADONLY",
                      *const SI = "LS_MEMCARD_MESSAGE_SAVEINPROGRESS";
    const char* const GONE[] = {"LS_MEMCARD_ERROR_DELETECARDREMOVED", "LS_MEMCARD_ERROR_FORMATCARDREMOVED",
                                "LS_MEMCARD_ERROR_CHECKCARDREMOVED"};
    const int M = SYSFILE_MISSING, FL = SYSFILE_FILE, D = SYSFILE_FOLDER;
    const uint8_t kDel = kKeyDelete, kSel = kKeySelect;
    struct Case {
        const char* what;
        bool save;  // a save at the first place of slot A
        Storage storage;
        Removal removal;
        uint8_t key;   // pressed on the file grid
        int answer;    // to the question: 0 yes, 1 no, -1 none asked
        int saveFile;  // what is at the save's path afterwards
        int saveGame;  // what "SaveGame" is afterwards
        std::vector<std::string> seen;
    } cases[] = {
        {"delete", true, PLAIN, KEPT, kDel, 0, M, D, {F, DA, DI, "LS_MEMCARD_SUCCESS_DELETE", F}},
        {"delete declined", true, PLAIN, KEPT, kDel, 1, FL, D, {F, DA, F}},
        {"delete refused", true, READ_ONLY, KEPT, kDel, 0, FL, D, {F, DA, DI, "LS_MEMCARD_ERROR_DELETEFAILED", F}},
        {"delete, slot gone", true, PLAIN, AT_ANSWER, kDel, 0, FL, D, {F, DA, DI, GONE[0], S}},
        {"delete on an empty place", false, PLAIN, KEPT, kDel, -1, M, M, {F}},
        {"format", false, UNREADABLE, KEPT, kSel, 0, M, D, {F, UF, FA, FI, "LS_MEMCARD_SUCCESS_FORMAT", F}},
        {"format declined", false, UNREADABLE, KEPT, kSel, 1, M, M, {F, UF, FA, F}},
        {"format refused", false, BLOCKED, KEPT, kSel, 0, M, FL, {F, UF, FA, FI, "LS_MEMCARD_ERROR_FORMATFAILED", F}},
        {"format, slot gone", false, UNREADABLE, AT_ANSWER, kSel, 0, M, M, {F, UF, FA, FI, GONE[1], S}},
        {"read-only, empty place", false, READ_ONLY, KEPT, kSel, -1, M, M, {F, RO, F}},
        {"read-only, over a save", true, READ_ONLY, KEPT, kSel, -1, FL, D, {F, RO, F}},
        {"slot gone in the check", true, PLAIN, AT_CHECK, kSel, -1, FL, D, {CI, GONE[2], S}},
        {"no space", false, FULL, KEPT, kSel, -1, M, M, {F, "LS_MEMCARD_ERROR_SAVENOSPACE", S}},
        {"above 4 GB free", false, HUGE, KEPT, kSel, -1, FL, D, {F, SI, "LS_MEMCARD_SUCCESS_SAVE"}},
    };
    const std::string original = ValidRecord();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all("SaveGame");
        if (c.save) PlantSave('A', 0, original);
        if (c.storage == BLOCKED) std::ofstream("SaveGame") << "not a folder";
        g_freeReadable = c.storage != UNREADABLE;
        g_freeBytes = c.storage == FULL ? 1000 : c.storage == HUGE ? 5ull << 30 : 1ull << 30;
        SysFile_SetWritableQuery(c.storage == READ_ONLY ? RefuseChanges : nullptr);
        Save_SetCardQuery(nullptr);
        std::vector<std::string> seen;
        auto note = [&] {
            if (seen.empty() || seen.back() != Text()) seen.push_back(Text());
        };
        auto step = [&](uint8_t key) {
            Frame({key});
            note();
            Frame({});
            note();
        };
        auto settleOn = [&](std::initializer_list<uint32_t> kinds) {
            for (float t = 0;
                 t < 6.0f && Running() && std::find(kinds.begin(), kinds.end(), Ui()->message.kind) == kinds.end();
                 t += kDt) {
                Frame({});
                note();
            }
        };
        Open(MEMCARD_MODE_SAVE);
        if (c.removal == AT_CHECK) {
            Press(kKeySelect);
            note();
            Save_SetCardQuery(NoCards);
        } else {
            ChooseSlotAndFile(0, 0);
            note();
            step(c.key);
            settleOn({MEMCARD_KIND_QUESTION, MEMCARD_KIND_FILES, MEMCARD_KIND_SLOTS});
            if (c.answer >= 0 && Ui()->message.kind == MEMCARD_KIND_QUESTION) {
                EXPECT_EQ(Ui()->selection, 1) << "questions start at no";
                if (c.removal == AT_ANSWER) Save_SetCardQuery(NoCards);
                if (c.answer == 0) Press(kKeyLeft);
                step(kKeySelect);
            }
        }
        settleOn({MEMCARD_KIND_FILES, MEMCARD_KIND_SLOTS});
        EXPECT_EQ(seen, c.seen);
        Press(kDel);  // the file grid knows what the place holds now: a delete asks only over a save
        EXPECT_EQ(Text() == DA, c.saveFile == FL && c.seen.back() == F);
        EXPECT_EQ(SysFile_GetKind(SavePath('A', 0).c_str()), c.saveFile);
        EXPECT_EQ(SysFile_GetKind("SaveGame"), c.saveGame);
        if (c.saveFile == SYSFILE_FILE) {
            EXPECT_EQ(ReadFile(SavePath('A', 0)), original);
        } else if (c.save) {
            EXPECT_TRUE(std::filesystem::is_empty("SaveGame")) << "no empty save folder is left";
        }
        MemCardUI_SetMode(MEMCARD_MODE_NONE);
        Frame({});
        ASSERT_FALSE(Running());
    }
}

// An autosave writes the last save's place; a failed one asks to give up, and no leads to the Save road.
TEST_F(MemCardTest, AutosaveWritesTheSamePlaceAndAFailedOneOffersTheSaveRoad)
{
    MemCardUI_SetMode(MEMCARD_MODE_AUTOSAVE);  // before any save: nothing
    EXPECT_EQ(MemCardUI_GetPendingMode(), (uint32_t)MEMCARD_MODE_NONE);
    SaveAt(3);
    Wait(4.0f);
    const std::string first = ReadFile(SavePath('A', 3));
    Progress_SetFlags(30, PROGRESS_COMPLETED, 1);
    Open(MEMCARD_MODE_AUTOSAVE);
    EXPECT_EQ(Text(), "LS_MEMCARD_SUCCESS_AUTOSAVE");
    Wait(3.0f);
    EXPECT_FALSE(Running());
    EXPECT_NE(ReadFile(SavePath('A', 3)), first);
    Save_SetWriteHook(ShortWrite);
    MemCardUI_SetMode(MEMCARD_MODE_AUTOSAVE);
    Frame({});
    Frame({});
    WaitForChange();
    EXPECT_EQ(Text(), "LS_MEMCARD_ERROR_AUTOSAVEFAILED");
    EXPECT_GE(WaitForChange() + kDt, 2.0f) << "from its showing, not from the in-progress message's start";
    EXPECT_EQ(Text(), "LS_MEMCARD_MESSAGE_AUTOSAVECANCEL");
    Press(kKeySelect);  // no
    EXPECT_EQ(Text(), "LS_MEMCARD_MESSAGE_SAVESELECTCARD");
    Press(kKeyBack);
    EXPECT_EQ(Text(), "LS_MEMCARD_MESSAGE_AUTOSAVECANCEL");
    Press(kKeyLeft);
    Press(kKeySelect);  // yes
    Frame({});
    EXPECT_FALSE(Running());
    EXPECT_EQ(MemCardUITest_GetAutosaveRequests(), 3u);
    const int moves[][3] = {{0, 2, 0}, {3, 3, 3}, {4, 2, 4}, {7, 3, 7}, {0, 0, 0}, {5, 1, 5},
                            {1, 1, 5}, {6, 0, 2}, {2, 3, 3}, {5, 2, 4}, {9, 2, 6}, {2, 9, 2}};
    for (const auto& m : moves) EXPECT_EQ(MemCardUI_MoveFileCursor(m[0], m[1]), m[2]) << m[0] << " " << m[1];
    // Images that are missing or named empty load as none; the screen still sets up.
    WriteConfig("MemCard.cfg", "MemCard {\n Colours {\n  Overlay1 = 2, 0.5, 0, 1\n }\n Images {\n  Panel = Gone.bmp\n"
                               "  FileIcon = \n  FileIconPC2 = Gone.bmp\n }\n}\n");
    MemCardUI_Setup();
    EXPECT_EQ(MemCardUI_Get()->images[0], nullptr);
}

}  // namespace
