// Texture sequences of materials: a material whose special name is "SEQ:"
// shows one frame texture at a time; MaterialAnim_Tick, run once per frame
// by the application, steps every configured sequence through the frames
// its configuration lists. A sequence lives as long as its render object.
//
// Configuration (compiled, found by the first frame's path without ".bmp" or
// ".png"): TIME (seconds per step), and FRAMES (one digit per step: the frame
// shown at that step) or FRAMESWIDE (two digits per step). Without one the
// sequence shows frame 0.
#pragma once

#include <cstdint>

struct List;
struct Material;
struct Texture;

struct TexSeq {
    Material* material;  // a reference held; its texture is the frame shown
    Texture** frames;    // a reference each
    uint32_t frameCount;
    uint32_t current;    // frame shown
    int32_t configured;  // TIME and FRAMES or FRAMESWIDE were read
    float time;          // seconds per step
    float remaining;     // of the current step
    char* steps;         // the FRAMES or FRAMESWIDE digits
    int32_t wide;        // two digits per step
    uint32_t step;
    TexSeq* next;       // the owner's chain
    uint32_t nameHash;  // Name_Hash(name, 0, 1) of the name given to TexSeq_Load; 0 before
};

// The pool of sequences (capacity set by the caller before the first);
// started and stopped by RenderObj_Init and RenderObj_Shutdown.
int MaterialAnim_Init(void);
void MaterialAnim_Shutdown(void);
List* MaterialAnim_GetSequencePool(void);

// A sequence on material (taking a reference), or null when the pool is
// exhausted.
TexSeq* TexSeq_Create(Material* material);
// Appends a frame (the sequence takes over the caller's reference); the
// first frame becomes the material's texture. 0 when memory runs out (the
// texture is released then).
int TexSeq_AddFrame(TexSeq* seq, Texture* texture);
// Reads the configuration of source name `name` (the first frame's path
// without its extension), which also becomes the sequence's name; 1 when
// TIME and a step text were found.
int TexSeq_Load(TexSeq* seq, const char* name);
// The first sequence made of that name (case ignored), or null.
TexSeq* TexSeq_Find(const char* name);
// Shows the frame (its texture becomes the material's); a frame that does
// not exist is ignored. A configured sequence steps on from its own step.
void TexSeq_ShowFrame(TexSeq* seq, uint32_t frame);
// Releases the frames and the material and frees the sequence.
void TexSeq_Destroy(TexSeq* seq);

// Steps every configured sequence by dt seconds: when a step's time runs
// out, the next step's frame becomes the material's texture (steps wrap
// around; a step naming a frame that does not exist keeps the current one).
void MaterialAnim_Tick(float dt);
