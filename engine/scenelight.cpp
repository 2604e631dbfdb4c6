#include "engine/scenelight.h"

#include <cmath>
#include <cstdio>

#include "app/colour.h"
#include "app/shell.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/node.h"
#include "engine/scene.h"
#include "engine/view.h"
#include "gfx/core/frame.h"
#include "gfx/world/light.h"
#include "gfx/world/worldties.h"

namespace {

struct SceneLightModule {
    List* pool;
    uint32_t count;
};

SceneLightModule g_lights;

int GraphicsType(uint32_t kind)
{
    switch (kind) {
    case SCENELIGHT_AMBIENT: return LIGHT_AMBIENT;
    case SCENELIGHT_POINT: return LIGHT_POINT;
    case SCENELIGHT_SPOT: return LIGHT_SPOT;
    case SCENELIGHT_SOFT_SPOT: return LIGHT_SOFT_SPOT;
    case SCENELIGHT_DIRECTIONAL: return LIGHT_DIRECTIONAL;
    default: return -1;
    }
}

void ApplyColour(SceneLight* l)
{
    const float f = l->intensity * l->multiplier;
    const LightColour c = {l->red * f, l->green * f, l->blue * f, 1.0f};
    Light_SetColour(l->light, &c);
}

int UpdateEach(void* item, void*)
{
    SceneLight* l = (SceneLight*)item;
    Node_GetWorldFrameMatrix(l->node, &l->frame->modelling);
    Frame_MarkDirty(l->frame);
    return 0;
}

// Light kind of a "LightType": distant, point and spot.
int KindOfType(uint32_t type)
{
    switch (type) {
    case 0: return SCENELIGHT_DIRECTIONAL;
    case 1: return SCENELIGHT_POINT;
    case 2: return SCENELIGHT_SOFT_SPOT;
    default: return -1;
    }
}

}  // namespace

int SceneLight_Init(void)
{
    if (!g_lights.pool) g_lights.pool = List_Create(sizeof(SceneLight), 8);
    g_lights.count = 0;
    return g_lights.pool != nullptr;
}

void SceneLight_Shutdown(void)
{
    printf("Light Count: %d\n", (int)g_lights.count);
    List_Destroy(g_lights.pool);
    g_lights.pool = nullptr;
    g_lights.count = 0;
}

List* SceneLight_GetPool(void) { return g_lights.pool; }

uint32_t SceneLight_GetCount(void) { return g_lights.count; }

SceneLight* SceneLight_Create(Node* parent, uint32_t kind)
{
    const int type = GraphicsType(kind);
    if (type < 0) return nullptr;
    SceneLight* l = (SceneLight*)List_Alloc(g_lights.pool);
    if (!l) return nullptr;
    l->kind = kind;
    l->light = Light_Create((uint8_t)type);
    l->node = l->light ? Node_Create(parent) : nullptr;
    l->frame = l->node ? Frame_Create() : nullptr;
    if (!l->frame) {
        Node_Destroy(l->node);
        if (l->light) Light_Destroy(l->light);
        List_Free(g_lights.pool, l);
        return nullptr;
    }
    // Under the application's root frame, when the shell has made one.
    if (Frame* root = App_GetRootFrame()) Frame_AddChild(root, l->frame);
    Light_SetFrame(l->light, l->frame);
    Light_SetFlags(l->light, 0);
    Light_SetRadius(l->light, 10.0f);
    Light_SetConeAngle(l->light, (float)M_PI / 4.0f);
    l->red = l->green = l->blue = l->alpha = 1.0f;
    l->intensity = l->multiplier = 1.0f;
    ApplyColour(l);
    g_lights.count++;
    return l;
}

SceneLight* SceneLight_Clone(const SceneLight* source, Node* parent)
{
    SceneLight* l = SceneLight_Create(parent, source->kind);
    if (!l) return nullptr;
    l->alpha = source->alpha;
    l->multiplier = source->multiplier;
    SceneLight_SetColour(l, (uint8_t)(source->red * 255.0f), (uint8_t)(source->green * 255.0f),
                         (uint8_t)(source->blue * 255.0f));
    SceneLight_SetIntensity(l, source->intensity);
    Light_SetRadius(l->light, source->light->radius);
    Light_SetConeAngle(l->light, Light_GetConeAngle(source->light));
    SceneLight_SetEnabled(l, (int)source->enabled);
    return l;
}

void SceneLight_Destroy(SceneLight* l)
{
    if (!l) return;
    Node_Destroy(l->node);
    SceneLight_SetEnabled(l, 0);
    Light_SetFrame(l->light, nullptr);
    Frame_Destroy(l->frame);
    Light_Destroy(l->light);
    List_Free(g_lights.pool, l);
    g_lights.count--;
}

