// Projectiles: the registry and pool, weapon lists, and the life of a shot.
#include "game/projectile.h"

#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/animset.h"
#include "engine/callbacks.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objecttemplate.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physworld.h"
#include "game/game_log.h"

namespace {

constexpr uint32_t kNoCollisions = 0x80000000u;
const char* const kModeNames[PROJMODE_COUNT] = {"THROW", "STRAIGHT", "HOMING", "FRAME_FOLLOW"};

// One projectile configuration: its fire mode and mode data blocks.
struct ProjType {
    uint32_t pathHash;
    uint32_t mode;
    uint8_t* blocks;  // blockCount blocks of blockSize bytes
    uint32_t blockCount;
    size_t blockSize;
};

struct ProjectileRegistry {
    List* pool;
    ProjType* types;
    uint32_t typeCount, typeCapacity;
    uint32_t modeHashes[PROJMODE_COUNT];
    double clock;
    ProjLaunch launch;
};

ProjectileRegistry* g_registry = nullptr;

PhysWorld* World() { return ObjectWorld_GetPhysicsWorld(); }

ProjType* FindType(uint32_t pathHash)
{
    if (!g_registry) return nullptr;
    for (uint32_t i = 0; i < g_registry->typeCount; ++i)
        if (g_registry->types[i].pathHash == pathHash) return &g_registry->types[i];
    return nullptr;
}

bool Owns(const ProjectileRecord* record, const Object* owner) { return record->owner == owner; }

bool Playing(Object* projectile, const char* name)
{
    const char* current = AnimSet_GetCurrentName(projectile->animSet);
    return current && strcmp(current, name) == 0;
}

bool HasAnimation(AnimSet* set, const char* name)
{
    for (uint32_t i = 0; i < AnimSet_GetCount(set); ++i) {
        const char* n = AnimSet_GetName(set, i);
        if (n && strcmp(n, name) == 0) return true;
    }
    return false;
}

// Plays the named animation from its start; 0 when the set lacks it.
int PlayFromStart(Object* projectile, const char* name)
{
    AnimSet* set = projectile->animSet;
    if (!HasAnimation(set, name)) return 0;
    if (!AnimSet_PlayFromStart(set, name)) AnimSet_SetTime(set, 0.0f);
    return 1;
}

void DefaultOrientation(Object* projectile)
{
    const Vec3 at = {0.0f, 0.0f, 1.0f}, up = {0.0f, 1.0f, 0.0f};
    if (projectile->node) Node_SetWorldOrientation(projectile->node, &at, &up);
}

void HandleMessage(AnimSet* set, const char* name, Node* item, int32_t phase, float, float)
{
    if (phase == 0) ProjType_ParseMessage((Object*)AnimSet_GetObject(set), name, item);
}

AnimEventHandler ProjectileEventLookup(AnimSet*, const char*) { return HandleMessage; }

int ReleaseItem(void* item, void*)
{
    ProjectileRecord* record = Projectile_GetRecord((Object*)item);
    if (record && (record->flags & PROJ_IN_USE)) Projectile_Release((Object*)item, record->owner);
    return 0;
}

struct FreeSearch {
    uint32_t pathHash;
    Object* found;
};

int FindFree(void* item, void* arg)
{
    auto* s = (FreeSearch*)arg;
    ProjectileRecord* record = Projectile_GetRecord((Object*)item);
    if (!record || record->pathHash != s->pathHash || (record->flags & PROJ_IN_USE)) return 0;
    s->found = (Object*)item;
    return 1;
}

// Makes the projectiles of a configuration (the first from the file, the
// others as instances of it) and its type record.
ProjType* LoadType(const char* path)
{
    uint32_t hash = Name_Hash(path, 0, 1);
    if (ProjType* known = FindType(hash)) return known;
    if (g_registry->typeCount == g_registry->typeCapacity) {
        uint32_t capacity = g_registry->typeCapacity ? g_registry->typeCapacity * 2 : 8;
        size_t size = sizeof(ProjType) * capacity;
        auto* grown = (ProjType*)Mem_Realloc(g_registry->types, 8, size);
        if (!grown || Mem_GetSize(grown) < size) return nullptr;
        g_registry->types = grown;
        g_registry->typeCapacity = capacity;
    }
    AnimEventLookup lookup = ObjectWorld_GetEventLookup();
    ObjectWorld_SetEventLookup(ProjectileEventLookup);
    Object* first = ObjectTemplate_Load(path, nullptr, g_registry->pool, 0);
    ProjectileRecord* record = Projectile_GetRecord(first);
    ProjType* type = &g_registry->types[g_registry->typeCount++];
    *type = ProjType{hash, record ? record->mode : (uint32_t)PROJMODE_NONE, nullptr, 0, 0};
    ProjModeData_Load((uint32_t)(type - g_registry->types), path);
    uint32_t instances = record && record->instances ? record->instances : 1;
    if (instances > PROJECTILE_MAX_INSTANCES) {
        GameLog_Printf("%s: U32Val0 = %u projectiles; %u are made", path, instances, PROJECTILE_MAX_INSTANCES);
        instances = PROJECTILE_MAX_INSTANCES;
    }
    if (first)
        for (uint32_t i = 1; i < instances; ++i) ObjectTemplate_Load(path, nullptr, g_registry->pool, 0);
    ObjectWorld_SetEventLookup(lookup);
    return FindType(hash);
}

bool Selectable(const Weapon& w, int needAmmo)
{
    if (!(w.flags & WEAPON_SELECTABLE)) return false;
    return !needAmmo || !(w.flags & WEAPON_LIMITED) || w.ammo > 0;
}

}  // namespace

