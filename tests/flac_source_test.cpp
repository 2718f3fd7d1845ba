#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "decode/BassDecoder.h"
#include "decode/DecoderFactory.h"
#include "decode/FfmpegSource.h"
#include "decode/FlacSource.h"
#include "decode/WavSource.h"
#include "platform/File.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

constexpr FfmpegSource::Options kNarrow{DemuxerSet::GeneralReader, true, false};
constexpr FfmpegSource::Options kWide{DemuxerSet::GeneralReader, true, false, true};

bool HaveTools() { return test::HaveTool("flac") && test::HaveTool("ffmpeg") && test::HaveTool("sox"); }

// Runs a shell command in dir ($D); true when it succeeded.
bool Shell(const test::TempDir& dir, const std::string& command) {
    return test::Run({"sh", "-c", "D='" + dir.path().string() + "'; " + command}).exitCode == 0;
}

// Sox noise of the given shape as a WAV file in dir.
std::string Noise(const test::TempDir& dir, const std::string& name, int rate, int bits, int channels,
                  double seconds) {
    const std::string path = dir / name;
    EXPECT_TRUE(Shell(dir, "sox -n -r " + std::to_string(rate) + " -b " + std::to_string(bits) + " -c " +
                               std::to_string(channels) + " '" + path + "' synth " + std::to_string(seconds) +
                               " whitenoise vol 0.5 2>/dev/null"));
    return path;
}


void ExpectSame(PcmSource& ours, PcmSource& theirs, bool sameFile = true) {
    EXPECT_EQ(ours.Format().rate, theirs.Format().rate);
    EXPECT_EQ(ours.Format().channels, theirs.Format().channels);
    EXPECT_EQ(ours.Format().bits, theirs.Format().bits);
    EXPECT_EQ(ours.Format().wideBits, theirs.Format().wideBits);
    EXPECT_EQ(ours.LengthFrames(), theirs.LengthFrames());
    if (sameFile) {
        EXPECT_EQ(ours.FileBytes(), theirs.FileBytes());
    }
    const std::vector<uint8_t> a = test::ReadAllFrames(ours), b = test::ReadAllFrames(theirs);
    EXPECT_EQ(a.size(), b.size());
    EXPECT_TRUE(a == b) << "the samples differ";
    EXPECT_EQ(ours.Truncated(), theirs.Truncated());
}

// An ID3v2.3 tag with one title frame, in front of the file's bytes.
void PrependId3(const std::string& path) {
    std::vector<uint8_t> bytes = test::ReadBytes(path);
    const std::string title = "Tagged in front";
    std::vector<uint8_t> frame = {'T', 'I', 'T', '2', 0, 0, 0, static_cast<uint8_t>(title.size() + 1), 0, 0, 0};
    frame.insert(frame.end(), title.begin(), title.end());
    frame.resize(frame.size() + 100);  // padding
    std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, static_cast<uint8_t>(frame.size())};
    tag.insert(tag.end(), frame.begin(), frame.end());
    bytes.insert(bytes.begin(), tag.begin(), tag.end());
    test::WriteBytes(path, bytes);
}

