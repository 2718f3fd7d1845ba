#pragma once
// CCITT ADPCM decoder of ITU-T G.726 for the 3-, 4- and 5-bit codings (G.723 24 kbit/s, G.721, G.723 40 kbit/s).

#include <cstdint>
#include <vector>

#include "decode/SoundCodec.h"

namespace pelloran {

class G726Decoder {
public:
    // codeBits: 3, 4 or 5; any other value gives the 4-bit coding.
    explicit G726Decoder(int codeBits = 4) { Reset(codeBits); }

    // Returns to the initial state of the recommendation for that coding.
    void Reset(int codeBits);
    int CodeBits() const { return codeBits_; }
    // Decodes one code (its low CodeBits() bits) to a 16-bit linear sample.
    int16_t Decode(unsigned code);

private:
    void Update(int y, int wi, int fi, int dq, int sr, int dqsez);

    int codeBits_ = 4;
    int32_t yl_ = 34816;  // slow (locked) quantizer scale factor
    int yu_ = 544;        // fast (unlocked) quantizer scale factor
    int dms_ = 0;         // short-term average of F(I)
    int dml_ = 0;         // long-term average of F(I)
    int ap_ = 0;          // speed control
    int16_t a_[2] = {};   // pole coefficients
    int16_t b_[6] = {};   // zero coefficients
    int pk_[2] = {};      // signs of the last two partial signal estimates
    int dq_[6] = {32, 32, 32, 32, 32, 32};  // quantized differences, floating form
    int sr_[2] = {32, 32};                  // reconstructed signal, floating form
    int td_ = 0;                            // tone detected
};

// G.726 codes of one or two channels packed from the least significant bit up, channel 1 first.
class G726Codec final : public SoundCodec {
public:
    G726Codec(int codeBits, int channels);
    // Reads the codes of count values at a time; a frame the data ends inside is not given.
    int Decode(SoundData& data, int16_t* out, int count) override;

private:
    int codeBits_;
    int channels_;
    G726Decoder state_[2];
    uint32_t bitBuffer_ = 0;
    int bitCount_ = 0;
    std::vector<uint8_t> bytes_;  // grows to one request, never beyond the data
};

}  // namespace pelloran
