#include "platform/FfmpegSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <climits>

#include "platform/File.h"
#include "platform/SampleAdapter.h"
#include "platform/TagReader.h"

namespace pelloran {

namespace {

// Audio packets in a row that may yield no audio before the stream counts as ended (or, at the start, as
// undecodable).
constexpr int kMaxPacketsWithoutAudio = 1000;
// Packets of other streams in a row before the source gives up (an audio track that never continues).
constexpr int kMaxForeignPackets = 1 << 20;

struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

MediaInput OpenContainer(const File& file, const std::string& name, DemuxerSet set) {
    MediaInput input = OpenLocalMedia(file, name, set);
    if (!input || avformat_find_stream_info(input.get(), nullptr) < 0) return {};
    return input;
}

int FirstStream(const AVFormatContext& input, AVMediaType type) {
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        const AVStream* stream = input.streams[i];
        if (stream->codecpar->codec_type != type) continue;
        // Cover art shows up as a one-picture video stream; it is not the video.
        if (type == AVMEDIA_TYPE_VIDEO && (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        return static_cast<int>(i);
    }
    return -1;
}

int DurationSeconds(const AVFormatContext& input) {
    if (input.duration == AV_NOPTS_VALUE || input.duration <= 0) return 0;
    return static_cast<int>(std::min<int64_t>(input.duration / AV_TIME_BASE, INT32_MAX));
}

bool IsEightBit(int sampleFormat) { return sampleFormat == AV_SAMPLE_FMT_U8 || sampleFormat == AV_SAMPLE_FMT_U8P; }

// Frames at rate from the stream's duration, else the container's, else the file size at the codec's bit
// rate; 0 when none is known.
uint64_t EstimatedFrames(const AVFormatContext& input, const AVStream& stream, int64_t bitRate, int rate) {
    int64_t frames = 0;
    if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0) {
        frames = av_rescale_q(stream.duration, stream.time_base, AVRational{1, rate});
    } else if (input.duration != AV_NOPTS_VALUE && input.duration > 0) {
        frames = av_rescale(input.duration, rate, AV_TIME_BASE);
    } else if (const int64_t size = avio_size(input.pb); bitRate > 0 && size > 0) {
        frames = av_rescale(size, int64_t{8} * rate, bitRate);
    }
    return frames > 0 ? static_cast<uint64_t>(frames) : 0;
}

}  // namespace

struct FfmpegSource::State {
    const File* file = nullptr;
    std::string name;
    bool mix = false;
    MediaInput input;
    CodecPtr codec;
    PacketPtr packet;
    FramePtr frame;
    int stream = -1;
    int sourceChannels = 0;
    SampleAdapter adapter;
    StreamEndWatch endWatch;
    bool demuxEnded = false;    // the container has no more packets
    bool flushSent = false;     // the decoder was told that input ended
    bool decoderEnded = false;  // nothing more will come
    int packetsWithoutAudio = 0;

    // Next packet of the audio stream into packet; false at the end of the container or on a read error.
    bool NextAudioPacket() {
        for (int foreign = 0; foreign < kMaxForeignPackets; ++foreign) {
            const int r = av_read_frame(input.get(), packet.get());
            if (r == AVERROR(EAGAIN)) continue;
            if (r < 0) {
                endWatch.OnReadEnd(r);
                return false;
            }
            if (packet->stream_index == stream) {
                endWatch.OnPacket(*packet);
                return true;
            }
            av_packet_unref(packet.get());
        }
        return false;
    }

    // The first decoded block fixes what the source delivers.
    bool Convert(const AVFrame& f) {
        if (f.nb_samples <= 0) return false;
        if (adapter.Channels() == 0) {
            const bool eightBit = IsEightBit(f.format);
            const bool ready = mix ? adapter.Setup(f.sample_rate, std::min(f.ch_layout.nb_channels, 2), eightBit)
                                   : adapter.SetupLayout(f.sample_rate, f.ch_layout, eightBit);
            if (!ready) return false;
            sourceChannels = f.ch_layout.nb_channels;
        }
        return adapter.Push(f.extended_data, f.nb_samples, f.format, f.ch_layout, f.sample_rate);
    }

