#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "encode/AacWriter.h"
#include "encode/AlacWriter.h"
#include "encode/AmrWriter.h"
#include "encode/BackgroundWriter.h"
#include "encode/FlacWriter.h"
#include "encode/Mp3Writer.h"
#include "encode/Mp4Writer.h"
#include "encode/OggWriter.h"
#include "encode/OpusWriter.h"
#include "encode/WavWriter.h"
#include "encode/WmaWriter.h"
#include "tests/encoder_fixtures.h"

namespace pelloran {
namespace {

using test::TempDir;

// Every writer through the one interface.
struct WriterCase {
    const char* name;
    const char* extension;
    const char* codec;  // as ffprobe names it
    PcmFormat format;
    std::function<std::unique_ptr<AudioWriter>()> make;
    double slack;  // seconds ffmpeg may decode beyond the input (encoder delay, padding, untrimmed ends)
};

std::vector<WriterCase> Cases() {
    const auto wma = [] {
        const WmaFormatEntry* format = LoadWmaRuntime() ? FindWmaFormat(SharedWmaFormats(), 44100, 128000, 2) : nullptr;
        return std::make_unique<WmaWriter>(WmaOptions{format != nullptr ? *format : WmaFormatEntry{}});
    };
    return {
        {"wav", "wav", "pcm_u8", {22050, 2, 8}, [] { return std::make_unique<WavWriter>(); }, 0.0},
        {"mp3", "mp3", "mp3", {44100, 2, 16}, [] { return std::make_unique<Mp3Writer>(); }, 0.08},
        {"ogg", "ogg", "vorbis", {32000, 1, 16}, [] { return std::make_unique<OggWriter>(); }, 0.05},
        {"aac", "aac", "aac", {48000, 2, 8}, [] { return std::make_unique<AacWriter>(); }, 0.05},
        {"mp4", "m4a", "aac", {44100, 1, 16}, [] { return std::make_unique<Mp4Writer>(); }, 0.05},
        {"amr", "amr", "amr_nb", {8000, 1, 16}, [] { return std::make_unique<AmrWriter>(); }, 0.02},
        {"awb", "awb", "amr_wb", {16000, 1, 16},
         [] { return std::make_unique<AmrWriter>(AmrOptions{AmrBand::Wide, 2, false}); }, 0.02},
        {"wma", "wma", "wmav2", {44100, 2, 16}, wma, 0.1},
        {"flac", "flac", "flac", {44100, 2, 16}, [] { return std::make_unique<FlacWriter>(); }, 0.0},
        {"opus", "opus", "opus", {48000, 2, 16}, [] { return std::make_unique<OpusWriter>(); }, 0.0},
        {"alac", "m4a", "alac", {22050, 1, 8}, [] { return std::make_unique<AlacWriter>(); }, 0.0},
        {"mp3 in the background", "mp3", "mp3", {44100, 2, 16},
         [] { return std::make_unique<BackgroundWriter>(std::make_unique<Mp3Writer>()); }, 0.08},
    };
}

// Half a second of a 440 Hz tone in the case's format.
void WriteTone(AudioWriter& w, const PcmFormat& f) {
    const int frames = f.rate / 2;
    std::vector<int32_t> tone(static_cast<size_t>(frames));
    const double scale = f.bits == 8 ? 60.0 : 12000.0 * (1 << (f.bits - 16));
    for (int i = 0; i < frames; ++i)
        tone[static_cast<size_t>(i)] = static_cast<int32_t>(scale * std::sin(2 * M_PI * 440.0 * i / f.rate));
    const int32_t* planes[2] = {tone.data(), tone.data()};
    ASSERT_TRUE(w.Write(planes, frames));
}

TEST(AudioWriter, EveryWriterGivesAFileTheIndependentDecoderReads) {
    TempDir dir;
    for (const WriterCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / (std::string("t.") + c.extension);
        std::unique_ptr<AudioWriter> w = c.make();
        ASSERT_TRUE(w->Open(path, c.format, {}));
        WriteTone(*w, c.format);
        ASSERT_TRUE(w->Finish());
        const auto p = test::ProbeAudio(path);
        EXPECT_EQ(p.at("codec_name"), c.codec);
        const int channels = c.codec == std::string("wmav2") ? 2 : c.format.channels;  // the format's channels
        EXPECT_EQ(p.at("channels"), std::to_string(channels));
        // FFmpeg's Vorbis decoder drops part of the first block; libsndfile keeps to the stream's granule.
        const auto audio = c.codec == std::string("vorbis") ? test::DecodeWithSndfile(path)
                                                            : test::DecodeWithFfmpeg(path, dir / "d.wav");
        const double seconds = static_cast<double>(audio.samples.size()) / channels / audio.rate;
        EXPECT_GE(seconds, 0.5 - 0.001);
        EXPECT_LE(seconds, 0.5 + c.slack + 0.001);
        EXPECT_GT(test::Rms(audio, 0, 0.1, 0.4), 1000.0);
    }
}

TEST(AudioWriter, AbortAndDestructionLeaveNothingAndRefusalsAreClean) {
    TempDir dir;
    for (const WriterCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / (std::string("a.") + c.extension);
        std::unique_ptr<AudioWriter> w = c.make();
        ASSERT_TRUE(w->Open(path, c.format, {}));
        WriteTone(*w, c.format);
        w->Abort();
        EXPECT_FALSE(test::fs::exists(path));
        EXPECT_FALSE(w->Finish());  // nothing open

        ASSERT_TRUE(w->Open(path, c.format, {}));
        WriteTone(*w, c.format);
        w.reset();  // unfinished
        EXPECT_FALSE(test::fs::exists(path));

        w = c.make();
        const int16_t block[4] = {};
        EXPECT_FALSE(test::WriteSixteen(*w, block, block, 1));  // before Open
        EXPECT_FALSE(w->Open(path, {c.format.rate, 9, 16}, {}));
        EXPECT_FALSE(w->Open(path, {c.format.rate, 1, 12}, {}));
        EXPECT_FALSE(w->Open(path, {0, 1, 16}, {}));
        EXPECT_FALSE(test::fs::exists(path));
        ASSERT_TRUE(w->Open(path, c.format, {}));
        if (c.format.channels == 2) {
            EXPECT_FALSE(test::WriteSixteen(*w, block, nullptr, 1));  // stereo needs both sides
        }
        EXPECT_FALSE(test::WriteSixteen(*w, block, block, -1));
        EXPECT_TRUE(test::WriteSixteen(*w, block, block, 0));
    }
}

// A writer in the background reports what its inner writer could not write, at a later block or at the end.
TEST(AudioWriter, BackgroundFailuresReachTheCaller) {
    BackgroundWriter w(std::make_unique<WavWriter>());
    ASSERT_TRUE(w.Open("/dev/full", {44100, 2, 16}, {}));
    std::vector<int16_t> block(4096);
    bool written = true;
    for (int i = 0; i < 200 && written; ++i) written = test::WriteSixteen(w, block.data(), block.data(), 4096);
    EXPECT_FALSE(written && w.Finish());
    EXPECT_TRUE(test::fs::exists("/dev/full"));  // a device is never removed
}

}  // namespace
}  // namespace pelloran
