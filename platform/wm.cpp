#include "platform/wm.h"

#include <taglib/asffile.h>
#include <taglib/asftag.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/ffmpeg_log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace pelloran {

namespace {

std::atomic<bool> wmaRuntimeReady{false};

struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c->pb != nullptr) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FifoFreer {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputCloser>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoFreer>;

struct Layout {
    AVChannelLayout v{};
    Layout() = default;
    explicit Layout(int channels) { av_channel_layout_default(&v, channels); }
    ~Layout() { av_channel_layout_uninit(&v); }
    Layout(const Layout&) = delete;
    Layout& operator=(const Layout&) = delete;
};

constexpr int64_t kHundredNs = 10000000;
constexpr int kMaxRate = 1000000;
// Output frames one slice of writer input may become before it is encoded.
constexpr int kSliceOutputFrames = 4096;

// The WMA 9 Standard codec's formats: bit rate (kbit/s), rate, channels, and whether the format is the
// variant tuned for video files.
struct FormatRow {
    int kbps;
    int rate;
    int channels;
    bool audioVideo;
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

std::string Describe(const FormatRow& row) {
    std::string text = std::to_string(row.kbps) + " kbps, " + std::to_string(row.rate / 1000) + " kHz, " +
                       (row.channels == 2 ? "stereo" : "mono");
    if (row.audioVideo) text += " (A/V)";
    return text + " 1-pass CBR";
}

// Opens the wmav2 encoder for a format; null when the encoder refuses it.
CodecPtr OpenEncoder(int rate, int channels, int64_t bitrate) {
    QuietFfmpegLog();
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

// The formats the encoder accepts, found once per process.
const std::vector<WmaCodecFormat>& StandardFormats() {
    static const std::vector<WmaCodecFormat> formats = [] {
        std::vector<WmaCodecFormat> list;
        for (const FormatRow& row : kStandardFormats) {
            CodecPtr encoder = OpenEncoder(row.rate, row.channels, row.kbps * 1000);
            if (!encoder) continue;
            WmaCodecFormat f;
            f.description = Describe(row);
            f.bitrate = static_cast<uint32_t>(row.kbps * 1000);
            f.mediaType.formatTag = kWmaStandardFormatTag;
            f.mediaType.channels = static_cast<uint16_t>(row.channels);
            f.mediaType.samplesPerSec = static_cast<uint32_t>(row.rate);
            f.mediaType.avgBytesPerSec = f.bitrate / 8;
            f.mediaType.blockAlign = static_cast<uint16_t>(encoder->block_align);
            f.mediaType.bitsPerSample = 16;
            if (encoder->extradata != nullptr && encoder->extradata_size > 0)
                f.mediaType.extra.assign(encoder->extradata, encoder->extradata + encoder->extradata_size);
            list.push_back(std::move(f));
        }
        return list;
    }();
    return formats;
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
    const bool present = avcodec_find_decoder(AV_CODEC_ID_WMAV2) != nullptr &&
                         avcodec_find_encoder(AV_CODEC_ID_WMAV2) != nullptr &&
                         av_guess_format("asf", nullptr, nullptr) != nullptr &&
                         av_find_input_format("asf") != nullptr;
    if (present) wmaRuntimeReady.store(true);
    return present;
}

int WmaCodecCount() { return WmaRuntimeReady() ? 1 : 0; }

int WmaCodecFormatCount(int codec) {
    if (codec != 0 || !WmaRuntimeReady()) return 0;
    return static_cast<int>(StandardFormats().size());
}

bool WmaCodecFormatDesc(int codec, int index, WmaCodecFormat& format) {
    if (index < 0 || index >= WmaCodecFormatCount(codec)) return false;
    format = StandardFormats()[static_cast<size_t>(index)];
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// WmWriter

struct WmWriter::State {
    WmaMediaType type;
    uint32_t bitrate = 0;
    int inRate = 0;
    int inBits = 0;
    int inChannels = 0;
    std::string path;
    struct Attribute {
        std::string name;
        bool number = false;
        std::string text;
        uint32_t value = 0;
    };
    std::vector<Attribute> attributes;

    CodecPtr encoder;
    OutputPtr output;
    AVStream* stream = nullptr;
    SwrPtr swr;
    FifoPtr fifo;
    FramePtr frame;
    PacketPtr packet;
    std::vector<float> planes[2];
    int64_t framesEncoded = 0;
    bool writing = false;
    bool failed = false;

    bool Convert(const uint8_t* in, int frames);
    bool EncodeSilentFrame();
    bool EncodeFrames(bool all);
    bool Send(AVFrame* f);
    bool WriteAttributes() const;
};

WmWriter::WmWriter() : s_(std::make_unique<State>()) {}
WmWriter::~WmWriter() = default;

bool WmWriter::SetProfile(const WmaMediaType& type, uint32_t bitrate) {
    if (s_->writing || type.channels < 1 || type.channels > 2 || type.samplesPerSec == 0 || bitrate == 0)
        return false;
    s_->type = type;
    s_->bitrate = bitrate;
    return true;
}

bool WmWriter::SetInputProps(int rate, int bits, int channels) {
    if (s_->writing || rate <= 0 || rate > kMaxRate || (bits != 8 && bits != 16) || channels < 1 || channels > 2)
        return false;
    s_->inRate = rate;
    s_->inBits = bits;
    s_->inChannels = channels;
    return true;
}

void WmWriter::AddAttribute(const std::string& name, const std::string& value) {
    s_->attributes.push_back({name, false, value, 0});
}

void WmWriter::AddAttribute(const std::string& name, uint32_t value) {
    s_->attributes.push_back({name, true, {}, value});
}

bool WmWriter::SetOutputFilename(const std::string& path) {
    if (s_->writing || path.empty()) return false;
    s_->path = path;
    return true;
}

bool WmWriter::BeginWriting() {
    State& s = *s_;
    if (s.writing || s.path.empty() || s.inRate == 0 || s.bitrate == 0) return false;
    if (s.type.formatTag != kWmaStandardFormatTag) return false;
    const int rate = static_cast<int>(s.type.samplesPerSec);
    const int channels = s.type.channels;

    s.encoder = OpenEncoder(rate, channels, s.bitrate);
    if (!s.encoder) return false;

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "asf", nullptr) < 0 || raw == nullptr) return false;
    s.output.reset(raw);
    s.stream = avformat_new_stream(raw, nullptr);
    if (s.stream == nullptr || avcodec_parameters_from_context(s.stream->codecpar, s.encoder.get()) < 0)
        return false;
    s.stream->time_base = s.encoder->time_base;
    const std::string url = "file:" + s.path;
    if (avio_open(&raw->pb, url.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    if (avformat_write_header(raw, nullptr) < 0) return false;

    SwrContext* swr = nullptr;
    Layout inLayout(s.inChannels);
    Layout outLayout(channels);
    if (swr_alloc_set_opts2(&swr, &outLayout.v, AV_SAMPLE_FMT_FLTP, rate, &inLayout.v,
                            s.inBits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16, s.inRate, 0, nullptr) < 0)
        return false;
    s.swr.reset(swr);
    if (!SetPlainMatrix(swr, s.inChannels, channels) || swr_init(swr) < 0) return false;

    s.fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, s.encoder->frame_size));
    s.frame.reset(av_frame_alloc());
    s.packet.reset(av_packet_alloc());
    if (!s.fifo || !s.frame || !s.packet) return false;
    s.framesEncoded = 0;
    s.failed = false;
    s.writing = true;
    return true;
}

bool WmWriter::State::Send(AVFrame* f) {
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
bool WmWriter::State::EncodeFrames(bool all) {
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
        for (int ch = 0; ch < type.channels && got < frameSize; ++ch)
            std::fill_n(reinterpret_cast<float*>(f->extended_data[ch]) + got, frameSize - got, 0.0f);
        f->pts = framesEncoded;
        framesEncoded += frameSize;
        if (!Send(f)) return false;
    }
    return true;
}

// A decoder gives each frame back only together with the next one (the transform overlaps), so a frame
// of silence follows the audio; without it the last frame of audio would be lost.
bool WmWriter::State::EncodeSilentFrame() {
    const int frameSize = encoder->frame_size;
    std::vector<float> zeros(static_cast<size_t>(frameSize), 0.0f);
    void* planes[2] = {zeros.data(), zeros.data()};
    if (av_audio_fifo_write(fifo.get(), planes, frameSize) < frameSize) return false;
    return EncodeFrames(false);
}

// Resamples input PCM (null: what the resampler still holds) into the frame queue.
bool WmWriter::State::Convert(const uint8_t* in, int frames) {
    const int room = swr_get_out_samples(swr.get(), frames);
    if (room < 0) return false;
    if (room == 0) return true;
    uint8_t* out[2] = {nullptr, nullptr};
    for (int ch = 0; ch < type.channels; ++ch) {
        planes[ch].resize(static_cast<size_t>(room));
        out[ch] = reinterpret_cast<uint8_t*>(planes[ch].data());
    }
    const uint8_t* inPlanes[1] = {in};
    const int made = swr_convert(swr.get(), out, room, in ? inPlanes : nullptr, in ? frames : 0);
    if (made < 0) return false;
    if (made > 0 && av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(out), made) < made) return false;
    return true;
}

bool WmWriter::WriteSample(const void* pcm, size_t bytes) {
    State& s = *s_;
    if (!s.writing || s.failed || pcm == nullptr) return false;
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
        std::max<int64_t>(1, int64_t{kSliceOutputFrames} * s.inRate / static_cast<int64_t>(s.type.samplesPerSec)));
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

bool WmWriter::State::WriteAttributes() const {
    if (attributes.empty()) return true;
    TagLib::ASF::File file(path.c_str());
    TagLib::ASF::Tag* tag = file.isValid() ? file.tag() : nullptr;
    if (tag == nullptr) return false;
    for (const Attribute& a : attributes) {
        const TagLib::String text(a.text, TagLib::String::UTF8);
        // The five texts of the content description object; every other name is an extended attribute.
        if (a.name == "Title") tag->setTitle(text);
        else if (a.name == "Author") tag->setArtist(text);
        else if (a.name == "Description") tag->setComment(text);
        else if (a.name == "Copyright") tag->setCopyright(text);
        else if (a.number) tag->setAttribute(a.name, TagLib::ASF::Attribute(static_cast<unsigned int>(a.value)));
        else tag->setAttribute(a.name, TagLib::ASF::Attribute(text));
    }
    return file.save();
}

bool WmWriter::EndWriting() {
    State& s = *s_;
    if (!s.writing) return false;
    s.writing = false;
    bool ok = !s.failed && s.Convert(nullptr, 0) && s.EncodeFrames(true) && s.EncodeSilentFrame() &&
              s.Send(nullptr);
    if (ok) ok = av_write_trailer(s.output.get()) >= 0;
    if (s.output->pb != nullptr) {
        avio_flush(s.output->pb);
        if (s.output->pb->error < 0) ok = false;
        if (avio_closep(&s.output->pb) < 0) ok = false;
    }
    s.output.reset();
    s.stream = nullptr;
    s.encoder.reset();
    s.swr.reset();
    s.fifo.reset();
    if (ok) ok = s.WriteAttributes();
    s.failed = false;
    return ok;
}

// ---------------------------------------------------------------------------------------------------------------
// WmSyncReader

namespace {

// Packets of the audio stream in a row that may yield no audio before the stream counts as undecodable.
constexpr int kMaxPacketsWithoutAudio = 1000;
// Packets of other streams in a row before the reader gives up.
constexpr int kMaxForeignPackets = 1 << 20;
// Largest decoded block accepted, in frames.
constexpr int kMaxBlockFrames = 1 << 20;

// Where FFmpeg's ASF demuxer keeps each attribute (its own names first).
struct AttributeKeys {
    const char* name;
    const char* keys[3];
};
constexpr AttributeKeys kAttributeKeys[] = {
    {"Title", {"title", nullptr, nullptr}},
    {"Author", {"artist", "author", nullptr}},
    {"Description", {"comment", "description", nullptr}},
    {"Copyright", {"copyright", nullptr, nullptr}},
    {"WM/AlbumTitle", {"album", nullptr, nullptr}},
    {"WM/AlbumArtist", {"album_artist", nullptr, nullptr}},
    {"WM/Genre", {"genre", nullptr, nullptr}},
    {"WM/TrackNumber", {"track", nullptr, nullptr}},
    {"WM/Year", {"WM/Year", "date", "year"}},
    {"WM/Composer", {"composer", nullptr, nullptr}},
};

}  // namespace

struct WmSyncReader::State {
    InputPtr input;
    CodecPtr decoder;
    SwrPtr swr;
    FramePtr frame;
    PacketPtr packet;
    int streamIndex = -1;
    uint16_t streamNumber = 0;
    int rate = 0;
    int channels = 0;  // output channels
    // The input set-up the resampler was built for.
    int swrFormat = AV_SAMPLE_FMT_NONE;
    int swrRate = 0;
    int swrChannels = 0;
    uint64_t nextTime = 0;  // 100-ns units
    bool flushed = false;
    bool drained = false;

    bool Configure(const AVFrame* f);
    bool Deliver(const uint8_t* const* data, int frames, int64_t timestamp, WmSample& sample);
};

WmSyncReader::WmSyncReader() : s_(std::make_unique<State>()) {}
WmSyncReader::~WmSyncReader() = default;

void WmSyncReader::Close() { s_ = std::make_unique<State>(); }

bool WmSyncReader::Open(const std::string& path) {
    Close();
    State& s = *s_;
    QuietFfmpegLog();
    const AVInputFormat* asf = av_find_input_format("asf");
    if (asf == nullptr) return false;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* raw = nullptr;
    const std::string url = "file:" + path;
    const int opened = avformat_open_input(&raw, url.c_str(), asf, &options);
    av_dict_free(&options);
    if (opened < 0) return false;
    s.input.reset(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) return false;

    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        AVStream* st = raw->streams[i];
        if (s.streamIndex < 0 && st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            s.streamIndex = static_cast<int>(i);
        } else {
            st->discard = AVDISCARD_ALL;  // video and other streams are never decoded
        }
    }
    if (s.streamIndex < 0) return false;
    AVStream* st = raw->streams[s.streamIndex];
    const AVCodecParameters* par = st->codecpar;
    if (par->sample_rate <= 0 || par->sample_rate > kMaxRate || par->ch_layout.nb_channels <= 0) return false;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (codec == nullptr) return false;
    s.decoder.reset(avcodec_alloc_context3(codec));
    if (!s.decoder || avcodec_parameters_to_context(s.decoder.get(), par) < 0) return false;
    s.decoder->pkt_timebase = st->time_base;
    if (avcodec_open2(s.decoder.get(), codec, nullptr) < 0) return false;
    s.frame.reset(av_frame_alloc());
    s.packet.reset(av_packet_alloc());
    if (!s.frame || !s.packet) return false;

    s.streamNumber = static_cast<uint16_t>(st->id > 0 && st->id < 128 ? st->id : s.streamIndex + 1);
    s.rate = par->sample_rate;
    s.channels = par->ch_layout.nb_channels >= 2 ? 2 : 1;
    return true;
}

