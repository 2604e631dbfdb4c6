#include "app/text.h"

#include <cstring>

#include "common/hash.h"
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
  EXPECT_EQ(Get("LS_HELLO", 0), "Hello");
  EXPECT_EQ(Get("l s _ h e l l o", 1), " second");  // the text keeps its blanks
  EXPECT_EQ(Get("LS_Hello", 2), kMissing);
  EXPECT_EQ(Text_CountById(Text_Id("LS_HELLO")), 2u);
  EXPECT_EQ(Get("LS_Empty"), kMissing);  // an empty text adds nothing
  EXPECT_EQ(Text_CountById(Text_Id("LS_Empty")), 0u);
  char buffer[TEXT_BUFFER_SIZE];
  EXPECT_STREQ(Text_GetById(0, 0, buffer), kMissing);
  EXPECT_EQ(Text_GetById(1, 0, nullptr), nullptr);
  EXPECT_EQ(Text_Get(nullptr, 0, buffer), nullptr);
  EXPECT_EQ(Text_Id(nullptr), 0u);
  EXPECT_EQ(Text_Id("ls_hello"), Name_Hash("LS_HELLO", 1, 1));
  char small[4];
  EXPECT_STREQ(Text_Get("LS_Hello", 0, small, sizeof small), "Hel");

  // Many keys, each twice, the second time from another file.
  std::string first, second;
  for (int i = 0; i < 700; i++) {
    first += "LS_K" + std::to_string(i) + "=a" + std::to_string(i) + "\n";
    second += "LS_K" + std::to_string(i) + "=b" + std::to_string(i) + "\n";
  }
  Parse(first);
  Parse(second);
  for (int i = 0; i < 700; i += 99) {
    const std::string key = "LS_K" + std::to_string(i);
    EXPECT_EQ(Text_CountById(Text_Id(key.c_str())), 2u) << key;
    EXPECT_EQ(Get(key.c_str(), 1), "b" + std::to_string(i)) << key;
  }
  EXPECT_EQ(Text_CountById(Text_Id("LS_HELLO")), 2u);
}

TEST_F(Text, MacrosApplyToLaterLinesOnlyAndMatchCase) {
  Parse("Before=<SIZE> kart\n"
        " <SIZE> =Large\n"
        "After=<SIZE> kart\n"
        "Lower=<size> kart\n"
        "<SIZE>=Huge\n"
        "Redefined=<SIZE>\n");
  EXPECT_EQ(Get("Before"), "<SIZE> kart");
  EXPECT_EQ(Get("After"), "Large kart");
  EXPECT_EQ(Get("Lower"), "<size> kart");
  EXPECT_EQ(Get("Redefined"), "Huge");
  // Defining a macro does not touch texts already stored.
  EXPECT_EQ(Get("After"), "Large kart");
  EXPECT_EQ(Text_SetMacro("<SIZE>", "2 KB"), 1);
  Parse("Game=<SIZE>\n");
  EXPECT_EQ(Get("Game"), "2 KB");
}

TEST_F(Text, MacrosExpandInPoolOrder) {
  // The pool serves the third and second macro's slots in that order, so <C>
  // expands before <B>: <B>'s replacement "<C>" is not expanded again.
  Parse("<A>=a\n<B>=<C>\n<C>=c\nLine=<A><B><C>\n");
  EXPECT_EQ(Get("Line"), "a<C>c");
  // A redefinition keeps the macro's turn.
  Parse("<B>=b<A>\nAgain=<B>\n");
  EXPECT_EQ(Get("Again"), "b<A>");
}

TEST_F(Text, SelfReferringMacrosExpandOnceAndExpansionIsCut) {
  Parse("<X>=<X><X>\nTwice=<X>\n");
  EXPECT_EQ(Get("Twice"), "<X><X>");
  std::string big(600, 'w');
  Parse("<BIG>=" + big + "\nHuge=<BIG><BIG><BIG>\n");
  EXPECT_EQ(Get("Huge").size(), (size_t)TEXT_MAX);
  EXPECT_EQ(Get("Huge"), (big + big).substr(0, TEXT_MAX));
}

TEST_F(Text, CrLfFilesReadLikeLfFiles) {
  Parse("<M>=mac\r\nKey=value <M>\r\nOther=x\r\n");
  EXPECT_EQ(Get("Key"), "value mac");
  EXPECT_EQ(Get("Other"), "x");
}

TEST_F(Text, OverlongLinesAreCutAndTheirTailIsNotALine) {
  std::string longText(1100, 'a');
  Parse("Long=" + longText + "Tail=oops\nNext=fine\n");
  EXPECT_EQ(Get("Long"), longText.substr(0, TEXT_MAX - 5));
  EXPECT_EQ(Get("Tail"), kMissing);
  EXPECT_EQ(Get("Next"), "fine");
  // A line of exactly 1023 characters and its line feed stays whole.
  std::string exact = "Exact=" + std::string(TEXT_MAX - 6, 'e');
  Parse(exact + "\nAfter=yes\n");
  EXPECT_EQ(Get("Exact").size(), (size_t)TEXT_MAX - 6);
  EXPECT_EQ(Get("After"), "yes");
}

TEST_F(Text, KeysHashingToZeroAddNothingAndLoadingTwiceDoubles) {
  Parse("   =blank key\nK=v\n");
  EXPECT_EQ(Text_CountById(0), 0u);
  Parse("K=w\n");
  EXPECT_EQ(Get("K", 1), "w");
}

int German() { return 2; }

TEST_F(Text, LoadReadsThePlatformFileThenTheLanguageFile) {
  WriteDisk("data/language/PC/english_PC.txt", "LS_CardNamePC=Memory card\nLS_Both=pc\n");
  WriteDisk("data/language/english.txt", "LS_Both=common\nLS_Yes=Yes\n");
  WriteDisk("data/language/PC/german_PC.txt", "LS_Yes=Ja\n");
  WriteDisk("data/language/german.txt", "LS_Yes=Ja\n");
  Text_SetLanguageQuery(German);
  Text_Load("language", 1);
  EXPECT_EQ(Get("LS_CardNamePC"), "Memory card");
  EXPECT_EQ(Get("LS_Both", 0), "pc");
  EXPECT_EQ(Get("LS_Both", 1), "common");
  EXPECT_EQ(Get("LS_Yes"), "Yes");
  Text_Load("language", 0);
  EXPECT_EQ(Get("LS_Yes", 1), "Ja");
  EXPECT_EQ(Get("LS_Yes", 2), "Ja");
}

}  // namespace
