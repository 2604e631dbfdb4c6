#include "gfx/world/pipelines.h"

#include "gfx/core/engine.h"
#include "gfx/world/atomic.h"
#include "gfx/world/d3d8pipelines.h"
#include "gfx/world/world.h"

namespace {

// The defaults live from the world module's open to its close; a null
// setting returns to the built-in pipeline the driver registered.
struct DefaultPipelines {
    Pipeline* builtInAtomic;
    Pipeline* builtInSector;
    Pipeline* atomic;
    Pipeline* sector;
};

DefaultPipelines sPipes;

}  // namespace

void Pipeline_SetDefaultAtomicPipeline(Pipeline* pipeline)
{
    sPipes.atomic = pipeline ? pipeline : sPipes.builtInAtomic;
}

void Pipeline_SetDefaultWorldSectorPipeline(Pipeline* pipeline)
{
    sPipes.sector = pipeline ? pipeline : sPipes.builtInSector;
}

Pipeline* Pipeline_GetDefaultAtomicPipeline(void) { return sPipes.atomic; }
Pipeline* Pipeline_GetDefaultWorldSectorPipeline(void) { return sPipes.sector; }
void Pipeline_SetBuiltInAtomicPipeline(Pipeline* pipeline) { sPipes.builtInAtomic = pipeline; }
void Pipeline_SetBuiltInWorldSectorPipeline(Pipeline* pipeline) { sPipes.builtInSector = pipeline; }

Pipeline* Atomic_GetRenderPipeline(const Atomic* atomic) { return atomic->pipeline ? atomic->pipeline : sPipes.atomic; }

Pipeline* WorldSector_GetRenderPipeline(const WorldSector* sector)
{
    if (sector->pipeline) return sector->pipeline;
    const World* world = (const World*)Engine_Instance()->currentWorld;
    if (world && world->pipeline) return world->pipeline;
    return sPipes.sector;
}

int32_t WorldPipes_Open(void)
{
    if (!Pipeline_CreateAtomicD3D8()) return 0;
    if (!Pipeline_CreateWorldSectorD3D8()) {
        Pipeline_DestroyAtomicD3D8();
        return 0;
    }
    return 1;
}

void WorldPipes_Close(void)
{
    Pipeline_DestroyWorldSectorD3D8();
    Pipeline_DestroyAtomicD3D8();
}
