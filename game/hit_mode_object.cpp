// Hit-mode objects, the shared object event queue, clipping, cut-scenes and
// proximity collection.
#include "game/hit_mode_object.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/config.h"
#include "common/hash.h"
#include "common/memory.h"
#include "engine/animset.h"
#include "engine/callbacks.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objectscene.h"
#include "engine/objecttemplate.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physworld.h"
#include "engine/scene.h"
#include "game/entity.h"
#include "game/game_log.h"
#include "game/level_session.h"
#include "game/phys_utils.h"
#include "game/viewports.h"

namespace {

constexpr uint32_t kNoCollisions = 0x80000000u;
// Deactivation keeps only in-world, finished, hidden and clipped.
constexpr uint32_t kDeactivateClears = 7679;
constexpr uint32_t kWatchBits = 0x20 | 0x40 | 0x80 | 0x100;
constexpr uint32_t kRequests = HITSTATE_ACTIVATE_REQUEST | HITSTATE_DEACTIVATE_REQUEST;

struct PlayerObject {
    Object* object;
    uint32_t serial;
};

template <typename T>
bool Grow(T** array, uint32_t* capacity, uint32_t needed)
{
    if (needed <= *capacity) return true;
    uint32_t next = *capacity ? *capacity * 2 : 8;
    while (next < needed) next *= 2;
    size_t size = sizeof(T) * next;
    T* grown = (T*)Mem_Realloc(*array, 8, size);
    if (!grown || Mem_GetSize(grown) < size) return false;
    *array = grown;
    *capacity = next;
    return true;
}

struct VavadShared {
    uint32_t liveCount;
    ObjectEventEntry* queue;
    uint32_t queueCount, queueCapacity;
    Object** magnets;
    uint32_t magnetCount, magnetCapacity;
    PlayerObject* players;
    uint32_t playerCount, playerCapacity;
    float unclippedSq, clippedSq, vertical, visualSq;
};

VavadShared* g_shared = nullptr;

void SetDefaultDistances()
{
    g_shared->unclippedSq = 10.0f * 10.0f;
    g_shared->clippedSq = 20.0f * 20.0f;
    g_shared->vertical = 17.0f;
    g_shared->visualSq = 50.0f * 50.0f;
}

// A value v of a mask key sets bit v - 1 for v in 1..32; others are logged.
void AddMaskBit(uint32_t* mask, int64_t v, const char* what)
{
    if (v >= 1 && v <= 32)
        *mask |= 1u << (v - 1);
    else
        GameLog_Printf("hit-mode object: %s value %lld is not 1..32; no bit set", what, (long long)v);
}

void Hold(const HitModeRecord* record, int player, int hold)
{
    Object* entity = Level_GetPlayerEntity(player);
    if (!entity) return;
    if (record->holdByFlag)
        Entity_SetFlags(Entity_GetRecord(entity), ENTITY_HELD, hold);
    else
        Entity_SetPhysicsActive(entity, hold);
}

void ReleaseWatchers(HitModeRecord* record)
{
    for (int p = 0; p < GAME_LEVEL_PLAYERS; ++p)
        if (record->state & (HITSTATE_WATCHED << p)) Hold(record, p, 0);
}

void Watch(HitModeRecord* record, int32_t index, uint32_t player)
{
    if (player < 1 || player > GAME_LEVEL_PLAYERS || index < 0 || index >= 32) return;
    if (record->watchMask & (1u << index)) record->state |= HITSTATE_WATCHED << (player - 1);
}

int PlayIndex(Object* object, HitModeRecord* record, int32_t index, int fromStart, uint32_t player)
{
    AnimSet* set = object->animSet;
    if (!set || index < 0 || (uint32_t)index >= AnimSet_GetCount(set)) return 0;
    if (fromStart) {
        if (!AnimSet_PlayIndexFromStart(set, index)) AnimSet_SetTime(set, 0.0f);
    } else {
        AnimSet_PlayIndex(set, index);
    }
    Watch(record, index, player);
    return 1;
}

// The targets' events for a hit or the end of an animation.
void TriggerTargets(const HitModeRecord* record, uint32_t player)
{
    for (int i = 0; i < 4; ++i) {
        if (!record->targets[i]) continue;
        bool on = (record->options & (HITMODE_TARGET_ACTIVATES << i)) != 0;
        if (record->options & HITMODE_SHOW_HIDE)
            ObjectEvent_Queue(record->targets[i], OBJECT_EVENT_HIDE, on ? 0 : 1, player);
        else
            ObjectEvent_Queue(record->targets[i], on ? OBJECT_EVENT_ACTIVATE : OBJECT_EVENT_DEACTIVATE, 1, player);
    }
}

void RefreshVisibility(Object* object, const HitModeRecord* record)
{
    if (object->node) Node_SetFlags(object->node, NODE_HIDDEN, (record->state & HITSTATE_HIDDEN) ? 1 : 0);
}

void Unclip(Object* object, HitModeRecord* record)
{
    if (!(record->state & HITSTATE_CLIPPED)) return;
    record->state &= ~HITSTATE_CLIPPED;
    if (!(record->state & HITSTATE_ACTIVE)) {
        record->state |= HITSTATE_ACTIVE;
        HitModeObject_SetState(object, 0);
    }
}

void Clip(Object* object, HitModeRecord* record)
{
    if (record->state & HITSTATE_CLIPPED) return;
    record->state |= HITSTATE_CLIPPED;
    if ((record->state & HITSTATE_ACTIVE) && !(record->state & kRequests)) HitModeObject_SetState(object, 0);
}

int Advance(Object* object, float dt)
{
    if (!object->animSet) return 1;
    return AnimSet_Advance(object->animSet, dt, ANIMSET_ADVANCE_SCENE) ? 0 : 1;
}

// The events of the queue for this object; every live object lowers each
// entry's count once, and an entry leaves when every one has seen it.
void VisitQueue(Object* object, HitModeRecord* record, bool act)
{
    for (uint32_t i = 0; i < g_shared->queueCount;) {
        ObjectEventEntry e = g_shared->queue[i];
        if (act && e.group == record->groupHash) {
            if (e.value)
                record->state |= e.bits;
            else
                record->state &= ~e.bits;
            if ((e.bits & OBJECT_EVENT_ACTIVATE) && e.value)
                record->state |= HITSTATE_EVENT_ACTIVATED | HITSTATE_ACTIVE;
            HitModeObject_SetState(object, e.player);
            HitModeObject_SetState(object, e.player);
        }
        if (--g_shared->queue[i].framesLeft == 0) {
            // The last entry moves into this place and is looked at next.
            g_shared->queue[i] = g_shared->queue[--g_shared->queueCount];
            continue;
        }
        ++i;
    }
}

// Cut-scene: the animation's camera moves the watchers' cameras; watchers
// are held; a watcher's button 16 may end the animation.
bool CutScene(Object* object, HitModeRecord* record)
{
    uint32_t watchers = (record->state & kWatchBits) >> 5;
    if (!watchers || !object->animSet) return false;
    Scene* scene = AnimSet_GetCurrentScene(object->animSet);
    float fov = 0.0f;
    Node* camera = scene ? Scene_GetCamera(scene, 0, &fov) : nullptr;
    if (record->options & HITMODE_CUT_FLAG) Level_SetFlags(LEVEL_SKIP_PHYSICS, 1);
    if (record->options & HITMODE_CUT_EVENT) Level_RaiseEvents(LEVEL_EVENT_FREEZE);
    int count = 0;
    bool skip = false;
    for (int p = 0; p < GAME_LEVEL_PLAYERS; ++p) {
        if (!(watchers & (1u << p))) continue;
        count++;
        if (camera) {
            Viewport_LookFrom(p, camera);
            if (fov > 0.0f) Player_SetWorldFov(p, fov);
        }
        Hold(record, p, 1);
        const PlayerInputRecord* input = Player_GetInputRecord(p);
        if (input && (input->buttons & 16) && !(input->oldButtons & 16)) skip = true;
    }
    bool allowed = count == 1 ? (record->options & HITMODE_SKIP_ONE) : (record->options & HITMODE_SKIP_SEVERAL);
    if (skip && allowed) {
        AnimSet_SetTime(object->animSet, AnimSet_GetLength(object->animSet));
        return true;
    }
    return false;
}

// Body-less objects are collected by the player objects that come within 1.0.
void CollectByProximity(Object* object)
{
    Vec3 p = {0, 0, 0};
    Object_GetTransform(object, &p, nullptr, nullptr);
    if (p.x == 0.0f && p.y == 0.0f && p.z == 0.0f) return;
    for (uint32_t i = 0; i < g_shared->playerCount; ++i) {
        Object* player = g_shared->players[i].object;
        if (Object_GetSerial(player) != g_shared->players[i].serial || !player->collision) continue;
        Vec3 q = {0, 0, 0};
        Object_GetTransform(player, &q, nullptr, nullptr);
        if (q.x == 0.0f && q.y == 0.0f && q.z == 0.0f) continue;
        if (!(Vec3_DistanceSq(&p, &q) < 1.0f)) continue;
        // No event is under way: the callback must not read the last one.
        ObjectCollision_ClearEvent();
        player->collision(player, object, 0);
        if (!HitModeObject_GetRecord(object)) return;
    }
}

}  // namespace

