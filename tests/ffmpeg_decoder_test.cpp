#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

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

// Interleaved samples ffmpeg itself decodes from a file (the oracle), as s16le or u8.
std::vector<int> FfmpegSamples(const std::string& path, int channels, bool eightBit = false) {
    const std::string out = path + ".ref";
    if (!Ffmpeg({"-i", path, "-ac", std::to_string(channels), "-f", eightBit ? "u8" : "s16le", out})) return {};
    const std::vector<uint8_t> bytes = ReadBytes(out);
    std::vector<int> samples;
    if (eightBit) return std::vector<int>(bytes.begin(), bytes.end());
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) samples.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
    return samples;
}

struct Decoded {
    std::vector<int> samples;  // interleaved; 8-bit samples as 0..255
    int reads = 0;
    bool oversized = false;
    uint64_t lastPosition = 0;
};

Decoded DecodeAll(AudioDecoder& d, int maxReads = 100000) {
    Decoded out;
    int16_t left[kBlockFrames], right[kBlockFrames];
    while (out.reads < maxReads) {
        const int n = d.Read(left, right);
        if (n <= 0) break;
        ++out.reads;
        out.oversized |= n > kBlockFrames;
        for (int i = 0; i < std::min(n, kBlockFrames); ++i) {
            for (int c = 0; c < d.GetOutputChannels(); ++c) {
                const int16_t* buf = c == 0 ? left : right;
                out.samples.push_back(d.GetBitsPerSample() == 8 ? reinterpret_cast<const uint8_t*>(buf)[i] : buf[i]);
            }
        }
    }
    out.lastPosition = d.GetPosition();
    return out;
}

int MaxDifference(const std::vector<int>& a, const std::vector<int>& b) {
    int worst = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

const char* const kTwoTones = "aevalsrc=0.8*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=";

// Every family decodes to what ffmpeg's own decode gives: both run the same decoders and the same
// float-to-16-bit rounding, so the samples must agree exactly, and so must the length.
TEST(FfmpegDecoder, DecodesEachFamilyLikeFfmpeg) {
    TempDir dir;
    struct Case {
        const char* file;
        int rate, channels;
        std::vector<std::string> codec;
    } cases[] = {
        {"a.mp3", 44100, 2, {"-c:a", "libmp3lame", "-b:a", "128k"}},
        {"a.m4a", 48000, 2, {"-c:a", "aac"}},
        {"a.flac", 22050, 1, {"-c:a", "flac"}},
        {"b.flac", 96000, 2, {"-c:a", "flac", "-sample_fmt", "s32"}},  // 24-bit
        {"a.mkv", 48000, 2, {"-c:a", "libopus"}},
        {"a.ogg", 44100, 2, {"-c:a", "libvorbis"}},
        {"a.wav", 8000, 1, {"-c:a", "pcm_u8"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<std::string> args = {"-f", "lavfi", "-i", kTwoTones + std::to_string(c.rate) + ":d=3",
                                         "-ac", std::to_string(c.channels)};
        args.insert(args.end(), c.codec.begin(), c.codec.end());
        args.push_back(dir / c.file);
        ASSERT_TRUE(Ffmpeg(args));
        FfmpegDecoder d;
        ASSERT_EQ(d.Open(dir / c.file, 0), 1);
        EXPECT_EQ(d.GetSampleRate(), c.rate);
        EXPECT_EQ(d.GetChannels(), c.channels);
        EXPECT_EQ(d.GetOutputChannels(), c.channels);
        EXPECT_EQ(d.GetChannelMode(), c.channels == 1 ? 3 : 0);
        const bool eightBit = c.codec[1] == "pcm_u8";
        EXPECT_EQ(d.GetBitsPerSample(), eightBit ? 8 : 16);
        EXPECT_EQ(d.GetDurationSeconds(), 3);
        EXPECT_EQ(d.GetLength(), fs::file_size(dir / c.file));
        const Decoded got = DecodeAll(d);
        const std::vector<int> want = FfmpegSamples(dir / c.file, c.channels, eightBit);
        EXPECT_FALSE(got.oversized);
        ASSERT_EQ(got.samples.size(), want.size());
        EXPECT_EQ(MaxDifference(got.samples, want), 0);
        EXPECT_GT(got.lastPosition, 0u);
        EXPECT_LE(got.lastPosition, d.GetLength());
    }
}

// A 5.1 source is mixed down: the centre reaches both sides, a side channel only its own.
TEST(FfmpegDecoder, MixesSurroundDownToStereo) {
    TempDir dir;
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "aevalsrc=0|0|0.5*sin(2*PI*440*t)|0|0.5*sin(2*PI*880*t)|0:s=48000:d=2",
                        "-c:a", "flac", dir / "six.flac"}));
    FfmpegDecoder d;
    ASSERT_EQ(d.Open(dir / "six.flac", 0), 1);
    EXPECT_EQ(d.GetChannels(), 6);
    EXPECT_EQ(d.GetOutputChannels(), 2);
    const Decoded got = DecodeAll(d);
    const std::vector<int> want = FfmpegSamples(dir / "six.flac", 2);
    ASSERT_EQ(got.samples.size(), want.size());
    EXPECT_LE(MaxDifference(got.samples, want), 1);
    int left = 0, right = 0, sideOnly = 0;
    for (size_t i = 0; i + 1 < got.samples.size(); i += 2) {
        left = std::max(left, std::abs(got.samples[i]));
        right = std::max(right, std::abs(got.samples[i + 1]));
        sideOnly = std::max(sideOnly, std::abs(got.samples[i] - got.samples[i + 1]));
    }
    EXPECT_GT(right, 2000);     // the centre is in the right channel too
    EXPECT_GT(sideOnly, 2000);  // the side channel is not
    EXPECT_GT(left, right);
}

