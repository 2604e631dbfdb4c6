#include "platform/dinput/dinput.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/dinput/dinput_test.h"
#include "platform/win32/win32_test.h"
#include "platform/win32/window.h"

const Guid IID_IDirectInput7 = {0x9A4CB684, 0x236D, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
const Guid IID_IDirectInputDevice7 = {0x57D7C6BC, 0x2356, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
const Guid GUID_SysKeyboard = {0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const Guid GUID_SysMouse = {0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

const DIDATAFORMAT c_dfDIKeyboard = {256, 1};
const DIDATAFORMAT c_dfDIMouse2 = {sizeof(DIMOUSESTATE2), 2};
const DIDATAFORMAT c_dfDIJoystick = {sizeof(DIJOYSTATE), 3};

namespace {

enum DeviceKind { KIND_KEYBOARD = 1, KIND_MOUSE = 2, KIND_JOYSTICK = 3 };

// A controller's instance guid: data1 holds SDL's joystick instance id.
constexpr uint16_t kJoystickTag = 0x4453;
const uint8_t kJoystickTail[8] = {'S', 'D', 'L', 'J', 'O', 'Y', 'S', 'T'};

struct AxisSetting {
    int32_t min = 0;
    int32_t max = 65535;
    uint32_t deadZone = 0;  // 0..10000 of the half range
};

// Module record: the shared input states fed by the event watch.
struct InputModule {
    uint8_t keys[256] = {};
    int32_t mouseX = 0, mouseY = 0, mouseZ = 0;  // since the last mouse read
    uint8_t mouseButtons[8] = {};
    bool watching = false;
    std::vector<DInputDevice*> devices;  // live devices, for DInputTest_LoseDevices
};

InputModule& M()
{
    static InputModule m;
    return m;
}

int EventWatch(void*, SDL_Event* e)
{
    InputModule& m = M();
    switch (e->type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            uint8_t key = DInput_KeyFromScancode(e->key.keysym.scancode);
            if (key) m.keys[key] = e->type == SDL_KEYDOWN ? 0x80 : 0;
            break;
        }
        case SDL_MOUSEMOTION:
            m.mouseX += e->motion.xrel;
            m.mouseY += e->motion.yrel;
            break;
        case SDL_MOUSEWHEEL: m.mouseZ += e->wheel.y * 120; break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            static const int kOrder[6] = {-1, 0, 2, 1, 3, 4};  // SDL's numbering to left, right, middle, sides
            int index = e->button.button < 6 ? kOrder[e->button.button] : e->button.button - 1;
            if (index >= 0 && index < 8) m.mouseButtons[index] = e->type == SDL_MOUSEBUTTONDOWN ? 0x80 : 0;
            break;
        }
        default: break;
    }
    return 1;
}

bool StartEvents()
{
    InputModule& m = M();
    if (m.watching) return true;
    if (SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) return false;
    SDL_AddEventWatch(EventWatch, nullptr);
    m.watching = true;
    return true;
}

// Headless windows never get the focus, so the foreground rule is the
// input layer's (it unacquires on deactivation); SDL itself must go on
// reporting the controllers.
bool StartControllers()
{
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    return SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
}

void PumpEvents()
{
    if (SDL_WasInit(SDL_INIT_EVENTS)) SDL_PumpEvents();
}

int32_t MapAxis(int32_t value, const AxisSetting& s)
{
    double n = value >= 0 ? value / 32767.0 : value / 32768.0;
    int64_t lo = s.min, hi = s.max;
    int64_t centre = lo + (hi - lo + 1) / 2;
    double zone = std::min(s.deadZone, 10000u) / 10000.0;
    double magnitude = std::fabs(n);
    if (magnitude <= zone || zone >= 1.0) return (int32_t)centre;
    double t = std::min(1.0, (magnitude - zone) / (1.0 - zone));
    return (int32_t)(n > 0 ? centre + std::llround(t * (double)(hi - centre))
                           : centre - std::llround(t * (double)(centre - lo)));
}

// A trigger (0..32767) over the whole range: released reads the minimum.
int32_t MapTrigger(int32_t value, const AxisSetting& s)
{
    double t = std::clamp(value / 32767.0, 0.0, 1.0);
    return (int32_t)(s.min + std::llround(t * ((double)s.max - s.min)));
}

uint32_t PovFromHat(uint8_t hat)
{
    switch (hat) {
        case SDL_HAT_UP: return 0;
        case SDL_HAT_RIGHTUP: return 4500;
        case SDL_HAT_RIGHT: return 9000;
        case SDL_HAT_RIGHTDOWN: return 13500;
        case SDL_HAT_DOWN: return 18000;
        case SDL_HAT_LEFTDOWN: return 22500;
        case SDL_HAT_LEFT: return 27000;
        case SDL_HAT_LEFTUP: return 31500;
        default: return 0xFFFFFFFFu;
    }
}

// The documented button order of game controllers.
const SDL_GameControllerButton kControllerButtons[11] = {
    SDL_CONTROLLER_BUTTON_A,         SDL_CONTROLLER_BUTTON_B,           SDL_CONTROLLER_BUTTON_X,
    SDL_CONTROLLER_BUTTON_Y,         SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
    SDL_CONTROLLER_BUTTON_BACK,      SDL_CONTROLLER_BUTTON_START,       SDL_CONTROLLER_BUTTON_LEFTSTICK,
    SDL_CONTROLLER_BUTTON_RIGHTSTICK, SDL_CONTROLLER_BUTTON_GUIDE,
};

Guid InstanceGuid(SDL_JoystickID id)
{
    Guid g = {(uint32_t)id, kJoystickTag, 0, {}};
    memcpy(g.data4, kJoystickTail, 8);
    return g;
}

bool IsJoystickGuid(const Guid& g) { return g.data2 == kJoystickTag && memcmp(g.data4, kJoystickTail, 8) == 0; }

int AxisIndex(uint32_t offset) { return offset % 4 == 0 && offset <= DIJOFS_SLIDER1 ? (int)(offset / 4) : -1; }

}  // namespace

struct DInputDevice {
    explicit DInputDevice(DeviceKind k) : kind(k) {}
    DeviceKind kind;
    const DIDATAFORMAT* format = nullptr;
    Window* window = nullptr;
    uint32_t cooperation = 0;
    bool acquired = false;
    bool lost = false;
    uint32_t bufferSize = 0;
    AxisSetting axes[8];
    SDL_GameController* controller = nullptr;  // a game controller
    SDL_Joystick* joystick = nullptr;          // its joystick, or a raw one
    bool startedControllers = false;

    // A foreground device whose window is not active may not read.
    bool WindowAllows() const
    {
        if (!(cooperation & DISCL_FOREGROUND) || !window || !Window_IsLive(window)) return true;
        return Window_IsActive(window) != 0;
    }
};

IDirectInputDevice7::~IDirectInputDevice7()
{
    if (!device) return;
    std::vector<DInputDevice*>& live = M().devices;
    live.erase(std::remove(live.begin(), live.end(), device), live.end());
    if (device->controller)
        SDL_GameControllerClose(device->controller);
    else if (device->joystick)
        SDL_JoystickClose(device->joystick);
    if (device->startedControllers) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    delete device;
}

HResult IDirectInputDevice7::SetDataFormat(const DIDATAFORMAT* format)
{
    if (!format || device->acquired || (int)format->kind != device->kind) return DIERR_INVALIDPARAM;
    device->format = format;
    return S_OK;
}

HResult IDirectInputDevice7::SetCooperativeLevel(Window* window, uint32_t flags)
{
    bool exclusive = flags & DISCL_EXCLUSIVE, shared = flags & DISCL_NONEXCLUSIVE;
    bool fore = flags & DISCL_FOREGROUND, back = flags & DISCL_BACKGROUND;
    if (exclusive == shared || fore == back) return DIERR_INVALIDPARAM;
    device->window = window;
    device->cooperation = flags;
    return S_OK;
}

HResult IDirectInputDevice7::SetProperty(uint32_t property, const DIPROPHEADER* header)
{
    if (!header || header->headerSize != sizeof(DIPROPHEADER)) return DIERR_INVALIDPARAM;
    if (property == DIPROP_BUFFERSIZE) {
        if (header->how != DIPH_DEVICE || header->size != sizeof(DIPROPDWORD)) return DIERR_INVALIDPARAM;
        device->bufferSize = ((const DIPROPDWORD*)header)->data;
        return S_OK;
    }
    int axis = header->how == DIPH_BYOFFSET ? AxisIndex(header->object) : -1;
    if (device->kind != KIND_JOYSTICK || axis < 0) return DIERR_INVALIDPARAM;
    if (property == DIPROP_RANGE && header->size == sizeof(DIPROPRANGE)) {
        const DIPROPRANGE* range = (const DIPROPRANGE*)header;
        if (range->min >= range->max) return DIERR_INVALIDPARAM;
        device->axes[axis].min = range->min;
        device->axes[axis].max = range->max;
        return S_OK;
    }
    if (property == DIPROP_DEADZONE && header->size == sizeof(DIPROPDWORD)) {
        uint32_t zone = ((const DIPROPDWORD*)header)->data;
        if (zone > 10000) return DIERR_INVALIDPARAM;
        device->axes[axis].deadZone = zone;
        return S_OK;
    }
    return DIERR_INVALIDPARAM;
}

HResult IDirectInputDevice7::Acquire()
{
    if (!device->format) return DIERR_INVALIDPARAM;
    if (!device->WindowAllows()) return DIERR_OTHERAPPHASPRIO;
    if (device->joystick && !SDL_JoystickGetAttached(device->joystick)) return DIERR_INPUTLOST;
    bool already = device->acquired;
    device->acquired = true;
    device->lost = false;
    return already ? S_FALSE : S_OK;
}

HResult IDirectInputDevice7::Unacquire()
{
    if (!device->acquired) return DI_NOEFFECT;
    device->acquired = false;
    return S_OK;
}

HResult IDirectInputDevice7::Poll()
{
    if (device->kind != KIND_JOYSTICK) return DI_NOEFFECT;
    if (!device->acquired) return DIERR_NOTACQUIRED;
    PumpEvents();
    SDL_JoystickUpdate();
    return S_OK;
}

HResult IDirectInputDevice7::GetDeviceState(uint32_t size, void* data)
{
    if (!data || !device->format || size != device->format->dataSize) return DIERR_INVALIDPARAM;
    if (device->lost) {
        device->lost = false;
        device->acquired = false;
        return DIERR_INPUTLOST;
    }
    if (device->acquired && !device->WindowAllows()) device->acquired = false;
    if (!device->acquired) return DIERR_NOTACQUIRED;
    InputModule& m = M();
    switch (device->kind) {
        case KIND_KEYBOARD:
            PumpEvents();
            memcpy(data, m.keys, 256);
            return S_OK;
        case KIND_MOUSE: {
            PumpEvents();
            DIMOUSESTATE2* state = (DIMOUSESTATE2*)data;
            state->lX = m.mouseX;
            state->lY = m.mouseY;
            state->lZ = m.mouseZ;
            m.mouseX = m.mouseY = m.mouseZ = 0;
            memcpy(state->rgbButtons, m.mouseButtons, 8);
            return S_OK;
        }
        case KIND_JOYSTICK: break;
    }
    if (!SDL_JoystickGetAttached(device->joystick)) {
        device->acquired = false;
        return DIERR_INPUTLOST;
    }
    DIJOYSTATE* state = (DIJOYSTATE*)data;
    memset(state, 0, sizeof *state);
    int32_t* axes[8] = {&state->lX, &state->lY, &state->lZ, &state->lRx, &state->lRy, &state->lRz,
                        &state->rglSlider[0], &state->rglSlider[1]};
    for (int i = 0; i < 8; i++) *axes[i] = MapAxis(0, device->axes[i]);
    for (uint32_t& pov : state->rgdwPOV) pov = 0xFFFFFFFFu;
    if (SDL_GameController* c = device->controller) {
        state->lX = MapAxis(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTX), device->axes[0]);
        state->lY = MapAxis(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTY), device->axes[1]);
        state->lZ = MapAxis(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_RIGHTX), device->axes[2]);
        state->lRz = MapAxis(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_RIGHTY), device->axes[5]);
        state->lRx = MapTrigger(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_TRIGGERLEFT), device->axes[3]);
        state->lRy = MapTrigger(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_TRIGGERRIGHT), device->axes[4]);
        for (int b = 0; b < 11; b++)
            state->rgbButtons[b] = SDL_GameControllerGetButton(c, kControllerButtons[b]) ? 0x80 : 0;
        uint8_t hat = 0;
        if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_UP)) hat |= SDL_HAT_UP;
        if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_DOWN)) hat |= SDL_HAT_DOWN;
        if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_LEFT)) hat |= SDL_HAT_LEFT;
        if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_RIGHT)) hat |= SDL_HAT_RIGHT;
        state->rgdwPOV[0] = PovFromHat(hat);
        return S_OK;
    }
    SDL_Joystick* j = device->joystick;
    int axisCount = std::min(SDL_JoystickNumAxes(j), 8);
    for (int i = 0; i < axisCount; i++) *axes[i] = MapAxis(SDL_JoystickGetAxis(j, i), device->axes[i]);
    int hats = std::min(SDL_JoystickNumHats(j), 4);
    for (int i = 0; i < hats; i++) state->rgdwPOV[i] = PovFromHat(SDL_JoystickGetHat(j, i));
    int buttons = std::min(SDL_JoystickNumButtons(j), 32);
    for (int i = 0; i < buttons; i++) state->rgbButtons[i] = SDL_JoystickGetButton(j, i) ? 0x80 : 0;
    return S_OK;
}