// ---------------------------------------------------------------- Registry and pool

int Projectile_Register(void)
{
    if (!g_registry) {
        g_registry = (ProjectileRegistry*)Mem_Calloc(sizeof(ProjectileRegistry), 16);
        if (!g_registry) return 0;
        for (uint32_t i = 0; i < PROJMODE_COUNT; ++i) g_registry->modeHashes[i] = Name_Hash(kModeNames[i], 1, 1);
    }
    CallbackRegistry_AddFn("Projectile_Type_Constructor", Projectile_Type_Constructor);
    CallbackRegistry_AddFn("Projectile_Type_Destructor", Projectile_Type_Destructor);
    CallbackRegistry_AddFn("Projectile_Type_Update", Projectile_Type_Update);
    CallbackRegistry_AddFn("Projectile_Type_Collision", Projectile_Type_Collision);
    return 1;
}

void Projectile_Shutdown(void)
{
    if (!g_registry) return;
    Projectile_DestroyPool();
    Mem_Free(g_registry);
    g_registry = nullptr;
}

int Projectile_CreatePool(void)
{
    if (!g_registry) return 0;
    if (!g_registry->pool) g_registry->pool = ObjectPool_Create();
    return g_registry->pool != nullptr;
}

void Projectile_DestroyPool(void)
{
    if (!g_registry) return;
    if (g_registry->pool) ObjectPool_Destroy(g_registry->pool);
    g_registry->pool = nullptr;
    for (uint32_t i = 0; i < g_registry->typeCount; ++i) Mem_Free(g_registry->types[i].blocks);
    Mem_Free(g_registry->types);
    g_registry->types = nullptr;
    g_registry->typeCount = g_registry->typeCapacity = 0;
    g_registry->launch = ProjLaunch{};
}

void Projectile_UpdatePool(float dt)
{
    if (!g_registry) return;
    g_registry->clock += dt;
    if (g_registry->pool) ObjectPool_Update(g_registry->pool, &dt);
}

double Projectile_GetClock(void) { return g_registry ? g_registry->clock : 0.0; }
List* Projectile_GetPool(void) { return g_registry ? g_registry->pool : nullptr; }

