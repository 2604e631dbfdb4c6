#include "game/memcard_ui.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/colour.h"
#include "app/config.h"
#include "app/save.h"
#include "app/state.h"
#include "app/text.h"
#include "engine/font.h"
#include "engine/sprite.h"
#include "game/game_context.h"
#include "game/game_setup.h"
#include "game/player_input.h"
#include "game/screen_text.h"

namespace {

// Steps: what a mode's update does with the current message.
enum : uint32_t {
    STEP_NONE,
    STEP_SELECT_SLOT,
    STEP_CHECK,
    STEP_SELECT_FILE,
    STEP_LOAD_ASK,       // load over the game's progress?
    STEP_OVERWRITE_ASK,  // replace the save at this place?
    STEP_LOADING,
    STEP_SAVING,
    STEP_RESULT,        // a result message; the road goes on after its time
    STEP_CANCEL_ASK,    // give autosave up?
    STEP_BOOT_WAIT,     // the boot check found no use for a slot: it runs again every frame
    STEP_BOOT_NO_FILE,  // no save anywhere, room for one: confirm to choose a slot
    // The confirmations every mode shares (MemCardUI_HandleConfirm).
    STEP_DELETE_ASK,      // delete the save at this place?
    STEP_DELETING,        // the delete runs
    STEP_FORMAT_ASK,      // prepare the slot for saving?
    STEP_FORMATTING,      // the format runs
    STEP_CONFIRM_RESULT,  // a confirmation's result; then ui->confirmNext
};

// Where a confirmation's result leads (MemCardUI::confirmNext).
enum : uint32_t { NEXT_FILES, NEXT_SLOTS, NEXT_FORMAT_ASK };

const char* const kTitleLoad = "LS_MEMCARD_TITLE_LOAD";
const char* const kTitleSave = "LS_MEMCARD_TITLE_SAVE";
const char* const kTitleAutosave = "LS_MEMCARD_TITLE_AUTOSAVE";
const char* const kTitleChecking = "LS_MEMCARD_TITLE_CHECKING";

// A mode's operations: enter when its state starts, exit when it is
// destroyed, update every frame while the message has faded in, and two
// drawing hooks: after the message's texts and after the whole panel.
struct ModeOps {
    void (*enter)(MemCardUI* ui);
    void (*exit)(MemCardUI* ui);
    void (*update)(MemCardUI* ui);
    void (*drawMessage)(const MemCardUI* ui);
    void (*draw)(const MemCardUI* ui);
};

MemCardUI Defaults()
{
    MemCardUI ui = {};
    ui.file = -1;
    ui.autosaveFile = -1;
    ui.titleSize = 0.7f;
    ui.messageSize = 0.7f;
    ui.infoSize = 0.55f;
    return ui;
}

MemCardUI g_ui = Defaults();

uint32_t g_runningMode = MEMCARD_MODE_NONE;  // the mode whose state runs (its exit is called on destroy)

// ---- messages and roads ----

void Leave(MemCardUI* ui) { ui->mode = MEMCARD_MODE_NONE; }

// The title of the mode's messages; the check has a title of its own except
// in the boot check, whose messages all stand under the autosave title.
const char* RoadTitle(const MemCardUI* ui)
{
    switch (ui->mode) {
    case MEMCARD_MODE_LOAD: return kTitleLoad;
    case MEMCARD_MODE_SAVE: return kTitleSave;
    default: return kTitleAutosave;
    }
}

void Show(MemCardUI* ui, uint32_t step, const char* title, const char* text, uint32_t buttons, uint32_t kind,
          int remember = 0)
{
    MemCardUI_SetMessage(ui->mode, step, title, text, buttons, kind, remember);
}

// A result message of the step (STEP_RESULT or STEP_CONFIRM_RESULT): fresh,
// it starts its own time (with remember, the current message goes into the
// history first); otherwise it replaces the in-progress message and keeps
// that message's time.
void ShowResultOf(MemCardUI* ui, uint32_t step, const char* text, int ok, int fresh, int remember = 0)
{
    if (fresh) {
        Show(ui, step, RoadTitle(ui), text, MEMCARD_BUTTONS_NONE, MEMCARD_KIND_PLAIN, remember);
    } else {
        ui->message.step = step;
        ui->message.text = text;
        ui->message.kind = MEMCARD_KIND_PLAIN;
        ui->message.buttons = MEMCARD_BUTTONS_NONE;
    }
    ui->succeeded = (uint32_t)ok;
    ui->resultTime = 0.0f;
}

void ShowResult(MemCardUI* ui, const char* text, int ok, int fresh) { ShowResultOf(ui, STEP_RESULT, text, ok, fresh); }

// A confirmation's result, followed by `next` after its time.
void ShowConfirmResult(MemCardUI* ui, const char* text, int ok, int fresh, uint32_t next, int remember = 0)
{
    ShowResultOf(ui, STEP_CONFIRM_RESULT, text, ok, fresh, remember);
    ui->confirmNext = next;
}

int LetterIndex(const MemCardUI* ui, char letter)
{
    for (int i = 0; i < ui->letterCount; i++)
        if (ui->letters[i] == letter) return i;
    return 0;
}

void RefreshSlots(MemCardUI* ui)
{
    ui->letterCount = MemCardUI_RefreshCards(ui->letters);
    for (int i = 0; i < SAVE_SLOTS; i++) ui->slotPresent[i] = i < ui->letterCount;
}

// The grids' information line: the Load road only reads, the others may
// write a save (and the Save road's file grid deletes).
uint32_t GridButtons(const MemCardUI* ui, uint32_t kind)
{
    if (ui->mode == MEMCARD_MODE_LOAD) return MEMCARD_BUTTONS_LOAD_GRID;
    int saveRoad = ui->mode == MEMCARD_MODE_SAVE || ui->mode == MEMCARD_MODE_AUTOSAVE;
    return saveRoad && kind == MEMCARD_KIND_FILES ? MEMCARD_BUTTONS_SAVE_FILES : MEMCARD_BUTTONS_GRID;
}

void StartSlotSelection(MemCardUI* ui)
{
    static const char* const kTexts[MEMCARD_MODES] = {
        "", "LS_MEMCARD_MESSAGE_BOOTSELECTCARD", "LS_MEMCARD_MESSAGE_LOADSELECTCARD",
        "LS_MEMCARD_MESSAGE_SAVESELECTCARD", "LS_MEMCARD_MESSAGE_SAVESELECTCARD"};
    RefreshSlots(ui);
    Show(ui, STEP_SELECT_SLOT, RoadTitle(ui), kTexts[ui->mode], GridButtons(ui, MEMCARD_KIND_SLOTS),
         MEMCARD_KIND_SLOTS);
    if (ui->letter) ui->selection = LetterIndex(ui, ui->letter);
}

void StartCheck(MemCardUI* ui)
{
    ui->file = -1;
    memset(ui->hasSave, 0, sizeof ui->hasSave);
    const char* title = ui->mode == MEMCARD_MODE_BOOT ? kTitleAutosave : kTitleChecking;
    Show(ui, STEP_CHECK, title, "LS_MEMCARD_MESSAGE_CHECKINPROGRESS", MEMCARD_BUTTONS_NONE, MEMCARD_KIND_CHECK);
}

void StartFileSelection(MemCardUI* ui)
{
    static const char* const kTexts[MEMCARD_MODES] = {
        "", "LS_MEMCARD_MESSAGE_BOOTSELECTFILE", "LS_MEMCARD_MESSAGE_LOADSELECTFILE",
        "LS_MEMCARD_MESSAGE_SAVESELECTFILE", "LS_MEMCARD_MESSAGE_SAVESELECTFILE"};
    Show(ui, STEP_SELECT_FILE, RoadTitle(ui), kTexts[ui->mode], GridButtons(ui, MEMCARD_KIND_FILES),
         MEMCARD_KIND_FILES);
}

void StartLoading(MemCardUI* ui)
{
    Show(ui, STEP_LOADING, RoadTitle(ui), "LS_MEMCARD_MESSAGE_LOADINPROGRESS", MEMCARD_BUTTONS_NONE,
         MEMCARD_KIND_LOADING);
}

void StartSaving(MemCardUI* ui, int overwrite)
{
    ui->overwrite = (uint32_t)overwrite;
    const char* text = overwrite ? "LS_MEMCARD_MESSAGE_OVERWRITEINPROGRESS" : "LS_MEMCARD_MESSAGE_SAVEINPROGRESS";
    Show(ui, STEP_SAVING, RoadTitle(ui), text, MEMCARD_BUTTONS_NONE, MEMCARD_KIND_SAVING);
}

void AskCancelAutosave(MemCardUI* ui, int remember)
{
    Show(ui, STEP_CANCEL_ASK, kTitleAutosave, "LS_MEMCARD_MESSAGE_AUTOSAVECANCEL", MEMCARD_BUTTONS_QUESTION,
         MEMCARD_KIND_QUESTION, remember);
}

void RememberForAutosave(MemCardUI* ui)
{
    ui->autosaveEnabled = 1;
    ui->autosaveLetter = ui->letter;
    ui->autosaveFile = ui->file;
}

// The file name of the chosen place.
const char* ChosenName(const MemCardUI* ui, char* name, size_t size) { return Save_GetFileName(ui->file, name, size); }

// ---- the shared steps ----

enum Event { EVENT_NONE, EVENT_SELECT, EVENT_BACK, EVENT_DELETE, EVENT_YES, EVENT_NO, EVENT_DONE };

Event ReadButtons(void)
{
    if (PlayerInput_SelectPressed(PLAYER_INPUT_ANY)) return EVENT_SELECT;
    if (PlayerInput_BackPressed(PLAYER_INPUT_ANY)) return EVENT_BACK;
    return EVENT_NONE;
}

// Slot selection: a select on a present slot chooses it and starts the
// check.
Event SlotStep(MemCardUI* ui)
{
    Event e = ReadButtons();
    if (e == EVENT_SELECT) {
        if (ui->selection < 0 || ui->selection >= ui->letterCount) return EVENT_NONE;
        ui->letter = ui->letters[ui->selection];
        StartCheck(ui);
    }
    return e;
}

// The check: position p is examined on the first frame past 0.25 x p s;
// the frame after the last one the check is done. Every frame after its
// first clears the last error first. A slot that goes away ends it.
Event CheckStep(MemCardUI* ui)
{
    if (ui->operationRan) Save_ClearLastError();
    ui->operationRan = 1;
    RefreshSlots(ui);
    if (std::find(ui->letters, ui->letters + ui->letterCount, ui->letter) == ui->letters + ui->letterCount) {
        ShowConfirmResult(ui, "LS_MEMCARD_ERROR_CHECKCARDREMOVED", 0, 1, NEXT_SLOTS);
        return EVENT_NONE;
    }
    if (ui->selection >= SAVE_FILE_POSITIONS) return EVENT_DONE;
    while (ui->selection < SAVE_FILE_POSITIONS && ui->messageTime > MEMCARD_CHECK_INTERVAL * (float)ui->selection) {
        int p = ui->selection++;
        char name[SAVE_NAME_MAX];
        Save_GetFileName(p, name, sizeof name);
        ui->hasSave[p] = 0;
        if (MemCardUI_ListFiles(ui->letter, name) && Save_ReadGameHeader(ui->letter, name, ui->headers[p]))
            ui->hasSave[p] = 1;
    }
    return EVENT_NONE;
}

// File selection: select picks the place under the cursor; with `deletes`,
// action 6 on a place holding a save asks to delete it.
Event FileStep(MemCardUI* ui, int deletes = 0)
{
    Event e = ReadButtons();
    if (e == EVENT_NONE && deletes && PlayerInput_Action6Pressed(PLAYER_INPUT_ANY)) e = EVENT_DELETE;
    if (e == EVENT_SELECT || e == EVENT_DELETE) ui->file = std::clamp(ui->selection, 0, SAVE_FILE_POSITIONS - 1);
    if (e == EVENT_DELETE && !ui->hasSave[ui->file]) return EVENT_NONE;
    return e;
}

Event QuestionStep(MemCardUI* ui)
{
    Event e = ReadButtons();
    if (e == EVENT_SELECT) return ui->selection == 0 ? EVENT_YES : EVENT_NO;
    return e == EVENT_BACK ? EVENT_NO : EVENT_NONE;
}

// A result goes on after its time from the message's start, and stands at
// least the least time of its own (a result that replaced a long in-progress
// message is still read); select or back ends it sooner.
Event ResultStep(MemCardUI* ui)
{
    if (ReadButtons() != EVENT_NONE) return EVENT_DONE;
    float wait = ui->succeeded ? MEMCARD_SUCCESS_TIME : MEMCARD_FAILURE_TIME;
    return ui->messageTime >= wait && ui->resultTime >= MEMCARD_RESULT_MIN_TIME ? EVENT_DONE : EVENT_NONE;
}

// Loads the chosen save and shows its result; a result without a message of
// its own returns to the slot selection.
void LoadingStep(MemCardUI* ui)
{
    char name[SAVE_NAME_MAX];
    ChosenName(ui, name, sizeof name);
    Save_ClearResult();
    Save_ClearLastError();
    if (Save_ReadGame(ui->letter, name)) {
        ShowResult(ui, "LS_MEMCARD_SUCCESS_LOAD", 1, 0);
        return;
    }
    uint32_t code = Save_GetResult() ? Save_GetResult() : Save_GetLastError();
    switch (code) {
    case SAVE_RESULT_UNFORMATTED: ShowResult(ui, "LS_MEMCARD_ERROR_CARDUNFORMATTED", 0, 0); break;
    case SAVE_RESULT_MISSING: ShowResult(ui, "LS_MEMCARD_ERROR_LOADCARDREMOVED", 0, 0); break;
    case SAVE_RESULT_FAILED: ShowResult(ui, "LS_MEMCARD_ERROR_LOADFAILED", 0, 0); break;
    default: StartSlotSelection(ui); break;
    }
}

// Writes the save at the chosen place and shows its result: the autosave
// messages on the autosave and boot roads, the save or overwrite messages
// on the Save road.
void SavingStep(MemCardUI* ui, int autosaveMessages)
{
    char name[SAVE_NAME_MAX];
    ChosenName(ui, name, sizeof name);
    Save_ClearResult();
    if (Save_WriteGame(ui->letter, name)) {
        const char* text = autosaveMessages ? "LS_MEMCARD_SUCCESS_AUTOSAVE"
                           : ui->overwrite  ? "LS_MEMCARD_SUCCESS_OVERWRITE"
                                            : "LS_MEMCARD_SUCCESS_SAVE";
        ShowResult(ui, text, 1, 0);
        return;
    }
    const char* text = nullptr;
    switch (Save_GetResult()) {
    case SAVE_RESULT_UNFORMATTED: text = "LS_MEMCARD_ERROR_CARDUNFORMATTED"; break;
    case SAVE_RESULT_MISSING:
        text = autosaveMessages ? "LS_MEMCARD_ERROR_AUTOSAVECARDREMOVED"
               : ui->overwrite  ? "LS_MEMCARD_ERROR_OVERWRITECARDREMOVED"
                                : "LS_MEMCARD_ERROR_SAVECARDREMOVED";
        break;
    case SAVE_RESULT_NO_SPACE:
        text = autosaveMessages ? "LS_MEMCARD_ERROR_AUTOSAVENOSPACE" : "LS_MEMCARD_ERROR_SAVENOSPACE";
        break;
    case SAVE_RESULT_FAILED:
        text = autosaveMessages ? "LS_MEMCARD_ERROR_AUTOSAVEFAILED"
               : ui->overwrite  ? "LS_MEMCARD_ERROR_OVERWRITEFAILED"
                                : "LS_MEMCARD_ERROR_SAVEFAILED";
        break;
    default: break;
    }
    if (text) ShowResult(ui, text, 0, 0);
    else StartSlotSelection(ui);
}

// The steps every road shares: the slot selection (back: `back`), the
// check, and the result (a success is remembered for the autosave and
// leaves; a failure: `failed`). 1 when the step was one of them.
int SharedStep(MemCardUI* ui, void (*back)(MemCardUI*), void (*failed)(MemCardUI*))
{
    switch (ui->message.step) {
    case STEP_SELECT_SLOT:
        if (SlotStep(ui) == EVENT_BACK) back(ui);
        return 1;
    case STEP_CHECK:
        if (CheckStep(ui) == EVENT_DONE) StartFileSelection(ui);
        return 1;
    case STEP_RESULT:
        if (ResultStep(ui) != EVENT_DONE) return 1;
        if (ui->succeeded) {
            RememberForAutosave(ui);
            Leave(ui);
        } else {
            failed(ui);
        }
        return 1;
    default: return 0;
    }
}

// Back to the message the current one was shown over (its selection kept).
void PopBack(MemCardUI*) { MemCardUI_PopMessage(); }

// A question: yes does `yes`, no (or back) `no`.
void AskStep(MemCardUI* ui, void (*yes)(MemCardUI*), void (*no)(MemCardUI*) = PopBack)
{
    switch (QuestionStep(ui)) {
    case EVENT_YES: yes(ui); break;
    case EVENT_NO: no(ui); break;
    default: break;
    }
}

// ---- the confirmations every mode shares ----

void StartDeleting(MemCardUI* ui)
{
    Show(ui, STEP_DELETING, RoadTitle(ui), "LS_MEMCARD_MESSAGE_DELETEINPROGRESS", MEMCARD_BUTTONS_NONE,
         MEMCARD_KIND_DELETING);
}

void StartFormatting(MemCardUI* ui)
{
    Show(ui, STEP_FORMATTING, RoadTitle(ui), "LS_MEMCARD_MESSAGE_FORMATINPROGRESS", MEMCARD_BUTTONS_NONE,
         MEMCARD_KIND_FORMATTING);
}

// Deletes the save at the chosen place on the step's second frame (so the
// in-progress message is drawn once); the place is empty afterwards.
void DeletingStep(MemCardUI* ui)
{
    char name[SAVE_NAME_MAX];
    ChosenName(ui, name, sizeof name);
    Save_ClearResult();
    if (Save_DeleteGame(ui->letter, name)) {
        ui->hasSave[ui->file] = 0;
        ShowConfirmResult(ui, "LS_MEMCARD_SUCCESS_DELETE", 1, 0, NEXT_FILES);
    } else if (Save_GetResult() == SAVE_RESULT_MISSING) {
        ShowConfirmResult(ui, "LS_MEMCARD_ERROR_DELETECARDREMOVED", 0, 0, NEXT_SLOTS);
    } else {
        ShowConfirmResult(ui, "LS_MEMCARD_ERROR_DELETEFAILED", 0, 0, NEXT_FILES);
    }
}

void FormattingStep(MemCardUI* ui)
{
    Save_ClearResult();
    if (Save_FormatCard(ui->letter)) ShowConfirmResult(ui, "LS_MEMCARD_SUCCESS_FORMAT", 1, 0, NEXT_FILES);
    else if (Save_GetResult() == SAVE_RESULT_MISSING)
        ShowConfirmResult(ui, "LS_MEMCARD_ERROR_FORMATCARDREMOVED", 0, 0, NEXT_SLOTS);
    else ShowConfirmResult(ui, "LS_MEMCARD_ERROR_FORMATFAILED", 0, 0, NEXT_FILES);
}

// After a confirmation's result: the file selection as it was left (the
// newest remembered message), the slot selection, or the format question.
void FollowConfirm(MemCardUI* ui)
{
    switch (ui->confirmNext) {
    case NEXT_FORMAT_ASK:
        Show(ui, STEP_FORMAT_ASK, RoadTitle(ui), "LS_MEMCARD_MESSAGE_FORMATWARNING", MEMCARD_BUTTONS_QUESTION,
             MEMCARD_KIND_QUESTION);
        break;
    case NEXT_FILES:
        if (ui->historyCount > 0 && ui->history[0].step == STEP_SELECT_FILE) {
            MemCardUI_PopMessage();
            break;
        }
        [[fallthrough]];
    default: StartSlotSelection(ui); break;
    }
}

// The confirmations shared by every mode: the delete question, the delete
// and its results (done, refused, slot gone), the format question, the
// format and its results, and the results that lead to them or back (the
// slot gone during the check, the slot that can't be written). 1 when the
// current step was one of them.
int MemCardUI_HandleConfirm(MemCardUI* ui)
{
    switch (ui->message.step) {
    case STEP_DELETE_ASK: AskStep(ui, StartDeleting); return 1;
    case STEP_DELETING: DeletingStep(ui); return 1;
    case STEP_FORMAT_ASK: AskStep(ui, StartFormatting); return 1;
    case STEP_FORMATTING: FormattingStep(ui); return 1;
    case STEP_CONFIRM_RESULT:
        if (ResultStep(ui) == EVENT_DONE) FollowConfirm(ui);
        return 1;
    default: return 0;
    }
}

// ---- Load ----

void MemCardUI_LoadEnter(MemCardUI* ui) { StartSlotSelection(ui); }

void MemCardUI_LoadUpdate(MemCardUI* ui)
{
    if (SharedStep(ui, Leave, StartSlotSelection)) return;
    switch (ui->message.step) {
    case STEP_SELECT_FILE:
        switch (FileStep(ui)) {
        case EVENT_SELECT:
            if (ui->hasSave[ui->file])
                Show(ui, STEP_LOAD_ASK, kTitleLoad, "LS_MEMCARD_MESSAGE_LOADWARNING", MEMCARD_BUTTONS_QUESTION,
                     MEMCARD_KIND_QUESTION, 1);
            break;
        case EVENT_BACK: StartSlotSelection(ui); break;
        default: break;
        }
        break;
    case STEP_LOAD_ASK: AskStep(ui, StartLoading); break;
    case STEP_LOADING: LoadingStep(ui); break;
    default: break;
    }
}

// ---- Save (also the autosave's road after a failure) ----

void MemCardUI_SaveEnter(MemCardUI* ui) { StartSlotSelection(ui); }

void StartOverwrite(MemCardUI* ui) { StartSaving(ui, 1); }

// A select on the Save road's file grid: a place holding a save asks before
// it is written over, an empty one is written when the slot takes it. A
// slot that can't be written says so before anything is asked; an
// unformatted one leads to the format question.
void ChooseSavePlace(MemCardUI* ui)
{
    char name[SAVE_NAME_MAX];
    uint32_t check = Save_CheckCard(ui->letter, ChosenName(ui, name, sizeof name));
    if (check == SAVE_RESULT_READ_ONLY) {
        ShowConfirmResult(ui, "LS_MEMCARD_ERROR_CARDUNFORMATTEDREADONLY", 0, 1, NEXT_FILES, 1);
        return;
    }
    if (ui->hasSave[ui->file]) {
        Show(ui, STEP_OVERWRITE_ASK, RoadTitle(ui), "LS_MEMCARD_MESSAGE_SAVEWARNING", MEMCARD_BUTTONS_QUESTION,
             MEMCARD_KIND_QUESTION, 1);
        return;
    }
    ui->overwrite = 0;
    switch (check) {
    case SAVE_RESULT_UNFORMATTED:
        ShowConfirmResult(ui, "LS_MEMCARD_ERROR_CARDUNFORMATTED", 0, 1, NEXT_FORMAT_ASK, 1);
        break;
    case SAVE_RESULT_NO_SPACE: ShowResult(ui, "LS_MEMCARD_ERROR_SAVENOSPACE", 0, 1); break;
    case SAVE_RESULT_MISSING: ShowResult(ui, "LS_MEMCARD_ERROR_SAVECARDREMOVED", 0, 1); break;
    default: StartSaving(ui, 0); break;
    }
}

// The Save road's steps; `back` is what a back on the slot selection does.
void SaveRoad(MemCardUI* ui, void (*back)(MemCardUI*))
{
    if (SharedStep(ui, back, StartSlotSelection)) return;
    switch (ui->message.step) {
    case STEP_SELECT_FILE:
        switch (FileStep(ui, 1)) {
        case EVENT_SELECT: ChooseSavePlace(ui); break;
        case EVENT_DELETE:
            Show(ui, STEP_DELETE_ASK, RoadTitle(ui), "LS_MEMCARD_MESSAGE_DELETEWARNING", MEMCARD_BUTTONS_QUESTION,
                 MEMCARD_KIND_QUESTION, 1);
            break;
        case EVENT_BACK: StartSlotSelection(ui); break;
        default: break;
        }
        break;
    case STEP_OVERWRITE_ASK: AskStep(ui, StartOverwrite); break;
    case STEP_SAVING: SavingStep(ui, 0); break;
    default: break;
    }
}

void MemCardUI_SaveUpdate(MemCardUI* ui) { SaveRoad(ui, Leave); }

// ---- Autosave ----

void MemCardUI_InGameEnter(MemCardUI* ui)
{
    ui->firstAttempt = 1;
    ui->letter = ui->autosaveLetter;
    ui->file = ui->autosaveFile;
    RefreshSlots(ui);
    if (std::find(ui->letters, ui->letters + ui->letterCount, ui->letter) == ui->letters + ui->letterCount) {
        ShowResult(ui, "LS_MEMCARD_ERROR_AUTOSAVECARDCHANGED", 0, 1);
        return;
    }
    StartSaving(ui, 0);
}

void AskCancelFromRoad(MemCardUI* ui) { AskCancelAutosave(ui, 1); }

void ChooseAnotherPlace(MemCardUI* ui)
{
    ui->firstAttempt = 0;
    StartSlotSelection(ui);
}

void MemCardUI_InGameUpdate(MemCardUI* ui)
{
    // The first attempt goes to the remembered place with the autosave's
    // messages; after a failure the player may give up, or choose another
    // place on the Save road, where a back asks again.
    if (ui->firstAttempt) {
        switch (ui->message.step) {
        case STEP_SAVING: SavingStep(ui, 1); break;
        case STEP_RESULT:
            if (ResultStep(ui) != EVENT_DONE) break;
            if (ui->succeeded) Leave(ui);
            else AskCancelAutosave(ui, 0);
            break;
        case STEP_CANCEL_ASK: AskStep(ui, Leave, ChooseAnotherPlace); break;
        default: break;
        }
        return;
    }
    if (ui->message.step == STEP_CANCEL_ASK) AskStep(ui, Leave);
    else SaveRoad(ui, AskCancelFromRoad);
}

// ---- Boot ----

// Looks in every present slot for saves and shows what was found. With
// onlyWhenChanged, a finding equal to the current message is left alone.
void MemCardUI_BootCheck(MemCardUI* ui, int onlyWhenChanged)
{
    RefreshSlots(ui);
    uint32_t step = STEP_BOOT_WAIT, buttons = MEMCARD_BUTTONS_BACK, kind = MEMCARD_KIND_PLAIN;
    const char* text;
    bool found = false;
    for (int s = 0; s < ui->letterCount && !found; s++) {
        for (int p = 0; p < SAVE_FILE_POSITIONS && !found; p++) {
            char name[SAVE_NAME_MAX];
            found = MemCardUI_ListFiles(ui->letters[s], Save_GetFileName(p, name, sizeof name)) != 0;
        }
    }
    if (ui->letterCount == 0) {
        text = "LS_MEMCARD_MESSAGE_BOOTNOCARD";
    } else if (found) {
        text = "LS_MEMCARD_MESSAGE_BOOTSELECTCARD";
        step = STEP_SELECT_SLOT;
        buttons = GridButtons(ui, MEMCARD_KIND_SLOTS);
        kind = MEMCARD_KIND_SLOTS;
    } else {
        switch (Save_CheckCard(ui->letters[0], nullptr)) {
        case SAVE_RESULT_UNFORMATTED:
        case SAVE_RESULT_READ_ONLY: text = "LS_MEMCARD_MESSAGE_BOOTUNFORMATTED"; break;
        case SAVE_RESULT_NO_SPACE: text = "LS_MEMCARD_MESSAGE_BOOTNOSPACE"; break;
        default:
            text = "LS_MEMCARD_MESSAGE_BOOTNOFILE";
            step = STEP_BOOT_NO_FILE;
            buttons = MEMCARD_BUTTONS_CONTINUE;
            break;
        }
    }
    if (onlyWhenChanged && ui->message.text && !strcmp(ui->message.text, text)) return;
    Show(ui, step, kTitleAutosave, text, buttons, kind);
}

void MemCardUI_BootEnter(MemCardUI* ui) { MemCardUI_BootCheck(ui, 0); }

void BootBack(MemCardUI* ui) { AskCancelAutosave(ui, 1); }

void GiveUpAutosave(MemCardUI* ui)
{
    ui->autosaveEnabled = 0;
    Leave(ui);
}

// No to giving up: back to the finding, looked at again.
void KeepAutosave(MemCardUI* ui)
{
    MemCardUI_PopMessage();
    if (ui->message.step == STEP_BOOT_WAIT || ui->message.step == STEP_BOOT_NO_FILE) MemCardUI_BootCheck(ui, 0);
}

void MemCardUI_BootUpdate(MemCardUI* ui)
{
    if (SharedStep(ui, BootBack, StartSlotSelection)) return;
    switch (ui->message.step) {
    case STEP_BOOT_WAIT:
        if (ReadButtons() == EVENT_BACK) BootBack(ui);
        else MemCardUI_BootCheck(ui, 1);
        break;
    case STEP_BOOT_NO_FILE:
        switch (ReadButtons()) {
        case EVENT_SELECT: StartSlotSelection(ui); break;
        case EVENT_BACK: BootBack(ui); break;
        default: break;
        }
        break;
    case STEP_SELECT_FILE:
        switch (FileStep(ui)) {
        case EVENT_SELECT:
            if (ui->hasSave[ui->file]) StartLoading(ui);
            else StartSaving(ui, 0);
            break;
        case EVENT_BACK: StartSlotSelection(ui); break;
        default: break;
        }
        break;
    case STEP_LOADING: LoadingStep(ui); break;
    case STEP_SAVING: SavingStep(ui, 1); break;
    case STEP_CANCEL_ASK: AskStep(ui, GiveUpAutosave, KeepAutosave); break;
    default: break;
    }
}

// ---- every mode ----

// A road's choices end with its state: the chosen slot and place, what the
// check found and the remembered messages (the autosave's place stays).
void ForgetRoad(MemCardUI* ui)
{
    ui->letter = 0;
    ui->file = -1;
    memset(ui->hasSave, 0, sizeof ui->hasSave);
    ui->historyCount = 0;
    ui->confirmNext = NEXT_FILES;
}

// The modes draw nothing beyond the shared panel: their hooks are empty.
const ModeOps kModes[MEMCARD_MODES] = {
    {nullptr, nullptr, nullptr, nullptr, nullptr},
    {MemCardUI_BootEnter, ForgetRoad, MemCardUI_BootUpdate, nullptr, nullptr},
    {MemCardUI_LoadEnter, ForgetRoad, MemCardUI_LoadUpdate, nullptr, nullptr},
    {MemCardUI_SaveEnter, ForgetRoad, MemCardUI_SaveUpdate, nullptr, nullptr},
    {MemCardUI_InGameEnter, ForgetRoad, MemCardUI_InGameUpdate, nullptr, nullptr},
};

// ---- input and easing ----

// Grid cursors and the question's choice: a held direction moves once and
// waits for its release.
void MoveCursor(MemCardUI* ui)
{
    uint32_t kind = ui->message.kind;
    if (kind != MEMCARD_KIND_QUESTION && kind != MEMCARD_KIND_SLOTS && kind != MEMCARD_KIND_FILES) return;
    int direction = -1;
    if (PlayerInput_UpHeld(PLAYER_INPUT_ANY)) direction = 0;
    else if (PlayerInput_DownHeld(PLAYER_INPUT_ANY)) direction = 1;
    else if (PlayerInput_LeftHeld(PLAYER_INPUT_ANY)) direction = 2;
    else if (PlayerInput_RightHeld(PLAYER_INPUT_ANY)) direction = 3;
    if (direction < 0) {
        ui->cursorLatched = 0;
        return;
    }
    if (ui->cursorLatched) return;
    ui->cursorLatched = 1;
    if (kind == MEMCARD_KIND_QUESTION) {
        if (direction >= 2) ui->selection = direction - 2;
    } else {
        ui->selection = MemCardUI_MoveFileCursor(ui->selection, direction);
    }
}

float Ease(float value, float target, float rate, float dt)
{
    float step = std::min(1.0f, rate * dt);
    return value + (target - value) * step;
}

void ReleaseSprites(MemCardUI* ui);
void LoadSprites(MemCardUI* ui, ConfigNode* cfg);

}  // namespace

