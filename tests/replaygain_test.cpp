// Gain tags and loudness normalisation through pelloran-cli: an album of three music-like tracks at different
// levels, its tags read back by mutagen and checked against FFmpeg's ebur128 meter, old tags replaced or kept
// by mode, normalised outputs measured by FFmpeg, and an album update that fails leaving its targets whole.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "encode/Limiter.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

namespace fs = std::filesystem;

using Tags = std::map<std::string, std::string>;

// Every ReplayGain and R128 field of a file as mutagen reads it (names upper-cased), and an Opus file's header
// gain as OPUS_HEADER_GAIN.
Tags GainTags(const std::string& path) {
    const auto r = test::Run({"/usr/bin/python3", "-c",
                              "import mutagen,sys\n"
                              "f=mutagen.File(sys.argv[1])\n"
                              "for k,v in (f.tags.items() if f.tags else []):\n"
                              "  n=k.split(':')[-1].upper()\n"
                              "  if isinstance(v,list): v=v[0]\n"
                              "  if hasattr(v,'text'): v=v.text[0]\n"
                              "  if isinstance(v,bytes): v=v.decode()\n"
                              "  if n.startswith('REPLAYGAIN_') or n.startswith('R128_'): print(n+'='+str(v))\n"
                              "d=open(sys.argv[1],'rb').read(4096); i=d.find(b'OpusHead')\n"
                              "if i>=0: print('OPUS_HEADER_GAIN=%d'%int.from_bytes(d[i+16:i+18],'little',signed=True))\n",
                              path});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Tags tags;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) tags[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return tags;
}

struct Measure {
    double lufs = 0.0;
    double truePeak = 0.0;
};

// FFmpeg's ebur128 of a file.
Measure Ffmpeg(const std::string& file) {
    const auto r = test::Run({"ffmpeg", "-nostats", "-hide_banner", "-i", file, "-af", "ebur128=peak=true", "-f",
                              "null", "-"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string summary = r.err.substr(r.err.rfind("Summary:"));
    Measure m;
    EXPECT_EQ(std::sscanf(summary.c_str() + summary.find("I:"), "I: %lf", &m.lufs), 1) << summary;
    EXPECT_EQ(std::sscanf(summary.c_str() + summary.find("Peak:"), "Peak: %lf", &m.truePeak), 1) << summary;
    return m;
}

// bs1770gain's album loudness of files (the last integrated value it prints).
double Bs1770AlbumLufs(const std::vector<std::string>& files) {
    std::vector<std::string> argv = {"bs1770gain", "--xml"};
    argv.insert(argv.end(), files.begin(), files.end());
    const auto r = test::Run(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const size_t at = r.out.rfind("<integrated lufs=\"");
    double lufs = 0.0;
    EXPECT_TRUE(at != std::string::npos && std::sscanf(r.out.c_str() + at, "<integrated lufs=\"%lf", &lufs) == 1) << r.out;
    return lufs;
}

double Number(const Tags& tags, const std::string& name) {
    const auto it = tags.find(name);
    EXPECT_NE(it, tags.end()) << name;
    return it == tags.end() ? 0.0 : std::stod(it->second);
}

// Three tracks of one album (plucked chords, pink noise, both) at different levels and rates, tagged with an
// old track gain that any gain tag pass must replace. sox -R makes the noise the same on every run.
class ReplayGainAlbum : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::HaveTool("ffmpeg") && test::HaveTool("sox") && test::HaveTool("flac"));
        const std::string d = dir.path().string();
        ASSERT_EQ(test::Run({"sh", "-c",
                             "cd '" + d + "' && sox -R -n -r 44100 -c 2 -b 16 a.wav synth 6 pluck C4 pluck E4 gain -12 && "
                             "sox -R -n -r 44100 -c 2 -b 16 b.wav synth 5 pinknoise gain -20 && "
                             "sox -R -n -r 48000 -c 2 -b 24 c.wav synth 7 pluck A3 pinknoise gain -3 && "
                             "for t in a b c; do flac -s -f $t.wav -o $t.flac --tag=ALBUM=One "
                             "'--tag=REPLAYGAIN_TRACK_GAIN=+5.00 dB' && rm $t.wav; done"})
                      .exitCode,
                  0);
    }
    std::vector<std::string> Sources() const { return {dir / "a.flac", dir / "b.flac", dir / "c.flac"}; }
    test::CommandResult Convert(const std::string& format, const std::string& out, std::vector<std::string> extra,
                                const std::vector<std::string>& env = {}) {
        std::vector<std::string> argv = {test::CliPath(), "-q", "-j", "2", "-f", format, "-o", dir / out};
        argv.insert(argv.end(), extra.begin(), extra.end());
        for (const auto& s : Sources()) argv.push_back(s);
        return test::Run(argv, env);
    }
    test::TempDir dir;
};

