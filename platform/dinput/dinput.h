// The DirectInput 7 stand-in: the keyboard, the mouse and game controllers
// over SDL2, with the device states, data formats, properties, cooperative
// level and acquisition that the input layer calls.
//
// Where the states come from:
//   - The keyboard keeps its own 256-byte state (DirectInput key codes, bit 7
//     down) from SDL's key events, seen through an event watch, so events
//     pushed by tests count like real ones. A keyboard exists always, also
//     without a display.
//   - The mouse adds up SDL's relative motion and wheel between reads, and
//     keeps its buttons (0 left, 1 right, 2 middle, 3 and 4 the side ones).
//   - Game controllers are SDL's joysticks. One that SDL knows as a game
//     controller reads: X, Y the left stick; Z, Rz the right stick; Rx, Ry
//     the left and right triggers; POV 0 the d-pad; buttons 0 A, 1 B, 2 X,
//     3 Y, 4 left shoulder, 5 right shoulder, 6 back, 7 start, 8 left stick,
//     9 right stick, 10 guide. A raw joystick maps its axes in SDL's order
//     to X, Y, Z, Rx, Ry, Rz and the two sliders, its hats to the POVs and
//     its buttons in order.
// SDL's events are pumped inside the keyboard's GetDeviceState and the
// controllers' Poll, since some callers poll in loops of their own.
//
// Axes: every axis has the range 0..65535 until DIPROP_RANGE changes it; a
// stick at rest reads the middle of the range, exactly (for -128..127: 0).
// DIPROP_DEADZONE (0..10000 of the half range) makes values inside the
// zone read the middle and scales the rest linearly to the ends.
//
// Cooperative level: a foreground device can't be acquired, and its reads
// report DIERR_NOTACQUIRED, while its window is inactive as the Win32
// stand-in tracks it (a window is active from creation until it loses its
// focus; headless windows never do). A null window counts as active.
//
// Objects are counted COM objects (com.h). Main thread only.
#pragma once

#include <cstdint>

#include "platform/win32/com.h"

struct Window;

// Results beyond com.h.
constexpr HResult DI_NOEFFECT = 1;
constexpr HResult DIERR_INPUTLOST = (HResult)0x8007001Eu;
constexpr HResult DIERR_NOTACQUIRED = (HResult)0x8007000Cu;
constexpr HResult DIERR_OTHERAPPHASPRIO = E_ACCESSDENIED;
constexpr HResult DIERR_INVALIDPARAM = E_INVALIDARG;
constexpr HResult DIERR_DEVICENOTREG = (HResult)0x80040154u;
constexpr HResult DIERR_OLDDIRECTINPUTVERSION = (HResult)0x8007047Eu;

extern const Guid IID_IDirectInput7;
extern const Guid IID_IDirectInputDevice7;
extern const Guid GUID_SysKeyboard;
extern const Guid GUID_SysMouse;

enum : uint32_t {
    DIRECTINPUT_VERSION_7 = 0x0700,
    DIDEVTYPE_JOYSTICK = 4,        // EnumDevices: game controllers
    DIEDFL_ATTACHEDONLY = 0x1,
    DIEDFL_FORCEFEEDBACK = 0x100,  // only devices that can rumble
    DIENUM_STOP = 0,
    DIENUM_CONTINUE = 1,
    DISCL_EXCLUSIVE = 0x1,
    DISCL_NONEXCLUSIVE = 0x2,
    DISCL_FOREGROUND = 0x4,
    DISCL_BACKGROUND = 0x8,
    DIPH_DEVICE = 0,
    DIPH_BYOFFSET = 1,
};

// Property ids.
enum : uint32_t {
    DIPROP_BUFFERSIZE = 1,  // DIPROPDWORD, device-wide
    DIPROP_RANGE = 4,       // DIPROPRANGE, by offset
    DIPROP_DEADZONE = 5,    // DIPROPDWORD, by offset, 0..10000
};

struct DIPROPHEADER {
    uint32_t size;        // of the whole property record
    uint32_t headerSize;  // sizeof(DIPROPHEADER)
    uint32_t object;      // the axis offset for DIPH_BYOFFSET
    uint32_t how;         // DIPH_DEVICE or DIPH_BYOFFSET
};
struct DIPROPDWORD {
    DIPROPHEADER header;
    uint32_t data;
};
struct DIPROPRANGE {
    DIPROPHEADER header;
    int32_t min;
    int32_t max;
};

// Data formats: which state record GetDeviceState fills.
struct DIDATAFORMAT {
    uint32_t dataSize;  // bytes of the state record
    uint32_t kind;      // 1 keyboard, 2 mouse, 3 joystick
};
extern const DIDATAFORMAT c_dfDIKeyboard;  // 256 bytes, one per key code
extern const DIDATAFORMAT c_dfDIMouse2;    // DIMOUSESTATE2
extern const DIDATAFORMAT c_dfDIJoystick;  // DIJOYSTATE

