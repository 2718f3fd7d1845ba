#include "decode/FfmpegDecoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "decode/Readers.h"
#include "platform/ffmpeg_input.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace pelloran {

namespace {

// Audio packets in a row that may yield no audio before the stream counts as undecodable.
constexpr int kMaxPacketsWithoutAudio = 1000;
// Packets of other streams in a row before the reader gives up (an audio track that never continues).
constexpr int kMaxForeignPackets = 1 << 20;
// Largest output of one conversion step, in frames; a decoded block never comes near it.
constexpr int64_t kMaxConvertFrames = 1 << 21;
constexpr int kMaxSampleRate = 1000000;

struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

// An AVChannelLayout that releases itself.
struct Layout {
    AVChannelLayout v{};
    Layout() = default;
    ~Layout() { av_channel_layout_uninit(&v); }
    Layout(const Layout&) = delete;
    Layout& operator=(const Layout&) = delete;
};

// Opens a local, self-contained media file and reads its stream properties; null on any failure.
MediaInput OpenContainer(const std::string& path) {
    MediaInput context = OpenLocalMedia(path, DemuxerSet::Media);
    if (!context || avformat_find_stream_info(context.get(), nullptr) < 0) return {};
    return context;
}

int FirstStream(const AVFormatContext* context, AVMediaType type) {
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        if (stream->codecpar->codec_type != type) continue;
        // Cover art shows up as a one-picture video stream; it is not the video.
        if (type == AVMEDIA_TYPE_VIDEO && (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        return static_cast<int>(i);
    }
    return -1;
}

int DurationSeconds(const AVFormatContext* context) {
    if (context->duration == AV_NOPTS_VALUE || context->duration <= 0) return 0;
    return static_cast<int>(std::min<int64_t>(context->duration / AV_TIME_BASE, INT32_MAX));
}

int BitrateKbps(int64_t bitsPerSecond) {
    if (bitsPerSecond <= 0) return 0;
    return static_cast<int>(std::min<int64_t>(bitsPerSecond / 1000, INT32_MAX));
}

bool IsEightBit(int sampleFormat) {
    return sampleFormat == AV_SAMPLE_FMT_U8 || sampleFormat == AV_SAMPLE_FMT_U8P;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// SampleAdapter

struct SampleAdapter::State {
    int outRate = 0;
    int outChannels = 0;
    bool eightBit = false;
    SwrPtr swr;
    // The input set-up the resampler was built for.
    int inFormat = AV_SAMPLE_FMT_NONE;
    int inRate = 0;
    Layout inLayout;
    std::vector<uint8_t> pending;  // packed output samples
    size_t consumedFrames = 0;

    size_t FrameBytes() const { return static_cast<size_t>(outChannels) * (eightBit ? 1 : 2); }
    size_t TotalFrames() const { return FrameBytes() == 0 ? 0 : pending.size() / FrameBytes(); }

    void Compact() {
        if (consumedFrames == 0) return;
        pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(consumedFrames * FrameBytes()));
        consumedFrames = 0;
    }

    // Runs the resampler into the pending buffer; room is the most frames it may produce.
    bool Convert(const uint8_t** in, int inFrames, int64_t room) {
        if (room <= 0) return true;
        if (room > kMaxConvertFrames) return false;
        Compact();
        const size_t old = pending.size();
        pending.resize(old + static_cast<size_t>(room) * FrameBytes());
        uint8_t* out = pending.data() + old;
        const int made = swr_convert(swr.get(), &out, static_cast<int>(room), in, inFrames);
        pending.resize(old + static_cast<size_t>(std::max(made, 0)) * FrameBytes());
        return made >= 0;
    }

    bool Configure(int format, const AVChannelLayout& layout, int rate) {
        swr.reset();
        av_channel_layout_uninit(&inLayout.v);
        inFormat = AV_SAMPLE_FMT_NONE;
        inRate = 0;

        const int n = layout.nb_channels;
        Layout in;
        // One or two channels are taken as they come; larger layouts keep their meaning when the library
        // knows it, else the usual layout for that count stands in.
        if (n > 2 && layout.order == AV_CHANNEL_ORDER_NATIVE) {
            if (av_channel_layout_copy(&in.v, &layout) < 0) return false;
        } else {
            av_channel_layout_default(&in.v, n);
        }
        Layout out;
        av_channel_layout_default(&out.v, outChannels);

        SwrContext* raw = nullptr;
        if (swr_alloc_set_opts2(&raw, &out.v, eightBit ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16, outRate, &in.v,
                                static_cast<AVSampleFormat>(format), rate, 0, nullptr) < 0)
            return false;
        SwrPtr context(raw);

        // Plain matrices where the library's mixing rules do not fit: mono spread to both sides at full
        // level, a pair averaged into mono, and the first two channels of a layout without known meaning.
        if (n != outChannels && (n <= 2 || in.v.order != AV_CHANNEL_ORDER_NATIVE)) {
            std::vector<double> matrix(static_cast<size_t>(outChannels) * n, 0.0);
            if (outChannels == 1) {
                const int used = std::min(n, 2);
                for (int i = 0; i < used; ++i) matrix[i] = 1.0 / used;
            } else {
                matrix[0] = 1.0;
                matrix[static_cast<size_t>(n) + (n > 1 ? 1 : 0)] = 1.0;
            }
            if (swr_set_matrix(context.get(), matrix.data(), n) < 0) return false;
        }
        if (swr_init(context.get()) < 0) return false;

        if (av_channel_layout_copy(&inLayout.v, &layout) < 0) return false;
        swr = std::move(context);
        inFormat = format;
        inRate = rate;
        return true;
    }
};

SampleAdapter::SampleAdapter() : s_(std::make_unique<State>()) {}
SampleAdapter::~SampleAdapter() = default;

bool SampleAdapter::Setup(int outRate, int outChannels, bool eightBit) {
    Reset();
    if (outRate <= 0 || outRate > kMaxSampleRate || outChannels < 1 || outChannels > 2) return false;
    s_->outRate = outRate;
    s_->outChannels = outChannels;
    s_->eightBit = eightBit;
    return true;
}

void SampleAdapter::Reset() {
    s_->swr.reset();
    av_channel_layout_uninit(&s_->inLayout.v);
    s_->inFormat = AV_SAMPLE_FMT_NONE;
    s_->inRate = 0;
    s_->pending.clear();
    s_->consumedFrames = 0;
    s_->outRate = 0;
    s_->outChannels = 0;
}

bool SampleAdapter::Push(const uint8_t* const* data, int frames, int sampleFormat, const AVChannelLayout& layout,
                         int rate) {
    State& s = *s_;
    if (s.outChannels == 0 || data == nullptr || frames <= 0) return false;
    if (rate <= 0 || rate > kMaxSampleRate || layout.nb_channels <= 0) return false;
    if (sampleFormat <= AV_SAMPLE_FMT_NONE || sampleFormat >= AV_SAMPLE_FMT_NB) return false;
    if (!s.swr || sampleFormat != s.inFormat || rate != s.inRate ||
        av_channel_layout_compare(&layout, &s.inLayout.v) != 0) {
        Drain();  // what the old set-up still holds comes first
        if (!s.Configure(sampleFormat, layout, rate)) return false;
    }
    const int room = swr_get_out_samples(s.swr.get(), frames);
    if (room < 0) return false;
    return s.Convert(const_cast<const uint8_t**>(data), frames, room);
}

void SampleAdapter::Drain() {
    State& s = *s_;
    if (!s.swr) return;
    const int room = swr_get_out_samples(s.swr.get(), 0);
    if (room > 0) s.Convert(nullptr, 0, room);
}

int SampleAdapter::PendingFrames() const {
    return static_cast<int>(s_->TotalFrames() - s_->consumedFrames);
}

int SampleAdapter::Deliver(void* left, void* right, int done, int maxFrames) {
    State& s = *s_;
    const int n = std::min(PendingFrames(), maxFrames - done);
    if (n <= 0) return done;
    const size_t frameBytes = s.FrameBytes();
    const uint8_t* src = s.pending.data() + s.consumedFrames * frameBytes;
    if (s.eightBit) {
        uint8_t* l = static_cast<uint8_t*>(left) + done;
        uint8_t* r = s.outChannels == 2 ? static_cast<uint8_t*>(right) + done : nullptr;
        for (int i = 0; i < n; ++i) {
            l[i] = src[i * frameBytes];
            if (r) r[i] = src[i * frameBytes + 1];
        }
    } else {
        int16_t* l = static_cast<int16_t*>(left) + done;
        int16_t* r = s.outChannels == 2 ? static_cast<int16_t*>(right) + done : nullptr;
        for (int i = 0; i < n; ++i) {
            std::memcpy(&l[i], src + i * frameBytes, 2);
            if (r) std::memcpy(&r[i], src + i * frameBytes + 2, 2);
        }
    }
    s.consumedFrames += static_cast<size_t>(n);
    if (s.consumedFrames * frameBytes >= s.pending.size()) {
        s.pending.clear();
        s.consumedFrames = 0;
    }
    return done + n;
}

// ---------------------------------------------------------------------------------------------------------------
// FfmpegDecoder

struct FfmpegDecoder::State {
    MediaInput formatContext;
    CodecPtr codec;
    PacketPtr packet;
    FramePtr frame;
    int audioStream = -1;
    SampleAdapter adapter;
    bool demuxEnded = false;    // the container has no more packets
    bool flushSent = false;     // the decoder was told that input ended
    bool decoderEnded = false;  // nothing more will come
    int packetsWithoutAudio = 0;
    StreamEndWatch endWatch;

    void Reset() {
        frame.reset();
        packet.reset();
        codec.reset();
        formatContext.reset();
        audioStream = -1;
        adapter.Reset();
        demuxEnded = flushSent = decoderEnded = false;
        packetsWithoutAudio = 0;
        endWatch = StreamEndWatch{};
    }

    int64_t ReaderOffset() const {
        AVIOContext* pb = formatContext ? formatContext->pb : nullptr;
        return pb ? std::max<int64_t>(avio_tell(pb), 0) : 0;
    }

    // Next packet of the audio stream into packet; false at the end of the container or on a read error.
    bool NextAudioPacket() {
        for (int foreign = 0; foreign < kMaxForeignPackets; ++foreign) {
            const int r = av_read_frame(formatContext.get(), packet.get());
            if (r == AVERROR(EAGAIN)) continue;
            if (r < 0) {
                endWatch.OnReadEnd(r);
                return false;
            }
            if (packet->stream_index == audioStream) {
                endWatch.OnPacket(*packet);
                return true;
            }
            av_packet_unref(packet.get());
        }
        return false;
    }
};

FfmpegDecoder::FfmpegDecoder() : s_(std::make_unique<State>()) {}

FfmpegDecoder::~FfmpegDecoder() { Close(); }

void FfmpegDecoder::Close() {
    s_->Reset();
    ResetState();
}

int FfmpegDecoder::Open(const std::string& path, int rate) {
    (void)rate;
    Close();
    MediaInput context = OpenContainer(path);
    if (!context) return 0;
    const int index = FirstStream(context.get(), AVMEDIA_TYPE_AUDIO);
    if (index < 0) return 0;
    const AVStream* stream = context->streams[index];

    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (decoder == nullptr) return 0;
    CodecPtr codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) return 0;
    codec->pkt_timebase = stream->time_base;
    codec->thread_count = 1;  // files already convert in parallel
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return 0;

    const int sourceRate = codec->sample_rate > 0 ? codec->sample_rate : stream->codecpar->sample_rate;
    const int sourceChannels =
        codec->ch_layout.nb_channels > 0 ? codec->ch_layout.nb_channels : stream->codecpar->ch_layout.nb_channels;
    if (sourceRate <= 0 || sourceChannels <= 0) return 0;
    const int format = codec->sample_fmt != AV_SAMPLE_FMT_NONE ? codec->sample_fmt : stream->codecpar->format;
    const bool eightBit = IsEightBit(format);
    const int delivered = sourceChannels > 1 ? 2 : 1;

    // Packets of the other streams need not even be read.
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        if (static_cast<int>(i) != index) context->streams[i]->discard = AVDISCARD_ALL;
    }

