// WAV: its options, and the plan: the source's rate, channels and width unless the options say otherwise.

#include "encode/WavWriter.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

using S = ConvertSettings;

constexpr int32_t kWavWidths[] = {0, 8, 16, 24, 32};

constexpr NumberRow kNumbers[] = {
    {"AutoDestWAVEncodingParam", Field<&S::AutoDestWAVEncodingParam>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WAV: rate, channels and width as the source"},
    {"WAVBitsPerSample", Field<&S::WAVBitsPerSample>, kSaveOptionsGroup, CheckNone, Codes(kWavWidths), kSourceNames,
     "WAV: bits per sample (0 as the source, 24-bit and 32-bit sources included)"},
    {"WAVSampleRate", Field<&S::WAVSampleRate>, kSaveOptionsGroup, CheckNone, kRate, kSourceNames,
     "WAV: Hz (0 as the source)"},
    {"WAVChannelNum", Field<&S::WAVChannelNum>, kSaveOptionsGroup, CheckZeroOneTwo, Span(0, 2), kSourceNames,
     "WAV: channels (0 as the source)"},
    {"AmplifyWav", Field<&S::AmplifyWav>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WAV: amplify by AmplifyWavCoeff"},
    {"AmplifyWavCoeff", Field<&S::AmplifyWavCoeff>, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "WAV: gain in percent"},
};

constexpr FormatControls kControls = {
    .automatic = "AutoDestWAVEncodingParam",
    .rate = "WAVSampleRate",
    .channels = "WAVChannelNum",
    .amplify = "AmplifyWav",
    .gain = "AmplifyWavCoeff",
};

constexpr FormatOptions kOptions = {"WAV", kNumbers, {}, nullptr, nullptr, kControls};

// Without gain a WAV holds the source's very samples.
bool ExactSamples(const ConvertSettings& s) { return s.AmplifyWav == 0 || s.AmplifyWavCoeff == 100; }

int RateHint(const ConvertSettings& s) {
    return (s.AutoDestWAVEncodingParam != 0 || s.WAVSampleRate <= 0) ? 44100 : s.WAVSampleRate;
}

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    if (s.AutoDestWAVEncodingParam != 0) {
        PlanLossless(in, 0, 0, 0, 32, kMaxWideChannels, plan);
    } else {
        const int bits = s.WAVBitsPerSample;
        PlanLossless(in, s.WAVSampleRate > 0 ? s.WAVSampleRate : 0, s.WAVChannelNum,
                     bits == 8 || bits == 16 || bits == 24 || bits == 32 ? bits : 0, 32, kMaxWideChannels, plan);
    }
    SetGain(plan, s.AmplifyWav, s.AmplifyWavCoeff);
    plan.writer = std::make_unique<WavWriter>();
    return true;
}

}  // namespace

constinit const OutputFormatDescriptor kWavFormat = {
    .code = kOutputWav,
    .name = "wav",
    .extension = "wav",
    .listRows = {{nullptr, 1}, {}},
    .lossless = true,
    .maxChannels = kMaxWideChannels,
    .tags = false,
    .options = &kOptions,
    .exactSamples = ExactSamples,
    .rateHint = RateHint,
    .plan = Plan,
};

}  // namespace pelloran