TEST(FlacSource, GivesWhatTheFfmpegSourceGives) {
    if (!HaveTools()) GTEST_SKIP() << "flac, ffmpeg and sox are needed";
    struct Case {
        const char* name;
        int rate, bits, channels;
        std::string encode;  // $IN the WAV, $OUT the FLAC
        const char* title = "";
        int keep = 0;  // per cent of the file kept, 0 for all
        bool id3 = false;
        bool ffmpegDecodes = true;  // else the source WAV is the reference
    };
    const std::string flac = "flac -s -f -o \"$OUT\" \"$IN\"";
    const std::string ffmpeg = "ffmpeg -v error -y -i \"$IN\" -c:a flac \"$OUT\"";
    const Case cases[] = {
        {"s16-stereo", 44100, 16, 2, flac},
        {"s16-mono-ffmpeg", 44100, 16, 1, ffmpeg},
        {"s24-stereo-96k", 96000, 24, 2, flac},
        {"s24-ffmpeg", 48000, 24, 2, ffmpeg},
        {"u8-mono", 44100, 8, 1, flac},
        {"u8-stereo", 22050, 8, 2, flac},
        {"s16-six", 44100, 16, 6, flac + " --channel-map=none"},
        {"s24-six-ffmpeg", 48000, 24, 6, ffmpeg},
        {"s32-stereo", 44100, 32, 2, flac, "", 0, false, false},
        {"blocks-1152", 44100, 16, 2, flac + " -b 1152"},
        {"tags-and-picture", 44100, 16, 2,
         flac + " -T TITLE=Named -T ARTIST=Someone --picture=\"$D/cover.png\"", "Named"},
        {"picture-only", 44100, 16, 2, flac + " --picture=\"$D/cover.png\""},
        {"comment-no-field", 44100, 16, 2, flac + " -T REPLAYGAIN_TRACK_GAIN=-3.00"},
        {"id3-in-front", 44100, 16, 2, flac, "Tagged in front", 0, true},
        {"cut-short", 44100, 16, 2, flac, "", 30},
        {"cut-short-24", 48000, 24, 2, ffmpeg, "", 55},
        {"cut-a-little", 44100, 16, 1, flac, "", 90},
    };
    test::TempDir dir;
    ASSERT_TRUE(Shell(dir, "ffmpeg -v error -f lavfi -i color=red:s=32x32 -frames:v 1 \"$D/cover.png\""));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string wav = Noise(dir, std::string(c.name) + ".wav", c.rate, c.bits, c.channels, 5.0);
        const std::string path = dir / (std::string(c.name) + ".flac");
        std::string command = c.encode;
        for (const auto& [key, value] : {std::pair<std::string, std::string>{"$IN", wav}, {"$OUT", path}})
            command.replace(command.find(key), key.size(), value);
        ASSERT_TRUE(Shell(dir, command));
        if (c.id3) PrependId3(path);
        if (c.keep != 0) std::filesystem::resize_file(path, std::filesystem::file_size(path) * c.keep / 100);

        File file, wavFile;
        ASSERT_TRUE(file.Open(path, "rb") && wavFile.Open(wav, "rb"));
        auto ours = FlacSource::Open(file, path);
        ASSERT_TRUE(ours);
        if (!c.ffmpegDecodes) {
            // FFmpeg 5 cannot decode these; the samples must be the source's.
            EXPECT_FALSE(FfmpegSource::Open(file, path, kNarrow));
            auto narrow = WavSource::Open(wavFile, wav), wide = WavSource::Open(wavFile, wav, true);
            ASSERT_TRUE(narrow && wide);
            ExpectSame(*ours, *narrow, false);
            auto oursWide = ours->OpenWide();
            ASSERT_TRUE(oursWide);
            ExpectSame(*oursWide, *wide, false);
            continue;
        }
        auto theirs = FfmpegSource::Open(file, path, kNarrow);
        ASSERT_TRUE(theirs);
        EXPECT_EQ(ours->WideWidth(), theirs->WideWidth());
        TagRecord ourTags, theirTags;
        EXPECT_EQ(ours->ReadTags(ourTags), theirs->ReadTags(theirTags));
        EXPECT_EQ(ourTags.Title, c.title);
        EXPECT_EQ(ourTags.Title, theirTags.Title);
        EXPECT_EQ(ourTags.extra, theirTags.extra);
        EXPECT_EQ(ourTags.pictures.size(), theirTags.pictures.size());
        ExpectSame(*ours, *theirs);
        if (c.keep != 0) {
            EXPECT_EQ(ours->Truncated(), c.keep < 80);
        }

        auto oursWide = ours->OpenWide();
        auto theirsWide = FfmpegSource::Open(file, path, kWide);
        ASSERT_TRUE(oursWide && theirsWide);
        ExpectSame(*oursWide, *theirsWide);
    }
}

