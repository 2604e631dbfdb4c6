// The level session: the per-level record that the level state, the
// entities and the control modes share. It holds the active rule and the
// rule names' hashes, the level flags, the latched and pending events, the
// level clock and the rule clock, the time allowance, the back dome and the
// world clip settings, four viewport records (three views, two frames, a
// rectangle and 20 screen texts each) and four player records (viewport,
// start, input record, HUD state, FOVs, render hook).
//
// Lifetime: created by Rules_Init when the level state starts and freed by
// Rules_Shutdown when it ends; it survives the reload of the next level.
// The settings are reset at every content load; viewports and screen texts
// are rebuilt at every scene load and freed at every unload, and every
// pointer into the old level is cleared then (Level_Unload).
//
// When a rule's goal is met is not decided here: the control modes' rules
// slots end a level through the level flags, reading the clocks and the
// time allowance. Rule 6 "race" is selectable and has no goal at all.
//
// Players of a level are the session's records 0..3, whatever
// GameMaxPlayers says; every per-player accessor ignores an index of 4 or
// more, or of GameMaxPlayers or more (reads give 0, 0.0 or null, writes do
// nothing). Viewports are always found through the player's viewport index.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/maths.h"
#include "game/game_context.h"

struct Font;
struct List;
struct Node;
struct Object;
struct Pad;
struct Scene;
struct Sprite;
struct View;
struct MenuSystem;

constexpr int LEVEL_RULES = 7;
constexpr int LEVEL_VIEWPORTS = 4;
constexpr int LEVEL_SCREEN_TEXTS = 20;
constexpr int LEVEL_SCREEN_TEXT_MAX = 1024;  // bytes of a screen text, NUL included
constexpr int LEVEL_NAME_MAX = 256;

// Rules, by index; names "normal", "scorePickups", "countDown", "beatTime",
// "hiddenPickups", "countDownMustComplete", "race".
enum : uint32_t {
    RULE_NORMAL = 0,
    RULE_SCORE_PICKUPS = 1,
    RULE_COUNTDOWN = 2,
    RULE_BEATTIME = 3,
    RULE_HIDDEN_PICKUPS = 4,
    RULE_COUNTDOWN_MUST_COMPLETE = 5,
    RULE_RACE = 6,
};

// Level flags.
enum : uint32_t {
    LEVEL_LEAVE = 0x2,          // the update returns none: the state is popped
    LEVEL_ENDED = 0x4,          // set by a mode's rules (goal met or failed) and by the pause menu
    LEVEL_LOAD_NEXT = 0x8,      // load the next level now
    LEVEL_RULE_CLOCK = 0x10,    // the rule clock runs (set by every rules update)
    LEVEL_FADING = 0x20,        // fading out after the end wait
    LEVEL_QUIT = 0x40,          // with ENDED: no progress, no autosave, leave
    LEVEL_SKIP_PHYSICS = 0x80,  // skip the next physics step
    LEVEL_WAIT_CONTINUE = 0x100,// waiting on the "loadingScreenContinue" page
    LEVEL_END_WAIT = 0x200,     // the end wait runs
};

// Level events (latched one frame after they are raised).
enum : uint32_t {
    LEVEL_EVENT_RESPAWN = 1,    // every entity respawns at its start
    LEVEL_EVENT_FREEZE = 2,     // animations of entities stand still
    LEVEL_EVENT_AFTER_RESPAWN = 4,  // raised one frame after a latched 1
};

// Input record button bits.
enum : uint32_t {
    INPUT_UP = 1,
    INPUT_DOWN = 2,
    INPUT_LEFT = 4,
    INPUT_RIGHT = 8,
};

// One player's input for this frame, filled by Level_UpdatePlayerInput.
struct PlayerInputRecord {
    Pad* pad;               // the player's device (null for none)
    float stickX;           // left -value, right +value
    float stickY;           // up +value, down -value
    uint32_t buttons;       // INPUT_* and the action bits (see level_input.h)
    uint32_t oldButtons;    // last frame's buttons
    float stick2X;          // second stick (joysticks: pad values 14 and 15)
    float stick2Y;
    uint32_t stick2Centred; // 1 once the second stick has been within 0.15 of centre
};

