#include "decode/WidePcm.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace pelloran {

namespace {

uint64_t LoadBytes(const uint8_t* p, int bytes, bool bigEndian) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | p[bigEndian ? i : bytes - 1 - i];
    return v;
}

}  // namespace

int32_t FloatToWide(double x, int bits) {
    if (x != x) return 0;  // NaN is silence
    if (x < -1.0) x = -1.0;
    const double top = static_cast<double>((int64_t{1} << (bits - 1)) - 1);
    return static_cast<int32_t>(std::min(std::nearbyint(x * (top + 1.0)), top));
}

int StoredPcm::WideBits() const {
    switch (kind) {
        case Signed: return bytes >= 1 && bytes <= 2 ? 16 : bytes == 3 ? 24 : bytes == 4 ? 32 : 0;
        case Unsigned: return bytes == 1 ? 16 : 0;
        case Float: return bytes == 4 || bytes == 8 ? 32 : 0;
    }
    return 0;
}

void DecodeStoredPcm(const uint8_t* in, size_t frames, int channels, const StoredPcm& pcm, int bits,
                     int32_t* const* planes, int keep) {
    const auto size = static_cast<size_t>(pcm.bytes);
    const int shift = 32 - bits;
    for (size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c, in += size) {
            if (c >= keep) continue;
            const uint64_t raw = LoadBytes(in, pcm.bytes, pcm.bigEndian);
            int32_t v = 0;
            if (pcm.kind == StoredPcm::Float) {
                v = FloatToWide(pcm.bytes == 4 ? std::bit_cast<float>(static_cast<uint32_t>(raw))
                                             : std::bit_cast<double>(raw),
                              bits);
            } else {
                // Into the top of 32 bits, then down to the width.
                auto top = static_cast<uint32_t>(raw << (32 - 8 * pcm.bytes));
                if (pcm.kind == StoredPcm::Unsigned) top ^= 0x80000000u;
                v = static_cast<int32_t>(top) >> shift;
            }
            planes[c][i] = v;
        }
    }
}

}  // namespace pelloran