void Projectile_ClearAll(void)
{
    if (g_registry && g_registry->pool) List_ForEach(g_registry->pool, ReleaseItem, nullptr);
}

void Projectile_SetLaunchNode(Node* node)
{
    if (g_registry) g_registry->launch.node = node;
}

// ---------------------------------------------------------------- Weapon lists

int ProjType_ReadWeapon(ConfigNode* reader, const char* section, int n, char* path, size_t pathSize, Weapon* w)
{
    if (!reader || !w || !path || !pathSize) return 0;
    const char* s = section ? section : "";
    char key[1024], text[256];
    snprintf(key, sizeof key, "%s::ProjType%dConfig", s, n);
    if (!Config_GetString(reader, key, path, pathSize)) return 0;
    *w = Weapon{};
    w->configHash = Name_Hash(path, 0, 1);
    w->mode = PROJMODE_NONE;
    w->flags = WEAPON_SELECTABLE;
    uint32_t selectable = 1;
    snprintf(key, sizeof key, "%s::ProjType%dSelectable", s, n);
    if (Config_GetBool(reader, key, &selectable) && !selectable) w->flags &= ~WEAPON_SELECTABLE;
    snprintf(key, sizeof key, "%s::ProjType%dAmmo", s, n);
    if (Config_GetInt(reader, key, &w->ammo)) w->flags |= WEAPON_LIMITED;
    w->startAmmo = w->ammo;
    snprintf(key, sizeof key, "%s::ProjType%dPickupTypeReq", s, n);
    Config_GetInt(reader, key, &w->pickupType);
    snprintf(key, sizeof key, "%s::ProjType%dFireMode", s, n);
    Config_GetInt(reader, key, &w->fireMode);
    w->firingDelay = 1.0f;
    snprintf(key, sizeof key, "%s::ProjType%dFiringDelay", s, n);
    Config_GetFloat(reader, key, &w->firingDelay);
    snprintf(key, sizeof key, "%s::ProjType%dTriggerRef", s, n);
    if (Config_GetString(reader, key, text, sizeof text)) w->triggerHash = Name_Hash(text, 1, 1);
    snprintf(key, sizeof key, "%s::ProjType%dPurpose", s, n);
    if (Config_GetString(reader, key, text, sizeof text)) w->purpose = Name_Hash(text, 1, 1);
    for (int i = 0; i < 4; ++i) {
        snprintf(key, sizeof key, "%s::ProjType%dFPVal%d", s, n, i);
        Config_GetFloat(reader, key, &w->values[i]);
    }
    return 1;
}

int ProjType_Load(WeaponList* list, ConfigNode* reader, const char* section)
{
    if (!list || !reader || !g_registry || !g_registry->pool) return 0;
    if (list->count == 0) list->current = -1;
    char path[1024];
    int added = 0;
    for (int n = 0;; ++n) {
        Weapon w;
        if (!ProjType_ReadWeapon(reader, section, n, path, sizeof path, &w)) break;
        size_t size = sizeof(Weapon) * (list->count + 1);
        auto* grown = (Weapon*)Mem_Recalloc(list->weapons, 8, size);
        if (!grown || Mem_GetSize(grown) < size) break;
        list->weapons = grown;
        ProjType* type = LoadType(path);
        w.mode = type ? type->mode : PROJMODE_NONE;
        list->weapons[list->count++] = w;
        added++;
    }
    return added;
}

int ProjModeData_Load(uint32_t typeIndex, const char* path)
{
    if (!g_registry || typeIndex >= g_registry->typeCount || !path) return 0;
    ProjType* type = &g_registry->types[typeIndex];
    if (!ProjMode_GetLoader(type->mode)) return 0;
    ConfigNode* reader = Config_Open(path);
    if (!reader) return 0;
    uint8_t* blocks = nullptr;
    uint32_t count = 0;
    ProjMode_ReadBlocks(reader, type->mode, (void**)&blocks, &count);
    Config_Close(reader);
    type->blocks = blocks;
    type->blockCount = count;
    type->blockSize = ProjMode_GetDataSize(type->mode);
    return (int)count;
}

