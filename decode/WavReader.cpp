#include "decode/WavReader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "decode/G711.h"
#include "decode/Gsm610.h"
#include "decode/ImaAdpcm.h"
#include "decode/MsAdpcm.h"
#include "decode/Readers.h"
#include "decode/WavChunks.h"

namespace pelloran {

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagMsAdpcm = 2;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagAlaw = 6;
constexpr uint16_t kTagUlaw = 7;
constexpr uint16_t kTagImaAdpcm = 17;
constexpr uint16_t kTagGsm610 = 49;
constexpr uint16_t kTagExtensible = 0xFFFE;

constexpr uint32_t kMaxSampleRate = 1000000;
// Base fields plus the largest extension a 16-bit size can state; anything beyond is skipped unread.
constexpr uint32_t kMaxFormatBytes = 18 + 65535;
// GSM 06.10 in WAV: two frames (33 + 32 bytes) of 160 samples each.
constexpr int kGsmBlockBytes = 65;
constexpr int kGsmBlockSamples = 320;

// Bytes 2..15 of the sub-format GUID shared by the standard WAVE formats.
constexpr uint8_t kSubFormatSuffix[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                          0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

void WavReader::Close() {
    formatTag = 0;
    sourceBits = 0;
    sourceSamplesPerBlock = 0;
    blockAlign = 0;
    SoundFileReader::Close();
}

int WavReader::Open(const std::string& path, int rate) {
    (void)rate;
    Close();
    if (!file_.Open(path, "rb") || !WalkChunks()) {
        Close();
        return 0;
    }
    bytesPerSample = bitsPerSample / 8;
    return 1;
}

bool WavReader::WalkChunks() {
    std::optional<WavChunks> chunks = WavChunks::Start(file_, ChunkStep::NextLetter);
    if (!chunks) return false;
    const uint64_t fileSize = chunks->FileSize();
    // The first data chunk ends the walk; a chunk running past the end of the file ends it too.
    while (const std::optional<WavChunk> chunk = chunks->Next()) {
        const uint64_t available = fileSize - chunk->body;
        if (chunk->Is("fmt ")) {
            if (chunk->size > available || !ReadFormatChunk(*chunk)) return false;
        } else if (chunk->Is("data")) {
            if (formatTag == 0) return false;
            // A size of 0 or all ones comes from a writer that never went back to fill it in.
            const uint64_t size = chunk->size;
            const bool sizeKnown = size != 0 && size != 0xFFFFFFFFu;
            const uint64_t dataSize = sizeKnown ? size : available;
            length = std::min<uint64_t>(dataSize, available);
            truncated_ = sizeKnown && size > available;
            position = 0;
            if (!SetData(chunk->body, length)) return false;

            uint64_t frames = 0;
            if (formatTag == kTagMsAdpcm || formatTag == kTagImaAdpcm) {
                frames = static_cast<uint64_t>(sourceSamplesPerBlock) * length / static_cast<uint64_t>(blockAlign);
            } else if (formatTag == kTagGsm610) {
                frames = length * kGsmBlockSamples / kGsmBlockBytes;
            } else if (sourceBits != 0) {
                frames = length * 8 / static_cast<uint64_t>(sourceBits) / static_cast<uint64_t>(channels);
            }
            durationSeconds =
                static_cast<int32_t>(std::min<uint64_t>(frames / static_cast<uint64_t>(sampleRate), INT32_MAX));
            // Both from the samples present: a file cut short shows what it holds, not what its header promised.
            int64_t kbps = frames != 0 ? static_cast<int64_t>(length * 8 * static_cast<uint64_t>(sampleRate) /
                                                              (frames * 1000))
                                       : int64_t{sourceBits} * channels * sampleRate / 1000;
            bitrateKbps = static_cast<int32_t>(std::min<int64_t>(kbps, INT32_MAX));
            return true;
        }
    }
    return false;
}

bool WavReader::ReadFormatChunk(const WavChunk& chunk) {
    formatTag = 0;
    codec_.reset();
    if (chunk.size < 16) return false;
    std::vector<uint8_t> fmt(static_cast<size_t>(std::min<uint64_t>(chunk.size, kMaxFormatBytes)));
    if (!file_.ReadExactAt(static_cast<int64_t>(chunk.body), fmt.data(), fmt.size())) return false;

    uint16_t tag = LoadU16LE(fmt.data());
    const int count = LoadU16LE(fmt.data() + 2);
    const uint32_t rate = LoadU32LE(fmt.data() + 4);
    const int align = LoadU16LE(fmt.data() + 12);
    const int bits = LoadU16LE(fmt.data() + 14);
    if (count < 1 || count > kMaxChannels) return false;
    if (rate == 0 || rate > kMaxSampleRate) return false;

    // Extensible: the sub-format names the encoding (integer PCM when the extension is missing).
    if (tag == kTagExtensible && fmt.size() >= 40) {
        if (std::memcmp(fmt.data() + 26, kSubFormatSuffix, sizeof kSubFormatSuffix) != 0) return false;
        tag = LoadU16LE(fmt.data() + 24);
        if (tag != kTagPcm && tag != kTagFloat && tag != kTagAlaw && tag != kTagUlaw) return false;
    } else if (tag == kTagExtensible) {
        tag = kTagPcm;
    }

    channels = count;
    outputChannels = std::min(count, 2);
    sampleRate = static_cast<int32_t>(rate);
    sourceBits = bits;
    blockAlign = align;
    sourceSamplesPerBlock = 0;

    switch (tag) {
        case kTagPcm:
            if (bits == 8) {
                bitsPerSample = 8;
            } else if (bits == 16 || bits == 24 || bits == 32) {
                bitsPerSample = 16;
            } else {
                return false;
            }
            break;
        case kTagFloat:
            if (bits != 32 && bits != 64) return false;
            bitsPerSample = 16;
            break;
        case kTagAlaw:
        case kTagUlaw:
            if (bits != 8) return false;
            codec_ = std::make_unique<G711Codec>(tag == kTagAlaw);
            bitsPerSample = 16;
            break;
        case kTagMsAdpcm: {
            auto codec = std::make_unique<MsAdpcmCodec>();
            if (bits != 4 || !codec->Create(fmt.data(), fmt.size())) return false;
            sourceSamplesPerBlock = codec->SamplesPerBlock();
            codec_ = std::move(codec);
            bitsPerSample = 16;
            break;
        }
        case kTagImaAdpcm: {
            auto codec = std::make_unique<ImaBlockCodec>();
            if (bits != 4 || !codec->Create(fmt.data(), fmt.size())) return false;
            sourceSamplesPerBlock = codec->SamplesPerBlock();
            codec_ = std::move(codec);
            bitsPerSample = 16;
            break;
        }
        case kTagGsm610: {
            // Mono only: the WAV49 layout has no channel interleaving.
            if (count != 1 || align != kGsmBlockBytes || fmt.size() < 20) return false;
            if (LoadU16LE(fmt.data() + 16) < 2 || LoadU16LE(fmt.data() + 18) != kGsmBlockSamples) return false;
            auto codec = std::make_unique<Gsm610Codec>();
            if (!codec->Create(true)) return false;
            codec_ = std::move(codec);
            sourceSamplesPerBlock = kGsmBlockSamples;
            bitsPerSample = 16;
            break;
        }
        default:
            return false;
    }
    formatTag = tag;
    return true;
}

bool WavReader::Stored(StoredPcm& pcm) const {
    if (formatTag == kTagPcm) pcm.kind = sourceBits == 8 ? StoredPcm::Unsigned : StoredPcm::Signed;
    else if (formatTag == kTagFloat) pcm.kind = StoredPcm::Float;
    else return false;
    pcm.bytes = sourceBits / 8;
    pcm.bigEndian = false;
    return pcm.WideBits() != 0;
}

std::unique_ptr<AudioDecoder> MakeWavReader() { return std::make_unique<WavReader>(); }

}  // namespace pelloran
