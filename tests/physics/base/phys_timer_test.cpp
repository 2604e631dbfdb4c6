#include "physics/base/phys_timer.h"

#include <gtest/gtest.h>

#include "physics/base/base_system.h"

TEST(PhysTimer, TimersByPathAccumulateAndBaseSystemRestartsCleanly) {
  EXPECT_EQ(BaseSystem_Init(), 1);
  EXPECT_EQ(BaseSystem_Init(), 1);
  PhysTimer* t = PhysTimer_Find("/Timer/Physics/Test");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(PhysTimer_Find("/Timer/Physics/Test"), t);
  { PhysTimerScope scope(t); }
  EXPECT_EQ(t->count, 1);
  EXPECT_GE(PhysTimer_Seconds(t), 0.0);
  EXPECT_EQ(PhysTimer_Find(""), nullptr);
  BaseSystem_Quit();
  BaseSystem_Quit();  // idempotent
  EXPECT_EQ(BaseSystem_IsStarted(), 0);
  EXPECT_EQ(PhysTimer_Count(), 0);
  EXPECT_EQ(BaseSystem_Init(), 1);
  EXPECT_EQ(BaseSystem_IsStarted(), 1);
  EXPECT_NE(PhysTimer_Find("/Timer/Physics"), nullptr);
  BaseSystem_Quit();
}
