#pragma once
// Adapts planar PCM blocks in rate (libsoxr, high quality), channels and width, and applies gain. Widths: 8
// (unsigned bytes), 16 (signed), and the wide path's 24 and 32 (int32 samples, right-aligned).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pelloran {

// Bytes of one sample in the converter's buffers at a width.
inline size_t SampleBytes(int bits) { return bits <= 16 ? static_cast<size_t>(bits / 8) : 4; }

// How a source's channels become a writer's: as they are, one spread to both sides, or stereo made mono.
enum class ChannelChoice { Same, Spread, Mix, Left, Right };

// The one rule for every output format. Stereo to mono follows the user's MonoType: 0 mixes (L+R)/2, 1 keeps
// the left channel, 2 the right, anything else mixes.
ChannelChoice ChooseChannels(int sourceChannels, int targetChannels, int monoType);

class PcmConverter {
public:
    PcmConverter();
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;

    // Format fields, assigned by the loop before Prepare.
    int32_t targetChannels = -1;  // 1 or 2
    int32_t targetRate = -1;
    int32_t targetBits = -1;  // 8, 16, 24 or 32
    int32_t sourceChannels = -1;
    int32_t sourceRate = -1;
    int32_t sourceBits = -1;

    // Opens the resamplers when the rates differ; false when they cannot be opened.
    bool Prepare();
    // Takes one block of source frames; Pull hands out what it converts to. Pull until 0 before the next Push,
    // so that nothing piles up.
    void Push(const void* left, const void* right, int frames);
    // Marks the end of the stream: Pull then also drains what the resamplers still hold.
    void End();
    // Up to capacity converted frames into the caller's buffers (right only for 2 target channels); 0 when
    // everything pushed so far is out. However large the rate ratio, one call never gives more than capacity.
    int Pull(void* destLeft, void* destRight, int capacity);

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

    int PullStage(Chain& chain, size_t index, float* out, int capacity);

    std::unique_ptr<Chain> chains_[2];
    double factor_ = 0.0;
    bool failed_ = false;
    uint64_t pushed_ = 0;  // source frames taken by the resamplers
    uint64_t pulled_ = 0;  // frames they gave
    std::vector<uint8_t> mixBuffer_;
    // Equal rates: converted frames at the target width, waiting for Pull.
    std::vector<uint8_t> directLeft_;
    std::vector<uint8_t> directRight_;
    size_t directTaken_ = 0;  // frames
    std::vector<float> floatLeft_;
    std::vector<float> floatRight_;
};

// Scale a block in place; right is touched only when channels is 2. 16-bit results clamp to +-32767.
void AmplifySamples16(int16_t* left, int16_t* right, int frames, int channels, float gain);
void AmplifySamples8(uint8_t* left, uint8_t* right, int frames, int channels, float gain);

}  // namespace pelloran
