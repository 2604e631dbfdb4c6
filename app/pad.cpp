#include "app/pad.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/input.h"
#include "app/shell.h"
#include "common/list.h"
#include "platform/win32/cursor.h"

namespace {

struct PadModule {
    List* pool;
    std::vector<Pad*> lists[3];  // per kind
    bool initialised;
    bool explicitLimit;
    uint32_t limit;
};

PadModule g_pads;

// The controller pad's action keys (user key indices): directions from the
// derived keys, then the buttons.
struct ActionKey {
    uint32_t action, key;
};
const ActionKey kControllerKeys[] = {{0, 45}, {1, 46}, {2, 48}, {3, 47}, {16, 1}, {17, 2}, {18, 3},
                                     {19, 4}, {20, 5}, {21, 7}, {22, 6}, {23, 8}, {24, 12}, {25, 11}};

float Scale(int32_t v, float positive, float negative) { return v > 0 ? v * positive : v * negative; }
float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

void FreePad(Pad* pad)
{
    if (pad->kind == PAD_CONTROLLER) ActionMap_Destroy(&pad->map);
    if (pad->kind == PAD_KEYBOARD) Input_FreeUser(pad->user);
    List_Free(g_pads.pool, pad);
}

void UpdateController(Pad* pad, float dt)
{
    ActionMap_Update(pad->map, dt);
    float* v = pad->values;
    for (uint32_t i = 0; i < PAD_ACTIONS; i++) {
        uint32_t key = ActionMap_GetKey(pad->map, i);
        v[i] = Input_GetKeyValue(pad->map->user, key == 0 ? INPUT_KEY_COUNT : key) * 0.003921569f;
    }
    if (pad->options & 1) memcpy(&v[0], &v[6], 4 * sizeof(float));
    uint8_t user = pad->map->user;
    v[4] = Scale(Input_GetKeyValue(user, 33), 1.0f / 127, 1.0f / 128);
    v[14] = Scale(Input_GetKeyValue(user, 35) - 32768, 1.0f / 32767, 1.0f / 32768);
    v[0] = Clamp01(-v[4]);
    v[1] = Clamp01(v[4]);
    v[5] = Scale(Input_GetKeyValue(user, 34), 1.0f / 127, 1.0f / 128);
    v[15] = Scale(Input_GetKeyValue(user, 38) - 32768, 1.0f / 32767, 1.0f / 32768);
    v[3] = Clamp01(-v[5]);
    v[2] = Clamp01(v[5]);
}

void UpdateKeyboard(Pad* pad)
{
    Input_PollDevice(pad->user);
    for (uint32_t k = 0; k < 238; k++) pad->values[k] = Input_IsKeyDown(pad->user, k) ? 1.0f : 0.0f;
}

void UpdateMouse(Pad* pad)
{
    CursorPoint p = {0, 0};
    Cursor_GetPos(&p);
    Window_ScreenToClient(App_GetWindow(), &p);
    pad->values[0] = (float)std::clamp(p.x, 0, App_GetScreenWidth());
    pad->values[1] = (float)std::clamp(p.y, 0, App_GetScreenHeight());
    pad->values[2] = App_GetLeftButton() ? 1.0f : 0.0f;
    pad->values[3] = App_GetRightButton() ? 1.0f : 0.0f;
}

Pad* TakePad(uint32_t kind)
{
    Pad* pad = (Pad*)List_Alloc(g_pads.pool);
    if (pad) pad->kind = kind;
    return pad;
}

}  // namespace

int Pad_Init(void)
{
    if (g_pads.initialised) return 1;
    g_pads.pool = List_Create(sizeof(Pad), 8);
    if (!g_pads.pool) return 0;
    Input_Create(Pad_GetJoystickLimit());
    for (uint32_t i = 0; i < PAD_MAX_CONTROLLERS; i++) {
        Pad* pad = TakePad(PAD_CONTROLLER);
        if (!pad) break;
        pad->map = ActionMap_Create(PAD_ACTIONS, INPUT_TYPE_CONTROLLER);
        if (!pad->map) {
            List_Free(g_pads.pool, pad);
            continue;
        }
        for (const ActionKey& a : kControllerKeys) ActionMap_SetKey(pad->map, a.action, a.key);
        g_pads.lists[PAD_CONTROLLER].push_back(pad);
    }
    if (Pad* keyboard = TakePad(PAD_KEYBOARD)) {
        keyboard->user = Input_AllocUser(INPUT_TYPE_KEYBOARD);
        if (keyboard->user == INPUT_NO_USER)
            List_Free(g_pads.pool, keyboard);
        else
            g_pads.lists[PAD_KEYBOARD].push_back(keyboard);
    }
    if (Pad* mouse = TakePad(PAD_MOUSE)) g_pads.lists[PAD_MOUSE].push_back(mouse);
    g_pads.initialised = true;
    return 1;
}

void Pad_Shutdown(void)
{
    for (std::vector<Pad*>& list : g_pads.lists) {
        for (Pad* pad : list) FreePad(pad);
        list.clear();
    }
    if (g_pads.pool) List_Destroy(g_pads.pool);
    g_pads.pool = nullptr;
    Input_Destroy();
    g_pads.initialised = false;
    g_pads.explicitLimit = false;
    g_pads.limit = 0;
}

void Pad_Update(float dt)
{
    for (std::vector<Pad*>& list : g_pads.lists) {
        for (Pad* pad : list) {
            memcpy(pad->previous, pad->values, sizeof pad->values);
            memset(pad->values, 0, sizeof pad->values);
        }
    }
    for (Pad* pad : g_pads.lists[PAD_CONTROLLER]) UpdateController(pad, dt);
    for (Pad* pad : g_pads.lists[PAD_KEYBOARD]) UpdateKeyboard(pad);
    for (Pad* pad : g_pads.lists[PAD_MOUSE]) UpdateMouse(pad);
}

uint32_t Pad_GetCount(uint32_t kind) { return kind < 3 ? (uint32_t)g_pads.lists[kind].size() : 0; }

Pad* Pad_Get(uint32_t kind, uint32_t index)
{
    if (kind >= 3 || index >= g_pads.lists[kind].size()) return nullptr;
    if (kind == PAD_CONTROLLER && g_pads.explicitLimit && g_pads.limit == 0) return nullptr;
    return g_pads.lists[kind][index];
}

uint32_t Pad_GetKind(const Pad* pad) { return pad ? pad->kind : PAD_NONE; }

float Pad_GetValue(const Pad* pad, uint32_t index) { return pad && index < PAD_VALUES ? pad->values[index] : 0.0f; }

int Pad_IsDown(const Pad* pad, uint32_t index) { return Pad_GetValue(pad, index) > 0.0f; }

int Pad_JustPressed(const Pad* pad, uint32_t index)
{
    return pad && index < PAD_VALUES && pad->values[index] > 0.0f && pad->previous[index] == 0.0f;
}

void Pad_SetJoysticksEnabled(uint32_t limit)
{
    g_pads.explicitLimit = true;
    g_pads.limit = limit;
    if (limit == 0) {
        for (Pad* pad : g_pads.lists[PAD_CONTROLLER]) FreePad(pad);
        g_pads.lists[PAD_CONTROLLER].clear();
    }
}

uint32_t Pad_GetJoystickLimit(void) { return g_pads.explicitLimit ? g_pads.limit : PAD_MAX_CONTROLLERS; }
