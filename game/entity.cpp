// Entity system: records, loading from configuration, the per-frame update,
// collisions, respawn and the survival of player records across reloads.
#include "game/entity.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "app/soundbank.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/animpath.h"
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
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/game_context.h"
#include "game/game_log.h"
#include "game/game_setup.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/phys_utils.h"
#include "game/viewports.h"
#include "physics/dynamics/rigid_body.h"

namespace {

EntitySystem* g_system = nullptr;
// The configuration being loaded, for log lines.
const char* g_loadingFile = "entity configuration";

constexpr float kCos45 = 0.70710677f;
const char kPlayerStart[] = "PlayerStart_Null";
const char kEntityPrefix[] = "entity_";

AnimEventHandler EntityEventLookup(AnimSet*, const char*) { return Entity_MessageDispatch; }

float DegToRad(float degrees) { return degrees * 0.0027777778f * 6.2831855f; }

// A type value v sets bit v - 1 for v in 1..32; any other non-zero value is
// logged and sets nothing.
uint32_t ReadTypeMask(ConfigNode* reader, const char* format, const char* file)
{
    uint32_t mask = 0;
    char key[64];
    for (int i = 0; i < 32; ++i) {
        snprintf(key, sizeof key, format, i);
        int32_t v = 0;
        if (!Config_GetInt(reader, key, &v)) break;
        if (v >= 1 && v <= 32)
            mask |= 1u << (v - 1);
        else if (v != 0)
            GameLog_Printf("%s: %s = %d is not a type number 1..32; no type bit set", file, key, v);
    }
    return mask;
}

void FreeAnimSlots(EntityRecord* record)
{
    for (uint32_t i = 0; i < record->animSlotCount; ++i) {
        EntityAnimSlot* slot = &record->animSlots[i];
        AnimSet_Release(slot->set);
        Node_Destroy(slot->offset);
        Node_Destroy(slot->root);
        if (slot->names) ControlDataCache_Release(slot->names);
    }
    Mem_Free(record->animSlots);
    record->animSlots = nullptr;
    record->animSlotCount = 0;
}

// Everything a record owns, then the record. The mode's free slot runs first.
void FreeRecord(EntityRecord* record)
{
    if (!record) return;
    if (record->slots.free) record->slots.free(record);
    FreeAnimSlots(record);
    Hud_Free(record);
    Mem_Free(record->modeData);
    Mem_Free(record->water);
    SoundBank_ReleaseGroup(record->soundGroup);
    if (g_system)
        for (EntityRecord*& saved : g_system->saved)
            if (saved == record) saved = nullptr;
    Mem_Free(record);
}

// The animation slots "Anim%d..." of section "vehicle", until a slot whose
// set loads neither from its path nor from the entity's own file.
void LoadAnimSlots(ConfigNode* reader, EntityRecord* record, const char* path)
{
    char key[64], setPath[1024], extension[32];
    Node* root = ObjectWorld_GetRootNode();
    for (uint32_t i = 0;; ++i) {
        snprintf(key, sizeof key, "Anim%uPath", i);
        Config_GetString(reader, key, setPath, sizeof setPath);
        snprintf(extension, sizeof extension, "Anim%u", i);
        Node* slotRoot = Node_Create(root);
        Node* offset = slotRoot ? Node_Create(slotRoot) : nullptr;
        AnimSet* set = nullptr;
        if (offset) {
            if (setPath[0]) set = AnimSet_Load(setPath, extension, offset, EntityEventLookup);
            if (!set) set = AnimSet_Load(path, extension, offset, EntityEventLookup);
        }
        EntityAnimSlot* grown = nullptr;
        if (set) {
            size_t size = sizeof(EntityAnimSlot) * (record->animSlotCount + 1);
            grown = (EntityAnimSlot*)Mem_Recalloc(record->animSlots, 8, size);
            if (grown && Mem_GetSize(grown) < size) grown = nullptr;
        }
        if (!grown) {
            AnimSet_Release(set);
            Node_Destroy(offset);
            Node_Destroy(slotRoot);
            return;
        }
        record->animSlots = grown;
        EntityAnimSlot* slot = &grown[record->animSlotCount++];
        *slot = EntityAnimSlot{};
        slot->current = -1;
        slot->lastRequest = ENTITY_ANIM_NEVER_REQUESTED;
        slot->root = slotRoot;
        slot->offset = offset;
        slot->set = set;
        int32_t value = 0;
        snprintf(key, sizeof key, "Anim%uRBRelMode", i);
        if (Config_GetInt(reader, key, &value)) slot->rbRelMode = value;
        value = -1;
        snprintf(key, sizeof key, "Anim%uViewInMode", i);
        Config_GetInt(reader, key, &value);
        slot->viewInMode = (uint32_t)value;
        float v[3] = {0.0f, 0.0f, 0.0f};
        snprintf(key, sizeof key, "Anim%uOffset", i);
        Config_GetVector3(reader, key, v);
        uint32_t flag = 0;
        snprintf(key, sizeof key, "Anim%uGlobalTransSet", i);
        if (Config_GetBool(reader, key, &flag) && flag) slot->flags |= ANIMSLOT_ALPHA;
        flag = 0;
        snprintf(key, sizeof key, "Anim%uMakeTrans", i);
        if (Config_GetBool(reader, key, &flag) && flag) AnimSet_FlagVisuals(set);
        snprintf(key, sizeof key, "Anim%uRBRelCopyNum", i);
        if (Config_GetInt(reader, key, &value)) slot->copyNum = value;
        Vec3 position = {v[0], v[1], v[2]};
        Node_SetPosition(offset, &position);
    }
}

void LoadSounds(ConfigNode* reader, EntityRecord* record, const char* path)
{
    char soundConfig[1024];
    if (!Config_GetString(reader, "vehicle::vehicleData::soundConfig", soundConfig, sizeof soundConfig) ||
        !soundConfig[0])
        snprintf(soundConfig, sizeof soundConfig, "%s", path);
    char section[32];
    if (Game_GetWadProcess()) {
        // The data-packing run touches every player count's sounds once.
        for (uint32_t s = 0; s < Game_GetMaxPlayers(); ++s) {
            uint32_t group = 0;
            snprintf(section, sizeof section, "SOUND%u", s);
            SoundBank_Load(soundConfig, section, &group);
            SoundBank_ReleaseGroup(group);
        }
        return;
    }
    snprintf(section, sizeof section, "SOUND%d", (int)Level_GetNumPlayerEntities() - 1);
    SoundBank_Load(soundConfig, section, &record->soundGroup);
}

// The position and orientation an entity starts from: the start node's, or
// the object's own placement.
void ReadStart(Object* object, Node* startNode, Vec3* position, Vec3* at, Vec3* up)
{
    *position = {0.0f, 0.0f, 0.0f};
    *at = {0.0f, 0.0f, 1.0f};
    *up = {0.0f, 1.0f, 0.0f};
    if (startNode) {
        Node_GetWorldPosition(startNode, position);
        Node_GetWorldOrientation(startNode, at, up);
    } else {
        Object_GetTransform(object, position, up, at);
    }
}

float FirstPrimitiveValue(PhysBody* body)
{
    float r = 0.0f;
    if (!PhysBody_GetFirstPrimitiveValue(body, &r)) r = 0.0f;
    return r;
}

// A surviving player record forgets the level it leaves.
void DetachRecord(Object* object, EntityRecord* record)
{
    if (record->water) record->water->water = nullptr;
    record->airStream = nullptr;
    record->heldFrom = nullptr;
    record->takeOverTarget = nullptr;
    record->flags &= ~(ENTITY_FLAGGED | ENTITY_HELD | ENTITY_FROZEN);
    if (record->slots.detach) record->slots.detach(record);
    for (uint32_t i = 0; i < record->animSlotCount; ++i) AnimSet_SetObject(record->animSlots[i].set, nullptr);
    for (uint32_t i = 0; i < record->hudAnimCount; ++i) Node_SetParent(record->hudAnims[i].node, nullptr);
    Object_SetUserData(object, nullptr);
}

int DetachItem(void* item, void*)
{
    Object* object = (Object*)item;
    EntityRecord* record = Entity_GetRecord(object);
    if (record && (record->flags & ENTITY_PLAYER_RECORD)) DetachRecord(object, record);
    return 0;
}

void Buoyancy(EntityRecord* record, PhysBody* body, const Vec3& position, float dt)
{
    EntityWater* w = record->water;
    float depth = 0.0f;
    if (w->water) {
        Vec3 waterPosition, waterAt, waterUp;
        Object_GetTransform(w->water, &waterPosition, &waterUp, &waterAt);
        Vec3 d;
        Vec3_Sub(&d, &waterPosition, &position);
        depth = Vec3_Dot(&d, &waterUp);
    }
    record->waterDepth = depth > 0.0f ? depth : 0.0f;
    if (!(depth > 0.0f)) return;
    Vec3 v;
    PhysBody_GetLinearVelocity(body, &v);
    float dv = dt * w->velStep;
    float limit = w->velMax;
    if (depth < w->settleY) {
        float settle = 0.1f - (1.0f - depth / w->settleY) * w->settleVelRange;
        if (settle < limit) limit = settle;
    }
    if (v.y + dv > limit) dv = limit - v.y;
    if (dv < 0.0f) dv = 0.0f;
    v.y += dv;
    Vec3 k = w->damping;
    if (depth < record->vehicleHeight) Vec3_Scale(&k, &k, depth / record->vehicleHeight);
    Phys_DampVector(&v, &k, dt);
    PhysBody_SetLinearVelocity(body, &v);
}

}  // namespace