    State& s = *s_;
    if (!s.adapter.Setup(sourceRate, delivered, eightBit)) return 0;
    s.endWatch.Start(*context, index, path);
    s.packet.reset(av_packet_alloc());
    s.frame.reset(av_frame_alloc());
    if (!s.packet || !s.frame) return 0;
    s.formatContext = std::move(context);
    s.codec = std::move(codec);
    s.audioStream = index;

    // A stream that yields no audio at all is refused here rather than delivered as an empty file.
    if (!DecodeMore()) {
        Close();
        return 0;
    }

    AVIOContext* pb = s.formatContext->pb;
    length = pb ? static_cast<uint64_t>(std::max<int64_t>(avio_size(pb), 0)) : 0;
    position = static_cast<uint64_t>(s.ReaderOffset());
    sampleRate = sourceRate;
    durationSeconds = DurationSeconds(s.formatContext.get());
    bitrateKbps = BitrateKbps(s.codec->bit_rate);
    channels = sourceChannels;
    outputChannels = delivered;
    channelMode = sourceChannels == 1 ? 3 : 0;
    bitsPerSample = eightBit ? 8 : 16;
    bytesPerSample = bitsPerSample / 8;
    return 1;
}

bool FfmpegDecoder::DecodeMore() {
    State& s = *s_;
    while (!s.decoderEnded) {
        const int received = avcodec_receive_frame(s.codec.get(), s.frame.get());
        if (received == 0) {
            const AVFrame* f = s.frame.get();
            const bool converted = f->nb_samples > 0 &&
                                   s.adapter.Push(f->extended_data, f->nb_samples, f->format, f->ch_layout,
                                                  f->sample_rate);
            av_frame_unref(s.frame.get());
            if (converted) s.packetsWithoutAudio = 0;
            if (s.adapter.PendingFrames() > 0) return true;
            continue;
        }
        // EAGAIN wants input; any other error has lost the rest of its packet and decoding goes on.
        if (received == AVERROR_EOF || (s.demuxEnded && s.flushSent)) {
            s.decoderEnded = true;
            s.adapter.Drain();
            break;
        }
        if (s.demuxEnded) {
            avcodec_send_packet(s.codec.get(), nullptr);  // let the decoder hand out what it holds
            s.flushSent = true;
            continue;
        }
        if (!s.NextAudioPacket()) {
            s.demuxEnded = true;
            continue;
        }
        if (++s.packetsWithoutAudio > kMaxPacketsWithoutAudio) {
            av_packet_unref(s.packet.get());
            s.decoderEnded = true;
            break;
        }
        avcodec_send_packet(s.codec.get(), s.packet.get());  // a refused packet is simply lost
        av_packet_unref(s.packet.get());
    }
    return s.adapter.PendingFrames() > 0;
}

