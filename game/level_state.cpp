#include "game/level_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "app/config.h"
#include "app/pad.h"
#include "app/sound.h"
#include "app/soundbank.h"
#include "app/state.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "common/strings.h"
#include "engine/animpath.h"
#include "engine/animset.h"
#include "engine/callbacks.h"
#include "engine/joints.h"
#include "engine/mesh.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objectscene.h"
#include "engine/objecttemplate.h"
#include "engine/objectworld.h"
#include "engine/particle.h"
#include "engine/physray.h"
#include "engine/physworld.h"
#include "engine/sceneplay.h"
#include "engine/sprite3d.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/game_context.h"
#include "game/game_setup.h"
#include "game/hit_mode_object.h"
#include "game/ingame_menu.h"
#include "game/level_file.h"
#include "game/loading_screen.h"
#include "game/memcard_ui.h"
#include "game/menu_system.h"
#include "game/player_input.h"
#include "game/projectile.h"
#include "game/race_setup.h"
#include "game/viewports.h"

namespace {

constexpr float kMaxStep = 0.05f;    // seconds a frame may advance the level
constexpr float kEndWait = 1.0f;     // seconds between the end and the fade
constexpr float kFadeRate = 3.0f;    // fade units per second
constexpr float kFadeEnd = 1.1f;     // the fade's end
constexpr float kMenuStamp = 0.2f;   // buttons stay dead this long after the menu
constexpr uint32_t kActivate = OBJECT_EVENT_ACTIVATE;  // the event that activates a pickup
constexpr const char* kStartPrefix = "PlayerStart_Null";

constexpr int kGroupPairs[][2] = {{2, 2}, {2, 1}, {2, 3}, {2, 4}, {2, 5}, {1, 1}, {4, 4}, {5, 1},
                                  {6, 2}, {6, 1}, {6, 4}, {6, 5}, {7, 1}, {7, 4}, {7, 5}};

LevelState* g_level = nullptr;

LevelPickupActivation g_activations[LEVEL_PICKUP_ACTIVATIONS];
uint32_t g_activationCount = 0;

LevelState* LevelOf(GameState* state) { return state && state->userData ? (LevelState*)state->userData : g_level; }

// A pickup activation goes to the level objects' event queue (which takes
// it only while a hit-mode object lives); it is also recorded for tests.
void QueueActivation(const char* name, uint32_t event)
{
    ObjectEvent_Queue(ObjectEvent_GroupHash(name), event, 1, 0);
    if (g_activationCount < LEVEL_PICKUP_ACTIVATIONS) g_activations[g_activationCount++] = {name, event};
}

// levelToUnlock of the level file of a list entry; 0 when missing.
int32_t ReadLevelToUnlock(int entry)
{
    char path[GAMESETUP_TEXT + 8];
    snprintf(path, sizeof path, "levels\\%s", GameSetup_GetLevel(entry));
    ConfigNode* cfg = Config_Open(path);
    int32_t unlock = 0;
    if (cfg) {
        Config_GetInt(cfg, "game::Level::levelToUnlock", &unlock);
        Config_Close(cfg);
    }
    return unlock;
}

int FreeParticle(void* item, void*)
{
    List_Free(Particle_GetPool(), item);
    return 0;
}

int ReleaseSprite3d(void* item, void*)
{
    Sprite3d_Release((Sprite3d*)item);
    return 0;
}

uint32_t GenericConstructor(Object* object, uint32_t, void*)
{
    Object_PlaceAtItemNode(object);
    if (object->animSet) AnimSet_SetTime(object->animSet, 0.0f);
    return 0;
}

uint32_t GenericUpdate(Object* object, uint32_t, void* dt)
{
    Object_AdvanceAnimation(object, *(const float*)dt);
    return 0;
}

uint32_t GenericNothing(Object*, uint32_t, void*) { return 0; }

// Any key of the keyboard or any menu button of a player's device, newly
// pressed: what ends the attract demo.
bool AnyKeyPressed()
{
    if (Pad* keyboard = Pad_Get(PAD_KEYBOARD, 0))
        for (uint32_t key = 0; key < PAD_VALUES; key++)
            if (Pad_JustPressed(keyboard, key)) return true;
    return PlayerInput_AnyPressed(GAME_ANY_PLAYER) != 0;
}
uint32_t GenericCollision(Object*, Object*, uint32_t) { return 0; }

// The end of a level, step by step (the flags of level_session.h).
void UpdateEnd(GameState* state, LevelState* level, float dt)
{
    // The attract demo's end is a quit, whatever ended it: a demo records
    // nothing.
    const bool quit = Level_TestFlags(LEVEL_QUIT) || GameSetup_IsDemo();
    const int next = level->levelIndex + 1;
    if (Level_TestFlags(LEVEL_ENDED) && !Level_TestFlags(LEVEL_END_WAIT | LEVEL_FADING | LEVEL_LOAD_NEXT)) {
        // Just ended. A level without a progress entry marks nothing.
        const int32_t entry = Level_GetLevelToUnlock();
        level->completedBefore = entry > 0 && Progress_TestFlags(entry, PROGRESS_COMPLETED);
        if (!quit) {
            if (entry > 0) Progress_SetFlags(entry, PROGRESS_COMPLETED, 1);
            if (!GameSetup_IsListEnd(next)) {
                const int32_t unlock = ReadLevelToUnlock(next);
                if (unlock > 0) Progress_SetLocked(unlock, 0);
            }
            MemCardUI_SetMode(MEMCARD_MODE_AUTOSAVE);
        }
        Level_FreeMusic();
        Level_SetFlags(LEVEL_END_WAIT, 1);
        level->endWaitTimer = 0.0f;
    } else if (Level_TestFlags(LEVEL_END_WAIT)) {
        level->endWaitTimer += dt;
        if (level->endWaitTimer > kEndWait) {
            if (next >= GAMESETUP_LEVELS)
                LoadingScreen_SetImage(0, 1);
            else if (!GameSetup_IsListEnd(next) && !quit && !level->completedBefore)
                LoadingScreen_SetImage(Level_GetLoadingScreenIndex(next), 0);
            else
                LoadingScreen_SetImage(0, 0);
            Level_SetFlags(LEVEL_ENDED | LEVEL_END_WAIT, 0);
            Level_SetFlags(LEVEL_FADING, 1);
            level->fadeTimer = 0.0f;
        }
    } else if (Level_TestFlags(LEVEL_FADING) && !Level_TestFlags(LEVEL_LOAD_NEXT)) {
        level->fadeTimer += dt * kFadeRate;
        if (level->fadeTimer >= kFadeEnd) Level_SetFlags(LEVEL_LOAD_NEXT, 1);
    } else if (Level_TestFlags(LEVEL_LOAD_NEXT) || (Game_GetWadProcess() && level->renderedOnce)) {
        // Indices past the list count as its end.
        level->levelIndex = next;
        if (!GameSetup_IsListEnd(next) && !quit && !level->completedBefore) {
            Level_Unload(state, 0);
            LoadingScreen_Begin(2);
            Level_LoadContent(state);
            LoadingScreen_End();
        } else {
            Level_SetFlags(LEVEL_LEAVE, 1);
        }
        Level_SetFlags(LEVEL_QUIT | LEVEL_LOAD_NEXT | LEVEL_FADING, 0);
    }
}

// The "extraGames" page: the rules of the entry's unlocked extra games stay
// selectable, the others are disabled.
void ShowExtraGames(MenuSystem* menu, int32_t entry)
{
    if (!Menu_GoToByName(menu, "extraGames", 1)) return;
    MenuPage* page = Menu_FindPage(menu, Name_Hash("extraGames", 1, 1));
    const struct {
        uint32_t rule;
        uint32_t bit;
    } extras[] = {{RULE_BEATTIME, PROGRESS_BEATTIME_RULE}, {RULE_HIDDEN_PICKUPS, PROGRESS_HIDDEN_RULE}};
    for (const auto& e : extras)
        if (MenuEntry* item = MenuPage_FindEntry(page, Level_GetRuleHash(e.rule)))
            MenuEntry_SetFlags(item, MENU_ENTRY_ITEM, Progress_TestFlags(entry, e.bit));
}

}  // namespace

