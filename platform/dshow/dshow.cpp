#include "platform/dshow/dshow.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dshow/dshow_decoder.h"
#include "platform/dshow/dshow_test.h"
#include "platform/win32/clock.h"
#include "platform/win32/gdi.h"
#include "platform/win32/message.h"
#include "platform/win32/path.h"
#include "platform/win32/system.h"
#include "platform/win32/window.h"

const Guid CLSID_FilterGraph = {0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const Guid IID_IGraphBuilder = {0x56A868A9, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const Guid IID_IMediaControl = {0x56A868B1, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const Guid IID_IVideoWindow = {0x56A868B4, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const Guid IID_IMediaEventEx = {0x56A868C0, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

namespace {

constexpr const char* kVideoClass = "VideoRenderer";
constexpr uint32_t kAudioAheadBytes = 44100 * 4;  // the sound queued ahead of the device: 1 s

struct GraphEvent {
    int32_t code;
    intptr_t param1, param2;
};

class FilterGraph;

// Graphs alive (the video window's procedure finds its graph here), and the
// most recent one for the test hooks.
std::vector<FilterGraph*> g_graphs;
int32_t g_lastFramesShown = 0;
int32_t g_closeAfterFrames = 0;  // test script: the next graph closes its window
int g_lastWindowMade = 0;

intptr_t VideoWindowProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

class FilterGraph final : public IGraphBuilder, public IMediaControl, public IVideoWindow, public IMediaEventEx {
public:
    FilterGraph() : closeAfter_(g_closeAfterFrames)
    {
        g_closeAfterFrames = 0;
        g_graphs.push_back(this);
        g_lastFramesShown = 0;
        g_lastWindowMade = 0;
    }

    ~FilterGraph() override
    {
        if (decoder_) decoder_->Stop();
        Message_SetIdleHook(nullptr, nullptr);
        Window_Destroy(window_);
        if (audio_) {
            SDL_CloseAudioDevice(audio_);
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        g_graphs.erase(std::remove(g_graphs.begin(), g_graphs.end(), this), g_graphs.end());
    }

    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override
    {
        uint32_t left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HResult QueryInterface(const Guid& iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (Guid_Equal(iid, IID_IGraphBuilder))
            *out = static_cast<IGraphBuilder*>(this);
        else if (Guid_Equal(iid, IID_IMediaControl))
            *out = static_cast<IMediaControl*>(this);
        else if (Guid_Equal(iid, IID_IVideoWindow))
            *out = static_cast<IVideoWindow*>(this);
        else if (Guid_Equal(iid, IID_IMediaEventEx))
            *out = static_cast<IMediaEventEx*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    // ---- IGraphBuilder ----
    HResult RenderFile(const char16_t* file, const char16_t* playList) override
    {
        if (!file || playList) return E_INVALIDARG;
        if (decoder_) return VFW_E_WRONG_STATE;
        char name[1024], real[1024];
        if (System_WideCharToMultiByte(SYSTEM_CP_ACP, 0, file, -1, name, sizeof name) <= 0) return E_INVALIDARG;
        int exists = 0;
        if (!Path_Resolve(name, real, sizeof real, &exists) || !exists) return VFW_E_NOT_FOUND;
        auto decoder = std::make_unique<DShowDecoder>();
        HResult hr = decoder->Open(real);
        if (hr < 0) return hr;
        decoder_ = std::move(decoder);
        if (width_ < 0) width_ = decoder_->Width();
        if (height_ < 0) height_ = decoder_->Height();
        return S_OK;
    }

    // ---- IMediaControl ----
    HResult Pause() override
    {
        if (!decoder_ || stopped_) return VFW_E_WRONG_STATE;
        if (!started_) {
            started_ = true;
            if (decoder_->HasVideo()) MakeWindow();
            OpenAudio();
            DShowDecoder* decoder = decoder_.get();
            SDL_AudioDeviceID audio = audio_;
            decoder_->Start([decoder, audio](const uint8_t* data, uint32_t bytes) {
                if (!audio) return;
                while (SDL_GetQueuedAudioSize(audio) > kAudioAheadBytes && !decoder->Stopping()) SDL_Delay(10);
                SDL_QueueAudio(audio, data, bytes);
            });
            Message_SetIdleHook(IdleHook, this);
        } else if (running_) {
            pausedAt_ = Clock_GetMs();
            if (audio_) SDL_PauseAudioDevice(audio_, 1);
        }
        running_ = false;
        return S_OK;
    }

    HResult Run() override
    {
        if (!started_) {
            HResult hr = Pause();
            if (hr < 0) return hr;
        }
        if (stopped_) return VFW_E_WRONG_STATE;
        if (running_) return S_OK;
        const uint32_t now = Clock_GetMs();
        clockStart_ = clockRunBefore_ ? clockStart_ + (now - pausedAt_) : now;
        clockRunBefore_ = true;
        running_ = true;
        if (audio_) SDL_PauseAudioDevice(audio_, 0);
        return S_OK;
    }

    // Ends the clip: decoding stops at once and nothing more is shown.
    HResult Stop() override
    {
        if (decoder_) decoder_->Stop();
        if (audio_) {
            SDL_PauseAudioDevice(audio_, 1);
            SDL_ClearQueuedAudio(audio_);
        }
        running_ = false;
        stopped_ = started_;
        return S_OK;
    }

    // ---- IVideoWindow ----
    HResult put_MessageDrain(Window* drain) override
    {
        if (!HasVideo()) return E_NOINTERFACE;
        drain_ = drain;
        return S_OK;
    }
    HResult put_WindowStyle(int32_t style) override { return Set(&style_, style); }
    HResult put_WindowStyleEx(int32_t exStyle) override { return Set(&exStyle_, exStyle); }
    HResult put_Left(int32_t left) override { return Set(&left_, left); }
    HResult put_Top(int32_t top) override { return Set(&top_, top); }
    HResult put_Width(int32_t width) override { return width < 0 ? E_INVALIDARG : Set(&width_, width); }
    HResult put_Height(int32_t height) override { return height < 0 ? E_INVALIDARG : Set(&height_, height); }
    HResult SetWindowForeground(int32_t) override
    {
        if (!HasVideo()) return E_NOINTERFACE;
        if (window_) Window_SetForeground(window_);
        return S_OK;
    }

    // ---- IMediaEventEx ----
    HResult GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t timeoutMs) override
    {
        if (!code || !param1 || !param2) return E_POINTER;
        uint64_t deadline = SDL_GetTicks64() + (uint64_t)std::max(timeoutMs, 0);
        for (;;) {
            Tick();
            {
                std::lock_guard<std::mutex> guard(eventLock_);
                if (!events_.empty()) {
                    GraphEvent e = events_.front();
                    events_.erase(events_.begin());
                    *code = e.code;
                    *param1 = e.param1;
                    *param2 = e.param2;
                    return S_OK;
                }
            }
            if (SDL_GetTicks64() >= deadline) return E_ABORT;
            SDL_Delay(5);
        }
    }
    HResult FreeEventParams(int32_t, intptr_t, intptr_t) override { return S_OK; }

    void PostEvent(int32_t code, intptr_t param1, intptr_t param2)
    {
        std::lock_guard<std::mutex> guard(eventLock_);
        events_.push_back(GraphEvent{code, param1, param2});
    }

    Window* window() const { return window_; }
    Window* drain() const { return drain_; }

    // Shows what is due, posts the end of the clip, and keeps the video
    // window's messages moving. Main thread only.
    void Tick()
    {
        if (ticking_) return;
        ticking_ = true;
        if (window_) {
            WindowMessage msg;
            while (Message_Peek(&msg, window_, 0, 0, MESSAGE_REMOVE)) Message_Dispatch(&msg);
        }
        if (running_ && decoder_) {
            const double now = (double)(uint32_t)(Clock_GetMs() - clockStart_) / 1000.0;
            DecodedFrame frame;
            if (decoder_->PopDue(now, &frame)) {
                Present(frame);
                g_lastFramesShown = ++framesShown_;
                if (framesShown_ == closeAfter_ && window_) Message_Post(window_, WM_CLOSE, 0, 0);
            }
            if (decoder_->Error() && !ended_) {
                ended_ = true;
                PostEvent(EC_ERRORABORT, (intptr_t)decoder_->Error(), 0);
            } else if (!ended_ && decoder_->Finished() && (!audio_ || SDL_GetQueuedAudioSize(audio_) == 0)) {
                ended_ = true;
                PostEvent(EC_COMPLETE, 0, 0);
            }
        }
        ticking_ = false;
    }

private:
    static void IdleHook(void* graph) { ((FilterGraph*)graph)->Tick(); }

    bool HasVideo() const { return decoder_ && decoder_->HasVideo(); }

    HResult Set(int32_t* field, int32_t value)
    {
        if (!HasVideo()) return E_NOINTERFACE;
        *field = value;
        if (window_) {
            Window_SetStyle(window_, (uint32_t)style_ | WINDOW_STYLE_VISIBLE);
            Window_SetPos(window_, left_, top_, width_, height_, WINDOW_POS_FRAMECHANGED | WINDOW_POS_NOZORDER);
        }
        return S_OK;
    }

    void MakeWindow()
    {
        WindowClassInfo info = {0, VideoWindowProc, nullptr, 0, kVideoClass};
        WindowClass_Register(&info);  // fails harmlessly when registered already
        window_ = Window_CreateEx((uint32_t)exStyle_, kVideoClass, "ActiveMovie Window",
                                  (uint32_t)style_ | WINDOW_STYLE_VISIBLE, left_, top_, std::max(width_, 1),
                                  std::max(height_, 1), nullptr, nullptr);
        g_lastWindowMade = window_ != nullptr;
    }

    void OpenAudio()
    {
        if (!decoder_->HasAudio() || !System_StartAudio()) return;
        SDL_AudioSpec want = {}, have = {};
        want.freq = 44100;
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = 1024;
        audio_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (!audio_) SDL_QuitSubSystem(SDL_INIT_AUDIO);  // the clip plays without its sound
    }

    void Present(const DecodedFrame& frame)
    {
        SDL_Window* sdl = Window_SdlWindow(window_);
        if (!sdl) return;
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        SDL_Surface* screen = Window_Surface(sdl);
        if (!screen) return;
        SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom((void*)frame.pixels.data(), frame.width, frame.height,
                                                                 32, frame.width * 4, SDL_PIXELFORMAT_ARGB8888);
        if (!source) return;
        SDL_SetSurfaceBlendMode(source, SDL_BLENDMODE_NONE);
        SDL_BlitScaled(source, nullptr, screen, nullptr);
        SDL_FreeSurface(source);
        SDL_UpdateWindowSurface(sdl);
    }

    uint32_t refs_ = 1;
    std::unique_ptr<DShowDecoder> decoder_;
    Window* window_ = nullptr;
    Window* drain_ = nullptr;
    int32_t style_ = (int32_t)(WINDOW_STYLE_POPUP | WINDOW_STYLE_CAPTION);
    int32_t exStyle_ = 0;
    int32_t left_ = 0, top_ = 0, width_ = -1, height_ = -1;
    SDL_AudioDeviceID audio_ = 0;
    bool started_ = false, running_ = false, stopped_ = false, ended_ = false, ticking_ = false;
    // The clip's clock runs on the shell's millisecond clock, so that a run
    // whose clock is stepped by hand shows a clip on those steps.
    bool clockRunBefore_ = false;
    uint32_t clockStart_ = 0, pausedAt_ = 0;
    int32_t framesShown_ = 0;
    int32_t closeAfter_ = 0;
    std::mutex eventLock_;  // the decoder's error may be posted from its thread in future versions
    std::vector<GraphEvent> events_;
};

FilterGraph* GraphOf(Window* window)
{
    for (FilterGraph* g : g_graphs)
        if (g->window() == window) return g;
    return nullptr;
}

intptr_t VideoWindowProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    FilterGraph* graph = GraphOf(window);
    switch (message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            if (graph && graph->drain()) Message_Post(graph->drain(), WM_KEYDOWN, wParam, lParam);
            return 0;
        case WM_CLOSE:
            // The window stays until the graph goes; the player hears of it.
            if (graph) graph->PostEvent(EC_USERABORT, 0, 0);
            return 0;
        case WM_ERASEBKGND:
            Gdi_PatBlt((GdiContext*)wParam, 0, 0, 16384, 16384, GDI_BLACKNESS);
            return 1;
        default: return Window_DefProc(window, message, wParam, lParam);
    }
}

}  // namespace

HResult CoCreateInstance(const Guid& clsid, void*, uint32_t context, const Guid& iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!Guid_Equal(clsid, CLSID_FilterGraph) || !(context & CLSCTX_INPROC)) return REGDB_E_CLASSNOTREG;
    FilterGraph* graph = new FilterGraph;
    HResult hr = graph->QueryInterface(iid, out);
    graph->Release();
    return hr;
}

// ---- test hooks ----

int32_t DShowTest_DecodeFrames(const char* path)
{
    DShowDecoder decoder;
    if (!path || decoder.Open(path) < 0) return -1;
    return decoder.DecodeAll();
}

int32_t DShowTest_FramesShown() { return g_lastFramesShown; }
int DShowTest_WindowMade() { return g_lastWindowMade; }

void DShowTest_CloseAfterFrames(int32_t frames) { g_closeAfterFrames = frames; }

void DShowTest_Reset()
{
    g_lastFramesShown = 0;
    g_lastWindowMade = 0;
    g_closeAfterFrames = 0;
}
