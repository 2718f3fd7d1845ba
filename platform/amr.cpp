#include "platform/amr.h"

extern "C" {
#include <opencore-amrnb/interf_enc.h>
#include <vo-amrwbenc/enc_if.h>
}

namespace pelloran {

namespace {
constexpr int kMaxFrameBytes = 64;  // 32 for 12.2 kbit/s narrow-band, 61 for 23.85 kbit/s wide-band
}

void AmrEncoder::StateFreer::operator()(void* state) const {
    if (band == AmrBand::Narrow) Encoder_Interface_exit(state);
    else E_IF_exit(state);
}

AmrEncoder::AmrEncoder() = default;
AmrEncoder::~AmrEncoder() = default;

void AmrEncoder::Close() { state_.reset(); }

bool AmrEncoder::Open(AmrBand band, int mode, bool dtx) {
    Close();
    const bool narrow = band == AmrBand::Narrow;
    if (mode < 0 || mode > (narrow ? static_cast<int>(MR122) : 8)) return false;
    band_ = band;
    mode_ = mode;
    dtx_ = dtx;
    state_ = std::unique_ptr<void, StateFreer>(narrow ? Encoder_Interface_init(dtx ? 1 : 0) : E_IF_init(),
                                               StateFreer{band});
    return state_ != nullptr;
}

std::span<const uint8_t> AmrEncoder::Encode(const int16_t* frame) {
    if (!state_ || frame == nullptr) return {};
    const int n = band_ == AmrBand::Narrow
                      ? Encoder_Interface_Encode(state_.get(), static_cast<Mode>(mode_), frame, out_, 0)
                      : E_IF_encode(state_.get(), mode_, frame, out_, dtx_ ? 1 : 0);
    if (n <= 0 || n > kMaxFrameBytes) return {};
    return {out_, static_cast<size_t>(n)};
}

}  // namespace pelloran
