// Projectiles and weapon lists. Entities fire from a weapon list that their
// mode loads from its "<section>::projectiles" keys ("ProjType<N>Config" and
// friends). Projectiles are engine objects (user integer 23) of the level's
// projectile pool, made in advance per projectile type: a shot takes a free
// one, is launched from a position and orientation, flies by its fire mode
// (projectile_modes.h), plays its named animations "fired", "inAir",
// "onGround", "hittarget" and "expire", and returns to the pool when it
// hits, expires or is withdrawn. What a hit does is decided by the entity
// that is hit, from the projectile's hit type and four values.
//
// A projectile's life: in the pool (not in use, out of the world) ->
// spawned -> launched ("fired" plays without collisions) -> flying
// ("inAir"/"onGround") -> hit ("hittarget") or expired ("expire") -> back
// in the pool when that animation ends.
//
// Lifetime: the registry (its clock, the launch block) lives from
// Projectile_Register to Projectile_Shutdown, the level state's entry and
// exit, and its clock runs on across levels; the pool and the type list live
// from Projectile_CreatePool to Projectile_DestroyPool, one level.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/maths.h"
#include "game/projectile_modes.h"

struct AnimSet;
struct ConfigNode;
struct List;
struct Node;
struct Object;
struct PhysBody;
struct WeaponList;

constexpr uint32_t PROJECTILE_USER_INT = 23;
constexpr uint32_t PROJECTILE_MAX_INSTANCES = 256;

// Projectile flags.
enum : uint32_t {
    PROJ_IN_USE = 1,
    PROJ_FOLLOW_ORIENTATION = 2,  // BoolVal1: the node takes the body's orientation
    PROJ_OWNER_FILTERED = 4,      // the owner pair is filtered for the grace time
    PROJ_ANIMATING = 8,           // "fired" (no collisions), or a hit / expiry animation, runs
    PROJ_NO_AUTO_HIT = 16,        // BoolVal0: a collision does not hit
    PROJ_KEEP_ORIENTATION = 32,   // BoolVal2: launched with the default orientation
    PROJ_ORIENTATION_RESET = 64,
    PROJ_RESET_ON_EXPIRE = 128,   // BoolVal4
    PROJ_RESET_ON_HIT = 256,      // BoolVal3
    PROJ_HIT_PENDING = 512,
};

// Weapon flags.
enum : uint32_t {
    WEAPON_LIMITED = 1,     // "ProjType%dAmmo" given: the weapon can run out
    WEAPON_SELECTABLE = 2,  // "ProjType%dSelectable" (default true)
};

struct Weapon {
    uint32_t flags;         // WEAPON_*
    uint32_t configHash;    // Name_Hash (configuration path, 0, 1)
    uint32_t mode;          // fire mode of the projectile type
    int32_t ammo, startAmmo;
    int32_t pickupType;     // "ProjType%dPickupTypeReq": the pickup kind that refills it
    int32_t fireMode;       // "ProjType%dFireMode": the mode data block used
    float firingDelay;      // seconds between shots (1.0)
    double lastShot;        // projectile clock of the last shot
    uint32_t hasFired;      // 0: never fired, so the first shot is not delayed
    uint32_t triggerHash;   // Name_Hash ("ProjType%dTriggerRef", 1, 1)
    uint32_t purpose;       // hit type: Name_Hash ("ProjType%dPurpose", 1, 1)
    float values[4];        // "ProjType%dFPVal%d"
};

// Held in a mode's data block; owns its records.
struct WeaponList {
    uint32_t count;
    int32_t current;  // -1 when none
    Weapon* weapons;
};

// The user data of a projectile object.
struct ProjectileRecord {
    uint32_t mode;             // ProjMode (PROJMODE_NONE when StringVal0 names none)
    uint32_t pathHash;         // its template's path hash
    uint32_t instances;        // its template's U32Val0
    uint32_t flags;            // PROJ_*
    void* modeData;            // owned
    size_t modeDataSize;
    ProjModeCallbacks callbacks;
    double firedAt;            // projectile clock
    float lifetime;            // FPVal0 when positive, else 10
    float graceTime;           // FPVal1 when positive: the owner is ignored for this long
    float inheritTime;         // FPVal2 when positive: the owner's launch velocity is added this long
    Vec3 ownerVelocity;        // horizontal, at launch
    uint32_t hasValues;        // the hit type and values of a weapon
    uint32_t hitType;
    float values[4];
    WeaponList* weaponList;    // the owner's, not owned
    Object* owner;
    uint32_t ownerSerial;
    PhysBody* ownerBody;       // the owner's body, or the parent projectile's for a child shot
    uint32_t inWorld;          // the body is in the physics world
};

// ---------------------------------------------------------------- Registry and pool

