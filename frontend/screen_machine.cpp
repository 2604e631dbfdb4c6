#include "frontend/screen_machine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "frontend/front_end.h"
#include "frontend/option_screens.h"
#include "frontend/select_screens.h"
#include "game/game_context.h"
#include "game/memcard_ui.h"
#include "game/player_input.h"
#include "game/race_setup.h"

namespace {

constexpr float kEaseRate = 4.0f;
constexpr float kSoundHiDelay = 1.25f;

// The screen table; "-" slots are null, the shared empty handler is
// FrontEnd_NoOp / FrontEnd_NoOpTime.
const FrontEndHandlers kHandlers[FRONTEND_SCREENS] = {
    {},  // FrontEnd_None
    {FrontEnd_LaunchEnter, FrontEnd_LaunchExit, FrontEnd_LaunchUpdate, FrontEnd_LaunchRender, FrontEnd_NoOpTime},
    {},  // Title
    {FrontEnd_MenuEnter, FrontEnd_MenuExit, nullptr, nullptr, nullptr},
    {FrontEnd_MenuEnter, FrontEnd_MenuExit, FrontEnd_MenuUpdate, FrontEnd_NoOpTime, FrontEnd_NoOpTime},
    {FrontEnd_OptionsEnter, FrontEnd_NoOp, FrontEnd_MenuUpdate, FrontEnd_NoOpTime, FrontEnd_NoOpTime},
    {},  // LoadSave
    {},  // Credits
    {FrontEnd_EngineEnter, FrontEnd_EngineExit, FrontEnd_EngineUpdate, FrontEnd_NoOpTime, FrontEnd_NoOpTime},
    {FrontEnd_PlayerSelectEnter, FrontEnd_PlayerSelectExit, FrontEnd_PlayerSelectUpdate,
     FrontEnd_PlayerSelectRenderBack, FrontEnd_PlayerSelectRenderFront},
    {FrontEnd_PlayerSelect2Enter, FrontEnd_PlayerSelectExit, FrontEnd_PlayerSelectUpdate,
     FrontEnd_PlayerSelectRenderBack, FrontEnd_PlayerSelectRenderFront},
    {FrontEnd_CupSelectEnter, FrontEnd_CupSelectExit, FrontEnd_CupSelectUpdate, FrontEnd_NoOpTime,
     FrontEnd_CupSelectRenderFront},
    {FrontEnd_LevelSelectEnter, FrontEnd_LevelSelectExit, FrontEnd_LevelSelectUpdate, FrontEnd_LevelSelectRenderBack,
     FrontEnd_LevelSelectRenderFront},
    {FrontEnd_LevelSubSelectEnter, FrontEnd_LevelSelect2Exit, FrontEnd_LevelSelect2Update, FrontEnd_NoOpTime,
     FrontEnd_NoOpTime},
    {FrontEnd_LevelSubSelectEnter, FrontEnd_LevelSelect3Exit, FrontEnd_LevelSelect3Update, FrontEnd_NoOpTime,
     FrontEnd_LevelSelect3RenderFront},
    {FrontEnd_LevelSelectZEnter, FrontEnd_LevelSelectZExit, FrontEnd_LevelSelectZUpdate, FrontEnd_NoOpTime,
     FrontEnd_NoOpTime},
    {FrontEnd_ControllerOptionsEnter, FrontEnd_ControllerOptionsExit, FrontEnd_ControllerOptionsUpdate,
     FrontEnd_ControllerOptionsRenderBack, FrontEnd_ControllerOptionsRenderFront},
    {FrontEnd_ControllerOptions2Enter, FrontEnd_ControllerOptions2Exit, FrontEnd_ControllerOptions2Update,
     FrontEnd_ControllerOptions2RenderBack, FrontEnd_NoOpTime},
    {FrontEnd_GameOptionsEnter, FrontEnd_NoOp, FrontEnd_GameOptionsUpdate, FrontEnd_NoOpTime, FrontEnd_NoOpTime},
    {FrontEnd_SoundOptionsEnter, FrontEnd_SoundOptionsExit, FrontEnd_SoundOptionsUpdate,
     FrontEnd_SoundOptionsRenderBack, FrontEnd_NoOpTime},
    {},  // Tutorial_Main
    {},  // Tutorial_Ask
    {FrontEnd_TutorialLevelsEnter, FrontEnd_TutorialLevelsExit, FrontEnd_NoOpTime, FrontEnd_NoOpTime,
     FrontEnd_NoOpTime},
    {FrontEnd_NoOp, FrontEnd_CompletedGameExit, FrontEnd_NoOpTime, FrontEnd_NoOpTime, FrontEnd_NoOpTime},
};

const FrontEndHandlers kEmpty = {};

float g_bobCounter = 1.0f;  // the next bob phase handed out by FrontEndItem_InitStyle

const char* const kCheatSequences[5] = {"LRUDBADULRBA", "RLBAUDRLDUAB", "ABRDULBARLDU", "DLURABDLURBA", "LDRUBALDRUAB"};

// The demo's characters, in this order, and its five tracks' day runs.
const char* const kDemoCharacters[8] = {"Wenna", "Rusk", "Yarb", "Tobin", "Marisol", "Drenn", "Corvin", "Ilsa"};

bool ValidScreen(int32_t screen) { return screen >= 0 && screen < FRONTEND_SCREENS; }

FrontEndScreen* Screen(FrontEnd* fe, int32_t screen) { return ValidScreen(screen) ? &fe->screens[screen] : nullptr; }

float Ease(float value, float target, float dt) { return value + (target - value) * dt * kEaseRate; }

// One frame of the item's style values towards the targets of one side.
void Animate(FrontEndItem* item, float dt, bool hi)
{
    const uint32_t s = item->style;
    const float scale = hi ? item->scaleHi : item->scaleLo;
    const float fade = hi ? item->fadeHi : item->fadeLo;
    const float dull = hi ? item->dullHi : item->dullLo;
    item->scale = (s & FRONTEND_STYLE_SCALE) ? Ease(item->scale, scale, dt) : 1.0f;
    item->scaleIcon = (s & FRONTEND_STYLE_SCALEICON) ? Ease(item->scaleIcon, scale, dt) : 1.0f;
    item->fade = (s & FRONTEND_STYLE_FADE) ? Ease(item->fade, fade, dt) : 1.0f;
    item->dull = (s & FRONTEND_STYLE_DULL) ? Ease(item->dull, dull, dt) : 1.0f;
    item->dullIcon = (s & FRONTEND_STYLE_DULLICON) ? Ease(item->dullIcon, dull, dt) : 1.0f;
    const uint32_t bobBit = hi ? FRONTEND_STYLE_BOBHI : FRONTEND_STYLE_BOBLO;
    const float* bob = hi ? item->bobHi : item->bobLo;
    if (s & bobBit) {
        item->bobTarget[0] = std::sin(2.0f * item->bobPhase) * bob[0];
        item->bobTarget[1] = std::sin(3.0f * item->bobPhase) * bob[1];
    } else {
        item->bobTarget[0] = item->bobTarget[1] = 0.0f;
    }
}

void FocusFirstSelectable(int32_t screen)
{
    FrontEnd* fe = FrontEnd_Get();
    FrontEndScreen* s = Screen(fe, screen);
    FrontEnd_SetFocus(screen, 0);
    for (int32_t i = 0; i < s->itemCount; i++) {
        if (!(s->items[i].style & FRONTEND_STYLE_IGNORE)) {
            FrontEnd_SetFocus(screen, i);
            return;
        }
    }
}

// The demo: one track, marked as the demo's, played by player 0 alone as a
// computer player with the drawn character. The cleared visited flag brings
// the front end back on Title when the level leaves.
void StartDemo()
{
    GameContext* ctx = Game_GetContext();
    // The n-th of the unlocked characters, counted in the list's order: the
    // locks need not be the list's last entries.
    const int unlocked = Character_CountUnlocked();
    int character = 0;
    if (unlocked > 0)
        for (int n = Game_Rand() % unlocked; Character_IsLocked(character) || n-- > 0;) character++;
    char path[GAMESETUP_TEXT];
    snprintf(path, sizeof path, "Vehicles\\Config\\50cc\\%s.cfg", kDemoCharacters[character]);
    GameSetup_SetVehicleConfig(path, 0);
    int track = Game_Rand() % 5 + 1;
    snprintf(path, sizeof path, "LandScape\\Track%.2d\\T%.2d_Day_Forwards.cfg", track, track);
    GameSetup_SetLevel(path, 0);
    GameSetup_SetLevel(GAMESETUP_END, 1);
    GameSetup_SetDemo(1);
    for (int p = 0; p < GAME_PLAYER_SLOTS; p++) ctx->playerKinds[p] = p == 0 ? PLAYER_KIND_COMPUTER : PLAYER_KIND_NONE;
    ctx->characters[0] = (uint8_t)character;
    ctx->playerCount = 1;
    FrontEnd_PushScreen(FRONTEND_LAUNCH, 0);
    FrontEnd_GetMemory()->visited = 0;
}

void ResetCheats(FrontEnd* fe)
{
    memset(fe->cheats, ' ', FRONTEND_CHEAT_LENGTH);
    fe->cheats[FRONTEND_CHEAT_LENGTH] = 0;
}

void ApplyCheat(int sequence)
{
    FrontEnd* fe = FrontEnd_Get();
    switch (sequence) {
    case 0: Progress_UnlockAll(); break;
    case 1: Game_SetHiddenFlag(); break;
    case 2: Progress_UnlockAllComplete(); break;
    case 3: Game_ShowVersionNumber(fe->versionText, sizeof fe->versionText); break;
    default: Game_HiddenEffectNone(); break;
    }
}

}  // namespace

