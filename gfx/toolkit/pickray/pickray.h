// Camera pick ray: a pixel of a camera's frame buffer as a world-space line
// segment from the near clip plane to the far clip plane.
//
// The camera keeps its eight frustum corners in world space (near 0-3, far
// 4-7; corner 0 -> 1 and 3 -> 2 run along the raster's x axis, edge 0-1 ->
// 3-2 along its y axis). The pixel is turned into fractions of the raster's
// width and height and the corners are interpolated bilinearly, so the line
// follows the camera's projection, view window and view offset exactly.
#pragma once
#include <cstdint>

#include "common/maths.h"

struct Camera;

// A line segment.
struct Line {
    Vec3 start;
    Vec3 end;
};

// The line through pixel (x, y) of the camera's frame buffer, in raster
// pixels (not clamped: pixels outside the raster extrapolate linearly).
// Returns the camera, or null with 0x80000016 when the camera has no frame
// buffer or one of zero width or height (line untouched). The corners are
// those of the camera's last frame synchronisation.
const Camera* Camera_CalcPixelRay(const Camera* camera, Line* line, const Vec2* pixel);
