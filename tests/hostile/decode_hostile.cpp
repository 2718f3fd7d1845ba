// Sources that push the block loop and the readers: extreme rate ratios, nothing to decode, cut short, and
// playlists that would pull in other files.

#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

// Frames of a converted file as libsndfile decodes it, or -1.
bool Ffmpeg(std::vector<std::string> args);

// Frames of an output as libsndfile reads it, or as ffmpeg decodes it where libsndfile cannot (WMA).
long FramesOf(const std::string& path) {
    SndfileAudio audio = DecodeWithSndfile(path);
    if (audio.channels <= 0 && Ffmpeg({"-i", path, path + ".decoded.wav"})) audio = DecodeWithSndfile(path + ".decoded.wav");
    if (audio.channels <= 0) return -1;
    return static_cast<long>(audio.samples.size()) / audio.channels;
}

// Runs ffmpeg quietly on the arguments; true when it succeeded.
bool Ffmpeg(std::vector<std::string> args) {
    args.insert(args.begin(), {"ffmpeg", "-v", "error", "-nostdin", "-y"});
    return test::Run(args).exitCode == 0;
}

// The first bytes of a file, up to count.
void CutAt(const std::string& path, size_t count, const std::string& to) {
    std::vector<uint8_t> bytes = ReadBytes(path);
    bytes.resize(std::min(count, bytes.size()));
    WriteBytes(to, bytes);
}

// Offset of a byte pattern in a file, or npos.
size_t Find(const std::string& path, const std::vector<uint8_t>& pattern) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    const auto at = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    return at == bytes.end() ? std::string::npos : static_cast<size_t>(at - bytes.begin());
}

constexpr size_t kWavHeader = 44;  // the canonical header WriteSineWav writes

TEST_F(Hostile, AnyRateRatioConvertsInBoundedBlocksWithTheExpectedLength) {
    struct Source {
        int rate, channels;
        double seconds;
    };
    struct Target {
        const char* format;
        std::vector<std::string> sets;
        int rate;
        long tolerance;  // frames; MP3 adds the encoder delay and padding
    };
    const Source sources[] = {{1, 2, 3.0}, {8000, 1, 1.0}};
    const Target targets[] = {
        {"wav", {"AutoDestWAVEncodingParam=0", "WAVSampleRate=48000"}, 48000, 4},
        {"wav", {"AutoDestWAVEncodingParam=0", "WAVSampleRate=192000"}, 192000, 4},
        {"ogg", {"AutoDestOGGEncodingParam=0", "OGGSampleRate=48000"}, 48000, 4},
        {"mp3", {"AutoDestMP3EncodingParam=0", "MP3SampleRate=48000"}, 48000, 2 * 1152 + 576},
        {"wma", {"AutoDestWMAEncodingParam=0", "WMASampleRate=44100", "WMABitRate=64000"}, 44100, 2048},
    };
    int n = 0;
    for (const Source& s : sources) {
        const std::string source = Sine("r" + std::to_string(s.rate) + ".wav", s.rate, s.channels, s.seconds);
        for (const Target& t : targets) {
            SCOPED_TRACE(std::to_string(s.rate) + " Hz -> " + t.format + " " + std::to_string(t.rate));
            const std::string out = dir_ / ("out" + std::to_string(n++));
            std::vector<std::string> args = {"-f", t.format, "-o", out};
            for (const std::string& set : t.sets) args.insert(args.end(), {"-s", set});
            args.push_back(source);
            const CommandResult r = Cli(args);
            ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
            const std::string target = out + "/r" + std::to_string(s.rate) + "." + t.format;
            const long expected = static_cast<long>(s.seconds * t.rate);
            const long frames = FramesOf(target);
            EXPECT_GE(frames, expected - 4);
            EXPECT_LE(frames, expected + t.tolerance);
        }
    }
}

TEST_F(Hostile, SourceThatPromisesAudioAndGivesNoneFailsWithAReason) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg makes the WMA source";
    // A WMA cut right after its header (the data object's own header kept); a WAV whose data chunk is missing.
    const std::string wma = dir_ / "full.wma";
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=d=1", "-c:a", "wmav2", wma}));
    const size_t data = Find(wma, {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11});
    ASSERT_NE(data, std::string::npos);
    std::filesystem::create_directories(dir_ / "src");
    CutAt(wma, data + 50, dir_ / "src/header.wma");
    CutAt(Sine("full.wav"), kWavHeader, dir_ / "src/header.wav");

    for (const char* name : {"header.wma", "header.wav"}) {
        SCOPED_TRACE(name);
        const std::string out = dir_ / (std::string("out-") + name);
        const CommandResult r = Cli({"-f", "wav", "-o", out, dir_ / ("src/" + std::string(name))});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.out.find("Conversion Failure (No audio could be decoded)"), std::string::npos) << r.out;
        EXPECT_TRUE(Names(out).empty());
    }
}

