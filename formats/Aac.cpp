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

constexpr CodeName kMpegList[] = {{"mpeg4", 0}, {"mpeg2", 1}};
constexpr CodeName kBlockList[] = {{"normal", 0}, {"noshort", 1}, {"nolong", 2}};
constexpr CodeNames kMpegNames = Named(kMpegList);
constexpr CodeNames kBlockNames = Named(kBlockList);

constexpr NumberRow kAacNumbers[] = {
    {"AutoDestAACEncodingParam", Field<&S::AutoDestAACEncodingParam>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: encoder defaults"},
    {"AACVBR", Field<&S::AACVBR>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: quality mode (on) or average bit rate (off)"},
    {"AACVBRQuality", Field<&S::AACVBRQuality>, kSaveOptionsGroup, CheckNone, Span(10, 500), kNoNames,
     "AAC: quality of the quality mode, 10 (about 23 kbit/s for stereo) to 500 (about 240); 100 is about 120"},
    {"AACABRBitRate", Field<&S::AACABRBitRate>, kSaveOptionsGroup, CheckNone, Span(8, 576), kNoNames,
     "AAC: kbit/s of the average bit rate mode"},
    {"AACMpegVersion", Field<&S::AACMpegVersion>, kSaveOptionsGroup, CheckNone, kSwitch, kMpegNames,
     "AAC: MPEG-4 or MPEG-2 headers"},
    {"AACEnableTNS", Field<&S::AACEnableTNS>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: temporal noise shaping"},
    {"AACEnableMidside", Field<&S::AACEnableMidside>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: mid/side coding"},
    {"AACBlockType", Field<&S::AACBlockType>, kSaveOptionsGroup, CheckNone, Span(0, 2), kBlockNames,
     "AAC: block switching: normal, no short blocks, no long blocks"},
    {"AmplifyAAC", Field<&S::AmplifyAAC>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "AAC: amplify by AmplifyAACCoef"},
    {"AmplifyAACCoef", Field<&S::AmplifyAACCoef>, kSaveOptionsGroup, CheckNone, kFreeGain, kNoNames,
     "AAC: gain in percent"},
};

constexpr CodeName kM4aCodecList[] = {{"aac", 0}, {"alac", 1}};
constexpr CodeNames kM4aCodecNames = Named(kM4aCodecList);

constexpr NumberRow kM4aNumbers[] = {
    {"AutoDestM4AEncodingParam", Field<&S::AutoDestM4AEncodingParam>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: encoder defaults"},
    {"M4AVBR", Field<&S::M4AVBR>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: quality mode (on) or average bit rate (off)"},
    {"M4AVBRQuality", Field<&S::M4AVBRQuality>, kSaveOptionsGroup, CheckNone, Span(10, 500), kNoNames,
     "M4A/MP4/M4B: quality of the quality mode, 10 (about 23 kbit/s for stereo) to 500 (about 240); 100 is about 120"},
    {"M4AABRBitRate", Field<&S::M4AABRBitRate>, kSaveOptionsGroup, CheckNone, Span(8, 576), kNoNames,
     "M4A/MP4/M4B: kbit/s of the average bit rate mode"},
    {"M4AEnableTNS", Field<&S::M4AEnableTNS>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: temporal noise shaping"},
    {"M4AEnableMidside", Field<&S::M4AEnableMidside>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: mid/side coding"},
    {"M4ABlockType", Field<&S::M4ABlockType>, kSaveOptionsGroup, CheckNone, Span(0, 2), kBlockNames,
     "M4A/MP4/M4B: block switching: normal, no short blocks, no long blocks"},
    {"AmplifyM4A", Field<&S::AmplifyM4A>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "M4A/MP4/M4B: amplify by AmplifyM4ACoef"},
    {"AmplifyM4ACoef", Field<&S::AmplifyM4ACoef>, kSaveOptionsGroup, CheckNone, kFreeGain, kNoNames,
     "M4A/MP4/M4B: gain in percent"},
    {"M4AID3TagType", Field<&S::M4AID3TagType>, kSaveOptionsGroup, CheckTagType, kTagType, kTagTypeNames,
     "M4A/MP4/M4B tags: custom (M4ATag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"M4ACodec", Field<&S::M4ACodec>, kSaveOptionsGroup, CheckNone, kSwitch, kM4aCodecNames,
     "M4A/MP4/M4B: AAC, or ALAC (lossless, the source's rate, channels and width)"},
    {"M4ACopyCover", Field<&S::M4ACopyCover>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
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
constexpr FormatOptions kM4aOptions = {"M4A/MP4/M4B", kM4aNumbers, {}, "M4A", TagsField<&S::M4ATag>, kM4aControls};

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
PcmFormat AacFormat(const PcmFormat& source) { return {NearestAacRate(source.rate), source.channels, source.bits}; }


int RateHint(const ConvertSettings&) { return 44100; }

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    AacOptions options;
    if (s.AutoDestAACEncodingParam == 0) {
        options = PageOptions(s.AACVBR, s.AACVBRQuality, s.AACABRBitRate, s.AACEnableTNS, s.AACEnableMidside);
        options.mpeg2 = s.AACMpegVersion == 1;
    }
    plan.format = AacFormat(in.source);
    SetGain(plan, s.AmplifyAAC, s.AmplifyAACCoef);
    plan.writer = std::make_unique<AacWriter>(options);
    return true;
}

bool PlanAlac(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    PlanLossless(in, 0, 0, 0, 24, kMaxWideChannels, plan);
    plan.tags = ChooseTags(s.M4AID3TagType, s.M4ATag, in.decoder, in.formatCode, in.sourcePath, in.runPosition,
                           false, s.M4ACopyCover != 0)
                    .values;
    SetGain(plan, s.AmplifyM4A, s.AmplifyM4ACoef);
    plan.writer = std::make_unique<AlacWriter>();
    return true;
}

bool PlanMp4(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    if (s.M4ACodec == 1) return PlanAlac(in, plan);
    AacOptions options;
    if (s.AutoDestM4AEncodingParam == 0)
        options = PageOptions(s.M4AVBR, s.M4AVBRQuality, s.M4AABRBitRate, s.M4AEnableTNS, s.M4AEnableMidside);
    plan.format = AacFormat(in.source);
    plan.tags = ChooseTags(s.M4AID3TagType, s.M4ATag, in.decoder, in.formatCode, in.sourcePath, in.runPosition,
                           false, s.M4ACopyCover != 0)
                    .values;
    SetGain(plan, s.AmplifyM4A, s.AmplifyM4ACoef);
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
    .maxChannels = 2,
    .tags = false,
    .options = &kAacOptions,
    .length = AacLength,
    .rateHint = RateHint,
    .plan = Plan,
};

// The MP4 family shares the M4A options; covr holds JPEG, PNG and BMP pictures only.
constinit const OutputFormatDescriptor kM4aFormat = {
    .code = kOutputM4a,
    .name = "m4a",
    .extension = "m4a",
    .listRows = {{"AAC for iPod / iTunes", 5}, {"M4A (MPEG-4 Audio)", 7}},
    .lossless = false,
    .maxChannels = 2,
    .tags = true,
    .options = &kM4aOptions,
    .pictures = PictureRule::CovrKinds,
    .rateHint = RateHint,
    .plan = PlanMp4,
};

constinit const OutputFormatDescriptor kMp4Format = {
    .code = kOutputMp4,
    .name = "mp4",
    .extension = "mp4",
    .listRows = {{"MP4 (Audio only)", 6}, {}},
    .lossless = false,
    .maxChannels = 2,
    .tags = true,
    .options = &kM4aOptions,
    .pictures = PictureRule::CovrKinds,
    .rateHint = RateHint,
    .plan = PlanMp4,
};

constinit const OutputFormatDescriptor kM4bFormat = {
    .code = kOutputM4b,
    .name = "m4b",
    .extension = "m4b",
    .listRows = {{"M4B (MPEG-4 Audiobook)", 8}, {}},
    .lossless = false,
    .maxChannels = 2,
    .tags = true,
    .options = &kM4aOptions,
    .pictures = PictureRule::CovrKinds,
    .rateHint = RateHint,
    .plan = PlanMp4,
};

constinit const OutputFormatDescriptor kAlacFormat = {
    .code = kOutputAlac,
    .name = "alac",
    .extension = "m4a",
    .listRows = {{"ALAC (Apple Lossless)", 13}, {}},
    .lossless = true,
    .maxChannels = kMaxWideChannels,
    .tags = true,
    .options = &kM4aOptions,
    .pictures = PictureRule::CovrKinds,
    .rateHint = RateHint,
    .plan = PlanAlac,
};

}  // namespace pelloran
