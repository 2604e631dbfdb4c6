#include "app/wad.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "common/bytes.h"
#include "data_fixture.h"

namespace {

// Builds archives entry by entry, so that tests can also write broken ones.
struct ArchiveBuilder {
  std::vector<WadEntry> entries{WadEntry{WAD_NONE, 0, 0, 0, WAD_NONE, WAD_NONE}};
  std::string names;
  std::string data;

  uint32_t Add(uint32_t parent, const char* name, WadEntry e) {
    e.nameOffset = (uint32_t)names.size();
    names += name;
    names += '\0';
    uint32_t index = (uint32_t)entries.size();
    entries.push_back(e);
    if (entries[parent].firstChild == WAD_NONE) {
      entries[parent].firstChild = index;
    } else {
      uint32_t c = entries[parent].firstChild;
      while (entries[c].nextSibling != WAD_NONE) c = entries[c].nextSibling;
      entries[c].nextSibling = index;
    }
    return index;
  }
  uint32_t Dir(uint32_t parent, const char* name) {
    return Add(parent, name, WadEntry{0, 0, 0, 0, WAD_NONE, WAD_NONE});
  }
  uint32_t File(uint32_t parent, const char* name, const std::string& bytes, uint32_t flags) {
    uint32_t offset = (uint32_t)data.size();
    data += bytes;
    return Add(parent, name, WadEntry{0, offset, (uint32_t)bytes.size(), flags, WAD_NONE, WAD_NONE});
  }
  // Both kinds of open, as the packer stores files.
  void Both(uint32_t parent, const char* name, const std::string& bytes) {
    File(parent, name, bytes, WAD_FLAG_BINARY);
    File(parent, name, bytes, 0);
  }
  std::string Bytes(int64_t dataOffset = -1) const {
    std::string out;
    auto put = [&out](uint32_t v) {
      char word[4];
      Bytes_StoreU32(word, v);
      out.append(word, 4);
    };
    uint32_t start = (uint32_t)(16 + entries.size() * 24 + names.size());
    put(WAD_MAGIC);
    put(dataOffset < 0 ? start : (uint32_t)dataOffset);
    put((uint32_t)entries.size());
    put((uint32_t)names.size());
    for (const WadEntry& e : entries) {
      uint8_t raw[WAD_ENTRY_SIZE];
      Wad_EncodeEntry(&e, raw);
      out.append((const char*)raw, WAD_ENTRY_SIZE);
    }
    return out + names + data;
  }
};

class Wad : public WadDataTest {
 protected:
  int Mount(const std::string& bytes, const char* name = "test.wad") {
    WriteDisk(name, bytes);
    return Wad_Mount(name, 1);
  }
  // An archive with DATA\Levels\x.cfg (both opens), a text-only and a
  // binary-only file, and a closed entry.
  static ArchiveBuilder Standard(const std::string& x = "line one\r\nline two\nend") {
    ArchiveBuilder a;
    uint32_t data = a.Dir(0, "DATA");
    uint32_t levels = a.Dir(data, "Levels");
    a.Both(levels, "x.cfg", x);
    a.File(data, "text.txt", "text only", 0);
    a.File(data, "bin.dat", "0123456789", WAD_FLAG_BINARY);
    a.File(data, "closed.dat", "closed", WAD_FLAG_BINARY | WAD_FLAG_CLOSED);
    return a;
  }
  static std::string ReadAll(void* f) {
    std::string out;
    char buffer[7];
    size_t n;
    while ((n = File_Read(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    return out;
  }
};

TEST_F(Wad, BadMagicFailsAndTheEleventhMountIsRefused) {
  std::string bytes = Standard().Bytes();
  std::string bad = bytes;
  bad[0] = 'X';
  // A damaged archive is named with what is wrong; a missing one is no fault.
  testing::internal::CaptureStderr();
  EXPECT_EQ(Mount(bad), 0);
  EXPECT_EQ(Wad_Mount("missing.wad", 1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "test.wad: the archive is refused: no WADH header\n");
  EXPECT_EQ(Wad_IsMounted(), 0);
  for (int i = 0; i < WAD_MAX_MOUNTS; i++) EXPECT_EQ(Mount(bytes), 1) << i;
  EXPECT_EQ(Mount(bytes), 0);
  EXPECT_EQ(Wad_IsMounted(), 1);
}

TEST_F(Wad, NamesIgnoreCaseAndSlashesAndEachOpenFindsItsKindOfEntry) {
  ASSERT_EQ(Mount(Standard().Bytes()), 1);
  WadMount* m = Wad_GetMount(0);
  const WadEntry* a = Wad_FindEntry(m, "data/levels/x.cfg", 1);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(Wad_FindEntry(m, "DATA\\LEVELS\\X.CFG", 1), a);
  EXPECT_NE(Wad_FindEntry(m, "DATA\\LEVELS\\X.CFG", 0), a);  // the text twin
  EXPECT_EQ(Wad_FindEntry(m, "", 1), Wad_FindEntry(m, "", 0));  // the root

  EXPECT_EQ(File_Open("text.txt", "rb"), nullptr);
  void* t = File_Open("TEXT.TXT", "r");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(ReadAll(t), "text only");
  File_Close(t);
  EXPECT_EQ(File_Open("bin.dat", "r"), nullptr);
  EXPECT_EQ(File_Open("closed.dat", "rb"), nullptr);
  EXPECT_EQ(File_Open("levels\\x.cfg", "wb"), nullptr);  // read-only
  EXPECT_EQ(File_Exists("levels\\x.cfg"), 1);
  EXPECT_EQ(File_Exists("levels\\y.cfg"), 0);
}

TEST_F(Wad, PathsOfMoreThanTwentyPartsFindNothingEvenWhenTheirFirstTwentyExist) {
  ArchiveBuilder a;
  uint32_t dir = a.Dir(0, "DATA");
  std::string twenty = "DATA";
  for (int i = 1; i < 20; i++) {
    dir = a.Dir(dir, "d");
    twenty += "\\d";
  }
  a.Both(dir, "f", "deep");
  ASSERT_EQ(Mount(a.Bytes()), 1);
  WadMount* m = Wad_GetMount(0);
  EXPECT_NE(Wad_FindEntry(m, twenty.c_str(), 1), nullptr);
  EXPECT_EQ(Wad_FindEntry(m, (twenty + "\\f").c_str(), 1), nullptr);
}

TEST_F(Wad, LaterMountsShadowEarlierOnesAndClosedEntriesLetTheSearchGoOn) {
  ArchiveBuilder older = Standard("old");
  older.File(older.entries[0].firstChild, "both.dat", "old closed", WAD_FLAG_BINARY);
  ArchiveBuilder newer = Standard("new");
  newer.File(newer.entries[0].firstChild, "both.dat", "new closed", WAD_FLAG_BINARY | WAD_FLAG_CLOSED);
  ASSERT_EQ(Mount(older.Bytes(), "old.wad"), 1);
  ASSERT_EQ(Mount(newer.Bytes(), "new.wad"), 1);
  void* f = File_Open("Levels\\x.cfg", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadAll(f), "new");
  File_Close(f);
  f = File_Open("both.dat", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadAll(f), "old closed");
  File_Close(f);
}

TEST_F(Wad, ReadsStopAtTheEntryEndAndInterleavedFilesGetTheirOwnBytes) {
  ArchiveBuilder a = Standard();
  a.Both(a.entries[0].firstChild, "ten.dat", "ABCDEFGHIJ");
  ASSERT_EQ(Mount(a.Bytes()), 1);
  void* f = File_Open("ten.dat", "rb");
  ASSERT_NE(f, nullptr);
  char buffer[64];
  EXPECT_EQ(File_Read(buffer, 4, 1, f), 1u);  // 6 bytes left now
  EXPECT_EQ(File_Read(buffer, 4, 10, f), 1u);
  EXPECT_EQ(File_Tell(f), 8);
  EXPECT_EQ(memcmp(buffer, "EFGH", 4), 0);
  EXPECT_EQ(File_Eof(f), 0);
  EXPECT_EQ(File_Read(buffer, 0, 10, f), 0u);  // item size 0 reads nothing
  EXPECT_EQ(File_Read(buffer, 1, 10, f), 2u);
  EXPECT_NE(File_Eof(f), 0);  // at the size, before any read fails

  void* g = File_Open("levels\\x.cfg", "rb");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(File_Seek(f, 1, 0), 0);
  for (int i = 0; i < 3; i++) {  // the archive's position jumps each time
    EXPECT_EQ(File_Read(buffer, 1, 2, f), 2u);
    EXPECT_EQ(File_Read(buffer + 2, 1, 2, g), 2u);
    EXPECT_EQ(buffer[0], "BDF"[i]);
    EXPECT_EQ(buffer[2], "ln "[i]);
  }
  File_Close(g);

  // Seeks past the end are allowed; nothing is read there, though the
  // bytes of the next entry (the text twin) follow in the archive.
  EXPECT_EQ(File_Seek(f, 12, 0), 0);
  EXPECT_EQ(File_Read(buffer, 1, 10, f), 0u);
  EXPECT_EQ(File_Gets(buffer, sizeof buffer, f), nullptr);
  EXPECT_EQ(File_Seek(f, -3, 2), 0);
  EXPECT_EQ(File_Read(buffer, 1, 10, f), 3u);
  EXPECT_EQ(memcmp(buffer, "HIJ", 3), 0);
  EXPECT_EQ(File_Seek(f, -11, 2), -1);  // before the start: refused, position kept
  EXPECT_EQ(File_Seek(f, LONG_MAX, 1), -1);
  EXPECT_EQ(File_Seek(f, LONG_MIN, 2), -1);
  EXPECT_EQ(File_Tell(f), 10);
  File_Close(f);
}

TEST_F(Wad, GetsSplitsLinesKeepsCarriageReturnsAndHandlesTinyBuffers) {
  ASSERT_EQ(Mount(Standard().Bytes()), 1);
  void* f = File_Open("levels\\x.cfg", "r");
  ASSERT_NE(f, nullptr);
  char line[64];
  ASSERT_NE(File_Gets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "line one\r\n");
  char tiny[2] = {'x', 'x'};
  EXPECT_EQ(File_Gets(tiny, 1, f), nullptr);
  EXPECT_EQ(File_Gets(tiny, 0, f), nullptr);
  ASSERT_NE(File_Gets(tiny, 2, f), nullptr);
  EXPECT_STREQ(tiny, "l");
  ASSERT_NE(File_ReadLine(line, 5, f), nullptr);
  EXPECT_STREQ(line, "ine ");
  ASSERT_NE(File_ReadLine(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "two");
  ASSERT_NE(File_ReadLine(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "end");
  EXPECT_EQ(File_ReadLine(line, sizeof line, f), nullptr);
  File_Close(f);
}

TEST_F(Wad, ArchiveReadsAreCountedForLoadingProgress) {
  ASSERT_EQ(Mount(Standard().Bytes()), 1);
  struct Seen {
    float bytes = 0;
  } seen;
  File_SetClock([]() -> uint32_t { return 1000; });
  LoadProgress_Begin(1, [](uint32_t, float bytes, void* arg) { ((Seen*)arg)->bytes += bytes; }, &seen);
  void* f = File_Open("bin.dat", "rb");
  ASSERT_NE(f, nullptr);
  char buffer[16];
  EXPECT_EQ(File_Read(buffer, 1, sizeof buffer, f), 10u);
  File_Close(f);
  LoadProgress_End();
  EXPECT_GE(seen.bytes, 10.0f);
}

TEST_F(Wad, ShutdownOfTheFileLayerLeavesTheArchiveFunctionsInPlace) {
  ASSERT_EQ(Mount(Standard().Bytes()), 1);
  File_Shutdown();
  EXPECT_EQ(File_GetLiveInterface()->read, Wad_FileRead);
  EXPECT_EQ(File_GetLiveInterface()->gets, Wad_FileGets);
  ASSERT_EQ(File_Init(), 1);
}

void Patch32(std::string* bytes, size_t at, uint32_t v) {
  Bytes_StoreU32(&(*bytes)[at], v);
}

size_t EntryField(uint32_t entry, uint32_t field) {
  return WAD_HEADER_SIZE + entry * WAD_ENTRY_SIZE + field * 4;
}

TEST_F(Wad, MalformedArchivesAreRefusedAtMountWithNothingLeftOpen) {
  ArchiveBuilder a = Standard();
  const std::string good = a.Bytes();
  const uint32_t n = (uint32_t)a.entries.size();
  const uint32_t namesSize = (uint32_t)a.names.size();
  const size_t namesAt = WAD_HEADER_SIZE + n * WAD_ENTRY_SIZE;
  // Entries: 0 root, 1 DATA, 2 Levels, 3 x.cfg (binary), 4 x.cfg (text), ...
  std::vector<std::pair<const char*, std::string>> cases;
  auto patched = [&](const char* what, size_t at, uint32_t v) {
    std::string b = good;
    Patch32(&b, at, v);
    cases.push_back({what, b});
  };
  cases.push_back({"cut in the header", good.substr(0, 10)});
  cases.push_back({"cut in the entries", good.substr(0, WAD_HEADER_SIZE + WAD_ENTRY_SIZE + 3)});
  cases.push_back({"cut in the names", good.substr(0, namesAt + 2)});
  cases.push_back({"cut in the data", good.substr(0, good.size() - 1)});
  patched("no entries", 8, 0);
  patched("entry table past the end", 8, n + 1000);
  patched("entry count whose table size wraps 32 bits", 8, 0x0AAAAAABu);
  patched("names past the end", 12, 0xFFFFFFFFu);
  patched("data area past the end", 4, 0xFFFFFF00u);
  patched("size past the end", EntryField(3, 2), 0xFFFFFFFFu);
  patched("offset plus size wrapping 32 bits", EntryField(3, 1), 0xFFFFFFF0u);
  patched("name offset past the names", EntryField(1, 0), namesSize);
  patched("child out of range", EntryField(1, 4), n);
  patched("sibling out of range", EntryField(3, 5), n + 7);
  patched("directory loop", EntryField(2, 4), 1);
  patched("root as a child", EntryField(2, 4), 0);
  patched("sibling loop", EntryField(6, 5), 2);
  {
    std::string b = good;
    b[namesAt + namesSize - 1] = 'x';  // the last name loses its NUL
    cases.push_back({"unterminated name", b});
  }
  for (const auto& [what, bytes] : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Mount(bytes), 0) << what;
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("test.wad: the archive is refused: ", 0), 0u) << what << ": " << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << what << ": " << said;
  }
  EXPECT_EQ(Wad_IsMounted(), 0);
  EXPECT_EQ(Mount(good), 1);
}

}  // namespace