// ---------------------------------------------------------------- System

int EntitySystem_Init(void)
{
    if (!g_system) {
        g_system = (EntitySystem*)Mem_Calloc(sizeof(EntitySystem), 16);
        if (!g_system) return 0;
        ControlMode_BuildNameList(g_system->modeHashes);
    }
    CallbackRegistry_AddFn("Entity_Constructor", Entity_Constructor);
    CallbackRegistry_AddFn("Entity_Destructor", Entity_Destructor);
    CallbackRegistry_AddFn("Entity_Update", Entity_Update);
    CallbackRegistry_AddFn("Entity_Collision", Entity_Collision);
    CallbackRegistry_AddFn("Entity_Water_Constructor", Entity_Water_Constructor);
    CallbackRegistry_AddFn("Entity_AirStream_Constructor", Entity_AirStream_Constructor);
    CallbackRegistry_AddFn("Entity_Water_Destructor", VavadUtils_GenericObject_Destructor);
    CallbackRegistry_AddFn("Entity_AirStream_Destructor", VavadUtils_GenericObject_Destructor);
    return 1;
}

void EntitySystem_Free(void)
{
    if (!g_system) return;
    EntitySystem_Unload(1);
    Mem_Free(g_system);
    g_system = nullptr;
}

EntitySystem* EntitySystem_Get(void) { return g_system; }

