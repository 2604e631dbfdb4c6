#include "gfx/driver/d3d8/d3d8rasterseam.h"

#include "gfx/driver/d3d8/d3d8renderstate.h"

namespace {
D3D8DeviceState sState = {};
}

D3D8DeviceState *D3D8_DeviceState(void) { return &sState; }

void D3D8_UnbindRasterFromStages(IDirect3DBaseTexture8 *texture)
{
    if (!sState.device || !texture) return;
    // The stage cache forgets the raster; the device loop below also clears
    // stages that were set on the device directly.
    D3D8_ForgetStageTexture(texture);
    for (uint32_t stage = 0; stage < 8; stage++) {
        IDirect3DBaseTexture8 *bound = nullptr;
        if (sState.device->GetTexture(stage, &bound) < 0 || !bound) continue;
        if (bound == texture) sState.device->SetTexture(stage, nullptr);
        bound->Release();
    }
}

