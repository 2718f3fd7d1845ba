#include "platform/wm.h"

#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <string_view>
#include <atomic>
#include <vector>

#include "platform/FfmpegHandles.h"
#include "platform/TagReader.h"

#include "platform/FfmpegApi.h"

namespace pelloran {

namespace {

std::atomic<bool> wmaRuntimeReady{false};


struct Layout {
    AVChannelLayout v{};
    Layout() = default;
    explicit Layout(int channels) { av_channel_layout_default(&v, channels); }
    ~Layout() { av_channel_layout_uninit(&v); }
    Layout(const Layout&) = delete;
    Layout& operator=(const Layout&) = delete;
};

constexpr int kMaxRate = 1000000;
// Output frames one slice of writer input may become before it is encoded.
constexpr int kSliceOutputFrames = 4096;

// The WMA 9 Standard codec's formats: bit rate (kbit/s), rate, channels, and whether the format is the
// variant tuned for video files.
struct FormatRow {
    int kbps;
    int rate;
    int channels;
    bool forVideo;
};
constexpr FormatRow kStandardFormats[] = {
    {320, 48000, 2, false}, {256, 48000, 2, false}, {192, 48000, 2, false}, {192, 44100, 2, false},
    {160, 48000, 2, false}, {160, 44100, 2, false}, {128, 48000, 2, false}, {128, 44100, 2, false},
    {128, 44100, 2, true},  {96, 48000, 2, false},  {96, 44100, 2, false},  {96, 44100, 2, true},
    {80, 44100, 2, false},  {64, 48000, 2, false},  {64, 44100, 2, false},  {64, 44100, 2, true},
    {48, 44100, 2, false},  {48, 44100, 2, true},   {48, 32000, 2, false},  {48, 44100, 1, false},
    {48, 44100, 1, true},   {40, 32000, 2, false},  {32, 44100, 2, false},  {32, 44100, 2, true},
    {32, 32000, 2, false},  {32, 22050, 2, false},  {32, 22050, 2, true},   {32, 44100, 1, false},
    {24, 22050, 2, false},  {22, 22050, 1, false},  {20, 22050, 2, false},  {20, 22050, 2, true},
    {20, 16000, 2, false},  {20, 22050, 1, false},  {16, 16000, 2, false},  {16, 16000, 1, false},
    {12, 16000, 2, false},  {12, 16000, 1, false},  {10, 11025, 2, false},  {10, 16000, 1, false},
    {8, 11025, 1, false},   {6, 8000, 1, false},    {5, 8000, 1, false},
};

// Opens the wmav2 encoder for a format; null when the encoder refuses it.
CodecPtr OpenEncoder(int rate, int channels, int64_t bitrate) {
    if (!ffmpeg::Load()) return nullptr;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (codec == nullptr) return nullptr;
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context) return nullptr;
    context->sample_rate = rate;
    context->bit_rate = bitrate;
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context->time_base = AVRational{1, rate};
    av_channel_layout_default(&context->ch_layout, channels);
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
    return context;
}

// A channel matrix for one or two channels in and out: mono is spread to both sides at full level, a
// pair is averaged into mono.
bool SetPlainMatrix(SwrContext* swr, int in, int out) {
    if (in == out) return true;
    double matrix[4] = {0, 0, 0, 0};
    if (out == 2) {
        matrix[0] = 1.0;
        matrix[1] = 1.0;
    } else {
        matrix[0] = 0.5;
        matrix[1] = 0.5;
    }
    return swr_set_matrix(swr, matrix, in) >= 0;
}

}  // namespace

const char* const kWmaRuntimeDownloadAddress = "https://pelloran.org/wma-runtime";

bool WmaRuntimeReady() { return wmaRuntimeReady.load(); }

bool LoadWmaRuntime() {
    if (wmaRuntimeReady.load()) return true;
    // Without FFmpeg there is no WMA runtime either: the user is asked as for a missing one.
    const bool present = ffmpeg::Load() && avcodec_find_decoder(AV_CODEC_ID_WMAV2) != nullptr &&
                         avcodec_find_encoder(AV_CODEC_ID_WMAV2) != nullptr &&
                         av_guess_format("asf", nullptr, nullptr) != nullptr &&
                         av_find_input_format("asf") != nullptr;
    if (present) wmaRuntimeReady.store(true);
    return present;
}

