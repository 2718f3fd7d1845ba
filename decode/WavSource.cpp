#include "decode/WavSource.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "decode/FfmpegSource.h"
#include "decode/WavChunks.h"
#include "decode/WidePcm.h"
#include "media/PcmFormat.h"
#include "platform/File.h"
#include "platform/MpegFrames.h"

namespace pelloran {

namespace {

constexpr int kMaxStoredChannels = 64;        // the FFmpeg source's resampler takes no more
constexpr int kMaxRate = 1000000;       // nor a higher rate
constexpr uint32_t kMaxFmtBytes = 4096;  // far more than any format chunk needs
constexpr size_t kBlockBytes = 256 * 1024;
// FFmpeg looks at the first packets of a 16-bit stream for a compressed stream inside it (32 of 4 KiB).
constexpr size_t kProbeBytes = 256 * 1024;
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// The KSDATAFORMAT_SUBTYPE GUID after its leading format tag.
constexpr uint8_t kSubtypeTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool Is(const uint8_t* p, const char (&tag)[5]) { return std::memcmp(p, tag, 4) == 0; }

// A compressed stream carried as 16-bit PCM, which FFmpeg's stream probe finds and decodes instead of the
// samples: DTS syncs in 16-bit and 14-bit words of either order, TrueHD or MLP major syncs, four MPEG audio
// frames in a row anywhere, or AC-3, ADTS, MPEG audio or ID3 right at the start.
bool HasCompressedStream(const uint8_t* p, size_t n) {
    static constexpr uint8_t kSyncs[][4] = {
        {0x7F, 0xFE, 0x80, 0x01}, {0xFE, 0x7F, 0x01, 0x80}, {0x1F, 0xFF, 0xE8, 0x00},
        {0xFF, 0x1F, 0x00, 0xE8}, {0xF8, 0x72, 0x6F, 0xBA}, {0xF8, 0x72, 0x6F, 0xBB},
    };
    for (size_t i = 0; i + 4 <= n; ++i) {
        for (const auto& sync : kSyncs) {
            if (p[i] == sync[0] && std::memcmp(p + i, sync, 4) == 0) return true;
        }
        size_t at = i;
        int frames = 0;
        for (size_t size; frames < 4 && at + 4 <= n && (size = MpegAudioFrameBytes(p + at)) != 0; at += size) ++frames;
        if (frames >= 4) return true;
    }
    const auto startsStream = [](const uint8_t* q, size_t left) {
        if (left < 3) return false;
        return (q[0] == 0x0B && q[1] == 0x77) || (q[0] == 0x77 && q[1] == 0x0B) ||
               (q[0] == 0xFF && (q[1] & 0xE0) == 0xE0) || std::memcmp(q, "ID3", 3) == 0;
    };
    size_t first = 0;
    while (first < n && p[first] == 0) ++first;
    return startsStream(p, n) || startsStream(p + first, n - first);
}

// An IEC 61937 burst preamble: FFmpeg takes a plain PCM file holding one for the compressed stream.
bool HasBurstPreamble(const uint8_t* p, size_t n) {
    static constexpr uint8_t kPreamble[4] = {0x72, 0xF8, 0x1F, 0x4E};
    for (size_t i = 0; i + 4 <= n; ++i) {
        if (p[i] == 0x72 && std::memcmp(p + i, kPreamble, 4) == 0) return true;
    }
    return false;
}

// A file FFmpeg's prober would hand to the ACT demuxer, which the readers do not allow.
bool LooksLikeAct(const File& file, uint64_t fileSize) {
    uint8_t head[257];
    if (fileSize < 512 || !file.ReadExactAt(0, head, sizeof head) || LoadU32LE(head + 16) != 16) return false;
    return std::all_of(head + 44, head + 256, [](uint8_t b) { return b == 0; }) && head[256] == 0x84;
}

struct FmtChunk {
    int rate = 0;
    int channels = 0;
    int bits = 0;
    uint32_t byteRate = 0;
    int blockAlign = 0;
    bool isFloat = false;
};

// The format chunk's body, read the way FFmpeg reads it; nothing unless it is integer PCM of a plain width or
// 32-bit float (64-bit floats are left to FFmpeg).
std::optional<FmtChunk> ParseFmt(const uint8_t* p, uint32_t size) {
    if (size < 16) return std::nullopt;
    const uint16_t tag = LoadU16LE(p);
    FmtChunk fmt;
    fmt.channels = LoadU16LE(p + 2);
    const uint32_t rate = LoadU32LE(p + 4);
    fmt.byteRate = LoadU32LE(p + 8);
    fmt.blockAlign = LoadU16LE(p + 12);
    fmt.bits = LoadU16LE(p + 14);
    // Extra bytes after the fields; FFmpeg keeps them and may read a 32-bit stream as half floats by them.
    uint32_t extra = 0;
    if (size >= 18) extra = std::min<uint32_t>(size - 18, LoadU16LE(p + 16));
    if (tag == kFormatExtensible) {
        if (extra < 22) return std::nullopt;
        const uint16_t validBits = LoadU16LE(p + 18);
        const uint8_t* guid = p + 24;
        const uint32_t subtype = LoadU32LE(guid);
        if (validBits != fmt.bits || (subtype != kFormatPcm && subtype != kFormatFloat) ||
            std::memcmp(guid + 4, kSubtypeTail, 12) != 0)
            return std::nullopt;
        fmt.isFloat = subtype == kFormatFloat;
        extra -= 22;
    } else if (tag == kFormatFloat) {
        fmt.isFloat = true;
    } else if (tag != kFormatPcm) {
        return std::nullopt;
    }
    if (extra != 0 || (fmt.isFloat && fmt.bits != 32)) return std::nullopt;
    if (fmt.bits != 8 && fmt.bits != 16 && fmt.bits != 24 && fmt.bits != 32) return std::nullopt;
    if (fmt.channels < 1 || fmt.channels > kMaxStoredChannels || rate < 1 || rate > kMaxRate) return std::nullopt;
    fmt.rate = static_cast<int>(rate);
    if (fmt.blockAlign != fmt.channels * fmt.bits / 8) return std::nullopt;
    if (fmt.byteRate != static_cast<uint32_t>(fmt.rate) * static_cast<uint32_t>(fmt.blockAlign))
        return std::nullopt;
    return fmt;
}

// Whether FFmpeg would take a tag from the LIST chunk whose body is at body: an INFO entry with a value, the
// encoder's name aside (no tag of the file's). Anything unclear counts as a tag.
bool InfoHasTags(const File& file, uint64_t body, uint32_t size, uint64_t fileSize) {
    uint8_t type[4];
    if (!file.ReadExactAt(static_cast<int64_t>(body), type, sizeof type)) return true;
    if (!Is(type, "INFO")) return false;
    const uint64_t end = body + size;
    for (uint64_t at = body + 4; end >= 8 && at <= end - 8;) {
        uint8_t head[9];
        if (end > fileSize || !file.ReadExactAt(static_cast<int64_t>(at), head, sizeof head)) return true;
        const uint64_t entrySize = LoadU32LE(head + 4);
        if (entrySize > end - 8 - at) return true;
        if (head[8] != 0 && entrySize != 0 && LoadU32LE(head) != 0 && !Is(head, "ISFT")) return true;
        at += 8 + entrySize + (entrySize & 1);
    }
    return false;
}

// a * b / c rounded to the nearest, halves up, as FFmpeg rescales.
uint64_t Rescale(uint64_t a, uint64_t b, uint64_t c) {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b + c / 2;
    return static_cast<uint64_t>(product / c);
}

}  // namespace

std::optional<WavLayout> ParseWavLayout(const File& file) {
    std::optional<WavChunks> chunks = WavChunks::Start(file, ChunkStep::Even);
    // RF64 is left to FFmpeg.
    if (!chunks || chunks->Rf64() || chunks->FileSize() < 44) return std::nullopt;
    const uint64_t fileSize = chunks->FileSize();
    if (LooksLikeAct(file, fileSize)) return std::nullopt;

    std::optional<FmtChunk> fmt;
    bool haveFmt = false;
    bool haveFact = false;
    bool metadata = false;
    uint64_t dataStart = 0;
    uint64_t dataSize = 0;
    while (const std::optional<WavChunk> chunk = chunks->Next()) {
        const uint64_t body = chunk->body;
        const auto chunkSize = static_cast<uint32_t>(chunk->size);
        if (chunk->Is("fmt ")) {
            // Only the first counts, as with FFmpeg.
            if (!haveFmt) {
                if (chunkSize > kMaxFmtBytes || chunk->End() > fileSize) return std::nullopt;
                uint8_t bytes[kMaxFmtBytes];
                if (!file.ReadExactAt(static_cast<int64_t>(body), bytes, chunkSize)) return std::nullopt;
                fmt = ParseFmt(bytes, chunkSize);
                if (!fmt) return std::nullopt;
                haveFmt = true;
            }
        } else if (chunk->Is("data")) {
            if (!haveFmt || dataStart != 0 || chunkSize == 0 || chunkSize == 0xFFFFFFFFu) return std::nullopt;
            dataStart = body;
            dataSize = chunkSize;
        } else if (chunk->Is("fact")) {
            haveFact = true;
        } else if (chunk->Is("LIST")) {
            if (chunkSize < 4) return std::nullopt;  // FFmpeg refuses the file
            metadata = metadata || InfoHasTags(file, body, chunkSize, fileSize);
        } else if (chunk->Is("bext")) {
            // FFmpeg refuses a broadcast extension it cannot read in full.
            if (chunkSize < 602 || chunk->End() > fileSize) return std::nullopt;
            metadata = true;
        } else if (chunk->Is("ID3 ") || chunk->Is("id3 ")) {
            metadata = true;
        } else if (chunk->Is("SMV0") || chunk->Is("XMA2")) {
            return std::nullopt;  // video alongside, or another codec
        }
    }
    if (!fmt || dataStart == 0) return std::nullopt;

    WavLayout layout;
    layout.rate = fmt->rate;
    layout.channels = fmt->channels;
    layout.bytesPerSample = fmt->bits / 8;
    layout.isFloat = fmt->isFloat;
    layout.dataStart = dataStart;
    layout.fileBytes = fileSize;
    layout.containerTags = metadata;
    const auto frameBytes = static_cast<uint64_t>(fmt->blockAlign);
    const uint64_t dataEnd = dataStart + dataSize;
    layout.cutShort = dataEnd > fileSize;
    if (layout.cutShort) {
        // FFmpeg takes a sample count from a fact chunk then; and a bit rate it holds as an int.
        if (haveFact || uint64_t{fmt->byteRate} * 8 > 0x7FFFFFFF) return std::nullopt;
        const uint64_t held = fileSize - dataStart;
        layout.dataBytes = held / frameBytes * frameBytes;
        // No length from the header: FFmpeg estimates it from the file's size at the stated bit rate.
        layout.lengthFrames = Rescale(held, uint64_t{8} * static_cast<uint64_t>(fmt->rate),
                                      uint64_t{fmt->byteRate} * 8);
    } else {
        // At the end of the data FFmpeg reads on from the next "data" chunk, if there is one (at the very
        // next byte, an odd size not padded).
        chunks->Resume(dataEnd, ChunkStep::EvenSize);
        while (const std::optional<WavChunk> chunk = chunks->Next()) {
            if (chunk->Is("data")) return std::nullopt;
        }
        layout.dataBytes = dataSize / frameBytes * frameBytes;
        layout.lengthFrames = dataSize / frameBytes;
    }
    if (layout.dataBytes == 0) return std::nullopt;

    // A compressed stream inside the samples is found and decoded by FFmpeg.
    std::vector<uint8_t> probe(static_cast<size_t>(std::min<uint64_t>(kProbeBytes, layout.dataBytes)));
    if (!file.ReadExactAt(static_cast<int64_t>(dataStart), probe.data(), probe.size()) ||
        HasBurstPreamble(probe.data(), probe.size()) ||
        (fmt->bits == 16 && HasCompressedStream(probe.data(), probe.size())))
        return std::nullopt;
    return layout;
}

WavSource::WavSource(const File& file, std::string name, const WavLayout& layout, bool wide)
    : file_(file), name_(std::move(name)), layout_(layout), wide_(wide) {
    if (wide) format_ = {layout.rate, layout.channels, 32, WideWidth()};
    else format_ = {layout.rate, layout.channels, layout.bytesPerSample == 1 ? 8 : 16};
    lengthFrames_ = layout.lengthFrames;
}

std::unique_ptr<WavSource> WavSource::Open(const File& file, const std::string& name, bool wide) {
    const std::optional<WavLayout> layout = ParseWavLayout(file);
    // Floats are read on the wide path only (the general reader's way to keep them); the rest is FFmpeg's.
    if (!layout || (wide && layout->channels > kMaxWideChannels) || (layout->isFloat && !wide)) return nullptr;
    return std::unique_ptr<WavSource>(new WavSource(file, name, *layout, wide));
}

int WavSource::WideWidth() const {
    if (layout_.isFloat) return 32;
    return layout_.bytesPerSample <= 2 ? 16 : layout_.bytesPerSample * 8;
}

bool WavSource::KeepFloat() {
    if (!StoresFloat() || consumed_ != 0) return false;
    keepFloat_ = true;
    return true;
}

std::unique_ptr<PcmSource> WavSource::OpenWide() const { return Open(file_, name_, true); }

bool WavSource::Fill() {
    const size_t frameBytes = static_cast<size_t>(layout_.channels) * static_cast<size_t>(layout_.bytesPerSample);
    const uint64_t left = layout_.dataBytes - consumed_;
    if (left == 0) return false;
    if (block_.empty()) block_.resize(static_cast<size_t>(std::min<uint64_t>(kBlockBytes, layout_.dataBytes)));
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, block_.size() / frameBytes * frameBytes));
    const int64_t got = file_.ReadAt(static_cast<int64_t>(layout_.dataStart + consumed_), block_.data(), want);
    // A file that shrank since it was opened ends here.
    if (got < static_cast<int64_t>(frameBytes)) {
        consumed_ = layout_.dataBytes;
        return false;
    }
    blockUsed_ = static_cast<size_t>(got) / frameBytes * frameBytes;
    blockTaken_ = 0;
    consumed_ += blockUsed_;
    return true;
}

