#pragma once
// The codecs of the WAV, AIFF and AU readers behind one small interface: a container parses its header and
// hands its sound data to the codec, which gives interleaved 16-bit values of every channel.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelloran {

// A container's sound data, read in order.
class SoundData {
public:
    // Up to bytes of the data into out; fewer at its end, or when the file ends early.
    virtual size_t ReadData(uint8_t* out, size_t bytes) = 0;
    // Bytes of the data not read yet.
    virtual uint64_t DataLeft() const = 0;
    // Passes over the rest of the data (after a corrupt block, or a partial one at the end).
    virtual void Abandon() = 0;

protected:
    ~SoundData() = default;
};

class SoundCodec {
public:
    virtual ~SoundCodec() = default;
    // Up to count interleaved values (count is whole frames) into out; values given, of which the container
    // takes the whole frames; 0 at the end of the data or after an error.
    virtual int Decode(SoundData& data, int16_t* out, int count) = 0;
};

// Codecs of fixed-size blocks: values left over from a block wait for the next call; a partial block at the
// end of the data is never decoded, and a corrupt one ends the data.
class BlockCodec : public SoundCodec {
public:
    int Decode(SoundData& data, int16_t* out, int count) final;
    // Bytes of one block, and the interleaved values it decodes to (whole frames).
    virtual size_t BlockBytes() const = 0;
    virtual int BlockValues() const = 0;

protected:
    // Decodes one block; false when it is corrupt.
    virtual bool DecodeBlock(const uint8_t* block, int16_t* values) = 0;

private:
    std::vector<uint8_t> block_;
    std::vector<int16_t> values_;  // of the last block; allocated once a whole block is there
    size_t taken_ = 0;             // values of it given out
    size_t held_ = 0;              // values it holds
};

}  // namespace pelloran
