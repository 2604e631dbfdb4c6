// Animation-set writer: builds ".atf" files, the binary form the content
// layer reads animation sets from (engine/animfile.h has the layout), for
// the data tools and the tests.
//
// Strings are written as the binary-file layer writes them (BinFile_PadString:
// u32 L, then floor((L + 1) / 4) + 1 words of characters, NUL and zeros), so
// names of every length read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AtfWriterAnimation {
    uint32_t sceneFlags = 0;  // Scene_Load flags (1 loop, 2 two-sided, 8 unshared, 16 nodes only, 32 meshes unshared)
    uint32_t flags = 0;       // 1 never blended into, 2 the scene's lights are created
    std::string scenePath;    // ".lws" optional
    std::string name;
    uint32_t valueA = 0;
    float blendTime = 0.0f;  // seconds
};

struct AtfWriterKeyEvent {
    uint32_t animation = 0;  // file order
    uint32_t event = 0;      // into the event names
    uint32_t item = 0;       // scene item in node creation order; 0xFFFFFFFF: a record that is no event
    float start = 0.0f;      // seconds
    float end = 0.0f;
};

struct AtfWriterSet {
    std::vector<AtfWriterAnimation> animations;
    std::vector<std::string> events;
    std::vector<AtfWriterKeyEvent> keyEvents;
};

// The file's bytes.
std::vector<uint8_t> AtfWriter_Encode(const AtfWriterSet& set);
// Writes the file to a data name (BinFile_Open "w"); 1 when every byte was
// written.
int AtfWriter_Write(const AtfWriterSet& set, const char* dataName);
// The cache name the content layer reads a set from: "Cache\hh\hhhhhhhh.atf"
// of the source text setName + extension ("ANIM" for the game's sets).
std::string AtfWriter_CacheName(const char* setName, const char* extension = "ANIM");
