// Entity animation slots, the view mask, the shared animation-name cache,
// and the two phantom trigger objects that tell an entity it is in water or
// in an air stream.
//
// Animation slots follow the entity's body (entity.h) and are shown or
// hidden per viewport: before a viewport draws, each player entity gets a
// view mask, and a slot is drawn only when its "Anim%dViewInMode" shares a
// bit with it. Modes start animations by id; a slot that holds a name table
// from the cache plays by name, otherwise by index.
//
// The name cache shares one copy of a mode's animation-name table among all
// entities that use it; a copy lives until its last entity releases it or
// ControlDataCache_Clear runs (EntitySystem_Unload(1)).
#pragma once

#include <cstdint>

#include "common/maths.h"

struct AnimSet;
struct EntityRecord;
struct Node;
struct Object;

// Hides the animation slots whose ViewInMode shares no bit with the mask and
// shows the shown ones (ANIMSLOT_SHOWN) that share one; a slot that shares a
// bit but is not shown is left as it is. Nothing when the mask is the current
// one.
void Entity_SetViewMask(EntityRecord* record, uint32_t mask);
// Plays animation `id` in the slot unless less than minInterval of entity
// clock passed since the last request (0, the request time unchanged; a
// slot's first request is never refused). The
// request time is then updated; the current id again gives 0. Otherwise the
// id and its start time are stored first, then the animation starts by name
// (ids beyond the table, or without a name: 0) or by index. The set's result
// otherwise (1 started), and ANIMSLOT_PLAYING is set on success.
int Entity_PlayAnim(EntityRecord* record, int32_t id, uint32_t slot, float minInterval);
// Shows (ANIMSLOT_SHOWN set, node shown when the view mask allows) or hides
// every slot.
void Entity_ShowAnimSlots(EntityRecord* record, int show);

// Slot accessors: 0 / null for a bad slot.
AnimSet* Entity_GetAnimSlotValue(const EntityRecord* record, uint32_t slot);
Node* Entity_GetAnimObject(const EntityRecord* record, uint32_t slot);
// World at and up of the slot's root node; 0 for a bad slot or a null output.
int Entity_GetAnimRootOrientation(const EntityRecord* record, uint32_t slot, Vec3* at, Vec3* up);
int Entity_SetAnimRootOrientation(EntityRecord* record, uint32_t slot, const Vec3* at, const Vec3* up);
// Local at and up of the slot's offset node.
int Entity_SetAnimOffsetOrientation(EntityRecord* record, uint32_t slot, const Vec3* at, const Vec3* up);
// The current animation's start time (0.0 out of range).
float Entity_GetAnimSlotFloat(const EntityRecord* record, uint32_t slot);

// Gives the slot a shared copy of the table of `count` name pointers (the
// strings themselves are the caller's static ones). Nothing when the slot
// already has a table or is out of range. An entry is shared only when its
// key (the sum of the names' Name_Hash (name, 1, 1)), count and every name
// match. Returns 1 when the slot got a table.
int ControlDataCache_Acquire(const char* const* names, uint32_t count, EntityRecord* record, uint32_t slot);
// One reference less on the entry holding this table; the last frees it.
void ControlDataCache_Release(const char* const* names);
// Frees every entry.
void ControlDataCache_Clear(void);
// Number of live entries (for tests and statistics).
uint32_t ControlDataCache_Count(void);

// Named object callbacks. The constructors place the object at its scene
// item and make its body a phantom; the collision handlers record the
// volume in the overlapping entity while the overlap lasts (the event extra:
// 0 begin, 1 end), and leaving clears it only when it is this volume.
uint32_t Entity_Water_Constructor(Object* object, uint32_t zero, void* templateRecord);
uint32_t Entity_AirStream_Constructor(Object* object, uint32_t zero, void* templateRecord);
uint32_t Entity_Water_Collision(Object* object, Object* other, uint32_t side);
uint32_t Entity_AirStream_Collision(Object* object, Object* other, uint32_t side);
