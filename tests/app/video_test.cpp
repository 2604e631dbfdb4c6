#include "app/video.h"

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "platform/dshow/dshow.h"
#include "platform/dshow/dshow_test.h"
#include "platform/win32/message.h"
#include "platform/win32/win32_test.h"
#include "platform/win32/window.h"
#include "tests/app/data_fixture.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

class VideoTest : public DataTest {
protected:
    void SetUp() override
    {
        DataTest::SetUp();
        Win32Test_ResetAll();
    }
    void TearDown() override
    {
        EXPECT_EQ(Com_GetInitCount(), 0);
        Win32Test_ResetAll();
        DShowTest_Reset();
        DataTest::TearDown();
    }
    static void WriteClip(const std::string& path, bool video = true)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        DShowClip clip;
        clip.video = video;
        ASSERT_EQ(DShowTest_WriteClip(path.c_str(), clip), 1);
    }
    // The player's class is not left behind: it registers again.
    static bool ClassIsFree()
    {
        WindowClassInfo info = {0, Window_DefProc, nullptr, 0, "Cutscene Player Sample"};
        if (!WindowClass_Register(&info)) return false;
        WindowClass_Unregister("Cutscene Player Sample", nullptr);
        return true;
    }
};

TEST_F(VideoTest, AClipPlaysToItsEndAtItsOwnPaceUntilItsWindowClosesAndFromTheParentsStreams)
{
    WriteClip("Streams/VIDEO/intro.mpg");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PlayCutscene("Streams\\VIDEO\\intro.mpg", nullptr), 0);
    EXPECT_GE(Seconds(start), 0.9);  // one second of frames, shown when due
    EXPECT_TRUE(DShowTest_FramesShown() >= 20 && DShowTest_WindowMade() == 1 && ClassIsFree());
    DShowTest_CloseAfterFrames(3);
    EXPECT_TRUE(PlayCutscene("Streams\\VIDEO\\intro.mpg", nullptr) == 0 && DShowTest_FramesShown() < 10);
    // Found only in the parent folder's streams: played from there.
    DShowTest_Reset();
    std::filesystem::create_directories("run");
    std::filesystem::current_path("run");
    Path_Shutdown();
    Video_Play("intro", 0);
    EXPECT_GE(DShowTest_FramesShown(), 20);
}

TEST_F(VideoTest, FilesTheGraphCantPlayGiveTheirMessageTearDownAndLeaveTheNextClipPlaying)
{
    WriteDisk("Streams/VIDEO/bad.mpg", std::string(4096, '\x5A'));
    WriteClip("Streams/VIDEO/mute.mpg", false);
    WriteClip("Streams/VIDEO/good.mpg");
    const std::tuple<const char*, HResult, const char*> cases[] = {
        {"Streams\\VIDEO\\bad.mpg", VFW_E_UNKNOWN_FILE_TYPE,
         "PlayCutscene Error: Failed(0x80040240) in RenderFile(Streams\\VIDEO\\bad.mpg)!"},
        {"Streams\\VIDEO\\mute.mpg", E_NOINTERFACE,
         "Failed(0x80004002) to set message drain for Streams\\VIDEO\\mute.mpg.\r\n\r\nThis sample is designed to play "
         "videos, but the file selected has no video component."},
    };
    for (const auto& [path, result, message] : cases) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(PlayCutscene(path, nullptr), result) << path;
        std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(errors.find(message), std::string::npos) << errors;
        EXPECT_TRUE(ClassIsFree()) << path;
    }
    EXPECT_EQ(PlayCutscene("Streams\\VIDEO\\good.mpg", nullptr), 0);
}

TEST_F(VideoTest, EnterEscapeAndSpaceSkipAndOtherKeysDoNot)
{
    WriteClip("Streams/VIDEO/intro.mpg");
    // The key; the result.
    const std::tuple<uint32_t, int32_t> cases[] = {{13, 1}, {27, 1}, {32, 1}, {'A', 0}};
    for (const auto& [key, result] : cases) {
        ASSERT_EQ(Win32Test_PushKey(key, 1, 0), 1);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(PlayCutscene("Streams\\VIDEO\\intro.mpg", nullptr), result) << key;
        EXPECT_TRUE(result == 0 || Seconds(start) < 0.6) << key;
        Win32Test_PushKey(key, 0, 0);
    }
}

}  // namespace
