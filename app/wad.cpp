#include "app/wad.h"

#include <cstdio>
#include <cstring>

#include "common/bytes.h"
#include "common/list.h"
#include "common/memory.h"
#include "common/strings.h"
#include "app/file.h"
#include "gfx/core/engine.h"

struct WadMount {
  void* archive;           // disk handle from the saved table
  WadEntry* entries;       // the whole directory, decoded
  uint32_t entryCount;
  uint32_t dataOffset;     // start of the data area
  uint64_t position;       // where the archive's disk position is believed to be
  uint64_t size;           // archive size in bytes
  char* names;             // the name table
  uint32_t namesSize;
};

namespace {

// The disk position is unknown after a failed seek or read; any value that no
// entry can ask for forces the next access to seek.
constexpr uint64_t WAD_POSITION_UNKNOWN = ~0ull;

struct WadSystem {
  WadMount mounts[WAD_MAX_MOUNTS];
  int mountCount;
  List* files;          // pool of WadFile
  FileInterface table;  // the live table at Wad_Init: disk access of the archives
  int initialised;
};

WadSystem g_wad = {};

void Wad_ReleaseMount(WadMount* m) {
  if (m->archive && g_wad.table.close) g_wad.table.close(m->archive);
  Mem_Free(m->entries);
  Mem_Free(m->names);
  *m = WadMount{};
}

// Reads exactly n bytes at the archive's current position.
int Wad_ReadExact(void* archive, void* buffer, size_t n) {
  if (n == 0) return 1;
  return g_wad.table.read(buffer, 1, n, archive) == n;
}

// Every index in range, every name terminated inside the table, every data
// range inside the archive, and the directory a tree: from the root no entry
// is reached twice (which also rules out loops in child or sibling chains).
const char* Wad_ValidateDirectory(const WadMount* m) {
  for (uint32_t i = 0; i < m->entryCount; i++) {
    const WadEntry& e = m->entries[i];
    if (e.firstChild != WAD_NONE && e.firstChild >= m->entryCount) return "a child index out of range";
    if (e.nextSibling != WAD_NONE && e.nextSibling >= m->entryCount) return "a sibling index out of range";
    if (e.nameOffset != WAD_NONE) {
      if (e.nameOffset >= m->namesSize) return "a name outside the name table";
      if (!memchr(m->names + e.nameOffset, 0, m->namesSize - e.nameOffset)) return "an unterminated name";
    }
    if ((uint64_t)m->dataOffset + e.dataOffset + e.size > m->size) return "a file's data past the archive's end";
  }
  uint8_t* seen = (uint8_t*)Mem_Calloc(m->entryCount, 8);
  uint32_t* stack = (uint32_t*)Mem_Alloc(sizeof(uint32_t) * (size_t)m->entryCount, 8);
  int ok = seen && stack;
  const bool allocated = ok;
  uint32_t depth = 0;
  if (ok) {
    seen[0] = 1;
    stack[depth++] = 0;
  }
  while (ok && depth > 0) {
    uint32_t dir = stack[--depth];
    for (uint32_t c = m->entries[dir].firstChild; c != WAD_NONE; c = m->entries[c].nextSibling) {
      if (seen[c]) {
        ok = 0;
        break;
      }
      seen[c] = 1;
      // Each entry is pushed at most once, so the stack never overflows.
      if (m->entries[c].firstChild != WAD_NONE) stack[depth++] = c;
    }
  }
  Mem_Free(seen);
  Mem_Free(stack);
  if (!allocated) return "out of memory";
  return ok ? nullptr : "the directory is not a tree";
}

// Opens and reads the archive's header and directory. Null when it is
// mounted, else why not ("" when the file can't be opened: nothing is there).
const char* Wad_LoadDirectory(WadMount* m, const char* path) {
  m->archive = g_wad.table.open(path, "rb");
  if (!m->archive) return "";

  uint8_t header[WAD_HEADER_SIZE];
  if (!Wad_ReadExact(m->archive, header, sizeof header)) return "shorter than its header";
  ByteReader r = ByteReader_Init(header, sizeof header);
  if (ByteReader_U32(&r) != WAD_MAGIC) return "no WADH header";
  m->dataOffset = ByteReader_U32(&r);
  m->entryCount = ByteReader_U32(&r);
  m->namesSize = ByteReader_U32(&r);

  if (g_wad.table.seek(m->archive, 0, 2) != 0) return "its size can't be read";
  long end = g_wad.table.tell(m->archive);
  if (end < 0 || g_wad.table.seek(m->archive, (long)WAD_HEADER_SIZE, 0) != 0) return "its size can't be read";
  m->size = (uint64_t)end;

  uint64_t tables = (uint64_t)m->entryCount * WAD_ENTRY_SIZE + m->namesSize;
  if (m->entryCount == 0) return "no entries";
  if (WAD_HEADER_SIZE + tables > m->size) return "its directory runs past the end";

  m->entries = (WadEntry*)Mem_Calloc(sizeof(WadEntry) * (size_t)m->entryCount, 8);
  m->names = (char*)Mem_Calloc((size_t)m->namesSize + 1, 8);
  if (!m->entries || !m->names) return "out of memory";

  uint8_t raw[WAD_ENTRY_SIZE * 64];
  for (uint32_t done = 0; done < m->entryCount;) {
    uint32_t n = m->entryCount - done;
    if (n > 64) n = 64;
    if (!Wad_ReadExact(m->archive, raw, (size_t)n * WAD_ENTRY_SIZE)) return "its directory can't be read";
    for (uint32_t i = 0; i < n; i++) Wad_DecodeEntry(raw + i * WAD_ENTRY_SIZE, &m->entries[done + i]);
    done += n;
  }
  if (!Wad_ReadExact(m->archive, m->names, m->namesSize)) return "its name table can't be read";
  m->position = WAD_POSITION_UNKNOWN;
  return Wad_ValidateDirectory(m);
}

WadFile* Wad_AsFile(void* file) {
  return (WadFile*)file;
}

// Reads n bytes of the open file at its position into buffer; returns what
// the disk gave. The archive seeks only when another file moved it.
size_t Wad_ReadAt(WadFile* f, void* buffer, size_t n) {
  WadMount* m = f->mount;
  uint64_t p = (uint64_t)m->dataOffset + f->entry->dataOffset + f->position;
  if (p != m->position) {
    if (g_wad.table.seek(m->archive, (long)p, 0) != 0) {
      m->position = WAD_POSITION_UNKNOWN;
      return 0;
    }
    m->position = p;
  }
  size_t got = n ? g_wad.table.read(buffer, 1, n, m->archive) : 0;
  if (got < n)
    m->position = WAD_POSITION_UNKNOWN;  // a short disk read leaves the position unsure
  else
    m->position += got;
  return got;
}

uint32_t Wad_BytesLeft(const WadFile* f) {
  return f->position >= f->entry->size ? 0 : f->entry->size - f->position;
}

}  // namespace

