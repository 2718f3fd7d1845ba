// Ogg Vorbis: its options, and the plan: a bit rate (or quality) from the options or the source.

#include "decode/AudioDecoder.h"
#include "encode/OggWriter.h"
#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

using S = ConvertSettings;

int32_t CheckOggBitRate(int32_t v) { return v > 1000 ? v / 1000 : v; }
constexpr CodeName kOggEncodeList[] = {{"bitrate", 0}, {"quality", 1}};
constexpr CodeNames kOggEncodeNames = Named(kOggEncodeList);

constexpr NumberRow kNumbers[] = {
    {"AutoDestOGGEncodingParam", Field<&S::AutoDestOGGEncodingParam>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Ogg: rate and channels follow the source, bit rate from the rate"},
    {"OGGBitRate", Field<&S::OGGBitRate>, kSaveOptionsGroup, CheckOggBitRate, Span(0, 1000), kSourceNames,
     "Ogg: kbit/s (0 follows the source)"},
    {"OGGSampleRate", Field<&S::OGGSampleRate>, kSaveOptionsGroup, CheckNone, kRate, kSourceNames,
     "Ogg: Hz (0 as the source)"},
    {"OGGChannels", Field<&S::OGGChannels>, kSaveOptionsGroup, CheckZeroOneTwo, Span(0, 2), kSourceNames,
     "Ogg: channels (0 as the source)"},
    {"OGGID3TagType", Field<&S::OGGID3TagType>, kSaveOptionsGroup, CheckNone, kTagType, kTagTypeNames,
     "Ogg tags: custom (OGGTag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"OGGEncodeMode", Field<&S::OGGEncodeMode>, kSaveOptionsGroup, CheckNone, kSwitch, kOggEncodeNames,
     "Ogg: nominal bit rate (OGGBitRate) or quality (OGGQuality)"},
    {"OGGQuality", Field<&S::OGGQuality>, kSaveOptionsGroup, CheckNone, Span(-1, 10), kNoNames,
     "Ogg: quality of the quality mode, -1 (nominally 45 kbit/s for stereo) to 10 (nominally 500); 5 is 160"},
    {"AmplifyOGG", Field<&S::AmplifyOGG>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Ogg: amplify by AmplifyOGGCoeff"},
    {"AmplifyOGGCoeff", Field<&S::AmplifyOGGCoeff>, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "Ogg: gain in percent"},
    {"OGGCopyCover", Field<&S::OGGCopyCover>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Ogg: copy the source's cover art (METADATA_BLOCK_PICTURE) with its tags"},
};

constexpr FormatControls kControls = {
    .automatic = "AutoDestOGGEncodingParam",
    .bitrate = "OGGBitRate",
    .rate = "OGGSampleRate",
    .channels = "OGGChannels",
    .quality = "OGGQuality",
    .qualitySwitch = "OGGEncodeMode",
    .amplify = "AmplifyOGG",
    .gain = "AmplifyOGGCoeff",
    .tagType = "OGGID3TagType",
    .copyCover = "OGGCopyCover",
    .keepsAuto = Keeps(FormatControl::Quality),
};

constexpr FormatOptions kOptions = {"OGG", kNumbers, {}, "OGG", TagsField<&S::OGGTag>, kControls};

int RateHint(const ConvertSettings& s) {
    return (s.AutoDestOGGEncodingParam != 0 || s.OGGSampleRate < 1) ? 44100 : s.OGGSampleRate;
}

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    const PcmFormat& source = in.source;
    int bitrate = 0;
    plan.format = {0, source.channels, 16};
    if (s.AutoDestOGGEncodingParam != 0) {
        const EncodingParams params = AutoEncodingParams(source.rate, source.channels);
        plan.format.rate = params.rate;
        bitrate = params.bitrateKbps;
    } else {
        plan.format.rate = NearestInTable(s.OGGSampleRate != 0 ? s.OGGSampleRate : source.rate, kEncoderRateTable);
        if (s.OGGChannels == 1 || s.OGGChannels == 2) plan.format.channels = s.OGGChannels;
        bitrate = s.OGGBitRate;
        if (bitrate <= 0 && (in.formatCode == kInputMp3 || in.formatCode == kInputOgg))
            bitrate = in.decoder.GetBitrateKbps();
        // A source that tells no bit rate follows the rate table.
        if (bitrate <= 0) bitrate = AutoEncodingParams(plan.format.rate, plan.format.channels).bitrateKbps;
        bitrate = ClampOggBitrate(plan.format.rate, plan.format.channels, NearestInTable(bitrate, kOggBitrateTable));
    }
    const TagChoice tags = ChooseTags(s.OGGID3TagType, s.OGGTag, in.decoder, in.formatCode, in.sourcePath,
                                      in.runPosition, false, s.OGGCopyCover != 0);
    plan.tags = tags.values;
    SetGain(plan, s.AmplifyOGG, s.AmplifyOGGCoeff);
    OggOptions options{bitrate * 1000};
    // The quality mode applies with or without the automatic parameters: -1..10 is the encoder's -0.1..1.0.
    if (s.OGGEncodeMode == 1) {
        options.useQuality = true;
        options.quality = static_cast<float>(s.OGGQuality) / 10.0f;
    }
    plan.writer = std::make_unique<OggWriter>(options);
    return true;
}

}  // namespace

constinit const OutputFormatDescriptor kOggFormat = {
    .code = kOutputOgg,
    .name = "ogg",
    .extension = "ogg",
    .listRows = {{nullptr, 3}, {}},
    .lossless = false,
    .maxChannels = 2,
    .tags = true,
    .options = &kOptions,
    .rateHint = RateHint,
    .plan = Plan,
};

}  // namespace pelloran
