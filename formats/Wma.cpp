// WMA: its options, and the plan: the nearest profile the encoder offers for the rate, bit rate and channels.

#include <algorithm>
#include "encode/WmaWriter.h"
#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"
#include "platform/wm.h"

namespace pelloran {

namespace {

using S = ConvertSettings;
using F = FormatSettings;
template <auto Member>
constexpr NumberRef WmaField = In<&S::wma, Member>;

int32_t CheckOneTwo(int32_t v) { return (v == 1 || v == 2) ? v : 2; }

constexpr NumberRow kNumbers[] = {
    {"AutoDestWMAEncodingParam", WmaField<&F::automatic>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WMA: profile chosen from the source"},
    {"WMABitRate", WmaField<&F::bitRate>, kSaveOptionsGroup, CheckNone, Span(0, 768000), kNoNames, "WMA: bit/s"},
    {"WMASampleRate", WmaField<&F::rate>, kSaveOptionsGroup, CheckNone, Span(0, 192000), kNoNames,
     "WMA: Hz"},
    {"WMAChannels", WmaField<&F::channels>, kSaveOptionsGroup, CheckOneTwo, Span(1, 2), kNoNames,
     "WMA: channels"},
    {"WMAID3TagType", WmaField<&F::tagType>, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "WMA tags: custom (WMATag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"AmplifyWMA", WmaField<&F::amplify>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WMA: amplify by AmplifyWMACoeff"},
    {"AmplifyWMACoeff", WmaField<&F::gain>, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "WMA: gain in percent"},
    {"WMACopyCover", WmaField<&F::copyCover>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WMA: copy the source's cover art (WM/Picture) with its tags"},
};

constexpr FormatControls kControls = {
    .automatic = "AutoDestWMAEncodingParam",
    .bitrate = "WMABitRate",
    .bitrateScale = 1000,
    .rate = "WMASampleRate",
    .channels = "WMAChannels",
    .amplify = "AmplifyWMA",
    .gain = "AmplifyWMACoeff",
    .tagType = "WMAID3TagType",
    .copyCover = "WMACopyCover",
};

constexpr FormatOptions kOptions = {"WMA", kNumbers, {}, "WMA", TagsOf<&S::wma>, kControls};

// Padding to the frame grid.
FrameSpan WmaLength(const LengthFacts& f) { return Around(f, 2047); }

struct WmaTarget {
    int bitrate;  // bits per second
    int rate;
};

// Bit rate and rate that follow a source of this rate and channel count.
WmaTarget AutoWmaTarget(int rate, int channels) {
    if (channels == 1) {
        if (rate <= 12000) return {20000, 22050};
        if (rate <= 16000) return {32000, 44100};
        return {48000, 44100};
    }
    if (rate <= 12000) return {32000, 22050};
    if (rate <= 16000) return {48000, 44100};
    if (rate <= 24000) return {64000, 44100};
    if (rate <= 32000) return {96000, 44100};
    if (rate <= 44100) return {128000, 44100};
    return {192000, 48000};
}


int RateHint(const ConvertSettings& s) { return s.wma.automatic != 0 ? 44100 : s.wma.rate; }

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    const PcmFormat source = LossyInput(in.source);
    const bool automatic = s.wma.automatic != 0;
    const WmaTarget wanted = automatic ? AutoWmaTarget(source.rate, source.channels)
                                       : WmaTarget{s.wma.bitRate, s.wma.rate};
    const int channels = automatic ? source.channels : s.wma.channels;
    const WmaFormatEntry* format = FindWmaFormat(SharedWmaFormats(), wanted.rate, wanted.bitrate, channels);
    if (format == nullptr) return false;
    // The loop's converter brings the source to the format's rate (any ratio, exact length; the encoder's own
    // resampler gives nothing for a source shorter than its filter); a stereo source for a mono format reaches
    // the writer as one channel, picked or mixed by the loop.
    plan.format = {format->Rate(), std::min(source.channels, format->channels), 16};
    plan.tags = PlanTags(in, s.wma).values;
    SetGain(plan, s.wma);
    plan.writer = std::make_unique<WmaWriter>(WmaOptions{*format});
    return true;
}

}  // namespace

constinit const OutputFormatDescriptor kWmaFormat = {
    .code = kOutputWma,
    .name = "wma",
    .extension = "wma",
    .listRows = {{nullptr, 2}, {}},
    .lossless = false,
    .maxChannels = 2,
    .tags = true,
    .options = &kOptions,
    .length = WmaLength,
    .available = WmaRuntimeReady,
    .rateHint = RateHint,
    .plan = Plan,
};

}  // namespace pelloran
