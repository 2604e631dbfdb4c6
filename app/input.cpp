#include "app/input.h"

#include <cstring>

#include "app/shell.h"
#include "common/memory.h"
#include "platform/dinput/dinput.h"

namespace {

struct DeviceSlot {
    IDirectInputDevice7* device;  // null: free slot
    uint32_t type;
    uint32_t users;               // users bound to it
    Guid instance;                // controllers: enumerated once each
};

struct InputModule {
    IDirectInput7* directInput;
    DeviceSlot slots[INPUT_MAX_DEVICES];
    InputDevice* users;
    uint32_t userCount;
    bool failed;  // a controller failed to set up during enumeration
};

InputModule g_input = {};

constexpr uint32_t kNoKey = 256;
constexpr uint32_t kMaxKeyboardUsers = 6;
constexpr int kFuncSlots = 20;
FuncSlotFn g_funcSlots[kFuncSlots];
int g_funcSlotCount = 0;

// The twelve built-in actions: Escape, right Control and the arrows, held
// and released.
const uint8_t kBuiltinKeys[6] = {DIK_ESCAPE, DIK_RCONTROL, DIK_UP, DIK_DOWN, DIK_LEFT, DIK_RIGHT};

InputDevice* User(uint8_t user)
{
    return g_input.users && user < g_input.userCount ? &g_input.users[user] : nullptr;
}

void ReleaseDevices()
{
    for (DeviceSlot& slot : g_input.slots) {
        if (slot.device) {
            slot.device->Unacquire();
            slot.device->Release();
        }
        slot = DeviceSlot{};
    }
    if (g_input.directInput) g_input.directInput->Release();
    g_input.directInput = nullptr;
    Mem_Free(g_input.users);
    g_input.users = nullptr;
    g_input.userCount = 0;
}

IDirectInputDevice7* OpenDevice(const Guid& guid, const DIDATAFORMAT* format)
{
    IDirectInputDevice7* device = nullptr;
    if (g_input.directInput->CreateDeviceEx(guid, IID_IDirectInputDevice7, (void**)&device, nullptr) < 0) return nullptr;
    if (device->SetDataFormat(format) < 0 ||
        device->SetCooperativeLevel(App_GetWindow(), DISCL_NONEXCLUSIVE | DISCL_FOREGROUND) < 0) {
        device->Release();
        return nullptr;
    }
    return device;
}

bool SetAxisProperty(IDirectInputDevice7* device, uint32_t offset)
{
    DIPROPRANGE range = {{sizeof range, sizeof(DIPROPHEADER), offset, DIPH_BYOFFSET}, -128, 127};
    DIPROPDWORD zone = {{sizeof zone, sizeof(DIPROPHEADER), offset, DIPH_BYOFFSET}, 2500};
    return device->SetProperty(DIPROP_RANGE, &range.header) >= 0 && device->SetProperty(DIPROP_DEADZONE, &zone.header) >= 0;
}

int32_t AddController(const DIDEVICEINSTANCE* instance, void*)
{
    int free = -1;
    for (int i = 2; i < (int)INPUT_MAX_DEVICES; i++) {
        DeviceSlot& slot = g_input.slots[i];
        // The force-feedback pass and the full pass both find a rumbling
        // controller: it gets one slot, the first.
        if (slot.device && Guid_Equal(slot.instance, instance->guidInstance)) return DIENUM_CONTINUE;
        if (!slot.device && free < 0) free = i;
    }
    if (free < 0) return DIENUM_STOP;
    IDirectInputDevice7* device = OpenDevice(instance->guidInstance, &c_dfDIJoystick);
    if (!device || !SetAxisProperty(device, DIJOFS_X) || !SetAxisProperty(device, DIJOFS_Y)) {
        if (device) device->Release();
        g_input.failed = true;
        return DIENUM_STOP;
    }
    device->Acquire();
    g_input.slots[free] = DeviceSlot{device, INPUT_TYPE_CONTROLLER, 0, instance->guidInstance};
    return DIENUM_CONTINUE;
}

// The button rule: down reads 1, the poll after a release -1, then 0.
void SetButton(int32_t* key, bool down)
{
    if (down)
        *key = 1;
    else
        *key = *key == 1 ? -1 : 0;
}

void DeriveDirections(InputDevice* u)
{
    SetButton(&u->keys[45], u->keys[33] < 0);
    SetButton(&u->keys[46], u->keys[33] > 0);
    SetButton(&u->keys[47], u->keys[34] < 0);
    SetButton(&u->keys[48], u->keys[34] > 0);
}

HResult ReadDevice(InputDevice* u)
{
    IDirectInputDevice7* device = u->device;
    switch (u->type) {
        case INPUT_TYPE_KEYBOARD: {
            uint8_t bytes[256];
            HResult r = device->GetDeviceState(sizeof bytes, bytes);
            if (r < 0) return r;
            for (int k = 0; k < 256; k++) SetButton(&u->keys[k], (bytes[k] & 0x80) != 0);
            return r;
        }
        case INPUT_TYPE_MOUSE: {
            DIMOUSESTATE2 state;
            HResult r = device->GetDeviceState(sizeof state, &state);
            if (r < 0) return r;
            for (int b = 0; b < 8; b++) SetButton(&u->keys[1 + b], (state.rgbButtons[b] & 0x80) != 0);
            u->keys[33] = state.lX;
            u->keys[34] = -state.lY;
            u->keys[35] = state.lZ;
            DeriveDirections(u);
            return r;
        }
        default: {
            HResult r = device->Poll();
            if (r < 0) return r;
            DIJOYSTATE state;
            r = device->GetDeviceState(sizeof state, &state);
            if (r < 0) return r;
            for (int b = 0; b < 32; b++) SetButton(&u->keys[1 + b], (state.rgbButtons[b] & 0x80) != 0);
            u->keys[33] = state.lX;
            u->keys[34] = -state.lY;
            u->keys[35] = state.lZ;
            u->keys[36] = state.lRx;
            u->keys[37] = -state.lRy;
            u->keys[38] = state.lRz;
            u->keys[39] = state.rglSlider[0];
            u->keys[40] = state.rglSlider[1];
            for (int p = 0; p < 4; p++) u->keys[41 + p] = state.rgdwPOV[p] == 0xFFFFFFFFu ? 0 : (int32_t)state.rgdwPOV[p];
            DeriveDirections(u);
            return r;
        }
    }
}

// The index of an action in the map, or -1.
int64_t Resolve(const ActionMap* map, uint32_t action)
{
    if (!map) return -1;
    if (action < map->actionCount) return action;
    if (action >= INPUT_VIRTUAL_ID && action < INPUT_VIRTUAL_ID + INPUT_BUILTIN_ACTIONS)
        return (int64_t)map->actionCount - INPUT_BUILTIN_ACTIONS + (action - INPUT_VIRTUAL_ID);
    return -1;
}

void UpdateAction(uint8_t user, InputAction* a, float dt)
{
    uint32_t key = a->key == 0 ? kNoKey : a->key;
    bool down = Input_IsKeyDown(user, key);
    if (a->repeatKind != REPEAT_NONE && a->timer != 0.0f) {
        bool hold = a->repeatKind == REPEAT_AFTER_RELEASE && down && a->timer >= a->repeatDelay;
        if (a->repeatKind == REPEAT_WHILE_DOWN && !down)
            a->timer = 0.0f;
        else if (!hold)
            a->timer = a->timer >= dt ? a->timer - dt : 0.0f;
        // Float residue of the subtractions (0.5 - 50 x 0.01 is not exactly
        // 0 in single precision) would cost the repeat a whole frame.
        if (a->timer < 1e-6f) a->timer = 0.0f;
    }
    if (a->state == ACTION_TRIGGERED) {
        a->state = a->afterTrigger ? ACTION_HELD : ACTION_IDLE;
        a->timer = a->repeatDelay;
    } else if (a->state == ACTION_HELD && !down) {
        a->state = ACTION_IDLE;
    }
    if (a->timer == 0.0f && a->state == ACTION_IDLE) {
        bool fire = (a->trigger == TRIGGER_KEY_DOWN && down) ||
                    (a->trigger == TRIGGER_RELEASED && Input_WasReleased(user, key)) || a->trigger == TRIGGER_ALWAYS;
        if (fire) a->state = ACTION_TRIGGERED;
    }
    if (a->callback) a->callback(a);
}

}  // namespace

