// WAV: its options, and the plan: the source's rate, channels and width unless the options say otherwise (a
// 32-bit float source stays float when they are automatic and there is no gain), and tags (LIST/INFO and an
// ID3 chunk after the samples).

#include "decode/AudioDecoder.h"
#include "encode/WavWriter.h"
#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

using S = ConvertSettings;
using F = FormatSettings;
template <auto Member>
constexpr NumberRef WavField = In<&S::wav, Member>;

constexpr int32_t kWavWidths[] = {0, 8, 16, 24, 32};

constexpr NumberRow kNumbers[] = {
    {"AutoDestWAVEncodingParam", WavField<&F::automatic>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WAV: rate, channels and width as the source"},
    {"WAVBitsPerSample", WavField<&F::bits>, kSaveOptionsGroup, CheckNone, Codes(kWavWidths), kSourceNames,
     "WAV: bits per sample (0 as the source, 24-bit and 32-bit sources included)"},
    {"WAVSampleRate", WavField<&F::rate>, kSaveOptionsGroup, CheckNone, kRate, kSourceNames,
     "WAV: Hz (0 as the source)"},
    {"WAVChannelNum", WavField<&F::channels>, kSaveOptionsGroup, CheckZeroOneTwo, Span(0, 2), kSourceNames,
     "WAV: channels (0 as the source)"},
    {"AmplifyWav", WavField<&F::amplify>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WAV: amplify by AmplifyWavCoeff"},
    {"AmplifyWavCoeff", WavField<&F::gain>, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "WAV: gain in percent"},
    {"WAVID3TagType", WavField<&F::tagType>, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "WAV tags: custom (WAVTag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"WAVCopyCover", WavField<&F::copyCover>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "WAV: copy the source's cover art (into the ID3 chunk) with its tags"},
};

constexpr FormatControls kControls = {
    .automatic = "AutoDestWAVEncodingParam",
    .rate = "WAVSampleRate",
    .channels = "WAVChannelNum",
    .amplify = "AmplifyWav",
    .gain = "AmplifyWavCoeff",
    .tagType = "WAVID3TagType",
    .copyCover = "WAVCopyCover",
};

constexpr FormatOptions kOptions = {"WAV", kNumbers, {}, "WAV", TagsOf<&S::wav>, kControls};

// Without gain a WAV holds the source's very samples.
bool ExactSamples(const ConvertSettings& s) { return s.wav.amplify == 0 || s.wav.gain == 100; }

int RateHint(const ConvertSettings& s) {
    return (s.wav.automatic != 0 || s.wav.rate <= 0) ? 44100 : s.wav.rate;
}

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    if (s.wav.automatic != 0) {
        PlanLossless(in, 0, 0, 0, 32, kMaxWideChannels, plan);
    } else {
        const int bits = s.wav.bits;
        PlanLossless(in, s.wav.rate > 0 ? s.wav.rate : 0, s.wav.channels,
                     bits == 8 || bits == 16 || bits == 24 || bits == 32 ? bits : 0, 32, kMaxWideChannels, plan);
    }
    plan.tags = PlanTags(in, s.wav).values;
    SetGain(plan, s.wav);
    // The loop may still fall back to integers (a loudness pass, a reader that cannot keep them).
    plan.format.isFloat = s.wav.automatic != 0 && !plan.amplify && in.decoder.StoresFloat() && plan.format.bits == 32 &&
                          plan.format.rate == in.source.rate && plan.format.channels == in.source.channels;
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
    .tags = true,
    .options = &kOptions,
    .exactSamples = ExactSamples,
    .rateHint = RateHint,
    .plan = Plan,
};

}  // namespace pelloran
