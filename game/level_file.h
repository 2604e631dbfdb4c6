// The level file: "levels\<entry>" (the race set-up's current entry), a
// compiled configuration whose section "game", group "Level" describes the
// level. Level_ResetSettings puts every setting back to its default at each
// content load, so a level without a key gets the default, never the
// previous level's value; Level_Load reads the keys into the level session,
// the level state record and the physics world.
//
//   key                    default        goes to
//   levelscene             ""             session scene name
//   levelConfigs           ""             session configuration folder
//   levelSoundConfig       the file       sound configuration ("SOUND" section)
//   BackDomePath           ""             level state
//   BackDomeCamRel         true           session back dome
//   BackDomeFarClip        250            session back dome
//   BackDomeNearClip       0.1            session back dome
//   BackDomePosOffset      0, 0, 0        session back dome
//   BackDomeScaleOffset    1, 1, 1        session back dome
//   WorldZBufferClear      true           session
//   WorldFarClip           250            session
//   WorldNearClip          0.1            session
//   levelToUnlock          0              session: the level's progress entry
//   gravity                the world's    physics world
//   gametimelength         0              session time allowance (the best
//                                         time instead when 0 < best < length)
//   extraGameTypes         true           level state
//   DefaultGameType        "normal"       session rule, by rule name
//   winnerFocusTime, ClippingDistance, ClippingOnSectionDist  0   level state
//   ClippingViewAngle      0 (degrees)    level state, in radians
//   ClippingSegName        ""             level state
//   MapLoadFogOn           false          level state
//   FogType                1              missing or 0 -> 1, 1 -> 2, else 3
//   FogColourRGB           0, 0, 0        red bits 0-7, green 8-15, blue 16-23
//   FogColourAlpha         255            bits 24-31
//   FogDensity, FogDistance 0             level state
// Colour components are clamped to 0..255 before packing. The fog word goes
// unchanged to the views, which store it as the A8R8G8B8 fog colour.
#pragma once

#include <cstdint>

#include "game/level_state.h"

// Every setting of the table back to its default, in the session and in
// the level state; the rule clock to 0.
void Level_ResetSettings(LevelState* level);
// Reads the level file of the level's current list entry. A missing file
// keeps the defaults (no scene, no starts) and writes one line naming the
// file to standard error. In every case the level's sounds are reloaded:
// sound-bank group 1 is released and the "SOUND" section of the sound
// configuration loaded into it.
void Level_Load(LevelState* level);

// The fog type of a FogType value, and the fog word of a colour.
uint32_t Level_FogTypeFromKey(int32_t value, int present);
uint32_t Level_PackFogColour(const float* rgb, int32_t alpha);

// The level music: a stream from "Streams\<name>", started at the volume.
// Replaces music that plays. Nothing when the stream is missing.
void Level_LoadMusic(const char* name, float volume, int looping);
// The playing music's volume (nothing without music).
void Level_SetMusicVolume(float volume);
void Level_FreeMusic(void);