    // Decodes until new audio is pending; false at the end of the stream or when the stream stops yielding.
    bool DecodeMore() {
        while (!decoderEnded) {
            const int received = avcodec_receive_frame(codec.get(), frame.get());
            if (received == 0) {
                const bool converted = Convert(*frame);
                av_frame_unref(frame.get());
                if (converted) packetsWithoutAudio = 0;
                if (adapter.PendingFrames() > 0) return true;
                continue;
            }
            // EAGAIN wants input; any other error has lost the rest of its packet and decoding goes on.
            if (received == AVERROR_EOF || (demuxEnded && flushSent)) {
                decoderEnded = true;
                adapter.Drain();
                break;
            }
            if (demuxEnded) {
                avcodec_send_packet(codec.get(), nullptr);  // let the decoder hand out what it holds
                flushSent = true;
                continue;
            }
            if (!NextAudioPacket()) {
                demuxEnded = true;
                continue;
            }
            if (++packetsWithoutAudio > kMaxPacketsWithoutAudio) {
                av_packet_unref(packet.get());
                decoderEnded = true;
                break;
            }
            avcodec_send_packet(codec.get(), packet.get());  // a refused packet is simply lost
            av_packet_unref(packet.get());
        }
        return adapter.PendingFrames() > 0;
    }
};

FfmpegSource::FfmpegSource() : s_(std::make_unique<State>()) {}
FfmpegSource::~FfmpegSource() = default;

std::unique_ptr<FfmpegSource> FfmpegSource::Open(const File& file, const std::string& name, const Options& options) {
    std::unique_ptr<FfmpegSource> source(new FfmpegSource);
    State& s = *source->s_;
    s.file = &file;
    s.name = name;
    s.mix = options.mixToStereo;
    s.input = OpenContainer(file, name, options.demuxers);
    if (!s.input) return nullptr;
    AVFormatContext& input = *s.input;

    const AVCodec* decoder = nullptr;
    if (options.bestStream) {
        s.stream = av_find_best_stream(&input, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    } else {
        s.stream = FirstStream(input, AVMEDIA_TYPE_AUDIO);
        if (s.stream >= 0) decoder = avcodec_find_decoder(input.streams[s.stream]->codecpar->codec_id);
    }
    if (s.stream < 0 || decoder == nullptr) return nullptr;
    const AVStream& stream = *input.streams[s.stream];
    if (!TakesCodec(options.demuxers, input, stream.codecpar->codec_id)) return nullptr;
    // Packets of the other streams need not even be read.
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        if (static_cast<int>(i) != s.stream) input.streams[i]->discard = AVDISCARD_ALL;
    }

    s.codec.reset(avcodec_alloc_context3(decoder));
    if (!s.codec || avcodec_parameters_to_context(s.codec.get(), stream.codecpar) < 0) return nullptr;
    s.codec->pkt_timebase = stream.time_base;
    s.codec->thread_count = 1;  // files already convert in parallel
    if (avcodec_open2(s.codec.get(), decoder, nullptr) < 0) return nullptr;
    s.packet.reset(av_packet_alloc());
    s.frame.reset(av_frame_alloc());
    if (!s.packet || !s.frame) return nullptr;
    s.endWatch.Start(input, s.stream, file);

    // The first audio now: the output is known, and a stream that yields none is refused rather than
    // delivered as an empty file.
    if (!s.DecodeMore()) return nullptr;
    source->format_ = {s.adapter.Rate(), s.adapter.Channels(), s.adapter.EightBit() ? 8 : 16};
    source->lengthFrames_ = EstimatedFrames(input, stream, s.codec->bit_rate, s.adapter.Rate());
    return source;
}

std::optional<MediaProperties> FfmpegSource::Probe(const File& file, const std::string& name) {
    const MediaInput input = OpenContainer(file, name, DemuxerSet::Media);
    if (!input) return std::nullopt;
    MediaProperties properties;
    if (const int audio = FirstStream(*input, AVMEDIA_TYPE_AUDIO); audio >= 0) {
        const AVCodecParameters& p = *input->streams[audio]->codecpar;
        properties.audio = true;
        properties.sampleRate = std::max(p.sample_rate, 0);
        properties.channels = std::max(p.ch_layout.nb_channels, 0);
        properties.eightBit = IsEightBit(p.format);
        properties.bitRate = std::max<int64_t>(p.bit_rate, 0);
    }
    if (const int video = FirstStream(*input, AVMEDIA_TYPE_VIDEO); video >= 0) {
        const AVStream& stream = *input->streams[video];
        if (stream.r_frame_rate.den > 0 && stream.r_frame_rate.num > 0)
            properties.frameRate = static_cast<double>(stream.r_frame_rate.num) / stream.r_frame_rate.den;
        properties.videoWidth = std::max(stream.codecpar->width, 0);
        properties.videoHeight = std::max(stream.codecpar->height, 0);
    }
    properties.durationSeconds = DurationSeconds(*input);
    return properties;
}

size_t FfmpegSource::Read(void* out, size_t frames) {
    State& s = *s_;
    auto* at = static_cast<uint8_t*>(out);
    const size_t frameBytes = format_.FrameBytes();
    size_t done = 0;
    while (done < frames) {
        if (s.adapter.PendingFrames() > 0) {
            done += s.adapter.Take(at + done * frameBytes, frames - done);
        } else if (!s.DecodeMore()) {
            break;
        }
    }
    return done;
}

std::optional<uint64_t> FfmpegSource::FileBytes() const {
    const int64_t size = avio_size(s_->input->pb);
    if (size < 0) return std::nullopt;
    return static_cast<uint64_t>(size);
}

bool FfmpegSource::Truncated() const { return s_->endWatch.Truncated(); }

bool FfmpegSource::ReadTags(TagRecord& tags) {
    if (ReadTagLibTags(*s_->file, s_->name, tags)) return true;
    // Formats TagLib does not read: the container's own metadata.
    struct Key {
        const char* name;
        std::string TagRecord::*field;
    };
    static constexpr Key kKeys[] = {
        {"track", &TagRecord::Track},     {"title", &TagRecord::Title},       {"artist", &TagRecord::Artist},
        {"album", &TagRecord::Album},     {"genre", &TagRecord::Genre},       {"date", &TagRecord::Year},
        {"comment", &TagRecord::Comment}, {"composer", &TagRecord::Composer}, {"copyright", &TagRecord::Copyright},
    };
    TagRecord found;
    for (const Key& key : kKeys) found.*(key.field) = Metadata(key.name);
    if (found.Empty()) return false;
    tags = std::move(found);
    return true;
}

int FfmpegSource::SourceChannels() const { return s_->sourceChannels; }

uint64_t FfmpegSource::InputOffset() const {
    const int64_t at = avio_tell(s_->input->pb);
    return at > 0 ? static_cast<uint64_t>(at) : 0;
}

int FfmpegSource::ContainerSeconds() const { return DurationSeconds(*s_->input); }

int64_t FfmpegSource::CodecBitRate() const { return std::max<int64_t>(s_->codec->bit_rate, 0); }

std::string FfmpegSource::ContainerName() const {
    return s_->input->iformat != nullptr ? s_->input->iformat->name : "";
}

std::string FfmpegSource::Metadata(const char* key) const {
    const AVFormatContext& input = *s_->input;
    for (const AVDictionary* dict : {input.metadata, input.streams[s_->stream]->metadata}) {
        const AVDictionaryEntry* entry = av_dict_get(dict, key, nullptr, 0);
        if (entry != nullptr && entry->value != nullptr && entry->value[0] != '\0') return entry->value;
    }
    return {};
}

}  // namespace pelloran
