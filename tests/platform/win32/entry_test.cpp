#include "platform/win32/entry.h"

#include "common/strings.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Entry, ArgumentsWithWhiteSpaceStayOneTokenForTheShell)
{
    const char* argv[] = {"helm", "-Launch", "Level One", "-PAL", "", "-x\ty"};
    char line[128];
    size_t length = Entry_BuildCommandLine(6, argv, line, sizeof line);
    EXPECT_STREQ(line, "-Launch \"Level One\" -PAL \"\" \"-x\ty\"");
    EXPECT_EQ(length, strlen(line));

    char* tokens[10];
    ASSERT_EQ(String_TokeniseWhitespace(line, tokens, 10, 1), 5);
    EXPECT_EQ((std::vector<std::string>{tokens[1], tokens[3], tokens[4]}),
              (std::vector<std::string>{"Level One", "", "-x\ty"}));
}

TEST(Entry, ATooSmallBufferIsCutAndTheFullLengthReported)
{
    const char* argv[] = {"helm", "-Width", "1024"};
    char line[8];
    EXPECT_EQ(Entry_BuildCommandLine(3, argv, line, sizeof line), 11u);
    EXPECT_STREQ(line, "-Width ");
    EXPECT_EQ(Entry_BuildCommandLine(3, argv, nullptr, 0), 11u);
    EXPECT_EQ(Entry_BuildCommandLine(1, argv, line, sizeof line), 0u);
    EXPECT_STREQ(line, "");
}
