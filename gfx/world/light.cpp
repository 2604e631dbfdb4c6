#include "gfx/world/light.h"

#include <cmath>
#include <cstring>

#include "gfx/core/freelist.h"
#include "gfx/world/worldinternal.h"

using namespace worldinternal;

namespace {

constexpr float kMaxConeAngle = 1.5707964f;

struct LightGlobals {
    FreeList* lights;
};

PluginRegistry sRegistry = PLUGIN_REGISTRY_INIT(sizeof(Light));
int32_t sOffset = -1;

LightGlobals* Globals(void) { return (LightGlobals*)Engine_ModuleGlobals(sOffset); }

FrameLinkedObject* Callback_Identity(FrameLinkedObject* object) { return object; }

// z P(z) / Q(z) of the single-precision arc cosine.
float R(float z)
{
    const float p =
        z * (0.16666667f +
             z * (-0.32556581f + z * (0.20121253f + z * (-0.040055536f + z * (0.000791535f + z * 3.479331e-5f)))));
    const float q = 1.0f + z * (-2.403395f + z * (2.0209458f + z * (-0.688284f + z * 0.077038154f)));
    return p / q;
}

}  // namespace

Light* Light_Create(uint8_t kind)
{
    if (sOffset < 0 || !Globals()->lights) return nullptr;
    Light* light = (Light*)FreeList_Alloc(Globals()->lights);
    if (!light) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(light, 0, (size_t)sRegistry.size);
    light->object.header.type = FRAMEOBJECT_LIGHT;
    light->object.header.subType = kind;
    light->object.header.flags = LIGHT_LIGHT_ATOMICS | LIGHT_LIGHT_WORLD;
    light->object.header.privateFlags = LIGHT_PRIVATE_GREY;
    EngineLink_Init(&light->object.inFrame);
    light->object.sync = Callback_Identity;
    light->colour = LightColour{1.0f, 1.0f, 1.0f, 1.0f};
    light->minusCosAngle = 1.0f;
    EngineLink_Init(&light->sectorTies);
    light->inWorld.next = light->inWorld.prev = nullptr;
    light->lightFrame = (uint16_t)(Engine_Instance()->lightFrame - 1);
    if (!PluginRegistry_RunConstructors(&sRegistry, light)) {
        FreeList_Free(Globals()->lights, light);
        return nullptr;
    }
    return light;
}

int32_t Light_Destroy(Light* light)
{
    HELM_ASSERT(light);
    PluginRegistry_RunDestructors(&sRegistry, light);
    FrameObject_ReleaseFrame(&light->object);
    FreeList_Free(Globals()->lights, light);
    return 1;
}

Light* Light_SetRadius(Light* light, float radius)
{
    light->radius = radius;
    if (Frame* frame = Light_GetFrame(light)) Frame_MarkDirty(frame);
    return light;
}

Light* Light_SetColour(Light* light, const LightColour* colour)
{
    light->colour = *colour;
    light->object.header.privateFlags =
        colour->red == colour->green && colour->red == colour->blue ? LIGHT_PRIVATE_GREY : 0;
    return light;
}

Light* Light_SetConeAngle(Light* light, float angle)
{
    if (!(angle >= 0.0f) || angle > kMaxConeAngle) return nullptr;
    light->minusCosAngle = -cosf(angle);
    return light;
}

// The arc cosine of the single-precision fdlibm algorithm, with the engine's
// table square root (so it matches the lighting code's other lengths, not
// acosf to the last bit).
float Light_GetConeAngle(const Light* light)
{
    const float x = -light->minusCosAngle;
    if (x >= 1.0f) return 0.0f;
    if (x <= -1.0f) return 3.1415927f;
    if (fabsf(x) < 0.5f) {
        if (fabsf(x) <= 6.9388939e-18f) return 1.5707964f;  // 2^-57
        return 1.5707963f - (x - (7.5497894e-08f - x * R(x * x)));
    }
    if (x < 0.0f) {
        const float z = (1.0f + x) * 0.5f;
        const float s = Math_SqrtTable(z);
        const float w = R(z) * s - 7.5497894e-08f;
        return 3.1415925f - 2.0f * (s + w);
    }
    const float z = (1.0f - x) * 0.5f;
    const float s = Math_SqrtTable(z);
    uint32_t bits;
    memcpy(&bits, &s, 4);
    bits &= 0xFFFFF000u;
    float d;
    memcpy(&d, &bits, 4);
    const float k = (z - d * d) / (s + d);
    const float w = R(z) * s + k;
    return 2.0f * (d + w);
}

int32_t Light_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                             PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&sRegistry, size, pluginId, constructor, destructor, copy);
}

int32_t Light_GetPluginOffset(uint32_t pluginId) { return PluginRegistry_GetPluginOffset(&sRegistry, pluginId); }
PluginRegistry* Light_GetRegistry(void) { return &sRegistry; }

void* Light_ModuleOpen(void* instance, int32_t offset, int32_t)
{
    sOffset = offset;
    Globals()->lights = FreeList_CreateEx(sRegistry.size, 32, 16, 1, nullptr);
    return Globals()->lights ? instance : nullptr;
}

void* Light_ModuleClose(void* instance, int32_t, int32_t)
{
    LightGlobals* g = Globals();
    if (g->lights) {
        FreeList_ForAllUsed(
            g->lights, [](void* light, void*) { Light_Destroy((Light*)light); }, nullptr);
        FreeList_Destroy(g->lights);
    }
    g->lights = nullptr;
    return instance;
}

int32_t worldinternal::LightModule_GlobalsSize(void) { return (int32_t)sizeof(LightGlobals); }
