// Exact lengths: impulses at known positions through every lossy output, decoded by independent decoders;
// --verify's checks and its offsets; durations from the frames of ADTS and free-format MP3 files.

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/Verify.h"
#include "encode/VorbisComments.h"
#include "frontend/Wording.h"
#include "platform/File.h"
#include "platform/MpegFrames.h"
#include "platform/TagReader.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using Json = nlohmann::json;
using test::TempDir;

constexpr int kRate = 44100;
constexpr int kFrames = kRate + 321;  // not a multiple of any codec's frame
constexpr int kImpulses[] = {100, 1000, 3000, 40000};

// A stereo 16-bit WAV, silent but for full-scale impulses (or a 700 Hz burst from `from` to `to`).
void WriteImpulses(const std::string& path, int rate, int frames, const std::vector<int>& at, int from = 0,
                   int to = 0) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2, 0);
    for (int p : at) samples[2 * p] = samples[2 * p + 1] = 30000;
    for (int i = from; i < to; ++i)
        samples[2 * i] = samples[2 * i + 1] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * 700.0 * (i - from) / rate));
    std::vector<uint8_t> b;
    test::PutTag(b, "RIFF");
    test::PutU32LE(b, static_cast<uint32_t>(36 + samples.size() * 2));
    test::PutTag(b, "WAVE");
    test::PutTag(b, "fmt ");
    test::PutU32LE(b, 16);
    test::PutU16LE(b, 1);
    test::PutU16LE(b, 2);
    test::PutU32LE(b, static_cast<uint32_t>(rate));
    test::PutU32LE(b, static_cast<uint32_t>(rate * 4));
    test::PutU16LE(b, 4);
    test::PutU16LE(b, 16);
    test::PutTag(b, "data");
    test::PutU32LE(b, static_cast<uint32_t>(samples.size() * 2));
    for (int16_t s : samples) test::PutU16LE(b, static_cast<uint16_t>(s));
    test::WriteBytes(path, b);
}

// The first channel of ffmpeg's decode (an independent decoder; oggdec for Vorbis, mpg123 for MP3).
std::vector<int16_t> Decode(const std::string& path, const std::string& scratch) {
    const std::string ext = path.substr(path.rfind('.'));
    if (ext == ".ogg") test::Run({"oggdec", "-Q", "-o", scratch + ".wav", path});
    else if (ext == ".mp3") test::Run({"mpg123", "-q", "-w", scratch + ".wav", path});
    const std::string input = ext == ".ogg" || ext == ".mp3" ? scratch + ".wav" : path;
    test::Run({"ffmpeg", "-v", "error", "-nostdin", "-y", "-i", input, "-af", "pan=mono|c0=c0", "-f", "s16le", scratch});
    const std::vector<uint8_t> b = test::ReadBytes(scratch);
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    return s;
}

// Where the loudest sample lies within `radius` of `around`.
int PeakNear(const std::vector<int16_t>& s, int around, int radius) {
    int best = -1;
    for (int i = std::max(0, around - radius); i < std::min<int>(static_cast<int>(s.size()), around + radius); ++i) {
        if (best < 0 || std::abs(s[i]) > std::abs(s[best])) best = i;
    }
    return best;
}

class ExactLength : public ::testing::Test {
protected:
    Json Convert(const std::string& format, const std::string& source, std::vector<std::string> extra = {}) const {
        std::vector<std::string> argv = {test::CliPath(), "-q", "--json", "--verify", "--settings", settings_,
                                         "-f", format, "-o", dir_ / format};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(source);
        const test::CommandResult r = test::Run(argv, {"HOME=" + dir_.path().string()});
        return Json::parse(r.out.substr(0, r.out.find('\n')), nullptr, false);
    }
    void SetUp() override { test::WriteBytes(settings_, {}); }

    TempDir dir_;
    std::string settings_ = dir_ / "settings.conf";
};

TEST_F(ExactLength, ImpulsesArriveWhereTheSourceHasThem) {
    const std::string source = dir_ / "imp.wav";
    WriteImpulses(source, kRate, kFrames, {std::begin(kImpulses), std::end(kImpulses)});
    struct Case {
        const char* format;
        const char* extension;
        int rate;            // of the output
        int shift;           // the encoder's delay left in the file
        int longerBy;        // most frames of padding at the end (M4A: FFmpeg 5 decodes past the edit list)
    };
    const Case cases[] = {
        {"mp3", "mp3", kRate, 0, 0},   {"ogg", "ogg", kRate, 0, 0},        {"m4a", "m4a", kRate, 0, 1023},
        {"opus", "opus", 48000, 0, 0}, {"aac", "aac", kRate, 1024, 2047},  {"wma", "wma", kRate, 0, 2047},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const Json result = Convert(c.format, source);
        ASSERT_TRUE(result["verified"].get<bool>()) << result.dump();
        EXPECT_EQ(result["frames_source"], kFrames);
        const std::string output = (dir_ / c.format) + "/imp." + c.extension;
        const std::vector<int16_t> decoded = Decode(output, dir_ / "scratch.raw");
        const auto expected = static_cast<int64_t>(std::llround(static_cast<double>(kFrames) * c.rate / kRate));
        const int64_t rounding = c.rate != kRate ? 1 : 0;  // of the resampler
        EXPECT_GE(static_cast<int64_t>(decoded.size()), expected + c.shift - rounding);
        EXPECT_LE(static_cast<int64_t>(decoded.size()), expected + c.longerBy + rounding);
        // Our own reader, through --verify, agrees with the independent decoder (FFmpeg 5 ignores the end of an
        // M4A edit list: ffprobe's duration tells it).
        if (std::string(c.format) == "m4a") EXPECT_EQ(test::EditListFrames(output), static_cast<size_t>(kFrames));
        else EXPECT_EQ(result["frames_output"].get<int64_t>(), static_cast<int64_t>(decoded.size()));
        for (int at : kImpulses) {
            const int where = static_cast<int>(std::lround(static_cast<double>(at) * c.rate / kRate)) + c.shift;
            EXPECT_NEAR(PeakNear(decoded, where, 200), where, 2) << "impulse at " << at;
        }
    }
}

