#pragma once
// RIFF/WAVE PCM writer: the canonical 44-byte header for narrow blocks, WAVE_FORMAT_EXTENSIBLE (68 bytes,
// with the valid bits and the usual speaker mask of the channel count) for wide ones. Sizes are patched
// from the file length when it finishes. Float blocks (isFloat) take the IEEE float tag (or the extensible float
// sub-format beyond two channels) and a "fact" chunk of the frame count. Tags follow the samples: a LIST/INFO
// chunk and an "id3 " chunk.

#include <cstdint>
#include <vector>

#include "encode/AudioWriter.h"
#include "platform/File.h"

namespace pelloran {

class WavWriter final : public AudioWriter {
protected:
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const int32_t* const* planes, int frames) override;
    bool End() override;
    void Release() override;

private:
    File file_;
    std::vector<uint8_t> interleave_;
    int64_t dataOffset_ = 44;  // where the samples start
    int64_t factOffset_ = 0;   // where the fact chunk's frame count lies; 0 without one
    std::vector<uint8_t> tagChunks_;  // LIST/INFO and "id3 ", written after the samples
};

}  // namespace pelloran
