#include "app/binfile.h"

#include <cstring>

#include "data_fixture.h"

namespace {

class BinFile : public DataTest {
 protected:
  void SetUp() override {
    DataTest::SetUp();
    std::filesystem::create_directories("data");
  }
};

TEST_F(BinFile, WordsAreLittleEndianAndShortReadsFail) {
  Stream* out = BinFile_Open("Data\\w.bin", "w");
  ASSERT_NE(out, nullptr);
  uint32_t words[2] = {0x11223344u, 0xA0B0C0D0u};
  uint16_t halves[3] = {0x0102, 0xFFFE, 7};
  float matrix[16];
  for (int i = 0; i < 16; i++) matrix[i] = (float)i * 0.5f - 3.0f;
  float vec[6] = {1, 2, 3, -4, -5, -6};
  EXPECT_EQ(BinFile_WriteInt32s(out, words, 2), 1);
  EXPECT_EQ(BinFile_WriteInt16s(out, halves, 3), 1);
  EXPECT_EQ(BinFile_WriteMatrix(out, matrix), 1);
  EXPECT_EQ(BinFile_WriteVec3s(out, vec, 2), 1);
  EXPECT_EQ(BinFile_WriteFloats(out, vec, 1), 1);
  BinFile_Close(out);
  std::string disk = ReadDisk("data/w.bin");
  ASSERT_EQ(disk.size(), 8u + 6 + 64 + 24 + 4);
  EXPECT_EQ(disk.substr(0, 4), std::string("\x44\x33\x22\x11", 4));
  EXPECT_EQ(disk.substr(8, 2), std::string("\x02\x01", 2));

  Stream* in = BinFile_Open("w.bin", "r");
  ASSERT_NE(in, nullptr);
  uint32_t w[2];
  uint16_t h[3];
  float m[16], v[6], one;
  EXPECT_EQ(BinFile_ReadInt32s(in, w, 2), 1);
  EXPECT_EQ(BinFile_ReadInt16s(in, h, 3), 1);
  EXPECT_EQ(BinFile_ReadMatrix(in, m), 1);
  EXPECT_EQ(BinFile_ReadVec3s(in, v, 2), 1);
  EXPECT_EQ(BinFile_ReadInt32(in, &one), 1);
  EXPECT_EQ(w[1], words[1]);
  EXPECT_EQ(h[1], halves[1]);
  EXPECT_EQ(memcmp(m, matrix, sizeof m), 0);
  EXPECT_EQ(v[5], -6.0f);
  EXPECT_EQ(one, 1.0f);
  EXPECT_EQ(BinFile_ReadInt32s(in, w, 1), 0);  // at the end
  BinFile_Close(in);

  WriteDisk("data/short.bin", std::string("\x01\x02\x03", 3));
  in = BinFile_Open("short.bin", "r");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(BinFile_ReadInt32(in, w), 0);  // three bytes are not a word
  BinFile_Close(in);
  WriteDisk("data/short.bin", std::string("ab", 2));
  in = BinFile_Open("short.bin", "r");
  char text[8];
  EXPECT_EQ(BinFile_ReadString(in, text, 5), 0);
  BinFile_Close(in);
}

TEST_F(BinFile, OnlyReadWriteAndAppendModesOpen) {
  EXPECT_EQ(BinFile_Open("Data\\x.bin", "x"), nullptr);
  EXPECT_EQ(BinFile_Open("Data\\x.bin", ""), nullptr);
  EXPECT_EQ(BinFile_Open("missing.bin", "r"), nullptr);
  Stream* s = BinFile_Open("Data\\x.bin", "w");
  uint32_t one = 1;
  BinFile_WriteInt32s(s, &one, 1);
  BinFile_Close(s);
  s = BinFile_Open("Data\\x.bin", "a");
  ASSERT_NE(s, nullptr);
  BinFile_WriteInt32s(s, &one, 1);
  BinFile_Close(s);
  EXPECT_EQ(ReadDisk("data/x.bin").size(), 8u);
}

}  // namespace