struct ScreenText {
    char* text;          // LEVEL_SCREEN_TEXT_MAX bytes, made on the slot's first use
    Font* font;          // null: the slot draws nothing
    float x, y;          // virtual-screen position (640 x 480)
    float size;
    float box[4];        // where it is drawn: left, top, right, bottom (virtual pixels)
    uint32_t colour;     // packed a, r, g, b
};

struct LevelViewport {
    View* worldView;
    View* backDomeView;
    View* hudView;
    Node* cameraFrame;   // under the object world's root; the 3D-sound listener
    Node* hudFrame;
    float rect[4];       // x, y, width, height as fractions of the screen
    ScreenText texts[LEVEL_SCREEN_TEXTS];
    uint32_t hasTexts;   // set by Level_AddScreenText, cleared by each draw
};

typedef void (*PlayerRenderHook)(Object* entity);

struct LevelPlayer {
    uint32_t viewport;   // viewport index + 1; 0 = none
    Vec3 startPosition;
    Vec3 startAt;
    Vec3 startUp;
    PlayerInputRecord input;
    uint32_t hudState;   // the entity's view mask in its own viewport
    void* userWord;      // the modes' per-player pointer (the walking modes' checkpoint)
    float worldFov;
    float backDomeFov;
    float hudFov;
    PlayerRenderHook renderHook;
};

struct BackDome {
    Node* camRelNode;    // follows the camera's orientation
    Node* rootNode;      // at the camera position when camRel is set
    uint32_t pathHash;   // Name_Hash of the loaded path; 0 when none
    Node* sceneNode;
    Scene* scene;
    uint32_t camRel;     // BackDomeCamRel
    float nearClip;
    float farClip;
    Vec3 posOffset;
    Vec3 scaleOffset;
};

typedef void (*LevelRestartCallback)(uint32_t argument);
typedef void (*LevelViewportCallback)(int viewport);

struct LevelSession {
    char sceneName[LEVEL_NAME_MAX];   // levelscene
    char configDir[LEVEL_NAME_MAX];   // levelConfigs, no trailing back-slash
    List* objectList;                 // the level's object pool
    int32_t levelToUnlock;            // the level's progress entry (0: none)
    uint32_t numPlayerEntities;
    uint32_t numViewports;
    uint32_t events;                  // latched
    uint32_t pendingEvents;
    uint32_t flags;                   // LEVEL_*
    float clock;                      // level clock, seconds
    float timeAllowance;
    float clock2;                     // rule clock: runs while LEVEL_RULE_CLOCK is set
    uint32_t rule;                    // RULE_*
    BackDome backDome;
    float worldNearClip;
    float worldFarClip;
    uint32_t worldZBufferClear;
    LevelViewport viewports[LEVEL_VIEWPORTS];
    LevelPlayer players[GAME_LEVEL_PLAYERS];
    Object* playerEntities[GAME_LEVEL_PLAYERS];
    LevelRestartCallback restartCallback;
    LevelViewportCallback viewportCallback;
    Sprite* blankSprite;              // 2 x 2, drawn before the screen texts
    Sprite* fillerSprite;             // "Screen_Filler24.bmp" (else black), the fourth quarter with three viewports
    float stamp;                      // level clock when the stamp was set
    float stampDuration;              // buttons read 0 while clock - stamp <= duration
    MenuSystem* inGameMenu;
    uint32_t ruleHashes[LEVEL_RULES];
};

// The session record (never null; zero until Rules_Init).
LevelSession* Level_GetSession(void);
// The rule names' texts by index, or null for 7 or more.
const char* Level_GetRuleText(uint32_t rule);

// Zero-fills the session, stores the rule names, applies the context's
// volumes (master volume, level music), creates the blank sprite and loads
// the filler image (a black one when it can't be read), and resets the
// settings (Level_ResetSettings). Without the engine's sprites the two
// sprites stay null.
void Rules_Init(void);
// One rules step: the back-dome scene by dt, the level clock, the rule clock
// while LEVEL_RULE_CLOCK, the player input, LEVEL_RULE_CLOCK set, events
// latched.
void Rules_Update(float dt);
// Frees the viewports, both sprites, the back dome and the session.
void Rules_Shutdown(void);

