#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "decode/OggVorbisDecoder.h"
#include "platform/File.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using namespace test;

bool Tool(const std::string& name, std::vector<std::string> args) {
    args.insert(args.begin(), name);
    if (name == "ffmpeg") args.insert(args.begin() + 1, {"-hide_banner", "-loglevel", "error", "-nostdin", "-y"});
    return Run(args).exitCode == 0;
}

// Interleaved 16-bit samples of ffmpeg's own Vorbis decoder (the oracle).
std::vector<int> FfmpegSamples(const std::string& path, int channels) {
    const std::string out = path + ".ref";
    if (!Tool("ffmpeg", {"-i", path, "-ac", std::to_string(channels), "-f", "s16le", out})) return {};
    const std::vector<uint8_t> b = ReadBytes(out);
    std::vector<int> samples;
    for (size_t i = 0; i + 1 < b.size(); i += 2) samples.push_back(static_cast<int16_t>(b[i] | b[i + 1] << 8));
    return samples;
}

struct Decoded {
    std::vector<int> samples;  // interleaved
    int reads = 0;
    bool oversized = false;
};

Decoded DecodeAll(OggVorbisDecoder& d, int maxReads = 100000) {
    Decoded out;
    std::vector<int32_t> planes[kMaxChannels];
    int32_t* pointers[kMaxChannels] = {};
    for (int c = 0; c < kMaxChannels; ++c) {
        planes[c].resize(kBlockFrames);
        pointers[c] = planes[c].data();
    }
    const int channels = d.Format().channels;
    for (int n; out.reads < maxReads && (n = d.Read(pointers)) > 0; ++out.reads) {
        out.oversized |= n > kBlockFrames;
        for (int i = 0; i < std::min(n, kBlockFrames); ++i)
            for (int c = 0; c < channels; ++c) out.samples.push_back(planes[c][static_cast<size_t>(i)]);
    }
    return out;
}

std::vector<int> DecodeFile(const std::string& path) {
    OggVorbisDecoder d;
    return d.Open(path, 0) ? DecodeAll(d).samples : std::vector<int>{};
}

