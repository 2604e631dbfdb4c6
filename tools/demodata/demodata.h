// The demo data generator: reads the recipes under a sources folder
// (data/ in the repository, starting at "stage.txt") and writes the
// working folder the game runs in:
//
//   STAGE/DATA/...      every data file the game opens through its file
//                       layer, compiled configurations in DATA/Cache/..
//   STAGE/Streams/...   music, effect streams and clips (Streams/VIDEO)
//   STAGE/game.ver      the version text
//
// A build is all or nothing: everything is made in a folder of its own
// beside the stage ("STAGE.demodata-build") and moved into place only when
// every command and every check passed; DATA, Streams and game.ver are then replaced whole (so no
// file of an earlier build, cache included, survives), and nothing else in
// the stage (SaveGame, captured frames) is touched. Equal sources give
// byte-identical stages.
//
// Recipe commands (see recipe.h for the syntax). NAME is a data name as the
// game writes it (back-slashes, the game's case), under DATA unless said;
// SOURCE is a path relative to the sources folder.
//
//   include SOURCE                    reads another recipe in place
//   gamever TEXT                      STAGE/game.ver
//   buildver N                        Build.ver
//   charlist NAME...                  CharList.txt (1..8 names)
//   unlocked N|A-B... [locked=N:STARS,...]
//                                     Unlocked.cfg (characters N locked
//                                     until STARS stars)
//   logo IMAGE SECONDS [fade=] [skip=]     a line of configs\logos.cfg
//   movie NAME [flag=] [standard=]    a line of streams\movies_PC.txt
//   texts NAME SOURCE                 a text table from "KEY=text" lines
//   compile NAME SOURCE               a configuration, at NAME's cache place
//   compile-folder FOLDER [prefix=P]  every file below FOLDER, each at its
//                                     path below it (P first, "\" between)
//   copy NAME SOURCE                  a text file as it is
//   texture NAME[,NAME...] PATTERN W H [...]
//                                     a picture (texgen.h; .bmp or .png),
//                                     the same under each name (one without
//                                     a folder is in the first one's)
//   font NAME [height=] [stroke=] [outline=] [width=] [chars=]
//                                     NAME.met with its picture and mask
//   sound NAME effect=KIND [seconds=] [pitch=] [seed=] [rate=]
//   stream NAME effect=KIND [...]     STAGE/Streams/NAME.wav
//   music NAME [tempo=] [steps=] [rate=]   STAGE/Streams/NAME.wav, from
//     voice WAVE VOLUME NOTES          the voice lines up to "end"
//   end
//   clip NAME [seconds=] [width=] [height=] [fps=] [title=]
//                                     STAGE/Streams/VIDEO/NAME.mpg
//   animset NAME [suffix=ANIM]        an animation set at the cache place of
//     animation SCENE NAME [loop=] [sceneflags=] [flags=] [blend=]
//     event ANIMATION EVENT [item=] [start=] [end=]
//   end                               NAME + suffix, from these lines
//   mesh NAME SHAPE [...]             a LightWave object (shapes.h); a surface's
//                                     texture= picture is read from "pc" below
//                                     the object's folder, as are the frames of
//                                     its sequence=PREFIX##SUFFIX:FIRST-LAST
//                                     (a "#" per figure: the last ones of the
//                                     number in 8 figures, as the game names
//                                     them; below 0 they count down)
//   scene NAME [fps=] [frames=] [configs=FOLDER]   a LightWave scene from
//     object FILE | null NAME | light NAME | camera NAME | character MODEL
//                                     the item lines up to "end"
//   end
//
// Checks made once every command ran: each file is written once (names
// compared as the file layer compares them, without regard to case); every
// picture a mesh's surface names, every object a scene loads, every scene
// an animation set plays, every logo picture and every movie exists in the
// stage; with configs=FOLDER every
// object and null of the scene (but the player starts) has its compiled
// configuration "FOLDER\<item>.cfg" ("entity_<X>" items: "<X>.cfg").
#pragma once

#include <string>

// Builds the stage. 0 with error set, "FILE:LINE: what" for a fault in a
// recipe or a source it names; the stage is left as it was then.
int DemoData_Build(const std::string& sources, const std::string& stage, std::string* error);
