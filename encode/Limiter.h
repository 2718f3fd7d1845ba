#pragma once
// Loudness normalisation of the samples a writer gets: a fixed gain, and where the gain would push peaks over
// the true-peak ceiling a look-ahead limiter that lowers only those passages. The limiter delays the audio by
// Delay() frames; Flush hands back the held frames at the end, so the output keeps the input's frame count.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace pelloran {

struct NormaliseGain {
    double gainDb = 0.0;
    double ceilingDbtp = -1.0;
    bool limit = false;  // the gain would cross the ceiling: limit peaks (else the gain alone, no delay)
};

class Limiter {
public:
    // For blocks of `channels` planes of `bits`-bit signed samples (right-aligned) at `rate`.
    Limiter(int channels, int rate, int bits, const NormaliseGain& gain);

    int Delay() const { return delay_; }

    // Applies gain and limiting to frames of planes in place; returns how many frames are ready at the start of
    // planes (fewer than frames while the first Delay() frames are held back).
    int Process(int32_t* const* planes, int frames);
    // The frames still held, written at the start of planes (room for `capacity` frames); call until it gives 0.
    int Flush(int32_t* const* planes, int capacity);

private:
    double Detect(const double* frame);  // the gain this frame (and the peaks between samples) allows
    bool Next(const double* frame, double* out);

    int channels_;
    double scale_;      // full scale of the samples
    double high_, low_; // the largest and smallest sample
    double linear_;     // the gain
    double threshold_;  // the ceiling, linear, less a small margin for what the detector misses
    int lookahead_ = 0;
    int window_ = 0;    // frames the hold looks back over
    int delay_ = 0;
    double release_ = 0.0;
    int64_t index_ = 0; // frames taken so far
    int64_t taken_ = 0;  // frames of the stream taken
    int64_t given_ = 0;  // and given out
    // Detection: the last taps of each channel, for the peaks between samples.
    std::vector<double> history_;
    // The hold: (frame, allowed gain) pairs of the window, gains rising.
    std::vector<std::pair<int64_t, double>> hold_;
    size_t holdStart_ = 0;
    double released_ = 1.0;
    // The smoothing: the last lookahead_ held gains and their sum.
    std::vector<double> smooth_;
    double smoothSum_ = 0.0;
    // The delayed frames.
    std::vector<double> line_;
};

}  // namespace pelloran
