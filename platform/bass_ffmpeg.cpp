// File streams of the BASS stand-in, decoded with FFmpeg: only the audio formats the library and its
// plug-ins read (so that Ogg Vorbis, AIFF and others go on to their own readers).

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/bass_channel.h"
#include "platform/ffmpeg_input.h"

namespace pelloran::bass {

namespace {

struct CodecFreer {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct SwrFreer {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

// Owns an AVChannelLayout's allocation.
struct Layout {
    AVChannelLayout value{};
    Layout() = default;
    ~Layout() { av_channel_layout_uninit(&value); }
    Layout(const Layout&) = delete;
    Layout& operator=(const Layout&) = delete;
};

// Packets read without any decoded audio before a file is refused as undecodable.
constexpr int kPrimePacketLimit = 1000;
// Decoding errors in a row that end a stream.
constexpr int kMaxDecodeErrors = 100;

class FfmpegChannel final : public Channel {
public:
    bool Open(const std::string& file);
    uint32_t GetData(void* buffer, uint32_t bytes) override;
    uint64_t FilePosition(uint32_t mode) override;
    const char* Tags(uint32_t kind) override;
    TagFields ReadTagFields() override;
    bool Truncated() override { return endWatch_.Truncated(); }

private:
    // Decodes until some PCM is pending or the stream ends; false at the end.
    bool DecodeMore();
    bool ReceiveFrames();
    bool ConvertFrame(const AVFrame* frame);
    bool EnsureResampler(const AVFrame* frame);
    void Flush();

    MediaInput format_;
    CodecPtr codec_;
    SwrPtr swr_;
    PacketPtr packet_;
    FramePtr frame_;
    Layout outLayout_;
    AVSampleFormat outFormat_ = AV_SAMPLE_FMT_S16;
    int outRate_ = 0;
    int streamIndex_ = -1;
    // Input parameters the resampler was set up for.
    int swrFormat_ = -1;
    int swrRate_ = 0;
    Layout swrLayout_;

    std::vector<uint8_t> pending_;  // converted PCM not yet handed out
    size_t pendingPos_ = 0;
    bool demuxEnd_ = false;
    bool decoderDrained_ = false;
    bool finished_ = false;
    int decodeErrors_ = 0;
    StreamEndWatch endWatch_;

    bool isMp3_ = false;
    uint64_t fileSize_ = kBassNoValue;
    uint64_t firstPacketPos_ = kBassNoValue;
    uint64_t audioStart_ = kBassNoValue;
    bool id3Read_ = false;
    Id3Blocks id3_;
};

bool FfmpegChannel::Open(const std::string& file) {
    path = file;
    // Only local files, and only containers of the family: the others are refused before they read anything.
    format_ = OpenLocalMedia(file, DemuxerSet::BassFamily);
    if (!format_ || avformat_find_stream_info(format_.get(), nullptr) < 0) return false;

    const AVCodec* decoder = nullptr;
    streamIndex_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (streamIndex_ < 0 || decoder == nullptr) return false;
    AVStream* stream = format_->streams[streamIndex_];
    if (!BassFamilyTakesCodec(*format_, stream->codecpar->codec_id)) return false;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        if (static_cast<int>(i) != streamIndex_) format_->streams[i]->discard = AVDISCARD_ALL;
    }

    codec_.reset(avcodec_alloc_context3(decoder));
    if (!codec_ || avcodec_parameters_to_context(codec_.get(), stream->codecpar) < 0) return false;
    codec_->pkt_timebase = stream->time_base;
    if (avcodec_open2(codec_.get(), decoder, nullptr) < 0) return false;

    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!packet_ || !frame_) return false;
    endWatch_.Start(*format_, streamIndex_, file);

    // Decode the first frame now: the output format is known and an undecodable stream is refused here.
    int packets = 0;
    while (pending_.empty() && !finished_) {
        if (!DecodeMore() || ++packets > kPrimePacketLimit) break;
    }
    if (pending_.empty()) return false;

    const int64_t size = avio_size(format_->pb);
    if (size >= 0) fileSize_ = static_cast<uint64_t>(size);
    isMp3_ = std::strcmp(format_->iformat->name, "mp3") == 0;
    if (isMp3_) audioStart_ = FindMpegAudioStart(path);

    // Length from the stream's duration, else the container's, else the file size at the codec's bit rate.
    int64_t frames = 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        frames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, outRate_});
    } else if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
        frames = av_rescale(format_->duration, outRate_, AV_TIME_BASE);
    } else if (codec_->bit_rate > 0 && size > 0) {
        frames = av_rescale(size, int64_t{8} * outRate_, codec_->bit_rate);
    }
    if (frames <= 0) return false;
    lengthBytes = static_cast<uint64_t>(frames) * FrameBytes();
    return true;
}

