#pragma once
// Ogg Vorbis writer on libvorbis, vorbisenc and libogg: 16-bit input, a nominal bit rate or a quality,
// Vorbis comments in UTF-8.

#include <memory>

#include "encode/AudioWriter.h"
#include "platform/File.h"

namespace pelloran {

struct OggOptions {
    // Nominal bit rate in bit/s, with bit-rate management off (the quality follows from it).
    int bitrate = 128000;
    // With useQuality, the encoder's quality (-0.1 .. 1.0) instead of a bit rate.
    bool useQuality = false;
    float quality = 0.5f;
};

class OggWriter final : public AudioWriter {
public:
    explicit OggWriter(OggOptions options = {});
    ~OggWriter() override;

protected:
    // Refused when libvorbis has no mode for the rate, channels and bit rate. The non-empty texts become
    // comments, the track only when its integer value is above 0.
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const int32_t* const* planes, int frames) override;
    bool End() override;
    void Release() override;

private:
    struct State;

    bool WritePage(const void* header, long headerBytes, const void* body, long bodyBytes);
    // Encodes what the analysis holds and writes the pages that are complete.
    bool Flush();

    OggOptions options_;
    File file_;
    std::unique_ptr<State> state_;
};

}  // namespace pelloran
