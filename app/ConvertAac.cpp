// The AAC conversion loop: the decoder's blocks go to the encoder as they are.

#include "app/ConvertLoop.h"
#include "decode/AudioDecoder.h"
#include "encode/AacWriter.h"

namespace pelloran {

namespace {

class AacStage : public FormatStage {
public:
    explicit AacStage(const ConvertSettings& settings) : settings_(settings) {}

    int RateHint() override { return 44100; }

    bool Begin(AudioDecoder& decoder, const std::string&, const std::string& target, ConvertContext&,
               StreamPlan& plan) override {
        const int sourceRate = decoder.GetSampleRate();
        if (sourceRate <= 0) return false;
        plan.channels = decoder.GetOutputChannels() == 2 ? 2 : 1;
        plan.bits = decoder.GetBitsPerSample() == 8 ? 8 : 16;
        // AAC knows thirteen rates; any other is resampled to the nearest of them rather than stored
        // under a wrong rate.
        plan.rate = NearestAacRate(sourceRate);
        plan.convert = plan.rate != sourceRate;
        SetGain(plan, settings_.AmplifyAAC, settings_.AmplifyAACCoef);
        bits_ = plan.bits;
        if (!writer_.Open(target, plan.rate, plan.channels, plan.bits)) return false;
        if (settings_.AutoDestAACEncodingParam == 0) {
            faacEncConfiguration* config = writer_.Config();
            ApplyFaacOptions(*config, settings_.AACVBR, settings_.AACVBRQuality, settings_.AACABRBitRate,
                             settings_.AACEnableTNS, settings_.AACEnableMidside, settings_.AACBlockType,
                             plan.channels);
            config->mpegVersion = static_cast<unsigned>(settings_.AACMpegVersion);
        }
        return writer_.Start();
    }

    bool Write(const void* left, const void* right, int frames) override {
        if (bits_ == 8) return writer_.Encode8(static_cast<const uint8_t*>(left), static_cast<const uint8_t*>(right), frames);
        return writer_.Encode16(static_cast<const int16_t*>(left), static_cast<const int16_t*>(right), frames);
    }

    bool Finish() override { return writer_.Close(); }

private:
    const ConvertSettings& settings_;
    AacWriter writer_;
    int bits_ = 16;
};

}  // namespace

int ConvertToAac(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context) {
    AacStage stage(context.settings);
    return RunFormatLoop(stage, formatCode, source, target, context);
}

}  // namespace pelloran
