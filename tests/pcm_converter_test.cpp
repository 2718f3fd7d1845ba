#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "encode/PcmConverter.h"

namespace pelloran {
namespace {

struct Setup {
    int sourceRate, sourceChannels, sourceBits, targetRate, targetChannels, targetBits;
};

void Configure(PcmConverter& c, const Setup& s) {
    c.sourceRate = s.sourceRate;
    c.sourceChannels = s.sourceChannels;
    c.sourceBits = s.sourceBits;
    c.targetRate = s.targetRate;
    c.targetChannels = s.targetChannels;
    c.targetBits = s.targetBits;
    ASSERT_TRUE(c.Prepare());
}

TEST(PcmConverterEqualRates, StereoToMonoMixFloorsTowardsMinusInfinity) {
    PcmConverter c;
    Configure(c, {44100, 2, 16, 44100, 1, 16});
    const int16_t left[3] = {-3, 100, 32767};
    const int16_t right[3] = {0, 101, 32767};
    int16_t out[8] = {};
    int frames = 0;
    ASSERT_TRUE(c.Process(left, right, 3, out, nullptr, frames));
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(out[0], -2);
    EXPECT_EQ(out[1], 100);
    EXPECT_EQ(out[2], 32767);
}

TEST(PcmConverterEqualRates, WidthConversionBothWays) {
    PcmConverter narrow;
    Configure(narrow, {8000, 1, 16, 8000, 1, 8});
    const int16_t in16[3] = {0, -32768, 32767};
    uint8_t out8[4] = {};
    int frames = 0;
    narrow.Process(in16, nullptr, 3, out8, nullptr, frames);
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(out8[0], 128);
    EXPECT_EQ(out8[1], 0);
    EXPECT_EQ(out8[2], 255);

    PcmConverter widen;
    Configure(widen, {8000, 1, 8, 8000, 1, 16});
    const uint8_t in8[3] = {0, 128, 255};
    int16_t out16[4] = {};
    widen.Process(in8, nullptr, 3, out16, nullptr, frames);
    EXPECT_EQ(out16[0], -32768);
    EXPECT_EQ(out16[1], 0);
    EXPECT_EQ(out16[2], 32512);
}

TEST(PcmConverterEqualRates, MonoToStereoDuplicatesAndKeepsFrameCount) {
    PcmConverter c;
    Configure(c, {22050, 1, 16, 22050, 2, 16});
    EXPECT_EQ(c.factor(), 0.0);  // no resampler opened
    const int16_t mono[4] = {1, -2, 3, -4};
    int16_t l[8] = {}, r[8] = {};
    int frames = 0;
    c.Process(mono, nullptr, 4, l, r, frames);
    EXPECT_EQ(frames, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(l[i], mono[i]);
        EXPECT_EQ(r[i], mono[i]);
    }
}

// Feeds a sine through the resampler block by block, flushes, and returns the output of the left channel.
std::vector<int16_t> ResampleSine(const Setup& s, int inputFrames, std::vector<int16_t>* rightOut = nullptr) {
    PcmConverter c;
    Configure(c, s);
    std::vector<int16_t> l, r;
    std::vector<int16_t> inL(1152), inR(1152);
    std::vector<int16_t> outL(c.OutputCapacity(1152)), outR(c.OutputCapacity(1152));
    for (int done = 0; done < inputFrames;) {
        const int n = std::min(1152, inputFrames - done);
        for (int i = 0; i < n; ++i) {
            inL[i] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * 440.0 * (done + i) / s.sourceRate));
            inR[i] = inL[i];
        }
        int frames = 0;
        c.Process(inL.data(), s.sourceChannels == 2 ? inR.data() : nullptr, n, outL.data(),
                  s.targetChannels == 2 ? outR.data() : nullptr, frames);
        l.insert(l.end(), outL.begin(), outL.begin() + frames);
        r.insert(r.end(), outR.begin(), outR.begin() + (s.targetChannels == 2 ? frames : 0));
        done += n;
    }
    for (int guard = 0; guard < 64; ++guard) {
        int frames = 0;
        c.Flush(outL.data(), s.targetChannels == 2 ? outR.data() : nullptr, static_cast<int>(outL.size()), frames);
        if (frames == 0) break;
        l.insert(l.end(), outL.begin(), outL.begin() + frames);
        r.insert(r.end(), outR.begin(), outR.begin() + (s.targetChannels == 2 ? frames : 0));
    }
    if (rightOut != nullptr) *rightOut = r;
    return l;
}

TEST(PcmConverterResampling, FlushKeepsTheTailOfTheStream) {
    // 2 s at 44100 into 22050: the whole stream comes out, not just what the filter released early.
    const auto out = ResampleSine({44100, 1, 16, 22050, 1, 16}, 88200);
    EXPECT_NEAR(static_cast<double>(out.size()), 44100.0, 2.0);
    // Upsampling 8000 -> 44100
    const auto up = ResampleSine({8000, 1, 16, 44100, 1, 16}, 8000);
    EXPECT_NEAR(static_cast<double>(up.size()), 44100.0, 8.0);  // the filter tail adds a few
}

TEST(PcmConverterResampling, SignalSurvivesWithTheRightLevel) {
    const auto out = ResampleSine({44100, 1, 16, 48000, 1, 16}, 44100);
    ASSERT_GT(out.size(), 40000u);
    double sum = 0;
    for (size_t i = 1000; i < out.size() - 1000; ++i) sum += static_cast<double>(out[i]) * out[i];
    const double rms = std::sqrt(sum / static_cast<double>(out.size() - 2000));
    EXPECT_NEAR(rms, 16000 / std::sqrt(2.0), 300.0);
}

TEST(PcmConverterResampling, MonoSourceIntoStereoTargetGivesIdenticalChannels) {
    std::vector<int16_t> right;
    const auto left = ResampleSine({22050, 1, 16, 44100, 2, 16}, 22050, &right);
    ASSERT_EQ(left.size(), right.size());
    EXPECT_EQ(left, right);
}

TEST(PcmConverterResampling, StereoSourceIntoMonoTargetMixesFirst) {
    const auto out = ResampleSine({44100, 2, 16, 16000, 1, 16}, 44100);
    EXPECT_NEAR(static_cast<double>(out.size()), 16000.0, 2.0);
}

TEST(Gain, SixteenBitClampsSymmetrically) {
    int16_t l[2] = {20000, -20000};
    int16_t r[2] = {100, -100};
    AmplifySamples16(l, r, 2, 2, 2.0f);
    EXPECT_EQ(l[0], 32767);
    EXPECT_EQ(l[1], -32767);
    EXPECT_EQ(r[0], 200);
    EXPECT_EQ(r[1], -200);
}

TEST(Gain, EightBitTruncatesTowardsZeroAndRightIsUntouchedForMono) {
    uint8_t l[3] = {1, 255, 128};
    uint8_t r[1] = {7};
    AmplifySamples8(l, r, 3, 1, 0.5f);
    EXPECT_EQ(l[0], 65);  // trunc(-63.5) = -63
    EXPECT_EQ(l[1], 191);
    EXPECT_EQ(l[2], 128);
    EXPECT_EQ(r[0], 7);
    uint8_t loud[2] = {0, 255};
    AmplifySamples8(loud, nullptr, 2, 1, 30.0f);
    EXPECT_EQ(loud[0], 0);
    EXPECT_EQ(loud[1], 255);
}

}  // namespace
}  // namespace pelloran
