#pragma once
// What every decoding source hands out: interleaved PCM frames of one format, and what it knows of its file.

#include <cstddef>
#include <cstdint>
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

// The first `channels` channels of interleaved frames into int32 planes: 8-bit unsigned samples become signed,
// 16-bit ones are taken as they are, wide ones (bits 32) keep their significant bits.
inline void SplitChannels(const void* in, size_t frames, const SourceFormat& format, int channels,
                          int32_t* const* planes) {
    const auto stride = static_cast<size_t>(format.channels);
    if (format.bits == 8) {
        const auto* u = static_cast<const uint8_t*>(in);
        for (int c = 0; c < channels; ++c)
            for (size_t i = 0; i < frames; ++i) planes[c][i] = static_cast<int32_t>(u[i * stride + c]) - 128;
        return;
    }
    if (format.bits == 16) {
        const auto* s = static_cast<const int16_t*>(in);
        if (channels == 2 && stride == 2) {
            int32_t* l = planes[0];
            int32_t* r = planes[1];
            for (size_t i = 0; i < frames; ++i) {
                l[i] = s[2 * i];
                r[i] = s[2 * i + 1];
            }
            return;
        }
        for (int c = 0; c < channels; ++c)
            for (size_t i = 0; i < frames; ++i) planes[c][i] = s[i * stride + static_cast<size_t>(c)];
        return;
    }
    const auto* w = static_cast<const int32_t*>(in);
    for (int c = 0; c < channels; ++c)
        for (size_t i = 0; i < frames; ++i) planes[c][i] = w[i * stride + static_cast<size_t>(c)];
}

}  // namespace pelloran
