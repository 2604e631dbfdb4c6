#include "common/cmdline.h"

#include "common/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A command line split as the shell splits it: at most ten tokens.
struct CommandLine {
    char buffer[256];
    char* tokens[10];
    int count;

    explicit CommandLine(const char* text)
    {
        strcpy(buffer, text);
        int parts = String_TokeniseWhitespace(buffer, tokens, 10, 1);
        count = parts < 10 ? parts : 10;
    }
};

}  // namespace

TEST(CmdLine, SwitchesReadTrueAndFalseWordsAndIgnoreOtherWords)
{
    CommandLine line("-fullscreen -Width 1024 -sound no -music maybe -PAL 1 -debug");
    uint32_t fullscreen = 0, sound = 1, music = 7, pal = 0, debug = 0, absent = 5;
    CmdLine_GetBools(line.count, line.tokens, 0, "FullScreen", &fullscreen, "sound", &sound,
                     "music", &music, "pal", &pal, "debug", &debug, "absent", &absent, nullptr);
    EXPECT_EQ(fullscreen, 1u);  // followed by another option
    EXPECT_EQ(sound, 0u);
    EXPECT_EQ(music, 7u);       // neither a true nor a false word
    EXPECT_EQ(pal, 0u);         // "1" is not one of the words here
    EXPECT_EQ(debug, 1u);       // the last token
    EXPECT_EQ(absent, 5u);

    int32_t width = 0;
    CmdLine_GetInts(line.count, line.tokens, 0, "width", &width, nullptr);
    EXPECT_EQ(width, 1024);
}

TEST(CmdLine, RemovingReadersHideWhatTheyReadFromLaterReaders)
{
    CommandLine line("-PAL -Language french -Launch \"Level One\" -PAL on");
    uint32_t pal = 0;
    CmdLine_GetBools(line.count, line.tokens, 1, "PAL", &pal, nullptr);
    EXPECT_EQ(pal, 1u);
    EXPECT_EQ(line.tokens[0], nullptr);
    EXPECT_EQ(line.tokens[5], nullptr);
    EXPECT_EQ(line.tokens[6], nullptr);

    char* language = nullptr;
    char* launch = nullptr;
    CmdLine_GetStrings(line.count, line.tokens, 1, "Language", &language, "LAUNCH", &launch,
                       nullptr);
    EXPECT_STREQ(language, "french");
    EXPECT_STREQ(launch, "Level One");
    for (int i = 0; i < line.count; ++i)
        EXPECT_EQ(line.tokens[i], nullptr) << i;

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
    CmdLine_GetInts(line.tokens, line.count, "width", &width, "height", &height, "depth", &depth,
                    nullptr);
    EXPECT_EQ(width, -5);
    EXPECT_EQ(height, 0);  // letters read as 0
    EXPECT_EQ(depth, 3);   // no value behind it
    EXPECT_STREQ(line.tokens[0], "-Width");  // this argument order never removes
}

TEST(CmdLine, AtMostTenTokensAreUsedAndNothingPastThemIsRead)
{
    CommandLine line("a b c d e f g h i j -PAL k -Width 640");
    EXPECT_EQ(line.count, 10);
    uint32_t pal = 0;
    int32_t width = 0;
    CmdLine_GetBools(line.count, line.tokens, 1, "PAL", &pal, nullptr);
    CmdLine_GetInts(line.count, line.tokens, 1, "Width", &width, nullptr);
    EXPECT_EQ(pal, 0u);
    EXPECT_EQ(width, 0);

    CommandLine edge("a b c d e f g h i -Width 800");
    int32_t cut = 0;
    CmdLine_GetInts(edge.count, edge.tokens, 1, "Width", &cut, nullptr);
    EXPECT_EQ(cut, 0);  // its value is the eleventh token
    EXPECT_STREQ(edge.tokens[9], "-Width");
}

TEST(CmdLine, ASwitchGivenTwiceIsAppliedInOrder)
{
    CommandLine line("-sound off -sound yes -sound");
    uint32_t sound = 0;
    CmdLine_GetBools(line.count, line.tokens, 0, "sound", &sound, nullptr);
    EXPECT_EQ(sound, 1u);
    CommandLine off("-sound -sound off");
    CmdLine_GetBools(off.count, off.tokens, 0, "sound", &sound, nullptr);
    EXPECT_EQ(sound, 0u);
}