uint16_t WmSyncReader::AudioStreamNumber() const { return s_->streamNumber; }
int WmSyncReader::OutputRate() const { return s_->rate; }
int WmSyncReader::OutputChannels() const { return s_->channels; }

uint32_t WmSyncReader::GetAttributeByName(const std::string& name, WmAttribute& value) const {
    const AVFormatContext* input = s_->input.get();
    if (input == nullptr) return kWmFailed;
    value = WmAttribute{};
    if (name == "Duration") {
        if (input->duration == AV_NOPTS_VALUE || input->duration <= 0) return kWmAttributeMissing;
        value.type = WmAttribute::Type::QWord;
        value.number = static_cast<uint64_t>(input->duration) * (kHundredNs / AV_TIME_BASE);
        return 0;
    }
    if (name == "Bitrate") {
        int64_t bitrate = input->bit_rate;
        if (bitrate <= 0 && s_->streamIndex >= 0) bitrate = input->streams[s_->streamIndex]->codecpar->bit_rate;
        if (bitrate <= 0 || bitrate > UINT32_MAX) return kWmAttributeMissing;
        value.type = WmAttribute::Type::DWord;
        value.number = static_cast<uint64_t>(bitrate);
        return 0;
    }
    const char* const* keys = nullptr;
    const char* verbatim[3] = {name.c_str(), nullptr, nullptr};
    for (const auto& entry : kAttributeKeys) {
        if (name == entry.name) keys = entry.keys;
    }
    if (keys == nullptr) keys = verbatim;
    for (int i = 0; i < 3 && keys[i] != nullptr; ++i) {
        const AVDictionaryEntry* e = av_dict_get(input->metadata, keys[i], nullptr, 0);
        if (e != nullptr && e->value != nullptr && e->value[0] != '\0') {
            value.type = WmAttribute::Type::String;
            value.text = e->value;
            return 0;
        }
    }
    return kWmAttributeMissing;
}

