// The WAV conversion loop.

#include "app/ConvertLoop.h"
#include "decode/AudioDecoder.h"
#include "encode/WavWriter.h"

namespace pelloran {

namespace {

class WavStage : public FormatStage {
public:
    explicit WavStage(const ConvertSettings& settings) : settings_(settings) {}

    int RateHint() override {
        return (settings_.AutoDestWAVEncodingParam != 0 || settings_.WAVSampleRate <= 0) ? 44100
                                                                                         : settings_.WAVSampleRate;
    }

    bool Begin(AudioDecoder& decoder, const std::string&, const std::string& target, ConvertContext&,
               StreamPlan& plan) override {
        const int sourceRate = decoder.GetSampleRate();
        const int sourceChannels = decoder.GetOutputChannels() == 2 ? 2 : 1;
        const int sourceBits = decoder.GetBitsPerSample() == 8 ? 8 : 16;
        if (settings_.AutoDestWAVEncodingParam != 0) {
            plan.rate = sourceRate;
            plan.channels = sourceChannels;
            plan.bits = sourceBits;
        } else {
            plan.rate = settings_.WAVSampleRate > 0 ? settings_.WAVSampleRate : sourceRate;
            plan.channels = settings_.WAVChannelNum == 1 || settings_.WAVChannelNum == 2 ? settings_.WAVChannelNum
                                                                                        : sourceChannels;
            // Only 8 and 16 bits are written; any other stored width means 16.
            plan.bits = settings_.WAVBitsPerSample == 0 ? sourceBits : (settings_.WAVBitsPerSample == 8 ? 8 : 16);
            if (plan.channels < sourceChannels && (settings_.MonoType == 1 || settings_.MonoType == 2))
                plan.selectChannel = settings_.MonoType;
            plan.convert = NeedsConversion(sourceRate, sourceChannels, sourceBits, plan.rate, plan.channels,
                                           plan.bits, settings_.MonoType);
        }
        if (plan.rate <= 0) return false;
        SetGain(plan, settings_.AmplifyWav, settings_.AmplifyWavCoeff);
        bits_ = plan.bits;
        return writer_.Open(target, plan.channels == 2, plan.bits, plan.rate);
    }

    bool Write(const void* left, const void* right, int frames) override {
        if (bits_ == 8) return writer_.Write8(static_cast<const uint8_t*>(left), static_cast<const uint8_t*>(right), frames);
        return writer_.Write16(static_cast<const int16_t*>(left), static_cast<const int16_t*>(right), frames);
    }

    bool Finish() override { return writer_.Close(); }

private:
    const ConvertSettings& settings_;
    WavWriter writer_;
    int bits_ = 16;
};

}  // namespace

int ConvertToWav(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context) {
    WavStage stage(context.settings);
    return RunFormatLoop(stage, formatCode, source, target, context);
}

}  // namespace pelloran
