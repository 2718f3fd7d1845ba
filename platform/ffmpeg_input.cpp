#include "platform/ffmpeg_input.h"

#include "platform/FfmpegApi.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "platform/File.h"
#include "platform/Id3v2Header.h"

namespace pelloran {

namespace {

struct DemuxerRow {
    const char* name;                         // the demuxer's name in the library
    bool general;                             // read by the general reader as well
    std::initializer_list<AVCodecID> codecs;  // general reader: the codecs taken from it; empty: any
};

// Containers whose media is all inside the one file. Playlists, concatenation lists, manifests, image
// sequences, session descriptions and the like are left out on purpose: they open other files or addresses.
const DemuxerRow kDemuxers[] = {
    {"mp3", true, {}},
    {"flac", true, {}},
    {"wv", true, {}},
    {"ape", true, {}},
    {"mpc", true, {}},
    {"mpc8", true, {}},
    {"tta", true, {}},
    {"adx", true, {}},
    {"aac", true, {}},
    {"wav", true, {}},
    {"ogg", true, {AV_CODEC_ID_SPEEX}},
    // External data references stay off (the demuxer's enable_drefs, set again below).
    {"mov,mp4,m4a,3gp,3g2,mj2", true, {AV_CODEC_ID_AAC, AV_CODEC_ID_ALAC, AV_CODEC_ID_MP3}},
    {"caf", true, {AV_CODEC_ID_ALAC}},
    {"asf",
     true,
     {AV_CODEC_ID_WMAV1, AV_CODEC_ID_WMAV2, AV_CODEC_ID_WMAPRO, AV_CODEC_ID_WMAVOICE, AV_CODEC_ID_WMALOSSLESS}},
    {"w64", false, {}},
    {"aiff", false, {}},
    {"au", false, {}},
    {"ac3", false, {}},
    {"eac3", false, {}},
    {"dts", false, {}},
    {"dtshd", false, {}},
    {"truehd", false, {}},
    {"mlp", false, {}},
    {"tak", false, {}},
    {"shn", false, {}},
    {"amr", false, {}},
    {"amrnb", false, {}},
    {"amrwb", false, {}},
    {"gsm", false, {}},
    {"dsf", false, {}},
    {"iff", false, {}},
    {"voc", false, {}},
    {"xwma", false, {}},
    {"oma", false, {}},
    {"loas", false, {}},
    {"sox", false, {}},
    {"ircam", false, {}},
    {"nistsphere", false, {}},
    {"qcp", false, {}},
    {"mmf", false, {}},
    {"vqf", false, {}},
    {"matroska,webm", false, {}},
    {"avi", false, {}},
    {"flv", false, {}},
    {"mpeg", false, {}},
    {"mpegts", false, {}},
    {"nut", false, {}},
    {"rm", false, {}},
    {"dv", false, {}},
};

// The set as the library's comma-separated format list.
const std::string& FormatList(DemuxerSet set) {
    static const auto build = [](bool generalOnly) {
        std::string list;
        for (const DemuxerRow& row : kDemuxers) {
            if (generalOnly && !row.general) continue;
            if (!list.empty()) list += ',';
            list += row.name;
        }
        return list;
    };
    static const std::string media = build(false);
    static const std::string general = build(true);
    static const std::string windowsMedia = "asf";
    return set == DemuxerSet::GeneralReader ? general : set == DemuxerSet::WindowsMedia ? windowsMedia : media;
}

// Owns an options dictionary.
struct Dictionary {
    AVDictionary* value = nullptr;
    Dictionary() = default;
    ~Dictionary() { av_dict_free(&value); }
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;
};

// ASF top-level objects: the header comes first, the data object follows it.
constexpr uint8_t kAsfHeaderId[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kAsfDataId[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint64_t kAsfObjectHeader = 24;  // id and 64-bit size

uint64_t LoadU64LE(const uint8_t* p) { return LoadU32LE(p) | (static_cast<uint64_t>(LoadU32LE(p + 4)) << 32); }

// True when the "data" chunk of a RIFF WAVE file states more than the file holds (0 and all ones tell
// nothing); the library takes such a file as complete.
bool WaveDataCutShort(const File& file) {
    const int64_t size = file.Size();
    uint8_t header[12];
    if (size < 12 || !file.ReadExactAt(0, header, sizeof header) || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0)
        return false;
    const auto fileSize = static_cast<uint64_t>(size);
    uint64_t at = 12;
    // Every chunk moves on by at least its 8-byte header, so the walk ends.
    while (at <= fileSize - 8) {
        uint8_t chunk[8];
        if (!file.ReadExactAt(static_cast<int64_t>(at), chunk, sizeof chunk)) return false;
        const uint32_t chunkSize = LoadU32LE(chunk + 4);
        const uint64_t body = at + 8;
        if (std::memcmp(chunk, "data", 4) == 0)
            return chunkSize != 0 && chunkSize != 0xFFFFFFFFu && chunkSize > fileSize - body;
        at = body + chunkSize + (chunkSize & 1);
    }
    return false;
}

// No stream but this one carries media (cover pictures aside): the container's duration is its duration.
bool OnlyMediaStream(const AVFormatContext& input, int index) {
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        if (static_cast<int>(i) == index) continue;
        const AVStream* other = input.streams[i];
        if (other->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        const AVMediaType type = other->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO) return false;
    }
    return true;
}

// The library reads the file through this: our offsets, so other readers of the same file do not disturb it.
// It sees the file from start on (after the leading tags).
struct FileReader {
    const File* file = nullptr;
    int64_t start = 0;
    int64_t position = 0;  // from start
    const CancelCheck* cancelled = nullptr;
    // Single bytes the library sees changed (from start): block types of tags it is not to parse.
    std::vector<std::pair<int64_t, uint8_t>> patches;

    bool Cancelled() const { return cancelled != nullptr && *cancelled && (*cancelled)(); }
    int64_t Size() const {
        const int64_t size = file->Size();
        return size < 0 ? size : std::max<int64_t>(size - start, 0);
    }
};

constexpr int kIoBufferBytes = 64 * 1024;
// Consecutive ID3v2 tags skipped at most; each moves on by at least its header.
constexpr int kMaxLeadingTags = 64;
// A FLAC comment block larger than this is shown to the library as padding: it reads the whole block at once and
// stores each comment at a cost that grows with those before it (100,000 comments: minutes, deaf to Cancel).
// TagLib reads the comments; ordinary blocks stay as they are (the library takes the channel mask from them).
constexpr uint32_t kMaxFlacCommentBlock = 64 * 1024;
constexpr int kMaxFlacBlocks = 1024;

// The type bytes of a native FLAC file's large comment blocks, changed to padding, at offsets from start.
std::vector<std::pair<int64_t, uint8_t>> HiddenFlacComments(const File& file, int64_t start) {
    std::vector<std::pair<int64_t, uint8_t>> patches;
    const int64_t size = file.Size();
    uint8_t header[4];
    if (!file.ReadExactAt(start, header, 4) || std::memcmp(header, "fLaC", 4) != 0) return patches;
    int64_t at = start + 4;
    for (int blocks = 0; blocks < kMaxFlacBlocks && at <= size - 4; ++blocks) {
        if (!file.ReadExactAt(at, header, 4)) break;
        const uint32_t length = (uint32_t{header[1]} << 16) | (uint32_t{header[2]} << 8) | header[3];
        if ((header[0] & 0x7F) == 4 && length > kMaxFlacCommentBlock)
            patches.emplace_back(at - start, static_cast<uint8_t>((header[0] & 0x80) | 1));
        if (header[0] & 0x80) break;  // the last block
        at += 4 + static_cast<int64_t>(length);
    }
    return patches;
}

int ReadPacket(void* opaque, uint8_t* buffer, int size) {
    auto* reader = static_cast<FileReader*>(opaque);
    if (reader->Cancelled()) return AVERROR_EXIT;
    const int64_t got =
        reader->file->ReadAt(reader->start + reader->position, buffer, static_cast<size_t>(std::max(size, 0)));
    if (got < 0) return AVERROR(EIO);
    if (got == 0) return AVERROR_EOF;
    for (const auto& [at, value] : reader->patches) {
        if (at >= reader->position && at < reader->position + got) buffer[at - reader->position] = value;
    }
    reader->position += got;
    return static_cast<int>(got);
}

int64_t SeekTo(void* opaque, int64_t offset, int whence) {
    auto* reader = static_cast<FileReader*>(opaque);
    if (reader->Cancelled()) return AVERROR_EXIT;
    const int64_t size = reader->Size();
    if (whence & AVSEEK_SIZE) return size >= 0 ? size : AVERROR(ENOSYS);
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET: break;
        case SEEK_CUR: base = reader->position; break;
        case SEEK_END:
            if (size < 0) return AVERROR(EINVAL);
            base = size;
            break;
        default: return AVERROR(EINVAL);
    }
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return AVERROR(EINVAL);
    reader->position = base + offset;
    return reader->position;
}

// The library's interrupt callback: polled by its longer loops (stream probing among them).
int Interrupted(void* opaque) { return static_cast<const FileReader*>(opaque)->Cancelled() ? 1 : 0; }

struct IoFreer {
    void operator()(AVIOContext* io) const {
        delete static_cast<FileReader*>(io->opaque);
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
using IoPtr = std::unique_ptr<AVIOContext, IoFreer>;

}  // namespace

void MediaInputCloser::operator()(AVFormatContext* context) const {
    AVIOContext* io = context->pb;  // ours: the library leaves it alone
    avformat_close_input(&context);
    if (io != nullptr) IoFreer{}(io);
}

uint64_t LeadingId3v2Bytes(const File& file) {
    const int64_t size = file.Size();
    if (size <= 0) return 0;
    const auto fileSize = static_cast<uint64_t>(size);
    uint64_t offset = 0;
    for (int tags = 0; tags < kMaxLeadingTags && offset < fileSize; ++tags) {
        uint8_t header[kId3v2HeaderBytes];
        if (!file.ReadExactAt(static_cast<int64_t>(offset), header, sizeof header)) break;
        const std::optional<Id3v2Header> tag = ParseId3v2Header(header, sizeof header);
        if (!tag) break;
        offset = std::min<uint64_t>(offset + tag->totalSize(), fileSize);
    }
    return offset;
}

int64_t MediaStartOffset(const AVFormatContext& input) {
    if (input.pb == nullptr || input.pb->opaque == nullptr) return 0;
    return static_cast<const FileReader*>(input.pb->opaque)->start;
}

MediaInput OpenLocalMedia(const File& file, const std::string& name, DemuxerSet set, const CancelCheck* cancelled,
                          std::string* why) {
    const auto refuse = [why](std::string text) {
        if (why != nullptr) *why = std::move(text);
        return MediaInput{};
    };
    if (!ffmpeg::Load()) return refuse("FFmpeg could not be loaded: " + ffmpeg::LoadError());
    if (!file.IsOpen()) return refuse("the file is not open");
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
    if (buffer == nullptr) return refuse(ffmpeg::ErrorText(AVERROR(ENOMEM)));
    const auto start = static_cast<int64_t>(LeadingId3v2Bytes(file));
    auto reader = std::make_unique<FileReader>(FileReader{&file, start, 0, cancelled, HiddenFlacComments(file, start)});
    AVIOContext* raw = avio_alloc_context(buffer, kIoBufferBytes, 0, reader.get(), ReadPacket, nullptr, SeekTo);
    if (raw == nullptr) {
        av_free(buffer);
        return refuse(ffmpeg::ErrorText(AVERROR(ENOMEM)));
    }
    FileReader* opaque = reader.release();  // freed with the context from now on
    IoPtr io(raw);

    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr) return refuse(ffmpeg::ErrorText(AVERROR(ENOMEM)));
    context->pb = io.get();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    context->interrupt_callback.callback = Interrupted;
    context->interrupt_callback.opaque = opaque;
    Dictionary options;
    // The library checks the chosen demuxer against format_whitelist before the demuxer reads anything.
    av_dict_set(&options.value, "protocol_whitelist", "file", 0);
    av_dict_set(&options.value, "format_whitelist", FormatList(set).c_str(), 0);
    av_dict_set(&options.value, "enable_drefs", "0", 0);
    if (const int result = avformat_open_input(&context, name.c_str(), nullptr, &options.value); result < 0) {
        // EINVAL: what the library took it for is not on the list (a file of no media format at all, mostly).
        if (result == AVERROR(EINVAL)) return refuse("not a media format it reads");
        return refuse(ffmpeg::ErrorText(result));  // context freed
    }
    io.release();  // closed with the input from now on
    return MediaInput(context);
}

bool TakesCodec(DemuxerSet set, const AVFormatContext& input, int codecId) {
    if (set != DemuxerSet::GeneralReader) return true;
    if (input.iformat == nullptr) return false;
    for (const DemuxerRow& row : kDemuxers) {
        if (!row.general || std::strcmp(row.name, input.iformat->name) != 0) continue;
        return row.codecs.size() == 0 ||
               std::find(row.codecs.begin(), row.codecs.end(), static_cast<AVCodecID>(codecId)) != row.codecs.end();
    }
    return false;
}

bool AsfDataCutShort(const std::string& path) {
    File file;
    return file.Open(path, "rb") && AsfDataCutShort(file);
}

bool AsfDataCutShort(const File& file) {
    const int64_t size = file.Size();
    uint8_t object[kAsfObjectHeader];
    if (size < 0 || !file.ReadExactAt(0, object, sizeof object) || std::memcmp(object, kAsfHeaderId, 16) != 0)
        return false;
    const auto fileSize = static_cast<uint64_t>(size);
    const uint64_t headerSize = LoadU64LE(object + 16);
    if (headerSize < kAsfObjectHeader) return false;
    // The data object must follow the header: a file that ends before it is cut.
    if (headerSize > fileSize - kAsfObjectHeader) return true;
    if (!file.ReadExactAt(static_cast<int64_t>(headerSize), object, sizeof object)) return true;
    if (std::memcmp(object, kAsfDataId, 16) != 0) return false;
    const uint64_t dataSize = LoadU64LE(object + 16);
    if (dataSize == 0 || dataSize == UINT64_MAX) return false;
    return dataSize > fileSize - headerSize;
}

void StreamEndWatch::Start(const AVFormatContext& input, int streamIndex, const File& file) {
    *this = StreamEndWatch{};
    if (streamIndex < 0 || static_cast<unsigned>(streamIndex) >= input.nb_streams) return;
    // Containers whose data size the library does not hold against the file.
    const char* demuxer = input.iformat != nullptr ? input.iformat->name : "";
    if (std::strcmp(demuxer, "asf") == 0) dataCut_ = AsfDataCutShort(file);
    if (std::strcmp(demuxer, "wav") == 0) dataCut_ = WaveDataCutShort(file);

    // Only a duration the file itself states; one estimated from the bit rate or the last packets is no promise.
    if (input.duration_estimation_method != AVFMT_DURATION_FROM_STREAM) return;
    const AVStream* stream = input.streams[streamIndex];
    const AVRational base = stream->time_base;
    if (base.num <= 0 || base.den <= 0) return;
    int64_t duration = 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        duration = stream->duration;
    } else if (input.duration != AV_NOPTS_VALUE && input.duration > 0 && OnlyMediaStream(input, streamIndex)) {
        duration = av_rescale_q(input.duration, AV_TIME_BASE_Q, base);
    }
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    if (duration <= 0 || start < -INT64_MAX / 4 || start > INT64_MAX / 4 || duration > INT64_MAX / 4) return;
    expectedEnd_ = start + duration;
    // Short by more than a second and more than 1 %: container rounding and codec delays stay below that.
    margin_ = std::max(av_rescale_q(1, AVRational{1, 1}, base), duration / 100);
    haveExpected_ = true;
}

void StreamEndWatch::OnPacket(const AVPacket& packet) {
    const int64_t at = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    if (at == AV_NOPTS_VALUE || at > INT64_MAX / 4 || at < -INT64_MAX / 4) return;
    const int64_t end = at + std::clamp<int64_t>(packet.duration, 0, INT64_MAX / 4);
    seenEnd_ = haveSeen_ ? std::max(seenEnd_, end) : end;
    haveSeen_ = true;
}

void StreamEndWatch::OnReadEnd(int result) {
    if (result < 0 && result != AVERROR_EOF && result != AVERROR(EAGAIN)) readError_ = true;
}

bool StreamEndWatch::Truncated() const {
    if (readError_ || dataCut_) return true;
    return haveExpected_ && haveSeen_ && seenEnd_ < expectedEnd_ - margin_;
}

}  // namespace pelloran
