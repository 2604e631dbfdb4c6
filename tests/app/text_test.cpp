#include "app/text.h"

#include <string>
#include <vector>

#include "data_fixture.h"

namespace {

class Text : public DataTest {
 protected:
  void SetUp() override {
    DataTest::SetUp();
    ASSERT_EQ(Text_Init(), 1);
  }
  void TearDown() override {
    Text_Shutdown();
    Text_SetLanguageQuery(nullptr);
    DataTest::TearDown();
  }
  void Parse(const std::string& text) {
    WriteDisk("data/t.txt", text);
    Text_ParseFile("t.txt");
  }
  std::string Get(const char* key, uint32_t index = 0) {
    char buffer[TEXT_BUFFER_SIZE];
    return Text_Get(key, index, buffer);
  }
};

const char* const kMissing = "!!!TRANSLATION MISSING!!!";

TEST_F(Text, DuplicateKeysTakeIndicesAndKeysIgnoreCaseAndBlanks) {
  Parse("LS_Hello=Hello\nls_hello= second\nno equals sign here\nLS_ Empty=\n");
  // The text keeps its blanks; an empty text adds nothing.
  EXPECT_EQ(Get("LS_HELLO", 0) + "|" + Get("l s _ h e l l o", 1) + "|" + Get("LS_Hello", 2) + "|" + Get("LS_Empty"),
            std::string("Hello| second|") + kMissing + "|" + kMissing);
  EXPECT_EQ(Text_CountById(Text_Id("LS_HELLO")) * 10 + Text_CountById(Text_Id("LS_Empty")), 20u);
  char buffer[TEXT_BUFFER_SIZE];
  EXPECT_STREQ(Text_GetById(0, 0, buffer), kMissing);
  EXPECT_FALSE(Text_GetById(1, 0, nullptr) || Text_Get(nullptr, 0, buffer) || Text_Id(nullptr));
  char small[4];
  EXPECT_STREQ(Text_Get("LS_Hello", 0, small, sizeof small), "Hel");
}

TEST_F(Text, MacrosLinesAndKeysReadAsTheFilesSay)
{
    const std::string big(600, 'w'), longText(TEXT_MAX - 5, 'a'), exact(TEXT_MAX - 6, 'e');
    struct Case {
        const char* what;
        std::vector<std::string> files;                          // parsed in turn
        std::vector<std::pair<std::string, std::string>> texts;  // key (index 0), then its text
    } cases[] = {
        {"macros apply to later lines only and match case",
         {"Before=<SIZE> kart\n <SIZE> =Large\nAfter=<SIZE> kart\nLower=<size> kart\n<SIZE>=Huge\nRedefined=<SIZE>\n"},
         {{"Before", "<SIZE> kart"}, {"After", "Large kart"}, {"Lower", "<size> kart"}, {"Redefined", "Huge"}}},
        // The pool serves the third and second macro's slots in that order, so
        // <C> expands before <B>: <B>'s "<C>" is not expanded again; a
        // redefinition keeps the macro's turn.
        {"macros expand in pool order",
         {"<A>=a\n<B>=<C>\n<C>=c\nLine=<A><B><C>\n", "<B>=b<A>\nAgain=<B>\n"},
         {{"Line", "a<C>c"}, {"Again", "b<A>"}}},
        {"self-referring macros expand once and expansions are cut",
         {"<X>=<X><X>\nTwice=<X>\n", "<BIG>=" + big + "\nHuge=<BIG><BIG><BIG>\n"},
         {{"Twice", "<X><X>"}, {"Huge", (big + big).substr(0, TEXT_MAX)}}},
        {"CR LF files read like LF files",
         {"<M>=mac\r\nKey=value <M>\r\nOther=x\r\n"},
         {{"Key", "value mac"}, {"Other", "x"}}},
        {"overlong lines are cut and their tail (here exactly \"Tail=oops\") is not a line; 1023 characters and the "
         "line feed stay whole",
         {"Long=" + longText + "Tail=oops\nNext=fine\n", "Exact=" + exact + "\nAfter=yes\n"},
         {{"Long", longText}, {"Tail", kMissing}, {"Next", "fine"}, {"Exact", exact}, {"After", "yes"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Text_Shutdown();
        ASSERT_EQ(Text_Init(), 1);
        for (const std::string& file : c.files) Parse(file);
        for (const auto& [key, text] : c.texts) EXPECT_EQ(Get(key.c_str()), text) << key;
    }
    EXPECT_EQ(Text_SetMacro("<SIZE>", "2 KB"), 1);  // a macro set by the game
    Parse("Game=<SIZE>\n");
    EXPECT_EQ(Get("Game"), "2 KB");
    // Keys hashing to zero add nothing; loading twice doubles.
    Parse("   =blank key\nK=v\n");
    Parse("K=w\n");
    EXPECT_TRUE(Text_CountById(0) == 0 && Get("K", 1) == "w");
}

int German() { return 2; }

TEST_F(Text, LoadReadsThePlatformFileThenTheLanguageFile) {
  WriteDisk("data/language/PC/english_PC.txt", "LS_CardNamePC=Memory card\nLS_Both=pc\n");
  WriteDisk("data/language/english.txt", "LS_Both=common\nLS_Yes=Yes\n");
  WriteDisk("data/language/PC/german_PC.txt", "LS_Yes=Ja\n");
  WriteDisk("data/language/german.txt", "LS_Yes=Ja\n");
  Text_SetLanguageQuery(German);
  Text_Load("language", 1);
  EXPECT_EQ(Get("LS_CardNamePC") + "|" + Get("LS_Both", 0) + "|" + Get("LS_Both", 1) + "|" + Get("LS_Yes"),
            "Memory card|pc|common|Yes");
  Text_Load("language", 0);
  EXPECT_EQ(Get("LS_Yes", 1) + Get("LS_Yes", 2), "JaJa");
}

}  // namespace
