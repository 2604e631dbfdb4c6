// Pads: what the game reads. One keyboard pad, one mouse pad and one pad per
// attached game controller, each a row of 256 values (buttons and axes)
// with the previous frame's row beside it, so that "down" and "just
// pressed" can be asked by index.
//
// Values after Pad_Update:
//   keyboard: value k is 1.0 while key k (DirectInput key code, k < 238) is
//     down;
//   mouse: 0 and 1 the cursor in the main window's client area, clamped to
//     0..screenWidth and 0..screenHeight; 2 and 3 are 1.0 while the left and
//     the right button are down (the window procedure's flags);
//   controller: 0-29 each action's key state / 255 (16-25 the buttons 1-5,
//     7, 6, 8, 12 and 11); then 4 x and 5 the stored (negated) y, scaled to
//     -1..1 by 1/127 or 1/128; 0, 1 the clamps of -x and x, 2, 3 of y and -y
//     to 0..1; 14 and 15 z and rotation z around 32768, scaled by 1/32767
//     or 1/32768.
// Main thread only.
#pragma once

#include <cstdint>

struct ActionMap;

enum : uint32_t {
    PAD_KEYBOARD = 0,
    PAD_MOUSE = 1,
    PAD_CONTROLLER = 2,
    PAD_NONE = 3,        // Pad_GetKind of null
    PAD_VALUES = 256,
    PAD_ACTIONS = 30,    // a controller pad's action map
    PAD_MAX_CONTROLLERS = 8,
};

struct Pad {
    uint32_t kind;
    ActionMap* map;     // controller pads
    uint8_t user;       // the keyboard pad's input user
    float values[PAD_VALUES];
    float previous[PAD_VALUES];
    uint8_t options;    // bit 0: values 0-3 are first copied from 6-9 (overwritten by the clamps)
};

// Once: input devices with as many users as the joystick limit, one pad per
// controller found, the keyboard pad (when a keyboard user exists) and the
// mouse pad. Later calls do nothing. 0 when memory runs out.
int Pad_Init(void);
// Frees every pad with its action map or user, and the input devices.
void Pad_Shutdown(void);
// Refreshes all pads: previous = values, then the new values.
void Pad_Update(float dt);
uint32_t Pad_GetCount(uint32_t kind);
// Null for an index out of range, or controller pads while switched off.
Pad* Pad_Get(uint32_t kind, uint32_t index);
uint32_t Pad_GetKind(const Pad* pad);
// 0 for a null pad or an index >= 256.
float Pad_GetValue(const Pad* pad, uint32_t index);
int Pad_IsDown(const Pad* pad, uint32_t index);
// Down now and exactly 0 on the previous frame.
int Pad_JustPressed(const Pad* pad, uint32_t index);
// Makes the joystick setting explicit with this limit; 0 also frees the
// controller pads (their maps and users).
void Pad_SetJoysticksEnabled(uint32_t limit);
// The explicit limit, or 8.
uint32_t Pad_GetJoystickLimit(void);
