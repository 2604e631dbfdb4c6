#include "physics/base/phys_array.h"

#include <gtest/gtest.h>

TEST(PhysArray, RemoveIfDropsMatchesAndKeepsTheOrderOfTheRest) {
  PhysArray<int, PHYS_MEM_SOLVER> a;
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(a.Push(i));
  a.RemoveIf([](int v) { return v % 3 == 0; });
  ASSERT_EQ(a.Count(), 6);
  const int expected[] = {1, 2, 4, 5, 7, 8};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(a[i], expected[i]);
  a.RemoveIf([](int) { return true; });
  EXPECT_TRUE(a.Empty());
}
