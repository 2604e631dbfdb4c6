// Entity animation slots, the view mask, the animation-name cache and the
// water and air-stream trigger volumes.
#include "game/entity_anim.h"

#include <cstring>

#include "common/hash.h"
#include "common/memory.h"
#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objectscene.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/entity.h"

namespace {

EntityAnimSlot* Slot(const EntityRecord* record, uint32_t slot)
{
    return record && slot < record->animSlotCount ? &record->animSlots[slot] : nullptr;
}

bool SameNames(const ControlDataCacheEntry& e, const char* const* names, uint32_t count)
{
    if (e.nameCount != count) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const char* a = e.names[i];
        const char* b = names[i];
        if (a == b) continue;
        if (!a || !b || strcmp(a, b) != 0) return false;
    }
    return true;
}

// The overlap of a trigger volume with an entity begins (event extra 0) or
// ends (1); the entity keeps the volume while the overlap lasts.
void TrackOverlap(Object* volume, Object** slot)
{
    if (ObjectCollision_GetEventType() != OBJECT_EVENT_OVERLAP) return;
    if (ObjectCollision_GetEventExtra() == 0)
        *slot = volume;
    else if (*slot == volume)
        *slot = nullptr;
}

}  // namespace

void Entity_SetViewMask(EntityRecord* record, uint32_t mask)
{
    if (!record || mask == record->viewMask) return;
    for (uint32_t i = 0; i < record->animSlotCount; ++i) {
        EntityAnimSlot* slot = &record->animSlots[i];
        if (!slot->root) continue;
        if (!(mask & slot->viewInMode))
            Node_SetFlags(slot->root, NODE_HIDDEN, 1);
        else if (slot->flags & ANIMSLOT_SHOWN)
            Node_SetFlags(slot->root, NODE_HIDDEN, 0);
    }
    record->viewMask = mask;
}

void Entity_ShowAnimSlots(EntityRecord* record, int show)
{
    if (!record) return;
    for (uint32_t i = 0; i < record->animSlotCount; ++i) {
        EntityAnimSlot* slot = &record->animSlots[i];
        if (show)
            slot->flags |= ANIMSLOT_SHOWN;
        else
            slot->flags &= ~ANIMSLOT_SHOWN;
        if (slot->root) Node_SetFlags(slot->root, NODE_HIDDEN, !show || !(record->viewMask & slot->viewInMode));
    }
}

int Entity_PlayAnim(EntityRecord* record, int32_t id, uint32_t slotIndex, float minInterval)
{
    EntityAnimSlot* slot = Slot(record, slotIndex);
    if (!slot) return 0;
    if (record->clock - slot->lastRequest < minInterval) return 0;
    slot->lastRequest = record->clock;
    if (id == slot->current) return 0;
    slot->current = id;
    slot->startTime = record->clock;
    if (!slot->root || !slot->set) return 0;
    int32_t index = id;
    if (slot->names) {
        if (id < 0 || (uint32_t)id >= slot->nameCount || !slot->names[id]) return 0;
        index = -1;
        for (uint32_t i = 0; i < AnimSet_GetCount(slot->set); ++i) {
            const char* name = AnimSet_GetName(slot->set, i);
            if (name && strcmp(name, slot->names[id]) == 0) {
                index = (int32_t)i;
                break;
            }
        }
        if (index < 0) return 0;
    }
    if (index < 0 || (uint32_t)index >= AnimSet_GetCount(slot->set)) return 0;
    // Each play starts the animation from its beginning; the set's current
    // animation (the one a fresh set starts with) is restarted in place.
    if (!AnimSet_PlayIndexFromStart(slot->set, index)) AnimSet_SetTime(slot->set, 0.0f);
    slot->flags |= ANIMSLOT_PLAYING;
    return 1;
}

AnimSet* Entity_GetAnimSlotValue(const EntityRecord* record, uint32_t slot)
{
    EntityAnimSlot* s = Slot(record, slot);
    return s ? s->set : nullptr;
}

Node* Entity_GetAnimObject(const EntityRecord* record, uint32_t slot)
{
    EntityAnimSlot* s = Slot(record, slot);
    return s ? s->root : nullptr;
}

int Entity_GetAnimRootOrientation(const EntityRecord* record, uint32_t slot, Vec3* at, Vec3* up)
{
    EntityAnimSlot* s = Slot(record, slot);
    if (!s || !s->root || !at || !up) return 0;
    Node_GetWorldOrientation(s->root, at, up);
    return 1;
}

