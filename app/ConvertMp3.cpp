// The MP3 plan: LAME resamples and mixes itself, so the loop converts only 8-bit sources, picks one channel
// for a mono file, and makes a steep rise in rate.

#include <algorithm>

#include "app/ConvertLoop.h"
#include "app/EncodingParams.h"
#include "decode/AudioDecoder.h"
#include "encode/Mp3Writer.h"
#include "encode/PcmConverter.h"

namespace pelloran {

int Mp3RateHint(const ConvertSettings& s) {
    return (s.AutoDestMP3EncodingParam != 0 || s.MP3SampleRate < 1) ? 44100 : s.MP3SampleRate;
}

bool PlanMp3(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    const PcmFormat& source = in.source;
    Mp3Options options;
    int channels = source.channels;
    if (s.AutoDestMP3EncodingParam != 0) {
        const EncodingParams params = AutoEncodingParams(source.rate, source.channels);
        options.outputRate = params.rate;
        options.bitrateKbps = params.bitrateKbps;
    } else {
        int mode = s.MP3ChannelMode;
        if (mode == 4) {
            const int sourceMode = in.decoder.GetChannelMode();
            // An MP3 source tells its own mode; a source without one follows its channel count.
            if (in.formatCode == kInputMp3 && sourceMode >= 0 && sourceMode <= 3) mode = sourceMode;
            else mode = source.channels == 2 ? 1 : 3;
        }
        options.mode = mode == 1 ? Mp3Mode::JointStereo : mode == 3 ? Mp3Mode::Mono : Mp3Mode::Stereo;
        // A stereo source for a mono file: the encoder mixes, unless MonoType keeps one channel.
        const ChannelChoice choice = ChooseChannels(source.channels, mode == 3 ? 1 : 2, s.MonoType);
        if (choice == ChannelChoice::Left || choice == ChannelChoice::Right) channels = 1;

        options.outputRate = NearestInTable(s.MP3SampleRate != 0 ? s.MP3SampleRate : source.rate, kEncoderRateTable);
        int bitrate = s.MP3BitRate;
        if (bitrate == 0) {
            if (in.formatCode == kInputMp3 || in.formatCode == kInputOgg) bitrate = in.decoder.GetBitrateKbps();
            else bitrate = AutoEncodingParams(options.outputRate, mode == 3 ? 1 : 2).bitrateKbps;
        }
        if (bitrate > 0) {
            bitrate = NearestInTable(bitrate, kMp3BitrateTable);
            // What each MPEG version offers: 2.5 up to 64, 2 up to 160, 1 from 32.
            if (options.outputRate <= 12000) bitrate = std::min(bitrate, 64);
            else if (options.outputRate <= 24000) bitrate = std::min(bitrate, 160);
            else bitrate = std::max(bitrate, 32);
            options.bitrateKbps = bitrate;
        }
    }
    // The rate mode applies with or without the automatic parameters; ABR's mean is the bit rate above.
    options.rateMode = s.MP3EncodeMode == 1   ? Mp3RateMode::Vbr
                       : s.MP3EncodeMode == 2 ? Mp3RateMode::Abr
                                              : Mp3RateMode::Cbr;
    options.vbrQuality = s.MP3VbrQuality;
    options.infoFrame = s.MP3WriteInfoTag != 0;
    // LAME sizes its output room by its input, so a steep rise in rate is made by the loop's converter.
    const bool raise = options.outputRate / 4 > source.rate;
    plan.format = {raise ? options.outputRate : source.rate, channels, 16};

    TagChoice tags = ChooseTags(s.MP3ID3TagType, s.MP3Tag, in.decoder, in.formatCode, in.sourcePath,
                                in.runPosition, true, s.MP3CopyCover != 0);
    options.rawId3v1 = std::move(tags.id3v1);
    options.rawId3v2 = std::move(tags.id3v2);
    if (tags.haveValues) {
        const int version = s.MP3WriteID3Version;
        options.id3v1 = version == 0 || version == 2;
        options.id3v2 = version == 1 || version == 2;
        // In place of the source's own ID3v2 block, beside its own ID3v1 block.
        if (tags.renderId3v2) {
            options.id3v1 = false;
            options.id3v2 = true;
        }
        plan.tags = std::move(tags.values);
    }
    SetGain(plan, s.AmplifyMp3, s.AmplifyMp3Coeff);
    plan.writer = std::make_unique<Mp3Writer>(std::move(options));
    return true;
}

}  // namespace pelloran
