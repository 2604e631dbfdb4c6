// Entity HUD, possession and queries.
//
// HUD: every player entity carries animated HUD items and HUD text lines read
// from section "HUD<layout>" of its HUD file. The layout number comes from
// the player's viewport index and the number of viewports, so each split of
// the screen has its own arrangement. HUD text slot n draws on screen-text
// line n of the player's viewport every frame (texts are added again each
// frame: a line that is not added is not drawn).
//
// Possession: a player can take over another entity in front of it (a
// larger kind word, no player of its own, a shared type bit) and later get
// its own entity back; while possessed, the holder is parked far away as a
// hidden phantom.
//
// Queries: the modes' AI and targeting search the entity pool with filters
// (mode, players, shared type bits, distance, elevation and heading arcs).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/maths.h"

struct ConfigNode;
struct EntityRecord;
struct EntityHudTextSlot;
struct Object;

constexpr uint32_t HUD_TEXT_SLOTS = 20;  // one per screen-text line

// ---------------------------------------------------------------- HUD

// Section number of a player's HUD: i = min(player, viewports - 1) (a count
// below 1 counts as 1); one viewport -> i, two -> i + 1, three or four -> i + 3.
uint32_t Hud_LayoutNumber(uint32_t player, uint32_t viewports);
// Reads section "HUD<layout>" of the HUD file: the "HudAnim%d" slots (the
// sets "HudAnim%d" of the HUD file, else of entityFile when given) and the
// "HudText%d" slots (up to HUD_TEXT_SLOTS; a cut is logged). Slots are
// appended to the record. 0 when the HUD file does not open.
int Hud_LoadConfig(const char* hudFile, EntityRecord* record, uint32_t layout, const char* entityFile);
// Frees the record's HUD slots (sets released, nodes destroyed).
void Hud_Free(EntityRecord* record);
// HUD text slot n, or null.
EntityHudTextSlot* Entity_GetHudSlot(EntityRecord* record, uint32_t n);
// HUD animation slot n's set and node; null beyond the count.
struct EntityHudAnimSlot* Entity_GetHudAnimSlot(EntityRecord* record, uint32_t n);
// For a player entity and a valid slot: shows the localised text of textId
// on the slot's line, or, for 0, the slot's own text when it has one.
void Entity_ShowText(EntityRecord* record, uint32_t slot, uint32_t textId);
// The literal text in the slot's place, scale, colour and font; "" puts an
// empty line (how modes clear a line).
void Entity_ShowTextString(EntityRecord* record, uint32_t slot, const char* text);

// ---------------------------------------------------------------- Possession

// The nearest entity this one can take over: a type bit shared with this
// entity's control mask, squared distance below 9.0, no player, a larger
// kind word, and in front (cosine to this entity's facing above 0.8). It is
// stored as the record's target and returned, or null.
Object* Entity_FindTakeOverTarget(Object* searcher);
// The holder's player takes control of the target (a larger kind and no
// player of its own, else 0): the player number moves, the target remembers
// the holder and its own clock, the holder is parked. 1 when taken over.
int Entity_TakeOver(Object* holder, Object* target);
// Hides the node, makes the body an active phantom and puts it at
// (-9999, 9999, -9999).
void Entity_Park(Object* object);
// The possessed entity gives its player back to the entity it was taken
// from, which is placed at the position and orientation, solid, at rest,
// active and shown. Nothing when it was not taken from anything.
void Entity_Release(Object* possessed, const Vec3* position, const Vec3* up, const Vec3* at);
// Puts the parked holder down beside the possessed entity and gives control
// back: refused (0) before 0.5 s of the possessed entity's clock; tries
// ahead of it, then turned a quarter, half and three quarters about up; when
// every place overlaps a body the holder is parked again and 0 returned.
int Entity_PlaceHeld(Object* holder, Object* possessed);

// Takes the entity out of play: phantom, inactive body (moved to position
// when place is 1), hidden node and slots, frozen.
void Entity_Hide(Object* object, int place, const Vec3* position);

// ---------------------------------------------------------------- Queries

constexpr uint32_t ENTITY_QUERY_ANY_MODE = 15;

enum : uint32_t {
    ENTITY_QUERY_PLAYERS = 0x1,       // players only
    ENTITY_QUERY_NON_PLAYERS = 0x2,   // non-players only
    ENTITY_QUERY_SHARED_TYPE = 0x4,   // a type bit shared with typeMask
    ENTITY_QUERY_PITCH_ARC = 0x8,     // within pitchArc of pitch
    ENTITY_QUERY_HEADING_ARC = 0x10,  // within headingArc of heading
};

struct EntityQuery {
    Object* self;        // skipped; its body position is the centre
    uint32_t mode;       // ENTITY_QUERY_ANY_MODE, or only entities in this control mode
    uint32_t bits;       // ENTITY_QUERY_*
    uint32_t typeMask;
    float maxDistance;   // candidates at or within this distance
    float pitch, pitchArc;      // radians: reference pitch (0 up, pi down) and half-width
    float heading, headingArc;  // radians
};

struct EntityQueryHit {
    Object* object;
    float distanceSq;
};

// 1 when the candidate passes the filter (never the searching object, an
// object without a body or record, or an entity with ENTITY_NO_QUERY); its
// squared distance in *distanceSq (may be null).
int Entity_QueryTest(const EntityQuery* query, Object* candidate, float* distanceSq);
// Up to capacity matches, nearest first; returns their count.
int Entity_Query(const EntityQuery* query, EntityQueryHit* out, int capacity);
// The nearest match and its distance (may be null), or null.
Object* Entity_QueryNearest(const EntityQuery* query, float* distance);

// ---------------------------------------------------------------- Orientation

// Both rebuild up perpendicular to the new at (side = up x at, up = at x
// side) and do nothing when at already equals the target (or the target is
// zero). The first moves at by factor of the way to the target direction;
// the second turns it towards the target by at most maxAngle radians.
void Orient_LerpAt(Vec3* at, Vec3* up, const Vec3* target, float factor);
void Orient_TurnAt(Vec3* at, Vec3* up, const Vec3* target, float maxAngle);
