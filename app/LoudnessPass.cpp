#include "app/LoudnessPass.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "decode/AudioDecoder.h"
#include "media/ReplayGain.h"

namespace pelloran {

namespace {

// Sample peaks of tags miss the peaks between samples: within this of the ceiling the limiter stays ready.
constexpr double kTagPeakMarginDb = 1.0;

}  // namespace

void TapMeter::Attach(ConvertContext& context) {
    context.tap = [this](const int32_t* const* planes, int frames, const PcmFormat& format) {
        if (failed_) return;
        if (!meter_) {
            // Tags and gains need no loudness range.
            meter_ = std::make_unique<LoudnessMeter>(format.rate, format.channels, truePeak_, false);
            failed_ = !meter_->Valid();
        }
        if (!failed_ && !meter_->Add(planes, frames, format.bits)) failed_ = true;
    };
}

std::optional<LoudnessResult> MeasureSource(const std::string& path, uint16_t formatCode, const CueSpan* span,
                                            std::optional<ReaderKind> preferred,
                                            const std::function<bool()>& cancelled) {
    DecoderContext context;
    context.preferred = preferred;
    context.cancelled = cancelled;
    std::unique_ptr<AudioDecoder> decoder = CreateDecoder(span != nullptr ? span->path : path, formatCode, 0, true, context);
    if (!decoder) return std::nullopt;
    const PcmFormat format = decoder->Format();
    LoudnessMeter meter(format.rate, format.channels, true);
    if (!format.Valid() || !meter.Valid()) return std::nullopt;
    std::vector<int32_t> room[kMaxChannels];
    int32_t* planes[kMaxChannels] = {};
    for (int c = 0; c < format.channels; ++c) {
        room[c].resize(kBlockFrames);
        planes[c] = room[c].data();
    }
    const uint64_t first = span != nullptr ? span->firstFrame : 0;
    const uint64_t end = span != nullptr && span->endFrame != 0 ? span->endFrame : UINT64_MAX;
    const bool stopAtLength = formatCode == kInputModule || formatCode == kInputMidi;
    uint64_t position = 0;
    while (position < end) {
        if (cancelled && cancelled()) return std::nullopt;
        const int frames = std::min(decoder->Read(planes), kBlockFrames);
        if (frames <= 0) break;
        const uint64_t at = position;
        position += static_cast<uint64_t>(frames);
        const uint64_t from = std::min<uint64_t>(first > at ? first - at : 0, frames);
        const uint64_t to = std::min<uint64_t>(end - at, frames);
        if (to > from) {
            const int32_t* part[kMaxChannels] = {};
            for (int c = 0; c < format.channels; ++c) part[c] = planes[c] + from;
            if (!meter.Add(part, static_cast<int>(to - from), format.bits)) return std::nullopt;
        }
        if (stopAtLength && decoder->GetPosition() >= decoder->GetLength()) break;
    }
    decoder->Close();
    return meter.Result();
}

std::optional<TaggedLoudness> LoudnessOfTags(const TagRecord& tags, bool album) {
    const std::string kind = album ? "ALBUM" : "TRACK";
    if (const auto gain = ParseReplayGain(tags.Extra("REPLAYGAIN_" + kind + "_GAIN"))) {
        // Gains are relative to the reference the tags name, -18 LUFS when they name none.
        const double reference =
            ParseReferenceLoudness(tags.Extra("REPLAYGAIN_REFERENCE_LOUDNESS")).value_or(kReplayGainReferenceLufs);
        TaggedLoudness loudness{reference - *gain, std::nullopt};
        loudness.peak = ParseReplayPeak(tags.Extra("REPLAYGAIN_" + kind + "_PEAK"));
        return loudness;
    }
    if (const auto q78 = ParseR128Gain(tags.Extra("R128_" + kind + "_GAIN")))
        return TaggedLoudness{LufsOfR128Gain(*q78), std::nullopt};
    return std::nullopt;
}

std::optional<NormaliseGain> NormaliseGainFor(double lufs, std::optional<double> peak, bool truePeak,
                                              const ConvertSettings& settings) {
    if (settings.NormalizeTarget == 0 || !std::isfinite(lufs)) return std::nullopt;
    const double ceiling = settings.TruePeakCeiling;
    const Normalisation n = NormaliseTo(lufs, peak.value_or(0.0), settings.NormalizeTarget, ceiling);
    NormaliseGain gain{n.gainDb, ceiling, n.needsLimiter};
    if (!truePeak) gain.limit = !n.peakAfterDb || *n.peakAfterDb > ceiling - kTagPeakMarginDb;
    return gain;
}

}  // namespace pelloran
