#include "game/player_input.h"

#include "app/pad.h"

int PlayerInput_EscapePressed(uint8_t player)
{
    (void)player;
    Pad* keyboard = Pad_Get(PAD_KEYBOARD, 0);
    return keyboard ? Pad_JustPressed(keyboard, 1) : 0;
}
