// The game context: the one game-wide record that the root state, the front
// end, the level state and the save screens share (players, characters,
// options, fonts, the screen view and the progress tables the save record
// carries), with the game-wide words beside it (requested state, frame time,
// difficulty, physics world, start level, track name) and the game's random
// generator.
//
// The context lives for the whole run. It is zero-filled once, on the first
// Game_ResetContext; later calls keep every stored value and only re-apply
// the defaults that Game_SetDefaultSettings applies on every call.
//
// Per-player fields hold eight players (kinds, character bytes, input
// devices), since the front end writes eight slots; a level uses slots 0..3.
//
// Progress entries are numbered 0..149; every progress operation ignores an
// entry outside that range (reads answer "locked", "no", 0). Flag words name
// values, not bit positions: 1 locked, 2 completed, 4 beat-time rule
// unlocked, 8 hidden-pickups rule unlocked.
//
// Fonts: Game_GetFont(0..3) are the four fonts Game_Setup loads, in load
// order: "JS_KartFont", "PC_Font01", "PC_Font02", "PC_Font03". Font 0 is the
// kart font (Game_GetKartFont) and the sectioned text files' main font; the
// secondary slot is "PC_Font02".
#pragma once

#include <cstddef>
#include <cstdint>

struct Font;
struct Node;
struct Pad;
struct PhysWorld;
struct Sound;
struct Sprite;
struct View;

constexpr int GAME_PROGRESS_ENTRIES = 150;
constexpr int GAME_CHARACTERS = 8;
constexpr int GAME_CHARACTER_NAME = 64;  // bytes of a character name, NUL included
constexpr int GAME_PLAYER_SLOTS = 8;     // per-player fields of the context
constexpr int GAME_LEVEL_PLAYERS = 4;    // players of a level (session records)
constexpr int GAME_FONTS = 4;
constexpr int GAME_PROGRESS_WORDS = 458;  // the progress block saved whole
constexpr uint8_t GAME_ANY_PLAYER = 255;

// Progress flag values.
enum : uint32_t {
    PROGRESS_LOCKED = 1,
    PROGRESS_COMPLETED = 2,
    PROGRESS_BEATTIME_RULE = 4,
    PROGRESS_HIDDEN_RULE = 8,
};

// Player kinds.
enum : uint32_t {
    PLAYER_KIND_NONE = 0,
    PLAYER_KIND_HUMAN = 1,
    PLAYER_KIND_COMPUTER = 2,
};

// Game-state types (Part of the root state; names in game_setup.h).
enum : uint32_t {
    GAMESTATE_NONE = 0,
    GAMESTATE_START = 1,
    GAMESTATE_OPTIONS = 2,
    GAMESTATE_VARIANT = 3,
    GAMESTATE_MAINMENU = 4,
    GAMESTATE_FRONTEND = 5,
    GAMESTATE_GLIM = 6,  // the level state
    GAMESTATE_TYPES = 7,
};

// Requested states (a pending request overrides the game-state type).
enum : uint32_t {
    GAME_REQUEST_NONE = 0,
    GAME_REQUEST_FRONTEND = 1,
    GAME_REQUEST_LEVEL = 3,
};

// The 458 words of progress, in the order the save record stores them.
struct GameProgress {
    uint32_t flags[GAME_PROGRESS_ENTRIES];           // PROGRESS_* values
    float best[GAME_PROGRESS_ENTRIES];               // best value per entry (best time for timed levels)
    int32_t values[GAME_PROGRESS_ENTRIES];           // player 0's per-entry values as last saved
    uint32_t characterLocks[GAME_CHARACTERS];        // 1: locked
};
static_assert(sizeof(GameProgress) == GAME_PROGRESS_WORDS * 4, "the progress block is 458 words");