void ProjType_Free(WeaponList* list)
{
    if (!list) return;
    Mem_Free(list->weapons);
    list->weapons = nullptr;
    list->count = 0;
    list->current = -1;
}

Weapon* ProjType_GetCurrentWeapon(WeaponList* list, int32_t* index)
{
    if (index) *index = list ? list->current : -1;
    return ProjType_GetWeapon(list, list ? list->current : -1);
}

Weapon* ProjType_GetWeapon(WeaponList* list, int32_t n)
{
    if (!list || n < 0 || (uint32_t)n >= list->count) return nullptr;
    return &list->weapons[n];
}

int32_t ProjType_GetAmmo(const WeaponList* list, int32_t n)
{
    return ProjType_GetWeapon(const_cast<WeaponList*>(list), n) ? list->weapons[n].ammo : 0;
}

void ProjType_SetAmmo(WeaponList* list, int32_t n, int32_t ammo)
{
    if (Weapon* w = ProjType_GetWeapon(list, n)) w->ammo = ammo;
}

int32_t ProjType_GetIconIndex(const WeaponList* list)
{
    if (!list) return -1;
    int32_t selectable = 0;
    for (int32_t i = 0; i <= list->current && (uint32_t)i < list->count; ++i)
        if (list->weapons[i].flags & WEAPON_SELECTABLE) selectable++;
    return selectable - 1;
}

void ProjType_AddAmmo(WeaponList* list, int32_t pickupType, int32_t amount)
{
    if (!list) return;
    for (uint32_t i = 0; i < list->count; ++i)
        if (list->weapons[i].pickupType == pickupType)
            list->weapons[i].ammo = Math_AddClamped(list->weapons[i].ammo, amount);
}

int ProjType_SelectNext(WeaponList* list, int needAmmo, int force)
{
    if (!list || list->count == 0) return 0;
    int32_t count = (int32_t)list->count;
    if (count == 1 && list->current >= 0) return 0;
    // From "none" every weapon is a candidate; otherwise the others, in turn.
    int32_t start = list->current < 0 ? -1 : list->current;
    int32_t steps = list->current < 0 ? count : count - 1;
    for (int32_t k = 1; k <= steps; ++k) {
        int32_t i = (start + k) % count;
        if (!Selectable(list->weapons[i], needAmmo)) continue;
        if (!force && i <= list->current) return 0;
        list->current = i;
        return 1;
    }
    return 0;
}

int ProjType_SelectPrevious(WeaponList* list, int needAmmo, int force)
{
    if (!list || list->count == 0) return 0;
    int32_t count = (int32_t)list->count;
    if (count == 1 && list->current >= 0) return 0;
    int32_t start = list->current < 0 ? 0 : list->current;
    for (int32_t k = 1; k <= count - 1; ++k) {
        int32_t i = ((start - k) % count + count) % count;
        if (!Selectable(list->weapons[i], needAmmo)) continue;
        if (!force && i >= list->current) return 0;
        list->current = i;
        return 1;
    }
    return 0;
}

void ProjType_ResetWeapons(WeaponList* list)
{
    if (!list) return;
    list->current = -1;
    for (uint32_t i = 0; i < list->count; ++i) list->weapons[i].ammo = list->weapons[i].startAmmo;
    for (uint32_t i = 0; i < list->count; ++i) {
        if (Selectable(list->weapons[i], 1)) {
            list->current = (int32_t)i;
            return;
        }
    }
}

// ---------------------------------------------------------------- Shots

