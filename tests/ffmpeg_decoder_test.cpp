#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>

#include "decode/DecoderFactory.h"
#include "decode/FfmpegDecoder.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using namespace test;

bool Ffmpeg(std::vector<std::string> args) {
    args.insert(args.begin(), {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"});
    return Run(args).exitCode == 0;
}

// Interleaved samples of ffmpeg's own decode of a file (the oracle): s16le, or u8 as 0..255.
std::vector<int> FfmpegSamples(const std::string& path, int channels, bool eightBit = false) {
    const std::string out = path + ".ref";
    if (!Ffmpeg({"-i", path, "-ac", std::to_string(channels), "-f", eightBit ? "u8" : "s16le", out})) return {};
    const std::vector<uint8_t> b = ReadBytes(out);
    if (eightBit) return std::vector<int>(b.begin(), b.end());
    std::vector<int> samples;
    for (size_t i = 0; i + 1 < b.size(); i += 2) samples.push_back(static_cast<int16_t>(b[i] | b[i + 1] << 8));
    // Our readers end where an MP4 edit list ends.
    if (const size_t frames = EditListFrames(path); frames > 0)
        samples.resize(std::min(samples.size(), frames * static_cast<size_t>(channels)));
    return samples;
}

struct Decoded {
    std::vector<int> samples;  // interleaved; 8-bit samples as 0..255
    int reads = 0;
    bool oversized = false;
};

Decoded DecodeAll(AudioDecoder& d, int maxReads = 100000) {
    Decoded out;
    std::vector<int32_t> planes[kMaxChannels];
    int32_t* pointers[kMaxChannels] = {};
    for (int c = 0; c < kMaxChannels; ++c) {
        planes[c].resize(kBlockFrames);
        pointers[c] = planes[c].data();
    }
    const PcmFormat format = d.Format();
    for (int n; out.reads < maxReads && (n = d.Read(pointers)) > 0; ++out.reads) {
        out.oversized |= n > kBlockFrames;
        for (int i = 0; i < std::min(n, kBlockFrames); ++i) {
            for (int c = 0; c < format.channels; ++c) {
                const int32_t v = planes[c][static_cast<size_t>(i)];
                out.samples.push_back(format.bits == 8 ? v + 128 : v >> (format.bits - 16));
            }
        }
    }
    return out;
}

// Every family decodes to what ffmpeg's own decode gives: both run the same decoders and the same
// float-to-16-bit rounding, so samples and length must agree exactly.
TEST(FfmpegDecoder, DecodesEachFamilyLikeFfmpeg) {
    TempDir dir;
    struct Case {
        const char* file;
        int rate, channels;
        std::vector<std::string> codec;
    } cases[] = {
        {"a.mp3", 44100, 2, {"libmp3lame", "-b:a", "128k"}}, {"a.m4a", 48000, 2, {"aac"}},
        {"a.flac", 22050, 1, {"flac"}},  {"b.flac", 96000, 2, {"flac", "-sample_fmt", "s32"}},  // 24-bit
        {"a.mkv", 48000, 2, {"libopus"}}, {"a.ogg", 44100, 2, {"libvorbis"}}, {"a.wav", 8000, 1, {"pcm_u8"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<std::string> args = {"-f", "lavfi", "-i",
                                         "aevalsrc=0.8*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):d=3:s=" +
                                             std::to_string(c.rate),
                                         "-ac", std::to_string(c.channels), "-c:a"};
        args.insert(args.end(), c.codec.begin(), c.codec.end());
        args.push_back(dir / c.file);
        ASSERT_TRUE(Ffmpeg(args));
        FfmpegDecoder d;
        ASSERT_EQ(d.Open(dir / c.file, 0), 1);
        const bool eightBit = c.codec[0] == "pcm_u8";
        EXPECT_EQ(d.GetSampleRate(), c.rate);
        EXPECT_EQ(d.GetChannels(), c.channels);
        EXPECT_EQ(d.Format().channels, c.channels);
        EXPECT_EQ(d.GetChannelMode(), c.channels == 1 ? 3 : 0);
        // FLAC made from ffmpeg's float tone is 24-bit, and read at that width.
        const bool flac = c.codec[0] == "flac";
        EXPECT_EQ(d.Format().bits, eightBit ? 8 : flac ? 24 : 16);
        EXPECT_EQ(d.GetDurationSeconds(), 3);
        EXPECT_EQ(d.GetLength(), fs::file_size(dir / c.file));
        const Decoded got = DecodeAll(d);
        EXPECT_FALSE(got.oversized);
        EXPECT_EQ(got.samples, FfmpegSamples(dir / c.file, c.channels, eightBit));
        EXPECT_GT(d.GetPosition(), 0u);
        EXPECT_LE(d.GetPosition(), d.GetLength());
    }
}

TEST(FfmpegDecoder, DeliversEverySurroundChannelAndClipsLoudFloats) {
    TempDir dir;
    // 5.1 with a tone in the centre and one in the left side channel.
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "aevalsrc=0|0|0.5*sin(2*PI*440*t)|0|0.5*sin(2*PI*880*t)|0:s=48000:d=2",
                        "-c:a", "flac", dir / "six.flac"}));
    FfmpegDecoder d;
    ASSERT_EQ(d.Open(dir / "six.flac", 0), 1);
    EXPECT_EQ(d.GetChannels(), 6);
    EXPECT_EQ(d.Format().channels, 6);
    const Decoded got = DecodeAll(d);
    const std::vector<int> want = FfmpegSamples(dir / "six.flac", 6);
    ASSERT_EQ(got.samples.size(), want.size());
    EXPECT_EQ(got.samples, want);

    // Float samples beyond full scale clip instead of wrapping round (a wrap jumps across the range).
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "aevalsrc=1.5*sin(2*PI*100*t):s=8000:d=1", "-c:a", "pcm_f32le",
                        dir / "loud.wav"}));
    ASSERT_EQ(d.Open(dir / "loud.wav", 0), 1);
    const std::vector<int> loud = DecodeAll(d).samples;
    ASSERT_EQ(loud.size(), 8000u);
    for (size_t i = 1; i < loud.size(); ++i) ASSERT_LT(std::abs(loud[i] - loud[i - 1]), 20000) << i;
    EXPECT_EQ(*std::max_element(loud.begin(), loud.end()), 32767);
}