TEST_F(ReplayGainAlbum, AlbumTagsOfEveryFormatAgreeWithFfmpeg) {
    if (!test::HaveTool("bs1770gain")) GTEST_SKIP() << "no bs1770gain";
    std::vector<Measure> tracks;
    for (const auto& source : Sources()) tracks.push_back(Ffmpeg(source));
    const double albumLufs = Bs1770AlbumLufs(Sources());
    for (const std::string format : {"flac", "mp3", "ogg", "opus", "m4a"}) {
        SCOPED_TRACE(format);
        const auto r = Convert(format, format, {"--replaygain", "album"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const char* names[] = {"a", "b", "c"};
        for (size_t t = 0; t < 3; ++t) {
            const Tags tags = GainTags(dir / (format + "/" + names[t] + "." + format));
            if (format == "opus") {
                // R128 gains in 1/256 dB relative to -23 LUFS, on a header gain of 0, and no ReplayGain fields.
                EXPECT_EQ(tags.count("REPLAYGAIN_TRACK_GAIN"), 0u);
                EXPECT_EQ(Number(tags, "OPUS_HEADER_GAIN"), 0);
                EXPECT_NEAR(-23 - Number(tags, "R128_TRACK_GAIN") / 256, tracks[t].lufs, 0.1);
                EXPECT_NEAR(-23 - Number(tags, "R128_ALBUM_GAIN") / 256, albumLufs, 0.1);
                continue;
            }
            EXPECT_NEAR(Number(tags, "REPLAYGAIN_TRACK_GAIN"), -18 - tracks[t].lufs, 0.1);
            EXPECT_NEAR(Number(tags, "REPLAYGAIN_ALBUM_GAIN"), -18 - albumLufs, 0.1);
            EXPECT_GT(Number(tags, "REPLAYGAIN_TRACK_PEAK"), 0.0);
            EXPECT_LE(Number(tags, "REPLAYGAIN_TRACK_PEAK"), Number(tags, "REPLAYGAIN_ALBUM_PEAK"));
            EXPECT_EQ(tags.at("REPLAYGAIN_REFERENCE_LOUDNESS"), "-18.00 LUFS");
        }
    }
}

TEST_F(ReplayGainAlbum, OldGainTagsAreReplacedByAGainPassAndKeptWithout) {
    const struct {
        const char* mode;
        bool replaced;
    } cases[] = {{"track", true}, {"off", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const std::string out = std::string("out-") + c.mode;
        ASSERT_EQ(Convert("ogg", out, {"--replaygain", c.mode}).exitCode, 0);
        const Tags tags = GainTags(dir / (out + "/b.ogg"));
        EXPECT_EQ(tags.at("REPLAYGAIN_TRACK_GAIN") == "+5.00 dB", !c.replaced);
        EXPECT_EQ(tags.count("REPLAYGAIN_ALBUM_GAIN"), 0u);  // track mode writes no album values
    }
}

TEST_F(ReplayGainAlbum, NormalisedOutputsReachTheTargetUnderTheCeiling) {
    const struct {
        const char* format;
        std::vector<std::string> options;
        double peakSlack;  // a lossy codec's own overshoot over the ceiling
    } cases[] = {
        {"flac", {"--normalize", "-16"}, 0.0},
        {"flac", {"--normalize", "-20", "--true-peak", "-3", "--verify"}, 0.0},
        {"opus", {"--normalize", "-16", "--replaygain", "track"}, 0.5},
    };
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + c.options[1]);
        const std::string out = "norm" + std::to_string(run++);
        const auto r = Convert(c.format, out, c.options);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const double target = std::stod(c.options[1]);
        const double ceiling = c.options.size() > 3 && c.options[2] == "--true-peak" ? std::stod(c.options[3]) : -1.0;
        for (const char* name : {"a", "b", "c"}) {
            const std::string output = dir / (out + "/" + name + "." + c.format);
            const Measure m = Ffmpeg(output);
            EXPECT_NEAR(m.lufs, target, 0.5) << name;
            EXPECT_LE(m.truePeak, ceiling + c.peakSlack) << name;
            // The limiter's look-ahead is flushed: not one frame more or less.
            if (std::string(c.format) == "flac") {
                EXPECT_EQ(test::Run({"soxi", "-s", output}).out,
                          test::Run({"soxi", "-s", dir / (std::string(name) + ".flac")}).out);
            } else {
                // Tags measured after the gain: the normalised loudness (as the encoder got it).
                EXPECT_NEAR(-23 - Number(GainTags(output), "R128_TRACK_GAIN") / 256, m.lufs, 0.3);
            }
        }
    }
}

TEST_F(ReplayGainAlbum, AFailedAlbumUpdateLeavesTheTargetsAsTheyWere) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the preloaded rename shim, built without the sanitizer, cannot load into a sanitized program";
#endif
    // Renames that replace a file fail (the update's last step); the conversions' own no-replace ones work.
    const std::string shim = dir / "shim.so";
    test::WriteBytes(dir / "shim.c", [] {
        const std::string code =
            "#include <errno.h>\n#include <string.h>\n"
            "int rename(const char* a, const char* b) { (void)a; (void)b; errno = EIO; return -1; }\n";
        return std::vector<uint8_t>(code.begin(), code.end());
    }());
    if (test::Run({"cc", "-shared", "-fPIC", "-o", shim, dir / "shim.c"}).exitCode != 0) GTEST_SKIP() << "no C compiler";
    const auto r = Convert("flac", "out", {"--replaygain", "album", "-j", "1"}, {"LD_PRELOAD=" + shim});
    EXPECT_NE(r.err.find("ReplayGain tags could not be written"), std::string::npos) << r.err;
    for (const char* name : {"a", "b", "c"}) {
        const std::string target = dir / (std::string("out/") + name + ".flac");
        const Tags tags = GainTags(target);
        EXPECT_EQ(tags.count("REPLAYGAIN_TRACK_GAIN"), 1u) << name;  // the conversion's own track values
        EXPECT_EQ(tags.count("REPLAYGAIN_ALBUM_GAIN"), 0u) << name;
        EXPECT_EQ(test::Run({"flac", "-t", "-s", target}).exitCode, 0) << name;
    }
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir.path() / "out")) files += entry.is_regular_file();
    EXPECT_EQ(files, 3u);  // no work file left behind
}

