#include "app/file.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "gfx/core/engine.h"
#include "platform/win32/clock.h"
#include "platform/win32/path.h"

namespace {

// One record per progress id. The counters are zeroed at each begin and read
// by nobody else; they are kept for a loading screen that wants totals.
struct LoadProgressRecord {
  int id;
  uint32_t bytes;
  uint32_t reports;
};

struct FileLayer {
  int initialised;
  FileInterface disk;  // the table as it was at File_Init
  // The live table's slots before we replaced them.
  int (*savedExists)(const char*);
  void* (*savedOpen)(const char*, const char*);
  size_t (*savedRead)(void*, size_t, size_t, void*);
  char* (*savedGets)(char*, int, void*);

  LoadProgressRecord* records;
  int recordCount;
  int current;  // index of the current record, -1 for none
  LoadProgressCallback callback;
  void* callbackArg;
  uint32_t bytesSinceReport;
  uint32_t lastReportMs;  // when the last report began
  uint32_t reportEndMs;   // when it ended
  FileClock clock;
};

FileLayer g_file = {};
char g_resolved[1024];

// The shell's clock counts from process start, so it does not wrap during a
// run; a clock counted from boot would wrap on a machine up for 49 days and
// then hold every report back until it came round again.
uint32_t File_Now() {
  return g_file.clock ? g_file.clock() : Clock_GetMs();
}

// Data names ("DATA\Levels\x.cfg") become disk paths here, below anything
// that takes the table over: an archive looks names up before they reach the
// disk, so it must see them untranslated.
void* File_DiskOpen(const char* path, const char* mode) {
  char real[4096];
  if (!g_file.savedOpen || !mode || !Path_Resolve(path, real, sizeof real)) return nullptr;
  void* file = g_file.savedOpen(real, mode);
  // A file made here (a cache being written) must be found by the next open.
  if (file && (strchr(mode, 'w') || strchr(mode, 'a'))) Path_NoteCreated(real);
  return file;
}

int File_DiskExists(const char* path) {
  char real[4096];
  if (!g_file.savedExists || !Path_Resolve(path, real, sizeof real)) return 0;
  return g_file.savedExists(real);
}

size_t File_CountingRead(void* buffer, size_t itemSize, size_t count, void* file) {
  LoadProgress_AddBytes((uint32_t)(itemSize * count));
  return g_file.savedRead ? g_file.savedRead(buffer, itemSize, count, file) : 0;
}

char* File_PassGets(char* buffer, int size, void* file) {
  return g_file.savedGets ? g_file.savedGets(buffer, size, file) : nullptr;
}

}  // namespace

FileInterface* File_GetLiveInterface(void) {
  return FileSystem_GetInterface();
}

int File_Init(void) {
  // Taking the table over twice would save our own functions as the disk's.
  if (g_file.initialised) return 1;
  FileInterface* live = File_GetLiveInterface();
  g_file = FileLayer{};
  g_file.current = -1;
  if (!live || !live->open) return 0;
  g_file.savedExists = live->exists;
  g_file.savedOpen = live->open;
  g_file.savedRead = live->read;
  g_file.savedGets = live->gets;
  live->exists = File_DiskExists;
  live->open = File_DiskOpen;
  g_file.disk = *live;
  live->read = File_CountingRead;
  live->gets = File_PassGets;
  g_file.initialised = 1;
  return 1;
}

void File_Shutdown(void) {
  // After an archive mount the live table holds the archive's functions; the
  // disk read must not go back next to the archive's open, so only slots that
  // still hold ours are restored.
  FileInterface* live = File_GetLiveInterface();
  if (live && g_file.initialised) {
    if (live->exists == File_DiskExists) live->exists = g_file.savedExists;
    if (live->open == File_DiskOpen) live->open = g_file.savedOpen;
    if (live->read == File_CountingRead) live->read = g_file.savedRead;
    if (live->gets == File_PassGets) live->gets = g_file.savedGets;
  }
  Mem_Free(g_file.records);
  FileClock clock = g_file.clock;
  g_file = FileLayer{};
  g_file.current = -1;
  g_file.clock = clock;
}

const FileInterface* File_GetInterface(void) {
  return g_file.initialised ? &g_file.disk : nullptr;
}

const char* File_ResolvePath(const char* name, int /*flag*/) {
  snprintf(g_resolved, sizeof g_resolved, "DATA\\%s", name ? name : "");
  // One pass from the second character: a back-slash after a back-slash
  // drops the earlier one and the pass resumes behind the pair, so a run of
  // two becomes one and a run of three becomes two.
  char* out = g_resolved + 1;
  const char* in = g_resolved + 1;
  while (*in) {
    if (in[0] == '\\' && in[1] == '\\') {
      *out++ = '\\';
      in += 2;
    } else {
      *out++ = *in++;
    }
  }
  *out = 0;
  return g_resolved;
}