TEST(FfmpegDecoder, TagsComeBackThroughReadTags) {
    TempDir dir;
    for (const char* file : {"t.mp3", "t.flac", "t.m4a", "t.ogg"}) {
        SCOPED_TRACE(file);
        std::vector<std::string> args = {"-f", "lavfi", "-i", "sine=d=1"};
        for (const char* tag : {"title=Caf\xC3\xA9 \xE2\x99\xAA", "artist=Ana", "album=Rooms", "date=2021-05-03",
                                "genre=Jazz", "comment=Live", "track=3/12", "copyright=(c) Ana", "composer=Bo"})
            args.insert(args.end(), {"-metadata", tag});
        args.push_back(dir / file);
        ASSERT_TRUE(Ffmpeg(args));
        FfmpegDecoder d;
        ASSERT_EQ(d.Open(dir / file, 0), 1);
        TagRecord t;
        t.Composer = "stale";
        ASSERT_EQ(d.ReadTags(t), 1);
        const std::vector<std::string> got = {t.Title, t.Artist, t.Album, t.Year,     t.Genre,
                                              t.Comment, t.Track, t.Composer, t.Copyright};
        const std::vector<std::string> want = {"Caf\xC3\xA9 \xE2\x99\xAA", "Ana", "Rooms", "2021-05-03", "Jazz",
                                               "Live", "3", "Bo", "(c) Ana"};
        EXPECT_EQ(got, want);
        EXPECT_EQ(t.Extra("TRACKTOTAL"), "12");  // "3/12" split
    }
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=d=1", dir / "bare.flac"}));
    FfmpegDecoder d;
    ASSERT_EQ(d.Open(dir / "bare.flac", 0), 1);
    TagRecord t;
    t.Title = "kept";
    EXPECT_EQ(d.ReadTags(t), 0);
    EXPECT_EQ(t.Title, "kept");
}

TEST(FfmpegReaders, VideoFilesAndMissingDurations) {
    TempDir dir;
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=320x240:r=25:d=2", "-f", "lavfi", "-i",
                        "sine=f=440:d=2:sample_rate=44100", "-c:v", "mpeg4", "-c:a", "aac", "-shortest",
                        dir / "clip.mp4"}));
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=320x240:r=25:d=2", "-c:v", "mpeg4", dir / "mute.mkv"}));
    FfmpegDecoder d;  // the audio of a video file, its pictures skipped
    ASSERT_EQ(d.Open(dir / "clip.mp4", 0), 1);
    EXPECT_EQ(DecodeAll(d).samples, FfmpegSamples(dir / "clip.mp4", 1));
    EXPECT_EQ(d.Open(dir / "mute.mkv", 0), 0);

    FfmpegProbe p;  // a video without audio opens for the list, with its picture size and frame rate
    ASSERT_EQ(p.Open(dir / "mute.mkv", 0), 1);
    int w = 0, h = 0;
    p.GetVideoSize(w, h);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(320, 240));
    EXPECT_DOUBLE_EQ(p.GetFrameRate(), 25.0);
    EXPECT_EQ(p.GetDurationSeconds(), 2);
    EXPECT_EQ(p.GetSampleRate(), 0);
    ASSERT_EQ(p.Open(dir / "clip.mp4", 0), 1);
    EXPECT_EQ(p.GetSampleRate(), 44100);
    EXPECT_EQ(p.GetChannels(), 1);

    // Cover art is a picture stream but no video.
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "color=red:s=64x64", "-frames:v", "1", dir / "cover.png"}));
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=d=1", "-i", dir / "cover.png", "-map", "0", "-map", "1",
                        "-c:a", "libmp3lame", "-c:v", "copy", "-disposition:v", "attached_pic", dir / "cover.mp3"}));
    ASSERT_EQ(p.Open(dir / "cover.mp3", 0), 1);
    p.GetVideoSize(w, h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(p.GetFrameRate(), 0.0);

    // Matroska written to a pipe records no duration.
    const CommandResult piped = test::Run({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-f", "lavfi",
                                           "-i", "sine=d=3", "-c:a", "flac", "-f", "matroska", "-"});
    ASSERT_EQ(piped.exitCode, 0);
    WriteBytes(dir / "piped.mkv", std::vector<uint8_t>(piped.out.begin(), piped.out.end()));
    ASSERT_EQ(d.Open(dir / "piped.mkv", 0), 1);
    EXPECT_EQ(d.GetDurationSeconds(), 0);
    EXPECT_EQ(DecodeAll(d).samples.size(), 3u * 44100);
    ASSERT_EQ(p.Open(dir / "piped.mkv", 0), 1);
    EXPECT_EQ(p.GetDurationSeconds(), 0);

    // The factory: a file of unknown type is probed for the list and refused for conversion.
    DecoderContext context;
    EXPECT_NE(CreateDecoder(dir / "mute.mkv", kInputOther, 0, false, context), nullptr);
    EXPECT_EQ(CreateDecoder(dir / "mute.mkv", kInputOther, 0, true, context), nullptr);
}

