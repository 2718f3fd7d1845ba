// Sources that push the block loop and the readers: extreme rate ratios, nothing to decode, cut short, and
// playlists that would pull in other files.

#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

// Frames of a converted file as libsndfile decodes it, or -1.
long FramesOf(const std::string& path) {
    const SndfileAudio audio = DecodeWithSndfile(path);
    if (audio.channels <= 0) return -1;
    return static_cast<long>(audio.samples.size()) / audio.channels;
}

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

}  // namespace
}  // namespace pelloran::test