// ---------------------------------------------------------------- Shared record

int VavadUtils_Register(void)
{
    if (g_shared) return 1;
    g_shared = (VavadShared*)Mem_Calloc(sizeof(VavadShared), 16);
    if (!g_shared) return 0;
    SetDefaultDistances();
    CallbackRegistry_AddFn("VavadUtils_HitModeObject_Constructor", VavadUtils_HitModeObject_Constructor);
    CallbackRegistry_AddFn("VavadUtils_HitModeObject_Destructor", VavadUtils_HitModeObject_Destructor);
    CallbackRegistry_AddFn("VavadUtils_HitModeObject_Update", VavadUtils_HitModeObject_Update);
    VavadUtils_RegisterPhysicsObjects();
    return 1;
}

void VavadUtils_Shutdown(void)
{
    if (!g_shared) return;
    HitModeObject_FreeConfig();
    Mem_Free(g_shared->queue);
    Mem_Free(g_shared);
    g_shared = nullptr;
}

void HitModeObject_LoadConfig(void)
{
    if (!g_shared) return;
    g_shared->liveCount = 0;
    g_shared->queueCount = 0;
    SetDefaultDistances();
    ConfigNode* reader = Config_Open("HitModeObject.cfg");
    if (!reader) return;
    Config_SetSection(reader, "HitModeObject");
    float v;
    if (Config_GetFloat(reader, "objectUnclippedDist", &v)) g_shared->unclippedSq = v * v;
    if (Config_GetFloat(reader, "objectClippedDist", &v)) g_shared->clippedSq = v * v;
    Config_GetFloat(reader, "objectVerticalClippedDist", &g_shared->vertical);
    if (Config_GetFloat(reader, "visualClipDist", &v)) g_shared->visualSq = v * v;
    Config_Close(reader);
}

