// Test hooks of the DirectInput stand-in: virtual controllers (SDL's virtual
// joysticks, so the device code path is the real one), scripted keys and
// lost devices.
#pragma once

#include <cstdint>

// Axes of a virtual game controller, in SDL's game-controller order.
enum : int32_t {
    DINPUT_TEST_LEFTX = 0,
    DINPUT_TEST_LEFTY = 1,
    DINPUT_TEST_RIGHTX = 2,
    DINPUT_TEST_RIGHTY = 3,
    DINPUT_TEST_TRIGGERLEFT = 4,
    DINPUT_TEST_TRIGGERRIGHT = 5,
};

// Attaches a virtual controller: a game controller (gameController 1) with
// 6 axes and the 11 buttons of the documented order, or a raw joystick with
// 6 axes, 1 hat and 12 buttons. Returns its handle (>= 0), or -1.
// Attach controllers before the input layer enumerates them.
int32_t DInputTest_AttachController(int32_t gameController);
// Moves an axis (SDL units: -32768..32767). 0 for an unknown handle.
int32_t DInputTest_SetAxis(int32_t handle, int32_t axis, int32_t value);
// Presses or releases a button, by its DirectInput number (the order in
// dinput.h). 0 for an unknown handle or button.
int32_t DInputTest_SetButton(int32_t handle, int32_t button, int32_t down);
// Detaches every virtual controller.
void DInputTest_DetachAll();
// Pushes an SDL key event for a DirectInput key code (the key then goes
// down or up in the keyboard state, and the Win32 stand-in turns it into a
// key message). 0 for a code no key has.
int32_t DInputTest_PushKey(uint8_t key, int32_t down);
// Puts a key of any code down or up in the keyboard state itself, also the
// codes no key of SDL's has (extra keys some keyboards report).
void DInputTest_SetKey(uint8_t key, int32_t down);
// Every device loses its acquisition as a device does when another program
// takes it: the next read of each reports DIERR_INPUTLOST.
void DInputTest_LoseDevices();
// Keys all up, mouse motion and buttons cleared.
void DInputTest_ResetState();
