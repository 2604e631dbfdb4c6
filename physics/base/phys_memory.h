// Memory of the physics engine: every block the engine takes comes from the
// allocation hooks that the layer above installs, tagged with a memory class
// so that the statistics can tell which part of the engine holds how much.
#pragma once
#include <cstddef>
#include <cstdint>

// Memory classes. Numbers are stable: callers outside the engine allocate
// constraints and actions in class 17 and collectors in class 19.
enum PhysMemClass {
  PHYS_MEM_GENERAL = 0,
  PHYS_MEM_OBJECT = 1,      // PhysObject-derived objects without a class of their own
  PHYS_MEM_BODY = 2,        // rigid bodies
  PHYS_MEM_PRIMITIVE = 3,   // collision primitives
  PHYS_MEM_SHAPE = 4,       // shapes (hulls, meshes, trees)
  PHYS_MEM_BROADPHASE = 5,  // broad phase arrays
  PHYS_MEM_CONTACT = 6,     // manifolds and contact caches
  PHYS_MEM_SOLVER = 7,      // per-step solver scratch
  PHYS_MEM_EVENT = 8,       // event queues and listeners
  PHYS_MEM_WORLD = 9,       // worlds, simulations, subspaces
  PHYS_MEM_DEPENDENTS = 10, // dependents lists of PhysObject
  PHYS_MEM_CONSTRAINT = 17, // constraints and actions
  PHYS_MEM_COLLECTOR = 19,  // primitive collectors
  PHYS_MEM_CLASS_COUNT = 32
};

// The hooks. alloc16 returns a 16-byte aligned block or null; alloc takes an
// explicit power-of-two alignment; free releases any block either returned.
struct PhysMemHooks {
  void* (*alloc16)(size_t size);
  void* (*alloc)(size_t size, size_t alignment);
  void (*free)(void* block);
};

// Installs the hooks (copied). Null, or a record with a missing function,
// restores the built-in hooks over the C library. Blocks must be freed through
// the hooks that allocated them: install before the first world is built.
void Physics_SetMemHooks(const PhysMemHooks* hooks);

// A 16-byte aligned block of at least size bytes, or null (size 0 gives a
// valid minimal block). The caller frees it with Physics_FreeSized with the
// same size and class.
void* Physics_Allocate(size_t size, int memClass);
// Frees a block of Physics_Allocate; null is ignored.
void Physics_FreeSized(void* block, size_t size, int memClass);
// A block with a chosen alignment (power of two), freed with Physics_FreeAligned.
void* Physics_AllocateAligned(size_t size, size_t alignment, int memClass);
void Physics_FreeAligned(void* block, size_t size, int memClass);

// Live bytes and blocks of one class, and the peak bytes since the last reset.
struct PhysMemStats {
  int64_t liveBytes;
  int64_t liveBlocks;
  int64_t peakBytes;
  int64_t totalAllocations;
};
// Statistics of a class (0..31); an out-of-range class reads all zero.
PhysMemStats Physics_GetMemStats(int memClass);
// Sum of the live bytes of every class.
int64_t Physics_GetLiveBytes();
void Physics_ResetMemPeaks();

// Class-level allocation: a class that declares PHYS_DECLARE_MEMCLASS(c) is
// created with plain new and deleted with plain delete, and its storage comes
// from the hooks in class c. new returns null on exhaustion (no exception).
#define PHYS_DECLARE_MEMCLASS(cls)                                             \
  static void* operator new(size_t size) noexcept {                            \
    return PhysObject_AllocateTracked(size, (cls));                            \
  }                                                                            \
  static void operator delete(void* block, size_t size) noexcept {             \
    Physics_FreeSized(block, size, (cls));                                     \
  }                                                                            \
  static void* operator new(size_t, void* where) noexcept { return where; }    \
  static void operator delete(void*, void*) noexcept {}

// Allocates for a PhysObject and remembers the block so that the object's
// constructor can record its allocation size (see PhysObject::allocSize).
void* PhysObject_AllocateTracked(size_t size, int memClass);
// The size recorded by the last PhysObject_AllocateTracked when object is that
// block (then forgotten), else 0: an object built on the stack or in place.
size_t PhysObject_TakeTrackedSize(const void* object);