void EntitySystem_Unload(int final)
{
    if (!g_system) return;
    if (g_system->pool) {
        if (!final) List_ForEach(g_system->pool, DetachItem, nullptr);
        ObjectPool_Destroy(g_system->pool);
        g_system->pool = nullptr;
    }
    if (final) {
        // Records whose object was never made this level.
        for (EntityRecord*& saved : g_system->saved) FreeRecord(saved);
        ControlDataCache_Clear();
    }
}

void Level_UpdateObjects(float dt)
{
    if (g_system && g_system->pool) ObjectPool_Update(g_system->pool, &dt);
}

void Entity_PlayerConfigPath(const char* character, char* out, size_t size)
{
    snprintf(out, size, "carddata\\entityconfigs\\%s.cfg", character ? character : "");
}

void Entity_SceneConfigPath(const char* itemName, char* out, size_t size)
{
    const char* name = itemName ? itemName : "";
    if (strncmp(name, kEntityPrefix, sizeof kEntityPrefix - 1) == 0) name += sizeof kEntityPrefix - 1;
    char base[256];
    ObjectScene_BaseName(name, base, sizeof base);
    Level_MakeConfigPath(base, out, size);
}

int Entity_CreateFromLevel(const char* sceneName)
{
    if (!g_system) return 0;
    if (!g_system->pool) g_system->pool = ObjectPool_Create();
    if (!g_system->pool) return 0;
    // Under a root of its own: the items' world placements are their own.
    Node* sceneRoot = Node_Create(nullptr);
    Scene* scene = sceneRoot ? Scene_Load(sceneName, sceneRoot, SCENE_NODES_ONLY, nullptr) : nullptr;
    // The views start at the scene's first camera when it has one, else at
    // the world's origin: a mode with a camera of its own moves its view at
    // its first step, one without (the Walker's, the Roller's) sees the
    // level from there.
    if (Node* camera = scene ? Scene_GetCamera(scene, 0, nullptr) : nullptr)
        for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) Viewport_LookFrom(p, camera);
    int made = 0;
    GameContext* context = Game_GetContext();
    // The level's players are the slots with a viewport (Level_SetupPlayers):
    // the n-th of them, drawn in viewport n, stands at start n.
    for (int s = 0; s < ENTITY_PLAYERS; ++s) {
        uint32_t kind = context->playerKinds[s];
        int viewport = -1;
        if (kind == PLAYER_KIND_NONE || !Player_GetViewportIndex(s, &viewport)) {
            Level_SetPlayerEntity(s, nullptr);
            continue;
        }
        uint32_t flags = kind == PLAYER_KIND_COMPUTER ? (ENTITY_PLAYER_RECORD | ENTITY_ROUTE_DRIVEN | ENTITY_ALIVE)
                                                      : (ENTITY_PLAYER_RECORD | ENTITY_ALIVE);
        uint32_t character = context->characters[s];
        char path[1024];
        Entity_PlayerConfigPath(character < context->characterCount && character < GAME_CHARACTERS
                                    ? context->characterNames[character]
                                    : "",
                                path, sizeof path);
        Node* start = scene ? Scene_FindItem(scene, kPlayerStart, viewport) : nullptr;
        Object* object = Entity_LoadData(g_system->saved[s], path, start, (uint32_t)s + 1, 0, flags);
        Level_SetPlayerEntity(s, object);
        Player_SetHudState(s, 1);
        if (!object) continue;
        made++;
        EntityRecord* record = Entity_GetRecord(object);
        if (record) g_system->saved[s] = record;
        AnimPath_SetTarget(s, object);
        VavadUtils_AddPlayerObject(object);
    }
    if (scene) {
        for (uint32_t n = 0;; ++n) {
            Node* item = Scene_FindNthItemByPrefix(scene, kEntityPrefix, sizeof kEntityPrefix - 1, n);
            if (!item) break;
            char path[1024];
            Entity_SceneConfigPath(Node_GetNameText(item), path, sizeof path);
            Object* object = Entity_LoadData(nullptr, path, item, 0, 1, ENTITY_ALIVE);
            if (!object) continue;
            made++;
            EntityRecord* record = Entity_GetRecord(object);
            if (record && record->slots.route) record->flags |= ENTITY_ROUTE_DRIVEN;
        }
        Scene_Release(scene);
    }
    Node_Destroy(sceneRoot);
    return made;
}