MemCardUI* MemCardUI_Get(void) { return &g_ui; }

void MemCardUI_Setup(void)
{
    ReleaseSprites(&g_ui);
    g_ui.titleSize = 0.7f;
    g_ui.messageSize = 0.7f;
    g_ui.infoSize = 0.55f;
    memset(g_ui.colours, 0, sizeof g_ui.colours);
    ConfigNode* cfg = Config_Open("MemCard.cfg");
    if (!cfg) return;
    Config_SetSection(cfg, "MemCard");
    Config_GetFloat(cfg, "Text::TitleTextSize", &g_ui.titleSize);
    Config_GetFloat(cfg, "Text::MessageTextSize", &g_ui.messageSize);
    Config_GetFloat(cfg, "Text::InfoTextSize", &g_ui.infoSize);
    LoadSprites(&g_ui, cfg);
    Config_Close(cfg);
}

void MemCardUI_Shutdown(void) { ReleaseSprites(&g_ui); }

void MemCardUI_SetMode(uint32_t mode)
{
    if (mode >= MEMCARD_MODES) return;
    GameContext* ctx = Game_GetContext();
    if (mode == MEMCARD_MODE_AUTOSAVE) {
        g_ui.autosaveRequests++;
        if (!g_ui.autosaveEnabled) mode = MEMCARD_MODE_NONE;
    }
    if (mode == MEMCARD_MODE_LOAD || mode == MEMCARD_MODE_SAVE) ctx->controllingPlayer = ctx->lastInputPlayer;
    g_ui.mode = mode;
}

