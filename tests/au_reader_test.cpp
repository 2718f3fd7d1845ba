#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "decode/Readers.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using namespace pelloran::test;

struct Decoded {
    bool opened = false;
    int rate = 0;
    int channels = 0;
    int outputChannels = 0;
    int duration = 0;
    uint64_t length = 0;
    std::vector<int16_t> samples;  // interleaved by output channel
};

Decoded DecodeAu(const std::string& path) {
    Decoded d;
    auto reader = MakeAuReader();
    if (!reader || !reader->Open(path, 0)) return d;
    d.opened = true;
    d.rate = reader->GetSampleRate();
    d.channels = reader->GetChannels();
    d.outputChannels = reader->Format().channels;
    d.duration = reader->GetDurationSeconds();
    d.length = reader->GetLength();
    const int bits = reader->Format().bits;
    EXPECT_TRUE(bits == 16 || bits == 24 || bits == 32);
    for (const int32_t v : ReadAllSamples(*reader)) d.samples.push_back(static_cast<int16_t>(v >> (bits - 16)));
    return d;
}


std::vector<uint8_t> AuHeader(const char* magic, bool bigEndian, uint32_t offset, uint32_t size, uint32_t encoding,
                              uint32_t rate, uint32_t channels) {
    std::vector<uint8_t> out(magic, magic + 4);
    for (uint32_t v : {offset, size, encoding, rate, channels}) {
        bigEndian ? PutU32BE(out, v) : PutU32LE(out, v);
    }
    out.resize(offset, 0);
    return out;
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) { out.insert(out.end(), more.begin(), more.end()); }

// Raw G.726 codes from ffmpeg, packed from the least significant bit as AU files store them.
std::vector<uint8_t> G726Codes(const TempDir& dir, int kbps, double frequency, double seconds) {
    const std::string raw = dir / ("g726_" + std::to_string(kbps) + "_" + std::to_string(int(frequency)) + ".raw");
    const auto r = test::Run({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "sine=frequency=" + std::to_string(frequency) + ":duration=" + std::to_string(seconds) +
                            ":sample_rate=8000",
                        "-c:a", "g726le", "-b:a", std::to_string(kbps) + "k", "-f", "g726le", raw});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return ReadBytes(raw);
}

// The same from a loud signal (0.95 of full scale), whose reconstruction can pass the 16-bit range.
std::vector<uint8_t> LoudG726Codes(const TempDir& dir, int kbps) {
    const std::string raw = dir / ("loud_" + std::to_string(kbps) + ".raw");
    const auto r = test::Run({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                              "aevalsrc=0.95*sin(2*PI*440*t)+0.04*sin(2*PI*3100*t):s=8000:d=3", "-c:a", "g726le",
                              "-b:a", std::to_string(kbps) + "k", "-f", "g726le", raw});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return ReadBytes(raw);
}

// sox's decode of an AU file, as 16-bit samples.
std::vector<int16_t> SoxDecode(const TempDir& dir, const std::string& au) {
    const std::string wav = au + ".sox.wav";
    const auto r = test::Run({"sox", "-V1", au, "-e", "signed", "-b", "16", wav});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    (void)dir;
    return DecodeWithSndfile(wav).samples;
}

// A G.72x coding: bit rate and AU encoding number.
struct G72xCase {
    int kbps;
    uint32_t encoding;
};

class AuReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("sox") || !HaveTool("ffmpeg") || !HaveTool("sndfile-convert")) GTEST_SKIP() << "tools missing";
    }
    TempDir dir;
};

