#include "gfx/core/renderstate.h"

#include "gfx/core/engine.h"
#include "gfx/core/error.h"

int32_t RenderState_Set(int32_t state, void *value)
{
    EngineInstance *inst = Engine_Instance();
    if (!inst || !inst->currentCamera) {
        Error_Raise(ERR_NO_CAMERA_UPDATE);
        return 0;
    }
    return inst->device.setRenderState ? inst->device.setRenderState(state, value) : 0;
}

int32_t RenderState_Get(int32_t state, void *value)
{
    EngineInstance *inst = Engine_Instance();
    return inst && inst->device.getRenderState ? inst->device.getRenderState(state, value) : 0;
}