uint32_t MemCardUI_GetPendingMode(void) { return g_ui.mode; }

uint32_t MemCardUI_FindMode(const char* name)
{
    static const char* const kNames[MEMCARD_MODES] = {nullptr, "MemCardUIMode_Boot", "MemCardUIMode_Load",
                                                      "MemCardUIMode_Save", "MemCardUIMode_InGame"};
    if (!name) return MEMCARD_MODE_NONE;
    for (uint32_t m = 1; m < MEMCARD_MODES; m++)
        if (!strcmp(name, kNames[m])) return m;
    return MEMCARD_MODE_NONE;
}

GameState* MemCardUI_CreateState(void)
{
    if (g_ui.mode == MEMCARD_MODE_NONE) return nullptr;
    if (g_ui.state) return g_ui.state;
    GameState* state = State_Create();
    if (!state) return nullptr;
    state->enter = MemCardUI_StateInit;
    State_SetUpdate(state, MemCardUI_StateUpdate);
    State_SetRender(state, MemCardUI_StateRender);
    State_SetDestroy(state, MemCardUI_StateDestroy);
    g_ui.state = state;
    return state;
}

void MemCardUI_SetMessage(uint32_t group, uint32_t step, const char* title, const char* text, uint32_t buttons,
                          uint32_t kind, int remember)
{
    if (remember) {
        g_ui.message.selection = g_ui.selection;
        memmove(g_ui.history + 1, g_ui.history, sizeof(MemCardMessage) * (MEMCARD_HISTORY - 1));
        g_ui.history[0] = g_ui.message;
        g_ui.historyCount = std::min(g_ui.historyCount + 1, MEMCARD_HISTORY);
    }
    g_ui.message = MemCardMessage{group, step, title, text, buttons, kind, 0};
    g_ui.selection = kind == MEMCARD_KIND_QUESTION ? 1 : 0;
    g_ui.messageTime = 0.0f;
    g_ui.operationRan = 0;
}