struct GameContext {
    char frontEndPath[64];      // "FrontEnd\FrontEnd.cfg"
    View* screenView;           // whole screen, near 0.5, far 250 (owned)
    Node* cameraNode;           // the context's camera node and its two children (owned)
    Node* cameraChildren[2];
    Font* defaultFonts[2];      // opaque white and opaque red (owned)
    Font* fonts[GAME_FONTS];    // JS_KartFont, PC_Font01, PC_Font02, PC_Font03 (owned)
    Font* secondaryFont;        // = fonts[2], not owned
    Sprite* blankSprites[2];    // 2 x 2 blank sprites (owned)
    Sprite* spriteSlot;         // third sprite slot (owned when set)
    uint32_t wideScreen;        // 0: 4:3, else 16:9
    float effectsVolume;        // 0..1, default 0.65; also the master volume
    float musicVolume;          // 0..1, default 0.35
    uint32_t gameStateType;     // GAMESTATE_*, 1 after the first reset
    uint32_t characterCount;    // names in characterNames (8 after the list is loaded)
    char characterNames[GAME_CHARACTERS][GAME_CHARACTER_NAME];
    uint32_t characterStars[GAME_CHARACTERS];  // stars that open a locked character (0: none do)
    uint8_t characters[GAME_PLAYER_SLOTS];   // character index per player
    uint8_t playerOrder[GAME_LEVEL_PLAYERS]; // 0, 1, 2, 3
    uint32_t playerKinds[GAME_PLAYER_SLOTS]; // PLAYER_KIND_*; player 0 human by default
    uint32_t playerCount;                    // 1 by default
    Pad* inputDevices[GAME_PLAYER_SLOTS];    // recorded by the root state (not owned)
    uint8_t controllingPlayer;               // GAME_ANY_PLAYER = any
    uint32_t levelLoaded;                    // 1 after a level's content loaded; cleared by the root update
    Sound* music;                            // the level music stream, or null (owned while set)
    uint32_t hiddenFlag;                     // hidden mode (more lives)
    uint32_t defaultsMade;                   // the first Game_SetDefaultSettings ran
    uint32_t cursorHidden;                   // the game has hidden the mouse cursor
    GameProgress progress;
    int32_t playerValues[GAME_LEVEL_PLAYERS][GAME_PROGRESS_ENTRIES];  // per-player values (best scores)

    // Menu input (the input tests of game/player_input.h). controllingPlayer
    // above is the menu holder: while it is not GAME_ANY_PLAYER only that
    // player's input counts, in the front end, the pause menu and the save
    // screens alike.
    uint8_t lastInputPlayer;                  // the player whose input test answered last
    uint32_t eligibilityOn;                   // non-zero: only players whose slot byte is 1 count
    uint8_t eligible[GAME_PLAYER_SLOTS];      // slot bytes: 1 eligible, 255 not
    uint32_t inputLocked;                     // non-zero: no input test answers
    uint8_t deviceIndex[GAME_PLAYER_SLOTS];   // device chosen on the character screens (255 none)
    uint32_t playMode;                        // the PlayGame screen's choice: 0, 1 or 2
    uint32_t twoStateOption;                  // the sound options' third item (0 or 1; not saved)
};

// The context (never null).
GameContext* Game_GetContext(void);

// Zero-fills the context on its first call only; sets the front-end path,
// creates the screen view, fixes the engine pools' capacities, maps the 2D
// toolkit onto the 640 x 480 virtual screen, applies the default settings,
// loads the two default fonts and creates the two blank sprites. The view,
// fonts and sprites are made only when they do not exist yet, so a second
// call keeps them (and every stored value) and only re-applies the defaults.
void Game_ResetContext(void);
// On the first call: the camera node and its two children, game-state type
// 1, music 0.35, effects 0.65, player 0 human. Every call: the effects
// volume as the master volume, the aspect ratio and a field of view of 0.65
// to the screen view; the mouse cursor is hidden once (the platform's show
// counter would fall further on every call).
void Game_SetDefaultSettings(void);
// Creates the context's screen view (the whole screen, near 0.5, far 250)
// when it has none; with clear set, clears its image and depth once.
// The view, or null when it can't be made.
View* Game_CreateScreenView(int clear);
// Aspect 16:9 with the wide-screen word set, else 4:3 (null is ignored).
void Game_ApplyAspectRatio(View* view);
// Fonts 0..3 ("JS_KartFont", "PC_Font01", "PC_Font02", "PC_Font03"); null
// beyond them or before they are loaded.
Font* Game_GetFont(int index);
Font* Game_GetKartFont(void);
// Loads the four fonts into their slots (a slot already loaded is kept);
// a font file that can't be read gives the default line font.
void Game_LoadFonts(void);
// Releases what Game_ResetContext and Game_LoadFonts made: the six fonts,
// the three sprites, the screen view and the three nodes.
void Game_ReleaseContext(void);

