#include "game/save_game.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/save.h"
#include "app/text.h"
#include "game/save_record.h"

namespace {

struct SaveGameStatus {
    uint32_t result;
    uint32_t lastError;
    uint8_t record[SAVE_RECORD_SIZE];
};

SaveGameStatus g_status;

// The storage name of a save: the slot letter and the file name.
int StorageName(char letter, const char* name, char* out, size_t size)
{
    if (!name) return 0;
    int n = snprintf(out, size, "%c%s", letter, name);
    return n > 0 && (size_t)n < size;
}

// The folder path of an existing save ("L:\SaveGame\<folder>\"), built
// without creating anything; 0 for a name the storage refuses.
int FolderPath(char letter, const char* name, char* out)
{
    char storage[SAVE_NAME_MAX];
    char folder[SAVE_FOLDER_MAX];
    if (!StorageName(letter, name, storage, sizeof storage) || !Save_FolderName(storage, folder)) return 0;
    int n = snprintf(out, SAVE_PATH_MAX, "%c:\\SaveGame\\%s\\", letter, folder);
    return n > 0 && n < SAVE_PATH_MAX;
}

int LetterPresent(char letter, uint32_t* word)
{
    char letters[SAVE_SLOTS];
    int count = MemCardUI_RefreshCards(letters);
    if (count == 0) {
        g_status.result = SAVE_RESULT_MISSING;
        return 0;
    }
    if (std::find(letters, letters + count, letter) == letters + count) {
        *word = SAVE_RESULT_MISSING;
        return 0;
    }
    return 1;
}

// The whole file of an existing save into g_status.record: 1 when it is
// exactly one record long. A missing slot or file sets the last error; a
// file of another size, or one that can't be read, sets *refused.
int ReadWholeRecord(char letter, const char* name, uint32_t* refused)
{
    char folder[SAVE_PATH_MAX];
    if (!LetterPresent(letter, &g_status.lastError)) return 0;
    if (!FolderPath(letter, name, folder)) {
        g_status.lastError = SAVE_RESULT_FAILED;
        return 0;
    }
    long size = Save_GetFileSize(folder, name);
    if (size < 0) {
        g_status.lastError = SAVE_RESULT_FAILED;
        return 0;
    }
    if ((size_t)size != SAVE_RECORD_SIZE || !Save_ReadFile(folder, name, g_status.record, SAVE_RECORD_SIZE)) {
        *refused = SAVE_RESULT_FAILED;
        return 0;
    }
    return 1;
}

}  // namespace

int MemCardUI_RefreshCards(char* letters)
{
    char found[SAVE_SLOTS];
    int count = std::min(Save_GetCardLetters(found), SAVE_SLOTS);
    std::sort(found, found + count);
    if (letters) memcpy(letters, found, (size_t)count);
    return count;
}

int MemCardUI_ListFiles(char letter, const char* name)
{
    char folder[SAVE_PATH_MAX];
    return FolderPath(letter, name, folder) && Save_GetFileSize(folder, name) >= 0;
}

char* Save_GetFileName(int position, char* buffer, size_t size)
{
    if (!buffer || !size) return buffer;
    buffer[0] = 0;
    if (position < 0 || position >= SAVE_FILE_POSITIONS) return buffer;
    char key[32];
    snprintf(key, sizeof key, "LS_MEMCARD_FILENAME%d", position + 1);
    return Text_Get(key, 0, buffer, size);
}

char* Save_GetSaveTitle(const char* name, char* buffer, size_t size)
{
    if (!buffer || !size) return buffer;
    int number = 0;
    for (int p = 0; p < SAVE_FILE_POSITIONS && name && !number; p++) {
        char fileName[SAVE_NAME_MAX];
        if (!strcmp(Save_GetFileName(p, fileName, sizeof fileName), name)) number = p + 1;
    }
    snprintf(buffer, size, "%s %d", Save_GetTitle(), number);
    return buffer;
}

