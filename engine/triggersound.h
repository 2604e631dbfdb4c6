// The sound functions the animation triggers call, as one table.
//
// The triggers play their sounds through the shell's sound system; the
// table starts filled with its functions (Sound_Load, Sound_PlayOneShot,
// ...), which do nothing while sound is off. Tests install recorders in
// their place. Sounds are opaque here; the sound system owns them.
#pragma once

#include <cstdint>

struct Node;
struct Sound;

struct TriggerSoundTable {
    // Sound_Load: the named sound with one reference, or null. flags 0: a
    // sound held whole.
    Sound* (*load)(const char* name, uint32_t flags);
    // Sound_AddRef: one more reference; returns the sound.
    Sound* (*addRef)(Sound* sound);
    // Sound_Release: drops a loaded sound's reference, or stops and frees a
    // playing instance. Null is ignored.
    void (*release)(Sound* sound);
    // Sound_PlayOneShot: plays once, placed at node (unplaced for null).
    void (*playOneShot)(Sound* sound, Node* node);
    // Sound_PlayLoopInstance: a looping instance (placed at node, or 2D for
    // null) that the caller releases; null when none could be made.
    Sound* (*playLoopInstance)(Sound* sound, Node* node);
    // Sound_SetGain (0..1) and Sound_SetFrequency (Hz) of an instance.
    void (*setGain)(Sound* sound, float gain);
    void (*setFrequency)(Sound* sound, uint32_t hertz);
};

// Copies the table; empty slots (and a null table) get the sound system's
// functions back.
void TriggerSound_Install(const TriggerSoundTable* table);
// The installed table; never null, every slot filled.
const TriggerSoundTable* TriggerSound_Get(void);
