#include "decode/AiffReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decode/Dwvw.h"
#include "decode/G711.h"
#include "decode/Gsm610.h"
#include "decode/ImaAdpcm.h"
#include "decode/Readers.h"

namespace pelloran {

namespace {

constexpr uint32_t kMaxSampleRate = 1000000;
// COMM chunks of this size or more are refused; the fields we use are in its first 22 bytes.
constexpr uint32_t kMaxCommBytes = 0x800000;

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

}  // namespace

void AiffReader::Close() {
    frameCount = 0;
    frameCountStated = false;
    sourceBits = 0;
    storedBytes = 0;
    compression = kPcm;
    byteOrder = 2;
    fileSize = 0;
    dataStart = dataSize = 0;
    SoundFileReader::Close();
}

int AiffReader::Open(const std::string& path, int rate) {
    (void)rate;
    Close();
    if (!file_.Open(path, "rb")) return 0;
    const int64_t size = file_.Size();
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
    if (const auto* blocks = dynamic_cast<const BlockCodec*>(codec_.get())) {
        frames = dataSize / blocks->BlockBytes() * static_cast<uint64_t>(blocks->BlockValues()) / channels;
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
    if (!SetData(dataStart, dataSize)) {
        Close();
        return 0;
    }
    position = dataStart;
    return 1;
}

bool AiffReader::ParseChunks() {
    uint8_t header[12];
    if (!file_.ReadExact(header, 12) || !IdIs(header, "FORM")) return false;
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
        if (!file_.ReadExact(chunk, 8)) return false;
        const uint32_t size = LoadU32BE(chunk + 4);
        const int64_t bodyAt = file_.Tell();
        if (bodyAt < 0) return false;
        const uint64_t body = static_cast<uint64_t>(bodyAt);
        const uint64_t next = body + size + (size & 1);  // odd sizes are padded to even

        if (IdIs(chunk, "COMM")) {
            if (!ParseComm(size, aifc)) return false;
            commSeen = true;
            if (soundSeen) return true;
        } else if (IdIs(chunk, "SSND")) {
            uint8_t ssnd[8];
            if (size < 8 || !file_.ReadExact(ssnd, 8)) return false;
            const uint32_t offset = LoadU32BE(ssnd);
            if (offset > size - 8) return false;
            dataStart = body + 8 + offset;
            if (dataStart > fileSize) return false;
            // A size that runs past the end of the file is cut to what is there; the pad byte is not data.
            dataSize = std::min<uint64_t>(size - 8 - offset, fileSize - dataStart);
            // Cut short, unless all ones says the writer never came back to fill the size in.
            truncated_ = size != 0xFFFFFFFFu && size - 8 - offset > fileSize - dataStart;
            soundSeen = true;
            if (commSeen) return true;
        }
        if (next > fileSize || !file_.Seek(static_cast<int64_t>(next))) return false;
    }
}

bool AiffReader::ParseComm(uint32_t size, bool aifc) {
    if (aifc ? size < 22 : size != 18) return false;
    if (size >= kMaxCommBytes) return false;
    const int64_t here = file_.Tell();
    if (here < 0 || size > fileSize - static_cast<uint64_t>(here)) return false;
    uint8_t comm[22];
    if (!file_.ReadExact(comm, aifc ? 22 : 18)) return false;

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
            if (sourceBits <= 8) bitsPerSample = 8;
            break;
        case kUlaw:
        case kAlaw:
            codec_ = std::make_unique<G711Codec>(compression == kAlaw);
            break;
        case kFloat32:
        case kFloat64:
            break;
        case kIma4:
            codec_ = std::make_unique<Ima4Codec>(channels);
            break;
        case kRaw:
            bitsPerSample = 8;
            break;
        case kGsm: {
            auto gsm = std::make_unique<Gsm610Codec>();
            if (!gsm->Create(false)) return false;
            codec_ = std::move(gsm);
            break;
        }
        case kDwvw: {
            auto dwvw = std::make_unique<DwvwCodec>();
            const uint64_t values = frameCountStated ? static_cast<uint64_t>(frameCount) * channels : UINT64_MAX;
            if (!dwvw->Init(sourceBits, values)) return false;
            codec_ = std::move(dwvw);
            break;
        }
        default:
            return false;
    }
    return true;
}

bool AiffReader::Stored(StoredPcm& pcm) const {
    if (compression == kPcm) {
        pcm = {StoredPcm::Signed, storedBytes, byteOrder == 2};
    } else if (compression == kRaw) {
        pcm = {StoredPcm::Unsigned, 1, false};
    } else if (compression == kFloat32 || compression == kFloat64) {
        pcm = {StoredPcm::Float, compression == kFloat32 ? 4 : 8, true};
    } else {
        return false;
    }
    return pcm.WideBits() != 0;
}

std::unique_ptr<AudioDecoder> MakeAiffReader() { return std::make_unique<AiffReader>(); }

}  // namespace pelloran
