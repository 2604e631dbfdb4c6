#include "engine/trigger.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/hash.h"
#include "common/list.h"
#include "common/strings.h"
#include "engine/billboard.h"
#include "engine/node.h"
#include "engine/particle.h"
#include "engine/sprite3d.h"
#include "engine/triggersound.h"

namespace {

constexpr size_t kNameMax = 512;  // longer event names are no triggers

struct TriggerList {
    AnimSet* set;
    AnimTrigger* first;
};

struct TriggerModule {
    List* lists;      // TriggerList, one per set that has triggers
    List* triggers;   // AnimTrigger
    List* instances;  // TriggerInstance
    const char* typeNames[4];
    int (*random)(void) = rand;
    uint32_t smokeKind, sparkleKind;
};

TriggerModule g_triggers;

int Random(void) { return g_triggers.random(); }

// A float in [-1, 1) in steps of 0.0001, from the module's generator.
float RandomUnit(void) { return (float)(Random() % 20000) * 0.0001f - 1.0f; }

// ---- the lists ----

struct ListSearch {
    AnimSet* set;
};

int MatchesSet(void* item, void* arg) { return ((TriggerList*)item)->set == ((ListSearch*)arg)->set; }

TriggerList* ListOf(AnimSet* set, bool create)
{
    if (!g_triggers.lists) return nullptr;
    ListSearch search = {set};
    TriggerList* list = (TriggerList*)List_ForEach(g_triggers.lists, MatchesSet, &search);
    if (list || !create) return list;
    list = (TriggerList*)List_Alloc(g_triggers.lists);
    if (list) list->set = set;
    return list;
}

void Append(TriggerList* list, AnimTrigger* trigger)
{
    AnimTrigger** at = &list->first;
    while (*at) at = &(*at)->next;
    *at = trigger;
}

AnimTrigger* FindByKey(TriggerList* list, uint32_t key)
{
    for (AnimTrigger* t = list ? list->first : nullptr; t; t = t->next)
        if (t->key == key) return t;
    return nullptr;
}

// ---- instances ----

void StopInstance(TriggerInstance* instance)
{
    if (instance->loop) TriggerSound_Get()->release(instance->loop);
    instance->loop = nullptr;
}

void FreeInstance(AnimTrigger* trigger, TriggerInstance* instance)
{
    StopInstance(instance);
    for (TriggerInstance** at = &trigger->instances; *at; at = &(*at)->next)
        if (*at == instance) {
            *at = instance->next;
            break;
        }
    List_Free(g_triggers.instances, instance);
}

void FreeInstances(AnimTrigger* trigger)
{
    while (trigger->instances) FreeInstance(trigger, trigger->instances);
}

// Releases what the trigger holds and frees it.
void FreeTrigger(AnimTrigger* trigger)
{
    FreeInstances(trigger);
    for (uint32_t i = 0; i < trigger->soundCount; i++) TriggerSound_Get()->release(trigger->sounds[i]);
    Sprite3d_Release(trigger->particleSprite);
    Sprite3d_Release(trigger->flareSprite);
    List_Free(g_triggers.triggers, trigger);
}

Vec3 WorldPosition(Node* node)
{
    Vec3 p = {0, 0, 0};
    if (node) Node_GetWorldPosition(node, &p);
    return p;
}

float Clamp(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

// The speed mapped through a range: clamped into it and scaled to 0..1 over
// 0 .. its upper value; a range whose upper value is 0 gives its lower one.
float FromRange(float speed, const float* range)
{
    if (range[1] == 0.0f) return range[0];
    return Clamp(speed, range[0], range[1]) / range[1];
}

void UpdateSound(AnimTrigger* t, TriggerInstance* in, float dt)
{
    const TriggerSoundTable* sound = TriggerSound_Get();
    if (in->active == 1) {
        in->active = 2;
        if (in->looping) {
            in->loop = sound->playLoopInstance(in->sound, in->positionNode);
            if (in->loop) sound->setFrequency(in->loop, 24000u + (uint32_t)(Random() % 751));
        } else {
            sound->playOneShot(in->sound, in->positionNode);
        }
    }
    if (!(t->flags & (TRIGGER_GAIN_RANGE | TRIGGER_PITCH_RANGE))) return;
    // The first frame of a state has no time (and Trigger_Fire passes 0):
    // a speed needs dt above 0.
    if (!(dt > 0.0f)) return;
    const Vec3 position = WorldPosition(in->item);
    const float speed = Vec3_Distance(&position, &in->lastPosition) / dt * 0.1f;
    in->lastPosition = position;
    const float blend = dt * 5.0f < 1.0f ? dt * 5.0f : 1.0f;
    if (t->flags & TRIGGER_GAIN_RANGE) {
        in->gain = Math_Lerp(in->gain, FromRange(speed, t->gainRange), blend);
        if (in->loop && std::isfinite(in->gain)) sound->setGain(in->loop, Clamp(in->gain, 0.0f, 1.0f));
    }
    if (t->flags & TRIGGER_PITCH_RANGE) {
        in->pitch = Math_Lerp(in->pitch, FromRange(speed, t->pitchRange), blend);
        // Without a pitch scale the frequency stays as it started.
        const float hertz = in->pitch * t->pitchScale[1] + t->pitchScale[0];
        if (in->loop && (t->flags & TRIGGER_PITCH_SCALE) && std::isfinite(hertz))
            sound->setFrequency(in->loop, (uint32_t)Clamp(hertz, 0.0f, 100000.0f));
    }
}

void UpdateParticle(AnimTrigger* t, TriggerInstance* in)
{
    if (Random() % 3 != 0) return;
    const Vec3 at = WorldPosition(in->item);
    Vec3 jitter = {RandomUnit(), RandomUnit(), RandomUnit()};
    if (t->particleKind == g_triggers.smokeKind) {
        Vec3_Scale(&jitter, &jitter, 0.25f);
        Vec3 p;
        Vec3_Add(&p, &at, &jitter);
        const Vec3 rise = {0, 0.1f, 0};
        const float size[2] = {0.5f, 0.5f};
        Particle* particle = Particle_Spawn(t->key, t->particleKind, &p, &rise, size, 1, 1, 1, 0.65f, 0.75f);
        Particle_SetFlag1(particle, 1);
        Particle_SetGrowth(particle, 4.0f);
        Particle_SetFlag2048(particle, 1);
        Particle_SetRotation(particle, (float)(Random() % 91));
        return;
    }
    Vec3 p;
    Vec3_Add(&p, &at, &jitter);
    const float life = (RandomUnit() + 0.5f + 1.0f) * 0.25f;
    const Vec3 rise = {0, (RandomUnit() + 0.5f) * 2.0f + 1.0f, 0};
    const float size[2] = {0.75f, 0.5f};
    Particle* particle = Particle_Spawn(t->key, t->particleKind, &p, &rise, size, 1, 1, 0, 0.25f, life);
    Particle_SetFlag64(particle, 1);
    Particle_SetGrowth(particle, 1.5f);
    Particle_SetFlag2048(particle, 1);
    Particle_SetRotation(particle, (float)(Random() % 361));
}

void UpdateInstance(AnimTrigger* t, TriggerInstance* in, float dt)
{
    switch (t->type) {
    case TRIGGER_SOUND: UpdateSound(t, in, dt); break;
    case TRIGGER_PARTICLE: UpdateParticle(t, in); break;
    case TRIGGER_FLARE: {
        const Vec3 at = WorldPosition(in->item);
        static const uint8_t kWhite[4] = {255, 255, 255, 255};
        const float size[2] = {t->flareSize, t->flareSize};
        Billboard_AddFacing(t->flareSprite, &at, kWhite, nullptr, size, 0);
        break;
    }
    case TRIGGER_RUMBLE: {
        Mat4 world;
        Mat4_Identity(&world);
        if (in->item) Node_GetWorldMatrix(in->item, &world);
        const Vec3 right = {world.m[0][0], world.m[0][1], world.m[0][2]};
        in->rumbleLevel = std::sqrt(Vec3_LengthSq(&right)) - 1.0f;
        break;
    }
    default: break;
    }
}

// ---- parsing ----

char* Trim(char* text)
{
    while (*text == ' ' || *text == '\t') text++;
    char* end = text + strlen(text);
    while (end > text && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n')) *--end = 0;
    return text;
}

// "a-b": two numbers joined by "-".
bool ParseRange(const char* text, float* out)
{
    char* end = nullptr;
    const float a = strtof(text, &end);
    if (end == text || *end != '-') return false;
    const char* second = end + 1;
    const float b = strtof(second, &end);
    if (end == second || *end != 0 || !std::isfinite(a) || !std::isfinite(b)) return false;
    out[0] = a;
    out[1] = b;
    return true;
}

bool ParseSound(AnimTrigger* t, char** tokens, int count)
{
    if (count > 1) {
        if (String_EqualNoCase(tokens[1], "True") || String_EqualNoCase(tokens[1], "Looping3D"))
            t->flags |= TRIGGER_LOOPING;
        else if (String_EqualNoCase(tokens[1], "Looping2D")) t->flags |= TRIGGER_LOOPING | TRIGGER_2D;
    }
    if (count > 2 && ParseRange(tokens[2], t->gainRange)) t->flags |= TRIGGER_GAIN_RANGE;
    if (count > 3 && ParseRange(tokens[3], t->pitchRange)) t->flags |= TRIGGER_PITCH_RANGE;
    if (count > 4 && ParseRange(tokens[4], t->pitchScale)) t->flags |= TRIGGER_PITCH_SCALE;

    const char* argument = tokens[0];
    const char* marker = strstr(argument, "<N>");
    if (!marker) {
        t->sounds[0] = TriggerSound_Get()->load(argument, 0);
        t->soundCount = t->sounds[0] ? 1 : 0;
        return t->soundCount > 0;
    }
    char name[kNameMax];
    const size_t head = (size_t)(marker - argument);
    for (uint32_t n = 1; n <= TRIGGER_MAX_SOUNDS; n++) {
        snprintf(name, sizeof name, "%.*s%u%s", (int)head, argument, n, marker + 3);
        Sound* sound = TriggerSound_Get()->load(name, 0);
        if (!sound) break;
        t->sounds[t->soundCount++] = sound;
    }
    return t->soundCount > 0;
}

bool ParseParticle(AnimTrigger* t, char** tokens, int count)
{
    if (count < 3) return false;
    const bool sparkle = strcmp(tokens[1], "Spinkle") == 0;
    if (!sparkle && strcmp(tokens[1], "Smoke") != 0) return false;
    const int height = atoi(tokens[2]);
    if (height <= 0) return false;
    t->particleKind = sparkle ? g_triggers.sparkleKind : g_triggers.smokeKind;
    t->particleSprite = Sprite3d_LoadSprite(tokens[0], nullptr, (uint32_t)height, sparkle ? 0 : 2);
    return t->particleSprite != nullptr;
}

bool ParseFlare(AnimTrigger* t, char** tokens, int count)
{
    if (count < 3) return false;
    const int height = atoi(tokens[1]);
    const float size = strtof(tokens[2], nullptr);
    if (height <= 0 || !(size > 0.0f) || !std::isfinite(size)) return false;
    t->flareSize = size;
    t->flareSprite = Sprite3d_LoadSprite(tokens[0], nullptr, (uint32_t)height, 0);
    return t->flareSprite != nullptr;
}

bool ParseRumble(AnimTrigger* t, char** tokens, int count)
{
    if (count != 1 && count != 3 && count != 4) return false;
    t->rumble[0] = atoi(tokens[0]);
    if (count == 1) return true;
    t->rumble[1] = atoi(tokens[1]);
    float strength = strtof(tokens[2], nullptr);
    if (!std::isfinite(strength)) strength = 0.0f;
    if (strength <= 1.0f) strength *= 255.0f;
    t->rumble[2] = (int32_t)Clamp(strength, -2147483520.0f, 2147483520.0f);
    t->rumble[3] = count == 4 ? String_ToBool(tokens[3]) : 0;
    t->rumble[4] = 1;
    return true;
}

}  // namespace

void Trigger_InitTypeNames(void)
{
    g_triggers.typeNames[TRIGGER_SOUND] = "AnimCommonTriggerType_Sound";
    g_triggers.typeNames[TRIGGER_PARTICLE] = "AnimCommonTriggerType_Particle";
    g_triggers.typeNames[TRIGGER_FLARE] = "AnimCommonTriggerType_Flare";
    g_triggers.typeNames[TRIGGER_RUMBLE] = "AnimCommonTriggerType_Rumble";
    g_triggers.smokeKind = Name_Hash("Smoke", 1, 1);
    g_triggers.sparkleKind = Name_Hash("Spinkle", 1, 1);
}

const char* Trigger_GetTypeName(uint32_t type) { return type < 4 ? g_triggers.typeNames[type] : nullptr; }

int Trigger_Init(void)
{
    Trigger_InitTypeNames();
    if (!g_triggers.lists) g_triggers.lists = List_Create(sizeof(TriggerList));
    if (!g_triggers.triggers) g_triggers.triggers = List_Create(sizeof(AnimTrigger));
    if (!g_triggers.instances) g_triggers.instances = List_Create(sizeof(TriggerInstance));
    if (!g_triggers.lists || !g_triggers.triggers || !g_triggers.instances) {
        Trigger_Shutdown();
        return 0;
    }
    return 1;
}

namespace {

int ReleaseList(void* item, void*)
{
    Trigger_ReleaseForSet(((TriggerList*)item)->set);
    return 0;
}

}  // namespace

void Trigger_Shutdown(void)
{
    if (g_triggers.lists) List_ForEach(g_triggers.lists, ReleaseList, nullptr);
    List_Destroy(g_triggers.lists);
    List_Destroy(g_triggers.triggers);
    List_Destroy(g_triggers.instances);
    g_triggers.lists = nullptr;
    g_triggers.triggers = nullptr;
    g_triggers.instances = nullptr;
}

void Trigger_SetRandom(int (*generator)(void)) { g_triggers.random = generator ? generator : rand; }

TriggerHandler Trigger_Parse(AnimSet* set, const char* name)
{
    if (!name || name[0] != '&' || !g_triggers.triggers || !g_triggers.typeNames[0]) return nullptr;
    const size_t length = strlen(name);
    if (length >= kNameMax) return nullptr;
    uint32_t type = 4;
    size_t prefix = 0;
    for (uint32_t t = 0; t < 4 && type == 4; t++) {
        const size_t n = strlen(g_triggers.typeNames[t]);
        if (strncmp(name + 1, g_triggers.typeNames[t], n) == 0 && name[1 + n] == '_') {
            type = t;
            prefix = n + 2;
        }
    }
    if (type == 4) return nullptr;

    TriggerList* list = ListOf(set, true);
    if (!list) return nullptr;
    const uint32_t key = Name_Hash(name, 1, 1);
    if (FindByKey(list, key)) return Trigger_Fire;

    char text[kNameMax];
    memcpy(text, name + prefix, length - prefix + 1);
    char* tokens[TRIGGER_MAX_TOKENS];
    int count = String_Tokenise(text, tokens, TRIGGER_MAX_TOKENS, ",");
    if (count > (int)TRIGGER_MAX_TOKENS) count = (int)TRIGGER_MAX_TOKENS;
    if (count < 1) return nullptr;
    for (int i = 0; i < count; i++) tokens[i] = Trim(tokens[i]);

    AnimTrigger* trigger = (AnimTrigger*)List_Alloc(g_triggers.triggers);
    if (!trigger) return nullptr;
    trigger->key = key;
    trigger->type = type;
    bool kept = false;
    switch (type) {
    case TRIGGER_SOUND: kept = ParseSound(trigger, tokens, count); break;
    case TRIGGER_PARTICLE: kept = ParseParticle(trigger, tokens, count); break;
    case TRIGGER_FLARE: kept = ParseFlare(trigger, tokens, count); break;
    default: kept = ParseRumble(trigger, tokens, count); break;
    }
    if (!kept) {
        FreeTrigger(trigger);
        return nullptr;
    }
    Append(list, trigger);
    return Trigger_Fire;
}

void Trigger_Fire(AnimSet* set, const char* name, Node* item, int32_t phase, float, float)
{
    AnimTrigger* trigger = FindByKey(ListOf(set, false), Name_Hash(name, 1, 1));
    if (!trigger) return;
    TriggerInstance* instance = trigger->instances;
    while (instance && instance->item != item) instance = instance->next;
    if (phase != 0) {
        if (instance) FreeInstance(trigger, instance);
        return;
    }
    if (!instance) {
        instance = (TriggerInstance*)List_Alloc(g_triggers.instances);
        if (!instance) return;
        instance->item = item;
        instance->trigger = trigger;
        instance->lastPosition = WorldPosition(item);
        instance->next = trigger->instances;
        trigger->instances = instance;
    }
    switch (trigger->type) {
    case TRIGGER_SOUND:
        // A second start of a running instance replaces its loop.
        StopInstance(instance);
        instance->sound =
            trigger->soundCount > 1 ? trigger->sounds[Random() % (int)trigger->soundCount] : trigger->sounds[0];
        instance->active = 1;
        instance->looping = trigger->flags & TRIGGER_LOOPING ? 1 : 0;
        instance->positionNode = trigger->flags & TRIGGER_2D ? nullptr : item;
        break;
    case TRIGGER_RUMBLE:
        for (int i = 0; i < 5; i++) instance->rumble[i] = trigger->rumble[i] < 0 ? 0 : trigger->rumble[i];
        break;
    default: break;
    }
    UpdateInstance(trigger, instance, 0.0f);
}

int Trigger_InstanceForSet(AnimSet* source, AnimSet* copy)
{
    TriggerList* from = ListOf(source, false);
    if (!from || !from->first) return 1;
    TriggerList* to = ListOf(copy, true);
    if (!to) return 0;
    for (AnimTrigger* t = from->first; t; t = t->next) {
        AnimTrigger* c = (AnimTrigger*)List_Alloc(g_triggers.triggers);
        if (!c) return 0;
        *c = *t;
        c->instances = nullptr;
        c->next = nullptr;
        for (uint32_t i = 0; i < c->soundCount; i++) TriggerSound_Get()->addRef(c->sounds[i]);
        c->particleSprite = t->particleSprite ? Sprite3d_Clone(t->particleSprite) : nullptr;
        c->flareSprite = t->flareSprite ? Sprite3d_Clone(t->flareSprite) : nullptr;
        Append(to, c);
    }
    return 1;
}

void Trigger_ReleaseForSet(AnimSet* set)
{
    TriggerList* list = ListOf(set, false);
    if (!list) return;
    while (AnimTrigger* t = list->first) {
        list->first = t->next;
        FreeTrigger(t);
    }
    List_Free(g_triggers.lists, list);
}

void Trigger_ResetForAnimSet(AnimSet* set)
{
    TriggerList* list = ListOf(set, false);
    for (AnimTrigger* t = list ? list->first : nullptr; t; t = t->next) FreeInstances(t);
}

void Trigger_UpdateAll(AnimSet* set, float dt)
{
    TriggerList* list = ListOf(set, false);
    for (AnimTrigger* t = list ? list->first : nullptr; t; t = t->next)
        for (TriggerInstance* in = t->instances; in; in = in->next) UpdateInstance(t, in, dt);
}

AnimTrigger* Trigger_Find(AnimSet* set, const char* name)
{
    return name ? FindByKey(ListOf(set, false), Name_Hash(name, 1, 1)) : nullptr;
}

AnimTrigger* Trigger_GetFirst(AnimSet* set)
{
    TriggerList* list = ListOf(set, false);
    return list ? list->first : nullptr;
}
