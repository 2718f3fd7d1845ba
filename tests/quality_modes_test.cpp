// The quality modes of MP3, Ogg Vorbis, AAC and Opus give the bit rates they promise, Opus files have the
// source's exact length, and the new settings refuse bad values when they are loaded.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "formats/SettingsTable.h"
#include "frontend/Wording.h"
#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

class Quality : public Hostile {
protected:
    std::string Convert(const std::string& source, const std::string& format, std::vector<std::string> args) {
        std::vector<std::string> all = {"-y", "-f", format, "-o", dir_ / "out"};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back(source);
        const CommandResult r = Cli(all);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        const std::string ext = format == "alac" ? "m4a" : format;
        return (std::filesystem::path(dir_ / "out") / std::filesystem::path(source).stem()).string() + "." + ext;
    }
};

double Probe(const std::string& path, const char* entry) {
    return std::atof(
        test::Run({"ffprobe", "-v", "error", "-show_entries", entry, "-of", "csv=p=0", path}).out.c_str());
}

// The whole file's bit rate: its size over its playing time (container and tags included).
double Kbps(const std::string& path) {
    const double seconds = Probe(path, "format=duration");
    return seconds > 0 ? static_cast<double>(std::filesystem::file_size(path)) * 8 / seconds / 1000 : 0;
}

TEST_F(Quality, EachModeGivesTheBitRateItPromises) {
    // Eight seconds of music-like sound: plucked chords over soft noise, repeatable.
    const std::string src = dir_ / "music.wav";
    ASSERT_EQ(test::Run({"sox", "-R", "-n", "-r", "44100", "-c", "2", "-b", "16", src, "synth", "8", "pluck", "C3",
                         "pluck", "E3", "pluck", "G3", "pluck", "C4", "pinknoise", "remix", "1,2,5v0.05",
                         "3,4,5v0.05", "tremolo", "3", "60"})
                  .exitCode,
              0);
    struct Case {
        const char* format;
        std::vector<std::string> args;
        double low, high;  // kbit/s
    };
    const Case cases[] = {
        {"mp3", {"-b", "192"}, 188, 198},  // CBR
        {"mp3", {"-s", "MP3EncodeMode=abr", "-b", "128"}, 105, 150},
        {"mp3", {"--quality", "0"}, 170, 260},
        {"mp3", {"--quality", "2"}, 115, 200},
        {"mp3", {"--quality", "9"}, 40, 80},
        {"ogg", {"--quality", "-1"}, 35, 60},
        {"ogg", {"--quality", "5"}, 90, 170},
        {"ogg", {"--quality", "10"}, 300, 520},
        {"m4a", {"--quality", "10"}, 15, 35},
        {"m4a", {"--quality", "100"}, 100, 150},
        {"m4a", {"--quality", "300"}, 170, 230},
        {"m4a", {"--quality", "500"}, 210, 280},
        {"opus", {}, 80, 140},                 // 128 kbit/s VBR for stereo
        {"opus", {"--channels", "1"}, 40, 75},  // 64 for mono
        {"opus", {"-b", "64", "-s", "OpusMode=cbr"}, 62, 70},
        {"opus", {"-b", "32", "-s", "OpusMode=cvbr"}, 28, 40},
        {"opus", {"-b", "256"}, 180, 290},
    };
    for (const Case& c : cases) {
        std::string label = c.format;
        for (const auto& a : c.args) label += " " + a;
        SCOPED_TRACE(label);
        const double kbps = Kbps(Convert(src, c.format, c.args));
        EXPECT_GE(kbps, c.low);
        EXPECT_LE(kbps, c.high);
    }
}

