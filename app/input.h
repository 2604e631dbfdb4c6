// Input devices and actions. The keyboard, the mouse and up to six game
// controllers are read through DirectInput and handed out to users: a user
// record is bound to one device and holds that device's key states, axes
// and point-of-view values, refreshed by polling. On top of a user sits an
// action map: actions that each watch one key with a trigger rule, an
// optional repeat timer and a callback. The pads (app/pad.h) stand on both.
//
// Key indices of a user:
//   keyboard: the DirectInput key code (0-255);
//   mouse: 1-8 the buttons, 33 x motion, 34 negated y motion, 35 the wheel;
//   controller: 1-32 the buttons, 33 x, 34 negated y, 35 z, 36 rotation x,
//     37 negated rotation y, 38 rotation z, 39 and 40 the sliders, 41-44 the
//     points of view (hundredths of a degree; centred reads 0, like north);
//   mouse and controller: 45 x < 0, 46 x > 0, 47 stored y < 0, 48 stored
//     y > 0, with the button states below.
// A button state is 1 while down, -1 on the poll after its release, else 0.
// Keys 256 and above read 0 everywhere (an action's key 0 means 256: none).
// Main thread only.
#pragma once

#include <cstdint>

struct IDirectInputDevice7;

enum : uint32_t {
    INPUT_MAX_DEVICES = 8,     // slot 0 keyboard, 1 mouse, 2-7 controllers
    INPUT_KEY_COUNT = 256,
    INPUT_NO_USER = 255,
    INPUT_TYPE_NONE = 0,
    INPUT_TYPE_KEYBOARD = 1,
    INPUT_TYPE_MOUSE = 2,
    INPUT_TYPE_CONTROLLER = 3,
    INPUT_USER_IN_USE = 0x1,
    INPUT_USER_POLLED = 0x2,   // polled successfully this frame
    INPUT_USER_ACQUIRED = 0x4, // cleared when the device was lost
    INPUT_BUILTIN_ACTIONS = 12,
    INPUT_VIRTUAL_ID = 0x0FFF0000,  // + 0..11: the built-in actions
};

// A user record.
struct InputDevice {
    uint32_t flags;  // INPUT_USER_*
    uint32_t type;   // INPUT_TYPE_*
    uint8_t slot;    // the bound device's slot
    IDirectInputDevice7* device;
    int32_t keys[INPUT_KEY_COUNT];
};

struct InputAction;
typedef void (*InputActionCallback)(InputAction* action);

// Action states and rules.
enum : uint32_t {
    ACTION_IDLE = 0,
    ACTION_TRIGGERED = 1,  // this update
    ACTION_HELD = 2,
    ACTION_DISABLED = 3,
    TRIGGER_KEY_DOWN = 0,
    TRIGGER_RELEASED = 1,
    TRIGGER_ALWAYS = 2,
    REPEAT_NONE = 0,
    REPEAT_ALWAYS = 1,        // the timer runs down always
    REPEAT_AFTER_RELEASE = 2, // ... holds at the delay while the key stays down
    REPEAT_WHILE_DOWN = 3,    // ... runs while the key is down, 0 once it is up
};

struct InputAction {
    uint32_t id;            // the owner's word
    uint32_t state;         // ACTION_*
    uint32_t key;           // key index of the user; 0 means none
    uint32_t trigger;       // TRIGGER_*; 4 and 5 never trigger
    uint32_t afterTrigger;  // 0 back to idle (repeats after the delay), 1 held until the key is up
    uint32_t repeatKind;    // REPEAT_*
    float repeatDelay;      // seconds
    float timer;            // seconds before the action may trigger again
    InputActionCallback callback;  // after every update of the action, or null
};

struct ActionMap {
    uint8_t user;
    uint32_t actionCount;  // the caller's actions + 12 built-in ones
    InputAction* actions;
};

// Creates DirectInput, the keyboard (slot 0), the mouse (slot 1) and the
// controllers found (force-feedback ones first, each device once), and
// `userCount` zeroed user records. 1 on success; on failure everything is
// released and 0 returned (no user can be allocated then).
int Input_Create(uint32_t userCount);
// Releases every device, DirectInput and the user records.
void Input_Destroy(void);
// A free user bound to a device of the type; INPUT_NO_USER when no user or
// no free device of that type is left (six users share the keyboard, one
// has the mouse, one each controller).
uint8_t Input_AllocUser(uint32_t type);
void Input_FreeUser(uint8_t user);
// Binds a user to the type (0 unbinds). 0 when the type is 5 or more, the
// user is bound to that type already, or no device of the type is free.
int Input_BindUser(uint8_t user, uint32_t type);
// Reads the device into the user record: 1 on success. A lost or
// unacquired device is acquired again and reads 0 for this frame.
int Input_PollDevice(uint8_t user);
// Acquires (non-zero) or gives up every device: the application's
// activation.
void Input_SetActive(int active);
int Input_IsKeyDown(uint8_t user, uint32_t key);   // 0 too when not polled
int Input_IsKeyUp(uint8_t user, uint32_t key);
int Input_WasReleased(uint8_t user, uint32_t key);
int32_t Input_GetKeyValue(uint8_t user, uint32_t key);
// The user record (null for an index out of range).
InputDevice* Input_GetUser(uint8_t user);
// Number of devices in the table (keyboard and mouse included).
uint32_t Input_GetDeviceCount(void);

// A map of actionCount zeroed actions plus the 12 built-in keyboard ones,
// on a new user of the device type; null when no user is available.
ActionMap* ActionMap_Create(uint32_t actionCount, uint32_t deviceType);
// One last update, then frees the map and its user; *holder becomes null.
void ActionMap_Destroy(ActionMap** holder);
// Polls the user and updates every action not disabled. 0 (nothing
// updated) when the user was not polled and acquired.
int ActionMap_Update(ActionMap* map, float dt);
// Actions are addressed by index, or the built-in ones by their virtual
// id INPUT_VIRTUAL_ID + 0..11 too; other ids do nothing / read 0.
void ActionMap_SetKey(ActionMap* map, uint32_t action, uint32_t key);
void ActionMap_SetState(ActionMap* map, uint32_t action, uint32_t state);
uint32_t ActionMap_GetState(ActionMap* map, uint32_t action);
uint32_t ActionMap_GetKey(ActionMap* map, uint32_t action);
uint32_t ActionMap_GetAfterTrigger(ActionMap* map, uint32_t action);
// The repeat kind; *delay (when given) receives the delay.
uint32_t ActionMap_GetRepeat(ActionMap* map, uint32_t action, float* delay);
// The action record, or null for an invalid index or id.
InputAction* ActionMap_GetAction(ActionMap* map, uint32_t action);

// Stores a function in the next of 20 fixed cells and returns the cell's
// address (a stable place for a callback pointer); null when all are used.
typedef void (*FuncSlotFn)(void);
FuncSlotFn* FuncSlot_Add(FuncSlotFn function);
// Empties the cells (the shell's reset between runs in one process).
void FuncSlot_Reset(void);
