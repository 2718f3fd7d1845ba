// The WAV plan: the source's format, or the options' rate, channels and width; wide sources keep their
// width and every channel.

#include "app/ConvertLoop.h"
#include "encode/WavWriter.h"

namespace pelloran {

int WavRateHint(const ConvertSettings& s) {
    return (s.AutoDestWAVEncodingParam != 0 || s.WAVSampleRate <= 0) ? 44100 : s.WAVSampleRate;
}

bool PlanWav(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    if (s.AutoDestWAVEncodingParam != 0) {
        PlanLossless(in, 0, 0, 0, 32, kMaxWideChannels, plan);
    } else {
        const int bits = s.WAVBitsPerSample;
        PlanLossless(in, s.WAVSampleRate > 0 ? s.WAVSampleRate : 0, s.WAVChannelNum,
                     bits == 8 || bits == 16 || bits == 24 || bits == 32 ? bits : 0, 32, kMaxWideChannels, plan);
    }
    SetGain(plan, s.AmplifyWav, s.AmplifyWavCoeff);
    plan.writer = std::make_unique<WavWriter>();
    return true;
}

}  // namespace pelloran