// ---- the state ----

GameState* Level_CreateState(void)
{
    GameState* state = State_Create();
    if (!state) return nullptr;
    state->enter = Level_Init;
    State_SetUpdate(state, Level_Update);
    State_SetRender(state, Level_Render);
    State_SetPreUpdate(state, Game_PauseUpdate);
    State_SetDestroy(state, Level_Exit);
    return state;
}

LevelState* Level_GetState(void) { return g_level; }

void Level_Init(GameState* state)
{
    LoadingScreen_Begin(3);
    LevelState* level = (LevelState*)Mem_Calloc(sizeof(LevelState), 8);
    g_level = level;
    State_SetUserData(state, (uintptr_t)level);
    if (!level) return;  // the update finds no level and leaves
    Level_SetupTimerLogs(level);
    level->controllingPlayer = Game_GetContext()->controllingPlayer;

    CallbackRegistry_Init();
    ObjectWorld_Init();
    ObjectWorld_SetEventLookup(nullptr);

    Rules_Init();
    EntitySystem_Init();
    Projectile_Register();
    InGameMenu_Register();
    Sound_SetFalloffDistance(9.0f);
    GenericObject_Register();
    VavadUtils_Register();
    Hinge_Register();
    Point2Point_Register();
    AnimPath_Register();

    Level_SetViewportCallback(Level_PrepareViewportHuds);
    Level_SetRestartCallback(Level_OnRestart);
    Level_SetupPlayers();
    Level_LoadContent(state);
    LoadingScreen_End();
}