TEST_F(ExactLength, AmrKeepsItsLengthWithinAFrameAndItsDelay) {
    // A 700 Hz burst: speech codecs smear impulses.
    const std::string source = dir_ / "burst.wav";
    WriteImpulses(source, 16000, 16000 + 77, {}, 6000, 10000);
    for (const auto& [format, rate] : {std::pair<const char*, int>{"amr", 8000}, {"awb", 16000}}) {
        SCOPED_TRACE(format);
        const Json result = Convert(format, source);
        ASSERT_TRUE(result["verified"].get<bool>()) << result.dump();
        const std::vector<int16_t> decoded = Decode((dir_ / format) + "/burst." + format, dir_ / "scratch.raw");
        const int expected = (16000 + 77) * rate / 16000;
        EXPECT_GE(static_cast<int>(decoded.size()), expected);
        EXPECT_LT(static_cast<int>(decoded.size()), expected + rate / 50);  // one 20 ms frame
        int onset = 0;
        while (onset < static_cast<int>(decoded.size()) && std::abs(decoded[onset]) < 4000) ++onset;
        // The codec's delay: under 15 ms.
        EXPECT_GE(onset, 6000 * rate / 16000);
        EXPECT_LE(onset, 6000 * rate / 16000 + rate * 15 / 1000);
    }
}

TEST_F(ExactLength, VerificationFailsOnAnyDifference) {
    const std::string source = dir_ / "a.wav";
    WriteImpulses(source, kRate, 5000, {10, 4000});
    ConvertSettings settings;
    settings.OutputFormat = kOutputWav;
    struct Case {
        std::vector<int> impulses;
        int frames;
        bool ok;
        const char* reason;
    };
    const Case cases[] = {
        {{10, 4000}, 5000, true, ""},
        {{10, 4001}, 5000, false, "sample 4000 differs from the source's"},
        {{10, 4000}, 4999, false, "the output decodes to 4999 frames, 5000 expected"},
    };
    for (const Case& c : cases) {
        const std::string output = dir_ / "out.wav";
        WriteImpulses(output, kRate, c.frames, c.impulses);
        const VerifyOutcome v = VerifyConversion(settings, kInputWav, source, output, std::nullopt, {});
        EXPECT_EQ(v.ok, c.ok) << c.reason;
        EXPECT_EQ(NoteText(v.note), *c.reason == '\0' ? std::string() : std::string("Verification failed: ") + c.reason);
        EXPECT_EQ(v.sourceFrames, 5000u);
    }
    // 24-bit samples are compared whole: one step of the lowest byte is a difference.
    const std::string deep = dir_ / "deep.wav";
    ASSERT_EQ(test::Run({"sox", "-n", "-r", "48000", "-c", "2", "-b", "24", deep, "synth", "0.1", "sine", "440"}).exitCode, 0);
    std::vector<uint8_t> bytes = test::ReadBytes(deep);
    const std::string data(bytes.begin(), bytes.end());
    const size_t at = data.find("data") + 8 + 1000 * 6;
    ASSERT_LT(at, bytes.size());
    bytes[at] ^= 1;
    test::WriteBytes(dir_ / "deep-out.wav", bytes);
    const VerifyOutcome v = VerifyConversion(settings, kInputWav, deep, dir_ / "deep-out.wav", std::nullopt, {});
    EXPECT_EQ(NoteText(v.note), "Verification failed: sample 1000 differs from the source's");
    // Each format's known offsets, in frames at the output's rate.
    struct Span {
        int32_t format;
        bool infoTag, resampled;
        uint64_t min, max;
    };
    for (const Span& s : {Span{kOutputMp3, true, false, 1000, 1000}, Span{kOutputMp3, false, false, 2304, 2304},
                          Span{kOutputAac, false, false, 2024, 3047}, Span{kOutputWma, false, false, 1000, 3047},
                          Span{kOutputAmr, false, false, 1000, 1159}, Span{kOutputOgg, false, true, 998, 1002}}) {
        const FrameSpan span = AllowedFrames(s.format, 1000, 8000, s.infoTag, s.resampled);
        EXPECT_EQ(span.min, s.min) << s.format;
        EXPECT_EQ(span.max, s.max) << s.format;
    }
}

