// WAD archive: read-only archives whose files replace the disk for every open
// made through the engine's file table. Up to ten archives; a name is looked
// up in the newest mount first. There is no unmount while the game runs;
// Wad_Shutdown closes everything at exit.
//
// Archive layout, little-endian:
//   0  "WADH"            magic
//   4  u32 dataOffset    start of the data area
//   8  u32 entryCount    directory entries (entry 0 is the root directory)
//   12 u32 namesSize     bytes of the name table
//   16 entryCount x 24-byte entries, then the name table (NUL-terminated).
// Entry: nameOffset (0xFFFFFFFF: no name), dataOffset (relative to the
// header's), size, flags (bit 0 serves binary opens, clear serves text opens;
// bit 1 can't be opened), firstChild and nextSibling (0xFFFFFFFF: none).
// An entry with a child is a directory; the others are files.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t WAD_MAGIC = 0x48444157u;  // "WADH"
constexpr uint32_t WAD_NONE = 0xFFFFFFFFu;
constexpr uint32_t WAD_HEADER_SIZE = 16;
constexpr uint32_t WAD_ENTRY_SIZE = 24;
constexpr uint32_t WAD_FLAG_BINARY = 1;
constexpr uint32_t WAD_FLAG_CLOSED = 2;
constexpr int WAD_MAX_MOUNTS = 10;
constexpr int WAD_MAX_PATH_PARTS = 20;

struct WadEntry {
  uint32_t nameOffset;
  uint32_t dataOffset;
  uint32_t size;
  uint32_t flags;
  uint32_t firstChild;
  uint32_t nextSibling;
};

struct WadMount;

// An open archive file.
struct WadFile {
  WadMount* mount;
  const WadEntry* entry;
  uint32_t position;   // bytes from the start of the entry
  uint32_t bytesRead;  // total served through read and gets
};

// Decodes / encodes one 24-byte directory entry.
void Wad_DecodeEntry(const uint8_t* bytes, WadEntry* entry);
void Wad_EncodeEntry(const WadEntry* entry, uint8_t* bytes);

// Creates the open-file pool and copies the live file table (with the file
// layer's counting read) for the archives' own disk access. 0 on failure.
int Wad_Init(void);
// Closes every mounted archive, frees the directories and the pool.
void Wad_Shutdown(void);

// Mounts an archive opened "rb" by the path as given. 0 when ten are mounted,
// the file can't be opened, or its header or directory is malformed
// (truncated, no entries, tables or data past the end, bad name offsets,
// child or sibling indices out of range, a directory loop); nothing is left
// open then, and a file that is there but refused is named on standard error
// with the reason ("<path>: the archive is refused: <why>"). keepOpen other
// than 1 is refused.
int Wad_Mount(const char* path, int keepOpen = 1);
// 1 when at least one archive is mounted.
int Wad_IsMounted(void);
// Writes the eleven archive functions into the live table.
void File_InstallInterface(void);

// The entry of a resolved path ("DATA\Levels\x.cfg"; "/" counts as "\"), or
// null. Directories match by name; files only when their binary flag equals
// binary. Names ignore case. More than 20 parts find nothing.
const WadEntry* Wad_FindEntry(WadMount* mount, const char* path, int binary);
// Mount slot i (0 is the oldest), or null.
WadMount* Wad_GetMount(int index);

// The table slots. Opens take a record from the pool; close returns it.
int Wad_FileExists(const char* name);
void* Wad_FileOpen(const char* name, const char* mode);
int Wad_FileClose(void* file);
size_t Wad_FileRead(void* buffer, size_t itemSize, size_t count, void* file);
size_t Wad_FileWrite(const void* buffer, size_t itemSize, size_t count, void* file);
char* Wad_FileGets(char* buffer, int size, void* file);
int Wad_FilePuts(const char* text, void* file);
// Non-zero as soon as the position has reached the entry's size.
int Wad_FileEof(void* file);
// 0, or -1 when the new position would be negative or past 4 GiB.
int Wad_FileSeek(void* file, long offset, int origin);
int Wad_FileFlush(void* file);
long Wad_FileTell(void* file);
