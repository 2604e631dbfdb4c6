// The front end: one state on the state stack in which the players choose
// what to play. Inside it a small machine runs twenty-four screens, each
// described by a section of "FrontEnd\FrontEnd.cfg" (items, texts, images,
// a 3D background, animations) and by five handler slots of a fixed table
// (enter, exit, update, render before the items, render after them).
//
// Records and their lifetimes:
//   FrontEnd        the state's record: the screens with their items, the
//                   settings' sprites, sounds and music, the machine's
//                   words. Made by the state's enter, freed by its destroy.
//   FrontEndMemory  what outlives the state for the whole run: the screen
//                   history and its saved copy, each screen's focus, the
//                   visited flag and the completed count of the last visit.
// The fields other modules read (the last input player, the menu holder,
// the eligibility list, kinds, characters, devices, active players, play
// mode) live in the game context; the engine class in the race set-up.
//
// Screens change through a request: FrontEnd_PushScreen / FrontEnd_PopScreen
// (or the handlers) set the requested screen, and the change happens in the
// change step of the next update (or of this one, when an update slot asked):
// with a fade when either screen has FadeEntry (1.25 at 4 per second out,
// then in), else at once. Screen 0 ("FrontEnd_None") has no handlers: a
// change to it leaves the front end (the Launch screen uses this).
//
// The front end draws on the game context's screen view and camera node, in
// its fonts; missing scenes, sprites and fonts are simply not drawn.
// Main thread only.
#pragma once

#include <cstdint>

#include "game/text_file.h"

struct AnimSet;
struct GameState;
struct Node;
struct QuadBatch;
struct Scene;
struct Sound;
struct Sprite;

constexpr int FRONTEND_SCREENS = 24;
constexpr int FRONTEND_HISTORY = 16;
constexpr int FRONTEND_SECONDARY = 10;  // secondary images per item
constexpr int FRONTEND_STYLES = 14;
constexpr float FRONTEND_FADE_FULL = 1.25f;
constexpr float FRONTEND_FADE_RATE = 4.0f;
constexpr float FRONTEND_MAX_DT = 0.05f;
constexpr int FRONTEND_CHEAT_LENGTH = 12;
constexpr const char* FRONTEND_CONFIG = "FrontEnd\\FrontEnd.cfg";

// Screen indices, as the screen table names them.
enum : int32_t {
    FRONTEND_NONE = 0,
    FRONTEND_LAUNCH = 1,
    FRONTEND_TITLE = 2,
    FRONTEND_MAIN = 3,
    FRONTEND_PLAYGAME = 4,
    FRONTEND_OPTIONS = 5,
    FRONTEND_LOADSAVE = 6,
    FRONTEND_CREDITS = 7,
    FRONTEND_ENGINE = 8,
    FRONTEND_PLAYERSELECT = 9,
    FRONTEND_PLAYERSELECT2 = 10,
    FRONTEND_CUPSELECT = 11,
    FRONTEND_LEVELSELECT = 12,
    FRONTEND_LEVELSELECT2 = 13,
    FRONTEND_LEVELSELECT3 = 14,
    FRONTEND_LEVELSELECTZ = 15,
    FRONTEND_CONTROLLEROPTIONS = 16,
    FRONTEND_CONTROLLEROPTIONS2 = 17,
    FRONTEND_GAMEOPTIONS = 18,
    FRONTEND_SOUNDOPTIONS = 19,
    FRONTEND_TUTORIAL_MAIN = 20,
    FRONTEND_TUTORIAL_ASK = 21,
    FRONTEND_TUTORIAL_LEVELS = 22,
    FRONTEND_COMPLETEDGAME = 23,
};

// Item styles: bit (1 << index) of the item's style word, index as in the
// style names "FrontEnd_ItemStyle_<name>".
enum : uint32_t {
    FRONTEND_STYLE_FADE = 1u << 0,
    FRONTEND_STYLE_DULL = 1u << 1,
    FRONTEND_STYLE_DULLICON = 1u << 2,
    FRONTEND_STYLE_BOBHI = 1u << 3,
    FRONTEND_STYLE_BOBLO = 1u << 4,
    FRONTEND_STYLE_SCALE = 1u << 5,
    FRONTEND_STYLE_SCALEICON = 1u << 6,
    FRONTEND_STYLE_BOBICON = 1u << 7,
    FRONTEND_STYLE_SECONDARY = 1u << 8,
    FRONTEND_STYLE_IGNORE = 1u << 9,
    FRONTEND_STYLE_TEXTLEFT = 1u << 10,
    FRONTEND_STYLE_TEXTRIGHT = 1u << 11,
    FRONTEND_STYLE_TEXTCENTRE = 1u << 12,
    FRONTEND_STYLE_TEXTSMALL = 1u << 13,
};

struct FrontEndSecondary {
    float pos[2];
    float size[2];   // 0, 0: the sprite's own size
    char* name;      // owned
    Sprite* sprite;  // owned
};

