#include "gfx/core/arraylist.h"

#include <gtest/gtest.h>

#include "gfx/core/engine.h"
#include "tests/gfx/core/test_driver.h"

using namespace testdriver;

TEST(ArrayList, GrowsByAQuarterAndKeepsEntries)
{
    InitScope scope;
    ArrayList* list = ArrayList_Create(sizeof(int));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->capacity, 20);
    EXPECT_EQ(ArrayList_GetArray(list), nullptr);
    for (int i = 0; i < 21; i++) *(int*)ArrayList_GetNewEntry(list) = i;
    EXPECT_EQ(list->capacity, 25);
    int* many = (int*)ArrayList_GetNewEntries(list, 10);  // 21 + 10 >= 25: 25 + 6 + 10
    EXPECT_EQ(list->capacity, 41);
    many[9] = 99;
    EXPECT_EQ(*(int*)ArrayList_GetEntry(list, 20), 20);
    EXPECT_EQ(*(int*)ArrayList_GetEntry(list, 30), 99);
    EXPECT_EQ(ArrayList_GetEntry(list, 31), nullptr);
    int* array = (int*)ArrayList_DestroyKeepArray(list);
    EXPECT_EQ(array[5], 5);
    Engine_Free(array);

    list = ArrayList_Create(8);
    EXPECT_EQ(ArrayList_DestroyKeepArray(list), nullptr);
}
