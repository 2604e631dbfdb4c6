// The save screens: load, save and autosave the game's progress in a
// dialogue laid out like a console's memory-card screens. They run as a
// state pushed over the front end or the level while a save-screen mode is
// pending, and pop themselves when the mode returns to none.
//
// Modes: Boot (look for saves, load one or start one, or give autosave up),
// Load, Save (where action 6 on a save deletes it), and Autosave (write
// again where the last successful save or load went). Each mode has an
// enter, an exit (it forgets the road's choices), an update and two drawing
// hooks. Autosave is off until a save or a load has succeeded; it then
// remembers that slot and file position. Answering yes to the autosave-cancel
// question of the boot check turns it off again. A request for the autosave
// mode while it is off sets no mode.
//
// Every step shows one titled message (text keys of the text tables) of a
// kind that says what the panel shows and what the input does:
//   plain           nothing to choose (results; the boot check's findings)
//   question        yes or no, left and right choose, select answers, back
//                   answers no; questions start at no
//   slots, files    a grid of 8 in two rows of 4: left and right within the
//                   row, up and down between the rows, no wrap-around, each
//                   move needs the direction released first; select picks,
//                   back goes back
//   check           the chosen slot's file positions are examined one by
//                   one: position p on the first frame past 0.25 x p s
//   saving, loading, deleting, formatting
//                   the operation runs on the step's second frame (so the
//                   message is drawn once); its result message follows
//                   with the time still counted from the in-progress
//                   message, and the road goes on 3.0 s (success) or 0.5 s
//                   (failure) after that message began
//
// Confirmations every mode shares (MemCardUI_HandleConfirm): the delete
// question and the delete (done, refused by the storage, slot gone: back to
// the file grid, or the slot grid when the slot went), the format question
// that follows an unformatted slot on the Save road, and the format (the
// storage's save folder made), a slot that goes away during the check, and
// a slot the storage won't let be written (a read-only save folder), which
// is said before anything is asked or written.
// The message fade eases towards 0.8 at 5 per second (any accepted press
// snaps it there) and the steps run only while it is 0.8, so a freshly
// pushed screen waits about 0.9 s. dt is capped at 0.2 s.
//
// Input is the menu input of player_input.h for any player, so while a
// player holds the menus (the context's controlling player) only that
// player's presses count; Load and Save make the last input player the
// holder, and the state's destroy gives the menus back to every player.
//
// Configuration "MemCard.cfg", section "MemCard":
//   Text     TitleTextSize (0.7), MessageTextSize (0.7), InfoTextSize (0.55;
//            read, the information line is always drawn at 0.55)
//   Colours  Overlay1..3, SpaceFull, SpaceFree as "r:g:b:a" (0..255): each
//            a one-pixel sprite stretched over its rectangle; the last two
//            are drawn nowhere
//   Images   Panel, FileIcon, ProgressBack, ProgressBar, FileIconPC1..9
//            (a missing slot icon takes the last one loaded before it)
// Fonts: the game's "JS_KartFont" and "PC_Font01".."PC_Font03".
//
// Buttons (the information line "LS_INFOTEXT_INFO%.2d" under the panel):
// MEMCARD_BUTTONS_*.
//
// Main thread only.
#pragma once

#include <cstdint>

#include "game/save_game.h"
#include "game/save_record.h"

struct GameState;
struct Sprite;

// Save-screen modes.
enum : uint32_t {
    MEMCARD_MODE_NONE = 0,
    MEMCARD_MODE_BOOT = 1,
    MEMCARD_MODE_LOAD = 2,
    MEMCARD_MODE_SAVE = 3,
    MEMCARD_MODE_AUTOSAVE = 4,
    MEMCARD_MODES = 5,
};

// Message kinds.
enum : uint32_t {
    MEMCARD_KIND_PLAIN = 0,
    MEMCARD_KIND_QUESTION = 1,
    MEMCARD_KIND_SLOTS = 2,
    MEMCARD_KIND_FILES = 3,
    MEMCARD_KIND_CHECK = 4,
    MEMCARD_KIND_SAVING = 5,
    MEMCARD_KIND_LOADING = 6,
    MEMCARD_KIND_FORMATTING = 7,
    MEMCARD_KIND_DELETING = 8,
};

// Button sets: which information line a message shows.
enum : uint32_t {
    MEMCARD_BUTTONS_NONE = 0,
    MEMCARD_BUTTONS_GRID = 1,        // a grid that may lead to a write (move, select, back; the space a save needs)
    MEMCARD_BUTTONS_QUESTION = 2,    // yes or no
    MEMCARD_BUTTONS_CONTINUE = 3,    // continue or back
    MEMCARD_BUTTONS_BACK = 4,        // back only
    MEMCARD_BUTTONS_LOAD_GRID = 5,   // the Load road's grids (move, select, back)
    MEMCARD_BUTTONS_SAVE_FILES = 6,  // the Save road's file grid (move, select, delete, back)
};

constexpr int MEMCARD_HISTORY = 9;
constexpr float MEMCARD_MESSAGE_FADE = 0.8f;
constexpr float MEMCARD_PANEL_FADE = 0.65f;
constexpr float MEMCARD_SUCCESS_TIME = 3.0f;
constexpr float MEMCARD_FAILURE_TIME = 2.0f;
// A result stands at least this long after its text showed, unless a key ends it.
constexpr float MEMCARD_RESULT_MIN_TIME = 2.0f;
constexpr float MEMCARD_CHECK_INTERVAL = 0.25f;
constexpr float MEMCARD_MAX_DT = 0.2f;

