#include "gfx/toolkit/anim/anim.h"

#include <cstring>

#include "common/assert.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"

namespace {

// The registry lives for the whole program: schemes registered by one engine
// open stay for the next.
struct SchemeRegistry {
    AnimScheme schemes[ANIM_MAX_SCHEMES];
    int32_t count;
};

SchemeRegistry sRegistry;

void Raise(uint32_t code)
{
    const ErrorRecord e = {(int32_t)PLUGIN_ANIM_TOOLKIT, (int32_t)code};
    Error_Set(&e);
}

}  // namespace

int32_t AnimScheme_Register(const AnimScheme* scheme)
{
    HELM_ASSERT(scheme);
    if (sRegistry.count >= (int32_t)ANIM_MAX_SCHEMES) {
        Raise(ANIM_ERR_REGISTRY_FULL);
        return 0;
    }
    if (AnimScheme_Get(scheme->typeId)) {
        Raise(ANIM_ERR_DUPLICATE_SCHEME);
        return 0;
    }
    sRegistry.schemes[sRegistry.count++] = *scheme;
    return 1;
}

const AnimScheme* AnimScheme_Get(int32_t typeId)
{
    for (int32_t i = 0; i < sRegistry.count; i++)
        if (sRegistry.schemes[i].typeId == typeId) return &sRegistry.schemes[i];
    return nullptr;
}

int32_t AnimScheme_Count(void) { return sRegistry.count; }

AnimInterpolator* Interpolator_Create(int32_t numNodes, int32_t keyFrameSize)
{
    HELM_ASSERT(numNodes >= 0 && keyFrameSize >= 0);
    const size_t bytes = sizeof(AnimInterpolator) + (size_t)numNodes * (size_t)keyFrameSize;
    AnimInterpolator* in = (AnimInterpolator*)Engine_Malloc(bytes);
    if (!in) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(in, 0, sizeof(AnimInterpolator));
    in->reserved6 = -1.0f;
    in->maxKeyFrameSize = keyFrameSize;
    in->currentKeyFrameSize = keyFrameSize;
    in->reserved11 = -1;
    in->numNodes = numNodes;
    in->parent = in;
    return in;
}

void Interpolator_Destroy(AnimInterpolator* interpolator)
{
    if (interpolator) Engine_Free(interpolator);
}
