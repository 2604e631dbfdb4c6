#include "app/video.h"

#include <gtest/gtest.h>

#include <tuple>

#include "app/hooks.h"
#include "platform/dshow/dshow.h"
#include "platform/dshow/dshow_test.h"
#include "platform/win32/clock.h"
#include "platform/win32/message.h"
#include "platform/win32/win32_test.h"
#include "platform/win32/window.h"
#include "tests/app/data_fixture.h"

namespace {

// The clips' clock: the shell's, moved by hand at each pass of the player's
// loop by one frame (40 ms) once the frame due has been shown, so that no
// frame is ever late however busy the machine. Counts the passes and the
// frames shown before they were due.
struct ClipClock {
    static inline int passes, steps, early;
    static void Start()
    {
        Clock_SetManual(1);
        passes = steps = early = 0;
    }
    static void Pass()
    {
        const int32_t shown = DShowTest_FramesShown();
        early += shown > steps + 1;
        // Frame k is due from 40k ms; the clock stands halfway between frames. A frame that never
        // comes stops the clock for at most 300 passes.
        if (shown >= steps + 1 || ++passes > 300) Clock_Advance(steps++ ? 40 : 60);
    }
};

class VideoTest : public DataTest {
protected:
    void SetUp() override
    {
        DataTest::SetUp();
        Win32Test_ResetAll();
        AppHooks hooks = {};
        hooks.frameTick = ClipClock::Pass;
        AppHooks_Install(&hooks);
        ClipClock::Start();
    }
    void TearDown() override
    {
        EXPECT_EQ(Com_GetInitCount(), 0);
        AppHooks_Install(nullptr);
        Clock_SetManual(0);
        Win32Test_ResetAll();
        DShowTest_Reset();
        DataTest::TearDown();
    }
    // A clip of ten frames (0.4 s).
    static void WriteClip(const std::string& path, bool video = true)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        DShowClip clip;
        clip.video = video;
        clip.seconds = 0.4f;
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
    EXPECT_EQ(PlayCutscene("Streams\\VIDEO\\intro.mpg", nullptr), 0);
    // Every frame shown when due, none before, and the clip's end only after its last.
    EXPECT_TRUE(DShowTest_FramesShown() == 10 && ClipClock::early == 0 && DShowTest_WindowMade() == 1 && ClassIsFree());
    DShowTest_CloseAfterFrames(3);
    ClipClock::Start();
    EXPECT_TRUE(PlayCutscene("Streams\\VIDEO\\intro.mpg", nullptr) == 0 && DShowTest_FramesShown() < 10);
    // Found only in the parent folder's streams: played from there.
    DShowTest_Reset();
    std::filesystem::create_directories("run");
    std::filesystem::current_path("run");
    Path_Shutdown();
    ClipClock::Start();
    Video_Play("intro", 0);
    EXPECT_EQ(DShowTest_FramesShown(), 10);
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
        ClipClock::Start();
        EXPECT_EQ(PlayCutscene("Streams\\VIDEO\\intro.mpg", nullptr), result) << key;
        // A skip ends the clip at its first frame; another key lets it play to its end.
        EXPECT_EQ(DShowTest_FramesShown(), result ? 1 : 10) << key;
        Win32Test_PushKey(key, 0, 0);
    }
}

}  // namespace
