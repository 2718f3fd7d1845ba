// The WAV plan: the source's format, or the options' rate, channels and width.

#include "app/ConvertLoop.h"
#include "encode/WavWriter.h"

namespace pelloran {

int WavRateHint(const ConvertSettings& s) {
    return (s.AutoDestWAVEncodingParam != 0 || s.WAVSampleRate <= 0) ? 44100 : s.WAVSampleRate;
}

bool PlanWav(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    plan.format = in.source;
    if (s.AutoDestWAVEncodingParam == 0) {
        if (s.WAVSampleRate > 0) plan.format.rate = s.WAVSampleRate;
        if (s.WAVChannelNum == 1 || s.WAVChannelNum == 2) plan.format.channels = s.WAVChannelNum;
        // Only 8 and 16 bits are written; any other stored width means 16.
        if (s.WAVBitsPerSample != 0) plan.format.bits = s.WAVBitsPerSample == 8 ? 8 : 16;
    }
    SetGain(plan, s.AmplifyWav, s.AmplifyWavCoeff);
    plan.writer = std::make_unique<WavWriter>();
    return true;
}

}  // namespace pelloran
