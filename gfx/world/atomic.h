// Atomics and clumps.
//
// An atomic is one drawable instance of a geometry: it hangs on a frame,
// keeps a bounding sphere in local and (lazily) in world space, and is drawn
// by calling its render callback, which executes its pipeline (or the
// default atomic pipeline). Its morph interpolator blends between two morph
// targets of the geometry. A clump groups atomics, lights and cameras under
// one frame; nothing in the program creates one, but clumps are destroyed,
// walked and added to worlds.
#pragma once
#include <cstdint>

#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/plugin.h"
#include "gfx/world/geometry.h"

struct Camera;
struct Clump;
struct Light;
struct Pipeline;
struct ResourceArenaEntry;
struct Stream;
struct Atomic;

enum : uint32_t {
    MODULE_ATOMIC = 0x504,
    CHUNK_ATOMIC = 0x14,
    PLUGIN_CLUMP_LINK = 0x10,
};

// Atomic flags (the object header's flags byte, streamed as is).
enum : uint8_t {
    ATOMIC_COLLISION_TEST = 0x01,  // tied into a sector's first atomic list
    ATOMIC_RENDER = 0x04,
};

// Private flags.
enum : uint8_t { ATOMIC_WORLD_SPHERE_DIRTY = 0x01 };

// Interpolator flags.
enum : uint32_t {
    INTERPOLATOR_DIRTY_INSTANCE = 0x01,  // blend changed since the drawing code instanced
    INTERPOLATOR_DIRTY_SPHERE = 0x02,    // bounding sphere to interpolate
};

struct Interpolator {
    uint32_t flags;  // INTERPOLATOR_*; 3 at creation
    int16_t startMorphTarget;
    int16_t endMorphTarget;
    float time;       // duration, 1.0
    float recipTime;  // 1 / duration
    float position;   // 0 .. time
};

typedef Atomic* (*AtomicRenderCallback)(Atomic* atomic);

struct Atomic {
    FrameLinkedObject object;          // type 1, flags ATOMIC_*, sync Atomic_SyncCallback
    ResourceArenaEntry* instanceData;  // device data (morphing geometry) of the drawing code
    Geometry* geometry;                // owned reference
    Sphere boundingSphere;             // local
    Sphere worldBoundingSphere;        // valid while ATOMIC_WORLD_SPHERE_DIRTY is clear and the frame clean
    Clump* clump;
    EngineLink inClumpLink;
    AtomicRenderCallback renderCallback;
    Interpolator interpolator;
    uint16_t renderFrame;   // stamp of the world ties
    EngineLink sectorTies;  // SectorTie.inObject of the sectors it overlaps
    Pipeline* pipeline;     // not owned; null = the default atomic pipeline
    // registered extensions follow at their offsets
};

struct Clump {
    FrameObject header;  // type 2; parent = the clump's frame
    EngineLink atomics;  // Atomic.inClumpLink
    EngineLink lights;   // ClumpLink.link of lights
    EngineLink cameras;  // ClumpLink.link of cameras
    EngineLink inWorldLink;
    // registered extensions follow at their offsets
};

// The clump extension of lights and cameras.
struct ClumpLink {
    Clump* clump;
    EngineLink link;  // next and prev null while in no clump
};

