#pragma once
// The AMR encoder components: narrow-band on opencore-amrnb, wide-band on vo-amrwbenc. Each creates its
// output file in the AMR storage format ("#!AMR\n" or "#!AMR-WB\n", then one frame after the other).

#include <cstdint>
#include <memory>
#include <string>

namespace pelloran {

inline constexpr int kAmrNbFrameSamples = 160;  // 20 ms at 8000 Hz
inline constexpr int kAmrWbFrameSamples = 320;  // 20 ms at 16000 Hz

class AmrNbEncoder;
class AmrWbEncoder;

// Creates the file and the encoder; null when the mode is not 0..7 (0..8 wide-band), or the file cannot
// be created or written.
AmrNbEncoder* amrnbenc_init(const std::string& path, int dtx, int mode);
AmrWbEncoder* amrwbenc_init(const std::string& path, int dtx, int mode);
// Encodes one frame of 160 / 320 samples and appends it; the bytes written, or -1 on failure.
int amrnbenc_encode(AmrNbEncoder* encoder, const int16_t* frame);
int amrwbenc_encode(AmrWbEncoder* encoder, const int16_t* frame);
// Closes the file and releases the encoder; false when the file could not be completed.
bool amrnbenc_quit(AmrNbEncoder* encoder);
bool amrwbenc_quit(AmrWbEncoder* encoder);

struct AmrNbQuitter {
    void operator()(AmrNbEncoder* e) const { amrnbenc_quit(e); }
};
struct AmrWbQuitter {
    void operator()(AmrWbEncoder* e) const { amrwbenc_quit(e); }
};
using AmrNbPtr = std::unique_ptr<AmrNbEncoder, AmrNbQuitter>;
using AmrWbPtr = std::unique_ptr<AmrWbEncoder, AmrWbQuitter>;

}  // namespace pelloran