int Input_Create(uint32_t userCount)
{
    if (g_input.directInput) return 1;
    g_input.users = (InputDevice*)Mem_Calloc(sizeof(InputDevice) * (userCount ? userCount : 1), 8);
    g_input.userCount = g_input.users ? userCount : 0;
    g_input.failed = false;
    if (!g_input.users || DirectInputCreateEx(App_GetInstance(), DIRECTINPUT_VERSION_7, IID_IDirectInput7,
                                              (void**)&g_input.directInput, nullptr) < 0) {
        ReleaseDevices();
        return 0;
    }
    IDirectInputDevice7* keyboard = OpenDevice(GUID_SysKeyboard, &c_dfDIKeyboard);
    IDirectInputDevice7* mouse = keyboard ? OpenDevice(GUID_SysMouse, &c_dfDIMouse2) : nullptr;
    DIPROPDWORD buffer = {{sizeof buffer, sizeof(DIPROPHEADER), 0, DIPH_DEVICE}, 16};
    if (!mouse || mouse->SetProperty(DIPROP_BUFFERSIZE, &buffer.header) < 0) {
        if (keyboard) keyboard->Release();
        if (mouse) mouse->Release();
        ReleaseDevices();
        return 0;
    }
    // An inactive window refuses the acquisition; the first poll retries.
    keyboard->Acquire();
    mouse->Acquire();
    g_input.slots[0] = DeviceSlot{keyboard, INPUT_TYPE_KEYBOARD, 0, GUID_SysKeyboard};
    g_input.slots[1] = DeviceSlot{mouse, INPUT_TYPE_MOUSE, 0, GUID_SysMouse};
    g_input.directInput->EnumDevices(DIDEVTYPE_JOYSTICK, AddController, nullptr,
                                     DIEDFL_ATTACHEDONLY | DIEDFL_FORCEFEEDBACK);
    if (!g_input.failed)
        g_input.directInput->EnumDevices(DIDEVTYPE_JOYSTICK, AddController, nullptr, DIEDFL_ATTACHEDONLY);
    if (g_input.failed) {
        ReleaseDevices();
        return 0;
    }
    return 1;
}