TEST_F(Quality, Mp3VbrHasTheLengthInItsFirstFrame) {
    const std::string src = Sine("tone.wav", 44100, 2, 3.0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--quality", "4"}, {"-s", "MP3EncodeMode=abr"}, {"-b", "128"}}) {
        SCOPED_TRACE(args.front() + " " + args.back());
        const std::string out = Convert(src, "mp3", args);
        const std::vector<uint8_t> b = ReadBytes(out);
        const std::string head(b.begin(), b.begin() + std::min<size_t>(b.size(), 256));
        EXPECT_TRUE(head.find("Xing") != std::string::npos || head.find("Info") != std::string::npos);
        EXPECT_NE(head.find("LAME"), std::string::npos);
        // Players take the length from it: the decoders' sample count is the source's.
        const std::string decoded = dir_ / "decoded.wav";
        ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-y", "-i", out, decoded}).exitCode, 0);
        EXPECT_EQ(DecodeWithSndfile(decoded).samples.size(), 3u * 44100 * 2);
    }
    // Asked not to, a CBR file starts with audio.
    const std::vector<uint8_t> plain = ReadBytes(Convert(src, "mp3", {"-b", "128", "-s", "MP3WriteInfoTag=0"}));
    EXPECT_EQ(std::string(plain.begin(), plain.begin() + 256).find("Info"), std::string::npos);
}

TEST_F(Quality, OpusDecodesToTheSourcesLengthAt48kHz) {
    struct Case {
        int rate, channels;
        double seconds;
    };
    for (const Case c : {Case{44100, 2, 1.2345}, Case{48000, 1, 0.5}, Case{22050, 2, 2.01}, Case{96000, 1, 0.7},
                         Case{8000, 1, 0.33}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channels");
        const std::string src = Sine("s" + std::to_string(c.rate) + ".wav", c.rate, c.channels, c.seconds);
        const std::string out = Convert(src, "opus", {});
        const auto frames = static_cast<int64_t>(DecodeWithSndfile(src).samples.size() / c.channels);
        // FFmpeg honours the pre-skip at the start and the last page's granule position at the end.
        const std::string raw =
            test::Run({"ffmpeg", "-v", "error", "-i", out, "-f", "s16le", "-ac", "1", "-"}).out;
        const auto expected = static_cast<int64_t>(std::ceil(frames * 48000.0 / c.rate));
        EXPECT_EQ(static_cast<int64_t>(raw.size() / 2), expected);
        EXPECT_EQ(Probe(out, "stream=sample_rate"), 48000);
    }
}

TEST(QualitySettings, BadValuesAreRefusedAtLoad) {
    struct Case {
        const char* name;
        int32_t bad;
        NumberRef member;
    };
    const Case cases[] = {
        {"FLACCompression", 9, In<&ConvertSettings::flac, &FlacSettings::compression>},
        {"FLACBitsPerSample", 20, In<&ConvertSettings::flac, &FlacSettings::bits>},
        {"FLACChannels", 6, In<&ConvertSettings::flac, &FlacSettings::channels>},
        {"OpusBitRate", 5, In<&ConvertSettings::opus, &OpusSettings::bitRate>},
        {"OpusBitRate", 511, In<&ConvertSettings::opus, &OpusSettings::bitRate>},
        {"OpusMode", 3, In<&ConvertSettings::opus, &OpusSettings::mode>},
        {"OpusComplexity", 11, In<&ConvertSettings::opus, &OpusSettings::complexity>},
        {"MP3EncodeMode", 3, In<&ConvertSettings::mp3, &Mp3Settings::mode>},
        {"MP3VbrQuality", 10, In<&ConvertSettings::mp3, &Mp3Settings::quality>},
        {"MP3WriteInfoTag", 2, In<&ConvertSettings::mp3, &Mp3Settings::infoTag>},
        {"OGGEncodeMode", 2, In<&ConvertSettings::ogg, &FormatSettings::mode>},
        {"OGGQuality", -2, In<&ConvertSettings::ogg, &FormatSettings::quality>},
        {"OGGQuality", 11, In<&ConvertSettings::ogg, &FormatSettings::quality>},
        {"AACMpegVersion", 2, In<&ConvertSettings::aac, &AacFormatSettings::mpegVersion>},
        {"M4ACodec", 2, In<&ConvertSettings::m4a, &AacFormatSettings::codec>},
        {"WAVBitsPerSample", 20, In<&ConvertSettings::wav, &FormatSettings::bits>},
        {"OutputFormat", 3300, Field<&ConvertSettings::OutputFormat>},
    };
    ConvertSettings defaults;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryStore store;
        store.Parse("[" + std::string(kOptionsKey) + "]\n" + c.name + "=" + std::to_string(c.bad) + "\n");
        ConvertSettings s;
        LoadSettings(s, store);
        EXPECT_EQ(c.member(s), c.member(defaults));
        std::string error;
        EXPECT_FALSE(SetSettingByName(s, c.name, std::to_string(c.bad), error));
    }
    // Good values and names load.
    RegistryStore store;
    store.Parse("[" + std::string(kOptionsKey) + "]\nWAVBitsPerSample=24\nOutputFormat=6550\n");
    ConvertSettings s;
    LoadSettings(s, store);
    EXPECT_EQ(s.wav.bits, 24);
    EXPECT_EQ(s.OutputFormat, kOutputAlac);
    std::string error;
    for (const auto& [name, value] : {std::pair{"OpusMode", "cvbr"}, {"MP3EncodeMode", "abr"}, {"M4ACodec", "alac"},
                                      {"OGGEncodeMode", "quality"}, {"WAVBitsPerSample", "source"}})
        EXPECT_TRUE(SetSettingByName(s, name, value, error)) << name << ": " << error;
    EXPECT_EQ(s.opus.mode, 1);
    EXPECT_EQ(s.mp3.mode, 2);
    EXPECT_EQ(s.wav.bits, 0);
}

