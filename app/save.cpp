#include "app/save.h"

#include <cstdio>
#include <cstring>

#include "common/hash.h"
#include "common/memory.h"
#include "common/strings.h"
#include "app/text.h"
#include "platform/win32/sysfile.h"

namespace {

struct SaveStorage {
  SaveWriteHook write;
  SaveSyncHook sync;
  SaveCardQuery cards;
};

SaveStorage g_save = {};

size_t Save_StandardWrite(const void* data, size_t size, void* file) {
  return fwrite(data, 1, size, (FILE*)file);
}

int Save_StandardSync(void* file, const char* folder) {
  return file ? SysFile_SyncFile((FILE*)file) : SysFile_SyncFolder(folder);
}

// A single path part that stays inside its folder.
int Save_IsSafeName(const char* name, size_t maxLength) {
  if (!name || !name[0] || name[0] == '.') return 0;
  size_t n = 0;
  for (const char* p = name; *p; p++, n++)
    if (*p == '\\' || *p == '/' || *p == ':') return 0;
  return n < maxLength;
}

// "SaveGame\<folder>\<file>" from a folder path "X:\SaveGame\<folder>\" (its
// drive part dropped). 0 when either part could leave the save folder.
int Save_FilePath(const char* folderPath, const char* fileName, char* out, size_t size) {
  if (!folderPath || strlen(folderPath) < 3 || !Save_IsSafeName(fileName, SAVE_NAME_MAX)) return 0;
  const char* rest = folderPath + 3;
  static const char root[] = "SAVEGAME\\";
  for (int i = 0; i < 9; i++)
    if (String_UpperAscii(rest[i]) != root[i]) return 0;
  char folder[SAVE_FOLDER_MAX];
  size_t n = strlen(rest + 9);
  if (n == 0 || n >= sizeof folder || rest[9 + n - 1] != '\\') return 0;
  memcpy(folder, rest + 9, n - 1);
  folder[n - 1] = 0;
  if (!Save_IsSafeName(folder, sizeof folder)) return 0;
  int written = snprintf(out, size, "SaveGame\\%s\\%s", folder, fileName);
  return written > 0 && (size_t)written < size;
}

int Save_IsValidFolder(const SysFindData* data) {
  if (!data->isFolder || strlen(data->name) < 9) return 0;
  char rebuilt[SAVE_FOLDER_MAX];
  if (!Save_FolderName(data->name + 9, rebuilt)) return 0;
  for (size_t i = 0;; i++) {
    if (String_UpperAscii(rebuilt[i]) != String_UpperAscii(data->name[i])) return 0;
    if (!rebuilt[i]) return 1;
  }
}

// Moves the search on to the next valid save (starting with data) and fills
// the record; 0 when the search is exhausted.
int Save_NextValid(SysFind* find, SysFindData* data, int haveData, SaveEnumRecord* record) {
  for (;;) {
    if (!haveData && !SysFile_FindNext(find, data)) return 0;
    haveData = 0;
    if (!Save_IsValidFolder(data)) continue;
    if (record) snprintf(record->name, sizeof record->name, "%s", data->name + 9);
    return 1;
  }
}

}  // namespace

int Save_GetCardLetters(char* buffer) {
    char letters[8];
    int count = 8;
    memcpy(letters, "ABCDEFGH", 8);
    if (g_save.cards) {
        count = g_save.cards(letters);
        count = count < 0 ? 0 : count > 8 ? 8 : count;
    }
    if (buffer) memcpy(buffer, letters, (size_t)count);
    return count;
}

void Save_SetCardQuery(SaveCardQuery query) { g_save.cards = query; }

int Save_GetCardName(char /*card*/, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  char text[TEXT_BUFFER_SIZE];
  Text_Get("LS_CardNamePC", 0, text, sizeof text);
  snprintf(buffer, (size_t)size, "%s", text);
  return 1;
}

int Save_FolderName(const char* saveName, char* buffer) {
  if (!buffer) return 0;
  buffer[0] = 0;
  if (!Save_IsSafeName(saveName, SAVE_NAME_MAX)) return 0;
  snprintf(buffer, SAVE_FOLDER_MAX, "%.8x-%s", Name_Hash(saveName, 0, 1), saveName);
  for (char* p = buffer; *p; p++) *p = String_UpperAscii(*p);
  return 1;
}

int Save_MakeFolder(char drive, const char* saveName, char* outPath, const char* /*title*/) {
  char folder[SAVE_FOLDER_MAX];
  if (!outPath || !Save_FolderName(saveName, folder)) return 0;
  if (!SysFile_CreateFolder("SaveGame")) return 0;
  char path[SAVE_FOLDER_MAX + 10];
  snprintf(path, sizeof path, "SaveGame\\%s", folder);
  if (!SysFile_CreateFolder(path)) return 0;
  snprintf(outPath, SAVE_PATH_MAX, "%c:\\%s\\", drive, path);
  return 1;
}