HResult IDirectInputDevice7::GetDeviceData(uint32_t objectSize, DIDEVICEOBJECTDATA* data, uint32_t* count, uint32_t)
{
    if (!count || (data && objectSize != sizeof(DIDEVICEOBJECTDATA))) return DIERR_INVALIDPARAM;
    if (!device->acquired) return DIERR_NOTACQUIRED;
    *count = 0;
    return S_OK;
}

HResult IDirectInput7::CreateDeviceEx(const Guid& guid, const Guid& iid, void** out, void*)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!Guid_Equal(iid, IID_IDirectInputDevice7)) return E_NOINTERFACE;
    DInputDevice* device = nullptr;
    if (Guid_Equal(guid, GUID_SysKeyboard)) {
        device = new DInputDevice(KIND_KEYBOARD);
    } else if (Guid_Equal(guid, GUID_SysMouse)) {
        device = new DInputDevice(KIND_MOUSE);
    } else if (IsJoystickGuid(guid)) {
        if (!StartControllers()) return DIERR_DEVICENOTREG;
        for (int i = 0; i < SDL_NumJoysticks(); i++) {
            if ((uint32_t)SDL_JoystickGetDeviceInstanceID(i) != guid.data1) continue;
            device = new DInputDevice(KIND_JOYSTICK);
            device->startedControllers = true;
            if (SDL_IsGameController(i)) {
                device->controller = SDL_GameControllerOpen(i);
                device->joystick = device->controller ? SDL_GameControllerGetJoystick(device->controller) : nullptr;
            } else {
                device->joystick = SDL_JoystickOpen(i);
            }
            break;
        }
        if (!device || !device->joystick) {
            if (device) delete device;
            SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
            return DIERR_DEVICENOTREG;
        }
    } else {
        return DIERR_DEVICENOTREG;
    }
    IDirectInputDevice7* object = new IDirectInputDevice7;
    object->device = device;
    M().devices.push_back(device);
    *out = object;
    return S_OK;
}

