#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "encode/PcmConverter.h"

namespace pelloran {
namespace {

struct Setup {
    int sourceRate, sourceChannels, sourceBits, targetRate, targetChannels, targetBits;
};

// Bytes of one sample in the tests' own buffers: 8-bit unsigned, 16-bit signed, wider int32.
size_t SampleBytes(int bits) { return bits <= 16 ? static_cast<size_t>(bits / 8) : 4; }

// The converter fed and read with those buffers (right only for two channels).
class Conv {
public:
    void Prepare(const Setup& s, int monoType = 0) {
        s_ = s;
        ASSERT_TRUE(c_.Prepare({s.sourceRate, s.sourceChannels, s.sourceBits},
                               {s.targetRate, s.targetChannels, s.targetBits}, monoType));
    }
    void Push(const void* left, const void* right, int frames) {
        std::vector<int32_t> l = Load(left, s_.sourceBits, frames), r;
        const int32_t* planes[2] = {l.data(), nullptr};
        if (s_.sourceChannels == 2) {
            r = Load(right, s_.sourceBits, frames);
            planes[1] = r.data();
        }
        c_.Push(planes, frames);
    }
    int Pull(void* left, void* right, int capacity) {
        std::vector<int32_t> l(static_cast<size_t>(capacity)), r(static_cast<size_t>(capacity));
        int32_t* planes[2] = {l.data(), r.data()};
        const int n = c_.Pull(planes, capacity);
        Store(l, s_.targetBits, n, left);
        if (s_.targetChannels == 2) Store(r, s_.targetBits, n, right);
        return n;
    }
    void End() { c_.End(); }
    double factor() const { return c_.factor(); }
    int stages() const { return c_.stages(); }

private:
    static std::vector<int32_t> Load(const void* in, int bits, int frames) {
        std::vector<int32_t> out(static_cast<size_t>(frames));
        for (int i = 0; i < frames; ++i) {
            if (bits == 8) out[static_cast<size_t>(i)] = static_cast<const uint8_t*>(in)[i] - 128;
            else if (bits == 16) out[static_cast<size_t>(i)] = static_cast<const int16_t*>(in)[i];
            else out[static_cast<size_t>(i)] = static_cast<const int32_t*>(in)[i];
        }
        return out;
    }
    static void Store(const std::vector<int32_t>& in, int bits, int frames, void* out) {
        for (int i = 0; i < frames; ++i) {
            const int32_t v = in[static_cast<size_t>(i)];
            if (bits == 8) static_cast<uint8_t*>(out)[i] = static_cast<uint8_t>(v + 128);
            else if (bits == 16) static_cast<int16_t*>(out)[i] = static_cast<int16_t>(v);
            else static_cast<int32_t*>(out)[i] = v;
        }
    }
    Setup s_{};
    PcmConverter c_;
};

void Configure(Conv& c, const Setup& s) { c.Prepare(s); }

TEST(PcmConverterEqualRates, StereoToMonoMixFloorsTowardsMinusInfinity) {
    Conv c;
    Configure(c, {44100, 2, 16, 44100, 1, 16});
    const int16_t left[3] = {-3, 100, 32767};
    const int16_t right[3] = {0, 101, 32767};
    int16_t out[8] = {};
    c.Push(left, right, 3);
    EXPECT_EQ(c.Pull(out, nullptr, 8), 3);
    EXPECT_EQ(out[0], -2);
    EXPECT_EQ(out[1], 100);
    EXPECT_EQ(out[2], 32767);
}

TEST(PcmConverterEqualRates, WidthConversionBothWays) {
    Conv narrow;
    Configure(narrow, {8000, 1, 16, 8000, 1, 8});
    const int16_t in16[3] = {0, -32768, 32767};
    uint8_t out8[4] = {};
    narrow.Push(in16, nullptr, 3);
    EXPECT_EQ(narrow.Pull(out8, nullptr, 4), 3);
    EXPECT_EQ(out8[0], 128);
    EXPECT_EQ(out8[1], 0);
    EXPECT_EQ(out8[2], 255);

    Conv widen;
    Configure(widen, {8000, 1, 8, 8000, 1, 16});
    const uint8_t in8[3] = {0, 128, 255};
    int16_t out16[4] = {};
    widen.Push(in8, nullptr, 3);
    EXPECT_EQ(widen.Pull(out16, nullptr, 4), 3);
    EXPECT_EQ(out16[0], -32768);
    EXPECT_EQ(out16[1], 0);
    EXPECT_EQ(out16[2], 32512);
}

// The wide widths are int32 samples, right-aligned: each width against 16 and 24 bits, and the mix.
TEST(PcmConverterEqualRates, WideWidthsTable) {
    struct Case {
        int from, to;
        int32_t in[3];
        int32_t out[3];
    };
    const Case cases[] = {
        {24, 16, {0, -8388608, 8388607}, {0, -32768, 32767}},
        {16, 24, {1, -32768, 32767}, {256, -8388608, 8388352}},
        {32, 24, {256, INT32_MIN, INT32_MAX}, {1, -8388608, 8388607}},
        {24, 32, {1, -8388608, 8388607}, {256, INT32_MIN, 2147483392}},
        {8, 24, {0, 128, 255}, {-8388608, 0, 8323072}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.from) + " to " + std::to_string(k.to));
        Conv c;
        Configure(c, {8000, 1, k.from, 8000, 1, k.to});
        // The input in the source's own sample size.
        std::vector<uint8_t> in(3 * SampleBytes(k.from));
        for (int i = 0; i < 3; ++i) {
            if (k.from == 8) in[static_cast<size_t>(i)] = static_cast<uint8_t>(k.in[i]);
            else if (k.from == 16) reinterpret_cast<int16_t*>(in.data())[i] = static_cast<int16_t>(k.in[i]);
            else reinterpret_cast<int32_t*>(in.data())[i] = k.in[i];
        }
        std::vector<uint8_t> out(4 * SampleBytes(k.to));
        c.Push(in.data(), nullptr, 3);
        ASSERT_EQ(c.Pull(out.data(), nullptr, 4), 3);
        for (int i = 0; i < 3; ++i) {
            const int32_t v = k.to == 16 ? reinterpret_cast<int16_t*>(out.data())[i]
                                         : reinterpret_cast<int32_t*>(out.data())[i];
            EXPECT_EQ(v, k.out[i]) << i;
        }
    }
    Conv mix;
    Configure(mix, {8000, 2, 24, 8000, 1, 24});
    const int32_t left[2] = {8388607, -3};
    const int32_t right[2] = {8388607, 0};
    int32_t out[2] = {};
    mix.Push(left, right, 2);
    ASSERT_EQ(mix.Pull(out, nullptr, 2), 2);
    EXPECT_EQ(out[0], 8388607);
    EXPECT_EQ(out[1], -2);
}

// 24 bits through the resampler keep far more than 16 bits of precision.
TEST(PcmConverterResampling, TwentyFourBitsStayTwentyFourBits) {
    Conv c;
    Configure(c, {96000, 1, 24, 44100, 1, 24});
    std::vector<int32_t> in(96000);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<int32_t>(4000000 * std::sin(2 * M_PI * 1000 * static_cast<double>(i) / 96000.0));
    c.Push(in.data(), nullptr, static_cast<int>(in.size()));
    c.End();
    std::vector<int32_t> out(50000);
    int got = 0;
    for (int n; (n = c.Pull(out.data() + got, nullptr, 4096)) > 0;) got += n;
    ASSERT_NEAR(got, 44100, 2);
    // Against the exact sine in the middle: the error is far below one 16-bit step (256 at 24 bits).
    double worst = 0;
    for (int i = 1000; i < 43000; ++i) {
        const double exact = 4000000 * std::sin(2 * M_PI * 1000 * i / 44100.0);
        worst = std::max(worst, std::fabs(out[static_cast<size_t>(i)] - exact));
    }
    EXPECT_LT(worst, 64.0);
}

TEST(PcmConverterEqualRates, MonoToStereoDuplicatesAndKeepsFrameCount) {
    Conv c;
    Configure(c, {22050, 1, 16, 22050, 2, 16});
    EXPECT_EQ(c.factor(), 0.0);  // no resampler opened
    const int16_t mono[4] = {1, -2, 3, -4};
    int16_t l[8] = {}, r[8] = {};
    c.Push(mono, nullptr, 4);
    EXPECT_EQ(c.Pull(l, r, 8), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(l[i], mono[i]);
        EXPECT_EQ(r[i], mono[i]);
    }
}

// Feeds a sine through the resampler block by block, pulls at most `pull` frames at a time, ends the stream,
// and returns the output of the left channel.
std::vector<int16_t> ResampleSine(const Setup& s, int inputFrames, std::vector<int16_t>* rightOut = nullptr,
                                  int pull = 4096, double frequency = 440.0) {
    Conv c;
    Configure(c, s);
    std::vector<int16_t> l, r;
    std::vector<int16_t> inL(1152), inR(1152);
    std::vector<int16_t> outL(pull), outR(pull);
    const auto drain = [&] {
        while (true) {
            const int frames = c.Pull(outL.data(), s.targetChannels == 2 ? outR.data() : nullptr, pull);
            ASSERT_LE(frames, pull);
            if (frames == 0) break;
            l.insert(l.end(), outL.begin(), outL.begin() + frames);
            r.insert(r.end(), outR.begin(), outR.begin() + (s.targetChannels == 2 ? frames : 0));
        }
    };
    for (int done = 0; done < inputFrames;) {
        const int n = std::min(1152, inputFrames - done);
        for (int i = 0; i < n; ++i) {
            inL[i] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * frequency * (done + i) / s.sourceRate));
            inR[i] = inL[i];
        }
        c.Push(inL.data(), s.sourceChannels == 2 ? inR.data() : nullptr, n);
        drain();
        done += n;
    }
    c.End();
    drain();
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

