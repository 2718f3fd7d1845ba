#include "decode/Gsm610.h"

#include <gsm.h>

namespace pelloran {

Gsm610Decoder::~Gsm610Decoder() { Destroy(); }

bool Gsm610Decoder::Create(bool wav49) {
    Destroy();
    state_ = gsm_create();
    if (state_ == nullptr) return false;
    int value = wav49 ? 1 : 0;
    gsm_option(state_, GSM_OPT_WAV49, &value);
    return true;
}

void Gsm610Decoder::Destroy() {
    if (state_ != nullptr) {
        gsm_destroy(state_);
        state_ = nullptr;
    }
}

bool Gsm610Decoder::Decode(const uint8_t* frame, int16_t* samples) {
    if (state_ == nullptr) return false;
    return gsm_decode(state_, const_cast<gsm_byte*>(frame), samples) >= 0;
}

}  // namespace pelloran
