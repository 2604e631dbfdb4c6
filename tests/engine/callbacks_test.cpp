#include "engine/callbacks.h"

#include <gtest/gtest.h>

namespace {

void First(void) {}
void Second(void) {}
int Typed(int x) { return x + 1; }

class CallbackRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CallbackRegistry_Init(), 1); }
    void TearDown() override { CallbackRegistry_Shutdown(); }
};

TEST_F(CallbackRegistryTest, TheEarliestOfEqualNamesWinsWhateverTheCase)
{
    CallbackRegistry_Add("Hinge_Update", First);
    CallbackRegistry_Add("HINGE_UPDATE", Second);
    CallbackRegistry_Add("Hinge_Destructor", Second);
    EXPECT_EQ(CallbackRegistry_Find("Hinge_Update"), First);
    EXPECT_EQ(CallbackRegistry_Find("hinge_update"), First);
    EXPECT_EQ(CallbackRegistry_Find("Hinge_Destructor"), Second);
    EXPECT_EQ(CallbackRegistry_Count(), 3u);
}

TEST_F(CallbackRegistryTest, UnknownEmptyAndSpacedNamesFindNothing)
{
    CallbackRegistry_Add("Hinge_Update", First);
    EXPECT_EQ(CallbackRegistry_Find("Hinge_Updat"), nullptr);
    EXPECT_EQ(CallbackRegistry_Find("Hinge _Update"), nullptr);  // white space counts
    EXPECT_EQ(CallbackRegistry_Find(""), nullptr);
    EXPECT_EQ(CallbackRegistry_Find(nullptr), nullptr);
    CallbackRegistry_Add(nullptr, First);
    CallbackRegistry_Add("Nothing", nullptr);
    EXPECT_EQ(CallbackRegistry_Count(), 1u);
}

TEST_F(CallbackRegistryTest, FunctionsOfAnyTypeComeBackCallable)
{
    CallbackRegistry_AddFn("Typed", Typed);
    auto fn = reinterpret_cast<int (*)(int)>(CallbackRegistry_Find("typed"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(41), 42);
    // Registration before Init works too, and Shutdown forgets everything.
    CallbackRegistry_Shutdown();
    CallbackRegistry_Add("Late", First);
    EXPECT_EQ(CallbackRegistry_Find("Late"), First);
    CallbackRegistry_Shutdown();
    EXPECT_EQ(CallbackRegistry_Find("Late"), nullptr);
}

}  // namespace
