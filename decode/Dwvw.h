#pragma once
// DWVW (delta with variable word width) decoding for AIFF-C files.

#include <cstddef>
#include <cstdint>

namespace pelloran {

// Where the decoder's bytes come from; Fill returns 0 once the data is used up.
class DwvwByteSource {
public:
    virtual ~DwvwByteSource() = default;
    virtual size_t Fill(uint8_t* buffer, size_t capacity) = 0;
};

class DwvwDecoder {
public:
    // bits: the stored sample width, 8 to 24; false for any other width.
    bool Init(int bits);
    // Decodes up to count values, each scaled to the top of a 32-bit word; returns how many were decoded.
    // Decoding ends at the end of the data: a value left incomplete there is not counted.
    int Decode(int32_t* out, int count, DwvwByteSource& source);

private:
    // Reads n bits (0..24), most significant first. Past the end of the data, reads of fewer than
    // 8 bits fail and longer reads are padded with zero bytes.
    bool ReadBits(int n, uint32_t& value, DwvwByteSource& source);
    bool Refill(DwvwByteSource& source);

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

}  // namespace pelloran
