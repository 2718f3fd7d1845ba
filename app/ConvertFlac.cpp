// The FLAC plan: the source's rate, channels and width (at most 24 bits) unless the options say otherwise,
// the compression level, and tags.

#include "app/ConvertLoop.h"
#include "app/EncodingParams.h"
#include "decode/AudioDecoder.h"
#include "encode/FlacWriter.h"

namespace pelloran {

int FlacRateHint(const ConvertSettings& s) { return s.FLACSampleRate > 0 ? s.FLACSampleRate : 44100; }

bool PlanFlac(const PlanInput& in, WriterPlan& plan) {
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

}  // namespace pelloran
