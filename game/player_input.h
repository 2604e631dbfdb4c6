// Per-player input tests of the front end and the pause menu.
//
// For now only the Escape test the level state needs: the front end's input
// tests replace this file, keeping the signature.
#pragma once

#include <cstdint>

// 1 when Escape (key 1) was newly pressed on keyboard pad 0 this frame; 0
// when there is no keyboard pad. The player argument (0..7, or 255 for any)
// is not used yet: the keyboard is shared.
int PlayerInput_EscapePressed(uint8_t player);
