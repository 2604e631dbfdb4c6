// The software rasteriser behind the Direct3D 8 stand-in: the fixed-function
// pipeline from vertices to pixels. The device validates a draw and calls
// Rasteriser_Draw (declared with the draw record in d3d8_draw.h).
//
// The pipeline is deterministic: one code path for every CPU, flush-to-zero
// (as the driver runs during play) and round-to-nearest set for the duration
// of a draw whatever the caller's floating-point mode, and depth
// computed from positions alone, so identical triangles give bit-identical
// depth whatever their colours, fog or texture coordinates.
#pragma once

#include "platform/direct3d/d3d8_draw.h"

// Releases the scratch memory the rasteriser keeps between draws (it grows
// to the largest draw seen). Drawing again afterwards is allowed.
void Rasteriser_Shutdown();
