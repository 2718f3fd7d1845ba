#include "platform/faac.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "platform/ffmpeg_log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace pelloran {

namespace {

constexpr unsigned kFrameLength = 1024;       // samples per channel in one AAC frame
// The encoder's own bound on a frame. AAC allows 768 bytes per channel, which is what FAAC reports, but
// libavcodec's encoder can overshoot it a little.
constexpr unsigned kMaxFrameBytesPerChannel = 8192;
constexpr size_t kAdtsHeaderBytes = 7;
constexpr size_t kMaxAdtsFrameBytes = 8191;   // the 13-bit frame length of ADTS

constexpr unsigned long kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                       22050, 16000, 12000, 11025, 8000,  7350};

struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

}  // namespace

class FaacEncoder {
public:
    FaacEncoder(unsigned long rate, unsigned channels) : rate_(rate), channels_(channels) {}

    faacEncConfiguration config;

    int Configure(const faacEncConfiguration& wanted);
    int Encode(const void* input, unsigned samples, unsigned char* out, unsigned outSize);
    bool DecoderInfo(std::vector<uint8_t>& info) const;

private:
    bool Receive();

    unsigned long rate_;
    unsigned channels_;
    faacEncConfiguration applied_;
    std::unique_ptr<AVCodecContext, CodecFreer> codec_;
    std::unique_ptr<AVFrame, FrameFreer> frame_;
    std::unique_ptr<AVPacket, PacketFreer> packet_;
    std::deque<std::vector<uint8_t>> ready_;  // frames the encoder gave that were not handed out yet
    int64_t samplesSent_ = 0;                 // per channel
    bool started_ = false;                    // a frame was sent
    bool shortFrameSent_ = false;             // only the last frame may be short
    bool draining_ = false;
    bool failed_ = false;
};

int AacRateIndex(unsigned long sampleRate) {
    for (size_t i = 0; i < std::size(kAacRates); ++i) {
        if (kAacRates[i] == sampleRate) return static_cast<int>(i);
    }
    return -1;
}

bool BuildAdtsHeader(uint8_t header[7], unsigned mpegVersion, unsigned objectType, unsigned long sampleRate,
                     unsigned channels, size_t payloadBytes) {
    const int index = AacRateIndex(sampleRate);
    const size_t length = payloadBytes + kAdtsHeaderBytes;
    if (index < 0 || length > kMaxAdtsFrameBytes || channels < 1 || channels > 7 || objectType < 1 ||
        objectType > 4)
        return false;
    const unsigned profile = objectType - 1;
    header[0] = 0xFF;
    // sync (4 bits), ID, layer 00, protection absent
    header[1] = static_cast<uint8_t>(0xF0 | ((mpegVersion == MPEG2 ? 1u : 0u) << 3) | 0x01);
    header[2] = static_cast<uint8_t>((profile << 6) | (static_cast<unsigned>(index) << 2) | ((channels >> 2) & 1));
    header[3] = static_cast<uint8_t>(((channels & 3) << 6) | ((length >> 11) & 0x03));
    header[4] = static_cast<uint8_t>((length >> 3) & 0xFF);
    // frame length low bits, buffer fullness 0x7FF (variable rate), one raw data block
    header[5] = static_cast<uint8_t>(((length & 0x07) << 5) | 0x1F);
    header[6] = 0xFC;
    return true;
}

int FaacEncoder::Configure(const faacEncConfiguration& wanted) {
    if (started_) return 0;
    if (wanted.aacObjectType != LOW) return 0;
    if (wanted.mpegVersion != MPEG4 && wanted.mpegVersion != MPEG2) return 0;
    if (wanted.outputFormat != RAW_STREAM && wanted.outputFormat != ADTS_STREAM) return 0;
    if (wanted.inputFormat != FAAC_INPUT_16BIT && wanted.inputFormat != FAAC_INPUT_FLOAT) return 0;
    if (wanted.bandWidth > rate_ / 2) return 0;

    QuietFfmpegLog();
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (aac == nullptr) return 0;
    std::unique_ptr<AVCodecContext, CodecFreer> codec(avcodec_alloc_context3(aac));
    if (!codec) return 0;
    faacEncConfiguration c = wanted;
    c.quantqual = std::clamp<unsigned long>(c.quantqual, 10, 500);

    codec->sample_rate = static_cast<int>(rate_);
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&codec->ch_layout, static_cast<int>(channels_));
    codec->time_base = AVRational{1, static_cast<int>(rate_)};
    codec->profile = FF_PROFILE_AAC_LOW;
    codec->cutoff = static_cast<int>(c.bandWidth);
    if (c.bitRate > 0) {
        codec->bit_rate = static_cast<int64_t>(c.bitRate) * channels_;
    } else {
        // Quality mode: FAAC's 100 lands on the encoder's default lambda.
        codec->flags |= AV_CODEC_FLAG_QSCALE;
        codec->global_quality = static_cast<int>(c.quantqual * FF_QP2LAMBDA / 100);
    }
    av_opt_set_int(codec->priv_data, "aac_tns", c.useTns != 0 ? 1 : 0, 0);
    if (c.allowMidside == 0) av_opt_set_int(codec->priv_data, "aac_ms", 0, 0);
    if (avcodec_open2(codec.get(), aac, nullptr) < 0) return 0;
    if (codec->frame_size != static_cast<int>(kFrameLength)) return 0;

    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    if (!frame || !packet) return 0;

    codec_ = std::move(codec);
    frame_ = std::move(frame);
    packet_ = std::move(packet);
    config = c;
    applied_ = c;
    return 1;
}