std::vector<WmaFormat> WmaEncoderFormats() {
    if (!WmaRuntimeReady()) return {};
    // Probing opens the encoder once per row; the result is the same for the whole process.
    static const std::vector<WmaFormat> formats = [] {
        std::vector<WmaFormat> list;
        for (const FormatRow& row : kStandardFormats) {
            if (OpenEncoder(row.rate, row.channels, row.kbps * 1000))
                list.push_back({row.rate, row.channels, static_cast<uint32_t>(row.kbps * 1000), row.forVideo});
        }
        return list;
    }();
    return formats;
}

// ---------------------------------------------------------------------------------------------------------------
// WmaFileWriter

struct WmaFileWriter::State {
    std::string path;
    int channels = 0;  // the format's
    int inRate = 0;
    int inBits = 0;
    int inChannels = 0;
    CodecPtr encoder;
    OutputPtr output;
    AVStream* stream = nullptr;
    SwrPtr swr;
    FifoPtr fifo;
    FramePtr frame;
    PacketPtr packet;
    std::vector<float> planes[2];
    int64_t framesEncoded = 0;
    bool failed = false;

    bool Convert(const uint8_t* in, int frames);
    bool EncodeFrames(bool all);
    bool Send(AVFrame* f);
    bool WriteAttributes(const TagRecord& tags) const;
};

WmaFileWriter::WmaFileWriter() = default;
WmaFileWriter::~WmaFileWriter() = default;

void WmaFileWriter::Close() { s_.reset(); }

bool WmaFileWriter::Open(const std::string& path, const WmaFormat& format, int inputRate, int inputBits,
                         int inputChannels) {
    Close();
    if (path.empty() || format.channels < 1 || format.channels > 2 || format.rate <= 0 || format.bitrate == 0 ||
        inputRate <= 0 || inputRate > kMaxRate || (inputBits != 8 && inputBits != 16) || inputChannels < 1 ||
        inputChannels > 2)
        return false;
    auto state = std::make_unique<State>();
    State& s = *state;
    s.path = path;
    s.channels = format.channels;
    s.inRate = inputRate;
    s.inBits = inputBits;
    s.inChannels = inputChannels;
    s.encoder = OpenEncoder(format.rate, format.channels, format.bitrate);
    if (!s.encoder) return false;

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "asf", nullptr) < 0 || raw == nullptr) return false;
    s.output.reset(raw);
    s.stream = avformat_new_stream(raw, nullptr);
    if (s.stream == nullptr || avcodec_parameters_from_context(s.stream->codecpar, s.encoder.get()) < 0)
        return false;
    s.stream->time_base = s.encoder->time_base;
    // "file:" keeps a name such as "http:x" from being taken as a protocol.
    const std::string url = "file:" + path;
    if (avio_open(&raw->pb, url.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    if (avformat_write_header(raw, nullptr) < 0) return false;

    SwrContext* swr = nullptr;
    Layout inLayout(inputChannels);
    Layout outLayout(format.channels);
    if (swr_alloc_set_opts2(&swr, &outLayout.v, AV_SAMPLE_FMT_FLTP, format.rate, &inLayout.v,
                            inputBits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16, inputRate, 0, nullptr) < 0)
        return false;
    s.swr.reset(swr);
    if (!SetPlainMatrix(swr, inputChannels, format.channels) || swr_init(swr) < 0) return false;

    s.fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, format.channels, s.encoder->frame_size));
    s.frame.reset(av_frame_alloc());
    s.packet.reset(av_packet_alloc());
    if (!s.fifo || !s.frame || !s.packet) return false;
    // A decoder gives each frame back only together with the next one (the transform overlaps) and drops what
    // the first frame held: a frame of silence ahead of the audio keeps its first sample where it belongs, and
    // the padding of the last frame keeps its end.
    std::vector<float> zeros(static_cast<size_t>(s.encoder->frame_size), 0.0f);
    void* silence[2] = {zeros.data(), zeros.data()};
    if (av_audio_fifo_write(s.fifo.get(), silence, s.encoder->frame_size) < s.encoder->frame_size) return false;
    s_ = std::move(state);
    return true;
}

