#include "platform/win32/dialog.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/message.h"
#include "platform/win32/window_internal.h"

namespace {

// What a control holds beside its window record.
struct ControlRecord {
    DialogControlKind kind;
    std::vector<std::string> items;  // lists
    std::vector<intptr_t> itemData;
    int32_t selection = -1;
    uint32_t check = 0;              // buttons
};

struct DialogRecord {
    const DialogTemplate* dialogTemplate;
    Window* owner;
    Window* focus = nullptr;
    bool ended = false;
    intptr_t result = 0;
};

struct DialogModule {
    std::map<int32_t, const DialogTemplate*> templates;
    std::deque<std::string> script;
};

DialogModule& M()
{
    static DialogModule m;
    return m;
}

void FreeControl(void* extra) { delete (ControlRecord*)extra; }
void FreeDialog(void* extra) { delete (DialogRecord*)extra; }

ControlRecord* ControlOf(Window* window)
{
    return Window_IsLive(window) && window->freeExtra == FreeControl ? (ControlRecord*)window->extra : nullptr;
}

DialogRecord* DialogOf(Window* window)
{
    return Window_IsLive(window) && window->freeExtra == FreeDialog ? (DialogRecord*)window->extra : nullptr;
}

intptr_t ControlProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    ControlRecord* c = ControlOf(window);
    if (!c) return 0;
    int32_t count = (int32_t)c->items.size();
    int32_t index = (int32_t)wParam;
    switch (message) {
        case CB_ADDSTRING:
            c->items.push_back(lParam ? (const char*)lParam : "");
            c->itemData.push_back(0);
            return count;
        case CB_RESETCONTENT:
            c->items.clear();
            c->itemData.clear();
            c->selection = -1;
            return 0;
        case CB_GETCOUNT: return count;
        case CB_GETCURSEL: return c->selection;
        case CB_SETCURSEL:
            c->selection = index >= 0 && index < count ? index : -1;
            return c->selection;
        case CB_GETLBTEXT:
            if (index < 0 || index >= count || !lParam) return CB_ERR;
            snprintf((char*)lParam, 256, "%s", c->items[(size_t)index].c_str());
            return (intptr_t)strlen((char*)lParam);
        case CB_GETITEMDATA: return index >= 0 && index < count ? c->itemData[(size_t)index] : CB_ERR;
        case CB_SETITEMDATA:
            if (index < 0 || index >= count) return CB_ERR;
            c->itemData[(size_t)index] = lParam;
            return 1;
        case BM_GETCHECK: return c->check;
        case BM_SETCHECK: c->check = (uint32_t)wParam; return 0;
        default: return 0;
    }
}

const char* ClassFor(DialogControlKind kind)
{
    switch (kind) {
        case DIALOG_COMBOBOX: return "COMBOBOX";
        case DIALOG_CHECKBOX:
        case DIALOG_RADIO:
        case DIALOG_BUTTON:
        case DIALOG_DEFBUTTON:
        case DIALOG_GROUPBOX: return "BUTTON";
        default: return "STATIC";
    }
}

bool Interactive(DialogControlKind kind) { return kind <= DIALOG_DEFBUTTON; }

// The controls of a dialog in template order.
std::vector<Window*> Controls(Window* dialog)
{
    std::vector<Window*> out;
    for (Window* w : Window_LiveList())
        if (w->parent == dialog && ControlOf(w)) out.push_back(w);
    return out;
}

std::vector<Window*> InteractiveControls(Window* dialog)
{
    std::vector<Window*> out;
    for (Window* w : Controls(dialog))
        if (Interactive(ControlOf(w)->kind)) out.push_back(w);
    return out;
}

// The text without its mnemonic marks ("E&xit" reads "Exit").
std::string Plain(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '&' && i + 1 < text.size() && text[i + 1] != '&') continue;
        out += text[i];
    }
    return out;
}