bool FfmpegChannel::DecodeMore() {
    if (finished_) return false;
    if (ReceiveFrames()) return true;
    if (finished_) return false;
    if (demuxEnd_) return false;

    const int read = av_read_frame(format_.get(), packet_.get());
    if (read < 0) {
        // End of the file or a read error: drain the decoder.
        endWatch_.OnReadEnd(read);
        demuxEnd_ = true;
        avcodec_send_packet(codec_.get(), nullptr);
        if (ReceiveFrames()) return true;
        Flush();
        return !pending_.empty();
    }
    if (packet_->stream_index == streamIndex_) {
        if (firstPacketPos_ == kBassNoValue && packet_->pos >= 0) firstPacketPos_ = static_cast<uint64_t>(packet_->pos);
        endWatch_.OnPacket(*packet_);
        // A damaged packet is skipped; the decoder resynchronises on the next one.
        avcodec_send_packet(codec_.get(), packet_.get());
    }
    av_packet_unref(packet_.get());
    ReceiveFrames();
    return true;
}

// Takes every frame the decoder has ready; true when some PCM became pending.
bool FfmpegChannel::ReceiveFrames() {
    bool produced = false;
    while (!decoderDrained_) {
        const int r = avcodec_receive_frame(codec_.get(), frame_.get());
        if (r == AVERROR(EAGAIN)) break;
        if (r == AVERROR_EOF) {
            decoderDrained_ = true;
            break;
        }
        if (r < 0) {
            // A damaged frame is dropped; a decoder that keeps failing ends the stream.
            if (++decodeErrors_ > kMaxDecodeErrors) {
                finished_ = true;
                break;
            }
            continue;
        }
        decodeErrors_ = 0;
        const bool ok = ConvertFrame(frame_.get());
        av_frame_unref(frame_.get());
        if (!ok) {
            finished_ = true;
            break;
        }
        produced = true;
    }
    if (decoderDrained_ && demuxEnd_ && !finished_) {
        Flush();
        finished_ = true;
    }
    return produced || pendingPos_ < pending_.size();
}

bool FfmpegChannel::EnsureResampler(const AVFrame* frame) {
    Layout inLayout;
    if (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
        if (av_channel_layout_copy(&inLayout.value, &frame->ch_layout) < 0) return false;
    } else {
        av_channel_layout_default(&inLayout.value, frame->ch_layout.nb_channels);
    }
    if (inLayout.value.nb_channels <= 0 || frame->sample_rate <= 0) return false;

    if (outRate_ == 0) {
        // The first frame fixes what the channel delivers.
        outRate_ = frame->sample_rate;
        if (av_channel_layout_copy(&outLayout_.value, &inLayout.value) < 0) return false;
        const auto fmt = static_cast<AVSampleFormat>(frame->format);
        outFormat_ = (fmt == AV_SAMPLE_FMT_U8 || fmt == AV_SAMPLE_FMT_U8P) ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
        info.freq = static_cast<uint32_t>(outRate_);
        info.chans = static_cast<uint32_t>(outLayout_.value.nb_channels);
        info.flags = outFormat_ == AV_SAMPLE_FMT_U8 ? BASS_SAMPLE_8BITS : 0;
        info.ctype = BASS_CTYPE_STREAM;
        info.origres = static_cast<uint32_t>(codec_->bits_per_raw_sample > 0
                                                 ? codec_->bits_per_raw_sample
                                                 : av_get_bytes_per_sample(fmt) * 8);
    }
    if (swr_ && swrFormat_ == frame->format && swrRate_ == frame->sample_rate &&
        av_channel_layout_compare(&swrLayout_.value, &inLayout.value) == 0) {
        return true;
    }

    Flush();  // keep what the old set-up still holds
    SwrContext* raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &outLayout_.value, outFormat_, outRate_, &inLayout.value,
                            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr) < 0) {
        return false;
    }
    swr_.reset(raw);
    if (swr_init(swr_.get()) < 0) {
        swr_.reset();
        return false;
    }
    swrFormat_ = frame->format;
    swrRate_ = frame->sample_rate;
    av_channel_layout_uninit(&swrLayout_.value);
    return av_channel_layout_copy(&swrLayout_.value, &inLayout.value) >= 0;
}

