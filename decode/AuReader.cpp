#include "decode/AuReader.h"

#include <algorithm>
#include <memory>

#include "decode/G711.h"
#include "decode/G726.h"
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

}  // namespace

void AuReader::Close() {
    sourceBits = 0;
    storedBytes = 0;
    encoding = 0;
    bigEndian = 1;
    SoundFileReader::Close();
}

int AuReader::Open(const std::string& path, int rate) {
    (void)rate;
    Close();
    if (!file_.Open(path, "rb")) return 0;
    const int64_t size = file_.Size();
    uint8_t header[kHeaderBytes];
    const size_t got = file_.Read(header, kHeaderBytes);
    if (size < 0 || got < 24 || !ParseHeader(header, got)) {
        Close();
        return 0;
    }

    const uint64_t fileSize = static_cast<uint64_t>(size);
    const uint32_t dataOffset = Load32(header + 4);
    const uint32_t dataSizeField = Load32(header + 8);
    if (dataOffset > fileSize) {
        Close();
        return 0;
    }
    // All ones means "to the end of the file"; a stated size beyond the file is cut to what is there.
    const uint64_t available = fileSize - dataOffset;
    length = dataSizeField == 0xFFFFFFFF ? available : std::min<uint64_t>(dataSizeField, available);
    truncated_ = dataSizeField != 0xFFFFFFFF && dataSizeField > available;
    position = 0;
    if (!SetData(dataOffset, length)) {
        Close();
        return 0;
    }

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

    switch (encoding) {
        case kMulaw: sourceBits = 8; break;
        case kAlaw: sourceBits = 8; break;
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
    storedBytes = (sourceBits + 7) / 8;
    bitsPerSample = 16;
    bytesPerSample = 2;

    const uint32_t rate = Load32(header + fieldsAt);
    const uint32_t channelField = Load32(header + fieldsAt + 4);
    sampleRate = (rate < 1000 || rate > 100000) ? 8000 : static_cast<int32_t>(rate);
    if (channelField == 0) return false;
    channels = (channelField == 1 || channelField == 2) ? static_cast<int32_t>(channelField) : 1;
    outputChannels = channels;
    if (encoding == kMulaw || encoding == kAlaw) codec_ = std::make_unique<G711Codec>(encoding == kAlaw);
    if (encoding == kG721 || encoding == kG723_3 || encoding == kG723_5)
        codec_ = std::make_unique<G726Codec>(sourceBits, channels);
    return true;
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

std::unique_ptr<AudioDecoder> MakeAuReader() { return std::make_unique<AuReader>(); }

}  // namespace pelloran
