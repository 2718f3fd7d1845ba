// The WMA conversion loop: the decoder's blocks (or one selected channel) go to the writer, which
// converts them to the chosen codec format.

#include "app/ConvertLoop.h"
#include "app/EncodingParams.h"
#include "decode/AudioDecoder.h"
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

class WmaStage : public FormatStage {
public:
    WmaStage(const ConvertSettings& settings, uint16_t formatCode) : settings_(settings), formatCode_(formatCode) {}

    int RateHint() override {
        return settings_.AutoDestWMAEncodingParam != 0 ? 44100 : settings_.WMASampleRate;
    }

    bool Begin(AudioDecoder& decoder, const std::string& source, const std::string& target, ConvertContext& context,
               StreamPlan& plan) override {
        const int sourceRate = decoder.GetSampleRate();
        const int sourceChannels = decoder.GetOutputChannels() == 2 ? 2 : 1;
        const int sourceBits = decoder.GetBitsPerSample() == 8 ? 8 : 16;
        if (sourceRate <= 0) return false;

        int channels = sourceChannels;
        WmaTarget wanted{};
        if (settings_.AutoDestWMAEncodingParam != 0) {
            wanted = AutoWmaTarget(sourceRate, sourceChannels);
        } else {
            wanted = {settings_.WMABitRate, settings_.WMASampleRate};
            channels = settings_.WMAChannels;
            if (channels < sourceChannels && settings_.MonoType > 0) plan.selectChannel = settings_.MonoType == 2 ? 2 : 1;
        }
        plan.rate = sourceRate;
        plan.bits = sourceBits;
        plan.channels = plan.selectChannel != 0 ? 1 : sourceChannels;
        plan.convert = false;
        bits_ = sourceBits;

        writer_.SetOutputPath(target);
        writer_.SetInputFormat(sourceRate, sourceBits, plan.channels);
        const WmaMediaType* mediaType = nullptr;
        uint32_t bitrate = 0;
        if (!FindWmaFormat(SharedWmaFormats(), wanted.rate, wanted.bitrate, channels, mediaType, bitrate))
            return false;
        writer_.SetFormat(mediaType, bitrate);

        const TagChoice tags = ChooseTags(settings_.WMAID3TagType, settings_.WMATag, decoder, formatCode_, source,
                                          context.runPosition, false);
        if (tags.haveValues) {
            const TagRecord& t = tags.values;
            writer_.SetTags(t.Title, t.Album, t.Artist, t.Genre, t.Year, t.Comment, t.Composer, t.Copyright,
                            TrackNumber(t.Track));
        }
        SetGain(plan, settings_.AmplifyWMA, settings_.AmplifyWMACoeff);
        return writer_.Start();
    }

    bool Write(const void* left, const void* right, int frames) override {
        if (bits_ == 8) return writer_.Encode8(static_cast<const uint8_t*>(left), static_cast<const uint8_t*>(right), frames);
        return writer_.Encode16(static_cast<const int16_t*>(left), static_cast<const int16_t*>(right), frames);
    }

    bool Finish() override { return writer_.Finish(); }

private:
    const ConvertSettings& settings_;
    uint16_t formatCode_;
    WmaWriter writer_;
    int bits_ = 16;
};

}  // namespace

int ConvertToWma(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context) {
    // Without the runtime nothing is opened, not even the source.
    if (!WmaRuntimeReady()) return 0;
    WmaStage stage(context.settings, formatCode);
    return RunFormatLoop(stage, formatCode, source, target, context);
}

}  // namespace pelloran
