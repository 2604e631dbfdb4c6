#include "platform/dshow/dshow.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/dshow/dshow_test.h"
#include "platform/win32/win32_test.h"
#include "tests/test_env.h"

namespace {

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class DShowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Win32Test_ResetAll();
        folder = TestTmp() /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(folder);
    }
    void TearDown() override
    {
        if (graph) graph->Release();
        Win32Test_ResetAll();
        std::filesystem::remove_all(folder);
    }
    HResult Open(const std::string& path)
    {
        EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder, (void**)&graph), S_OK);
        std::u16string wide = Wide(path);
        return graph->RenderFile(wide.c_str(), nullptr);
    }
    std::string Clip(const char* name, bool video = true)
    {
        std::string path = (folder / name).string();
        DShowClip clip;
        clip.video = video;
        EXPECT_EQ(DShowTest_WriteClip(path.c_str(), clip), 1);
        return path;
    }
    std::filesystem::path folder;
    IGraphBuilder* graph = nullptr;
};

TEST_F(DShowTest, OneObjectAnswersForAllFourInterfacesAndOtherClassesAreRefused)
{
    void* other = nullptr;
    EXPECT_EQ(CoCreateInstance(IID_IVideoWindow, nullptr, CLSCTX_INPROC, IID_IGraphBuilder, &other), REGDB_E_CLASSNOTREG);
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder, (void**)&graph), S_OK);
    IMediaControl* control = nullptr;
    IMediaEventEx* events = nullptr;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, (void**)&control), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEventEx, (void**)&events), S_OK);
    EXPECT_EQ(graph->QueryInterface(CLSID_FilterGraph, &other), E_NOINTERFACE);
    graph->Release();
    graph = nullptr;  // the other two hold the graph
    int32_t code;
    intptr_t p1, p2;
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);  // nothing waits
    EXPECT_EQ(control->Pause(), VFW_E_WRONG_STATE);            // no file yet
    control->Release();
    EXPECT_EQ(events->Release(), 0u);
}

TEST_F(DShowTest, FilesThatCantBePlayedAreRefusedWithTheirCodes)
{
    EXPECT_EQ(Open((folder / "missing.mpg").string()), VFW_E_NOT_FOUND);
    graph->Release();
    std::string garbage = (folder / "garbage.mpg").string();
    FILE* f = fopen(garbage.c_str(), "wb");
    for (int i = 0; i < 3000; i++) fputc((i * 37) & 0xFF, f);
    fclose(f);
    EXPECT_EQ(Open(garbage), VFW_E_UNKNOWN_FILE_TYPE);
    graph->Release();
    EXPECT_EQ(Open(Clip("mute.mpg", false)), S_OK);  // sound only: it opens, without a video window
    IVideoWindow* video = nullptr;
    graph->QueryInterface(IID_IVideoWindow, (void**)&video);
    EXPECT_EQ(video->put_MessageDrain(nullptr), E_NOINTERFACE);
    EXPECT_EQ(video->put_Width(100), E_NOINTERFACE);
    video->Release();
    std::u16string wide = Wide(Clip("a.mpg"));
    EXPECT_EQ(graph->RenderFile(wide.c_str(), u"list"), E_INVALIDARG);
}

TEST_F(DShowTest, AClipRunsToCompletionWithEveryFrameDecoded)
{
    std::string path = Clip("clip.mpg");
    EXPECT_EQ(DShowTest_DecodeFrames(path.c_str()), 25);  // 1 s at 25 frames a second
    ASSERT_EQ(Open(path), S_OK);
    IMediaControl* control = nullptr;
    IMediaEventEx* events = nullptr;
    graph->QueryInterface(IID_IMediaControl, (void**)&control);
    graph->QueryInterface(IID_IMediaEventEx, (void**)&events);
    ASSERT_EQ(control->Run(), S_OK);
    int32_t code = 0;
    intptr_t p1, p2;
    HResult hr = E_ABORT;
    // Until the clip and its sound have played (a minute at most: only a hang ends the wait).
    for (int i = 0; i < 600 && hr == E_ABORT; i++) hr = events->GetEvent(&code, &p1, &p2, 100);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    // Playback keeps to the clip's clock and drops frames that are late, as
    // they are on a loaded machine; every frame was decoded above.
    EXPECT_GE(DShowTest_FramesShown(), 1);
    EXPECT_EQ(DShowTest_WindowMade(), 1);
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(control->Run(), VFW_E_WRONG_STATE);  // a stopped clip is over
    control->Release();
    events->Release();
}

}  // namespace
