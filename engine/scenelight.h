// Scene lights: a graphics-engine light with a Node that places it and a
// graphics frame that carries the node's world matrix to the light
// (SceneLight_UpdateAll, once per rendered view). A light adds to the world
// only while enabled. Light items of a scene become scene lights through
// Scene_CreateLights; playback then drives their intensity.
//
// The graphics light only reaches geometry that asks for lighting (format
// bit 0x20).
#pragma once

#include <cstdint>

struct Frame;
struct Light;
struct List;
struct Node;
struct Scene;

// Kinds and the graphics light each makes.
enum : uint32_t {
    SCENELIGHT_AMBIENT = 0,    // 2
    SCENELIGHT_POINT = 1,      // 128
    SCENELIGHT_SPOT = 2,       // 129
    SCENELIGHT_SOFT_SPOT = 3,  // 130
    SCENELIGHT_DIRECTIONAL = 4,  // 1
};

struct SceneLight {
    uint32_t enabled;
    uint32_t kind;
    Light* light;
    Frame* frame;
    Node* node;      // owned
    float red, green, blue;  // 0..1
    float alpha;
    float intensity;
    float multiplier;
};

// The pool of lights (capacity set by the caller before the first). The
// shut-down prints "Light Count: N" with the lights still alive, so a
// leaked light shows at exit.
int SceneLight_Init(void);
void SceneLight_Shutdown(void);
List* SceneLight_GetPool(void);
uint32_t SceneLight_GetCount(void);

// A disabled white light of the kind on a new node under parent (radius 10,
// cone pi / 4); null for another kind or when a pool or the engine refuses.
SceneLight* SceneLight_Create(Node* parent, uint32_t kind);
// A light like source (colour, alpha, intensity, multiplier, radius, cone,
// enabled) on a new node under parent.
SceneLight* SceneLight_Clone(const SceneLight* source, Node* parent);
// Destroys the node, takes the light out of the world, destroys frame and
// light. Null is ignored.
void SceneLight_Destroy(SceneLight* light);
// Adds to (on) or removes from the view world; only a change does anything.
void SceneLight_SetEnabled(SceneLight* light, int on);
// Colour bytes; the graphics colour becomes (r, g, b, 1) / 255.
void SceneLight_SetColour(SceneLight* light, uint8_t r, uint8_t g, uint8_t b);
// The graphics colour becomes colour x intensity x multiplier.
void SceneLight_SetIntensity(SceneLight* light, float intensity);
void SceneLight_SetMultiplier(SceneLight* light, float multiplier);
void SceneLight_SetRadius(SceneLight* light, float radius);
float SceneLight_GetRadius(const SceneLight* light);
// 0 when the graphics light refuses the angle (above pi / 2).
int SceneLight_SetConeAngle(SceneLight* light, float radians);
float SceneLight_GetConeAngle(const SceneLight* light);
// Copies every light's node world matrix into its frame.
void SceneLight_UpdateAll(void);

// The scene's lights from its light items (type 0 distant, 1 point, 2 spot;
// another type, or a colour with a zero channel once scaled by the
// intensity, leaves the slot empty), all enabled. 0 when memory runs out.
int Scene_CreateLights(Scene* scene);
void Scene_SetLightsEnabled(Scene* scene, int on);
// One clone of each of source's lights on instance's node of the same item.
int Scene_CloneLights(Scene* instance, const Scene* source);
// Destroys the scene's lights and their array.
void Scene_DestroyLights(Scene* scene);
