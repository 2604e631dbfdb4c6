#include "app/video.h"

#include <cstdio>
#include <cstring>

#include "app/devicedialog.h"
#include "app/hooks.h"
#include "app/shell.h"
#include "app/sound.h"
#include "platform/dshow/dshow.h"
#include "platform/win32/gdi.h"
#include "platform/win32/message.h"
#include "platform/win32/system.h"
#include "platform/win32/window.h"

namespace {

constexpr const char* kClassName = "Cutscene Player Sample";
constexpr const char* kErrorTitle = "PlayCutscene Error";
constexpr uint32_t kPollMs = 100;

// The module state of one playback.
struct Player {
    void* instance;
    Window* window;
    IGraphBuilder* graph;
    IMediaControl* control;
    IVideoWindow* video;
    IMediaEventEx* events;
    int skipped;
    int playing;
};

Player g_player = {};

void ShowError(const char* format, HResult hr, const char* path = nullptr)
{
    // The texts print the code with %x (an int) or %lx (a long).
    char text[512];
    bool wide = strstr(format, "lx") != nullptr;
    unsigned code = (unsigned)hr;
    if (wide && path)
        snprintf(text, sizeof text, format, (unsigned long)code, path);
    else if (wide)
        snprintf(text, sizeof text, format, (unsigned long)code);
    else
        snprintf(text, sizeof text, format, code);
    System_MessageBox(nullptr, text, kErrorTitle, SYSTEM_MB_OK);
}

intptr_t PlayerProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message == WM_KEYDOWN && (wParam == 13 || wParam == 27 || wParam == 32)) {
        g_player.skipped = 1;
        if (g_player.control) g_player.control->Stop();
        g_player.playing = 0;
    }
    if (message == WM_DESTROY) return 0;
    return Window_DefProc(window, message, wParam, lParam);
}

void Teardown()
{
    Player& p = g_player;
    if (p.video) p.video->Release();
    if (p.control) p.control->Release();
    if (p.events) p.events->Release();
    if (p.graph) p.graph->Release();
    p.video = nullptr;
    p.control = nullptr;
    p.events = nullptr;
    p.graph = nullptr;
    Window_Destroy(p.window);
    p.window = nullptr;
    WindowClass_Unregister(kClassName, p.instance);
}

// Builds and prepares the graph: S_OK, or the failing call's code after its
// message.
HResult Prepare(const char* path)
{
    Player& p = g_player;
    HResult hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder, (void**)&p.graph);
    if (hr < 0) {
        ShowError("FAILED(hr=0x%x) in CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC, IID_IGraphBuilder, "
                  "(void **)&pGB)\n", hr);
        return hr;
    }
    if ((hr = p.graph->QueryInterface(IID_IMediaControl, (void**)&p.control)) < 0) {
        ShowError("FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaControl, (void **)&pMC)\n", hr);
        return hr;
    }
    if ((hr = p.graph->QueryInterface(IID_IVideoWindow, (void**)&p.video)) < 0) {
        ShowError("FAILED(hr=0x%x) in pGB->QueryInterface(IID_IVideoWindow, (void **)&pVW)\n", hr);
        return hr;
    }
    if ((hr = p.graph->QueryInterface(IID_IMediaEventEx, (void**)&p.events)) < 0) {
        ShowError("FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaEventEx, (void **)&pME)\n", hr);
        return hr;
    }
    char16_t wide[1024];
    if (System_MultiByteToWideChar(SYSTEM_CP_ACP, 0, path, -1, wide, 1024) <= 0) wide[0] = 0;
    if ((hr = p.graph->RenderFile(wide, nullptr)) < 0) {
        ShowError("Failed(0x%08lx) in RenderFile(%s)!\r\n", hr, path);
        return hr;
    }
    if ((hr = p.video->put_MessageDrain(p.window)) < 0) {
        ShowError("Failed(0x%08lx) to set message drain for %s.\r\n\r\nThis sample is designed to play videos, but "
                  "the file selected has no video component.", hr, path);
        return hr;
    }
    GdiContext* dc = Gdi_GetDC(nullptr);
    int32_t width = Gdi_GetDeviceCaps(dc, GDI_HORZRES), height = Gdi_GetDeviceCaps(dc, GDI_VERTRES);
    Gdi_ReleaseDC(nullptr, dc);
    if ((hr = p.video->put_WindowStyle((int32_t)WINDOW_STYLE_POPUP)) < 0) {
        ShowError("FAILED(hr=0x%x) in pVW->put_WindowStyle(WS_POPUP)\n", hr);
        return hr;
    }
    if ((hr = p.video->put_WindowStyleEx((int32_t)WINDOW_EXSTYLE_TOPMOST)) < 0) {
        ShowError("FAILED(hr=0x%x) in pVW->put_WindowStyleEx(WS_EX_TOPMOST)\n", hr);
        return hr;
    }
    if ((hr = p.video->put_Left(0)) < 0) {
        ShowError("FAILED(hr=0x%x) in pVW->put_Left(0)\n", hr);
        return hr;
    }
    if ((hr = p.video->put_Top(0)) < 0) {
        ShowError("FAILED(hr=0x%x) in pVW->put_Top(0)\n", hr);
        return hr;
    }
    if ((hr = p.video->put_Width(width)) < 0) {
        ShowError("FAILED(hr=0x%x) in pVW->put_Width(GetDeviceCaps(dc, HORZRES))\n", hr);
        return hr;
    }
    if ((hr = p.video->put_Height(height)) < 0) {
        ShowError("FAILED(hr=0x%x) in pVW->put_Height(GetDeviceCaps(dc, VERTRES))\n", hr);
        return hr;
    }
    return S_OK;
}

