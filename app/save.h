// Save storage: the save screens show "memory cards" A to H; on this
// platform each save is a folder "SaveGame\<HASH>-<NAME>" in the working
// folder (the whole name upper-cased, hash = Name_Hash(name, 0, 1) in hex),
// holding files written and read whole. Saves bypass the file table, so they
// are never served from an archive.
//
// Names that could leave the save folder (empty, with "\", "/" or ":", or
// starting with ".") are refused everywhere. Files are written to a
// temporary file that replaces the old one only when complete.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int SAVE_NAME_MAX = 256;   // characters of a save name, NUL included
constexpr int SAVE_FOLDER_MAX = SAVE_NAME_MAX + 9;  // "%.8x-" and the name
constexpr int SAVE_PATH_MAX = SAVE_FOLDER_MAX + 16; // "X:\SaveGame\<folder>\"
// Save_GetFreeSpace's answer when the free space can't be read.
constexpr int32_t SAVE_FREE_SPACE_UNREADABLE = -1;

// What an enumeration reports of one save: its name as stored (upper case).
struct SaveEnumRecord {
  char name[SAVE_NAME_MAX];
};

// Writes the present card letters (no terminator): the eight letters A..H,
// or what an installed card query answers. Returns their count.
int Save_GetCardLetters(char* buffer);
// Replaces the query of the present cards (tests take cards away): it writes
// the letters (at most 8) and returns their count. Null restores A..H.
typedef int (*SaveCardQuery)(char* letters);
void Save_SetCardQuery(SaveCardQuery query);
// The localised "LS_CardNamePC" cut to size - 1 characters; 1, or 0 for a
// null buffer or size 0. The card letter is not used.
int Save_GetCardName(char card, char* buffer, int size);

// "%.8x-%s" of Name_Hash(name, 0, 1) and the name, upper-cased, into buffer
// (SAVE_FOLDER_MAX bytes); 0 for a name that is unsafe or too long.
int Save_FolderName(const char* saveName, char* buffer);
// Creates "SaveGame" and the folder of saveName, and writes
// "%c:\SaveGame\<folder>\" (drive letter) into outPath (SAVE_PATH_MAX
// bytes). The save screens pass "%c%s" of the slot letter and the file name,
// the only name that tells the slots apart. 1 on success (also when the
// folder exists); 0 otherwise. The title is not used.
int Save_MakeFolder(char drive, const char* saveName, char* outPath, const char* title = nullptr);

// Writes size bytes as the file's whole new content: to a temporary file
// forced to the disk, renamed over the old one, then the folder forced to
// the disk, so the save survives a power loss. 1 only when all of that
// succeeded. A failure before the rename leaves the previous file as it was;
// a failure to force the folder after it reports 0 with the new bytes in
// place (not known to be durable).
int Save_WriteFile(const char* folderPath, const char* fileName, const void* buffer, size_t size);
// 1 when size bytes were read from the start of the file.
int Save_ReadFile(const char* folderPath, const char* fileName, void* buffer, size_t size);
// The file's size, or -1 when it can't be opened or sought.
long Save_GetFileSize(const char* folderPath, const char* fileName);

// What the save folders can take now, answered from the disk without
// changing it (Save_GetFolderState).
enum {
    SAVE_FOLDER_READY = 0,      // a write goes through ("SaveGame" may still be missing)
    SAVE_FOLDER_BLOCKED = 1,    // a file holds the name of "SaveGame" or of the save's folder
    SAVE_FOLDER_READ_ONLY = 2,  // the folder a write would change refuses changes
};
// The state of "SaveGame" and, with a save name, of that save's folder: the
// deepest of the save's folder, "SaveGame" and the working folder that
// exists is the one a write changes.
int Save_GetFolderState(const char* saveName);
// Makes "SaveGame" when it is missing. 1 when it is a folder afterwards; a
// file of that name is left alone (0).
int Save_PrepareFolder(void);
// Removes the temporary file a write of the file left beside it when the
// process ended inside it (the file itself is untouched). 1 when none is
// left; 0 for a name that could leave the folder or a file the disk keeps.
int Save_RemoveTemporary(const char* folderPath, const char* fileName);
// Deletes the file (with a temporary file an interrupted write left beside
// it) and then the save's folder once it is empty. 1 when the file is gone,
// also when it was already; 0 when it is still there: a folder that refuses
// changes keeps its files, and so does a name that could leave the folder.
int Save_DeleteFile(const char* folderPath, const char* fileName);

// Walks the valid save folders (a folder whose name rebuilds from the part
// behind its ninth character; compared without regard to case). Returns a
// handle with the first save in record, or -1 when there is none. The letter
// is not used: every card sees every save.
intptr_t Save_Enumerate(uint32_t letter, SaveEnumRecord* record);
// 1 with the next save in record, 0 at the end.
int Save_EnumerateNext(intptr_t handle, SaveEnumRecord* record);
// Ends the walk and frees the handle; -1 is ignored.
void Save_EnumerateEnd(intptr_t handle);

// Free bytes of the working folder's disk, computed in 64 bits and
// saturated to 0x7FFFFFFF; SAVE_FREE_SPACE_UNREADABLE when the query fails.
// The letter is not used.
int32_t Save_GetFreeSpace(char letter = 0);
// Kilobytes rounded up, at least 1.
uint32_t Save_BytesToKB(uint32_t bytes);

// Replaces the function that writes a file's bytes (tests inject short
// writes); it returns the bytes written. Null restores the standard one.
typedef size_t (*SaveWriteHook)(const void* data, size_t size, void* file);
void Save_SetWriteHook(SaveWriteHook hook);
// Replaces the function that forces data to the disk (tests inject
// failures): called with the open temporary file (folder null) before the
// rename and with the folder's data name (file null) after it; 1 on
// success. Null restores the standard one.
typedef int (*SaveSyncHook)(void* file, const char* folder);
void Save_SetSyncHook(SaveSyncHook hook);