int MaxDifference(const std::vector<int>& a, const std::vector<int>& b) {
    int worst = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

// libvorbis and ffmpeg's own Vorbis decoder compute in float in a different order, so a sample may round the
// other way (one step measured); a channel mix-up or a lost block differs by thousands.
constexpr int kTolerance = 2;

TEST(OggVorbisDecoder, DecodesLikeFfmpeg) {
    TempDir dir;
    ASSERT_TRUE(Tool("ffmpeg", {"-f", "lavfi", "-i", "aevalsrc=0.8*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=44100:d=3",
                                "-c:a", "libvorbis", dir / "ff.ogg"}));
    ASSERT_TRUE(Tool("sox", {"-n", "-r", "22050", "-c", "1", dir / "sox.ogg", "synth", "2", "sine", "300"}));
    struct Case {
        const char* file;
        int rate, channels, seconds;
    } cases[] = {{"ff.ogg", 44100, 2, 3}, {"sox.ogg", 22050, 1, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        OggVorbisDecoder d;
        ASSERT_EQ(d.Open(dir / c.file, 0), 1);
        EXPECT_EQ(d.GetSampleRate(), c.rate);
        EXPECT_EQ(d.GetChannels(), c.channels);
        EXPECT_EQ(d.Format().channels, c.channels);
        EXPECT_EQ(d.Format().bits, 16);
        EXPECT_EQ(d.GetDurationSeconds(), c.seconds);
        EXPECT_GT(d.GetBitrateKbps(), 0);
        EXPECT_EQ(d.GetLength(), fs::file_size(dir / c.file));
        const Decoded got = DecodeAll(d);
        const std::vector<int> want = FfmpegSamples(dir / c.file, c.channels);
        EXPECT_FALSE(got.oversized);
        // vorbisfile ends where the last granule position says; ffmpeg drops up to one short block more.
        EXPECT_EQ(got.samples.size(), static_cast<size_t>(c.rate * c.seconds * c.channels));
        EXPECT_NEAR(static_cast<double>(got.samples.size()), want.size(), 256.0 * c.channels);
        EXPECT_LE(MaxDifference(got.samples, want), kTolerance);
        EXPECT_EQ(d.GetPosition(), d.GetLength());  // progress ends at 100%
        // libvorbis's own 16-bit output (oggdec) is the same to the last bit: same decoder, same rounding.
        ASSERT_TRUE(Tool("oggdec", {"-Q", "-R", "-o", dir / "raw", dir / c.file}));
        const std::vector<uint8_t> raw = ReadBytes(dir / "raw");
        std::vector<int> reference;
        for (size_t i = 0; i + 1 < raw.size(); i += 2)
            reference.push_back(static_cast<int16_t>(raw[i] | raw[i + 1] << 8));
        EXPECT_EQ(got.samples, reference);
    }
}

TEST(OggVorbisDecoder, ChainedStreams) {
    TempDir dir;
    for (auto [name, rate, channels, seconds, title] :
         {std::tuple{"a.ogg", "44100", "2", "1", "TITLE=One"}, {"b.ogg", "44100", "2", "2", "TITLE=Two"},
          {"c.ogg", "22050", "1", "2", "TITLE=Three"}})
        ASSERT_TRUE(Tool("sox", {"-n", "-r", rate, "-c", channels, "--comment", title, dir / name, "synth", seconds,
                                 "sine", "300"}));
    auto chain = [&](const char* first, const char* second, const char* name) {
        std::vector<uint8_t> bytes = ReadBytes(dir / first);
        const std::vector<uint8_t> tail = ReadBytes(dir / second);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        WriteBytes(dir / name, bytes);
        return bytes.size();
    };

    const size_t size = chain("a.ogg", "b.ogg", "ab.ogg");
    OggVorbisDecoder d;
    ASSERT_EQ(d.Open(dir / "ab.ogg", 0), 1);
    EXPECT_EQ(d.GetDurationSeconds(), 3);  // all links together
    EXPECT_EQ(d.GetLength(), size);
    TagRecord tags;
    d.ReadTags(tags);
    EXPECT_EQ(tags.Title, "One");  // the current link's comments
    std::vector<int> want = DecodeFile(dir / "a.ogg");
    const std::vector<int> b = DecodeFile(dir / "b.ogg");
    want.insert(want.end(), b.begin(), b.end());
    EXPECT_EQ(DecodeAll(d).samples, want);

    // A link of another rate and channel count is brought to the opening's rate and channels.
    chain("a.ogg", "c.ogg", "ac.ogg");
    ASSERT_EQ(d.Open(dir / "ac.ogg", 0), 1);
    const std::vector<int> got = DecodeAll(d).samples;
    EXPECT_NEAR(static_cast<double>(got.size()) / 2, 3 * 44100, 200);
    const size_t mid = 2 * 44100 * 2;  // in the second link
    EXPECT_EQ(got[mid], got[mid + 1]);
    EXPECT_GT(std::abs(got[mid]) + std::abs(got[mid + 20]) + std::abs(got[mid + 40]), 1000);
}

TEST(OggVorbisDecoder, Comments) {
    TempDir dir;
    std::string longText;
    while (longText.size() < 3000) longText += "\xC3\xA9";
    ASSERT_TRUE(Tool("sox", {"-n", "-r", "8000", "-c", "1", "--comment", "title=First", "--add-comment",
                             "TITLE=Second", "--add-comment", "COMMENT=" + longText, "--add-comment", "artist=Ana",
                             "--add-comment", "DATE=2021-05-03", "--add-comment", "TrackNumber=3/12",
                             "--add-comment", "COMPOSER=Bo", dir / "tags.ogg", "synth", "1", "sine", "440"}));
    ASSERT_TRUE(Tool("sox", {"-n", "-r", "8000", "-c", "1", "--comment", "", dir / "none.ogg", "synth", "1", "sine",
                             "440"}));
    OggVorbisDecoder d;
    TagRecord t;
    ASSERT_EQ(d.Open(dir / "tags.ogg", 0), 1);
    EXPECT_EQ(d.ReadTags(t), 1);
    EXPECT_EQ(t.Title, "Second");  // the last matching comment wins, keys in any case
    EXPECT_EQ(t.Comment, longText);  // whole, however long
    const std::vector<std::string> rest = {t.Artist, t.Year, t.Track, t.Composer, t.Album};
    EXPECT_EQ(rest, (std::vector<std::string>{"Ana", "2021-05-03", "3/12", "Bo", ""}));
    EXPECT_FALSE(d.Vendor().empty());

    ASSERT_EQ(d.Open(dir / "none.ogg", 0), 1);
    t.Title = t.Artist = t.Copyright = "stale";
    EXPECT_EQ(d.ReadTags(t), 1);
    EXPECT_TRUE(t.Empty());
}

// A 5.1 file is mixed to stereo in Vorbis channel order: the centre reaches both sides, a side channel one.
TEST(OggVorbisDecoder, SurroundFileMixesToStereo) {
    TempDir dir;
    ASSERT_TRUE(Tool("ffmpeg", {"-f", "lavfi", "-i",
                                "aevalsrc=0|0|0.5*sin(2*PI*440*t)|0|0.5*sin(2*PI*880*t)|0:s=48000:d=2", "-c:a",
                                "libvorbis", dir / "six.ogg"}));
    OggVorbisDecoder d;
    ASSERT_EQ(d.Open(dir / "six.ogg", 0), 1);
    EXPECT_EQ(d.GetChannels(), 6);
    EXPECT_EQ(d.Format().channels, 2);
    const Decoded got = DecodeAll(d);
    EXPECT_FALSE(got.oversized);
    const std::vector<int> want = FfmpegSamples(dir / "six.ogg", 2);
    ASSERT_EQ(got.samples.size(), want.size());
    EXPECT_LE(MaxDifference(got.samples, want), kTolerance);
    int right = 0, sideOnly = 0;
    for (size_t i = 0; i + 1 < got.samples.size(); i += 2) {
        right = std::max(right, std::abs(got.samples[i + 1]));
        sideOnly = std::max(sideOnly, std::abs(got.samples[i] - got.samples[i + 1]));
    }
    EXPECT_GT(right, 2000);
    EXPECT_GT(sideOnly, 2000);
}

// Truncated files, garbage, a header followed by noise and a spoiled page fail cleanly or end early.
TEST(OggVorbisDecoder, DamagedFilesFailCleanly) {
    TempDir dir;
    ASSERT_TRUE(Tool("sox", {"-n", "-r", "44100", "-c", "2", dir / "good.ogg", "synth", "3", "sine", "440"}));
    const std::vector<uint8_t> good = ReadBytes(dir / "good.ogg");
    std::mt19937 random(11);
    std::vector<std::vector<uint8_t>> damaged;
    for (size_t cut : {size_t{0}, size_t{4}, size_t{30}, size_t{100}, size_t{4000}, good.size() / 2})
        damaged.emplace_back(good.begin(), good.begin() + std::min(cut, good.size()));
    std::vector<uint8_t> noisy = good, spoiled = good, garbage(40000);
    for (size_t i = 4000; i < noisy.size(); ++i) noisy[i] = random() & 0xFF;
    for (size_t i = good.size() / 2; i < good.size() / 2 + 200; ++i) spoiled[i] = random() & 0xFF;
    for (auto& b : garbage) b = random() & 0xFF;
    damaged.insert(damaged.end(), {noisy, spoiled, garbage});

    const size_t full = DecodeFile(dir / "good.ogg").size();
    for (size_t i = 0; i < damaged.size(); ++i) {
        const std::string path = dir / ("bad" + std::to_string(i) + ".ogg");
        WriteBytes(path, damaged[i]);
        OggVorbisDecoder d;
        if (d.Open(path, 0)) {
            const Decoded got = DecodeAll(d, 1000);
            EXPECT_LT(got.reads, 1000) << i;
            EXPECT_LE(got.samples.size(), full) << i;
        }
    }
    // The audio before the spoiled page still plays, as far as ffmpeg gets.
    EXPECT_NEAR(static_cast<double>(DecodeFile(dir / "bad7.ogg").size()), FfmpegSamples(dir / "bad7.ogg", 2).size(),
                4096);

    // Only the header pages (those before the first page with a granule position): no audio, refused.
    size_t audioStart = 0;
    while (audioStart + 27 < good.size() && LoadU32LE(&good[audioStart + 6]) == 0) {
        size_t size = 27 + good[audioStart + 26];
        for (size_t i = 0; i < good[audioStart + 26]; ++i) size += good[audioStart + 27 + i];
        audioStart += size;
    }
    WriteBytes(dir / "headers.ogg", std::vector<uint8_t>(good.begin(), good.begin() + audioStart));
    OggVorbisDecoder headersOnly;
    EXPECT_EQ(headersOnly.Open(dir / "headers.ogg", 0), 0);
}

}  // namespace
}  // namespace pelloran