void SendCommand(Window* dialog, Window* control, uint32_t notification)
{
    Message_Send(dialog, WM_COMMAND, Dialog_CommandParam(control->controlId, notification), (intptr_t)control);
}

void PrintMenu(Window* dialog)
{
    printf("\n%s\n", dialog->title.c_str());
    int number = 0;
    for (Window* w : Controls(dialog)) {
        ControlRecord* c = ControlOf(w);
        std::string text = Plain(w->title);
        const char* disabled = w->enabled ? "" : "  (disabled)";
        switch (c->kind) {
            case DIALOG_GROUPBOX:
            case DIALOG_LABEL: printf("  %s\n", text.c_str()); break;
            case DIALOG_PICTURE: break;
            case DIALOG_COMBOBOX:
                printf("  %2d) list%s:\n", ++number, disabled);
                for (size_t i = 0; i < c->items.size(); i++)
                    printf("        %c %2zu: %s\n", (int32_t)i == c->selection ? '*' : ' ', i, c->items[i].c_str());
                break;
            case DIALOG_CHECKBOX: printf("  %2d) [%c] %s%s\n", ++number, c->check ? 'x' : ' ', text.c_str(), disabled); break;
            case DIALOG_RADIO: printf("  %2d) (%c) %s%s\n", ++number, c->check ? '*' : ' ', text.c_str(), disabled); break;
            case DIALOG_BUTTON:
            case DIALOG_DEFBUTTON:
                printf("  %2d) <%s>%s%s\n", ++number, text.c_str(), c->kind == DIALOG_DEFBUTTON ? " (default)" : "",
                       disabled);
                break;
        }
    }
    printf("A number (for a list, the number and an item number): ");
    fflush(stdout);
}

// The next thing the user does, or "" for "press the default button".
std::string NextCommand(Window* dialog)
{
    DialogModule& m = M();
    if (!m.script.empty()) {
        std::string command = m.script.front();
        m.script.pop_front();
        return command;
    }
    if (!isatty(STDIN_FILENO)) return "";
    PrintMenu(dialog);
    char line[256];
    if (!fgets(line, sizeof line, stdin)) return "";
    return line;
}

void PressDefault(Window* dialog)
{
    for (Window* w : InteractiveControls(dialog)) {
        if (ControlOf(w)->kind == DIALOG_DEFBUTTON) {
            SendCommand(dialog, w, BN_CLICKED);
            return;
        }
    }
    Dialog_End(dialog, DIALOG_IDOK);  // no default button: as if Enter ended it
}

}  // namespace

int32_t Dialog_RegisterTemplate(int32_t resourceId, const DialogTemplate* dialogTemplate)
{
    if (!dialogTemplate) return 0;
    M().templates[resourceId] = dialogTemplate;
    return 1;
}

Window* Dialog_Create(void*, int32_t resourceId, Window* owner, WindowProc procedure, intptr_t param)
{
    auto it = M().templates.find(resourceId);
    if (it == M().templates.end() || !procedure) return nullptr;
    const DialogTemplate* t = it->second;
    Window* dialog = Window_CreateRecord("#32770", t->title, WINDOW_STYLE_POPUP | WINDOW_STYLE_CAPTION, procedure, nullptr);
    dialog->extra = new DialogRecord{t, owner};
    dialog->freeExtra = FreeDialog;
    Window* first = nullptr;
    for (int32_t i = 0; i < t->controlCount; i++) {
        const DialogControlTemplate& ct = t->controls[i];
        Window* control = Window_CreateRecord(ClassFor(ct.kind), ct.text, WINDOW_STYLE_CHILD | WINDOW_STYLE_VISIBLE,
                                              ControlProc, dialog);
        control->controlId = ct.id;
        ControlRecord* record = new ControlRecord;
        record->kind = ct.kind;
        control->extra = record;
        control->freeExtra = FreeControl;
        if (!first && Interactive(ct.kind)) first = control;
    }
    procedure(dialog, WM_INITDIALOG, (uintptr_t)first, param);
    return dialog;
}

