#include "tools/lib/wadpack.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "app/wad.h"
#include "common/bytes.h"
#include "common/strings.h"

namespace fs = std::filesystem;

namespace {

// A directory of the tree being packed. Children keep their sorted order.
struct PackDir {
  std::string name;
  std::map<std::string, std::unique_ptr<PackDir>> dirs;
  std::map<std::string, size_t> files;  // name -> index into the file list
};

struct PackState {
  std::vector<WadEntry> entries;
  std::string names;
  std::map<std::string, uint32_t> nameOffsets;  // names are shared
  std::vector<uint64_t> fileOffset;             // per input file: offset in the data area
  std::vector<uint64_t> fileSize;
};

uint32_t Pack_Name(PackState* s, const std::string& name) {
  auto it = s->nameOffsets.find(name);
  if (it != s->nameOffsets.end()) return it->second;
  uint32_t offset = (uint32_t)s->names.size();
  s->names += name;
  s->names += '\0';
  s->nameOffsets[name] = offset;
  return offset;
}

// Adds the entries of dir's children and links them; returns the index of
// the first child or WAD_NONE.
uint32_t Pack_Children(PackState* s, const PackDir& dir) {
  std::vector<uint32_t> children;
  for (const auto& [name, sub] : dir.dirs) {
    uint32_t index = (uint32_t)s->entries.size();
    s->entries.push_back(WadEntry{Pack_Name(s, name), 0, 0, 0, WAD_NONE, WAD_NONE});
    children.push_back(index);
    uint32_t first = Pack_Children(s, *sub);
    s->entries[index].firstChild = first;
  }
  for (const auto& [name, file] : dir.files) {
    // The same bytes serve binary and text opens: two entries, one name.
    for (uint32_t flags : {WAD_FLAG_BINARY, 0u}) {
      children.push_back((uint32_t)s->entries.size());
      s->entries.push_back(WadEntry{Pack_Name(s, name), (uint32_t)s->fileOffset[file],
                                    (uint32_t)s->fileSize[file], flags, WAD_NONE, WAD_NONE});
    }
  }
  for (size_t i = 0; i + 1 < children.size(); i++) s->entries[children[i]].nextSibling = children[i + 1];
  return children.empty() ? WAD_NONE : children[0];
}

void Pack_PutU32(std::vector<uint8_t>* out, uint32_t v) {
  uint8_t word[4];
  Bytes_StoreU32(word, v);
  out->insert(out->end(), word, word + 4);
}

int Pack_Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return 0;
}

std::string Pack_Fold(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = String_UpperAscii(c);
  return folded;
}

// The archive matches names without regard to case and reads "\" as a
// folder separator: two names of one folder that differ only in case would
// serve one file's bytes for the other, and a name holding a backslash could
// never be opened. Every such name is listed (both of a pair, by their disk
// paths), so that one run shows everything to rename.
int Pack_CheckNames(const std::vector<WadPackFile>& files, std::string* error) {
  std::map<std::string, std::string> spelled;  // folded path -> the first spelling met
  std::set<std::string> reported;
  std::vector<std::string> problems;
  for (const WadPackFile& file : files) {
    const std::string& path = file.archivePath;
    // Disk paths of the parts: the file's own with the archive path's tail cut off.
    const bool rooted = file.diskPath.size() >= path.size() &&
                        file.diskPath.compare(file.diskPath.size() - path.size(), path.size(), path) == 0;
    const std::string root = rooted ? file.diskPath.substr(0, file.diskPath.size() - path.size()) : std::string();
    std::string folded;
    size_t start = 0;
    while (start < path.size()) {
      size_t slash = path.find('/', start);
      const bool last = slash == std::string::npos;
      if (last) slash = path.size();
      const std::string part = path.substr(start, slash - start);
      const std::string shown = root + path.substr(0, slash) + (last ? "" : "/");
      if (!part.empty()) {
        if (part.find('\\') != std::string::npos && reported.insert(shown).second)
          problems.push_back(shown + " holds a backslash");
        // A file and a folder of one name collide too: the folder would
        // answer the file's opens.
        folded += Pack_Fold(part);
        auto [it, added] = spelled.emplace(folded, shown);
        if (!added && it->second != shown && reported.insert(it->second + "|" + shown).second)
          problems.push_back(it->second + " and " + shown + " differ only in case");
        folded += '/';
      }
      start = slash + 1;
    }
  }
  if (problems.empty()) return 1;
  std::string message = std::to_string(problems.size()) + (problems.size() == 1 ? " name" : " names") +
                        " the archive cannot serve (it ignores case and reads \"\\\" as a folder separator):";
  for (const std::string& p : problems) message += "\n  " + p;
  return Pack_Fail(error, message + "\nno archive written");
}

}  // namespace