// ---- the table ----

const FrontEndHandlers* FrontEnd_GetHandlers(int32_t screen)
{
    return ValidScreen(screen) ? &kHandlers[screen] : &kEmpty;
}

void FrontEnd_NoOp(int) {}
void FrontEnd_NoOpTime(float*) {}

// ---- history ----

void FrontEnd_PushScreen(int32_t screen, int remember)
{
    FrontEnd* fe = FrontEnd_Get();
    if (!fe || !ValidScreen(screen)) return;
    if (remember) {
        FrontEndMemory* m = FrontEnd_GetMemory();
        int32_t count = FrontEnd_HistoryCount();
        if (count == FRONTEND_HISTORY) {
            // Full: the oldest entry goes, so back always returns.
            memmove(m->history, m->history + 1, sizeof(int32_t) * (FRONTEND_HISTORY - 1));
            count--;
        }
        m->history[count] = fe->current;
        if (count + 1 < FRONTEND_HISTORY) m->history[count + 1] = -1;
    }
    fe->requested = screen;
    FocusFirstSelectable(screen);
    TextFile_SetSection(&fe->screens[screen].text, 0);
}

void FrontEnd_PopScreen(void)
{
    FrontEnd* fe = FrontEnd_Get();
    int32_t count = FrontEnd_HistoryCount();
    if (!fe || count == 0) return;
    FrontEndMemory* m = FrontEnd_GetMemory();
    fe->requested = m->history[count - 1];
    m->history[count - 1] = -1;
}