TEST_F(AuReaderTest, SoxFilesMatchAnIndependentDecoder) {
    // The reference is libsndfile, except where it cannot serve: its 16-bit read of float data is not
    // scaled, and it does not know sox's little-endian magic (0x0064732E). There sox decodes without
    // dither; it rounds floats to integers where this reader truncates, hence a tolerance of 1 for floats.
    struct Case {
        std::vector<std::string> args;
        int channels;
        bool soxReference;
        int tolerance;
    };
    const std::vector<Case> cases = {
        {{"-e", "signed", "-b", "8"}, 1, false, 0},
        {{"-e", "signed", "-b", "16"}, 2, false, 0},
        {{"-e", "signed", "-b", "24"}, 2, false, 0},
        {{"-e", "signed", "-b", "32"}, 1, false, 0},
        {{"-e", "u-law"}, 2, false, 0},
        {{"-e", "a-law"}, 1, false, 0},
        {{"-e", "floating-point", "-b", "32"}, 2, true, 1},
        {{"-e", "floating-point", "-b", "64"}, 1, true, 1},
        {{"-e", "signed", "-b", "16", "-L"}, 2, true, 0},
        {{"-e", "signed", "-b", "24", "-L"}, 1, true, 0},
        {{"-e", "signed", "-b", "32", "-L"}, 2, true, 0},
        {{"-e", "floating-point", "-b", "32", "-L"}, 1, true, 1},
        {{"-e", "floating-point", "-b", "64", "-L"}, 2, true, 1},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string path = dir / ("sox" + std::to_string(n++) + ".au");
        std::vector<std::string> argv = {"sox", "-V1", "-n", "-r", "11025", "-c", std::to_string(c.channels)};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        for (const char* s : {path.c_str(), "synth", "0.7", "sine", "440", "sine", "1000", "vol", "0.9"}) argv.push_back(s);
        ASSERT_EQ(test::Run(argv).exitCode, 0) << path;
        std::vector<int16_t> reference;
        if (c.soxReference) {
            // Decoded to 32 bits so that libsndfile's 16-bit read of it keeps the top bits, as this reader does.
            ASSERT_EQ(test::Run({"sox", "-V1", "-D", path, "-e", "signed", "-b", "32", path + ".wav"}).exitCode, 0);
            reference = DecodeWithSndfile(path + ".wav").samples;
        } else {
            reference = DecodeWithSndfile(path).samples;
        }
        const Decoded ours = DecodeAu(path);
        std::string label;
        for (const auto& a : c.args) label += a + " ";
        SCOPED_TRACE(label);
        ASSERT_TRUE(ours.opened);
        EXPECT_EQ(ours.rate, 11025);
        EXPECT_EQ(ours.channels, c.channels);
        EXPECT_EQ(ours.samples.size(), size_t(7717 * c.channels));
        const int diff = MaxDifference(ours.samples, reference);
        EXPECT_GE(diff, 0) << "ours " << ours.samples.size() << " reference " << reference.size();
        EXPECT_LE(diff, c.tolerance);
    }
}

TEST_F(AuReaderTest, LittleEndianDnsFileReadsHeaderAndSamplesInThatOrder) {
    // sndfile-convert writes the "dns." magic for little-endian AU.
    const std::string wav = dir / "in.wav";
    const std::string au = dir / "le.au";
    WriteSineWav(wav, 22050, 2, 0.3);
    ASSERT_EQ(test::Run({"sndfile-convert", "-endian=little", "-pcm16", wav, au}).exitCode, 0);
    const auto bytes = ReadBytes(au);
    ASSERT_GE(bytes.size(), 4u);
    ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "dns.");
    const Decoded ours = DecodeAu(au);
    ASSERT_TRUE(ours.opened);
    EXPECT_EQ(ours.rate, 22050);
    EXPECT_EQ(ours.outputChannels, 2);
    EXPECT_EQ(MaxDifference(ours.samples, DecodeWithSndfile(wav).samples), 0);

    // A hand-made one: every header field and sample little-endian.
    auto file = AuHeader("dns.", false, 24, 8, 3, 16000, 2);
    for (uint16_t v : {0x1234, 0xFEDC, 0x0001, 0x8000}) PutU16LE(file, v);
    WriteBytes(dir / "hand.au", file);
    const Decoded hand = DecodeAu(dir / "hand.au");
    ASSERT_TRUE(hand.opened);
    EXPECT_EQ(hand.rate, 16000);
    EXPECT_EQ(hand.samples, (std::vector<int16_t>{0x1234, int16_t(0xFEDC), 1, -32768}));
}

