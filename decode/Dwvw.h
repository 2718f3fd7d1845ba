#pragma once
// DWVW (delta with variable word width) decoding for AIFF-C files.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/SoundCodec.h"

namespace pelloran {

class DwvwDecoder {
public:
    // bits: the stored sample width, 8 to 24; false for any other width.
    bool Init(int bits);
    // Decodes up to count values, each scaled to the top of a 32-bit word; returns how many were decoded.
    // Decoding ends at the end of the data: a value left incomplete there is not counted.
    int Decode(int32_t* out, int count, SoundData& source);

private:
    // Reads n bits (0..24), most significant first. Past the end of the data, reads of fewer than
    // 8 bits fail and longer reads are padded with zero bytes.
    bool ReadBits(int n, uint32_t& value, SoundData& source);
    bool Refill(SoundData& source);

    int maxWidthModifier_ = 0;
    int bitWidth_ = 0;
    int32_t maxDelta_ = 0;
    int32_t span_ = 0;
    int bitCount_ = 0;
    uint32_t bitBuffer_ = 0;
    int paddedBits_ = 0;  // zero bits added past the end of the data, still in bitBuffer_
    int lastDeltaWidth_ = 0;
    int32_t lastSample_ = 0;
    size_t byteIndex_ = 0;
    size_t byteCount_ = 0;
    bool sourceDone_ = false;
    uint8_t buffer_[256] = {};
};

// DWVW as a codec: at most a stated number of values, each cut to its top 16 bits.
class DwvwCodec final : public SoundCodec {
public:
    // False for a width outside 8 to 24.
    bool Init(int bits, uint64_t values);
    int Decode(SoundData& data, int16_t* out, int count) override;

private:
    DwvwDecoder decoder_;
    std::vector<int32_t> values_;
    uint64_t valuesLeft_ = 0;
};

}  // namespace pelloran