void FrontEnd_ClearHistory(void)
{
    FrontEndMemory* m = FrontEnd_GetMemory();
    for (int32_t& slot : m->history) slot = -1;
}

int32_t FrontEnd_HistoryCount(void)
{
    const FrontEndMemory* m = FrontEnd_GetMemory();
    int32_t n = 0;
    while (n < FRONTEND_HISTORY && m->history[n] >= 0) n++;
    return n;
}

void FrontEnd_SaveHistory(void)
{
    FrontEnd* fe = FrontEnd_Get();
    if (!fe) return;
    FrontEndMemory* m = FrontEnd_GetMemory();
    memcpy(m->savedHistory, m->history, sizeof m->history);
    m->savedCurrent = fe->current;
    int32_t count = FrontEnd_HistoryCount();
    if (count > 0 && m->savedHistory[count - 1] == fe->current) m->savedHistory[count - 1] = -1;
    m->historySaved = 1;
}

int FrontEnd_HasSavedHistory(void) { return FrontEnd_GetMemory()->historySaved != 0; }

void FrontEnd_RestoreHistory(void)
{
    FrontEndMemory* m = FrontEnd_GetMemory();
    memcpy(m->history, m->savedHistory, sizeof m->history);
    m->historySaved = 0;
    if (FrontEnd* fe = FrontEnd_Get()) fe->requested = fe->current = ValidScreen(m->savedCurrent) ? m->savedCurrent : 0;
}

