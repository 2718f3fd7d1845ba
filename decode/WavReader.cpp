#include "decode/WavReader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "decode/G711.h"
#include "decode/ImaAdpcm.h"
#include "decode/Readers.h"

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

constexpr int kMaxChannels = 8;
constexpr uint32_t kMaxSampleRate = 1000000;
// Base fields plus the largest extension a 16-bit size can state; anything beyond is skipped unread.
constexpr uint32_t kMaxFormatBytes = 18 + 65535;
// GSM 06.10 in WAV: two frames (33 + 32 bytes) of 160 samples each.
constexpr int kGsmBlockBytes = 65;
constexpr int kGsmBlockSamples = 320;

// Bytes 2..15 of the sub-format GUID shared by the standard WAVE formats.
constexpr uint8_t kSubFormatSuffix[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                          0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool IsLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// Scales to 32 bits, truncates, keeps the top 16 bits. Out-of-range values saturate instead of wrapping.
int16_t FloatToSample(double x) {
    if (x != x) return 0;  // NaN
    x = std::clamp(x, -1.0, 1.0);
    const auto scaled = static_cast<int32_t>(static_cast<int64_t>(x * 2147483647.0));
    return static_cast<int16_t>(scaled >> 16);
}

}  // namespace

// IMA ADPCM blocks of WAV files (format tag 17), any channel count.
class ImaAdpcmBlockDecoder {
public:
    // Takes a copy of the "fmt " block (16 bytes, extension size, samples per block).
    bool Create(const uint8_t* formatBlock, size_t size) {
        if (size < 20) return false;
        const int channels = LoadU16LE(formatBlock + 2);
        const int blockAlign = LoadU16LE(formatBlock + 12);
        const int extensionSize = LoadU16LE(formatBlock + 16);
        const int samplesPerBlock = LoadU16LE(formatBlock + 18);
        if (channels < 1 || channels > kMaxChannels || extensionSize < 2 || samplesPerBlock < 1) return false;
        // A 4-byte header per channel, then 4-byte groups of 8 samples per channel.
        const int header = 4 * channels;
        if (blockAlign < header) return false;
        const int capacity = 1 + 8 * ((blockAlign - header) / header);
        if (samplesPerBlock > capacity) return false;
        formatBlock_.assign(formatBlock, formatBlock + 20);
        channels_ = channels;
        samplesPerBlock_ = samplesPerBlock;
        return true;
    }

    int SamplesPerBlock() const { return samplesPerBlock_; }

    // Decodes one block into channels x samples per block interleaved values.
    void DecodeBlock(const uint8_t* block, int16_t* out) const {
        const int channels = channels_;
        ImaChannelState state[kMaxChannels];
        for (int c = 0; c < channels; ++c) {
            const uint8_t* h = block + c * 4;
            state[c].Reset(static_cast<int16_t>(LoadU16LE(h)), h[2]);
            out[c] = static_cast<int16_t>(state[c].predictor);
        }
        const uint8_t* groups = block + 4 * channels;
        const int groupCount = (samplesPerBlock_ - 1 + 7) / 8;
        for (int g = 0; g < groupCount; ++g) {
            for (int c = 0; c < channels; ++c) {
                const uint8_t* bytes = groups + (g * channels + c) * 4;
                for (int k = 0; k < 8; ++k) {
                    const int sample = 1 + g * 8 + k;
                    if (sample >= samplesPerBlock_) break;
                    const uint8_t byte = bytes[k / 2];
                    const uint8_t code = (k % 2 == 0) ? (byte & 0x0F) : (byte >> 4);
                    out[sample * channels + c] = state[c].Decode(code);
                }
            }
        }
    }

private:
    std::vector<uint8_t> formatBlock_;
    int channels_ = 0;
    int samplesPerBlock_ = 0;
};

WavReader::WavReader() = default;

WavReader::~WavReader() { Close(); }

