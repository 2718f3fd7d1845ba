#include "platform/alac.h"

#include <algorithm>
#include <cstring>

#include "platform/FfmpegHandles.h"

#include "platform/FfmpegApi.h"

namespace pelloran {

namespace {


// The layouts the encoder takes, by channel count; the wide path keeps the usual order of each count.
AVChannelLayout AlacLayout(int channels) {
    switch (channels) {
        case 1: return AV_CHANNEL_LAYOUT_MONO;
        case 2: return AV_CHANNEL_LAYOUT_STEREO;
        case 3: return AV_CHANNEL_LAYOUT_SURROUND;
        case 4: return AV_CHANNEL_LAYOUT_4POINT0;
        case 5: return AV_CHANNEL_LAYOUT_5POINT0_BACK;
        case 6: return AV_CHANNEL_LAYOUT_5POINT1_BACK;
        case 7: return AV_CHANNEL_LAYOUT_6POINT1_BACK;
        default: return AV_CHANNEL_LAYOUT_7POINT1_WIDE_BACK;
    }
}

}  // namespace

struct AlacEncoder::State {
    std::unique_ptr<AVCodecContext, CodecFreer> codec;
    std::unique_ptr<AVFrame, FrameFreer> frame;
    std::unique_ptr<AVPacket, PacketFreer> packet;
    std::vector<uint8_t> cookie;
    Sink sink;
    int channels = 0;
    int bits = 16;
    int fill = 0;  // frames waiting in the frame
    bool failed = false;

    bool Receive() {
        while (true) {
            const int got = avcodec_receive_packet(codec.get(), packet.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
            if (got < 0) return false;
            const int samples = static_cast<int>(std::clamp<int64_t>(packet->duration, 0, kFrameLength));
            const bool ok = sink(packet->data, static_cast<size_t>(packet->size), samples);
            av_packet_unref(packet.get());
            if (!ok) return false;
        }
    }

    // Sends the frames waiting in the frame.
    bool Send() {
        if (fill == 0) return true;
        frame->nb_samples = fill;
        fill = 0;
        if (avcodec_send_frame(codec.get(), frame.get()) < 0) return false;
        return Receive() && av_frame_make_writable(frame.get()) >= 0;
    }
};

AlacEncoder::AlacEncoder() = default;
AlacEncoder::~AlacEncoder() = default;

void AlacEncoder::Close() { s_.reset(); }

const std::vector<uint8_t>& AlacEncoder::Cookie() const {
    static const std::vector<uint8_t> none;
    return s_ ? s_->cookie : none;
}

bool AlacEncoder::Open(int rate, int channels, int bits, Sink sink) {
    Close();
    if (rate <= 0 || channels < 1 || channels > 8 || (bits != 16 && bits != 24) || !sink) return false;
    if (!ffmpeg::Load()) return false;
    const AVCodec* alac = avcodec_find_encoder(AV_CODEC_ID_ALAC);
    if (alac == nullptr) return false;
    auto s = std::make_unique<State>();
    s->codec.reset(avcodec_alloc_context3(alac));
    s->frame.reset(av_frame_alloc());
    s->packet.reset(av_packet_alloc());
    if (!s->codec || !s->frame || !s->packet) return false;
    AVCodecContext* codec = s->codec.get();
    codec->sample_rate = rate;
    codec->sample_fmt = bits == 16 ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S32P;
    codec->bits_per_raw_sample = bits;
    codec->ch_layout = AlacLayout(channels);
    codec->time_base = AVRational{1, rate};
    codec->frame_size = kFrameLength;
    codec->thread_count = 1;
    if (avcodec_open2(codec, alac, nullptr) < 0 || codec->frame_size != kFrameLength) return false;
    if (codec->extradata == nullptr || codec->extradata_size <= 0) return false;
    s->cookie.assign(codec->extradata, codec->extradata + codec->extradata_size);

    AVFrame* frame = s->frame.get();
    frame->format = codec->sample_fmt;
    frame->sample_rate = rate;
    frame->nb_samples = kFrameLength;
    if (av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout) < 0 || av_frame_get_buffer(frame, 0) < 0)
        return false;
    s->sink = std::move(sink);
    s->channels = channels;
    s->bits = bits;
    s_ = std::move(s);
    return true;
}

bool AlacEncoder::Write(const int32_t* const* planes, int frames) {
    if (!s_ || s_->failed || frames < 0) return false;
    State& s = *s_;
    int done = 0;
    while (done < frames) {
        const int n = std::min(frames - done, kFrameLength - s.fill);
        for (int c = 0; c < s.channels; ++c) {
            const int32_t* in = planes[c] + done;
            if (s.bits == 16) {
                auto* out = reinterpret_cast<int16_t*>(s.frame->extended_data[c]) + s.fill;
                for (int i = 0; i < n; ++i) out[i] = static_cast<int16_t>(in[i]);
            } else {
                // The encoder takes wider samples left-aligned in 32 bits.
                auto* out = reinterpret_cast<int32_t*>(s.frame->extended_data[c]) + s.fill;
                for (int i = 0; i < n; ++i) out[i] = static_cast<int32_t>(static_cast<uint32_t>(in[i]) << 8);
            }
        }
        s.fill += n;
        done += n;
        if (s.fill == kFrameLength && !s.Send()) {
            s.failed = true;
            return false;
        }
    }
    return true;
}

bool AlacEncoder::Drain() {
    if (!s_ || s_->failed) return false;
    State& s = *s_;
    const bool ok = s.Send() && avcodec_send_frame(s.codec.get(), nullptr) >= 0 && s.Receive();
    s.failed = true;  // nothing more may come
    return ok;
}

}  // namespace pelloran
