#pragma once
// ALAC encoding on libavcodec's encoder: int32 planes of 16 or 24 significant bits (right-aligned) in,
// frames of kFrameLength samples per channel out (the last may be shorter), for the MPEG-4 layer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace pelloran {

class AlacEncoder {
public:
    static constexpr int kFrameLength = 4096;  // samples per channel in one frame
    // Gets every encoded frame with the samples per channel it holds; false stops the encoder as failed.
    using Sink = std::function<bool(const uint8_t* data, size_t size, int samples)>;

    AlacEncoder();
    ~AlacEncoder();
    AlacEncoder(const AlacEncoder&) = delete;
    AlacEncoder& operator=(const AlacEncoder&) = delete;

    // False for a rate the encoder refuses, channels outside 1..8 or bits other than 16 and 24.
    bool Open(int rate, int channels, int bits, Sink sink);
    void Close();
    // The magic cookie of the stream (for the MPEG-4 sample description); empty when not open.
    const std::vector<uint8_t>& Cookie() const;
    // Takes frames of every channel; whole frames go to the encoder as they fill.
    bool Write(const int32_t* const* planes, int frames);
    // Encodes what is buffered and drains the encoder.
    bool Drain();

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace pelloran