void WavReader::Close() {
    file.Close();
    readRoutine = nullptr;
    expandByte = nullptr;
    formatTag = 0;
    sourceBits = 0;
    msAdpcm.reset();
    imaAdpcm.reset();
    gsmState.reset();
    rawBuffer = {};
    blockSamples = {};
    bytesPerRead = 0;
    samplesPerBlock = 0;
    nextSample = 0;
    blockAlign = 0;
    sourceSamplesPerBlock = 0;
    formatSeen = false;
    truncated = false;
    wide = false;
    started = false;
    ResetState();
}

int WavReader::Open(const std::string& path, int rate) {
    (void)rate;
    Close();
    if (!file.Open(path, "rb")) return 0;
    if (!WalkChunks()) {
        Close();
        return 0;
    }
    bytesPerSample = bitsPerSample / 8;
    if (!SetUpFormat()) {
        Close();
        return 0;
    }
    return 1;
}

bool WavReader::WalkChunks() {
    const int64_t fileSize = file.Size();
    if (fileSize < 12 || !file.Seek(0)) return false;
    uint8_t riff[12];
    if (!file.ReadExact(riff, sizeof riff)) return false;
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return false;

    for (;;) {
        uint8_t header[8];
        if (!file.ReadExact(header, sizeof header)) return false;
        const uint32_t size = LoadU32LE(header + 4);
        const int64_t start = file.Tell();
        if (start < 0) return false;
        const uint64_t available = static_cast<uint64_t>(fileSize - start);

        if (std::memcmp(header, "fmt ", 4) == 0) {
            if (size > available) return false;
            if (!ReadFormatChunk(size)) return false;
            if (!file.Seek(start + size)) return false;
        } else if (std::memcmp(header, "data", 4) == 0) {
            if (!formatSeen) return false;
            // A size of 0 or all ones comes from a writer that never went back to fill it in.
            const bool sizeKnown = size != 0 && size != 0xFFFFFFFFu;
            uint64_t dataSize = sizeKnown ? size : available;
            length = std::min<uint64_t>(dataSize, available);
            truncated = sizeKnown && size > available;
            position = 0;

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
        } else {
            if (!file.Skip(size)) return false;
        }
        if (!SkipToNextChunk()) return false;
    }
}

bool WavReader::SkipToNextChunk() {
    uint8_t b = 0;
    while (file.ReadU8(b)) {
        if (IsLetter(b)) return file.Seek(-1, SEEK_CUR);
    }
    return false;
}

bool WavReader::ReadFormatChunk(uint32_t size) {
    formatSeen = false;
    msAdpcm.reset();
    imaAdpcm.reset();
    if (size < 16) return false;
    std::vector<uint8_t> fmt(std::min(size, kMaxFormatBytes));
    if (!file.ReadExact(fmt.data(), fmt.size())) return false;

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

    formatTag = tag;
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
            bitsPerSample = 16;
            break;
        case kTagMsAdpcm:
            if (bits != 4) return false;
            msAdpcm = std::make_unique<MsAdpcmDecoder>();
            if (!msAdpcm->Create(fmt.data(), fmt.size())) return false;
            sourceSamplesPerBlock = msAdpcm->SamplesPerBlock();
            bitsPerSample = 16;
            break;
        case kTagImaAdpcm:
            if (bits != 4) return false;
            imaAdpcm = std::make_unique<ImaAdpcmBlockDecoder>();
            if (!imaAdpcm->Create(fmt.data(), fmt.size())) return false;
            sourceSamplesPerBlock = imaAdpcm->SamplesPerBlock();
            bitsPerSample = 16;
            break;
        case kTagGsm610:
            // Mono only: the WAV49 layout has no channel interleaving.
            if (count != 1 || align != kGsmBlockBytes || fmt.size() < 20) return false;
            if (LoadU16LE(fmt.data() + 16) < 2 || LoadU16LE(fmt.data() + 18) != kGsmBlockSamples) return false;
            sourceSamplesPerBlock = kGsmBlockSamples;
            bitsPerSample = 16;
            break;
        default:
            return false;
    }
    formatSeen = true;
    return true;
}

