// Views: a camera of the graphics engine drawing into a rectangle of the
// main frame buffer (split-screen viewports, the HUD pass and the back-dome
// pass are each a view). This module holds the View record, the projection
// of node points into a view, and the graphics world that views' cameras
// and render objects' atomics go into.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct Camera;
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
