// The MP4 conversion loop (m4a, mp4 and m4b): AAC in an MPEG-4 file, with the M4A tag options.

#include "app/ConvertLoop.h"
#include "app/EncodingParams.h"
#include "decode/AudioDecoder.h"
#include "encode/Mp4Writer.h"

namespace pelloran {

namespace {

class Mp4Stage : public FormatStage {
public:
    Mp4Stage(const ConvertSettings& settings, uint16_t formatCode) : settings_(settings), formatCode_(formatCode) {}

    int RateHint() override { return 44100; }

    bool Begin(AudioDecoder& decoder, const std::string& source, const std::string& target, ConvertContext& context,
               StreamPlan& plan) override {
        const int sourceRate = decoder.GetSampleRate();
        if (sourceRate <= 0) return false;
        plan.channels = decoder.GetOutputChannels() == 2 ? 2 : 1;
        plan.bits = decoder.GetBitsPerSample() == 8 ? 8 : 16;
        // Rates AAC cannot store are resampled to the nearest one it can.
        plan.rate = NearestAacRate(sourceRate);
        plan.convert = plan.rate != sourceRate;
        SetGain(plan, settings_.AmplifyM4A, settings_.AmplifyM4ACoef);
        bits_ = plan.bits;
        if (!writer_.Open(target, plan.rate, plan.channels, plan.bits)) return false;
        if (settings_.AutoDestM4AEncodingParam == 0) {
            ApplyFaacOptions(*writer_.Config(), settings_.M4AVBR, settings_.M4AVBRQuality, settings_.M4AABRBitRate,
                             settings_.M4AEnableTNS, settings_.M4AEnableMidside, settings_.M4ABlockType,
                             plan.channels);
        }
        if (!writer_.Start()) return false;

        const TagChoice tags = ChooseTags(settings_.M4AID3TagType, settings_.M4ATag, decoder, formatCode_, source,
                                          context.runPosition, false);
        if (tags.haveValues) {
            const TagRecord& t = tags.values;
            writer_.SetMetadata(t.Title, t.Artist, t.Album, t.Genre, t.Year, t.Comment, t.Composer, t.Copyright,
                                TrackNumber(t.Track));
        }
        return true;
    }

    bool Write(const void* left, const void* right, int frames) override {
        if (bits_ == 8) return writer_.Encode8(static_cast<const uint8_t*>(left), static_cast<const uint8_t*>(right), frames);
        return writer_.Encode16(static_cast<const int16_t*>(left), static_cast<const int16_t*>(right), frames);
    }

    bool Finish() override { return writer_.Close(); }

private:
    const ConvertSettings& settings_;
    uint16_t formatCode_;
    Mp4Writer writer_;
    int bits_ = 16;
};

}  // namespace

int ConvertToMp4(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context) {
    Mp4Stage stage(context.settings, formatCode);
    return RunFormatLoop(stage, formatCode, source, target, context);
}

}  // namespace pelloran
