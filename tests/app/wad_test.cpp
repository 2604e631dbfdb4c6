#include "app/wad.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "common/bytes.h"
#include "tests/app/data_fixture.h"

namespace {

// Builds archives entry by entry, so that tests can also write broken ones.
struct ArchiveBuilder {
    std::vector<WadEntry> entries{WadEntry{WAD_NONE, 0, 0, 0, WAD_NONE, WAD_NONE}};
    std::string names, data;

    // A folder (no bytes) or a file, the last child of its parent.
    uint32_t Add(uint32_t parent, const char* name, const char* bytes = nullptr, uint32_t flags = 0)
    {
        const uint32_t index = (uint32_t)entries.size();
        entries.push_back(WadEntry{(uint32_t)names.size(), (uint32_t)data.size(), bytes ? (uint32_t)strlen(bytes) : 0,
                                   flags, WAD_NONE, WAD_NONE});
        names += name + std::string(1, '\0');
        if (bytes) data += bytes;
        uint32_t* link = &entries[parent].firstChild;
        while (*link != WAD_NONE) link = &entries[*link].nextSibling;
        *link = index;
        return index;
    }
    // Both kinds of open, as the packer stores files.
    void Both(uint32_t parent, const char* name, const char* bytes)
    {
        Add(parent, name, bytes, WAD_FLAG_BINARY);
        Add(parent, name, bytes, 0);
    }
    std::string Bytes() const
    {
        std::string out(WAD_HEADER_SIZE + entries.size() * WAD_ENTRY_SIZE, '\0');
        const uint32_t header[4] = {WAD_MAGIC, (uint32_t)(out.size() + names.size()), (uint32_t)entries.size(),
                                    (uint32_t)names.size()};
        for (int i = 0; i < 4; i++) Bytes_StoreU32(&out[4 * (size_t)i], header[i]);
        for (size_t i = 0; i < entries.size(); i++)
            Wad_EncodeEntry(&entries[i], (uint8_t*)&out[WAD_HEADER_SIZE + i * WAD_ENTRY_SIZE]);
        return out + names + data;
    }
};

class Wad : public WadDataTest {
protected:
    int Mount(const std::string& bytes, const char* name = "test.wad")
    {
        WriteDisk(name, bytes);
        return Wad_Mount(name, 1);
    }
    // An archive with DATA\Levels\x.cfg (both opens), a text-only and a
    // binary-only file, and a closed entry: entries 0 root, 1 DATA,
    // 2 Levels, 3 x.cfg (binary), 4 x.cfg (text), 5 text.txt, 6 bin.dat, 7.
    static ArchiveBuilder Standard(const char* x = "line one\r\nline two\nend")
    {
        ArchiveBuilder a;
        const uint32_t data = a.Add(0, "DATA");
        a.Both(a.Add(data, "Levels"), "x.cfg", x);
        a.Add(data, "text.txt", "text only", 0);
        a.Add(data, "bin.dat", "0123456789", WAD_FLAG_BINARY);
        a.Add(data, "closed.dat", "closed", WAD_FLAG_BINARY | WAD_FLAG_CLOSED);
        return a;
    }
    // What an open of the name gives: its bytes read in pieces, or "-".
    static std::string Contents(const char* name, const char* mode = "rb")
    {
        void* f = File_Open(name, mode);
        if (!f) return "-";
        std::string out;
        char buffer[7];
        for (size_t n; (n = File_Read(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
        File_Close(f);
        return out;
    }
};

TEST_F(Wad, ReadsStopAtTheEntryEndInterleaveSeekAndCountForLoadingProgress)
{
    ArchiveBuilder a = Standard();
    a.Both(a.entries[0].firstChild, "ten.dat", "ABCDEFGHIJ");
    ASSERT_EQ(Mount(a.Bytes()), 1);
    // Refused: a closed entry, a path deeper than any entry, no name or mode, a write mode.
    std::string deep;
    for (int i = 0; i <= WAD_MAX_PATH_PARTS; i++) deep += "levels\\";
    EXPECT_EQ(Contents("closed.dat") + Contents((deep + "x.cfg").c_str()), "--");
    EXPECT_FALSE(Wad_FileOpen(nullptr, "rb") || Wad_FileOpen("ten.dat", nullptr) || Wad_FileOpen("ten.dat", "wb") ||
                 Wad_GetMount(-1) || Wad_GetMount(1));  // one mount
    float counted = 0;
    File_SetClock([]() -> uint32_t { return 1000; });
    LoadProgress_Begin(
        1, [](uint32_t, float bytes, void* arg) { *(float*)arg += bytes; }, &counted);
    void* f = File_Open("ten.dat", "rb");
    ASSERT_NE(f, nullptr);
    char buffer[64];
    // Whole items only: one of four, then one of the six bytes left.
    EXPECT_EQ(std::vector<size_t>({File_Read(buffer, 4, 1, f), File_Read(buffer, 4, 10, f)}),
              std::vector<size_t>(2, 1));
    EXPECT_TRUE(File_Tell(f) == 8 && !memcmp(buffer, "EFGH", 4) && !File_Eof(f));
    EXPECT_EQ(File_Read(buffer, 0, 10, f), 0u);  // item size 0 reads nothing
    EXPECT_EQ(File_Read(buffer, 1, 10, f), 2u);
    EXPECT_NE(File_Eof(f), 0);  // at the size, before any read fails
    LoadProgress_End();
    EXPECT_GE(counted, 10.0f);
    void* g = File_Open("levels\\x.cfg", "rb");
    ASSERT_TRUE(g && File_Seek(f, 1, 0) == 0);
    for (int i = 0; i < 3; i++) {  // the archive's position jumps each time
        EXPECT_EQ(File_Read(buffer, 1, 2, f) + File_Read(buffer + 2, 1, 2, g), 4u);
        EXPECT_EQ(std::string() + buffer[0] + buffer[2], std::string() + "BDF"[i] + "ln "[i]);
    }
    File_Close(g);
    // Seeks past the end are allowed; nothing is read there, though the
    // bytes of the next entry (the text twin) follow in the archive.
    EXPECT_TRUE(File_Seek(f, 12, 0) == 0 && File_Read(buffer, 1, 10, f) == 0 && !File_Gets(buffer, sizeof buffer, f));
    EXPECT_TRUE(File_Seek(f, -3, 2) == 0 && File_Read(buffer, 1, 10, f) == 3 && !memcmp(buffer, "HIJ", 3));
    // Before the start or overflowing: refused, position kept.
    EXPECT_EQ(std::vector<long>({File_Seek(f, -11, 2), File_Seek(f, LONG_MAX, 1), File_Seek(f, LONG_MIN, 2)}),
              std::vector<long>(3, -1));
    EXPECT_EQ(File_Tell(f), 10);
    File_Close(f);
    f = File_Open("levels\\x.cfg", "r");
    ASSERT_NE(f, nullptr);
    char line[64], tiny[2] = {'x', 'x'};
    EXPECT_STREQ(File_Gets(line, sizeof line, f), "line one\r\n");  // carriage returns kept
    EXPECT_TRUE(!File_Gets(tiny, 1, f) && !File_Gets(tiny, 0, f) && !strcmp(File_Gets(tiny, 2, f), "l"));
    std::string lines;
    for (int size : {5, 64, 64}) {
        const char* read = File_ReadLine(line, size, f);
        lines += std::string(read ? read : "-") + "|";
    }
    EXPECT_TRUE(lines == "ine |two|end|" && !File_ReadLine(line, sizeof line, f)) << lines;
    File_Close(f);
    // The file layer's shut-down leaves the archive functions in place.
    File_Shutdown();
    EXPECT_TRUE(File_GetLiveInterface()->read == Wad_FileRead && File_GetLiveInterface()->gets == Wad_FileGets);
    ASSERT_EQ(File_Init(), 1);
}

TEST_F(Wad, MalformedArchivesAreRefusedAtMountNamingTheFaultWithNothingLeftOpen)
{
    ArchiveBuilder a = Standard();
    const std::string good = a.Bytes();
    const uint32_t n = (uint32_t)a.entries.size(), namesSize = (uint32_t)a.names.size();
    const size_t namesAt = WAD_HEADER_SIZE + n * WAD_ENTRY_SIZE;
    auto field = [](uint32_t entry, uint32_t field) { return WAD_HEADER_SIZE + entry * WAD_ENTRY_SIZE + field * 4; };
    // What is refused: the bytes cut at a length, or a word patched at an offset.
    const std::tuple<const char*, size_t, uint32_t> cases[] = {
        {"cut in the header", 10, 0},
        {"cut in the entries", WAD_HEADER_SIZE + WAD_ENTRY_SIZE + 3, 0},
        {"cut in the names", namesAt + 2, 0},
        {"cut in the data", good.size() - 1, 0},
        {"no WADH header", 0, 0x58},
        {"no entries", 8, 0},
        {"entry table past the end", 8, n + 1000},
        {"entry count whose table size wraps 32 bits", 8, 0x0AAAAAABu},
        {"names past the end", 12, 0xFFFFFFFFu},
        {"data area past the end", 4, 0xFFFFFF00u},
        {"size past the end", field(3, 2), 0xFFFFFFFFu},
        {"offset plus size wrapping 32 bits", field(3, 1), 0xFFFFFFF0u},
        {"name offset past the names", field(1, 0), namesSize},
        {"child out of range", field(1, 4), n},
        {"sibling out of range", field(3, 5), n + 7},
        {"directory loop", field(2, 4), 1},
        {"root as a child", field(2, 4), 0},
        {"sibling loop", field(6, 5), 2},
        {"unterminated name: the last name loses its NUL", namesAt + namesSize - 4, 0x78787878},
    };
    for (const auto& [what, at, value] : cases) {
        std::string bytes = good;
        if (strncmp(what, "cut", 3) == 0) bytes.resize(at);
        else Bytes_StoreU32(&bytes[at], value);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Mount(bytes), 0) << what;
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(said.rfind("test.wad: the archive is refused: ", 0) == 0 &&
                    std::count(said.begin(), said.end(), '\n') == 1)
            << what << ": " << said;
        EXPECT_TRUE(value != 0x58 || said == "test.wad: the archive is refused: no WADH header\n") << said;
    }
    // A missing archive is no fault, and says nothing.
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Wad_Mount("missing.wad", 1) == 0 && Wad_IsMounted() == 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // Ten mounts at most.
    for (int i = 0; i < WAD_MAX_MOUNTS; i++) EXPECT_EQ(Mount(good), 1) << i;
    EXPECT_EQ(Mount(good) * 10 + Wad_IsMounted(), 1);
}

}  // namespace