Object* Entity_LoadData(EntityRecord* existing, const char* path, Node* startNode, uint32_t player, uint32_t kind,
                        uint32_t flags)
{
    if (!g_system || !path) return nullptr;
    if (!g_system->pool) g_system->pool = ObjectPool_Create();
    Object* object = ObjectTemplate_Load(path, nullptr, g_system->pool, 0);
    if (!object) return nullptr;
    ConfigNode* reader = Config_Open(path);
    if (!reader) return object;
    g_loadingFile = path;
    if (existing) Object_SetUserData(object, existing);

    Vec3 start, at, up;
    ReadStart(object, startNode, &start, &at, &up);
    Vec3 position = start;
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    if (object->body) {
        position.y += FirstPrimitiveValue(object->body);
        PhysField_RemoveBodyFromAll(world, object->body);
        PhysBody_HoldActive(object->body, 1);
        PhysWorld_RegisterBodyEvents(world, object->body);
        PhysBody_SetPosition(object->body, &position);
    }
    if (object->node) {
        Node_SetParent(object->node, ObjectWorld_GetRootNode());
        Node_SetWorldPosition(object->node, &position);
        Node_SetWorldOrientation(object->node, &at, &up);
    }

    EntityRecord* record = existing;
    if (record) {
        record->player = player;
        record->kind = kind;
    } else {
        record = (EntityRecord*)Mem_Calloc(sizeof(EntityRecord), 16);
        if (!record) {
            Config_Close(reader);
            g_loadingFile = "entity configuration";
            return object;
        }
        record->flags = flags;
        LoadSounds(reader, record, path);
        Object_SetUserData(object, record);
        record->player = player;
        record->kind = kind;
        record->animAlpha = record->animAlphaTarget = 1.0f;
        Config_SetSection(reader, "vehicle");
        LoadAnimSlots(reader, record, path);

        int viewport = 0;
        if (player) Player_GetViewportIndex((int)player - 1, &viewport);
        char hudFile[1024];
        if (!Config_GetString(reader, "vehicleData::HudPath", hudFile, sizeof hudFile) || !hudFile[0])
            snprintf(hudFile, sizeof hudFile, "%s", path);
        Hud_LoadConfig(hudFile, record, Hud_LayoutNumber((uint32_t)viewport, Level_GetNumViewports()), path);

        EntityType_Load(reader, record);
        Entity_ShowAnimSlots(record, 1);
        Entity_SetViewMask(record, 1);
    }

    Config_SetSection(reader, "vehicle");
    for (uint32_t i = 0; i < record->animSlotCount; ++i) AnimSet_SetObject(record->animSlots[i].set, object);
    Entity_CallModeLoad(reader, record, object, 0);
    Entity_CallModeLoad(reader, record, object, Level_GetLevelToUnlock());

    record->startPosition = start;
    record->startAt = at;
    record->startUp = up;
    Entity_SetHealth(record, 100.0f, 100.0f);
    record->flags &= ~ENTITY_RESPAWNED;
    if (record->slots.restart) record->slots.restart(object, record, 1);
    Config_Close(reader);
    g_loadingFile = "entity configuration";
    return object;
}

