// Views: a camera of the graphics engine drawing into a rectangle of the
// main frame buffer (split-screen viewports, the HUD pass and the back-dome
// pass are each a view). This module holds the View record, the projection
// of node points into a view, and the graphics world that views' cameras
// and render objects' atomics go into.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct Camera;
struct List;
struct Frame;
struct Node;
struct Raster;
struct View;
struct World;

// Called with the view, the camera node the view is drawn from, and the
// argument given with the function.
typedef void (*ViewCallback)(View* view, Node* cameraNode, void* arg);

struct View {
    Frame* frame;          // carries the camera node's world matrix
    Camera* camera;
    Raster* colour;        // sub-raster of the main colour raster
    Raster* depth;         // sub-raster of the main depth raster
    uint16_t width;        // viewport in pixels
    uint16_t height;
    float aspect;          // height over width; 0.75 by default; negative mirrors the view
    float fov;             // radians; 0.5 by default
    ViewCallback preRender;
    void* preRenderArg;
    ViewCallback postRender;
    void* postRenderArg;
    uint8_t clearColour[4];  // r, g, b, a: 0, 96, 144, 255 by default
    int32_t fogChanged;
    uint32_t fogType;
    uint32_t fogColour;    // stored with red and blue swapped
    float fogDensity;
    float nearClip;
    float farClip;
};

// The world of views and render objects: the one View_Init makes, or the one
// set here (for callers that make their own). May be null.
World* View_GetWorld(void);
void View_SetWorld(World* world);

// Projects the point `offset` of node's frame (null: its origin; a zero z
// becomes 0.1) into the view as seen from cameraNode (null: the view's
// camera frame): out x, y on the 640 x 480 virtual screen, z the view-space
// depth along the camera's at axis. The camera's view window and offset
// shape the projection; a point at depth 0 is taken at a tiny depth.
void View_ProjectPoint(const View* view, Node* cameraNode, Node* node, Vec3* out, const Vec3* offset);

// ---- Views, the main camera and the present ----
//
// The module owns the main camera, whose colour and depth rasters are the
// size of the window (App_GetScreenWidth x App_GetScreenHeight) and are
// presented each frame; every view draws into a rectangle (sub-rasters) of
// them. The main camera is also the 2D toolkit's device camera: its view
// window has a positive x, so 2D drawing between views (sprites, fonts,
// quad batches) maps the screen's pixels. The state stack keeps the main
// camera's update open around each state's load and render
// (View_SetMainUpdating); View_Render suspends it while a view draws.
//
// Rendering a view: scene lights follow their nodes; the view's frame takes
// the camera node's world matrix; its camera's update begins; the render
// objects' frustum and reference node come from this view; the fog states
// are sent (every render: each view draws with its own fog; the render
// objects switch fog on and off per their blend flags); culling is set to
// counter-clockwise (3) for a normal view, clockwise (2) for a mirrored one
// (negative aspect); then the pre-render callback, the node tree from the
// root, the queued transparent objects, the post-render callback and the
// billboards. Afterwards the culling is put back as it was before the view,
// so 2D drawing that follows is not culled, and the main camera's update
// resumes.
//
// Views live from View_Create to View_Destroy or View_Shutdown. Main thread
// only.

// The record's default aspect, field of view, clear colour and fog.
constexpr float VIEW_DEFAULT_ASPECT = 0.75f;
constexpr float VIEW_DEFAULT_FOV = 0.5f;

// Creates the view pool, the main rasters, the main camera on a frame of its
// own, opens the 2D toolkit on it, and creates the world (a box of +-200).
// 1, or 0 when something can't be made (nothing left made).
int View_Init(void);
// Destroys every view, the main camera and its frame, the world and the main
// rasters; the toolkit is left without a camera.
void View_Shutdown(void);
// The view pool (growable; its block size may be fixed before the first view).
List* View_GetPool(void);

// A view drawing into the rectangle (x, y, width, height) of the window,
// with near and far clip distances: a camera on a frame under the
// application's root frame, sub-rasters of the main rasters, the camera in
// the world, the field of view applied, fog type 1, white, distance 5,
// density 0. Null when the rectangle is empty or outside the window, or
// something can't be made (nothing left made).
View* View_Create(int32_t x, int32_t y, int32_t width, int32_t height, float nearClip, float farClip);
// The same with the rectangle as fractions of the window (each product
// truncated).
View* View_CreateFractional(float x, float y, float width, float height, float nearClip, float farClip);
// Takes the camera out of the world, destroys the rasters, camera and frame
// and frees the record. Null is ignored.
void View_Destroy(View* view);
// View_Destroy, then *view = null.
void View_DestroyRef(View** view);

void View_SetFov(View* view, float radians);
float View_GetFov(const View* view);
// aspect = height / width; negative mirrors the view. Applied by
// View_UpdateFov.
void View_SetAspect(View* view, float width, float height);
// The camera's view window: x = (viewport width / height) x tan(fov) /
// aspect x (window height / width) x -0.5, y = tan(fov) x 0.5.
void View_UpdateFov(View* view);
// Camera fog distance, type, colour (0xAARRGGBB, stored with red and blue
// swapped: the level gives its colours as alpha, blue, green, red) and
// density, sent at the next render.
void View_SetFog(View* view, uint32_t type, uint32_t colour, float distance, float density);
// The callback called after the transparent objects (null removes it).
void View_SetRenderCallback(View* view, ViewCallback function, void* arg);
// The callback called before the node tree is drawn (null removes it).
void View_SetPreRenderCallback(View* view, ViewCallback function, void* arg);
// Clears the view's rectangle with its clear colour: image and depth, image
// only, depth only, or nothing.
void View_Clear(View* view, int image, int depth);
// Renders the view from cameraNode (see above). Inside the main camera's
// update or outside it; the main camera's state is the same afterwards.
void View_Render(View* view, Node* root, Node* cameraNode);

// The world-space line through pixel (x, y) of the view's rectangle (raster
// pixels, from its top-left corner), from the near to the far clip plane,
// as seen from cameraNode (null: from where the view was last placed). 1, or
// 0 when no line was made (outputs untouched).
int View_GetPixelRay(View* view, Node* cameraNode, Vec3* start, Vec3* end, const Vec2* pixel);

// Begins (1) or ends (0) the main camera's update; repeated calls change
// nothing.
void View_SetMainUpdating(int on);
int View_IsMainUpdating(void);
// Presents the main colour raster in the application window.
void View_ShowRaster(void);
// The main camera (the 2D toolkit's device camera), or null before View_Init.
Camera* View_GetMainCamera(void);
// Remembers the engine's current video mode.
void View_StoreVideoMode(void);
int32_t View_GetStoredVideoMode(void);
