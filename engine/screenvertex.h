// The immediate-mode 2D vertex of the graphics engine (28 bytes: screen x
// and y in pixels of the current camera raster, screen z, 1/w, packed
// a r g b colour, u, v), shared by the sprite, font and quad-batch draws.
//
// Screen y points down. Triangles meant to survive the default culling
// (state 20 = 2) are wound counter-clockwise as seen on the screen.
#pragma once

#include <cstdint>

struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t colour;
    float u, v;
};
static_assert(sizeof(ScreenVertex) == 28, "the engine's 2D vertex layout");
