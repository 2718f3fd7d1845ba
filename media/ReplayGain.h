#pragma once
// ReplayGain 2.0 and Opus R128 gain tags as text, from a loudness measure and back, and the gain that brings a
// track to a target loudness under a true-peak ceiling.
//
// Texts as the common scanners write them: REPLAYGAIN_TRACK_GAIN / _ALBUM_GAIN "-7.23 dB" (two decimals, a
// sign only when negative), REPLAYGAIN_TRACK_PEAK / _ALBUM_PEAK "0.988123" (linear, six decimals),
// REPLAYGAIN_REFERENCE_LOUDNESS "-18.00 LUFS", and in Opus files R128_TRACK_GAIN / R128_ALBUM_GAIN "-1234": a
// Q7.8 integer (1/256 dB) relative to -23 LUFS. Numbers are written and read with '.', whatever the locale.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelloran {

inline constexpr double kReplayGainReferenceLufs = -18.0;
inline constexpr double kR128ReferenceLufs = -23.0;

// Gain in dB that brings a loudness to the ReplayGain reference: -18 - lufs.
inline double ReplayGainDb(double lufs) { return kReplayGainReferenceLufs - lufs; }

std::string ReplayGainText(double gainDb);  // "-7.23 dB", "3.10 dB"
std::string ReplayPeakText(double linear);  // "0.988123"
std::string ReferenceLoudnessText();        // "-18.00 LUFS"

// R128 gain of a loudness, in 1/256 dB relative to -23 LUFS, rounded and held to the int16 range (0 for NaN).
int16_t R128Gain(double lufs);
std::string R128GainText(double lufs);  // "-1234"

// Readings of tag texts found in a source, for trusting them instead of measuring again. Absent for anything
// but a plain number (optional sign, optional decimals) with an optional unit: "dB" for gains, "LUFS" or "LU"
// for the reference; surrounding blanks are allowed, case is ignored. Values outside sane bounds (a gain or
// reference beyond +-100, a peak below 0 or above 100) are absent as well.
std::optional<double> ParseReplayGain(std::string_view text);            // dB
std::optional<double> ParseReplayPeak(std::string_view text);            // linear
std::optional<double> ParseReferenceLoudness(std::string_view text);     // LUFS
std::optional<int16_t> ParseR128Gain(std::string_view text);             // 1/256 dB
// Loudness a gain tag stands for.
inline double LufsOfReplayGain(double gainDb) { return kReplayGainReferenceLufs - gainDb; }
inline double LufsOfR128Gain(int16_t q78) { return kR128ReferenceLufs - q78 / 256.0; }

struct Normalisation {
    double gainDb = 0.0;                   // target - lufs
    std::optional<double> peakAfterDb;     // dBTP once the gain is applied; absent for a peak of 0
    bool needsLimiter = false;             // peakAfterDb is above the ceiling
    std::optional<double> cleanGainDb;     // the most gain that keeps the peak at the ceiling; absent: any
};

// The gain that brings lufs to targetLufs, and whether the true peak (linear) would then pass ceilingDbtp.
Normalisation NormaliseTo(double lufs, double truePeak, double targetLufs, double ceilingDbtp);

}  // namespace pelloran
