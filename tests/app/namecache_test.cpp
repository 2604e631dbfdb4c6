#include "app/namecache.h"

#include <gtest/gtest.h>

namespace {

TEST(NameCacheTest, NamesShareEntriesByHashAndKeyAndTheLastReleaseFrees)
{
    NameCache* cache = NameCache_Create();
    ASSERT_NE(cache, nullptr);
    int a = 0, b = 0, c = 0;
    ASSERT_EQ(NameCache_Add(cache, "Sounds\\Hit.wav", &a, 0), 1);
    ASSERT_EQ(NameCache_Add(cache, "sounds\\hit.wav", &b, 2), 1);  // the same name, another key
    uint32_t zero = 0, two = 2, five = 5;
    EXPECT_EQ(NameCache_Acquire(cache, "SOUNDS \\ HIT.WAV", &zero), &a);  // case and blanks do not count
    EXPECT_EQ(NameCache_Acquire(cache, "Sounds\\Hit.wav", &two), &b);
    EXPECT_EQ(NameCache_Acquire(cache, "Sounds\\Hit.wav", &five), nullptr);
    EXPECT_EQ(NameCache_Acquire(cache, "Sounds\\Hit.wav", nullptr), &a);  // no key: the first in pool order
    EXPECT_EQ(NameCache_GetCount(cache, &a), 3u);

    EXPECT_EQ(NameCache_Release(cache, &a), 0);
    EXPECT_EQ(NameCache_Release(cache, &a), 0);
    EXPECT_EQ(NameCache_Release(cache, &a), 1);  // the last reference: the caller frees
    EXPECT_EQ(NameCache_Acquire(cache, "Sounds\\Hit.wav", &zero), nullptr);
    EXPECT_EQ(NameCache_Release(cache, &c), 1);  // never registered: the caller frees it too
    EXPECT_EQ(NameCache_AddRef(cache, &c), nullptr);
    ASSERT_NE(NameCache_AddRef(cache, &b), nullptr);
    EXPECT_EQ(NameCache_GetCount(cache, &b), 3u);

    // Two adds of one name make two entries; acquiring finds the first.
    ASSERT_EQ(NameCache_Add(cache, "twice", &a, 0), 1);
    ASSERT_EQ(NameCache_Add(cache, "twice", &c, 0), 1);
    EXPECT_EQ(NameCache_Acquire(cache, "twice", nullptr), &a);
    NameCache_Destroy(cache);
    EXPECT_EQ(NameCache_Acquire(nullptr, "twice", nullptr), nullptr);
}

}  // namespace
