// wadpack: packs a data folder into an archive the game mounts.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/lib/wadpack.h"

namespace {

const char* const kUsage =
    "usage: wadpack DATA-FOLDER OUTPUT.wad\n"
    "\n"
    "Packs every file under DATA-FOLDER into OUTPUT.wad below the top directory\n"
    "\"DATA\", where the game looks its data up (\"DATA\\Cache\\01\\0562ecda.cfb\").\n"
    "Each file is stored for binary and for text opens, byte for byte as on disk.\n"
    "Empty folders are left out. The game finds names without regard to case and\n"
    "reads \"\\\" as a folder separator, so names of one folder that differ only in\n"
    "case, and names holding a backslash, are refused (all are listed) and no\n"
    "archive is written.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    bool help = argc == 2 && (!strcmp(argv[1], "-h") || !strcmp(argv[1], "--help"));
    fputs(kUsage, help ? stdout : stderr);
    return help ? 0 : 2;
  }
  std::vector<WadPackFile> files;
  std::string error;
  if (!WadPack_ListFolder(argv[1], &files, &error) || !WadPack_Write(files, "DATA", argv[2], &error)) {
    fprintf(stderr, "wadpack: %s\n", error.c_str());
    return 1;
  }
  printf("wadpack: %zu files packed into %s\n", files.size(), argv[2]);
  return 0;
}
