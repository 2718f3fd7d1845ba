#pragma once
// Planar stereo to interleaved frames (L R L R ...), for writers whose encoders take interleaved samples.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace pelloran {

// Fills out with frames of left then right samples of bytesPerSample bytes each; out only grows.
inline void InterleaveStereo(const void* left, const void* right, size_t frames, size_t bytesPerSample,
                             std::vector<uint8_t>& out) {
    out.resize(frames * 2 * bytesPerSample);
    const auto* l = static_cast<const uint8_t*>(left);
    const auto* r = static_cast<const uint8_t*>(right);
    uint8_t* dst = out.data();
    for (size_t i = 0; i < frames; ++i) {
        std::memcpy(dst, l + i * bytesPerSample, bytesPerSample);
        std::memcpy(dst + bytesPerSample, r + i * bytesPerSample, bytesPerSample);
        dst += 2 * bytesPerSample;
    }
}

}  // namespace pelloran
