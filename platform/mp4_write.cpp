#include "platform/mp4_write.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/FfmpegHandles.h"
#include "platform/mp4_tags.h"

#include "platform/FfmpegApi.h"

namespace pelloran {

namespace {

constexpr int kMovieTimeScale = 90000;
constexpr int kAudioProfileLevel = 0x0F;
constexpr size_t kMaxConfigBytes = 64;
constexpr size_t kMaxFrameBytes = 1u << 24;
// AVERROR(e) of an errno e is -e; the library's own codes are four-letter tags, far below.
constexpr int kMaxErrno = 4095;


// Reads bits of a byte string, most significant first; past the end every read fails.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), bits_(static_cast<uint64_t>(size) * 8) {}
    bool Read(int count, uint32_t& value) {
        if (pos_ + static_cast<uint64_t>(count) > bits_) return false;
        value = 0;
        for (int i = 0; i < count; ++i, ++pos_) value = (value << 1) | ((data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u);
        return true;
    }

private:
    const uint8_t* data_;
    uint64_t bits_;
    uint64_t pos_ = 0;
};

}  // namespace

int AudioSpecificConfigChannels(const uint8_t* config, size_t size) {
    if (config == nullptr || size < 2) return 0;
    BitReader bits(config, size);
    uint32_t objectType = 0, rateIndex = 0, channels = 0, skipped = 0;
    if (!bits.Read(5, objectType)) return 0;
    if (objectType == 31 && !bits.Read(6, skipped)) return 0;
    if (!bits.Read(4, rateIndex)) return 0;
    if (rateIndex == 15 && !bits.Read(24, skipped)) return 0;
    if (!bits.Read(4, channels)) return 0;
    return channels >= 1 && channels <= 7 ? static_cast<int>(channels == 7 ? 8 : channels) : 0;
}

struct Mp4AudioFile::State {
    std::unique_ptr<AVFormatContext, OutputCloser> context;
    AVStream* stream = nullptr;
    int rate = 0;
    bool headerWritten = false;
    bool started = false;  // the first frame was written
    bool failed = false;
    int error = 0;         // the AVERROR of the failed call
    uint64_t cursor = 0;   // decoding time of the next frame, in samples
    uint64_t delay = 0;    // the first frame's rendering offset
    uint64_t frames = 0;   // frames written
    std::string path;
    TagRecord tags;        // stored by TagLib once the file is complete

    bool WriteHeader();
};

Mp4AudioFile::Mp4AudioFile() = default;
Mp4AudioFile::~Mp4AudioFile() = default;

void Mp4AudioFile::Close() { s_.reset(); }

bool Mp4AudioFile::Failed(int averror) {
    if (systemError_ != 0 || !errorText_.empty()) return false;
    if (averror < 0 && -averror <= kMaxErrno) {
        systemError_ = -averror;
    } else if (averror < 0) {
        char text[128] = {};
        if (av_strerror(averror, text, sizeof text) == 0) errorText_ = text;
    }
    return false;
}

bool Mp4AudioFile::Create(const std::string& path, int rate, const std::vector<uint8_t>& config) {
    s_.reset();
    systemError_ = 0;
    errorText_.clear();
    const int channels = AudioSpecificConfigChannels(config.data(), config.size());
    if (rate <= 0 || channels == 0 || config.size() > kMaxConfigBytes) return false;
    return Open(path, AV_CODEC_ID_AAC, rate, channels, 1024, config);
}

bool Mp4AudioFile::CreateAlac(const std::string& path, int rate, int channels, int bits, int frameLength,
                              const std::vector<uint8_t>& cookie) {
    s_.reset();
    systemError_ = 0;
    errorText_.clear();
    if (rate <= 0 || channels < 1 || channels > 8 || frameLength <= 0 || cookie.size() > kMaxConfigBytes)
        return false;
    if (!Open(path, AV_CODEC_ID_ALAC, rate, channels, frameLength, cookie)) return false;
    s_->stream->codecpar->bits_per_raw_sample = bits;
    return true;
}

bool Mp4AudioFile::Open(const std::string& path, int codecId, int rate, int channels, int frameLength,
                        const std::vector<uint8_t>& config) {
    if (!ffmpeg::Load()) return false;
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "ipod", nullptr) < 0 || raw == nullptr) return false;
    auto s = std::make_unique<State>();
    s->context.reset(raw);
    s->stream = avformat_new_stream(raw, nullptr);
    if (s->stream == nullptr) return false;
    s->stream->time_base = AVRational{1, rate};
    AVCodecParameters* par = s->stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = static_cast<AVCodecID>(codecId);
    par->sample_rate = rate;
    par->frame_size = frameLength;
    par->extradata = static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (par->extradata == nullptr) return false;
    std::memcpy(par->extradata, config.data(), config.size());
    par->extradata_size = static_cast<int>(config.size());
    av_channel_layout_default(&par->ch_layout, channels);
    // "file:" keeps a name such as "http:x" from being taken as a protocol.
    const std::string url = "file:" + path;
    const int opened = avio_open(&raw->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (opened < 0) return Failed(opened);
    s->rate = rate;
    s->path = path;
    s_ = std::move(s);
    return true;
}

