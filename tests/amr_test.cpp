#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "encode/AmrWriter.h"
#include "tests/encoder_fixtures.h"

namespace pelloran {
namespace {

using test::ReadBytes;
using test::TempDir;

std::vector<int16_t> Tone(int count, int rate, int offset = 0) {
    std::vector<int16_t> s(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        s[static_cast<size_t>(i)] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 440.0 * (offset + i) / rate));
    return s;
}

std::string Head(const std::vector<uint8_t>& b, size_t n) {
    return std::string(b.begin(), b.begin() + static_cast<ptrdiff_t>(std::min(n, b.size())));
}

// Frames of an AMR storage file, each checked against the frame size its header byte announces.
int CountFrames(const std::vector<uint8_t>& b, bool wideBand) {
    static const int kNb[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};
    static const int kWb[16] = {17, 23, 32, 36, 40, 46, 50, 58, 60, 5, 0, 0, 0, 0, 0, 0};
    size_t at = wideBand ? 9 : 6;
    int frames = 0;
    while (at < b.size()) {
        const int type = (b[at] >> 3) & 0xF;
        at += 1 + static_cast<size_t>(wideBand ? kWb[type] : kNb[type]);
        ++frames;
    }
    return at == b.size() ? frames : -1;
}

constexpr PcmFormat kNarrow{8000, 1, 16};
constexpr PcmFormat kWide{16000, 1, 16};

TEST(AmrWriter, CutsBlocksIntoFramesAndPadsOnlyTheLast) {
    TempDir dir;
    const std::string path = dir / "nb.amr";
    AmrWriter w;
    ASSERT_TRUE(w.Open(path, kNarrow, {}));
    const auto block = Tone(1152, 8000);
    ASSERT_TRUE(test::WriteSixteen(w, block.data(), nullptr, 1152));
    EXPECT_EQ(w.FramesEncoded(), 7u);  // 7 frames, 32 samples wait
    ASSERT_TRUE(test::WriteSixteen(w, block.data(), nullptr, 128));
    EXPECT_EQ(w.FramesEncoded(), 8u);  // 128 more complete that frame exactly
    ASSERT_TRUE(test::WriteSixteen(w, block.data(), nullptr, 1152));
    EXPECT_EQ(w.FramesEncoded(), 15u);  // 7 more, 32 wait
    ASSERT_TRUE(w.Finish());
    const auto bytes = ReadBytes(path);
    EXPECT_EQ(Head(bytes, 6), "#!AMR\n");
    EXPECT_EQ(CountFrames(bytes, false), 16);  // the 32 waiting samples padded into one frame
    EXPECT_EQ(bytes.size(), 6u + 16u * 27u);   // mode 6 (10.2 kbit/s): 26 bytes and the header byte

    const auto p = test::ProbeAudio(path);
    EXPECT_EQ(p.at("codec_name"), "amr_nb");
    EXPECT_EQ(p.at("sample_rate"), "8000");
    EXPECT_EQ(p.at("channels"), "1");
    EXPECT_EQ(test::DecodeWithFfmpeg(path, dir / "d.wav").samples.size(), 16u * 160u);
}

TEST(AmrWriter, ShortStreamsAndWholeFrames) {
    TempDir dir;
    const std::string shortPath = dir / "short.amr";
    AmrWriter w;
    ASSERT_TRUE(w.Open(shortPath, kNarrow, {}));
    const auto tone = Tone(640, 8000);
    ASSERT_TRUE(test::WriteSixteen(w, tone.data(), nullptr, 100));
    EXPECT_EQ(w.FramesEncoded(), 0u);
    ASSERT_TRUE(w.Finish());
    EXPECT_EQ(CountFrames(ReadBytes(shortPath), false), 1);

    const std::string wholePath = dir / "whole.amr";
    ASSERT_TRUE(w.Open(wholePath, kNarrow, {}));
    ASSERT_TRUE(test::WriteSixteen(w, tone.data(), nullptr, 640));
    ASSERT_TRUE(w.Finish());
    EXPECT_EQ(CountFrames(ReadBytes(wholePath), false), 4);  // no padded frame
}

TEST(AmrWriter, ModesDtxAndTheWideBandHeader) {
    TempDir dir;
    const std::string path = dir / "wb.awb";
    AmrWriter w({AmrBand::Wide, 8, false});
    ASSERT_TRUE(w.Open(path, kWide, {}));
    const auto tone = Tone(3200, 16000);
    ASSERT_TRUE(test::WriteSixteen(w, tone.data(), nullptr, 3200));
    ASSERT_TRUE(w.Finish());
    const auto bytes = ReadBytes(path);
    EXPECT_EQ(Head(bytes, 9), "#!AMR-WB\n");
    EXPECT_EQ(bytes.size(), 9u + 10u * 61u);  // 23.85 kbit/s frames
    EXPECT_EQ(test::ProbeAudio(path).at("codec_name"), "amr_wb");

    // Refused modes, formats other than the band's and a missing folder give no file.
    struct Refusal {
        AmrOptions options;
        PcmFormat format;
        std::string path;
    };
    for (const Refusal& r : {Refusal{{AmrBand::Narrow, 8, false}, kNarrow, dir / "r.amr"},
                             Refusal{{AmrBand::Wide, 9, false}, kWide, dir / "r.awb"},
                             Refusal{{AmrBand::Narrow, 6, false}, kWide, dir / "r.amr"},
                             Refusal{{AmrBand::Narrow, 6, false}, {8000, 2, 16}, dir / "r.amr"},
                             Refusal{{AmrBand::Narrow, 6, false}, kNarrow, dir / "missing/x.amr"}}) {
        AmrWriter refused(r.options);
        EXPECT_FALSE(refused.Open(r.path, r.format, {})) << r.path;
        EXPECT_FALSE(test::fs::exists(r.path));
    }

    // Silence with discontinuous transmission: mostly tiny no-data frames.
    const std::string quiet = dir / "dtx.amr";
    const std::string loud = dir / "nodtx.amr";
    const std::vector<int16_t> silence(8000, 0);
    for (const auto& [file, dtx] : {std::pair{quiet, true}, std::pair{loud, false}}) {
        AmrWriter writer({AmrBand::Narrow, 6, dtx});
        ASSERT_TRUE(writer.Open(file, kNarrow, {}));
        ASSERT_TRUE(test::WriteSixteen(writer, silence.data(), nullptr, 8000));
        ASSERT_TRUE(writer.Finish());
    }
    EXPECT_LT(ReadBytes(quiet).size() * 3, ReadBytes(loud).size());
}

TEST(AmrWriter, FullDiskFailsTheFile) {
    AmrWriter w;
    ASSERT_TRUE(w.Open("/dev/full", kNarrow, {}));
    const auto tone = Tone(1600, 8000);
    bool ok = true;
    for (int i = 0; i < 400 && ok; ++i) ok = test::WriteSixteen(w, tone.data(), nullptr, 1600);
    EXPECT_FALSE(ok && w.Finish());
}

class AmrCli : public test::CliFixture {};

TEST_F(AmrCli, StereoIsMixedOrOneChannelKeptAndResampledTo8000) {
    const std::string src = dir_ / "left.wav";
    test::WriteLeftToneWav(src, 44100, 44100);
    double rms[3] = {};
    for (int monoType = 0; monoType <= 2; ++monoType) {
        ASSERT_EQ(Cli("amr", {"-s", "MonoType=" + std::to_string(monoType), "-s", "TargetExistsOpt=22", src}).exitCode,
                  0);
        const auto p = test::ProbeAudio(Out("left.amr"));
        EXPECT_EQ(p.at("codec_name"), "amr_nb");
        EXPECT_EQ(p.at("sample_rate"), "8000");
        EXPECT_EQ(p.at("channels"), "1");
        const auto audio = test::DecodeWithFfmpeg(Out("left.amr"), dir_ / "d.wav");
        // The length is the source's, up to one frame and the resampler's tail.
        EXPECT_GE(audio.samples.size(), 8000u);
        EXPECT_LE(audio.samples.size(), 8000u + 160u + 160u);
        rms[monoType] = test::Rms(audio, 0, 0.1, 0.9);
    }
    const double left = 20000 / std::sqrt(2.0);
    EXPECT_NEAR(rms[0], left / 2, left * 0.15);  // (L + R) / 2
    EXPECT_NEAR(rms[1], left, left * 0.25);      // the left channel
    EXPECT_LT(rms[2], left * 0.05);              // the silent right channel
}

TEST_F(AmrCli, AwbFrom16000MonoNeedsNoConversionAndUsesItsOwnMode) {
    // 16000 samples at 16000 Hz: exactly 50 frames when nothing is resampled.
    const std::string src = Sine("w.wav", 16000, 1, 1.0);
    ASSERT_EQ(Cli("awb", {"-s", "AMRType=1", "-s", "AMRWBMode=0", "-s", "AWBMode=8", src}).exitCode, 0);
    const auto bytes = ReadBytes(Out("w.awb"));
    EXPECT_EQ(Head(bytes, 9), "#!AMR-WB\n");
    EXPECT_EQ(bytes.size(), 9u + 50u * 61u);
    EXPECT_EQ(test::DecodeWithFfmpeg(Out("w.awb"), dir_ / "d.wav").samples.size(), 16000u);

    // Wide-band ".amr" takes AMRWBMode (0: 6.60 kbit/s, 18 bytes a frame).
    ASSERT_EQ(Cli("amr", {"-s", "AMRType=1", "-s", "AMRWBMode=0", "-s", "AWBMode=8", src}).exitCode, 0);
    const auto amr = ReadBytes(Out("w.amr"));
    EXPECT_EQ(Head(amr, 9), "#!AMR-WB\n");
    EXPECT_EQ(amr.size(), 9u + 50u * 18u);
    EXPECT_EQ(test::ProbeAudio(Out("w.amr")).at("sample_rate"), "16000");
}

TEST_F(AmrCli, RefusedModeWritesNothing) {
    const std::string src = Sine("m.wav", 8000, 1, 0.5);
    const auto r = Cli("amr", {"-s", "AMRMode=9", src});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("'AMRMode' must be 0 to 7"), std::string::npos);
    EXPECT_FALSE(test::fs::exists(Out("m.amr")));
}

}  // namespace
}  // namespace pelloran
