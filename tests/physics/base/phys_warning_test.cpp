#include "physics/base/phys_warning.h"

#include <gtest/gtest.h>

namespace {
const char* g_lastTitle = nullptr;
int g_lastLine = 0;
void Remember(const char* title, const char*, const char*, int line) {
  g_lastTitle = title;
  g_lastLine = line;
}
}  // namespace

TEST(PhysWarning, HookReceivesTitleAndLineAndCountsWarnings) {
  PhysWarningHook old = Physics_SetWarningHook(Remember);
  int count = Physics_GetWarningCount();
  PHYS_WARNING("Title", "message");
  EXPECT_STREQ(g_lastTitle, "Title");
  EXPECT_GT(g_lastLine, 0);
  EXPECT_EQ(Physics_GetWarningCount(), count + 1);
  EXPECT_EQ(Physics_SetWarningHook(old), &Remember);
}
