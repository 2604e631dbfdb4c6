// The level's viewports: one per player, each with three views over one
// rectangle of the screen (the back dome, the world and the HUD), a camera
// frame node (the 3D-sound listener of the viewport) and a HUD frame node,
// and 20 screen texts drawn over the HUD.
//
// A frame of one viewport: the viewport callback (the entities' view masks),
// then the back-dome view, cleared (image and depth) whether or not a dome
// is loaded and drawn from the camera frame's orientation; then the world
// view, its depth cleared when the level asks for it, drawn by the player's
// render hook (without one, the level's node tree from the camera frame);
// then the HUD view, cleared depth only (all three share one rectangle, so
// an image clear would erase the world), its HUD frame's tree and the
// screen texts. With exactly three viewports the fourth quarter shows the
// filler image "Screen_Filler24.bmp", or black without it.
//
// Screen texts are per frame: each draw clears them, so their owners add
// them again every frame.
#pragma once

#include <cstdint>

#include "game/level_session.h"

struct Font;
struct Node;
struct View;

// The rectangle (x, y, width, height as screen fractions) of viewport v
// among n: one whole; two stacked; three in three quarters; four quarters.
// 0 for a count outside 1..4 or v outside it.
int Level_GetViewportRect(int count, int v, float* rect);

// Creates the three views of every viewport over its rectangle (back dome
// with the back-dome clips, world and HUD with the world clips), each with
// the context's aspect, a field of view of 0.55 and the fog settings (the
// fog colour as the level file packs it), and the camera and HUD frame
// nodes; the camera frame becomes the viewport's sound listener. 1, or 0
// with every viewport freed again when a view or node can't be made.
int Level_SetupViewports(uint32_t fogType, uint32_t fogColour, float fogDistance, float fogDensity);
// Destroys every viewport's views, nodes and screen texts and clears the
// sound listeners; the records keep their rectangles.
void Level_FreeViewports(void);
// Loads the back dome: when the path is empty or another than the one
// loaded, the old dome goes and, for a non-empty path, its nodes are made
// and the scene loaded (a failed load removes them again). Then the scene
// node takes the position and scale offsets. fog: the scene's meshes load
// with the mesh loader's fog flag (Mesh_SetFog), which is put back after.
void Level_LoadBackDome(const char* path, int fog);
// Releases the back dome's scene and nodes.
void Level_FreeBackDome(void);
// Draws every viewport (see above).
void Level_UpdateViewports(void);

// The views and frames of the player's viewport; null without one.
View* Viewport_GetWorldView(int player);
View* Viewport_GetBackDomeView(int player);
View* Viewport_GetHudView(int player);
Node* Viewport_GetCameraFrame(int player);
// The camera frame of the player drawn in viewport 0, whichever slot that
// is; null without one.
Node* Viewport_GetFirstCameraFrame(void);
Node* Viewport_GetHudFrame(int player);
// The player's camera frame placed and turned as the camera node is (a
// scene's camera); nothing for a player without a view.
void Viewport_LookFrom(int player, Node* camera);
void Viewport_SetWorldView(int player, View* view);
void Viewport_SetBackDomeView(int player, View* view);
void Viewport_SetHudView(int player, View* view);
void Viewport_SetCameraFrame(int player, Node* node);
void Viewport_SetHudFrame(int player, Node* node);
// The rectangle of viewport v (0..3), as screen fractions; 0 out of range.
int Viewport_GetRect(int viewport, float* rect);
void Viewport_SetRect(int viewport, const float* rect);

// Puts a text in a slot of a viewport for the next draw: its screen
// position is x = (viewport x + viewport width x position x) x 640 and y
// likewise with 480; a centred text moves left by half its width at its
// size; without a colour it is opaque white (packed a, r, g, b). The text
// stays whole inside the viewport: moved in from an edge it would cross, and
// drawn smaller when it is wider or taller than the viewport. 0 for a
// missing text, position or font, a viewport out of range or a slot of 20
// or more.
int Level_AddScreenText(Font* font, int viewport, int slot, const char* text, const Vec2* position, float size,
                        const uint32_t* colour, int centred);
// The box a text added since the last draw fills (left, top, right,
// bottom in virtual pixels: its width, and its glyphs' height about the base
// line); 0 while the slot holds no text to draw, or an empty one.
int Level_GetScreenTextBox(int viewport, int slot, float* box);
// Keeps texts apart: 1 when the text in `slot`, as drawn, meets one of the
// texts in the slots `others` (those added since the last draw) and a move
// along y takes it off all of them (a gap of 2 pixels) inside the viewport:
// the text is moved to the nearest such place, and *y is its position there
// (a fraction of the viewport's height, as Level_AddScreenText takes it).
// 0 (nothing moved or written) when it meets none of them, when no move
// clears it, or for a slot without text.
int Level_ScreenTextClearance(int viewport, int slot, const int* others, int count, float* y);
// Draws the session's blank sprite at (0, 0) 10 x 10, then the texts added
// since the last draw, and forgets them.
void Level_DrawScreenTexts(int viewport);

// The world views' render callback: draws and empties the two line batches
// (the second without the depth test, which is switched on again after).
void Viewport_RenderCallback(View* view, Node* cameraNode, void* arg);
// Adds a world-space line to the batch drawn with (depthTested 1) or without
// the depth test at the next world-view render. 0 when the batch is full.
int EntityEffects_AddLine(const Vec3* from, const Vec3* to, uint32_t colour, int depthTested);
// Draws and empties both batches (the render callback's work).
void EntityEffects_FlushLines(void);