// Level of a resampled sine, its first and last 1000 frames left out.
double Rms(const std::vector<int16_t>& out) {
    double sum = 0;
    for (size_t i = 1000; i + 1000 < out.size(); ++i) sum += static_cast<double>(out[i]) * out[i];
    return std::sqrt(sum / static_cast<double>(out.size() - 2000));
}

TEST(PcmConverterResampling, AnyRatioComesOutWholeInBoundedPulls) {
    struct Case {
        ::pelloran::Setup setup;
        int inputFrames;
        int stages;
    };
    const Case cases[] = {
        {{1, 1, 16, 48000, 1, 16}, 3, 6},             // one source frame is 48000 output frames
        {{8000, 2, 16, 192000, 2, 16}, 8000, 2},
        {{1000000, 1, 16, 8000, 2, 16}, 1000000, 3},
        {{44100, 1, 16, 2, 1, 16}, 44100, 5},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.setup.sourceRate) + " -> " + std::to_string(k.setup.targetRate));
        Conv probe;
        Configure(probe, k.setup);
        EXPECT_EQ(probe.stages(), k.stages);
        std::vector<int16_t> right;
        const auto out = ResampleSine(k.setup, k.inputFrames, &right, 1152);
        const double expected = static_cast<double>(k.inputFrames) * k.setup.targetRate / k.setup.sourceRate;
        EXPECT_NEAR(static_cast<double>(out.size()), expected, 8.0 + expected * 1e-4);
        if (k.setup.targetChannels == 2) {
            EXPECT_EQ(right, out);
        }
        if (std::min(k.setup.sourceRate, k.setup.targetRate) >= 8000) {
            EXPECT_NEAR(Rms(out), 16000 / std::sqrt(2.0), 300.0);  // the 440 Hz sine passes every step
        }
    }
}

