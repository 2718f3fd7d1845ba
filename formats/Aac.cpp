// AAC in ADTS (.aac) and the MP4 family (.m4a, .mp4, .m4b: AAC, or ALAC in .m4a): their options, and the
// plans.

#include "decode/AudioDecoder.h"
#include "encode/AacWriter.h"
#include "encode/AlacWriter.h"
#include "encode/Mp4Writer.h"
#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

using S = ConvertSettings;
using F = AacFormatSettings;
template <auto Member>
constexpr NumberRef AacField = In<&S::aac, Member>;
template <auto Member>
constexpr NumberRef M4aField = In<&S::m4a, Member>;

constexpr CodeName kMpegList[] = {{"mpeg4", 0}, {"mpeg2", 1}};
constexpr CodeName kBlockList[] = {{"normal", 0}, {"noshort", 1}, {"nolong", 2}};
constexpr CodeNames kMpegNames = Named(kMpegList);
constexpr CodeNames kBlockNames = Named(kBlockList);

constexpr NumberRow kAacNumbers[] = {
    {"AutoDestAACEncodingParam", AacField<&F::automatic>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: encoder defaults"},
    {"AACVBR", AacField<&F::mode>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: quality mode (on) or average bit rate (off)"},
    {"AACVBRQuality", AacField<&F::quality>, kSaveOptionsGroup, CheckNone, Span(10, 500), kNoNames,
     "AAC: quality of the quality mode, 10 (about 23 kbit/s for stereo) to 500 (about 240); 100 is about 120"},
    {"AACABRBitRate", AacField<&F::bitRate>, kSaveOptionsGroup, CheckNone, Span(8, 576), kNoNames,
     "AAC: kbit/s of the average bit rate mode"},
    {"AACMpegVersion", AacField<&F::mpegVersion>, kSaveOptionsGroup, CheckNone, kSwitch, kMpegNames,
     "AAC: MPEG-4 or MPEG-2 headers"},
    {"AACEnableTNS", AacField<&F::tns>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: temporal noise shaping"},
    {"AACEnableMidside", AacField<&F::midside>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: mid/side coding"},
    {"AACBlockType", AacField<&F::blockType>, kSaveOptionsGroup, CheckNone, Span(0, 2), kBlockNames,
     "AAC: block switching: normal, no short blocks, no long blocks"},
    {"AmplifyAAC", AacField<&F::amplify>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: amplify by AmplifyAACCoef"},
    {"AmplifyAACCoef", AacField<&F::gain>, kSaveOptionsGroup, CheckNone, kFreeGain, kNoNames,
     "AAC: gain in percent"},
};

constexpr CodeName kM4aCodecList[] = {{"aac", 0}, {"alac", 1}};
constexpr CodeNames kM4aCodecNames = Named(kM4aCodecList);

constexpr NumberRow kM4aNumbers[] = {
    {"AutoDestM4AEncodingParam", M4aField<&F::automatic>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: encoder defaults"},
    {"M4AVBR", M4aField<&F::mode>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: quality mode (on) or average bit rate (off)"},
    {"M4AVBRQuality", M4aField<&F::quality>, kSaveOptionsGroup, CheckNone, Span(10, 500), kNoNames,
     "M4A/MP4/M4B: quality of the quality mode, 10 (about 23 kbit/s for stereo) to 500 (about 240); 100 is about 120"},
    {"M4AABRBitRate", M4aField<&F::bitRate>, kSaveOptionsGroup, CheckNone, Span(8, 576), kNoNames,
     "M4A/MP4/M4B: kbit/s of the average bit rate mode"},
    {"M4AEnableTNS", M4aField<&F::tns>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: temporal noise shaping"},
    {"M4AEnableMidside", M4aField<&F::midside>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: mid/side coding"},
    {"M4ABlockType", M4aField<&F::blockType>, kSaveOptionsGroup, CheckNone, Span(0, 2), kBlockNames,
     "M4A/MP4/M4B: block switching: normal, no short blocks, no long blocks"},
    {"AmplifyM4A", M4aField<&F::amplify>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: amplify by AmplifyM4ACoef"},
    {"AmplifyM4ACoef", M4aField<&F::gain>, kSaveOptionsGroup, CheckNone, kFreeGain, kNoNames,
     "M4A/MP4/M4B: gain in percent"},
    {"M4AID3TagType", M4aField<&F::tagType>, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "M4A/MP4/M4B tags: custom (M4ATag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"M4ACodec", M4aField<&F::codec>, kSaveOptionsGroup, CheckNone, kSwitch, kM4aCodecNames,
     "M4A/MP4/M4B: AAC, or ALAC (lossless, the source's rate, channels and width)"},
    {"M4ACopyCover", M4aField<&F::copyCover>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: copy the source's cover art (covr) with its tags"},
};

constexpr FormatControls kAacControls = {
    .automatic = "AutoDestAACEncodingParam",
    .bitrate = "AACABRBitRate",
    .quality = "AACVBRQuality",
    .qualitySwitch = "AACVBR",
    .amplify = "AmplifyAAC",
    .gain = "AmplifyAACCoef",
};

constexpr FormatControls kM4aControls = {
    .automatic = "AutoDestM4AEncodingParam",
    .bitrate = "M4AABRBitRate",
    .quality = "M4AVBRQuality",
    .qualitySwitch = "M4AVBR",
    .amplify = "AmplifyM4A",
    .gain = "AmplifyM4ACoef",
    .tagType = "M4AID3TagType",
    .copyCover = "M4ACopyCover",
};

constexpr FormatOptions kAacOptions = {"AAC", kAacNumbers, {}, nullptr, nullptr, kAacControls};
constexpr FormatOptions kM4aOptions = {"M4A/MP4/M4B", kM4aNumbers, {}, "M4A", TagsOf<&S::m4a>, kM4aControls};

// The encoder's delay of 1024, then padding to the 1024-frame grid.
FrameSpan AacLength(const LengthFacts& f) {
    LengthFacts delayed = f;
    delayed.expected += 1024;
    return Around(delayed, 1023);
}

// The options of a page: with vbr the quality (only when it lies in 10..500; otherwise the default stays),
// else the average bit rate.
AacOptions PageOptions(int vbr, int quality, int abrKbps, int tns, int midside) {
    AacOptions options;
    if (vbr != 0) {
        if (quality >= 10 && quality <= 500) options.quality = quality;
    } else if (abrKbps > 0) {
        options.abrKbps = abrKbps;
    }
    options.tns = tns != 0;
    options.midside = midside != 0;
    return options;
}

// AAC knows thirteen rates; any other is resampled to the nearest of them rather than stored under a wrong rate.
PcmFormat AacFormat(const PcmFormat& source) {
    // Up to 5.1; a quad (no AAC channel configuration) or more than six channels are mixed to stereo.
    PcmFormat input = LossyInput(source, kMaxAacChannels);
    if (input.channels == 4) input.channels = 2;
    return {NearestAacRate(input.rate), input.channels, input.bits};
}


int RateHint(const ConvertSettings&) { return 44100; }

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    AacOptions options;
    if (s.aac.automatic == 0) {
        options = PageOptions(s.aac.mode, s.aac.quality, s.aac.bitRate, s.aac.tns, s.aac.midside);
        options.mpeg2 = s.aac.mpegVersion == 1;
    }
    plan.format = AacFormat(in.source);
    SetGain(plan, s.aac);
    plan.writer = std::make_unique<AacWriter>(options);
    return true;
}

bool PlanAlac(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    PlanLossless(in, 0, 0, 0, 24, kMaxWideChannels, plan);
    plan.tags = PlanTags(in, s.m4a).values;
    SetGain(plan, s.m4a);
    plan.writer = std::make_unique<AlacWriter>();
    return true;
}

bool PlanMp4(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    if (s.m4a.codec == 1) return PlanAlac(in, plan);
    AacOptions options;
    if (s.m4a.automatic == 0)
        options = PageOptions(s.m4a.mode, s.m4a.quality, s.m4a.bitRate, s.m4a.tns, s.m4a.midside);
    plan.format = AacFormat(in.source);
    plan.tags = PlanTags(in, s.m4a).values;
    SetGain(plan, s.m4a);
    plan.writer = std::make_unique<Mp4Writer>(options);
    return true;
}

}  // namespace

constinit const OutputFormatDescriptor kAacFormat = {
    .code = kOutputAac,
    .name = "aac",
    .extension = "aac",
    .listRows = {{nullptr, 4}, {}},
    .lossless = false,
    .maxChannels = kMaxAacChannels,
    .tags = false,
    .options = &kAacOptions,
    .length = AacLength,
    .rateHint = RateHint,
    .plan = Plan,
};

namespace {

// The MP4 family shares the M4A options; covr holds JPEG, PNG and BMP pictures only.
constexpr OutputFormatDescriptor kMp4Family = {
    .code = kOutputM4a,
    .name = "m4a",
    .extension = "m4a",
    .listRows = {{"AAC for iPod / iTunes", 5}, {"M4A (MPEG-4 Audio)", 7}},
    .lossless = false,
    .maxChannels = kMaxAacChannels,
    .tags = true,
    .options = &kM4aOptions,
    .pictures = PictureRule::CovrKinds,
    .rateHint = RateHint,
    .plan = PlanMp4,
};

constexpr OutputFormatDescriptor Alac() {
    OutputFormatDescriptor alac = Sibling(kMp4Family, kOutputAlac, "alac", "m4a", {"ALAC (Apple Lossless)", 13});
    alac.lossless = true;
    alac.maxChannels = kMaxWideChannels;
    alac.plan = PlanAlac;
    return alac;
}

}  // namespace

constinit const OutputFormatDescriptor kM4aFormat = kMp4Family;
constinit const OutputFormatDescriptor kMp4Format =
    Sibling(kMp4Family, kOutputMp4, "mp4", "mp4", {"MP4 (Audio only)", 6});
constinit const OutputFormatDescriptor kM4bFormat =
    Sibling(kMp4Family, kOutputM4b, "m4b", "m4b", {"M4B (MPEG-4 Audiobook)", 8});
constinit const OutputFormatDescriptor kAlacFormat = Alac();

}  // namespace pelloran
