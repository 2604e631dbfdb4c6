// The Direct3D 8 stand-in: the object (adapter, modes, formats, caps, device
// creation), the device and its resources, as the graphics driver calls them.
// Everything draws in software (d3d8_draw.h is the seam to the rasteriser)
// and presents into an SDL window or nowhere (d3d8_present.h).
//
// Reference counting works as the driver expects of Direct3D 8:
//   - Create* and Get* hand out one reference; Release drops it; AddRef adds.
//   - Surfaces owned by a container (the device's back buffer and automatic
//     depth surface, a swap chain's back buffer, a texture's levels) stay
//     alive while the container holds them, even at zero references: the
//     driver releases what GetBackBuffer / GetDepthStencilSurface /
//     GetSurfaceLevel return at once and keeps the pointer. The device's own
//     surfaces live until the next Reset or the device's release. A texture
//     level shares its texture's count: holding a level holds the texture.
//   - The device holds references on what is bound to it (render target,
//     depth surface, textures, stream, indices) until unbound.
//   - A released device unbinds everything, and its memory lives until the
//     last of its resources is released.
// Results: >= 0 success (D3D_OK), < 0 a D3DERR_* code. A failed call leaves
// its out-pointers null and the device as it was.
#pragma once

// Everything the driver codes against.
#include "platform/direct3d/d3d8_device.h"
#include "platform/direct3d/d3d8_object.h"
#include "platform/direct3d/d3d8_resource.h"
#include "platform/direct3d/d3d8_types.h"
