#include "gfx/driver/d3d8/d3d8rasterseam.h"

#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"

namespace {
D3D8DeviceState sState = {};
int32_t sVSync = 0;
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

int32_t D3D8_SeamInScene(void) { return 0; }
void D3D8_SeamEndScene(void) {}
int32_t D3D8_SeamGetVSync(void) { return sVSync; }
int32_t D3D8_SeamSetVSync(int32_t wait)
{
    sVSync = wait ? 1 : 0;
    return 1;
}

// The device system's full release, Reset and restore procedure stands here
// once it exists; until then a lost device stays lost.
int32_t D3D8_SeamResetDevice(void) { return 0; }

int32_t D3D8_RasterRenderQuad(Raster *, const RasterRect *, int32_t, int32_t)
{
    D3D8_RaiseMessage("SRC, DST Raster render combination not supported");
    return 0;
}
