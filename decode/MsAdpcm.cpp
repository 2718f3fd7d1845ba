#include "decode/MsAdpcm.h"

#include <algorithm>
#include <climits>

#include "platform/File.h"

namespace pelloran {

namespace {

constexpr int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

// Keeps the step size far from overflow on hostile data; real streams stay below 32768.
constexpr int64_t kMaxDelta = INT_MAX / 768;

constexpr size_t kHeaderBytesPerChannel = 7;

int16_t LoadS16LE(const uint8_t* p) { return static_cast<int16_t>(LoadU16LE(p)); }

}  // namespace

bool MsAdpcmCodec::Create(const uint8_t* formatBlock, size_t size) {
    formatBlock_.clear();
    coefficients_.clear();
    channels_ = blockAlign_ = samplesPerBlock_ = 0;
    // Base fields, extension size, samples per block and pair count come first.
    if (formatBlock == nullptr || size < 22) return false;
    const int channels = LoadU16LE(formatBlock + 2);
    const int blockAlign = LoadU16LE(formatBlock + 12);
    const int extensionSize = LoadU16LE(formatBlock + 16);
    const int samplesPerBlock = LoadU16LE(formatBlock + 18);
    const int pairs = LoadU16LE(formatBlock + 20);
    if (channels < 1 || channels > 2) return false;
    if (extensionSize < 4 || pairs == 0 || pairs > kMaxCoefficientPairs) return false;
    if (size < 22 + static_cast<size_t>(pairs) * 4) return false;
    // A block holds a header per channel, then one nibble per remaining sample and channel.
    if (samplesPerBlock < 2) return false;
    const size_t header = kHeaderBytesPerChannel * static_cast<size_t>(channels);
    const size_t codes = static_cast<size_t>(channels) * static_cast<size_t>(samplesPerBlock - 2);
    if (static_cast<size_t>(blockAlign) < header + (codes + 1) / 2) return false;

    formatBlock_.assign(formatBlock, formatBlock + 22 + static_cast<size_t>(pairs) * 4);
    coefficients_.reserve(static_cast<size_t>(pairs) * 2);
    for (int i = 0; i < pairs * 2; ++i) coefficients_.push_back(LoadS16LE(formatBlock_.data() + 22 + i * 2));
    channels_ = channels;
    blockAlign_ = blockAlign;
    samplesPerBlock_ = samplesPerBlock;
    return true;
}

bool MsAdpcmCodec::DecodeBlock(const uint8_t* block, int16_t* out) {
    if (channels_ == 0) return false;
    struct ChannelState {
        int64_t coefficient1;
        int64_t coefficient2;
        int64_t delta;
        int64_t sample1;
        int64_t sample2;
    };
    ChannelState state[2]{};
    const int channels = channels_;
    const int pairs = CoefficientPairs();
    for (int c = 0; c < channels; ++c) {
        const int predictor = block[c];
        if (predictor >= pairs) return false;
        state[c].coefficient1 = coefficients_[static_cast<size_t>(predictor) * 2];
        state[c].coefficient2 = coefficients_[static_cast<size_t>(predictor) * 2 + 1];
        state[c].delta = LoadS16LE(block + channels + c * 2);
        state[c].sample1 = LoadS16LE(block + channels * 3 + c * 2);
        state[c].sample2 = LoadS16LE(block + channels * 5 + c * 2);
        // The header's samples come out oldest first.
        out[c] = static_cast<int16_t>(state[c].sample2);
        out[channels + c] = static_cast<int16_t>(state[c].sample1);
    }

    const uint8_t* codes = block + kHeaderBytesPerChannel * static_cast<size_t>(channels);
    const int count = channels * (samplesPerBlock_ - 2);
    int16_t* values = out + channels * 2;
    for (int i = 0; i < count; ++i) {
        // High nibble first; in stereo the high nibble is channel 1, the low one channel 2.
        const uint8_t byte = codes[i / 2];
        const int nibble = (i % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
        ChannelState& s = state[i % channels];
        const int64_t prediction = (s.sample1 * s.coefficient1 + s.sample2 * s.coefficient2) / 256;
        const int64_t code = nibble >= 8 ? nibble - 16 : nibble;
        const int64_t sample = std::clamp<int64_t>(prediction + code * s.delta, -32768, 32767);
        s.delta = std::clamp<int64_t>(s.delta * kAdaptation[nibble] / 256, 16, kMaxDelta);
        s.sample2 = s.sample1;
        s.sample1 = sample;
        values[i] = static_cast<int16_t>(sample);
    }
    return true;
}

}  // namespace pelloran