namespace {

void Store16(uint8_t* out, uint8_t low, uint8_t high) {
    out[0] = low;
    out[1] = high;
}

void Store32(uint8_t* out, int32_t v) { std::memcpy(out, &v, 4); }

float LoadFloat(const uint8_t* p) { return std::bit_cast<float>(LoadU32LE(p)); }

// samples float file samples into wide output samples; keep: their bit patterns as they are.
void ConvertFloat(const uint8_t* in, size_t samples, bool keep, uint8_t* out) {
    for (size_t i = 0; i < samples; ++i, in += 4, out += 4)
        Store32(out, keep ? static_cast<int32_t>(LoadU32LE(in)) : FloatToWide(LoadFloat(in), 32));
}

// samples file samples of `bytes` bytes into the source's output samples.
void Convert(const uint8_t* in, size_t samples, int bytes, bool wide, uint8_t* out) {
    if (!wide) {
        // 8 and 16 bits as they are; wider samples keep their top 16 bits, as FFmpeg's conversion cuts them.
        if (bytes <= 2) {
            std::memcpy(out, in, samples * static_cast<size_t>(bytes));
            return;
        }
        for (size_t i = 0; i < samples; ++i, in += bytes, out += 2) Store16(out, in[bytes - 2], in[bytes - 1]);
        return;
    }
    switch (bytes) {
        case 1:
            for (size_t i = 0; i < samples; ++i, out += 4) Store32(out, (static_cast<int32_t>(in[i]) - 128) * 256);
            return;
        case 2:
            for (size_t i = 0; i < samples; ++i, in += 2, out += 4)
                Store32(out, static_cast<int16_t>(LoadU16LE(in)));
            return;
        case 3:
            for (size_t i = 0; i < samples; ++i, in += 3, out += 4)
                Store32(out, static_cast<int32_t>(static_cast<uint32_t>(in[0]) << 8 |
                                                  static_cast<uint32_t>(in[1]) << 16 |
                                                  static_cast<uint32_t>(in[2]) << 24) >> 8);
            return;
        default:
            for (size_t i = 0; i < samples; ++i, in += 4, out += 4) Store32(out, static_cast<int32_t>(LoadU32LE(in)));
            return;
    }
}

}  // namespace

size_t WavSource::Read(void* out, size_t frames) {
    auto* at = static_cast<uint8_t*>(out);
    const size_t channels = static_cast<size_t>(layout_.channels);
    const size_t inFrame = channels * static_cast<size_t>(layout_.bytesPerSample);
    const size_t outFrame = format_.FrameBytes();
    size_t done = 0;
    while (done < frames) {
        if (blockTaken_ == blockUsed_ && !Fill()) break;
        const size_t n = std::min(frames - done, (blockUsed_ - blockTaken_) / inFrame);
        if (layout_.isFloat)
            ConvertFloat(block_.data() + blockTaken_, n * channels, keepFloat_, at + done * outFrame);
        else
            Convert(block_.data() + blockTaken_, n * channels, layout_.bytesPerSample, wide_, at + done * outFrame);
        blockTaken_ += n * inFrame;
        done += n;
    }
    return done;
}

bool WavSource::ReadTags(TagRecord& tags) { return ReadTagsAsMediaSource(file_, name_, layout_.containerTags, tags); }

}  // namespace pelloran
