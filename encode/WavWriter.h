#pragma once
// Canonical 44-byte RIFF/WAVE PCM writer; sizes are patched from the file length on Close.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/File.h"

namespace pelloran {

class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter() { Close(); }
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Creates (or replaces) the file and writes the header with placeholder sizes.
    bool Open(const std::string& path, bool stereo, int bits, int rate);
    bool Write16(const int16_t* left, const int16_t* right, int frames);
    bool Write8(const uint8_t* left, const uint8_t* right, int frames);
    // Patches both sizes and closes; false when any write since Open failed. A second call does nothing.
    bool Close();
    bool IsOpen() const { return file_.IsOpen(); }

private:
    bool WriteInterleaved(const void* left, const void* right, int frames, int bytesPerSample);

    File file_;
    uint16_t channels_ = 0;
    bool failed_ = false;
    std::vector<uint8_t> interleave_;
};

}  // namespace pelloran