// Amplitude of one frequency in a signal, through a Blackman-Harris window so that a strong tone elsewhere does
// not leak into it; the first and last 2000 frames (filter edges) are left out.
double Amplitude(const std::vector<int16_t>& x, double frequency, int rate) {
    const size_t begin = 2000, n = x.size() - 4000;
    double re = 0, im = 0, weight = 0;
    for (size_t i = 0; i < n; ++i) {
        const double a = 2 * M_PI * static_cast<double>(i) / static_cast<double>(n - 1);
        const double w = 0.35875 - 0.48829 * std::cos(a) + 0.14128 * std::cos(2 * a) - 0.01168 * std::cos(3 * a);
        const double phase = 2 * M_PI * frequency * static_cast<double>(begin + i) / rate;
        re += w * x[begin + i] * std::cos(phase);
        im -= w * x[begin + i] * std::sin(phase);
        weight += w;
    }
    return 2 * std::hypot(re, im) / weight;
}

TEST(PcmConverterResampling, FlatTo20kHzWithAliasesAndImagesFarDown) {
    const ::pelloran::Setup down{48000, 1, 16, 44100, 1, 16};
    for (const double f : {1000.0, 10000.0, 19000.0, 20000.0}) {
        const auto out = ResampleSine(down, 48000, nullptr, 4096, f);
        EXPECT_NEAR(20 * std::log10(Amplitude(out, f, 44100) / 16000), 0.0, 0.1) << f << " Hz";
    }
    // 23 kHz does not fit into 44.1 kHz: nothing of it may fold back to 21.1 kHz.
    const auto alias = ResampleSine(down, 48000, nullptr, 4096, 23000.0);
    EXPECT_LT(20 * std::log10(Amplitude(alias, 21100.0, 44100) / 16000), -100.0);
    // 44.1 -> 48 kHz: the image of 10 kHz at 34.1 kHz (seen at 13.9 kHz) stays far down.
    const auto up = ResampleSine({44100, 1, 16, 48000, 1, 16}, 44100, nullptr, 4096, 10000.0);
    EXPECT_LT(20 * std::log10(Amplitude(up, 13900.0, 48000) / 16000), -100.0);
}