void Input_Destroy(void) { ReleaseDevices(); }

int Input_BindUser(uint8_t user, uint32_t type)
{
    InputDevice* u = User(user);
    if (!u || type >= 5 || (type != INPUT_TYPE_NONE && u->type == type)) return 0;
    int slot = -1;
    if (type == INPUT_TYPE_KEYBOARD && g_input.slots[0].device && g_input.slots[0].users < kMaxKeyboardUsers) slot = 0;
    if (type == INPUT_TYPE_MOUSE && g_input.slots[1].device && g_input.slots[1].users == 0) slot = 1;
    if (type == INPUT_TYPE_CONTROLLER) {
        for (int i = 2; i < (int)INPUT_MAX_DEVICES && slot < 0; i++)
            if (g_input.slots[i].device && g_input.slots[i].type == type && g_input.slots[i].users == 0) slot = i;
    }
    if (type != INPUT_TYPE_NONE && slot < 0) return 0;
    if (u->type != INPUT_TYPE_NONE && g_input.slots[u->slot].users > 0) g_input.slots[u->slot].users--;
    u->type = type;
    u->device = nullptr;
    u->slot = 0;
    if (type == INPUT_TYPE_NONE) return 1;
    g_input.slots[slot].users++;
    u->slot = (uint8_t)slot;
    u->device = g_input.slots[slot].device;
    return 1;
}

uint8_t Input_AllocUser(uint32_t type)
{
    for (uint32_t i = 0; i < g_input.userCount; i++) {
        InputDevice* u = &g_input.users[i];
        if (u->flags & INPUT_USER_IN_USE) continue;
        memset(u, 0, sizeof *u);
        if (!Input_BindUser((uint8_t)i, type)) return INPUT_NO_USER;
        u->flags = INPUT_USER_IN_USE;
        return (uint8_t)i;
    }
    return INPUT_NO_USER;
}

void Input_FreeUser(uint8_t user)
{
    InputDevice* u = User(user);
    if (!u || !(u->flags & INPUT_USER_IN_USE)) return;
    Input_BindUser(user, INPUT_TYPE_NONE);
    memset(u, 0, sizeof *u);
}

int Input_PollDevice(uint8_t user)
{
    InputDevice* u = User(user);
    if (!u || !(u->flags & INPUT_USER_IN_USE) || !u->device) return 0;
    u->flags &= ~INPUT_USER_POLLED;
    HResult r = ReadDevice(u);
    if (r == DIERR_INPUTLOST || r == DIERR_NOTACQUIRED) {
        u->device->Acquire();
        u->flags &= ~INPUT_USER_ACQUIRED;
        return 0;
    }
    if (r < 0) return 0;
    u->flags |= INPUT_USER_POLLED | INPUT_USER_ACQUIRED;
    return 1;
}

void Input_SetActive(int active)
{
    for (DeviceSlot& slot : g_input.slots) {
        if (!slot.device) continue;
        if (active)
            slot.device->Acquire();
        else
            slot.device->Unacquire();
    }
}

int32_t Input_GetKeyValue(uint8_t user, uint32_t key)
{
    InputDevice* u = User(user);
    return u && key < INPUT_KEY_COUNT ? u->keys[key] : 0;
}

