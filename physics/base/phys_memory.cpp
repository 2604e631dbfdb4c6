#include "physics/base/phys_memory.h"

#include <cstdlib>

namespace {

void* DefaultAlloc(size_t size, size_t alignment) {
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
  size_t rounded = (size + alignment - 1) / alignment * alignment;
  if (rounded == 0) rounded = alignment;
  return std::aligned_alloc(alignment, rounded);
}
void* DefaultAlloc16(size_t size) { return DefaultAlloc(size, 16); }
void DefaultFree(void* block) { std::free(block); }

struct MemModule {
  PhysMemHooks hooks{DefaultAlloc16, DefaultAlloc, DefaultFree};
  PhysMemStats stats[PHYS_MEM_CLASS_COUNT]{};
};
MemModule g_mem;

// The block most recently handed to a PhysObject allocation, so that the
// object's constructor can pick up its size without an extra header word.
thread_local void* t_lastBlock = nullptr;
thread_local size_t t_lastSize = 0;

int ClampClass(int memClass) {
  return (memClass >= 0 && memClass < PHYS_MEM_CLASS_COUNT) ? memClass : PHYS_MEM_GENERAL;
}

void Count(int memClass, int64_t bytes, int64_t blocks) {
  PhysMemStats& s = g_mem.stats[ClampClass(memClass)];
  s.liveBytes += bytes;
  s.liveBlocks += blocks;
  if (blocks > 0) ++s.totalAllocations;
  if (s.liveBytes > s.peakBytes) s.peakBytes = s.liveBytes;
}

}  // namespace

void Physics_SetMemHooks(const PhysMemHooks* hooks) {
  if (hooks && hooks->alloc16 && hooks->alloc && hooks->free)
    g_mem.hooks = *hooks;
  else
    g_mem.hooks = PhysMemHooks{DefaultAlloc16, DefaultAlloc, DefaultFree};
}

void* Physics_Allocate(size_t size, int memClass) {
  void* block = g_mem.hooks.alloc16(size ? size : 16);
  if (block) Count(memClass, int64_t(size), 1);
  return block;
}

void Physics_FreeSized(void* block, size_t size, int memClass) {
  if (!block) return;
  Count(memClass, -int64_t(size), -1);
  g_mem.hooks.free(block);
}

void* Physics_AllocateAligned(size_t size, size_t alignment, int memClass) {
  if (alignment == 0 || (alignment & (alignment - 1))) return nullptr;
  void* block = g_mem.hooks.alloc(size ? size : alignment, alignment);
  if (block) Count(memClass, int64_t(size), 1);
  return block;
}

void Physics_FreeAligned(void* block, size_t size, int memClass) {
  Physics_FreeSized(block, size, memClass);
}

PhysMemStats Physics_GetMemStats(int memClass) {
  if (memClass < 0 || memClass >= PHYS_MEM_CLASS_COUNT) return PhysMemStats{};
  return g_mem.stats[memClass];
}

int64_t Physics_GetLiveBytes() {
  int64_t total = 0;
  for (const PhysMemStats& s : g_mem.stats) total += s.liveBytes;
  return total;
}

void Physics_ResetMemPeaks() {
  for (PhysMemStats& s : g_mem.stats) s.peakBytes = s.liveBytes;
}

void* PhysObject_AllocateTracked(size_t size, int memClass) {
  void* block = Physics_Allocate(size, memClass);
  t_lastBlock = block;
  t_lastSize = size;
  return block;
}

size_t PhysObject_TakeTrackedSize(const void* object) {
  if (object != t_lastBlock) return 0;
  t_lastBlock = nullptr;
  return t_lastSize;
}
