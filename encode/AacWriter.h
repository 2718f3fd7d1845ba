#pragma once
// AAC output: the frame buffering shared with the MP4 writer, and the writer of raw ADTS files.

#include <cstdint>
#include <functional>
#include <vector>

#include "encode/AudioWriter.h"
#include "platform/File.h"
#include "platform/aac.h"

namespace pelloran {

// The encoder options of the AAC and MP4 pages.
struct AacOptions {
    bool mpeg2 = false;  // ADTS headers marked MPEG-2 (the .aac writer only)
    int abrKbps = 0;     // average bit rate of the stream in kbit/s; 0 selects the quality mode
    int quality = 100;   // the quality mode's 10..500
    bool tns = false;
    bool midside = true;
};

// The AAC sampling rate nearest to rate (the higher one on a tie).
int NearestAacRate(int rate);

// Collects planar blocks of any length into interleaved encoder frames, so that every encoder call gets one
// whole frame until the end of the stream, and hands each call's result to a sink.
class AacFrameStream {
public:
    // framesPassed: frames per channel given to the call (0 while draining); frame: what it returned, possibly
    // nothing. False stops the stream as failed.
    using Sink = std::function<bool(int framesPassed, const std::vector<uint8_t>& frame)>;

    bool Open(int rate, int channels, const AacEncoderSettings& settings, Sink sink);
    void Close();
    const AacEncoder& Encoder() const { return encoder_; }
    // One block of planes at bits, taken as 16-bit samples; false when the encoder or the sink failed.
    bool Write(const int32_t* const* planes, int frames, int bits);
    // Passes what is still buffered and drains the encoder.
    bool Drain();

private:
    bool EncodeBuffer();

    AacEncoder encoder_;
    Sink sink_;
    std::vector<int16_t> samples_;
    int fill_ = 0;  // frames in samples_
    std::vector<uint8_t> frame_;
};

// Raw AAC in ADTS frames; no tags.
class AacWriter final : public AudioWriter {
public:
    explicit AacWriter(AacOptions options = {});

protected:
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const int32_t* const* planes, int frames) override;
    bool End() override;
    void Release() override;

private:
    AacOptions options_;
    File file_;
    AacFrameStream stream_;
};

// The encoder settings of options: ADTS frames for .aac files, raw frames for MPEG-4 files.
AacEncoderSettings AacSettings(const AacOptions& options, bool adts);

}  // namespace pelloran
