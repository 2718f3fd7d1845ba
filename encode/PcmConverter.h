#pragma once
// Adapts planar PCM blocks in rate (libresample), channels and width, and applies gain.

#include <cstdint>
#include <memory>
#include <vector>

namespace pelloran {

class PcmConverter {
public:
    PcmConverter();
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;

    // Format fields, assigned by the loop before Prepare.
    int32_t targetChannels = -1;  // 1 or 2
    int32_t targetRate = -1;
    int32_t targetBits = -1;  // 8 or 16
    int32_t sourceChannels = -1;
    int32_t sourceRate = -1;
    int32_t sourceBits = -1;

    // Opens the resamplers when the rates differ; false when they cannot be opened.
    bool Prepare();
    // Converts one block into the caller's buffers, which hold at least OutputCapacity(frames) samples each.
    bool Process(const void* left, const void* right, int frames, void* destLeft, void* destRight, int& destFrames);
    // Drains what the resamplers still hold at the end of the stream; call until it yields 0 frames.
    bool Flush(void* destLeft, void* destRight, int capacityFrames, int& destFrames);
    // Samples each output buffer must hold for a block of frames: (targetRate / sourceRate + 1) * frames.
    int OutputCapacity(int frames) const;

    double factor() const { return factor_; }

private:
    struct ResamplerDeleter {
        void operator()(void* handle) const;
    };
    using Resampler = std::unique_ptr<void, ResamplerDeleter>;

    const void* MixToMono(const void* left, const void* right, int frames, int bits);
    int ResampleChannel(void* resampler, const void* in, int frames, int lastFlag, std::vector<uint8_t>& out,
                        int capacity);

    Resampler leftResampler_;
    Resampler rightResampler_;
    double factor_ = 0.0;
    std::vector<uint8_t> mixBuffer_;
    std::vector<uint8_t> widthLeft_;
    std::vector<uint8_t> widthRight_;
    std::vector<float> floatIn_;
    std::vector<float> floatOut_;
    std::vector<uint8_t> outLeft_;
    std::vector<uint8_t> outRight_;
};

// Scale a block in place; right is touched only when channels is 2. 16-bit results clamp to +-32767.
void AmplifySamples16(int16_t* left, int16_t* right, int frames, int channels, float gain);
void AmplifySamples8(uint8_t* left, uint8_t* right, int frames, int channels, float gain);

}  // namespace pelloran