struct DIMOUSESTATE2 {
    int32_t lX, lY, lZ;     // motion since the previous read; lZ the wheel (120 a notch)
    uint8_t rgbButtons[8];  // bit 7 down
};

struct DIJOYSTATE {
    int32_t lX, lY, lZ;
    int32_t lRx, lRy, lRz;
    int32_t rglSlider[2];
    uint32_t rgdwPOV[4];     // hundredths of a degree clockwise from north; 0xFFFFFFFF centred
    uint8_t rgbButtons[32];  // bit 7 down
};

// Axis offsets inside DIJOYSTATE (for DIPH_BYOFFSET).
enum : uint32_t {
    DIJOFS_X = 0,
    DIJOFS_Y = 4,
    DIJOFS_Z = 8,
    DIJOFS_RX = 12,
    DIJOFS_RY = 16,
    DIJOFS_RZ = 20,
    DIJOFS_SLIDER0 = 24,
    DIJOFS_SLIDER1 = 28,
};

struct DIDEVICEOBJECTDATA {
    uint32_t offset;
    uint32_t data;
    uint32_t timeStamp;
    uint32_t sequence;
};

struct DIDEVICEINSTANCE {
    Guid guidInstance;  // the device; CreateDeviceEx takes it
    Guid guidProduct;
    uint32_t devType;
    char instanceName[260];
    char productName[260];
};
typedef int32_t (*DIEnumDevicesCallback)(const DIDEVICEINSTANCE* instance, void* context);

struct DInputDevice;

struct IDirectInputDevice7 : ComObject {
    // Chooses the state record; only while not acquired.
    HResult SetDataFormat(const DIDATAFORMAT* format);
    HResult SetCooperativeLevel(Window* window, uint32_t flags);
    // DIPROP_BUFFERSIZE, DIPROP_RANGE and DIPROP_DEADZONE (the last two on
    // X, Y, Z, Rx, Ry, Rz and the sliders by offset); DIERR_INVALIDPARAM for
    // anything else.
    HResult SetProperty(uint32_t property, const DIPROPHEADER* header);
    // DI_OK, S_FALSE when acquired already; DIERR_INVALIDPARAM without a data
    // format; DIERR_OTHERAPPHASPRIO while a foreground device's window is
    // inactive.
    HResult Acquire();
    HResult Unacquire();
    // Fills `size` bytes (the format's size exactly) with the current state.
    // DIERR_NOTACQUIRED while not acquired or while a foreground device's
    // window is inactive (the acquisition is lost then); DIERR_INPUTLOST once
    // after a device was lost (DInputTest_LoseDevices).
    HResult GetDeviceState(uint32_t size, void* data);
    // Buffered data: the stand-in keeps no event buffer, so *count becomes 0.
    HResult GetDeviceData(uint32_t objectSize, DIDEVICEOBJECTDATA* data, uint32_t* count, uint32_t flags);
    // Reads the controller (pumps SDL); DI_NOEFFECT for keyboard and mouse.
    HResult Poll();
    ~IDirectInputDevice7() override;
    DInputDevice* device = nullptr;
};

struct IDirectInput7 : ComObject {
    // GUID_SysKeyboard, GUID_SysMouse or a controller's instance guid.
    // DIERR_DEVICENOTREG for a guid that names no device (a controller that
    // went away, or can't be opened).
    HResult CreateDeviceEx(const Guid& guid, const Guid& iid, void** out, void* outer);
    // Calls back for every controller that opens, in SDL's order, until the
    // callback returns DIENUM_STOP. Other device types enumerate nothing.
    HResult EnumDevices(uint32_t devType, DIEnumDevicesCallback callback, void* context, uint32_t flags);
};

// The DirectInput object; DIERR_OLDDIRECTINPUTVERSION for a version below
// 0x0700, E_NOINTERFACE for another interface id.
HResult DirectInputCreateEx(void* instance, uint32_t version, const Guid& iid, void** out, void* outer);

// DirectInput key codes the system names.
enum : uint8_t {
    DIK_ESCAPE = 0x01,
    DIK_RETURN = 0x1C,
    DIK_LCONTROL = 0x1D,
    DIK_SPACE = 0x39,
    DIK_RCONTROL = 0x9D,
    DIK_UP = 0xC8,
    DIK_LEFT = 0xCB,
    DIK_RIGHT = 0xCD,
    DIK_DOWN = 0xD0,
};
// The DirectInput key code of an SDL scancode, 0 for none; and back (0 for
// a code no key has).
uint8_t DInput_KeyFromScancode(int32_t scancode);
int32_t DInput_ScancodeFromKey(uint8_t key);
