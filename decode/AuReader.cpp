#include "decode/AuReader.h"

#include <algorithm>
#include <bit>

#include "decode/G711.h"
#include "decode/Readers.h"

namespace pelloran {

namespace {

constexpr size_t kHeaderBytes = 120;
constexpr uint32_t kMaxEncoding = 27;

enum Encoding : uint32_t {
    kMulaw = 1,
    kLinear8 = 2,
    kLinear16 = 3,
    kLinear24 = 4,
    kLinear32 = 5,
    kFloat = 6,
    kDouble = 7,
    kG721 = 23,
    kG723_3 = 25,
    kG723_5 = 26,
    kAlaw = 27,
};

// Scales to 32 bits, truncates, keeps the top 16 bits; values beyond ±1.0 saturate, NaN is silence.
int16_t FloatToSample(double x) {
    if (x != x) return 0;
    x = std::clamp(x, -1.0, 1.0);
    const auto scaled = static_cast<int32_t>(static_cast<int64_t>(x * 2147483647.0));
    return static_cast<int16_t>(scaled >> 16);
}

}  // namespace

AuReader::AuReader() = default;

AuReader::~AuReader() { Close(); }

void AuReader::Close() {
    fileHandle.Close();
    expandByte = nullptr;
    readRoutine = nullptr;
    dataStart = 0;
    sourceBits = 0;
    storedBytes = 0;
    encoding = 0;
    bigEndian = 1;
    for (auto& state : adpcmState) state.Reset(4);
    codeBits = 0;
    bitBuffer = 0;
    bitCount = 0;
    truncated = false;
    wide = false;
    started = false;
    ResetState();
}

int AuReader::Open(const std::string& path, int rate) {
    (void)rate;
    Close();
    if (!fileHandle.Open(path, "rb")) return 0;
    const int64_t size = fileHandle.Size();
    uint8_t header[kHeaderBytes];
    const size_t got = fileHandle.Read(header, kHeaderBytes);
    if (size < 0 || got < 24 || !ParseHeader(header, got)) {
        Close();
        return 0;
    }

    const uint64_t fileSize = static_cast<uint64_t>(size);
    const uint32_t dataOffset = Load32(header + 4);
    const uint32_t dataSizeField = Load32(header + 8);
    if (dataOffset > fileSize || !fileHandle.Seek(dataOffset)) {
        Close();
        return 0;
    }
    dataStart = dataOffset;
    position = 0;
    // All ones means "to the end of the file"; a stated size beyond the file is cut to what is there.
    const uint64_t available = fileSize - dataOffset;
    length = dataSizeField == 0xFFFFFFFF ? available : std::min<uint64_t>(dataSizeField, available);
    truncated = dataSizeField != 0xFFFFFFFF && dataSizeField > available;

    const uint64_t bitsPerSecond = static_cast<uint64_t>(sourceBits) * channels * sampleRate;
    durationSeconds = static_cast<int32_t>(length * 8 / (static_cast<uint64_t>(sourceBits) * channels) /
                                           static_cast<uint64_t>(sampleRate));
    bitrateKbps = durationSeconds != 0 ? static_cast<int32_t>(length / (static_cast<uint64_t>(durationSeconds) * 125))
                                       : static_cast<int32_t>(bitsPerSecond / 1000);
    return 1;
}

bool AuReader::ParseHeader(const uint8_t* header, size_t size) {
    const uint32_t magic = LoadU32BE(header);
    if (magic == 0x2E736E64 || magic == 0x2E736400) {
        bigEndian = 1;
    } else if (magic == 0x646E732E || magic == 0x0064732E) {
        bigEndian = 0;
    } else {
        return false;
    }
    if (Load32(header + 4) < 24) return false;

    // Some writers put extra words before the encoding: look a little further for a plausible one.
    encoding = Load32(header + 12);
    size_t fieldsAt = 16;
    if (encoding > kMaxEncoding) {
        bool found = false;
        for (size_t at = 13; at < 13 + 20 && at + 12 <= size; ++at) {
            const uint32_t candidate = Load32(header + at);
            if (candidate <= kMaxEncoding) {
                encoding = candidate;
                fieldsAt = at + 4;
                found = true;
                break;
            }
        }
        if (!found) return false;
    }

    readRoutine = &AuReader::ReadLinear;
    switch (encoding) {
        case kMulaw: sourceBits = 8; expandByte = &UlawExpand; break;
        case kAlaw: sourceBits = 8; expandByte = &AlawExpand; break;
        case kLinear8: sourceBits = 8; break;
        case kLinear16: sourceBits = 16; break;
        case kLinear24: sourceBits = 24; break;
        case kLinear32: sourceBits = 32; break;
        case kFloat: sourceBits = 32; break;
        case kDouble: sourceBits = 64; break;
        case kG721: sourceBits = 4; break;
        case kG723_3: sourceBits = 3; break;
        case kG723_5: sourceBits = 5; break;
        default: return false;
    }
    if (encoding == kG721 || encoding == kG723_3 || encoding == kG723_5) {
        codeBits = sourceBits;
        for (auto& state : adpcmState) state.Reset(codeBits);
        bitBuffer = 0;
        bitCount = 0;
        readRoutine = &AuReader::ReadAdpcm;
    }
    storedBytes = (sourceBits + 7) / 8;
    bitsPerSample = 16;
    bytesPerSample = 2;

    const uint32_t rate = Load32(header + fieldsAt);
    const uint32_t channelField = Load32(header + fieldsAt + 4);
    sampleRate = (rate < 1000 || rate > 100000) ? 8000 : static_cast<int32_t>(rate);
    if (channelField == 0) return false;
    channels = (channelField == 1 || channelField == 2) ? static_cast<int32_t>(channelField) : 1;
    outputChannels = channels;
    return true;
}

int AuReader::Read(void* left, void* right) {
    if (readRoutine == nullptr || !fileHandle.IsOpen() || wide) return 0;
    started = true;
    return (this->*readRoutine)(left, right);
}

bool AuReader::Stored(StoredPcm& pcm) const {
    switch (encoding) {
        case kLinear8:
        case kLinear16:
        case kLinear24:
        case kLinear32: pcm.kind = StoredPcm::Signed; break;
        case kFloat:
        case kDouble: pcm.kind = StoredPcm::Float; break;
        default: return false;
    }
    pcm.bytes = storedBytes;
    pcm.bigEndian = bigEndian != 0;
    return pcm.WideBits() != 0;
}

PcmFormat AuReader::WideFormat() {
    StoredPcm pcm;
    if (readRoutine == nullptr || started || !Stored(pcm)) return {0, 0, 0, true};
    return {sampleRate, channels, pcm.WideBits(), true};
}

bool AuReader::UseWide() {
    if (WideFormat().rate == 0) return false;
    wide = true;
    return true;
}

int AuReader::ReadWide(int32_t* const* planes) {
    StoredPcm pcm;
    if (!wide || planes == nullptr || !fileHandle.IsOpen() || !Stored(pcm)) return 0;
    const size_t frameBytes = static_cast<size_t>(channels) * static_cast<size_t>(pcm.bytes);
    const size_t got = ReadData(frameBytes * kBlockFrames);
    const size_t frames = got / frameBytes;
    DecodeStoredPcm(ioBuffer.data(), frames, channels, pcm, pcm.WideBits(), planes);
    return static_cast<int>(frames);
}

size_t AuReader::ReadData(size_t request) {
    if (position >= length) return 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(request, length - position));
    position += want;
    if (ioBuffer.size() < want) ioBuffer.resize(want);
    const size_t got = fileHandle.Read(ioBuffer.data(), want);
    if (got < want) {
        truncated = true;
        position = length;  // the file ended early: so does the stream
    }
    return got;
}

