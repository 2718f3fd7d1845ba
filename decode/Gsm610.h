#pragma once
// GSM 06.10 frame decoder: an owning wrapper of a libgsm state.

#include <cstddef>
#include <cstdint>

#include "decode/SoundCodec.h"

struct gsm_state;

namespace pelloran {

class Gsm610Decoder {
public:
    Gsm610Decoder() = default;
    ~Gsm610Decoder();
    Gsm610Decoder(const Gsm610Decoder&) = delete;
    Gsm610Decoder& operator=(const Gsm610Decoder&) = delete;

    // Creates the state; wav49 selects the 65-byte two-frame layout of WAV and AIFF-C files.
    bool Create(bool wav49);
    void Destroy();
    bool Valid() const { return state_ != nullptr; }
    // Decodes one frame (33 bytes, or the halves of a WAV49 pair in turn) into 160 samples; false on error.
    bool Decode(const uint8_t* frame, int16_t* samples);

private:
    gsm_state* state_ = nullptr;
};

// GSM 06.10 as a codec: 33-byte frames of 160 values, or the 65-byte WAV49 pairs of 320.
class Gsm610Codec final : public BlockCodec {
public:
    // False when libgsm gives no state.
    bool Create(bool wav49) {
        wav49_ = wav49;
        return decoder_.Create(wav49);
    }
    size_t BlockBytes() const override { return wav49_ ? 65 : 33; }
    int BlockValues() const override { return wav49_ ? 320 : 160; }

private:
    bool DecodeBlock(const uint8_t* block, int16_t* out) override {
        // WAV49: a 33-byte frame, then a 32-byte one; the decoder alternates by itself.
        return decoder_.Decode(block, out) && (!wav49_ || decoder_.Decode(block + 33, out + 160));
    }

    Gsm610Decoder decoder_;
    bool wav49_ = false;
};

}  // namespace pelloran
