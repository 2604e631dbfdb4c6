// Software rasteriser: placeholder entry until the pipeline lands.
#include "platform/direct3d/d3d8_raster.h"

int D3D8Raster_Draw(const D3D8DrawState* state) { return state ? 1 : 0; }

void D3D8Raster_Shutdown() {}
