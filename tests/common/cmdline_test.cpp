#include "common/cmdline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "common/strings.h"

namespace {

// A command line split as the shell splits it: at most ten tokens.
struct CommandLine {
    char buffer[256];
    char* tokens[10];
    int count;
    explicit CommandLine(const char* text)
    {
        strcpy(buffer, text);
        count = std::min(String_TokeniseWhitespace(buffer, tokens, 10, 1), 10);
    }
};

}  // namespace

TEST(CmdLine, SwitchesReadTrueAndFalseWordsInOrderAndIgnoreOtherWords)
{
    const std::pair<const char*, uint32_t> cases[] = {
        // the line, the switch from 7
        {"-X -Width 1024", 1},  // names ignore case; followed by another option
        {"-x", 1},              // the last token
        {"-x no", 0},
        {"-x On", 1},
        {"-x maybe", 7},  // neither a true nor a false word
        {"-x 1", 7},      // nor is a number
        {"-xx yes -y", 7},
        {"-x off -x yes -x", 1},  // given twice: applied in order
        {"-x -x off", 0},
    };
    for (const auto& [text, want] : cases) {
        CommandLine line(text);
        uint32_t value = 7, other = 7;
        CmdLine_GetBools(line.count, line.tokens, 0, "x", &value, "absent", nullptr, "absent", &other, nullptr);
        EXPECT_EQ(value, want) << text;
        EXPECT_EQ(other, 7u) << text;
    }
}
