#include "decode/AiffReader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "decode/G711.h"
#include "decode/Readers.h"

namespace pelloran {

namespace {

constexpr uint32_t kMaxSampleRate = 1000000;
// COMM chunks of this size or more are refused; the fields we use are in its first 22 bytes.
constexpr uint32_t kMaxCommBytes = 0x800000;
constexpr int kIma4PacketBytes = 34;
constexpr int kIma4PacketFrames = 64;
constexpr int kGsmFrameBytes = 33;
constexpr int kGsmFrameSamples = 160;

bool IdIs(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// IEEE 754 80-bit extended value; infinity for the all-ones exponent.
double Extended80(const uint8_t* p) {
    const int exponent = ((p[0] & 0x7F) << 8) | p[1];
    const uint32_t high = LoadU32BE(p + 2);
    const uint32_t low = LoadU32BE(p + 6);
    if (exponent == 0 && high == 0 && low == 0) return 0.0;
    if (exponent == 0x7FFF) return (p[0] & 0x80) ? -HUGE_VAL : HUGE_VAL;
    const double value = std::ldexp(static_cast<double>(high), exponent - 16383 - 31) +
                         std::ldexp(static_cast<double>(low), exponent - 16383 - 63);
    return (p[0] & 0x80) ? -value : value;
}

// Scales to 32 bits, truncates, keeps the top 16 bits; values beyond ±1.0 saturate, NaN is silence.
int16_t FloatToSample(double x) {
    if (x != x) return 0;
    x = std::clamp(x, -1.0, 1.0);
    const auto scaled = static_cast<int32_t>(static_cast<int64_t>(x * 2147483647.0));
    return static_cast<int16_t>(scaled >> 16);
}

}  // namespace

// Feeds the DWVW decoder from the sound data, counting what it takes.
class AiffReader::DataSource : public DwvwByteSource {
public:
    explicit DataSource(AiffReader& reader) : reader_(reader) {}
    size_t Fill(uint8_t* buffer, size_t capacity) override { return reader_.ReadData(buffer, capacity); }

private:
    AiffReader& reader_;
};

AiffReader::AiffReader() = default;

AiffReader::~AiffReader() { Close(); }

void AiffReader::Close() {
    fileHandle.Close();
    gsmState.Destroy();
    dwvwState.reset();
    dwvwValues = {};
    dwvwValuesLeft = 0;
    expandByte = nullptr;
    readRoutine = nullptr;
    frameCount = 0;
    frameCountStated = false;
    sourceBits = 0;
    storedBytes = 0;
    secondOffset = 0;
    nextFrameOffset = 0;
    compression = kPcm;
    byteOrder = 2;
    fileSize = 0;
    dataStart = dataSize = dataLeft = 0;
    truncated = false;
    wide = false;
    started = false;
    ResetState();
}

int AiffReader::Open(const std::string& path, int rate) {
    (void)rate;
    Close();
    if (!fileHandle.Open(path, "rb")) return 0;
    const int64_t size = fileHandle.Size();
    if (size < 12) {
        Close();
        return 0;
    }
    fileSize = static_cast<uint64_t>(size);
    length = fileSize;
    if (!ParseChunks() || !SetUp()) {
        Close();
        return 0;
    }

    // Block formats count what the data holds; for the others a count the data cannot hold
    // (or none at all) gives way to what the data holds.
    uint64_t frames = frameCount;
    if (compression == kIma4) {
        frames = dataSize / (kIma4PacketBytes * channels) * kIma4PacketFrames;
    } else if (compression == kGsm) {
        frames = dataSize / kGsmFrameBytes * kGsmFrameSamples / channels;
    } else if (compression != kDwvw) {
        const uint64_t dataFrames = dataSize / static_cast<uint64_t>(channels * storedBytes);
        frames = frameCountStated ? std::min<uint64_t>(frameCount, dataFrames) : dataFrames;
    }
    frameCount = static_cast<uint32_t>(std::min<uint64_t>(frames, UINT32_MAX));

    durationSeconds = sampleRate > 0 ? static_cast<int32_t>(frameCount / static_cast<uint32_t>(sampleRate)) : 0;
    if (durationSeconds != 0) {
        bitrateKbps = static_cast<int32_t>(length / (static_cast<uint64_t>(durationSeconds) * 125));
    } else {
        bitrateKbps = static_cast<int32_t>(static_cast<int64_t>(sourceBits) * channels * sampleRate / 1000);
    }
    bytesPerSample = bitsPerSample / 8;
    if (!fileHandle.Seek(static_cast<int64_t>(dataStart))) {
        Close();
        return 0;
    }
    position = dataStart;
    return 1;
}

bool AiffReader::ParseChunks() {
    uint8_t header[12];
    if (!fileHandle.ReadExact(header, 12) || !IdIs(header, "FORM")) return false;
    bool aifc = false;
    if (IdIs(header + 8, "AIFC")) {
        aifc = true;
    } else if (!IdIs(header + 8, "AIFF")) {
        return false;
    }

    bool commSeen = false;
    bool soundSeen = false;
    for (;;) {
        uint8_t chunk[8];
        if (!fileHandle.ReadExact(chunk, 8)) return false;
        const uint32_t size = LoadU32BE(chunk + 4);
        const int64_t bodyAt = fileHandle.Tell();
        if (bodyAt < 0) return false;
        const uint64_t body = static_cast<uint64_t>(bodyAt);
        const uint64_t next = body + size + (size & 1);  // odd sizes are padded to even

        if (IdIs(chunk, "COMM")) {
            if (!ParseComm(size, aifc)) return false;
            commSeen = true;
            if (soundSeen) return true;
        } else if (IdIs(chunk, "SSND")) {
            uint8_t ssnd[8];
            if (size < 8 || !fileHandle.ReadExact(ssnd, 8)) return false;
            const uint32_t offset = LoadU32BE(ssnd);
            if (offset > size - 8) return false;
            dataStart = body + 8 + offset;
            if (dataStart > fileSize) return false;
            // A size that runs past the end of the file is cut to what is there; the pad byte is not data.
            dataSize = std::min<uint64_t>(size - 8 - offset, fileSize - dataStart);
            // Cut short, unless all ones says the writer never came back to fill the size in.
            truncated = size != 0xFFFFFFFFu && size - 8 - offset > fileSize - dataStart;
            dataLeft = dataSize;
            soundSeen = true;
            if (commSeen) return true;
        }
        if (next > fileSize || !fileHandle.Seek(static_cast<int64_t>(next))) return false;
    }
}

bool AiffReader::ParseComm(uint32_t size, bool aifc) {
    if (aifc ? size < 22 : size != 18) return false;
    if (size >= kMaxCommBytes) return false;
    const int64_t here = fileHandle.Tell();
    if (here < 0 || size > fileSize - static_cast<uint64_t>(here)) return false;
    uint8_t comm[22];
    if (!fileHandle.ReadExact(comm, aifc ? 22 : 18)) return false;

    channels = LoadU16BE(comm);
    if (channels == 1 || channels == 2) {
        outputChannels = channels;
    } else if (channels == 3 || channels == 4 || channels == 6) {
        outputChannels = 2;
    } else {
        return false;
    }
    frameCount = LoadU32BE(comm + 2);
    frameCountStated = frameCount != 0 && frameCount != 0xFFFFFFFF;
    if (!frameCountStated) frameCount = 1;
    sourceBits = LoadU16BE(comm + 6);
    const double rate = Extended80(comm + 8);
    // Rates of 0, below 1 Hz, negative, infinite or NaN are refused.
    if (!(rate >= 1.0 && rate <= kMaxSampleRate)) return false;
    sampleRate = static_cast<int32_t>(rate);

    compression = kPcm;
    byteOrder = 2;
    if (!aifc) return true;

    char type[4];
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(comm[18 + i]);
        type[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    auto is = [&](const char* name) { return std::memcmp(type, name, 4) == 0; };
    if (is("NONE") || is("TWOS") || is("IN24") || is("IN32")) {
        compression = kPcm;
    } else if (is("SOWT") || is("23NI")) {
        compression = kPcm;
        byteOrder = 1;
    } else if (is("ULAW")) {
        compression = kUlaw;
        sourceBits = 8;
    } else if (is("ALAW")) {
        compression = kAlaw;
        sourceBits = 8;
    } else if (is("FL32")) {
        compression = kFloat32;
        sourceBits = 32;
    } else if (is("FL64")) {
        compression = kFloat64;
        sourceBits = 64;
    } else if (is("IMA4")) {
        // Packets of both channels are decoded together; other layouts are left to the fallback readers.
        if (channels != 2) return false;
        compression = kIma4;
        sourceBits = 4;
    } else if (is("RAW ")) {
        compression = kRaw;
        sourceBits = 8;
    } else if (is("GSM ")) {
        if (channels > 2) return false;
        compression = kGsm;
    } else if (is("DWVW")) {
        if (channels > 2 || sourceBits < 8 || sourceBits > 24) return false;
        compression = kDwvw;
    } else {
        return false;
    }
    return true;
}

bool AiffReader::SetUp() {
    bitsPerSample = 16;
    storedBytes = (sourceBits + 7) / 8;
    switch (compression) {
        case kPcm:
            if (sourceBits < 1 || sourceBits > 32) return false;
            if (sourceBits <= 8) {
                readRoutine = &AiffReader::ReadPcm8;
                bitsPerSample = 8;
            } else {
                readRoutine = &AiffReader::ReadPcm16;
            }
            break;
        case kUlaw:
        case kAlaw:
            expandByte = compression == kUlaw ? &UlawExpand : &AlawExpand;
            readRoutine = &AiffReader::ReadG711;
            break;
        case kFloat32:
            readRoutine = &AiffReader::ReadFloat32;
            break;
        case kFloat64:
            readRoutine = &AiffReader::ReadFloat64;
            break;
        case kIma4:
            readRoutine = &AiffReader::ReadIma4;
            break;
        case kRaw:
            readRoutine = &AiffReader::ReadRaw;
            bitsPerSample = 8;
            break;
        case kGsm:
            if (!gsmState.Create(false)) return false;
            readRoutine = &AiffReader::ReadGsm;
            break;
        case kDwvw:
            dwvwState = std::make_unique<DwvwDecoder>();
            if (!dwvwState->Init(sourceBits)) return false;
            dwvwValues.assign(static_cast<size_t>(channels) * kBlockFrames, 0);
            dwvwValuesLeft = frameCountStated ? static_cast<uint64_t>(frameCount) * channels : UINT64_MAX;
            readRoutine = &AiffReader::ReadDwvw;
            break;
        default:
            return false;
    }

    // Which stored samples become channels 1 and 2.
    const int b = storedBytes;
    switch (channels) {
        case 2: secondOffset = b; nextFrameOffset = b; break;
        case 3: secondOffset = b; nextFrameOffset = 2 * b; break;
        case 4: secondOffset = b; nextFrameOffset = 3 * b; break;
        case 6: secondOffset = 3 * b; nextFrameOffset = 3 * b; break;
        default: secondOffset = 0; nextFrameOffset = 0; break;
    }
    return true;
}

int AiffReader::Read(void* left, void* right) {
    if (readRoutine == nullptr || !fileHandle.IsOpen() || wide) return 0;
    started = true;
    return (this->*readRoutine)(left, right);
}

bool AiffReader::Stored(StoredPcm& pcm) const {
    if (compression == kPcm) {
        pcm = {StoredPcm::Signed, storedBytes, byteOrder == 2};
    } else if (compression == kFloat32 || compression == kFloat64) {
        pcm = {StoredPcm::Float, compression == kFloat32 ? 4 : 8, true};
    } else {
        return false;
    }
    return pcm.WideBits() != 0;
}

PcmFormat AiffReader::WideFormat() {
    StoredPcm pcm;
    if (readRoutine == nullptr || started || !Stored(pcm)) return {0, 0, 0, true};
    return {sampleRate, channels, pcm.WideBits(), true};
}

bool AiffReader::UseWide() {
    if (WideFormat().rate == 0) return false;
    wide = true;
    return true;
}

int AiffReader::ReadWide(int32_t* const* planes) {
    StoredPcm pcm;
    if (!wide || planes == nullptr || !fileHandle.IsOpen() || !Stored(pcm)) return 0;
    const size_t frameBytes = static_cast<size_t>(channels) * static_cast<size_t>(pcm.bytes);
    const size_t got = ReadData(frameBytes * kBlockFrames);
    const size_t frames = got / frameBytes;
    DecodeStoredPcm(ioBuffer.data(), frames, channels, pcm, pcm.WideBits(), planes);
    return static_cast<int>(frames);
}

size_t AiffReader::ReadData(uint8_t* dest, size_t request) {
    if (dataLeft == 0 || request == 0) return 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(request, dataLeft));
    const size_t got = fileHandle.Read(dest, want);
    // Only what was asked for is taken off; a short read ends the data.
    if (got < want) truncated = true;
    dataLeft = got < want ? 0 : dataLeft - want;
    position += got;
    return got;
}

size_t AiffReader::ReadData(size_t request) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(request, dataLeft));
    if (ioBuffer.size() < want) ioBuffer.resize(want);
    return ReadData(ioBuffer.data(), want);
}