// Once per level state: registers the four callbacks by name, hashes the mode
// names. 1, or 0 when memory fails.
int Projectile_Register(void);
// Frees the registry (destroying a pool still alive).
void Projectile_Shutdown(void);
// The level's projectile pool and type list. 1, or 0 when no pool could be made.
int Projectile_CreatePool(void);
// Destroys every projectile and frees every type's mode data.
void Projectile_DestroyPool(void);
// Projectile clock += dt, then the pool's objects update.
void Projectile_UpdatePool(float dt);
// The projectile clock (seconds).
double Projectile_GetClock(void);
List* Projectile_GetPool(void);
// Every projectile returns to the pool.
void Projectile_ClearAll(void);
// The node the next launch hands to its fire mode (the lock-on target, or the
// node a FRAME_FOLLOW shot follows). Projectile_Spawn clears it.
void Projectile_SetLaunchNode(Node* node);

// ---------------------------------------------------------------- Weapon lists

// Appends the weapons of "<section>::ProjType<N>..." (N from 0 until a
// "Config" is missing). A configuration met for the first time makes its
// projectiles (max(1, U32Val0) instances, at most 256) and reads its mode
// data. Returns the number of weapons appended.
int ProjType_Load(WeaponList* list, ConfigNode* reader, const char* section);
// Reads weapon n of "<section>::ProjType<n>...": 1 and the record (its mode
// not yet known: PROJMODE_NONE) with the configuration path in path, or 0
// when "ProjType<n>Config" is missing.
int ProjType_ReadWeapon(ConfigNode* reader, const char* section, int n, char* path, size_t pathSize, Weapon* weapon);
// Reads the type's "ProjectileModeData<N>" blocks from the configuration.
// Returns the number of blocks read.
int ProjModeData_Load(uint32_t type, const char* path);
// Frees the records; count 0, current -1.
void ProjType_Free(WeaponList* list);

// The current weapon (index in *index when given), or null.
Weapon* ProjType_GetCurrentWeapon(WeaponList* list, int32_t* index);
Weapon* ProjType_GetWeapon(WeaponList* list, int32_t n);
int32_t ProjType_GetAmmo(const WeaponList* list, int32_t n);
void ProjType_SetAmmo(WeaponList* list, int32_t n, int32_t ammo);
// The number of selectable weapons up to and including the current one, minus 1.
int32_t ProjType_GetIconIndex(const WeaponList* list);
// Every weapon refilled by this pickup kind gains the amount.
void ProjType_AddAmmo(WeaponList* list, int32_t pickupType, int32_t amount);
// Steps to the next (previous) weapon that is selectable and, with needAmmo,
// has ammunition or is unlimited. Without force the step only goes up
// (down) from the current index. 1 when the current weapon changed.
int ProjType_SelectNext(WeaponList* list, int needAmmo, int force);
int ProjType_SelectPrevious(WeaponList* list, int needAmmo, int force);
// Every weapon back to its start ammunition; the current weapon becomes the
// lowest-numbered selectable one with ammunition (or unlimited), or -1.
void ProjType_ResetWeapons(WeaponList* list);

// ---------------------------------------------------------------- Shots

// A free projectile of the weapon's type for the owner, or null: refused
// within the firing delay of the weapon's last shot (its first shot is never
// delayed), without ammunition, without a type or a free projectile, or for
// a type of unknown fire mode (logged).
Object* Projectile_Spawn(Weapon* weapon, Object* owner, WeaponList* list);
// Launches a spawned shot of this owner from the position and orientation
// (the owner's body is ignored for the grace time). A shot launched into a
// body hits at once. 1 launched, 0 refused.
int Projectile_Launch(Object* projectile, const Vec3* position, const Vec3* at, const Vec3* up, Object* owner,
                      PhysBody* ownerBody);
// Returns the projectile to the pool; ignored for another owner.
void Projectile_Release(Object* projectile, Object* owner);
// Starts the hit ("hittarget", or back to the pool without it); ignored for
// another owner.
void Projectile_OnHit(Object* projectile, Object* owner);

// Hit queries on any object: the hit type (0 for a non-projectile, one not in
// use, one whose launch or hit animation runs, or one without hit values),
// value n (n < 4), the owner (null), the fire mode (PROJMODE_NONE).
uint32_t Projectile_GetHitType(const Object* object);
float Projectile_GetHitValue(const Object* object, uint32_t n);
Object* Projectile_GetOwner(const Object* object);
uint32_t Projectile_GetModeIndex(const Object* object);
// The record of a projectile object, or null.
ProjectileRecord* Projectile_GetRecord(const Object* object);

// Key events of projectile animations: "ProjType,<trigger>" fires the weapon
// of the shooter's list with that trigger reference from the event's node.
void ProjType_ParseMessage(Object* projectile, const char* message, Node* node);

// Named callbacks.
uint32_t Projectile_Type_Constructor(Object* object, uint32_t zero, void* templateRecord);
uint32_t Projectile_Type_Destructor(Object* object, uint32_t zero, void* unused);
uint32_t Projectile_Type_Update(Object* object, uint32_t zero, void* dt);
uint32_t Projectile_Type_Collision(Object* object, Object* other, uint32_t side);