int MemCardUI_PopMessage(void)
{
    if (g_ui.historyCount <= 0) return 0;
    g_ui.message = g_ui.history[0];
    g_ui.selection = g_ui.message.selection;
    memmove(g_ui.history, g_ui.history + 1, sizeof(MemCardMessage) * (MEMCARD_HISTORY - 1));
    g_ui.historyCount--;
    g_ui.messageTime = 0.0f;
    g_ui.operationRan = 0;
    return 1;
}

int32_t MemCardUI_MoveFileCursor(int32_t cursor, int direction)
{
    cursor = std::clamp(cursor, 0, SAVE_FILE_POSITIONS - 1);
    int column = cursor % 4;
    switch (direction) {
    case 0: return cursor >= 4 ? cursor - 4 : cursor;
    case 1: return cursor < 4 ? cursor + 4 : cursor;
    case 2: return column > 0 ? cursor - 1 : cursor;
    case 3: return column < 3 ? cursor + 1 : cursor;
    default: return cursor;
    }
}

void MemCardUI_StateInit(GameState*)
{
    g_runningMode = g_ui.mode;
    ForgetRoad(&g_ui);
    g_ui.message = MemCardMessage{};
    g_ui.selection = 0;
    g_ui.messageTime = 0.0f;
    g_ui.panelFade = 0.0f;
    g_ui.messageFade = 0.0f;
    g_ui.cursorLatched = 0;
    if (g_ui.mode < MEMCARD_MODES && kModes[g_ui.mode].enter) kModes[g_ui.mode].enter(&g_ui);
}

