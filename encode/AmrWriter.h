#pragma once
// AMR output: mono 16-bit PCM at 8000 Hz (narrow-band) or 16000 Hz (wide-band) cut into codec frames.

#include <array>
#include <cstdint>
#include <string>

#include "platform/amr.h"

namespace pelloran {

class AmrWriter {
public:
    AmrWriter() = default;
    ~AmrWriter() { Close(); }
    AmrWriter(const AmrWriter&) = delete;
    AmrWriter& operator=(const AmrWriter&) = delete;

    // Finishes any open encoder and picks the band; the file is created by Start.
    bool Open(const std::string& path, bool narrowBand);
    // Parameters, between Open and Start; modes are passed to the encoder unchecked.
    void SetDtx(int dtx) { dtx_ = dtx; }
    void SetNbMode(int mode) { nbMode_ = mode; }
    void SetWbMode(int mode) { wbMode_ = mode; }
    // Creates the file and the encoder of the chosen band.
    bool Start(const std::string& path);
    // Mono 16-bit samples; every encoder call gets exactly one frame. False when a frame failed.
    bool Encode(const int16_t* samples, int count);
    // Pads the last partial frame with silence, encodes it and completes the file.
    bool Close();

    int FrameSize() const { return frameSize_; }
    bool NarrowBand() const { return narrowBand_; }
    int Dtx() const { return dtx_; }
    int NbMode() const { return nbMode_; }
    int WbMode() const { return wbMode_; }
    // Frames handed to the encoder so far (tests).
    uint64_t FramesEncoded() const { return framesEncoded_; }

private:
    bool EncodeFrame(const int16_t* frame);
    void Reset();

    bool narrowBand_ = true;
    int frameSize_ = 0;
    int dtx_ = 0;
    int nbMode_ = 6;
    int wbMode_ = 6;
    AmrNbPtr nb_;
    AmrWbPtr wb_;
    std::array<int16_t, kAmrWbFrameSamples> buffer_{};
    int count_ = 0;
    uint64_t framesEncoded_ = 0;
    bool failed_ = false;
};

}  // namespace pelloran
