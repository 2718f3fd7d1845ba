#pragma once
// Plain integer-PCM RIFF/WAVE files read by our own code, so that the commonest input never needs FFmpeg.
// It hands out what the FFmpeg source hands out for the same file: 8-bit unsigned or 16-bit signed frames
// of every channel (wider samples cut to their top 16 bits), or on the wide path int32 frames of the
// samples' own width. 32-bit float files open on the wide path only: their samples at 32 bits, or their very
// bit patterns once KeepFloat is asked.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decode/PcmSource.h"

namespace pelloran {

class File;

// What the chunk walk found out about a WAV file this source takes.
struct WavLayout {
    int rate = 0;
    int channels = 0;
    int bytesPerSample = 0;     // 1, 2, 3 or 4
    bool isFloat = false;       // IEEE single precision (bytesPerSample 4)
    uint64_t dataStart = 0;     // offset of the first sample
    uint64_t dataBytes = 0;     // bytes of whole frames the file holds
    uint64_t lengthFrames = 0;  // as FFmpeg states it
    uint64_t fileBytes = 0;
    bool cutShort = false;      // the data chunk claims more than the file holds
    bool containerTags = false;  // INFO entries, bext or ID3 chunks: FFmpeg would read tags from them
};

// The layout when the file is a WAV file the source reads exactly as FFmpeg does; nothing when in doubt
// (another format, an odd width, a stream FFmpeg would take for something else).
std::optional<WavLayout> ParseWavLayout(const File& file);

class WavSource final : public PcmSource {
public:
    // Null unless ParseWavLayout takes the file. The file must stay open while the source lives; name is
    // what tag reading goes by.
    static std::unique_ptr<WavSource> Open(const File& file, const std::string& name, bool wide = false);

    size_t Read(void* out, size_t frames) override;
    std::optional<uint64_t> FileBytes() const override { return layout_.fileBytes; }
    bool Truncated() const override { return layout_.cutShort; }
    bool ReadTags(TagRecord& tags) override;
    int WideWidth() const override;
    std::unique_ptr<PcmSource> OpenWide() const override;
    // A wide source of a float file, which KeepFloat can switch to the floats' bit patterns.
    bool StoresFloat() const { return wide_ && layout_.isFloat; }
    // Before the first Read: hands out the floats' bit patterns from now on; false when it cannot.
    bool KeepFloat();

private:
    WavSource(const File& file, std::string name, const WavLayout& layout, bool wide);
    // Refills the block buffer from the file; false at the end of the audio.
    bool Fill();

    const File& file_;
    std::string name_;
    WavLayout layout_;
    bool wide_;
    bool keepFloat_ = false;
    std::vector<uint8_t> block_;  // frames as the file holds them
    size_t blockUsed_ = 0;        // bytes of block_ holding frames
    size_t blockTaken_ = 0;       // bytes of those already handed out
    uint64_t consumed_ = 0;       // data bytes read from the file
};

}  // namespace pelloran
