#pragma once
// AMR output: mono 16-bit PCM at 8000 Hz (narrow-band) or 16000 Hz (wide-band), cut into codec frames; the
// last partial frame is padded with silence.

#include <array>
#include <vector>
#include <cstdint>

#include "encode/AudioWriter.h"
#include "platform/File.h"
#include "platform/amr.h"

namespace pelloran {

struct AmrOptions {
    AmrBand band = AmrBand::Narrow;
    int mode = 6;      // 0..7 narrow-band, 0..8 wide-band; anything else refuses Open
    bool dtx = false;  // discontinuous transmission
};

class AmrWriter final : public AudioWriter {
public:
    explicit AmrWriter(AmrOptions options = {});

    // Frames handed to the encoder since Open (tests).
    uint64_t FramesEncoded() const { return framesEncoded_; }

protected:
    // Refuses any format but mono 16-bit PCM at the band's rate.
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const int32_t* const* planes, int frames) override;
    bool End() override;
    void Release() override;

private:
    bool EncodeFrame(const int16_t* frame);

    AmrOptions options_;
    AmrEncoder encoder_;
    File file_;
    std::array<int16_t, kAmrWbFrameSamples> buffer_{};
    int count_ = 0;  // samples waiting in buffer_
    std::vector<int16_t> sixteen_;  // one block as the encoder takes it
    uint64_t framesEncoded_ = 0;
};

}  // namespace pelloran