int FfmpegDecoder::Read(void* left, void* right) {
    State& s = *s_;
    if (!s.formatContext) return 0;
    int done = 0;
    while (done < kBlockFrames) {
        if (s.adapter.PendingFrames() > 0) {
            done = s.adapter.Deliver(left, right, done, kBlockFrames);
        } else if (!DecodeMore()) {
            break;
        }
    }
    position = static_cast<uint64_t>(s.ReaderOffset());
    return done;
}

bool FfmpegDecoder::IsTruncated() const { return s_->formatContext && s_->endWatch.Truncated(); }

int FfmpegDecoder::ReadTags(TagRecord& tags) {
    const State& s = *s_;
    if (!s.formatContext) return 0;
    const AVDictionary* containerTags = s.formatContext->metadata;
    const AVDictionary* streamTags = s.formatContext->streams[s.audioStream]->metadata;

    // The container's value, else the audio stream's (Ogg and some others keep the comments there).
    auto text = [&](const char* key) -> std::string {
        for (const AVDictionary* dict : {containerTags, streamTags}) {
            const AVDictionaryEntry* entry = av_dict_get(dict, key, nullptr, 0);
            if (entry == nullptr || entry->value == nullptr || entry->value[0] == '\0') continue;
            std::string converted;
            if (Utf8ToConsoleCodePage(entry->value, converted)) return converted;
        }
        return {};
    };
    auto number = [&](const char* key, const char* alternative) -> std::string {
        std::string value = text(key);
        if (value.empty() && alternative) value = text(alternative);
        const int n = TrackNumber(value);
        return n > 0 ? std::to_string(n) : std::string();
    };

    TagRecord found;
    found.Title = text("title");
    found.Artist = text("artist");
    if (found.Artist.empty()) found.Artist = text("author");
    found.Album = text("album");
    found.Year = number("date", "year");
    found.Genre = text("genre");
    found.Comment = text("comment");
    found.Track = number("track", nullptr);
    found.Copyright = text("copyright");
    if (found.Empty()) return 0;
    tags = std::move(found);
    return 1;
}