void SceneLight_SetEnabled(SceneLight* l, int on)
{
    on = on != 0;
    if ((int)l->enabled == on) return;
    l->enabled = (uint32_t)on;
    World* world = View_GetWorld();
    if (on) {
        Light_SetFlags(l->light, LIGHT_LIGHT_ATOMICS);
        if (world) World_AddLight(world, l->light);
    } else {
        Light_SetFlags(l->light, 0);
        if (World* in = Light_GetWorld(l->light)) World_RemoveLight(in, l->light);
    }
}

void SceneLight_SetColour(SceneLight* l, uint8_t r, uint8_t g, uint8_t b)
{
    l->red = r / 255.0f;
    l->green = g / 255.0f;
    l->blue = b / 255.0f;
    l->alpha = 1.0f;
    const LightColour c = {l->red, l->green, l->blue, 1.0f};
    Light_SetColour(l->light, &c);
}

void SceneLight_SetIntensity(SceneLight* l, float intensity)
{
    l->intensity = intensity;
    ApplyColour(l);
}

void SceneLight_SetMultiplier(SceneLight* l, float multiplier)
{
    l->multiplier = multiplier;
    ApplyColour(l);
}

void SceneLight_SetRadius(SceneLight* l, float radius) { Light_SetRadius(l->light, radius); }

float SceneLight_GetRadius(const SceneLight* l) { return l->light->radius; }

int SceneLight_SetConeAngle(SceneLight* l, float radians) { return Light_SetConeAngle(l->light, radians) != nullptr; }

float SceneLight_GetConeAngle(const SceneLight* l) { return Light_GetConeAngle(l->light); }

void SceneLight_UpdateAll(void)
{
    if (g_lights.pool) List_ForEach(g_lights.pool, UpdateEach, nullptr);
}

int Scene_CreateLights(Scene* scene)
{
    Scene_DestroyLights(scene);
    if (scene->lightCount <= 0 || scene->firstLight < 0) return 1;
    scene->lights = (SceneLight**)Mem_Calloc((size_t)scene->lightCount * sizeof(SceneLight*), 8);
    if (!scene->lights) return 0;
    for (int32_t i = 0; i < scene->lightCount; i++) {
        const int32_t itemIndex = scene->firstLight + i;
        const SceneRecord& r = scene->records[itemIndex];
        // A type other than distant, point or spot names no kind: the light
        // is left out rather than given another light's kind.
        const int kind = KindOfType(r.lightType);
        if (kind < 0) continue;
        const float intensity = r.lightIntensity;
        const float red = Colour_GetR(r.lightColour) / 255.0f * intensity;
        const float green = Colour_GetG(r.lightColour) / 255.0f * intensity;
        const float blue = Colour_GetB(r.lightColour) / 255.0f * intensity;
        if (red == 0.0f || green == 0.0f || blue == 0.0f) continue;
        Node* node = Scene_GetItemNode(scene, scene->items[itemIndex].nodeIndex);
        SceneLight* l = SceneLight_Create(node, (uint32_t)kind);
        if (!l) continue;
        SceneLight_SetColour(l, Colour_GetR(r.lightColour), Colour_GetG(r.lightColour), Colour_GetB(r.lightColour));
        if (r.lightRange != 0.0f) SceneLight_SetRadius(l, r.lightRange);
        if (kind == SCENELIGHT_SPOT || kind == SCENELIGHT_SOFT_SPOT)
            SceneLight_SetConeAngle(l, r.coneAngle * (1.0f / 360.0f) * 2.0f * (float)M_PI);
        SceneLight_SetIntensity(l, intensity);
        SceneLight_SetMultiplier(l, 1.0f);
        scene->lights[i] = l;
    }
    Scene_SetLightsEnabled(scene, 1);
    return 1;
}

void Scene_SetLightsEnabled(Scene* scene, int on)
{
    for (int32_t i = 0; scene->lights && i < scene->lightCount; i++)
        if (scene->lights[i]) SceneLight_SetEnabled(scene->lights[i], on);
}

int Scene_CloneLights(Scene* instance, const Scene* source)
{
    Scene_DestroyLights(instance);
    if (!source->lights || source->lightCount <= 0) return 1;
    instance->lights = (SceneLight**)Mem_Calloc((size_t)source->lightCount * sizeof(SceneLight*), 8);
    if (!instance->lights) return 0;
    for (int32_t i = 0; i < source->lightCount; i++) {
        if (!source->lights[i]) continue;
        const int32_t itemIndex = source->firstLight + i;
        Node* node = Scene_GetItemNode(instance, instance->items[itemIndex].nodeIndex);
        instance->lights[i] = SceneLight_Clone(source->lights[i], node);
    }
    return 1;
}

void Scene_DestroyLights(Scene* scene)
{
    for (int32_t i = 0; scene->lights && i < scene->lightCount; i++) SceneLight_Destroy(scene->lights[i]);
    Mem_Free(scene->lights);
    scene->lights = nullptr;
}
