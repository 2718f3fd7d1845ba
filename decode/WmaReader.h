#pragma once
// Windows Media files (wma, wmv, asf ...): the first audio stream through the FFmpeg source (ASF alone, 16-bit
// PCM at the stream's rate, mono or a stereo mix), and the tags from the header attributes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decode/AudioDecoder.h"
#include "platform/File.h"

namespace pelloran {

class FfmpegSource;

class WmaReader final : public AudioDecoder {
public:
    WmaReader();
    ~WmaReader() override;

    void Close() override;
    // The length and position are in 100-ns units.
    int Open(const std::string& path, int rate) override;
    int Read(int32_t* const* planes) override;
    int ReadTags(TagRecord& tags) override;
    bool IsTruncated() const override { return truncated_; }

private:
    File file_;                              // the source's one open; outlives the source
    std::unique_ptr<FfmpegSource> source_;
    std::vector<uint8_t> buffer_;            // interleaved frames of one Read
    uint64_t frames_ = 0;                    // frames handed out
    TagRecord tags_;
    bool truncated_ = false;                 // the ASF data object runs past the end of the file
};

}  // namespace pelloran
