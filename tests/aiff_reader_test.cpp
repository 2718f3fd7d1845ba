#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <sndfile.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "decode/Readers.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using namespace pelloran::test;
using Bytes = std::vector<uint8_t>;

struct Decoded {
    bool opened = false;
    int rate = 0;
    int channels = 0;
    int outputChannels = 0;
    int bits = 0;
    int duration = 0;
    uint64_t length = 0;
    uint64_t endPosition = 0;
    std::vector<int16_t> samples;  // interleaved by output channel; 8-bit output as (byte - 128) << 8
    std::vector<uint8_t> bytes;    // 8-bit output as delivered
};

Decoded DecodeAiff(const std::string& path) {
    Decoded d;
    auto reader = MakeAiffReader();
    if (!reader || !reader->Open(path, 0)) return d;
    d.opened = true;
    d.rate = reader->GetSampleRate();
    d.channels = reader->GetChannels();
    d.outputChannels = reader->Format().channels;
    d.bits = reader->Format().bits;
    d.duration = reader->GetDurationSeconds();
    d.length = reader->GetLength();
    EXPECT_TRUE(d.bits == 8 || d.bits == 16 || d.bits == 24 || d.bits == 32);
    EXPECT_EQ(d.outputChannels, std::min(d.channels, kMaxChannels));
    std::vector<int32_t> planes[kMaxChannels];
    int32_t* pointers[kMaxChannels] = {};
    for (int c = 0; c < d.outputChannels; ++c) {
        planes[c].resize(kBlockFrames);
        pointers[c] = planes[c].data();
    }
    for (int calls = 0; calls < 1000000; ++calls) {
        const int frames = reader->Read(pointers);
        if (frames <= 0) break;
        EXPECT_LE(frames, kBlockFrames);
        for (int i = 0; i < frames; ++i) {
            for (int c = 0; c < d.outputChannels; ++c) {
                const int32_t v = planes[c][static_cast<size_t>(i)];
                if (d.bits == 8) {
                    d.bytes.push_back(static_cast<uint8_t>(v + 128));
                    d.samples.push_back(static_cast<int16_t>(v * 256));
                } else {
                    d.samples.push_back(static_cast<int16_t>(v >> (d.bits - 16)));
                }
            }
        }
    }
    d.endPosition = reader->GetPosition();
    return d;
}


// --- Hand-made files -------------------------------------------------------------------------

// 80-bit extended encoding of a positive whole rate.
Bytes Extended(uint32_t rate) {
    Bytes out(10, 0);
    if (rate == 0) return out;
    int shift = 0;
    while (((rate << shift) & 0x80000000u) == 0) ++shift;
    const int exponent = 16383 + 31 - shift;
    out[0] = static_cast<uint8_t>(exponent >> 8);
    out[1] = static_cast<uint8_t>(exponent);
    const uint32_t mantissa = rate << shift;
    for (int i = 0; i < 4; ++i) out[2 + i] = static_cast<uint8_t>(mantissa >> (24 - 8 * i));
    return out;
}

Bytes Chunk(const char* id, const Bytes& body, uint32_t statedSize) {
    Bytes out;
    PutTag(out, id);
    PutU32BE(out, statedSize);
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2) out.push_back(0);
    return out;
}
Bytes Chunk(const char* id, const Bytes& body) { return Chunk(id, body, static_cast<uint32_t>(body.size())); }

Bytes CommBody(uint16_t channels, uint32_t frames, uint16_t bits, const Bytes& rate, const char* type = nullptr) {
    Bytes body;
    PutU16BE(body, channels);
    PutU32BE(body, frames);
    PutU16BE(body, bits);
    body.insert(body.end(), rate.begin(), rate.end());
    if (type != nullptr) {
        PutTag(body, type);
        body.push_back(0);  // empty compression name, padded
        body.push_back(0);
    }
    return body;
}

Bytes SsndBody(const Bytes& data, uint32_t offset = 0) {
    Bytes body;
    PutU32BE(body, offset);
    PutU32BE(body, 0);
    body.insert(body.end(), offset, 0xEE);
    body.insert(body.end(), data.begin(), data.end());
    return body;
}

Bytes Form(bool aifc, const std::vector<Bytes>& chunks) {
    Bytes out;
    PutTag(out, "FORM");
    size_t size = 4;
    for (const auto& c : chunks) size += c.size();
    PutU32BE(out, static_cast<uint32_t>(size));
    PutTag(out, aifc ? "AIFC" : "AIFF");
    for (const auto& c : chunks) out.insert(out.end(), c.begin(), c.end());
    return out;
}

