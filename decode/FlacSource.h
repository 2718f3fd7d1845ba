#pragma once
// Native FLAC files decoded by libFLAC, so that the commonest lossless input never needs FFmpeg. It hands
// out what the FFmpeg source hands out for the same file: 16-bit signed frames of every channel (narrower
// samples scaled up, wider ones cut to their top 16 bits), or on the wide path int32 frames of 16, 24 or 32
// significant bits.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "decode/PcmSource.h"

namespace pelloran {

class File;

// What the metadata walk found out about a FLAC file this source takes.
struct FlacLayout {
    uint8_t streamInfo[34] = {};  // the STREAMINFO block's body
    int rate = 0;
    int channels = 0;
    int bits = 0;                 // 8 to 32
    uint32_t maxBlock = 0;        // frames of the largest block
    uint64_t totalFrames = 0;
    uint64_t audioStart = 0;      // offset of the byte after the last metadata block
    uint64_t fileBytes = 0;
    bool containerTags = false;   // an ID3v2 tag, pictures or comments: FFmpeg would read tags from them
};

// The layout when the file is a native FLAC file ("fLaC", after at most one ID3v2 tag) that FFmpeg opens
// the same way; nothing when in doubt (no sample count, odd STREAMINFO, a cue sheet, damaged blocks).
std::optional<FlacLayout> ParseFlacLayout(const File& file);

class FlacSource final : public PcmSource {
public:
    // Null unless ParseFlacLayout takes the file and its first frame matches its STREAMINFO. The source
    // reads through the file's own stream (at its own offsets, so others may share the file); the file
    // must stay open while the source lives. name is what tag reading goes by.
    static std::unique_ptr<FlacSource> Open(File& file, const std::string& name, bool wide = false);
    ~FlacSource() override;

    size_t Read(void* out, size_t frames) override;
    std::optional<uint64_t> FileBytes() const override;
    bool Truncated() const override;
    bool ReadTags(TagRecord& tags) override;
    int WideWidth() const override;
    std::unique_ptr<PcmSource> OpenWide() const override;

    struct State;

private:
    explicit FlacSource(std::unique_ptr<State> state);
    std::unique_ptr<State> s_;
};

}  // namespace pelloran
