#include "game/game_context.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/config.h"
#include "app/namecache.h"
#include "app/sound.h"
#include "app/soundbank.h"
#include "common/list.h"
#include "engine/font.h"
#include "engine/materialanim.h"
#include "engine/node.h"
#include "engine/particle.h"
#include "engine/physray.h"
#include "engine/physworld.h"
#include "engine/renderobj.h"
#include "engine/scene.h"
#include "engine/sprite.h"
#include "engine/sprite3d.h"
#include "engine/view.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "platform/win32/cursor.h"

namespace {

// The words that stand beside the context.
struct GameWords {
    uint32_t requestedState;
    float frameTime;
    uint32_t maxPlayers;
    uint32_t difficulty;
    uint32_t selectValue;
    uint32_t buildNumber;
    char trackName[16];
    PhysWorld* physicsWorld;
    GameRandomSource random;
    struct {
        uint8_t set;
        uint8_t index;
        int32_t number;
        int32_t variant;  // 16 bits in use
    } startLevel;
};

GameContext g_context;
GameWords g_words = {GAME_REQUEST_NONE, 0.0f, 4, 0, 0, 0, "Track1", nullptr, nullptr, {0, 0, -1, 0}};

// The engine pools' capacities, in the order they are fixed. A pool that
// has a block already keeps growing: the views pool is one (the screen view
// is made first), so four players' thirteen views fit.
struct PoolCapacity {
    List* (*pool)(void);
    uint32_t items;
};

List* SpriteNames(void) { return NameCache_GetPool(Sprite_GetCache()); }
List* SceneNames(void) { return NameCache_GetPool(Scene_GetCache()); }
List* RenderObjNames(void) { return NameCache_GetPool(RenderObj_GetCache()); }

constexpr PoolCapacity kPoolCapacities[] = {
    {View_GetPool, 10},
    {Sprite_GetPool, 256},
    {SpriteNames, 257},
    {Node_GetPool, 29696},
    {ConfigSys_GetNodePool, 2816},
    {ConfigSys_GetReaderPool, 128},
    {Scene_GetPool, 3072},
    {SceneNames, 1024},
    {RenderObj_GetPool, 1025},
    {RenderObjNames, 513},
    {MaterialAnim_GetSequencePool, 258},
    // (materials driven by texture sequences, 64: the sequences hold their
    // materials themselves, there is no pool of them)
    {Font_GetPool, 16},
    {Sprite3d_GetPool, 65},
    {Particle_GetPool, 200},
    {SoundBank_GetPool, 201},
};

bool ValidEntry(int entry) { return entry >= 0 && entry < GAME_PROGRESS_ENTRIES; }
bool ValidLevelPlayer(int player) { return player >= 0 && player < GAME_LEVEL_PLAYERS; }

}  // namespace

GameContext* Game_GetContext(void) { return &g_context; }

void Game_ResetContext(void)
{
    static bool zeroed = false;
    if (!zeroed) {
        memset(&g_context, 0, sizeof g_context);
        zeroed = true;
    }
    snprintf(g_context.frontEndPath, sizeof g_context.frontEndPath, "%s", "FrontEnd\\FrontEnd.cfg");
    Game_CreateScreenView(1);
    for (const PoolCapacity& p : kPoolCapacities)
        if (List* pool = p.pool()) List_SetBlockSize(pool, p.items);
    Toolkit2D_SetDeviceRect(0.0f, 0.0f, 640.0f, 480.0f);
    Game_SetDefaultSettings();
    static const uint8_t kWhite[4] = {255, 255, 255, 255};
    static const uint8_t kRed[4] = {255, 0, 0, 255};
    for (int i = 0; i < 2; i++) {
        if (g_context.defaultFonts[i]) continue;
        g_context.defaultFonts[i] = Font_Load(nullptr, nullptr);
        if (g_context.defaultFonts[i]) Font_SetColour(g_context.defaultFonts[i], i == 0 ? kWhite : kRed);
    }
    const uint32_t white = 0xFFFFFFFFu;
    for (Sprite*& sprite : g_context.blankSprites)
        if (!sprite) sprite = Sprite_CreateBlank(&white, 2, 2);
}

View* Game_CreateScreenView(int clear)
{
    if (!g_context.screenView) {
        g_context.screenView = View_CreateFractional(0.0f, 0.0f, 1.0f, 1.0f, 0.5f, 250.0f);
        if (g_context.screenView && clear) View_Clear(g_context.screenView, 1, 1);
    }
    return g_context.screenView;
}

void Game_ApplyAspectRatio(View* view)
{
    if (!view) return;
    if (g_context.wideScreen)
        View_SetAspect(view, 16.0f, 9.0f);
    else
        View_SetAspect(view, 4.0f, 3.0f);
    View_UpdateFov(view);
}

Font* Game_GetFont(int index) { return index >= 0 && index < GAME_FONTS ? g_context.fonts[index] : nullptr; }
Font* Game_GetKartFont(void) { return g_context.fonts[0]; }