void HitModeObject_FreeConfig(void)
{
    if (!g_shared) return;
    Mem_Free(g_shared->magnets);
    g_shared->magnets = nullptr;
    g_shared->magnetCount = g_shared->magnetCapacity = 0;
    Mem_Free(g_shared->players);
    g_shared->players = nullptr;
    g_shared->playerCount = g_shared->playerCapacity = 0;
}

void VavadUtils_AddPlayerObject(Object* object)
{
    if (!g_shared || !object) return;
    for (uint32_t i = 0; i < g_shared->playerCount; ++i)
        if (g_shared->players[i].object == object) return;
    if (!Grow(&g_shared->players, &g_shared->playerCapacity, g_shared->playerCount + 1)) return;
    g_shared->players[g_shared->playerCount++] = {object, Object_GetSerial(object)};
}

uint32_t HitModeObject_GetLiveCount(void) { return g_shared ? g_shared->liveCount : 0; }

void HitModeObject_GetClipDistances(float* unclippedSq, float* clippedSq, float* vertical, float* visualSq)
{
    if (!g_shared) return;
    if (unclippedSq) *unclippedSq = g_shared->unclippedSq;
    if (clippedSq) *clippedSq = g_shared->clippedSq;
    if (vertical) *vertical = g_shared->vertical;
    if (visualSq) *visualSq = g_shared->visualSq;
}

void VavadUtils_AddMagnet(Object* magnet)
{
    if (!g_shared || !magnet) return;
    if (!Grow(&g_shared->magnets, &g_shared->magnetCapacity, g_shared->magnetCount + 1)) return;
    g_shared->magnets[g_shared->magnetCount++] = magnet;
}

void VavadUtils_RemoveMagnet(Object* magnet)
{
    if (!g_shared) return;
    for (uint32_t i = 0; i < g_shared->magnetCount; ++i) {
        if (g_shared->magnets[i] != magnet) continue;
        memmove(&g_shared->magnets[i], &g_shared->magnets[i + 1], sizeof(Object*) * (g_shared->magnetCount - i - 1));
        g_shared->magnetCount--;
        return;
    }
}