// ---------------------------------------------------------------------------------------------------------------
// FfmpegProbe

struct FfmpegProbe::State {
    MediaInput formatContext;
    int audioStream = -1;
};

FfmpegProbe::FfmpegProbe() : s_(std::make_unique<State>()) {}

FfmpegProbe::~FfmpegProbe() { Close(); }

void FfmpegProbe::Close() {
    s_->formatContext.reset();
    s_->audioStream = -1;
    ResetState();
}

int FfmpegProbe::Open(const std::string& path, int rate) {
    (void)rate;
    Close();
    MediaInput context = OpenContainer(path);
    if (!context) return 0;

    const int audio = FirstStream(context.get(), AVMEDIA_TYPE_AUDIO);
    if (audio >= 0) {
        const AVCodecParameters* p = context->streams[audio]->codecpar;
        sampleRate = std::max(p->sample_rate, 0);
        bitrateKbps = BitrateKbps(p->bit_rate);
        channels = std::max(p->ch_layout.nb_channels, 0);
        if (channels > 0) {
            outputChannels = channels > 1 ? 2 : 1;
            channelMode = channels == 1 ? 3 : 0;
        }
        bitsPerSample = IsEightBit(p->format) ? 8 : 16;
        bytesPerSample = bitsPerSample / 8;
    }
    const int video = FirstStream(context.get(), AVMEDIA_TYPE_VIDEO);
    if (video >= 0) {
        const AVStream* stream = context->streams[video];
        if (stream->r_frame_rate.den > 0 && stream->r_frame_rate.num > 0)
            frameRate = static_cast<double>(stream->r_frame_rate.num) / stream->r_frame_rate.den;
        videoWidth = std::max(stream->codecpar->width, 0);
        videoHeight = std::max(stream->codecpar->height, 0);
    }
    durationSeconds = DurationSeconds(context.get());
    s_->formatContext = std::move(context);
    s_->audioStream = audio;
    return 1;
}

int FfmpegProbe::Read(void* left, void* right) {
    (void)left;
    (void)right;
    return 0;
}

std::unique_ptr<AudioDecoder> MakeFfmpegDecoder() { return std::make_unique<FfmpegDecoder>(); }
std::unique_ptr<AudioDecoder> MakeFfmpegProbe() { return std::make_unique<FfmpegProbe>(); }

}  // namespace pelloran