TEST_F(ExactLength, AdtsAndFreeFormatDurationsComeFromTheFrames) {
    const std::string wav = dir_ / "t.wav";
    test::WriteSineWav(wav, kRate, 2, 3.04);
    const std::string aac = dir_ / "t.aac";
    const std::string free = dir_ / "f.mp3";
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-i", wav, "-c:a", "aac", "-b:a", "256k", aac}).exitCode, 0);
    ASSERT_EQ(test::Run({"lame", "--quiet", "--freeformat", "-b", "400", wav, free}).exitCode, 0);
    const test::CommandResult r = test::Run({test::CliPath(), "--probe", "--json", aac, free});
    std::vector<Json> lines;
    for (size_t at = 0; at < r.out.size();) {
        const size_t end = r.out.find('\n', at);
        lines.push_back(Json::parse(r.out.substr(at, end - at)));
        at = end == std::string::npos ? r.out.size() : end + 1;
    }
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0]["duration_seconds"], 3.0);  // 3.07 s with the encoder's delay and padding
    EXPECT_EQ(lines[1]["sample_rate"], kRate);
    EXPECT_EQ(lines[1]["channels"], 2);
    EXPECT_EQ(lines[1]["duration_seconds"], 3.0);
    EXPECT_NEAR(lines[1]["bitrate_kbps"].get<double>(), 400, 2);
}

TEST(FrameScans, DamagedInputEndsTheScanNotTheProgram) {
    TempDir dir;
    const auto scan = [&dir](std::vector<uint8_t> bytes, bool adts) {
        test::WriteBytes(dir / "x", bytes);
        File file;
        EXPECT_TRUE(file.Open(dir / "x", "rb"));
        return adts ? ScanAdts(file) : ScanFreeFormatMpeg(file);
    };
    // ADTS: a 7-byte header claiming 400 bytes with 10 behind it, then one claiming a length below its header.
    std::vector<uint8_t> adts = {0xFF, 0xF1, 0x50, 0x80, 0x32, 0x1F, 0xFC};
    adts.resize(17, 0);
    const auto cut = scan(adts, true);
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->frames, 1u);
    EXPECT_EQ(cut->samples, 1024u);
    EXPECT_EQ(cut->audioBytes, 17u);
    EXPECT_EQ(scan({0xFF, 0xF1, 0x50, 0x80, 0x00, 0x1F, 0xFC}, true)->frames, 0u);
    EXPECT_FALSE(scan({0xFF, 0xF1, 0x7C, 0x80, 0x32, 0x1F, 0xFC}, true).has_value());  // rate index 15
    EXPECT_FALSE(scan({}, true).has_value());
    // Free format: a lone header, one with a bit rate of its own, an ID3v2 tag claiming the whole file.
    std::vector<uint8_t> lone = {0xFF, 0xFB, 0x00, 0x00};
    lone.resize(20000, 0);
    EXPECT_FALSE(scan(lone, false).has_value());
    EXPECT_FALSE(scan({0xFF, 0xFB, 0x90, 0x00, 0, 0, 0, 0}, false).has_value());
    EXPECT_FALSE(scan({'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F, 0xFF, 0xFB, 0x00, 0x00}, false).has_value());
}

TEST(FrameScans, PictureCommentsAreCheckedFieldByField) {
    const TagPicture good{4, "image/png", "back \xE2\x9C\x93", {0x89, 'P', 'N', 'G', 1, 2, 3}};
    const std::vector<uint8_t> block = FlacPictureBlock(good);
    TagPicture read;
    ASSERT_TRUE(PictureFromVorbisComment(Base64Encode(block), read));
    EXPECT_EQ(read.type, 4);
    EXPECT_EQ(read.mimeType, "image/png");
    EXPECT_EQ(read.description, good.description);
    EXPECT_EQ(read.data, good.data);
    // Each length field in turn claims more than the block holds; then no data, bad text, bad padding.
    for (const size_t lengthAt : {size_t{4}, size_t{4 + 4 + 9}, block.size() - good.data.size() - 4}) {
        std::vector<uint8_t> bad = block;
        bad[lengthAt] = 0x7F;
        EXPECT_FALSE(PictureFromVorbisComment(Base64Encode(bad), read)) << lengthAt;
    }
    std::vector<uint8_t> empty(block.begin(), block.end() - static_cast<long>(good.data.size()));
    empty[empty.size() - 1] = 0;
    EXPECT_FALSE(PictureFromVorbisComment(Base64Encode(empty), read));
    EXPECT_FALSE(PictureFromVorbisComment("AAAA!AAA", read));
    EXPECT_FALSE(PictureFromVorbisComment(Base64Encode(block) + "===", read));
    EXPECT_FALSE(PictureFromVorbisComment("", read));
    EXPECT_EQ(read.data, good.data);  // untouched by the failures
}

}  // namespace
}  // namespace pelloran