bool FfmpegChannel::ConvertFrame(const AVFrame* frame) {
    if (frame->nb_samples <= 0) return true;
    if (!EnsureResampler(frame)) return false;
    const int room = swr_get_out_samples(swr_.get(), frame->nb_samples);
    if (room < 0) return false;

    if (pendingPos_ == pending_.size()) {
        pending_.clear();
        pendingPos_ = 0;
    }
    const size_t frameBytes = FrameBytes();
    const size_t before = pending_.size();
    pending_.resize(before + static_cast<size_t>(room) * frameBytes);
    uint8_t* out = pending_.data() + before;
    const int got = swr_convert(swr_.get(), &out, room, const_cast<const uint8_t**>(frame->extended_data),
                                frame->nb_samples);
    if (got < 0) {
        pending_.resize(before);
        return false;
    }
    pending_.resize(before + static_cast<size_t>(got) * frameBytes);
    return true;
}

// Takes what the resampler still holds (only a rate change leaves samples in it).
void FfmpegChannel::Flush() {
    if (!swr_) return;
    const int room = swr_get_out_samples(swr_.get(), 0);
    if (room <= 0) return;
    if (pendingPos_ == pending_.size()) {
        pending_.clear();
        pendingPos_ = 0;
    }
    const size_t frameBytes = FrameBytes();
    const size_t before = pending_.size();
    pending_.resize(before + static_cast<size_t>(room) * frameBytes);
    uint8_t* out = pending_.data() + before;
    const int got = swr_convert(swr_.get(), &out, room, nullptr, 0);
    pending_.resize(before + static_cast<size_t>(std::max(got, 0)) * frameBytes);
}

uint32_t FfmpegChannel::GetData(void* buffer, uint32_t bytes) {
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t written = 0;
    while (written < bytes) {
        if (pendingPos_ == pending_.size()) {
            pending_.clear();
            pendingPos_ = 0;
            if (!DecodeMore() && pending_.empty()) break;
            continue;
        }
        const size_t take = std::min<size_t>(bytes - written, pending_.size() - pendingPos_);
        std::memcpy(out + written, pending_.data() + pendingPos_, take);
        pendingPos_ += take;
        written += static_cast<uint32_t>(take);
    }
    return written == 0 ? kBassDataError : written;
}

uint64_t FfmpegChannel::FilePosition(uint32_t mode) {
    switch (mode) {
        case BASS_FILEPOS_START:
            if (isMp3_) return audioStart_;
            return firstPacketPos_ == kBassNoValue ? 0 : firstPacketPos_;
        case BASS_FILEPOS_END: return fileSize_;
        case BASS_FILEPOS_CURRENT: {
            const int64_t at = avio_tell(format_->pb);
            return at < 0 ? kBassNoValue : static_cast<uint64_t>(at);
        }
        default: return kBassNoValue;
    }
}

const char* FfmpegChannel::Tags(uint32_t kind) {
    if (!id3Read_) {
        id3_ = ReadId3Blocks(path);
        id3Read_ = true;
    }
    if (kind == BASS_TAG_ID3) return id3_.v1 ? id3_.v1->data() : nullptr;
    if (kind == BASS_TAG_ID3V2) return id3_.v2.empty() ? nullptr : id3_.v2.data();
    return nullptr;
}

TagFields FfmpegChannel::ReadTagFields() {
    TagFields fields = ReadFileTags(path);
    if (!fields.Empty()) return fields;
    // Formats TagLib does not read: the container's own metadata.
    const AVDictionary* sources[] = {format_->metadata, format_->streams[streamIndex_]->metadata};
    struct Key {
        const char* name;
        std::string TagFields::*field;
    };
    const Key keys[] = {
        {"track", &TagFields::track},     {"title", &TagFields::title},       {"artist", &TagFields::artist},
        {"album", &TagFields::album},     {"genre", &TagFields::genre},       {"date", &TagFields::year},
        {"comment", &TagFields::comment}, {"composer", &TagFields::composer}, {"copyright", &TagFields::copyright},
    };
    for (const Key& key : keys) {
        for (const AVDictionary* dict : sources) {
            const AVDictionaryEntry* entry = av_dict_get(dict, key.name, nullptr, 0);
            if (entry != nullptr && entry->value != nullptr && *entry->value != '\0') {
                fields.*(key.field) = entry->value;
                break;
            }
        }
    }
    return fields;
}

}  // namespace

std::unique_ptr<Channel> OpenFfmpegChannel(const std::string& path) {
    auto channel = std::make_unique<FfmpegChannel>();
    if (!channel->Open(path)) return nullptr;
    return channel;
}

}  // namespace pelloran::bass
