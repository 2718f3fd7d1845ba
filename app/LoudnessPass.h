#pragma once
// Loudness in a run: meters fed by the conversion loop's tap, a source measured on its own (--probe), the
// loudness a source's own gain tags claim, and the gain that normalises an entry or an album.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/ConvertLoop.h"
#include "platform/Loudness.h"

namespace pelloran {

// A meter on a conversion's tap, made at the first block (the format is known then). The tap must not outlive
// it.
class TapMeter {
public:
    explicit TapMeter(bool truePeak) : truePeak_(truePeak) {}
    void Attach(ConvertContext& context);
    // Null when no block came or the meter refused one.
    const LoudnessMeter* Meter() const { return failed_ ? nullptr : meter_.get(); }
    std::unique_ptr<LoudnessMeter> Take() { return failed_ ? nullptr : std::move(meter_); }

private:
    bool truePeak_;
    bool failed_ = false;
    std::unique_ptr<LoudnessMeter> meter_;
};

// The source decoded by its reader at its own rate and channels (a CUE track: its span only), true peak
// included. Absent when no reader takes it or on Cancel.
std::optional<LoudnessResult> MeasureSource(const std::string& path, uint16_t formatCode, const CueSpan* span,
                                            std::optional<ReaderKind> preferred,
                                            const std::function<bool()>& cancelled);

// What a source's gain tags say: REPLAYGAIN_TRACK_GAIN (or _ALBUM_GAIN) with its peak, else Opus' R128 gain.
// Peaks of tags are sample peaks; absent when the tags say nothing usable.
struct TaggedLoudness {
    double lufs = 0.0;
    std::optional<double> peak;  // linear
};
std::optional<TaggedLoudness> LoudnessOfTags(const TagRecord& tags, bool album);

// The normalisation of a loudness and its peak (true peak when measured, a tag's sample peak otherwise, which
// then keeps the limiter ready).
std::optional<NormaliseGain> NormaliseGainFor(double lufs, std::optional<double> peak, bool truePeak,
                                              const ConvertSettings& settings);

}  // namespace pelloran
