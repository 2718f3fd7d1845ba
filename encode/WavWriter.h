#pragma once
// Canonical 44-byte RIFF/WAVE PCM writer; sizes are patched from the file length when it finishes.

#include <cstdint>
#include <vector>

#include "encode/AudioWriter.h"
#include "platform/File.h"

namespace pelloran {

class WavWriter final : public AudioWriter {
protected:
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const void* left, const void* right, int frames) override;
    bool End() override;
    void Release() override;

private:
    File file_;
    std::vector<uint8_t> interleave_;
};

}  // namespace pelloran
