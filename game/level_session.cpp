#include "game/level_session.h"

#include <cstdio>
#include <cstring>

#include "app/sound.h"
#include "common/hash.h"
#include "engine/sceneplay.h"
#include "engine/sprite.h"
#include "game/level_file.h"
#include "game/level_input.h"
#include "game/viewports.h"

namespace {

LevelSession g_session;
// Calls of Level_Restart since the program started (the session record is
// zero-filled per level state, this count is not).
uint32_t g_restartCount = 0;

constexpr float kDefaultFov = 0.55f;

constexpr const char* kRuleNames[LEVEL_RULES] = {"normal",        "scorePickups",          "countDown", "beatTime",
                                                  "hiddenPickups", "countDownMustComplete", "race"};

// The player accessors' bound: the session's four records, and no more than
// GameMaxPlayers.
bool ValidPlayer(int player)
{
    return player >= 0 && player < GAME_LEVEL_PLAYERS && (uint32_t)player < Game_GetMaxPlayers();
}

void CopyName(char* to, const char* from) { snprintf(to, LEVEL_NAME_MAX, "%s", from ? from : ""); }

}  // namespace

LevelSession* Level_GetSession(void) { return &g_session; }

const char* Level_GetRuleText(uint32_t rule) { return rule < LEVEL_RULES ? kRuleNames[rule] : nullptr; }

void Rules_Init(void)
{
    memset(&g_session, 0, sizeof g_session);
    for (uint32_t r = 0; r < LEVEL_RULES; r++) Level_SetRuleName(r, kRuleNames[r]);
    // Until a camera sets them, players see through the views' own field of view.
    for (LevelPlayer& p : g_session.players) p.worldFov = p.backDomeFov = p.hudFov = kDefaultFov;
    const GameContext* ctx = Game_GetContext();
    Sound_SetMasterVolume(ctx->effectsVolume);
    Level_SetMusicVolume(ctx->musicVolume);
    // The blank sprite drawn first in every HUD (it sets the sprite draw
    // states) shows nothing: white at alpha 0.
    const uint32_t clear = 0x00FFFFFFu;
    g_session.blankSprite = Sprite_CreateBlank(&clear, 2, 2);
    g_session.fillerSprite = Sprite_Load("Screen_Filler24.bmp", 0);
    // Without its picture the filler is opaque black: the fourth quarter of
    // three viewports is drawn by nothing else and would keep whatever the
    // screen showed before (the loading page).
    const uint32_t black = 0xFF000000u;
    if (!g_session.fillerSprite) g_session.fillerSprite = Sprite_CreateBlank(&black, 2, 2);
    Level_ResetSettings(nullptr);
}

void Rules_Shutdown(void)
{
    Level_FreeViewports();
    Sprite_Release(g_session.blankSprite);
    Sprite_Release(g_session.fillerSprite);
    Level_FreeBackDome();
    memset(&g_session, 0, sizeof g_session);
}

void Rules_Update(float dt)
{
    LevelSession& s = g_session;
    if (s.backDome.scene) Scene_Advance(s.backDome.scene, dt);
    s.clock += dt;
    if (s.flags & LEVEL_RULE_CLOCK) s.clock2 += dt;
    Level_UpdatePlayerInput();
    s.flags |= LEVEL_RULE_CLOCK;
    Level_LatchEvents();
}

// ---- accessors ----

float Level_GetClock(void) { return g_session.clock; }
void Level_SetClock(float t) { g_session.clock = t; }
float Level_GetClock2(void) { return g_session.clock2; }
void Level_SetClock2(float t) { g_session.clock2 = t; }
float Level_GetTimeAllowance(void) { return g_session.timeAllowance; }
void Level_SetTimeAllowance(float t) { g_session.timeAllowance = t; }
uint32_t Level_GetNumPlayerEntities(void) { return g_session.numPlayerEntities; }
void Level_SetNumPlayerEntities(uint32_t n) { g_session.numPlayerEntities = n; }
uint32_t Level_GetNumViewports(void) { return g_session.numViewports; }
void Level_SetNumViewports(uint32_t n) { g_session.numViewports = n > LEVEL_VIEWPORTS ? LEVEL_VIEWPORTS : n; }
Object* Level_GetPlayerEntity(int player) { return ValidPlayer(player) ? g_session.playerEntities[player] : nullptr; }

void Level_SetPlayerEntity(int player, Object* entity)
{
    if (ValidPlayer(player)) g_session.playerEntities[player] = entity;
}

int Level_SetGameRule(uint32_t rule)
{
    if (rule >= LEVEL_RULES) return 0;
    g_session.rule = rule;
    return 1;
}

uint32_t Level_GetGameRule(void) { return g_session.rule; }
uint32_t Level_GetRuleHash(uint32_t rule) { return rule < LEVEL_RULES ? g_session.ruleHashes[rule] : 0; }

void Level_SetRuleName(uint32_t rule, const char* name)
{
    if (rule < LEVEL_RULES && name) g_session.ruleHashes[rule] = Name_Hash(name, 1, 1);
}

int Level_FindRuleByHash(uint32_t hash)
{
    for (int r = 0; r < LEVEL_RULES; r++)
        if (hash != 0 && g_session.ruleHashes[r] == hash) return r;
    return -1;
}

int Level_TestFlags(uint32_t bits) { return (g_session.flags & bits) != 0; }

void Level_SetFlags(uint32_t bits, int on)
{
    g_session.flags = on ? (g_session.flags | bits) : (g_session.flags & ~bits);
}