Object* Projectile_Spawn(Weapon* weapon, Object* owner, WeaponList* list)
{
    if (!g_registry || !g_registry->pool || !weapon) return nullptr;
    double now = g_registry->clock;
    if (weapon->hasFired && !(now > weapon->lastShot + weapon->firingDelay)) return nullptr;
    if ((weapon->flags & WEAPON_LIMITED) && weapon->ammo <= 0) return nullptr;
    ProjType* type = FindType(weapon->configHash);
    if (!type) return nullptr;
    if (type->mode >= PROJMODE_COUNT) {
        GameLog_Printf("projectile type %08x: StringVal0 names no fire mode (THROW, STRAIGHT, HOMING, FRAME_FOLLOW); "
                       "the shot is refused",
                       type->pathHash);
        return nullptr;
    }
    FreeSearch search = {weapon->configHash, nullptr};
    List_ForEach(g_registry->pool, FindFree, &search);
    Object* projectile = search.found;
    ProjectileRecord* record = Projectile_GetRecord(projectile);
    if (!record) return nullptr;

    record->firedAt = now;
    weapon->lastShot = now;
    weapon->hasFired = 1;
    record->flags |= PROJ_IN_USE;
    record->flags &= ~(PROJ_HIT_PENDING | PROJ_ORIENTATION_RESET);
    record->hasValues = 1;
    record->hitType = weapon->purpose;
    memcpy(record->values, weapon->values, sizeof record->values);
    record->weaponList = list;
    record->owner = owner;
    record->ownerSerial = Object_GetSerial(owner);
    if (record->modeData) {
        if (type->blockCount && type->blockSize <= record->modeDataSize) {
            uint32_t block = weapon->fireMode >= 0 && (uint32_t)weapon->fireMode < type->blockCount
                                 ? (uint32_t)weapon->fireMode
                                 : 0;
            memcpy(record->modeData, type->blocks + type->blockSize * block, type->blockSize);
        } else {
            memset(record->modeData, 0, record->modeDataSize);
        }
    }
    if (weapon->flags & WEAPON_LIMITED) weapon->ammo--;
    g_registry->launch = ProjLaunch{};
    return projectile;
}

int Projectile_Launch(Object* projectile, const Vec3* position, const Vec3* at, const Vec3* up, Object* owner,
                      PhysBody* ownerBody)
{
    ProjectileRecord* record = Projectile_GetRecord(projectile);
    if (!record || !g_registry || !(record->flags & PROJ_IN_USE) || !Owns(record, owner) || !position || !at || !up)
        return 0;
    ProjLaunch* launch = &g_registry->launch;
    launch->position = *position;
    launch->at = *at;
    launch->up = *up;

    PhysWorld* world = World();
    if (projectile->node) {
        Node_SetParent(projectile->node, ObjectWorld_GetRootNode());
        Node_SetWorldPosition(projectile->node, position);
        if (record->flags & (PROJ_KEEP_ORIENTATION | PROJ_ORIENTATION_RESET))
            DefaultOrientation(projectile);
        else
            Node_SetWorldOrientation(projectile->node, at, up);
    }
    PhysBody* body = projectile->body;
    if (body) {
        PhysBody_SetCollisionGroup(body, projectile->collisionGroup);
        Object_Sync(projectile, OBJECT_SYNC_ADD | OBJECT_SYNC_ROOT);
        record->inWorld = 1;
        // Release took the primitives off the contact listener: a reused
        // projectile must report its contacts again.
        PhysWorld_RegisterBodyEvents(world, body);
        PhysBody_SetPhantom(body, (projectile->flags & OBJECT_PHANTOM) ? 1 : 0);
        PhysBody_ResetMotion(body, 0);
    }
    record->ownerBody = ownerBody;
    record->ownerVelocity = {0.0f, 0.0f, 0.0f};
    if (record->graceTime > 0.0f && ownerBody && body) {
        PhysWorld_IgnoreBodyPair(world, body, ownerBody);
        record->flags |= PROJ_OWNER_FILTERED;
    }
    if (ownerBody) {
        PhysBody_GetLinearVelocity(ownerBody, &record->ownerVelocity);
        record->ownerVelocity.y = 0.0f;
    }
    if (projectile->animSet) {
        if (PlayFromStart(projectile, "fired")) {
            record->flags |= PROJ_ANIMATING;
            PhysBody_SetCollisionGroup(body, kNoCollisions);
        } else {
            PlayFromStart(projectile, "inAir");
        }
    }
    if (record->callbacks.fire) record->callbacks.fire(projectile, record, launch);

    if (!body || PhysBody_IsPhantom(body) || !ObjectCollision_TestOverlap(body)) return 1;
    PhysBody_SetPhantom(body, 1);
    PhysBody_ResetMotion(body, 0);
    Projectile_OnHit(projectile, owner);
    return 1;
}

