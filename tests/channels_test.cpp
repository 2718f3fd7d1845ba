// Channels and bits: a 5.1 FLAC with its own tone in each channel keeps all six in order in the lossless, Opus, Vorbis
// and AAC outputs, and mixes down to stereo for MP3 with the centre in both sides at -3 dB and the LFE left out (found
// again in ffmpeg's decode); a quiet 24-bit sine narrowed to 16 bits survives under dither, and 16-bit audio
// stays bit-exact.

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

}  // namespace
}  // namespace pelloran