// ---- progress ----
// Bit 1 of the entry; 1 for an entry outside 0..149.
int Progress_IsLocked(int entry);
// Sets or clears bit 1: 1, or 0 for an entry outside 0..149.
int Progress_SetLocked(int entry, int on);
// 1 when any of the bits is set; 0 out of range.
int Progress_TestFlags(int entry, uint32_t bits);
void Progress_SetFlags(int entry, uint32_t bits, int on);
// The entry's best value; 0.0 out of range.
float Progress_GetFloat(int entry);
void Progress_SetFloat(int entry, float value);
// Player 0's saved value of the entry; 0 out of range.
void Progress_SetValue(int entry, int32_t value);
int32_t Progress_GetValue(int entry);
// Per-player values, players 0..3 (others read 0 and are ignored).
int32_t Progress_GetPlayerValue(int player, int entry);
void Progress_SetPlayerValue(int player, int entry, int32_t value);
// Sum over the 150 entries of the player; 0 for a player outside 0..3.
int32_t Progress_SumPlayerValues(int player);
// Number of entries whose flags have the completed bit.
uint32_t Progress_CountCompleted(void);

// ---- characters ----
// Bit 1 of the character's lock word; 1 for a character outside 0..7.
int Character_IsLocked(int character);
void Character_SetLocked(int character, int on);
// Characters 0..7 whose lock bit is clear.
int Character_CountUnlocked(void);
// The stars that open the character (the unlock list gives them; 0 for a
// character no count opens, and outside 0..7).
uint32_t Character_GetStarsNeeded(int character);
void Character_SetStarsNeeded(int character, uint32_t stars);
// Opens every locked character whose count is reached by `stars`.
void Character_UnlockEarned(int32_t stars);

// ---- hidden effects (the front end's button sequences) ----
// Clears the lock bit of all 150 entries.
void Progress_UnlockAll(void);
// Clears every lock bit and sets the completed, beat-time and hidden bits.
void Progress_UnlockAllComplete(void);
void Game_SetHiddenFlag(void);
uint32_t Game_GetHiddenFlag(void);
// The build number as "%d" into buffer (size bytes, cut to fit).
void Game_ShowVersionNumber(char* buffer, size_t size);
void Game_HiddenEffectNone(void);

// ---- game-wide words ----
uint32_t Game_GetRequestedState(void);
void Game_SetRequestedState(uint32_t request);
float Game_GetFrameTime(void);
void Game_SetFrameTime(float dt);
uint32_t Game_GetDifficulty(void);
void Game_SetDifficulty(uint32_t difficulty);
void Game_SetSelectValue(uint32_t value);
uint32_t Game_GetSelectValue(void);
// GameMaxPlayers from "Load.dat" (4 when missing), clamped to 1..8.
uint32_t Game_GetMaxPlayers(void);
void Game_SetMaxPlayers(int32_t count);
uint32_t Game_GetBuildNumber(void);
void Game_SetBuildNumber(uint32_t build);
// The track name of the level music, "Track1".."Track3".
const char* Game_GetTrackName(void);
// Copied, cut to 15 characters; null counts as "".
void Game_SetTrackName(const char* name);
// "Track%d" with 1..3 from the game's generator.
void Game_ChooseTrackName(void);
// The context's physics world, or null before the root state made it.
PhysWorld* Game_GetPhysicsWorld(void);
void Game_SetPhysicsWorld(PhysWorld* world);
// Shuts the contact-listener registry (the pick list), destroys the
// context's physics world and makes a fresh default one with a new
// registry. When a level unloads, and for the front end.
void Game_RecreatePhysicsWorld(void);

// Start level (the start-up arguments and the start menu).
void Game_SetStartLevel(int32_t number, int32_t variant);
void Game_SetStartLevelIndex(uint8_t index);
uint8_t Game_GetStartLevelIndex(void);
int32_t Game_GetStartLevelNumber(void);
int32_t Game_GetStartLevelVariant(void);
int Game_IsStartLevelSet(void);

// ---- the game's random generator ----
// Every random choice of the game (track names, routes, sounds, AI) draws
// from this one generator, so tests can make runs repeatable. The source
// returns values in 0..RAND_MAX as rand() does.
typedef int (*GameRandomSource)(void);
// Null restores rand().
void Game_SetRandomSource(GameRandomSource source);
int Game_Rand(void);
// (Game_Rand() mod 20000) x 0.0001 - 1: a float in [-1, 1).
float Game_RandomUnit(void);
