#pragma once
// Windows Media files (wma, wmv, asf ...): the first audio stream through the WMA layer's reader, which
// delivers 16-bit PCM, and the tags from the header attributes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decode/AudioDecoder.h"

namespace pelloran {

class WmaFileReader;

class WmaReader : public AudioDecoder {
public:
    WmaReader();
    ~WmaReader() override;

    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(void* left, void* right) override;
    int ReadTags(TagRecord& tags) override;
    bool IsTruncated() const override { return truncated; }

    // Capacity of the copy of the last sample, in bytes (tests).
    int SampleBufferSize() const { return sampleBufferSize; }

private:
    int Deliver(int16_t* left, int16_t* right, int delivered);

    std::unique_ptr<WmaFileReader> fileReader;
    TagRecord fileTags;
    bool haveTags = false;  // any of the tag attributes was present
    std::vector<uint8_t> sampleBuffer;
    int32_t sampleBufferSize = 0;
    int32_t pendingIndex = 0;   // next undelivered 16-bit value
    int32_t pendingFrames = 0;
    bool truncated = false;  // the ASF data object runs past the end of the file
};

}  // namespace pelloran