// The limiter keeps every stream's length, however short against its look-ahead, and its peaks under the
// ceiling: a full-scale square wave lifted by 12 dB, in blocks of any size.
TEST(Limiter, KeepsTheLengthAndHoldsPeaksUnderTheCeiling) {
    const NormaliseGain gain{12.0, -1.0, true};
    for (const int length : {0, 1, 100, 300, 301, 20000}) {
        for (const int block : {1, 64, 4096}) {
            SCOPED_TRACE(std::to_string(length) + " frames in blocks of " + std::to_string(block));
            Limiter limiter(2, 48000, 16, gain);
            std::vector<int32_t> left(length), right(length);
            for (int i = 0; i < length; ++i) left[i] = right[i] = (i / 50) % 2 ? 32767 : -32768;
            std::vector<int32_t> out;
            int32_t peak = 0;
            const auto take = [&](int32_t* l, int32_t* r, int frames) {
                for (int i = 0; i < frames; ++i) {
                    out.push_back(l[i]);
                    peak = std::max({peak, std::abs(l[i]), std::abs(r[i])});
                }
            };
            for (int at = 0; at < length; at += block) {
                int32_t* planes[2] = {left.data() + at, right.data() + at};
                take(planes[0], planes[1], limiter.Process(planes, std::min(block, length - at)));
            }
            std::vector<int32_t> room[2] = {std::vector<int32_t>(64), std::vector<int32_t>(64)};
            int32_t* planes[2] = {room[0].data(), room[1].data()};
            while (const int frames = limiter.Flush(planes, 64)) take(planes[0], planes[1], frames);
            EXPECT_EQ(out.size(), static_cast<size_t>(length));
            EXPECT_LE(peak, 32768 * std::pow(10.0, -1.0 / 20));
        }
    }
}

}  // namespace
}  // namespace pelloran
