#include "game/ingame_menu.h"

void InGameMenu_Register(void) {}
