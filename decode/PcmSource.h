#pragma once
// What every decoding source hands out: interleaved PCM frames of one format, and what it knows of its file.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "media/TagRecord.h"

namespace pelloran {

// The interleaved frames a source hands out: any number of channels.
struct SourceFormat {
    int rate = 0;
    int channels = 0;
    int bits = 16;     // 8: unsigned, 16: signed, 32: int32 samples of wideBits right-aligned
    int wideBits = 0;  // with bits 32: the significant bits, 16, 24 or 32

    size_t FrameBytes() const { return static_cast<size_t>(channels) * static_cast<size_t>(bits / 8); }
};

class PcmSource {
public:
    virtual ~PcmSource() = default;
    PcmSource(const PcmSource&) = delete;
    PcmSource& operator=(const PcmSource&) = delete;

    const SourceFormat& Format() const { return format_; }
    // Frames the source gives in all; 0 when it cannot tell.
    uint64_t LengthFrames() const { return lengthFrames_; }
    // Up to frames interleaved frames into out; 0 at the end.
    virtual size_t Read(void* out, size_t frames) = 0;
    // Size of the file the audio comes from, when there is one.
    virtual std::optional<uint64_t> FileBytes() const { return std::nullopt; }
    // True once the stream has ended before the extent its header gives.
    virtual bool Truncated() const { return false; }
    // Fills the tags the source carries; false (tags untouched) when it has none.
    virtual bool ReadTags(TagRecord& tags) {
        (void)tags;
        return false;
    }
    // The significant bits of the wide output (16, 24 or 32); 0 when the source has none.
    virtual int WideWidth() const { return 0; }
    // The same audio from its start as wide frames (bits 32, every channel); null when there are none.
    virtual std::unique_ptr<PcmSource> OpenWide() const { return nullptr; }

protected:
    PcmSource() = default;
    SourceFormat format_;
    uint64_t lengthFrames_ = 0;
};

// The first two channels of interleaved frames as planar blocks; a single channel goes to left alone.
inline void SplitFirstTwoChannels(const uint8_t* in, size_t frames, const SourceFormat& format, void* left,
                                  void* right) {
    const size_t stride = static_cast<size_t>(format.channels);
    const bool both = format.channels > 1;
    if (format.bits == 8) {
        auto* l = static_cast<uint8_t*>(left);
        auto* r = static_cast<uint8_t*>(right);
        for (size_t i = 0; i < frames; ++i) {
            l[i] = in[i * stride];
            if (both) r[i] = in[i * stride + 1];
        }
        return;
    }
    auto* l = static_cast<int16_t*>(left);
    auto* r = static_cast<int16_t*>(right);
    for (size_t i = 0; i < frames; ++i) {
        std::memcpy(&l[i], in + i * stride * 2, 2);
        if (both) std::memcpy(&r[i], in + i * stride * 2 + 2, 2);
    }
}

// Interleaved int32 frames of channels samples into one plane per channel.
inline void SplitWideChannels(const void* in, size_t frames, int channels, int32_t* const* planes) {
    const auto* bytes = static_cast<const uint8_t*>(in);
    const size_t stride = static_cast<size_t>(channels) * sizeof(int32_t);
    for (int c = 0; c < channels; ++c) {
        const uint8_t* at = bytes + static_cast<size_t>(c) * sizeof(int32_t);
        for (size_t i = 0; i < frames; ++i, at += stride) std::memcpy(&planes[c][i], at, sizeof(int32_t));
    }
}

}  // namespace pelloran