int Save_WriteFile(const char* folderPath, const char* fileName, const void* buffer, size_t size) {
  char path[SAVE_PATH_MAX + SAVE_NAME_MAX];
  char temporary[sizeof path + 8];
  if (!Save_FilePath(folderPath, fileName, path, sizeof path) || (!buffer && size)) return 0;
  snprintf(temporary, sizeof temporary, "%s.tmp", path);
  FILE* f = SysFile_Open(temporary, "wb");
  if (!f) return 0;
  SaveWriteHook write = g_save.write ? g_save.write : Save_StandardWrite;
  SaveSyncHook sync = g_save.sync ? g_save.sync : Save_StandardSync;
  int ok = size == 0 || write(buffer, size, f) == size;
  if (fflush(f) != 0) ok = 0;
  // Only a complete file that is on the disk replaces the old one: a rename
  // can reach the disk before the bytes it names.
  if (ok && !sync(f, nullptr)) ok = 0;
  if (fclose(f) != 0) ok = 0;
  if (ok && !SysFile_Rename(temporary, path)) ok = 0;
  if (!ok) {
    SysFile_Remove(temporary);
    return 0;
  }
  // The rename itself lives in the folder's entries.
  *strrchr(path, '\\') = 0;
  return sync(nullptr, path);
}

int Save_ReadFile(const char* folderPath, const char* fileName, void* buffer, size_t size) {
  char path[SAVE_PATH_MAX + SAVE_NAME_MAX];
  if (!Save_FilePath(folderPath, fileName, path, sizeof path) || (!buffer && size)) return 0;
  FILE* f = SysFile_Open(path, "rb");
  if (!f) return 0;
  int ok = size == 0 || fread(buffer, 1, size, f) == size;
  fclose(f);
  return ok;
}

long Save_GetFileSize(const char* folderPath, const char* fileName) {
  char path[SAVE_PATH_MAX + SAVE_NAME_MAX];
  if (!Save_FilePath(folderPath, fileName, path, sizeof path)) return -1;
  FILE* f = SysFile_Open(path, "rb");
  if (!f) return -1;
  long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
  fclose(f);
  return size;
}

int Save_GetFolderState(const char* saveName)
{
    switch (SysFile_GetKind("SaveGame")) {
    case SYSFILE_MISSING: return SysFile_IsWritable(nullptr) ? SAVE_FOLDER_READY : SAVE_FOLDER_READ_ONLY;
    case SYSFILE_FILE: return SAVE_FOLDER_BLOCKED;
    default: break;
    }
    const char* changed = "SaveGame";
    char folder[SAVE_FOLDER_MAX];
    char path[SAVE_FOLDER_MAX + 10];
    if (saveName && Save_FolderName(saveName, folder)) {
        snprintf(path, sizeof path, "SaveGame\\%s", folder);
        switch (SysFile_GetKind(path)) {
        case SYSFILE_FOLDER: changed = path; break;
        case SYSFILE_FILE: return SAVE_FOLDER_BLOCKED;
        default: break;
        }
    }
    return SysFile_IsWritable(changed) ? SAVE_FOLDER_READY : SAVE_FOLDER_READ_ONLY;
}

int Save_PrepareFolder(void) { return SysFile_CreateFolder("SaveGame"); }

int Save_RemoveTemporary(const char* folderPath, const char* fileName)
{
    char path[SAVE_PATH_MAX + SAVE_NAME_MAX];
    char temporary[sizeof path + 8];
    if (!Save_FilePath(folderPath, fileName, path, sizeof path)) return 0;
    snprintf(temporary, sizeof temporary, "%s.tmp", path);
    return SysFile_GetKind(temporary) == SYSFILE_MISSING || SysFile_Remove(temporary);
}

int Save_DeleteFile(const char* folderPath, const char* fileName)
{
    char path[SAVE_PATH_MAX + SAVE_NAME_MAX];
    if (!Save_FilePath(folderPath, fileName, path, sizeof path)) return 0;
    char folder[sizeof path];
    snprintf(folder, sizeof folder, "%s", path);
    *strrchr(folder, '\\') = 0;
    if (SysFile_GetKind(path) != SYSFILE_MISSING) {
        // Only a folder that takes changes gives a file up (as the disk itself
        // rules for a user without the right to change the folder).
        if (!SysFile_IsWritable(folder) || !SysFile_Remove(path)) return 0;
    }
    Save_RemoveTemporary(folderPath, fileName);
    SysFile_RemoveFolder(folder);  // only when nothing else is left in it
    return 1;
}

intptr_t Save_Enumerate(uint32_t /*letter*/, SaveEnumRecord* record) {
  SysFindData data;
  SysFind* find = SysFile_FindFirst("SaveGame\\*", &data);
  if (!find) return -1;
  if (!Save_NextValid(find, &data, 1, record)) {
    SysFile_FindClose(find);
    return -1;
  }
  return (intptr_t)find;
}

int Save_EnumerateNext(intptr_t handle, SaveEnumRecord* record) {
  if (handle == -1 || handle == 0) return 0;
  SysFindData data;
  return Save_NextValid((SysFind*)handle, &data, 0, record);
}

void Save_EnumerateEnd(intptr_t handle) {
  if (handle != -1 && handle != 0) SysFile_FindClose((SysFind*)handle);
}

int32_t Save_GetFreeSpace(char /*letter*/) {
  uint64_t bytes;
  if (!SysFile_GetDiskFree(nullptr, &bytes)) return SAVE_FREE_SPACE_UNREADABLE;
  return bytes > 0x7FFFFFFFull ? 0x7FFFFFFF : (int32_t)bytes;
}

uint32_t Save_BytesToKB(uint32_t bytes) {
  uint32_t kb = (uint32_t)(((uint64_t)bytes + 1023) / 1024);
  return kb ? kb : 1;
}

void Save_SetWriteHook(SaveWriteHook hook) {
  g_save.write = hook;
}

void Save_SetSyncHook(SaveSyncHook hook) {
  g_save.sync = hook;
}