void Wad_DecodeEntry(const uint8_t* b, WadEntry* e) {
  ByteReader r = ByteReader_Init(b, WAD_ENTRY_SIZE);
  e->nameOffset = ByteReader_U32(&r);
  e->dataOffset = ByteReader_U32(&r);
  e->size = ByteReader_U32(&r);
  e->flags = ByteReader_U32(&r);
  e->firstChild = ByteReader_U32(&r);
  e->nextSibling = ByteReader_U32(&r);
}

void Wad_EncodeEntry(const WadEntry* e, uint8_t* b) {
  Bytes_StoreU32(b, e->nameOffset);
  Bytes_StoreU32(b + 4, e->dataOffset);
  Bytes_StoreU32(b + 8, e->size);
  Bytes_StoreU32(b + 12, e->flags);
  Bytes_StoreU32(b + 16, e->firstChild);
  Bytes_StoreU32(b + 20, e->nextSibling);
}

int Wad_Init(void) {
  if (g_wad.initialised) return 1;
  FileInterface* live = File_GetLiveInterface();
  if (!live) return 0;
  List* pool = List_Create(sizeof(WadFile), 8);
  if (!pool) return 0;
  g_wad = WadSystem{};
  g_wad.files = pool;
  g_wad.table = *live;
  g_wad.initialised = 1;
  return 1;
}