void Level_LoadContent(GameState* state)
{
    LevelState* level = LevelOf(state);
    if (!level) return;
    GameContext* ctx = Game_GetContext();
    AnimPath_Init();
    Projectile_CreatePool();
    Level_InitPhysics();
    HitModeObject_LoadConfig();
    ObjectTemplate_Init();
    Level_ResetSettings(level);
    Level_SetObjectList(ObjectPool_Create());
    Level_SetGameRule(RULE_NORMAL);
    Level_Load(level);
    ctx->levelLoaded = 1;
    // A level that asks for fog loads its scene, the scene's objects, its
    // back dome and its entities with the mesh loader's fog flag.
    Mesh_SetFog((int)level->mapLoadFogOn);
    Level_LoadScene(level);
    Mesh_SetFog(0);
    MenuSystem* menu = Level_CreateInGameMenu("InGameMenu.cfg");
    Mesh_SetFog((int)level->mapLoadFogOn);
    Entity_CreateFromLevel(Level_GetSceneName());
    Mesh_SetFog(0);
    ObjectTemplate_Shutdown();
    level->renderedOnce = level->steppedOnce = 0;
    Game_ChooseTrackName();
    // Nobody dismisses the page in the data-packing run or the attract demo.
    if (!Game_GetWadProcess() && !GameSetup_IsDemo()) {
        Level_SetFlags(LEVEL_WAIT_CONTINUE, 1);
        if (menu && Menu_GoToByName(menu, "loadingScreenContinue", 1)) Menu_SetOpen(menu, 1, 1);
    }
    Level_LoadMusic(Game_GetTrackName(), ctx->musicVolume, 1);
}