template <typename Sample, typename Convert>
int AiffReader::DeliverFrames(void* left, void* right, size_t got, Convert convert) {
    const size_t frameBytes = static_cast<size_t>(channels) * static_cast<size_t>(storedBytes);
    const int frames = static_cast<int>(std::min<size_t>(got / frameBytes, kBlockFrames));
    const uint8_t* p = ioBuffer.data();
    auto* first = static_cast<Sample*>(left);
    if (outputChannels == 1) {
        for (int i = 0; i < frames; ++i, p += frameBytes) first[i] = convert(p);
    } else {
        auto* second = static_cast<Sample*>(right);
        for (int i = 0; i < frames; ++i, p += frameBytes) {
            first[i] = convert(p);
            second[i] = convert(p + secondOffset);
        }
    }
    return frames;
}

int AiffReader::ReadPcm8(void* left, void* right) {
    const size_t got = ReadData(static_cast<size_t>(channels) * kBlockFrames * storedBytes);
    return DeliverFrames<uint8_t>(left, right, got, [](const uint8_t* p) { return static_cast<uint8_t>(p[0] ^ 0x80); });
}

int AiffReader::ReadRaw(void* left, void* right) {
    const size_t got = ReadData(static_cast<size_t>(channels) * kBlockFrames);
    return DeliverFrames<uint8_t>(left, right, got, [](const uint8_t* p) { return p[0]; });
}

