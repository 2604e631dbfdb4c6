// The start menu and the options state: two small states drawn in plain
// text over an empty 3D view.
//
// The start menu lists the keys of section "Menu" of "Menu.cfg": the key is
// the label, the value an optional "*" and a game-state type name
// ("GameState_Type_Quit", "_Options", "_FrontEnd", "_Glim"), matched as a
// prefix, optionally followed by "," and a level number. Selecting an entry
// starts that type with that level ("level<n>.cfg" as the race set-up's only
// level); the front end's type hands over to the front end, a value naming
// no type gives an entry that does nothing. Without "Menu.cfg" the start
// menu hands over to the front end on its first update: the ordinary road.
//
// The options state lists section "Options" the same way, with the option
// names "Options_Player1_Cycle".."Options_Player4_Cycle" (the player's
// character), "Options_Player1_Computer".."Options_Player4_Computer" (its
// kind), "Options_Aspect" and "Options_Back"; only player 0's controls count.
//
// Both lists keep at most 255 entries (further keys are ignored): their
// count, scroll offset and cursor are bytes. The start menu shows 27 rows;
// a held direction moves one row, then after 0.5 s one row every 0.025 s.
//
// The two states share one display record (view, nodes, fonts), made by the
// first of them to enter and freed by the last to leave. Main thread only.
#pragma once

#include <cstdint>

struct Font;
struct GameState;
struct Node;
struct View;

constexpr int STARTMENU_MAX_ENTRIES = 255;
constexpr int STARTMENU_ROWS = 27;
constexpr float STARTMENU_FIRST_REPEAT = 0.5f;
constexpr float STARTMENU_REPEAT = 0.025f;

struct StartMenuEntry {
    char* label;     // owned: the key's name
    uint8_t type;    // index of the list's name table; 0 when the value names none
    uint16_t level;  // the level number after ","
    uint8_t star;    // the value began with "*"
};

struct StartMenuList {
    StartMenuEntry* entries;  // owned
    uint8_t count;
    uint8_t scroll;  // first row shown (the start menu only)
    uint8_t cursor;  // row of the cursor, from the scroll offset
    float repeat;    // seconds until a held direction moves again
    uint32_t holds;  // moves made by the current hold
};

struct StartMenuDisplay {
    uint32_t users;     // states using it
    View* view;         // owned
    Node* camera;       // owned
    Node* root;         // owned, empty
    Font* normal;       // owned; white
    Font* highlighted;  // owned; (255, 128, 128)
};

struct StartMenu {
    uint32_t loaded;  // "Menu.cfg" was found
    StartMenuDisplay display;
    StartMenuList menu;     // the start menu's list
    StartMenuList options;  // the options state's list
};

// The shared record (never null).
StartMenu* StartMenu_Get(void);

// Reads the keys of the section into the list (what it held is freed first):
// names are the list's name table (count entries, index 0 included; empty
// or null names match nothing). 1 when the section was read, else 0 with an
// empty list.
int StartMenu_ReadSection(const char* file, const char* section, const char* const* names, int count,
                          StartMenuList* list);
void StartMenu_FreeList(StartMenuList* list);
// One frame of the held-direction repeat over a list of `rows` visible rows
// (rows 0 scrolls nothing: the cursor moves over every entry).
void StartMenu_MoveCursor(StartMenuList* list, int up, int down, float dt, int rows);

// The states (types 1 and 2 of the root state).
GameState* StartMenu_CreateState(void);
GameState* Options_CreateState(void);
void StartMenu_Init(GameState* state);
GameState* StartMenu_Update(GameState* state, float dt);
void StartMenu_Render(GameState* state);
void StartMenu_Exit(GameState* state);
void Options_Init(GameState* state);
GameState* Options_Update(GameState* state, float dt);
void Options_Render(GameState* state);
void Options_Exit(GameState* state);
// The states' spare slot: the context's game-state type becomes 0.
void GameState_ClearType(void);