int EntityType_Load(ConfigNode* reader, EntityRecord* record)
{
    if (!reader || !record) return 0;
    const char* file = g_loadingFile;
    Config_SetSection(reader, "vehicle");
    char name[256];
    if (Config_GetString(reader, "vehicleData::ControlMode", name, sizeof name)) {
        uint32_t hash = Name_Hash(name, 1, 1);
        int32_t found = -1;
        if (g_system) {
            for (uint32_t i = 0; i < CONTROL_MODES; ++i)
                if (g_system->modeHashes[i] == hash) found = (int32_t)i;
        } else {
            found = ControlMode_FindByHash(hash);
        }
        if (found >= 0)
            record->mode = (uint32_t)found;
        else
            GameLog_Printf("%s: ControlMode \"%s\" is no control mode; the entity keeps mode %u", file, name,
                           record->mode);
    }
    if (record->mode >= CONTROL_MODES) return 0;

    if (Config_FirstChild(reader, "Water")) {
        if (!record->water) record->water = (EntityWater*)Mem_Calloc(sizeof(EntityWater), 16);
        if (record->water) {
            EntityWater* w = record->water;
            Config_GetFloat(reader, "Water::BuoyancyVelStep", &w->velStep);
            Config_GetFloat(reader, "Water::BuoyancyVelMax", &w->velMax);
            Config_GetFloat(reader, "Water::BuoyancySettleY", &w->settleY);
            Config_GetFloat(reader, "Water::BuoyancySettleVelRange", &w->settleVelRange);
            float v[3];
            if (Config_GetVector3(reader, "Water::WaterDamping", v)) w->damping = {v[0], v[1], v[2]};
        }
    }

    record->worldFov = record->skyDomeFov = record->hudFov = 0.55f;
    Config_GetFloat(reader, "vehicleData::worldFOV", &record->worldFov);
    Config_GetFloat(reader, "vehicleData::skyDomeFOV", &record->skyDomeFov);
    Config_GetFloat(reader, "vehicleData::hudFOV", &record->hudFov);
    Config_GetFloat(reader, "vehicleData::VehicleHeight", &record->vehicleHeight);
    int hasMaxVelocity = Config_GetFloat(reader, "vehicleData::maxVelocity", &record->maxVelocity);
    record->maxAngularVelocity = 10000.0f;
    Config_GetFloat(reader, "vehicleData::maxAngularVelocity", &record->maxAngularVelocity);
    float angle = 0.0f;
    if (Config_GetFloat(reader, "vehicleData::hitGroundAngle", &angle)) {
        if (angle < 0.0f) angle = 0.0f;
        if (angle > 180.0f) angle = 180.0f;
        record->cosHitGroundAngle = std::cos(DegToRad(angle));
    } else {
        record->cosHitGroundAngle = kCos45;
    }
    record->typeMask = ReadTypeMask(reader, "vehicleData::EntityType%d", file);
    record->typeControlMask = ReadTypeMask(reader, "vehicleData::EntityTypeControl%d", file);

    // A block of an earlier mode goes with that mode.
    if (record->modeData) {
        if (record->slots.free) record->slots.free(record);
        Mem_Free(record->modeData);
        record->modeData = nullptr;
    }
    record->slots = *ControlMode_GetSlots(record->mode);
    size_t size = ControlMode_GetDataSize(record->mode);
    if (size) {
        record->modeData = Mem_Calloc(size, 16);
        if (!record->modeData) {
            record->slots = ControlModeSlots{};
            return 0;
        }
    }
    if (!hasMaxVelocity && record->slots.update)
        GameLog_Printf("%s: vehicleData::maxVelocity is missing; the entity cannot move", file);
    return 1;
}

