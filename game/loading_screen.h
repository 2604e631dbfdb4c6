// The loading screen: while the engine loads data (a level, the front end),
// the file layer's progress callback draws the loading image over the whole
// screen, a frame, a progress bar (or, without a bar sprite, a moving
// indicator of five pieces) and the loading text file.
//
// "Load.dat" (read by the game's set-up) names the images and the sprites:
//   Images    LoadingScreenMain (image 0), LoadingScreen01..16 (1..16),
//             LoadingScreenBoss1, LoadingScreenBoss2 (17, 18); LoadingFrame,
//             LoadingBar, LoadingIndicator (sprites); LoadingFramePos,
//             LoadingFrameSize, LoadingBarPos, LoadingBarSize ("x, y")
//   DataSize  bytes expected per loading type: FrontEndLoadingType_Initial
//             (type 0), _FrontEnd (1), _1 (2), _2 (3), _3 (4)
//   UserData  GameMaxPlayers (4 when missing)
// The bar shows the bytes counted since LoadingScreen_Begin against the
// type's DataSize; without a DataSize there is no bar (never a division by
// zero), and a bar narrower than 9 pixels has no room for the indicator.
//
// The progress callback draws nothing while a camera update is open (a
// state's load callback runs inside one, and a scene cannot be nested).
#pragma once

#include <cstdint>

#include "game/text_file.h"

struct Sprite;

constexpr int LOADING_IMAGES = 19;
constexpr int LOADING_TYPES = 5;
constexpr int LOADING_NAME = 256;
constexpr int LOADING_PIECES = 5;  // of the moving indicator
constexpr const char* LOADING_TEXT_FILE = "Language\\Quillomere\\English\\Loading.tdf";

// Rectangles of one progress frame on the 640 x 480 virtual screen.
struct LoadingLayout {
    float bar[4];                        // x, y, w, h; w 0 draws no bar
    float pieces[LOADING_PIECES][4];     // the indicator's pieces
    int pieceCount;                      // 0 or 5
};

struct LoadingScreen {
    char images[LOADING_IMAGES][LOADING_NAME];  // "" where Load.dat names none
    char frameName[LOADING_NAME];
    char barName[LOADING_NAME];
    char indicatorName[LOADING_NAME];
    Sprite* frame;        // owned
    Sprite* bar;          // owned
    Sprite* indicator;    // owned
    float framePos[2], frameSize[2];
    float barPos[2], barSize[2];
    uint32_t dataSize[LOADING_TYPES];
    TextFile text;        // the loading text
    Sprite* current;      // the loading image (owned)
    int32_t currentIndex; // the image shown (-1 before the first)
    uint32_t type;        // current loading type
    float counter;        // bytes counted since LoadingScreen_Begin
    uint32_t drawn;       // progress frames drawn (for tests)
    uint32_t loadEnded;   // LoadingScreen_End ran and no load was announced since
                          // (Begin or SetImage): the fade draws no loading text
};

// The module record (never null).
LoadingScreen* LoadingScreen_Get(void);

// Installs LoadingScreen_Draw as the file layer's progress callback, stores
// the loading type and zeroes the counter. LoadingScreen_End stops the
// progress reports.
void LoadingScreen_Begin(uint32_t type);
void LoadingScreen_End(void);
// The progress callback: one frame of the loading image, frame, bar or
// indicator and loading text, presented at once. Nothing while a camera
// update is open (a load inside a state's load callback).
void LoadingScreen_Draw(uint32_t elapsedMs, float bytes, void* arg);
// Makes image n current, unless it is current already and force is 0: the
// current sprite is released and image n loaded; when it can't be loaded,
// image 0 (and 0 becomes current); when that fails too, a 2 x 2 black
// sprite. An index without an image name (outside 0..18 among them)
// releases the current sprite and loads nothing.
void LoadingScreen_SetImage(int32_t index, int force);
// Draws the white overlay (with background), the loading image at alpha
// min(1, 4 max(0, time)) and the loading text faded alike, in the section of
// the image's index. The text is left out once LoadingScreen_End has run
// and until the next load is announced (LoadingScreen_Begin or
// LoadingScreen_SetImage): a loaded level's continue page shows the image
// without "loading". 1 when the fade has reached its end: 4 x time at 1 or
// more fading in, at 0 or less fading out.
int LoadingScreen_DrawFade(int background, float time, int fadeIn);
// Loads the frame, bar and indicator sprites that Load.dat names.
void LoadingScreen_LoadSprites(void);
// Releases every sprite and the loading text.
void LoadingScreen_Free(void);

// Reads "Load.dat" into the record and GameMaxPlayers into the game, and
// loads the loading text. A missing file or key keeps its default.
void LoadingScreen_LoadData(const char* loadDat);

// Counts bytes into the counter and lays one progress frame out: the bar
// (counter capped at the type's DataSize) or, without a bar sprite but with
// an indicator, the five moving pieces. Used by the progress callback.
LoadingLayout LoadingScreen_Advance(float bytes);

// The loading-screen index of level-list entry n: 0 for an entry that ends
// the list; else "loadingScreenIndex" of section "game", group "Level" of
// "levels\<entry>", 0 when the file or the key is missing.
int32_t Level_GetLoadingScreenIndex(int entry);