// Null when the free list is out of entries.
Atomic* Atomic_Create(void);
// Runs the extension destructors, frees the instance data, releases the
// geometry and the frame. Remove the atomic from its world first. Returns 1.
int32_t Atomic_Destroy(Atomic* atomic);
// Takes a reference to geometry (may be null) and releases the old one;
// without ATOMIC_SETGEOMETRY_KEEP_SPHERE the local sphere becomes the first
// morph target's. Setting the current geometry does nothing.
enum : uint32_t { ATOMIC_SETGEOMETRY_KEEP_SPHERE = 0x01 };
Atomic* Atomic_SetGeometry(Atomic* atomic, Geometry* geometry, uint32_t flags);
inline Geometry* Atomic_GetGeometry(const Atomic* atomic) { return atomic->geometry; }
Atomic* Atomic_SetFrame(Atomic* atomic, Frame* frame);
inline Frame* Atomic_GetFrame(const Atomic* atomic) { return FrameObject_GetFrame(&atomic->object); }
// The local sphere in world space, recomputed after a frame or blend change;
// scaled frames scale the radius by their longest axis.
const Sphere* Atomic_GetWorldBoundingSphere(Atomic* atomic);
// Sets the blend between two morph targets (position in 0..time).
Atomic* Atomic_SetMorphBlend(Atomic* atomic, int16_t start, int16_t end, float position, float time);
Atomic* Atomic_DefaultRenderCallback(Atomic* atomic);
inline Atomic* Atomic_Render(Atomic* atomic) { return atomic->renderCallback(atomic); }
FrameLinkedObject* Atomic_SyncCallback(FrameLinkedObject* object);
// Interpolates the local sphere from the morph targets (see Atomic_SetMorphBlend).
void Atomic_InterpolateSphere(Atomic* atomic);

int32_t Atomic_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                              PluginDestructor destructor, PluginCopy copy);
int32_t Atomic_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                    PluginStreamGetSize getSize);
int32_t Atomic_SetStreamAlwaysCallback(uint32_t pluginId, PluginStreamAlways callback);
int32_t Atomic_SetStreamRightsCallback(uint32_t pluginId, PluginStreamRights callback);
int32_t Atomic_GetPluginOffset(uint32_t pluginId);
PluginRegistry* Atomic_GetRegistry(void);

// A frame list or geometry list for the chunk reader and writer.
struct FrameList {
    Frame** frames;
    int32_t count;
};
struct GeometryList {
    Geometry** geometries;
    int32_t count;
};

// The atomic chunk (type 0x14): payload size and write without lists (the
// geometry inline), and the readers (the caller has found the chunk header).
// A reader failure leaves the error slot set and nothing allocated.
int32_t Atomic_StreamGetSize(const Atomic* atomic);
const Atomic* Atomic_StreamWrite(const Atomic* atomic, Stream* stream);
Atomic* Atomic_StreamRead(Stream* stream);
Atomic* Atomic_StreamReadWithContext(Stream* stream, const FrameList* frames, const GeometryList* geometries);

// Right-to-render stream callbacks of atomics.
int32_t Atomic_RightsGetSize(const void* atomic, int32_t offset, int32_t size);
Stream* Atomic_RightsWrite(Stream* stream, int32_t length, const void* atomic, int32_t offset, int32_t size);
Stream* Atomic_RightsRead(Stream* stream, int32_t length, void* atomic, int32_t offset, int32_t size);

// ---- clumps ----
// An empty clump (not used by the game, provided for completeness); null on no memory.
Clump* Clump_Create(void);
// Destroys the clump with its atomics, lights, cameras and frame hierarchy.
int32_t Clump_Destroy(Clump* clump);
Clump* Clump_AddAtomic(Clump* clump, Atomic* atomic);
Clump* Clump_AddLight(Clump* clump, Light* light);
Clump* Clump_AddCamera(Clump* clump, Camera* camera);
typedef Atomic* (*AtomicCallback)(Atomic* atomic, void* data);
typedef Light* (*LightCallback)(Light* light, void* data);
typedef Camera* (*CameraCallback)(Camera* camera, void* data);
Clump* Clump_ForAllAtomics(Clump* clump, AtomicCallback callback, void* data);
Clump* Clump_ForAllLights(Clump* clump, LightCallback callback, void* data);
Clump* Clump_ForAllCameras(Clump* clump, CameraCallback callback, void* data);
int32_t Clump_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                             PluginDestructor destructor, PluginCopy copy);
// The clump link of a light or camera (registered by Clump_RegisterExtensions).
ClumpLink* Clump_LightLink(Light* light);
ClumpLink* Clump_CameraLink(Camera* camera);
// Registers the clump links on lights and cameras; 1 or 0.
int32_t Clump_RegisterExtensions(void);

void* Atomic_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Atomic_ModuleClose(void* instance, int32_t offset, int32_t size);