bool WmaFileWriter::State::Send(AVFrame* f) {
    if (avcodec_send_frame(encoder.get(), f) < 0) return false;
    while (true) {
        const int got = avcodec_receive_packet(encoder.get(), packet.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) break;
        if (got < 0) return false;
        av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        const int written = av_interleaved_write_frame(output.get(), packet.get());
        av_packet_unref(packet.get());
        if (written < 0 || output->pb->error < 0) return false;
    }
    return true;
}

// Encodes every whole frame in the queue; with all, also the rest, padded with silence.
bool WmaFileWriter::State::EncodeFrames(bool all) {
    const int frameSize = encoder->frame_size;
    while (av_audio_fifo_size(fifo.get()) >= frameSize || (all && av_audio_fifo_size(fifo.get()) > 0)) {
        AVFrame* f = frame.get();
        av_frame_unref(f);
        f->nb_samples = frameSize;
        f->format = AV_SAMPLE_FMT_FLTP;
        f->sample_rate = encoder->sample_rate;
        if (av_channel_layout_copy(&f->ch_layout, &encoder->ch_layout) < 0 || av_frame_get_buffer(f, 0) < 0)
            return false;
        const int got = av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(f->extended_data), frameSize);
        if (got <= 0) return false;
        for (int ch = 0; ch < channels && got < frameSize; ++ch)
            std::fill_n(reinterpret_cast<float*>(f->extended_data[ch]) + got, frameSize - got, 0.0f);
        f->pts = framesEncoded;
        framesEncoded += frameSize;
        if (!Send(f)) return false;
    }
    return true;
}

// Resamples input PCM (null: what the resampler still holds) into the frame queue.
bool WmaFileWriter::State::Convert(const uint8_t* in, int frames) {
    const int room = swr_get_out_samples(swr.get(), frames);
    if (room < 0) return false;
    if (room == 0) return true;
    uint8_t* out[2] = {nullptr, nullptr};
    for (int ch = 0; ch < channels; ++ch) {
        planes[ch].resize(static_cast<size_t>(room));
        out[ch] = reinterpret_cast<uint8_t*>(planes[ch].data());
    }
    const uint8_t* inPlanes[1] = {in};
    const int made = swr_convert(swr.get(), out, room, in ? inPlanes : nullptr, in ? frames : 0);
    if (made < 0) return false;
    if (made > 0 && av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(out), made) < made) return false;
    return true;
}

bool WmaFileWriter::Write(const void* pcm, size_t bytes) {
    if (!s_ || s_->failed || pcm == nullptr) return false;
    State& s = *s_;
    const size_t frameBytes = static_cast<size_t>(s.inChannels) * static_cast<size_t>(s.inBits / 8);
    const size_t frames = bytes / frameBytes;
    if (frames == 0) return true;
    if (frames > (1u << 20)) {
        s.failed = true;
        return false;
    }
    // Slices of about kSliceOutputFrames output frames (one input frame when the ratio is larger), each
    // encoded before the next: the queue stays small whatever the rate ratio.
    const auto slice = static_cast<size_t>(
        std::max<int64_t>(1, int64_t{kSliceOutputFrames} * s.inRate / static_cast<int64_t>(s.encoder->sample_rate)));
    const auto* in = static_cast<const uint8_t*>(pcm);
    for (size_t done = 0; done < frames; done += slice) {
        const size_t n = std::min(slice, frames - done);
        if (!s.Convert(in + done * frameBytes, static_cast<int>(n)) || !s.EncodeFrames(false)) {
            s.failed = true;
            return false;
        }
    }
    return true;
}

