// Configuration-driven menus: a menu system is a set of pages read from one
// compiled configuration file (the in-game menu "InGameMenu.cfg" among
// them). Each page has entries with an optional image and an optional text,
// links between pages, a history for "back", a focus that moves over the
// selectable entries, and up to six callbacks bound by name through the
// callback registry.
//
// File layout:
//   SOUNDS::SoundList          the menu's sounds ("moveFocus", "back",
//                              "select", and what page callbacks name)
//   MenuData                   every child is a page, in file order: a group
//                              holding the page's keys and entry groups, or
//                              a plain key naming the top-level section that
//                              does
//   <page>  initialiseCallback, shutdownCallback, enterCallback,
//           exitCallback, updateCallback, renderCallback   registered names
//           closeDownMenuOnBackup                          back on the page
//                                                          without history
//                                                          closes the menu
//   <page>::<entry>   each child group of the page is an entry:
//     MenuItem (selectable), linkToMenuItemSel<n> (entries shown selected
//     with it); only with MenuItem: MenuItemInitSelected, then the first of
//     MenuLink (page name; MenuLinkAddToHistory, default TRUE),
//     MenuSelection (a name returned by Menu_Update), MenuItemBackup
//     text block (with TextPosition): TextLocalName (a text key; without it
//       a literal text set at run time by Menu_SetEntryText), TextScale,
//       TextSelScale, TextScaleToSelTime, TextScaleFromSelTime (seconds;
//       below 0.01 taken as 0.01), TextFontName ("SECONDARY": the game's
//       fonts in turn, one a second; otherwise the kart font), TextColour,
//       TextSelColour ("r:g:b:a"), TextCenter
//     image block: ImageFile, or ImageColour ("r:g:b:a") / ImageAlpha
//       (0..255) alone for a coloured rectangle; ImagePosition, ImageSize
//       (-1, -1: the sprite's own size), ImageSelSize,
//       ImageSizeTimeToChangeToSel, ImageSizeTimeToChangeFromSel (per axis),
//       ImageSubtractive, ImageAdditive
//     FPVal0, FPVal1: two floats for the page's callbacks
//
// Pages, entries, links and selections are name hashes (Name_Hash with
// blanks skipped and letters upper-cased), so they ignore case and blanks.
//
// Input: up, down and back are the menu's player's (255: any player),
// select any player's, through the menu input tests of player_input.h. The
// frame in which the menu opens or closes takes no input.
//
// A missing file gives no menu system; every operation accepts null and
// does nothing (answers 0 or null). Main thread only.
#pragma once

#include <cstdint>

struct ConfigNode;
struct Font;
struct MenuEntry;
struct MenuPage;
struct MenuSystem;
struct Sprite;

// Page callbacks get (page, menu, 0); the initialise callback gets the open
// configuration (ConfigNode*), its section set to the page's, as its
// argument.
typedef void (*MenuPageCallback)(MenuPage* page, MenuSystem* menu, void* argument);

// Entry flags.
enum : uint32_t {
    MENU_ENTRY_LINK = 1,
    MENU_ENTRY_SELECTION = 2,
    MENU_ENTRY_ITEM = 4,            // selectable
    MENU_ENTRY_ADD_TO_HISTORY = 8,  // a link remembers the page it leaves
    MENU_ENTRY_INIT_SELECTED = 16,  // the page's initial focus
    MENU_ENTRY_BACKUP = 32,
};
// Text block flags.
enum : uint32_t {
    MENU_TEXT_CENTRED = 1,
    MENU_TEXT_CYCLING = 2,
};
// Image block flags.
enum : uint32_t {
    MENU_IMAGE_SUBTRACTIVE = 1,
    MENU_IMAGE_ADDITIVE = 2,
};
// Page and menu flags.
enum : uint32_t {
    MENU_PAGE_CLOSE_ON_BACKUP = 2,
    MENU_CHANGED_THIS_FRAME = 1,
};

constexpr int MENU_TEXT_BUFFER = 1024;  // a literal text, NUL included
constexpr float MENU_MIN_EASE_TIME = 0.01f;

struct MenuText {
    uint32_t flags;   // MENU_TEXT_*
    uint32_t textId;  // localised text, or 0
    char* literal;    // MENU_TEXT_BUFFER bytes when there is no text id (owned), else null
    Font* font;       // the kart font, or the game's font 0 when cycling (not owned)
    float pos[2];
    float scale, selScale;
    float rateToSel, rateFromSel;  // scale units per second
    uint8_t colour[4], selColour[4];
    float currentScale;
};

struct MenuImage {
    uint32_t flags;  // MENU_IMAGE_*
    Sprite* sprite;  // owned
    float pos[2];
    float size[2];  // -1, -1: the sprite's own size
    float selSize[2];
    float rateToSel[2];  // pixels per second
    float rateFromSel[2];
    float current[2];
};