// Big-endian 16-bit frames where channel c of frame f holds (c + 1) * 1000 + f.
Bytes NumberedFrames16(int channels, int frames) {
    Bytes data;
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) PutU16BE(data, static_cast<uint16_t>((c + 1) * 1000 + f));
    }
    return data;
}

class AiffReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("sox") || !HaveTool("sndfile-convert")) GTEST_SKIP() << "tools missing";
    }

    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string path = dir / name;
        WriteBytes(path, bytes);
        return path;
    }

    // sox's decode to 32 bits, whose top 16 bits libsndfile then keeps as this reader does.
    std::vector<int16_t> SoxReference(const std::string& path) {
        const std::string wav = path + ".ref.wav";
        EXPECT_EQ(test::Run({"sox", "-V1", "-D", path, "-e", "signed", "-b", "32", wav}).exitCode, 0);
        return DecodeWithSndfile(wav).samples;
    }

    TempDir dir;
};

TEST_F(AiffReaderTest, LibsndfileFilesMatchLibsndfile) {
    const std::string stereo = dir / "stereo.wav";
    const std::string mono = dir / "mono.wav";
    WriteSineWav(stereo, 8000, 2, 2.2, 700);
    WriteSineWav(mono, 11025, 1, 0.6, 300);
    struct Case {
        std::vector<std::string> options;
        bool isMono;
    };
    const std::vector<Case> cases = {
        {{"-pcm16"}, false},   {{"-pcm24"}, false},   {{"-pcm32"}, false},
        {{"-pcms8"}, false},   {{"-pcmu8"}, false},   {{"-ulaw"}, false},
        {{"-alaw"}, false},    {{"-ima-adpcm"}, false},
        {{"-endian=little", "-pcm16"}, false},        {{"-endian=little", "-pcm32"}, false},
        {{"-gsm610"}, true},   {{"-dwvw16"}, true},   {{"-dwvw24"}, true},
        {{"-pcm16"}, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string label;
        for (const auto& o : c.options) label += o + " ";
        SCOPED_TRACE(label + (c.isMono ? "mono" : "stereo"));
        const std::string path = dir / ("sf" + std::to_string(n++) + ".aif");
        std::vector<std::string> argv = {"sndfile-convert"};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        argv.push_back(c.isMono ? mono : stereo);
        argv.push_back(path);
        ASSERT_EQ(test::Run(argv).exitCode, 0);
        const SndfileAudio ref = DecodeWithSndfile(path);
        ASSERT_FALSE(ref.samples.empty());
        const Decoded ours = DecodeAiff(path);
        ASSERT_TRUE(ours.opened);
        EXPECT_EQ(ours.rate, ref.rate);
        EXPECT_EQ(ours.channels, ref.channels);
        std::vector<int16_t> ourSamples = ours.samples;
        if (c.options[0] == "-gsm610") {
            // libsndfile stops at the COMM frame count; this reader delivers the last frame whole.
            ASSERT_GE(ourSamples.size(), ref.samples.size());
            ASSERT_LT(ourSamples.size(), ref.samples.size() + 160);
            ourSamples.resize(ref.samples.size());
        }
        EXPECT_EQ(MaxDifference(ourSamples, ref.samples), 0)
            << "ours " << ours.samples.size() << " libsndfile " << ref.samples.size();
        // The sound data is the last chunk of these files: reading ends at the end of the file.
        EXPECT_EQ(ours.length, ReadBytes(path).size());
        EXPECT_EQ(ours.endPosition, ours.length);
        EXPECT_EQ(ours.duration, static_cast<int>(ref.samples.size() / ref.channels / ref.rate));
    }
}

TEST_F(AiffReaderTest, SoxFilesMatchAnIndependentDecoder) {
    // Integers are compared with libsndfile. Its 16-bit read of float data is not scaled, so floats are
    // compared with sox's decode, which rounds where this reader truncates: a tolerance of 1.
    struct Case {
        std::string name;
        std::vector<std::string> args;
        bool floating;
    };
    const std::vector<Case> cases = {
        {"a.aiff", {"-b", "8"}, false},   {"b.aiff", {"-b", "16"}, false},
        {"c.aiff", {"-b", "24"}, false},  {"d.aiff", {"-b", "32"}, false},
        {"e.aifc", {"-b", "16"}, false},  {"f.aifc", {"-b", "24"}, false},
        {"g.aifc", {"-e", "floating-point", "-b", "32"}, true},
        {"h.aifc", {"-e", "floating-point", "-b", "64"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        std::vector<std::string> argv = {"sox", "-V1", "-n", "-r", "22050", "-c", "2"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        for (const char* s : {path.c_str(), "synth", "0.4", "sine", "440", "sine", "1200", "vol", "0.9"}) argv.push_back(s);
        ASSERT_EQ(test::Run(argv).exitCode, 0);
        const std::vector<int16_t> ref = c.floating ? SoxReference(path) : DecodeWithSndfile(path).samples;
        ASSERT_FALSE(ref.empty());
        const Decoded ours = DecodeAiff(path);
        ASSERT_TRUE(ours.opened);
        EXPECT_EQ(ours.rate, 22050);
        const int diff = MaxDifference(ours.samples, ref);
        EXPECT_GE(diff, 0) << "ours " << ours.samples.size() << " reference " << ref.size();
        EXPECT_LE(diff, c.floating ? 1 : 0);
    }
}

TEST_F(AiffReaderTest, CommChunkSizeRules) {
    const Bytes ssnd = Chunk("SSND", SsndBody(NumberedFrames16(1, 10)));
    Bytes comm = CommBody(1, 10, 16, Extended(8000));
    EXPECT_TRUE(DecodeAiff(Write("ok.aiff", Form(false, {Chunk("COMM", comm), ssnd}))).opened);

    // Plain AIFF needs exactly 18 bytes.
    Bytes longer = comm;
    longer.push_back(0);
    longer.push_back(0);
    EXPECT_FALSE(DecodeAiff(Write("comm20.aiff", Form(false, {Chunk("COMM", longer), ssnd}))).opened);

    // AIFF-C needs at least 22; a long compression name is fine.
    EXPECT_FALSE(DecodeAiff(Write("comm18.aifc", Form(true, {Chunk("COMM", comm), ssnd}))).opened);
    Bytes named = CommBody(1, 10, 16, Extended(8000), "NONE");
    named.insert(named.end(), 40, 'x');
    EXPECT_TRUE(DecodeAiff(Write("named.aifc", Form(true, {Chunk("COMM", named), ssnd}))).opened);

    // A COMM chunk that says it is larger than the file, or larger than any sane chunk.
    EXPECT_FALSE(DecodeAiff(Write("commbig.aifc", Form(true, {Chunk("COMM", named, 100000), ssnd}))).opened);
    EXPECT_FALSE(DecodeAiff(Write("commhuge.aifc", Form(true, {Chunk("COMM", named, 0xFFFFFFF0), ssnd}))).opened);
}

TEST_F(AiffReaderTest, LowerCaseSowtIsLittleEndian) {
    Bytes data;
    for (uint16_t v : {0x1234, 0x8001, 0x00FF}) PutU16LE(data, v);
    const auto d = DecodeAiff(Write(
        "sowt.aifc", Form(true, {Chunk("COMM", CommBody(1, 3, 16, Extended(44100), "sowt")), Chunk("SSND", SsndBody(data))})));
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.rate, 44100);
    EXPECT_EQ(d.samples, (std::vector<int16_t>{0x1234, int16_t(0x8001), 0x00FF}));

    // Little-endian 24 bits ("23ni" style data, "sowt" type): the two most significant bytes.
    data = {0x11, 0x22, 0x33, 0xAA, 0xBB, 0xCC};
    const auto d24 = DecodeAiff(Write(
        "sowt24.aifc", Form(true, {Chunk("COMM", CommBody(1, 2, 24, Extended(8000), "SOWT")), Chunk("SSND", SsndBody(data))})));
    ASSERT_TRUE(d24.opened);
    EXPECT_EQ(d24.samples, (std::vector<int16_t>{0x3322, int16_t(0xCCBB)}));
}

TEST_F(AiffReaderTest, EveryChannelIsDeliveredInItsOrder) {
    for (const int channels : {2, 3, 4, 6}) {
        SCOPED_TRACE(channels);
        const auto d = DecodeAiff(Write("multi.aiff", Form(false, {Chunk("COMM", CommBody(uint16_t(channels), 50, 16, Extended(48000))),
                                                                   Chunk("SSND", SsndBody(NumberedFrames16(channels, 50)))})));
        ASSERT_TRUE(d.opened);
        EXPECT_EQ(d.channels, channels);
        ASSERT_EQ(d.outputChannels, channels);
        ASSERT_EQ(d.samples.size(), 50u * channels);
        for (int f = 0; f < 50; ++f)
            for (int c = 0; c < channels; ++c) ASSERT_EQ(d.samples[f * channels + c], (c + 1) * 1000 + f);
    }
    // Six channels of 8-bit and 24-bit samples: the offsets scale with the sample width.
    Bytes data8;
    Bytes data24;
    for (int f = 0; f < 20; ++f) {
        for (int c = 0; c < 6; ++c) {
            data8.push_back(static_cast<uint8_t>(c * 10 + f));
            for (uint8_t b : {uint8_t(c * 10 + f), uint8_t(c), uint8_t(0x77)}) data24.push_back(b);
        }
    }
    auto d8 = DecodeAiff(Write("six8.aiff", Form(false, {Chunk("COMM", CommBody(6, 20, 8, Extended(8000))),
                                                         Chunk("SSND", SsndBody(data8))})));
    ASSERT_TRUE(d8.opened);
    ASSERT_EQ(d8.bytes.size(), 120u);
    EXPECT_EQ(d8.bytes[0], 128);
    EXPECT_EQ(d8.bytes[1], 128 + 10);
    EXPECT_EQ(d8.bytes[119], 128 + 50 + 19);
    auto d24 = DecodeAiff(Write("six24.aiff", Form(false, {Chunk("COMM", CommBody(6, 20, 24, Extended(8000))),
                                                           Chunk("SSND", SsndBody(data24))})));
    ASSERT_TRUE(d24.opened);
    ASSERT_EQ(d24.samples.size(), 120u);
    EXPECT_EQ(d24.samples[1], (10 << 8) | 1);
    EXPECT_EQ(d24.samples[119], ((50 + 19) << 8) | 5);

    // Five, seven and zero channels are refused.
    for (uint16_t channels : {0, 5, 7, 65535}) {
        EXPECT_FALSE(DecodeAiff(Write("bad.aiff", Form(false, {Chunk("COMM", CommBody(channels, 2, 16, Extended(8000))),
                                                                Chunk("SSND", SsndBody(Bytes(40, 0)))})))
                         .opened)
            << channels;
    }
}

TEST_F(AiffReaderTest, MonoIma4IsRefused) {
    const std::string mono = dir / "mono.wav";
    WriteSineWav(mono, 8000, 1, 0.2);
    ASSERT_EQ(test::Run({"sndfile-convert", "-ima-adpcm", mono, dir / "ima.aif"}).exitCode, 0);
    ASSERT_FALSE(DecodeWithSndfile(dir / "ima.aif").samples.empty());
    EXPECT_FALSE(DecodeAiff(dir / "ima.aif").opened);
}

TEST_F(AiffReaderTest, CommAfterSoundDataIsAccepted) {
    const Bytes comm = Chunk("COMM", CommBody(2, 30, 16, Extended(8000)));
    const Bytes ssnd = Chunk("SSND", SsndBody(NumberedFrames16(2, 30), 4));
    const Bytes anno = Chunk("ANNO", Bytes{'o', 'd', 'd'});  // odd size, padded
    const auto before = DecodeAiff(Write("before.aiff", Form(false, {comm, anno, ssnd})));
    const auto after = DecodeAiff(Write("after.aiff", Form(false, {anno, ssnd, anno, comm})));
    ASSERT_TRUE(before.opened);
    ASSERT_TRUE(after.opened);
    EXPECT_EQ(before.samples.size(), 60u);
    EXPECT_EQ(before.samples, after.samples);
    EXPECT_EQ(after.samples[1], 2000);
}

TEST_F(AiffReaderTest, RawBytesAreDeliveredUnchanged) {
    Bytes data(256);
    for (int i = 0; i < 256; ++i) data[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    const auto d = DecodeAiff(Write(
        "raw.aifc", Form(true, {Chunk("COMM", CommBody(2, 128, 8, Extended(8000), "raw ")), Chunk("SSND", SsndBody(data))})));
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.bits, 8);
    EXPECT_EQ(d.bytes, data);
}

TEST_F(AiffReaderTest, DwvwRandomStreamsDecodeAsLibsndfileDoes) {
    // Any bit string is a DWVW stream; libsndfile reads the stated frame count. (Its 12-bit DWVW
    // delivers only zeros, so 12 bits are checked by hand below.)
    std::mt19937 random(1234);
    for (const int bits : {16, 24}) {
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(std::to_string(bits) + " bits, round " + std::to_string(round));
            Bytes data(3000);
            for (auto& b : data) b = static_cast<uint8_t>(random() >> 24);
            // Runs of zero bits give long width modifiers; make some.
            if (round == 1) std::fill(data.begin() + 100, data.begin() + 140, 0);
            const uint32_t frames = 400;
            const std::string path =
                Write("dwvw.aifc", Form(true, {Chunk("COMM", CommBody(1, frames, uint16_t(bits), Extended(8000), "DWVW")),
                                               Chunk("SSND", SsndBody(data))}));
            const SndfileAudio ref = DecodeWithSndfile(path);
            ASSERT_EQ(ref.samples.size(), frames);
            const auto d = DecodeAiff(path);
            ASSERT_TRUE(d.opened);
            EXPECT_EQ(MaxDifference(d.samples, ref.samples), 0) << d.samples.size();
        }
    }
}

TEST_F(AiffReaderTest, DwvwTwelveBitStreamByHand) {
    // Modifier 0001, sign 0: width 3; bits 11 and sign 1: delta -7. Modifier 1: width stays 3;
    // bits 01 and sign 0: delta +5. The zero padding after that ends the stream.
    const Bytes data = {0x17, 0xA0};
    const auto d = DecodeAiff(Write(
        "d12.aifc", Form(true, {Chunk("COMM", CommBody(1, 0, 12, Extended(8000), "DWVW")), Chunk("SSND", SsndBody(data))})));
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.samples, (std::vector<int16_t>{-7 * 16, -2 * 16}));
}

TEST_F(AiffReaderTest, DwvwStereoDeliversPairs) {
    // The same stream read as stereo: values alternate between the channels, Read counts pairs.
    const std::string mono = dir / "mono.wav";
    WriteSineWav(mono, 8000, 1, 0.5, 500);
    ASSERT_EQ(test::Run({"sndfile-convert", "-dwvw16", mono, dir / "m.aif"}).exitCode, 0);
    const auto values = DecodeWithSndfile(dir / "m.aif").samples;
    ASSERT_EQ(values.size(), 4000u);
    Bytes bytes = ReadBytes(dir / "m.aif");
    const auto comm = std::search(bytes.begin(), bytes.end(), std::begin("COMM"), std::end("COMM") - 1);
    ASSERT_NE(comm, bytes.end());
    const size_t at = static_cast<size_t>(comm - bytes.begin()) + 8;
    bytes[at + 1] = 2;  // channels
    const uint8_t frames[4] = {0x00, 0x00, 0x07, 0xD0};  // 2000 frames
    std::copy(frames, frames + 4, bytes.begin() + static_cast<long>(at) + 2);
    auto reader = MakeAiffReader();
    ASSERT_TRUE(reader->Open(Write("s.aif", bytes), 0));
    ASSERT_EQ(reader->Format().channels, 2);
    std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
    size_t frame = 0;
    while (const int pairs = ReadSixteen(*reader, left.data(), right.data())) {
        ASSERT_GT(pairs, 0);
        for (int i = 0; i < pairs; ++i, ++frame) {
            ASSERT_LT(2 * frame + 1, values.size());
            ASSERT_EQ(left[i], values[2 * frame]) << frame;
            ASSERT_EQ(right[i], values[2 * frame + 1]) << frame;
        }
    }
    EXPECT_EQ(frame, 2000u);
}

TEST_F(AiffReaderTest, BadSampleRatesAreRefused) {
    const Bytes ssnd = Chunk("SSND", SsndBody(NumberedFrames16(1, 10)));
    auto withRate = [&](const Bytes& rate) {
        return DecodeAiff(Write("rate.aiff", Form(false, {Chunk("COMM", CommBody(1, 10, 16, rate)), ssnd}))).opened;
    };
    EXPECT_TRUE(withRate(Extended(8000)));
    EXPECT_FALSE(withRate(Extended(0)));
    EXPECT_FALSE(withRate(Bytes{0x7F, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}));                   // infinity
    EXPECT_FALSE(withRate(Bytes{0x7F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 0}));                // NaN
    EXPECT_FALSE(withRate(Bytes{0xC0, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0}));                // -8000
    EXPECT_FALSE(withRate(Bytes{0x3F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0}));                // 0.5
    EXPECT_FALSE(withRate(Bytes{0x40, 0x3E, 0x80, 0, 0, 0, 0, 0, 0, 0}));                // 2^63
    Bytes fractional = Extended(22050);
    fractional[9] = 0x01;  // 22050.000...01 truncates to 22050
    EXPECT_TRUE(withRate(fractional));
}

TEST_F(AiffReaderTest, LyingSizesAndOffsets) {
    const Bytes comm = Chunk("COMM", CommBody(1, 100, 16, Extended(8000)));
    const Bytes data = NumberedFrames16(1, 100);

    // A sound data chunk that claims more than the file holds reads what is there.
    Bytes file = Form(false, {comm, Chunk("SSND", SsndBody(data), 1000000)});
    auto d = DecodeAiff(Write("long.aiff", file));
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.samples.size(), 100u);
    EXPECT_EQ(d.endPosition, file.size());

    // An odd-sized 8-bit chunk: the pad byte is not a sample.
    Bytes odd = {1, 2, 3};
    d = DecodeAiff(Write("odd.aiff", Form(false, {Chunk("COMM", CommBody(1, 3, 8, Extended(8000))), Chunk("SSND", SsndBody(odd)),
                                                  Chunk("ANNO", Bytes{'x', 'y'})})));
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.bytes, (Bytes{129, 130, 131}));

    // Offsets past the chunk or the file, chunks shorter than their header, sizes of all ones.
    Bytes past = SsndBody(data);
    past[3] = 250;  // offset 250 > chunk
    EXPECT_FALSE(DecodeAiff(Write("past.aiff", Form(false, {comm, Chunk("SSND", past)}))).opened);
    Bytes pastFile = SsndBody(data);
    pastFile[2] = 0x10;  // offset 4096, chunk claims room for it
    EXPECT_FALSE(DecodeAiff(Write("pastfile.aiff", Form(false, {comm, Chunk("SSND", pastFile, 0x2000)}))).opened);
    EXPECT_FALSE(DecodeAiff(Write("short.aiff", Form(false, {comm, Chunk("SSND", Bytes{0, 0, 0, 0})}))).opened);
    EXPECT_FALSE(DecodeAiff(Write("ones.aiff", Form(false, {Chunk("ANNO", Bytes{'a', 'b'}, 0xFFFFFFFF), comm,
                                                            Chunk("SSND", SsndBody(data))})))
                     .opened);
    EXPECT_FALSE(DecodeAiff(Write("nossnd.aiff", Form(false, {comm}))).opened);
    EXPECT_FALSE(DecodeAiff(Write("nocomm.aiff", Form(false, {Chunk("SSND", SsndBody(data))}))).opened);

    // A frame count the data cannot hold does not stretch the duration.
    d = DecodeAiff(Write("frames.aiff", Form(false, {Chunk("COMM", CommBody(1, 0x7FFFFFFF, 16, Extended(8000))),
                                                     Chunk("SSND", SsndBody(data))})));
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.duration, 0);
    EXPECT_EQ(d.samples.size(), 100u);
}