int Entity_SetAnimRootOrientation(EntityRecord* record, uint32_t slot, const Vec3* at, const Vec3* up)
{
    EntityAnimSlot* s = Slot(record, slot);
    if (!s || !s->root || !at || !up) return 0;
    Node_SetWorldOrientation(s->root, at, up);
    return 1;
}

int Entity_SetAnimOffsetOrientation(EntityRecord* record, uint32_t slot, const Vec3* at, const Vec3* up)
{
    EntityAnimSlot* s = Slot(record, slot);
    if (!s || !s->offset || !at || !up) return 0;
    Node_SetOrientation(s->offset, at, up);
    return 1;
}

float Entity_GetAnimSlotFloat(const EntityRecord* record, uint32_t slot)
{
    EntityAnimSlot* s = Slot(record, slot);
    return s ? s->startTime : 0.0f;
}

// ---------------------------------------------------------------- Name cache

int ControlDataCache_Acquire(const char* const* names, uint32_t count, EntityRecord* record, uint32_t slotIndex)
{
    EntitySystem* system = EntitySystem_Get();
    EntityAnimSlot* slot = Slot(record, slotIndex);
    if (!system || !slot || slot->names || !names || count == 0) return 0;
    uint32_t key = 0;
    for (uint32_t i = 0; i < count; ++i) key += names[i] ? Name_Hash(names[i], 1, 1) : 0;
    for (uint32_t i = 0; i < system->cacheCount; ++i) {
        ControlDataCacheEntry& e = system->cache[i];
        if (e.key == key && SameNames(e, names, count)) {
            e.refCount++;
            slot->names = e.names;
            slot->nameCount = e.nameCount;
            return 1;
        }
    }
    if (system->cacheCount == system->cacheCapacity) {
        uint32_t capacity = system->cacheCapacity ? system->cacheCapacity * 2 : 8;
        size_t size = sizeof(ControlDataCacheEntry) * capacity;
        auto* grown = (ControlDataCacheEntry*)Mem_Realloc(system->cache, 8, size);
        if (!grown || Mem_GetSize(grown) < size) return 0;
        system->cache = grown;
        system->cacheCapacity = capacity;
    }
    const char** copy = (const char**)Mem_Alloc(sizeof(const char*) * count, 8);
    if (!copy) return 0;
    memcpy(copy, names, sizeof(const char*) * count);
    system->cache[system->cacheCount++] = {copy, count, key, 1};
    slot->names = copy;
    slot->nameCount = count;
    return 1;
}

void ControlDataCache_Release(const char* const* names)
{
    EntitySystem* system = EntitySystem_Get();
    if (!system || !names) return;
    for (uint32_t i = 0; i < system->cacheCount; ++i) {
        ControlDataCacheEntry& e = system->cache[i];
        if (e.names != names) continue;
        if (--e.refCount == 0) {
            Mem_Free(e.names);
            system->cache[i] = system->cache[--system->cacheCount];
        }
        return;
    }
}

void ControlDataCache_Clear(void)
{
    EntitySystem* system = EntitySystem_Get();
    if (!system) return;
    for (uint32_t i = 0; i < system->cacheCount; ++i) Mem_Free(system->cache[i].names);
    Mem_Free(system->cache);
    system->cache = nullptr;
    system->cacheCount = system->cacheCapacity = 0;
}

uint32_t ControlDataCache_Count(void)
{
    EntitySystem* system = EntitySystem_Get();
    return system ? system->cacheCount : 0;
}

// ---------------------------------------------------------------- Water and air streams

uint32_t Entity_Water_Constructor(Object* object, uint32_t, void*)
{
    Object_PlaceAtItemNode(object);
    PhysBody_SetPhantom(object->body, 1);
    object->collision = Entity_Water_Collision;
    Object_SetUserInt(object, WATER_USER_INT);
    return 0;
}

uint32_t Entity_AirStream_Constructor(Object* object, uint32_t, void*)
{
    Object_PlaceAtItemNode(object);
    PhysBody_ResetMotion(object->body, 0);
    PhysBody_SetPhantom(object->body, 1);
    object->collision = Entity_AirStream_Collision;
    Object_SetUserInt(object, AIRSTREAM_USER_INT);
    return 0;
}

uint32_t Entity_Water_Collision(Object* object, Object* other, uint32_t)
{
    EntityRecord* record = Entity_GetRecord(other);
    if (record && record->water) TrackOverlap(object, &record->water->water);
    return 0;
}

uint32_t Entity_AirStream_Collision(Object* object, Object* other, uint32_t)
{
    EntityRecord* record = Entity_GetRecord(other);
    if (record) TrackOverlap(object, &record->airStream);
    return 0;
}