bool WavReader::SetUpFormat() {
    const int sampleBytes = sourceBits / 8;
    bool blocks = false;
    switch (formatTag) {
        case kTagPcm:
            readRoutine = sourceBits == 8 ? &WavReader::ReadPcm8 : &WavReader::ReadPcm;
            bytesPerRead = channels * kBlockFrames * sampleBytes;
            break;
        case kTagFloat:
            readRoutine = &WavReader::ReadFloat;
            bytesPerRead = channels * kBlockFrames * sampleBytes;
            break;
        case kTagAlaw:
        case kTagUlaw:
            readRoutine = &WavReader::ReadG711;
            expandByte = formatTag == kTagAlaw ? &AlawExpand : &UlawExpand;
            bytesPerRead = channels * kBlockFrames;
            break;
        case kTagMsAdpcm:
        case kTagImaAdpcm:
            readRoutine = &WavReader::ReadBlocks;
            bytesPerRead = blockAlign;
            samplesPerBlock = sourceSamplesPerBlock * channels;
            blocks = true;
            break;
        case kTagGsm610:
            gsmState = std::make_unique<Gsm610Decoder>();
            if (!gsmState->Create(true)) return false;
            readRoutine = &WavReader::ReadBlocks;
            bytesPerRead = kGsmBlockBytes;
            samplesPerBlock = kGsmBlockSamples;
            blocks = true;
            break;
        default:
            return false;
    }
    if (bytesPerRead <= 0) return false;
    // Buffers never exceed what the data chunk can fill; a data chunk shorter than one block decodes nothing.
    rawBuffer.resize(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(bytesPerRead), length)));
    if (blocks && length >= static_cast<uint64_t>(bytesPerRead)) {
        blockSamples.resize(static_cast<size_t>(samplesPerBlock));
    }
    nextSample = 0;
    return true;
}

int WavReader::Read(void* left, void* right) {
    if (readRoutine == nullptr || left == nullptr || wide) return 0;
    started = true;
    if (outputChannels == 2 && right == nullptr) return 0;
    return (this->*readRoutine)(left, right);
}

size_t WavReader::ReadRaw() {
    if (position >= length) return 0;
    const size_t request =
        static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(bytesPerRead), length - position));
    position += request;
    const size_t got = file.Read(rawBuffer.data(), request);
    if (got < request) {
        position = length;  // the file ended early: so does the stream
        truncated = true;
    }
    return got;
}

int WavReader::ReadPcm8(void* left, void* right) {
    const size_t got = ReadRaw();
    const int frames = static_cast<int>(got / static_cast<size_t>(channels));
    auto* l = static_cast<uint8_t*>(left);
    auto* r = static_cast<uint8_t*>(right);
    const uint8_t* in = rawBuffer.data();
    for (int f = 0; f < frames; ++f, in += channels) {
        l[f] = in[0];
        if (outputChannels == 2) r[f] = in[1];
    }
    return frames;
}

int WavReader::ReadPcm(void* left, void* right) {
    const size_t got = ReadRaw();
    const int sampleBytes = sourceBits / 8;
    const int frameBytes = sampleBytes * channels;
    const int frames = static_cast<int>(got / static_cast<size_t>(frameBytes));
    if (frames == 0) return 0;  // nothing read: the buffer may not even exist yet
    auto* l = static_cast<int16_t*>(left);
    auto* r = static_cast<int16_t*>(right);
    // Little-endian samples: the top 16 bits are the last two bytes.
    const uint8_t* in = rawBuffer.data() + sampleBytes - 2;
    for (int f = 0; f < frames; ++f, in += frameBytes) {
        l[f] = static_cast<int16_t>(LoadU16LE(in));
        if (outputChannels == 2) r[f] = static_cast<int16_t>(LoadU16LE(in + sampleBytes));
    }
    return frames;
}

int WavReader::ReadFloat(void* left, void* right) {
    const size_t got = ReadRaw();
    const int sampleBytes = sourceBits / 8;
    const int frameBytes = sampleBytes * channels;
    const int frames = static_cast<int>(got / static_cast<size_t>(frameBytes));
    auto* l = static_cast<int16_t*>(left);
    auto* r = static_cast<int16_t*>(right);
    auto sampleAt = [sampleBytes](const uint8_t* p) -> int16_t {
        if (sampleBytes == 4) {
            const uint32_t bits = LoadU32LE(p);
            float v;
            std::memcpy(&v, &bits, sizeof v);
            return FloatToSample(v);
        }
        const uint64_t bits = LoadU32LE(p) | (static_cast<uint64_t>(LoadU32LE(p + 4)) << 32);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return FloatToSample(v);
    };
    const uint8_t* in = rawBuffer.data();
    for (int f = 0; f < frames; ++f, in += frameBytes) {
        l[f] = sampleAt(in);
        if (outputChannels == 2) r[f] = sampleAt(in + sampleBytes);
    }
    return frames;
}

