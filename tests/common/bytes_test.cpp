#include "common/bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <utility>

namespace {

// Bytes on the heap in a block of exactly their size, so that a read one
// byte too far is an error under AddressSanitizer.
std::unique_ptr<uint8_t[]> Exact(std::initializer_list<uint8_t> bytes)
{
    std::unique_ptr<uint8_t[]> block(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), block.get());
    return block;
}

}  // namespace

TEST(BytesTest, ValuesAreLittleEndianAtAnyAddress)
{
    const uint8_t stored[] = {0xAA, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x80, 0x3F};
    EXPECT_EQ(Bytes_LoadU16(stored + 1), 0x0201u);
    EXPECT_EQ(Bytes_LoadU32(stored + 1), 0x04030201u);
    EXPECT_EQ(Bytes_LoadF32(stored + 5), 1.0f);
    uint8_t out[9] = {};
    Bytes_StoreU16(out + 1, 0xBEEF);
    Bytes_StoreU32(out + 3, 0x12345678u);
    const uint8_t expected[] = {0x00, 0xEF, 0xBE, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00};
    EXPECT_EQ(0, memcmp(out, expected, sizeof out));
    Bytes_StoreF32(out + 5, -2.5f);
    EXPECT_EQ(Bytes_LoadU32(out + 5), 0xC0200000u);  // the bit pattern, not a conversion
}

TEST(BytesTest, ReaderTakesFieldsInOrderAndStopsExactlyAtTheEnd)
{
    auto block = Exact({7, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x20, 0x41, 'a', 'b'});
    ByteReader r = ByteReader_Init(block.get(), 13);
    EXPECT_EQ(ByteReader_U8(&r), 7u);
    EXPECT_EQ(ByteReader_U16(&r), 0x1234u);
    EXPECT_EQ(ByteReader_U32(&r), 0x12345678u);
    EXPECT_EQ(ByteReader_F32(&r), 10.0f);
    char text[2];
    EXPECT_EQ(ByteReader_Bytes(&r, text, 2), 1);
    EXPECT_EQ(text[1], 'b');
    EXPECT_EQ(r.left, 0u);
    EXPECT_EQ(r.overrun, 0);  // ending exactly at the end is no overrun
    EXPECT_EQ(ByteReader_Skip(&r, 0), 1);
    // Each read below asks for more than the three bytes there are.
    const std::pair<const char*, int (*)(ByteReader*)> cases[] = {
        {"U32", [](ByteReader* r) { return (int)ByteReader_U32(r); }},
        {"F32", [](ByteReader* r) { return (int)ByteReader_F32(r); }},
        {"Skip", [](ByteReader* r) { return ByteReader_Skip(r, 4); }},
        {"Skip huge", [](ByteReader* r) { return ByteReader_Skip(r, SIZE_MAX); }},
        {"Bytes",
         [](ByteReader* r) {
             uint8_t out[4] = {9, 9, 9, 9};
             return ByteReader_Bytes(r, out, 4) + (out[0] == 9 ? 0 : 100);  // the output stays untouched
         }},
    };
    for (const auto& [read, run] : cases) {
        auto three = Exact({0xFF, 0xFF, 0xFF});
        r = ByteReader_Init(three.get(), 3);
        EXPECT_EQ(run(&r), 0) << read;
        EXPECT_EQ(r.overrun, 1) << read;
        // The reader is empty from then on: a read that would have fitted
        // before fails too, so one check after a group of reads suffices.
        EXPECT_EQ(ByteReader_U8(&r) + ByteReader_U16(&r), 0) << read;
    }
    r = ByteReader_Init(nullptr, 0);
    EXPECT_EQ(ByteReader_U8(&r), 0u);
    EXPECT_EQ(r.overrun, 1);
}