void Wad_Shutdown(void) {
  if (!g_wad.initialised) return;
  // Put the saved functions back wherever the table still holds ours.
  FileInterface* live = File_GetLiveInterface();
  if (live) {
    if (live->exists == Wad_FileExists) live->exists = g_wad.table.exists;
    if (live->open == Wad_FileOpen) live->open = g_wad.table.open;
    if (live->close == Wad_FileClose) live->close = g_wad.table.close;
    if (live->read == Wad_FileRead) live->read = g_wad.table.read;
    if (live->write == Wad_FileWrite) live->write = g_wad.table.write;
    if (live->gets == Wad_FileGets) live->gets = g_wad.table.gets;
    if (live->puts == Wad_FilePuts) live->puts = g_wad.table.puts;
    if (live->eof == Wad_FileEof) live->eof = g_wad.table.eof;
    if (live->seek == Wad_FileSeek) live->seek = g_wad.table.seek;
    if (live->flush == Wad_FileFlush) live->flush = g_wad.table.flush;
    if (live->tell == Wad_FileTell) live->tell = g_wad.table.tell;
  }
  for (int i = 0; i < g_wad.mountCount; i++) Wad_ReleaseMount(&g_wad.mounts[i]);
  List_Destroy(g_wad.files);
  g_wad = WadSystem{};
}

int Wad_Mount(const char* path, int keepOpen) {
  if (!g_wad.initialised || !path || keepOpen != 1) return 0;
  if (g_wad.mountCount >= WAD_MAX_MOUNTS) return 0;
  if (!g_wad.table.open || !g_wad.table.read || !g_wad.table.seek || !g_wad.table.tell)
    return 0;
  WadMount* m = &g_wad.mounts[g_wad.mountCount];
  if (const char* why = Wad_LoadDirectory(m, path)) {
    // A missing archive is no fault (the data may lie loose); a damaged one
    // is named, or the game would run on without its data and without a word.
    if (*why) fprintf(stderr, "%s: the archive is refused: %s\n", path, why);
    Wad_ReleaseMount(m);
    return 0;
  }
  g_wad.mountCount++;
  File_InstallInterface();
  return 1;
}

int Wad_IsMounted(void) {
  return g_wad.mountCount > 0;
}

WadMount* Wad_GetMount(int index) {
  return (index >= 0 && index < g_wad.mountCount) ? &g_wad.mounts[index] : nullptr;
}

void File_InstallInterface(void) {
  FileInterface* live = File_GetLiveInterface();
  if (!live) return;
  live->exists = Wad_FileExists;
  live->open = Wad_FileOpen;
  live->close = Wad_FileClose;
  live->read = Wad_FileRead;
  live->write = Wad_FileWrite;
  live->gets = Wad_FileGets;
  live->puts = Wad_FilePuts;
  live->eof = Wad_FileEof;
  live->seek = Wad_FileSeek;
  live->flush = Wad_FileFlush;
  live->tell = Wad_FileTell;
}

const WadEntry* Wad_FindEntry(WadMount* m, const char* path, int binary) {
  if (!m || !m->entries || !path) return nullptr;
  char copy[1024];
  size_t length = strlen(path);
  if (length >= sizeof copy) return nullptr;
  for (size_t i = 0; i <= length; i++) copy[i] = path[i] == '/' ? '\\' : path[i];

  char* parts[WAD_MAX_PATH_PARTS];
  int count = String_Tokenise(copy, parts, WAD_MAX_PATH_PARTS, "\\", 0);
  if (count > WAD_MAX_PATH_PARTS) return nullptr;  // never a shorter path's entry

  const WadEntry* entry = &m->entries[0];
  for (int p = 0; p < count; p++) {
    const WadEntry* match = nullptr;
    for (uint32_t c = entry->firstChild; c != WAD_NONE; c = m->entries[c].nextSibling) {
      const WadEntry* child = &m->entries[c];
      int isDirectory = child->firstChild != WAD_NONE;
      if (!isDirectory && (int)(child->flags & WAD_FLAG_BINARY) != (binary ? 1 : 0)) continue;
      if (child->nameOffset == WAD_NONE) continue;
      if (String_EqualNoCase(m->names + child->nameOffset, parts[p])) {
        match = child;
        break;
      }
    }
    if (!match) return nullptr;
    entry = match;
  }
  return entry;
}