uint32_t VavadUtils_GetMagnetCount(void) { return g_shared ? g_shared->magnetCount : 0; }

Object* VavadUtils_GetMagnet(uint32_t i)
{
    return g_shared && i < g_shared->magnetCount ? g_shared->magnets[i] : nullptr;
}

// ---------------------------------------------------------------- Events

uint32_t ObjectEvent_GroupHash(const char* group) { return group ? Name_Hash(group, 1, 1) : 0; }

int ObjectEvent_Queue(uint32_t group, uint32_t bits, uint32_t value, uint32_t player)
{
    if (!g_shared || g_shared->liveCount == 0) return 0;
    for (uint32_t i = 0; i < g_shared->queueCount; ++i) {
        const ObjectEventEntry& e = g_shared->queue[i];
        if (e.group == group && e.bits == bits && e.value == value && e.player == player) return 0;
    }
    if (!Grow(&g_shared->queue, &g_shared->queueCapacity, g_shared->queueCount + 1)) return 0;
    g_shared->queue[g_shared->queueCount++] = {group, g_shared->liveCount, bits, value, player};
    return 1;
}

int ObjectEvent_ParseMessage(const char* const* words, int count, uint32_t defaultPlayer)
{
    if (!words || count < 4 || !words[1] || !words[2]) return 0;
    uint32_t player = (uint32_t)atoi(words[1]);
    if (!player) player = defaultPlayer;
    uint32_t bits;
    if (strcmp(words[2], "activate") == 0)
        bits = OBJECT_EVENT_ACTIVATE;
    else if (strcmp(words[2], "deactivate") == 0)
        bits = OBJECT_EVENT_DEACTIVATE;
    else
        return 0;
    int queued = 0;
    for (int i = 3; i < count; ++i)
        if (words[i]) queued += ObjectEvent_Queue(ObjectEvent_GroupHash(words[i]), bits, 1, player);
    return queued;
}

uint32_t ObjectEvent_GetCount(void) { return g_shared ? g_shared->queueCount : 0; }

const ObjectEventEntry* ObjectEvent_Get(uint32_t i)
{
    return g_shared && i < g_shared->queueCount ? &g_shared->queue[i] : nullptr;
}

// ---------------------------------------------------------------- Objects

HitModeRecord* HitModeObject_GetRecord(const Object* object)
{
    if (!object || Object_GetUserInt(object) != HITMODE_USER_INT) return nullptr;
    return (HitModeRecord*)Object_GetUserData(object);
}

int HitModeObject_TestHit(Object* object, float impactSpeed, uint32_t player, uint32_t typeMask)
{
    HitModeRecord* r = HitModeObject_GetRecord(object);
    if (!r || (r->state & HITSTATE_CLIPPED)) return 0;
    if ((Level_GetEvents() & (LEVEL_EVENT_RESPAWN | LEVEL_EVENT_AFTER_RESPAWN)) &&
        ObjectCollision_GetEventType() == OBJECT_EVENT_OVERLAP && ObjectCollision_GetEventExtra() == 1)
        return 0;
    if (r->hitMask && !(r->hitMask & typeMask)) return 0;
    if (!(r->state & HITSTATE_ACTIVE) || (r->state & kRequests)) return 0;
    if (!(impactSpeed > r->threshold)) return 0;
    if (r->options & HITMODE_HIT_DEACTIVATES) {
        if (!(r->state & HITSTATE_DEACTIVATE_REQUEST)) {
            r->state |= HITSTATE_DEACTIVATE_REQUEST;
            HitModeObject_SetState(object, player);
            HitModeObject_SetState(object, player);
        }
    }
    if (r->options & HITMODE_HIT_STEPS) {
        if (!(r->state & HITSTATE_STEPPED)) {
            int32_t next = AnimSet_GetCurrentIndex(object->animSet) + 1;
            PlayIndex(object, r, next, 1, player);
            r->state |= HITSTATE_STEPPED;
        }
    }
    if (r->options & HITMODE_TRIGGER_ON_HIT) {
        if (r->options & HITMODE_TRIGGER_AT_END) {
            r->state |= HITSTATE_TRIGGER_PENDING;
            r->player = player;
        } else {
            TriggerTargets(r, player);
        }
    }
    return 1;
}

