// The WMA plan: the source's PCM at the format's rate (or one channel of it, or mixed) into the nearest format of
// the encoder's list.

#include <algorithm>

#include "app/ConvertLoop.h"
#include "app/EncodingParams.h"
#include "encode/WmaWriter.h"

namespace pelloran {

namespace {

struct WmaTarget {
    int bitrate;  // bits per second
    int rate;
};

// Bit rate and rate that follow a source of this rate and channel count.
WmaTarget AutoWmaTarget(int rate, int channels) {
    if (channels == 1) {
        if (rate <= 12000) return {20000, 22050};
        if (rate <= 16000) return {32000, 44100};
        return {48000, 44100};
    }
    if (rate <= 12000) return {32000, 22050};
    if (rate <= 16000) return {48000, 44100};
    if (rate <= 24000) return {64000, 44100};
    if (rate <= 32000) return {96000, 44100};
    if (rate <= 44100) return {128000, 44100};
    return {192000, 48000};
}

}  // namespace

int WmaRateHint(const ConvertSettings& s) { return s.AutoDestWMAEncodingParam != 0 ? 44100 : s.WMASampleRate; }

bool PlanWma(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    const PcmFormat& source = in.source;
    const bool automatic = s.AutoDestWMAEncodingParam != 0;
    const WmaTarget wanted = automatic ? AutoWmaTarget(source.rate, source.channels)
                                       : WmaTarget{s.WMABitRate, s.WMASampleRate};
    const int channels = automatic ? source.channels : s.WMAChannels;
    const WmaFormatEntry* format = FindWmaFormat(SharedWmaFormats(), wanted.rate, wanted.bitrate, channels);
    if (format == nullptr) return false;
    // The loop's converter brings the source to the format's rate (any ratio, exact length; the encoder's own
    // resampler gives nothing for a source shorter than its filter); a stereo source for a mono format reaches
    // the writer as one channel, picked or mixed by the loop.
    plan.format = {format->Rate(), std::min(source.channels, format->channels), source.bits};
    plan.tags = ChooseTags(s.WMAID3TagType, s.WMATag, in.decoder, in.formatCode, in.sourcePath, in.runPosition,
                           false, s.WMACopyCover != 0)
                    .values;
    SetGain(plan, s.AmplifyWMA, s.AmplifyWMACoeff);
    plan.writer = std::make_unique<WmaWriter>(WmaOptions{*format});
    return true;
}

}  // namespace pelloran