bool WmSyncReader::State::Configure(const AVFrame* f) {
    swr.reset();
    const int n = f->ch_layout.nb_channels;
    Layout in;
    if (n > 2 && f->ch_layout.order == AV_CHANNEL_ORDER_NATIVE) {
        if (av_channel_layout_copy(&in.v, &f->ch_layout) < 0) return false;
    } else {
        av_channel_layout_default(&in.v, n);
    }
    Layout out(channels);
    SwrContext* raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &out.v, AV_SAMPLE_FMT_S16, rate, &in.v, static_cast<AVSampleFormat>(f->format),
                            f->sample_rate, 0, nullptr) < 0)
        return false;
    SwrPtr context(raw);
    if (n <= 2) {
        if (!SetPlainMatrix(raw, n, channels)) return false;
    } else if (in.v.order != AV_CHANNEL_ORDER_NATIVE) {
        // Channels without a known meaning: the first two are taken.
        std::vector<double> matrix(static_cast<size_t>(channels) * static_cast<size_t>(n), 0.0);
        matrix[0] = 1.0;
        if (channels == 2) matrix[static_cast<size_t>(n) + 1] = 1.0;
        if (swr_set_matrix(raw, matrix.data(), n) < 0) return false;
    }
    if (swr_init(raw) < 0) return false;
    swr = std::move(context);
    swrFormat = f->format;
    swrRate = f->sample_rate;
    swrChannels = n;
    return true;
}