void HitModeObject_SetState(Object* object, uint32_t player)
{
    HitModeRecord* r = HitModeObject_GetRecord(object);
    if (!r) return;
    if ((r->state & HITSTATE_ACTIVE) && !(r->state & HITSTATE_CLIPPED)) {
        bool newActivation = (r->state & HITSTATE_ACTIVATE_REQUEST) &&
                             !(r->lastState & (HITSTATE_ACTIVATE_REQUEST | HITSTATE_EVENT_ACTIVATED));
        if (newActivation && object->animSet) {
            PlayIndex(object, r, 0, 1, player);
            if (r->options & HITMODE_SWITCH_ON_ACTIVATE) {
                r->state |= HITSTATE_SWITCH_AT_END;
                r->chosen = 1;
            } else {
                r->state &= ~HITSTATE_ACTIVATE_REQUEST;
            }
            r->state &= ~HITSTATE_STEPPED;
        }
        bool newDeactivation = (r->state & HITSTATE_DEACTIVATE_REQUEST) && !(r->lastState & HITSTATE_DEACTIVATE_REQUEST);
        if (newDeactivation) {
            uint32_t count = object->animSet ? AnimSet_GetCount(object->animSet) : 0;
            if ((r->options & HITMODE_DEACTIVATE_PLAYS) && count) {
                PlayIndex(object, r, (int32_t)count - 1, 1, player);
                r->state |= HITSTATE_DEACTIVATE_AT_END;
            } else {
                r->state &= ~HITSTATE_ACTIVE;
            }
        }
    }
    if ((r->state & HITSTATE_ACTIVE) && !(r->state & HITSTATE_CLIPPED))
        HitModeObject_Activate(object, r);
    else
        HitModeObject_Deactivate(object, r);
    r->lastState = r->state;
}

void HitModeObject_Activate(Object* object, HitModeRecord* r)
{
    if (!object || !r || (r->state & HITSTATE_IN_WORLD)) return;
    if (object->node) Node_SetFlags(object->node, NODE_HIDDEN, 0);
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    if (PhysBody* body = object->body) {
        if (!(object->flags & OBJECT_STATIC)) {
            PhysWorld_AddBody(world, body, &r->position, &r->at, &r->up);
            PhysBody_SetActive(body, 1);
            PhysBody_SetCollisionGroup(body, object->collisionGroup);
        }
        if (!(object->flags & OBJECT_NO_PICK)) PhysWorld_RegisterBodyEvents(world, body);
    }
    memcpy(r->values, r->startValues, sizeof r->values);
    r->state |= HITSTATE_IN_WORLD;
}

void HitModeObject_Deactivate(Object* object, HitModeRecord* r)
{
    if (!object || !r || !(r->state & HITSTATE_IN_WORLD)) return;
    if (object->node) Node_SetFlags(object->node, NODE_HIDDEN, 1);
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    if (PhysBody* body = object->body) {
        if (!(object->flags & OBJECT_STATIC)) {
            PhysWorld_RemoveBody(world, body);
            PhysBody_SetCollisionGroup(body, kNoCollisions);
            PhysBody_SetActive(body, 0);
        }
        if (!(object->flags & OBJECT_NO_PICK)) PhysWorld_UnregisterBodyEvents(world, body);
    }
    r->state &= ~HITSTATE_IN_WORLD;
    ReleaseWatchers(r);
    r->state &= ~kDeactivateClears;
}

uint32_t HitModeObject_GetTypeHash(const Object* object)
{
    HitModeRecord* r = HitModeObject_GetRecord(object);
    return r ? r->typeHash : 0;
}

float HitModeObject_GetValue(const Object* object, uint32_t i)
{
    HitModeRecord* r = HitModeObject_GetRecord(object);
    return r && i < 5 ? r->values[i] : 0.0f;
}

int HitModeObject_TestState(const Object* object, uint32_t bits)
{
    HitModeRecord* r = HitModeObject_GetRecord(object);
    return r && (r->state & bits) ? 1 : 0;
}

void HitModeObject_SetStateBits(Object* object, uint32_t bits, int on)
{
    HitModeRecord* r = HitModeObject_GetRecord(object);
    if (!r) return;
    if (on)
        r->state |= bits;
    else
        r->state &= ~bits;
}

int HitModeObject_PlayIndex(Object* object, int32_t index, int fromStart, uint32_t player)
{
    HitModeRecord* r = HitModeObject_GetRecord(object);
    return r ? PlayIndex(object, r, index, fromStart, player) : 0;
}

