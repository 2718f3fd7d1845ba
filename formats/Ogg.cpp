// Ogg Vorbis: its options, and the plan: a bit rate (or quality) from the options or the source.

#include "decode/AudioDecoder.h"
#include "encode/OggWriter.h"
#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

using S = ConvertSettings;
using F = FormatSettings;
template <auto Member>
constexpr NumberRef OggField = In<&S::ogg, Member>;

int32_t CheckOggBitRate(int32_t v) { return v > 1000 ? v / 1000 : v; }
constexpr CodeName kOggEncodeList[] = {{"bitrate", 0}, {"quality", 1}};
constexpr CodeNames kOggEncodeNames = Named(kOggEncodeList);

constexpr NumberRow kNumbers[] = {
    {"AutoDestOGGEncodingParam", OggField<&F::automatic>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Ogg: rate and channels follow the source, bit rate from the rate"},
    {"OGGBitRate", OggField<&F::bitRate>, kSaveOptionsGroup, CheckOggBitRate, Span(0, 1000), kSourceNames,
     "Ogg: kbit/s (0 follows the source)"},
    {"OGGSampleRate", OggField<&F::rate>, kSaveOptionsGroup, CheckNone, kRate, kSourceNames,
     "Ogg: Hz (0 as the source)"},
    {"OGGChannels", OggField<&F::channels>, kSaveOptionsGroup, CheckZeroOneTwo, Span(0, 2), kSourceNames,
     "Ogg: channels (0 as the source)"},
    {"OGGID3TagType", OggField<&F::tagType>, kSaveOptionsGroup, CheckNone, kTagType, kTagTypeNames,
     "Ogg tags: custom (OGGTag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"OGGEncodeMode", OggField<&F::mode>, kSaveOptionsGroup, CheckNone, kSwitch, kOggEncodeNames,
     "Ogg: nominal bit rate (OGGBitRate) or quality (OGGQuality)"},
    {"OGGQuality", OggField<&F::quality>, kSaveOptionsGroup, CheckNone, Span(-1, 10), kNoNames,
     "Ogg: quality of the quality mode, -1 (nominally 45 kbit/s for stereo) to 10 (nominally 500); 5 is 160"},
    {"AmplifyOGG", OggField<&F::amplify>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "Ogg: amplify by AmplifyOGGCoeff"},
    {"AmplifyOGGCoeff", OggField<&F::gain>, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "Ogg: gain in percent"},
    {"OGGCopyCover", OggField<&F::copyCover>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
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

constexpr FormatOptions kOptions = {"OGG", kNumbers, {}, "OGG", TagsOf<&S::ogg>, kControls};

int RateHint(const ConvertSettings& s) {
    return (s.ogg.automatic != 0 || s.ogg.rate < 1) ? 44100 : s.ogg.rate;
}

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    const PcmFormat source = LossyInput(in.source, kMaxChannels);
    int bitrate = 0;
    plan.format = {0, source.channels, 16};
    if (s.ogg.automatic != 0) {
        const EncodingParams params = AutoEncodingParams(source.rate, source.channels);
        plan.format.rate = params.rate;
        bitrate = params.bitrateKbps;
    } else {
        plan.format.rate = NearestInTable(s.ogg.rate != 0 ? s.ogg.rate : source.rate, kEncoderRateTable);
        if (s.ogg.channels == 1 || s.ogg.channels == 2) plan.format.channels = s.ogg.channels;
        bitrate = s.ogg.bitRate;
        if (bitrate <= 0 && (in.formatCode == kInputMp3 || in.formatCode == kInputOgg))
            bitrate = in.decoder.GetBitrateKbps();
        // A source that tells no bit rate follows the rate table.
        if (bitrate <= 0) bitrate = AutoEncodingParams(plan.format.rate, plan.format.channels).bitrateKbps;
        bitrate = ClampOggBitrate(plan.format.rate, plan.format.channels, NearestInTable(bitrate, kOggBitrateTable));
    }
    // The rates are a stereo pair's: more channels get their share on top.
    if (plan.format.channels > 2) bitrate = bitrate * plan.format.channels / 2;
    plan.tags = PlanTags(in, s.ogg).values;
    SetGain(plan, s.ogg);
    OggOptions options{bitrate * 1000};
    // The quality mode applies with or without the automatic parameters: -1..10 is the encoder's -0.1..1.0.
    if (s.ogg.mode == 1) {
        options.useQuality = true;
        options.quality = static_cast<float>(s.ogg.quality) / 10.0f;
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
    .maxChannels = kMaxChannels,
    .tags = true,
    .options = &kOptions,
    .rateHint = RateHint,
    .plan = Plan,
};

}  // namespace pelloran