// ---- the change step ----

void FrontEnd_ChangeScreen(float dt)
{
    FrontEnd* fe = FrontEnd_Get();
    if (!fe) return;
    FrontEndScreen* current = Screen(fe, fe->current);
    FrontEndScreen* requested = Screen(fe, fe->requested);
    if (!current || !requested) {
        fe->requested = fe->current = FRONTEND_NONE;
        return;
    }
    if (fe->requested == fe->current) {
        current->fade = std::max(0.0f, current->fade - dt * FRONTEND_FADE_RATE);
        return;
    }
    if (current->fade >= FRONTEND_FADE_FULL || (!current->fadeEntry && !requested->fadeEntry)) {
        current->fade = 0.0f;
        if (auto exit = FrontEnd_GetHandlers(fe->current)->exit) exit(0);
        // An exit may have changed the request (CompletedGame sends Main, then Credits).
        fe->current = ValidScreen(fe->requested) ? fe->requested : FRONTEND_NONE;
        fe->versionText[0] = 0;
        if (fe->current == FRONTEND_NONE) return;
        FrontEndScreen* entered = &fe->screens[fe->current];
        if (auto enter = FrontEnd_GetHandlers(fe->current)->enter) enter(0);
        entered->time = 0.0f;
        for (int32_t s = 0; s < entered->text.sectionCount; s++) {
            entered->text.sections[s].time = 0.0f;
            entered->text.sections[s].alpha = 0.0f;
        }
        entered->lastSelected = -1;
        if (fe->current == FRONTEND_TITLE) fe->attractCountdown = fe->demoWaitTime;
        return;
    }
    current->fade = std::min(FRONTEND_FADE_FULL, current->fade + dt * FRONTEND_FADE_RATE);
    requested->fade = FRONTEND_FADE_FULL;
    fe->versionText[0] = 0;
}

// ---- navigation ----

int FrontEnd_PrevPressed(void)
{
    const FrontEndScreen* s = FrontEnd_CurrentScreen();
    if (!s) return 0;
    return s->horizontal ? PlayerInput_LeftPressed(PLAYER_INPUT_ANY) : PlayerInput_UpPressed(PLAYER_INPUT_ANY);
}

int FrontEnd_NextPressed(void)
{
    const FrontEndScreen* s = FrontEnd_CurrentScreen();
    if (!s) return 0;
    return s->horizontal ? PlayerInput_RightPressed(PLAYER_INPUT_ANY) : PlayerInput_DownPressed(PLAYER_INPUT_ANY);
}

int FrontEnd_MoveFocus(int direction)
{
    FrontEnd* fe = FrontEnd_Get();
    FrontEndScreen* s = FrontEnd_CurrentScreen();
    if (!fe || !s || s->itemCount == 0) return 0;
    for (int32_t i = FrontEnd_GetFocus(fe->current) + direction; i >= 0 && i < s->itemCount; i += direction) {
        if (s->items[i].style & FRONTEND_STYLE_IGNORE) continue;
        FrontEnd_SetFocus(fe->current, i);
        s->items[i].focusTimer = 0.0f;
        FrontEnd_PlaySound("MoveFocus");
        return 1;
    }
    return 0;
}