// ---- accessors ----
float Level_GetClock(void);
void Level_SetClock(float t);
float Level_GetClock2(void);
void Level_SetClock2(float t);
float Level_GetTimeAllowance(void);
void Level_SetTimeAllowance(float t);
uint32_t Level_GetNumPlayerEntities(void);
void Level_SetNumPlayerEntities(uint32_t n);
uint32_t Level_GetNumViewports(void);
void Level_SetNumViewports(uint32_t n);
Object* Level_GetPlayerEntity(int player);
void Level_SetPlayerEntity(int player, Object* entity);

// 1 when set; a rule of 7 or more is refused (0, rule unchanged).
int Level_SetGameRule(uint32_t rule);
uint32_t Level_GetGameRule(void);
// The name hash of rule n (Name_Hash(name, 1, 1)); 0 for 7 or more.
uint32_t Level_GetRuleHash(uint32_t rule);
// Replaces the name of rule n (its hash); ignored for 7 or more or null.
void Level_SetRuleName(uint32_t rule, const char* name);
// The rule whose hash matches, or -1.
int Level_FindRuleByHash(uint32_t hash);

// 1 when any of the bits is set.
int Level_TestFlags(uint32_t bits);
void Level_SetFlags(uint32_t bits, int on);
uint32_t Level_GetFlags(void);

// Raises pending events, latched on the next rules update.
void Level_RaiseEvents(uint32_t bits);
// The latched events of this frame.
uint32_t Level_GetEvents(void);
// latched = pending, pending = 0; a latched respawn raises LEVEL_EVENT_AFTER_RESPAWN.
void Level_LatchEvents(void);

int32_t Level_GetLevelToUnlock(void);
void Level_SetLevelToUnlock(int32_t entry);
const char* Level_GetSceneName(void);
// Copied, cut to 255 characters; null counts as "".
void Level_SetSceneName(const char* name);
const char* Level_GetConfigDir(void);
// Copied without one trailing back-slash, cut to 255 characters.
void Level_SetConfigDir(const char* dir);
// "<config dir>\<name>.cfg" into out (size bytes, cut to fit); returns out.
char* Level_MakeConfigPath(const char* name, char* out, size_t size);
List* Level_GetObjectList(void);
void Level_SetObjectList(List* pool);
MenuSystem* Level_GetInGameMenu(void);

void Level_SetRestartCallback(LevelRestartCallback callback);
// Calls the restart callback with the argument when one is set.
void Level_Restart(uint32_t argument);
// Calls of Level_Restart since the program started, whatever level or
// level state made them.
uint32_t Level_GetRestartCount(void);
void Level_SetViewportCallback(LevelViewportCallback callback);
LevelViewportCallback Level_GetViewportCallback(void);
// Buttons read 0 while the level clock is within duration of now.
void Level_StampTime(float duration);

// ---- players ----
// 1 with the index when the player has a viewport; 0 otherwise (out untouched).
int Player_GetViewportIndex(int player, int* out);
// index < 0 takes the viewport away.
void Player_SetViewportIndex(int player, int index);
// Each output (input) may be null.
void Player_GetStart(int player, Vec3* position, Vec3* at, Vec3* up);
void Player_SetStart(int player, const Vec3* position, const Vec3* at, const Vec3* up);
PlayerInputRecord* Player_GetInputRecord(int player);
uint32_t Player_GetHudState(int player);
void Player_SetHudState(int player, uint32_t state);
void* Player_GetUserWord(int player);
void Player_SetUserWord(int player, void* word);
float Player_GetWorldFov(int player);
void Player_SetWorldFov(int player, float fov);
float Player_GetBackDomeFov(int player);
void Player_SetBackDomeFov(int player, float fov);
float Player_GetHudFov(int player);
void Player_SetHudFov(int player, float fov);
PlayerRenderHook Player_GetRenderHook(int player);
void Player_SetRenderHook(int player, PlayerRenderHook hook);
// The session's player record, or null for an index the accessors refuse.
LevelPlayer* Level_GetPlayer(int player);
