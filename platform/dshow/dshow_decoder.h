// The decoding side of the DirectShow stand-in: a clip opened with
// libavformat, its first video and audio streams decoded with libavcodec on
// a worker thread, frames converted to the display format with libswscale
// and sound to 44100 Hz stereo 16-bit with libswresample. Not for callers of
// the stand-in.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/com.h"

struct AVFormatContext;
struct AVCodecContext;
struct SwsContext;
struct SwrContext;
struct AVFrame;

// A converted frame: BGRA pixels (SDL's ARGB8888), rows of width x 4 bytes.
struct DecodedFrame {
    double seconds = 0;  // when it is due, from the clip's first frame
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

class DShowDecoder {
public:
    // Receives converted sound on the worker thread (bytes of stereo int16).
    typedef std::function<void(const uint8_t* data, uint32_t bytes)> AudioSink;

    ~DShowDecoder();
    // Opens the file and the decoders of its first video and audio streams.
    // VFW_E_UNKNOWN_FILE_TYPE when the container can't be read,
    // VFW_E_CANNOT_RENDER when neither stream can be decoded.
    HResult Open(const char* realPath);
    bool HasVideo() const { return video_ != nullptr; }
    bool HasAudio() const { return audio_ != nullptr; }
    int32_t Width() const;
    int32_t Height() const;
    // Starts decoding ahead on the worker thread; the sink gets the sound.
    void Start(AudioSink sink);
    // Ends decoding at once and joins the thread (also before a Start).
    void Stop();
    // The latest frame due at `now` (seconds from the first frame); older
    // due ones are dropped. False when none is due.
    bool PopDue(double now, DecodedFrame* out);
    // The whole clip was decoded and every frame was taken.
    bool Finished();
    // Non-zero after a decoding error (the clip ends there).
    HResult Error() const { return error_.load(); }
    // True while Stop was asked for (the sink's pacing looks at it).
    bool Stopping() const { return stop_.load(); }
    // Decodes and converts every video frame flat out, on this thread;
    // returns the frames, or -1 on an error.
    int32_t DecodeAll();

private:
    void Run();
    bool Deliver(AVCodecContext* codec, bool isVideo);
    bool Convert(AVFrame* frame, DecodedFrame* out);

    AVFormatContext* format_ = nullptr;
    AVCodecContext* video_ = nullptr;
    AVCodecContext* audio_ = nullptr;
    int videoStream_ = -1, audioStream_ = -1;
    SwsContext* scaler_ = nullptr;
    SwrContext* resampler_ = nullptr;
    AVFrame* frame_ = nullptr;
    double firstFrame_ = -1.0;   // seconds of the first video frame
    double lastFrame_ = 0.0;
    AudioSink sink_;
    bool queueFrames_ = true;    // false while DecodeAll counts
    int32_t decoded_ = 0;
    std::vector<uint8_t> audioBuffer_;

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<HResult> error_{0};
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<DecodedFrame> frames_;  // converted, waiting to be due
};
