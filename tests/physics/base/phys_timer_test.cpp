#include "physics/base/phys_timer.h"

#include <gtest/gtest.h>

#include "physics/base/base_system.h"

TEST(PhysTimer, ScopesAccumulateIntoTheTimerOfTheirPathUntilTheEngineRestarts) {
  BaseSystem_Init();
  PhysTimer* t = PhysTimer_Find("/Timer/Physics/Test");
  ASSERT_NE(t, nullptr);
  { PhysTimerScope scope(PhysTimer_Find("/Timer/Physics/Test")); }
  { PhysTimerScope scope(t); }
  EXPECT_EQ(t->count, 2);
  BaseSystem_Quit();
  BaseSystem_Init();
  EXPECT_EQ(PhysTimer_Find("/Timer/Physics/Test")->count, 0);
  BaseSystem_Quit();
}
