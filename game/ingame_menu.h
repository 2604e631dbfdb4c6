// The pause menu's volume sliders: three callbacks of the in-game menu's
// page "pauseMenuMain" that turn two of its entries into sliders for the
// effects volume and the music volume, moved by holding left or right.
//
// The page's entries "sfxVolumeAdjuster" and "musicVolumeAdjuster" are the
// sliders' knobs: their images move between the positions they were loaded
// at and those plus the page keys "sfxScrollBarRange" / "musicScrollBarRange"
// (x, y), in proportion to the volume. While "sfxVolumeSelection" or
// "musicVolumeSelection" is focused, left or right held (value above 0.75)
// by the menu's player steps that volume by 1/16, once every 0.1 s; the
// volume is then truncated to whole sixteenths. The effects volume is the
// master volume, the music volume the level's music volume. A step plays
// the sound of the page key "sfxChangeSound" (none when missing).
//
// Main thread only.
#pragma once

struct MenuPage;
struct MenuSystem;

constexpr float VOLUME_STEP = 1.0f / 16.0f;
constexpr float VOLUME_REPEAT = 0.1f;  // seconds between the steps of a held direction

// v + steps / 16, within 0..1, truncated to whole sixteenths (a value saved
// and loaded back, a whole sixteenth or just above it, keeps its sixteenth).
float Volume_StepSixteenth(float v, int steps);

// Registers the three callbacks below under
// "InGameMenu_Callbacks_PauseMenuMainUpdate", "..._PauseMenuMainInit" and
// "..._PauseMenuMainShutdown".
void InGameMenu_Register(void);

// Builds the page's slider record (its user data) from the adjusters'
// image positions and the page keys (cfg: the ConfigNode* of the file, its
// section the page's); missing images and keys leave their parts out.
void InGameMenu_Callbacks_PauseMenuMainInit(MenuPage* page, MenuSystem* menu, void* cfg);
// One frame while the page is current and the menu is open.
void InGameMenu_Callbacks_PauseMenuMainUpdate(MenuPage* page, MenuSystem* menu, void* unused);
// Frees the record and clears the page's user data; a second call does
// nothing.
void InGameMenu_Callbacks_PauseMenuMainShutdown(MenuPage* page, MenuSystem* menu, void* unused);
