#include "gfx/core/error.h"

#include <gtest/gtest.h>

TEST(Error, FirstErrorStaysUntilReadAndReadingResetsTheSlot)
{
    Error_Get(nullptr);
    ErrorRecord first = {7, 25};
    ErrorRecord second = {9, 30};
    Error_Set(&first);
    Error_Set(&second);
    ErrorRecord r;
    Error_Get(&r);
    EXPECT_EQ(r.pluginId, 7);
    EXPECT_EQ(r.code, 25);
    Error_Get(&r);
    EXPECT_EQ(r.pluginId, 0);
    EXPECT_EQ(r.code, (int32_t)ERR_NO_ERROR);
}

TEST(Error, GeneralCodesAreStoredWithPluginZero)
{
    Error_Get(nullptr);
    ErrorRecord general = {5, (int32_t)ERR_OUT_OF_MEMORY};
    Error_Set(&general);
    ErrorRecord r;
    Error_Get(&r);
    EXPECT_EQ(r.pluginId, 0);
    EXPECT_EQ(r.code, (int32_t)ERR_OUT_OF_MEMORY);
    Error_Raise(ERR_ZERO_VECTOR);
    Error_Get(&r);
    EXPECT_EQ(r.pluginId, 1);
    EXPECT_EQ(r.code, 25);
}
