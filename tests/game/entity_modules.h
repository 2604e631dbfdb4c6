// The modules a level state starts for its entities and level objects, in its order, over the game's records (the file
// layer, configurations, text tables and the sound bank already started): nodes, scenes (nodes only: no device),
// triggers and animation sets, the physics world with its pick list (groups 1..4 all colliding with each other), the
// object world with its callback registry, templates and collision dispatch, the level session, and the entity system,
// projectile registry and pool and the shared hit-mode record, with an object pool as the level's object list. Shared
// by the tests and the benchmark.
#pragma once

#include "engine/animset.h"
#include "engine/callbacks.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objecttemplate.h"
#include "engine/objectworld.h"
#include "engine/physray.h"
#include "engine/physworld.h"
#include "engine/scene.h"
#include "engine/trigger.h"
#include "game/entity.h"
#include "game/game_context.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/projectile.h"

struct EntityModules {
    PhysWorld* phys = nullptr;
    List* objects = nullptr;  // the level's object list
};

// A new physics world for the object world and the game (groups 1..4 paired).
inline PhysWorld* EntityModules_MakeWorld(void)
{
    PhysWorld* phys = PhysWorld_CreateDefault();
    if (!phys) return nullptr;
    for (int a = 1; a <= 4; ++a)
        for (int b = 1; b <= 4; ++b) PhysWorld_PairCollisionGroups(phys, a, b);
    ObjectWorld_SetPhysicsWorld(phys);
    Game_SetPhysicsWorld(phys);
    ObjectCollision_Init();
    return phys;
}

// 1 when every module started.
inline int EntityModules_Start(EntityModules* m)
{
    if (!Node_Init() || !Scene_Init() || !Trigger_Init() || !AnimSet_Init() || !Phys_Init() ||
        !PhysContacts_Init() || !ObjectWorld_Init())
        return 0;
    if (!(m->phys = EntityModules_MakeWorld())) return 0;
    if (!CallbackRegistry_Init() || !ObjectTemplate_Init()) return 0;
    Rules_Init();
    if (!EntitySystem_Init() || !Projectile_Register() || !VavadUtils_Register() || !Projectile_CreatePool())
        return 0;
    HitModeObject_LoadConfig();
    m->objects = ObjectPool_Create();
    Level_SetObjectList(m->objects);
    return m->objects != nullptr;
}

// Everything in the level state's unload and exit order.
inline void EntityModules_Stop(EntityModules* m)
{
    Projectile_DestroyPool();
    EntitySystem_Unload(1);
    ObjectWorld_DestroyAllPools();
    HitModeObject_FreeConfig();
    EntitySystem_Free();
    VavadUtils_Shutdown();
    Projectile_Shutdown();
    Rules_Shutdown();
    ObjectWorld_Shutdown();
    ObjectTemplate_Shutdown();
    CallbackRegistry_Shutdown();
    ObjectCollision_ClearEvent();
    PhysRay_SetCastFunction(nullptr);
    PhysWorld_Destroy(m->phys);
    Game_SetPhysicsWorld(nullptr);
    PhysContacts_Shutdown();
    PhysWorlds_DestroyAll();
    AnimSet_Shutdown();
    Trigger_Shutdown();
    Scene_Shutdown();
    Node_Shutdown();
    m->phys = nullptr;
    m->objects = nullptr;
}
