// Player input of a level: each frame, every player's input record is
// filled from the pad the player's slot holds, through the slot's bindings.
//
// Buttons: actions 4..13 set their bits when down; the table is irregular
// and kept as the modes read it:
//   action  4   5   6   7   8    9    10    11    12    13
//   bit     16  32  64  128 256  512  4096  8192  1024  2048
// Key 59 (F1) of a keyboard pad also sets 8192. The directions set 1 up,
// 2 down, 4 left, 8 right and give the stick: x = right - left, y = up -
// down; a diagonal is limited to the unit circle component by component, so
// (1, 1) reads (0.7071, 0.7071). A controller's values 14 and 15 give the
// second stick, limited the same way, which reads (0, 0) until it has once
// been within 0.15 of the centre on both axes (a stick resting off-centre
// must not steer). While the level clock is within the session's stamp
// duration of the stamp, the buttons read 0 and the sticks stay: the pause
// menu stamps 0.2 s so the button that closed it does not act in the level.
#pragma once

#include <cstdint>

struct Pad;

constexpr uint32_t INPUT_F1_KEY = 59;

// The input bit of action 4..13; 0 for others.
uint32_t Input_ActionBit(int action);
// Fills the input record of every level player (the slots 0..3 with a
// non-zero kind). Computer players with no pad read all zeros.
void Level_UpdatePlayerInput(void);
// The pad's value of the player's binding for the action (buttons 0..1,
// axes -1..1); 0.0 for a null pad or an action outside 0..13.
float Player_ReadAction(Pad* pad, int player, int action);
