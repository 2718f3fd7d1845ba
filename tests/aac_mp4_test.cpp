#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "encode/AacWriter.h"
#include "encode/Mp4Writer.h"
#include "platform/aac.h"
#include "platform/mp4_write.h"
#include "tests/encoder_fixtures.h"

namespace pelloran {
namespace {

using test::ReadBytes;
using test::TempDir;

std::vector<int16_t> SineBlock(int frames, int offset, double amplitude = 12000) {
    std::vector<int16_t> s(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        s[static_cast<size_t>(i)] = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * 440.0 * (offset + i) / 44100));
    return s;
}

// Records how the frame buffering calls the encoder.
struct Recording {
    std::vector<int> passed;    // frames of each encoder call
    std::vector<size_t> returned;  // bytes each call gave back

    AacFrameStream::Sink Sink() {
        return [this](int frames, const std::vector<uint8_t>& frame) {
            passed.push_back(frames);
            returned.push_back(frame.size());
            return true;
        };
    }
};

struct AdtsFrame {
    unsigned id, layer, protectionAbsent, profile, rateIndex, channels;
    size_t length;
};

// Walks the ADTS frames of a file; false when a header is broken or the chain does not end at the file's end.
bool ParseAdts(const std::vector<uint8_t>& b, std::vector<AdtsFrame>& frames) {
    size_t at = 0;
    while (at < b.size()) {
        if (at + 7 > b.size() || b[at] != 0xFF || (b[at + 1] & 0xF0) != 0xF0) return false;
        AdtsFrame f;
        f.id = (b[at + 1] >> 3) & 1;
        f.layer = (b[at + 1] >> 1) & 3;
        f.protectionAbsent = b[at + 1] & 1;
        f.profile = b[at + 2] >> 6;
        f.rateIndex = (b[at + 2] >> 2) & 0xF;
        f.channels = ((b[at + 2] & 1) << 2) | (b[at + 3] >> 6);
        f.length = (static_cast<size_t>(b[at + 3] & 3) << 11) | (static_cast<size_t>(b[at + 4]) << 3) | (b[at + 5] >> 5);
        if (f.length < 7) return false;
        frames.push_back(f);
        at += f.length;
    }
    return at == b.size();
}

TEST(AacEncoder, RefusesWhatAacCannotStoreAndTakesOneFrameACall) {
    AacEncoder encoder;
    for (const auto& [rate, channels] : {std::pair{11000, 1}, std::pair{44100, 4}, std::pair{44100, 7}, std::pair{44100, 0}})
        EXPECT_FALSE(encoder.Open(rate, channels, {})) << rate << " " << channels;
    ASSERT_TRUE(encoder.Open(8000, 1, {}));
    ASSERT_TRUE(encoder.Open(48000, 6, {}));  // 5.1
    ASSERT_TRUE(encoder.Open(44100, 2, {}));
    EXPECT_GE(encoder.MaxFrameBytes(), 2u * 768u + 7u);
    const std::vector<uint8_t>& config = encoder.DecoderConfig();
    ASSERT_GE(config.size(), 2u);
    EXPECT_EQ(config[0] >> 3, 2);  // low complexity
    EXPECT_EQ(AudioSpecificConfigChannels(config.data(), config.size()), 2);

    std::vector<int16_t> samples(2 * 2 * AacEncoder::kFrameLength, 0);
    std::vector<uint8_t> out;
    EXPECT_TRUE(encoder.Encode(samples.data(), AacEncoder::kFrameLength, out));
    EXPECT_FALSE(encoder.Encode(samples.data(), 2 * AacEncoder::kFrameLength, out));  // more than one frame
}

TEST(AacOptions, PageRulesReachTheEncoderSettings) {
    AacOptions abr;
    abr.abrKbps = 128;
    abr.tns = true;
    abr.midside = false;
    abr.mpeg2 = true;
    AacEncoderSettings adts = AacSettings(abr, true);
    EXPECT_EQ(adts.bitRate, 128000);  // the whole stream's
    EXPECT_TRUE(adts.tns);
    EXPECT_FALSE(adts.midside);
    EXPECT_TRUE(adts.mpeg2);
    EXPECT_FALSE(AacSettings(abr, false).mpeg2);  // raw frames carry no version
    EXPECT_EQ(AacSettings(AacOptions{}, true).bitRate, 0);  // quality mode

    EXPECT_EQ(NearestAacRate(44100), 44100);
    EXPECT_EQ(NearestAacRate(11000), 11025);
    EXPECT_EQ(NearestAacRate(192000), 96000);
    EXPECT_EQ(NearestAacRate(46050), 48000);  // a tie takes the higher rate
    EXPECT_EQ(NearestAacRate(1000), 7350);
}

TEST(AacFrameStream, EveryEncoderCallGetsOneWholeFrameAcrossBlocks) {
    Recording r;
    AacFrameStream s;
    ASSERT_TRUE(s.Open(44100, 2, {}, r.Sink()));
    const auto sine = SineBlock(1152, 0);
    const std::vector<int32_t> wide(sine.begin(), sine.end());
    const int32_t* block[2] = {wide.data(), wide.data()};
    ASSERT_TRUE(s.Write(block, 1152, 16));
    EXPECT_EQ(r.passed, std::vector<int>{1024});  // one call, 128 wait
    ASSERT_TRUE(s.Write(block, 1152, 16));
    EXPECT_EQ(r.passed, (std::vector<int>{1024, 1024}));  // 1280: one more call, 256 wait
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(s.Write(block, 1152, 16));
    // 11520 frames: eleven whole calls, 256 left.
    ASSERT_EQ(r.passed.size(), 11u);
    for (int n : r.passed) EXPECT_EQ(n, 1024);

    ASSERT_TRUE(s.Drain());
    ASSERT_GE(r.passed.size(), 13u);
    EXPECT_EQ(r.passed[11], 256);
    for (size_t i = 12; i < r.passed.size(); ++i) EXPECT_EQ(r.passed[i], 0);
    EXPECT_EQ(r.returned.back(), 0u);  // draining stops at the first empty answer
    int frames = 0;
    for (size_t n : r.returned) frames += n > 0 ? 1 : 0;
    EXPECT_GE(frames, 12);  // every input frame came out
}

TEST(AacFrameStream, SourceShorterThanOneFrameStillGivesAudio) {
    Recording r;
    AacFrameStream s;
    ASSERT_TRUE(s.Open(44100, 2, {}, r.Sink()));
    const auto sine = SineBlock(100, 0);
    const std::vector<int32_t> wide(sine.begin(), sine.end());
    const int32_t* block[2] = {wide.data(), wide.data()};
    ASSERT_TRUE(s.Write(block, 100, 16));
    EXPECT_TRUE(r.passed.empty());
    ASSERT_TRUE(s.Drain());
    ASSERT_FALSE(r.passed.empty());
    EXPECT_EQ(r.passed[0], 100);  // the partial buffer in one call
    int frames = 0;
    for (size_t n : r.returned) frames += n > 0 ? 1 : 0;
    EXPECT_GE(frames, 1);
}

TEST(AacWriter, WritesAdtsFramesWithTheChosenMpegVersion) {
    TempDir dir;
    for (unsigned version : {0u, 1u}) {  // MPEG-4, MPEG-2
        const std::string path = dir / ("v" + std::to_string(version) + ".aac");
        {
            AacOptions options;
            options.mpeg2 = version == 1;
            AacWriter w(options);
            ASSERT_TRUE(w.Open(path, {44100, 2, 16}, {}));
            for (int i = 0; i < 40; ++i) {
                const auto block = SineBlock(1152, i * 1152);
                ASSERT_TRUE(test::WriteSixteen(w, block.data(), block.data(), 1152));
            }
            ASSERT_TRUE(w.Finish());
        }
        std::vector<AdtsFrame> frames;
        ASSERT_TRUE(ParseAdts(ReadBytes(path), frames));
        ASSERT_GE(frames.size(), 45u);  // 46080 frames of input plus the delay
        for (const AdtsFrame& f : frames) {
            EXPECT_EQ(f.id, version);
            EXPECT_EQ(f.layer, 0u);
            EXPECT_EQ(f.protectionAbsent, 1u);
            EXPECT_EQ(f.profile, 1u);   // low complexity
            EXPECT_EQ(f.rateIndex, 4u);  // 44100
            EXPECT_EQ(f.channels, 2u);
        }
        const auto p = test::ProbeAudio(path);
        EXPECT_EQ(p.at("codec_name"), "aac");
        EXPECT_EQ(p.at("sample_rate"), "44100");
        EXPECT_EQ(p.at("channels"), "2");
        const auto audio = test::DecodeWithFfmpeg(path, dir / "d.wav");
        const size_t decoded = audio.samples.size() / 2;
        EXPECT_GE(decoded, 46080u);
        EXPECT_LE(decoded, 46080u + 2048u);
    }
}

TEST(AacWriter, EightBitBlocksAreWidenedAndWriteErrorsFail) {
    TempDir dir;
    const std::string path = dir / "u8.aac";
    {
        AacWriter w;
        ASSERT_TRUE(w.Open(path, {8000, 1, 8}, {}));
        std::vector<uint8_t> block(1152);
        for (int i = 0; i < 8; ++i) {
            for (int j = 0; j < 1152; ++j)
                block[static_cast<size_t>(j)] =
                    static_cast<uint8_t>(128 + 100 * std::sin(2 * M_PI * 440.0 * (i * 1152 + j) / 8000));
            ASSERT_TRUE(test::WriteEight(w, block.data(), nullptr, 1152));
        }
        ASSERT_TRUE(w.Finish());
    }
    const auto audio = test::DecodeWithFfmpeg(path, dir / "d.wav");
    EXPECT_EQ(audio.rate, 8000);
    EXPECT_GT(test::Rms(audio, 0, 0.2, 1.0), 0.5 * 100 * 256 / std::sqrt(2.0));

    AacWriter full;
    ASSERT_TRUE(full.Open("/dev/full", {44100, 2, 16}, {}));
    bool ok = true;
    const auto block = SineBlock(1152, 0);
    for (int i = 0; i < 400 && ok; ++i) ok = test::WriteSixteen(full, block.data(), block.data(), 1152);
    EXPECT_FALSE(ok && full.Finish());
}

TEST(Mp4Writer, FirstSampleCarriesTheDelayAndDurationsMatchTheInput) {
    TempDir dir;
    const std::string path = dir / "a.m4a";
    // Half a second of silence, then half a second of tone: the decoded file must keep that timing.
    Mp4Writer w;
    ASSERT_TRUE(w.Open(path, {44100, 2, 16}, {}));
    for (int done = 0; done < 44100;) {
        const int n = std::min(1152, 44100 - done);
        auto block = SineBlock(n, done);
        for (int i = 0; i < n; ++i)
            if (done + i < 22050) block[static_cast<size_t>(i)] = 0;
        ASSERT_TRUE(test::WriteSixteen(w, block.data(), block.data(), n));
        done += n;
    }
    ASSERT_TRUE(w.Finish());
    EXPECT_EQ(w.EncodedSamples(), 44100u);
    // The durations add up to the input plus the one frame of delay that the edit list skips.
    EXPECT_EQ(w.WrittenDuration(), 44100u + 1024u);

    const auto p = test::ProbeAudio(path);
    EXPECT_EQ(p.at("codec_name"), "aac");
    EXPECT_EQ(p.at("sample_rate"), "44100");
    EXPECT_EQ(p.at("channels"), "2");
    EXPECT_NEAR(test::Number(p, "duration"), 1.0, 1.0 / 44100);
    const auto audio = test::DecodeWithFfmpeg(path, dir / "d.wav");
    EXPECT_LT(test::Rms(audio, 0, 0.02, 0.48), 30.0);
    EXPECT_GT(test::Rms(audio, 0, 0.52, 0.98), 7000.0);
}

TEST(Mp4Writer, MetadataSkipsEmptyTextsAndTrackZero) {
    TempDir dir;
    const std::string path = dir / "t.m4a";
    {
        Mp4Writer w;
        const TagRecord tags{"Caf\xC3\xA9", "Artist", "Album", "1999", "", "Note", "0", "Writer", "(c) Someone", {}, {}};
        ASSERT_TRUE(w.Open(path, {44100, 1, 16}, tags));
        const auto block = SineBlock(1152, 0);
        ASSERT_TRUE(test::WriteSixteen(w, block.data(), nullptr, 1152));
        ASSERT_TRUE(w.Finish());
    }
    const auto p = test::ProbeAudio(path);
    EXPECT_EQ(p.at("TAG:title"), "Caf\xC3\xA9");
    EXPECT_EQ(p.at("TAG:artist"), "Artist");
    EXPECT_EQ(p.at("TAG:album"), "Album");
    EXPECT_EQ(p.at("TAG:date"), "1999");
    EXPECT_EQ(p.at("TAG:comment"), "Note");
    EXPECT_EQ(p.at("TAG:composer"), "Writer");
    EXPECT_EQ(p.count("TAG:genre"), 0u);
    EXPECT_EQ(p.count("TAG:track"), 0u);
    EXPECT_EQ(p.at("TAG:copyright"), "(c) Someone");  // cprt
}

TEST(Mp4Writer, UncreatableFileFailsOpenAndFullDiskFailsClose) {
    Mp4Writer w;
    EXPECT_FALSE(w.Open("/nonexistent-folder/x.m4a", {44100, 2, 16}, {}));
    EXPECT_FALSE(w.Finish());

    ASSERT_TRUE(w.Open("/dev/full", {44100, 2, 16}, {}));
    bool ok = true;
    const auto block = SineBlock(1152, 0);
    for (int i = 0; i < 400 && ok; ++i) ok = test::WriteSixteen(w, block.data(), block.data(), 1152);
    EXPECT_FALSE(ok && w.Finish());
}

class AacMp4Cli : public test::CliFixture {};

TEST_F(AacMp4Cli, AacFollowsTheSourceAndTheUserOptions) {
    const std::string src = Sine("s.wav", 44100, 2, 2.0);
    ASSERT_EQ(Cli("aac", {src}).exitCode, 0);
    const auto p = test::ProbeAudio(Out("s.aac"));
    EXPECT_EQ(p.at("codec_name"), "aac");
    EXPECT_EQ(p.at("sample_rate"), "44100");
    EXPECT_EQ(p.at("channels"), "2");
    const auto audio = test::DecodeWithFfmpeg(Out("s.aac"), dir_ / "d.wav");
    EXPECT_GE(audio.samples.size() / 2, 88200u);
    EXPECT_LE(audio.samples.size() / 2, 88200u + 2048u);  // one frame plus the encoder delay
    const auto automatic = ReadBytes(Out("s.aac"));

    // Quality 600 is outside 10..500: refused before anything is written.
    ASSERT_EQ(Cli("aac", {"-s", "AutoDestAACEncodingParam=0", "-s", "AACVBRQuality=600", "-s",
                          "TargetExistsOpt=22", src})
                  .exitCode,
              2);
    EXPECT_EQ(ReadBytes(Out("s.aac")), automatic);

    // Average bit rate 64 kbit/s: 32000 per channel, about 64000 for the file; MPEG-2 marks the headers.
    ASSERT_EQ(Cli("aac", {"-s", "AutoDestAACEncodingParam=0", "-s", "AACVBR=0", "-s", "AACABRBitRate=64", "-s",
                          "AACMpegVersion=1", "-s", "TargetExistsOpt=22", src})
                  .exitCode,
              0);
    const auto abr = ReadBytes(Out("s.aac"));
    const double kbps = abr.size() * 8.0 / 2.0 / 1000.0;
    EXPECT_GT(kbps, 45.0);
    EXPECT_LT(kbps, 85.0);
    std::vector<AdtsFrame> frames;
    ASSERT_TRUE(ParseAdts(abr, frames));
    EXPECT_EQ(frames.front().id, 1u);
}

TEST_F(AacMp4Cli, SameEncoderSettingsGiveFfmpegsOwnAdtsStream) {
    // The layer's configuration and ADTS headers against ffmpeg's AAC encoder and ADTS muxer.
    const std::string src = Sine("s.wav", 44100, 2, 3.0);
    ASSERT_EQ(Cli("aac", {"-s", "AutoDestAACEncodingParam=0", "-s", "AACVBR=0", "-s", "AACABRBitRate=128", src})
                  .exitCode,
              0);
    const std::string peer = dir_ / "peer.aac";
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-y", "-i", src, "-c:a", "aac", "-b:a", "128k", "-aac_tns", "0",
                         peer})
                  .exitCode,
              0);
    EXPECT_EQ(ReadBytes(Out("s.aac")), ReadBytes(peer));
}

