// Standard input as the source ("-") and standard output as the target ("-o -"), through pipes as a shell makes
// them: the kind of a piped file is found from its bytes, the output comes out whole or the exit status says
// it did not, and the private folder in $TMPDIR goes on every way out.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

namespace fs = std::filesystem;
using Streams = Hostile;  // the same scratch fixture

class Pipes : public Streams {
protected:
    void SetUp() override {
        Streams::SetUp();
        for (const char* tool : {"sox", "flac", "lame", "ffmpeg", "ffprobe", "soxi"}) {
            if (!HaveTool(tool)) GTEST_SKIP() << tool << " is needed";
        }
        fs::create_directories(dir_ / "tmp");
        // 2.5 s of a plucked chord with a fade: 110250 frames.
        const auto made = test::Run({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", dir_ / "src.wav", "synth",
                                     "2.5", "pluck", "C3", "pluck", "G3", "pluck", "E4", "fade", "0", "2.5", "0.4"});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }
    // Runs a bash script in the scratch folder with $CLI set to pelloran-cli and its scratch settings.
    CommandResult Shell(const std::string& script) const {
        std::vector<std::string> env = Env();
        env.push_back("TMPDIR=" + (dir_ / "tmp"));
        env.push_back("CLI=" + CliPath() + " -q --settings " + settingsFile_);
        return test::Run({"bash", "-c", "cd '" + dir_.path().string() + "' && " + script}, env);
    }
    bool TmpEmpty() const { return fs::is_empty(dir_ / "tmp"); }
    std::string Probe(const std::string& entry, const std::string& file) const {
        const auto r = test::Run({"ffprobe", "-v", "error", "-show_entries", entry, "-of", "csv=p=0", dir_ / file});
        return r.out.substr(0, r.out.find('\n'));
    }
};

TEST_F(Pipes, EveryKindOfPipedFileIsFoundFromItsBytes) {
    const struct {
        const char* name;
        const char* producer;  // writes the file to standard output
        bool exact;            // decodes to the source's frames exactly
    } kinds[] = {
        {"wav", "cat src.wav", true},
        {"flac", "flac -s -c src.wav", true},
        {"aiff", "sox src.wav -t aiff -", true},
        {"au", "sox src.wav -t au -", true},
        {"mp3 with ID3v2", "lame --quiet --tt Song --ta Ana --add-id3v2 src.wav -", false},
        {"mp3 bare", "lame --quiet -t src.wav -", false},
        {"ogg vorbis", "ffmpeg -v error -i src.wav -c:a libvorbis -f ogg -", false},
        {"opus", "ffmpeg -v error -i src.wav -c:a libopus -f ogg -", false},
        {"m4a", "ffmpeg -v error -i src.wav -c:a aac x.m4a && cat x.m4a", false},
        {"wav named by --input-format", "cat src.wav", true},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.name);
        const bool named = std::string(k.name).find("--input-format") != std::string::npos;
        const auto r = Shell("set -o pipefail; " + std::string(k.producer) + " | $CLI -f wav " +
                             (named ? "--input-format WAV" : "") + " -o - - > out.wav");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto length = test::Run({"soxi", k.exact ? "-s" : "-D", dir_ / "out.wav"});
        ASSERT_EQ(length.exitCode, 0) << length.err;
        if (k.exact) EXPECT_EQ(std::stol(length.out), 110250);
        else EXPECT_NEAR(std::stod(length.out), 2.5, 0.06);  // an Opus source decodes at 48 kHz
        EXPECT_TRUE(TmpEmpty());
        fs::remove(dir_ / "x.m4a");
    }
}

TEST_F(Pipes, OutputComesOutWholeOrTheStatusSaysSo) {
    ASSERT_EQ(test::Run({"flac", "-s", dir_ / "src.wav"}).exitCode, 0);
    // Formats that seek back to fix their headers come out whole through a pipe too.
    for (const char* format : {"opus", "flac", "m4a", "mp3"}) {
        SCOPED_TRACE(format);
        const auto r = Shell("set -o pipefail; flac -s -c -d src.flac | $CLI -f " + std::string(format) +
                             " -o - - | cat > out.bin");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(r.err.find("stdin") != std::string::npos) << "the line goes to standard error: " << r.err;
        const double seconds = std::stod(Probe("format=duration", "out.bin"));
        EXPECT_NEAR(seconds, 2.5, 0.06);
    }
    // From a named file to a pipe; the reader going away early is a failure, and nothing is left behind.
    auto r = Shell("$CLI -f opus -o - src.flac > x.opus");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Probe("stream=codec_name", "x.opus"), "opus");
    r = Shell("$CLI -f wav -o - src.flac | head -c 100 > /dev/null; echo ${PIPESTATUS[0]}");
    EXPECT_NE(r.out, "0\n");
    EXPECT_EQ(r.out, "130\n") << r.err;
    EXPECT_NE(r.err.find("Broken pipe"), std::string::npos) << r.err;
    EXPECT_TRUE(TmpEmpty());
}

TEST_F(Pipes, MisuseAndStopSignalsLeaveNothing) {
    const struct {
        const char* script;
        int exitCode;
        const char* says;
    } cases[] = {
        {"cat src.wav | $CLI -f wav -o out - src.wav", 2, "must be the only input"},
        {"$CLI -f wav -o - src.wav src.wav > o", 2, "exactly one input"},
        {"$CLI -f wav -o out --input-format wav src.wav", 2, "--input-format needs -"},
        {"cat src.wav | $CLI -f wav -o out --input-format zzz -", 2, "no reader takes"},
        {"echo just words | $CLI -f wav -o out -", 1, "not a kind of audio file"},
        {"$CLI -f wav --mirror . -o -", 2, "--mirror needs -o DEST_DIR"},
        // Stopped while the pipe still brings the file: once, and twice (the second ends at once).
        {"(sleep 3; cat src.wav) | $CLI -f wav -o - - > o & sleep 0.5; kill -TERM $!; wait $!", 143, ""},
        {"(sleep 3; cat src.wav) | $CLI -f wav -o - - > o & sleep 0.5; kill -TERM $!; kill -TERM $!; wait $!", 143, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const auto r = Shell(c.script);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_TRUE(TmpEmpty());
        EXPECT_FALSE(fs::exists(dir_ / "out"));
    }
}

}  // namespace
}  // namespace pelloran::test
