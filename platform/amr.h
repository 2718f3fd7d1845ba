#pragma once
// AMR speech encoding: narrow-band on opencore-amrnb (8000 Hz, frames of 160 samples, modes 0..7), wide-band
// on vo-amrwbenc (16000 Hz, frames of 320 samples, modes 0..8). Frames come out as the AMR storage format
// holds them, after the file header of FileHeader.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace pelloran {

enum class AmrBand { Narrow, Wide };

inline constexpr int kAmrNbFrameSamples = 160;  // 20 ms at 8000 Hz
inline constexpr int kAmrWbFrameSamples = 320;  // 20 ms at 16000 Hz

class AmrEncoder {
public:
    AmrEncoder();
    ~AmrEncoder();
    AmrEncoder(const AmrEncoder&) = delete;
    AmrEncoder& operator=(const AmrEncoder&) = delete;

    // False when the mode is outside the band's range or the codec cannot start.
    bool Open(AmrBand band, int mode, bool dtx);
    void Close();
    int Rate() const { return band_ == AmrBand::Narrow ? 8000 : 16000; }
    int FrameSamples() const { return band_ == AmrBand::Narrow ? kAmrNbFrameSamples : kAmrWbFrameSamples; }
    // "#!AMR\n" or "#!AMR-WB\n".
    std::string_view FileHeader() const { return band_ == AmrBand::Narrow ? "#!AMR\n" : "#!AMR-WB\n"; }
    // Encodes one frame of FrameSamples() samples: its bytes, header byte first; empty on failure. The bytes
    // stay valid until the next call.
    std::span<const uint8_t> Encode(const int16_t* frame);

private:
    struct StateFreer {
        AmrBand band;
        void operator()(void* state) const;
    };

    AmrBand band_ = AmrBand::Narrow;
    int mode_ = 0;
    bool dtx_ = false;
    std::unique_ptr<void, StateFreer> state_{nullptr, StateFreer{AmrBand::Narrow}};
    uint8_t out_[128] = {};
};

}  // namespace pelloran