// Files the source leaves to FFmpeg: made by the tools, or a generated file with a few bytes changed.
TEST(FlacSource, LeavesOtherFilesAlone) {
    if (!HaveTools()) GTEST_SKIP() << "flac, ffmpeg and sox are needed";
    test::TempDir dir;
    const std::string wav = Noise(dir, "in.wav", 44100, 16, 2, 1.0);
    ASSERT_TRUE(Shell(dir, "flac -s -f -o \"$D/plain.flac\" \"$D/in.wav\""));
    ASSERT_TRUE(Shell(dir, "flac -s -f --ogg -o \"$D/ogg.oga\" \"$D/in.wav\""));
    ASSERT_TRUE(Shell(dir, "sox \"$D/in.wav\" -t raw - | flac -s -f --force-raw-format --endian=little "
                           "--sign=signed --channels=2 --bps=16 --sample-rate=44100 -c - > \"$D/no-total.flac\""));
    ASSERT_TRUE(Shell(dir, "printf 'FILE \"x.wav\" WAVE\\n  TRACK 01 AUDIO\\n    INDEX 01 00:00:00\\n' > \"$D/c.cue\" "
                           "&& flac -s -f --cuesheet=\"$D/c.cue\" -o \"$D/cue.flac\" \"$D/in.wav\""));
    const std::vector<uint8_t> plain = test::ReadBytes(dir / "plain.flac");
    struct Case {
        const char* name;
        size_t at = 0;  // where the byte goes in plain.flac, for a changed copy
        uint8_t value = 0;
    };
    const Case cases[] = {
        {"ogg.oga"}, {"no-total.flac"}, {"cue.flac"},
        {"min-block-8", 9, 8},       // minimum block size below 16
        {"rate-0", 18, 0},           // with the next: sample rate 0
        {"bits-4", 21, 0x30},        // 4 bits per sample (the rate's low nibble kept)
        {"info-size", 7, 33},        // STREAMINFO of 33 bytes
        {"not-fLaC", 3, 'c'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / c.name;
        if (c.at != 0) {
            std::vector<uint8_t> bytes = plain;
            bytes[c.at] = c.value;
            if (std::string(c.name) == "rate-0") bytes[19] = 0, bytes[20] &= 0x0F;
            if (std::string(c.name) == "bits-4") bytes[20] &= 0xFE;
            test::WriteBytes(path, bytes);
        }
        File file;
        ASSERT_TRUE(file.Open(path, "rb"));
        EXPECT_FALSE(FlacSource::Open(file, path));
    }
}

// Damaged audio ends and keeps its place: a block whose check fails gives silence of its length, as
// libFLAC decides (FFmpeg decodes it as it is); noise after the header ends the stream.
TEST(FlacSource, DamagedAudioEnds) {
    if (!HaveTools()) GTEST_SKIP() << "flac, ffmpeg and sox are needed";
    test::TempDir dir;
    Noise(dir, "in.wav", 44100, 16, 2, 2.0);
    ASSERT_TRUE(Shell(dir, "flac -s -f -o \"$D/good.flac\" \"$D/in.wav\""));
    std::vector<uint8_t> bytes = test::ReadBytes(dir / "good.flac");
    bytes[bytes.size() / 2] ^= 0x10;
    test::WriteBytes(dir / "bad-crc.flac", bytes);
    File file;
    ASSERT_TRUE(file.Open(dir / "bad-crc.flac", "rb"));
    auto source = FlacSource::Open(file, dir / "bad-crc.flac");
    ASSERT_TRUE(source);
    EXPECT_EQ(test::ReadAllFrames(*source).size(), source->LengthFrames() * 4);
    EXPECT_FALSE(source->Truncated());
}

TEST(FlacSource, GeneralReaderTakesNativeFlacWithoutFfmpeg) {
    if (!HaveTools()) GTEST_SKIP() << "flac, ffmpeg and sox are needed";
    test::TempDir dir;
    Noise(dir, "in.wav", 48000, 24, 6, 1.0);
    ASSERT_TRUE(Shell(dir, "flac -s -f --channel-map=none -o \"$D/six.flac\" \"$D/in.wav\""));
    BassDecoder decoder;
    ASSERT_TRUE(decoder.Open(dir / "six.flac", 0));
    EXPECT_NE(dynamic_cast<const FlacSource*>(decoder.Source()), nullptr);
    const PcmFormat format = decoder.Format();
    EXPECT_EQ(format.bits, 24);
    EXPECT_EQ(format.channels, 6);
    EXPECT_NE(dynamic_cast<const FlacSource*>(decoder.Source()), nullptr);

    DecoderContext context;
    ASSERT_TRUE(CreateDecoder(dir / "six.flac", InputFormatFromPath(dir / "six.flac"), 0, true, context));
    EXPECT_STREQ(ReaderName(*context.openedBy), "general");
}

}  // namespace
}  // namespace pelloran
