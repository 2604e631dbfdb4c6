// Registration of the skating, rolling, flying and battling control modes
// (Skater 12, FakeTilt 9, BattleBlades 10, Ball 8, AirPlane 7, CameraMode 11,
// BroomStick 13) in the entity system's mode table. The game's set-up calls
// it once before any entity loads; registering again replaces the rows.
#pragma once

// Fills the seven rows with their slots and data sizes. Returns 1 when every
// row was registered.
int VehicleModes_Register(void);
