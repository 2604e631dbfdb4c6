#include "common/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The parts of text split by String_Tokenise, joined with "|"; the count too.
std::string Split(const char* text, int maxParts, const char* separator, int quotes, int* count = nullptr)
{
    std::vector<char> buffer(text, text + strlen(text) + 1);
    std::unique_ptr<char*[]> parts(new char*[maxParts]());  // exactly maxParts: ASan sees any write beyond
    const int n = String_Tokenise(buffer.data(), parts.get(), maxParts, separator, quotes);
    if (count) *count = n;
    std::string joined;
    for (int i = 0; i < n && i < maxParts; i++) joined += (i ? "|" : "") + std::string(parts[i]);
    return joined;
}

}  // namespace

TEST(Strings, TokenisingSplitsAtSeparatorsAndGroupsQuotesOnlyWhenAsked)
{
    // The text, the most parts kept, the separator, quotes; the count and the parts.
    const std::tuple<const char*, int, const char*, int, int, const char*> cases[] = {
        {"-Launch \"Level One\"  -PAL", 8, nullptr, 1, 3, "-Launch|Level One|-PAL"},
        {"-Launch \"Level One\"  -PAL", 8, nullptr, 0, 4, "-Launch|\"Level|One\"|-PAL"},
        {"abc", 8, "", 0, 1, "abc"},                       // an empty separator never matches
        {" a b ", 8, nullptr, 0, 4, "|a|b|"},              // separators at the ends give empty parts
        {"Menu::::Item::", 8, "::", 0, 4, "Menu||Item|"},  // and doubled ones too
        {"", 8, ",", 0, 0, ""},
        {"a b c \"d e\" f", 3, nullptr, 1, 5, "a|b|c"},  // counted past the most kept
        {"1,2,3,4", 0, ",", 0, 4, ""},
        {"\"x\"", 0, nullptr, 1, 1, ""},
    };
    for (const auto& [text, maxParts, separator, quotes, count, parts] : cases) {
        int counted = -1;
        EXPECT_EQ(Split(text, maxParts, separator, quotes, &counted), parts) << text;
        EXPECT_EQ(counted, count) << text;
    }
    char counted[] = "1 2";
    EXPECT_EQ(String_TokeniseWhitespace(counted, nullptr, 0), 2);
}

TEST(Strings, ParseHexStopsAtTheFirstForeignCharacterOrAtEightDigits)
{
    const std::tuple<const char*, uint32_t, size_t> cases[] = {
        // text, value, characters used
        {"1aZ", 0x1A, 2},
        {"123456789", 0x12345678, 8},
        {"000000000A", 0xA, 10},  // leading zeros don't count
        {"FFFFFFFF", 0xFFFFFFFF, 8},
        {"", 0, 0},
        {"g1", 0, 0},
        {"7f", 0x7F, 2},
    };
    for (const auto& [text, value, used] : cases) {
        const char* end = nullptr;
        EXPECT_EQ(String_ParseHex(text, &end), value) << text;
        EXPECT_EQ(end, text + used) << text;
    }
    EXPECT_EQ(String_ParseHex(nullptr), 0u);
    EXPECT_EQ(String_ToBool(nullptr), 0);
}