HResult IDirectInput7::EnumDevices(uint32_t devType, DIEnumDevicesCallback callback, void* context, uint32_t flags)
{
    if (!callback) return DIERR_INVALIDPARAM;
    if (devType != DIDEVTYPE_JOYSTICK || !StartControllers()) return S_OK;
    PumpEvents();
    for (int i = 0; i < SDL_NumJoysticks(); i++) {
        bool isController = SDL_IsGameController(i);
        SDL_GameController* controller = isController ? SDL_GameControllerOpen(i) : nullptr;
        SDL_Joystick* joystick = isController ? (controller ? SDL_GameControllerGetJoystick(controller) : nullptr)
                                              : SDL_JoystickOpen(i);
        // A controller that can't be opened is passed over: one failed
        // device must not cost the caller all the others.
        if (!joystick) continue;
        DIDEVICEINSTANCE instance = {};
        instance.guidInstance = InstanceGuid(SDL_JoystickInstanceID(joystick));
        SDL_JoystickGUID product = SDL_JoystickGetGUID(joystick);
        memcpy(&instance.guidProduct, product.data, sizeof(Guid));
        instance.devType = DIDEVTYPE_JOYSTICK;
        const char* name = SDL_JoystickName(joystick);
        snprintf(instance.instanceName, sizeof instance.instanceName, "%s", name ? name : "Joystick");
        snprintf(instance.productName, sizeof instance.productName, "%s", name ? name : "Joystick");
        bool rumble = SDL_JoystickHasRumble(joystick);
        if (controller)
            SDL_GameControllerClose(controller);
        else
            SDL_JoystickClose(joystick);
        if ((flags & DIEDFL_FORCEFEEDBACK) && !rumble) continue;
        if (callback(&instance, context) == DIENUM_STOP) break;
    }
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    return S_OK;
}

