#include "tools/lib/clipwrite.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/dshow/dshow_test.h"
#include "tests/app/data_fixture.h"

namespace {

using ClipWriter = FolderTest;

TEST_F(ClipWriter, TheClipPlaysEveryFrameThroughTheVideoStandInAndIsRepeatable)
{
    const std::string folder = folder_.string() + "/";
    ClipWriterRecipe recipe;  // 2 s at 25 frames a second
    std::string error;
    ASSERT_EQ(ClipWriter_Write(folder + "VIDEO/Intro.mpg", recipe, &error), 1) << error;
    EXPECT_EQ(DShowTest_DecodeFrames((folder + "VIDEO/Intro.mpg").c_str()), 50);
    EXPECT_FALSE(std::filesystem::exists(folder + "VIDEO/Intro.mpg.tmp"));
    ASSERT_EQ(ClipWriter_Write(folder + "again.mpg", recipe, &error), 1) << error;
    EXPECT_EQ(ReadDisk(folder + "VIDEO/Intro.mpg"), ReadDisk(folder + "again.mpg"));

    recipe.seconds = 0.4f;
    recipe.framesPerSecond = 30;
    recipe.width = 160;
    recipe.height = 96;
    recipe.title.clear();
    ASSERT_EQ(ClipWriter_Write(folder + "short.mpg", recipe, &error), 1) << error;
    EXPECT_EQ(DShowTest_DecodeFrames((folder + "short.mpg").c_str()), 12);
}

TEST_F(ClipWriter, SpecsOutOfRangeAreRefusedBeforeAnythingIsWritten)
{
    const std::string folder = folder_.string() + "/";
    ClipWriterRecipe odd, small, slow, longer, accent;
    odd.width = 321;
    small.height = 16;
    slow.framesPerSecond = 5;
    longer.seconds = 31;
    accent.title = "Caf\xE9";
    for (const ClipWriterRecipe& recipe : {odd, small, slow, longer, accent}) {
        std::string error;
        EXPECT_EQ(ClipWriter_Write(folder + "bad.mpg", recipe, &error), 0);
        EXPECT_NE(error.find("bad.mpg"), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(folder + "bad.mpg"));
    }
}

}  // namespace