TEST(PcmConverterResampling, SignalSurvivesWithTheRightLevel) {
    const auto out = ResampleSine({44100, 1, 16, 48000, 1, 16}, 44100);
    ASSERT_GT(out.size(), 40000u);
    EXPECT_NEAR(Rms(out), 16000 / std::sqrt(2.0), 300.0);
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

TEST(ChannelRule, OneMeaningForEveryMonoType) {
    struct Case {
        int source, target, monoType;
        ChannelChoice choice;
    };
    const Case cases[] = {
        {2, 1, 0, ChannelChoice::Mix},  {2, 1, 1, ChannelChoice::Left},   {2, 1, 2, ChannelChoice::Right},
        {2, 1, 3, ChannelChoice::Mix},  {2, 1, -1, ChannelChoice::Mix},   {1, 2, 1, ChannelChoice::Spread},
        {2, 2, 2, ChannelChoice::Same}, {1, 1, 1, ChannelChoice::Same}, {6, 2, 1, ChannelChoice::Downmix},
        {6, 1, 2, ChannelChoice::Downmix},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseChannels(c.source, c.target, c.monoType), c.choice) << c.source << c.target << c.monoType;
}

TEST(Gain, ClampsToEachWidthAndTruncatesTowardsZero) {
    struct Case {
        int bits;
        float gain;
        int32_t in[2];
        int32_t out[2];
    };
    const Case cases[] = {
        {16, 2.0f, {20000, -20000}, {32767, -32767}},  // 16 bits clamp symmetrically
        {16, 2.0f, {100, -100}, {200, -200}},
        {8, 0.5f, {-127, 127}, {-63, 63}},  // trunc(-63.5) = -63
        {8, 30.0f, {-128, 127}, {-128, 127}},
        {24, 4.0f, {4194304, -3}, {8388607, -12}},
    };
    for (const Case& c : cases) {
        int32_t samples[2] = {c.in[0], c.in[1]};
        AmplifySamples(samples, 2, c.bits, c.gain);
        EXPECT_EQ(samples[0], c.out[0]) << c.bits;
        EXPECT_EQ(samples[1], c.out[1]) << c.bits;
    }
}

// 5.1 to stereo: fronts whole, centre and surrounds at -3 dB, LFE left out, nothing clips at full scale.
TEST(ChannelRule, FiveOneMixesDownWithoutClipping) {
    const DownmixWeights w = StereoDownmix(6);
    EXPECT_NEAR(w.left[2] / w.left[0], 0.7071, 1e-3);   // centre
    EXPECT_NEAR(w.right[2] / w.right[1], 0.7071, 1e-3);
    EXPECT_EQ(w.left[3], 0.0f);                          // LFE
    EXPECT_EQ(w.right[3], 0.0f);
    EXPECT_NEAR(w.left[4] / w.left[0], 0.7071, 1e-3);   // left surround, left side only
    EXPECT_EQ(w.right[4], 0.0f);
    PcmConverter c;
    ASSERT_TRUE(c.Prepare({48000, 6, 16}, {48000, 2, 16}, 0));
    const int32_t full[2] = {32767, -32768};
    const int32_t* planes[6] = {full, full, full, full, full, full};
    int32_t l[2], r[2];
    int32_t* out[2] = {l, r};
    c.Push(planes, 2);
    ASSERT_EQ(c.Pull(out, 2), 2);
    EXPECT_LE(l[0], 32767);
    EXPECT_GE(l[0], 32700);
    EXPECT_GE(r[1], -32768);
}

}  // namespace
}  // namespace pelloran
