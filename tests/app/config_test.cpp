#include "app/config.h"

#include <cstring>
#include <functional>
#include <sstream>
#include <tuple>

#include "app/wad.h"
#include "common/memory.h"
#include "tests/app/data_fixture.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/wadpack.h"

namespace {

class Config : public DataTest {
protected:
    void SetUp() override
    {
        DataTest::SetUp();
        ASSERT_EQ(ConfigSys_Init(), 1);
    }
    void TearDown() override
    {
        if (cfg_) Config_Close(cfg_);
        ConfigSys_Shutdown();
        DataTest::TearDown();
    }
    // Compiles text and places it where Config_Open looks for sourceName.
    void Install(const char* sourceName, const char* text)
    {
        std::vector<uint8_t> bytes;
        CfgcError error;
        ASSERT_EQ(Cfgc_Compile(text, strlen(text), &bytes, &error), 1) << error.line << ": " << error.message;
        WriteDisk("data/" + Cfgc_OutputPath(sourceName), bytes);
    }
    ConfigNode* Open(const char* text)
    {
        Install("Test.cfg", text);
        return cfg_ = Config_Open("Test.cfg");
    }
    // A compiled file of records (name, value, depth), cut or patched.
    static std::vector<uint8_t> Records(std::initializer_list<std::tuple<const char*, const char*, int>> records)
    {
        std::vector<uint8_t> bytes;
        for (const auto& [name, value, depth] : records) Cfgc_AppendRecord(&bytes, name, value, depth);
        return bytes;
    }
    static size_t CountRecords(const std::vector<uint8_t>& bytes)
    {
        WriteDisk("data/cut.cfb", bytes);
        ConfigNode* cfg = Config_Load("cut.cfb");
        size_t count = 0;
        for (ConfigNode* n = cfg; n; n = n->next) count++;
        if (cfg) Config_Close(cfg);
        return count;
    }
    ConfigNode* cfg_ = nullptr;
};

const char* const kKart =
    "Kart {\n  Speed = 1.5\n  Grip = 2.9\n  Brake = -2.9\n  Wheels {\n    Front = 1,2,3\n    Rear = 4,5\n  }\n"
    "  Last = yes\n}\n"
    "Kart = second\n"
    "Trailer {\n  Wheels {\n    Front = 9\n  }\n}\n"
    "Colours {\n  Orange = 255:128:0\n  Commas = 255,128,0\n  Clear = 255:255:255:0\n  Bytes3 = 10,20,30\n"
    "  Bytes4 = 10,20,30,40\n  Big = 300,-1,70000\n  Quoted = \"1,5\",2,3\n}\n";

// What a getter gave: its result, then its outputs (read after the call).
template <typename... T>
std::string Got(int ok, const T*... outputs)
{
    std::ostringstream said;
    said << ok;
    ((said << ' ' << +*outputs), ...);
    return said.str();
}

TEST_F(Config, GettersWantTheirExactPartsTruncateAndLeaveTheOutputsOfWhatTheyRefuse)
{
    ConfigNode* cfg = Open(kKart);
    ASSERT_NE(cfg, nullptr);
    float v[4];
    int32_t i;
    uint32_t b;
    uint8_t c[4];
    char text[16];
    using Get = std::function<std::string(const char*)>;
    const Get Float = [&](const char* k) { return Got(Config_GetFloat(cfg, k, v), v); };
    const Get Int = [&](const char* k) { return Got(Config_GetInt(cfg, k, &i), &i); };
    const Get Bool = [&](const char* k) { return Got(Config_GetBool(cfg, k, &b), &b); };
    const Get Tri = [&](const char* k) { return Got(Config_GetBoolTri(cfg, k)); };
    const Get String = [&](const char* k) { return Got(Config_GetString(cfg, k, text)) + " " + text; };
    const Get Cut = [&](const char* k) { return Got(Config_GetString(cfg, k, text, 3)) + " " + text; };
    const Get Vec2 = [&](const char* k) { return Got(Config_GetVector2(cfg, k, v), v, v + 1, v + 2); };
    const Get Vec3 = [&](const char* k) { return Got(Config_GetVector3(cfg, k, v), v, v + 1, v + 2); };
    const Get Vec23 = [&](const char* k) {
        return Got(Config_GetVector2or3(cfg, k, v, v + 1, v + 2), v, v + 1, v + 2);
    };
    const Get Col3 = [&](const char* k) { return Got(Config_GetColour3(cfg, k, v, v + 1, v + 2), v, v + 1, v + 2); };
    const Get Col4 = [&](const char* k) { return Got(Config_GetColour4(cfg, k, v, v + 1, v + 2, v + 3), v, v + 3); };
    const Get Bytes = [&](const char* k) { return Got(Config_GetColourBytes(cfg, k, c), c, c + 2, c + 3); };
    const std::tuple<const char*, const Get&, const char*> cases[] = {
        {"Kart::Speed", Float, "1 1.5"},
        {"Kart::Grip", Int, "1 2"},  // truncated towards 0
        {"Kart::Brake", Int, "1 -2"},
        {"Kart::Last", Bool, "1 1"},
        {"Kart::Speed", Bool, "1 0"},  // found: any other word reads false
        {"Kart::Speed", Tri, "0"},
        {"Kart::Nothing", Tri, "2"},
        {"Kart::Nothing", Float, "0 -7"},  // missing keys leave the outputs
        {"Kart::Nothing", Int, "0 -7"},
        {"Kart::Nothing", Bool, "0 7"},
        {"Kart::Nothing", Vec3, "0 -7 -7 -7"},
        {"Kart::Nothing", String, "0 "},             // but a string is emptied
        {"Kart::Speed", Cut, "1 1."},                // cut at the buffer
        {"Kart::Wheels::Rear", Vec3, "0 -7 -7 -7"},  // two parts are not three
        {"Kart::Wheels::Front", Vec2, "0 -7 -7 -7"},
        {"Kart::Wheels::Front", Vec3, "1 1 2 3"},
        {"Kart::Wheels::Front", Vec3, "1 1 2 3"},  // again: the split works on a copy
        {"Kart::Wheels::Rear", Vec23, "1 4 5 -7"},
        {"Kart::Wheels::Front", Vec23, "1 1 2 3"},
        {"Kart::Speed", Vec23, "0 -7 -7 -7"},      // one part
        {"Colours::Bytes4", Vec23, "0 -7 -7 -7"},  // four parts
        {"Colours::Quoted", Vec3, "1 1 2 3"},      // quotes group "1,5"
        {"Colours::Commas", Col3, "0 -7 -7 -7"},   // colours split at colons
        {"Colours::Orange", Col3, "1 1 0.501961 0"},
        {"Colours::Orange", Col4, "0 -7 -7"},
        {"Colours::Clear", Col4, "1 1 0"},
        {"Colours::Bytes3", Bytes, "1 10 30 255"},  // byte colours at commas, opaque by default
        {"Colours::Bytes4", Bytes, "1 10 30 40"},
        {"Colours::Orange", Bytes, "0 1 1 1"},
        {"Colours::Big", Bytes, "1 44 112 255"},  // wrapped to bytes
    };
    for (const auto& [key, get, want] : cases) {
        std::fill(v, v + 4, -7.0f);
        i = -7;
        b = 7;
        std::fill(c, c + 4, 1);
        strcpy(text, "junk");
        EXPECT_EQ(get(key), want) << key;
    }
    EXPECT_STREQ(Config_GetValue(cfg, "Kart::Wheels::Front"), "1,2,3");  // never cut
    Config_GetColour3(cfg, "Colours::Orange", v, v + 1, v + 2);
    EXPECT_TRUE(v[1] == 128.0f * 0.003921569f && Config_GetBool(cfg, "Kart::Speed", nullptr) == 1);
    char* copy = Config_DupString(cfg, "Kart::Speed");
    EXPECT_STREQ(copy, "1.5");
    Mem_Free(copy);
    // A blank name hashes to 0.
    EXPECT_FALSE(Config_DupString(cfg, "Kart::Nothing") || Config_Find(cfg, "") || Config_Find(cfg, nullptr) ||
                 Config_Find(cfg, "Kart::   ") || Config_FirstChild(cfg, "Kart::Speed"));
    Config_SetSection(Config_Find(cfg, "Kart::Wheels"), "Kart");  // prefixes later lookups, through any node
    EXPECT_STREQ(Config_GetSection(cfg), "Kart");
    Config_SetSubSection(cfg, "Wheels");
    EXPECT_STREQ(Config_GetValue(cfg, "Rear"), "4,5");
    Config_SetSection(cfg, nullptr);
    EXPECT_EQ(Config_GetSection(cfg), nullptr);
    Config_SetSubSection(cfg, "Kart");  // a subsection alone stands in front
    EXPECT_STREQ(Config_GetValue(cfg, "Speed"), "1.5");
}

TEST_F(Config, DamagedFilesKeepEveryWholeRecordBeforeTheFaultAndNeverReadPastTheEnd)
{
    // Cut at every length: the whole records in front of the cut.
    const std::vector<uint8_t> one = Records({{"Kart", "{", 0}}),
                               two = Records({{"Kart", "{", 0}, {"Speed", "1.5", 1}});
    const std::vector<uint8_t> bytes = Records({{"Kart", "{", 0}, {"Speed", "1.5", 1}, {"Grip", "2", 1}});
    for (size_t cut = 0; cut <= bytes.size(); cut++) {
        const size_t expected = cut < one.size() ? 0 : cut < two.size() ? 1 : cut < bytes.size() ? 2 : 3;
        EXPECT_EQ(CountRecords({bytes.begin(), bytes.begin() + (long)cut}), expected) << "cut at " << cut;
    }
    // A length past the end, in the name (offset 0) or the value (behind the
    // length, "Speed" padded and the hash) of the second record.
    for (uint32_t badLength : {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFCu, 1000u, 40u}) {
        for (size_t at : {one.size(), one.size() + 4 + 8 + 4}) {
            std::vector<uint8_t> bad = two;
            for (int k = 0; k < 4; k++) bad[at + k] = (uint8_t)(badLength >> (8 * k));
            EXPECT_EQ(CountRecords(bad), 1u) << badLength << " at " << at;
        }
    }
    std::vector<uint8_t> bad = one;
    bad[0] = 0xFF;  // a first record whose name is larger than the file
    EXPECT_EQ(CountRecords(bad), 0u);
}

TEST_F(Config, KeysAndPathsAreBounded)
{
    EXPECT_STREQ(Config_Key("game", "Level", "levelscene", nullptr), "game::Level::levelscene");
    EXPECT_STREQ(Config_Key("alone", nullptr), "alone");
    std::string longPart(2000, 'k');
    for (const char* tail : {"x", longPart.c_str()})
        EXPECT_EQ(strlen(Config_Key(tail[0] == 'x' ? longPart.c_str() : "a", tail, nullptr)),
                  (size_t)CONFIG_TEXT_MAX - 1);
    // A path of more than a hundred parts finds nothing.
    std::string text, key;
    for (int d = 0; d < 101; d++) {
        text += "n {\n";
        key += d ? "::n" : "n";
    }
    for (int d = 0; d < 101; d++) text += "}\n";
    ConfigNode* cfg = Open(text.c_str());
    ASSERT_TRUE(cfg && !Config_Find(cfg, key.c_str()));
    ConfigNode* deep = Config_Find(cfg, key.substr(0, key.size() - 3).c_str());
    EXPECT_TRUE(deep && deep->depth == 99);
}

}  // namespace
