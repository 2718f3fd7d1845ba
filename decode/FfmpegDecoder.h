#pragma once
// Readers built on the FFmpeg libraries: FfmpegDecoder decodes the first audio stream of any container they
// open; FfmpegProbe only reads a container's stream properties. SampleAdapter turns decoded audio of any
// sample format, layout and rate into the 8/16-bit mono/stereo blocks that Read delivers.

#include <cstdint>
#include <memory>
#include <string>

#include "decode/AudioDecoder.h"
#include "platform/ffmpeg_log.h"

struct AVChannelLayout;

namespace pelloran {

// Converts decoded audio to packed mono or stereo at one fixed rate (8-bit unsigned or 16-bit signed) and
// holds it until it is delivered in planar blocks. More than two channels are mixed down to stereo.
class SampleAdapter {
public:
    SampleAdapter();
    ~SampleAdapter();
    SampleAdapter(const SampleAdapter&) = delete;
    SampleAdapter& operator=(const SampleAdapter&) = delete;

    // Forgets everything and fixes the output; false for a rate or channel count out of range.
    bool Setup(int outRate, int outChannels, bool eightBit);
    void Reset();
    // Converts frames of audio (planes or one packed buffer as FFmpeg lays them out). False when the block
    // cannot be converted; it is then dropped.
    bool Push(const uint8_t* const* data, int frames, int sampleFormat, const AVChannelLayout& layout, int rate);
    // Moves what the resampler still holds into the pending audio (end of the stream).
    void Drain();
    int PendingFrames() const;
    // Copies pending frames into left/right from index done up to maxFrames; returns the new done.
    int Deliver(void* left, void* right, int done, int maxFrames);

private:
    struct State;
    std::unique_ptr<State> s_;
};

class FfmpegDecoder : public AudioDecoder {
public:
    FfmpegDecoder();
    ~FfmpegDecoder() override;

    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(void* left, void* right) override;
    int ReadTags(TagRecord& tags) override;
    bool IsTruncated() const override;

private:
    // Decodes until new audio is pending; false at the end of the stream or when the stream stops yielding.
    bool DecodeMore();

    struct State;
    std::unique_ptr<State> s_;
};

class FfmpegProbe : public AudioDecoder {
public:
    FfmpegProbe();
    ~FfmpegProbe() override;

    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(void* left, void* right) override;

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace pelloran