int AiffReader::ReadPcm16(void* left, void* right) {
    const size_t got = ReadData(static_cast<size_t>(channels) * kBlockFrames * storedBytes);
    // The two most significant bytes of each sample.
    const int high = byteOrder == 1 ? storedBytes - 1 : 0;
    const int low = byteOrder == 1 ? storedBytes - 2 : 1;
    return DeliverFrames<int16_t>(left, right, got, [high, low](const uint8_t* p) {
        return static_cast<int16_t>(static_cast<uint16_t>((p[high] << 8) | p[low]));
    });
}

int AiffReader::ReadFloat32(void* left, void* right) {
    const size_t got = ReadData(static_cast<size_t>(channels) * kBlockFrames * 4);
    return DeliverFrames<int16_t>(left, right, got,
                                  [](const uint8_t* p) { return FloatToSample(std::bit_cast<float>(LoadU32BE(p))); });
}

int AiffReader::ReadFloat64(void* left, void* right) {
    const size_t got = ReadData(static_cast<size_t>(channels) * kBlockFrames * 8);
    return DeliverFrames<int16_t>(left, right, got, [](const uint8_t* p) {
        const uint64_t bits = (static_cast<uint64_t>(LoadU32BE(p)) << 32) | LoadU32BE(p + 4);
        return FloatToSample(std::bit_cast<double>(bits));
    });
}

