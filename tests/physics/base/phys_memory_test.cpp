#include "physics/base/phys_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "physics/base/phys_object.h"

namespace {

int g_allocs = 0;
int g_frees = 0;
void* CountingAlloc(size_t size, size_t alignment) {
  ++g_allocs;
  return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}
void* CountingAlloc16(size_t size) { return CountingAlloc(size, 16); }
void CountingFree(void* p) {
  ++g_frees;
  std::free(p);
}

class Constrained : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_CONSTRAINT)
  double payload[5];
};

}  // namespace

TEST(PhysMemory, ObjectsAllocateThroughTheInstalledHooksInTheirClass) {
  PhysMemHooks hooks{CountingAlloc16, CountingAlloc, CountingFree};
  Physics_SetMemHooks(&hooks);
  g_allocs = g_frees = 0;
  PhysMemStats before = Physics_GetMemStats(PHYS_MEM_CONSTRAINT);
  Constrained* c = new Constrained();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(c) % 16, 0u);
  EXPECT_EQ(c->allocSize, sizeof(Constrained));
  EXPECT_EQ(g_allocs, 1);
  EXPECT_EQ(Physics_GetMemStats(PHYS_MEM_CONSTRAINT).liveBytes - before.liveBytes,
            int64_t(sizeof(Constrained)));
  PhysObject_Destroy(c);
  EXPECT_EQ(g_frees, 1);
  EXPECT_EQ(Physics_GetMemStats(PHYS_MEM_CONSTRAINT).liveBytes, before.liveBytes);
  void* aligned = Physics_AllocateAligned(100, 64, PHYS_MEM_GENERAL);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % 64, 0u);
  Physics_FreeAligned(aligned, 100, PHYS_MEM_GENERAL);
  EXPECT_EQ(Physics_AllocateAligned(100, 48, PHYS_MEM_GENERAL), nullptr);  // not a power of two
  Physics_SetMemHooks(nullptr);
  EXPECT_EQ(Physics_GetMemStats(99).liveBytes, 0);
}