int16_t AuReader::ConvertSample(const uint8_t* p) const {
    switch (encoding) {
        case kMulaw:
        case kAlaw:
            return expandByte(p[0]);
        case kLinear8:
            return static_cast<int16_t>(static_cast<int8_t>(p[0]) * 256);
        case kLinear16:
        case kLinear24:
        case kLinear32: {
            // The two most significant bytes.
            const uint8_t high = bigEndian ? p[0] : p[storedBytes - 1];
            const uint8_t low = bigEndian ? p[1] : p[storedBytes - 2];
            return static_cast<int16_t>(static_cast<uint16_t>((high << 8) | low));
        }
        case kFloat:
            return FloatToSample(std::bit_cast<float>(Load32(p)));
        case kDouble: {
            const uint64_t bits = bigEndian
                                      ? (static_cast<uint64_t>(LoadU32BE(p)) << 32) | LoadU32BE(p + 4)
                                      : (static_cast<uint64_t>(LoadU32LE(p + 4)) << 32) | LoadU32LE(p);
            return FloatToSample(std::bit_cast<double>(bits));
        }
        default:
            return 0;
    }
}

int AuReader::ReadLinear(void* left, void* right) {
    const size_t frameBytes = static_cast<size_t>(channels) * static_cast<size_t>(storedBytes);
    const size_t got = ReadData(frameBytes * kBlockFrames);
    const int frames = static_cast<int>(std::min<size_t>(got / frameBytes, kBlockFrames));
    const uint8_t* p = ioBuffer.data();
    auto* first = static_cast<int16_t*>(left);
    if (channels == 1) {
        for (int i = 0; i < frames; ++i, p += storedBytes) first[i] = ConvertSample(p);
    } else {
        auto* second = static_cast<int16_t*>(right);
        for (int i = 0; i < frames; ++i, p += frameBytes) {
            first[i] = ConvertSample(p);
            second[i] = ConvertSample(p + storedBytes);
        }
    }
    return frames;
}

int AuReader::ReadAdpcm(void* left, void* right) {
    const size_t got = ReadData(static_cast<size_t>(channels) * codeBits * kBlockFrames / 8);
    const int frames =
        static_cast<int>(std::min<size_t>(got * 8 / (static_cast<size_t>(channels) * codeBits), kBlockFrames));
    const uint8_t* p = ioBuffer.data();
    size_t next = 0;
    const uint32_t mask = (1u << codeBits) - 1;
    auto* out0 = static_cast<int16_t*>(left);
    auto* out1 = static_cast<int16_t*>(right);
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            // Codes are packed from the least significant bit up.
            while (bitCount < codeBits && next < got) {
                bitBuffer |= static_cast<uint32_t>(p[next++]) << bitCount;
                bitCount += 8;
            }
            if (bitCount < codeBits) return i;
            const uint32_t code = bitBuffer & mask;
            bitBuffer >>= codeBits;
            bitCount -= codeBits;
            (c == 0 ? out0 : out1)[i] = adpcmState[c].Decode(code);
        }
    }
    return frames;
}

std::unique_ptr<AudioDecoder> MakeAuReader() { return std::make_unique<AuReader>(); }

}  // namespace pelloran