HResult Play(const char* path)
{
    Player& p = g_player;
    HResult hr = p.control->Pause();
    if (hr < 0) {
        ShowError("Failed(%08lx) in Pause()!\r\n", hr);
        return hr;
    }
    if ((hr = p.control->Run()) < 0) {
        ShowError("Failed(%08lx) in Run()!\r\n", hr);
        return hr;
    }
    p.playing = 1;
    HResult result = S_OK;
    do {
        AppHooks_FrameTick();
        int32_t code = 0;
        intptr_t param1 = 0, param2 = 0;
        if (p.events->GetEvent(&code, &param1, &param2, 0) < 0) {
            System_Sleep(kPollMs);
        } else {
            HResult freed = p.events->FreeEventParams(code, param1, param2);
            if (freed < 0) {
                ShowError("Failed(%08lx) to free event params (%s)!\r\n", freed, path);
                result = freed;
            }
            // Completion ends the clip; so do a closed window and an error,
            // which would otherwise leave this loop waiting forever.
            if (code == EC_COMPLETE || code == EC_USERABORT) {
                p.playing = 0;
            } else if (code == EC_ERRORABORT) {
                p.playing = 0;
                result = (HResult)param1;
            } else {
                System_Sleep(kPollMs);
            }
        }
        WindowMessage msg;
        while (Message_Peek(&msg, p.window, 0, 0, MESSAGE_REMOVE)) {
            Message_Translate(&msg);
            Message_Dispatch(&msg);
        }
        p.video->SetWindowForeground(-1);
        App_PumpBlankMessages();
    } while (p.playing);
    return result;
}

}  // namespace

void Video_Play(const char* name, int /*flag*/)
{
    if (!name) return;
    char video[SOUND_PATH_MAX], path[SOUND_PATH_MAX];
    snprintf(video, sizeof video, "VIDEO\\%s", name);
    if (Streams_FindFile(path, video, "mpg", 0, 0) || Streams_FindFile(path, video, "mpg", 0, 1) ||
        Streams_FindFile(path, video, "mpg", 1, 0))
        PlayCutscene(path, App_GetInstance());
}

int32_t PlayCutscene(const char* path, void* instance)
{
    Player& p = g_player;
    p = Player{};
    p.instance = instance;
    WindowClassInfo info = {0, PlayerProc, instance, 0, kClassName};
    if (!WindowClass_Register(&info)) return E_FAIL;
    char title[600];
    snprintf(title, sizeof title, "%s: %s", kClassName, path ? path : "");
    p.window = Window_CreateEx(0, kClassName, title, 0, 0, 0, 0, 0, nullptr, instance);
    if (!p.window) {
        WindowClass_Unregister(kClassName, instance);
        return E_FAIL;
    }
    // Every exit from here on tears down: a class left registered would
    // make every later clip fail to register it.
    HResult hr = Com_Initialize(nullptr);
    if (hr < 0) {
        Teardown();
        return hr;
    }
    hr = Prepare(path ? path : "");
    if (hr >= 0) {
        hr = Play(path ? path : "");
        if (hr == S_OK && p.skipped) hr = 1;
    }
    Teardown();
    Com_Uninitialize();
    return hr;
}
