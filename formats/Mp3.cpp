// MP3: its options, and the plan. LAME resamples and mixes itself, so the loop converts only 8-bit sources,
// picks one channel for a mono file, and makes a steep rise in rate.

#include <algorithm>
#include <cstring>
#include <optional>

#include "decode/AudioDecoder.h"
#include "encode/Id3Tag.h"
#include "encode/Mp3Writer.h"
#include "encode/PcmConverter.h"
#include "formats/EncodingParams.h"
#include "formats/OutputFormat.h"
#include "platform/File.h"
#include "platform/MpegFrames.h"

namespace pelloran {

namespace {

using S = ConvertSettings;
using F = Mp3Settings;
template <auto Member>
constexpr NumberRef Mp3Field = In<&S::mp3, Member>;

int32_t CheckMp3ChannelMode(int32_t v) { return (v == 0 || v == 1 || v == 3 || v == 4) ? v : 1; }
constexpr int32_t kChannelModes[] = {0, 1, 3, 4};
constexpr CodeName kModeList[] = {{"stereo", 0}, {"joint", 1}, {"mono", 3}, {"source", 4}};
constexpr CodeName kId3VersionList[] = {{"v1", 0}, {"v2", 1}, {"both", 2}, {"v2.4", 3}};
constexpr CodeName kMp3EncodeList[] = {{"cbr", 0}, {"vbr", 1}, {"abr", 2}};
constexpr CodeNames kId3VersionNames = Named(kId3VersionList);
constexpr CodeNames kMp3EncodeNames = Named(kMp3EncodeList);

constexpr NumberRow kNumbers[] = {
    {"AutoDestMP3EncodingParam", Mp3Field<&F::automatic>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "MP3: bit rate, rate and channel mode follow the source"},
    {"MP3BitRate", Mp3Field<&F::bitRate>, kSaveOptionsGroup, CheckNone, Span(0, 320), kSourceNames,
     "MP3: kbit/s (0 follows the source)"},
    {"MP3SampleRate", Mp3Field<&F::rate>, kSaveOptionsGroup, CheckNone, Span(0, 48000), kSourceNames,
     "MP3: Hz (0 follows the source)"},
    {"MP3ChannelMode", Mp3Field<&F::channels>, kSaveOptionsGroup, CheckMp3ChannelMode, Codes(kChannelModes), Named(kModeList),
     "MP3: stereo, joint stereo, mono or as the source"},
    {"MP3ID3TagType", Mp3Field<&F::tagType>, kSaveOptionsGroup, CheckNone, kTagType, kTagTypeNames,
     "MP3 tags: custom (MP3Tag.*), from the source, none, or merge (the source's, custom fields on top)"},
    {"MP3WriteID3Version", Mp3Field<&F::id3Version>, kSaveOptionsGroup, CheckNone, Span(0, 3), kId3VersionNames,
     "MP3: ID3v1 only, ID3v2.3 only, both, or ID3v2.4 only (several values of a field kept apart)"},
    {"MP3EncodeMode", Mp3Field<&F::mode>, kSaveOptionsGroup, CheckNone, Span(0, 2), kMp3EncodeNames,
     "MP3: constant bit rate, VBR by quality (MP3VbrQuality) or average bit rate (MP3BitRate)"},
    {"MP3VbrQuality", Mp3Field<&F::quality>, kSaveOptionsGroup, CheckNone, Span(0, 9), kNoNames,
     "MP3: VBR quality V0 (best, about 245 kbit/s) to V9 (about 65); V2 is about 190"},
    {"MP3WriteInfoTag", Mp3Field<&F::infoTag>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "MP3: a Xing/LAME frame with the length and the encoder delay (always written for VBR and ABR)"},
    {"AmplifyMp3", Mp3Field<&F::amplify>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "MP3: amplify by AmplifyMp3Coeff"},
    {"AmplifyMp3Coeff", Mp3Field<&F::gain>, kSaveOptionsGroup, CheckCoeff, kGain, kNoNames,
     "MP3: gain in percent"},
    {"MP3CopyCover", Mp3Field<&F::copyCover>, kSaveOptionsGroup, CheckNone, kSwitch, kSwitchNames,
     "MP3: copy the source's cover art (APIC) with its tags"},
};

constexpr FormatControls kControls = {
    .automatic = "AutoDestMP3EncodingParam",
    .bitrate = "MP3BitRate",
    .rate = "MP3SampleRate",
    .channels = "MP3ChannelMode",
    .mono = 3,
    .stereo = 1,
    .quality = "MP3VbrQuality",
    .qualitySwitch = "MP3EncodeMode",
    .amplify = "AmplifyMp3",
    .gain = "AmplifyMp3Coeff",
    .tagType = "MP3ID3TagType",
    .copyCover = "MP3CopyCover",
    .keepsAuto = Keeps(FormatControl::Quality),
};

constexpr FormatOptions kOptions = {"MP3", kNumbers, {}, "MP3", TagsOf<&S::mp3>, kControls};

// The frames LAME writes for e frames of input without its tag: its delay of 576, then the flush pads to the
// frame grid, a whole frame more when less than 576 would remain.
uint64_t LameFrames(uint64_t e, int outputRate) {
    const uint64_t frame = outputRate >= 32000 ? 1152 : 576;  // MPEG-1, else MPEG-2 and 2.5
    const uint64_t delayed = e + 576;
    uint64_t padding = frame - delayed % frame;
    if (padding < 576) padding += frame;
    return delayed + padding;
}

// With the encoder's tag exactly E; without it one length for each source length, and a resampled one may be
// two frames off either way.
FrameSpan Mp3Length(const LengthFacts& f) {
    if (f.encoderTag) return Around(f, 0);
    if (!f.resampled) return {LameFrames(f.expected, f.outputRate), LameFrames(f.expected, f.outputRate)};
    return {LameFrames(f.expected > 2 ? f.expected - 2 : 0, f.outputRate), LameFrames(f.expected + 2, f.outputRate)};
}

bool OnlyId3v1(const ConvertSettings& s) { return s.mp3.id3Version == 0; }

int RateHint(const ConvertSettings& s) {
    return (s.mp3.automatic != 0 || s.mp3.rate < 1) ? 44100 : s.mp3.rate;
}

bool Plan(const PlanInput& in, WriterPlan& plan) {
    const ConvertSettings& s = in.settings;
    const PcmFormat source = LossyInput(in.source);
    Mp3Options options;
    int channels = source.channels;
    if (s.mp3.automatic != 0) {
        const EncodingParams params = AutoEncodingParams(source.rate, source.channels);
        options.outputRate = params.rate;
        options.bitrateKbps = params.bitrateKbps;
    } else {
        int mode = s.mp3.channels;
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

        options.outputRate = NearestInTable(s.mp3.rate != 0 ? s.mp3.rate : source.rate, kEncoderRateTable);
        int bitrate = s.mp3.bitRate;
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
    options.rateMode = s.mp3.mode == 1   ? Mp3RateMode::Vbr
                       : s.mp3.mode == 2 ? Mp3RateMode::Abr
                                         : Mp3RateMode::Cbr;
    options.vbrQuality = s.mp3.quality;
    options.infoFrame = s.mp3.infoTag != 0;
    // LAME sizes its output room by its input, so a steep rise in rate is made by the loop's converter.
    const bool raise = options.outputRate / 4 > source.rate;
    plan.format = {raise ? options.outputRate : source.rate, channels, 16};

    TagChoice tags = PlanTags(in, s.mp3, true);
    options.rawId3v1 = std::move(tags.id3v1);
    options.rawId3v2 = std::move(tags.id3v2);
    if (tags.haveValues) {
        const int version = s.mp3.id3Version;
        options.id3v1 = version == 0 || version == 2;
        options.id3v2 = version == 1 || version == 2;
        // In place of the source's own ID3v2 block, beside its own ID3v1 block.
        if (tags.renderId3v2) {
            options.id3v1 = false;
            options.id3v2 = version != 3;
        }
        // ID3v2.4 is rendered here and written as the writer writes a block it is given.
        if (version == 3) {
            options.rawId3v2 = BuildId3Tag(4, tags.values);
            options.id3v2 = false;
        }
        plan.tags = std::move(tags.values);
    }
    SetGain(plan, s.mp3);
    plan.writer = std::make_unique<Mp3Writer>(std::move(options));
    return true;
}

// True when an MP3 file's first frame is an Info/Xing frame with a LAME tag (encoder delay and padding).
bool HasLameInfoTag(const std::string& path) {
    File file;
    if (!file.Open(path, "rb")) return false;
    const std::optional<uint64_t> first = FindFirstMpegFrame(file);
    if (!first) return false;
    std::vector<uint8_t> bytes(4096);
    const int64_t got = file.ReadAt(static_cast<int64_t>(*first), bytes.data(), bytes.size());
    if (got < 64) return false;
    bytes.resize(static_cast<size_t>(got));
    const auto find = [&bytes](const char* word, size_t from, size_t within) -> size_t {
        const size_t end = std::min(bytes.size(), from + within);
        for (size_t i = from; i + 4 <= end; ++i) {
            if (std::memcmp(&bytes[i], word, 4) == 0) return i;
        }
        return std::string::npos;
    };
    size_t info = find("Info", 0, 64);
    if (info == std::string::npos) info = find("Xing", 0, 64);
    if (info == std::string::npos) return false;
    size_t lame = find("LAME", info, 200);
    if (lame == std::string::npos) lame = find("Lavc", info, 200);
    if (lame == std::string::npos || lame + 24 > bytes.size()) return false;
    // Twelve bits of delay and twelve of padding, 21 bytes into the encoder's tag.
    const uint32_t both = (bytes[lame + 21] << 16) | (bytes[lame + 22] << 8) | bytes[lame + 23];
    return both != 0;
}

}  // namespace

constinit const OutputFormatDescriptor kMp3Format = {
    .code = kOutputMp3,
    .name = "mp3",
    .extension = "mp3",
    .listRows = {{nullptr, 0}, {}},
    .lossless = false,
    .maxChannels = 2,
    .tags = true,
    .options = &kOptions,
    .id3v1Only = OnlyId3v1,
    .length = Mp3Length,
    .encoderTag = HasLameInfoTag,
    .rateHint = RateHint,
    .plan = Plan,
};

}  // namespace pelloran
