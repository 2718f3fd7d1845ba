#pragma once
// The one shape of PCM between readers, the converter and writers: one int32 plane per channel, each sample
// holding `bits` significant bits, right-aligned and signed (an 8-bit sample lies in -128..127, a 24-bit one in
// -2^23..2^23-1). Channels are in the source's order (FFmpeg's standard order for 3 and more). With isFloat
// (bits 32 only) the planes hold IEEE single-precision bit patterns instead, passed from reader to writer untouched.

#include <cstdint>

namespace pelloran {

inline constexpr int kMaxChannels = 8;
// Kept for the callers that speak of the many-channel path.
inline constexpr int kMaxWideChannels = kMaxChannels;

struct PcmFormat {
    int rate = 0;      // Hz
    int channels = 2;  // 1 to kMaxChannels
    int bits = 16;     // 8, 16, 24 or 32
    bool isFloat = false;

    bool operator==(const PcmFormat&) const = default;
    bool Valid() const {
        return rate > 0 && channels >= 1 && channels <= kMaxChannels &&
               (bits == 8 || bits == 16 || bits == 24 || bits == 32) && (!isFloat || bits == 32);
    }
};

// Samples of a plane from one width to another: up by a left shift, down by an arithmetic shift.
inline void ChangeWidth(const int32_t* in, int32_t* out, int frames, int fromBits, int toBits) {
    if (toBits > fromBits) {
        const int shift = toBits - fromBits;
        for (int i = 0; i < frames; ++i) out[i] = static_cast<int32_t>(static_cast<uint32_t>(in[i]) << shift);
    } else if (toBits < fromBits) {
        const int shift = fromBits - toBits;
        for (int i = 0; i < frames; ++i) out[i] = in[i] >> shift;
    } else if (in != out) {
        for (int i = 0; i < frames; ++i) out[i] = in[i];
    }
}

}  // namespace pelloran