int WavReader::ReadG711(void* left, void* right) {
    const size_t got = ReadRaw();
    const int frames = static_cast<int>(got / static_cast<size_t>(channels));
    auto* l = static_cast<int16_t*>(left);
    auto* r = static_cast<int16_t*>(right);
    const uint8_t* in = rawBuffer.data();
    for (int f = 0; f < frames; ++f, in += channels) {
        l[f] = expandByte(in[0]);
        if (outputChannels == 2) r[f] = expandByte(in[1]);
    }
    return frames;
}

bool WavReader::DecodeBlock() {
    const uint8_t* in = rawBuffer.data();
    int16_t* out = blockSamples.data();
    switch (formatTag) {
        case kTagMsAdpcm:
            return msAdpcm->DecodeBlock(in, out);
        case kTagImaAdpcm:
            imaAdpcm->DecodeBlock(in, out);
            return true;
        case kTagGsm610:
            // WAV49: a 33-byte frame, then a 32-byte one; the decoder alternates by itself.
            return gsmState->Decode(in, out) && gsmState->Decode(in + 33, out + 160);
        default:
            return false;
    }
}

int WavReader::DeliverBlock(int16_t* left, int16_t* right, int frames) {
    int i = nextSample;
    while (i < samplesPerBlock && frames < kBlockFrames) {
        left[frames] = blockSamples[static_cast<size_t>(i)];
        if (outputChannels == 2) right[frames] = blockSamples[static_cast<size_t>(i) + 1];
        i += channels;
        ++frames;
    }
    nextSample = i >= samplesPerBlock ? 0 : i;
    return frames;
}

int WavReader::ReadBlocks(void* left, void* right) {
    auto* l = static_cast<int16_t*>(left);
    auto* r = static_cast<int16_t*>(right);
    int frames = 0;
    if (nextSample > 0) frames = DeliverBlock(l, r, frames);
    while (frames < kBlockFrames) {
        // A trailing partial block is never decoded.
        if (ReadRaw() < static_cast<size_t>(bytesPerRead)) break;
        if (!DecodeBlock()) {
            position = length;  // a corrupt block ends the stream
            break;
        }
        nextSample = 0;
        frames = DeliverBlock(l, r, frames);
    }
    return frames;
}

bool WavReader::Stored(StoredPcm& pcm) const {
    if (formatTag == kTagPcm) pcm.kind = sourceBits == 8 ? StoredPcm::Unsigned : StoredPcm::Signed;
    else if (formatTag == kTagFloat) pcm.kind = StoredPcm::Float;
    else return false;
    pcm.bytes = sourceBits / 8;
    pcm.bigEndian = false;
    return pcm.WideBits() != 0;
}

PcmFormat WavReader::WideFormat() {
    StoredPcm pcm;
    if (readRoutine == nullptr || started || !Stored(pcm)) return {0, 0, 0, true};
    return {sampleRate, channels, pcm.WideBits(), true};
}

bool WavReader::UseWide() {
    if (WideFormat().rate == 0) return false;
    wide = true;
    return true;
}

int WavReader::ReadWide(int32_t* const* planes) {
    StoredPcm pcm;
    if (!wide || planes == nullptr || !Stored(pcm)) return 0;
    const size_t got = ReadRaw();
    const size_t frames = got / (static_cast<size_t>(pcm.bytes) * static_cast<size_t>(channels));
    DecodeStoredPcm(rawBuffer.data(), frames, channels, pcm, pcm.WideBits(), planes);
    return static_cast<int>(frames);
}

std::unique_ptr<AudioDecoder> MakeWavReader() { return std::make_unique<WavReader>(); }

}  // namespace pelloran
