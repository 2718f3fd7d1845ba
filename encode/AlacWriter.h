#pragma once
// ALAC in MPEG-4 audio (.m4a): narrow blocks (stored at 16 bits) or wide ones of 16 or 24 bits and up to
// eight channels, with the iTunes-style metadata of the M4A writer.

#include <cstdint>
#include <vector>

#include "encode/AudioWriter.h"
#include "platform/alac.h"
#include "platform/mp4_write.h"

namespace pelloran {

class AlacWriter final : public AudioWriter {
protected:
    // Refused: wide widths beyond 24 bits.
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const int32_t* const* planes, int frames) override;
    bool End() override;
    void Release() override;

private:
    Mp4AudioFile file_;
    AlacEncoder encoder_;
    std::vector<int32_t> samples_[kMaxChannels];
};

}  // namespace pelloran