void* File_Open(const char* name, const char* mode) {
  FileInterface* live = File_GetLiveInterface();
  if (!live || !live->open || !name || !mode) return nullptr;
  return live->open(File_ResolvePath(name), mode);
}

int File_Exists(const char* name) {
  void* f = File_Open(name, "r");
  if (!f) f = File_Open(name, "rb");
  if (!f) return 0;
  File_Close(f);
  return 1;
}

int File_Close(void* file) {
  FileInterface* live = File_GetLiveInterface();
  if (live && live->close && file) live->close(file);
  return 0;
}

size_t File_Read(void* buffer, size_t itemSize, size_t count, void* file) {
  FileInterface* live = File_GetLiveInterface();
  if (!live || !live->read || !file) return 0;
  return live->read(buffer, itemSize, count, file);
}

int File_Seek(void* file, long offset, int origin) {
  FileInterface* live = File_GetLiveInterface();
  // Like fseek, 0 means moved: with no table or no file nothing moved.
  if (!live || !live->seek || !file) return -1;
  return live->seek(file, offset, origin);
}

long File_Tell(void* file) {
  FileInterface* live = File_GetLiveInterface();
  if (!live || !live->tell || !file) return -1;
  return live->tell(file);
}

int File_Eof(void* file) {
  FileInterface* live = File_GetLiveInterface();
  if (!live || !live->eof || !file) return 1;
  return live->eof(file);
}

char* File_Gets(char* buffer, int size, void* file) {
  FileInterface* live = File_GetLiveInterface();
  if (!live || !live->gets || !file || !buffer || size <= 0) return nullptr;
  return live->gets(buffer, size, file);
}

char* File_ReadLine(char* buffer, int size, void* file) {
  char* line = File_Gets(buffer, size, file);
  if (line && line[0]) {
    size_t n = strlen(line);
    if (line[n - 1] == '\n') line[n - 1] = 0;
  }
  return line;
}

int File_Printf(void* file, const char* format, ...) {
  FileInterface* live = File_GetLiveInterface();
  if (!live || !live->puts || !file) return 0;
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return live->puts(text, file);
}

long File_GetSize(const char* name, int binary) {
  void* f = File_Open(name, binary ? "rb" : "r");
  if (!f) return 0;
  long size = 0;
  if (File_Seek(f, 0, 2) == 0) size = File_Tell(f);
  File_Close(f);
  return size < 0 ? 0 : size;
}

const char* File_GetExtension(const char* path) {
  if (!path) return nullptr;
  const char* ext = nullptr;
  for (const char* p = path; *p; p++)
    if (*p == '.') ext = p + 1;
  return ext;
}

void LoadProgress_Begin(int id, LoadProgressCallback callback, void* arg) {
  g_file.callback = callback;
  g_file.callbackArg = arg;
  int found = -1;
  for (int i = 0; i < g_file.recordCount; i++)
    if (g_file.records[i].id == id) found = i;
  if (found < 0) {
    // A new block rather than Mem_Realloc: that keeps the old block on
    // failure, and a failure must not be taken for growth.
    size_t bytes = sizeof(LoadProgressRecord) * (size_t)(g_file.recordCount + 1);
    void* grown = Mem_Alloc(bytes, 8);
    if (!grown) return;  // reports go on without a record
    if (g_file.recordCount)
      memcpy(grown, g_file.records, bytes - sizeof(LoadProgressRecord));
    Mem_Free(g_file.records);
    g_file.records = (LoadProgressRecord*)grown;
    found = g_file.recordCount++;
    g_file.records[found].id = id;
  }
  g_file.current = found;
  g_file.records[found].bytes = 0;
  g_file.records[found].reports = 0;
}

void LoadProgress_End(int /*id*/) {
  g_file.callback = nullptr;
  g_file.callbackArg = nullptr;
}

void LoadProgress_AddBytes(uint32_t bytes) {
  g_file.bytesSinceReport += bytes;
  if (g_file.current >= 0) g_file.records[g_file.current].bytes += bytes;
  if (!g_file.callback) return;
  uint32_t now = File_Now();
  // The interval runs from the end of the last report: a report that takes
  // longer than the interval (a slow loading screen) must still leave the
  // load an interval of its own, or every read would redraw the screen.
  if (now <= g_file.reportEndMs + 100) return;
  uint32_t elapsed = now - g_file.lastReportMs;
  g_file.lastReportMs = now;
  float counted = (float)g_file.bytesSinceReport;
  g_file.bytesSinceReport = 0;
  if (g_file.current >= 0) g_file.records[g_file.current].reports++;
  g_file.callback(elapsed, counted, g_file.callbackArg);
  g_file.reportEndMs = File_Now();
}

void File_SetClock(FileClock clock) {
  g_file.clock = clock;
}
