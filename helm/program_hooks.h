// The hook table of the program: the engine layer's start-ups, shut-downs
// and per-frame calls, and the game's set-up and movie list, as the shell
// calls them (app/hooks.h). The executable installs it; tests of the layers
// above the shell run the shell's start-up with the same table.
#pragma once

#include "app/hooks.h"
#include "common/maths.h"
#include "engine/animset.h"
#include "engine/billboard.h"
#include "engine/materialanim.h"
#include "engine/node.h"
#include "engine/nodeextra.h"
#include "engine/font.h"
#include "engine/particle.h"
#include "engine/renderobj.h"
#include "engine/scene.h"
#include "engine/scenelight.h"
#include "engine/sprite.h"
#include "engine/sprite3d.h"
#include "engine/trigger.h"
#include "engine/view.h"
#include "game/game_setup.h"
#include "game/state_hooks.h"

namespace programhooks {

inline Font* LoadFont(const char* name, void* folder) { return Font_Load(name, (const char*)folder); }

// The shell's sound placement reads plain floats; the node layer answers in
// the base library's records, which hold exactly those floats.
inline void NodeWorldPosition(Node* node, float* out3)
{
    Vec3 position;
    Node_GetWorldPosition(node, &position);
    out3[0] = position.x;
    out3[1] = position.y;
    out3[2] = position.z;
}

inline void NodeWorldMatrix(Node* node, float* out16)
{
    Mat4 world;
    Node_GetWorldMatrix(node, &world);
    for (int i = 0; i < 16; i++) out16[i] = world.m[i / 4][i % 4];
}

// The game's set-up; the shell ignores the result.
inline int GameSetup(void) { return Game_Setup() != nullptr; }

}  // namespace programhooks

// The engine layer's and the game's operations the shell calls. The game's
// hooks to the front end's states are installed beside these
// (front_end_hooks.h).
inline AppHooks ProgramHooks_Make()
{
    AppHooks hooks = {};
    // Content: scenes, nodes, render objects with their material extension,
    // scene lights and skin bindings, texture animations.
    hooks.sceneInit = Scene_Init;
    hooks.nodeInit = Node_Init;
    hooks.renderObjInit = RenderObj_Init;
    hooks.sceneLightInit = SceneLight_Init;
    hooks.nodeExtraInit = NodeExtra_Init;
    hooks.sceneShutdown = Scene_Shutdown;
    hooks.renderObjShutdown = RenderObj_Shutdown;
    hooks.sceneLightShutdown = SceneLight_Shutdown;
    hooks.nodeShutdown = Node_Shutdown;
    hooks.renderObjRegisterPlugin = RenderObj_RegisterPlugin;
    hooks.materialAnimTick = MaterialAnim_Tick;
    hooks.nodeRefreshAttachments = Node_RefreshAttachments;
    hooks.nodeCompactNames = Node_CompactNames;
    hooks.nodeGetWorldPosition = programhooks::NodeWorldPosition;
    hooks.nodeGetWorldMatrix = programhooks::NodeWorldMatrix;
    // Drawing and animation: the main view, sprites, billboards, fonts,
    // particles, animation sets and their triggers.
    hooks.spriteInit = Sprite_Init;
    hooks.viewInit = View_Init;
    hooks.animSetInit = AnimSet_Init;
    hooks.triggerInit = Trigger_Init;
    hooks.sprite3dInit = Sprite3d_Init;
    hooks.particleInit = Particle_Init;
    hooks.fontInit = Font_Init;
    hooks.viewShutdown = View_Shutdown;
    hooks.spriteShutdown = Sprite_Shutdown;
    hooks.fontShutdown = Font_Shutdown;
    hooks.sprite3dShutdown = Sprite3d_Shutdown;
    hooks.viewSetMainUpdating = View_SetMainUpdating;
    hooks.viewShowRaster = View_ShowRaster;
    hooks.sprite3dClearQueue = Sprite3d_ClearQueue;
    hooks.billboardResetCounts = Billboard_ResetCounts;
    hooks.spriteCreateBlank = Sprite_CreateBlank;
    hooks.spriteLoad = Sprite_Load;
    hooks.spriteSetAlpha = Sprite_SetAlpha;
    hooks.spriteDrawSimple = Sprite_DrawSimple;
    hooks.spriteRelease = Sprite_Release;
    hooks.fontLoad = programhooks::LoadFont;
    // The game: its set-up creates the root state; the movie list plays the
    // opening videos.
    hooks.gameSetup = programhooks::GameSetup;
    hooks.gameLoadMovieList = Game_LoadMovieList;
    return hooks;
}
