#pragma once
// Loudness of decoded PCM by libebur128 (ITU-R BS.1770 / EBU R128): integrated loudness, loudness range, sample
// and true peak of one track, and the same over an album of tracks.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "media/PcmFormat.h"

namespace pelloran {

// Where a channel sits, for its weight in the sum: front channels count once, surrounds (at 90 to 110 degrees)
// about 1.41 times, the LFE not at all.
enum class ChannelRole : uint8_t {
    Left,
    Right,
    Center,
    Lfe,
    LeftSurround,   // 110 degrees (5.1's back or side pair)
    RightSurround,
    LeftSide,       // 90 degrees (7.1's side pair)
    RightSide,
    LeftBack,       // 135 degrees (7.1's back pair)
    RightBack,
    BackCenter,
    DualMono,       // a mono channel heard on both sides
    Unused,
};

using ChannelRoles = std::array<ChannelRole, kMaxChannels>;

// The roles of 1 to 8 channels in FFmpeg's (and WAV's and FLAC's) order: mono, L R, L R C, L R Ls Rs (quad),
// L R C Ls Rs, L R C LFE Ls Rs, L R C LFE Cs Ls Rs (6.1), L R C LFE Lb Rb Ls Rs (7.1).
ChannelRoles DefaultChannelRoles(int channels);

struct LoudnessResult {
    std::optional<double> integrated;  // LUFS; absent for silence or under 400 ms of audio
    std::optional<double> range;       // LU; absent whenever integrated is
    double samplePeak = 0.0;           // linear (1.0 is full scale), highest of all channels
    std::optional<double> truePeak;    // linear, 4x oversampled below 96 kHz; absent when not measured
    // Peaks in dB; absent for a peak of 0 (digital silence) or one not measured.
    std::optional<double> SamplePeakDb() const;
    std::optional<double> TruePeakDb() const;
};

// Linear amplitude to dB; absent for 0 or less, so that no -inf or NaN reaches a text.
std::optional<double> AmplitudeToDb(double linear);

class LoudnessMeter {
public:
    // A meter for blocks of `channels` planes at `rate`, with the default roles or with roles of its own. Check
    // Valid(): an unsupported rate or channel count, or a failed allocation, leaves the meter invalid. The true
    // peak costs about four times the rest together, the loudness range about a third of the rest; without
    // them the result has none.
    LoudnessMeter(int rate, int channels, bool truePeak = true, bool range = true);
    LoudnessMeter(int rate, int channels, const ChannelRoles& roles, bool truePeak = true, bool range = true);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;
    LoudnessMeter(LoudnessMeter&&) noexcept;
    LoudnessMeter& operator=(LoudnessMeter&&) noexcept;

    bool Valid() const { return state_ != nullptr; }
    int Rate() const { return rate_; }
    int Channels() const { return channels_; }

    // One block: planes[0..channels-1], frames int32 samples each, signed values of `bits` significant bits,
    // right-aligned (bits 8, 16, 24 or 32). False for an invalid meter, bad arguments or a library failure;
    // nothing of a refused block is counted.
    bool Add(const int32_t* const* planes, int frames, int bits);

    // What the blocks so far measure. Cheap enough to call at the end of each track, not per block.
    LoudnessResult Result() const;

    // An album: integrated loudness and range over every block of every track (gated together, not an average
    // of the tracks), the highest peaks (a true peak only when every track has one). Invalid meters are left
    // out.
    static LoudnessResult Album(std::span<const LoudnessMeter* const> tracks);

private:
    struct State;  // the library's state and the interleaving buffer every Add reuses

    int rate_ = 0;
    int channels_ = 0;
    std::unique_ptr<State> state_;
};

}  // namespace pelloran
