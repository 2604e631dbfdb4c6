// Direct3D 8 lighting: before each atomic or world sector is drawn, the
// engine lights that reach it become device lights. Ambient lights are summed
// into one colour (read by D3D8_SetMaterialFromColor), directional world
// lights and positional lights near the object become device lights with
// stable indices, and a commit enables this object's lights and disables the
// previous object's that are not needed now.
//
// Each light keeps its device index in a light extension; a destroyed light's
// index is recycled before a never-used one.
#pragma once
#include <cstdint>

struct Atomic;
struct Light;
struct WorldSector;

enum : uint32_t { D3D8_PLUGIN_LIGHTS = 0x505 };

// The light extension.
struct D3D8LightData {
    int32_t index;         // device light index; -1 until first used
    float attenuation[3];  // constant, linear (/ radius), quadratic (/ radius^2); 1, 0, 5
};

D3D8LightData* D3D8Lights_GetData(Light* light);
// Registers the light extension; 1 or 0.
int32_t D3D8Lights_RegisterExtension(void);
int32_t D3D8Lights_PluginAttach(void);

// Tables opened and closed with the atomic pipeline. Open reads
// MaxActiveLights (0 = unlimited). 1, or 0 on no memory.
int32_t D3D8Lights_Open(void);
void D3D8Lights_Close(void);

// Sums the ambient lights and sets the directional lights of the current
// world whose flags share a bit with mask; 1 when any light matched.
int32_t D3D8Lights_SetWorldLights(uint32_t mask);
int32_t D3D8Lights_SetDirectional(Light* light);
// A point or spot light as a device light; 0 for a radius of 0 or another kind.
int32_t D3D8Lights_ConvertLight(Light* light);
// Enables this object's lights (clamped to the maximum) and disables the
// previous object's others; enable 0 turns lighting off and nothing else.
void D3D8Lights_Commit(int32_t enable);

// Node lighting callbacks.
void D3D8WorldSectorNode_Lighting(void* sector);
void D3D8AtomicNode_Lighting(void* atomic);

// For tests: the indices enabled for the last object, and the ambient sum.
int32_t D3D8Lights_GetEnabled(const int32_t** indices);
void D3D8Lights_GetAmbient(float rgb[3]);
