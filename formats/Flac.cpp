// FLAC: its options, and the plan: the source's rate, channels and width (at most 24 bits) unless the options
// say otherwise, the compression level, and tags.

#include "decode/AudioDecoder.h"
#include "encode/FlacWriter.h"
#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

using S = ConvertSettings;
using F = FlacSettings;
template <auto Member>
constexpr NumberRef FlacField = In<&S::flac, Member>;

constexpr int32_t kFlacWidths[] = {0, 16, 24};
constexpr int kMaxFlacRate = 655350;  // the streamable subset's highest rate

constexpr NumberRow kNumbers[] = {
    {"FLACCompression", FlacField<&F::compression>, kSaveOptionsGroup, CheckNone, Span(0, 8), kNoNames,
     "FLAC: compression level, 0 fastest to 8 smallest"},
    {"FLACSampleRate", FlacField<&F::rate>, kSaveOptionsGroup, CheckNone, kRate, kSourceNames,
     "FLAC: Hz (0 as the source)"},
    {"FLACChannels", FlacField<&F::channels>, kSaveOptionsGroup, CheckNone, Span(0, 2), kSourceNames,
     "FLAC: channels (0 as the source, every channel of a surround source)"},
    {"FLACBitsPerSample", FlacField<&F::bits>, kSaveOptionsGroup, CheckNone, Codes(kFlacWidths), kSourceNames,
     "FLAC: bits per sample (0 as the source, at most 24)"},
    {"FLACID3TagType", FlacField<&F::tagType>, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "FLAC tags: custom (FLACTag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"AmplifyFLAC", FlacField<&F::amplify>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "FLAC: amplify by AmplifyFLACCoeff"},
    {"AmplifyFLACCoeff", FlacField<&F::gain>, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "FLAC: gain in percent"},
    {"FLACCopyCover", FlacField<&F::copyCover>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
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

constexpr FormatOptions kOptions = {"FLAC", kNumbers, {}, "FLAC", TagsOf<&S::flac>, kControls};

int RateHint(const ConvertSettings& s) { return s.flac.rate > 0 ? s.flac.rate : 44100; }

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    PlanLossless(in, s.flac.rate, s.flac.channels, s.flac.bits, 24, kMaxWideChannels, plan);
    // Above the streamable subset's rates (DXD's 705.6 and 768 kHz): the highest common rate of the same family.
    if (plan.format.rate > kMaxFlacRate) {
        plan.refusedRate = plan.format.rate;
        plan.format.rate = plan.format.rate % 44100 == 0 ? 352800 : 384000;
    }
    FlacOptions options;
    options.compression = s.flac.compression;
    // The seek points follow the source's length; the last second may be partial.
    const int seconds = in.decoder.GetDurationSeconds();
    if (seconds > 0)
        options.expectedFrames = (static_cast<uint64_t>(seconds) + 1) * static_cast<uint64_t>(plan.format.rate);
    plan.tags = PlanTags(in, s.flac).values;
    SetGain(plan, s.flac);
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
