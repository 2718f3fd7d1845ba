#include "platform/mp4_write.h"

#include <cstring>
#include <memory>

#include "platform/ffmpeg_log.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace pelloran {

namespace {

struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c->pb != nullptr) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// Reads bits of a byte string, most significant first; past the end every read fails.
class BitReader {
public:
    BitReader(const uint8_t* data, uint32_t size) : data_(data), bits_(static_cast<uint64_t>(size) * 8) {}
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

class Mp4WriteFile : public Mp4File {
public:
    explicit Mp4WriteFile(std::unique_ptr<AVFormatContext, OutputCloser> output) : context(std::move(output)) {}
    ~Mp4WriteFile() override = default;

    bool Finish() override;

    std::unique_ptr<AVFormatContext, OutputCloser> context;
    uint32_t movieTimeScale = 1000;
    int audioProfile = -1;
    AVStream* stream = nullptr;
    uint32_t trackTimeScale = 0;
    bool configured = false;  // the ES configuration is known
    bool headerWritten = false;
    bool failed = false;
    bool started = false;     // the first sample was written
    uint64_t cursor = 0;      // decoding time of the next sample, in track units
    uint64_t delay = 0;       // the first sample's rendering offset

    bool WriteHeader();
    bool SetText(const char* key, const char* value);
};

bool Mp4WriteFile::WriteHeader() {
    if (headerWritten) return !failed;
    headerWritten = true;
    if (stream == nullptr || !configured) {
        failed = true;
        return false;
    }
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "movie_timescale", movieTimeScale, 0);
    if (audioProfile >= 0) {
        av_dict_set_int(&options, "skip_iods", 0, 0);
        av_dict_set_int(&options, "iods_audio_profile", audioProfile, 0);
    }
    const int written = avformat_write_header(context.get(), &options);
    av_dict_free(&options);
    if (written < 0) failed = true;
    return !failed;
}

bool Mp4WriteFile::SetText(const char* key, const char* value) {
    if (value == nullptr || failed) return false;
    return av_dict_set(&context->metadata, key, value, 0) >= 0;
}

bool Mp4WriteFile::Finish() {
    if (!context) return false;
    bool ok = WriteHeader();
    if (ok) ok = av_write_trailer(context.get()) >= 0;
    if (context->pb != nullptr) {
        avio_flush(context->pb);
        if (context->pb->error < 0) ok = false;
        if (avio_closep(&context->pb) < 0) ok = false;
    }
    context.reset();
    return ok && !failed;
}

Mp4WriteFile* AsWriter(MP4FileHandle file) { return dynamic_cast<Mp4WriteFile*>(file); }

}  // namespace

int AudioSpecificConfigChannels(const uint8_t* config, uint32_t size) {
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

MP4FileHandle MP4CreateExx(const std::string& path) {
    QuietFfmpegLog();
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "ipod", nullptr) < 0 || raw == nullptr) return nullptr;
    std::unique_ptr<AVFormatContext, OutputCloser> context(raw);
    // "file:" keeps a name such as "http:x" from being taken as a protocol.
    const std::string url = "file:" + path;
    if (avio_open(&context->pb, url.c_str(), AVIO_FLAG_WRITE) < 0) return nullptr;
    return new Mp4WriteFile(std::move(context));
}

bool MP4SetTimeScaleExx(MP4FileHandle file, uint32_t timeScale) {
    Mp4WriteFile* f = AsWriter(file);
    if (f == nullptr || f->headerWritten || timeScale == 0 || timeScale > INT32_MAX) return false;
    f->movieTimeScale = timeScale;
    return true;
}

MP4TrackId MP4AddAudioTrackExx(MP4FileHandle file, uint32_t timeScale, uint64_t, uint8_t audioType) {
    Mp4WriteFile* f = AsWriter(file);
    if (f == nullptr || f->stream != nullptr || f->headerWritten || audioType != MP4_MPEG4_AUDIO_TYPE ||
        timeScale == 0 || timeScale > INT32_MAX)
        return MP4_INVALID_TRACK_ID;
    AVStream* stream = avformat_new_stream(f->context.get(), nullptr);
    if (stream == nullptr) return MP4_INVALID_TRACK_ID;
    stream->time_base = AVRational{1, static_cast<int>(timeScale)};
    stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    stream->codecpar->codec_id = AV_CODEC_ID_AAC;
    stream->codecpar->sample_rate = static_cast<int>(timeScale);
    stream->codecpar->frame_size = 1024;
    f->stream = stream;
    f->trackTimeScale = timeScale;
    return 1;
}