int HitModeObject_PlayNamed(Object* object, const char* name)
{
    if (!HitModeObject_GetRecord(object) || !object->animSet || !name) return 0;
    return AnimSet_Play(object->animSet, name);
}

int32_t HitModeObject_GetAnimIndex(const Object* object)
{
    return HitModeObject_GetRecord(object) && object->animSet ? AnimSet_GetCurrentIndex(object->animSet) : -1;
}

int32_t HitModeObject_GetStandingIndex(const Object* object)
{
    return HitModeObject_GetAnimCount(object) ? HitModeObject_GetAnimIndex(object) : 0;
}

int HitModeObject_ByProximity(void)
{
    return !ObjectCollision_InContact() && ObjectCollision_GetEventType() == OBJECT_EVENT_NONE;
}

uint32_t HitModeObject_GetAnimCount(const Object* object)
{
    return HitModeObject_GetRecord(object) && object->animSet ? AnimSet_GetCount(object->animSet) : 0;
}

float HitModeObject_GetAnimLength(const Object* object)
{
    return HitModeObject_GetRecord(object) && object->animSet ? AnimSet_GetLength(object->animSet) : 0.0f;
}

void HitModeObject_ChooseNext(Object* object, int32_t index)
{
    HitModeRecord* r = HitModeObject_GetRecord(object);
    if (!r || index < 0 || (uint32_t)index >= HitModeObject_GetAnimCount(object)) return;
    r->chosen = index;
    r->state |= HITSTATE_SWITCH_AT_END;
}

// ---------------------------------------------------------------- Callbacks

uint32_t VavadUtils_HitModeObject_Constructor(Object* object, uint32_t, void* arg)
{
    auto* t = (ObjectTemplate*)arg;
    auto* r = (HitModeRecord*)Mem_Calloc(sizeof(HitModeRecord), 16);
    if (!r || !object) {
        Mem_Free(r);
        return 0;
    }
    // The object stands at its scene item; instances made from one file
    // would otherwise share the first one's place.
    Node* item = ObjectScene_GetCurrentItemNode();
    Object_PlaceAtItemNode(object);
    if (t) {
        r->typeHash = Name_Hash(t->stringVal[0], 1, 1);
        const char* itemName = item ? Node_GetNameText(item) : nullptr;
        size_t length = itemName ? strlen(itemName) : 0;
        if (length > 3 && itemName[0] == '_') {
            char group[TEMPLATE_STRING_MAX + 256];
            snprintf(group, sizeof group, "%s%.*s", t->stringVal[1], (int)(length - 3), itemName);
            r->groupHash = ObjectEvent_GroupHash(group);
        } else {
            r->groupHash = ObjectEvent_GroupHash(t->stringVal[1]);
        }
        for (int i = 0; i < 4; ++i) r->targets[i] = t->stringVal[2 + i][0] ? ObjectEvent_GroupHash(t->stringVal[2 + i]) : 0;
        r->threshold = t->fpVal[0];
        for (int i = 0; i < 5; ++i) r->values[i] = r->startValues[i] = t->fpVal[1 + i];
        for (int i = 0; i < 10; ++i) {
            if (t->u32Val[i]) AddMaskBit(&r->watchMask, t->u32Val[i], "U32Val (watch mask)");
            if (t->s32Val[i] > 0) AddMaskBit(&r->hitMask, t->s32Val[i], "S32Val (hit mask)");
        }
        for (int b = 1; b <= 12; ++b)
            if (ObjectTemplate_GetBool(t, b)) r->options |= 1u << (b - 1);
        r->holdByFlag = ObjectTemplate_GetBool(t, 13) ? 1 : 0;
        for (int i = 0; i < 4; ++i)
            if (ObjectTemplate_GetBool(t, 22 + i)) r->options |= HITMODE_TARGET_ACTIVATES << i;
        if (!ObjectTemplate_GetBool(t, 0)) r->state |= HITSTATE_ACTIVE;
    } else {
        r->state |= HITSTATE_ACTIVE;
    }
    Object_SetUserData(object, r);
    Object_SetUserInt(object, HITMODE_USER_INT);
    if (object->animSet) AnimSet_SetObject(object->animSet, object);
    r->position = {0, 0, 0};
    r->at = {0, 0, 1};
    r->up = {0, 1, 0};
    Object_GetTransform(object, &r->position, &r->up, &r->at);
    HitModeObject_Activate(object, r);
    r->startState = r->state;
    HitModeObject_SetState(object, 0);
    if (g_shared) g_shared->liveCount++;
    return 0;
}