TEST_F(AuReaderTest, HeaderFieldsOutsideTheirRanges) {
    // Rate 0 reads at 8000 Hz; 5 channels read as mono.
    auto file = AuHeader(".snd", true, 24, 4, 2, 0, 5);
    for (uint8_t b : {0x01, 0x7F, 0x80, 0xFF}) file.push_back(b);
    WriteBytes(dir / "odd.au", file);
    Decoded d = DecodeAu(dir / "odd.au");
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.rate, 8000);
    EXPECT_EQ(d.channels, 1);
    EXPECT_EQ(d.outputChannels, 1);
    EXPECT_EQ(d.samples, (std::vector<int16_t>{256, 32512, -32768, -256}));

    // The old DEC big-endian magic and a rate above 100000.
    file = AuHeader(std::string("\x2E\x73\x64\x00", 4).c_str(), true, 32, 2, 3, 200000, 1);
    PutU16BE(file, 0x0102);
    WriteBytes(dir / "dec.au", file);
    d = DecodeAu(dir / "dec.au");
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.rate, 8000);
    EXPECT_EQ(d.samples, std::vector<int16_t>{0x0102});

    // Zero channels are refused.
    WriteBytes(dir / "zero.au", AuHeader(".snd", true, 24, 0, 3, 8000, 0));
    EXPECT_FALSE(DecodeAu(dir / "zero.au").opened);
}

TEST_F(AuReaderTest, DataSizeAllOnesRunsToTheEndAndLyingSizesAreCut) {
    auto file = AuHeader(".snd", true, 28, 0xFFFFFFFF, 3, 8000, 1);
    for (int i = 0; i < 3000; ++i) PutU16BE(file, static_cast<uint16_t>(i * 7));
    WriteBytes(dir / "open.au", file);
    Decoded d = DecodeAu(dir / "open.au");
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.length, 6000u);
    ASSERT_EQ(d.samples.size(), 3000u);
    EXPECT_EQ(d.samples[2999], static_cast<int16_t>(2999 * 7));

    // A stated size beyond the file: the length is what the file holds.
    file[8] = 0x00, file[9] = 0x10, file[10] = 0x00, file[11] = 0x00;  // 1 MiB
    WriteBytes(dir / "lying.au", file);
    d = DecodeAu(dir / "lying.au");
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.length, 6000u);
    EXPECT_EQ(d.samples.size(), 3000u);
    EXPECT_EQ(d.duration, 0);
}

TEST_F(AuReaderTest, EncodingFoundPastExtraHeaderWords) {
    // Encoding field holds junk; the real encoding word follows a byte later.
    std::vector<uint8_t> file;
    PutTag(file, ".snd");
    PutU32BE(file, 40);
    PutU32BE(file, 4);
    file.push_back(0xFF);             // byte 12: junk, making the word at 12 large
    PutU32BE(file, 3);                // byte 13: encoding
    PutU32BE(file, 12000);            // rate
    PutU32BE(file, 2);                // channels
    file.resize(40, 0);
    PutU16BE(file, 100);
    PutU16BE(file, static_cast<uint16_t>(-100));
    WriteBytes(dir / "shifted.au", file);
    const Decoded d = DecodeAu(dir / "shifted.au");
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.rate, 12000);
    EXPECT_EQ(d.outputChannels, 2);
    EXPECT_EQ(d.samples, (std::vector<int16_t>{100, -100}));
}