void Entity_CallModeLoad(ConfigNode* reader, EntityRecord* record, Object* object, int32_t pass)
{
    if (record && record->slots.load) record->slots.load(reader, record->modeData, record, object, pass);
}

const char* Entity_GetLoadingPath(void) { return g_loadingFile; }

// ---------------------------------------------------------------- Callbacks

uint32_t Entity_Constructor(Object* object, uint32_t zero, void*)
{
    Object_SetUserData(object, (void*)(uintptr_t)zero);
    Object_SetUserInt(object, ENTITY_USER_INT);
    Object_Sync(object, OBJECT_SYNC_ALL);
    return 0;
}

uint32_t Entity_Destructor(Object* object, uint32_t, void*)
{
    EntityRecord* record = Entity_GetRecord(object);
    if (!record) return 0;
    Object_SetUserData(object, nullptr);
    FreeRecord(record);
    return 0;
}

uint32_t Entity_Update(Object* object, uint32_t, void* arg)
{
    EntityRecord* record = Entity_GetRecord(object);
    if (!record || !arg) return 0;
    const float dt = *(const float*)arg;
    const bool player = record->player != 0;
    const int p = (int)record->player - 1;
    if (!(player && (record->flags & ENTITY_FROZEN))) record->clock += dt;
    record->flags &= ~ENTITY_IDLE;
    Object_AdvanceAnimation(object, dt);
    Vec3 position = {0, 0, 0}, at = {0, 0, 1}, up = {0, 1, 0};
    Object_GetTransform(object, &position, &up, &at);
    PhysBody* body = object->body;

    const bool standStill = (Level_GetEvents() & LEVEL_EVENT_FREEZE) != 0;
    for (uint32_t i = 0; i < record->animSlotCount; ++i) {
        EntityAnimSlot* slot = &record->animSlots[i];
        if (!slot->root || !slot->set) continue;
        if (!(slot->flags & ANIMSLOT_PAUSED) && !standStill) {
            if (AnimSet_Advance(slot->set, dt, ANIMSET_ADVANCE_SCENE))
                slot->flags |= ANIMSLOT_PLAYING;
            else
                slot->flags &= ~ANIMSLOT_PLAYING;
        }
        if (Node_GetParent(slot->root) && (slot->flags & ANIMSLOT_ALPHA)) AnimSet_SetAlpha(slot->set, record->animAlpha);
        if (slot->rbRelMode != ANIMSLOT_FREE) Node_SetWorldPosition(slot->root, &position);
        if (slot->rbRelMode == ANIMSLOT_FOLLOW) Node_SetWorldOrientation(slot->root, &at, &up);
    }

    for (uint32_t i = 0; i < record->hudAnimCount; ++i) {
        EntityHudAnimSlot* slot = &record->hudAnims[i];
        Node* frame = player && (record->viewMask & slot->viewMask) ? Viewport_GetHudFrame(p) : nullptr;
        Node_SetParent(slot->node, frame);
    }
    for (uint32_t i = 0; i < record->hudTextCount; ++i) Entity_ShowText(record, i, 0);

    Vec3 v = {0, 0, 0};
    PhysBody_GetLinearVelocity(body, &v);
    float h = std::sqrt(v.x * v.x + v.z * v.z);
    record->hSpeedChange = h - record->hSpeed;
    record->vSpeedChange = std::fabs(v.y) - record->vSpeed;
    record->hSpeed = h;
    record->vSpeed = std::fabs(v.y);

    if (player) {
        Player_SetWorldFov(p, record->worldFov);
        Player_SetBackDomeFov(p, record->skyDomeFov);
        Player_SetHudFov(p, record->hudFov);
        Player_SetRenderHook(p, record->slots.hook);
    }

    PlayerInputRecord input{};
    if (record->slots.rules) record->slots.rules(object, record, &input);

    input = PlayerInputRecord{};
    record->flags &= ~ENTITY_MOVING;
    if (!(record->flags & ENTITY_FROZEN)) {
        record->flags |= ENTITY_MOVING;
        const bool held = (record->flags & ENTITY_HELD) != 0;
        if (record->flags & ENTITY_ROUTE_DRIVEN) {
            if (!held && record->slots.route) record->slots.route(object, record, &input);
        } else if (player) {
            const PlayerInputRecord* pad = Player_GetInputRecord(p);
            if (!held && pad) input = *pad;
        } else {
            record->flags &= ~ENTITY_MOVING;
        }
    }
    if (!(record->flags & ENTITY_MOVING)) {
        record->flags |= ENTITY_IDLE;
        const Vec3 idleDamping = {8.0f, 0.0f, 8.0f};
        PhysBody_DampLinearVelocity(body, &idleDamping, dt);
    } else if (record->slots.update) {
        record->slots.update(object, record, &input);
    }

    PhysBody_GetLinearVelocity(body, &v);
    if (record->flags & ENTITY_ON_GROUND) record->landingTime = record->clock;
    if (Vec3_LengthSq(&v) > 0.7f) record->flags &= ~ENTITY_ON_GROUND;

    if (record->water && body) Buoyancy(record, body, position, dt);

    for (uint32_t i = 0; i < record->animSlotCount; ++i) {
        EntityAnimSlot* slot = &record->animSlots[i];
        if (slot->rbRelMode != ANIMSLOT_COPY_ORIENTATION || !slot->root) continue;
        if (slot->copyNum < 0 || (uint32_t)slot->copyNum >= record->animSlotCount) continue;
        Node* copied = record->animSlots[slot->copyNum].root;
        if (!copied) continue;
        Vec3 copyAt, copyUp;
        Node_GetWorldOrientation(copied, &copyAt, &copyUp);
        Node_SetWorldOrientation(slot->root, &copyAt, &copyUp);
    }

    record->animAlpha = Math_MoveTowards(record->animAlpha, record->animAlphaTarget, dt);

    PhysBody_ClampLinearSpeed(body, record->maxVelocity);
    PhysBody_ClampAngularSpeed(body, record->maxAngularVelocity);
    record->flags &= ~ENTITY_TOUCHED;
    if (body) PhysBody_GetPosition(body, &record->lastPosition);

    if (Level_GetEvents() & LEVEL_EVENT_RESPAWN) Entity_Respawn(object, 1);
    return 0;
}

