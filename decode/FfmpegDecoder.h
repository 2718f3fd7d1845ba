#pragma once
// Readers on the FFmpeg media source: FfmpegDecoder decodes the first audio stream of any container the
// source opens, mixed to mono or stereo; FfmpegProbe only reads a container's stream properties.

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
    int Read(void* left, void* right) override;
    int ReadTags(TagRecord& tags) override;
    bool IsTruncated() const override;
    PcmFormat WideFormat() override;
    bool UseWide() override;
    int ReadWide(int32_t* const* planes) override;

private:
    File file_;  // outlives the source reading it
    std::string path_;  // for opening the wide source
    bool wide_ = false;
    bool started_ = false;  // a block was read
    std::unique_ptr<FfmpegSource> source_;
    std::vector<uint8_t> buffer_;  // interleaved frames of one Read
};

class FfmpegProbe : public AudioDecoder {
public:
    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(void* left, void* right) override;
};

}  // namespace pelloran
