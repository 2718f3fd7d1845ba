#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "decode/G711.h"
#include "decode/MsAdpcm.h"
#include "decode/Readers.h"
#include "decode/WavReader.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using namespace test;
using Bytes = std::vector<uint8_t>;

// Everything the reader delivers for one file; 8-bit output is widened to signed 16 bits.
struct Decoded {
    bool opened = false, oversizedRead = false, positionPastLength = false;
    int rate = 0, channels = 0, outputChannels = 0, bits = 0, duration = 0, bitrate = 0;
    uint64_t length = 0;
    std::vector<int16_t> samples;  // interleaved, outputChannels per frame
};

Decoded DecodeAll(const std::string& path) {
    Decoded d;
    WavReader r;
    if (!(d.opened = r.Open(path, 0) != 0)) return d;
    d.rate = r.GetSampleRate(), d.channels = r.GetChannels(), d.outputChannels = r.Format().channels;
    d.bits = r.Format().bits, d.duration = r.GetDurationSeconds(), d.bitrate = r.GetBitrateKbps();
    d.length = r.GetLength();
    std::vector<int32_t> planes[kMaxChannels];
    int32_t* pointers[kMaxChannels] = {};
    for (int c = 0; c < d.outputChannels; ++c) {
        planes[c].resize(kBlockFrames);
        pointers[c] = planes[c].data();
    }
    for (int n, guard = 0; guard < 100000 && (n = r.Read(pointers)) > 0; ++guard) {
        if ((d.oversizedRead = n > kBlockFrames)) break;
        d.positionPastLength |= r.GetPosition() > r.GetLength();
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < d.outputChannels; ++c) {
                const int32_t v = planes[c][static_cast<size_t>(i)];
                d.samples.push_back(static_cast<int16_t>(d.bits == 8 ? v * 256 : v >> (d.bits - 16)));
            }
        }
    }
    return d;
}

Bytes Chunk(const char* id, const Bytes& body) {
    Bytes out;
    PutTag(out, id);
    PutU32LE(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 == 1) out.push_back(0);  // pad byte
    return out;
}

Bytes Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t align, uint16_t bits, const Bytes& extension = {}) {
    Bytes body;
    PutU16LE(body, tag);
    PutU16LE(body, channels);
    PutU32LE(body, rate);
    PutU32LE(body, rate * align);
    PutU16LE(body, align);
    PutU16LE(body, bits);
    body.insert(body.end(), extension.begin(), extension.end());
    return Chunk("fmt ", body);
}

Bytes Riff(const std::vector<Bytes>& chunks) {
    Bytes out;
    PutTag(out, "RIFF");
    PutU32LE(out, 0);  // ignored by the reader
    PutTag(out, "WAVE");
    for (const auto& c : chunks) out.insert(out.end(), c.begin(), c.end());
    return out;
}

Bytes Pcm16(const std::vector<int16_t>& values) {
    Bytes out;
    for (int16_t v : values) PutU16LE(out, static_cast<uint16_t>(v));
    return out;
}

// Microsoft ADPCM extension with the seven standard coefficient pairs (or none).
Bytes MsExtension(uint16_t samplesPerBlock, bool withPairs = true) {
    static const int16_t kPairs[14] = {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232};
    Bytes out;
    PutU16LE(out, withPairs ? 32 : 4);
    PutU16LE(out, samplesPerBlock);
    PutU16LE(out, withPairs ? 7 : 0);
    for (int i = 0; withPairs && i < 14; ++i) PutU16LE(out, static_cast<uint16_t>(kPairs[i]));
    return out;
}

Bytes ImaExtension(uint16_t samplesPerBlock) {
    return {2, 0, static_cast<uint8_t>(samplesPerBlock), static_cast<uint8_t>(samplesPerBlock >> 8)};
}
const Bytes kGsmExtension = {2, 0, 0x40, 0x01};  // 320 samples per block

class WavFiles : public ::testing::Test {
protected:
    Decoded DecodeBytes(const Bytes& bytes) {
        WriteBytes(dir / "t.wav", bytes);
        return DecodeAll(dir / "t.wav");
    }
    TempDir dir;
};

