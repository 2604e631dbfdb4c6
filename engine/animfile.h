// Animation-set files ("atf" in the hashed cache): what AnimSet_Read builds
// a set from, read whole and checked before any scene is loaded.
//
// Layout (little-endian; a string is a u32 length L and then
// floor((L + 1) / 4) + 1 words holding the characters, a NUL and zeros):
//   u32 animation count A
//   A x { u32 scene load flags; u32 animation flags (ANIMFILE_*);
//         string scene path; string animation name; u32 value A;
//         f32 blend time (s) }
//   u32 event count E; E x string event name
//   key events until the file ends: { u32 animation index; u32 event index;
//         u32 item index (ANIMFILE_SKIP: no event); f32 start; f32 end }
//
// A truncated header, animation record or event-name list, or a string
// longer than what is left of the file, refuses the file. The key events
// end at the first record that does not fit: a partial record at the end is
// the normal end. Indices are kept as written; the set checks them against
// what it loaded.
#pragma once

#include <cstddef>
#include <cstdint>

enum : uint32_t {
    ANIMFILE_NO_BLEND = 1,          // the animation is never blended into
    ANIMFILE_LIGHTS = 2,            // its scene's lights are created
    ANIMFILE_SKIP = 0xFFFFFFFFu,    // item index of a record that is no event
    ANIMFILE_MAX_SIZE = 64u << 20,  // larger files are refused
};

struct AnimFileAnimation {
    uint32_t sceneFlags;    // Scene_Load flags
    uint32_t flags;         // ANIMFILE_NO_BLEND, ANIMFILE_LIGHTS
    const char* scenePath;  // into AnimFile.text
    const char* name;       // into AnimFile.text
    uint32_t valueA;        // kept, not used by the layer
    float blendTime;        // seconds
};

struct AnimFileKeyEvent {
    uint32_t animation;  // file order
    uint32_t event;      // into eventNames
    uint32_t item;       // scene item (node creation order)
    float start, end;    // seconds
};

// One block owns everything: free it with AnimFile_Free.
struct AnimFile {
    AnimFileAnimation* animations;
    uint32_t animationCount;
    const char** eventNames;  // into text
    uint32_t eventCount;
    AnimFileKeyEvent* keyEvents;  // records with ANIMFILE_SKIP are left out
    uint32_t keyEventCount;
    char* text;  // every string, NUL-terminated
};

// Parses the bytes of a file. Null for a refused file (LoadError_Get says
// why) or when memory runs out; nothing is left allocated then.
AnimFile* AnimFile_Parse(const uint8_t* data, size_t size);
// Reads the data file (BinFile_Open "r") whole and parses it. Null when it
// is missing, larger than ANIMFILE_MAX_SIZE or refused.
AnimFile* AnimFile_Read(const char* name);
// Null is ignored.
void AnimFile_Free(AnimFile* file);