uint32_t Level_GetFlags(void) { return g_session.flags; }
void Level_RaiseEvents(uint32_t bits) { g_session.pendingEvents |= bits; }
uint32_t Level_GetEvents(void) { return g_session.events; }

void Level_LatchEvents(void)
{
    g_session.events = g_session.pendingEvents;
    g_session.pendingEvents = 0;
    if (g_session.events & LEVEL_EVENT_RESPAWN) g_session.pendingEvents |= LEVEL_EVENT_AFTER_RESPAWN;
}

int32_t Level_GetLevelToUnlock(void) { return g_session.levelToUnlock; }
void Level_SetLevelToUnlock(int32_t entry) { g_session.levelToUnlock = entry; }
const char* Level_GetSceneName(void) { return g_session.sceneName; }
void Level_SetSceneName(const char* name) { CopyName(g_session.sceneName, name); }
const char* Level_GetConfigDir(void) { return g_session.configDir; }

void Level_SetConfigDir(const char* dir)
{
    CopyName(g_session.configDir, dir);
    size_t n = strlen(g_session.configDir);
    if (n && g_session.configDir[n - 1] == '\\') g_session.configDir[n - 1] = 0;
}

char* Level_MakeConfigPath(const char* name, char* out, size_t size)
{
    if (out && size) snprintf(out, size, "%s\\%s.cfg", g_session.configDir, name ? name : "");
    return out;
}

List* Level_GetObjectList(void) { return g_session.objectList; }
void Level_SetObjectList(List* pool) { g_session.objectList = pool; }
MenuSystem* Level_GetInGameMenu(void) { return g_session.inGameMenu; }
void Level_SetRestartCallback(LevelRestartCallback callback) { g_session.restartCallback = callback; }

void Level_Restart(uint32_t argument)
{
    g_restartCount++;
    if (g_session.restartCallback) g_session.restartCallback(argument);
}

uint32_t Level_GetRestartCount(void) { return g_restartCount; }

void Level_SetViewportCallback(LevelViewportCallback callback) { g_session.viewportCallback = callback; }
LevelViewportCallback Level_GetViewportCallback(void) { return g_session.viewportCallback; }

void Level_StampTime(float duration)
{
    g_session.stamp = g_session.clock;
    g_session.stampDuration = duration;
}

// ---- players ----

LevelPlayer* Level_GetPlayer(int player) { return ValidPlayer(player) ? &g_session.players[player] : nullptr; }

int Player_GetViewportIndex(int player, int* out)
{
    LevelPlayer* p = Level_GetPlayer(player);
    if (!p || p->viewport == 0 || p->viewport > LEVEL_VIEWPORTS) return 0;
    if (out) *out = (int)p->viewport - 1;
    return 1;
}

void Player_SetViewportIndex(int player, int index)
{
    if (LevelPlayer* p = Level_GetPlayer(player)) p->viewport = index >= 0 && index < LEVEL_VIEWPORTS ? (uint32_t)index + 1 : 0;
}

void Player_GetStart(int player, Vec3* position, Vec3* at, Vec3* up)
{
    LevelPlayer* p = Level_GetPlayer(player);
    if (!p) return;
    if (position) *position = p->startPosition;
    if (at) *at = p->startAt;
    if (up) *up = p->startUp;
}

void Player_SetStart(int player, const Vec3* position, const Vec3* at, const Vec3* up)
{
    LevelPlayer* p = Level_GetPlayer(player);
    if (!p) return;
    if (position) p->startPosition = *position;
    if (at) p->startAt = *at;
    if (up) p->startUp = *up;
}

PlayerInputRecord* Player_GetInputRecord(int player)
{
    LevelPlayer* p = Level_GetPlayer(player);
    return p ? &p->input : nullptr;
}

uint32_t Player_GetHudState(int player)
{
    LevelPlayer* p = Level_GetPlayer(player);
    return p ? p->hudState : 0;
}

void Player_SetHudState(int player, uint32_t state)
{
    if (LevelPlayer* p = Level_GetPlayer(player)) p->hudState = state;
}

void* Player_GetUserWord(int player)
{
    LevelPlayer* p = Level_GetPlayer(player);
    return p ? p->userWord : nullptr;
}

void Player_SetUserWord(int player, void* word)
{
    if (LevelPlayer* p = Level_GetPlayer(player)) p->userWord = word;
}

float Player_GetWorldFov(int player)
{
    LevelPlayer* p = Level_GetPlayer(player);
    return p ? p->worldFov : 0.0f;
}

void Player_SetWorldFov(int player, float fov)
{
    if (LevelPlayer* p = Level_GetPlayer(player)) p->worldFov = fov;
}

float Player_GetBackDomeFov(int player)
{
    LevelPlayer* p = Level_GetPlayer(player);
    return p ? p->backDomeFov : 0.0f;
}

void Player_SetBackDomeFov(int player, float fov)
{
    if (LevelPlayer* p = Level_GetPlayer(player)) p->backDomeFov = fov;
}

float Player_GetHudFov(int player)
{
    LevelPlayer* p = Level_GetPlayer(player);
    return p ? p->hudFov : 0.0f;
}

void Player_SetHudFov(int player, float fov)
{
    if (LevelPlayer* p = Level_GetPlayer(player)) p->hudFov = fov;
}

PlayerRenderHook Player_GetRenderHook(int player)
{
    LevelPlayer* p = Level_GetPlayer(player);
    return p ? p->renderHook : nullptr;
}

void Player_SetRenderHook(int player, PlayerRenderHook hook)
{
    if (LevelPlayer* p = Level_GetPlayer(player)) p->renderHook = hook;
}