int AiffReader::ReadG711(void* left, void* right) {
    const size_t got = ReadData(static_cast<size_t>(channels) * kBlockFrames);
    auto expand = expandByte;
    return DeliverFrames<int16_t>(left, right, got, [expand](const uint8_t* p) { return expand(p[0]); });
}

// One packet per channel (channel 1 first), 64 frames.
int AiffReader::ReadIma4(void* left, void* right) {
    const size_t group = static_cast<size_t>(kIma4PacketBytes) * channels;
    if (dataLeft < group) return 0;
    if (ReadData(group) < group) return 0;
    for (int c = 0; c < channels && c < 2; ++c) {
        const uint8_t* packet = ioBuffer.data() + kIma4PacketBytes * c;
        const int predictor = static_cast<int16_t>(static_cast<uint16_t>((packet[0] << 8) | (packet[1] & 0x80)));
        imaState[c].Reset(predictor, std::min(packet[1] & 0x7F, 88));
        auto* out = static_cast<int16_t*>(c == 0 ? left : right);
        for (int k = 0; k < 32; ++k) {
            const uint8_t byte = packet[2 + k];
            out[2 * k] = imaState[c].Decode(byte & 0x0F);
            out[2 * k + 1] = imaState[c].Decode(byte >> 4);
        }
    }
    return kIma4PacketFrames;
}