bool Mp4AudioFile::State::WriteHeader() {
    if (headerWritten) return !failed;
    headerWritten = true;
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "movie_timescale", kMovieTimeScale, 0);
    av_dict_set_int(&options, "skip_iods", 0, 0);
    av_dict_set_int(&options, "iods_audio_profile", kAudioProfileLevel, 0);
    const int written = avformat_write_header(context.get(), &options);
    av_dict_free(&options);
    if (written < 0) {
        failed = true;
        error = written;
    }
    return !failed;
}

void Mp4AudioFile::SetTags(const TagRecord& tags) {
    if (!s_ || s_->headerWritten) return;
    s_->tags = tags;
}

bool Mp4AudioFile::WriteFrame(const uint8_t* data, size_t size, uint64_t duration, uint64_t offset) {
    if (!s_ || data == nullptr || size == 0 || size > kMaxFrameBytes) return false;
    if (!s_->WriteHeader()) return Failed(s_->error);
    State& s = *s_;
    if (!s.started) {
        s.started = true;
        s.delay = offset;
    } else if (offset != 0) {
        return false;
    }
    if (duration > INT32_MAX || s.delay > INT32_MAX) return false;
    // A frame of no duration lies wholly past the end of the presented audio.
    if (duration == 0) return true;

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    if (!packet || av_new_packet(packet.get(), static_cast<int>(size)) < 0) return false;
    std::memcpy(packet->data, data, size);
    const int64_t time = static_cast<int64_t>(s.cursor) - static_cast<int64_t>(s.delay);
    packet->pts = time;
    packet->dts = time;
    packet->duration = static_cast<int64_t>(duration);
    packet->stream_index = s.stream->index;
    packet->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(packet.get(), AVRational{1, s.rate}, s.stream->time_base);
    const int written = av_write_frame(s.context.get(), packet.get());
    if (written < 0 || s.context->pb->error < 0) {
        s.failed = true;
        return Failed(s.context->pb->error < 0 ? s.context->pb->error : written);
    }
    s.cursor += duration;
    ++s.frames;
    return true;
}

bool Mp4AudioFile::Finish() {
    if (!s_) return false;
    State& s = *s_;
    bool ok = s.WriteHeader() || Failed(s.error);
    if (ok) {
        const int trailer = av_write_trailer(s.context.get());
        const bool ioError = s.context->pb != nullptr && s.context->pb->error < 0;
        ok = trailer >= 0 || Failed(ioError ? s.context->pb->error : trailer);
    }
    if (s.context->pb != nullptr) {
        avio_flush(s.context->pb);
        if (s.context->pb->error < 0) ok = Failed(s.context->pb->error);
        const int closed = avio_closep(&s.context->pb);
        if (closed < 0) ok = Failed(closed);
    }
    ok = ok && !s.failed;
    // Tags, pictures and the encoder delay and padding for players that read them (iTunSMPB).
    Mp4Gapless gapless;
    if (s.delay > 0 && s.cursor >= s.delay) {
        const uint64_t frameLength = static_cast<uint64_t>(s.stream->codecpar->frame_size);
        gapless = {s.delay, s.frames * frameLength > s.cursor ? s.frames * frameLength - s.cursor : 0,
                   s.cursor - s.delay};
    }
    if (ok && (!s.tags.Empty() || gapless.delay > 0)) {
        errno = 0;
        ok = WriteMp4Tags(s.path, s.tags, gapless);
        if (!ok && errno != 0) systemError_ = errno;
    }
    s_.reset();
    return ok;
}

}  // namespace pelloran
