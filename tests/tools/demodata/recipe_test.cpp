#include "tools/demodata/recipe.h"

#include <gtest/gtest.h>

namespace {

TEST(Recipe, WordsOptionsQuotesAndCommentsAreSeparated)
{
    std::vector<RecipeLine> lines;
    std::string error;
    ASSERT_EQ(Recipe_Parse("# a comment\n\n"
                           "texture Levels\\Demo\\Sign.bmp solid 64 32 text=\"GO LEFT\" a=1,2,3 # trailing\r\n"
                           "  gamever \"HELM demo\"\tbuild=x=y\n"
                           "logo \"Name with = sign\" 2 \"quoted\"=word\n"
                           "copy a#b c\n",
                           "r.txt", &lines, &error),
              1)
        << error;
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].line, 3);
    EXPECT_EQ(lines[0].words, (std::vector<std::string>{"texture", "Levels\\Demo\\Sign.bmp", "solid", "64", "32"}));
    ASSERT_EQ(lines[0].options.size(), 2u);
    EXPECT_EQ(std::make_tuple(lines[0].options[0], lines[0].options[1].second, lines[1].words, lines[1].options[0]),
              std::make_tuple((std::pair<std::string, std::string>{"text", "GO LEFT"}), "1,2,3",
                              (std::vector<std::string>{"gamever", "HELM demo"}),
                              (std::pair<std::string, std::string>{"build", "x=y"})));
    // A quoted word is never an option, whatever it holds.
    // "#" inside a word is no comment
    EXPECT_EQ(std::make_tuple(lines[2].words, (bool)(lines[2].options.empty()), lines[3].words, lines[3].Where()),
              std::make_tuple((std::vector<std::string>{"logo", "Name with = sign", "2", "quoted=word"}), true,
                              (std::vector<std::string>{"copy", "a#b", "c"}), "r.txt:6"));
}

TEST(Recipe, MalformedLinesAreRefusedWithTheirPlace)
{
    const std::pair<std::string, const char*> cases[] = {
        {"ok\ntexture \"open\n", "r.txt:2: a quote is never closed"},
        {"mesh a.lwo box =3\n", "r.txt:1: an option without a name"},
        {"mesh a.lwo box tile=1 tile=2\n", "r.txt:1: option \"tile\" is given twice"},
        {"size=3\n", "r.txt:1: options without a command"},
        {std::string("ok\n\nx\0y\n", 8), "r.txt:3: a NUL byte inside the line"},
    };
    for (const auto& [text, says] : cases) {
        std::vector<RecipeLine> lines;
        std::string error;
        EXPECT_EQ(Recipe_Parse(text, "r.txt", &lines, &error), 0) << text;
        EXPECT_EQ(error, says);
        EXPECT_TRUE(lines.empty());
    }
}

}  // namespace
