#pragma once
// IMA ADPCM nibble decoding shared by the WAV (block) and AIFF (IMA4 packet) readers.

#include <cstdint>

namespace pelloran {

struct ImaChannelState {
    int predictor = 0;  // last sample
    int index = 0;      // step index 0..88

    // Sets the state from a block header; the index is clamped to 0..88 and the predictor to 16 bits.
    void Reset(int firstSample, int stepIndex);
    // Decodes one 4-bit code and returns the new sample.
    int16_t Decode(uint8_t code);
};

}  // namespace pelloran