// --- files written by independent tools ---

enum class Oracle {
    Sndfile,       // libsndfile's 16-bit decode
    SndfileFloat,  // libsndfile's float decode at the 32768 scale (its 16-bit read of float data is unscaled)
    Ffmpeg,        // libsndfile, plus an exact check against ffmpeg's 16-bit decode
    Sox,           // sox's 16-bit decode, for what libsndfile does not read
};

struct ToolCase {
    const char* name;
    std::vector<std::string> argv;  // "{in}": a 16-bit sine made by the test; "{out}": the file to check
    int tolerance;                  // largest |difference| from libsndfile
    int rate = 22050, channels = 2;
    Oracle oracle = Oracle::Sndfile;
    int frameSlack = 0;  // frames libsndfile may decode past the reader (a trailing partial block)
};

std::vector<std::string> Sox(std::vector<std::string> argv, const char* rate = "22050", const char* channels = "2") {
    argv.insert(argv.begin(), {"sox", "-n", "-r", rate, "-c", channels});
    argv.insert(argv.end(), {"{out}", "synth", "1", "sine", "440", "sine", "660", "gain", "-3"});
    return argv;
}
std::vector<std::string> Ffmpeg(const char* codec,
                                const char* source = "0.5*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=22050") {
    const std::string input = std::string("aevalsrc=") + source + ":d=1";
    return {"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", input, "-c:a", codec, "{out}"};
}
// The same file as RF64, its sizes in a "ds64" chunk.
std::vector<std::string> Rf64(std::vector<std::string> argv) {
    argv.insert(argv.end() - 1, {"-rf64", "always"});
    return argv;
}
std::vector<std::string> Convert(const char* encoding) { return {"sndfile-convert", encoding, "{in}", "{out}"}; }

// Tolerances: integer PCM and G.711 decode identically (24/32-bit: both keep the top 16 bits). Float: the
// reader truncates what libsndfile's value rounds (1 LSB). IMA ADPCM: same arithmetic. Microsoft ADPCM:
// libsndfile floors the prediction where the reader truncates towards zero, an error that grows within a
// block (measured up to 75 LSB), so ffmpeg, which truncates too, must agree exactly. GSM: libgsm in both, but
// libsndfile also decodes a trailing partial block. Four-channel IMA ADPCM: sox's decoder, exact.
const ToolCase kToolCases[] = {
    {"sox_pcm16", Sox({"-b", "16"}), 0},
    {"sox_pcm8", Sox({"-b", "8"}), 0},
    {"sox_pcm24", Sox({"-b", "24"}), 0},
    {"sox_pcm32", Sox({"-b", "32"}), 0},
    {"sox_float32", Sox({"-e", "floating-point", "-b", "32"}), 1, 22050, 2, Oracle::SndfileFloat},
    {"sox_float64", Sox({"-e", "floating-point", "-b", "64"}), 1, 22050, 2, Oracle::SndfileFloat},
    {"sox_alaw", Sox({"-e", "a-law"}), 0},
    {"sox_ulaw", Sox({"-e", "u-law"}), 0},
    {"sox_msadpcm", Sox({"-e", "ms-adpcm"}), 128, 22050, 2, Oracle::Ffmpeg},
    {"sox_imaadpcm", Sox({"-e", "ima-adpcm"}), 0},
    {"sox_gsm", Sox({"-e", "gsm-full-rate"}, "8000", "1"), 0, 8000, 1, Oracle::Sndfile, 320},
    {"sox_pcm16_6ch", Sox({"-b", "16"}, "22050", "6"), 0, 22050, 6},
    {"sox_ulaw_3ch", Sox({"-e", "u-law"}, "22050", "3"), 0, 22050, 3},
    {"sox_imaadpcm_4ch", Sox({"-e", "ima-adpcm"}, "22050", "4"), 0, 22050, 4, Oracle::Sox},
    {"ffmpeg_pcm_u8", Ffmpeg("pcm_u8"), 0},
    {"ffmpeg_pcm_s24le", Ffmpeg("pcm_s24le"), 0},
    {"ffmpeg_pcm_f32le", Ffmpeg("pcm_f32le"), 1, 22050, 2, Oracle::SndfileFloat},
    {"ffmpeg_pcm_f64le", Ffmpeg("pcm_f64le"), 1, 22050, 2, Oracle::SndfileFloat},
    {"ffmpeg_pcm_mulaw", Ffmpeg("pcm_mulaw"), 0},
    {"ffmpeg_adpcm_ms", Ffmpeg("adpcm_ms"), 128, 22050, 2, Oracle::Ffmpeg},
    {"ffmpeg_adpcm_ima_wav", Ffmpeg("adpcm_ima_wav"), 0},
    {"ffmpeg_gsm_ms", Ffmpeg("gsm_ms", "0.5*sin(2*PI*440*t):s=8000"), 0, 8000, 1, Oracle::Sndfile, 320},
    {"ffmpeg_rf64_pcm_s24le", Rf64(Ffmpeg("pcm_s24le")), 0},
    {"sndfile_pcm24", Convert("-pcm24"), 0},
    {"sndfile_float64", Convert("-float64"), 1, 22050, 2, Oracle::SndfileFloat},
    {"sndfile_alaw", Convert("-alaw"), 0},
    {"sndfile_ms_adpcm", Convert("-ms-adpcm"), 128, 22050, 2, Oracle::Ffmpeg},
    {"sndfile_ima_adpcm", Convert("-ima-adpcm"), 0},
    {"sndfile_gsm610", Convert("-gsm610"), 0, 8000, 1, Oracle::Sndfile, 320},
};

