// Player slots: each of the eight slots has an input device (a pad, or none),
// a control preset (0..2) and 14 bindings. A binding is a pad value index
// (Pad_GetValue): on a keyboard pad a DirectInput key code, on a controller
// pad one of its values.
//
// Actions: 0 up, 1 down, 2 left, 3 right, 4..13 buttons (10 is the start
// button, 11 also comes from F1; see level_input.h for their input bits).
//
// The controller table (shared by every player) binds the directions to the
// stick's clamps, never to a button, in every preset: up 2 (stored y
// positive: pushed up), down 3, left 0, right 1. Its buttons are the pad
// values 16..25 (buttons 1-5, 7, 6, 8, 12 and 11).
//
//   action            0   1   2   3   4   5   6   7   8   9   10  11  12  13
//   controller        2   3   0   1   16  17  18  19  20  21  22  23  24  25
//
// The keyboard tables (one per player, so that players sharing a keyboard
// use different keys; players 4..7 repeat the keys of 0..3, a keyboard has
// too few keys for more). Key codes in hexadecimal:
//
//   player 0  arrows C8 D0 CB CD, Return 1C, RShift 36, RCtrl 9D, / 35, . 34, , 33,
//             Space 39, Backspace 0E, Insert D2, Delete D3
//   player 1  W 11, S 1F, A 1E, D 20, LCtrl 1D, LShift 2A, Q 10, E 12, Z 2C, X 2D,
//             Tab 0F, 1 02, C 2E, R 13
//   player 2  I 17, K 25, J 24, L 26, H 23, Y 15, U 16, O 18, N 31, M 32,
//             7 08, 8 09, B 30, P 19
//   player 3  keypad 8 48, 5 4C, 4 4B, 6 4D, 0 52, Enter 9C, 7 47, 9 49, 1 4F, 3 51,
//             + 4E, - 4A, 2 50, . 53
//
// No table binds Escape (01, the pause menu) or F1 (3B, a fixed input bit).
// The three preset columns are column 0 with the four face buttons moved:
// preset 1 swaps actions 4 and 5 and actions 6 and 7, preset 2 swaps the
// pair 4, 5 with the pair 6, 7. Directions and the other buttons stay.
#pragma once

#include <cstddef>
#include <cstdint>

struct Pad;

constexpr int PLAYER_ACTIONS = 14;
constexpr int PLAYER_PRESETS = 3;

// Column `preset` of the controller table for the action; 0 out of range.
uint16_t Binding_GetController(int action, int preset);
// Column `preset` of the player's keyboard table; 0 out of range.
uint16_t Binding_GetKeyboard(int player, int action, int preset);
// The action whose preset column holds the code that performs `action` in
// column 0 (so a label placed at a control of the default layout can name
// what that control does in the preset); -1 when out of range or none.
int Binding_FindInPreset(int preset, int action);

// Every slot is cleared; then every slot below GameMaxPlayers gets preset 0, the joystick of its index
// (none when missing) and column 0 of the controller table; then, unless
// there are exactly four joysticks, the slots from the joystick count
// upwards get the keyboard with column 0 of their keyboard table, or no
// device when there is no keyboard.
void Player_AssignDevices(void);
// The slot's device (null for none or a slot outside 0..7).
Pad* Player_GetInputDevice(int player);
void Player_SetBinding(int player, int action, uint16_t code);
// The binding's code; 0 out of range.
uint16_t Player_GetBinding(int player, int action);
// Column 0 of the controller table when the player's device is the
// joystick of the player's index, else column 0 of its keyboard table.
uint16_t Player_GetDefaultBinding(int player, int action);
// Stores the preset and binds all 14 actions to that column, from the
// controller table for a player on its own joystick, else from its
// keyboard table. A preset outside 0..2 or a slot outside 0..7 is ignored.
void Player_SetControlPreset(int player, int preset);
int Player_GetControlPreset(int player);
// 1 when the player's device is the joystick of its own index.
int Player_UsesController(int player);
// Writes the text key of the player's controller, "LS_CONTROLLER_" and the
// name of its binding table: "JOYPAD", "KEYBOARD", or "NONE" without a
// device, into buffer (size bytes, cut to fit); returns buffer.
char* Player_GetControllerText(int player, char* buffer, size_t size);
