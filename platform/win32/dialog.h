// Dialog boxes of the Win32 stand-in. A dialog is a window record with one
// child record per control, built from a template that the program
// registers under its resource id (what a resource script compiles into
// the executable). The program's own dialog procedure runs on it with the
// messages it would get on Windows: WM_INITDIALOG, then WM_COMMAND for each
// thing the user does, until it calls Dialog_End.
//
// Who plays the user:
//   - a script set by Dialog_SetScript (tests), command by command;
//   - else, when standard input is a terminal, the user at a numbered text
//     menu printed on standard output;
//   - else nobody: the default push button is pressed at once, so the
//     dialog answers with the defaults its procedure set up.
// A command is a control's number in the menu ("3"), followed by an item
// number for a list ("2 4"). A script that runs out, and the end of input
// at the terminal, press the default push button.
// Main thread only.
#pragma once

#include <cstdint>

#include "platform/win32/window.h"

enum DialogControlKind : int32_t {
    DIALOG_COMBOBOX,    // drop-down list
    DIALOG_CHECKBOX,    // check box that ticks itself when clicked
    DIALOG_RADIO,       // radio button; the dialog's radio buttons form one group
    DIALOG_BUTTON,      // push button
    DIALOG_DEFBUTTON,   // the default push button
    DIALOG_GROUPBOX,    // static: a frame with a heading
    DIALOG_LABEL,       // static text
    DIALOG_PICTURE,     // static bitmap
};

struct DialogControlTemplate {
    int32_t id;  // -1 for static controls without an id
    DialogControlKind kind;
    const char* text;
};

struct DialogTemplate {
    const char* title;
    const char* font;
    int32_t pointSize;
    int32_t width, height;  // dialog units
    const DialogControlTemplate* controls;
    int32_t controlCount;
};

// Control messages (the Win32 numbering) and their answers.
enum : uint32_t {
    BM_GETCHECK = 0xF0,
    BM_SETCHECK = 0xF1,
    CB_ADDSTRING = 0x143,     // lParam the text; returns the new item's index
    CB_RESETCONTENT = 0x14B,
    CB_GETCOUNT = 0x146,
    CB_GETCURSEL = 0x147,     // -1 without a selection
    CB_GETLBTEXT = 0x148,     // wParam the index, lParam a buffer of 256 bytes
    CB_SETCURSEL = 0x14E,     // wParam the index (-1 clears); returns it or -1
    CB_GETITEMDATA = 0x150,
    CB_SETITEMDATA = 0x151,
    CBN_SELCHANGE = 1,        // WM_COMMAND notifications
    BN_CLICKED = 0,
    DIALOG_IDOK = 1,
};
constexpr intptr_t CB_ERR = -1;

// WM_COMMAND's wParam for a control id and a notification.
inline uintptr_t Dialog_CommandParam(int32_t id, uint32_t notification)
{
    return (uintptr_t)(((notification & 0xFFFF) << 16) | ((uint32_t)id & 0xFFFF));
}

// Registers the template of a resource id (the pointer is kept). 0 for a
// null template.
int32_t Dialog_RegisterTemplate(int32_t resourceId, const DialogTemplate* dialogTemplate);

// Builds the dialog of a template and sends WM_INITDIALOG(first control,
// param) to the procedure. Null for an unknown resource or a null
// procedure. The caller destroys it with Window_Destroy.
Window* Dialog_Create(void* instance, int32_t resourceId, Window* owner, WindowProc procedure, intptr_t param);
// The modal dialog: Dialog_Create, the user (see above) until the
// procedure calls Dialog_End, then the dialog is destroyed. The value given
// to Dialog_End, or -1 when the dialog can't be made.
intptr_t Dialog_Box(void* instance, int32_t resourceId, Window* owner, WindowProc procedure, intptr_t param);
// Ends a modal dialog with a result; 0 for a window that is not a dialog.
int32_t Dialog_End(Window* dialog, intptr_t result);
// The control with that id, or null.
Window* Dialog_GetItem(Window* dialog, int32_t id);
intptr_t Dialog_SendItemMessage(Window* dialog, int32_t id, uint32_t message, uintptr_t wParam, intptr_t lParam);
int32_t Dialog_CheckButton(Window* dialog, int32_t id, uint32_t check);
uint32_t Dialog_IsButtonChecked(Window* dialog, int32_t id);
// Gives a control the keyboard focus; returns the control that had it.
Window* Window_SetFocus(Window* window);
// The dialog's focused control (null when none was set).
Window* Dialog_GetFocus(Window* dialog);
// Carries out one command as the user would (see above). 1 when it named a
// control that took it, 0 otherwise (nothing happened).
int32_t Dialog_Command(Window* dialog, const char* command);

// Test hook: the commands that play the user of the next dialogs, in order
// (copied); null or 0 commands clears the script.
void Dialog_SetScript(const char* const* commands, int32_t count);
// Templates and the script forgotten.
void Dialog_ResetAll();
