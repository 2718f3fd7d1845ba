#include "encode/Limiter.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace pelloran {

namespace {

// Peaks between samples: three phases (1/4, 2/4, 3/4) of a windowed sinc over 12 taps, as a true-peak meter
// oversamples by 4. Phase p's value lies between the 6th and the 7th newest samples.
constexpr int kTaps = 12;
constexpr int kPhases = 3;
constexpr int kDetectLag = kTaps / 2;  // the newest sample's distance from the points detected

using Phase = std::array<double, kTaps>;

const std::array<Phase, kPhases>& Phases() {
    static const std::array<Phase, kPhases> phases = [] {
        std::array<Phase, kPhases> table{};
        const double pi = std::acos(-1.0);
        for (int p = 0; p < kPhases; ++p) {
            double sum = 0.0;
            for (int k = 0; k < kTaps; ++k) {
                // Tap k holds the sample k frames before the newest; the point is kDetectLag - (p+1)/4 before it.
                const double x = (kDetectLag - (p + 1) / 4.0) - k;
                const double sinc = x == 0.0 ? 1.0 : std::sin(pi * x) / (pi * x);
                const double window = 0.5 * (1.0 + std::cos(pi * x / (kTaps / 2 + 0.5)));
                table[p][k] = sinc * window;
                sum += table[p][k];
            }
            for (double& c : table[p]) c /= sum;
        }
        return table;
    }();
    return phases;
}

constexpr double kMarginDb = 0.2;
constexpr double kLookaheadSeconds = 0.005;
constexpr double kReleaseSeconds = 0.15;

}  // namespace

Limiter::Limiter(int channels, int rate, int bits, const NormaliseGain& gain)
    : channels_(std::max(channels, 1)), scale_(std::ldexp(1.0, std::clamp(bits, 8, 32) - 1)),
      high_(scale_ - 1.0), low_(-scale_), linear_(std::pow(10.0, gain.gainDb / 20.0)),
      threshold_(std::pow(10.0, (gain.ceilingDbtp - kMarginDb) / 20.0)) {
    if (!gain.limit) return;
    lookahead_ = std::max(1, static_cast<int>(std::lround(std::max(rate, 1) * kLookaheadSeconds)));
    window_ = lookahead_ + 4;
    delay_ = lookahead_ + kDetectLag;
    release_ = 1.0 - std::exp(-1.0 / (std::max(rate, 1) * kReleaseSeconds));
    history_.assign(static_cast<size_t>(kTaps) * channels_, 0.0);
    hold_.reserve(static_cast<size_t>(window_) + 1);
    smooth_.assign(static_cast<size_t>(lookahead_), 1.0);
    smoothSum_ = lookahead_;
    line_.assign(static_cast<size_t>(delay_) * channels_, 0.0);
}

double Limiter::Detect(const double* frame) {
    double peak = 0.0;
    const auto& phases = Phases();
    for (int c = 0; c < channels_; ++c) {
        double* taps = history_.data() + static_cast<size_t>(c) * kTaps;
        std::move_backward(taps, taps + kTaps - 1, taps + kTaps);
        taps[0] = frame[c];
        peak = std::max(peak, std::fabs(taps[kDetectLag]));
        for (const Phase& phase : phases) {
            double value = 0.0;
            for (int k = 0; k < kTaps; ++k) value += phase[k] * taps[k];
            peak = std::max(peak, std::fabs(value));
        }
    }
    return peak > threshold_ ? threshold_ / peak : 1.0;
}

// Takes one frame (gain applied, full scale 1) and gives the delayed frame, limited; false while what comes out
// is the silence before the stream.
bool Limiter::Next(const double* frame, double* out) {
    const double allowed = Detect(frame);
    // The least allowed gain over the window, then released slowly, never above what the window allows.
    if (holdStart_ > static_cast<size_t>(window_)) {
        hold_.erase(hold_.begin(), hold_.begin() + static_cast<std::ptrdiff_t>(holdStart_));
        holdStart_ = 0;
    }
    while (hold_.size() > holdStart_ && hold_.back().second >= allowed) hold_.pop_back();
    hold_.emplace_back(index_, allowed);
    while (hold_[holdStart_].first <= index_ - window_) ++holdStart_;
    const double least = hold_[holdStart_].second;
    released_ = std::min(least, released_ + (1.0 - released_) * release_);
    // Smoothed over the look-ahead: every gain averaged for a peak's frame is one that saw the peak.
    const size_t slot = static_cast<size_t>(index_ % lookahead_);
    smoothSum_ += released_ - smooth_[slot];
    smooth_[slot] = released_;
    const double applied = std::min(1.0, smoothSum_ / lookahead_);
    double* held = line_.data() + static_cast<size_t>(index_ % delay_) * channels_;
    for (int c = 0; c < channels_; ++c) {
        out[c] = held[c] * applied;
        held[c] = frame[c];
    }
    if (++index_ <= delay_) return false;
    ++given_;
    return true;
}

int Limiter::Process(int32_t* const* planes, int frames) {
    if (frames <= 0) return 0;
    if (delay_ == 0) {
        for (int c = 0; c < channels_; ++c) {
            for (int i = 0; i < frames; ++i)
                planes[c][i] = static_cast<int32_t>(std::clamp(std::round(planes[c][i] * linear_), low_, high_));
        }
        return frames;
    }
    double in[32], out[32];
    const int channels = std::min(channels_, 32);
    int given = 0;
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) in[c] = planes[c][i] * linear_ / scale_;
        ++taken_;
        if (!Next(in, out)) continue;
        for (int c = 0; c < channels; ++c)
            planes[c][given] = static_cast<int32_t>(std::clamp(std::round(out[c] * scale_), low_, high_));
        ++given;
    }
    return given;
}

int Limiter::Flush(int32_t* const* planes, int capacity) {
    double in[32] = {}, out[32];
    const int channels = std::min(channels_, 32);
    int given = 0;
    while (given_ < taken_ && given < capacity) {
        if (!Next(in, out)) continue;
        for (int c = 0; c < channels; ++c)
            planes[c][given] = static_cast<int32_t>(std::clamp(std::round(out[c] * scale_), low_, high_));
        ++given;
    }
    return given;
}

}  // namespace pelloran
