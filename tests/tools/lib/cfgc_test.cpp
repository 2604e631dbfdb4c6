#include "tools/lib/cfgc.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/test_env.h"

namespace {

std::vector<uint8_t> Compile(const char* text, CfgcError* error = nullptr) {
  std::vector<uint8_t> out;
  CfgcError local;
  Cfgc_Compile(text, strlen(text), &out, error ? error : &local);
  return out;
}

std::vector<uint8_t> Hex(const char* words) {
  std::vector<uint8_t> out;
  for (const char* p = words; *p;) {
    if (*p == ' ') {
      p++;
      continue;
    }
    unsigned v;
    sscanf(p, "%2x", &v);
    out.push_back((uint8_t)v);
    p += 2;
  }
  return out;
}

TEST(Cfgc, TheKartExampleCompilesToItsSixtyBytes) {
  std::vector<uint8_t> expected = Hex(
      "04000000 4b617274 00000000 89187ae7 01000000 7b000000 00000000"
      "05000000 53706565 64000000 5e18b695 03000000 312e3500 00000000 01000000");
  ASSERT_EQ(expected.size(), 60u);
  EXPECT_EQ(Compile("Kart {\n  Speed = 1.5\n}\n"), expected);
  // The same tree written other ways.
  EXPECT_EQ(Compile("# a kart\r\nKart = {\r\n\r\n// its speed\r\n\tSpeed=1.5   \r\n}"), expected);
}

TEST(Cfgc, KeysWithoutValuesAndValuesEndingInABrace) {
  std::vector<uint8_t> bare = Compile("Flag\n");
  std::vector<uint8_t> empty = Compile("Flag =\n");
  EXPECT_EQ(bare, empty);
  ASSERT_EQ(bare.size(), 4u + 8 + 4 + 4 + 4 + 4);  // L1, "Flag" padded, hash, L2 = 0, "", depth
  std::vector<uint8_t> pattern = Compile("a = b{\n");  // a key, not a group
  EXPECT_EQ(pattern[4 + 4 + 4], 2u);                   // value length of "b{"
}

TEST(Cfgc, FaultsAreReportedWithTheirLine) {
  const std::pair<const char*, int> cases[] = {
      {"a = 1\n}\n", 2},
      {"a = 1\ngroup {\n  b = 2\n", 2},
      {"ok = 1\n\n  = 5\n", 3},
      {"a::b = 1\n", 1},
      {"x {\n  {\n}\n}\n", 2},
  };
  for (const auto& [text, line] : cases) {
    CfgcError error{};
    std::vector<uint8_t> out = Compile(text, &error);
    EXPECT_TRUE(out.empty()) << text;
    EXPECT_EQ(error.line, line) << text;
    EXPECT_FALSE(error.message.empty());
  }
}

TEST(Cfgc, SourcesThatCannotBeCompiledAreReportedWithTheirPathAndWriteNothing) {
  namespace fs = std::filesystem;
  const fs::path folder = TestTmp() / "cfgc_sources";
  fs::remove_all(folder);
  fs::create_directories(folder / "a folder");
  auto write = [&](const char* name, const char* text) {
    FILE* f = fopen((folder / name).c_str(), "wb");
    fputs(text, f);
    fclose(f);
    return (folder / name).string();
  };
  const std::string output = (folder / "out.cfb").string();
  const struct {
    std::string source;
    const char* says;
  } cases[] = {{(folder / "a folder").string(), ": is a folder"},
               {(folder / "missing.cfg").string(), ": can't be opened: No such file"},
               {write("empty.cfg", ""), ": holds no keys"},
               {write("comments.cfg", "# only a comment\n\n"), ": holds no keys"},
               {write("fault.cfg", "a = 1\n}\n"), ":2: \"}\" without"}};
  for (const auto& c : cases) {
    std::string message;
    EXPECT_EQ(Cfgc_CompileFile(c.source, output, &message), 0) << c.source;
    EXPECT_EQ(message.rfind(c.source + c.says, 0), 0u) << message;
    EXPECT_FALSE(fs::exists(output)) << c.source;
    EXPECT_FALSE(fs::exists(output + ".tmp")) << c.source;
  }
  std::string message;
  EXPECT_EQ(Cfgc_CompileFile(write("good.cfg", "a = 1\n"), output, &message), 1) << message;
  EXPECT_EQ(fs::file_size(output), 24u);
  fs::remove_all(folder);
}

TEST(Cfgc, OutputGoesToTheCacheNameOfTheSourceAsTheGamePassesIt) {
    EXPECT_EQ(std::make_tuple(Cfgc_OutputPath("FrontEnd\\FrontEnd.cfg"), Cfgc_OutputPath("frontend\\FRONTEND.CFG"),
                              Cfgc_OutputPath("FrontEnd/FrontEnd.cfg"), Cfgc_OutputPath("Menu.cfg")),
              std::make_tuple("Cache/01/0562ecda.cfb", "Cache/01/0562ecda.cfb", "Cache/1a/69ac8117.cfb",
                              "Cache/0c/3205de69.cfb"));
}

}  // namespace
