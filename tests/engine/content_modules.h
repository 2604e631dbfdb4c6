// The content layer's modules in their start-up order, over an engine that
// has started with the world attached and the render objects' material
// extension registered, and the world the views and render objects use.
// Shared by the tests and the benchmark.
#pragma once

#include "app/cache.h"
#include "app/config.h"
#include "engine/materialanim.h"
#include "engine/mesh.h"
#include "engine/node.h"
#include "engine/nodeextra.h"
#include "engine/renderobj.h"
#include "engine/scene.h"
#include "engine/scenelight.h"
#include "engine/view.h"
#include "gfx/plugin/collision/collision.h"
#include "gfx/plugin/hanim/hanim.h"
#include "gfx/plugin/matfx/matfx.h"
#include "gfx/plugin/random/random.h"
#include "gfx/plugin/skin/skin.h"
#include "gfx/world/world.h"

// The graphics plug-ins the content layer draws with, in the shell's order,
// then the render objects' material extension: between Engine_Init and
// Engine_Open. 1 when every one attached.
inline int ContentModules_Attach(void)
{
    return World_PluginAttach() && Random_PluginAttach() && Skin_PluginAttach() && HAnim_PluginAttach() &&
           GeomCollision_PluginAttach() && MatFX_PluginAttach() && RenderObj_RegisterPlugin();
}

// 1 when every module started and the world was made.
inline int ContentModules_Start(World** world)
{
    Cache_Init(6);
    const WorldBox box = {{-500, -500, -500}, {500, 500, 500}};
    *world = nullptr;
    if (!ConfigSys_Init() || !Node_Init() || !NodeExtra_Init() || !RenderObj_Init() || !SceneLight_Init() ||
        !Scene_Init() || !(*world = World_Create(&box)))
        return 0;
    View_SetWorld(*world);
    return 1;
}

inline void ContentModules_Stop(World* world)
{
    Scene_Shutdown();
    SceneLight_Shutdown();
    RenderObj_Shutdown();
    NodeExtra_Shutdown();
    Node_Shutdown();
    View_SetWorld(nullptr);
    if (world) World_Destroy(world);
    ConfigSys_Shutdown();
}