bool WmaFileWriter::State::WriteAttributes(const TagRecord& tags) const {
    TagLib::ASF::File file(path.c_str(), false);
    TagLib::ASF::Tag* tag = file.isValid() ? file.tag() : nullptr;
    if (tag == nullptr) return false;
    const auto text = [](const std::string& value) { return TagLib::String(value, TagLib::String::UTF8); };
    // Attributes of every non-empty value under a name; nothing for none.
    const auto attributes = [&tag, &text](const char* name, const std::vector<std::string>& values) {
        TagLib::ASF::AttributeList list;
        for (const std::string& value : values) {
            if (value.empty()) continue;
            if (std::string_view(name) == "WM/IsCompilation") list.append(TagLib::ASF::Attribute(value != "0"));
            else list.append(TagLib::ASF::Attribute(text(value)));
        }
        if (!list.isEmpty()) tag->setAttribute(name, list);
    };
    // Every other field first: by the taggers' attribute names (kTagNames), else TagLib's; what has neither
    // keeps its property name.
    TagLib::PropertyMap properties;
    for (const auto& [name, values] : tags.extra) {
        if (TagFieldOf(name) != nullptr || name == "TOTALTRACKS" || name == "TOTALDISCS") continue;
        if (const TagNameRow* row = TagNameOf(name); row != nullptr && row->asf != nullptr) continue;
        TagLib::StringList list;
        for (const std::string& value : values) {
            if (!value.empty()) list.append(text(value));
        }
        if (!list.isEmpty()) properties.insert(text(name), list);
    }
    // setProperties replaces the attributes it knows: first.
    const TagLib::PropertyMap refused = tag->setProperties(properties);
    for (const auto& [name, values] : refused) {
        for (const TagLib::String& value : values) tag->addAttribute(name, TagLib::ASF::Attribute(value));
    }
    for (const auto& [name, values] : tags.extra) {
        const TagNameRow* row = TagNameOf(name);
        if (TagFieldOf(name) != nullptr || row == nullptr || row->asf == nullptr || values.empty()) continue;
        // WM/PartOfSet holds the disc total too ("1/2"), and TotalDiscs holds it alone, as taggers write both.
        if (name == "DISCNUMBER" && !tags.Extra("DISCTOTAL").empty() && values.front().find('/') == std::string::npos)
            attributes(row->asf, {values.front() + "/" + tags.Extra("DISCTOTAL")});
        else
            attributes(row->asf, values);
    }
    // The texts of the content description object hold one value each (more artists follow as Author
    // attributes); the rest are extended attributes. Empty fields are left out.
    tag->setTitle(text(tags.Title));
    const std::vector<std::string> artists = tags.Values("ARTIST");
    if (!artists.empty()) {
        tag->setArtist(text(artists.front()));
        attributes("Author", std::vector<std::string>(artists.begin() + 1, artists.end()));
    }
    tag->setComment(text(tags.Comment));
    attributes("WM/AlbumTitle", {tags.Album});
    attributes("WM/Genre", tags.Values("GENRE"));
    const int track = TrackNumber(tags.Track);
    if (track > 0) tag->setAttribute("WM/TrackNumber", TagLib::ASF::Attribute(static_cast<unsigned int>(track)));
    attributes("WM/Year", {tags.Year});
    attributes("WM/Composer", tags.Values("COMPOSER"));
    tag->setCopyright(text(tags.Copyright));
    TagLib::ASF::AttributeList pictures;
    for (const TagPicture& p : tags.pictures) {
        if (p.data.empty() || p.data.size() > kMaxPictureBytes) continue;
        TagLib::ASF::Picture picture;
        picture.setType(static_cast<TagLib::ASF::Picture::Type>(p.type >= 0 && p.type <= 20 ? p.type : 0));
        picture.setMimeType(text(p.mimeType.empty() ? SniffImageType(p.data) : p.mimeType));
        picture.setDescription(text(p.description));
        picture.setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(p.data.data()),
                                              static_cast<unsigned int>(p.data.size())));
        pictures.append(TagLib::ASF::Attribute(picture));
    }
    if (!pictures.isEmpty()) tag->setAttribute("WM/Picture", pictures);
    return file.save();
}

bool WmaFileWriter::Finish(const TagRecord& tags) {
    if (!s_) return false;
    State& s = *s_;
    bool ok = !s.failed && s.Convert(nullptr, 0) && s.EncodeFrames(true) && s.Send(nullptr);
    if (ok) ok = av_write_trailer(s.output.get()) >= 0;
    if (s.output->pb != nullptr) {
        avio_flush(s.output->pb);
        if (s.output->pb->error < 0) ok = false;
        if (avio_closep(&s.output->pb) < 0) ok = false;
    }
    const std::unique_ptr<State> done = std::move(s_);
    done->output.reset();
    return ok && done->WriteAttributes(tags);
}

}  // namespace pelloran