// -b, --rate, --channels and --quality of the new formats and modes: what they set, and which leave the
// automatic parameters on.
TEST(QualitySettings, FormatControlsSetTheirOptions) {
    struct Case {
        int32_t format;
        std::vector<std::pair<const char*, const char*>> before;  // -s NAME=VALUE first
        FormatControl control;
        int32_t value;
        std::vector<std::pair<const char*, int32_t>> after;  // option values then; empty: refused
    };
    const Case cases[] = {
        {kOutputMp3, {}, FormatControl::Quality, 0,
         {{"MP3EncodeMode", 1}, {"MP3VbrQuality", 0}, {"AutoDestMP3EncodingParam", 1}}},
        {kOutputMp3, {{"MP3EncodeMode", "abr"}}, FormatControl::BitRate, 192,
         {{"MP3EncodeMode", 2}, {"MP3BitRate", 192}, {"AutoDestMP3EncodingParam", 0}}},
        {kOutputMp3, {{"MP3EncodeMode", "vbr"}}, FormatControl::BitRate, 192, {{"MP3EncodeMode", 0}}},
        {kOutputOgg, {}, FormatControl::Quality, -1,
         {{"OGGEncodeMode", 1}, {"OGGQuality", -1}, {"AutoDestOGGEncodingParam", 1}}},
        {kOutputOpus, {}, FormatControl::Channels, 1, {{"OpusChannels", 1}, {"AutoDestOpusEncodingParam", 1}}},
        {kOutputOpus, {}, FormatControl::BitRate, 96, {{"OpusBitRate", 96}, {"AutoDestOpusEncodingParam", 0}}},
        {kOutputOpus, {}, FormatControl::BitRate, 600, {}},
        {kOutputOpus, {}, FormatControl::Rate, 48000, {}},
        {kOutputFlac, {}, FormatControl::Quality, 8, {{"FLACCompression", 8}}},
        {kOutputFlac, {}, FormatControl::Rate, 48000, {{"FLACSampleRate", 48000}}},
        {kOutputFlac, {}, FormatControl::Channels, 1, {{"FLACChannels", 1}}},
        {kOutputFlac, {}, FormatControl::BitRate, 500, {}},
    };
    for (const Case& c : cases) {
        ConvertSettings s;
        s.OutputFormat = c.format;
        std::string error;
        for (const auto& [name, value] : c.before) ASSERT_TRUE(SetSettingByName(s, name, value, error));
        SCOPED_TRACE(OutputFormatName(c.format) + " " + std::to_string(static_cast<int>(c.control)) + " " +
                     std::to_string(c.value));
        EXPECT_EQ(ApplyFormatControl(s, c.control, c.value, error), !c.after.empty()) << error;
        for (const auto& [name, value] : c.after) {
            const auto described = DescribeSettings(s);
            const auto it = std::find_if(described.begin(), described.end(),
                                         [&](const SettingInfo& info) { return info.name == name; });
            ASSERT_NE(it, described.end());
            EXPECT_EQ(it->currentValue, std::to_string(value)) << name;
        }
    }
}

}  // namespace
}  // namespace pelloran::test