bool WmSyncReader::State::Deliver(const uint8_t* const* data, int frames, int64_t timestamp, WmSample& sample) {
    const int room = swr_get_out_samples(swr.get(), frames);
    if (room <= 0) return false;
    if (room > kMaxBlockFrames) return false;
    sample.pcm.resize(static_cast<size_t>(room) * static_cast<size_t>(channels));
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(sample.pcm.data())};
    const int made = swr_convert(swr.get(), out, room, const_cast<const uint8_t**>(data), frames);
    if (made <= 0) return false;
    sample.pcm.resize(static_cast<size_t>(made) * static_cast<size_t>(channels));
    const AVStream* st = input->streams[streamIndex];
    // A block without a time stamp (the resampler's tail) follows the one before.
    sample.time = nextTime;
    if (timestamp != AV_NOPTS_VALUE && timestamp >= 0)
        sample.time = std::max<uint64_t>(
            nextTime, static_cast<uint64_t>(av_rescale_q(timestamp, st->time_base, AVRational{1, kHundredNs})));
    sample.duration = static_cast<uint64_t>(made) * kHundredNs / static_cast<uint64_t>(rate);
    nextTime = sample.time + sample.duration;
    return true;
}

bool WmSyncReader::GetNextSample(WmSample& sample) {
    State& s = *s_;
    if (!s.decoder || s.drained) return false;
    int withoutAudio = 0;
    int foreign = 0;
    while (true) {
        const int got = avcodec_receive_frame(s.decoder.get(), s.frame.get());
        if (got == 0) {
            AVFrame* f = s.frame.get();
            const bool usable = f->nb_samples > 0 && f->nb_samples <= kMaxBlockFrames && f->sample_rate > 0 &&
                                f->sample_rate <= kMaxRate && f->ch_layout.nb_channels > 0;
            bool delivered = false;
            if (usable && (!s.swr || f->format != s.swrFormat || f->sample_rate != s.swrRate ||
                           f->ch_layout.nb_channels != s.swrChannels)) {
                if (!s.Configure(f)) {
                    av_frame_unref(f);
                    return false;
                }
            }
            if (usable) delivered = s.Deliver(f->extended_data, f->nb_samples, f->best_effort_timestamp, sample);
            av_frame_unref(f);
            if (delivered) return true;
            if (++withoutAudio > kMaxPacketsWithoutAudio) return false;
            continue;
        }
        if (got == AVERROR_EOF) {
            s.drained = true;
            // What the resampler still holds.
            return s.swr && s.Deliver(nullptr, 0, AV_NOPTS_VALUE, sample);
        }
        if (got != AVERROR(EAGAIN)) return false;
        if (s.flushed) return false;

        const int read = av_read_frame(s.input.get(), s.packet.get());
        if (read < 0) {
            s.flushed = true;
            if (avcodec_send_packet(s.decoder.get(), nullptr) < 0) return false;
            continue;
        }
        if (s.packet->stream_index != s.streamIndex) {
            av_packet_unref(s.packet.get());
            if (++foreign > kMaxForeignPackets) return false;
            continue;
        }
        foreign = 0;
        // A damaged packet is refused by the decoder and skipped; a long run of packets without audio
        // ends the stream.
        avcodec_send_packet(s.decoder.get(), s.packet.get());
        av_packet_unref(s.packet.get());
        if (++withoutAudio > kMaxPacketsWithoutAudio) return false;
    }
}

}  // namespace pelloran
