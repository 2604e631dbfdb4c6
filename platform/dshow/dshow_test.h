// Test and benchmark hooks of the DirectShow stand-in: writing MPEG-1 clips
// with libavcodec's own encoders, decoding a clip flat out, and what the
// last graph showed.
#pragma once

#include <cstdint>

struct DShowClip {
    int32_t width = 160;
    int32_t height = 120;
    int32_t framesPerSecond = 25;
    float seconds = 1.0f;
    bool video = true;  // an MPEG-1 video stream
    bool audio = true;  // an MPEG audio layer 2 stream, 44100 Hz stereo
    // Optional painters of the content; null paints moving colour bars and a
    // tone. paintVideo fills width x height RGB pixels (3 bytes each, top row
    // first) of frame `frame`; paintAudio fills `count` stereo frames (left,
    // right) starting at sample `first`.
    void (*paintVideo)(int64_t frame, int32_t width, int32_t height, uint8_t* rgb, void* user) = nullptr;
    void (*paintAudio)(int64_t first, int32_t count, int16_t* stereo, void* user) = nullptr;
    void* user = nullptr;  // handed to both painters
};

// Writes a clip ("mpeg" program stream) of moving colour bars and a tone, or
// of what the clip's painters give.
// 1, or 0 when an encoder or the file fails (nothing is left behind then).
int DShowTest_WriteClip(const char* path, const DShowClip& clip);
// Decodes every video frame of the file and converts it to the display
// format, as playback does, without a window or a clock. The frames
// decoded, or -1 when the file can't be played.
int32_t DShowTest_DecodeFrames(const char* path);
// Frames the most recent graph showed, and whether its window was made.
int32_t DShowTest_FramesShown();
int DShowTest_WindowMade();
// The next graph closes its video window as the user would once it has
// shown that many frames (0: never).
void DShowTest_CloseAfterFrames(int32_t frames);
// The counts of the last graph and the close request back to none.
void DShowTest_Reset();