struct MemCardMessage {
    uint32_t group;     // the mode that set it
    uint32_t step;      // what the mode's update does with it
    const char* title;  // text key (static)
    const char* text;   // text key (static)
    uint32_t buttons;   // information line (see above)
    uint32_t kind;      // MEMCARD_KIND_*
    int32_t selection;  // the selection when the message was left (history)
};

enum {
    MEMCARD_OVERLAY1,
    MEMCARD_OVERLAY2,
    MEMCARD_OVERLAY3,
    MEMCARD_SPACE_FULL,
    MEMCARD_SPACE_FREE,
    MEMCARD_COLOURS,
};
enum { MEMCARD_PANEL, MEMCARD_FILE_ICON, MEMCARD_PROGRESS_BACK, MEMCARD_PROGRESS_BAR, MEMCARD_IMAGES };
constexpr int MEMCARD_SLOT_ICONS = 9;

struct MemCardUI {
    uint32_t mode;                            // MEMCARD_MODE_*
    MemCardMessage message;                   // the current message
    MemCardMessage history[MEMCARD_HISTORY];  // newest first
    int32_t historyCount;
    int32_t selection;         // question: 0 yes, 1 no; grids: the cursor 0..7; check: positions checked
    float messageTime;         // seconds since the current message began
    float resultTime;          // seconds since the current result's text showed
    GameState* state;          // the pushed state, null while none runs
    char letter;               // the chosen slot (0 for none)
    int32_t file;              // the chosen file position (-1 for none)
    char letters[SAVE_SLOTS];  // the present slots, sorted
    int32_t letterCount;
    uint32_t hasSave[SAVE_FILE_POSITIONS];                   // of the chosen slot, from the check
    uint8_t headers[SAVE_FILE_POSITIONS][SAVE_HEADER_SIZE];  // read at the check
    uint32_t slotPresent[SAVE_SLOTS];
    float panelFade;         // eases towards 0.65 at 10 per second
    float messageFade;       // eases towards 0.8 at 5 per second
    uint32_t operationRan;   // the in-progress step ran its operation
    uint32_t succeeded;      // result of the last operation
    uint32_t overwrite;      // the save in progress replaces a save
    uint32_t cursorLatched;  // a direction moved the cursor: wait for its release
    uint32_t firstAttempt;   // autosave: the write to the remembered place has not failed yet
    uint32_t confirmNext;    // where a confirmation's result leads (memcard_ui.cpp)
    uint32_t autosaveEnabled;
    char autosaveLetter;
    int32_t autosaveFile;
    uint32_t autosaveRequests;  // autosave requests counted (tests)
    // Configuration.
    float titleSize, messageSize, infoSize;
    uint8_t colours[MEMCARD_COLOURS][4];
    Sprite* colourSprites[MEMCARD_COLOURS];  // owned
    Sprite* images[MEMCARD_IMAGES];          // owned
    Sprite* slotIcons[MEMCARD_SLOT_ICONS];   // shared with earlier entries when missing
};

// The module record (never null).
MemCardUI* MemCardUI_Get(void);

// Reads "MemCard.cfg" (what is missing keeps its default) and loads the
// panel's sprites; sprites of an earlier call are released first.
void MemCardUI_Setup(void);
// Releases the sprites; the autosave memory stays.
void MemCardUI_Shutdown(void);

// Asks for the save screens in this mode on the next level or front-end
// update (see the top for Load, Save and Autosave). An unknown mode is
// ignored.
void MemCardUI_SetMode(uint32_t mode);
// The mode waiting to be shown or running (MEMCARD_MODE_NONE for none).
uint32_t MemCardUI_GetPendingMode(void);
// The mode of a front-end item's link: "MemCardUIMode_Boot", "_Load",
// "_Save", "_InGame" (compared exactly) give 1..4, anything else 0.
uint32_t MemCardUI_FindMode(const char* name);
// The save screens' state while a mode is pending, or null: made once and
// the same record until it pops. The caller pushes it.
GameState* MemCardUI_CreateState(void);

// Makes a message current; with remember, the current one goes into the
// history first (the oldest of nine is dropped). The selection starts at 1
// (no) for a question, else 0; the message time starts at 0.
void MemCardUI_SetMessage(uint32_t group, uint32_t step, const char* title, const char* text, uint32_t buttons,
                          uint32_t kind, int remember);
// Makes the newest remembered message current again, with its selection.
// 0 when the history is empty.
int MemCardUI_PopMessage(void);

// One cursor move over the 8-entry grid: a direction (0 up, 1 down, 2
// left, 3 right) from the cursor. Rows of 4, no wrap-around.
int32_t MemCardUI_MoveFileCursor(int32_t cursor, int direction);

// The state's callbacks.
void MemCardUI_StateInit(GameState* state);
GameState* MemCardUI_StateUpdate(GameState* state, float dt);
void MemCardUI_StateRender(GameState* state);
void MemCardUI_StateDestroy(GameState* state);

// Autosave requests made so far (for tests), and a reset of the whole
// record to its start-up state (mode none, autosave off).
uint32_t MemCardUITest_GetAutosaveRequests(void);
void MemCardUITest_Reset(void);
