// The pause menu's own callbacks (volume sliders), registered by name for
// the menu system.
//
// Not built yet: the level state calls the registration, which the pause
// menu replaces with its own, keeping the signature.
#pragma once

void InGameMenu_Register(void);
