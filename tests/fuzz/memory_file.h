// Files in memory for the fuzz targets: every open in a read mode serves the
// fuzzer's bytes (g_data, g_size), so readers run over hostile data without
// a disk. Files() is the table of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gfx/core/engine.h"

namespace fuzz {

struct MemoryFile {
  size_t position;
};

inline const uint8_t* g_data = nullptr;
inline size_t g_size = 0;

// Serves data as every file from now on.
inline void Serve(const uint8_t* data, size_t size) {
  g_data = data;
  g_size = size;
}

inline int Exists(const char*) { return 1; }
inline void* Open(const char*, const char* mode) {
  return strchr(mode, 'r') ? calloc(1, sizeof(MemoryFile)) : nullptr;
}
inline int Close(void* f) {
  free(f);
  return 0;
}
inline size_t Read(void* buffer, size_t size, size_t count, void* file) {
  MemoryFile* f = (MemoryFile*)file;
  if (size == 0 || f->position >= g_size) return 0;
  size_t items = (g_size - f->position) / size;
  if (items > count) items = count;
  memcpy(buffer, g_data + f->position, items * size);
  f->position += items * size;
  return items;
}
inline size_t Write(const void*, size_t, size_t, void*) { return 0; }
inline char* Gets(char* buffer, int size, void* file) {
  MemoryFile* f = (MemoryFile*)file;
  if (size <= 1 || f->position >= g_size) return nullptr;
  int n = 0;
  while (n < size - 1 && f->position < g_size) {
    if ((buffer[n++] = (char)g_data[f->position++]) == '\n') break;
  }
  buffer[n] = 0;
  return buffer;
}
inline int Puts(const char*, void*) { return -1; }
inline int Eof(void* file) { return ((MemoryFile*)file)->position >= g_size; }
inline int Seek(void* file, long offset, int origin) {
  MemoryFile* f = (MemoryFile*)file;
  long base = origin == 0 ? 0 : origin == 1 ? (long)f->position : (long)g_size;
  if (base + offset < 0) return -1;
  f->position = (size_t)(base + offset);
  return 0;
}
inline int Flush(void*) { return 0; }
inline long Tell(void* file) { return (long)((MemoryFile*)file)->position; }

inline FileInterface Files() {
  return FileInterface{Exists, Open, Close, Read, Write, Gets, Puts, Eof, Seek, Flush, Tell};
}

}  // namespace fuzz
