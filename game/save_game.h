// Saving and loading the game's progress through the save storage
// (app/save.h): the save screens' side of it.
//
// The storage shows eight slots, the letters "A".."H" (all always present on
// this platform). Every slot has eight file positions; position n (0..7) is
// named by the localised text "LS_MEMCARD_FILENAME<n + 1>". A save at
// position n of slot L is the file of that name inside the storage folder
// of the name "<L><file name>" (the only name that tells the slots apart).
// A position holds a save when that file exists; an empty folder never
// counts.
//
// Only a write creates folders. The storage writes to a temporary file and
// renames it, so a failed write keeps the old save. A file is accepted when
// it is exactly SAVE_RECORD_SIZE bytes and both its header and its record
// checksum match; anything else is refused with the progress unchanged.
//
// Results (the operation result and the last error), one of SAVE_RESULT_*.
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int SAVE_SLOTS = 8;           // the letters A..H
constexpr int SAVE_FILE_POSITIONS = 8;  // per slot

enum : uint32_t {
    SAVE_RESULT_NONE = 0,
    SAVE_RESULT_UNFORMATTED = 1,  // the free space can't be read, or a file holds the save folder's name
    SAVE_RESULT_READ_ONLY = 2,    // the save folder refuses changes (Save_CheckCard only)
    SAVE_RESULT_MISSING = 4,      // the slot is not present
    SAVE_RESULT_NO_SPACE = 8,
    SAVE_RESULT_FAILED = 16,
};

// The present slots' letters, sorted, into letters (SAVE_SLOTS bytes, no
// terminator); returns their count.
int MemCardUI_RefreshCards(char* letters);
// 1 when slot `letter` holds a save under the file name.
int MemCardUI_ListFiles(char letter, const char* name);

// The localised file name of position 0..7 into buffer (size bytes); ""
// for a position out of range. Returns buffer.
char* Save_GetFileName(int position, char* buffer, size_t size);

// The title of the slot's save of that name: the game's title and the
// number of the file position of that name, "<title> <n + 1>" (0 for a name
// that is no position's). Returns buffer.
char* Save_GetSaveTitle(const char* name, char* buffer, size_t size);

// Whether a write of the slot's save of that name would go through,
// answered from the storage without changing it: SAVE_RESULT_NONE, or
// MISSING, UNFORMATTED, READ_ONLY (the folder the write changes refuses
// changes) or NO_SPACE. Neither result word changes.
uint32_t Save_CheckCard(char letter, const char* name);
// Deletes the slot's save of that name. 1 when it is gone; otherwise 0 and
// the operation result: MISSING for a slot not present, FAILED when the
// storage keeps the file (a folder that refuses changes, a refused name).
int Save_DeleteGame(char letter, const char* name);
// Makes the slot ready for saving (the storage's save folder). 1 when it
// is; otherwise 0 and the operation result: MISSING for a slot not
// present, FAILED when the folder can't be made (a file holds its name).
int Save_FormatCard(char letter);

// Removes what saves cut short (the process ended inside a write) left
// beside the saves of the present slots' file positions: the storage's
// temporary files. The saves themselves and every other file stay.
void Save_RemoveLeftovers(void);

// Builds the record from the game context and writes it as the slot's save
// of that name. 1 on success; otherwise 0 and the operation result: MISSING
// for a slot not present, UNFORMATTED when the free space can't be read,
// NO_SPACE with less free space than the record's size, FAILED when the
// folder can't be made (a name the storage refuses: nothing is written) or
// the write fails (the old save is left as it was).
int Save_WriteGame(char letter, const char* name);
// Reads the slot's save of that name and applies it to the game context.
// 1 on success; otherwise 0 with the context untouched: result MISSING
// without any slot, last error MISSING for a letter not present, last
// error FAILED for a missing file, result FAILED for a file that is not
// exactly one record or fails either checksum.
int Save_ReadGame(char letter, const char* name);
// Reads the first SAVE_HEADER_SIZE bytes of the save into header (that many
// bytes) and checks the header's checksum. 1 when accepted; otherwise 0
// and the last error (as Save_ReadGame); the buffer may hold partial data.
int Save_ReadGameHeader(char letter, const char* name, uint8_t* header);

// 1 when the slot's save of that name is exactly one record and both its
// checksums match; reads only, so the context and both result words stay
// as they are.
int Save_IsValid(char letter, const char* name);

uint32_t Save_GetResult(void);
uint32_t Save_GetLastError(void);
// Both words back to SAVE_RESULT_NONE.
void Save_ClearResult(void);
void Save_ClearLastError(void);
