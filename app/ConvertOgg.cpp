// The Ogg Vorbis plan: 16-bit PCM at a rate of the encoder table, the source's or the options' channels, a
// nominal bit rate or a quality.

#include "app/ConvertLoop.h"
#include "app/EncodingParams.h"
#include "decode/AudioDecoder.h"
#include "encode/OggWriter.h"

namespace pelloran {

int OggRateHint(const ConvertSettings& s) {
    return (s.AutoDestOGGEncodingParam != 0 || s.OGGSampleRate < 1) ? 44100 : s.OGGSampleRate;
}

bool PlanOgg(const PlanInput& in, WriterPlan& plan) {
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

}  // namespace pelloran