GameState* Level_Update(GameState* state, float dt)
{
    LevelState* level = LevelOf(state);
    if (!level) return nullptr;
    if (dt > kMaxStep) dt = kMaxStep;
    Game_SetFrameTime(dt);
    Rules_Update(dt);

    MenuSystem* menu = Level_GetInGameMenu();
    if (!Level_TestFlags(LEVEL_ENDED | LEVEL_FADING | LEVEL_LOAD_NEXT | LEVEL_WAIT_CONTINUE)) {
        if (!Menu_IsOpen(menu)) {
            if (!Level_TestFlags(LEVEL_SKIP_PHYSICS)) PhysWorld_Update(ObjectWorld_GetPhysicsWorld(), dt);
            Level_SetFlags(LEVEL_SKIP_PHYSICS, 0);
            Level_UpdateObjects(dt);
            if (List* objects = Level_GetObjectList()) ObjectPool_Update(objects, &dt);
            Projectile_UpdatePool(dt);
            level->steppedOnce = 1;
        } else {
            Level_SetFlags(LEVEL_RULE_CLOCK, 0);
            Level_StampTime(kMenuStamp);
        }
    }

    UpdateEnd(state, level, dt);
    // Loading the next level replaced the menu.
    menu = Level_GetInGameMenu();
    GameState* result = state;
    if (!Game_GetWadProcess() && MemCardUI_GetPendingMode() != MEMCARD_MODE_NONE)
        if (GameState* saves = MemCardUI_CreateState()) result = saves;

    if (Menu_IsOpen(menu)) {
        Level_SetFlags(LEVEL_RULE_CLOCK, 0);
    } else {
        // The wait on "loadingScreenContinue" ends on the first frame the
        // menu is closed. The attract demo has no pause menu: any key ends it.
        if (GameSetup_IsDemo()) {
            const uint32_t ending = LEVEL_ENDED | LEVEL_END_WAIT | LEVEL_FADING | LEVEL_LOAD_NEXT;
            level->demoTime += dt;
            if (!Level_TestFlags(ending) && (AnyKeyPressed() || level->demoTime >= LEVEL_DEMO_SECONDS))
                Level_SetFlags(LEVEL_ENDED | LEVEL_QUIT, 1);
        } else if (menu && PlayerInput_EscapePressed(level->controllingPlayer)) {
            Menu_SetPlayer(menu, level->controllingPlayer);
            Menu_GoToByName(menu, "pauseMenuMain", 1);
            Menu_SetOpen(menu, 1, 1);
        }
        Level_SetFlags(LEVEL_WAIT_CONTINUE, 0);
    }
    Level_OnMenuResult(state, Menu_Update(menu));
    return Level_TestFlags(LEVEL_LEAVE) ? nullptr : result;
}

void Level_OnMenuResult(GameState* state, uint32_t hash)
{
    LevelState* level = LevelOf(state);
    if (hash == 0 || !level) return;
    if (hash == Level_GetRuleHash(RULE_NORMAL)) {
        Level_SetGameRule(RULE_NORMAL);
        Level_SetupPickups();
        return;
    }
    const char* amounts[3] = {"easyPickupAmount", "mediumPickupAmount", "hardPickupAmount"};
    for (uint32_t d = 0; d < 3; d++) {
        if (!Menu_NameMatches(amounts[d], hash)) continue;
        Level_SetGameRule(RULE_SCORE_PICKUPS);
        Game_SetDifficulty(d);
        Level_SetupPickups();
        return;
    }
    for (uint32_t rule : {RULE_COUNTDOWN, RULE_BEATTIME, RULE_HIDDEN_PICKUPS}) {
        if (hash != Level_GetRuleHash(rule)) continue;
        Level_SetGameRule(rule);
        Level_SetupPickups();
        return;
    }
    if (Menu_NameMatches("nextLevel", hash)) {
        Level_SetFlags(LEVEL_ENDED, 1);
    } else if (Menu_NameMatches("quitToFrontend", hash)) {
        Level_SetFlags(LEVEL_ENDED | LEVEL_QUIT, 1);
    } else if (Menu_NameMatches("startLevel", hash)) {
        const int32_t entry = Level_GetLevelToUnlock();
        if (entry > 0) {
            if (!Progress_TestFlags(entry, PROGRESS_COMPLETED))
                Level_SetupPickups();
            else if (level->extraGameTypes)
                ShowExtraGames(Level_GetInGameMenu(), entry);
            Progress_SetLocked(entry, 0);
        }
    } else {
        Level_Restart(0);
    }
}

void Level_Render(GameState* state)
{
    LevelState* level = LevelOf(state);
    if (!level) return;
    Level_UpdateViewports();
    // The loading image stays until the world has stepped once: before that,
    // no entity has placed its model or its camera.
    level->covered = Level_TestFlags(LEVEL_WAIT_CONTINUE) || !level->steppedOnce;
    if (level->covered) LoadingScreen_DrawFade(0, 1.0f, 1);
    Menu_Render(Level_GetInGameMenu());
    if (Level_TestFlags(LEVEL_FADING)) LoadingScreen_DrawFade(0, level->fadeTimer * 0.25f, 1);
    level->renderedOnce = 1;
}