TEST_F(AuReaderTest, BadHeadersAreRefused) {
    auto headerOnly = [](std::vector<uint8_t> bytes) {
        bytes.resize(24);
        return bytes;
    };
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> bad = {
        {"magic", AuHeader("RIFF", true, 24, 0, 3, 8000, 1)},
        {"offset below 24", AuHeader(".snd", true, 16, 0, 3, 8000, 1)},
        {"offset past the end", headerOnly(AuHeader(".snd", true, 4096, 0, 3, 8000, 1))},
        {"encoding 0", AuHeader(".snd", true, 24, 0, 0, 8000, 1)},
        {"encoding 8", AuHeader(".snd", true, 24, 0, 8, 8000, 1)},
        {"encoding 24 (G.722)", AuHeader(".snd", true, 24, 0, 24, 8000, 1)},
        {"no plausible encoding", AuHeader(".snd", true, 24, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF)},
        {"short header", std::vector<uint8_t>{'.', 's', 'n', 'd', 0, 0, 0, 24, 0, 0, 0, 0}},
    };
    for (const auto& [name, bytes] : bad) {
        WriteBytes(dir / "bad.au", bytes);
        EXPECT_FALSE(DecodeAu(dir / "bad.au").opened) << name;
    }
}

TEST_F(AuReaderTest, G72xMatchesSoxBitForBit) {
    for (const G72xCase c : {G72xCase{32, 23}, G72xCase{24, 25}, G72xCase{40, 26}}) {
        SCOPED_TRACE(c.kbps);
        const auto codes = G726Codes(dir, c.kbps, 700, 1.5);
        ASSERT_FALSE(codes.empty());
        auto file = AuHeader(".snd", true, 32, static_cast<uint32_t>(codes.size()), c.encoding, 8000, 1);
        Append(file, codes);
        const std::string au = dir / ("g" + std::to_string(c.kbps) + ".au");
        WriteBytes(au, file);
        const Decoded ours = DecodeAu(au);
        ASSERT_TRUE(ours.opened);
        const auto ref = SoxDecode(dir, au);
        ASSERT_EQ(ours.samples.size(), ref.size());
        EXPECT_EQ(MaxDifference(ours.samples, ref), 0);
        EXPECT_EQ(ours.samples.size(), codes.size() * 8 / (c.kbps / 8));
    }
}

TEST_F(AuReaderTest, G72xPeaksBeyond16BitsSaturate) {
    // Near full scale the reconstructed signal can pass the 16-bit range: sox then wraps it around,
    // this reader saturates. Elsewhere the two agree, except that sox differs by one step of the
    // 14-bit signal (4) at a rare sample of such loud input (1 in 24000 here; cause not found).
    for (const G72xCase c : {G72xCase{24, 25}, G72xCase{32, 23}, G72xCase{40, 26}}) {
        SCOPED_TRACE(c.kbps);
        const auto codes = LoudG726Codes(dir, c.kbps);
        ASSERT_FALSE(codes.empty());
        auto file = AuHeader(".snd", true, 24, static_cast<uint32_t>(codes.size()), c.encoding, 8000, 1);
        Append(file, codes);
        const std::string au = dir / ("loud" + std::to_string(c.kbps) + ".au");
        WriteBytes(au, file);
        const Decoded ours = DecodeAu(au);
        ASSERT_TRUE(ours.opened);
        const auto ref = SoxDecode(dir, au);
        ASSERT_EQ(ours.samples.size(), ref.size());
        size_t saturated = 0;
        size_t steps = 0;
        for (size_t i = 0; i < ref.size(); ++i) {
            if (ours.samples[i] == ref[i]) continue;
            if (ours.samples[i] == 32767 || ours.samples[i] == -32768) {
                ++saturated;
            } else {
                ASSERT_EQ(std::abs(ours.samples[i] - ref[i]), 4) << "sample " << i;
                ++steps;
            }
        }
        EXPECT_GT(saturated, 0u);
        EXPECT_LE(steps * 10000, ref.size());
    }
}

TEST_F(AuReaderTest, G721FileOf4000BytesLastsOneSecond) {
    const auto codes = G726Codes(dir, 32, 440, 1.0);
    ASSERT_EQ(codes.size(), 4000u);
    auto file = AuHeader(".snd", true, 24, 4000, 23, 8000, 1);
    Append(file, codes);
    WriteBytes(dir / "g721.au", file);
    const Decoded d = DecodeAu(dir / "g721.au");
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.duration, 1);
    EXPECT_EQ(d.samples.size(), 8000u);
    EXPECT_EQ(d.length, 4000u);
}

