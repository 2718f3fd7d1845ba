#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "decode/BassDecoder.h"
#include "decode/DecoderFactory.h"
#include "decode/FfmpegSource.h"
#include "decode/WavSource.h"
#include "platform/File.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

constexpr FfmpegSource::Options kNarrow{DemuxerSet::GeneralReader, true, false};
constexpr FfmpegSource::Options kWide{DemuxerSet::GeneralReader, true, false, true};

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void PutTag(std::vector<uint8_t>& b, const char* tag) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(tag[i]));
}

using InfoEntries = std::vector<std::pair<std::string, std::string>>;

// A LIST INFO chunk of the entries.
void PutInfo(std::vector<uint8_t>& b, const InfoEntries& entries) {
    std::vector<uint8_t> body;
    PutTag(body, "INFO");
    for (const auto& [key, text] : entries) {
        PutTag(body, key.c_str());
        Put32(body, static_cast<uint32_t>(text.size() + 1));
        body.insert(body.end(), text.begin(), text.end());
        body.push_back(0);
        if ((text.size() + 1) & 1) body.push_back(0);
    }
    PutTag(b, "LIST");
    Put32(b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
}

struct WavSpec {
    int bits = 16;
    int channels = 2;
    int frames = 3000;
    uint16_t tag = 1;           // 0xFFFE: extensible
    int validBits = 0;          // extensible: 0 for the container's width
    bool junkBefore = false;    // an odd-size chunk before the data
    bool infoBefore = false;
    bool infoAfter = false;
    int extraDataBytes = 0;     // bytes past the last whole frame (odd sizes)
    size_t cut = 0;             // bytes taken off the end of the file
    InfoEntries infoOnly = {};  // a LIST INFO of these entries after the format
    bool bext = false;          // a broadcast extension chunk after the format
};

// A WAV file of deterministic noise over the full range of the width.
std::vector<uint8_t> MakeWav(const WavSpec& s) {
    const int blockAlign = s.channels * s.bits / 8;
    const int rate = 44100;
    std::vector<uint8_t> b;
    PutTag(b, "RIFF");
    Put32(b, 0);
    PutTag(b, "WAVE");
    PutTag(b, "fmt ");
    const bool ext = s.tag == 0xFFFE;
    Put32(b, ext ? 40 : 16);
    Put16(b, s.tag);
    Put16(b, static_cast<uint32_t>(s.channels));
    Put32(b, rate);
    Put32(b, static_cast<uint32_t>(rate * blockAlign));
    Put16(b, static_cast<uint32_t>(blockAlign));
    Put16(b, static_cast<uint32_t>(s.bits));
    if (ext) {
        Put16(b, 22);
        Put16(b, static_cast<uint32_t>(s.validBits != 0 ? s.validBits : s.bits));
        Put32(b, s.channels == 6 ? 0x3F : 0);
        const uint8_t guid[16] = {1, 0, 0, 0, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        b.insert(b.end(), guid, guid + 16);
    }
    if (s.junkBefore) {
        PutTag(b, "junk");
        Put32(b, 3);
        b.insert(b.end(), {1, 2, 3, 0});
    }
    if (s.infoBefore) PutInfo(b, {{"INAM", "Before"}, {"IART", "Someone"}});
    if (!s.infoOnly.empty()) PutInfo(b, s.infoOnly);
    if (s.bext) {
        PutTag(b, "bext");
        Put32(b, 602);
        const size_t at = b.size();
        b.resize(at + 602, 0);
        std::memcpy(&b[at], "Described", 9);
    }
    const uint32_t dataBytes = static_cast<uint32_t>(s.frames * blockAlign + s.extraDataBytes);
    PutTag(b, "data");
    Put32(b, dataBytes);
    uint32_t x = 12345;
    for (uint32_t i = 0; i < dataBytes; ++i) {
        x = x * 1664525u + 1013904223u;
        b.push_back(static_cast<uint8_t>(x >> 24));
    }
    if (dataBytes & 1) b.push_back(0);
    if (s.infoAfter) PutInfo(b, {{"INAM", "After"}, {"IART", "Artist"}});
    const uint32_t riff = static_cast<uint32_t>(b.size() - 8);
    std::memcpy(&b[4], &riff, 4);
    b.resize(b.size() - s.cut);
    return b;
}

std::string Write(const test::TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}


void ExpectSame(PcmSource& ours, PcmSource& theirs) {
    EXPECT_EQ(ours.Format().rate, theirs.Format().rate);
    EXPECT_EQ(ours.Format().channels, theirs.Format().channels);
    EXPECT_EQ(ours.Format().bits, theirs.Format().bits);
    EXPECT_EQ(ours.Format().wideBits, theirs.Format().wideBits);
    EXPECT_EQ(ours.LengthFrames(), theirs.LengthFrames());
    EXPECT_EQ(ours.FileBytes(), theirs.FileBytes());
    const std::vector<uint8_t> a = test::ReadAllFrames(ours), b = test::ReadAllFrames(theirs);
    EXPECT_EQ(a.size(), b.size());
    EXPECT_TRUE(a == b) << "the samples differ";
    EXPECT_EQ(ours.Truncated(), theirs.Truncated());
}

TEST(WavSource, GivesWhatTheFfmpegSourceGives) {
    struct Case {
        const char* name;
        WavSpec spec;
    };
    const Case cases[] = {
        {"u8-mono", {.bits = 8, .channels = 1}},
        {"u8-stereo", {.bits = 8}},
        {"s16-mono", {.channels = 1}},
        {"s16-stereo-long", {.frames = 150000}},
        {"s16-six", {.channels = 6}},
        {"s24-stereo", {.bits = 24, .frames = 100000}},
        {"s24-six-ext", {.bits = 24, .channels = 6, .tag = 0xFFFE}},
        {"s32-stereo", {.bits = 32}},
        {"s32-eight-ext", {.bits = 32, .channels = 8, .tag = 0xFFFE}},
        {"s16-ext", {.tag = 0xFFFE}},
        {"s16-nine", {.channels = 9}},
        {"s24-three", {.bits = 24, .channels = 3}},
        {"odd-chunk-before", {.junkBefore = true}},
        {"info-after", {.bits = 24, .infoAfter = true}},
        {"odd-data-info-after", {.bits = 8, .channels = 1, .infoAfter = true, .extraDataBytes = 1}},
        {"partial-frame", {.bits = 24, .extraDataBytes = 4}},
        {"cut-short", {.cut = 1001}},
        {"cut-short-info-before", {.bits = 24, .infoBefore = true, .cut = 2000}},
        {"cut-short-32", {.bits = 32, .channels = 1, .cut = 3}},
        {"encoder-only", {.infoOnly = {{"ISFT", "Lavf59"}}}},
        {"engineer-only", {.infoOnly = {{"IENG", "Someone"}}}},
        {"bext", {.bext = true}},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Write(dir, std::string(c.name) + ".wav", MakeWav(c.spec));
        File file;
        ASSERT_TRUE(file.Open(path, "rb"));
        auto ours = WavSource::Open(file, path);
        auto theirs = FfmpegSource::Open(file, path, kNarrow);
        ASSERT_TRUE(ours && theirs);
        EXPECT_EQ(ours->WideWidth(), theirs->WideWidth());
        TagRecord ourTags, theirTags;
        EXPECT_EQ(ours->ReadTags(ourTags), theirs->ReadTags(theirTags));
        EXPECT_EQ(ourTags.Title, c.spec.infoAfter ? "After" : c.spec.infoBefore ? "Before" : "");
        EXPECT_EQ(ourTags.Title, theirTags.Title);
        EXPECT_EQ(ourTags.Artist, theirTags.Artist);
        EXPECT_EQ(ourTags.extra, theirTags.extra);
        ExpectSame(*ours, *theirs);

        auto oursWide = WavSource::Open(file, path, true);
        auto theirsWide = FfmpegSource::Open(file, path, kWide);
        ASSERT_EQ(oursWide != nullptr, theirsWide != nullptr);
        if (oursWide) ExpectSame(*oursWide, *theirsWide);
    }
}

// Files the source leaves to FFmpeg: each a generated file with a few bytes changed.
TEST(WavSource, LeavesOtherFilesAlone) {
    using namespace std::string_view_literals;
    struct Case {
        const char* name;
        WavSpec spec;
        size_t at = 0;  // where the bytes go
        std::string_view bytes;
    };
    const Case cases[] = {
        {"float", {.bits = 32}, 20, "\x03\x00"sv},
        {"alaw", {.bits = 8}, 20, "\x06\x00"sv},
        {"rf64", {}, 0, "RF64"sv},
        {"data-size-0", {}, 40, "\0\0\0\0"sv},
        {"data-size-max", {}, 40, "\xFF\xFF\xFF\xFF"sv},
        {"no-data", {}, 36, "dat!"sv},
        {"block-align", {}, 32, "\x06\x00"sv},
        {"width-20", {}, 34, "\x14\x00"sv},
        {"byte-rate", {}, 28, "\x01\x00"sv},
        {"fmt-too-short", {}, 16, "\x0E\0\0\0"sv},
        {"valid-bits-20", {.bits = 24, .tag = 0xFFFE, .validBits = 20}, 0, "RIFF"sv},
        {"dts-sync", {}, 1000, "\xFE\x7F\x01\x80"sv},
        {"spdif-burst", {.bits = 24}, 2000, "\x72\xF8\x1F\x4E"sv},
        {"ac3-start", {}, 44, "\x0B\x77"sv},
        {"id3-start", {}, 44, "ID3"sv},
        {"second-data", {.infoAfter = true}, 44 + 3000 * 4, "data"sv},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = MakeWav(c.spec);
        std::memcpy(&bytes[c.at], c.bytes.data(), c.bytes.size());
        const std::string path = Write(dir, std::string(c.name) + ".wav", bytes);
        File file;
        ASSERT_TRUE(file.Open(path, "rb"));
        EXPECT_FALSE(WavSource::Open(file, path));
    }
}

TEST(WavSource, GeneralReaderTakesPlainWavWithoutFfmpeg) {
    test::TempDir dir;
    const std::string plain = Write(dir, "plain.wav", MakeWav({.bits = 24, .channels = 6, .tag = 0xFFFE}));
    std::vector<uint8_t> floatBytes = MakeWav({.bits = 32});
    floatBytes[20] = 3;
    const std::string floating = Write(dir, "float.wav", floatBytes);

    BassDecoder decoder;
    ASSERT_TRUE(decoder.Open(plain, 0));
    EXPECT_NE(dynamic_cast<const WavSource*>(decoder.Source()), nullptr);
    const PcmFormat format = decoder.Format();
    EXPECT_EQ(format.bits, 24);
    EXPECT_EQ(format.channels, 6);
    EXPECT_NE(dynamic_cast<const WavSource*>(decoder.Source()), nullptr);

    ASSERT_TRUE(decoder.Open(floating, 0));
    EXPECT_NE(dynamic_cast<const FfmpegSource*>(decoder.Source()), nullptr);

    DecoderContext context;
    ASSERT_TRUE(CreateDecoder(plain, InputFormatFromPath(plain), 0, true, context));
    EXPECT_STREQ(ReaderName(*context.openedBy), "general");
}

}  // namespace
}  // namespace pelloran
