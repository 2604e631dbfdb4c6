#include "app/soundbank.h"

#include <cstring>

#include "app/config.h"
#include "app/sound.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"

namespace {

struct SoundBank {
    List* entries;
    SoundBankEntry* found;  // scratch of the pool walks
    int32_t nextId;
    uint32_t nextGroup;
};

SoundBank* g_bank = nullptr;

struct Search {
    uint32_t nameHash;
    uint32_t group;
    uint32_t index;
    int32_t id;
    uint32_t count;
};

int MatchesKey(void* item, void* arg)
{
    SoundBankEntry* e = (SoundBankEntry*)item;
    Search* s = (Search*)arg;
    return e->nameHash == s->nameHash && e->group == s->group && e->index == s->index;
}

int MatchesId(void* item, void* arg) { return ((SoundBankEntry*)item)->id == ((Search*)arg)->id; }

int CountSame(void* item, void* arg)
{
    SoundBankEntry* e = (SoundBankEntry*)item;
    Search* s = (Search*)arg;
    if (e->nameHash == s->nameHash && e->group == s->group) s->count++;
    return 0;
}

int ReleaseInGroup(void* item, void* arg)
{
    SoundBankEntry* e = (SoundBankEntry*)item;
    if (arg && e->group != *(uint32_t*)arg) return 0;
    Sound_Release(e->sound);
    List_Free(g_bank->entries, e);
    return 0;
}

uint32_t CountHash(uint32_t nameHash, uint32_t group)
{
    if (!g_bank || group == 0) return 0;
    Search s = {nameHash, group, 0, 0, 0};
    List_ForEach(g_bank->entries, CountSame, &s);
    return s.count;
}

SoundBankEntry* FindKey(const char* name, uint32_t group, uint32_t index)
{
    if (!g_bank || !name) return nullptr;
    Search s = {Name_Hash(name, 1, 1), group, index, 0, 0};
    g_bank->found = (SoundBankEntry*)List_ForEach(g_bank->entries, MatchesKey, &s);
    return g_bank->found;
}

// Copies of a reader's section or subsection (null stays null).
struct SavedText {
    bool set;
    char text[CONFIG_TEXT_MAX];
    explicit SavedText(const char* from) : set(from != nullptr), text()
    {
        if (from) strncpy(text, from, sizeof text - 1);
    }
    const char* get() const { return set ? text : nullptr; }
};

}  // namespace

int SoundBank_Init(void)
{
    if (g_bank) return 1;
    g_bank = (SoundBank*)Mem_Calloc(sizeof(SoundBank), 8);
    if (!g_bank) return 0;
    g_bank->entries = List_Create(sizeof(SoundBankEntry), 8);
    if (!g_bank->entries) {
        Mem_Free(g_bank);
        g_bank = nullptr;
        return 0;
    }
    g_bank->nextId = SOUNDBANK_FIRST_ID;
    g_bank->nextGroup = SOUNDBANK_FIRST_GROUP;
    return 1;
}

List* SoundBank_GetPool(void) { return g_bank ? g_bank->entries : nullptr; }

int SoundBank_Load(const char* configuration, const char* section, uint32_t* group)
{
    ConfigNode* config = Config_Open(configuration);
    if (!config) return 0;
    SoundBank_LoadSection(config, section, group);
    Config_Close(config);
    return 1;
}

