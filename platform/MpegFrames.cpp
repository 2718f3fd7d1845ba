#include "platform/MpegFrames.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/File.h"
#include "platform/Id3v2Header.h"

namespace pelloran {

namespace {

// Reads small pieces of a file through a 64 KiB window.
class Window {
public:
    explicit Window(const File& file) : file_(file), size_(file.Size()) {}
    int64_t Size() const { return size_; }
    bool Get(int64_t at, uint8_t* out, size_t n) {
        if (at < 0 || size_ < 0 || at + static_cast<int64_t>(n) > size_) return false;
        if (at < start_ || at + static_cast<int64_t>(n) > start_ + static_cast<int64_t>(bytes_.size())) {
            bytes_.resize(kWindow);
            const int64_t got = file_.ReadAt(at, bytes_.data(), bytes_.size());
            if (got < static_cast<int64_t>(n)) return false;
            bytes_.resize(static_cast<size_t>(got));
            start_ = at;
        }
        std::memcpy(out, bytes_.data() + (at - start_), n);
        return true;
    }

private:
    static constexpr size_t kWindow = 64 * 1024;
    const File& file_;
    int64_t size_;
    int64_t start_ = 0;
    std::vector<uint8_t> bytes_;
};

constexpr int kAdtsRates[16] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                16000, 12000, 11025, 8000,  7350,  0,     0,     0};

bool IsAdts(const uint8_t* p) { return p[0] == 0xFF && (p[1] & 0xF6) == 0xF0; }

int Version(const uint8_t* p) { return MpegVersionField(p); }
int Layer(const uint8_t* p) { return MpegLayerField(p); }

// Bit rates in kbit/s by bit-rate index: MPEG-1 layers I, II, III, then MPEG-2/2.5 layer I, layers II and III.
constexpr int kBitrates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};

// The fields every frame of one stream shares: version, layer, rate, free format.
bool SameStream(const uint8_t* a, const uint8_t* b) {
    return IsMpegAudioHeader(b) && (a[1] & 0xFE) == (b[1] & 0xFE) && (a[2] & 0xFC) == (b[2] & 0xFC);
}

int MpegRate(const uint8_t* p) {
    static constexpr int kRates[3] = {44100, 48000, 32000};
    const int rate = kRates[(p[2] >> 2) & 3];
    return Version(p) == 3 ? rate : Version(p) == 2 ? rate / 2 : rate / 4;
}

int SamplesPerFrame(const uint8_t* p) {
    if (Layer(p) == 3) return 384;
    if (Layer(p) == 2 || Version(p) == 3) return 1152;
    return 576;
}

// Padding unit: four bytes for layer I, one for the others.
int PaddingBytes(const uint8_t* p) { return ((p[2] >> 1) & 1) * (Layer(p) == 3 ? 4 : 1); }

// A Layer III frame carrying an encoder's "Xing"/"Info" header after its side information, or "VBRI" at 36;
// p holds at least 48 bytes.
bool IsInformationFrame(const uint8_t* p) {
    if (std::memcmp(p + 36, "VBRI", 4) == 0) return true;
    if (Layer(p) != 1) return false;
    const bool mpeg1 = Version(p) == 3;
    const bool mono = (p[3] >> 6) == 3;
    const size_t sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const size_t at = 4 + ((p[1] & 1) ? 0 : 2) + sideInfo;
    return std::memcmp(p + at, "Xing", 4) == 0 || std::memcmp(p + at, "Info", 4) == 0;
}

// The largest free-format frame: 640 kbit/s layer III at 8 kHz is 11520 bytes (MPEG-2.5 halves the factor).
constexpr int64_t kMaxFreeFrame = 12 * 1024;

}  // namespace

bool IsMpegAudioHeader(const uint8_t* h) {
    return h[0] == 0xFF && (h[1] & 0xE0) == 0xE0 && Version(h) != 1 && Layer(h) != 0 && (h[2] >> 4) != 15 &&
           ((h[2] >> 2) & 3) != 3;
}

int MpegAudioKbps(const uint8_t* h) {
    const int version = Version(h);
    const int layer = Layer(h);
    const int row = version == 3 ? 3 - layer : (layer == 3 ? 3 : 4);
    return kBitrates[row][h[2] >> 4];
}

uint64_t MpegAudioFrameBytes(const uint8_t* h) {
    if (!IsMpegAudioHeader(h)) return 0;
    const int kbps = MpegAudioKbps(h);
    if (kbps == 0) return 0;
    const int rate = MpegRate(h);
    const int padding = (h[2] >> 1) & 1;
    if (Layer(h) == 3) return static_cast<uint64_t>((12000 * kbps / rate + padding) * 4);
    const int factor = (Layer(h) == 1 && Version(h) != 3) ? 72000 : 144000;
    return static_cast<uint64_t>(factor * kbps / rate + padding);
}

int MpegHeaderChannelMode(const uint8_t* h) {
    if (!IsMpegAudioHeader(h) || MpegAudioKbps(h) == 0) return 4;  // free format is refused too
    return h[3] >> 6;
}

