// The hook table through which the shell reaches the engine content layer
// and the game. Both lie above the shell in the library graph, so the
// shell never calls them by name: the executable fills this table before
// it runs the shell's entry, with the functions that exist.
//
// An empty slot is skipped: a start-up, shut-down or per-frame hook does
// nothing; a sprite hook gives no sprite (the logo screen then returns at
// once); a node hook leaves a placed sound at full volume and centre pan.
// The main view's four slots have a stand-in of the shell's own
// (app/mainview.h) until the engine layer fills them. Without Game_Setup
// the shell runs its own test screen as the root state.
#pragma once

#include <cstdint>

struct Sprite;  // the engine layer's records, opaque to the shell
struct Font;
struct Node;

struct AppHooks {
    // ---- module start-ups, in the order App_InitSystems calls them
    // (results are not checked) ----
    int (*sceneInit)(void);       // Scene_Init
    int (*nodeInit)(void);        // Node_Init
    int (*renderObjInit)(void);   // RenderObj_Init
    int (*spriteInit)(void);      // Sprite_Init
    int (*sceneLightInit)(void);  // SceneLight_Init
    int (*viewInit)(void);        // View_Init: the main view of screenWidth x screenHeight
    int (*animSetInit)(void);     // AnimSet_Init
    int (*triggerInit)(void);     // Trigger_Init
    int (*nodeExtraInit)(void);   // NodeExtra_Init
    int (*sprite3dInit)(void);    // Sprite3d_Init
    int (*particleInit)(void);    // Particle_Init
    int (*fontInit)(void);        // Font_Init

    // ---- module shut-downs, in the order App_ShutdownSystems calls them ----
    void (*viewShutdown)(void);        // View_Shutdown
    void (*spriteShutdown)(void);      // Sprite_Shutdown
    void (*sceneShutdown)(void);       // Scene_Shutdown
    void (*renderObjShutdown)(void);   // RenderObj_Shutdown
    void (*sceneLightShutdown)(void);  // SceneLight_Shutdown
    void (*fontShutdown)(void);        // Font_Shutdown
    void (*nodeShutdown)(void);        // Node_Shutdown
    void (*sprite3dShutdown)(void);    // Sprite3d_Shutdown

    // RenderObj_RegisterPlugin: the engine layer's one-word extension, the
    // last link of the plug-in chain, attached before the engine opens.
    int (*renderObjRegisterPlugin)(void);

    // ---- every frame ----
    // View_SetMainUpdating: 1 begins, 0 ends the main view's camera update;
    // every draw of a state's load or render callback lies in between.
    void (*viewSetMainUpdating)(int begin);
    // View_ShowRaster: presents the main view's picture.
    void (*viewShowRaster)(void);
    // MaterialAnim_Tick: texture animations, before the state stack.
    void (*materialAnimTick)(float dt);
    // Node_RefreshAttachments (null root: all nodes), after a state's enter.
    void (*nodeRefreshAttachments)(Node* root);
    // Node_CompactNames, whenever a state record is destroyed.
    void (*nodeCompactNames)(void);
    // Sprite3d_ClearQueue and Billboard_ResetCounts, after each state render.
    void (*sprite3dClearQueue)(void);
    void (*billboardResetCounts)(void);

    // ---- the logo screen and the version file ----
    // Sprite_CreateBlank: a sprite of the packed colour and size, or null.
    Sprite* (*spriteCreateBlank)(const uint32_t* colour, int32_t width, int32_t height);
    // Sprite_Load: the image as a sprite, or null.
    Sprite* (*spriteLoad)(const char* name, int32_t flags);
    void (*spriteSetAlpha)(Sprite* sprite, float alpha);  // Sprite_SetAlpha, 0..1
    // Sprite_DrawSimple: frame 0 over the whole screen when rect is null.
    void (*spriteDrawSimple)(Sprite* sprite, const float* rect);
    void (*spriteRelease)(Sprite* sprite);  // Sprite_Release
    // Font_Load: null name loads the default font; its handle, or null.
    Font* (*fontLoad)(const char* name, void* second);

    // ---- 3D sound ----
    // Node_GetWorldPosition: the node's world translation (x, y, z).
    void (*nodeGetWorldPosition)(Node* node, float* out3);
    // Node_GetWorldMatrix: 16 floats, row-major, rows right, up, at, position.
    void (*nodeGetWorldMatrix)(Node* node, float* out16);

    // ---- the game ----
    // Game_Setup: the game's start-up, which creates the root state with
    // State_Create (the first record created becomes current). Result ignored.
    int (*gameSetup)(void);
    // Game_LoadMovieList: plays the start-up movies; called while the
    // full-screen cover window is up.
    void (*gameLoadMovieList)(void);

    // ---- for tests ----
    // Called with the name of each of the shell's own start-up and shut-down
    // steps ("Pad_Init", "File_Shutdown", ...), so that a test can record
    // them in one list with the hooked ones.
    void (*trace)(const char* step);
    // Called once at the start of every frame of the main loop, before the
    // pads are read, and once every pass of the logo and video loops:
    // scripted runs step their clock and play their input here.
    void (*frameTick)(void);
};

// Copies the table (null clears every slot).
void AppHooks_Install(const AppHooks* hooks);
// The installed table; never null (all slots empty before an install).
const AppHooks* AppHooks_Get(void);
// Calls the trace hook with a step name when one is installed.
void AppHooks_Trace(const char* step);
// Calls the frame tick hook when one is installed.
void AppHooks_FrameTick(void);
