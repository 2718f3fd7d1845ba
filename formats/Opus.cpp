// Opus: its options, and the plan: the source's rate where the encoder takes it, a bit rate by the channels.

#include "encode/OpusWriter.h"
#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

using S = ConvertSettings;
using F = OpusSettings;
template <auto Member>
constexpr NumberRef OpusField = In<&S::opus, Member>;

constexpr CodeName kOpusModeList[] = {{"vbr", 0}, {"cvbr", 1}, {"cbr", 2}};
constexpr CodeNames kOpusModeNames = Named(kOpusModeList);

constexpr NumberRow kNumbers[] = {
    {"AutoDestOpusEncodingParam", OpusField<&F::automatic>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Opus: bit rate by the channels (128 kbit/s stereo, 64 mono)"},
    {"OpusBitRate", OpusField<&F::bitRate>, kSaveOptionsGroup, CheckNone, Span(6, 510), kNoNames,
     "Opus: kbit/s"},
    {"OpusMode", OpusField<&F::mode>, kSaveOptionsGroup, CheckNone, Span(0, 2), kOpusModeNames,
     "Opus: variable, constrained variable or constant bit rate"},
    {"OpusComplexity", OpusField<&F::complexity>, kSaveOptionsGroup, CheckNone, Span(0, 10), kNoNames,
     "Opus: encoder complexity, 0 fastest to 10 best"},
    {"OpusChannels", OpusField<&F::channels>, kSaveOptionsGroup, CheckNone, Span(0, 2), kSourceNames,
     "Opus: channels (0 as the source)"},
    {"OpusID3TagType", OpusField<&F::tagType>, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "Opus tags: custom (OpusTag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"AmplifyOpus", OpusField<&F::amplify>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Opus: amplify by AmplifyOpusCoeff"},
    {"AmplifyOpusCoeff", OpusField<&F::gain>, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "Opus: gain in percent"},
    {"OpusCopyCover", OpusField<&F::copyCover>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Opus: copy the source's cover art (METADATA_BLOCK_PICTURE) with its tags"},
};

constexpr FormatControls kControls = {
    .automatic = "AutoDestOpusEncodingParam",
    .bitrate = "OpusBitRate",
    .channels = "OpusChannels",
    .amplify = "AmplifyOpus",
    .gain = "AmplifyOpusCoeff",
    .tagType = "OpusID3TagType",
    .copyCover = "OpusCopyCover",
    .keepsAuto = Keeps(FormatControl::Rate) | Keeps(FormatControl::Channels),
};

constexpr FormatOptions kOptions = {"Opus", kNumbers, {}, "Opus", TagsOf<&S::opus>, kControls};

// Rates the library resamples from without trouble; others are first converted to 48 kHz.
constexpr int kMinOpusInputRate = 8000;
constexpr int kMaxOpusInputRate = 192000;


int RateHint(const ConvertSettings&) { return 48000; }

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    const int channels =
        s.opus.channels == 1 || s.opus.channels == 2 ? s.opus.channels : LossyInput(in.source, kMaxChannels).channels;
    const int rate = in.source.rate >= kMinOpusInputRate && in.source.rate <= kMaxOpusInputRate ? in.source.rate
                                                                                                  : 48000;
    plan.format = {rate, channels, 16};
    OpusOptions options;
    // Automatic: 64 kbit/s for mono, 128 for stereo, 64 more for each further channel.
    options.bitrateKbps = s.opus.automatic != 0 ? (channels == 1 ? 64 : 128 + 64 * (channels - 2)) : s.opus.bitRate;
    options.mode = s.opus.mode == 1 ? OpusMode::ConstrainedVbr : s.opus.mode == 2 ? OpusMode::Cbr : OpusMode::Vbr;
    options.complexity = s.opus.complexity;
    plan.tags = PlanTags(in, s.opus).values;
    SetGain(plan, s.opus);
    plan.writer = std::make_unique<OpusWriter>(options);
    return true;
}

}  // namespace

constinit const OutputFormatDescriptor kOpusFormat = {
    .code = kOutputOpus,
    .name = "opus",
    .extension = "opus",
    .listRows = {{"Opus", 12}, {}},
    .lossless = false,
    .maxChannels = kMaxChannels,
    .tags = true,
    .options = &kOptions,
    .rateHint = RateHint,
    .plan = Plan,
};

}  // namespace pelloran
