// Registration of the walking and creature control modes (rows 0 to 6 of
// the control-mode table: Man, Man_CamRel, Skitter, Flitter, Butterfly,
// Thrusting and ScreenRel) with their slots and data sizes. The game's
// set-up calls it once, before any entity loads.
#pragma once

// 1 when every row was registered.
int WalkingModes_Register(void);