void Projectile_Release(Object* projectile, Object* owner)
{
    ProjectileRecord* record = Projectile_GetRecord(projectile);
    if (!record || !Owns(record, owner)) return;
    PhysWorld* world = World();
    PhysBody* body = projectile->body;
    if ((record->flags & PROJ_OWNER_FILTERED) && record->ownerBody)
        PhysWorld_UnignoreBodyPair(world, body, record->ownerBody);
    record->flags &= ~(PROJ_IN_USE | PROJ_ANIMATING | PROJ_OWNER_FILTERED);
    record->hasValues = 0;
    record->hitType = 0;
    memset(record->values, 0, sizeof record->values);
    record->ownerBody = nullptr;
    record->owner = nullptr;
    record->ownerSerial = 0;
    record->weaponList = nullptr;
    if (body) {
        const Vec3 away = {-999999.0f, -999999.0f, -999999.0f};
        PhysBody_SetPosition(body, &away);
        PhysBody_ResetMotion(body, 0);
        PhysBody_SetCollisionGroup(body, kNoCollisions);
        PhysWorld_UnregisterBodyEvents(world, body);
        if (record->inWorld) PhysWorld_RemoveBody(world, body);
        record->inWorld = 0;
    }
    if (projectile->node) Node_SetParent(projectile->node, nullptr);
}

void Projectile_OnHit(Object* projectile, Object* owner)
{
    ProjectileRecord* record = Projectile_GetRecord(projectile);
    if (!record || !Owns(record, owner)) return;
    if (!projectile->animSet) {
        Projectile_Release(projectile, owner);
        return;
    }
    if (Playing(projectile, "hittarget") || Playing(projectile, "expire")) return;
    if (!PlayFromStart(projectile, "hittarget")) {
        Projectile_Release(projectile, owner);
        return;
    }
    if (record->flags & PROJ_RESET_ON_HIT) {
        record->flags |= PROJ_ORIENTATION_RESET;
        DefaultOrientation(projectile);
    }
    PhysBody_ResetMotion(projectile->body, 0);
    record->flags |= PROJ_HIT_PENDING;
}

ProjectileRecord* Projectile_GetRecord(const Object* object)
{
    if (!object || Object_GetUserInt(object) != PROJECTILE_USER_INT) return nullptr;
    return (ProjectileRecord*)Object_GetUserData(object);
}

uint32_t Projectile_GetHitType(const Object* object)
{
    ProjectileRecord* r = Projectile_GetRecord(object);
    if (!r || !(r->flags & PROJ_IN_USE) || (r->flags & PROJ_ANIMATING) || !r->hasValues) return 0;
    return r->hitType;
}

float Projectile_GetHitValue(const Object* object, uint32_t n)
{
    ProjectileRecord* r = Projectile_GetRecord(object);
    return r && n < 4 ? r->values[n] : 0.0f;
}

Object* Projectile_GetOwner(const Object* object)
{
    ProjectileRecord* r = Projectile_GetRecord(object);
    return r ? r->owner : nullptr;
}

uint32_t Projectile_GetModeIndex(const Object* object)
{
    ProjectileRecord* r = Projectile_GetRecord(object);
    return r ? r->mode : (uint32_t)PROJMODE_NONE;
}

