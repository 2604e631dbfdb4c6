#include "platform/win32/path.h"

#include "scratch.h"

#include <cstring>

using PathTest = ScratchFolder;

TEST_F(PathTest, EveryExistingPartMatchesWithoutRegardToCase)
{
    Plant("data/cache/01/0562ecda.cfb");
    int exists = 0;
    EXPECT_EQ(Resolved("DATA\\Cache\\01\\0562ECDA.cfb", &exists), "data/cache/01/0562ecda.cfb");
    EXPECT_EQ(exists, 1);
    EXPECT_EQ(Resolved("data/CACHE//01\\0562ecda.CFB"), "data/cache/01/0562ecda.cfb");
}

TEST_F(PathTest, AnExactMatchWinsOverOtherCaseVariants)
{
    Plant("Data/a");
    Plant("data/b");
    EXPECT_EQ(Resolved("data\\b"), "data/b");
    EXPECT_EQ(Resolved("Data\\a"), "Data/a");
    EXPECT_EQ(Resolved("DATA\\a"), "Data/a");  // no exact match: the first in name order
}

TEST_F(PathTest, TheMissingTailKeepsTheCallersSpelling)
{
    Plant("data/cache/keep");
    int exists = 1;
    EXPECT_EQ(Resolved("Data\\Cache\\New\\File.BIN", &exists), "data/cache/New/File.BIN");
    EXPECT_EQ(exists, 0);
    EXPECT_EQ(Resolved("Missing\\data\\cache", &exists), "Missing/data/cache");
    EXPECT_EQ(exists, 0);
}

TEST_F(PathTest, DrivePrefixesMeanTheWorkingFolderAndDotsPassThrough)
{
    Plant("video/intro.avi");
    Plant("music/theme.wav");
    EXPECT_EQ(Resolved(":\\Video\\Intro.avi"), "video/intro.avi");
    EXPECT_EQ(Resolved("\\Video\\Intro.avi"), "video/intro.avi");
    EXPECT_EQ(Resolved("D:\\VIDEO\\intro.avi"), "video/intro.avi");
    std::filesystem::create_directories("sub");
    std::filesystem::current_path("sub");
    Path_Shutdown();  // the working folder changed
    int exists = 0;
    EXPECT_EQ(Resolved("..\\Music\\Theme.wav", &exists), "../music/theme.wav");
    EXPECT_EQ(exists, 1);
    std::string absolute = (root_ / "music").string();
    EXPECT_EQ(Resolved((absolute + "/THEME.WAV").c_str()), absolute + "/theme.wav");
}

TEST_F(PathTest, BadNamesAndShortBuffersFailWithAnEmptyResult)
{
    char out[8] = "junk";
    EXPECT_EQ(Path_Resolve("", out, sizeof out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(Path_Resolve(nullptr, out, sizeof out), 0);
    EXPECT_EQ(Path_Resolve("\\\\", out, sizeof out), 0);
    EXPECT_EQ(Path_Resolve("a-long-name", out, sizeof out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(Path_Resolve("1234567", out, sizeof out), 1);  // exactly fits
    EXPECT_STREQ(out, "1234567");
}

TEST_F(PathTest, FilesAddedBehindItsBackAreFoundWhenALookupMisses)
{
    Plant("data/a.txt");
    EXPECT_EQ(Resolved("DATA\\A.TXT"), "data/a.txt");
    Plant("data/b.txt");  // not reported to the cache
    int exists = 0;
    EXPECT_EQ(Resolved("DATA\\B.TXT", &exists), "data/b.txt");
    EXPECT_EQ(exists, 1);
}

TEST_F(PathTest, RenamingAFolderForgetsTheListingsBelowIt)
{
    Plant("saves/one/file.bin");
    EXPECT_EQ(Resolved("SAVES\\ONE\\FILE.BIN"), "saves/one/file.bin");
    std::filesystem::rename("saves/one", "saves/two");
    Path_NoteRenamed("saves/one", "saves/two");
    int exists = 1;
    Resolved("SAVES\\ONE\\FILE.BIN", &exists);
    EXPECT_EQ(exists, 0);
    EXPECT_EQ(Resolved("Saves\\Two\\File.bin", &exists), "saves/two/file.bin");
    EXPECT_EQ(exists, 1);
}
