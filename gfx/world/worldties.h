// World ties: what a world knows about the objects in it.
//
// Atomics, lights, clumps and cameras get a world extension naming their
// world. Atomics and positional lights are tied to every leaf their bounds
// overlap, anew at each synchronisation of their frame (so objects added to a
// world get their frame flagged dirty); each tie sits in two lists, the
// sector's and the object's. A camera collects at each synchronisation the
// leaves its frustum can see, and while a camera is being drawn into, the
// engine instance's currentWorld names its world.
//
// The same registration step attaches the binary-mesh, native-data and
// right-to-render stream extensions to geometries, sectors, atomics, worlds
// and materials.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/core/engine.h"

struct Atomic;
struct Camera;
struct Clump;
struct Light;
struct World;
struct WorldSector;

enum : uint32_t {
    PLUGIN_WORLD_TIES = 0x509,
    PLUGIN_NATIVE_DATA = 0x510,
};

// One overlap of an object and a leaf.
struct SectorTie {
    EngineLink inSector;  // in one of the sector's lists
    void* object;         // the Atomic or Light
    EngineLink inObject;  // in the object's sectorTies list
    WorldSector* sector;
};

inline SectorTie* SectorTie_FromSectorLink(EngineLink* link)
{
    return (SectorTie*)((char*)link - offsetof(SectorTie, inSector));
}
inline SectorTie* SectorTie_FromObjectLink(EngineLink* link)
{
    return (SectorTie*)((char*)link - offsetof(SectorTie, inObject));
}

// Registers the engine extension (tie free lists, render-frame counter), the
// camera, atomic, clump and light extensions, the binary-mesh and native
// data streams of geometries and sectors and the right-to-render streams of
// atomics, worlds, sectors and materials. 1, or 0 at the first refusal.
int32_t WorldObject_RegisterExtensions(void);

// Adds the atomic; it is tied to the leaves at the next frame sync. Returns world.
World* World_AddAtomic(World* world, Atomic* atomic);
// Frees its instance data and unties it. Returns world.
World* World_RemoveAtomic(World* world, Atomic* atomic);
World* Atomic_GetWorld(const Atomic* atomic);
// Global kinds join the global list, positional ones the local list (and are
// tied at the next sync of their frame).
World* World_AddLight(World* world, Light* light);
World* World_RemoveLight(World* world, Light* light);
World* Light_GetWorld(const Light* light);
World* World_AddCamera(World* world, Camera* camera);
// Null when the camera is in no world.
World* World_RemoveCamera(World* world, Camera* camera);
World* Camera_GetWorld(const Camera* camera);
// Adds the clump and everything in it.
World* World_AddClump(World* world, Clump* clump);
World* Clump_GetWorld(const Clump* clump);

// The leaves the camera's last sync found visible, in walk order.
WorldSector** Camera_GetVisibleSectors(const Camera* camera, int32_t* count);

// Ties are taken from and given back to free lists; for tests and statistics.
int32_t WorldTies_AtomicTiesInUse(void);
int32_t WorldTies_LightTiesInUse(void);

// Unties every tie of an atomic or light, and every tie of a leaf (used by
// World_Destroy).
void WorldTies_UntieAtomic(Atomic* atomic);
void WorldTies_UntieLight(Light* light);
void WorldTies_UntieSector(WorldSector* sector);
// Unlinks a light from its world's light list and clears its world.
void WorldTies_DetachLight(Light* light);
// Lets go of everything still in a world that is being destroyed: its
// atomics (untied), cameras (visible leaves freed), clumps and lights leave
// it, and the engine's current world is cleared when it is this one, so
// that nothing points at the world once it is freed.
void WorldTies_DetachWorld(World* world);
