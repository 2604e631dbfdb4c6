#include "tools/lib/textwrite.h"

#include <cstring>

#include "app/text.h"
#include "common/strings.h"
#include "tests/app/data_fixture.h"

namespace {

// The lists are read back through the file layer's line reader, as the game
// reads them, and the text tables through the text module itself.
class TextWriterTest : public DataTest {
protected:
    // Writes text as the data file `name` ("DATA\<name>" on disk).
    static void Place(const std::string& name, const std::string& text)
    {
        std::string path = "DATA/" + name;
        for (char& c : path)
            if (c == '\\') c = '/';
        WriteDisk(path, text);
    }
    // The lines of a data file as the game's list reader gets them: each
    // without its line feed.
    static std::vector<std::string> Lines(const std::string& name)
    {
        std::vector<std::string> lines;
        void* file = File_Open(name.c_str(), "r");
        EXPECT_NE(file, nullptr) << name;
        if (!file) return lines;
        char line[256];
        while (File_ReadLine(line, sizeof line, file)) lines.push_back(line);
        File_Close(file);
        return lines;
    }
    // A list line split at commas as the game splits it.
    static std::vector<std::string> Fields(std::string line)
    {
        char* parts[16];
        const int count = String_Tokenise(line.data(), parts, 16, ",");
        return std::vector<std::string>(parts, parts + std::min(count, 16));
    }
};

TEST_F(TextWriterTest, TablesReadBackKeyByKeyWithIndexesAndMacros)
{
    const std::vector<TextWriterEntry> entries = {
        {"LS_YES", "Yes"},
        {"LS_NO", "No"},
        {"<SLOTS>", "eight"},
        {"LS_INFOTEXT_INFO01", "Pick one of <SLOTS> slots"},
        {"LS_MEMCARD_FILENAME1", "Slot 1"},
        {"LS_MEMCARD_FILENAME1", "Slot 1, again"},  // index 1 of the same key
        {"LS_LONG", std::string(TEXTWRITER_TABLE_LINE - strlen("LS_LONG="), 'x')},
        {"LS_SIGNS", "100% = {a} [b] <c> \"d\" 'e' a+b-c*d/e\\f|g^h_i`j~k&l$m#n@o!p?q;r:s."},
    };
    std::string text, error;
    ASSERT_EQ(TextWriter_Table(entries, &text, &error), 1) << error;
    Place("language\\english.txt", text);
    ASSERT_EQ(Text_Init(), 1);
    Text_Load("language", 0);
    char buffer[TEXT_BUFFER_SIZE];
    EXPECT_STREQ(Text_Get("LS_YES", 0, buffer), "Yes");
    EXPECT_STREQ(Text_Get("ls_no", 0, buffer), "No");
    EXPECT_STREQ(Text_Get("LS_INFOTEXT_INFO01", 0, buffer), "Pick one of eight slots");
    EXPECT_STREQ(Text_Get("LS_MEMCARD_FILENAME1", 1, buffer), "Slot 1, again");
    EXPECT_EQ(Text_CountById(Text_Id("LS_MEMCARD_FILENAME1")), 2u);
    EXPECT_EQ(std::string(Text_Get("LS_LONG", 0, buffer)), entries[6].text);
    EXPECT_EQ(std::string(Text_Get("LS_SIGNS", 0, buffer)), entries[7].text);
    Text_Shutdown();
}

TEST_F(TextWriterTest, TableEntriesTheGameWouldLoseOrMixUpAreRefused)
{
    const std::pair<TextWriterEntry, const char*> cases[] = {
        {{"", "text"}, "empty"},
        {{"A=B", "text"}, "\"=\""},
        {{"A\nB", "text"}, "line break"},
        {{"LS_A", "two\nlines"}, "line break"},
        {{"LS_A", "ends\r"}, "line break"},
        {{"LS_A", ""}, "drop"},
        {{"ls_yes", "Yes"}, "one key"},
        {{"LS _YES", "Yes"}, "one key"},
        {{"LS_A", std::string(TEXTWRITER_TABLE_LINE, 'x')}, "longer"},
    };
    for (const auto& [entry, says] : cases) {
        std::string text, error;
        EXPECT_EQ(TextWriter_Table({{"LS_YES", "Yes"}, entry}, &text, &error), 0) << says;
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
}

TEST_F(TextWriterTest, ListsComeBackLineByLineAndFieldByField)
{
    std::string text, error;
    const std::vector<std::string> names = {"Hero", "Skate", "Top", "Broom", "Tilt", "Roller", "Critter", "Walker"};
    ASSERT_EQ(TextWriter_CharList(names, &text, &error), 1) << error;
    Place("CharList.txt", text);
    EXPECT_EQ(Lines("CharList.txt"), names);

    std::vector<int> unlocked;
    for (int n = 1; n <= 40; n++) unlocked.push_back(n == 2 ? 149 : n);
    ASSERT_EQ(TextWriter_Unlocked(unlocked, &text, &error, {{5, 500}, {8, 20}}), 1) << error;
    Place("Unlocked.cfg", text);
    std::vector<int> read;
    std::vector<std::string> lines = Lines("Unlocked.cfg");
    for (const std::string& line : lines)
        for (const std::string& field : Fields(line)) read.push_back(atoi(field.c_str()));
    read.resize(unlocked.size());  // the locked characters' lines read as no entry
    EXPECT_EQ(read, unlocked);
    EXPECT_EQ(lines.back(), "Character 8 20");

    ASSERT_EQ(
        TextWriter_Logos({{"Logos\\Helm.bmp", 2.5f, true, true}, {"Logos\\Maker.png", 1, false, false}}, &text, &error),
        1)
        << error;
    Place("configs\\logos.cfg", text);
    std::vector<std::string> logos = Lines("configs\\logos.cfg");
    ASSERT_EQ(logos.size(), 2u);
    std::vector<std::string> first = Fields(logos[0]), second = Fields(logos[1]);
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(std::make_tuple(first[0], atof(first[1].c_str()), String_ToBool(first[2].c_str()),
                              String_ToBool(first[3].c_str()), String_ToBool(second[2].c_str()),
                              String_ToBool(second[3].c_str())),
              std::make_tuple("Logos\\Helm.bmp", 2.5, 1, 1, 0, 0));

    ASSERT_EQ(TextWriter_Movies({{"Intro", true, ""}, {"Outro", false, "PAL"}}, &text, &error), 1) << error;
    Place("streams\\movies_PC.txt", text);
    const std::vector<std::string> movies = Lines("STREAMS\\Movies_pc.txt");
    ASSERT_EQ(movies.size(), 2u);
    EXPECT_EQ(Fields(movies[0]), (std::vector<std::string>{"Intro", "TRUE"}));
    EXPECT_EQ(Fields(movies[1]), (std::vector<std::string>{"Outro", "FALSE", "PAL"}));

    ASSERT_EQ(TextWriter_BuildVersion(12, &text, &error), 1);
    Place("Build.ver", text);
    EXPECT_EQ(atoi(Lines("Build.ver").at(0).c_str()), 12);
    ASSERT_EQ(TextWriter_GameVersion("HELM demo data", &text, &error), 1);
    EXPECT_EQ(text, "HELM demo data\n");
}

TEST_F(TextWriterTest, ListEntriesTheReadersWouldChangeAreRefused)
{
    std::string text, error;
    const std::string longName(TEXTWRITER_LIST_LINE + 1, 'n');
    EXPECT_EQ(TextWriter_CharList({}, &text, &error), 0);
    EXPECT_EQ(TextWriter_CharList(std::vector<std::string>(9, "Hero"), &text, &error), 0);
    for (const std::string& name : {std::string(""), std::string(" Hero"), std::string("Hero "), std::string("A,B"),
                                    std::string("A\nB"), longName})
        EXPECT_EQ(TextWriter_CharList({name}, &text, &error), 0) << name;
    for (const std::vector<int>& entries : {std::vector<int>{0}, std::vector<int>{150}, std::vector<int>{3, 3}})
        EXPECT_EQ(TextWriter_Unlocked(entries, &text, &error), 0);
    for (const std::vector<TextWriterLockedCharacter>& locked :
         {std::vector<TextWriterLockedCharacter>{{0, 1}}, {{9, 1}}, {{5, 0}}, {{5, 1}, {5, 2}}})
        EXPECT_EQ(TextWriter_Unlocked({1}, &text, &error, locked), 0);
    EXPECT_EQ(TextWriter_Logos({{"A,B", 1, true, true}}, &text, &error), 0);
    EXPECT_EQ(TextWriter_Logos({{"A", 0, true, true}}, &text, &error), 0);
    EXPECT_EQ(TextWriter_Movies({{"Intro", true, "SECAM"}}, &text, &error), 0);
    EXPECT_EQ(TextWriter_Movies({{"", true, ""}}, &text, &error), 0);
    EXPECT_EQ(TextWriter_BuildVersion(1000, &text, &error), 0);
    EXPECT_EQ(TextWriter_GameVersion(std::string("a\0b", 3), &text, &error), 0);
    EXPECT_EQ(TextWriter_GameVersion("", &text, &error), 0);
}

}  // namespace
