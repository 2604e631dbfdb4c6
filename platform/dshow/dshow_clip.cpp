// Writing test clips: MPEG-1 video and MPEG audio layer 2 in an MPEG program
// stream, with libavcodec's own encoders. Tests and benchmarks make their
// clips with this, so no binary clip lives in the tree.
#include "platform/dshow/dshow_test.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

struct Encoder {
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    int64_t next = 0;  // the next frame's time in the codec's time base
};

void Free(Encoder& e)
{
    av_frame_free(&e.frame);
    avcodec_free_context(&e.codec);
}

bool Open(AVFormatContext* out, Encoder& e, AVCodecID id, void (*setup)(AVCodecContext*, const DShowClip&),
          const DShowClip& clip)
{
    const AVCodec* codec = avcodec_find_encoder(id);
    if (!codec || !(e.stream = avformat_new_stream(out, nullptr)) || !(e.codec = avcodec_alloc_context3(codec)))
        return false;
    setup(e.codec, clip);
    if (out->oformat->flags & AVFMT_GLOBALHEADER) e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(e.codec, codec, nullptr) < 0 || avcodec_parameters_from_context(e.stream->codecpar, e.codec) < 0)
        return false;
    e.stream->time_base = e.codec->time_base;
    e.frame = av_frame_alloc();
    if (!e.frame) return false;
    e.frame->format = e.codec->codec_type == AVMEDIA_TYPE_VIDEO ? (int)e.codec->pix_fmt : (int)e.codec->sample_fmt;
    e.frame->width = e.codec->width;
    e.frame->height = e.codec->height;
    e.frame->nb_samples = e.codec->frame_size;
    if (e.codec->codec_type == AVMEDIA_TYPE_AUDIO && av_channel_layout_copy(&e.frame->ch_layout, &e.codec->ch_layout) < 0)
        return false;
    return av_frame_get_buffer(e.frame, 0) >= 0;
}

void SetupVideo(AVCodecContext* c, const DShowClip& clip)
{
    c->width = clip.width;
    c->height = clip.height;
    c->time_base = AVRational{1, clip.framesPerSecond};
    c->framerate = AVRational{clip.framesPerSecond, 1};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->gop_size = 12;
    c->bit_rate = 1500000;
}

void SetupAudio(AVCodecContext* c, const DShowClip&)
{
    c->sample_fmt = AV_SAMPLE_FMT_S16;
    c->sample_rate = 44100;
    av_channel_layout_default(&c->ch_layout, 2);
    c->bit_rate = 128000;
    c->time_base = AVRational{1, 44100};
}

// Moving colour bars.
void PaintVideo(AVFrame* f, int64_t n)
{
    for (int y = 0; y < f->height; y++)
        for (int x = 0; x < f->width; x++) f->data[0][y * f->linesize[0] + x] = (uint8_t)(((x + n * 4) / 16 % 2) * 160 + 40);
    for (int y = 0; y < f->height / 2; y++)
        for (int x = 0; x < f->width / 2; x++) {
            f->data[1][y * f->linesize[1] + x] = (uint8_t)(128 + 60 * ((x / 8) % 2));
            f->data[2][y * f->linesize[2] + x] = (uint8_t)(128 - 60 * ((y / 8) % 2));
        }
}

// The painter's RGB picture in the encoder's YUV 4:2:0 (BT.601, video
// range); chroma from the mean of each 2 x 2 block.
void ConvertVideo(AVFrame* f, const uint8_t* rgb)
{
    auto luma = [](const uint8_t* p) { return (66 * p[0] + 129 * p[1] + 25 * p[2] + 128) / 256 + 16; };
    for (int y = 0; y < f->height; y++)
        for (int x = 0; x < f->width; x++)
            f->data[0][y * f->linesize[0] + x] = (uint8_t)luma(rgb + ((size_t)y * f->width + x) * 3);
    for (int y = 0; y < f->height / 2; y++)
        for (int x = 0; x < f->width / 2; x++) {
            int r = 0, g = 0, b = 0;
            for (int k = 0; k < 4; k++) {
                const uint8_t* p = rgb + ((size_t)(2 * y + k / 2) * f->width + 2 * x + k % 2) * 3;
                r += p[0], g += p[1], b += p[2];
            }
            r /= 4, g /= 4, b /= 4;
            f->data[1][y * f->linesize[1] + x] = (uint8_t)((-38 * r - 74 * g + 112 * b + 128) / 256 + 128);
            f->data[2][y * f->linesize[2] + x] = (uint8_t)((112 * r - 94 * g - 18 * b + 128) / 256 + 128);
        }
}