int SoundBank_LoadSection(ConfigNode* config, const char* section, uint32_t* group)
{
    if (!g_bank) return 0;
    // The reader's section and subsection are the caller's: later lookups
    // through it (another load, the front end's menu data) must resolve as
    // before, so both are put back at the end.
    SavedText oldSection(Config_GetSection(config)), oldSubSection(Config_GetSubSection(config));
    Config_SetSection(config, section);
    Config_SetSubSection(config, nullptr);
    uint32_t target = group ? g_bank->nextGroup : SOUNDBANK_UNGROUPED;
    uint32_t loaded = 0;
    for (ConfigNode* child = Config_FirstChild(config, "SoundList"); child; child = Config_NextSibling(child)) {
        const char* name = ConfigNode_GetName(child);
        const char* file = child->value;
        if (!file || !*file) continue;
        uint32_t looping = 0;
        Config_SetSubSection(config, Config_Key("SoundSettings", name, nullptr));
        Config_GetBool(config, "Looping", &looping);
        Config_SetSubSection(config, nullptr);
        Sound* sound = Sound_Load(file, looping ? 2 : 0);
        if (!sound) continue;
        SoundBankEntry* e = (SoundBankEntry*)List_Alloc(g_bank->entries);
        if (!e) {
            // A fixed pool is full: this sound goes again, and the section stops.
            Sound_Release(sound);
            break;
        }
        e->id = g_bank->nextId++;
        e->sound = sound;
        e->flags = looping ? (uint32_t)SOUNDBANK_LOOPING : 0u;
        e->fileHash = Name_Hash(file, 0, 1);
        e->nameHash = ConfigNode_GetHash(child);
        e->group = target;
        e->index = CountHash(e->nameHash, target) - 1;  // the new entry counts already
        loaded++;
    }
    if (group) *group = loaded ? target : 0;
    g_bank->nextGroup++;
    Config_SetSection(config, oldSection.get());
    Config_SetSubSection(config, oldSubSection.get());
    return 1;
}

Sound* SoundBank_PlayEntry(SoundBankEntry* entry, float volume, uint32_t frequency, Node* node)
{
    if (!entry || !entry->sound) return nullptr;
    if (entry->flags & SOUNDBANK_LOOPING) {
        Sound* instance = Sound_PlayLoopInstance(entry->sound, node);
        if (!instance) return nullptr;
        Sound_ApplyVolume(instance, volume);
        if (frequency) Sound_SetFrequency(instance, frequency);
        return instance;
    }
    // The one-shot takes this volume only when it is not placed: a placed
    // one starts at full volume and the 3D pass uses gain 1.
    Sound_ApplyVolume(entry->sound, volume);
    if (frequency) Sound_SetFrequency(entry->sound, frequency);
    Sound_PlayOneShot(entry->sound, node);
    return nullptr;
}

Sound* SoundBank_PlayId(int32_t id, float volume, uint32_t frequency, Node* node)
{
    if (!g_bank) return nullptr;
    Search s = {0, 0, 0, id, 0};
    g_bank->found = (SoundBankEntry*)List_ForEach(g_bank->entries, MatchesId, &s);
    return SoundBank_PlayEntry(g_bank->found, volume, frequency, node);
}

Sound* SoundBank_Play(const char* name, uint32_t group, uint32_t index, float volume, uint32_t frequency, Node* node)
{
    return SoundBank_PlayEntry(FindKey(name, group, index), volume, frequency, node);
}

int32_t SoundBank_FindId(const char* name, uint32_t group, uint32_t index)
{
    SoundBankEntry* e = FindKey(name, group, index);
    return e ? e->id : -1;
}

uint32_t SoundBank_CountName(const char* name, uint32_t group)
{
    return name ? CountHash(Name_Hash(name, 1, 1), group) : 0;
}

void SoundBank_ReleaseGroup(uint32_t group)
{
    if (!g_bank || group == 0) return;
    List_ForEach(g_bank->entries, ReleaseInGroup, &group);
}

void SoundBank_Reset(void)
{
    if (!g_bank) return;
    Sound_ReleaseIdle(nullptr, nullptr);
    List_ForEach(g_bank->entries, ReleaseInGroup, nullptr);
    g_bank->nextId = SOUNDBANK_FIRST_ID;
    g_bank->nextGroup = SOUNDBANK_FIRST_GROUP;
}

void SoundBank_Shutdown(void)
{
    if (!g_bank) return;
    Sound_ReleaseIdle(nullptr, nullptr);
    List_ForEach(g_bank->entries, ReleaseInGroup, nullptr);
    List_Destroy(g_bank->entries);
    Mem_Free(g_bank);
    g_bank = nullptr;
}
