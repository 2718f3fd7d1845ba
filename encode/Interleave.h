#pragma once
// Int32 planes (media/PcmFormat.h) into the shapes encoders take: interleaved 16-bit samples, 16-bit planes,
// interleaved floats, and the little-endian bytes of WAV data.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelloran {

// Where each channel of the Vorbis order (which Ogg Vorbis and Opus files keep: L C R for three, L C R Ls Rs LFE
// for 5.1, ...) stands among the planes in FFmpeg's order (L R C LFE ...), for 1 to 8 channels.
inline const int* VorbisOrder(int channels) {
    static constexpr int kOrders[9][8] = {
        {},
        {0},
        {0, 1},
        {0, 2, 1},
        {0, 1, 2, 3},
        {0, 2, 1, 3, 4},
        {0, 2, 1, 4, 5, 3},
        {0, 2, 1, 5, 6, 4, 3},
        {0, 2, 1, 6, 7, 4, 5, 3},
    };
    return kOrders[channels < 0 || channels > 8 ? 0 : channels];
}

// One plane at bits as 16-bit samples (narrower ones padded with zero bits, wider ones cut).
inline void PlaneToSixteen(const int32_t* in, int bits, size_t frames, int16_t* out) {
    if (bits == 16) {
        for (size_t i = 0; i < frames; ++i) out[i] = static_cast<int16_t>(in[i]);
    } else if (bits < 16) {
        for (size_t i = 0; i < frames; ++i) out[i] = static_cast<int16_t>(static_cast<uint32_t>(in[i]) << (16 - bits));
    } else {
        for (size_t i = 0; i < frames; ++i) out[i] = static_cast<int16_t>(in[i] >> (bits - 16));
    }
}

// Planes at bits as interleaved 16-bit frames; out only grows.
inline void InterleaveSixteen(const int32_t* const* planes, int channels, int bits, size_t frames,
                              std::vector<int16_t>& out) {
    if (out.size() < frames * static_cast<size_t>(channels)) out.resize(frames * static_cast<size_t>(channels));
    int16_t* dst = out.data();
    if (channels == 2 && bits == 16) {
        const int32_t* l = planes[0];
        const int32_t* r = planes[1];
        for (size_t i = 0; i < frames; ++i) {
            dst[2 * i] = static_cast<int16_t>(l[i]);
            dst[2 * i + 1] = static_cast<int16_t>(r[i]);
        }
        return;
    }
    const auto n = static_cast<size_t>(channels);
    for (size_t c = 0; c < n; ++c) {
        const int32_t* in = planes[c];
        for (size_t i = 0; i < frames; ++i) {
            dst[i * n + c] = bits < 16 ? static_cast<int16_t>(static_cast<uint32_t>(in[i]) << (16 - bits))
                                       : static_cast<int16_t>(in[i] >> (bits - 16));
        }
    }
}

// One plane at bits as floats in [-1, 1).
inline void PlaneToFloat(const int32_t* in, int bits, size_t frames, float* out) {
    const float scale = 1.0f / static_cast<float>(int64_t{1} << (bits - 1));
    for (size_t i = 0; i < frames; ++i) out[i] = static_cast<float>(in[i]) * scale;
}

// Planes at bits as little-endian samples of bits/8 bytes, interleaved (8 bits stored unsigned, as WAV has
// them); out only grows.
inline void InterleaveBytes(const int32_t* const* planes, int channels, int bits, size_t frames,
                            std::vector<uint8_t>& out) {
    const size_t bytes = static_cast<size_t>(bits / 8);
    const auto n = static_cast<size_t>(channels);
    if (out.size() < frames * n * bytes) out.resize(frames * n * bytes);
    uint8_t* dst = out.data();
    if (bits == 16) {
        if constexpr (std::endian::native == std::endian::little) {
            // Whole 16-bit stores on a little-endian machine: the common case at the speed of a copy.
            auto* out16 = reinterpret_cast<int16_t*>(dst);
            if (n == 2) {
                const int32_t* l = planes[0];
                const int32_t* r = planes[1];
                for (size_t i = 0; i < frames; ++i) {
                    out16[2 * i] = static_cast<int16_t>(l[i]);
                    out16[2 * i + 1] = static_cast<int16_t>(r[i]);
                }
                return;
            }
            for (size_t c = 0; c < n; ++c) {
                const int32_t* in = planes[c];
                for (size_t i = 0; i < frames; ++i) out16[i * n + c] = static_cast<int16_t>(in[i]);
            }
            return;
        }
        for (size_t i = 0; i < frames; ++i) {
            for (size_t c = 0; c < n; ++c) {
                const auto v = static_cast<uint32_t>(planes[c][i]);
                *dst++ = static_cast<uint8_t>(v);
                *dst++ = static_cast<uint8_t>(v >> 8);
            }
        }
        return;
    }
    for (size_t i = 0; i < frames; ++i) {
        for (size_t c = 0; c < n; ++c) {
            const auto v = static_cast<uint32_t>(planes[c][i]);
            if (bits == 8) {
                *dst++ = static_cast<uint8_t>(v + 128);
                continue;
            }
            for (size_t b = 0; b < bytes; ++b) *dst++ = static_cast<uint8_t>(v >> (8 * b));
        }
    }
}

}  // namespace pelloran
