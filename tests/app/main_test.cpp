// The executable itself, run as a user runs it: build/app/helm without a
// display ends by itself and leaves the test screen's last frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "app/testscreen.h"
#include "platform/direct3d/d3d8_present.h"

namespace {

TEST(ExecutableTest, HeadlessItShowsTheTestScreenEndsByItselfAndWritesItsLastFrame)
{
    std::filesystem::path folder = std::filesystem::path(HELM_TEST_TMP) / "executable";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::string command = "cd '" + folder.string() + "' && HELM_MUTEX_NAME=executable-test-" +
                          std::to_string(getpid()) + " SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy '" +
                          HELM_BINARY_DIR + "/app/helm' -quiet > output.txt 2>&1";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    int width = 0, height = 0;
    uint32_t* pixels = D3D8Present_ReadPng((folder / TEST_SCREEN_PNG).string().c_str(), &width, &height);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(width, 640);
    ASSERT_EQ(height, 480);
    // Drawn through the main view: the background, and the keyboard pad's
    // square where it starts, in the middle.
    EXPECT_EQ(pixels[100 * width + 600] & 0xFFFFFF, TEST_SCREEN_BACKGROUND & 0xFFFFFF);
    EXPECT_EQ(pixels[240 * width + 320] & 0xFFFFFF, TEST_SCREEN_KEYBOARD & 0xFFFFFF);
    EXPECT_EQ(pixels[240 * width + 320 + TEST_SCREEN_SQUARE] & 0xFFFFFF, TEST_SCREEN_BACKGROUND & 0xFFFFFF);
    delete[] pixels;
    std::string output;
    FILE* f = fopen((folder / "output.txt").string().c_str(), "r");
    ASSERT_NE(f, nullptr);
    char line[512];
    while (fgets(line, sizeof line, f)) output += line;
    fclose(f);
    EXPECT_NE(output.find("The game is not built yet: this is the shell's test screen (Escape quits)"), std::string::npos)
        << output;
    EXPECT_NE(output.find(TEST_SCREEN_PNG), std::string::npos) << output;
}

}  // namespace