// Float samples beyond full scale clip at the 16-bit limits instead of wrapping round.
TEST(FfmpegDecoder, LoudFloatSamplesClip) {
    TempDir dir;
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "aevalsrc=1.5*sin(2*PI*100*t):s=8000:d=1", "-c:a", "pcm_f32le",
                        dir / "loud.wav"}));
    FfmpegDecoder d;
    ASSERT_EQ(d.Open(dir / "loud.wav", 0), 1);
    const Decoded got = DecodeAll(d);
    ASSERT_EQ(got.samples.size(), 8000u);
    for (size_t i = 1; i < got.samples.size(); ++i)  // a wrap shows as a jump across the range
        ASSERT_LT(std::abs(got.samples[i] - got.samples[i - 1]), 20000) << i;
    EXPECT_EQ(*std::max_element(got.samples.begin(), got.samples.end()), 32767);
}

TEST(FfmpegDecoder, TagsComeBackThroughReadTags) {
    TempDir dir;
    for (const char* file : {"t.mp3", "t.flac", "t.m4a", "t.ogg"}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=d=1", "-metadata", "title=Caf\xC3\xA9 \xE2\x99\xAA", "-metadata",
                            "artist=Ana", "-metadata", "album=Rooms", "-metadata", "date=2021-05-03", "-metadata",
                            "genre=Jazz", "-metadata", "comment=Live", "-metadata", "track=3/12", "-metadata",
                            "copyright=(c) Ana", "-metadata", "composer=Bo", dir / file}));
        FfmpegDecoder d;
        ASSERT_EQ(d.Open(dir / file, 0), 1);
        TagInfo t;
        t.Composer = "stale";
        ASSERT_EQ(d.ReadTags(t), 1);
        EXPECT_EQ(t.Title, "Caf\xC3\xA9 \xE2\x99\xAA");
        EXPECT_EQ(t.Artist, "Ana");
        EXPECT_EQ(t.Album, "Rooms");
        EXPECT_EQ(t.Year, "2021");
        EXPECT_EQ(t.Genre, "Jazz");
        EXPECT_EQ(t.Track, "3");
        EXPECT_EQ(t.Copyright, "(c) Ana");
        EXPECT_EQ(t.Composer, "");  // this reader never fills the composer
        EXPECT_EQ(t.Comment, "Live");
    }
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=d=1", dir / "bare.flac"}));
    FfmpegDecoder d;
    ASSERT_EQ(d.Open(dir / "bare.flac", 0), 1);
    TagInfo t;
    t.Title = "kept";
    EXPECT_EQ(d.ReadTags(t), 0);
    EXPECT_EQ(t.Title, "kept");
}

TEST(FfmpegReaders, VideoFiles) {
    TempDir dir;
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=320x240:r=25:d=2", "-f", "lavfi", "-i",
                        "sine=f=440:d=2:sample_rate=44100", "-c:v", "mpeg4", "-c:a", "aac", "-shortest",
                        dir / "clip.mp4"}));
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=320x240:r=25:d=2", "-c:v", "mpeg4", dir / "mute.mkv"}));

    FfmpegDecoder d;  // the audio of a video file, its pictures skipped
    ASSERT_EQ(d.Open(dir / "clip.mp4", 0), 1);
    EXPECT_EQ(d.GetOutputChannels(), 1);
    EXPECT_EQ(DecodeAll(d).samples, FfmpegSamples(dir / "clip.mp4", 1));
    EXPECT_EQ(d.Open(dir / "mute.mkv", 0), 0);  // no audio at all

    FfmpegProbe p;
    ASSERT_EQ(p.Open(dir / "mute.mkv", 0), 1);
    int w = 0, h = 0;
    p.GetVideoSize(w, h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    EXPECT_DOUBLE_EQ(p.GetFrameRate(), 25.0);
    EXPECT_EQ(p.GetDurationSeconds(), 2);
    EXPECT_EQ(p.GetSampleRate(), 0);
    int16_t l[kBlockFrames], r[kBlockFrames];
    EXPECT_EQ(p.Read(l, r), 0);
    ASSERT_EQ(p.Open(dir / "clip.mp4", 0), 1);
    EXPECT_EQ(p.GetSampleRate(), 44100);
    EXPECT_EQ(p.GetChannels(), 1);

    // Cover art is a picture stream but not a video.
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "color=red:s=64x64", "-frames:v", "1", dir / "cover.png"}));
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=d=1", "-i", dir / "cover.png", "-map", "0", "-map", "1",
                        "-c:a", "libmp3lame", "-c:v", "copy", "-disposition:v", "attached_pic", dir / "cover.mp3"}));
    ASSERT_EQ(p.Open(dir / "cover.mp3", 0), 1);
    p.GetVideoSize(w, h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(p.GetFrameRate(), 0.0);

    // The factory: a file of unknown type is probed while listing, decoded for conversion.
    DecoderContext context;
    EXPECT_NE(CreateDecoder(dir / "mute.mkv", kInputOther, 0, false, context), nullptr);
    EXPECT_EQ(context.openedBy, ReaderKind::FfmpegProbe);
    EXPECT_EQ(CreateDecoder(dir / "mute.mkv", kInputOther, 0, true, context), nullptr);
    EXPECT_EQ(context.failureNote, kUnreadableFileNote);
    EXPECT_NE(CreateDecoder(dir / "clip.mp4", kInputOther, 0, true, context), nullptr);
    EXPECT_EQ(context.openedBy, ReaderKind::Ffmpeg);
}

