// FLAC: its options, and the plan: the source's rate, channels and width (at most 24 bits) unless the options
// say otherwise, the compression level, and tags.

#include "decode/AudioDecoder.h"
#include "encode/FlacWriter.h"
#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

using S = ConvertSettings;

constexpr int32_t kFlacWidths[] = {0, 16, 24};

constexpr NumberRow kNumbers[] = {
    {"FLACCompression", Field<&S::FLACCompression>, kSaveOptionsGroup, CheckNone, Span(0, 8), kNoNames,
     "FLAC: compression level, 0 fastest to 8 smallest"},
    {"FLACSampleRate", Field<&S::FLACSampleRate>, kSaveOptionsGroup, CheckNone, kRate, kSourceNames,
     "FLAC: Hz (0 as the source)"},
    {"FLACChannels", Field<&S::FLACChannels>, kSaveOptionsGroup, CheckNone, Span(0, 2), kSourceNames,
     "FLAC: channels (0 as the source, every channel of a surround source)"},
    {"FLACBitsPerSample", Field<&S::FLACBitsPerSample>, kSaveOptionsGroup, CheckNone, Codes(kFlacWidths), kSourceNames,
     "FLAC: bits per sample (0 as the source, at most 24)"},
    {"FLACID3TagType", Field<&S::FLACID3TagType>, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "FLAC tags: custom (FLACTag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"AmplifyFLAC", Field<&S::AmplifyFLAC>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "FLAC: amplify by AmplifyFLACCoeff"},
    {"AmplifyFLACCoeff", Field<&S::AmplifyFLACCoeff>, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "FLAC: gain in percent"},
    {"FLACCopyCover", Field<&S::FLACCopyCover>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "FLAC: copy the source's cover art (picture blocks) with its tags"},
};

constexpr FormatControls kControls = {
    .rate = "FLACSampleRate",
    .channels = "FLACChannels",
    .quality = "FLACCompression",  // --quality of FLAC is its compression level
    .amplify = "AmplifyFLAC",
    .gain = "AmplifyFLACCoeff",
    .tagType = "FLACID3TagType",
    .copyCover = "FLACCopyCover",
};

constexpr FormatOptions kOptions = {"FLAC", kNumbers, {}, "FLAC", TagsField<&S::FLACTag>, kControls};

int RateHint(const ConvertSettings& s) { return s.FLACSampleRate > 0 ? s.FLACSampleRate : 44100; }

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    PlanLossless(in, s.FLACSampleRate, s.FLACChannels, s.FLACBitsPerSample, 24, kMaxWideChannels, plan);
    FlacOptions options;
    options.compression = s.FLACCompression;
    // The seek points follow the source's length; the last second may be partial.
    const int seconds = in.decoder.GetDurationSeconds();
    if (seconds > 0)
        options.expectedFrames = (static_cast<uint64_t>(seconds) + 1) * static_cast<uint64_t>(plan.format.rate);
    plan.tags = ChooseTags(s.FLACID3TagType, s.FLACTag, in.decoder, in.formatCode, in.sourcePath, in.runPosition,
                           false, s.FLACCopyCover != 0)
                    .values;
    SetGain(plan, s.AmplifyFLAC, s.AmplifyFLACCoeff);
    plan.writer = std::make_unique<FlacWriter>(options);
    return true;
}

}  // namespace

constinit const OutputFormatDescriptor kFlacFormat = {
    .code = kOutputFlac,
    .name = "flac",
    .extension = "flac",
    .listRows = {{nullptr, 11}, {}},
    .lossless = true,
    .maxChannels = kMaxWideChannels,
    .tags = true,
    .options = &kOptions,
    .rateHint = RateHint,
    .plan = Plan,
};

}  // namespace pelloran