// A 440 Hz tone.
void PaintAudio(AVFrame* f, int64_t first)
{
    int16_t* samples = (int16_t*)f->data[0];
    for (int i = 0; i < f->nb_samples; i++) {
        int16_t v = (int16_t)(8000 * std::sin(2 * M_PI * 440.0 * (double)(first + i) / 44100.0));
        samples[2 * i] = samples[2 * i + 1] = v;
    }
}

// Sends a frame (null flushes) and writes every packet the encoder gives.
bool Write(AVFormatContext* out, Encoder& e, AVFrame* frame)
{
    if (avcodec_send_frame(e.codec, frame) < 0) return false;
    AVPacket* packet = av_packet_alloc();
    if (!packet) return false;
    bool ok = true;
    for (;;) {
        int r = avcodec_receive_packet(e.codec, packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) {
            ok = false;
            break;
        }
        av_packet_rescale_ts(packet, e.codec->time_base, e.stream->time_base);
        packet->stream_index = e.stream->index;
        if (av_interleaved_write_frame(out, packet) < 0) {
            ok = false;
            break;
        }
    }
    av_packet_free(&packet);
    return ok;
}

}  // namespace

int DShowTest_WriteClip(const char* path, const DShowClip& clip)
{
    if (!path || (!clip.video && !clip.audio)) return 0;
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, "mpeg", path) < 0 || !out) return 0;
    Encoder video, audio;
    std::vector<uint8_t> rgb(clip.paintVideo ? (size_t)clip.width * (size_t)clip.height * 3 : 0);
    bool ok = (!clip.video || Open(out, video, AV_CODEC_ID_MPEG1VIDEO, SetupVideo, clip)) &&
              (!clip.audio || Open(out, audio, AV_CODEC_ID_MP2, SetupAudio, clip));
    ok = ok && avio_open(&out->pb, path, AVIO_FLAG_WRITE) >= 0;
    bool opened = ok;
    ok = ok && avformat_write_header(out, nullptr) >= 0;
    int64_t videoFrames = clip.video ? (int64_t)std::lround(clip.seconds * clip.framesPerSecond) : 0;
    int64_t audioSamples = clip.audio ? (int64_t)std::lround(clip.seconds * 44100) : 0;
    while (ok && (video.next < videoFrames || audio.next < audioSamples)) {
        // Whichever stream is behind in time goes next, so packets interleave.
        bool videoTurn = video.next < videoFrames &&
                         (audio.next >= audioSamples ||
                          av_compare_ts(video.next, video.codec->time_base, audio.next, audio.codec->time_base) <= 0);
        Encoder& e = videoTurn ? video : audio;
        ok = av_frame_make_writable(e.frame) >= 0;
        if (!ok) break;
        if (videoTurn) {
            if (clip.paintVideo) {
                clip.paintVideo(e.next, clip.width, clip.height, rgb.data(), clip.user);
                ConvertVideo(e.frame, rgb.data());
            } else {
                PaintVideo(e.frame, e.next);
            }
            e.frame->pts = e.next++;
        } else {
            if (clip.paintAudio)
                clip.paintAudio(e.next, e.frame->nb_samples, (int16_t*)e.frame->data[0], clip.user);
            else
                PaintAudio(e.frame, e.next);
            e.frame->pts = e.next;
            e.next += e.frame->nb_samples;
        }
        ok = Write(out, e, e.frame);
    }
    if (ok && clip.video) ok = Write(out, video, nullptr);
    if (ok && clip.audio) ok = Write(out, audio, nullptr);
    if (ok) ok = av_write_trailer(out) >= 0;
    if (opened) avio_closep(&out->pb);
    Free(video);
    Free(audio);
    avformat_free_context(out);
    if (!ok) remove(path);
    return ok ? 1 : 0;
}
