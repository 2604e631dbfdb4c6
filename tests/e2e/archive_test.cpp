// The archive road: after a run on loose files has made every cache, the
// data folder packed into "DataPC.wad" (caches included) and mounted in its
// place gives the same first frame of level 1.
#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace {

using namespace e2e;

TEST(ArchiveTest, ThePackedDataGivesTheSameFirstFrameAsTheLooseFiles)
{
    E2E_REQUIRE_STAGE();
    GameRun run = LevelRun("archive", 1, "level_start.txt");
    const Result loose = RunGame(run);
    ASSERT_EQ(loose.exitCode, 0) << loose.output;
    const std::string looseFrame = ReadFile(loose.captures / "level1_start.png");
    const std::string loosePlay = ReadFile(loose.captures / "level1_play.png");
    ASSERT_FALSE(looseFrame.empty());
    ASSERT_FALSE(loosePlay.empty());

    // Caches can't be written into a mounted archive: the loose run above
    // made them, and they are packed with the rest.
    const fs::path wad = loose.folder / "DataPC.wad";
    const std::string pack = "'" + (BinaryDir() / "tools" / "wadpack" / "wadpack").string() + "' '" +
                             (loose.folder / "DATA").string() + "' '" + wad.string() + "' > '" +
                             (loose.folder / "wadpack.txt").string() + "' 2>&1";
    ASSERT_EQ(std::system(pack.c_str()), 0) << ReadFile(loose.folder / "wadpack.txt");
    fs::rename(loose.folder / "DATA", loose.folder / "DATA.loose");
    fs::remove_all(loose.captures);

    run.freshFolder = false;
    const Result packed = RunGame(run);
    ASSERT_EQ(packed.exitCode, 0) << packed.output;
    EXPECT_FALSE(fs::exists(packed.folder / "DATA" / "Cache")) << "the packed run wrote loose caches";
    EXPECT_TRUE(ReadFile(packed.captures / "level1_start.png") == looseFrame)
        << "the loading frame from the archive differs from the loose files' one";
    EXPECT_TRUE(ReadFile(packed.captures / "level1_play.png") == loosePlay)
        << "the first frame of play from the archive differs from the loose files' one";
    EXPECT_EQ(MatchGolden(packed, "level1_start"), "");
}

}  // namespace