void Game_LoadFonts(void)
{
    static const struct {
        const char* name;
        const char* folder;
    } kFonts[GAME_FONTS] = {{"JS_KartFont", "Karts"}, {"PC_Font01", "PC"}, {"PC_Font02", "PC"}, {"PC_Font03", "PC"}};
    for (int i = 0; i < GAME_FONTS; i++)
        if (!g_context.fonts[i]) g_context.fonts[i] = Font_Load(kFonts[i].name, kFonts[i].folder);
    g_context.secondaryFont = g_context.fonts[2];
}

void Game_ReleaseContext(void)
{
    for (Font*& font : g_context.defaultFonts) {
        Font_Release(font);
        font = nullptr;
    }
    for (Font*& font : g_context.fonts) {
        Font_Release(font);
        font = nullptr;
    }
    g_context.secondaryFont = nullptr;
    for (Sprite*& sprite : g_context.blankSprites) {
        Sprite_Release(sprite);
        sprite = nullptr;
    }
    Sprite_Release(g_context.spriteSlot);
    g_context.spriteSlot = nullptr;
    View_DestroyRef(&g_context.screenView);
    for (Node*& child : g_context.cameraChildren) Node_DestroyRef(&child);
    Node_DestroyRef(&g_context.cameraNode);
}

void Game_SetDefaultSettings(void)
{
    if (!g_context.defaultsMade) {
        g_context.defaultsMade = 1;
        g_context.gameStateType = GAMESTATE_START;
        g_context.musicVolume = 0.35f;
        g_context.effectsVolume = 0.65f;
        g_context.playerKinds[0] = PLAYER_KIND_HUMAN;
    }
    if (!g_context.cameraNode) {
        g_context.cameraNode = Node_Create(nullptr);
        for (Node*& child : g_context.cameraChildren) child = Node_Create(g_context.cameraNode);
    }
    Sound_SetMasterVolume(g_context.effectsVolume);
    Game_ApplyAspectRatio(g_context.screenView);
    if (g_context.screenView) {
        View_SetFov(g_context.screenView, 0.65f);
        View_UpdateFov(g_context.screenView);
    }
    if (!g_context.cursorHidden) {
        Cursor_Show(0);
        g_context.cursorHidden = 1;
    }
}

// ---- progress ----

int Progress_IsLocked(int entry) { return ValidEntry(entry) ? (g_context.progress.flags[entry] & PROGRESS_LOCKED) != 0 : 1; }

int Progress_SetLocked(int entry, int on)
{
    if (!ValidEntry(entry)) return 0;
    Progress_SetFlags(entry, PROGRESS_LOCKED, on);
    return 1;
}

int Progress_TestFlags(int entry, uint32_t bits)
{
    return ValidEntry(entry) ? (g_context.progress.flags[entry] & bits) != 0 : 0;
}

void Progress_SetFlags(int entry, uint32_t bits, int on)
{
    if (!ValidEntry(entry)) return;
    uint32_t& flags = g_context.progress.flags[entry];
    flags = on ? (flags | bits) : (flags & ~bits);
}

float Progress_GetFloat(int entry) { return ValidEntry(entry) ? g_context.progress.best[entry] : 0.0f; }

void Progress_SetFloat(int entry, float value)
{
    if (ValidEntry(entry)) g_context.progress.best[entry] = value;
}

void Progress_SetValue(int entry, int32_t value)
{
    if (ValidEntry(entry)) g_context.progress.values[entry] = value;
}

int32_t Progress_GetValue(int entry) { return ValidEntry(entry) ? g_context.progress.values[entry] : 0; }

int32_t Progress_GetPlayerValue(int player, int entry)
{
    return ValidLevelPlayer(player) && ValidEntry(entry) ? g_context.playerValues[player][entry] : 0;
}

void Progress_SetPlayerValue(int player, int entry, int32_t value)
{
    if (ValidLevelPlayer(player) && ValidEntry(entry)) g_context.playerValues[player][entry] = value;
}

int32_t Progress_SumPlayerValues(int player)
{
    if (!ValidLevelPlayer(player)) return 0;
    // Summed in unsigned arithmetic: values come from save files, and an
    // overflow must wrap rather than be undefined.
    uint32_t sum = 0;
    for (int i = 0; i < GAME_PROGRESS_ENTRIES; i++) sum += (uint32_t)g_context.playerValues[player][i];
    return (int32_t)sum;
}

uint32_t Progress_CountCompleted(void)
{
    uint32_t count = 0;
    for (uint32_t flags : g_context.progress.flags)
        if (flags & PROGRESS_COMPLETED) count++;
    return count;
}

// ---- characters ----

int Character_IsLocked(int character)
{
    if (character < 0 || character >= GAME_CHARACTERS) return 1;
    return (g_context.progress.characterLocks[character] & 1u) != 0;
}

void Character_SetLocked(int character, int on)
{
    if (character < 0 || character >= GAME_CHARACTERS) return;
    uint32_t& word = g_context.progress.characterLocks[character];
    word = on ? (word | 1u) : (word & ~1u);
}