uint32_t Save_CheckCard(char letter, const char* name)
{
    char letters[SAVE_SLOTS];
    int count = MemCardUI_RefreshCards(letters);
    if (std::find(letters, letters + count, letter) == letters + count) return SAVE_RESULT_MISSING;
    char storage[SAVE_NAME_MAX];
    switch (Save_GetFolderState(StorageName(letter, name, storage, sizeof storage) ? storage : nullptr)) {
    case SAVE_FOLDER_BLOCKED: return SAVE_RESULT_UNFORMATTED;
    case SAVE_FOLDER_READ_ONLY: return SAVE_RESULT_READ_ONLY;
    default: break;
    }
    int32_t free = Save_GetFreeSpace(letter);
    if (free == SAVE_FREE_SPACE_UNREADABLE) return SAVE_RESULT_UNFORMATTED;
    return (uint32_t)free / 1024 < Save_GetSizeKB() ? SAVE_RESULT_NO_SPACE : SAVE_RESULT_NONE;
}

int Save_DeleteGame(char letter, const char* name)
{
    if (!LetterPresent(letter, &g_status.result)) return 0;
    char folder[SAVE_PATH_MAX];
    if (!FolderPath(letter, name, folder) || !Save_DeleteFile(folder, name)) {
        g_status.result = SAVE_RESULT_FAILED;
        return 0;
    }
    return 1;
}

int Save_FormatCard(char letter)
{
    if (!LetterPresent(letter, &g_status.result)) return 0;
    if (!Save_PrepareFolder()) {
        g_status.result = SAVE_RESULT_FAILED;
        return 0;
    }
    return 1;
}

void Save_RemoveLeftovers(void)
{
    char letters[SAVE_SLOTS];
    const int count = MemCardUI_RefreshCards(letters);
    for (int s = 0; s < count; s++) {
        for (int p = 0; p < SAVE_FILE_POSITIONS; p++) {
            char name[SAVE_NAME_MAX], folder[SAVE_PATH_MAX];
            if (FolderPath(letters[s], Save_GetFileName(p, name, sizeof name), folder))
                Save_RemoveTemporary(folder, name);
        }
    }
}

int Save_WriteGame(char letter, const char* name)
{
    if (!LetterPresent(letter, &g_status.result)) return 0;
    int32_t free = Save_GetFreeSpace(letter);
    if (free == SAVE_FREE_SPACE_UNREADABLE) {
        g_status.result = SAVE_RESULT_UNFORMATTED;
        return 0;
    }
    if ((uint32_t)free / 1024 < Save_GetSizeKB()) {
        g_status.result = SAVE_RESULT_NO_SPACE;
        return 0;
    }
    char storage[SAVE_NAME_MAX];
    char folder[SAVE_PATH_MAX];
    char title[SAVE_NAME_MAX + 16];
    Save_GetSaveTitle(name, title, sizeof title);
    if (!StorageName(letter, name, storage, sizeof storage) || !Save_MakeFolder(letter, storage, folder, title)) {
        g_status.result = SAVE_RESULT_FAILED;
        return 0;
    }
    Save_BuildRecord(g_status.record);
    Save_SealHeader(g_status.record);
    Save_SealRecord(g_status.record);
    if (!Save_WriteFile(folder, name, g_status.record, SAVE_RECORD_SIZE)) {
        g_status.result = SAVE_RESULT_FAILED;
        return 0;
    }
    return 1;
}

int Save_ReadGame(char letter, const char* name)
{
    if (!ReadWholeRecord(letter, name, &g_status.result)) return 0;
    if (!Save_UnpackRecord(g_status.record)) {
        g_status.result = SAVE_RESULT_FAILED;
        return 0;
    }
    return 1;
}

int Save_ReadGameHeader(char letter, const char* name, uint8_t* header)
{
    if (!header) return 0;
    if (!ReadWholeRecord(letter, name, &g_status.lastError) || !Save_CheckHeader(g_status.record)) {
        g_status.lastError = SAVE_RESULT_FAILED;
        return 0;
    }
    memcpy(header, g_status.record, SAVE_HEADER_SIZE);
    return 1;
}

int Save_IsValid(char letter, const char* name)
{
    char folder[SAVE_PATH_MAX];
    if (!FolderPath(letter, name, folder) || Save_GetFileSize(folder, name) != (long)SAVE_RECORD_SIZE) return 0;
    static uint8_t record[SAVE_RECORD_SIZE];
    return Save_ReadFile(folder, name, record, SAVE_RECORD_SIZE) && Save_CheckHeader(record) &&
           Save_CheckRecord(record);
}

uint32_t Save_GetResult(void) { return g_status.result; }
uint32_t Save_GetLastError(void) { return g_status.lastError; }
void Save_ClearResult(void) { g_status.result = SAVE_RESULT_NONE; }
void Save_ClearLastError(void) { g_status.lastError = SAVE_RESULT_NONE; }