intptr_t Dialog_Box(void* instance, int32_t resourceId, Window* owner, WindowProc procedure, intptr_t param)
{
    Window* dialog = Dialog_Create(instance, resourceId, owner, procedure, param);
    if (!dialog) return -1;
    while (DialogOf(dialog) && !DialogOf(dialog)->ended) {
        std::string command = NextCommand(dialog);
        if (command.find_first_not_of(" \t\r\n") == std::string::npos)
            PressDefault(dialog);
        else if (!Dialog_Command(dialog, command.c_str()) && isatty(STDOUT_FILENO))
            printf("Nothing to do for \"%s\"\n", command.c_str());
    }
    intptr_t result = DialogOf(dialog) ? DialogOf(dialog)->result : 0;
    Window_Destroy(dialog);
    return result;
}

int32_t Dialog_End(Window* dialog, intptr_t result)
{
    DialogRecord* d = DialogOf(dialog);
    if (!d) return 0;
    d->ended = true;
    d->result = result;
    return 1;
}

Window* Dialog_GetItem(Window* dialog, int32_t id)
{
    if (!DialogOf(dialog)) return nullptr;
    for (Window* w : Controls(dialog))
        if (w->controlId == id) return w;
    return nullptr;
}

intptr_t Dialog_SendItemMessage(Window* dialog, int32_t id, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    return Message_Send(Dialog_GetItem(dialog, id), message, wParam, lParam);
}

int32_t Dialog_CheckButton(Window* dialog, int32_t id, uint32_t check)
{
    Window* item = Dialog_GetItem(dialog, id);
    if (!item) return 0;
    Message_Send(item, BM_SETCHECK, check, 0);
    return 1;
}

uint32_t Dialog_IsButtonChecked(Window* dialog, int32_t id)
{
    return (uint32_t)Dialog_SendItemMessage(dialog, id, BM_GETCHECK, 0, 0);
}

Window* Window_SetFocus(Window* window)
{
    if (!Window_IsLive(window)) return nullptr;
    DialogRecord* d = DialogOf(window->parent);
    if (!d) return nullptr;
    Window* previous = d->focus;
    d->focus = window;
    return previous;
}

Window* Dialog_GetFocus(Window* dialog)
{
    DialogRecord* d = DialogOf(dialog);
    return d && Window_IsLive(d->focus) ? d->focus : nullptr;
}

int32_t Dialog_Command(Window* dialog, const char* command)
{
    if (!DialogOf(dialog) || !command) return 0;
    char* end = nullptr;
    long number = strtol(command, &end, 10);
    std::vector<Window*> controls = InteractiveControls(dialog);
    if (end == command || number < 1 || number > (long)controls.size()) return 0;
    Window* control = controls[(size_t)number - 1];
    ControlRecord* c = ControlOf(control);
    if (!control->enabled) return 0;
    switch (c->kind) {
        case DIALOG_COMBOBOX: {
            char* itemEnd = nullptr;
            long item = strtol(end, &itemEnd, 10);
            if (itemEnd == end || item < 0 || item >= (long)c->items.size()) return 0;
            c->selection = (int32_t)item;
            SendCommand(dialog, control, CBN_SELCHANGE);
            return 1;
        }
        case DIALOG_CHECKBOX: c->check = !c->check; break;
        case DIALOG_RADIO:
            for (Window* w : controls)
                if (ControlOf(w)->kind == DIALOG_RADIO) ControlOf(w)->check = w == control;
            break;
        default: break;
    }
    SendCommand(dialog, control, BN_CLICKED);
    return 1;
}

void Dialog_SetScript(const char* const* commands, int32_t count)
{
    M().script.clear();
    for (int32_t i = 0; commands && i < count; i++) M().script.push_back(commands[i] ? commands[i] : "");
}

void Dialog_ResetAll()
{
    M().templates.clear();
    M().script.clear();
}