int Input_IsKeyDown(uint8_t user, uint32_t key)
{
    InputDevice* u = User(user);
    return u && key < INPUT_KEY_COUNT && (u->flags & INPUT_USER_POLLED) && u->keys[key] == 1;
}

int Input_IsKeyUp(uint8_t user, uint32_t key) { return key < INPUT_KEY_COUNT && !Input_IsKeyDown(user, key); }

int Input_WasReleased(uint8_t user, uint32_t key) { return Input_GetKeyValue(user, key) == -1; }

InputDevice* Input_GetUser(uint8_t user) { return User(user); }

uint32_t Input_GetDeviceCount(void)
{
    uint32_t n = 0;
    for (const DeviceSlot& slot : g_input.slots) n += slot.device != nullptr;
    return n;
}

ActionMap* ActionMap_Create(uint32_t actionCount, uint32_t deviceType)
{
    uint8_t user = Input_AllocUser(deviceType);
    if (user == INPUT_NO_USER) return nullptr;
    uint32_t total = actionCount + INPUT_BUILTIN_ACTIONS;
    ActionMap* map = (ActionMap*)Mem_Calloc(sizeof(ActionMap), 8);
    InputAction* actions = map ? (InputAction*)Mem_Calloc(sizeof(InputAction) * total, 8) : nullptr;
    if (!actions) {
        Mem_Free(map);
        Input_FreeUser(user);
        return nullptr;
    }
    for (uint32_t i = 0; i < INPUT_BUILTIN_ACTIONS; i++) {
        InputAction& a = actions[actionCount + i];
        a.id = INPUT_VIRTUAL_ID + i;
        a.key = kBuiltinKeys[i % 6];
        a.trigger = i < 6 ? TRIGGER_KEY_DOWN : TRIGGER_RELEASED;
    }
    map->user = user;
    map->actionCount = total;
    map->actions = actions;
    return map;
}

void ActionMap_Destroy(ActionMap** holder)
{
    if (!holder || !*holder) return;
    ActionMap* map = *holder;
    ActionMap_Update(map, 0.0f);
    Input_FreeUser(map->user);
    Mem_Free(map->actions);
    Mem_Free(map);
    *holder = nullptr;
}

int ActionMap_Update(ActionMap* map, float dt)
{
    if (!map) return 0;
    Input_PollDevice(map->user);
    InputDevice* u = User(map->user);
    uint32_t ready = INPUT_USER_POLLED | INPUT_USER_ACQUIRED;
    if (!u || (u->flags & ready) != ready) return 0;
    for (uint32_t i = 0; i < map->actionCount; i++)
        if (map->actions[i].state != ACTION_DISABLED) UpdateAction(map->user, &map->actions[i], dt);
    return 1;
}

InputAction* ActionMap_GetAction(ActionMap* map, uint32_t action)
{
    int64_t index = Resolve(map, action);
    return index < 0 ? nullptr : &map->actions[index];
}

void ActionMap_SetKey(ActionMap* map, uint32_t action, uint32_t key)
{
    if (InputAction* a = ActionMap_GetAction(map, action)) a->key = key;
}

void ActionMap_SetState(ActionMap* map, uint32_t action, uint32_t state)
{
    if (InputAction* a = ActionMap_GetAction(map, action)) a->state = state;
}

uint32_t ActionMap_GetState(ActionMap* map, uint32_t action)
{
    InputAction* a = ActionMap_GetAction(map, action);
    return a ? a->state : 0;
}

uint32_t ActionMap_GetKey(ActionMap* map, uint32_t action)
{
    InputAction* a = ActionMap_GetAction(map, action);
    return a ? a->key : 0;
}

uint32_t ActionMap_GetAfterTrigger(ActionMap* map, uint32_t action)
{
    InputAction* a = ActionMap_GetAction(map, action);
    return a ? a->afterTrigger : 0;
}

uint32_t ActionMap_GetRepeat(ActionMap* map, uint32_t action, float* delay)
{
    InputAction* a = ActionMap_GetAction(map, action);
    if (delay) *delay = a ? a->repeatDelay : 0.0f;
    return a ? a->repeatKind : 0;
}

FuncSlotFn* FuncSlot_Add(FuncSlotFn function)
{
    if (g_funcSlotCount >= kFuncSlots) return nullptr;
    g_funcSlots[g_funcSlotCount] = function;
    return &g_funcSlots[g_funcSlotCount++];
}

void FuncSlot_Reset(void)
{
    memset(g_funcSlots, 0, sizeof g_funcSlots);
    g_funcSlotCount = 0;
}
