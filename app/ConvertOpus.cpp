// The Opus plan: 16-bit PCM at the source's rate (the library resamples to 48 kHz), the source's or the
// options' channels, the bit rate by the channels or the options, and tags.

#include "app/ConvertLoop.h"
#include "app/EncodingParams.h"
#include "decode/AudioDecoder.h"
#include "encode/OpusWriter.h"

namespace pelloran {

namespace {

// Rates the library resamples from without trouble; others are first converted to 48 kHz.
constexpr int kMinOpusInputRate = 8000;
constexpr int kMaxOpusInputRate = 192000;

}  // namespace

int OpusRateHint(const ConvertSettings&) { return 48000; }

bool PlanOpus(const PlanInput& in, WriterPlan& plan) {
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

}  // namespace pelloran