int Character_CountUnlocked(void)
{
    int count = 0;
    for (int c = 0; c < GAME_CHARACTERS; c++) count += !Character_IsLocked(c);
    return count;
}

uint32_t Character_GetStarsNeeded(int character)
{
    return character >= 0 && character < GAME_CHARACTERS ? g_context.characterStars[character] : 0;
}

void Character_SetStarsNeeded(int character, uint32_t stars)
{
    if (character >= 0 && character < GAME_CHARACTERS) g_context.characterStars[character] = stars;
}

void Character_UnlockEarned(int32_t stars)
{
    for (int c = 0; c < GAME_CHARACTERS; c++) {
        const uint32_t need = g_context.characterStars[c];
        if (need && stars >= 0 && (uint32_t)stars >= need) Character_SetLocked(c, 0);
    }
}

// ---- hidden effects ----

void Progress_UnlockAll(void)
{
    for (uint32_t& flags : g_context.progress.flags) flags &= ~PROGRESS_LOCKED;
}

void Progress_UnlockAllComplete(void)
{
    for (uint32_t& flags : g_context.progress.flags)
        flags = (flags & ~PROGRESS_LOCKED) | PROGRESS_COMPLETED | PROGRESS_BEATTIME_RULE | PROGRESS_HIDDEN_RULE;
}

void Game_SetHiddenFlag(void) { g_context.hiddenFlag = 1; }
uint32_t Game_GetHiddenFlag(void) { return g_context.hiddenFlag; }

void Game_ShowVersionNumber(char* buffer, size_t size)
{
    if (buffer && size) snprintf(buffer, size, "%d", (int)g_words.buildNumber);
}

void Game_HiddenEffectNone(void) {}

// ---- game-wide words ----

uint32_t Game_GetRequestedState(void) { return g_words.requestedState; }
void Game_SetRequestedState(uint32_t request) { g_words.requestedState = request; }
float Game_GetFrameTime(void) { return g_words.frameTime; }
void Game_SetFrameTime(float dt) { g_words.frameTime = dt; }
uint32_t Game_GetDifficulty(void) { return g_words.difficulty; }
void Game_SetDifficulty(uint32_t difficulty) { g_words.difficulty = difficulty; }
void Game_SetSelectValue(uint32_t value) { g_words.selectValue = value; }
uint32_t Game_GetSelectValue(void) { return g_words.selectValue; }
uint32_t Game_GetMaxPlayers(void) { return g_words.maxPlayers; }

void Game_SetMaxPlayers(int32_t count)
{
    // The slots' arrays hold eight players; a data file may say anything.
    g_words.maxPlayers = count < 1 ? 1u : count > GAME_PLAYER_SLOTS ? (uint32_t)GAME_PLAYER_SLOTS : (uint32_t)count;
}

uint32_t Game_GetBuildNumber(void) { return g_words.buildNumber; }
void Game_SetBuildNumber(uint32_t build) { g_words.buildNumber = build; }
const char* Game_GetTrackName(void) { return g_words.trackName; }

void Game_SetTrackName(const char* name)
{
    snprintf(g_words.trackName, sizeof g_words.trackName, "%s", name ? name : "");
}

void Game_ChooseTrackName(void)
{
    char name[16];
    snprintf(name, sizeof name, "Track%d", 1 + Game_Rand() % 3);
    Game_SetTrackName(name);
}

PhysWorld* Game_GetPhysicsWorld(void) { return g_words.physicsWorld; }
void Game_SetPhysicsWorld(PhysWorld* world) { g_words.physicsWorld = world; }

void Game_RecreatePhysicsWorld(void)
{
    Phys_Init();
    PhysContacts_Shutdown();
    PhysWorld_Destroy(g_words.physicsWorld);
    g_words.physicsWorld = PhysWorld_CreateDefault();
    PhysContacts_Init();
}

void Game_SetStartLevel(int32_t number, int32_t variant)
{
    g_words.startLevel.set = 1;
    g_words.startLevel.number = number;
    g_words.startLevel.variant = variant & 0xFFFF;
}

void Game_SetStartLevelIndex(uint8_t index) { g_words.startLevel.index = index; }
uint8_t Game_GetStartLevelIndex(void) { return g_words.startLevel.index; }
int32_t Game_GetStartLevelNumber(void) { return g_words.startLevel.number; }
int32_t Game_GetStartLevelVariant(void) { return g_words.startLevel.variant; }
int Game_IsStartLevelSet(void) { return g_words.startLevel.set; }

// ---- random generator ----

void Game_SetRandomSource(GameRandomSource source) { g_words.random = source; }

int Game_Rand(void)
{
    // A replaced source may return anything; callers take it modulo a count.
    return (g_words.random ? g_words.random() : rand()) & 0x7FFFFFFF;
}

float Game_RandomUnit(void) { return (float)(Game_Rand() % 20000) * 0.0001f - 1.0f; }