TEST(FfmpegDecoder, UnrecordedDurationIsZero) {
    TempDir dir;
    // Matroska written to a pipe has no duration in its header.
    const CommandResult r = test::Run({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-f", "lavfi", "-i",
                                 "sine=d=3", "-c:a", "flac", "-f", "matroska", "-"});
    ASSERT_EQ(r.exitCode, 0);
    WriteBytes(dir / "piped.mkv", std::vector<uint8_t>(r.out.begin(), r.out.end()));
    FfmpegDecoder d;
    ASSERT_EQ(d.Open(dir / "piped.mkv", 0), 1);
    EXPECT_EQ(d.GetDurationSeconds(), 0);
    EXPECT_EQ(DecodeAll(d).samples.size(), 3u * 44100);
    FfmpegProbe p;
    ASSERT_EQ(p.Open(dir / "piped.mkv", 0), 1);
    EXPECT_EQ(p.GetDurationSeconds(), 0);
}

// Overwrites the payload of every ADTS frame of aac (found again inside container) from frame first on.
void SpoilAacFrames(const std::vector<uint8_t>& aac, std::vector<uint8_t>& container, size_t first, size_t last) {
    size_t frame = 0;
    for (size_t i = 0; i + 7 <= aac.size(); ++frame) {
        const size_t size = (aac[i + 3] & 3u) << 11 | aac[i + 4] << 3 | aac[i + 5] >> 5;
        if (size <= 7 || i + size > aac.size()) break;
        if (frame >= first && frame <= last) {
            auto at = std::search(container.begin(), container.end(), aac.begin() + i + 7, aac.begin() + i + size);
            if (at != container.end()) std::fill_n(at, size - 7, 0xAA);
        }
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

    // Damaged packets in the middle are lost alone; decoding goes on after them, as with ffmpeg.
    spoiled = ReadBytes(dir / "a.mkv");
    SpoilAacFrames(aac, spoiled, 30, 40);
    WriteBytes(dir / "some.mkv", spoiled);
    ASSERT_EQ(d.Open(dir / "some.mkv", 0), 1);
    const Decoded got = DecodeAll(d);
    EXPECT_EQ(got.samples.size(), FfmpegSamples(dir / "some.mkv", 1).size());
    EXPECT_LE(got.samples.size(), FfmpegSamples(dir / "a.mkv", 1).size() - 11 * 1024);
}

// Truncated files, garbage and a sound header followed by noise fail cleanly or end early.
TEST(FfmpegReaders, DamagedFilesFailCleanly) {
    TempDir dir;
    std::mt19937 random(7);
    std::vector<std::vector<uint8_t>> damaged;
    for (const char* file : {"d.mp3", "d.flac", "d.m4a", "d.mkv"}) {
        ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=d=2", dir / file}));
        const std::vector<uint8_t> good = ReadBytes(dir / file);
        for (size_t cut : {size_t{0}, size_t{1}, size_t{12}, size_t{200}, size_t{3000}, good.size() / 2})
            damaged.emplace_back(good.begin(), good.begin() + std::min(cut, good.size()));
        std::vector<uint8_t> noisy = good;
        for (size_t i = std::min<size_t>(600, good.size()); i < noisy.size(); ++i) noisy[i] = random() & 0xFF;
        damaged.push_back(noisy);
    }
    std::vector<uint8_t> garbage(50000);
    for (auto& b : garbage) b = random() & 0xFF;
    damaged.push_back(garbage);

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

TEST(FfmpegDecoder, ParallelDecodesAgree) {
    TempDir dir;
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", std::string(kTwoTones) + "44100:d=2", dir / "p.mp3"}));
    std::vector<std::vector<int>> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results) {
        threads.emplace_back([&] {
            FfmpegDecoder d;
            if (d.Open(dir / "p.mp3", 0)) result = DecodeAll(d).samples;
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_FALSE(results[0].empty());
    for (const auto& r : results) EXPECT_EQ(r, results[0]);
}

}  // namespace
}  // namespace pelloran