void FrontEnd_HandleNavigation(float dt)
{
    FrontEnd* fe = FrontEnd_Get();
    FrontEndScreen* s = FrontEnd_CurrentScreen();
    if (!fe || !s) return;
    const bool still = s->fade == 0.0f;
    if (FrontEnd_PrevPressed()) {
        if (still && !s->isStatic) FrontEnd_MoveFocus(-1);
    } else if (FrontEnd_NextPressed()) {
        if (still && !s->isStatic) FrontEnd_MoveFocus(1);
    } else if (fe->current == FRONTEND_TITLE) {
        if (PlayerInput_SelectPressed(PLAYER_INPUT_ANY)) {
            fe->requested = FRONTEND_MAIN;
            FrontEnd_PlaySound("ScreenChange");
        } else if (still && PlayerInput_BackPressed(PLAYER_INPUT_ANY)) {
            FrontEnd_PopScreen();
            FrontEnd_PlaySound("ScreenChange");
        }
    } else if (!fe->selectSpent && PlayerInput_SelectPressed(PLAYER_INPUT_ANY)) {
        if (still && !s->overrideSelect && s->itemCount > 0) {
            FrontEndItem* item = FrontEnd_FocusedItem();
            if (item->disabled) {
                FrontEnd_PlaySound("Invalid");
            } else {
                FrontEnd_PlaySoundId(item->sound);
                if (item->link >= 0) {
                    s->lastSelected = item->returnValue;
                    FrontEnd_PushScreen(item->link, 1);
                } else if (item->cardMode != MEMCARD_MODE_NONE) {
                    MemCardUI_SetMode(item->cardMode);
                }
                FrontEnd_PlaySound("ScreenChange");
            }
        }
    } else if (still && PlayerInput_BackPressed(PLAYER_INPUT_ANY)) {
        FrontEnd_PopScreen();
        FrontEnd_PlaySound("ScreenChange");
    }

    const int32_t focus = FrontEnd_GetFocus(fe->current);
    for (int32_t i = 0; i < s->itemCount; i++) {
        FrontEndItem* item = &s->items[i];
        if (!(item->style & FRONTEND_STYLE_IGNORE)) {
            if (i == focus) FrontEndItem_AnimateSelected(item, dt);
            else FrontEndItem_AnimateUnselected(item, dt);
        }
        for (int k = 0; k < 2; k++) item->bob[k] += (item->bobTarget[k] - item->bob[k]) * dt;
        item->bobPhase += dt;
        if (i == focus && item->focusTimer >= 0.0f) {
            item->focusTimer = std::min(kSoundHiDelay, item->focusTimer + dt);
            if (item->focusTimer >= kSoundHiDelay) {
                FrontEnd_PlaySoundId(item->soundHi);
                item->focusTimer = -1.0f;
            }
        }
    }
}

// ---- items ----

void FrontEndItem_InitStyle(FrontEndItem* item, int hi)
{
    const uint32_t s = item->style;
    const float scale = hi ? item->scaleHi : item->scaleLo;
    const float fade = hi ? item->fadeHi : item->fadeLo;
    const float dull = hi ? item->dullHi : item->dullLo;
    item->scale = (s & FRONTEND_STYLE_SCALE) ? scale : 1.0f;
    item->scaleIcon = (s & FRONTEND_STYLE_SCALEICON) ? scale : 1.0f;
    item->fade = (s & FRONTEND_STYLE_FADE) ? fade : 1.0f;
    item->dull = (s & FRONTEND_STYLE_DULL) ? dull : 1.0f;
    item->dullIcon = (s & FRONTEND_STYLE_DULLICON) ? dull : 1.0f;
    if (item->bobPhase == 0.0f) {
        item->bobPhase = g_bobCounter;
        g_bobCounter += 0.1f;
    }
}