void Level_Unload(GameState* state, int final)
{
    (void)state;
    Level_FreeMusic();
    Sound_ReleaseIdle();
    for (int v = 0; v < LEVEL_VIEWPORTS; v++) Sound_SetListener(nullptr, v);
    if (List* particles = Particle_GetPool()) List_ForEach(particles, FreeParticle, nullptr);
    Projectile_DestroyPool();
    EntitySystem_Unload(final);
    Level_FreeViewports();
    ObjectPool_Destroy(Level_GetObjectList());
    Level_SetObjectList(nullptr);
    Level_FreeInGameMenu();
    ObjectWorld_DestroyAllPools();
    AnimPath_Shutdown();
    HitModeObject_FreeConfig();
    if (List* sprites = Sprite3d_GetPool()) List_ForEach(sprites, ReleaseSprite3d, nullptr);
    // The world's constraints go with it.
    Game_RecreatePhysicsWorld();
    // Nothing of the old level stays reachable from the session.
    LevelSession* s = Level_GetSession();
    for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) {
        s->playerEntities[p] = nullptr;
        s->players[p].renderHook = nullptr;
        s->players[p].userWord = nullptr;
    }
    if (final) Level_FreeBackDome();
}

void Level_Exit(GameState* state)
{
    Level_Unload(state, 1);
    SoundBank_Reset();
    LevelState* level = LevelOf(state);
    Mem_Free(level);
    if (state) State_SetUserData(state, 0);
    g_level = nullptr;
    GameSetup_SetDemo(0);
    if (Game_GetRequestedState() == GAME_REQUEST_LEVEL) Game_SetRequestedState(GAME_REQUEST_FRONTEND);
    EntitySystem_Free();
    VavadUtils_Shutdown();
    Projectile_Shutdown();
    Rules_Shutdown();
    ObjectWorld_Shutdown();
    CallbackRegistry_Shutdown();
    LoadingScreen_Begin(1);
}

// ---- the steps ----

void Level_InitPhysics(void)
{
    PhysWorld_SetEventParam(0.0f);
    if (!Game_GetPhysicsWorld()) Game_RecreatePhysicsWorld();
    PhysContacts_Init();
    ObjectWorld_SetPhysicsWorld(Game_GetPhysicsWorld());
    ObjectCollision_Init();
    Level_SetupCollisionGroups();
}

void Level_LoadScene(LevelState* level)
{
    LevelSession* s = Level_GetSession();
    ObjectScene_SetCreateHook(Level_FindPlayerStarts);
    if (s->sceneName[0]) ObjectScene_Load(s->sceneName, s->configDir, s->objectList);
    ObjectScene_SetCreateHook(nullptr);
    Node_RefreshAttachments(nullptr);
    for (uint32_t v = 0; v < s->numViewports; v++) Level_GetViewportRect((int)s->numViewports, (int)v, s->viewports[v].rect);
    Level_SetupViewports(level->fogType, level->fogColour, level->fogDistance, level->fogDensity);
    Level_LoadBackDome(level->backDomePath, (int)level->mapLoadFogOn);
}

void Level_SetupPlayers(void)
{
    const GameContext* ctx = Game_GetContext();
    // The slots that take part, humans first: a human on a later slot (the
    // keyboard beside a controller on slot 0) is drawn before any slot the
    // computer drives.
    int order[GAME_LEVEL_PLAYERS];
    int count = 0;
    for (const bool human : {true, false})
        for (int p = 0; p < GAME_LEVEL_PLAYERS && (uint32_t)p < Game_GetMaxPlayers(); p++)
            if (ctx->playerKinds[p] != PLAYER_KIND_NONE && (ctx->playerKinds[p] == PLAYER_KIND_HUMAN) == human)
                order[count++] = p;
    // Views and player entities both number the context's player count (one
    // view for a single player on the level grids; 0 counts every slot):
    // the other slots get neither.
    const int players = ctx->playerCount && ctx->playerCount < (uint32_t)count ? (int)ctx->playerCount : count;
    for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) Player_SetViewportIndex(p, -1);
    for (int i = 0; i < players; i++) Player_SetViewportIndex(order[i], i);
    Level_SetNumPlayerEntities((uint32_t)players);
    Level_SetNumViewports((uint32_t)players);
}

