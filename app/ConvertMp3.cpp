// The MP3 conversion loop: LAME resamples and downmixes itself, so only 8-bit sources are converted.

#include <algorithm>

#include "app/ConvertLoop.h"
#include "app/EncodingParams.h"
#include "decode/AudioDecoder.h"
#include "encode/Id3Tag.h"
#include "encode/Mp3Writer.h"

namespace pelloran {

namespace {

class Mp3Stage : public FormatStage {
public:
    Mp3Stage(const ConvertSettings& settings, uint16_t formatCode) : settings_(settings), formatCode_(formatCode) {}

    int RateHint() override {
        return (settings_.AutoDestMP3EncodingParam != 0 || settings_.MP3SampleRate < 1) ? 44100
                                                                                       : settings_.MP3SampleRate;
    }

    bool Begin(AudioDecoder& decoder, const std::string& source, const std::string& target, ConvertContext& context,
               StreamPlan& plan) override {
        if (!writer_.Open(target)) return false;
        const int sourceRate = decoder.GetSampleRate();
        const int sourceChannels = decoder.GetOutputChannels() == 2 ? 2 : 1;
        if (sourceRate <= 0) return false;

        // Tags go in before the encoder parameters.
        HandOverTags(decoder, source, context);

        writer_.SetInputRate(sourceRate);
        int encoderChannels = sourceChannels;
        int outputRate = 0;
        if (settings_.AutoDestMP3EncodingParam != 0) {
            writer_.SetChannels(sourceChannels);
            const EncodingParams params = AutoEncodingParams(sourceRate, sourceChannels);
            outputRate = params.rate;
            writer_.SetOutputRate(params.rate);
            writer_.SetBitRateKbps(params.bitrateKbps);
        } else {
            int mode = settings_.MP3ChannelMode;
            if (mode == 4) {
                const int sourceMode = decoder.GetChannelMode();
                // An MP3 source tells its own mode; a source without one follows its channel count.
                if (formatCode_ == kInputMp3 && sourceMode >= 0 && sourceMode <= 3) mode = sourceMode;
                else mode = sourceChannels == 2 ? 1 : 3;
            }
            const int outputChannels = mode == 3 ? 1 : 2;
            if (sourceChannels == 2 && mode == 3 && settings_.MonoType != 0) {
                encoderChannels = 1;
                plan.selectChannel = settings_.MonoType == 2 ? 2 : 1;
            }
            writer_.SetChannels(encoderChannels);
            writer_.SetMode(mode);

            outputRate =
                NearestInTable(settings_.MP3SampleRate != 0 ? settings_.MP3SampleRate : sourceRate, kEncoderRateTable);
            int bitrate = settings_.MP3BitRate;
            if (bitrate == 0) {
                if (formatCode_ == kInputMp3 || formatCode_ == kInputOgg)
                    bitrate = decoder.GetBitrateKbps();
                else
                    bitrate = AutoEncodingParams(outputRate, outputChannels).bitrateKbps;
            }
            if (bitrate > 0) {
                bitrate = NearestInTable(bitrate, kMp3BitrateTable);
                // What each MPEG version offers: 2.5 up to 64, 2 up to 160, 1 from 32.
                if (outputRate <= 12000) bitrate = std::min(bitrate, 64);
                else if (outputRate <= 24000) bitrate = std::min(bitrate, 160);
                else bitrate = std::max(bitrate, 32);
                writer_.SetBitRateKbps(bitrate);
            }
            writer_.SetOutputRate(outputRate);
        }

        // LAME sizes its output room by its input, so a steep rise in rate is made by the loop's converter.
        const bool raise = outputRate / 4 > sourceRate;
        if (raise) writer_.SetInputRate(outputRate);
        plan.rate = raise ? outputRate : sourceRate;
        plan.channels = encoderChannels;
        plan.bits = 16;
        plan.convert = raise || decoder.GetBitsPerSample() == 8;  // otherwise only widened to 16 bits
        SetGain(plan, settings_.AmplifyMp3, settings_.AmplifyMp3Coeff);
        return writer_.Start();
    }

    bool Write(const void* left, const void* right, int frames) override {
        return writer_.Encode(static_cast<const int16_t*>(left), static_cast<const int16_t*>(right), frames);
    }

    bool Finish() override { return writer_.Finish(); }

private:
    void HandOverTags(AudioDecoder& decoder, const std::string& source, ConvertContext& context) {
        TagChoice tags = ChooseTags(settings_.MP3ID3TagType, settings_.MP3Tag, decoder, formatCode_, source,
                                    context.runPosition, true);
        if (!tags.id3v1.empty()) writer_.SetId3v1Block(tags.id3v1.data());
        if (!tags.id3v2.empty()) writer_.SetId3v2Block(tags.id3v2.data(), tags.id3v2.size());
        if (!tags.haveValues) return;
        const TagRecord& t = tags.values;
        const auto track = static_cast<uint8_t>(TrackNumber(t.Track) & 0xFF);
        const int version = settings_.MP3WriteID3Version;
        const auto build = [&](int which) {
            return BuildId3Tag(which, t.Title, t.Artist, t.Album, t.Year, t.Comment, t.Genre, t.Composer,
                               t.Copyright, track, 0);
        };
        if (version == 0 || version == 2) {
            const std::vector<uint8_t> v1 = build(1);
            if (v1.size() == 128) writer_.SetId3v1Block(v1.data());
        }
        if (version == 1 || version == 2) {
            const std::vector<uint8_t> v2 = build(2);
            if (!v2.empty()) writer_.SetId3v2Block(v2.data(), v2.size());
        }
    }

    const ConvertSettings& settings_;
    const uint16_t formatCode_;
    Mp3Writer writer_;
};

}  // namespace

int ConvertToMp3(uint16_t formatCode, const std::string& source, const std::string& target, ConvertContext& context) {
    Mp3Stage stage(context.settings, formatCode);
    return RunFormatLoop(stage, formatCode, source, target, context);
}

}  // namespace pelloran