uint64_t SkipId3v2Tags(const File& file) {
    const int64_t size = file.Size();
    if (size < 0) return 0;
    const auto fileSize = static_cast<uint64_t>(size);
    uint64_t offset = 0;
    for (int tags = 0; tags < 8; ++tags) {
        uint8_t header[kId3v2HeaderBytes];
        if (!file.ReadExactAt(static_cast<int64_t>(offset), header, sizeof header)) break;
        const std::optional<Id3v2Header> tag = ParseId3v2Header(header, sizeof header);
        if (!tag || offset + tag->totalSize() > fileSize) break;
        offset += tag->totalSize();
    }
    return offset;
}

std::optional<uint64_t> FindFirstMpegFrame(const File& file) {
    const int64_t size = file.Size();
    if (size < 4) return std::nullopt;
    const auto fileSize = static_cast<uint64_t>(size);
    uint64_t offset = SkipId3v2Tags(file);

    // Look for the frame sync within the next megabyte (padding or junk may precede the audio).
    constexpr uint64_t kScanLimit = 1 << 20;
    std::vector<uint8_t> chunk(64 * 1024 + 3);
    uint64_t scanned = 0;
    std::optional<uint64_t> start;
    while (!start && scanned < kScanLimit && offset + 3 < fileSize) {
        const int64_t got = file.ReadAt(static_cast<int64_t>(offset), chunk.data(), chunk.size());
        if (got < 4) break;
        for (size_t i = 0; i + 3 < static_cast<size_t>(got); ++i) {
            if (IsMpegAudioHeader(&chunk[i])) {
                start = offset + i;
                break;
            }
        }
        offset += static_cast<uint64_t>(got) - 3;
        scanned += static_cast<uint64_t>(got) - 3;
    }
    return start;
}

std::optional<uint64_t> FindMpegAudioStart(const File& file) {
    const std::optional<uint64_t> start = FindFirstMpegFrame(file);
    if (!start) return start;
    const auto fileSize = static_cast<uint64_t>(file.Size());

    // An encoder's information frame holds no audio: the audio starts after it.
    uint8_t frame[48];
    if (!file.ReadExactAt(static_cast<int64_t>(*start), frame, sizeof frame)) return start;
    const uint64_t frameBytes = MpegAudioFrameBytes(frame);
    if (frameBytes == 0 || *start + frameBytes + 4 > fileSize || !IsInformationFrame(frame)) return start;
    uint8_t next[4];
    if (!file.ReadExactAt(static_cast<int64_t>(*start + frameBytes), next, sizeof next) ||
        !IsMpegAudioHeader(next))
        return start;
    return *start + frameBytes;
}

std::optional<FrameScan> ScanAdts(const File& file) {
    Window window(file);
    int64_t at = static_cast<int64_t>(SkipId3v2Tags(file));
    uint8_t h[7];
    if (!window.Get(at, h, sizeof h) || !IsAdts(h)) return std::nullopt;
    FrameScan scan;
    scan.rate = kAdtsRates[(h[2] >> 2) & 15];
    const int config = ((h[2] & 1) << 2) | (h[3] >> 6);
    scan.channels = config == 7 ? 8 : config;
    if (scan.rate == 0) return std::nullopt;
    while (window.Get(at, h, sizeof h) && IsAdts(h)) {
        const int64_t length = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
        if (length < 7) break;
        scan.samples += 1024u * static_cast<uint64_t>((h[6] & 3) + 1);
        ++scan.frames;
        scan.audioBytes += static_cast<uint64_t>(std::min(length, window.Size() - at));
        at += length;
    }
    return scan;
}

std::optional<FrameScan> ScanFreeFormatMpeg(const File& file) {
    const std::optional<uint64_t> start = FindMpegAudioStart(file);
    if (!start) return std::nullopt;
    Window window(file);
    auto at = static_cast<int64_t>(*start);
    uint8_t first[4];
    if (!window.Get(at, first, sizeof first) || !IsMpegAudioHeader(first) || (first[2] >> 4) != 0)
        return std::nullopt;
    // The frame size: the distance to the next header of the same stream.
    uint8_t next[4];
    int64_t size = 0;
    for (int64_t d = 24; d <= kMaxFreeFrame && window.Get(at + d, next, sizeof next); ++d) {
        if (SameStream(first, next)) {
            size = d;
            break;
        }
    }
    if (size == 0) return std::nullopt;
    const int64_t base = size - PaddingBytes(first);
    FrameScan scan;
    scan.rate = MpegRate(first);
    scan.channels = (first[3] >> 6) == 3 ? 1 : 2;
    uint8_t h[4];
    while (window.Get(at, h, sizeof h) && SameStream(first, h)) {
        const int64_t length = base + PaddingBytes(h);
        scan.samples += static_cast<uint64_t>(SamplesPerFrame(h));
        ++scan.frames;
        scan.audioBytes += static_cast<uint64_t>(std::min(length, window.Size() - at));
        at += length;
    }
    return scan;
}

}  // namespace pelloran
