#pragma once
// Planar stereo to interleaved frames (L R L R ...), for writers whose encoders take interleaved samples.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace pelloran {

template <typename Sample>
void InterleaveStereoAs(const void* left, const void* right, size_t frames, uint8_t* dst) {
    const auto* l = static_cast<const Sample*>(left);
    const auto* r = static_cast<const Sample*>(right);
    auto* out = reinterpret_cast<Sample*>(dst);
    for (size_t i = 0; i < frames; ++i) {
        out[2 * i] = l[i];
        out[2 * i + 1] = r[i];
    }
}

// Fills out with frames of left then right samples of bytesPerSample bytes each; out only grows.
inline void InterleaveStereo(const void* left, const void* right, size_t frames, size_t bytesPerSample,
                             std::vector<uint8_t>& out) {
    out.resize(frames * 2 * bytesPerSample);
    // A copy per sample of a size known only at run time is a library call each: the common widths get a
    // loop of their own.
    if (bytesPerSample == 2) return InterleaveStereoAs<int16_t>(left, right, frames, out.data());
    if (bytesPerSample == 1) return InterleaveStereoAs<uint8_t>(left, right, frames, out.data());
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
