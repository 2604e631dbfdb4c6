#include "common/cmdline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

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

TEST(CmdLine, CheckedIntegersTakeWholeNumbersInTheirRangeAndNameTheFirstRefusedValue)
{
    const std::pair<const char*, const char*> cases[] = {
        // the line, the value read from 7 ("=n") or why it is refused
        {"-W 1", "=1"},
        {"-w 8192 -H 9000", "=8192"},  // names ignore case; other options are not checked
        {"-W +640 -W 0800", "=800"},   // the last one counts
        {"-X 5 -W", "=7"},             // absent, or without a value
        {"-W abc", "-W: \"abc\" is not a number"},
        {"-W 12x", "-W: \"12x\" is not a number"},
        {"-w -H 5", "-w: \"-H\" is not a number"},
        {"-W -5", "-W -5 is below the limit of 1"},
        {"-W 8193", "-W 8193 is above the limit of 8192"},
        {"-W 99999999999999999999", "-W 99999999999999999999 is above the limit of 8192"},
        {"-W 640 -W x -W 0", "-W: \"x\" is not a number"},  // every value is checked
    };
    for (const auto& [text, want] : cases) {
        CommandLine line(text);
        int32_t value = 7;
        char why[64] = "";
        const int read = CmdLine_GetIntInRange(line.count, line.tokens, "W", 1, 8192, &value, why, sizeof why);
        EXPECT_EQ(read ? "=" + std::to_string(value) : std::string(why), want) << text;
        EXPECT_TRUE(read || value == 7) << text;
    }
}
