// WAD packer: writes a folder as an archive the game mounts. The folder's
// contents go under one top directory (the game looks files up as
// "DATA\..."), every file is stored twice, once for binary and once for text
// opens, over the same bytes, and the bytes are stored exactly as on disk.
// Empty folders are left out (an archive directory needs a child).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One file to pack: its path inside the archive, parts separated by "/"
// (below the top directory), and where its bytes are on disk.
struct WadPackFile {
  std::string archivePath;
  std::string diskPath;
};

// The files of a folder tree, sorted by archive path. 0 with error set when
// the folder can't be read.
int WadPack_ListFolder(const std::string& folder, std::vector<WadPackFile>* files,
                       std::string* error);

// Writes the archive of the files under the top directory topName to
// outputPath. 0 with error set on failure (names the archive cannot serve:
// two of one folder differing only in case, or a name holding a backslash;
// unreadable file, archive past 4 GiB, unwritable output); no partial
// archive is left behind then.
int WadPack_Write(const std::vector<WadPackFile>& files, const std::string& topName,
                  const std::string& outputPath, std::string* error);
