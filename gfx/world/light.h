// Lights: frame-linked objects with a kind, a colour, a radius and, for cone
// lights, a cone angle.
//
// Kinds of 128 and above are positional: in a world they sit in the local
// light list and are tied to the sectors their radius reaches. The others
// (directional, ambient) are global and light everything. The Direct3D 8
// lighting turns them into device lights per drawn object.
#pragma once
#include <cstdint>

#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/plugin.h"

enum : uint32_t { MODULE_LIGHT = 0x505 };

enum : uint8_t {
    LIGHT_DIRECTIONAL = 1,
    LIGHT_AMBIENT = 2,
    LIGHT_POSITIONAL_FIRST = 128,
    LIGHT_POINT = 128,
    LIGHT_SPOT = 129,
    LIGHT_SOFT_SPOT = 130,
};

// Light flags (object header flags byte).
enum : uint8_t {
    LIGHT_LIGHT_ATOMICS = 0x01,
    LIGHT_LIGHT_WORLD = 0x02,
};

// Private flags.
enum : uint8_t { LIGHT_PRIVATE_GREY = 0x01 };

struct LightColour {
    float red, green, blue, alpha;
};

struct Light {
    FrameLinkedObject object;  // type 3, subType = kind, flags LIGHT_*
    float radius;              // 0 at creation
    LightColour colour;        // 1 each at creation
    float minusCosAngle;       // -cos(cone angle); 1.0 at creation (cone angle pi)
    EngineLink sectorTies;     // SectorTie.inObject of the sectors it reaches
    EngineLink inWorld;        // in the world's local or global light list; null links when in none
    uint16_t lightFrame;       // visit stamp of the device lighting
    // registered extensions follow at their offsets
};

// Null when the free list is out of entries or a constructor fails.
Light* Light_Create(uint8_t kind);
// Extension destructors (which take a light still in a world out of it),
// frame released, record freed. Returns 1.
int32_t Light_Destroy(Light* light);
Light* Light_SetRadius(Light* light, float radius);
Light* Light_SetColour(Light* light, const LightColour* colour);
// Null (nothing changed) for a negative or NaN angle or one above 1.5707964.
Light* Light_SetConeAngle(Light* light, float angle);
// The arc cosine of -minusCosAngle, with the engine's table square roots.
float Light_GetConeAngle(const Light* light);
inline uint8_t Light_GetType(const Light* light) { return light->object.header.subType; }
inline Frame* Light_GetFrame(const Light* light) { return FrameObject_GetFrame(&light->object); }
inline void Light_SetFrame(Light* light, Frame* frame) { FrameObject_SetFrame(&light->object, frame); }
inline void Light_SetFlags(Light* light, uint8_t flags) { light->object.header.flags = flags; }

int32_t Light_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                             PluginDestructor destructor, PluginCopy copy);
int32_t Light_GetPluginOffset(uint32_t pluginId);
PluginRegistry* Light_GetRegistry(void);

void* Light_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Light_ModuleClose(void* instance, int32_t offset, int32_t size);