GameState* MemCardUI_StateUpdate(GameState* state, float dt)
{
    if (Game_GetWadProcess()) {
        g_ui.mode = MEMCARD_MODE_NONE;
        return nullptr;
    }
    dt = std::min(dt, MEMCARD_MAX_DT);
    g_ui.messageTime += dt;
    g_ui.resultTime += dt;
    g_ui.panelFade = Ease(g_ui.panelFade, MEMCARD_PANEL_FADE, 10.0f, dt);
    g_ui.messageFade = Ease(g_ui.messageFade, MEMCARD_MESSAGE_FADE, 5.0f, dt);
    if (g_ui.messageFade >= 0.792f) g_ui.messageFade = MEMCARD_MESSAGE_FADE;
    if (PlayerInput_AnyPressed(PLAYER_INPUT_ANY)) g_ui.messageFade = MEMCARD_MESSAGE_FADE;
    if (g_ui.messageFade == MEMCARD_MESSAGE_FADE && g_ui.mode != MEMCARD_MODE_NONE) {
        MoveCursor(&g_ui);
        if (!MemCardUI_HandleConfirm(&g_ui)) kModes[g_ui.mode].update(&g_ui);
    }
    return g_ui.mode != MEMCARD_MODE_NONE ? state : nullptr;
}

