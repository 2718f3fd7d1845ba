#include "platform/aac.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <iterator>

#include "platform/FfmpegHandles.h"

#include "platform/FfmpegApi.h"

namespace pelloran {

namespace {

// The encoder's own bound on a frame. AAC allows 768 bytes per channel, but libavcodec's encoder can
// overshoot it a little.
constexpr size_t kMaxFrameBytesPerChannel = 8192;
constexpr size_t kAdtsHeaderBytes = 7;
constexpr size_t kMaxAdtsFrameBytes = 8191;  // the 13-bit frame length of ADTS

constexpr int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};


}  // namespace

double AacQualityScale(int quality) {
    const int q = std::clamp(quality, 10, 500);
    return q <= 100 ? q / 100.0 : 1.0 + (q - 100) * 0.8 / 400.0;
}

int AacRateIndex(int rate) {
    for (size_t i = 0; i < std::size(kAacRates); ++i) {
        if (kAacRates[i] == rate) return static_cast<int>(i);
    }
    return -1;
}

bool BuildAdtsHeader(uint8_t header[7], bool mpeg2, int rate, int channels, size_t payloadBytes) {
    const int index = AacRateIndex(rate);
    const size_t length = payloadBytes + kAdtsHeaderBytes;
    if (index < 0 || length > kMaxAdtsFrameBytes || channels < 1 || channels > 7) return false;
    const unsigned profile = 1;  // low complexity
    const auto ch = static_cast<unsigned>(channels);
    header[0] = 0xFF;
    // sync (4 bits), ID, layer 00, protection absent
    header[1] = static_cast<uint8_t>(0xF0 | ((mpeg2 ? 1u : 0u) << 3) | 0x01);
    header[2] = static_cast<uint8_t>((profile << 6) | (static_cast<unsigned>(index) << 2) | ((ch >> 2) & 1));
    header[3] = static_cast<uint8_t>(((ch & 3) << 6) | ((length >> 11) & 0x03));
    header[4] = static_cast<uint8_t>((length >> 3) & 0xFF);
    // frame length low bits, buffer fullness 0x7FF (variable rate), one raw data block
    header[5] = static_cast<uint8_t>(((length & 0x07) << 5) | 0x1F);
    header[6] = 0xFC;
    return true;
}

struct AacEncoder::State {
    int rate = 0;
    int channels = 0;
    AacEncoderSettings settings;
    std::unique_ptr<AVCodecContext, CodecFreer> codec;
    std::unique_ptr<AVFrame, FrameFreer> frame;
    std::unique_ptr<AVPacket, PacketFreer> packet;
    std::vector<uint8_t> config;
    std::deque<std::vector<uint8_t>> ready;  // frames the encoder gave that were not handed out yet
    int64_t samplesSent = 0;                 // per channel
    bool shortFrameSent = false;             // only the last frame may be short
    bool draining = false;
    bool failed = false;

    bool Send(const int16_t* samples, int frames);
    bool Receive();
};

AacEncoder::AacEncoder() = default;
AacEncoder::~AacEncoder() = default;

void AacEncoder::Close() { s_.reset(); }
bool AacEncoder::IsOpen() const { return s_ != nullptr; }
int AacEncoder::Channels() const { return s_ ? s_->channels : 0; }

size_t AacEncoder::MaxFrameBytes() const {
    return s_ ? kMaxFrameBytesPerChannel * static_cast<size_t>(s_->channels) + kAdtsHeaderBytes : 0;
}

const std::vector<uint8_t>& AacEncoder::DecoderConfig() const {
    static const std::vector<uint8_t> none;
    return s_ ? s_->config : none;
}

