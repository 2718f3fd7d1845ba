// The OGG Vorbis conversion loop.

#include "app/ConvertLoop.h"
#include "app/EncodingParams.h"
#include "decode/AudioDecoder.h"
#include "encode/OggWriter.h"

namespace pelloran {

namespace {

class OggStage : public FormatStage {
public:
    OggStage(const ConvertSettings& settings, uint16_t formatCode) : settings_(settings), formatCode_(formatCode) {}

    int RateHint() override {
        return (settings_.AutoDestOGGEncodingParam != 0 || settings_.OGGSampleRate < 1) ? 44100
                                                                                       : settings_.OGGSampleRate;
    }

    bool Begin(AudioDecoder& decoder, const std::string& source, const std::string& target, ConvertContext& context,
               StreamPlan& plan) override {
        if (!writer_.Open(target)) return false;
        const int sourceRate = decoder.GetSampleRate();
        const int sourceChannels = decoder.GetOutputChannels() == 2 ? 2 : 1;
        const int sourceBits = decoder.GetBitsPerSample() == 8 ? 8 : 16;
        if (sourceRate <= 0) return false;

        int bitrate = 0;
        plan.bits = 16;
        if (settings_.AutoDestOGGEncodingParam != 0) {
            const EncodingParams params = AutoEncodingParams(sourceRate, sourceChannels);
            plan.rate = params.rate;
            plan.channels = sourceChannels;
            bitrate = params.bitrateKbps;
        } else {
            plan.rate = NearestInTable(settings_.OGGSampleRate != 0 ? settings_.OGGSampleRate : sourceRate,
                                       kEncoderRateTable);
            plan.channels = settings_.OGGChannels == 1 || settings_.OGGChannels == 2 ? settings_.OGGChannels
                                                                                    : sourceChannels;
            bitrate = settings_.OGGBitRate;
            if (bitrate <= 0 && (formatCode_ == kInputMp3 || formatCode_ == kInputOgg))
                bitrate = decoder.GetBitrateKbps();
            // A source that tells no bit rate follows the rate table.
            if (bitrate <= 0) bitrate = AutoEncodingParams(plan.rate, plan.channels).bitrateKbps;
            bitrate = ClampOggBitrate(plan.rate, plan.channels, NearestInTable(bitrate, kOggBitrateTable));
            if (plan.channels < sourceChannels && (settings_.MonoType == 1 || settings_.MonoType == 2))
                plan.selectChannel = settings_.MonoType;
        }
        plan.convert = NeedsConversion(sourceRate, sourceChannels, sourceBits, plan.rate, plan.channels, plan.bits,
                                       settings_.MonoType);
        SetGain(plan, settings_.AmplifyOGG, settings_.AmplifyOGGCoeff);

        if (!writer_.Setup(plan.rate, plan.channels, bitrate * 1000)) return false;
        const TagChoice tags = ChooseTags(settings_.OGGID3TagType, settings_.OGGTag, decoder, formatCode_, source,
                                          context.runPosition, false);
        if (tags.haveValues) {
            const TagRecord& t = tags.values;
            writer_.AddComments(t.Title, t.Artist, t.Album, t.Year, t.Genre, t.Comment, t.Composer, t.Copyright,
                                t.Track);
        }
        return writer_.WriteHeaders();
    }

    bool Write(const void* left, const void* right, int frames) override {
        return writer_.Encode(static_cast<const int16_t*>(left), static_cast<const int16_t*>(right), frames);
    }

    // Ends the stream (also after Cancel) and closes the file.
    bool Finish() override {
        bool ended = true;
        if (writer_.HeadersWritten()) ended = writer_.Encode(nullptr, nullptr, 0);
        return writer_.Close() && ended;
    }

private:
    const ConvertSettings& settings_;
    const uint16_t formatCode_;
    OggWriter writer_;
};

}  // namespace

int ConvertToOgg(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context) {
    OggStage stage(context.settings, formatCode);
    return RunFormatLoop(stage, formatCode, source, target, context);
}

}  // namespace pelloran
