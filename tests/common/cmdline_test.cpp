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

TEST(CmdLine, RemovingReadersHideWhatTheyReadFromLaterReaders)
{
    CommandLine line("-PAL -Language french -Launch \"Level One\" -PAL on");
    uint32_t pal = 0;
    CmdLine_GetBools(line.count, line.tokens, 1, "PAL", &pal, nullptr);
    EXPECT_EQ(pal, 1u);
    EXPECT_TRUE(!line.tokens[0] && !line.tokens[5] && !line.tokens[6]);
    char *language = nullptr, *launch = nullptr;
    CmdLine_GetStrings(line.count, line.tokens, 1, "Language", &language, "LAUNCH", &launch, nullptr);
    EXPECT_STREQ(language, "french");
    EXPECT_STREQ(launch, "Level One");
    for (int i = 0; i < line.count; ++i) EXPECT_EQ(line.tokens[i], nullptr) << i;
    // A switch followed by a removed entry reads as a bare switch.
    uint32_t again = 0;
    line.tokens[0] = (char*)"-again";
    CmdLine_GetBools(line.count, line.tokens, 1, "again", &again, nullptr);
    EXPECT_EQ(again, 1u);
    EXPECT_EQ(line.tokens[0], nullptr);
}

TEST(CmdLine, ValueReadersTakeTheNextTokenEvenWhenItLooksLikeAnOption)
{
    CommandLine line("-Width -5 -Height abc -Depth");
    int32_t width = 0, height = 9, depth = 3;
    char* text = nullptr;
    uint32_t bare = 0;
    CmdLine_GetInts(line.tokens, line.count, "width", &width, "height", &height, "depth", &depth, nullptr);
    CmdLine_GetStrings(line.tokens, line.count, "height", &text, nullptr);
    CmdLine_GetBools(line.tokens, line.count, "depth", &bare, nullptr);
    EXPECT_EQ(width, -5);
    EXPECT_EQ(height, 0);  // letters read as 0
    EXPECT_EQ(depth, 3);   // no value behind it: only a switch
    EXPECT_EQ(bare, 1u);
    EXPECT_STREQ(text, "abc");
    EXPECT_STREQ(line.tokens[0], "-Width");  // this argument order never removes
}

TEST(CmdLine, AtMostTenTokensAreUsedAndNothingPastThemIsRead)
{
    CommandLine line("a b c d e f g h i j -PAL k -Width 640");
    uint32_t pal = 0;
    int32_t width = 0;
    CmdLine_GetBools(line.count, line.tokens, 1, "PAL", &pal, nullptr);
    CmdLine_GetInts(line.count, line.tokens, 1, "Width", &width, nullptr);
    EXPECT_EQ(pal, 0u);
    EXPECT_EQ(width, 0);
    CommandLine edge("a b c d e f g h i -Width 800");
    CmdLine_GetInts(edge.count, edge.tokens, 1, "Width", &width, nullptr);
    EXPECT_EQ(width, 0);  // its value is the eleventh token
    EXPECT_STREQ(edge.tokens[9], "-Width");
    CmdLine_GetInts(0, edge.tokens, 1, "Width", &width, nullptr);
    CmdLine_GetInts(10, nullptr, 1, "Width", &width, nullptr);
    EXPECT_EQ(width, 0);
}