TEST_F(AuReaderTest, StereoG72xKeepsOneDecoderPerChannel) {
    // Interleave the codes of two mono streams: each channel must decode as its own stream does.
    for (const int kbps : {24, 32, 40}) {
        SCOPED_TRACE(kbps);
        const int bits = kbps / 8;
        const uint32_t encoding = bits == 3 ? 25 : bits == 4 ? 23 : 26;
        const auto a = G726Codes(dir, kbps, 500, 0.6);
        const auto b = G726Codes(dir, kbps, 1300, 0.6);
        ASSERT_EQ(a.size(), b.size());
        auto unpack = [bits](const std::vector<uint8_t>& bytes) {
            std::vector<uint32_t> codes;
            uint32_t buffer = 0;
            int count = 0;
            for (uint8_t byte : bytes) {
                buffer |= uint32_t{byte} << count;
                count += 8;
                while (count >= bits) {
                    codes.push_back(buffer & ((1u << bits) - 1));
                    buffer >>= bits;
                    count -= bits;
                }
            }
            return codes;
        };
        const auto codesA = unpack(a);
        const auto codesB = unpack(b);
        std::vector<uint8_t> packed;
        uint32_t buffer = 0;
        int count = 0;
        for (size_t i = 0; i < codesA.size(); ++i) {
            for (uint32_t code : {codesA[i], codesB[i]}) {
                buffer |= code << count;
                count += bits;
                while (count >= 8) {
                    packed.push_back(static_cast<uint8_t>(buffer));
                    buffer >>= 8;
                    count -= 8;
                }
            }
        }
        auto makeAu = [&](const std::string& name, const std::vector<uint8_t>& data, uint32_t channels) {
            auto file = AuHeader(".snd", true, 32, static_cast<uint32_t>(data.size()), encoding, 8000, channels);
            Append(file, data);
            WriteBytes(dir / name, file);
            return dir / name;
        };
        const auto refA = SoxDecode(dir, makeAu("a.au", a, 1));
        const auto refB = SoxDecode(dir, makeAu("b.au", b, 1));
        const Decoded stereo = DecodeAu(makeAu("ab.au", packed, 2));
        ASSERT_TRUE(stereo.opened);
        ASSERT_EQ(stereo.outputChannels, 2);
        const size_t frames = stereo.samples.size() / 2;
        ASSERT_GE(frames + 1, codesA.size());
        ASSERT_LE(frames, refA.size());
        for (size_t i = 0; i < frames; ++i) {
            ASSERT_EQ(stereo.samples[2 * i], refA[i]) << "left frame " << i;
            ASSERT_EQ(stereo.samples[2 * i + 1], refB[i]) << "right frame " << i;
        }
    }
}

TEST_F(AuReaderTest, EveryPrefixOfValidFilesIsHandled) {
    std::vector<std::string> files;
    for (const char* enc : {"u-law", "signed"}) {
        const std::string path = dir / (std::string("p_") + enc + ".au");
        ASSERT_EQ(test::Run({"sox", "-V1", "-n", "-r", "8000", "-c", "2", "-e", enc, path, "synth", "0.02", "sine", "440"})
                      .exitCode,
                  0);
        files.push_back(path);
    }
    const auto codes = G726Codes(dir, 40, 440, 0.05);
    auto g = AuHeader(".snd", true, 24, static_cast<uint32_t>(codes.size()), 26, 8000, 2);
    Append(g, codes);
    WriteBytes(dir / "p_g723.au", g);
    files.push_back(dir / "p_g723.au");

    for (const auto& path : files) {
        const auto bytes = ReadBytes(path);
        const size_t full = DecodeAu(path).samples.size();
        for (size_t cut = 0; cut < bytes.size(); ++cut) {
            const MemoryFile file(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
            const Decoded d = DecodeAu(file.path());
            if (cut < 24) {
                EXPECT_FALSE(d.opened) << path << " cut " << cut;
            }
            EXPECT_LE(d.samples.size(), full) << path << " cut " << cut;
        }
    }
}

}  // namespace
}  // namespace pelloran
