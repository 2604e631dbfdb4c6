// The sound bank: the game's sound effects by name. A configuration section
// lists sounds as children of its key "SoundList" (name = file); loading it
// puts one entry per line into one group and loads each file as a sound
// held whole. The game and the front end play sounds by entry id or by
// (name, group, index), release groups when a level or an entity goes, and
// reset the bank when the game reloads its content. One bank, created and
// destroyed by the shell. Main thread only.
#pragma once

#include <cstdint>

struct List;
struct Node;
struct Sound;
struct ConfigNode;

enum : uint32_t {
    SOUNDBANK_FIRST_ID = 10000,
    SOUNDBANK_FIRST_GROUP = 2,
    SOUNDBANK_UNGROUPED = 1,  // entries loaded without a group request
    SOUNDBANK_LOOPING = 2,    // entry flag
};

struct SoundBankEntry {
    int32_t id;
    uint32_t fileHash;  // Name_Hash(file, 0, 1)
    uint32_t nameHash;  // the configuration key's stored hash, Name_Hash(name, 1, 1)
    uint32_t group;
    uint32_t index;     // among the entries of the same name in the group, in load order
    Sound* sound;
    uint32_t flags;     // SOUNDBANK_LOOPING
};

// Creates the bank: next id 10000, next group 2. 0 on failure.
int SoundBank_Init(void);
// The entry pool (the game may fix its block size before the first load).
List* SoundBank_GetPool(void);
// Opens the configuration, loads the section, closes it. 0 when the
// configuration can't be opened.
int SoundBank_Load(const char* configuration, const char* section, uint32_t* group);
// Loads the children of "<section>::SoundList" from an open configuration,
// "Looping" from "<section>::SoundSettings::<name>". *group (when given)
// receives the new group number, or 0 when nothing loaded; entries without a
// group request go to group 1. Uses up a group number in every case. The
// reader's section and subsection are as they were afterwards. 1.
int SoundBank_LoadSection(ConfigNode* configuration, const char* section, uint32_t* group);
// Plays the entry: volume 0..1, frequency in Hz (0 keeps the sound's own),
// node places it (null: not placed). A looping entry gives its instance,
// which the caller releases; other entries play a one-shot and give null.
Sound* SoundBank_PlayId(int32_t id, float volume, uint32_t frequency, Node* node);
Sound* SoundBank_Play(const char* name, uint32_t group, uint32_t index, float volume, uint32_t frequency, Node* node);
Sound* SoundBank_PlayEntry(SoundBankEntry* entry, float volume, uint32_t frequency, Node* node);
// The entry's id, or -1.
int32_t SoundBank_FindId(const char* name, uint32_t group, uint32_t index);
// Entries with that name in the group; 0 for group 0.
uint32_t SoundBank_CountName(const char* name, uint32_t group);
// Releases the group's sounds and entries; group 0 does nothing.
void SoundBank_ReleaseGroup(uint32_t group);
// Releases idle instances, every entry and its sound; ids restart at 10000
// and groups at 2.
void SoundBank_Reset(void);
void SoundBank_Shutdown(void);
