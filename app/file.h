// File layer: every data file the engine and the shell read goes through the
// graphics engine's file-function table, so that a mounted archive can take
// the table over. This module turns data names into paths ("DATA\" in front),
// wraps the table's operations, keeps a copy of the untouched disk table, and
// counts the bytes read for a loading-progress callback.
//
// The live table is always the one of the engine's *current* instance: the
// engine copies its fixed slots into a new block when it opens, so a pointer
// taken earlier would go stale. Without an initialised engine there is no
// table: opens give null, reads 0, tell -1.
#pragma once

#include <cstddef>
#include <cstdint>

struct FileInterface;

// Progress callback: milliseconds since the previous report began, bytes
// counted since then, and the argument given to LoadProgress_Begin.
typedef void (*LoadProgressCallback)(uint32_t elapsedMs, float bytes, void* arg);

// Millisecond clock used for the progress reports (tests script it).
typedef uint32_t (*FileClock)(void);

// Takes over the live table: its open and exists translate data names into
// disk paths (case-insensitive, back-slashes), read counts the bytes for the
// progress reports, gets passes through. Keeps a copy with the translating
// open and the plain read as the disk table. 0 when the engine has no table.
int File_Init(void);
// Puts the saved slots back where the table still holds ours (not under a
// mounted archive's), and frees the progress records.
void File_Shutdown(void);

// The table as it was when File_Init ran (plain disk files); null before it.
const FileInterface* File_GetInterface(void);
// The engine's current table, or null when the engine has none.
FileInterface* File_GetLiveInterface(void);

// "DATA\<name>" with doubled back-slashes collapsed, in a static buffer that
// the next call overwrites; cut to the buffer's size. The flag has no effect.
const char* File_ResolvePath(const char* name, int flag = 0);

// 1 when the data name opens with "r" or with "rb".
int File_Exists(const char* name);
// Opens the resolved data name through the live table; null when it can't.
// The caller closes the handle with File_Close.
void* File_Open(const char* name, const char* mode);
int File_Close(void* file);
size_t File_Read(void* buffer, size_t itemSize, size_t count, void* file);
// 0 when moved, as fseek; -1 without a table or a file.
int File_Seek(void* file, long offset, int origin);
long File_Tell(void* file);
int File_Eof(void* file);
// One line with its line feed, at most size - 1 characters; null at the end.
char* File_Gets(char* buffer, int size, void* file);
// File_Gets, then one trailing line feed removed (a carriage return stays).
char* File_ReadLine(char* buffer, int size, void* file);
// Formats into 1024 characters (cut there) and writes with the live puts;
// the puts result, or 0 without a table.
int File_Printf(void* file, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Size of the data name opened "rb" (binary) or "r"; 0 when it can't be opened.
long File_GetSize(const char* name, int binary);
// The text behind the path's last ".", or null when it has none.
const char* File_GetExtension(const char* path);

// Loading progress. Bytes read through the table are counted all the time;
// while a callback is set it is called once more than 100 ms have passed
// since its previous call ended, with the milliseconds since that call began
// and what was counted since.
void LoadProgress_Begin(int id, LoadProgressCallback callback, void* arg);
// Clears the callback; counting goes on. The id is not used.
void LoadProgress_End(int id = 0);
void LoadProgress_AddBytes(uint32_t bytes);

// Replaces the clock of the progress reports; null restores the system clock.
void File_SetClock(FileClock clock);
