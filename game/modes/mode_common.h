// Small pieces every walking and creature mode uses: the current
// animation of slot 0 and its state, pressed buttons, the player's camera
// node, the entity's facing, turning about the vertical, and the splitting
// of animation event texts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/maths.h"

struct AiRoute;
struct AnimSet;
struct ConfigNode;
struct EntityRecord;
struct Node;
struct Object;
struct PlayerInputRecord;
struct Weapon;
struct WeaponList;

// Current animation id of slot 0; -1 without animation slots or before the
// first play.
int32_t Mode_Anim(const EntityRecord* record);
// 1 when slot 0 plays no longer (an entity without slots has always finished).
int Mode_AnimFinished(const EntityRecord* record);
// Plays id in slot 0 at once; the current id again changes nothing.
int Mode_Play(EntityRecord* record, int32_t id);
// Seconds of entity clock since slot 0's current animation began.
float Mode_AnimAge(const EntityRecord* record);

// Set in the current buttons (word 3) and clear in the previous (word 4).
int Mode_Pressed(const PlayerInputRecord* input, uint32_t button);
int Mode_Held(const PlayerInputRecord* input, uint32_t button);
// The frame time every mode steps by (the game context's capped one).
float Mode_FrameTime(void);

// The camera node of the player's viewport (player number + 1 as in the
// entity record; 0 or a player without a viewport: null).
Node* Mode_CameraFrame(uint32_t player);
// Slot 0's root orientation (where the modes keep their facing), else the
// object's node. Defaults (0, 0, 1) and (0, 1, 0).
void Mode_Facing(Object* object, const EntityRecord* record, Vec3* at, Vec3* up);
// Writes a facing to the object's node and to its body, so that the next
// physics step, which places the node from the body, keeps the turn.
void Mode_SetNodeFacing(Object* object, const Vec3* at, const Vec3* up);
// The body's position (0 without a body).
Vec3 Mode_BodyPosition(const Object* object);
// The vector turned about the world up by angle (positive turns +z towards -x).
Vec3 Mode_TurnAboutUp(const Vec3& v, float angle);
// up x at re-squared: a facing at perpendicular to up, both unit length.
// Nothing for degenerate input.
void Mode_SquareFacing(Vec3* at, Vec3* up);
// Unit vector, or zero for a zero (or nearly zero) vector.
Vec3 Mode_Unit(const Vec3& v);
float Mode_Length(const Vec3& v);
float Mode_HorizontalLength(const Vec3& v);
// 1 when every component is finite.
int Mode_IsFinite(const Vec3& v);

// ---- computer players ----
// The modes a player steers with the stick get a route slot for a
// computer-driven player: the stick a player would push to follow the
// route (ai_route.h) of the entity's configuration.

// Reads the route of the load pass's section: "controlData" with the
// route's defaults at pass 0, "controlData_<pass>" (the level's) after it.
void Mode_LoadRoute(ConfigNode* reader, AiRoute* route, Object* object, int32_t pass);
// The start of such a route slot. A creature a player took over gets the
// pad's input. Otherwise this frame's steering towards the route from the
// body's position: a world direction, x and z within -1..1, y the height
// difference (1). With no route to follow (0) a computer player's stick
// stays at rest and a scene entity does not move this frame, as in a mode
// without a route slot.
int Mode_SteerByRoute(AiRoute* route, Object* object, EntityRecord* record, PlayerInputRecord* input, Vec3* steering);
// The stick along a world direction for a mode whose stick pushes along the
// heading of the player's camera (the world's +z without a camera).
void Mode_StickAlong(PlayerInputRecord* input, const Vec3& direction, uint32_t player);

// Splits a copy of an event text at "," into at most MODE_EVENT_WORDS words
// (blanks around a word are cut). Returns the count; words point into copy.
constexpr int MODE_EVENT_WORDS = 6;
int Mode_SplitEvent(const char* text, char* copy, size_t size, char* words[MODE_EVENT_WORDS]);
// A word read as an integer; a word that is not a number reads 0.
int32_t Mode_WordNumber(const char* word);
// Reads a key event of the entity's animations: "Message,..." queues its
// object events for the record's player (0); "ProjType[,slot]" asks for a
// shot (1): *slot is the slot the event names when the list has that
// weapon, else the current weapon (-1: none), and *named says whether the
// event named a slot at all. Any other text: 0.
int Mode_ReadShotEvent(const EntityRecord* record, const char* event, WeaponList* weapons, int32_t* slot,
                       int* named);

// A FRAME_FOLLOW shot held until the animation that fired it ends.
struct ModeHeldShot {
    Object* projectile;
    AnimSet* set;
    Node* node;
};
// Fires the weapon for the object from an animation event's node (null:
// slot 0's root, else the object's node): a free projectile is spawned; the
// target's node (may be null) becomes its homing target, for any fire mode
// with anyMode, else for STRAIGHT and HOMING shots; a FRAME_FOLLOW shot is
// kept in the first free of the held entries (none free: not kept) and
// follows the event's node. Returns the launched shot, or null.
Object* Mode_FireWeapon(Object* object, EntityRecord* record, WeaponList* weapons, Weapon* weapon, AnimSet* set,
                        Node* item, Node* target, int anyMode, ModeHeldShot* held, int heldCount);
// Returns every held shot to the pool (Projectile_Release) and clears it.
void Mode_ReleaseShots(ModeHeldShot* held, int count, Object* owner);