TEST_F(Hostile, SourceCutShortConvertsWhatItHolds) {
    // A WAV cut in the middle of its data, read by each reader that takes WAV: exactly the frames that are there.
    const std::string wav = Sine("whole.wav", 44100, 2, 1.0);
    CutAt(wav, kWavHeader + 22050 * 4, dir_ / "cut.wav");
    for (const char* decoder : {"bass", "wav", "ffmpeg"}) {
        SCOPED_TRACE(decoder);
        const std::string out = dir_ / (std::string("wav-") + decoder);
        const CommandResult r = Cli({"--json", "--decoder", decoder, "-f", "wav", "-o", out, wav, dir_ / "cut.wav"});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(FramesOf(out + "/whole.wav"), 44100);
        EXPECT_EQ(FramesOf(out + "/cut.wav"), 22050);
        EXPECT_EQ(r.out.find("\"truncated\":true"), r.out.rfind("\"truncated\":true")) << "only the cut one";
        EXPECT_NE(r.out.find("\"truncated\":true"), std::string::npos);
    }

    // Compressed sources whose headers state their length; the whole file is never taken as cut.
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg makes the compressed sources";
    struct Source {
        const char* name;
        std::vector<std::string> codec;
    };
    const Source sources[] = {
        {"vbr.mp3", {"-c:a", "libmp3lame", "-q:a", "4"}},
        {"s.flac", {}},
        {"s.m4a", {"-c:a", "aac", "-movflags", "+faststart"}},
        {"s.wma", {"-c:a", "wmav2"}},
    };
    for (const Source& s : sources) {
        SCOPED_TRACE(s.name);
        const std::string whole = dir_ / (std::string("whole-") + s.name);
        std::vector<std::string> args = {"-f", "lavfi", "-i", "sine=d=4"};
        args.insert(args.end(), s.codec.begin(), s.codec.end());
        args.push_back(whole);
        ASSERT_TRUE(Ffmpeg(args));
        const std::string cut = dir_ / (std::string("cut-") + s.name);
        CutAt(whole, ReadBytes(whole).size() * 6 / 10, cut);
        const std::string out = dir_ / (std::string("out-") + s.name);
        const CommandResult r = Cli({"--json", "-f", "wav", "-o", out, whole, cut});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        const size_t line = r.out.find('\n');
        EXPECT_NE(r.out.find("\"truncated\":false"), std::string::npos);
        EXPECT_LT(r.out.find("\"truncated\":false"), line) << "the whole file is not cut";
        EXPECT_GT(r.out.find("\"truncated\":true"), line) << r.out;
        const std::string stem = std::string(s.name).substr(0, std::string(s.name).find('.'));
        const long wholeFrames = FramesOf(out + "/whole-" + stem + ".wav");
        const long cutFrames = FramesOf(out + "/cut-" + stem + ".wav");
        EXPECT_NEAR(static_cast<double>(wholeFrames), 4 * 44100.0, 3000.0);
        EXPECT_GT(cutFrames, 0);
        EXPECT_LT(cutFrames, wholeFrames * 8 / 10);
    }
}

TEST_F(Hostile, PlaylistsManifestsAndSequencesNeverReachOtherFiles) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg makes the files they point at";
    const std::string secret = dir_ / "secret/secret.wav";
    std::filesystem::create_directories(dir_ / "secret");
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "sine=f=1000:d=1", secret}));
    ASSERT_TRUE(Ffmpeg({"-i", secret, dir_ / "secret/secret.mp3"}));
    ASSERT_TRUE(Ffmpeg({"-i", secret, "-c:a", "aac", "-f", "mpegts", dir_ / "secret/part.ts"}));
    ASSERT_TRUE(Ffmpeg({"-i", secret, "-c:a", "aac", dir_ / "secret/secret.m4a"}));
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=d=1:s=64x48:r=5", dir_ / "img%03d.png"}));
    const auto text = [&](const std::string& name, const std::string& body) {
        WriteBytes(dir_ / name, std::vector<uint8_t>(body.begin(), body.end()));
        return name;
    };
    const std::string concat = "ffconcat version 1.0\nfile secret/secret.wav\n";
    const std::string hls = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:1.0,\n";
    std::vector<std::string> names = {
        text("cc.mp3", concat),
        text("cc.txt", concat),
        text("ts.m3u8", hls + "secret/part.ts\n#EXT-X-ENDLIST\n"),
        text("mp.m3u8", hls + "secret/secret.mp3\n#EXT-X-ENDLIST\n"),
        "img%03d.png",
    };
    WriteBytes(dir_ / "img%03d.png", ReadBytes(dir_ / "img001.png"));  // the pattern is a file of its own too
    const std::string demuxers = test::Run({"ffmpeg", "-hide_banner", "-demuxers"}).out;
    if (demuxers.find(" dash ") != std::string::npos) {
        names.push_back(text("m.mpd", R"(<?xml version="1.0"?>
<MPD xmlns="urn:mpeg:dash:schema:mpd:2011" type="static" mediaPresentationDuration="PT1S" minBufferTime="PT1S">
 <Period duration="PT1S"><AdaptationSet mimeType="audio/mp4">
  <Representation id="a" bandwidth="128000" codecs="mp4a.40.2" audioSamplingRate="44100">
   <BaseURL>secret/secret.m4a</BaseURL></Representation></AdaptationSet></Period></MPD>
)"));
    }
    for (const std::string& name : names) {
        for (const char* decoder : {"", "ffmpeg", "bass"}) {
            SCOPED_TRACE(name + " " + decoder);
            const std::string out = dir_ / "out";
            std::vector<std::string> args = {"-f", "wav", "-o", out, dir_ / name};
            if (*decoder != '\0') args.insert(args.begin(), {"--decoder", decoder});
            const CommandResult r = Cli(args);
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_NE(r.out.find("Failed to load"), std::string::npos) << r.out;
            EXPECT_TRUE(Names(out).empty());
        }
    }
    // The files themselves convert.
    const CommandResult r = Cli({"-f", "wav", "-o", dir_ / "plain", secret, dir_ / "secret/secret.mp3",
                                 dir_ / "secret/secret.m4a"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(Names(dir_ / "plain").size(), 3u);
}

}  // namespace
}  // namespace pelloran::test
