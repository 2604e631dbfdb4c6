#include "app/cache.h"

#include "app/wad.h"
#include "data_fixture.h"
#include "tools/lib/wadpack.h"

namespace {

TEST(CacheName, TopHashBitsChooseTheFolder) {
  char name[CACHE_NAME_MAX];
  EXPECT_STREQ(Cache_MakeName(name, 0xFC000001u, 0, "cfb"), "Cache\\3f\\fc000001.cfb");
  EXPECT_STREQ(Cache_MakeName(name, 0xFC000001u, 1, "cfb"), "Data\\Cache\\3f\\fc000001.cfb");
  EXPECT_STREQ(Cache_MakeName(name, 0x0000ABCDu, 0, nullptr), "Cache\\00\\0000abcd");
  EXPECT_STREQ(Cache_NameFromSource(name, "FrontEnd\\FrontEnd.cfg", 0, "cfb"), "Cache\\01\\0562ecda.cfb");
  EXPECT_STREQ(Cache_NameFromSource(name, "Menu.cfg", 0, "cfb"), "Cache\\0c\\3205de69.cfb");
  EXPECT_STREQ(Cache_NameFromSource(name, "InGameMenu.cfg", 1, "cfb"), "Data\\Cache\\14\\52758c3e.cfb");
  EXPECT_STREQ(Cache_NameFromSource(name, "FrontEnd/FrontEnd.cfg", 0, nullptr), "Cache\\1a\\69ac8117");
}

TEST(CacheName, CaseIsIgnoredButBlanksCountAndExtensionsAreFormatted) {
  char a[CACHE_NAME_MAX], b[CACHE_NAME_MAX], c[CACHE_NAME_MAX];
  Cache_NameFromSource(a, "Levels\\A.cfg", 0, "M%.2d", 3);
  Cache_NameFromSource(b, "LEVELS\\a.CFG", 0, "M%.2d", 3);
  Cache_NameFromSource(c, "Levels\\ A.cfg", 0, "M%.2d", 3);
  EXPECT_STREQ(a, b);
  EXPECT_STRNE(a, c);
  EXPECT_STREQ(a + strlen(a) - 4, ".M03");
  std::string longExtension(500, 'e');
  Cache_NameFromSource(a, "x", 1, "%s", longExtension.c_str());
  EXPECT_EQ(strlen(a), (size_t)CACHE_NAME_MAX - 1);
}

using Cache = DataTest;

TEST_F(Cache, InitCreatesEveryFolderAndItsPlatformFoldersTwiceWithoutHarm) {
  std::filesystem::create_directories("data");  // "Data\Cache" lands in it
  Cache_Init(6);
  Cache_Init(6);
  EXPECT_TRUE(std::filesystem::is_directory("data/Cache/00/pc"));
  EXPECT_TRUE(std::filesystem::is_directory("data/Cache/3f/ngc"));
  EXPECT_TRUE(std::filesystem::is_directory("data/Cache/1a/xbox"));
  EXPECT_FALSE(std::filesystem::exists("data/Cache/40"));
  // With fewer bits the folders are still spelt as the cache names spell them.
  Cache_Init(4);
  char name[CACHE_NAME_MAX];
  EXPECT_STREQ(Cache_MakeName(name, 0xA0000000u, 0, nullptr), "Cache\\0a\\a0000000");
  EXPECT_TRUE(std::filesystem::is_directory("data/Cache/0a/pc"));
  Cache_Init(6);
}

TEST_F(Cache, StaleWhenMissingOrOlderFreshWhenTheSourceIsMissing) {
  WriteDisk("data/Cache/01/0562ecda.cfb", "compiled");
  EXPECT_EQ(Cache_IsStale("FrontEnd\\FrontEnd.cfg", "Cache\\01\\0562ecda.cfb"), 0);  // no source
  EXPECT_EQ(Cache_IsStale("FrontEnd\\FrontEnd.cfg", "Cache\\01\\missing.cfb"), 1);
  WriteDisk("data/frontend/frontend.cfg", "source");
  auto now = std::filesystem::file_time_type::clock::now();
  std::filesystem::last_write_time("data/Cache/01/0562ecda.cfb", now - std::chrono::seconds(10));
  std::filesystem::last_write_time("data/frontend/frontend.cfg", now);
  EXPECT_EQ(Cache_IsStale("FrontEnd\\FrontEnd.cfg", "Cache\\01\\0562ecda.cfb"), 1);
  std::filesystem::last_write_time("data/Cache/01/0562ecda.cfb", now + std::chrono::milliseconds(1));
  EXPECT_EQ(Cache_IsStale("FrontEnd\\FrontEnd.cfg", "Cache\\01\\0562ecda.cfb"), 0);
  std::filesystem::last_write_time("data/Cache/01/0562ecda.cfb", now);  // as old as its source: fresh
  EXPECT_EQ(Cache_IsStale("FrontEnd\\FrontEnd.cfg", "Cache\\01\\0562ecda.cfb"), 0);
}

TEST_F(Cache, WithAnArchiveMountedPresenceAloneDecides) {
  WriteDisk("pack/Cache/01/0562ecda.cfb", "compiled");
  std::vector<WadPackFile> files;
  std::string error;
  ASSERT_EQ(WadPack_ListFolder("pack", &files, &error), 1);
  ASSERT_EQ(WadPack_Write(files, "DATA", "test.wad", &error), 1) << error;
  // The source on disk is newer, which no longer matters.
  WriteDisk("data/frontend/frontend.cfg", "source");
  ASSERT_EQ(Wad_Init(), 1);
  ASSERT_EQ(Wad_Mount("test.wad", 1), 1);
  EXPECT_EQ(Cache_IsStale("FrontEnd\\FrontEnd.cfg", "Cache\\01\\0562ecda.cfb"), 0);
  EXPECT_EQ(Cache_IsStale("FrontEnd\\FrontEnd.cfg", "Cache\\01\\0562ecdb.cfb"), 1);
  Wad_Shutdown();
}

}  // namespace
