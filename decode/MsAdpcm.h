#pragma once
// Microsoft ADPCM block decoder for WAV files (format tag 2).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/SoundCodec.h"

namespace pelloran {

class MsAdpcmCodec final : public BlockCodec {
public:
    // Largest coefficient table the format allows.
    static constexpr int kMaxCoefficientPairs = 256;

    // Takes a copy of the "fmt " block: 16 bytes, extension size, samples per block, pair count, pairs.
    // Refuses 0 or more than 2 channels, a block too small for its header or for the samples it claims,
    // and a table that is empty or does not fit in the block given.
    bool Create(const uint8_t* formatBlock, size_t size);

    int Channels() const { return channels_; }
    int BlockAlign() const { return blockAlign_; }
    int SamplesPerBlock() const { return samplesPerBlock_; }
    int CoefficientPairs() const { return static_cast<int>(coefficients_.size() / 2); }

    size_t BlockBytes() const override { return static_cast<size_t>(blockAlign_); }
    int BlockValues() const override { return channels_ * samplesPerBlock_; }

private:
    // Decodes one block of BlockAlign() bytes into Channels() x SamplesPerBlock() interleaved values.
    // False when a channel's predictor index is outside the table: the block is corrupt.
    bool DecodeBlock(const uint8_t* block, int16_t* out) override;

    std::vector<uint8_t> formatBlock_;
    std::vector<int> coefficients_;  // pairs: coefficient 1, coefficient 2
    int channels_ = 0;
    int blockAlign_ = 0;
    int samplesPerBlock_ = 0;
};

}  // namespace pelloran
