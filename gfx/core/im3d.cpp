#include "gfx/core/im3d.h"

#include "gfx/core/engine.h"
#include "gfx/core/error.h"

namespace {

struct Im3DGlobals {
    Im3DBatch batch;
    uint32_t open;  // a batch is open
};

int32_t sOffset = -1;

Im3DGlobals *Globals(void)
{
    return sOffset >= 0 && g_engineInstance ? (Im3DGlobals *)Engine_ModuleGlobals(sOffset) : nullptr;
}

int32_t Render(int32_t primType, const uint16_t *indices, uint32_t count)
{
    Im3DGlobals *g = Globals();
    if (!g || !g->open) {
        Error_Raise(ERR_IM3D_NO_BATCH);
        return 0;
    }
    // Point lists have no render path on this driver.
    if (primType < 1 || primType > 5) {
        Error_Raise(ERR_BAD_PRIMITIVE);
        return 0;
    }
    g->batch.primType = primType;
    g->batch.indices = indices;
    g->batch.indexCount = indices ? count : 0;
    return D3D8_SubmitNoLightNode(&g->batch);
}

}  // namespace

void *Im3D_Transform(void *vertices, uint32_t count, const Matrix *matrix, uint32_t flags)
{
    Im3DGlobals *g = Globals();
    if (!g || !vertices) return nullptr;
    // The count is held in 32 bits: 65536 vertices (indices 0-65535) fit.
    if (count > IM3D_MAX_VERTICES) {
        Error_Raise(ERR_IM3D_VERTICES);
        return nullptr;
    }
    g->batch = Im3DBatch{count, (Im3DVertex *)vertices, sizeof(Im3DVertex), flags | IM3D_ALLOPAQUE | IM3D_NOFOG,
                         matrix, 0, nullptr, 0};
    g->open = 1;
    D3D8_ImmInstanceNode(&g->batch);
    return vertices;
}

int32_t Im3D_RenderPrimitive(int32_t primType) { return Render(primType, nullptr, 0); }

int32_t Im3D_RenderIndexedPrimitive(int32_t primType, const uint16_t *indices, int32_t indexCount)
{
    if (!indices || indexCount <= 0) return Render(primType, nullptr, 0);
    uint32_t count = (uint32_t)indexCount;
    if (primType == 1) count &= ~1u;
    if (primType == 3) count -= count % 3;
    return Render(primType, indices, count);
}

int32_t Im3D_End(void)
{
    Im3DGlobals *g = Globals();
    if (!g || !g->open) return 0;
    g->batch = Im3DBatch{};
    g->open = 0;
    return 1;
}

int32_t Im3D_InstallModule(void)
{
    return Engine_SetCoreModule(MODULE_IM3D, (int32_t)sizeof(Im3DGlobals), Im3D_ModuleOpen, Im3D_ModuleClose);
}

void *Im3D_ModuleOpen(void *instance, int32_t offset, int32_t)
{
    sOffset = offset;
    Im3DGlobals *g = Globals();
    if (g) *g = Im3DGlobals{};
    if (!D3D8_Im3DOpen()) return nullptr;
    return instance;
}

void *Im3D_ModuleClose(void *instance, int32_t, int32_t)
{
    D3D8_Im3DClose();
    D3D8_ImmInstanceNode(nullptr);
    sOffset = -1;
    return instance;
}
