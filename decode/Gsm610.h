#pragma once
// GSM 06.10 frame decoder: an owning wrapper of a libgsm state.

#include <cstdint>

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

}  // namespace pelloran
