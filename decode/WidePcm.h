#pragma once
// Stored PCM samples of WAV, AIFF and AU files as int32 planes (media/PcmFormat.h).

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

// A float sample as an int32 of bits significant bits: full scale at ±1.0, beyond it saturated, NaN silent.
int32_t FloatToWide(double x, int bits);

// Converts frames of interleaved stored samples of channels channels into planes[0..keep-1] at bits (8, or
// WideBits()); the channels from keep on are skipped. Integers are left-justified in their bytes, as the
// three formats store them; floats beyond ±1.0 saturate.
void DecodeStoredPcm(const uint8_t* in, size_t frames, int channels, const StoredPcm& pcm, int bits,
                     int32_t* const* planes, int keep);

}  // namespace pelloran
