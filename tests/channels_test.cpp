// Channels and bits: a 5.1 FLAC with its own tone in each channel keeps all six in order in the lossless, Opus, Vorbis
// and AAC outputs, and mixes down to stereo for MP3 with the centre in both sides at -3 dB and the LFE left out (found
// again in ffmpeg's decode); a quiet 24-bit sine narrowed to 16 bits survives under dither, and 16-bit audio
// stays bit-exact; DSD (a DSF written here) becomes 176.4 kHz 24-bit FLAC and 48 kHz MP3 with its tones.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/encoder_fixtures.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

// Level of one frequency in channel `channel` of interleaved 16-bit samples (Goertzel), as an amplitude.
double ToneLevel(const std::vector<int16_t>& samples, int channels, int channel, double frequency, int rate) {
    const size_t frames = samples.size() / static_cast<size_t>(channels);
    const double w = 2 * M_PI * frequency / rate;
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double s0 = samples[i * static_cast<size_t>(channels) + static_cast<size_t>(channel)] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return 2 * std::sqrt(s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2) / static_cast<double>(frames);
}

// Tones of the six channels in FFmpeg's 5.1 order: L, R, C, LFE, Ls, Rs.
constexpr double kTones[6] = {300, 500, 700, 60, 1100, 1300};

class SurroundSource : public ::testing::Test {
protected:
    void SetUp() override {
        std::string expr;
        for (double f : kTones) expr += (expr.empty() ? "" : "|") + std::string("0.25*sin(2*PI*") + std::to_string(int(f)) + "*t)";
        const auto r = test::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "aevalsrc=" + expr + ":s=48000:d=2:c=5.1",
                                  "-c:a", "flac", dir / "six.flac"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    // The output of one format, decoded by ffmpeg to 16-bit WAV and read by libsndfile.
    test::SndfileAudio Convert(const std::string& format) {
        const auto r = test::Run({test::CliPath(), "-f", format, "--verify", "-o", dir / format, dir / "six.flac"});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        return test::DecodeWithFfmpeg((dir.path() / format / ("six." + format)).string(), dir / (format + ".wav"));
    }
    test::TempDir dir;
};

TEST_F(SurroundSource, OutputsOfManyChannelsKeepEveryChannelInOrder) {
    struct Case {
        const char* format;
        double tolerance;  // of each tone's level, in 16-bit steps
    };
    for (const Case c : {Case{"flac", 300}, Case{"wav", 300}, Case{"opus", 2000}, Case{"ogg", 2000}, Case{"m4a", 2000}}) {
        SCOPED_TRACE(c.format);
        const test::SndfileAudio audio = Convert(c.format);
        ASSERT_EQ(audio.channels, 6);
        for (int ch = 0; ch < 6; ++ch) {
            EXPECT_NEAR(ToneLevel(audio.samples, 6, ch, kTones[ch], audio.rate), 0.25 * 32767, c.tolerance) << ch;
            EXPECT_LT(ToneLevel(audio.samples, 6, ch, kTones[(ch + 1) % 6], audio.rate), c.tolerance / 4) << ch;
        }
    }
}

TEST_F(SurroundSource, StereoOutputsMixDownWithTheCentreAtMinus3dBInBothSides) {
    const test::SndfileAudio audio = Convert("mp3");
    ASSERT_EQ(audio.channels, 2);
    const double front = ToneLevel(audio.samples, 2, 0, kTones[0], audio.rate);
    ASSERT_GT(front, 1000);
    for (int side = 0; side < 2; ++side) {
        EXPECT_NEAR(20 * std::log10(ToneLevel(audio.samples, 2, side, kTones[2], audio.rate) / front), -3.0, 0.5) << side;
        EXPECT_LT(ToneLevel(audio.samples, 2, side, kTones[3], audio.rate), front / 100) << side;  // no LFE
    }
    // Each surround on its own side only, at -3 dB.
    EXPECT_NEAR(20 * std::log10(ToneLevel(audio.samples, 2, 0, kTones[4], audio.rate) / front), -3.0, 0.5);
    EXPECT_LT(ToneLevel(audio.samples, 2, 1, kTones[4], audio.rate), front / 100);
}

// A 24-bit sine at -100 dBFS is a third of a 16-bit step: rounded off it is gone (or a square), dithered it
// stays a sine in noise. A 16-bit source into 16 bits is never dithered.
TEST(Dither, QuietTwentyFourBitSineSurvivesSixteenBitsAndSixteenBitsStayExact) {
    test::TempDir dir;
    ASSERT_EQ(test::Run({"sox", "-n", "-b", "24", "-r", "48000", "-c", "1", dir / "quiet.flac", "synth", "2", "sine",
                         "1000", "gain", "-100"}).exitCode, 0);
    struct Case {
        const char* dither;
        bool sine;  // a sine in noise; else a square wave, its third harmonic a third of its fundamental
    };
    for (const Case c : {Case{"1", true}, Case{"0", false}}) {
        SCOPED_TRACE(c.dither);
        const std::string out = dir / (std::string("d") + c.dither);
        const auto r = test::Run({test::CliPath(), "-f", "wav", "-s", "AutoDestWAVEncodingParam=0", "-s",
                                  "WAVBitsPerSample=16", "-s", "WAVSampleRate=0", "-s", "WAVChannelNum=0", "-s",
                                  std::string("Dither=") + c.dither, "-o", out,
                                  dir / "quiet.flac"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const test::SndfileAudio audio = test::DecodeWithSndfile(out + "/quiet.wav");
        ASSERT_EQ(audio.samples.size(), 96000u);
        const double sine = ToneLevel(audio.samples, 1, 0, 1000, 48000);
        const double third = ToneLevel(audio.samples, 1, 0, 3000, 48000);
        if (c.sine) {
            EXPECT_NEAR(sine, 0.33, 0.08);  // -100 dBFS in 16-bit steps
            EXPECT_LT(third, sine / 10);
        } else {
            EXPECT_GT(third, sine / 5);
        }
    }
    // 16-bit into 16-bit: the samples as they were.
    ASSERT_EQ(test::Run({"sox", "-n", "-b", "16", "-r", "44100", "-c", "2", dir / "cd.wav", "synth", "1", "pluck",
                         "C4", "pinknoise", "gain", "-12"}).exitCode, 0);
    const auto r = test::Run({test::CliPath(), "-f", "flac", "-o", dir / "cd", dir / "cd.wav"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::DecodeWithSndfile(dir / "cd/cd.flac").samples, test::DecodeWithSndfile(dir / "cd.wav").samples);
}

// A DSF file of 0.3 s at DSD64 (or DSD128): a first-order sigma-delta modulation of 1 kHz left and 1.5 kHz right.
const char* kDsfScript = R"(import math, struct, sys
path, rate = sys.argv[1], int(sys.argv[2])
ch, block, n = 2, 4096, int(rate * 0.3)
data = []
for f in (1000.0, 1500.0):
    out = bytearray(((n + 7) // 8 + block - 1) // block * block)
    acc, step = 0.0, 2 * math.pi * f / rate
    for i in range(n):
        y = 1.0 if acc >= 0 else -1.0
        acc += 0.5 * math.sin(step * i) - y
        if y > 0: out[i >> 3] |= 1 << (i & 7)
    data.append(out)
body = bytearray()
for b in range(len(data[0]) // block):
    for c in range(ch): body += data[c][b * block:(b + 1) * block]
fmt = b"fmt " + struct.pack("<QIIIIIIQII", 52, 1, 0, 2, ch, rate, 1, n, block, 0)
dat = b"data" + struct.pack("<Q", 12 + len(body)) + body
open(path, "wb").write(b"DSD " + struct.pack("<QQQ", 28, 28 + len(fmt) + len(dat), 0) + fmt + dat)
)";

TEST(Dsd, BecomesMusicRatesWithItsTones) {
    test::TempDir dir;
    struct Case {
        int dsdRate;
        const char* format;
        const char* rate;  // as ffprobe gives it
    };
    for (const Case c : {Case{2822400, "flac", "176400"}, Case{5644800, "flac", "176400"}, Case{2822400, "mp3", "48000"}}) {
        SCOPED_TRACE(std::to_string(c.dsdRate) + " " + c.format);
        const std::string dsf = dir / ("d" + std::to_string(c.dsdRate) + ".dsf");
        ASSERT_EQ(test::Run({"/usr/bin/python3", "-c", kDsfScript, dsf, std::to_string(c.dsdRate)}).exitCode, 0);
        const std::string out = dir / (std::to_string(c.dsdRate) + c.format);
        const auto r = test::Run({test::CliPath(), "-f", c.format, "--verify", "-o", out, dsf});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        const std::string file = out + "/d" + std::to_string(c.dsdRate) + "." + c.format;
        const auto probe = test::Run({"ffprobe", "-v", "error", "-show_entries", "stream=sample_rate,bits_per_raw_sample",
                                      "-of", "csv=p=0", file});
        EXPECT_EQ(probe.out, std::string(c.rate) + (std::string(c.format) == "flac" ? ",24\n" : ",N/A\n"));
        const test::SndfileAudio audio = test::DecodeWithFfmpeg(file, out + ".wav");
        ASSERT_EQ(audio.channels, 2);
        EXPECT_GT(ToneLevel(audio.samples, 2, 0, 1000, audio.rate), 4000);  // half scale, less the modulator's loss
        EXPECT_GT(ToneLevel(audio.samples, 2, 1, 1500, audio.rate), 4000);
    }
}

}  // namespace
}  // namespace pelloran
