#pragma once
// Turns decoded audio of any sample format, layout and rate into packed frames of one output: 8-bit unsigned
// or 16-bit signed at one rate, either a mono or stereo mix or every channel of one fixed layout.

#include <cstddef>
#include <cstdint>
#include <memory>

struct AVChannelLayout;

namespace pelloran {

class SampleAdapter {
public:
    SampleAdapter();
    ~SampleAdapter();
    SampleAdapter(const SampleAdapter&) = delete;
    SampleAdapter& operator=(const SampleAdapter&) = delete;

    // Forgets everything and fixes a mono or stereo output (more channels are mixed down); false for a rate
    // or channel count out of range.
    bool Setup(int outRate, int outChannels, bool eightBit);
    // The same for every channel of layout as it comes; blocks of another layout are mixed into it.
    bool SetupLayout(int outRate, const AVChannelLayout& layout, bool eightBit);
    void Reset();
    // Converts frames of audio (planes or one packed buffer as FFmpeg lays them out). False when the block
    // cannot be converted; it is then dropped.
    bool Push(const uint8_t* const* data, int frames, int sampleFormat, const AVChannelLayout& layout, int rate);
    // Moves what the resampler still holds into the pending audio (end of the stream).
    void Drain();
    int PendingFrames() const;
    // Copies up to frames pending frames, interleaved, to out; how many it copied.
    size_t Take(void* out, size_t frames);

    // The output; 0 channels until set up.
    int Rate() const;
    int Channels() const;
    bool EightBit() const;

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace pelloran