int AiffReader::ReadGsm(void* left, void* right) {
    if (dataLeft < kGsmFrameBytes) return 0;
    if (ReadData(kGsmFrameBytes) < kGsmFrameBytes) return 0;
    if (!gsmState.Decode(ioBuffer.data(), gsmSamples)) return 0;
    auto* first = static_cast<int16_t*>(left);
    if (outputChannels == 1) {
        std::copy(gsmSamples, gsmSamples + kGsmFrameSamples, first);
        return kGsmFrameSamples;
    }
    auto* second = static_cast<int16_t*>(right);
    for (int i = 0; i < kGsmFrameSamples / 2; ++i) {
        first[i] = gsmSamples[2 * i];
        second[i] = gsmSamples[2 * i + 1];
    }
    return kGsmFrameSamples / 2;
}

int AiffReader::ReadDwvw(void* left, void* right) {
    if (!dwvwState) return 0;
    const int count = static_cast<int>(std::min<uint64_t>(dwvwValues.size(), dwvwValuesLeft));
    DataSource source(*this);
    const int decoded = dwvwState->Decode(dwvwValues.data(), count, source);
    if (decoded <= 0) return 0;
    dwvwValuesLeft -= static_cast<uint64_t>(decoded);
    auto* first = static_cast<int16_t*>(left);
    if (outputChannels == 1) {
        for (int i = 0; i < decoded; ++i) first[i] = static_cast<int16_t>(dwvwValues[i] >> 16);
        return decoded;
    }
    auto* second = static_cast<int16_t*>(right);
    const int pairs = decoded / 2;
    for (int i = 0; i < pairs; ++i) {
        first[i] = static_cast<int16_t>(dwvwValues[2 * i] >> 16);
        second[i] = static_cast<int16_t>(dwvwValues[2 * i + 1] >> 16);
    }
    return pairs;
}

std::unique_ptr<AudioDecoder> MakeAiffReader() { return std::make_unique<AiffReader>(); }

}  // namespace pelloran
