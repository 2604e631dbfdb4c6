// Named values of the running game, for scripted runs: a script waits for
// and checks them ("wait state == level", "expect score == 300"). Every
// value is read from the record that holds it (the state stack, the game
// context, the level session, the player's entity and its mode's data, the
// save storage), never worked out again here, so a check sees what the game
// itself would use. Test hook; main thread only.
//
// Values are text: numbers as "%g"-like decimals, vectors as "x,y,z", names
// as they stand. The names:
//   state           the current state: "none" (before the root state, or
//                   after the last one), "root", "level", "savescreens",
//                   and from the front end's side "frontend", "startmenu",
//                   "options"; "starting" while the current state's
//                   enter has not run yet; "other" for a state nobody names
//   screen          the front end's current screen without "FrontEnd_"
//                   ("Title", "Main", "LevelSelect2", "Tutorial_Main",
//                   "Launch"); "none" outside the front end
//   page            the open in-game menu page ("pauseMenuMain",
//                   "loadingScreenContinue", ...); "none" while the menu is
//                   closed or outside a level; "#xxxxxxxx" (its name hash)
//                   for a page with a name the game does not know
//   savescreen      the save screens' current message by its kind
//                   ("slots", "files", "check", "question", "saving",
//                   "loading", "plain"); "none" while they do not run
//   level           the current level file of the race set-up's list
//                   ("level1.cfg", "LandScape\Track01\T01_Day_Forwards.cfg");
//                   "none" outside a level
//   rule            the level's rule ("normal" .. "race")
//   mode            the first player's entity's control mode ("Man_CamRel",
//                   ...); the first player is the one drawn in viewport 0
//   player.pos      its entity's world position
//   player.up       its up vector: that of its model (animation slot 0's
//                   root, which the control mode turns; the Skater's tilts
//                   with the floor), or its body's without a model
//   player.speed    the length of its body's velocity (m/s)
//   player.feet     how far the bottom of its body's shape is above the
//                   ground straight below it (negative: sunk into it): the
//                   first surface of the pick list under a point 10 units
//                   above the body; refused when nothing lies below
//   player.anim     the current animation of its slot 0 by name ("-" none)
//   health          its health (0..100)
//   lives, score    its mode's counts (Man_CamRel and BroomStick)
//   pickups         pickups its mode counted (Man_CamRel, BroomStick, Skater)
//   element, spin   a BattleBlades top's current element ("ice", "water",
//                   "fire"; a change shows once its "changeBlade" has
//                   ended) and its spin (0..1)
//   clock           the level clock; ruleclock the rule clock (seconds)
//   camera.heading  the first player's camera's heading in degrees, -180..180
//                   (0 looks along +z, 90 along +x)
//   player.inview   1 when the first player sees its character: the last
//                   frame showed the level, its model is shown and its
//                   slot 0's root lies inside the player's view at least a
//                   metre in front of the camera; else 0
//   covered         1 when the level's last frame was the loading image
//                   (the wait for a key after a load, and until the world
//                   has stepped once), else 0
//   entity.NAME.pos / .health / .alpha
//                   the level object or entity named NAME (the scene's
//                   node name, "entity_Flitter_00", "Pickup_01"): its world
//                   position, and for entities their health and animation
//                   alpha; refused while no such object lives
//   possessed       1 while the first player plays an entity it took over, else 0
//   character.N     player N's character index (N 0..7)
//   progress.N      progress entry N's flag word (1 locked, 2 completed,
//                   4 beat-time rule, 8 hidden-pickups rule)
//   volume.music, volume.sfx   the context's volumes (0..1)
//   restarts        calls of Level_Restart since the program started
//   fogged          render objects loaded with fog (a level with
//                   MapLoadFogOn loads its meshes so)
//   save.N          1 when file position N (1..8, the texts
//                   "LS_MEMCARD_FILENAME1".."8") of slot "A" holds a save
//                   whose checksums pass, else 0
// Level and player names are refused (0) outside a level or without a
// player entity.
#pragma once

#include <cstddef>

// Writes the value of the named probe into value (size bytes, always
// NUL-terminated when size > 0; cut to fit). 1 when the name is known and
// has a value now; 0 otherwise, with value "" (when size > 0). Null name or
// value, or size 0, answer 0.
int GameProbe_Get(const char* name, char* value, size_t size);

// The front end lies above the game: it answers "state" for its own states
// and "screen" through this function, which the executable installs (null
// removes it). The function follows GameProbe_Get's contract.
typedef int (*GameProbeFn)(const char* name, char* value, size_t size);
void GameProbe_SetFrontEndProbe(GameProbeFn probe);
