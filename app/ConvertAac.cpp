// The AAC and MP4 plans: the source's channels and width at the nearest rate AAC can store, with the encoder
// options of the AAC or the M4A page; MP4 files also carry tags.

#include "app/ConvertLoop.h"
#include "app/EncodingParams.h"
#include "encode/AacWriter.h"
#include "encode/Mp4Writer.h"

namespace pelloran {

namespace {

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

}  // namespace

int AacRateHint(const ConvertSettings&) { return 44100; }

bool PlanAac(const PlanInput& in, WriterPlan& plan) {
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

}  // namespace pelloran