uint32_t VavadUtils_HitModeObject_Destructor(Object* object, uint32_t, void*)
{
    HitModeRecord* r = HitModeObject_GetRecord(object);
    if (!r) return 0;
    Object_SetUserData(object, nullptr);
    Mem_Free(r);
    if (g_shared && g_shared->liveCount) g_shared->liveCount--;
    return 0;
}

uint32_t VavadUtils_HitModeObject_Update(Object* object, uint32_t, void* arg)
{
    HitModeRecord* r = HitModeObject_GetRecord(object);
    if (!r || !arg || !g_shared) return 0;
    const float dt = *(const float*)arg;
    const uint32_t events = Level_GetEvents();

    if (events & LEVEL_EVENT_RESPAWN) {
        HitModeObject_Deactivate(object, r);
        r->state = r->startState & ~HITSTATE_IN_WORLD;
        r->lastState = 0;
        if (object->animSet) {
            AnimSet_PlayIndex(object->animSet, 0);
            AnimSet_SetTime(object->animSet, 0.0f);
        }
        HitModeObject_SetState(object, 0);
    }

    VisitQueue(object, r, !(r->state & HITSTATE_CLIPPED));

    if (!object->animSet && (r->state & HITSTATE_DEACTIVATE_AT_END)) HitModeObject_Deactivate(object, r);

    bool ended = false;
    if (r->state & (HITSTATE_ACTIVE | HITSTATE_CLIPPED)) {
        if ((events & LEVEL_EVENT_FREEZE) && !(r->state & kWatchBits)) {
            RefreshVisibility(object, r);
        } else if ((r->options & HITMODE_CLIPPING) && !(r->state & HITSTATE_HIDDEN)) {
            Node* camera = Viewport_GetFirstCameraFrame();
            Vec3 c = {0, 0, 0}, p = {0, 0, 0};
            if (camera) Node_GetWorldPosition(camera, &c);
            Object_GetTransform(object, &p, nullptr, nullptr);
            float d2 = camera ? Vec3_DistanceSq(&c, &p) : 0.0f;
            float dy = p.y - c.y;
            if (dy < 0.0f) dy = -dy;
            bool refresh = true;
            if (d2 < g_shared->unclippedSq) {
                Unclip(object, r);
            } else if (d2 <= g_shared->clippedSq) {
                if (dy > g_shared->vertical) {
                    Clip(object, r);
                    refresh = false;
                } else if (object->node && Node_IsCulled(object->node)) {
                    Clip(object, r);
                } else {
                    Unclip(object, r);
                }
            } else {
                Clip(object, r);
                refresh = d2 <= g_shared->visualSq;
            }
            if (!(r->state & HITSTATE_CLIPPED)) ended = Advance(object, dt) != 0;
            if (refresh) RefreshVisibility(object, r);
        } else {
            // A hidden object's animation counts as still playing.
            bool done = Advance(object, dt) != 0;
            ended = !(r->state & HITSTATE_HIDDEN) && done;
            RefreshVisibility(object, r);
        }
    }

    if (!(r->state & HITSTATE_CLIPPED) && CutScene(object, r)) ended = true;

    r->state &= ~HITSTATE_FINISHED;
    if (ended) {
        r->state |= HITSTATE_FINISHED;
        if (r->state & HITSTATE_TRIGGER_PENDING) {
            r->state &= ~HITSTATE_TRIGGER_PENDING;
            TriggerTargets(r, r->player);
        }
        if (r->state & HITSTATE_DEACTIVATE_AT_END) {
            HitModeObject_Deactivate(object, r);
        } else if (r->state & HITSTATE_SWITCH_AT_END) {
            r->state &= ~HITSTATE_SWITCH_AT_END;
            if (r->state & HITSTATE_DEACTIVATE_REQUEST) r->state &= ~HITSTATE_ACTIVE;
            PlayIndex(object, r, r->chosen, 1, 0);
        }
        ReleaseWatchers(r);
        r->state &= ~(kRequests | kWatchBits);
        HitModeObject_SetState(object, 0);
    }

    if (!object->body && (r->state & HITSTATE_ACTIVE) && !(r->state & (HITSTATE_CLIPPED | kRequests)))
        CollectByProximity(object);
    return 0;
}
