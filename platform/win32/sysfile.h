// Disk files and folders by data name: stands in for the Windows file and
// folder services (open, create folder, file times, find with a wildcard,
// move, delete, free disk space). Every name goes through Path_Resolve, and
// every change made here is reported to its listing cache, so the program
// sees its own new files at once. Thin by design: no buffering or policy
// beyond the standard library's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// fopen on the translated name (the descriptor is closed on exec). A mode
// that writes creates the file in the existing folder; a missing folder
// makes the open fail. Null on failure. Close with fclose.
FILE* SysFile_Open(const char* name, const char* mode);

// Creates the last folder of `name` (the folders above must exist). Returns
// 1 when the folder exists afterwards; `existed`, when given, is set to 1
// when it was there already. 0 on any other failure (a file of that name, a
// missing parent, no permission).
int SysFile_CreateFolder(const char* name, int* existed = nullptr);

// Last-write time in nanoseconds since 1970; 1 on success, 0 when the file
// can't be found (*time untouched).
int SysFile_GetWriteTime(const char* name, uint64_t* time);

// Moves a file or folder; an existing file at the destination is replaced,
// which is what writing a temporary file and renaming it over the old one
// needs. 1 on success, 0 on failure (nothing changed).
int SysFile_Rename(const char* from, const char* to);

// Durability, for files that must survive a power loss: SysFile_SyncFile
// forces an open file's written bytes to the disk (flushing the stdio buffer
// first), SysFile_SyncFolder a folder's entries (a rename into it). 1 on
// success, 0 when the disk did not confirm.
int SysFile_SyncFile(FILE* file);
int SysFile_SyncFolder(const char* name);

// Deletes a file (SysFile_Remove) or an empty folder (SysFile_RemoveFolder).
// 1 on success, 0 on failure.
int SysFile_Remove(const char* name);
int SysFile_RemoveFolder(const char* name);

// What `name` is: SYSFILE_MISSING (also when it can't be looked at), a file
// or a folder.
enum { SYSFILE_MISSING = 0, SYSFILE_FILE = 1, SYSFILE_FOLDER = 2 };
int SysFile_GetKind(const char* name);

// The query behind SysFile_IsWritable: 1 when this process may create,
// rename and delete entries in the folder at `realPath` (write and search
// permission, a file system mounted for writing). Tests install their own.
typedef int (*SysWritableQuery)(const char* realPath);

// 1 when the folder `name` (null or "" for the working folder) takes new
// entries and gives up old ones; 0 when it refuses them or is missing.
int SysFile_IsWritable(const char* name);

// Installs a query; null restores the file-system query.
void SysFile_SetWritableQuery(SysWritableQuery query);

// One entry found by SysFile_FindFirst/FindNext.
struct SysFindData {
    char name[256];     // the entry's name as stored on disk
    int isFolder;       // 1 for a folder
    uint64_t size;      // bytes, 0 for folders
    uint64_t writeTime; // nanoseconds since 1970
};

struct SysFind;  // an open search; owned by the caller until SysFile_FindClose

// Starts a search for `pattern`, a folder name followed by a last part with
// "*" and "?" wildcards matched without regard to case ("SaveGame\*"). The
// listing includes "." and "..". Returns the search with the first entry in
// *data, or null when nothing matches (nothing to close then).
SysFind* SysFile_FindFirst(const char* pattern, SysFindData* data);

// The next entry: 1 and *data filled, or 0 at the end.
int SysFile_FindNext(SysFind* find, SysFindData* data);

// Ends a search and frees it; null is ignored.
void SysFile_FindClose(SysFind* find);

// The query behind SysFile_GetDiskFree: free bytes available to this user on
// the file system holding `realPath`; 1 on success. Tests install their own.
typedef int (*SysDiskFreeQuery)(const char* realPath, uint64_t* freeBytes);

// Free bytes on the disk that holds `name` (null or "" for the working
// folder). 1 on success, 0 when the query fails (*freeBytes untouched).
int SysFile_GetDiskFree(const char* name, uint64_t* freeBytes);

// Installs a query; null restores the file-system query.
void SysFile_SetDiskFreeQuery(SysDiskFreeQuery query);

// The working folder as a real path into out (size bytes with the
// terminator); 0 (out "") when it does not fit or can't be read.
int SysFile_GetCurrentFolder(char* out, size_t size);