HResult DirectInputCreateEx(void*, uint32_t version, const Guid& iid, void** out, void*)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (version < DIRECTINPUT_VERSION_7) return DIERR_OLDDIRECTINPUTVERSION;
    if (!Guid_Equal(iid, IID_IDirectInput7)) return E_NOINTERFACE;
    if (!StartEvents()) return E_FAIL;
    *out = new IDirectInput7;
    return S_OK;
}

// ---- test hooks ----

namespace {

struct VirtualController {
    SDL_JoystickID id;
    SDL_Joystick* joystick;  // the hook's own handle, for setting values
    bool gameController;
};

std::vector<VirtualController>& Virtuals()
{
    static std::vector<VirtualController> v;
    return v;
}

VirtualController* FindVirtual(int32_t handle)
{
    std::vector<VirtualController>& v = Virtuals();
    return handle >= 0 && handle < (int32_t)v.size() && v[(size_t)handle].joystick ? &v[(size_t)handle] : nullptr;
}

}  // namespace

int32_t DInputTest_AttachController(int32_t gameController)
{
    static bool started = false;
    if (!started) {
        if (!StartControllers()) return -1;
        started = true;  // kept for the process: the devices live in it
    }
    SDL_VirtualJoystickDesc desc = {};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.naxes = 6;
    if (gameController) {
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_DPAD_RIGHT + 1;
        desc.button_mask = (1u << desc.nbuttons) - 1;
        desc.axis_mask = (1u << 6) - 1;
        desc.name = "Virtual controller";
    } else {
        desc.type = SDL_JOYSTICK_TYPE_UNKNOWN;
        desc.nbuttons = 12;
        desc.nhats = 1;
        desc.name = "Virtual joystick";
    }
    int index = SDL_JoystickAttachVirtualEx(&desc);
    if (index < 0) return -1;
    SDL_Joystick* joystick = SDL_JoystickOpen(index);
    if (!joystick) {
        SDL_JoystickDetachVirtual(index);
        return -1;
    }
    if (gameController) {
        // Released triggers: the bottom of the raw range.
        SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_TRIGGERLEFT, -32768);
        SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
    }
    SDL_JoystickUpdate();
    Virtuals().push_back(VirtualController{SDL_JoystickInstanceID(joystick), joystick, gameController != 0});
    return (int32_t)Virtuals().size() - 1;
}

