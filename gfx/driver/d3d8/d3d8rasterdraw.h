// Direct3D 8 raster drawing: clearing and drawing into the current context
// raster (standard function 11 sets it), and showing a camera raster.
#pragma once

#include <cstdint>

struct Raster;
struct RasterRect;

// Clear a rectangle of (RasterRect) or the whole current context raster to a
// pixel value in the context's format.
int32_t D3D8_RasterClearRect(void*, void* rect, int32_t value);
int32_t D3D8_RasterClear(void*, void*, int32_t value);
// Draw a raster into the current context at a RasterPoint (with blending,
// or fast without), or scaled into a RasterRect.
int32_t D3D8_RasterRender(void* raster, void* point, int32_t);
int32_t D3D8_RasterRenderScaled(void* raster, void* rect, int32_t);
int32_t D3D8_RasterRenderFast(void* raster, void* point, int32_t);
// Present a camera raster (flags bit 0: wait for the vertical retrace; a
// change resets the device).
int32_t D3D8_RasterShow(void* raster, void* window, int32_t flags);
// Draws source as a textured quad into the camera or camera-texture context
// at area (its size, or area's when scaled), blending by source alpha.
int32_t D3D8_RasterRenderQuad(Raster* source, const RasterRect* area, int32_t scaled, int32_t blend);
