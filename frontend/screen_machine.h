// The front end's screen machine: screen requests and the history, the
// change step with its fade, focus navigation, select and back, the item
// animations, the attract timer and the Credits screen's button sequences.
// All of it works on the running front end's record (front_end.h); outside
// the state the calls do nothing.
//
// History: 16 slots of screen indices, -1 when empty; the list ends at the
// first empty slot. A push appends the current screen (dropping the oldest
// entry when all 16 are used, so back always returns); a pop takes the last
// entry. The level state saves the history before the front end is left
// for a level, and the next front-end entry restores it, together with the
// screen that was current; without a saved history an entry clears it.
//
// Main thread only.
#pragma once

#include <cstdint>

struct AnimSet;
struct FrontEndItem;
struct Node;

// Requests the screen; with remember, the current screen goes on the
// history. The screen's focus goes to its first item without Ignore and its
// text file to section 0.
void FrontEnd_PushScreen(int32_t screen, int remember);
// Requests the screen on top of the history and removes it; nothing with
// an empty history.
void FrontEnd_PopScreen(void);
// Clears the 16 slots.
void FrontEnd_ClearHistory(void);
// The number of entries before the first empty slot.
int32_t FrontEnd_HistoryCount(void);
// Keeps the history and the current screen for the next entry; the last
// entry is dropped from the copy when it equals the current screen.
void FrontEnd_SaveHistory(void);
int FrontEnd_HasSavedHistory(void);
// Copies the saved history back and makes the saved screen current and
// requested; the saved flag clears.
void FrontEnd_RestoreHistory(void);

// The change step of the update (see front_end.h).
void FrontEnd_ChangeScreen(float dt);
// Focus moves, Title's select and back, select, back and the item
// animations: one frame.
void FrontEnd_HandleNavigation(float dt);
// Left or right on a Horizontal screen, else up or down; any player.
int FrontEnd_PrevPressed(void);
int FrontEnd_NextPressed(void);
// Moves the current screen's focus to the nearest item without Ignore
// before (direction -1) or after (+1) it; 1 when it moved (MoveFocus plays,
// the new item's focus timer starts).
int FrontEnd_MoveFocus(int direction);

// Sets the item's animated values to its Lo targets (Hi with hi set); the
// first call gives its bob phase the next value of a counter from 1.0 in
// steps of 0.1, so items bob out of step.
void FrontEndItem_InitStyle(FrontEndItem* item, int hi);
// One frame of easing towards the Hi (selected) or Lo targets.
void FrontEndItem_AnimateSelected(FrontEndItem* item, float dt);
void FrontEndItem_AnimateUnselected(FrontEndItem* item, float dt);

// Item n of the current screen: locked when n is past the items, or when
// its ReturnValue (0..149) names a locked progress entry; any other
// ReturnValue, negative ones included, counts as unlocked.
int FrontEnd_IsItemLocked(int32_t item);

// Node and animation set of screen animation n of the screen; both null
// for a screen past 23 or an n at or past its count.
Node* FrontEnd_ScreenAnimValue(int32_t screen, int32_t n);
AnimSet* FrontEnd_ScreenAnimValue2(int32_t screen, int32_t n);

// The attract timer: on Title, DemoWaitTime after the last menu input the
// demo starts (a random unlocked character on a random track's day run).
void FrontEnd_UpdateAttractTimer(float dt);
// The Credits screen's button sequences (12 letters within 1 s each). A
// completed sequence shows CompletedGame at once; the press that completed
// it is spent (selectSpent), so it never also selects on that screen.
void FrontEnd_CheckCheats(float dt);

// ---- the screen table ----

// The five handler slots of a screen: enter and exit take 0, update a
// pointer to the frame time, the render slots a pointer to the scene time.
// A null slot is empty: nothing is called.
struct FrontEndHandlers {
    void (*enter)(int);
    void (*exit)(int);
    void (*update)(float*);
    void (*renderBefore)(float*);
    void (*renderAfter)(float*);
};

// The screen's slots (an empty row for an index outside 0..23).
const FrontEndHandlers* FrontEnd_GetHandlers(int32_t screen);
// The shared empty handlers.
void FrontEnd_NoOp(int);
void FrontEnd_NoOpTime(float*);