int WadPack_ListFolder(const std::string& folder, std::vector<WadPackFile>* files,
                       std::string* error) {
  files->clear();
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, ec), end;
  if (ec) return Pack_Fail(error, folder + ": " + ec.message());
  for (; it != end; it.increment(ec)) {
    if (ec) return Pack_Fail(error, folder + ": " + ec.message());
    if (!it->is_regular_file()) continue;
    std::string relative = fs::relative(it->path(), folder).generic_string();
    files->push_back(WadPackFile{relative, it->path().string()});
  }
  std::sort(files->begin(), files->end(),
            [](const WadPackFile& a, const WadPackFile& b) { return a.archivePath < b.archivePath; });
  return 1;
}

int WadPack_Write(const std::vector<WadPackFile>& files, const std::string& topName,
                  const std::string& outputPath, std::string* error) {
  if (!Pack_CheckNames(files, error)) return 0;
  PackState s;
  PackDir root;
  PackDir* top = new PackDir{topName, {}, {}};
  root.dirs[topName].reset(top);

  // Lay out the data area: each file once, in list order.
  uint64_t dataSize = 0;
  for (size_t i = 0; i < files.size(); i++) {
    std::error_code ec;
    uint64_t size = fs::file_size(files[i].diskPath, ec);
    if (ec) return Pack_Fail(error, files[i].diskPath + ": " + ec.message());
    s.fileOffset.push_back(dataSize);
    s.fileSize.push_back(size);
    dataSize += size;

    PackDir* dir = top;
    const std::string& path = files[i].archivePath;
    size_t start = 0;
    for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
      std::string part = path.substr(start, slash - start);
      if (part.empty()) continue;
      auto& sub = dir->dirs[part];
      if (!sub) sub.reset(new PackDir{part, {}, {}});
      dir = sub.get();
    }
    std::string name = path.substr(start);
    if (name.empty()) return Pack_Fail(error, "empty file name in \"" + path + "\"");
    dir->files[name] = i;
  }

  s.entries.push_back(WadEntry{WAD_NONE, 0, 0, 0, WAD_NONE, WAD_NONE});
  if (!files.empty()) s.entries[0].firstChild = Pack_Children(&s, root);

  uint64_t dataStart = WAD_HEADER_SIZE + (uint64_t)s.entries.size() * WAD_ENTRY_SIZE + s.names.size();
  if (dataStart + dataSize > 0xFFFFFFFFull) return Pack_Fail(error, "archive would exceed 4 GiB");

  std::vector<uint8_t> head;
  Pack_PutU32(&head, WAD_MAGIC);
  Pack_PutU32(&head, (uint32_t)dataStart);
  Pack_PutU32(&head, (uint32_t)s.entries.size());
  Pack_PutU32(&head, (uint32_t)s.names.size());
  for (const WadEntry& e : s.entries) {
    uint8_t raw[WAD_ENTRY_SIZE];
    Wad_EncodeEntry(&e, raw);
    head.insert(head.end(), raw, raw + WAD_ENTRY_SIZE);
  }
  head.insert(head.end(), s.names.begin(), s.names.end());

  // Written to a temporary name and renamed, so a failed run leaves no
  // half archive under the real name.
  std::string temporary = outputPath + ".tmp";
  FILE* out = fopen(temporary.c_str(), "wb");
  if (!out) return Pack_Fail(error, outputPath + ": can't be written");
  bool ok = fwrite(head.data(), 1, head.size(), out) == head.size();
  std::vector<char> buffer(1 << 16);
  for (size_t i = 0; ok && i < files.size(); i++) {
    FILE* in = fopen(files[i].diskPath.c_str(), "rb");
    if (!in) {
      ok = false;
      Pack_Fail(error, files[i].diskPath + ": can't be read");
      break;
    }
    uint64_t left = s.fileSize[i];
    while (ok && left > 0) {
      size_t want = left < buffer.size() ? (size_t)left : buffer.size();
      size_t got = fread(buffer.data(), 1, want, in);
      if (got != want) {
        ok = false;
        Pack_Fail(error, files[i].diskPath + ": changed size while packing");
      } else if (fwrite(buffer.data(), 1, got, out) != got) {
        ok = false;
      }
      left -= got;
    }
    fclose(in);
  }
  if (fclose(out) != 0) ok = false;
  if (ok && rename(temporary.c_str(), outputPath.c_str()) != 0) ok = false;
  if (!ok) {
    remove(temporary.c_str());
    if (error && error->empty()) *error = outputPath + ": write failed";
    return 0;
  }
  return 1;
}