bool FaacEncoder::Receive() {
    while (true) {
        const int got = avcodec_receive_packet(codec_.get(), packet_.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
        if (got < 0) return false;
        ready_.emplace_back(packet_->data, packet_->data + packet_->size);
        av_packet_unref(packet_.get());
    }
}

int FaacEncoder::Encode(const void* input, unsigned samples, unsigned char* out, unsigned outSize) {
    if (!codec_ || failed_) return -1;
    if (samples > 0) {
        const unsigned frames = samples / channels_;
        if (draining_ || shortFrameSent_ || frames == 0 || frames > kFrameLength || input == nullptr) return -1;
        AVFrame* f = frame_.get();
        av_frame_unref(f);
        f->nb_samples = static_cast<int>(frames);
        f->format = AV_SAMPLE_FMT_FLTP;
        f->sample_rate = static_cast<int>(rate_);
        if (av_channel_layout_copy(&f->ch_layout, &codec_->ch_layout) < 0 || av_frame_get_buffer(f, 0) < 0) {
            failed_ = true;
            return -1;
        }
        for (unsigned ch = 0; ch < channels_; ++ch) {
            auto* plane = reinterpret_cast<float*>(f->extended_data[ch]);
            if (applied_.inputFormat == FAAC_INPUT_16BIT) {
                const auto* in = static_cast<const int16_t*>(input);
                for (unsigned i = 0; i < frames; ++i) plane[i] = in[i * channels_ + ch] * (1.0f / 32768.0f);
            } else {
                const auto* in = static_cast<const float*>(input);
                for (unsigned i = 0; i < frames; ++i) plane[i] = in[i * channels_ + ch] * (1.0f / 32768.0f);
            }
        }
        f->pts = samplesSent_;
        samplesSent_ += frames;
        if (frames < kFrameLength) shortFrameSent_ = true;
        started_ = true;
        if (avcodec_send_frame(codec_.get(), f) < 0) {
            failed_ = true;
            return -1;
        }
    } else if (!draining_) {
        draining_ = true;
        started_ = true;
        if (avcodec_send_frame(codec_.get(), nullptr) < 0) {
            failed_ = true;
            return -1;
        }
    }
    if (!Receive()) {
        failed_ = true;
        return -1;
    }
    if (ready_.empty()) return 0;

    const std::vector<uint8_t> payload = std::move(ready_.front());
    ready_.pop_front();
    const size_t header = applied_.outputFormat == ADTS_STREAM ? kAdtsHeaderBytes : 0;
    if (payload.size() + header > outSize) return -1;
    if (header != 0 &&
        !BuildAdtsHeader(out, applied_.mpegVersion, applied_.aacObjectType, rate_, channels_, payload.size()))
        return -1;
    std::memcpy(out + header, payload.data(), payload.size());
    return static_cast<int>(payload.size() + header);
}

bool FaacEncoder::DecoderInfo(std::vector<uint8_t>& info) const {
    if (!codec_ || codec_->extradata == nullptr || codec_->extradata_size <= 0) return false;
    info.assign(codec_->extradata, codec_->extradata + codec_->extradata_size);
    return true;
}

faacEncHandle faacEncOpen(unsigned long sampleRate, unsigned numChannels, unsigned long* inputSamples,
                          unsigned long* maxOutputBytes) {
    if (numChannels < 1 || numChannels > 2 || AacRateIndex(sampleRate) < 0) return nullptr;
    if (inputSamples) *inputSamples = kFrameLength * numChannels;
    if (maxOutputBytes) *maxOutputBytes = kMaxFrameBytesPerChannel * numChannels + kAdtsHeaderBytes;
    return new FaacEncoder(sampleRate, numChannels);
}

faacEncConfiguration* faacEncGetCurrentConfiguration(faacEncHandle encoder) {
    return encoder == nullptr ? nullptr : &encoder->config;
}

int faacEncSetConfiguration(faacEncHandle encoder, faacEncConfiguration* config) {
    if (encoder == nullptr || config == nullptr) return 0;
    return encoder->Configure(*config);
}

int faacEncEncode(faacEncHandle encoder, const void* inputBuffer, unsigned samplesInput, unsigned char* outputBuffer,
                  unsigned bufferSize) {
    if (encoder == nullptr || outputBuffer == nullptr) return -1;
    return encoder->Encode(inputBuffer, samplesInput, outputBuffer, bufferSize);
}

bool faacEncGetDecoderSpecificInfo(faacEncHandle encoder, std::vector<uint8_t>& info) {
    return encoder != nullptr && encoder->DecoderInfo(info);
}

int faacEncClose(faacEncHandle encoder) {
    delete encoder;
    return 0;
}

}  // namespace pelloran