SndfileAudio DecodeFloatWithSndfile(const std::string& path) {
    SndfileAudio audio;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return audio;
    std::vector<double> values(static_cast<size_t>(info.frames * info.channels));
    values.resize(static_cast<size_t>(sf_readf_double(file, values.data(), info.frames) * info.channels));
    sf_close(file);
    audio.rate = info.samplerate;
    audio.channels = info.channels;
    for (double v : values) {
        audio.samples.push_back(static_cast<int16_t>(std::clamp(std::lrint(v * 32768.0), -32768L, 32767L)));
    }
    return audio;
}

// Checks the frame count against a reference decode and returns the largest sample difference.
int CompareDecodes(const Decoded& d, const SndfileAudio& ref, size_t frameSlack) {
    const size_t refFrames = ref.samples.size() / static_cast<size_t>(ref.channels);
    const size_t frames = d.samples.size() / static_cast<size_t>(d.outputChannels);
    EXPECT_TRUE(frames <= refFrames && refFrames - frames <= frameSlack) << frames << " vs " << refFrames;
    int maxDiff = 0;
    for (size_t f = 0; f < std::min(frames, refFrames); ++f) {
        for (size_t c = 0; c < static_cast<size_t>(d.outputChannels); ++c) {
            const int diff = d.samples[f * static_cast<size_t>(d.outputChannels) + c] -
                             ref.samples[f * static_cast<size_t>(ref.channels) + c];
            maxDiff = std::max(maxDiff, std::abs(diff));
        }
    }
    return maxDiff;
}

class ToolWritten : public ::testing::TestWithParam<ToolCase> {};