bool AacEncoder::Open(int rate, int channels, const AacEncoderSettings& settings) {
    Close();
    if (channels < 1 || channels > kMaxAacChannels || AacRateIndex(rate) < 0) return false;
    if (!ffmpeg::Load()) return false;
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (aac == nullptr) return false;
    auto s = std::make_unique<State>();
    s->codec.reset(avcodec_alloc_context3(aac));
    s->frame.reset(av_frame_alloc());
    s->packet.reset(av_packet_alloc());
    if (!s->codec || !s->frame || !s->packet) return false;

    AVCodecContext* codec = s->codec.get();
    codec->sample_rate = rate;
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    // The layouts of AAC's channel configurations that match the planes' order for their count: mono, stereo,
    // 3.0, 5.0 and 5.1 (surrounds at the back); four planes are a quad, which no configuration names.
    static constexpr uint64_t kLayouts[] = {0, AV_CH_LAYOUT_MONO, AV_CH_LAYOUT_STEREO, AV_CH_LAYOUT_SURROUND, 0,
                                            AV_CH_LAYOUT_5POINT0_BACK, AV_CH_LAYOUT_5POINT1_BACK};
    if (kLayouts[channels] == 0 || av_channel_layout_from_mask(&codec->ch_layout, kLayouts[channels]) < 0) return false;
    codec->time_base = AVRational{1, rate};
    codec->profile = FF_PROFILE_AAC_LOW;
    if (settings.bitRate > 0) {
        codec->bit_rate = settings.bitRate;
    } else {
        // Quality mode: 100 lands on the encoder's default lambda.
        codec->flags |= AV_CODEC_FLAG_QSCALE;
        codec->global_quality = static_cast<int>(std::lround(AacQualityScale(settings.quality) * FF_QP2LAMBDA));
    }
    av_opt_set_int(codec->priv_data, "aac_tns", settings.tns ? 1 : 0, 0);
    if (!settings.midside) av_opt_set_int(codec->priv_data, "aac_ms", 0, 0);
    if (avcodec_open2(codec, aac, nullptr) < 0 || codec->frame_size != kFrameLength) return false;
    if (codec->extradata != nullptr && codec->extradata_size > 0)
        s->config.assign(codec->extradata, codec->extradata + codec->extradata_size);

    s->rate = rate;
    s->channels = channels;
    s->settings = settings;
    s_ = std::move(s);
    return true;
}

bool AacEncoder::State::Receive() {
    while (true) {
        const int got = avcodec_receive_packet(codec.get(), packet.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
        if (got < 0) return false;
        ready.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
}

bool AacEncoder::State::Send(const int16_t* samples, int frames) {
    if (frames == 0) {
        if (draining) return true;
        draining = true;
        return avcodec_send_frame(codec.get(), nullptr) >= 0;
    }
    if (draining || shortFrameSent || frames > kFrameLength || samples == nullptr) return false;
    AVFrame* f = frame.get();
    av_frame_unref(f);
    f->nb_samples = frames;
    f->format = AV_SAMPLE_FMT_FLTP;
    f->sample_rate = rate;
    if (av_channel_layout_copy(&f->ch_layout, &codec->ch_layout) < 0 || av_frame_get_buffer(f, 0) < 0) return false;
    const auto n = static_cast<size_t>(channels);
    for (size_t ch = 0; ch < n; ++ch) {
        auto* plane = reinterpret_cast<float*>(f->extended_data[ch]);
        for (size_t i = 0; i < static_cast<size_t>(frames); ++i) plane[i] = samples[i * n + ch] * (1.0f / 32768.0f);
    }
    f->pts = samplesSent;
    samplesSent += frames;
    if (frames < kFrameLength) shortFrameSent = true;
    return avcodec_send_frame(codec.get(), f) >= 0;
}

bool AacEncoder::Encode(const int16_t* samples, int frames, std::vector<uint8_t>& out) {
    out.clear();
    if (!s_ || s_->failed || frames < 0) return false;
    State& s = *s_;
    if (!s.Send(samples, frames) || !s.Receive()) {
        s.failed = true;
        return false;
    }
    if (s.ready.empty()) return true;
    const std::vector<uint8_t> payload = std::move(s.ready.front());
    s.ready.pop_front();
    if (!s.settings.adts) {
        out = payload;
        return true;
    }
    out.resize(kAdtsHeaderBytes + payload.size());
    if (!BuildAdtsHeader(out.data(), s.settings.mpeg2, s.rate, s.channels, payload.size())) {
        out.clear();
        s.failed = true;
        return false;
    }
    std::memcpy(out.data() + kAdtsHeaderBytes, payload.data(), payload.size());
    return true;
}

}  // namespace pelloran
