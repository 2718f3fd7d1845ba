#pragma once
// The shape of planar PCM as a reader delivers it, the converter changes it and a writer takes it.
//
// Two paths: the narrow one (8-bit unsigned or 16-bit signed samples of their own size, one or two
// channels) that every writer takes, and the wide one for lossless writers: every channel of the source as
// int32 samples holding `bits` significant bits, right-aligned (a 24-bit sample lies in -2^23..2^23-1).

namespace pelloran {

inline constexpr int kMaxWideChannels = 8;

struct PcmFormat {
    int rate = 0;       // Hz
    int channels = 2;   // 1 or 2; up to kMaxWideChannels on the wide path
    int bits = 16;      // 8 (unsigned) or 16 (signed); on the wide path 16, 24 or 32
    bool wide = false;  // int32 samples, as above

    bool operator==(const PcmFormat&) const = default;
    // Narrow: channels 1 or 2, width 8 or 16. Wide: 1 to 8 channels, width 16, 24 or 32. A positive rate.
    bool Valid() const {
        if (rate <= 0) return false;
        if (wide) return channels >= 1 && channels <= kMaxWideChannels && (bits == 16 || bits == 24 || bits == 32);
        return (channels == 1 || channels == 2) && (bits == 8 || bits == 16);
    }
};

}  // namespace pelloran