bool MP4SetAudioProfileLevelExx(MP4FileHandle file, uint8_t level) {
    Mp4WriteFile* f = AsWriter(file);
    if (f == nullptr || f->headerWritten) return false;
    f->audioProfile = level;
    return true;
}

bool MP4SetTrackESConfigurationExx(MP4FileHandle file, MP4TrackId track, const uint8_t* config, uint32_t size) {
    Mp4WriteFile* f = AsWriter(file);
    if (f == nullptr || f->stream == nullptr || track != 1 || f->headerWritten) return false;
    const int channels = AudioSpecificConfigChannels(config, size);
    if (channels == 0 || size > 64) return false;
    AVCodecParameters* par = f->stream->codecpar;
    av_freep(&par->extradata);
    par->extradata_size = 0;
    par->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (par->extradata == nullptr) return false;
    std::memcpy(par->extradata, config, size);
    par->extradata_size = static_cast<int>(size);
    av_channel_layout_uninit(&par->ch_layout);
    av_channel_layout_default(&par->ch_layout, channels);
    f->configured = true;
    return true;
}

bool MP4WriteSampleExx(MP4FileHandle file, MP4TrackId track, const uint8_t* bytes, uint32_t size, uint64_t duration,
                       uint64_t renderingOffset, bool isSyncSample) {
    Mp4WriteFile* f = AsWriter(file);
    if (f == nullptr || track != 1 || bytes == nullptr || size == 0 || size > (1u << 24)) return false;
    if (!f->WriteHeader()) return false;
    if (!f->started) {
        f->started = true;
        f->delay = renderingOffset;
    } else if (renderingOffset != 0) {
        return false;
    }
    if (duration > INT32_MAX || f->delay > INT32_MAX) return false;
    // A sample of no duration lies wholly past the end of the presented audio.
    if (duration == 0) return true;

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    if (!packet || av_new_packet(packet.get(), static_cast<int>(size)) < 0) return false;
    std::memcpy(packet->data, bytes, size);
    const int64_t time = static_cast<int64_t>(f->cursor) - static_cast<int64_t>(f->delay);
    packet->pts = time;
    packet->dts = time;
    packet->duration = static_cast<int64_t>(duration);
    packet->stream_index = f->stream->index;
    if (isSyncSample) packet->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(packet.get(), AVRational{1, static_cast<int>(f->trackTimeScale)}, f->stream->time_base);
    if (av_write_frame(f->context.get(), packet.get()) < 0 || f->context->pb->error < 0) {
        f->failed = true;
        return false;
    }
    f->cursor += duration;
    return true;
}

bool MP4SetMetadataNameExx(MP4FileHandle file, const char* value) {
    Mp4WriteFile* f = AsWriter(file);
    return f != nullptr && f->SetText("title", value);
}

bool MP4SetMetadataArtistExx(MP4FileHandle file, const char* value) {
    Mp4WriteFile* f = AsWriter(file);
    return f != nullptr && f->SetText("artist", value);
}

bool MP4SetMetadataAlbumExx(MP4FileHandle file, const char* value) {
    Mp4WriteFile* f = AsWriter(file);
    return f != nullptr && f->SetText("album", value);
}

bool MP4SetMetadataYearExx(MP4FileHandle file, const char* value) {
    Mp4WriteFile* f = AsWriter(file);
    return f != nullptr && f->SetText("date", value);
}

bool MP4SetMetadataGenreExx(MP4FileHandle file, const char* value) {
    Mp4WriteFile* f = AsWriter(file);
    return f != nullptr && f->SetText("genre", value);
}

bool MP4SetMetadataCommentExx(MP4FileHandle file, const char* value) {
    Mp4WriteFile* f = AsWriter(file);
    return f != nullptr && f->SetText("comment", value);
}

bool MP4SetMetadataWriterExx(MP4FileHandle file, const char* value) {
    Mp4WriteFile* f = AsWriter(file);
    return f != nullptr && f->SetText("composer", value);
}

bool MP4SetMetadataTrackExx(MP4FileHandle file, uint16_t track, uint16_t total) {
    Mp4WriteFile* f = AsWriter(file);
    if (f == nullptr || track == 0) return false;
    const std::string text = total == 0 ? std::to_string(track) : std::to_string(track) + "/" + std::to_string(total);
    return f->SetText("track", text.c_str());
}

}  // namespace pelloran
