#include "common/hash.h"

#include <gtest/gtest.h>

// Expected values were computed independently from the definition.

TEST(Hash, NameHashMatchesTheReferenceVectors)
{
    EXPECT_EQ(Name_Hash("abc"), 0xAA1941DAu);
    EXPECT_EQ(Name_Hash("abc", 0, 1), 0xA065D01Au);
    EXPECT_EQ(Name_Hash("ABC"), 0xA065D01Au);
    EXPECT_EQ(Name_Hash("a b c", 1, 1), 0xA065D01Au);
    // Cache file names depend on these: the separator is hashed as given.
    EXPECT_EQ(Name_Hash("FrontEnd\\FrontEnd.cfg", 0, 1), 0x0562ECDAu);
    EXPECT_EQ(Name_Hash("FrontEnd/FrontEnd.cfg", 0, 1), 0x69AC8117u);
}

TEST(Hash, HighBytesCountNegativeInNameHashAndPositiveInBytesHash)
{
    EXPECT_EQ(Name_Hash("caf\xE9", 0, 1), 0xC4D50129u);
    EXPECT_EQ(Name_Hash("\xE9"), 0xF75F2C0Fu);  // (-23) x K
    EXPECT_EQ(Bytes_Hash("\xE9", 1), 0x57C86C46u);  // (233 + 1) x K
}

TEST(Hash, EmptyAndAllSpaceNamesHashToZero)
{
    for (int skip = 0; skip < 2; ++skip)
        for (int up = 0; up < 2; ++up)
            EXPECT_EQ(Name_Hash("", skip, up), 0u);
    EXPECT_EQ(Name_Hash(" ", 1, 0), 0u);
    EXPECT_EQ(Name_Hash(" \t\r\n", 1, 1), 0u);
    EXPECT_EQ(Name_Hash(nullptr), 0u);
    EXPECT_NE(Name_Hash(" "), 0u);
}

TEST(Hash, OptionsDecideWhichSpellingsCollide)
{
    EXPECT_NE(Name_Hash("Foo"), Name_Hash("FOO"));
    EXPECT_EQ(Name_Hash("Foo", 0, 1), Name_Hash("FOO", 0, 1));
    EXPECT_NE(Name_Hash("F oo"), Name_Hash("Foo"));
    EXPECT_EQ(Name_Hash("F oo", 1, 0), Name_Hash("Foo", 1, 0));
    EXPECT_EQ(Name_Hash("Foo  ", 1, 0), Name_Hash("Foo"));  // trailing blanks add nothing
}

TEST(Hash, BytesHashCountsZeroBytes)
{
    EXPECT_EQ(Bytes_Hash("abc", 3), 0xCA66DD68u);
    EXPECT_EQ(Bytes_Hash("abc", 0), 0u);
    const char zeros[3] = {0, 0, 0};
    EXPECT_NE(Bytes_Hash(zeros, 1), 0u);
    EXPECT_NE(Bytes_Hash(zeros, 2), Bytes_Hash(zeros, 3));
}
