// Opus: its options, and the plan: the source's rate where the encoder takes it, a bit rate by the channels.

#include "encode/OpusWriter.h"
#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

using S = ConvertSettings;

constexpr CodeName kOpusModeList[] = {{"vbr", 0}, {"cvbr", 1}, {"cbr", 2}};
constexpr CodeNames kOpusModeNames = Named(kOpusModeList);

constexpr NumberRow kNumbers[] = {
    {"AutoDestOpusEncodingParam", Field<&S::AutoDestOpusEncodingParam>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Opus: bit rate by the channels (128 kbit/s stereo, 64 mono)"},
    {"OpusBitRate", Field<&S::OpusBitRate>, kSaveOptionsGroup, CheckNone, Span(6, 510), kNoNames,
     "Opus: kbit/s"},
    {"OpusMode", Field<&S::OpusMode>, kSaveOptionsGroup, CheckNone, Span(0, 2), kOpusModeNames,
     "Opus: variable, constrained variable or constant bit rate"},
    {"OpusComplexity", Field<&S::OpusComplexity>, kSaveOptionsGroup, CheckNone, Span(0, 10), kNoNames,
     "Opus: encoder complexity, 0 fastest to 10 best"},
    {"OpusChannels", Field<&S::OpusChannels>, kSaveOptionsGroup, CheckNone, Span(0, 2), kSourceNames,
     "Opus: channels (0 as the source)"},
    {"OpusID3TagType", Field<&S::OpusID3TagType>, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "Opus tags: custom (OpusTag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"AmplifyOpus", Field<&S::AmplifyOpus>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Opus: amplify by AmplifyOpusCoeff"},
    {"AmplifyOpusCoeff", Field<&S::AmplifyOpusCoeff>, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "Opus: gain in percent"},
    {"OpusCopyCover", Field<&S::OpusCopyCover>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
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

constexpr FormatOptions kOptions = {"Opus", kNumbers, {}, "Opus", TagsField<&S::OpusTag>, kControls};

// Rates the library resamples from without trouble; others are first converted to 48 kHz.
constexpr int kMinOpusInputRate = 8000;
constexpr int kMaxOpusInputRate = 192000;


int RateHint(const ConvertSettings&) { return 48000; }

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    const int channels = s.OpusChannels == 1 || s.OpusChannels == 2 ? s.OpusChannels : in.source.channels;
    const int rate = in.source.rate >= kMinOpusInputRate && in.source.rate <= kMaxOpusInputRate ? in.source.rate
                                                                                                  : 48000;
    plan.format = {rate, channels, 16};
    OpusOptions options;
    options.bitrateKbps = s.AutoDestOpusEncodingParam != 0 ? (channels == 1 ? 64 : 128) : s.OpusBitRate;
    options.mode = s.OpusMode == 1 ? OpusMode::ConstrainedVbr : s.OpusMode == 2 ? OpusMode::Cbr : OpusMode::Vbr;
    options.complexity = s.OpusComplexity;
    plan.tags = ChooseTags(s.OpusID3TagType, s.OpusTag, in.decoder, in.formatCode, in.sourcePath, in.runPosition,
                           false, s.OpusCopyCover != 0)
                    .values;
    SetGain(plan, s.AmplifyOpus, s.AmplifyOpusCoeff);
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
    .maxChannels = 2,
    .tags = true,
    .options = &kOptions,
    .rateHint = RateHint,
    .plan = Plan,
};

}  // namespace pelloran
