#include "common/hash.h"

#include <gtest/gtest.h>

#include <tuple>

// Expected values were computed independently from the definition.
TEST(Hash, NameAndBytesHashesMatchTheReferenceVectors)
{
    const std::tuple<const char*, int, int, uint32_t> cases[] = {
        // name, skip spaces, upper case, hash
        {"abc", 0, 0, 0xAA1941DAu},
        {"abc", 0, 1, 0xA065D01Au},
        {"a b c", 1, 1, 0xA065D01Au},
        // Cache file names depend on these: the separator is hashed as given.
        {"FrontEnd\\FrontEnd.cfg", 0, 1, 0x0562ECDAu},
        {"FrontEnd/FrontEnd.cfg", 0, 1, 0x69AC8117u},
        {"caf\xE9", 0, 1, 0xC4D50129u},  // high bytes count negative
        {"\xE9", 0, 0, 0xF75F2C0Fu},     // (-23) x K
        {" \t\r\n", 1, 0, 0},
        {nullptr, 0, 0, 0},
    };
    for (const auto& [name, skipSpaces, upperCase, want] : cases)
        EXPECT_EQ(Name_Hash(name, skipSpaces, upperCase), want) << (name ? name : "null");
    EXPECT_NE(Name_Hash("F oo"), Name_Hash("Foo"));
    EXPECT_EQ(Bytes_Hash("\xE9", 1), 0x57C86C46u);  // high bytes count positive: (233 + 1) x K
    EXPECT_EQ(Bytes_Hash("abc", 3), 0xCA66DD68u);
    EXPECT_EQ(Bytes_Hash("abc", 0), 0u);
    const char zeros[3] = {0, 0, 0};  // zero bytes count
    EXPECT_NE(Bytes_Hash(zeros, 1), 0u);
    EXPECT_NE(Bytes_Hash(zeros, 2), Bytes_Hash(zeros, 3));
}
