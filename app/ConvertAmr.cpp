// The AMR conversion loop (amr and awb): mono 16-bit audio at 8000 Hz (narrow-band) or 16000 Hz (wide-band).

#include "app/ConvertLoop.h"
#include "decode/AudioDecoder.h"
#include "encode/AmrWriter.h"

namespace pelloran {

namespace {

class AmrStage : public FormatStage {
public:
    explicit AmrStage(const ConvertSettings& settings)
        : settings_(settings), narrowBand_(settings.OutputFormat == kOutputAmr && settings.AMRType == 0) {}

    int RateHint() override { return narrowBand_ ? 8000 : 16000; }

    bool Begin(AudioDecoder& decoder, const std::string&, const std::string& target, ConvertContext&,
               StreamPlan& plan) override {
        if (!writer_.Open(target, narrowBand_)) return false;
        const int sourceRate = decoder.GetSampleRate();
        const int sourceChannels = decoder.GetOutputChannels() == 2 ? 2 : 1;
        const int sourceBits = decoder.GetBitsPerSample() == 8 ? 8 : 16;
        if (sourceRate <= 0) return false;
        plan.rate = narrowBand_ ? 8000 : 16000;
        plan.channels = 1;
        plan.bits = 16;
        if (sourceChannels == 2 && settings_.MonoType >= 1) plan.selectChannel = settings_.MonoType == 2 ? 2 : 1;
        plan.convert = NeedsConversion(sourceRate, sourceChannels, sourceBits, plan.rate, 1, 16, settings_.MonoType);
        SetGain(plan, settings_.AmplifyAMR, settings_.AmplifyAMRCoef);

        if (narrowBand_) {
            writer_.SetNbMode(settings_.AMRMode);
            writer_.SetDtx(settings_.AMRDTX);
        } else if (settings_.OutputFormat == kOutputAmr) {
            writer_.SetWbMode(settings_.AMRWBMode);
            writer_.SetDtx(settings_.AMRDTX);
        } else {
            writer_.SetWbMode(settings_.AWBMode);
            writer_.SetDtx(settings_.AWBDTX);
        }
        return writer_.Start(target);
    }

    bool Write(const void* left, const void*, int frames) override {
        return writer_.Encode(static_cast<const int16_t*>(left), frames);
    }

    bool Finish() override { return writer_.Close(); }

private:
    const ConvertSettings& settings_;
    const bool narrowBand_;
    AmrWriter writer_;
};

}  // namespace

int ConvertToAmr(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context) {
    AmrStage stage(context.settings);
    return RunFormatLoop(stage, formatCode, source, target, context);
}

}  // namespace pelloran
