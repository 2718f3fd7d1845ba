// 32-bit float WAV sources: read as FFmpeg reads them, and kept float, bit for bit, by automatic WAV output.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decode/BassDecoder.h"
#include "decode/FfmpegSource.h"
#include "decode/WavSource.h"
#include "platform/File.h"
#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

class FloatWav : public Hostile {
protected:
    // The test's sources, made by sox and ffmpeg: a plucked chord, the same 6 dB louder (beyond ±1.0), six
    // channels (the extensible header), 64-bit floats and 16-bit integers.
    void SetUp() override {
        Hostile::SetUp();
        const std::string chord = dir_ / "chord.wav";
        Tool({"sox", "-n", "-r", "44100", "-c", "2", "-b", "32", "-e", "floating-point", chord, "synth", "1.5",
              "pluck", "C3", "pluck", "E4", "fade", "0", "1.5", "0.4"});
        Tool({"ffmpeg", "-v", "error", "-y", "-i", chord, "-af", "volume=6dB", "-c:a", "pcm_f32le", dir_ / "loud.wav"});
        Tool({"sox", "-n", "-r", "48000", "-c", "6", "-b", "32", "-e", "floating-point", dir_ / "six.wav", "synth",
              "0.7", "pluck", "C3", "pluck", "E3", "pluck", "G3", "pluck", "C4", "pluck", "E4", "pluck", "G4"});
        Tool({"sox", chord, "-b", "64", "-e", "floating-point", dir_ / "double.wav"});
        Tool({"sox", "-D", chord, "-b", "16", "-e", "signed-integer", dir_ / "s16.wav"});  // no random dither
    }
    static void Tool(const std::vector<std::string>& argv) {
        const CommandResult r = test::Run(argv);
        ASSERT_EQ(r.exitCode, 0) << argv[0] << ": " << r.err;
    }
    // A stream's codec as ffprobe names it.
    static std::string Codec(const std::string& path) {
        return test::Run({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0", path}).out;
    }
    // The samples as floats, decoded by ffmpeg.
    static std::vector<float> Floats(const std::string& path) {
        const std::string raw = test::Run({"ffmpeg", "-v", "error", "-i", path, "-f", "f32le", "-"}).out;
        std::vector<float> v(raw.size() / 4);
        std::memcpy(v.data(), raw.data(), v.size() * 4);
        return v;
    }
};

TEST_F(FloatWav, AutomaticWavKeepsFloatsBitForBit) {
    const std::vector<float> loud = Floats(dir_ / "loud.wav");
    ASSERT_TRUE(std::any_of(loud.begin(), loud.end(), [](float v) { return std::fabs(v) > 1.2f; }));

    const struct {
        const char* source;
        std::vector<std::string> args;
        const char* codec;  // of the output
        bool exact;         // every float equals the source's
    } cases[] = {
        {"chord.wav", {}, "pcm_f32le", true},
        {"loud.wav", {}, "pcm_f32le", true},
        {"six.wav", {}, "pcm_f32le", true},
        {"loud.wav", {"-s", "AmplifyWav=1", "-s", "AmplifyWavCoeff=100"}, "pcm_f32le", true},  // no gain after all
        {"loud.wav", {"-s", "AmplifyWav=1", "-s", "AmplifyWavCoeff=50"}, "pcm_s32le", false},
        {"loud.wav", {"-s", "AutoDestWAVEncodingParam=0", "-s", "WAVBitsPerSample=32"}, "pcm_s32le", false},
        {"loud.wav", {"--replaygain", "track"}, "pcm_s32le", false},
        {"loud.wav", {"--normalize", "-16"}, "pcm_s32le", false},
        {"loud.wav", {"--decoder", "ffmpeg"}, "pcm_s32le", false},
        {"double.wav", {}, "pcm_s32le", false},
        {"s16.wav", {}, "pcm_s16le", false},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string out = dir_ / ("out" + std::to_string(++n));
        SCOPED_TRACE(std::string(c.source) + " case " + std::to_string(n));
        std::vector<std::string> args = {"-f", "wav", "--verify", "-o", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(dir_ / c.source);
        const CommandResult r = Cli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
        const std::string target = out + "/" + c.source;
        EXPECT_EQ(Codec(target), std::string(c.codec) + "\n");
        if (c.exact) {
            const std::vector<float> in = Floats(dir_ / c.source), got = Floats(target);
            ASSERT_EQ(in.size(), got.size());
            EXPECT_EQ(std::memcmp(in.data(), got.data(), in.size() * 4), 0) << "the floats differ";
            // sox too reads the float header; the fact chunk counts the frames.
            EXPECT_EQ(test::Run({"soxi", "-e", target}).out, "Floating Point PCM\n");
            const std::vector<uint8_t> bytes = ReadBytes(target);
            const auto fact = std::search(bytes.begin(), bytes.end(), "fact", "fact" + 4);
            ASSERT_LT(fact + 12, bytes.end());
            EXPECT_EQ(std::to_string(LoadU32LE(&*(fact + 8))) + "\n", test::Run({"soxi", "-s", target}).out);
        }
    }
}

TEST_F(FloatWav, ReadAsFfmpegReadsThemAndKeptOnRequest) {
    const struct {
        const char* name;
        bool ours;  // our own source can stand in for FFmpeg's
    } cases[] = {
        {"chord.wav", true}, {"loud.wav", true}, {"six.wav", true}, {"double.wav", false}, {"s16.wav", true},
    };
    const FfmpegSource::Options wide{DemuxerSet::GeneralReader, true, false, true};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_ / c.name;
        const bool stored = c.ours && std::string(c.name) != "s16.wav";
        File file;
        ASSERT_TRUE(file.Open(path, "rb"));
        // Floats open on the wide path only; their 16-bit reading stays FFmpeg's.
        EXPECT_EQ(WavSource::Open(file, path) != nullptr, c.ours && !stored);
        auto ours = WavSource::Open(file, path, true);
        ASSERT_EQ(ours != nullptr, c.ours);
        if (ours) {
            auto theirs = FfmpegSource::Open(file, path, wide);
            ASSERT_TRUE(theirs);
            EXPECT_EQ(ours->Format().wideBits, theirs->Format().wideBits);
            EXPECT_EQ(ours->LengthFrames(), theirs->LengthFrames());
            EXPECT_TRUE(ReadAllFrames(*ours) == ReadAllFrames(*theirs)) << "wide samples differ";
        }

        // The general reader keeps floats when asked before its first block only (the bits: the test above).
        BassDecoder reader, late;
        ASSERT_TRUE(reader.Open(path, 0) && late.Open(path, 0));
        EXPECT_EQ(reader.StoresFloat(), stored);
        EXPECT_EQ(reader.KeepFloat(), stored);
        EXPECT_EQ(reader.Format().isFloat, stored);
        ReadAllSamples(late);
        EXPECT_FALSE(late.KeepFloat());
        EXPECT_FALSE(late.Format().isFloat);
    }
}

}  // namespace
}  // namespace pelloran::test
