#pragma once
// Stored PCM samples of WAV, AIFF and AU files: as the wide path takes them, int32 planes at 16, 24 or 32
// significant bits (media/PcmFormat.h), and one sample at a time as the 16-bit output takes it.

#include <cstddef>
#include <cstdint>

namespace pelloran {

struct StoredPcm {
    enum Kind { Signed, Unsigned, Float };
    Kind kind = Signed;
    int bytes = 2;  // of one stored sample: 1 to 4 for integers, 4 or 8 for floats
    bool bigEndian = false;

    // The wide width: integers by their stored bytes (1 and 2 give 16, 3 gives 24, 4 gives 32), floats 32;
    // 0 for a layout the wide path does not take.
    int WideBits() const;
};

// Converts frames of interleaved stored samples into planes[0..channels-1] at bits (WideBits()). Integers
// are left-justified in their bytes, as the three formats store them; floats beyond ±1.0 saturate.
void DecodeStoredPcm(const uint8_t* in, size_t frames, int channels, const StoredPcm& pcm, int bits,
                     int32_t* const* planes);

// The two most significant bytes of an integer sample of bytes (2 to 4) bytes.
inline int16_t TopSixteenBits(const uint8_t* p, int bytes, bool bigEndian) {
    return bigEndian ? static_cast<int16_t>(static_cast<uint16_t>((p[0] << 8) | p[1]))
                     : static_cast<int16_t>(static_cast<uint16_t>((p[bytes - 1] << 8) | p[bytes - 2]));
}

// A float sample of bytes (4 or 8) bytes scaled to 32 bits, truncated, cut to its top 16 bits; values beyond
// ±1.0 saturate, NaN is silence.
int16_t StoredFloatToSixteen(const uint8_t* p, int bytes, bool bigEndian);

}  // namespace pelloran