void ProjType_ParseMessage(Object* projectile, const char* message, Node* node)
{
    ProjectileRecord* record = Projectile_GetRecord(projectile);
    if (!record || !(record->flags & PROJ_IN_USE) || !message || !record->weaponList) return;
    // The shooter must still be the object it was when the shot left.
    if (!record->owner || Object_GetSerial(record->owner) != record->ownerSerial) return;
    char text[256];
    snprintf(text, sizeof text, "%s", message);
    char* words[2] = {nullptr, nullptr};
    int count = 0;
    for (char* save = nullptr; count < 2;) {
        char* w = strtok_r(count ? nullptr : text, ", \t", &save);
        if (!w) break;
        words[count++] = w;
    }
    if (count < 2 || strcmp(words[0], "ProjType") != 0) return;
    uint32_t trigger = Name_Hash(words[1], 1, 1);
    WeaponList* list = record->weaponList;
    for (uint32_t i = 0; i < list->count; ++i) {
        Weapon* weapon = &list->weapons[i];
        if (weapon->triggerHash != trigger) continue;
        Object* owner = record->owner;
        Object* child = Projectile_Spawn(weapon, owner, list);
        if (!child) return;
        if (Projectile_GetModeIndex(child) == PROJMODE_FRAME_FOLLOW) Projectile_SetLaunchNode(node);
        Vec3 p = {0, 0, 0}, at = {0, 0, 1}, up = {0, 1, 0};
        if (node) {
            Node_GetWorldPosition(node, &p);
            Node_GetWorldOrientation(node, &at, &up);
        }
        Projectile_Launch(child, &p, &at, &up, owner, projectile->body);
        return;
    }
}

// ---------------------------------------------------------------- Callbacks

uint32_t Projectile_Type_Constructor(Object* object, uint32_t, void* arg)
{
    auto* t = (ObjectTemplate*)arg;
    auto* record = (ProjectileRecord*)Mem_Calloc(sizeof(ProjectileRecord), 16);
    if (!record) return 0;
    record->mode = PROJMODE_NONE;
    if (t && g_registry) {
        uint32_t hash = Name_Hash(t->stringVal[0], 1, 1);
        for (uint32_t i = 0; i < PROJMODE_COUNT; ++i)
            if (g_registry->modeHashes[i] == hash) record->mode = i;
    }
    if (object->node) Node_SetParent(object->node, nullptr);
    if (t) {
        record->pathHash = t->pathHash;
        record->instances = t->u32Val[0];
        if (ObjectTemplate_GetBool(t, 0)) record->flags |= PROJ_NO_AUTO_HIT;
        if (ObjectTemplate_GetBool(t, 1)) record->flags |= PROJ_FOLLOW_ORIENTATION;
        if (ObjectTemplate_GetBool(t, 2)) record->flags |= PROJ_KEEP_ORIENTATION;
        if (ObjectTemplate_GetBool(t, 3)) record->flags |= PROJ_RESET_ON_HIT;
        if (ObjectTemplate_GetBool(t, 4)) record->flags |= PROJ_RESET_ON_EXPIRE;
        record->lifetime = t->fpVal[0] > 0.0f ? t->fpVal[0] : 10.0f;
        record->graceTime = t->fpVal[1] > 0.0f ? t->fpVal[1] : 0.0f;
        record->inheritTime = t->fpVal[2] > 0.0f ? t->fpVal[2] : 0.0f;
    } else {
        record->lifetime = 10.0f;
    }
    if (const ProjModeCallbacks* cb = ProjMode_GetCallbacks(record->mode)) {
        record->callbacks = *cb;
        record->callbacks.init(record);
    }
    Object_SetUserData(object, record);
    if (object->body) {
        PhysBody_HoldActive(object->body, 1);
        PhysWorld_RegisterBodyEvents(World(), object->body);
        PhysBody_SetCollisionGroup(object->body, kNoCollisions);
    }
    if (object->animSet) AnimSet_SetObject(object->animSet, object);
    Object_SetUserInt(object, PROJECTILE_USER_INT);
    return 0;
}

