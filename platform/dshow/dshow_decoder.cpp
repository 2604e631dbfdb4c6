#include "platform/dshow/dshow_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <chrono>

#include "platform/dshow/dshow.h"

namespace {

constexpr size_t kQueuedFrames = 6;  // frames decoded ahead of the clock

AVCodecContext* OpenCodec(AVStream* stream)
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return nullptr;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (!context) return nullptr;
    if (avcodec_parameters_to_context(context, stream->codecpar) < 0 || avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return nullptr;
    }
    return context;
}

}  // namespace

DShowDecoder::~DShowDecoder()
{
    Stop();
    sws_freeContext(scaler_);
    swr_free(&resampler_);
    av_frame_free(&frame_);
    avcodec_free_context(&video_);
    avcodec_free_context(&audio_);
    avformat_close_input(&format_);
}

HResult DShowDecoder::Open(const char* realPath)
{
    av_log_set_level(AV_LOG_QUIET);
    if (avformat_open_input(&format_, realPath, nullptr, nullptr) < 0) return VFW_E_UNKNOWN_FILE_TYPE;
    if (avformat_find_stream_info(format_, nullptr) < 0) return VFW_E_UNKNOWN_FILE_TYPE;
    for (unsigned i = 0; i < format_->nb_streams; i++) {
        AVMediaType type = format_->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && videoStream_ < 0) videoStream_ = (int)i;
        if (type == AVMEDIA_TYPE_AUDIO && audioStream_ < 0) audioStream_ = (int)i;
    }
    if (videoStream_ >= 0) video_ = OpenCodec(format_->streams[videoStream_]);
    if (video_ && (video_->width <= 0 || video_->height <= 0 || video_->width > 8192 || video_->height > 8192))
        avcodec_free_context(&video_);
    if (audioStream_ >= 0) audio_ = OpenCodec(format_->streams[audioStream_]);
    if (audio_) {
        AVChannelLayout stereo;
        av_channel_layout_default(&stereo, 2);
        if (swr_alloc_set_opts2(&resampler_, &stereo, AV_SAMPLE_FMT_S16, 44100, &audio_->ch_layout, audio_->sample_fmt,
                                audio_->sample_rate, 0, nullptr) < 0 ||
            swr_init(resampler_) < 0) {
            swr_free(&resampler_);
            avcodec_free_context(&audio_);
        }
    }
    if (!video_) videoStream_ = -1;
    if (!audio_) audioStream_ = -1;
    frame_ = av_frame_alloc();
    if (!frame_ || (!video_ && !audio_)) return VFW_E_CANNOT_RENDER;
    return S_OK;
}

int32_t DShowDecoder::Width() const { return video_ ? video_->width : 0; }
int32_t DShowDecoder::Height() const { return video_ ? video_->height : 0; }

void DShowDecoder::Start(AudioSink sink)
{
    if (thread_.joinable() || !format_) return;
    sink_ = std::move(sink);
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void DShowDecoder::Stop()
{
    stop_ = true;
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> guard(lock_);
    frames_.clear();
}

bool DShowDecoder::PopDue(double now, DecodedFrame* out)
{
    std::lock_guard<std::mutex> guard(lock_);
    bool any = false;
    while (!frames_.empty() && frames_.front().seconds <= now) {
        *out = std::move(frames_.front());
        frames_.pop_front();
        any = true;
    }
    if (any) changed_.notify_all();
    return any;
}

bool DShowDecoder::Finished()
{
    std::lock_guard<std::mutex> guard(lock_);
    return done_ && frames_.empty();
}

bool DShowDecoder::Convert(AVFrame* frame, DecodedFrame* out)
{
    int w = frame->width, h = frame->height;
    if (w <= 0 || h <= 0 || w > 8192 || h > 8192) return false;
    scaler_ = sws_getCachedContext(scaler_, w, h, (AVPixelFormat)frame->format, w, h, AV_PIX_FMT_BGRA, SWS_BILINEAR,
                                   nullptr, nullptr, nullptr);
    if (!scaler_) return false;
    out->width = w;
    out->height = h;
    out->pixels.resize((size_t)w * h * 4);
    uint8_t* planes[1] = {out->pixels.data()};
    int strides[1] = {w * 4};
    return sws_scale(scaler_, frame->data, frame->linesize, 0, h, planes, strides) == h;
}

// Takes every frame the codec has ready; false on a decoding error or a stop.
bool DShowDecoder::Deliver(AVCodecContext* codec, bool isVideo)
{
    for (;;) {
        int r = avcodec_receive_frame(codec, frame_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) return false;
        if (isVideo) {
            AVStream* stream = format_->streams[videoStream_];
            int64_t ts = frame_->best_effort_timestamp;
            double step = stream->avg_frame_rate.num > 0 ? av_q2d(av_inv_q(stream->avg_frame_rate)) : 0.04;
            double seconds = ts == AV_NOPTS_VALUE ? lastFrame_ + step : ts * av_q2d(stream->time_base);
            if (!(seconds >= lastFrame_)) seconds = lastFrame_;
            lastFrame_ = seconds;
            if (firstFrame_ < 0) firstFrame_ = seconds;
            DecodedFrame converted;
            converted.seconds = seconds - firstFrame_;
            bool ok = Convert(frame_, &converted);
            av_frame_unref(frame_);
            if (!ok) return false;
            decoded_++;
            if (!queueFrames_) continue;
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [this] { return stop_ || frames_.size() < kQueuedFrames; });
            if (stop_) return false;
            frames_.push_back(std::move(converted));
        } else {
            int room = swr_get_out_samples(resampler_, frame_->nb_samples);
            if (room > 0) {
                audioBuffer_.resize((size_t)room * 4);
                uint8_t* out[1] = {audioBuffer_.data()};
                int got = swr_convert(resampler_, out, room, (const uint8_t**)frame_->extended_data, frame_->nb_samples);
                if (got > 0 && sink_) sink_(audioBuffer_.data(), (uint32_t)got * 4);
            }
            av_frame_unref(frame_);
        }
        if (stop_) return false;
    }
}

void DShowDecoder::Run()
{
    AVPacket* packet = av_packet_alloc();
    bool ok = packet != nullptr;
    while (ok && !stop_) {
        int r = av_read_frame(format_, packet);
        if (r < 0) break;  // the end of the file (or of what can be read)
        AVCodecContext* codec = packet->stream_index == videoStream_   ? video_
                                : packet->stream_index == audioStream_ ? audio_
                                                                       : nullptr;
        if (codec) {
            r = avcodec_send_packet(codec, packet);
            ok = (r >= 0 || r == AVERROR(EAGAIN)) && Deliver(codec, codec == video_);
        }
        av_packet_unref(packet);
    }
    // Flush what the decoders still hold.
    for (AVCodecContext* codec : {video_, audio_}) {
        if (ok && codec && !stop_ && avcodec_send_packet(codec, nullptr) >= 0) ok = Deliver(codec, codec == video_);
    }
    av_packet_free(&packet);
    if (!ok && !stop_) error_ = E_FAIL;
    done_ = true;
    changed_.notify_all();
}

int32_t DShowDecoder::DecodeAll()
{
    if (!video_ || thread_.joinable()) return -1;
    queueFrames_ = false;
    decoded_ = 0;
    AVCodecContext* audio = audio_;
    audio_ = nullptr;  // sound is not what is measured
    int saved = audioStream_;
    audioStream_ = -1;
    Run();
    audio_ = audio;
    audioStream_ = saved;
    return error_ ? -1 : decoded_;
}