uint32_t Entity_Collision(Object* object, Object* other, uint32_t side)
{
    EntityRecord* record = Entity_GetRecord(object);
    if (!record) return 0;
    if (record->slots.collision) record->slots.collision(object, record, other, side);
    // The slot may have destroyed or detached the object.
    if (Entity_GetRecord(object) != record || !ObjectCollision_InContact()) return 0;
    Vec3 n;
    ObjectCollision_GetContactNormal(&n);
    if (side == 1) n = {-n.x, -n.y, -n.z};
    // n now points from the other body towards this one.
    Vec3 v = {0, 0, 0}, otherV = {0, 0, 0};
    PhysBody_GetLinearVelocity(object->body, &v);
    if (other && other->body) PhysBody_GetLinearVelocity(other->body, &otherV);
    Vec3 relative;
    Vec3_Sub(&relative, &v, &otherV);
    const bool leaving = Vec3_Dot(&relative, &n) > 0.5f;
    if (n.y > record->cosHitGroundAngle && !leaving) {
        record->flags |= ENTITY_ON_GROUND;
        if ((record->flags & ENTITY_IDLE) && Vec3_LengthSq(&v) < 2.0f) {
            Vec3 vertical = {0.0f, v.y, 0.0f};
            PhysBody_SetLinearVelocity(object->body, &vertical);
        }
    }
    record->flags |= ENTITY_TOUCHED;
    return 0;
}

