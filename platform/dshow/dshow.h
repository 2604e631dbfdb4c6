// The DirectShow stand-in: a filter graph that plays a video file in a
// window of its own, over libavformat and libavcodec, with media control,
// media events and the video window as the video player calls them.
//
// RenderFile opens the file and picks its first video stream and its first
// audio stream. Playback keeps the clip's timing: a worker thread decodes
// and converts frames (libswscale) ahead of the clock, and the due ones are
// shown on the main thread, inside GetEvent and inside the Win32 stand-in's
// message calls and Sleep (its idle hook), since all SDL video calls stay
// on the main thread. The sound goes, resampled with libswresample, to an
// SDL audio device of the graph's own. EC_COMPLETE is posted once the last
// frame was shown and the sound has drained; a decoding error posts
// EC_ERRORABORT with its code; closing the video window posts EC_USERABORT.
//
// The video window is a Win32 stand-in window of class "VideoRenderer" with
// its own SDL window (borderless and top-most with the player's styles),
// made when the graph first pauses and destroyed when the graph goes. Key
// presses in it are posted as WM_KEYDOWN (virtual-key codes) to the message
// drain.
//
// All four interfaces belong to one graph object and share its count.
#pragma once

#include <cstdint>

#include "platform/win32/com.h"

struct Window;

extern const Guid CLSID_FilterGraph;
extern const Guid IID_IGraphBuilder;
extern const Guid IID_IMediaControl;
extern const Guid IID_IVideoWindow;
extern const Guid IID_IMediaEventEx;

enum : uint32_t {
    CLSCTX_INPROC = 0x3,
};

// Event codes.
enum : int32_t {
    EC_COMPLETE = 1,
    EC_USERABORT = 2,
    EC_ERRORABORT = 3,  // p1: the error code
};

constexpr HResult REGDB_E_CLASSNOTREG = (HResult)0x80040154u;
constexpr HResult VFW_E_NOT_FOUND = (HResult)0x80040216u;          // no such file
constexpr HResult VFW_E_CANNOT_RENDER = (HResult)0x80040218u;      // nothing the graph can play
constexpr HResult VFW_E_UNKNOWN_FILE_TYPE = (HResult)0x80040240u;  // not a file the decoder knows
constexpr HResult VFW_E_WRONG_STATE = (HResult)0x80040227u;

struct DShowUnknown {
    virtual uint32_t AddRef() = 0;
    // Drops one reference of the graph; at the last one playback stops and
    // everything is freed (threads, decoders, window, audio device).
    virtual uint32_t Release() = 0;
    virtual HResult QueryInterface(const Guid& iid, void** out) = 0;
    virtual ~DShowUnknown() = default;
};

struct IGraphBuilder : DShowUnknown {
    // Opens the file (a wide path, resolved like every data name). A file
    // that is missing, can't be opened, or has nothing to decode fails with
    // its code; playList must be null.
    virtual HResult RenderFile(const char16_t* file, const char16_t* playList) = 0;
};

struct IMediaControl : DShowUnknown {
    // Pause makes the video window and starts decoding; Run starts the
    // clock; Stop ends decoding at once.
    virtual HResult Run() = 0;
    virtual HResult Pause() = 0;
    virtual HResult Stop() = 0;
};

struct IVideoWindow : DShowUnknown {
    // Each fails with E_NOINTERFACE when the file has no video stream.
    virtual HResult put_MessageDrain(Window* drain) = 0;
    virtual HResult put_WindowStyle(int32_t style) = 0;
    virtual HResult put_WindowStyleEx(int32_t exStyle) = 0;
    virtual HResult put_Left(int32_t left) = 0;
    virtual HResult put_Top(int32_t top) = 0;
    virtual HResult put_Width(int32_t width) = 0;
    virtual HResult put_Height(int32_t height) = 0;
    virtual HResult SetWindowForeground(int32_t focus) = 0;
};

struct IMediaEventEx : DShowUnknown {
    // The next event; E_ABORT when none waits within timeoutMs (0: none now).
    virtual HResult GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t timeoutMs) = 0;
    virtual HResult FreeEventParams(int32_t code, intptr_t param1, intptr_t param2) = 0;
};

// The filter graph (CLSID_FilterGraph, in-process, IID_IGraphBuilder);
// REGDB_E_CLASSNOTREG for any other class.
HResult CoCreateInstance(const Guid& clsid, void* outer, uint32_t context, const Guid& iid, void** out);
