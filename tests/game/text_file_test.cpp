#include "game/text_file.h"

#include <gtest/gtest.h>

#include <string>

#include "game_fixture.h"

namespace {

class TextFileTest : public GameTest {
protected:
    void TearDown() override
    {
        TextFile_Free(&text_);
        GameTest::TearDown();
    }

    static std::string Section(int n, float display, float fade, const std::string& body)
    {
        return "Section" + std::to_string(n) + " {\nDisplayTime = " + std::to_string(display) +
               "\nFadeTime = " + std::to_string(fade) + "\n" + body + "}\n";
    }

    TextFile text_ = {};
};

TEST_F(TextFileTest, LinesReadUpToTheFirstMissingItemAndKeepAtMostThirtyTwo)
{
    std::string body;
    for (int n = 0; n < 40; n++) {
        std::string i = "Item" + std::to_string(n);
        body += i + " = " + (n == 1 ? "10, 20" : std::to_string(n) + ", 7, 1.5") + "\n";
        body += i + "Text = line " + std::to_string(n) + "\n";
    }
    body += "Item2Colour = 10, 20, 30\nItem2Alpha = 300\nItem2Box = 200, 50\nItem2Spacing = 1.5\nItem2Font = 2\n";
    std::string second = "Secondary = TRUE\nCentre = TRUE\nItem0 = 1, 2, 3\nItem2 = 5, 5, 5\n";
    WriteConfig("t.tdf", Section(0, 5, 1, body) + Section(1, 5, 0, second));
    ASSERT_EQ(FrontEnd_LoadTextFile("t.tdf", &text_), 1);
    const TextFileSection& s = text_.sections[0];
    EXPECT_EQ(s.lineCount, TEXTFILE_LINES);
    EXPECT_STREQ(s.lines[0].text, "line 0");
    EXPECT_EQ(s.lines[1].text, nullptr);  // two numbers: the slot stays, without text
    EXPECT_STREQ(s.lines[3].text, "line 3");
    EXPECT_EQ(std::make_pair(s.lines[3].x, s.lines[31].y), std::make_pair(3.0f, 7.0f));
    EXPECT_EQ(std::vector<int>({s.lines[2].colour[2], s.lines[2].colour[3], s.lines[2].font}),
              std::vector<int>({30, 255, 2}));  // the alpha clamped
    // The second section's defaults; its lines stop at the missing Item1.
    const TextFileSection& t = text_.sections[1];
    EXPECT_EQ(std::vector<int>({t.lineCount, t.lines[0].font, (int)t.lines[0].centred}), std::vector<int>({1, 2, 1}));
    EXPECT_EQ(TextFile_SetLineText(&text_, 1, 0, "changed"), 1);
    EXPECT_STREQ(t.lines[0].text, "changed");
    EXPECT_EQ(TextFile_SetLineText(&text_, 1, 1, "x") + TextFile_SetLineText(&text_, 2, 0, "x"), 0);
    // Following the focus shows the focused section; without a fade time it shows whole; no font draws nothing.
    text_.followFocus = 1;
    text_.focus = 1;
    TextFile_Update(&text_, 0.1f);
    text_.followFocus = 0;
    TextFile_Update(&text_, 0.1f);
    EXPECT_EQ(text_.sections[1].alpha, 1.0f);
    TextFile_Draw(&text_);
    TextFile empty{};  // a file without sections shows nothing
    WriteConfig("e.tdf", "Other {\n}\n");
    FrontEnd_LoadTextFile("e.tdf", &empty);
    TextFile_Update(&empty, 0.1f);
    EXPECT_EQ(empty.sectionCount, 0);
    TextFile_Free(&empty);
}

}  // namespace
