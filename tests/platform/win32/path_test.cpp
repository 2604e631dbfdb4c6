#include "platform/win32/path.h"

#include "scratch.h"


// Resolves `name`: the path and whether it exists, as expected.
class PathTest : public ScratchFolder {
protected:
    static void Expect(const char* name, const std::string& path, int exists)
    {
        int found = -1;
        EXPECT_EQ(Resolved(name, &found), path) << name;
        EXPECT_EQ(found, exists) << name;
    }
};

TEST_F(PathTest, ExistingPartsMatchWithoutRegardToCaseAndTheMissingTailKeepsTheCallersSpelling)
{
    Plant("data/cache/01/0562ecda.cfb");
    Plant("video/intro.avi");
    Expect("DATA\\Cache\\01\\0562ECDA.cfb", "data/cache/01/0562ecda.cfb", 1);
    Expect("data/CACHE//01\\0562ecda.CFB", "data/cache/01/0562ecda.cfb", 1);
    Expect("Data\\Cache\\New\\File.BIN", "data/cache/New/File.BIN", 0);
    Expect("Missing\\data\\cache", "Missing/data/cache", 0);
    // Drive prefixes mean the working folder.
    Expect(":\\Video\\Intro.avi", "video/intro.avi", 1);
    Expect("\\Video\\Intro.avi", "video/intro.avi", 1);
    Expect("D:\\VIDEO\\intro.avi", "video/intro.avi", 1);
}

TEST_F(PathTest, AnExactMatchWinsOverOtherCaseVariants)
{
    Plant("Data/a");
    Plant("data/b");
    EXPECT_EQ(Resolved("data\\b"), "data/b");
    EXPECT_EQ(Resolved("Data\\a"), "Data/a");
    EXPECT_EQ(Resolved("DATA\\a"), "Data/a");  // no exact match: the first in name order
}

TEST_F(PathTest, DotsAndAbsolutePathsPassThrough)
{
    Plant("music/theme.wav");
    std::filesystem::create_directories("sub");
    std::filesystem::current_path("sub");
    Path_Shutdown();  // the working folder changed
    Expect("..\\Music\\Theme.wav", "../music/theme.wav", 1);
    std::string absolute = (root_ / "music").string();
    EXPECT_EQ(Resolved((absolute + "/THEME.WAV").c_str()), absolute + "/theme.wav");
}

TEST_F(PathTest, BadNamesAndShortBuffersFailWithAnEmptyResult)
{
    char out[8] = "junk";
    EXPECT_EQ(Path_Resolve("", out, sizeof out), 0);
    EXPECT_STREQ(out, "");
    for (const char* refused : {(const char*)nullptr, "\\\\", "a-long-name"})
        EXPECT_EQ(Path_Resolve(refused, out, sizeof out), 0) << (refused ? refused : "null");
    EXPECT_STREQ(out, "");
    EXPECT_EQ(Path_Resolve("1234567", out, sizeof out), 1);  // exactly fits
    EXPECT_STREQ(out, "1234567");
}

// Files added behind its back are found when a lookup misses; renaming a
// folder forgets the listings below it.
TEST_F(PathTest, TheListingCacheFollowsChangesOnDisk)
{
    Plant("data/a.txt");
    Plant("saves/one/file.bin");
    EXPECT_EQ(Resolved("DATA\\A.TXT"), "data/a.txt");
    Plant("data/b.txt");  // not reported to the cache
    Expect("DATA\\B.TXT", "data/b.txt", 1);
    EXPECT_EQ(Resolved("SAVES\\ONE\\FILE.BIN"), "saves/one/file.bin");
    std::filesystem::rename("saves/one", "saves/two");
    Path_NoteRenamed("saves/one", "saves/two");
    Expect("SAVES\\ONE\\FILE.BIN", "saves/ONE/FILE.BIN", 0);
    Expect("Saves\\Two\\File.bin", "saves/two/file.bin", 1);
}
