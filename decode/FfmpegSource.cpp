#include "decode/FfmpegSource.h"

#include "platform/FfmpegApi.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "decode/SampleAdapter.h"
#include "media/PcmFormat.h"
#include "platform/FfmpegHandles.h"
#include "platform/File.h"
#include "platform/MpegFrames.h"
#include "platform/TagReader.h"

namespace pelloran {

namespace {

// Audio packets in a row that may yield no audio before the stream counts as ended (or, at the start, as
// undecodable).
constexpr int kMaxPacketsWithoutAudio = 1000;
// Packets of other streams in a row before the source gives up (an audio track that never continues).
constexpr int kMaxForeignPackets = 1 << 20;


// Packets of other streams read between two looks at Cancel.
constexpr int kForeignPacketsPerCancelCheck = 1024;

MediaInput OpenContainer(const File& file, const std::string& name, DemuxerSet set, const CancelCheck* cancelled,
                         std::string* why) {
    MediaInput input = OpenLocalMedia(file, name, set, cancelled, why);
    if (!input) return {};
    if (const int result = avformat_find_stream_info(input.get(), nullptr); result < 0) {
        if (why != nullptr) *why = ffmpeg::ErrorText(result);
        return {};
    }
    return input;
}

void SetRefusal(std::string* refusal, std::string text) {
    if (refusal != nullptr) *refusal = std::move(text);
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

// The wide width of a decoder's output: its stated significant bits rounded up to 16, 24 or 32; float and
// 64-bit output count as 32. 0 for a codec that is not lossless.
bool IsDsdCodec(AVCodecID id) {
    return id == AV_CODEC_ID_DSD_LSBF || id == AV_CODEC_ID_DSD_MSBF || id == AV_CODEC_ID_DSD_LSBF_PLANAR ||
           id == AV_CODEC_ID_DSD_MSBF_PLANAR;
}

int WideBitsOf(const AVCodecContext& codec) {
    // DSD comes out of its decoder as floats, whose detail 16 bits would lose.
    if (IsDsdCodec(codec.codec_id)) return 32;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec.codec_id);
    if (descriptor == nullptr || (descriptor->props & AV_CODEC_PROP_LOSSLESS) == 0) return 0;
    const auto format = av_get_packed_sample_fmt(codec.sample_fmt);
    if (format == AV_SAMPLE_FMT_U8 || format == AV_SAMPLE_FMT_S16) return 16;
    if (format != AV_SAMPLE_FMT_S32) return format == AV_SAMPLE_FMT_NONE ? 0 : 32;
    const int raw = codec.bits_per_raw_sample;
    return raw > 0 && raw <= 16 ? 16 : raw > 16 && raw <= 24 ? 24 : 32;
}

// One sample of a decoded block as an int32 of `bits` significant bits, right-aligned.
int32_t WideSample(const uint8_t* p, AVSampleFormat format, int bits) {
    const auto fromFloat = [bits](double x) {
        if (x != x) return int32_t{0};  // NaN is silence
        if (x < -1.0) x = -1.0;
        const double top = bits == 32 ? 2147483647.0 : static_cast<double>((int64_t{1} << (bits - 1)) - 1);
        return static_cast<int32_t>(std::min(std::nearbyint(x * (top + 1.0)), top));
    };
    switch (format) {
        case AV_SAMPLE_FMT_U8: return (static_cast<int32_t>(*p) - 128) * 256;
        case AV_SAMPLE_FMT_S16: {
            int16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        case AV_SAMPLE_FMT_S32: {
            int32_t v;
            std::memcpy(&v, p, 4);
            return v >> (32 - bits);  // the library keeps samples left-aligned
        }
        case AV_SAMPLE_FMT_S64: {
            int64_t v;
            std::memcpy(&v, p, 8);
            return static_cast<int32_t>(v >> (64 - bits));
        }
        case AV_SAMPLE_FMT_FLT: {
            float v;
            std::memcpy(&v, p, 4);
            return fromFloat(v);
        }
        case AV_SAMPLE_FMT_DBL: {
            double v;
            std::memcpy(&v, p, 8);
            return fromFloat(v);
        }
        default: return 0;
    }
}

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
    Options options;  // as opened
    bool mix = false;
    MediaInput input;
    CodecPtr codec;
    PacketPtr packet;
    FramePtr frame;
    int stream = -1;
    int sourceChannels = 0;
    SampleAdapter adapter;
    // Wide output: int32 frames of every channel, waiting to be taken.
    bool wide = false;
    int wideBits = 0;
    int wideRate = 0;
    int wideChannels = 0;
    std::vector<int32_t> widePending;
    size_t wideTaken = 0;  // frames
    StreamEndWatch endWatch;
    bool demuxEnded = false;    // the container has no more packets
    bool flushSent = false;     // the decoder was told that input ended
    bool decoderEnded = false;  // nothing more will come
    int packetsWithoutAudio = 0;
    // An MP4 edit list's end: frames past it are the encoder's padding, not audio.
    uint64_t endFrame = UINT64_MAX;
    uint64_t delivered = 0;

    bool Cancelled() const { return options.cancelled != nullptr && *options.cancelled && (*options.cancelled)(); }

    // Next packet of the audio stream into packet; false at the end of the container, on a read error or on
    // Cancel.
    bool NextAudioPacket() {
        for (int foreign = 0; foreign < kMaxForeignPackets; ++foreign) {
            if (foreign % kForeignPacketsPerCancelCheck == kForeignPacketsPerCancelCheck - 1 && Cancelled()) {
                endWatch.OnReadEnd(AVERROR_EXIT);
                return false;
            }
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

    size_t Pending() const {
        if (!wide) return static_cast<size_t>(adapter.PendingFrames());
        return wideChannels == 0 ? 0 : widePending.size() / static_cast<size_t>(wideChannels) - wideTaken;
    }

    // The first decoded block fixes the width, rate and channels; blocks of another rate or channel count
    // are dropped.
    bool ConvertWide(const AVFrame& f) {
        const int n = f.ch_layout.nb_channels;
        if (wideChannels == 0) {
            wideBits = WideBitsOf(*codec);
            if (wideBits == 0 || n < 1 || n > kMaxWideChannels || f.sample_rate <= 0) return false;
            wideRate = f.sample_rate;
            wideChannels = n;
            sourceChannels = n;
        }
        if (n != wideChannels || f.sample_rate != wideRate || f.extended_data == nullptr) return false;
        const auto format = static_cast<AVSampleFormat>(f.format);
        const AVSampleFormat packed = av_get_packed_sample_fmt(format);
        const int size = av_get_bytes_per_sample(format);
        if (size <= 0) return false;
        const bool planar = av_sample_fmt_is_planar(format) != 0;
        widePending.erase(widePending.begin(),
                          widePending.begin() + static_cast<ptrdiff_t>(wideTaken * static_cast<size_t>(n)));
        wideTaken = 0;
        const size_t old = widePending.size();
        widePending.resize(old + static_cast<size_t>(f.nb_samples) * static_cast<size_t>(n));
        int32_t* out = widePending.data() + old;
        // The lossless decoders' usual output, 32-bit packed or planar, goes by a plain shift.
        if (format == AV_SAMPLE_FMT_S32P || format == AV_SAMPLE_FMT_S32) {
            const int shift = 32 - wideBits;
            if (format == AV_SAMPLE_FMT_S32) {
                const auto* in = reinterpret_cast<const int32_t*>(f.extended_data[0]);
                const size_t count = static_cast<size_t>(f.nb_samples) * static_cast<size_t>(n);
                for (size_t i = 0; i < count; ++i) out[i] = in[i] >> shift;
                return true;
            }
            for (int c = 0; c < n; ++c) {
                const auto* in = reinterpret_cast<const int32_t*>(f.extended_data[c]);
                for (int i = 0; i < f.nb_samples; ++i) out[static_cast<size_t>(i) * n + c] = in[i] >> shift;
            }
            return true;
        }
        for (int i = 0; i < f.nb_samples; ++i) {
            for (int c = 0; c < n; ++c) {
                const uint8_t* p = planar ? f.extended_data[c] + static_cast<size_t>(i) * size
                                          : f.extended_data[0] + (static_cast<size_t>(i) * n + c) * size;
                *out++ = WideSample(p, packed, wideBits);
            }
        }
        return true;
    }

    // The first decoded block fixes what the source delivers.
    bool Convert(const AVFrame& f) {
        if (f.nb_samples <= 0) return false;
        if (wide) return ConvertWide(f);
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
                if (Pending() > 0) return true;
                continue;
            }
            // EAGAIN wants input; any other error has lost the rest of its packet and decoding goes on.
            if (received == AVERROR_EOF || (demuxEnded && flushSent)) {
                decoderEnded = true;
                if (!wide) adapter.Drain();
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
        return Pending() > 0;
    }
};

std::string MediaLibraryProblem() {
    return ffmpeg::Load() ? std::string{} : "FFmpeg could not be loaded: " + ffmpeg::LoadError();
}

FfmpegSource::FfmpegSource() : s_(std::make_unique<State>()) {}
FfmpegSource::~FfmpegSource() = default;

std::unique_ptr<FfmpegSource> FfmpegSource::Open(const File& file, const std::string& name, const Options& options,
                                                 std::string* refusal) {
    std::unique_ptr<FfmpegSource> source(new FfmpegSource);
    State& s = *source->s_;
    s.file = &file;
    s.name = name;
    s.options = options;
    s.mix = options.mixToStereo;
    s.wide = options.wide;
    s.input = OpenContainer(file, name, options.demuxers, options.cancelled, refusal);
    if (!s.input) return nullptr;
    AVFormatContext& input = *s.input;

    const AVCodec* decoder = nullptr;
    if (options.bestStream) {
        s.stream = av_find_best_stream(&input, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    } else {
        s.stream = FirstStream(input, AVMEDIA_TYPE_AUDIO);
        if (s.stream >= 0) decoder = avcodec_find_decoder(input.streams[s.stream]->codecpar->codec_id);
    }
    if (s.stream < 0 && s.stream != AVERROR_DECODER_NOT_FOUND) {
        SetRefusal(refusal, "no audio stream in it");
        return nullptr;
    }
    if (s.stream < 0 || decoder == nullptr) {
        const int index = s.stream >= 0 ? s.stream : FirstStream(input, AVMEDIA_TYPE_AUDIO);
        const AVCodecID codec = index >= 0 ? input.streams[index]->codecpar->codec_id : AV_CODEC_ID_NONE;
        SetRefusal(refusal, std::string("no decoder for its audio (") + avcodec_get_name(codec) + ")");
        return nullptr;
    }
    const AVStream& stream = *input.streams[s.stream];
    if (!TakesCodec(options.demuxers, input, stream.codecpar->codec_id)) {
        SetRefusal(refusal, std::string(avcodec_get_name(stream.codecpar->codec_id)) + " in " +
                                source->ContainerName() + " is left to another reader");
        return nullptr;
    }
    // Packets of the other streams need not even be read.
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        if (static_cast<int>(i) != s.stream) input.streams[i]->discard = AVDISCARD_ALL;
    }

    s.codec.reset(avcodec_alloc_context3(decoder));
    if (!s.codec || avcodec_parameters_to_context(s.codec.get(), stream.codecpar) < 0) {
        SetRefusal(refusal, ffmpeg::ErrorText(AVERROR(ENOMEM)));
        return nullptr;
    }
    s.codec->pkt_timebase = stream.time_base;
    s.codec->thread_count = 1;  // files already convert in parallel
    if (const int result = avcodec_open2(s.codec.get(), decoder, nullptr); result < 0) {
        SetRefusal(refusal, std::string("the ") + decoder->name + " decoder refused it: " + ffmpeg::ErrorText(result));
        return nullptr;
    }
    if (s.wide) {
        const AVCodecDescriptor* descriptor = avcodec_descriptor_get(s.codec->codec_id);
        if (descriptor == nullptr || (descriptor->props & AV_CODEC_PROP_LOSSLESS) == 0) {
            SetRefusal(refusal, "not lossless");
            return nullptr;
        }
    }
    s.packet.reset(av_packet_alloc());
    s.frame.reset(av_frame_alloc());
    if (!s.packet || !s.frame) {
        SetRefusal(refusal, ffmpeg::ErrorText(AVERROR(ENOMEM)));
        return nullptr;
    }
    s.endWatch.Start(input, s.stream, file);

    if (options.headerFormat && !s.wide) {
        const AVCodecParameters& header = *stream.codecpar;
        if (!s.adapter.Setup(header.sample_rate, std::min(header.ch_layout.nb_channels, 2), false)) {
            SetRefusal(refusal, "no usable rate or channel count in its header");
            return nullptr;
        }
        s.sourceChannels = header.ch_layout.nb_channels;
    }
    // The first audio now: the output is known, and a stream that yields none is refused rather than
    // delivered as an empty file (unless the header fixed the output).
    if (!s.DecodeMore() && !(options.headerFormat && !s.wide)) {
        SetRefusal(refusal, s.Cancelled() ? "cancelled" : "its audio stream gave no audio");
        return nullptr;
    }
    if (s.wide) source->format_ = {s.wideRate, s.wideChannels, 32, s.wideBits};
    else source->format_ = {s.adapter.Rate(), s.adapter.Channels(), s.adapter.EightBit() ? 8 : 16};
    source->lengthFrames_ = EstimatedFrames(input, stream, s.codec->bit_rate, source->format_.rate);
    const std::string container = source->ContainerName();
    if (container.rfind("mov", 0) == 0 && stream.duration != AV_NOPTS_VALUE && stream.duration > 0 &&
        (stream.start_time == AV_NOPTS_VALUE || stream.start_time == 0))
        s.endFrame = static_cast<uint64_t>(
            av_rescale_q(stream.duration, stream.time_base, AVRational{1, source->format_.rate}));
    // ADTS has no length field: the frames tell it, not an estimate from the bit rate.
    if (container == "aac") {
        if (const std::optional<FrameScan> scan = ScanAdts(file); scan && scan->rate > 0)
            source->lengthFrames_ = scan->samples * static_cast<uint64_t>(source->format_.rate) /
                                    static_cast<uint64_t>(scan->rate);
    }
    return source;
}

std::optional<MediaProperties> FfmpegSource::Probe(const File& file, const std::string& name,
                                                   const CancelCheck* cancelled, std::string* refusal) {
    const MediaInput input = OpenContainer(file, name, DemuxerSet::Media, cancelled, refusal);
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
    const std::string container = input->iformat != nullptr ? input->iformat->name : "";
    if (container == "aac") {
        if (const std::optional<FrameScan> scan = ScanAdts(file); scan && scan->rate > 0)
            properties.durationSeconds = static_cast<int>(std::min<uint64_t>(scan->samples / scan->rate, INT32_MAX));
    } else if (container == "mp3" && properties.audio && properties.sampleRate == 0) {
        // Free format: FFmpeg finds no rate; the headers have it.
        if (const std::optional<FrameScan> scan = ScanFreeFormatMpeg(file); scan && scan->frames > 0) {
            properties.sampleRate = scan->rate;
            properties.channels = scan->channels;
            properties.durationSeconds = static_cast<int>(std::min<uint64_t>(scan->samples / scan->rate, INT32_MAX));
            properties.bitRate = static_cast<int64_t>(scan->audioBytes * 8 * static_cast<uint64_t>(scan->rate) /
                                                      std::max<uint64_t>(scan->samples, 1));
        }
    }
    return properties;
}

size_t FfmpegSource::Read(void* out, size_t frames) {
    State& s = *s_;
    frames = static_cast<size_t>(std::min<uint64_t>(frames, s.endFrame - s.delivered));
    auto* at = static_cast<uint8_t*>(out);
    const size_t frameBytes = format_.FrameBytes();
    size_t done = 0;
    while (done < frames) {
        if (s.wide && s.Pending() > 0) {
            const size_t n = std::min(s.Pending(), frames - done);
            const size_t samples = n * static_cast<size_t>(s.wideChannels);
            std::memcpy(at + done * frameBytes, s.widePending.data() + s.wideTaken * s.wideChannels,
                        samples * sizeof(int32_t));
            s.wideTaken += n;
            done += n;
        } else if (!s.wide && s.adapter.PendingFrames() > 0) {
            done += s.adapter.Take(at + done * frameBytes, frames - done);
        } else if (!s.DecodeMore()) {
            break;
        }
    }
    s.delivered += done;
    return done;
}

std::optional<uint64_t> FfmpegSource::FileBytes() const {
    const int64_t size = s_->file->Size();
    if (size < 0) return std::nullopt;
    return static_cast<uint64_t>(size);
}

std::unique_ptr<PcmSource> FfmpegSource::OpenWide() const {
    Options wide = s_->options;
    wide.mixToStereo = false;
    wide.wide = true;
    return Open(*s_->file, s_->name, wide);
}

bool FfmpegSource::Truncated() const { return s_->endWatch.Truncated(); }

namespace {

// The container's own metadata into tags; false (tags untouched) when it has none.
bool TakeContainerTags(const FfmpegSource& media, TagRecord& tags) {
    TagRecord found;
    media.ReadContainerTags(found);
    if (found.Empty()) return false;
    tags = std::move(found);
    return true;
}

}  // namespace

bool FfmpegSource::ReadTags(TagRecord& tags) {
    // Formats TagLib does not read: the container's own metadata.
    return ReadTagLibTags(*s_->file, s_->name, tags) || TakeContainerTags(*this, tags);
}

bool ReadTagsAsMediaSource(const File& file, const std::string& name, bool containerTags, TagRecord& tags) {
    if (ReadTagLibTags(file, name, tags)) return true;
    if (!containerTags) return false;
    const std::unique_ptr<FfmpegSource> media =
        FfmpegSource::Open(file, name, FfmpegSource::Options{DemuxerSet::GeneralReader, true, false});
    return media && TakeContainerTags(*media, tags);
}

void FfmpegSource::ReadContainerTags(TagRecord& tags) const {
    const AVFormatContext& input = *s_->input;
    for (const AVDictionary* dict : {input.metadata, input.streams[s_->stream]->metadata}) {
        const AVDictionaryEntry* e = nullptr;
        while ((e = av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
            if (e->value != nullptr) AddMetadataEntry(tags, e->key, e->value);
        }
    }
    // Cover art arrives as one-picture video streams.
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        const AVStream& st = *input.streams[i];
        const AVPacket& picture = st.attached_pic;
        if ((st.disposition & AV_DISPOSITION_ATTACHED_PIC) == 0 || picture.data == nullptr || picture.size <= 0)
            continue;
        if (static_cast<size_t>(picture.size) > kMaxPictureBytes) {
            ++tags.oversizePictures;
            continue;
        }
        TagPicture p;
        p.type = 3;
        p.data.assign(picture.data, picture.data + picture.size);
        p.mimeType = SniffImageType(p.data);
        if (const AVDictionaryEntry* comment = av_dict_get(st.metadata, "comment", nullptr, 0)) {
            if (std::string(comment->value) != "Cover (front)") p.type = 0;
        }
        if (const AVDictionaryEntry* title = av_dict_get(st.metadata, "title", nullptr, 0)) p.description = title->value;
        tags.pictures.push_back(std::move(p));
    }
    SplitTotals(tags);
}

int FfmpegSource::SourceChannels() const { return s_->sourceChannels; }

bool FfmpegSource::Dsd() const { return s_->codec && IsDsdCodec(s_->codec->codec_id); }

int FfmpegSource::WideWidth() const { return s_->wide ? s_->wideBits : WideBitsOf(*s_->codec); }

uint64_t FfmpegSource::InputOffset() const {
    const int64_t at = avio_seek(s_->input->pb, 0, SEEK_CUR);
    return at > 0 ? static_cast<uint64_t>(at + MediaStartOffset(*s_->input)) : 0;
}

int FfmpegSource::ContainerSeconds() const { return DurationSeconds(*s_->input); }

uint64_t FfmpegSource::ContainerMicroseconds() const {
    const int64_t duration = s_->input->duration;
    return duration == AV_NOPTS_VALUE || duration <= 0 ? 0 : static_cast<uint64_t>(duration);
}

int64_t FfmpegSource::ContainerBitRate() const { return std::max<int64_t>(s_->input->bit_rate, 0); }

std::vector<std::pair<std::string, std::string>> FfmpegSource::ContainerMetadata() const {
    std::vector<std::pair<std::string, std::string>> entries;
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(s_->input->metadata, "", e, AV_DICT_IGNORE_SUFFIX)) != nullptr)
        entries.emplace_back(e->key, e->value != nullptr ? e->value : "");
    return entries;
}

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