TEST_F(AiffReaderTest, EveryPrefixOfValidFilesIsHandled) {
    const std::string stereo = dir / "stereo.wav";
    const std::string mono = dir / "mono.wav";
    WriteSineWav(stereo, 8000, 2, 0.05);
    WriteSineWav(mono, 8000, 1, 0.05);
    std::vector<std::string> files;
    const std::vector<std::pair<std::string, std::string>> kinds = {
        {"-pcm16", stereo}, {"-ima-adpcm", stereo}, {"-ulaw", stereo}, {"-gsm610", mono}, {"-dwvw16", mono}, {"-pcm24", mono}};
    for (const auto& [option, source] : kinds) {
        const std::string path = dir / ("p" + option + ".aif");
        ASSERT_EQ(test::Run({"sndfile-convert", option, source, path}).exitCode, 0);
        files.push_back(path);
    }
    for (const auto& path : files) {
        const auto bytes = ReadBytes(path);
        const size_t full = DecodeAiff(path).samples.size();
        ASSERT_GT(full, 0u) << path;
        for (size_t cut = 0; cut < bytes.size(); ++cut) {
            const MemoryFile file(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
            const auto d = DecodeAiff(file.path());
            EXPECT_LE(d.samples.size(), full) << path << " cut " << cut;
        }
    }
}

}  // namespace
}  // namespace pelloran