struct FrontEndItem {
    uint32_t style;  // FRONTEND_STYLE_* bits
    char* userData;  // owned; on Tutorial_Levels the level path
    float pos[2];
    uint32_t textId;      // localised text (0 none)
    int32_t link;         // screen index, or -1
    uint32_t cardMode;    // save-screen mode when the link names no screen
    int32_t returnValue;  // -1 when missing; also the progress entry of the lock test
    float imagePos[2];
    char* imageName;    // owned
    Sprite* image;      // owned
    uint32_t disabled;  // select plays "Invalid"
    int32_t sound;      // sound-bank id of Sound (-1 none)
    int32_t soundHi;    // of SoundHi, played once the focus stayed 1.25 s
    float focusTimer;   // seconds on focus; -1 once SoundHi played
    FrontEndSecondary secondary[FRONTEND_SECONDARY];
    float bobLo[2], bobHi[2];
    float scaleLo, scaleHi, fadeLo, fadeHi, dullLo, dullHi;
    // Animated values: eased towards the Hi targets on the focused item,
    // the Lo ones elsewhere.
    float bobPhase;
    float fade, dull, dullIcon, scale, scaleIcon;
    float bobTarget[2];
    float bob[2];  // displayed bob offset
};

struct FrontEndAnim {
    Node* node;    // owned
    AnimSet* set;  // owned
};

struct FrontEndScreen {
    int32_t index;
    uint32_t titleText;  // localised text ids (0 none)
    uint32_t infoText;
    float textColour[3];  // the title's colour, white by default
    float titlePos[2];
    float time;  // seconds on the screen, 0 on entry
    uint32_t noScene, horizontal, fadeEntry, isStatic, overrideSelect;
    float fade;       // 0..1.25; the white overlay shows min(fade, 1)
    Node* sceneNode;  // the screen's own scene, when it has one (owned)
    Scene* scene;
    char* sceneName;      // owned
    FrontEndItem* items;  // owned
    int32_t itemCount;
    TextFile text;  // the screen's info texts
    int32_t staticText, indexedText;
    uint32_t indexedMode;
    float textScale;
    FrontEndAnim* anims;  // owned
    int32_t animCount;
    uint32_t userVar1, userVar2;  // free integers of the screen's handlers
    int32_t lastSelected;         // ReturnValue of the last selected item; -1 after entry
};

// The handlers' own records (one screen at a time uses each).
struct FrontEndCharacterSelect {
    uint32_t joined[4];  // per player position 0..3
    uint8_t player[4];   // context player of each joined position
    uint8_t character[4];
    uint32_t confirmed[4];
    uint32_t joinedThisFrame[4];
    int32_t count;              // joined positions
    Sprite* tint;               // 1 x 1, (200, 150, 150, 150)
    Node* positionNodes[4];     // the background scene's "P1_NULL".."P4_NULL" (null when missing)
    Node* positionParents[4];   // where they hung before the screen moved them
    Node* characterNodes[8];    // "CHAR_NULL01".."CHAR_NULL08"
    const char* pictureFormat;  // the texture sequences of the four positions' pictures
};

struct FrontEndLevelSelect {
    uint32_t day, forwards;   // the two toggles
    uint32_t stage1, stage2;  // which toggle left and right change
};

struct FrontEndModelScreen {
    Node* root;        // owned
    Node* model;       // owned (ControllerOptions2, SoundOptions)
    Node* camera;      // owned: the screen's own camera, which the model is drawn from
    float aim[3];      // the world point the camera looks at
    Node* parents[8];  // the animations' nodes' former parents
    Node* buttons[9];  // "Move", "Action_1".., of the first animation's scene
    QuadBatch* batch;  // owned
    int32_t cursor;    // ControllerOptions: the layout 0..2
    uint32_t confirmed;
    float timer;                     // ControllerOptions2: the one-second step; SoundOptions: the repeat
    int32_t shown;                   // ControllerOptions2: the item shown
    float turn;                      // the model's turn, radians
    float savedEffects, savedMusic;  // SoundOptions: restored on cancel
};

struct FrontEndMemory {
    int32_t history[FRONTEND_HISTORY];  // screen indices; -1 is empty, the list ends at the first
    int32_t savedHistory[FRONTEND_HISTORY];
    int32_t savedCurrent;
    uint32_t historySaved;            // a saved history waits for the next entry
    int32_t focus[FRONTEND_SCREENS];  // per screen; clamped to its item count where used
    uint32_t visited;                 // Title was passed: later entries start on Main
    uint32_t completedCount;          // completed LevelSelectZ items at the last visit
    uint32_t leave;                   // the leave word: in the packing and test runs (WadProcess,
                                      // TestProcess) the front end pops itself while it is set
};