TEST_P(ToolWritten, MatchesIndependentDecoders) {
    const ToolCase& c = GetParam();
    if (!HaveTool(c.argv[0])) GTEST_SKIP() << c.argv[0] << " is not installed";
    TempDir dir;
    const std::string out = dir / "out.wav";
    WriteSineWav(dir / "in.wav", c.rate, c.channels, 1.0);
    std::vector<std::string> argv = c.argv;
    for (auto& a : argv) a = a == "{in}" ? dir / "in.wav" : a == "{out}" ? out : a;
    const CommandResult made = test::Run(argv);
    ASSERT_EQ(made.exitCode, 0) << made.err;

    const std::string pcm = dir / "pcm.wav";
    if (c.oracle == Oracle::Sox) {
        ASSERT_EQ(test::Run({"sox", out, "-e", "signed", "-b", "16", pcm}).exitCode, 0);
    }
    const SndfileAudio ref = c.oracle == Oracle::SndfileFloat ? DecodeFloatWithSndfile(out)
                             : c.oracle == Oracle::Sox        ? DecodeWithSndfile(pcm)
                                                              : DecodeWithSndfile(out);
    ASSERT_FALSE(ref.samples.empty());
    const Decoded d = DecodeAll(out);
    ASSERT_TRUE(d.opened);
    EXPECT_FALSE(d.oversizedRead || d.positionPastLength);
    EXPECT_EQ(d.rate, ref.rate);
    EXPECT_EQ(d.channels, ref.channels);
    EXPECT_EQ(d.outputChannels, ref.channels);
    EXPECT_EQ(d.duration, 1);
    EXPECT_LE(CompareDecodes(d, ref, static_cast<size_t>(c.frameSlack)), c.tolerance);
    int peak = 0;
    for (int16_t v : d.samples) peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_GT(peak, 4000) << "decoded signal is nearly silent";

    if (c.oracle == Oracle::Ffmpeg && HaveTool("ffmpeg")) {
        const CommandResult decoded =
            test::Run({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", out, "-c:a", "pcm_s16le", pcm});
        ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
        EXPECT_EQ(CompareDecodes(d, DecodeWithSndfile(pcm), 0), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, ToolWritten, ::testing::ValuesIn(kToolCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- layouts and conversions ---

TEST_F(WavFiles, PadAndStrayBytesBetweenChunksArePassedOver) {
    Bytes fmt = Fmt(1, 1, 8000, 2, 16);
    fmt.insert(fmt.end(), {0x00, 0x01, 0xFF, '?'});
    const auto d =
        DecodeBytes(Riff({fmt, Chunk("LIST", {'I', 'N', 'F', 'O', 'x'}), Chunk("data", Pcm16({100, -200, 300}))}));
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.samples, (std::vector<int16_t>{100, -200, 300}));
}

TEST_F(WavFiles, WideAndMultichannelPcmKeepsEveryChannelAtItsWidth) {
    // 24-bit stereo 0x123456 and 0xFEDCBA, delivered at 24 bits (the decode keeps their top 16 here).
    auto d = DecodeBytes(Riff({Fmt(1, 2, 8000, 6, 24), Chunk("data", {0x56, 0x34, 0x12, 0xBA, 0xDC, 0xFE})}));
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.bits, 24);
    EXPECT_EQ(d.samples, (std::vector<int16_t>{0x1234, static_cast<int16_t>(0xFEDC)}));
    std::vector<int16_t> six;
    for (int i = 0; i < 18; ++i) six.push_back(static_cast<int16_t>(i % 6 * 1000 + i / 6));
    d = DecodeBytes(Riff({Fmt(1, 6, 8000, 12, 16), Chunk("data", Pcm16(six))}));
    EXPECT_EQ(d.samples, six);
    // A-law, three channels, all of them.
    d = DecodeBytes(Riff({Fmt(6, 3, 8000, 3, 8), Chunk("data", {0xD5, 0x55, 0x00, 0x55, 0xD5, 0x00})}));
    EXPECT_EQ(d.samples, (std::vector<int16_t>{8, -8, -5504, -8, 8, -5504}));
}

TEST_F(WavFiles, DataSizeIsClampedAndUnfinishedSizeReadsToEnd) {
    for (uint32_t sizeField : {0u, 0xFFFFFFFFu, 1000000u}) {
        Bytes bytes = Riff({Fmt(1, 1, 8000, 2, 16), Chunk("data", Pcm16({1, 2, 3, 4}))});
        StoreU32LE(bytes.data() + bytes.size() - 12, sizeField);
        const auto d = DecodeBytes(bytes);
        EXPECT_EQ(d.length, 8u) << sizeField;
        EXPECT_EQ(d.samples, (std::vector<int16_t>{1, 2, 3, 4}));
    }
    const auto d = DecodeBytes(Riff({Fmt(1, 2, 8000, 4, 16), Chunk("data", Bytes(8000 * 4 * 3))}));
    EXPECT_EQ(d.duration, 3);
    EXPECT_EQ(d.bitrate, 256);
}

// RF64: an all-ones data size is read from "ds64", and clamped to the file like any other; without "ds64"
// first there is no file.
TEST_F(WavFiles, Rf64DataSizeComesFromDs64) {
    const auto rf64 = [](uint64_t dataSize, bool withDs64) {
        Bytes ds64(28, 0);  // RIFF size, data size, sample count (64 bits each), table length
        StoreU32LE(ds64.data() + 8, static_cast<uint32_t>(dataSize));
        StoreU32LE(ds64.data() + 12, static_cast<uint32_t>(dataSize >> 32));
        Bytes bytes = Riff({withDs64 ? Chunk("ds64", ds64) : Bytes{}, Fmt(1, 1, 8000, 2, 16),
                            Chunk("data", Pcm16({1, 2, 3, 4}))});
        std::memcpy(bytes.data(), "RF64", 4);
        StoreU32LE(bytes.data() + bytes.size() - 12, 0xFFFFFFFFu);
        return bytes;
    };
    struct Case {
        uint64_t dataSize;
        bool ds64;
        std::vector<int16_t> samples;
    };
    for (const Case& c : {Case{4, true, {1, 2}}, Case{uint64_t{1} << 40, true, {1, 2, 3, 4}}, Case{8, false, {}}}) {
        const auto d = DecodeBytes(rf64(c.dataSize, c.ds64));
        EXPECT_EQ(d.opened, c.ds64) << c.dataSize;
        EXPECT_EQ(d.samples, c.samples) << c.dataSize;
    }
}

TEST_F(WavFiles, FloatScalesTruncatesAndSaturates) {
    const std::vector<double> in = {0.5, -0.5, 1.0, -1.0, 2.0, -3.0, std::nan(""), 0.0};
    // Rounded to 32 bits and read back at 16; beyond +-1 saturates, NaN is silence.
    const std::vector<int16_t> expected = {16384, -16384, 32767, -32768, 32767, -32768, 0, 0};
    Bytes f32, f64;
    for (double v : in) {
        const float f = static_cast<float>(v);
        uint32_t b32;
        uint64_t b64;
        std::memcpy(&b32, &f, 4);
        std::memcpy(&b64, &v, 8);
        PutU32LE(f32, b32);
        PutU32LE(f64, static_cast<uint32_t>(b64));
        PutU32LE(f64, static_cast<uint32_t>(b64 >> 32));
    }
    EXPECT_EQ(DecodeBytes(Riff({Fmt(3, 1, 8000, 4, 32), Chunk("data", f32)})).samples, expected);
    EXPECT_EQ(DecodeBytes(Riff({Fmt(3, 1, 8000, 8, 64), Chunk("data", f64)})).samples, expected);
}

TEST_F(WavFiles, G711Expansion) {
    EXPECT_EQ(UlawExpand(0xFF), 0);
    EXPECT_EQ(UlawExpand(0x00), -32124);
    EXPECT_EQ(AlawExpand(0xD5), 8);
    EXPECT_EQ(DecodeBytes(Riff({Fmt(7, 1, 8000, 1, 8), Chunk("data", {0xFF, 0x00})})).samples,
              (std::vector<int16_t>{0, -32124}));
}

// --- refusals and damaged files ---

TEST_F(WavFiles, UnsupportedOrInconsistentFormatsAreRefused) {
    Bytes cutTable = Fmt(2, 1, 8000, 256, 4, MsExtension(64));
    cutTable.resize(cutTable.size() - 4);
    StoreU32LE(cutTable.data() + 4, static_cast<uint32_t>(cutTable.size() - 8));
    const std::vector<std::pair<const char*, Bytes>> bad = {
        {"12-bit PCM", Fmt(1, 1, 8000, 2, 12)},
        {"16-bit float", Fmt(3, 1, 8000, 2, 16)},
        {"unknown tag", Fmt(0x55, 1, 8000, 1, 0)},
        {"no channels", Fmt(1, 0, 8000, 2, 16)},
        {"nine channels", Fmt(1, 9, 8000, 18, 16)},
        {"rate 0", Fmt(1, 1, 0, 2, 16)},
        {"GSM, 321 samples per block", Fmt(49, 1, 8000, 65, 0, {2, 0, 0x41, 0x01})},
        {"stereo GSM", Fmt(49, 2, 8000, 65, 0, kGsmExtension)},
        {"MS ADPCM, three channels", Fmt(2, 3, 8000, 256, 4, MsExtension(64))},
        {"MS ADPCM, block below header", Fmt(2, 1, 8000, 6, 4, MsExtension(2))},
        {"MS ADPCM, 7 samples in 9 bytes", Fmt(2, 1, 8000, 9, 4, MsExtension(7))},
        {"MS ADPCM, block align 0", Fmt(2, 1, 8000, 0, 4, MsExtension(2))},
        {"MS ADPCM, no coefficients", Fmt(2, 1, 8000, 256, 4, MsExtension(64, false))},
        {"MS ADPCM, table cut short", cutTable},
        {"IMA, block below header", Fmt(17, 1, 8000, 3, 4, ImaExtension(1))},
        {"IMA, 10 samples in 8 bytes", Fmt(17, 1, 8000, 8, 4, ImaExtension(10))},
        {"IMA, 0 samples per block", Fmt(17, 1, 8000, 256, 4, ImaExtension(0))},
    };
    for (const auto& [what, fmt] : bad) {
        EXPECT_FALSE(DecodeBytes(Riff({fmt, Chunk("data", Bytes(256))})).opened) << what;
    }
    EXPECT_TRUE(DecodeBytes(Riff({Fmt(49, 1, 8000, 65, 0, kGsmExtension), Chunk("data", Bytes(65))})).opened);
    EXPECT_TRUE(DecodeBytes(Riff({Fmt(2, 1, 8000, 9, 4, MsExtension(6)), Chunk("data", Bytes(9))})).opened);
}

TEST_F(WavFiles, BrokenStructureIsRefused) {
    const Bytes fmt = Fmt(1, 1, 8000, 2, 16), data = Chunk("data", Pcm16({1, 2}));
    Bytes bigList = Chunk("LIST", {'I', 'N', 'F', 'O'}), bigFmt = fmt, shortFmt = fmt, garbage = Riff({fmt});
    StoreU32LE(bigList.data() + 4, 0x7FFFFFF0);
    StoreU32LE(bigFmt.data() + 4, 0x10000);
    StoreU32LE(shortFmt.data() + 4, 14);
    garbage.insert(garbage.end(), 5000, 0x01);  // no letter ever follows
    EXPECT_FALSE(DecodeBytes(Riff({data, fmt})).opened);
    EXPECT_FALSE(DecodeBytes(Riff({fmt, bigList, data})).opened);
    EXPECT_FALSE(DecodeBytes(Riff({bigFmt, data})).opened);
    EXPECT_FALSE(DecodeBytes(Riff({shortFmt, data})).opened);
    EXPECT_FALSE(DecodeBytes(garbage).opened);
    EXPECT_FALSE(DecodeBytes({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '}).opened);
    // A block larger than the data decodes nothing.
    const auto d = DecodeBytes(Riff({Fmt(2, 2, 8000, 65535, 4, MsExtension(65523)), Chunk("data", Bytes(100))}));
    EXPECT_TRUE(d.opened && d.samples.empty());
}

TEST_F(WavFiles, CorruptAdpcmBlocksEndTheStreamOrSaturate) {
    // Predictor 0 (256, 0), delta 16, sample1 100, sample2 50, codes +1 and -1; the second block's predictor
    // is beyond the table.
    Bytes data = {0, 16, 0, 100, 0, 50, 0, 0x1F, 0, 9, 16, 0, 100, 0, 50, 0, 0x1F, 0, 0, 16, 0, 100, 0, 50, 0, 0x1F, 0};
    auto d = DecodeBytes(Riff({Fmt(2, 1, 8000, 9, 4, MsExtension(4)), Chunk("data", data)}));
    EXPECT_EQ(d.samples, (std::vector<int16_t>{50, 100, 116, 100}));
    // Largest codes throughout: the step grows every sample and must neither overflow nor wrap.
    Bytes block(2048, 0x77);
    block[0] = block[1] = 1;
    d = DecodeBytes(Riff({Fmt(2, 2, 8000, 2048, 4, MsExtension(2036)), Chunk("data", block)}));
    ASSERT_EQ(d.samples.size(), 2036u * 2);
    EXPECT_EQ(d.samples.back(), 32767);
}

// Every prefix of small valid files, then random byte damage: a clean refusal or a bounded stream.
TEST_F(WavFiles, TruncatedAndDamagedFilesFailCleanly) {
    Bytes ms;
    for (int b = 0; b < 3; ++b) ms.insert(ms.end(), {1, 2, 0, 10, 0, 20, 0, 0x17, 0xF3, 0x44, 0x80});
    const std::vector<Bytes> files = {
        Riff({Fmt(2, 1, 8000, 11, 4, MsExtension(10)), Chunk("data", ms)}),
        Riff({Fmt(17, 2, 8000, 24, 4, ImaExtension(17)), Chunk("data", Bytes(48, 0x5A))}),
        Riff({Fmt(49, 1, 8000, 65, 0, kGsmExtension), Chunk("data", Bytes(130, 0xA5))}),
        Riff({Fmt(1, 2, 8000, 6, 24), Chunk("LIST", {'I', 'N', 'F', 'O', 'x'}), Chunk("data", Bytes(60, 0x33))}),
        Riff({Fmt(0xFFFE, 2, 8000, 8, 32), Chunk("data", Bytes(64, 0x3F))}),
    };
    std::mt19937 rng(1234);
    for (const Bytes& full : files) {
        const size_t wholeSize = DecodeBytes(full).samples.size();
        ASSERT_GT(wholeSize, 0u);
        for (size_t n = 0; n < full.size(); ++n) {
            const auto d = DecodeBytes(Bytes(full.begin(), full.begin() + static_cast<long>(n)));
            EXPECT_FALSE(d.oversizedRead || d.positionPastLength) << n;
            EXPECT_LE(d.samples.size(), wholeSize) << n;
        }
        for (int round = 0; round < 300; ++round) {
            Bytes damaged = full;
            for (int k = 0; k < 4; ++k) damaged[rng() % damaged.size()] = static_cast<uint8_t>(rng());
            const auto d = DecodeBytes(damaged);
            EXPECT_FALSE(d.oversizedRead || d.positionPastLength);
        }
    }
}

TEST_F(WavFiles, ReaderIsReusableAndMadeByTheFactory) {
    const std::string good = dir / "a.wav", bad = dir / "b.wav";
    WriteBytes(good, Riff({Fmt(1, 1, 8000, 1, 8), Chunk("data", {1, 2, 3})}));
    WriteBytes(bad, {'R', 'I', 'F', 'F'});
    auto reader = MakeWavReader();
    ASSERT_NE(reader, nullptr);
    uint8_t left[kBlockFrames], right[kBlockFrames];
    ASSERT_NE(reader->Open(good, 0), 0);
    EXPECT_EQ(reader->Format().bits, 8);
    EXPECT_EQ(ReadEight(*reader, left, right), 3);
    EXPECT_EQ(left[2], 3);
    EXPECT_EQ(ReadEight(*reader, left, right), 0);
    EXPECT_EQ(reader->Open(bad, 0), 0);
    EXPECT_EQ(reader->GetSampleRate(), 0);
    EXPECT_EQ(ReadEight(*reader, left, right), 0);
    ASSERT_NE(reader->Open(good, 0), 0);
    EXPECT_EQ(ReadEight(*reader, left, right), 3);
}

}  // namespace
}  // namespace pelloran