void FrontEndItem_AnimateSelected(FrontEndItem* item, float dt) { Animate(item, dt, true); }
void FrontEndItem_AnimateUnselected(FrontEndItem* item, float dt) { Animate(item, dt, false); }

int FrontEnd_IsItemLocked(int32_t item)
{
    const FrontEndScreen* s = FrontEnd_CurrentScreen();
    if (!s || item < 0 || item >= s->itemCount) return 1;
    int32_t entry = s->items[item].returnValue;
    if (entry < 0 || entry >= GAME_PROGRESS_ENTRIES) return 0;
    return Progress_IsLocked(entry);
}

Node* FrontEnd_ScreenAnimValue(int32_t screen, int32_t n)
{
    FrontEnd* fe = FrontEnd_Get();
    FrontEndScreen* s = fe ? Screen(fe, screen) : nullptr;
    return s && n >= 0 && n < s->animCount ? s->anims[n].node : nullptr;
}

AnimSet* FrontEnd_ScreenAnimValue2(int32_t screen, int32_t n)
{
    FrontEnd* fe = FrontEnd_Get();
    FrontEndScreen* s = fe ? Screen(fe, screen) : nullptr;
    return s && n >= 0 && n < s->animCount ? s->anims[n].set : nullptr;
}

// ---- attract timer and button sequences ----

void FrontEnd_UpdateAttractTimer(float dt)
{
    FrontEnd* fe = FrontEnd_Get();
    if (!fe || fe->current != FRONTEND_TITLE || fe->demoWaitTime == 0.0f) return;
    if (PlayerInput_AnyPressed(PLAYER_INPUT_ANY)) fe->attractCountdown = fe->demoWaitTime;
    fe->attractCountdown -= dt;
    if (fe->attractCountdown < 0.0f) {
        fe->attractCountdown = fe->demoWaitTime;
        StartDemo();
    }
}

void FrontEnd_CheckCheats(float dt)
{
    FrontEnd* fe = FrontEnd_Get();
    if (!fe) return;
    fe->cheatTimer -= dt;
    if (fe->cheatTimer <= 0.0f) {
        fe->cheatTimer = 0.0f;
        ResetCheats(fe);
    }
    if (fe->current != FRONTEND_CREDITS) return;
    char letter = 0;
    if (PlayerInput_UpPressed(PLAYER_INPUT_ANY)) letter = 'U';
    else if (PlayerInput_DownPressed(PLAYER_INPUT_ANY)) letter = 'D';
    else if (PlayerInput_LeftPressed(PLAYER_INPUT_ANY)) letter = 'L';
    else if (PlayerInput_RightPressed(PLAYER_INPUT_ANY)) letter = 'R';
    else if (PlayerInput_SelectPressed(PLAYER_INPUT_ANY)) letter = 'A';
    else if (PlayerInput_Action5Pressed(PLAYER_INPUT_ANY)) letter = 'B';
    if (!letter) return;
    memmove(fe->cheats, fe->cheats + 1, FRONTEND_CHEAT_LENGTH - 1);
    fe->cheats[FRONTEND_CHEAT_LENGTH - 1] = letter;
    fe->cheatTimer = 1.0f;
    for (int q = 0; q < 5; q++) {
        if (strncmp(fe->cheats, kCheatSequences[q], FRONTEND_CHEAT_LENGTH) != 0) continue;
        FrontEnd_PlaySound("Cheat");
        ApplyCheat(q);
        fe->cheatTimer = 0.0f;
        // The last press completed the sequence and does nothing else: a
        // select would otherwise follow the link of the screen shown now.
        fe->selectSpent = 1;
        if (q != 3) fe->current = fe->requested = FRONTEND_COMPLETEDGAME;
        return;
    }
}