struct MenuValues {
    float values[2];  // FPVal0, FPVal1
};

struct MenuEntry {
    uint32_t nameHash;
    MenuImage* image;    // owned, or null
    MenuText* text;      // owned, or null
    MenuValues* values;  // owned, or null
    uint32_t flags;      // MENU_ENTRY_*
    uint32_t target;     // hash of the linked page or of the selection
    uint32_t* links;     // entry hashes shown selected with this one (owned)
    int32_t linkCount;
};

struct MenuPage {
    int32_t focus;  // entry index
    uint32_t nameHash;
    void* userData;  // the page's callbacks' own; null after loading
    MenuPageCallback initialise, shutdown, update, enter, exit, render;
    MenuEntry* entries;  // owned
    int32_t entryCount;
    uint32_t flags;  // MENU_PAGE_*
};

struct MenuSystem {
    int32_t pageCount;
    MenuPage* pages;  // owned
    int32_t historyCount;
    int32_t* history;  // page indices (owned)
    int32_t current;   // page index
    uint32_t open;
    uint8_t player;       // 255: any player
    uint32_t flags;       // MENU_CHANGED_THIS_FRAME
    uint32_t soundGroup;  // the sound bank's group of "SOUNDS" (0: none)
};

// The menu of a configuration file, or null when it can't be opened.
MenuSystem* Menu_Load(const char* fileName);
// Frees the pages with their entries (each page's shutdown callback runs
// once, after its entries went), the history, the sounds and the record.
void Menu_Free(MenuSystem* menu);
// One frame of input on the current page (nothing while closed): its
// update callback, then focus moves, back and select. Returns the selected
// entry's selection hash in the frame of the select (the menu then closes),
// else 0.
uint32_t Menu_Update(MenuSystem* menu);
// Draws the current page while open; the images and texts ease towards
// their selected or plain sizes by the frame time.
void Menu_Render(MenuSystem* menu);
int Menu_IsOpen(MenuSystem* menu);
// A change of the open flag takes no input for the rest of the frame; with
// clearHistory the history is emptied.
void Menu_SetOpen(MenuSystem* menu, int open, int clearHistory);
// Makes the page current; with refocus the focus goes to the page's
// initial entry. 1 when the page exists, else 0 and nothing changes.
int Menu_GoToByName(MenuSystem* menu, const char* page, int refocus);
int Menu_GoToByHash(MenuSystem* menu, uint32_t hash, int refocus);
int Menu_GoTo(MenuSystem* menu, int32_t page, int refocus);
// The current page's hash, 0 without one.
uint32_t Menu_GetCurrentHash(MenuSystem* menu);
MenuPage* Menu_GetCurrentPage(MenuSystem* menu);
// 1 when the name's hash (Name_Hash(name, 1, 1)) equals the hash.
int Menu_NameMatches(const char* name, uint32_t hash);
// 255: any player.
void Menu_SetPlayer(MenuSystem* menu, uint8_t player);
// Copies at most 1023 characters of text into the entry's literal text;
// nothing for an entry without one (a text id, or no text block).
void Menu_SetEntryText(MenuSystem* menu, const char* page, const char* entry, const char* text);

MenuPage* Menu_FindPage(MenuSystem* menu, uint32_t hash);
MenuEntry* MenuPage_FindEntry(MenuPage* page, uint32_t hash);
// The entry of that name, with its index through index (may be null).
MenuEntry* MenuPage_FindEntryByName(MenuPage* page, const char* name, int32_t* index);
// Any of the bits set; 0 for a missing entry or block.
int MenuEntry_TestFlags(const MenuEntry* entry, uint32_t bits);
void MenuEntry_SetFlags(MenuEntry* entry, uint32_t bits, int on);
int MenuText_TestFlags(const MenuText* text, uint32_t bits);
void MenuText_SetFlags(MenuText* text, uint32_t bits, int on);

void MenuHistory_Push(MenuSystem* menu, int32_t page);
// Removes the last entry; 0 when empty.
int MenuHistory_Pop(MenuSystem* menu);
void MenuHistory_Clear(MenuSystem* menu);
// 0 when the history is empty, else 1 and the last page index.
int MenuHistory_Peek(MenuSystem* menu, int32_t* page);

// The nearest selectable entry before the focus; 1 when the focus moved.
int Menu_FocusPrev(MenuSystem* menu);
// The next selectable entry after the focus (fromStart: from entry 0); with
// preferInitial, the first selectable entry flagged MenuItemInitSelected
// wins over the first selectable one. 1 when the focus moved.
int Menu_FocusNext(MenuSystem* menu, int fromStart, int preferInitial);

// Tests of the level's paused road: with 1, Menu_IsOpen answers 1 for any
// menu, null included; 0 ends that.
void MenuTest_SetOpen(int open);
