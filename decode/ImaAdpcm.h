#pragma once
// IMA ADPCM: the nibble decoding, and the codecs of WAV blocks and AIFF-C IMA4 packets.

#include <cstddef>
#include <cstdint>

#include "decode/SoundCodec.h"

namespace pelloran {

struct ImaChannelState {
    int predictor = 0;  // last sample
    int index = 0;      // step index 0..88

    // Sets the state from a block header; the index is clamped to 0..88 and the predictor to 16 bits.
    void Reset(int firstSample, int stepIndex);
    // Decodes one 4-bit code and returns the new sample.
    int16_t Decode(uint8_t code);
};

// WAV blocks (format tag 17), 1 to 8 channels: a 4-byte header per channel, then 4-byte groups of 8
// samples per channel.
class ImaBlockCodec final : public BlockCodec {
public:
    // From the "fmt " block (16 bytes, extension size, samples per block); false when it does not fit.
    bool Create(const uint8_t* formatBlock, size_t size);
    int SamplesPerBlock() const { return samplesPerBlock_; }
    size_t BlockBytes() const override { return static_cast<size_t>(blockAlign_); }
    int BlockValues() const override { return channels_ * samplesPerBlock_; }

private:
    bool DecodeBlock(const uint8_t* block, int16_t* out) override;

    int channels_ = 0;
    int blockAlign_ = 0;
    int samplesPerBlock_ = 0;
};

// AIFF-C IMA4: a 34-byte packet of 64 samples per channel in turn, each starting from its own header.
class Ima4Codec final : public BlockCodec {
public:
    explicit Ima4Codec(int channels) : channels_(channels < 1 ? 1 : channels > 2 ? 2 : channels) {}
    size_t BlockBytes() const override { return kPacketBytes * static_cast<size_t>(channels_); }
    int BlockValues() const override { return kPacketSamples * channels_; }

private:
    static constexpr size_t kPacketBytes = 34;
    static constexpr int kPacketSamples = 64;
    bool DecodeBlock(const uint8_t* block, int16_t* out) override;

    int channels_;
};

}  // namespace pelloran
