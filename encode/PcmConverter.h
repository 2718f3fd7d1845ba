#pragma once
// Adapts blocks of int32 planes (media/PcmFormat.h) in channels, rate (libsoxr, high quality) and width, and
// applies gain.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/PcmFormat.h"

namespace pelloran {

// How a source's channels become a writer's: as they are, one spread to all, stereo made mono (mixed or one
// side kept), or many channels mixed down to stereo (and on to mono).
enum class ChannelChoice { Same, Spread, Mix, Left, Right, Downmix };

// The one rule for every output format. Stereo to mono follows the user's MonoType: 0 mixes (L+R)/2, 1 keeps
// the left channel, 2 the right, anything else mixes. Three and more channels to one or two are mixed down.
ChannelChoice ChooseChannels(int sourceChannels, int targetChannels, int monoType);

// The stereo downmix of a source's channels in FFmpeg's standard order for its count (3: L R C; 4: L R Ls Rs;
// 5: L R C Ls Rs; 6: 5.1; 7: 6.1; 8: 7.1): centre and surrounds at -3 dB, LFE left out, each side scaled so that
// it never clips. Weights of source channel c in the left and right outputs.
struct DownmixWeights {
    float left[kMaxChannels] = {};
    float right[kMaxChannels] = {};
};
DownmixWeights StereoDownmix(int channels);

// Triangular (TPDF) dither of one LSB either way, from a small fixed-seed generator: outputs stay reproducible.
class TpdfDither {
public:
    // Two uniform values in [0, 1) less one: -1 .. 1, triangular.
    float Next() {
        return Uniform() + Uniform() - 1.0f;
    }

private:
    float Uniform() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<float>(state_ >> 8) * (1.0f / 16777216.0f);
    }
    uint32_t state_ = 0x9E3779B9u;
};

// A plane narrowed in place from fromBits to toBits (toBits < fromBits), rounded after TPDF dither and clamped.
void NarrowWithDither(int32_t* samples, int frames, int fromBits, int toBits, TpdfDither& dither);

class PcmConverter {
public:
    PcmConverter();
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;

    // Sets the formats and opens the resamplers when the rates differ; false when they cannot be opened or a
    // format is invalid.
    bool Prepare(const PcmFormat& source, const PcmFormat& target, int monoType);
    // Takes one block of source frames; Pull hands out what it converts to. Pull until 0 before the next Push,
    // so that nothing piles up.
    void Push(const int32_t* const* planes, int frames);
    // Marks the end of the stream: Pull then also drains what the resamplers still hold.
    void End();
    // Narrowing to 16 or 8 bits after the resampler is dithered (before Prepare).
    void SetDither(bool on) { ditherOn_ = on; }
    // Up to capacity converted frames into dest[0..target channels-1]; 0 when everything pushed so far is out.
    // However large the rate ratio, one call never gives more than capacity.
    int Pull(int32_t* const* dest, int capacity);

    // The overall rate ratio, 0 when no resampler is used.
    double factor() const { return factor_; }
    // Resamplers in a row per channel (one step never changes the rate by more than kMaxStepFactor).
    int stages() const { return chains_[0] ? static_cast<int>(chains_[0]->stages.size()) : 0; }

    static constexpr double kMaxStepFactor = 8.0;

private:
    struct ResamplerDeleter {
        void operator()(void* handle) const;
    };
    using Resampler = std::unique_ptr<void, ResamplerDeleter>;

    // One resampler with the input it has not taken yet.
    struct Stage {
        Resampler handle;
        double factor = 1.0;
        std::vector<float> in;
        size_t taken = 0;
        bool ended = false;  // all of its input is in `in`
        bool done = false;   // its last sample is out
    };
    // The stages of one channel.
    struct Chain {
        std::vector<Stage> stages;
    };

    // The block's channels as the target has them, at the source width, into mixed_.
    void MixChannels(const int32_t* const* planes, int frames);
    int PullStage(Chain& chain, size_t index, float* out, int capacity);

    PcmFormat source_;
    PcmFormat target_;
    ChannelChoice choice_ = ChannelChoice::Same;
    DownmixWeights downmix_;
    std::unique_ptr<Chain> chains_[kMaxChannels];
    double factor_ = 0.0;
    bool failed_ = false;
    uint64_t pushed_ = 0;  // source frames taken by the resamplers
    uint64_t pulled_ = 0;  // frames they gave
    std::vector<int32_t> mixed_[kMaxChannels];
    // Equal rates: converted frames at the target width, waiting for Pull.
    std::vector<int32_t> direct_[kMaxChannels];
    size_t directTaken_ = 0;  // frames
    std::vector<float> floats_[kMaxChannels];
    bool ditherOn_ = false;
    TpdfDither dither_;
};

// Scales a plane at bits in place, rounding toward zero and clamping to the width (16 bits to +-32767).
void AmplifySamples(int32_t* samples, int frames, int bits, float gain);

}  // namespace pelloran