void MemCardUI_StateDestroy(GameState*)
{
    if (g_runningMode < MEMCARD_MODES && kModes[g_runningMode].exit) kModes[g_runningMode].exit(&g_ui);
    g_runningMode = MEMCARD_MODE_NONE;
    g_ui.state = nullptr;
    g_ui.mode = MEMCARD_MODE_NONE;
    Game_GetContext()->controllingPlayer = GAME_ANY_PLAYER;
}

uint32_t MemCardUITest_GetAutosaveRequests(void) { return g_ui.autosaveRequests; }

void MemCardUITest_Reset(void)
{
    g_ui.mode = MEMCARD_MODE_NONE;
    g_ui.state = nullptr;
    g_ui.historyCount = 0;
    g_ui.message = MemCardMessage{};
    g_ui.selection = 0;
    g_ui.autosaveEnabled = 0;
    g_ui.autosaveLetter = 0;
    g_ui.autosaveFile = -1;
    g_ui.autosaveRequests = 0;
    g_runningMode = MEMCARD_MODE_NONE;
}

// ---- drawing ----

namespace {

constexpr uint8_t kAmber[3] = {255, 220, 0};

Font* CardFont(int index) { return Game_GetFont(index); }  // 0 JS_KartFont, 1..3 PC_Font01..03

void DrawSprite(Sprite* sprite, float x, float y, float w, float h, float r, float g, float b, float a)
{
    if (!sprite) return;
    const float rect[4] = {x, y, w, h};
    Sprite_SetColour(sprite, r, g, b, a);
    Sprite_DrawSimple(sprite, rect);
}

// A colour sprite stretched over the rectangle, its alpha times `fade`.
void DrawColour(const MemCardUI* ui, int colour, float x, float y, float w, float h, float fade)
{
    const uint8_t* c = ui->colours[colour];
    DrawSprite(ui->colourSprites[colour], x, y, w, h, c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f,
               c[3] / 255.0f * fade);
}

float TextAlpha(const MemCardUI* ui) { return ui->messageFade + 0.2f; }

void DrawQuestion(const MemCardUI* ui)
{
    Font* font = CardFont(0);
    const char* keys[2] = {"LS_YES", "LS_NO"};
    const float centres[2] = {260.0f, 380.0f};
    float pulse = 1.0f + 0.23076925f * std::sin(6.0f * State_GetClock());
    for (int i = 0; i < 2; i++) {
        char text[TEXT_BUFFER_SIZE];
        Text_Get(keys[i], 0, text, sizeof text);
        ScreenText_Set(font, ui->selection == i ? pulse : 0.6f, kAmber[0], kAmber[1], kAmber[2], TextAlpha(ui));
        ScreenText_DrawCentred(font, centres[i], 345.0f + ScreenText_Height(font) * 0.5f, text);
    }
}

// The icon of slot position n: icon n + 1, or the nearest lower one loaded.
Sprite* SlotIcon(const MemCardUI* ui, int n)
{
    for (int i = std::min(n, MEMCARD_SLOT_ICONS - 1); i >= 0; i--)
        if (ui->slotIcons[i]) return ui->slotIcons[i];
    return nullptr;
}

void DrawSlots(const MemCardUI* ui)
{
    for (int r = 0; r < 2; r++) {
        DrawColour(ui, MEMCARD_OVERLAY2, 84.0f, 161.0f + 80.0f * r, 472.0f, 83.0f, 1.0f);
        for (int k = 0; k < 4; k++) {
            int n = 4 * r + k;
            float x = 140.0f + 100.0f * k, y = 170.0f + 80.0f * r;
            if (n == ui->selection) DrawSprite(SlotIcon(ui, n), x - 8, y - 8, 81, 81, 1, 1, 1, 1);
            else DrawSprite(SlotIcon(ui, n), x, y, 65, 65, 1, 1, 1, 0.5f);
        }
    }
    if (ui->selection < 0 || ui->selection >= ui->letterCount) return;
    char name[TEXT_BUFFER_SIZE], line[TEXT_BUFFER_SIZE + 16];
    Save_GetCardName(ui->letters[ui->selection], name, sizeof name);
    Font* font = CardFont(1);
    ScreenText_Set(font, 0.6f, kAmber[0], kAmber[1], kAmber[2], TextAlpha(ui));
    snprintf(line, sizeof line, "%s 0", name);
    float x = 320.0f - ScreenText_Width(font, line) * 0.5f;
    snprintf(line, sizeof line, "%s %d", name, ui->selection + 1);
    ScreenText_Draw(font, x, 350.0f + ScreenText_Height(font), line);
}

void DrawFiles(const MemCardUI* ui)
{
    DrawColour(ui, MEMCARD_OVERLAY2, 145, 145, 350, 155, 1.0f);
    DrawColour(ui, MEMCARD_OVERLAY3, 90, 310, 450, 60, 1.0f);
    Sprite* icon = ui->images[MEMCARD_FILE_ICON];
    for (int p = 0; p < SAVE_FILE_POSITIONS; p++) {
        float x = 180.0f + 75.0f * (p % 4), y = 160.0f + 70.0f * (p / 4);
        bool save = ui->hasSave[p] != 0;
        if (p == ui->selection)
            DrawSprite(icon, x - 8, y - 8, 71, 71, save ? 1.0f : 0.8f, save ? 1.0f : 0.8f, save ? 1.0f : 0.8f,
                       save ? 1.0f : 0.6f);
        else
            DrawSprite(icon, x, y, 55, 55, save ? 0.9f : 0.75f, save ? 0.9f : 0.75f, save ? 0.9f : 0.75f,
                       save ? 0.9f : 0.5f);
    }
    if (ui->selection < 0 || ui->selection >= SAVE_FILE_POSITIONS || !ui->hasSave[ui->selection]) return;
    const uint8_t* header = ui->headers[ui->selection];
    Font* font = CardFont(1);
    ScreenText_Set(font, 0.5f, kAmber[0], kAmber[1], kAmber[2], 1.0f);
    float y = 331.0f + ScreenText_Height(font);
    char label[TEXT_BUFFER_SIZE], line[TEXT_BUFFER_SIZE + 16], date[SAVE_DATE_SIZE];
    Text_Get("LS_MEMCARD_FILEINFO4", 0, label, sizeof label);
    snprintf(line, sizeof line, "%s - %u", label, Save_GetHeaderCompleted(header));
    ScreenText_Draw(font, 100.0f, y, line);
    Save_GetHeaderDate(header, date);
    ScreenText_Draw(font, 540.0f - ScreenText_Width(font, date), y, date);
}

void DrawCheck(const MemCardUI* ui)
{
    DrawSprite(ui->images[MEMCARD_PROGRESS_BACK], 100, 270, 440, 35, 1, 1, 1, 1);
    float count = (float)std::clamp(ui->selection, 0, SAVE_FILE_POSITIONS);
    DrawSprite(ui->images[MEMCARD_PROGRESS_BAR], 112, 287, 416.0f * count / SAVE_FILE_POSITIONS, 7, 1, 1, 1, 1);
}

void MemCardUI_DrawPanel(const MemCardUI* ui)
{
    switch (ui->message.kind) {
    case MEMCARD_KIND_QUESTION: DrawQuestion(ui); break;
    case MEMCARD_KIND_SLOTS: DrawSlots(ui); break;
    case MEMCARD_KIND_FILES: DrawFiles(ui); break;
    case MEMCARD_KIND_CHECK: DrawCheck(ui); break;
    default: break;
    }
}

void MemCardUI_DrawMessage(const MemCardUI* ui)
{
    char text[TEXT_BUFFER_SIZE];
    if (ui->message.title) {
        Font* title = CardFont(0);
        ScreenText_Set(title, ui->titleSize, 255, 255, 255, TextAlpha(ui));
        ScreenText_DrawCentred(title, 320.0f, 90.0f, Text_Get(ui->message.title, 0, text, sizeof text));
    }
    Font* font = CardFont(1);
    if (ui->message.text && font) {
        ScreenText_Set(font, ui->messageSize, 255, 255, 255, TextAlpha(ui));
        Text_Get(ui->message.text, 0, text, sizeof text);
        Font_PrintfBox(font, 87.5f, 115.0f + ScreenText_Height(font), 465.0f, 200.0f, 0, "%s", text);
    }
    if (g_runningMode < MEMCARD_MODES && kModes[g_runningMode].drawMessage) kModes[g_runningMode].drawMessage(ui);
}

void DrawInfoLine(const MemCardUI* ui)
{
    if (!ui->message.buttons) return;
    static const int kCycle[4] = {1, 2, 3, 2};  // PC_Font01, 02, 03, 02
    Font* font = CardFont(kCycle[(int)(State_GetClock() * 10.0f) % 4]);
    char key[32], text[TEXT_BUFFER_SIZE];
    snprintf(key, sizeof key, "LS_INFOTEXT_INFO%.2u", ui->message.buttons);
    Text_Get(key, 0, text, sizeof text);
    // A line wider than the panel's inside (84..556) is drawn smaller to fit.
    ScreenText_Set(font, 0.55f, 255, 255, 255, TextAlpha(ui));
    const float width = ScreenText_Width(font, text);
    if (width > 472.0f) ScreenText_Set(font, 0.55f * 472.0f / width, 255, 255, 255, TextAlpha(ui));
    ScreenText_Draw(font, 84.0f, 399.0f + ScreenText_Height(font) * 0.5f, text);
}

void ReleaseSprites(MemCardUI* ui)
{
    for (Sprite*& s : ui->colourSprites) {
        Sprite_Release(s);
        s = nullptr;
    }
    for (Sprite*& s : ui->images) {
        Sprite_Release(s);
        s = nullptr;
    }
    // Missing icons share the one loaded before them: each sprite once.
    for (int i = 0; i < MEMCARD_SLOT_ICONS; i++)
        if (i == 0 || ui->slotIcons[i] != ui->slotIcons[i - 1]) Sprite_Release(ui->slotIcons[i]);
    memset(ui->slotIcons, 0, sizeof ui->slotIcons);
}

Sprite* LoadImage(ConfigNode* cfg, const char* key)
{
    char name[CONFIG_TEXT_MAX];
    if (!Config_GetString(cfg, Config_Key("Images", key, nullptr), name, sizeof name) || !name[0]) return nullptr;
    return Sprite_Load(name, 0);
}

void LoadSprites(MemCardUI* ui, ConfigNode* cfg)
{
    static const char* const kColours[MEMCARD_COLOURS] = {"Overlay1", "Overlay2", "Overlay3", "SpaceFull", "SpaceFree"};
    for (int c = 0; c < MEMCARD_COLOURS; c++) {
        float rgba[4];
        if (!Config_GetColour4(cfg, Config_Key("Colours", kColours[c], nullptr), &rgba[0], &rgba[1], &rgba[2],
                               &rgba[3]))
            continue;
        for (int i = 0; i < 4; i++) ui->colours[c][i] = (uint8_t)(std::clamp(rgba[i], 0.0f, 1.0f) * 255.0f + 0.5f);
        uint32_t packed = Colour_Pack(ui->colours[c][3], ui->colours[c][0], ui->colours[c][1], ui->colours[c][2]);
        ui->colourSprites[c] = Sprite_CreateBlank(&packed, 1, 1);
    }
    static const char* const kImages[MEMCARD_IMAGES] = {"Panel", "FileIcon", "ProgressBack", "ProgressBar"};
    for (int i = 0; i < MEMCARD_IMAGES; i++) ui->images[i] = LoadImage(cfg, kImages[i]);
    // The data-packing run touches the other platforms' icons first; the last
    // that loads wins.
    static const char* const kPlatforms[3] = {"PS2", "XBOX", "PC"};
    Sprite* last = nullptr;
    for (int n = 0; n < MEMCARD_SLOT_ICONS; n++) {
        Sprite* icon = nullptr;
        for (int p = Game_GetWadProcess() ? 0 : 2; p < 3; p++) {
            char key[32];
            snprintf(key, sizeof key, "FileIcon%s%d", kPlatforms[p], n + 1);
            if (Sprite* loaded = LoadImage(cfg, key)) {
                Sprite_Release(icon);
                icon = loaded;
            }
        }
        if (icon) last = icon;
        ui->slotIcons[n] = icon ? icon : last;
    }
}

}  // namespace

void MemCardUI_StateRender(GameState* state)
{
    MemCardUI* ui = &g_ui;
    State_RenderPrevious(state);
    if (ui->mode != MEMCARD_MODE_AUTOSAVE) DrawColour(ui, MEMCARD_OVERLAY1, 0, 0, 640, 480, ui->panelFade);
    DrawSprite(ui->images[MEMCARD_PANEL], 64, 48, 512, 384, 1, 1, 1, ui->messageFade);
    DrawColour(ui, MEMCARD_OVERLAY2, 84, 100, 472, 2, 1.0f);
    DrawSprite(Game_GetContext()->spriteSlot, 64, 375, 512, 48, 1, 1, 1, 1);
    DrawInfoLine(ui);
    MemCardUI_DrawPanel(ui);
    MemCardUI_DrawMessage(ui);
    if (g_runningMode < MEMCARD_MODES && kModes[g_runningMode].draw) kModes[g_runningMode].draw(ui);
}
