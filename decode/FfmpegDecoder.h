#pragma once
// Readers on the FFmpeg media source: FfmpegDecoder decodes the first audio stream of any container the
// source opens, every channel; FfmpegProbe only reads a container's stream properties.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decode/AudioDecoder.h"
#include "platform/File.h"

namespace pelloran {

class FfmpegSource;

class FfmpegDecoder : public AudioDecoder {
public:
    FfmpegDecoder();
    ~FfmpegDecoder() override;

    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(int32_t* const* planes) override;
    int ReadTags(TagRecord& tags) override;
    bool IsTruncated() const override;
    bool IsDsd() const override;

private:
    File file_;  // outlives the source reading it
    std::unique_ptr<FfmpegSource> source_;
    std::vector<uint8_t> buffer_;  // interleaved frames of one Read
};

class FfmpegProbe : public AudioDecoder {
public:
    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(int32_t* const* planes) override;
};

}  // namespace pelloran