uint32_t Projectile_Type_Destructor(Object* object, uint32_t, void*)
{
    ProjectileRecord* record = Projectile_GetRecord(object);
    if (!record) return 0;
    if (record->callbacks.detach) record->callbacks.detach(record);
    Mem_Free(record->modeData);
    Mem_Free(record);
    Object_SetUserData(object, nullptr);
    return 0;
}

uint32_t Projectile_Type_Update(Object* object, uint32_t, void* arg)
{
    ProjectileRecord* record = Projectile_GetRecord(object);
    if (!record || !arg || !(record->flags & PROJ_IN_USE)) return 0;
    const float dt = *(const float*)arg;
    const double now = g_registry ? g_registry->clock : 0.0;
    if (record->flags & PROJ_HIT_PENDING) {
        record->flags |= PROJ_ANIMATING;
        record->flags &= ~PROJ_HIT_PENDING;
    }
    PhysBody* body = object->body;
    if (object->node && body) {
        Vec3 p;
        PhysBody_GetPosition(body, &p);
        Node_SetWorldPosition(object->node, &p);
        if ((record->flags & PROJ_FOLLOW_ORIENTATION) &&
            !(record->flags & (PROJ_KEEP_ORIENTATION | PROJ_ORIENTATION_RESET))) {
            Vec3 at, up;
            PhysBody_GetAxes(body, &at, &up);
            Node_SetWorldOrientation(object->node, &at, &up);
        }
    }
    int ended = 0;
    if (object->animSet) ended = AnimSet_Advance(object->animSet, dt, ANIMSET_ADVANCE_SCENE) ? 0 : 1;
    if (record->callbacks.update) record->callbacks.update(object, record, dt);
    if (now < record->firedAt + record->inheritTime && body) {
        Vec3 v;
        PhysBody_GetLinearVelocity(body, &v);
        Vec3_Add(&v, &v, &record->ownerVelocity);
        PhysBody_SetLinearVelocity(body, &v);
    }
    if (ended) {
        if (Playing(object, "fired")) {
            record->flags &= ~PROJ_ANIMATING;
            PhysBody_SetCollisionGroup(body, object->collisionGroup);
            if (!PlayFromStart(object, "inAir")) PlayFromStart(object, "onGround");
        } else if (Playing(object, "expire") || Playing(object, "hittarget")) {
            Projectile_Release(object, record->owner);
            return 0;
        }
    }
    if ((record->flags & PROJ_OWNER_FILTERED) && now >= record->firedAt + record->graceTime) {
        record->flags &= ~PROJ_OWNER_FILTERED;
        if (record->ownerBody) PhysWorld_UnignoreBodyPair(World(), body, record->ownerBody);
    }
    if (record->lifetime != 0.0f && now >= record->firedAt + record->lifetime) {
        if (!object->animSet) {
            Projectile_Release(object, record->owner);
            return 0;
        }
        if (!Playing(object, "hittarget") && !Playing(object, "expire")) {
            if (!PlayFromStart(object, "expire")) {
                Projectile_Release(object, record->owner);
                return 0;
            }
            if (record->flags & PROJ_RESET_ON_EXPIRE) {
                record->flags |= PROJ_ORIENTATION_RESET;
                DefaultOrientation(object);
            }
            PhysBody_ResetMotion(body, 0);
            record->flags |= PROJ_ANIMATING;
        }
    }
    return 0;
}

uint32_t Projectile_Type_Collision(Object* object, Object*, uint32_t)
{
    ProjectileRecord* record = Projectile_GetRecord(object);
    if (!record || !(record->flags & PROJ_IN_USE)) return 0;
    if (record->callbacks.collision) record->callbacks.collision(record);
    if (!(record->flags & PROJ_NO_AUTO_HIT)) Projectile_OnHit(object, record->owner);
    return 0;
}
