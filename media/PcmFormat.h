#pragma once
// The shape of planar PCM as a reader delivers it, the converter changes it and a writer takes it.

namespace pelloran {

struct PcmFormat {
    int rate = 0;      // Hz
    int channels = 2;  // 1 or 2
    int bits = 16;     // 8 (unsigned) or 16 (signed)

    bool operator==(const PcmFormat&) const = default;
    // Channels 1 or 2, width 8 or 16, a positive rate.
    bool Valid() const { return rate > 0 && (channels == 1 || channels == 2) && (bits == 8 || bits == 16); }
};

}  // namespace pelloran