struct FrontEnd {
    GameState* state;
    GameState* result;  // what the update returns (the state itself, or none to leave)
    int32_t requested;
    int32_t current;
    FrontEndScreen screens[FRONTEND_SCREENS];
    uint32_t soundGroup;    // the sound bank's group of "Settings::SOUNDS"
    Sound* music;           // the "Title" stream (owned)
    uint32_t musicWaiting;  // start (or unpause) the music at the next update
    uint32_t musicStarted;  // started once since it was loaded
    // Settings.
    float demoWaitTime;    // 0: no attract demo
    Node* backgroundNode;  // owned
    Scene* backgroundScene;
    Sprite* infoBar;
    Sprite* star;
    Sprite* lock;
    Sprite* unknown;
    Sprite* reverse;
    Sprite* blank;  // 8 x 8 white: the fade overlay and tints
    float starPos[2];
    float starCountPos[2];
    uint32_t starCountPosGiven;
    int32_t starCountJustify;  // 1 left, 2 right, else centred
    float starCountScale;
    // The machine.
    float attractCountdown;
    char cheats[FRONTEND_CHEAT_LENGTH + 1];
    float cheatTimer;
    char versionText[32];  // shown instead of the star count while set
    float clock;           // seconds since the state's enter
    float sceneTime;       // the frame time the render advances scenes by
    uint32_t selectSpent;  // this frame's select did its one thing already (a character screen's
                           // confirm or join, a button sequence's last press): the navigation
                           // ignores it. Cleared at the start of every update.
    // The handlers' records.
    FrontEndCharacterSelect characters;
    FrontEndLevelSelect levelSelect;
    FrontEndModelScreen model;
    float launchTimer;
    uint32_t launchImageShown;
};

// The state (enter FrontEnd_Init, update FrontEnd_Update, render
// FrontEnd_Render, destroy FrontEnd_Exit); null when the pool is full.
// The enter empties the resource arena and makes the physics world anew
// before it loads, and the exit empties the arena once everything is
// released, so a level entered next starts from neither the front end's nor
// the last level's leftovers.
GameState* FrontEnd_CreateState(void);
void FrontEnd_Init(GameState* state);
GameState* FrontEnd_Update(GameState* state, float dt);
void FrontEnd_Render(GameState* state);
void FrontEnd_Exit(GameState* state);

// Empties the graphics engine's resource arena (device data, rebuilt by its
// owners when next drawn).
void FrontEnd_PurgeResources(void);
// The master volume from the context's effects volume, and the "Title"
// music stream at the context's music volume, waiting to start.
void FrontEnd_LoadSounds(void);
// The parts of the render, in its order, for the running front end's
// current screen: the 3D background (the screen's own scene or the shared
// one, unless NoScene) seen through the scene's camera; the items' images
// and the focused item's secondary images; the items' texts, the title
// (upper case, letter spacing -0.06 of the font's height) and the info text.
void FrontEnd_RenderScene(void);
void FrontEnd_DrawItems(void);
// Where the item's image is drawn (x, y, w, h on the virtual screen): at its
// position and size, scaled about its centre with ScaleIcon, moved by its
// bob with BobIcon unless disabled. 0 (rect untouched) without an image.
int FrontEnd_ItemImageRect(const FrontEndItem* item, float rect[4]);
void FrontEnd_DrawInfoText(void);

// The running front end's record, or null outside the state.
FrontEnd* FrontEnd_Get(void);
// The record that lasts the whole run (never null).
FrontEndMemory* FrontEnd_GetMemory(void);
// The current screen (null outside the state).
FrontEndScreen* FrontEnd_CurrentScreen(void);
// The screen's focus, clamped to 0 .. item count - 1 (0 without items).
int32_t FrontEnd_GetFocus(int32_t screen);
void FrontEnd_SetFocus(int32_t screen, int32_t focus);
// The focused item of the current screen, or null.
FrontEndItem* FrontEnd_FocusedItem(void);

// Plays a sound of the front end's group by name (entry `index` of that
// name), at volume 1.
void FrontEnd_PlaySound(const char* name, uint32_t index = 0);
// An item's own sound (a sound-bank id; -1 plays nothing).
void FrontEnd_PlaySoundId(int32_t id);
// Tests hear every sound the front end plays: by name, or (name null) by id.
typedef void (*FrontEndSoundHook)(const char* name, int32_t indexOrId);
void FrontEnd_SetSoundHook(FrontEndSoundHook hook);
// The music stream: stopped (Launch, the level screens' exits) or its
// volume set.
void FrontEnd_StopMusic(void);
void FrontEnd_SetMusicVolume(float volume);

// Reading FrontEnd.cfg into the record (what the state's enter does before
// it chooses the first screen): settings, screens, items, animations, text
// files, sprites. A missing file leaves every screen empty and
// DemoWaitTime 0. Exposed for tests.
void FrontEnd_Load(FrontEnd* fe);
// Frees what FrontEnd_Load made.
void FrontEnd_Unload(FrontEnd* fe);

// A node below root (root included) by the name of its scene item: the node
// named exactly so, else the item's first node, which a scene names
// "<item>_00". Null when neither is there or root is null.
Node* FrontEnd_FindNode(Node* root, const char* name);

// The index of a screen or a style name (compared exactly), or -1.
int32_t FrontEnd_FindScreen(const char* name);
int32_t FrontEnd_FindItemStyle(const char* name);
const char* FrontEnd_GetScreenName(int32_t screen);