void* Wad_FileOpen(const char* name, const char* mode) {
  if (!name || !mode || !strchr(mode, 'r')) return nullptr;
  int binary = strchr(mode, 'b') != nullptr;
  for (int i = g_wad.mountCount - 1; i >= 0; i--) {
    WadMount* m = &g_wad.mounts[i];
    const WadEntry* e = Wad_FindEntry(m, name, binary);
    if (!e || (e->flags & WAD_FLAG_CLOSED)) continue;  // older archives may still serve it
    WadFile* f = (WadFile*)List_Alloc(g_wad.files);
    if (!f) return nullptr;
    f->mount = m;
    f->entry = e;
    return f;
  }
  return nullptr;
}

int Wad_FileExists(const char* name) {
  void* f = Wad_FileOpen(name, "rb");
  if (!f) f = Wad_FileOpen(name, "r");
  if (!f) return 0;
  Wad_FileClose(f);
  return 1;
}

int Wad_FileClose(void* file) {
  if (file) List_Free(g_wad.files, file);
  return 0;
}

size_t Wad_FileRead(void* buffer, size_t itemSize, size_t count, void* file) {
  WadFile* f = Wad_AsFile(file);
  if (!f || !buffer || itemSize == 0 || count == 0) return 0;
  size_t items = Wad_BytesLeft(f) / itemSize;
  if (items > count) items = count;
  if (items == 0) return 0;
  size_t got = Wad_ReadAt(f, buffer, items * itemSize);
  f->position += (uint32_t)got;
  f->bytesRead += (uint32_t)got;
  return got / itemSize;
}

size_t Wad_FileWrite(const void*, size_t, size_t, void*) {
  return 0;
}

char* Wad_FileGets(char* buffer, int size, void* file) {
  WadFile* f = Wad_AsFile(file);
  if (!f || !buffer || size <= 0) return nullptr;
  buffer[0] = 0;
  size_t n = (size_t)size - 1;
  if (n > Wad_BytesLeft(f)) n = Wad_BytesLeft(f);
  if (n == 0) return nullptr;
  size_t got = Wad_ReadAt(f, buffer, n);
  if (got == 0) return nullptr;
  // The line ends behind the first line feed among the bytes actually read.
  const char* feed = (const char*)memchr(buffer, '\n', got);
  size_t line = feed ? (size_t)(feed - buffer) + 1 : got;
  buffer[line] = 0;
  f->position += (uint32_t)line;
  f->bytesRead += (uint32_t)line;
  return buffer;
}

int Wad_FilePuts(const char*, void*) {
  return -1;  // archives are read-only: report the failure as fputs would
}

int Wad_FileEof(void* file) {
  WadFile* f = Wad_AsFile(file);
  return !f || f->position >= f->entry->size;
}

int Wad_FileSeek(void* file, long offset, int origin) {
  WadFile* f = Wad_AsFile(file);
  if (!f) return -1;
  int64_t base;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = f->position; break;
    case 2: base = f->entry->size; break;
    default: return -1;
  }
  // An offset beyond 32 bits can never land inside an entry (and adding it
  // unchecked could overflow).
  if (offset > (long)UINT32_MAX || offset < -(long)UINT32_MAX) return -1;
  int64_t target = base + (int64_t)offset;
  // A seek past the end succeeds as with stdio; reads there simply find nothing.
  if (target < 0 || target > (int64_t)UINT32_MAX) return -1;
  f->position = (uint32_t)target;
  return 0;
}

int Wad_FileFlush(void*) {
  return 0;
}

long Wad_FileTell(void* file) {
  WadFile* f = Wad_AsFile(file);
  return f ? (long)f->position : -1;
}