int Level_FindPlayerStarts(Node* item, const char* baseName)
{
    (void)baseName;
    const char* name = Node_GetNameText(item);
    const char* at = name ? String_FindNoCase(name, kStartPrefix) : nullptr;
    if (!at) return 0;
    // Items are named "%s_%.2d": the number after the underscore is the
    // player, counted from 0.
    const char* number = at + strlen(kStartPrefix);
    if (*number == '_') number++;
    if (*number < '0' || *number > '9') return 1;
    // Start n is the n-th player's of the level: the slot drawn in viewport n.
    const long n = strtol(number, nullptr, 10);
    int player = -1;
    for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) {
        int viewport = -1;
        if (Player_GetViewportIndex(p, &viewport) && viewport == n) player = p;
    }
    if (player < 0) return 1;
    Vec3 position, forward, up;
    Node_GetWorldPosition(item, &position);
    Node_GetWorldOrientation(item, &forward, &up);
    Player_SetStart(player, &position, &forward, &up);
    return 1;
}

void Level_SetupCollisionGroups(void)
{
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    for (const auto& pair : kGroupPairs) PhysWorld_PairCollisionGroups(world, pair[0], pair[1]);
}

void Level_SetupPickups(void)
{
    const uint32_t rule = Level_GetGameRule();
    if (rule == RULE_SCORE_PICKUPS || rule == RULE_COUNTDOWN || rule == RULE_COUNTDOWN_MUST_COMPLETE) {
        QueueActivation("SCORE_PICKUP", kActivate);
        for (int p = 0; p < GAMESETUP_PLAYERS; p++) GameSetup_SetPlayerDifficulty(p, Game_GetDifficulty());
    }
    if (rule == RULE_NORMAL || rule == RULE_SCORE_PICKUPS || rule == RULE_BEATTIME)
        QueueActivation("LEVEL_COMP", kActivate);
    if (rule == RULE_HIDDEN_PICKUPS) QueueActivation("HIDDEN_PICKUP", kActivate);
    Level_RaiseEvents(LEVEL_EVENT_RESPAWN);
}

void Level_OnRestart(uint32_t)
{
    Level_SetClock2(0.0f);
    Level_SetupPickups();
}

void Level_SetupTimerLogs(LevelState* level)
{
    level->timerLogNames[0] = "GlimTimerLogType_Physics";
    level->timerLogNames[1] = "GlimTimerLogType_Update";
    level->timerLogNames[2] = "GlimTimerLogType_Render";
    for (uint32_t& t : level->timers) t = 0;
}

void Level_PrepareViewportHuds(int viewport)
{
    // The viewport's own player sees its entity as its HUD state says (a
    // first-person view hides the body); every other player entity is seen
    // from outside.
    for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) {
        EntityRecord* record = Entity_GetRecord(Level_GetPlayerEntity(p));
        if (!record) continue;
        int v = -1;
        const bool own = Player_GetViewportIndex(p, &v) && v == viewport;
        Entity_SetViewMask(record, own ? Player_GetHudState(p) : 1u);
    }
}

MenuSystem* Level_CreateInGameMenu(const char* fileName)
{
    LevelSession* s = Level_GetSession();
    if (!s->inGameMenu) s->inGameMenu = Menu_Load(fileName);
    return s->inGameMenu;
}

void Level_FreeInGameMenu(void)
{
    LevelSession* s = Level_GetSession();
    Menu_Free(s->inGameMenu);
    s->inGameMenu = nullptr;
}

void GenericObject_Register(void)
{
    CallbackRegistry_AddFn("GenericObject_Constructor", GenericConstructor);
    CallbackRegistry_AddFn("GenericObject_Update", GenericUpdate);
    CallbackRegistry_AddFn("GenericObject_Destructor", GenericNothing);
    CallbackRegistry_AddFn("GenericObject_Collision", GenericCollision);
}

uint32_t LevelTest_GetActivations(const LevelPickupActivation** out)
{
    if (out) *out = g_activations;
    return g_activationCount;
}

void LevelTest_ClearActivations(void) { g_activationCount = 0; }
