// Per-player menu input: the tests every menu screen asks (the front end, the
// configuration-driven menus, the pause menu's sliders, the save screens).
//
// Each test takes a player 0..7, or PLAYER_INPUT_ANY (255) for every player
// slot 0 .. Game_GetMaxPlayers() - 1 in turn, and answers 1 at the first
// eligible player whose test succeeds; that player is recorded as the
// context's last input player. Nothing answers while the context's
// input-locked word is set.
//
// A player is eligible when
//   - the eligibility list is off, or the player's slot byte is 1;
//   - no player holds the menus (the context's controlling player is 255),
//     or this player holds them;
//   - the player has an input device (the context's cached device).
//
// Press tests ask Pad_JustPressed of the device at the player's default
// binding of one action (column 0 of its table, Player_GetDefaultBinding),
// so a control preset chosen in the options never changes menu navigation.
// Held tests ask that the bound control's value is above 0.75.
//
//   test                 action (players.h)
//   Select               4
//   Action5 / Action6    5 / 6
//   Back                 7 or 10
//   Up Down Left Right   0 1 2 3 (pressed or held)
//   Escape               key 1 of the keyboard pad, newly pressed
//
// Main thread only.
#pragma once

#include <cstdint>

constexpr uint8_t PLAYER_INPUT_ANY = 255;
constexpr float PLAYER_INPUT_HELD = 0.75f;  // a held control's value is above this
constexpr uint32_t PLAYER_INPUT_ESCAPE_KEY = 1;

// 1 when the player may give menu input now (see above); 0 for a player
// outside 0..7.
int PlayerInput_IsEligible(int player);

// Escape newly pressed on the keyboard pad; 0 when there is no keyboard pad.
int PlayerInput_EscapePressed(uint8_t player);
int PlayerInput_SelectPressed(uint8_t player);
int PlayerInput_Action5Pressed(uint8_t player);
int PlayerInput_Action6Pressed(uint8_t player);
int PlayerInput_BackPressed(uint8_t player);
int PlayerInput_UpPressed(uint8_t player);
int PlayerInput_DownPressed(uint8_t player);
int PlayerInput_LeftPressed(uint8_t player);
int PlayerInput_RightPressed(uint8_t player);
int PlayerInput_UpHeld(uint8_t player);
int PlayerInput_DownHeld(uint8_t player);
int PlayerInput_LeftHeld(uint8_t player);
int PlayerInput_RightHeld(uint8_t player);
// Reads the devices like the others and always answers 0 (a screen that
// takes no input in some slot).
int PlayerInput_NeverPressed(uint8_t player);

// Any of the menu inputs (select, actions 5 and 6, back, the four
// directions) newly pressed by the player: the attract timer's and the
// character screens' "any press". Records the last input player as above.
int PlayerInput_AnyPressed(uint8_t player);
