#pragma once
// MPEG-4 audio output (m4a, mp4, m4b: the same content): AAC frames from the shared buffering stored as
// frames of one track, with iTunes-style metadata.

#include <cstdint>

#include "encode/AacWriter.h"
#include "platform/mp4_write.h"

namespace pelloran {

class Mp4Writer final : public AudioWriter {
public:
    explicit Mp4Writer(AacOptions options = {});

    // Samples per channel handed to the encoder, and the sum of the durations written (tests).
    uint64_t EncodedSamples() const { return encoded_; }
    uint64_t WrittenDuration() const { return written_; }

protected:
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const int32_t* const* planes, int frames) override;
    bool End() override;
    void Release() override;

private:
    bool Store(int framesPassed, const std::vector<uint8_t>& frame);

    AacOptions options_;
    Mp4AudioFile file_;
    AacFrameStream stream_;
    uint64_t encoded_ = 0;
    uint64_t written_ = 0;
};

}  // namespace pelloran
