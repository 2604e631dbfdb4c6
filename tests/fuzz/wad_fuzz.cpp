// Fuzzes the archive mount and its file functions: any bytes as an archive.
#include <string>

#include "app/file.h"
#include "app/wad.h"
#include "common/bytes.h"
#include "fuzz_files.h"

namespace {

void ReadEverything(const char* name, const char* mode) {
  void* f = File_Open(name, mode);
  if (!f) return;
  char buffer[64];
  while (File_Gets(buffer, sizeof buffer, f)) {
  }
  File_Seek(f, 3, 0);
  while (File_Read(buffer, 3, 5, f)) {
  }
  File_Seek(f, 1000, 1);
  File_Read(buffer, 1, sizeof buffer, f);
  File_Close(f);
}

// Opens every entry reachable from the root by its full path, both ways,
// and reads it through the archive's functions. Only called after a mount
// succeeded, so the directory is known to be a tree inside the input.
void Walk(const uint8_t* data, size_t size, uint32_t index, const std::string& path, int depth) {
  ByteReader header = ByteReader_Init(data, size);
  ByteReader_Skip(&header, 8);
  uint32_t count = ByteReader_U32(&header);
  const char* names = (const char*)data + WAD_HEADER_SIZE + (size_t)count * WAD_ENTRY_SIZE;
  WadEntry e;
  Wad_DecodeEntry(data + WAD_HEADER_SIZE + (size_t)index * WAD_ENTRY_SIZE, &e);
  for (uint32_t c = e.firstChild; c != WAD_NONE && depth < 24;) {
    WadEntry child;
    Wad_DecodeEntry(data + WAD_HEADER_SIZE + (size_t)c * WAD_ENTRY_SIZE, &child);
    std::string name = child.nameOffset == WAD_NONE ? "?" : names + child.nameOffset;
    std::string full = path.empty() ? name : path + "\\" + name;
    FileInterface* live = File_GetLiveInterface();
    for (const char* mode : {"rb", "r"}) {
      void* f = live->open(full.c_str(), mode);
      if (!f) continue;
      char buffer[32];
      while (live->gets(buffer, sizeof buffer, f)) {
      }
      live->seek(f, -5, 2);
      while (live->read(buffer, 2, 7, f)) {
      }
      live->close(f);
    }
    Walk(data, size, c, full, depth + 1);
    c = child.nextSibling;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  Wad_Init();
  if (Wad_Mount("fuzz.wad", 1)) {
    for (const char* name : {"a", "x\\y", "DATA", "", "Levels\\Track01\\track.cfg"}) {
      ReadEverything(name, "rb");
      ReadEverything(name, "r");
    }
    Walk(data, size, 0, "", 0);
  }
  Wad_Shutdown();
  return 0;
}