int32_t DInputTest_SetAxis(int32_t handle, int32_t axis, int32_t value)
{
    VirtualController* v = FindVirtual(handle);
    if (!v || axis < 0 || axis >= 6) return 0;
    return SDL_JoystickSetVirtualAxis(v->joystick, axis, (int16_t)std::clamp(value, -32768, 32767)) == 0;
}

int32_t DInputTest_SetButton(int32_t handle, int32_t button, int32_t down)
{
    VirtualController* v = FindVirtual(handle);
    if (!v || button < 0) return 0;
    int target = button;
    if (v->gameController) {
        if (button >= 11) return 0;
        target = kControllerButtons[button];
    } else if (button >= 12) {
        return 0;
    }
    return SDL_JoystickSetVirtualButton(v->joystick, target, down ? SDL_PRESSED : SDL_RELEASED) == 0;
}

void DInputTest_DetachAll()
{
    for (VirtualController& v : Virtuals()) {
        if (!v.joystick) continue;
        SDL_JoystickClose(v.joystick);
        for (int i = 0; i < SDL_NumJoysticks(); i++) {
            if (SDL_JoystickGetDeviceInstanceID(i) == v.id) {
                SDL_JoystickDetachVirtual(i);
                break;
            }
        }
    }
    Virtuals().clear();
    SDL_JoystickUpdate();
}

int32_t DInputTest_PushKey(uint8_t key, int32_t down)
{
    int32_t scancode = DInput_ScancodeFromKey(key);
    if (!scancode || !StartEvents()) return 0;
    return Win32Test_PushScancode(scancode, down, 0);
}

void DInputTest_SetKey(uint8_t key, int32_t down) { M().keys[key] = down ? 0x80 : 0; }

void DInputTest_LoseDevices()
{
    for (DInputDevice* d : M().devices)
        if (d->acquired) d->lost = true;
}

void DInputTest_ResetState()
{
    InputModule& m = M();
    memset(m.keys, 0, sizeof m.keys);
    memset(m.mouseButtons, 0, sizeof m.mouseButtons);
    m.mouseX = m.mouseY = m.mouseZ = 0;
}
