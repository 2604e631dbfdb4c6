#include "common/strings.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Strings, OnlyTheTrueWordsReadAsTrue)
{
    for (const char* word : {"TRUE", "yes", "On", "1"})
        EXPECT_EQ(String_ToBool(word), 1) << word;
    for (const char* word : {"FALSE", "no", "off", "0", "2", "", "tru", "yess"})
        EXPECT_EQ(String_ToBool(word), 0) << word;
    EXPECT_EQ(String_ToBool(nullptr), 0);
}

TEST(Strings, NoCaseMatchesFoldOnlyTheAsciiLetters)
{
    EXPECT_EQ(String_EqualNoCase("Levels\\X.cfg", "LEVELS\\x.CFG"), 1);
    EXPECT_EQ(String_EqualNoCase("tex", "texture"), 0);
    EXPECT_EQ(String_EqualNoCase("[", "{"), 0);  // 0x5B and 0x7B sit 32 apart but are no letters
    EXPECT_EQ(String_EqualNoCase("\xe9", "\xc9"), 0);

    const char* text = "Data\\FrontEnd\\frontend.CFG";
    EXPECT_EQ(String_FindNoCase(text, "FRONTEND"), text + 5);
    EXPECT_EQ(String_FindNoCase(text, ".cfg"), text + 22);
    EXPECT_EQ(String_FindNoCase(text, "cfgx"), nullptr);  // runs into the end of the text
    EXPECT_EQ(String_FindNoCase(text, ""), text);
    EXPECT_EQ(String_FindNoCase("", ""), nullptr);
    EXPECT_EQ(String_FindNoCase("", "a"), nullptr);
}

TEST(Strings, TokeniseAtWhiteSpaceGroupsQuotedWordsOnlyWhenAsked)
{
    char line[] = "-Launch \"Level One\"  -PAL";
    char* parts[8];
    ASSERT_EQ(String_TokeniseWhitespace(line, parts, 8, 1), 3);
    EXPECT_STREQ(parts[0], "-Launch");
    EXPECT_STREQ(parts[1], "Level One");
    EXPECT_STREQ(parts[2], "-PAL");

    char plain[] = "-Launch \"Level One\"  -PAL";
    ASSERT_EQ(String_TokeniseWhitespace(plain, parts, 8), 4);
    EXPECT_STREQ(parts[1], "\"Level");
    EXPECT_STREQ(parts[2], "One\"");
}

TEST(Strings, SeparatorsAtTheEndsAndDoubledGiveEmptyParts)
{
    char* parts[8];
    char spaced[] = " a b ";
    ASSERT_EQ(String_Tokenise(spaced, parts, 8, nullptr, 0), 4);
    EXPECT_STREQ(parts[0], "");
    EXPECT_STREQ(parts[1], "a");
    EXPECT_STREQ(parts[3], "");

    char path[] = "Menu::::Item::";
    ASSERT_EQ(String_Tokenise(path, parts, 8, "::", 0), 4);
    EXPECT_STREQ(parts[0], "Menu");
    EXPECT_STREQ(parts[1], "");
    EXPECT_STREQ(parts[2], "Item");
    EXPECT_STREQ(parts[3], "");

    char empty[] = "";
    EXPECT_EQ(String_Tokenise(empty, parts, 8, ",", 0), 0);
    char one[] = "abc";
    EXPECT_EQ(String_Tokenise(one, parts, 8, "", 0), 1);  // an empty separator never matches
}

TEST(Strings, CountGoesPastMaxWithoutWritingPastTheArray)
{
    char line[] = "a b c \"d e\" f";
    char* parts[3] = {};  // ASan reports any write past the three entries
    EXPECT_EQ(String_Tokenise(line, parts, 3, nullptr, 1), 5);
    EXPECT_STREQ(parts[0], "a");
    EXPECT_STREQ(parts[2], "c");

    char counted[] = "1,2,3,4";
    EXPECT_EQ(String_Tokenise(counted, nullptr, 0, ",", 0), 4);
    char quoted[] = "\"x\"";
    EXPECT_EQ(String_Tokenise(quoted, parts, 0, nullptr, 1), 1);
}

TEST(Strings, ParseHexStopsAtTheFirstForeignCharacterOrAtEightDigits)
{
    const char* end = nullptr;
    const char* text = "1aZ";
    EXPECT_EQ(String_ParseHex(text, &end), 0x1Au);
    EXPECT_EQ(end, text + 2);
    text = "123456789";
    EXPECT_EQ(String_ParseHex(text, &end), 0x12345678u);
    EXPECT_EQ(end, text + 8);
    text = "000000000A";  // leading zeros are not significant
    EXPECT_EQ(String_ParseHex(text, &end), 0xAu);
    EXPECT_EQ(*end, 0);
    EXPECT_EQ(String_ParseHex("FFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(String_ParseHex("", &end), 0u);
    EXPECT_EQ(String_ParseHex("g1"), 0u);
}