// ---------------------------------------------------------------- Records

EntityRecord* Entity_GetRecord(const Object* object)
{
    if (!object || Object_GetUserInt(object) != ENTITY_USER_INT) return nullptr;
    return (EntityRecord*)Object_GetUserData(object);
}

void Entity_Respawn(Object* object, int32_t usePlayerStart)
{
    EntityRecord* record = Entity_GetRecord(object);
    if (!record) return;
    record->health = 100.0f;
    if (record->player && usePlayerStart)
        Player_GetStart((int)record->player - 1, &record->startPosition, &record->startAt, &record->startUp);
    if (PhysBody* body = object->body) {
        Vec3 position = record->startPosition;
        position.y += FirstPrimitiveValue(body);
        PhysBody_SetPosition(body, &position);
        PhysBody_SetActive(body, 1);
        PhysBody_SetPhantom(body, 0);
        for (int i = 0; i < 20 && ObjectCollision_TestOverlap(body); ++i) {
            position.y += 0.5f;
            PhysBody_SetPosition(body, &position);
        }
    }
    // Everything Entity_Hide hid comes back.
    if (object->node) Node_SetFlags(object->node, NODE_HIDDEN, 0);
    Entity_ShowAnimSlots(record, 1);
    record->flags |= ENTITY_ALIVE;
    Entity_SetPhysicsActive(object, 0);
    record->flags &= ~ENTITY_RESPAWNED;
    if (record->slots.restart) record->slots.restart(object, record, usePlayerStart);
    PhysBody_HoldActive(object->body, 1);
}

void Entity_SetPhysicsActive(Object* object, int frozen)
{
    EntityRecord* record = Entity_GetRecord(object);
    if (!record) return;
    Entity_SetFlags(record, ENTITY_FROZEN, frozen);
    PhysBody* body = object->body;
    if (!body) return;
    if (!frozen) {
        PhysBody_SetActive(body, 1);
        const Vec3 down = {0.0f, -1.0f, 0.0f}, zero = {0.0f, 0.0f, 0.0f};
        PhysBody_SetLinearVelocity(body, &down);
        PhysBody_SetAngularVelocity(body, &zero);
    }
    RigidBody* rigid = PhysBody_Unwrap(body);
    if (rigid && rigid->pinned != (frozen != 0)) PhysBody_ResetMotion(body, frozen != 0);
}

int Entity_TestFlags(const EntityRecord* record, uint32_t bits) { return record && (record->flags & bits) ? 1 : 0; }

void Entity_SetFlags(EntityRecord* record, uint32_t bits, int on)
{
    if (!record) return;
    if (on)
        record->flags |= bits;
    else
        record->flags &= ~bits;
}

int Entity_TestAnimFlags(const EntityRecord* record, uint32_t slot, uint32_t bits)
{
    if (!record || slot >= record->animSlotCount) return 0;
    return (record->animSlots[slot].flags & bits) ? 1 : 0;
}

void Entity_SetAnimFlags(EntityRecord* record, uint32_t slot, uint32_t bits, int on)
{
    if (!record || slot >= record->animSlotCount) return;
    if (on)
        record->animSlots[slot].flags |= bits;
    else
        record->animSlots[slot].flags &= ~bits;
}

float Entity_GetTime(const EntityRecord* record) { return record ? record->clock : 0.0f; }
float Entity_GetHealth(const EntityRecord* record) { return record ? record->health : 0.0f; }

void Entity_SetHealth(EntityRecord* record, float value, float maximum)
{
    if (!record) return;
    float h = value < maximum ? value : maximum;
    record->health = h < 0.0f ? 0.0f : h;
}

float Entity_AddHealth(EntityRecord* record, float delta)
{
    if (!record) return 0.0f;
    float h = record->health + delta;
    if (h < 0.0f) h = 0.0f;
    if (h > 100.0f) h = 100.0f;
    record->health = h;
    return h;
}

void Entity_MessageDispatch(AnimSet* set, const char* event, Node* item, int32_t phase, float time, float span)
{
    EntityRecord* record = Entity_GetRecord((Object*)AnimSet_GetObject(set));
    if (record && record->slots.message) record->slots.message(set, event, item, phase, time, span);
}
