#include "gfx/core/im3d.h"

#include "common/assert.h"

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/pipeline.h"

namespace {

enum : int32_t { kPrimTypes = 6 };

struct Im3DGlobals {
    Pipeline *transform;                // current transform pipeline
    Pipeline *render[kPrimTypes];       // current render pipeline per type 1-6
    Pipeline *defaultTransform;
    Pipeline *defaultRender;            // of types 1-5
    Im3DBatch batch;                    // the open batch and its render record
    uint32_t open;                      // a batch is open
};

// A compiled one-node pipeline for the immediate-mode plugin (word 1).
Pipeline *MakePipeline(PipelineNodeDefinition *definition)
{
    Pipeline *pipeline = Pipeline_Create();
    if (!pipeline) return nullptr;
    pipeline->pluginId = 1;
    if (!Pipeline_BeginEdit(pipeline) || !Pipeline_AddNodeChain(pipeline, nullptr, definition, (PipelineNodeDefinition *)nullptr) ||
        !Pipeline_Compile(pipeline)) {
        Pipeline_Destroy(pipeline);
        return nullptr;
    }
    return pipeline;
}

// Process-wide: where the engine placed the globals, and the driver's nodes.
struct Im3DModule {
    int32_t offset;  // -1 while the module is not open
    Im3DDriver driver;
};

Im3DModule sModule = {-1, {}};

Im3DGlobals *Globals(void)
{
    return sModule.offset >= 0 && g_engineInstance ? (Im3DGlobals *)Engine_ModuleGlobals(sModule.offset) : nullptr;
}

int32_t Render(int32_t primType, const uint16_t *indices, uint32_t count)
{
    Im3DGlobals *g = Globals();
    if (!g || !g->open) {
        Error_Raise(ERR_IM3D_NO_BATCH);
        return 0;
    }
    Pipeline *pipeline = primType >= 1 && primType <= kPrimTypes ? g->render[primType - 1] : nullptr;
    if (!pipeline) {
        Error_Raise(ERR_BAD_PRIMITIVE);
        return 0;
    }
    g->batch.primType = primType;
    g->batch.indices = indices;
    g->batch.indexCount = indices ? count : 0;
    return Pipeline_Execute(pipeline, &g->batch, 0) != nullptr;
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
    if (!g->transform || !Pipeline_Execute(g->transform, &g->batch, 1)) {
        g->batch = Im3DBatch{};
        return nullptr;
    }
    g->open = 1;
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

int32_t Im3D_InstallModule(const Im3DDriver *driver)
{
    HELM_ASSERT(driver && driver->transformNode && driver->renderNode);
    if (!driver) return 0;
    sModule.driver = *driver;
    return Engine_SetCoreModule(MODULE_IM3D, (int32_t)sizeof(Im3DGlobals), Im3D_ModuleOpen, Im3D_ModuleClose);
}

Pipeline *Im3D_SetTransformPipeline(Pipeline *pipeline)
{
    Im3DGlobals *g = Globals();
    if (!g) return nullptr;
    g->transform = pipeline ? pipeline : g->defaultTransform;
    return g->transform;
}

Pipeline *Im3D_SetRenderPipeline(Pipeline *pipeline, int32_t primType)
{
    Im3DGlobals *g = Globals();
    if (!g) return nullptr;
    if (primType < 1 || primType > kPrimTypes) {
        Error_Raise(ERR_BAD_PRIMITIVE);
        return nullptr;
    }
    Pipeline *fallback = primType == kPrimTypes ? nullptr : g->defaultRender;
    g->render[primType - 1] = pipeline ? pipeline : fallback;
    return g->render[primType - 1];
}

void *Im3D_ModuleOpen(void *instance, int32_t offset, int32_t)
{
    sModule.offset = offset;
    Im3DGlobals *g = Globals();
    *g = Im3DGlobals{};
    const Im3DDriver &driver = sModule.driver;
    g->defaultTransform = driver.transformNode ? MakePipeline(driver.transformNode) : nullptr;
    g->defaultRender = driver.renderNode ? MakePipeline(driver.renderNode) : nullptr;
    if (!g->defaultTransform || !g->defaultRender || (driver.open && !driver.open())) {
        Im3D_ModuleClose(instance, offset, 0);
        return nullptr;
    }
    g->transform = g->defaultTransform;
    for (int32_t type = 1; type < kPrimTypes; type++) g->render[type - 1] = g->defaultRender;
    return instance;
}

void *Im3D_ModuleClose(void *instance, int32_t, int32_t)
{
    Im3DGlobals *g = Globals();
    if (g) {
        if (g->defaultTransform) Pipeline_Destroy(g->defaultTransform);
        if (g->defaultRender) Pipeline_Destroy(g->defaultRender);
        *g = Im3DGlobals{};
    }
    if (sModule.driver.close) sModule.driver.close();
    sModule.offset = -1;
    return instance;
}
