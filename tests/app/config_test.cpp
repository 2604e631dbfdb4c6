#include "app/config.h"

#include <cstring>

#include "common/memory.h"
#include "data_fixture.h"
#include "app/wad.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/wadpack.h"

namespace {

class Config : public DataTest {
 protected:
  void SetUp() override {
    DataTest::SetUp();
    ASSERT_EQ(ConfigSys_Init(), 1);
  }
  void TearDown() override {
    if (cfg_) Config_Close(cfg_);
    ConfigSys_Shutdown();
    DataTest::TearDown();
  }
  // Compiles text and places it where Config_Open looks for sourceName.
  void Install(const char* sourceName, const char* text) {
    std::vector<uint8_t> bytes;
    CfgcError error;
    ASSERT_EQ(Cfgc_Compile(text, strlen(text), &bytes, &error), 1) << error.line << ": " << error.message;
    WriteDisk("data/" + Cfgc_OutputPath(sourceName), bytes);
  }
  ConfigNode* Open(const char* text) {
    Install("Test.cfg", text);
    cfg_ = Config_Open("Test.cfg");
    return cfg_;
  }
  ConfigNode* cfg_ = nullptr;
};

const char* const kKart =
    "Kart {\n"
    "  Speed = 1.5\n"
    "  Grip = 2.9\n"
    "  Brake = -2.9\n"
    "  Wheels {\n"
    "    Front = 1,2,3\n"
    "    Rear = 4,5\n"
    "  }\n"
    "  Last = yes\n"
    "}\n"
    "Kart = second\n"
    "Trailer {\n"
    "  Wheels {\n"
    "    Front = 9\n"
    "  }\n"
    "}\n"
    "Colours {\n"
    "  Orange = 255:128:0\n"
    "  Commas = 255,128,0\n"
    "  Clear = 255:255:255:0\n"
    "  Bytes3 = 10,20,30\n"
    "  Bytes4 = 10,20,30,40\n"
    "  Big = 300,-1,70000\n"
    "  Quoted = \"1,5\",2,3\n"
    "}\n";

TEST_F(Config, FindsKeysByHashIgnoringCaseAndBlanksFirstMatchWins) {
  ConfigNode* cfg = Open(kKart);
  ASSERT_NE(cfg, nullptr);
  for (const char* key : {"Kart::Speed", "kart::speed", "K a r t::Speed", " KART :: SPEED "}) {
    ConfigNode* n = Config_Find(cfg, key);
    ASSERT_NE(n, nullptr) << key;
    EXPECT_STREQ(n->value, "1.5");
    EXPECT_STREQ(ConfigNode_GetName(n), "Speed");
  }
  EXPECT_STREQ(Config_GetValue(cfg, "Kart"), "{");  // the first of the two top-level Karts
  EXPECT_EQ(Config_Find(cfg, "Speed"), nullptr);    // depth is absolute
  EXPECT_EQ(Config_Find(cfg, ""), nullptr);
  EXPECT_EQ(Config_Find(cfg, "Kart::   "), nullptr);  // a blank name hashes to 0
  // The same path end under other ancestors: every ancestor must match.
  EXPECT_STREQ(Config_GetValue(cfg, "Kart::Wheels::Front"), "1,2,3");
  EXPECT_STREQ(Config_GetValue(cfg, "Trailer::Wheels::Front"), "9");
  EXPECT_EQ(Config_Find(cfg, "Trailer::Wheels::Rear"), nullptr);
}

TEST_F(Config, SectionAndSubsectionPrefixLaterLookupsThroughAnyNode) {
  ConfigNode* cfg = Open(kKart);
  ASSERT_NE(cfg, nullptr);
  ConfigNode* wheels = Config_Find(cfg, "Kart::Wheels");
  ASSERT_NE(wheels, nullptr);
  Config_SetSection(wheels, "Kart");
  EXPECT_STREQ(Config_GetSection(cfg), "Kart");
  EXPECT_STREQ(Config_GetValue(cfg, "Speed"), "1.5");
  Config_SetSubSection(cfg, "Wheels");
  EXPECT_STREQ(Config_GetValue(cfg, "Rear"), "4,5");
  // Through a child node the lookup starts there but still matches at
  // absolute depth.
  EXPECT_STREQ(Config_GetValue(wheels, "Front"), "1,2,3");
  EXPECT_EQ(Config_GetValue(Config_Find(cfg, "Last"), "Front"), nullptr);  // forward only
  Config_SetSection(cfg, nullptr);
  EXPECT_EQ(Config_GetSection(cfg), nullptr);
  Config_SetSubSection(cfg, "Kart");  // a subsection alone stands in front
  EXPECT_STREQ(Config_GetValue(cfg, "Speed"), "1.5");
  Config_SetSubSection(cfg, nullptr);
  EXPECT_STREQ(Config_GetValue(cfg, Config_Key("Kart", "Wheels", "Rear", nullptr)), "4,5");
}

TEST_F(Config, ChildAndSiblingWalksStayInsideTheirParent) {
  ConfigNode* cfg = Open(kKart);
  ASSERT_NE(cfg, nullptr);
  ConfigNode* child = Config_FirstChild(cfg, "Kart");
  ASSERT_NE(child, nullptr);
  std::vector<std::string> names;
  for (ConfigNode* n = child; n; n = Config_NextSibling(n)) names.push_back(n->name);
  EXPECT_EQ(names, (std::vector<std::string>{"Speed", "Grip", "Brake", "Wheels", "Last"}));
  ConfigNode* rear = Config_Find(cfg, "Kart::Wheels::Rear");
  EXPECT_EQ(Config_NextSibling(rear), nullptr);  // not Last, its parent's sibling
  EXPECT_EQ(Config_FirstChild(cfg, "Kart::Speed"), nullptr);
}

TEST_F(Config, NumberGettersTruncateAndLeaveOutputsOfMissingKeys) {
  ConfigNode* cfg = Open(kKart);
  ASSERT_NE(cfg, nullptr);
  Config_SetSection(cfg, "Kart");
  float f = -7;
  EXPECT_EQ(Config_GetFloat(cfg, "Speed", &f), 1);
  EXPECT_FLOAT_EQ(f, 1.5f);
  int32_t i = -7;
  EXPECT_EQ(Config_GetInt(cfg, "Grip", &i), 1);
  EXPECT_EQ(i, 2);
  EXPECT_EQ(Config_GetInt(cfg, "Brake", &i), 1);
  EXPECT_EQ(i, -2);
  uint32_t b = 7;
  EXPECT_EQ(Config_GetBool(cfg, "Last", &b), 1);
  EXPECT_EQ(b, 1u);
  EXPECT_EQ(Config_GetBool(cfg, "Speed", nullptr), 1);
  EXPECT_EQ(Config_GetBoolTri(cfg, "Speed"), 0);
  EXPECT_EQ(Config_GetBoolTri(cfg, "Nothing"), 2);

  f = -7;
  i = -7;
  b = 7;
  float v[3] = {-7, -7, -7};
  EXPECT_EQ(Config_GetFloat(cfg, "Nothing", &f), 0);
  EXPECT_EQ(Config_GetInt(cfg, "Nothing", &i), 0);
  EXPECT_EQ(Config_GetBool(cfg, "Nothing", &b), 0);
  EXPECT_EQ(Config_GetVector3(cfg, "Nothing", v), 0);
  EXPECT_EQ(f, -7);
  EXPECT_EQ(i, -7);
  EXPECT_EQ(b, 7u);
  EXPECT_EQ(v[0], -7);
  char text[16] = "junk";
  EXPECT_EQ(Config_GetString(cfg, "Nothing", text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(Config_GetString(cfg, "Speed", text, 3), 1);
  EXPECT_STREQ(text, "1.");
  char* copy = Config_DupString(cfg, "Speed");
  EXPECT_STREQ(copy, "1.5");
  Mem_Free(copy);
  EXPECT_EQ(Config_DupString(cfg, "Nothing"), nullptr);
}

TEST_F(Config, VectorGettersWantExactPartCountsAndNeverCutTheStoredValue) {
  ConfigNode* cfg = Open(kKart);
  ASSERT_NE(cfg, nullptr);
  Config_SetSection(cfg, "Kart");
  Config_SetSubSection(cfg, "Wheels");
  float v[3] = {-7, -7, -7};
  EXPECT_EQ(Config_GetVector3(cfg, "Rear", v), 0);
  EXPECT_EQ(v[0], -7);
  EXPECT_EQ(Config_GetVector2(cfg, "Front", v), 0);
  EXPECT_EQ(v[0], -7);
  EXPECT_EQ(Config_GetVector3(cfg, "Front", v), 1);
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[2], 3);
  // Read twice: the split works on a copy.
  EXPECT_EQ(Config_GetVector3(cfg, "Front", v), 1);
  EXPECT_STREQ(Config_GetValue(cfg, "Front"), "1,2,3");
  float x = -7, y = -7, z = -7;
  EXPECT_EQ(Config_GetVector2or3(cfg, "Rear", &x, &y, &z), 1);
  EXPECT_EQ(x, 4);
  EXPECT_EQ(y, 5);
  EXPECT_EQ(z, -7);
  EXPECT_EQ(Config_GetVector2or3(cfg, "Front", &x, &y, &z), 1);
  EXPECT_EQ(z, 3);
  Config_SetSubSection(cfg, nullptr);
  x = -7;
  EXPECT_EQ(Config_GetVector2or3(cfg, "Speed", &x, &y, nullptr), 0);  // one part
  Config_SetSection(cfg, "Colours");
  EXPECT_EQ(Config_GetVector2or3(cfg, "Bytes4", &x, &y, &z), 0);  // four parts
  EXPECT_EQ(x, -7);
}

TEST_F(Config, ColourGettersSplitAtTheirOwnSeparators) {
  ConfigNode* cfg = Open(kKart);
  ASSERT_NE(cfg, nullptr);
  Config_SetSection(cfg, "Colours");
  float r = -7, g = -7, b = -7, a = -7;
  EXPECT_EQ(Config_GetColour3(cfg, "Commas", &r, &g, &b), 0);
  EXPECT_EQ(r, -7);
  EXPECT_EQ(Config_GetColour3(cfg, "Orange", &r, &g, &b), 1);
  EXPECT_FLOAT_EQ(r, 1.0f);
  EXPECT_NEAR(g, 0.502f, 0.001f);
  EXPECT_EQ(b, 0.0f);
  EXPECT_EQ(g, 128.0f * 0.003921569f);
  EXPECT_EQ(Config_GetColour4(cfg, "Orange", &r, &g, &b, &a), 0);
  EXPECT_EQ(Config_GetColour4(cfg, "Clear", &r, &g, &b, &a), 1);
  EXPECT_EQ(a, 0.0f);
  uint8_t rgba[4] = {1, 1, 1, 1};
  EXPECT_EQ(Config_GetColourBytes(cfg, "Bytes3", rgba), 1);
  EXPECT_EQ(rgba[0], 10);
  EXPECT_EQ(rgba[2], 30);
  EXPECT_EQ(rgba[3], 255);
  EXPECT_EQ(Config_GetColourBytes(cfg, "Bytes4", rgba), 1);
  EXPECT_EQ(rgba[3], 40);
  EXPECT_EQ(Config_GetColourBytes(cfg, "Orange", rgba), 0);
  EXPECT_EQ(Config_GetColourBytes(cfg, "Big", rgba), 1);
  EXPECT_EQ(rgba[0], (uint8_t)300);
  float v[3];
  EXPECT_EQ(Config_GetVector3(cfg, "Quoted", v), 1);  // quotes group "1,5"
  EXPECT_EQ(v[0], 1);
}

TEST_F(Config, MissingOrEmptyFilesOpenAsNothing) {
  EXPECT_EQ(Config_Open("Missing.cfg"), nullptr);
  WriteDisk("data/" + Cfgc_OutputPath("Empty.cfg"), std::string());
  EXPECT_EQ(Config_Open("Empty.cfg"), nullptr);
  Install("FrontEnd\\FrontEnd.cfg", "a = b\n");
  EXPECT_TRUE(std::filesystem::exists("data/Cache/01/0562ecda.cfb"));
  ConfigNode* cfg = Config_Open("frontend\\FRONTEND.CFG");  // case is hashed away
  ASSERT_NE(cfg, nullptr);
  Config_Close(cfg);
  EXPECT_EQ(Config_Open("FrontEnd/FrontEnd.cfg"), nullptr);  // the slash hashes otherwise
}

TEST_F(Config, OpensFromAMountedArchive) {
  Install("Levels\\Track01.cfg", "Track {\n  Laps = 3\n}\n");
  std::vector<WadPackFile> files;
  std::string error;
  ASSERT_EQ(WadPack_ListFolder("data", &files, &error), 1);
  ASSERT_EQ(WadPack_Write(files, "DATA", "DataPC.wad", &error), 1) << error;
  std::filesystem::remove_all("data");
  ASSERT_EQ(Wad_Init(), 1);
  ASSERT_EQ(Wad_Mount("DataPC.wad", 1), 1);
  ConfigNode* cfg = Config_Open("Levels\\Track01.cfg");
  ASSERT_NE(cfg, nullptr);
  int32_t laps = 0;
  EXPECT_EQ(Config_GetInt(cfg, "Track::Laps", &laps), 1);
  EXPECT_EQ(laps, 3);
  Config_Close(cfg);
  Wad_Shutdown();
}

// A file of three records cut at every length keeps the whole records in
// front of the cut and never reads past its end.
TEST_F(Config, TruncatedFilesKeepEveryWholeRecordBeforeTheCut) {
  std::vector<uint8_t> bytes, one, two;
  Cfgc_AppendRecord(&one, "Kart", "{", 0);
  Cfgc_AppendRecord(&two, "Speed", "1.5", 1);
  bytes = one;
  bytes.insert(bytes.end(), two.begin(), two.end());
  Cfgc_AppendRecord(&bytes, "Grip", "2", 1);
  for (size_t cut = 0; cut <= bytes.size(); cut++) {
    WriteDisk("data/cut.cfb", std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
    ConfigNode* cfg = Config_Load("cut.cfb");
    size_t expected = cut < one.size() ? 0 : cut < one.size() + two.size() ? 1 : cut < bytes.size() ? 2 : 3;
    size_t count = 0;
    for (ConfigNode* n = cfg; n; n = n->next) count++;
    EXPECT_EQ(count, expected) << "cut at " << cut;
    if (cfg) Config_Close(cfg);
  }
}

TEST_F(Config, LengthsPastTheEndStopTheReadWithoutOverrun) {
  std::vector<uint8_t> good;
  Cfgc_AppendRecord(&good, "Kart", "{", 0);
  for (uint32_t badLength : {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFCu, 1000u, 40u}) {
    std::vector<uint8_t> bytes = good;
    std::vector<uint8_t> next;
    Cfgc_AppendRecord(&next, "Speed", "1.5", 1);
    // Name length of the second record.
    for (int k = 0; k < 4; k++) next[k] = (uint8_t)(badLength >> (8 * k));
    bytes.insert(bytes.end(), next.begin(), next.end());
    WriteDisk("data/bad.cfb", bytes);
    ConfigNode* cfg = Config_Load("bad.cfb");
    ASSERT_NE(cfg, nullptr);
    EXPECT_EQ(cfg->next, nullptr) << badLength;
    Config_Close(cfg);

    // The same fault in the value length.
    bytes = good;
    next.clear();
    Cfgc_AppendRecord(&next, "Speed", "1.5", 1);
    size_t valueLength = 4 + 8 + 4;  // L1, "Speed" padded, hash
    for (int k = 0; k < 4; k++) next[valueLength + k] = (uint8_t)(badLength >> (8 * k));
    bytes.insert(bytes.end(), next.begin(), next.end());
    WriteDisk("data/bad.cfb", bytes);
    cfg = Config_Load("bad.cfb");
    ASSERT_NE(cfg, nullptr);
    EXPECT_EQ(cfg->next, nullptr) << badLength;
    Config_Close(cfg);
  }
  // A first record whose name is larger than the file gives nothing.
  std::vector<uint8_t> bytes = good;
  bytes[0] = 0xFF;
  WriteDisk("data/bad.cfb", bytes);
  EXPECT_EQ(Config_Load("bad.cfb"), nullptr);
}

TEST_F(Config, KeyJoinsPartsAndCutsAtItsBuffer) {
  EXPECT_STREQ(Config_Key("game", "Level", "levelscene", nullptr), "game::Level::levelscene");
  EXPECT_STREQ(Config_Key("alone", nullptr), "alone");
  std::string longPart(2000, 'k');
  EXPECT_EQ(strlen(Config_Key(longPart.c_str(), "x", nullptr)), (size_t)CONFIG_TEXT_MAX - 1);
  EXPECT_EQ(strlen(Config_Key("a", longPart.c_str(), nullptr)), (size_t)CONFIG_TEXT_MAX - 1);
}

TEST_F(Config, PathsWithMoreThanAHundredPartsFindNothing) {
  std::string text, key;
  for (int d = 0; d < 101; d++) {
    text += "n {\n";
    key += d ? "::n" : "n";
  }
  for (int d = 0; d < 101; d++) text += "}\n";
  ConfigNode* cfg = Open(text.c_str());
  ASSERT_NE(cfg, nullptr);
  EXPECT_EQ(Config_Find(cfg, key.c_str()), nullptr);
  std::string hundred = key.substr(0, key.size() - 3);
  ConfigNode* deep = Config_Find(cfg, hundred.c_str());
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->depth, 99u);
}

}  // namespace