TEST_F(AacMp4Cli, RatesAacCannotStoreAreResampled) {
    const std::string src = Sine("odd.wav", 11000, 1, 1.0);
    ASSERT_EQ(Cli("m4a", {src}).exitCode, 0);
    const auto p = test::ProbeAudio(Out("odd.m4a"));
    EXPECT_EQ(p.at("sample_rate"), "11025");
    EXPECT_EQ(p.at("channels"), "1");
    EXPECT_NEAR(test::Number(p, "duration"), 1.0, 0.01);
}

TEST_F(AacMp4Cli, TheThreeExtensionsGiveTheSameFileWithTags) {
    const std::string src = Sine("my.song.wav", 22050, 1, 1.0, 8);
    const std::vector<std::string> tags = {"-s", "M4AID3TagType=0", "-s", "M4ATag.Artist=Someone", "-s",
                                           "M4ATag.Genre=Jazz", "-s", "M4ATag.TrackNumType=2", "-s",
                                           "M4ATag.CustomTrackNum=5", "-s", "M4ATag.Copyright=(c) X", src};
    for (const char* format : {"m4a", "mp4", "m4b"}) ASSERT_EQ(Cli(format, tags).exitCode, 0) << format;
    const auto m4a = ReadBytes(Out("my.song.m4a"));
    EXPECT_EQ(ReadBytes(Out("my.song.mp4")), m4a);
    EXPECT_EQ(ReadBytes(Out("my.song.m4b")), m4a);

    const auto p = test::ProbeAudio(Out("my.song.m4b"));
    EXPECT_EQ(p.at("sample_rate"), "22050");
    EXPECT_NEAR(test::Number(p, "duration"), 1.0, 1.0 / 22050);
    EXPECT_EQ(p.at("TAG:title"), "my.song");
    EXPECT_EQ(p.at("TAG:artist"), "Someone");
    EXPECT_EQ(p.at("TAG:genre"), "Jazz");
    EXPECT_EQ(p.at("TAG:track"), "5");
    EXPECT_EQ(p.at("TAG:copyright"), "(c) X");
}

}  // namespace
}  // namespace pelloran
