// Fuzzes the data layer's readers, each over the same bytes: the compiled
// configuration reader (every name looked up again, its children and
// siblings walked), the animation-set file reader (every string handed out
// walked to its NUL, every index read, no skip record passed on as an event)
// and the archive mount with its file functions.
#include <cstring>
#include <string>

#include "app/config.h"
#include "app/file.h"
#include "app/wad.h"
#include "common/bytes.h"
#include "engine/animfile.h"
#include "fuzz_files.h"

namespace {

// Reads a file by lines, in items, from its end and past it; closes it.
void Drain(void* f)
{
    if (!f) return;
    char buffer[64];
    while (File_Gets(buffer, 32, f)) {}
    File_Seek(f, 3, 0);
    while (File_Read(buffer, 3, 5, f)) {}
    File_Seek(f, -5, 2);
    while (File_Read(buffer, 2, 7, f)) {}
    File_Seek(f, 1000, 1);
    File_Read(buffer, 1, sizeof buffer, f);
    File_Close(f);
}

// Opens every entry reachable from the root by its full path, both ways,
// through the archive's functions. Only called after a mount succeeded, so
// the directory is known to be a tree inside the input.
void Walk(const uint8_t* data, size_t size, uint32_t index, const std::string& path, int depth)
{
    ByteReader header = ByteReader_Init(data, size);
    ByteReader_Skip(&header, 8);
    const uint8_t* entries = data + WAD_HEADER_SIZE;
    const char* names = (const char*)entries + (size_t)ByteReader_U32(&header) * WAD_ENTRY_SIZE;
    WadEntry e;
    Wad_DecodeEntry(entries + (size_t)index * WAD_ENTRY_SIZE, &e);
    for (uint32_t c = e.firstChild; c != WAD_NONE && depth < 24; c = e.nextSibling) {
        Wad_DecodeEntry(entries + (size_t)c * WAD_ENTRY_SIZE, &e);
        const std::string name = e.nameOffset == WAD_NONE ? "?" : names + e.nameOffset;
        const std::string full = path.empty() ? name : path + "\\" + name;
        for (const char* mode : {"rb", "r"}) Drain(File_GetLiveInterface()->open(full.c_str(), mode));
        Walk(data, size, c, full, depth + 1);
    }
}

void ReadConfig()
{
    ConfigSys_Init();
    ConfigNode* cfg = Config_Load("fuzz.cfb");
    for (ConfigNode* n = cfg; n; n = n->next) {
        float v[3];
        uint8_t rgba[4];
        Config_GetVector3(cfg, n->name, v);
        Config_GetColourBytes(n, n->name, rgba);
        Config_SetSection(cfg, n->name);
        Config_GetValue(cfg, n->value);
        Config_SetSection(cfg, nullptr);
        for (ConfigNode* c = Config_FirstChild(cfg, n->name); c; c = Config_NextSibling(c)) {}
    }
    Config_Close(cfg);
    ConfigSys_Shutdown();
}

volatile size_t g_sum;  // keeps the walks over the strings

void ReadAnimations()
{
    AnimFile* file = AnimFile_Read("fuzz.atf");
    if (!file) return;
    size_t sum = 0;
    for (uint32_t i = 0; i < file->animationCount; i++)
        sum += strlen(file->animations[i].scenePath) + strlen(file->animations[i].name) + file->animations[i].flags;
    for (uint32_t i = 0; i < file->eventCount; i++) sum += strlen(file->eventNames[i]);
    for (uint32_t i = 0; i < file->keyEventCount; i++) {
        const AnimFileKeyEvent& k = file->keyEvents[i];
        if (k.item == ANIMFILE_SKIP) __builtin_trap();
        sum += k.animation + k.event;
    }
    AnimFile_Free(file);
    g_sum = sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input input(data, size);
    ReadConfig();
    ReadAnimations();
    Wad_Init();
    if (Wad_Mount("fuzz.wad", 1)) {
        for (const char* name : {"a", "x\\y", "DATA", "", "Levels\\Track01\\track.cfg"})
            for (const char* mode : {"rb", "r"}) Drain(File_Open(name, mode));
        Walk(data, size, 0, "", 0);
    }
    Wad_Shutdown();
    return 0;
}