// Blanks the payload of ADTS frames first..last of aac where they sit inside container.
void SpoilAacFrames(const std::vector<uint8_t>& aac, std::vector<uint8_t>& container, size_t first, size_t last) {
    for (size_t i = 0, frame = 0; i + 7 <= aac.size(); ++frame) {
        const size_t size = (aac[i + 3] & 3u) << 11 | aac[i + 4] << 3 | aac[i + 5] >> 5;
        if (size <= 7 || i + size > aac.size()) break;
        auto at = std::search(container.begin(), container.end(), aac.begin() + i + 7, aac.begin() + i + size);
        if (frame >= first && frame <= last && at != container.end()) std::fill_n(at, size - 7, 0xAA);
        i += size;
    }
}

TEST(FfmpegDecoder, UndecodableAudio) {
    TempDir dir;
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=d=2:sample_rate=48000", "-c:a", "aac", dir / "a.aac"}));
    ASSERT_TRUE(Ffmpeg({"-i", dir / "a.aac", "-c", "copy", dir / "a.mkv"}));
    const std::vector<uint8_t> aac = ReadBytes(dir / "a.aac");
    std::vector<uint8_t> spoiled = ReadBytes(dir / "a.mkv");
    SpoilAacFrames(aac, spoiled, 0, 1000);
    WriteBytes(dir / "none.mkv", spoiled);
    FfmpegDecoder d;
    EXPECT_EQ(d.Open(dir / "none.mkv", 0), 0);  // refused, not delivered as silence

    // Damaged packets in the middle are lost alone and decoding goes on after them, as with ffmpeg.
    spoiled = ReadBytes(dir / "a.mkv");
    SpoilAacFrames(aac, spoiled, 30, 40);
    WriteBytes(dir / "some.mkv", spoiled);
    ASSERT_EQ(d.Open(dir / "some.mkv", 0), 1);
    const size_t got = DecodeAll(d).samples.size();
    EXPECT_EQ(got, FfmpegSamples(dir / "some.mkv", 1).size());
    EXPECT_LE(got, FfmpegSamples(dir / "a.mkv", 1).size() - 11 * 1024);
}

// Truncated files, garbage, and a sound header followed by noise fail cleanly or end early.
TEST(FfmpegReaders, DamagedFilesFailCleanly) {
    TempDir dir;
    std::mt19937 random(7);
    std::vector<std::vector<uint8_t>> damaged(1, std::vector<uint8_t>(50000));
    for (auto& b : damaged[0]) b = random() & 0xFF;
    for (const char* file : {"d.mp3", "d.flac", "d.m4a", "d.mkv"}) {
        ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=d=2", dir / file}));
        const std::vector<uint8_t> good = ReadBytes(dir / file);
        for (size_t cut : {size_t{0}, size_t{1}, size_t{12}, size_t{200}, size_t{3000}, good.size() / 2})
            damaged.emplace_back(good.begin(), good.begin() + std::min(cut, good.size()));
        damaged.push_back(good);
        for (size_t i = std::min<size_t>(600, good.size()); i < good.size(); ++i) damaged.back()[i] = random() & 0xFF;
    }
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < damaged.size(); ++i) {
        const std::string path = dir / ("bad" + std::to_string(i) + ".bin");
        WriteBytes(path, damaged[i]);
        FfmpegProbe p;
        p.Open(path, 0);
        FfmpegDecoder d;
        if (d.Open(path, 0)) {
            EXPECT_LT(DecodeAll(d).reads, 2000) << i;
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

// A name that looks like a protocol ("concat:") is still a local file.
TEST(FfmpegDecoder, PathsAreNeverProtocols) {
    TempDir dir;
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=d=1", dir / "concat:a.mp3"}));
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    FfmpegDecoder d;
    const int opened = d.Open("concat:a.mp3", 0);
    fs::current_path(previous);
    EXPECT_EQ(opened, 1);
}

}  // namespace
}  // namespace pelloran
