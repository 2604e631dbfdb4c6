#include "common/assert.h"

#include <gtest/gtest.h>

TEST(AssertDeathTest, AConditionIsEvaluatedOnlyWhenOnAndAFailureNamesFileLineAndConditionThenAborts)
{
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(Assert_Enabled(), 1) << "the sanitizer build must define HELM_ASSERTS";
#endif
    int evaluated = 0;
    HELM_ASSERT(++evaluated == 1);
    EXPECT_EQ(evaluated, Assert_Enabled());
    if (!Assert_Enabled()) GTEST_SKIP() << "assertions are compiled out of this build";
    const int limit = 3;
    EXPECT_DEATH(HELM_ASSERT(limit > 4), "assert_test\\.cpp:[0-9]+: assertion failed: limit > 4");
}
