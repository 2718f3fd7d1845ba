// One job opens its source once and parses its tags once, whatever the output (strace and a preloaded counter
// of TagLib's parses as the oracles).

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

using OneJob = Hostile;  // the scratch fixture

// Lines of an strace log that opened path.
int OpensOf(const std::string& log, const std::string& path) {
    std::istringstream in(log);
    int opens = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find("\"" + path + "\"") != std::string::npos && line.find("= -1") == std::string::npos) ++opens;
    }
    return opens;
}

TEST_F(OneJob, OpensItsSourceOnceAndParsesItsTagsOnce) {
    if (!HaveTool("strace")) GTEST_SKIP() << "strace is not installed";
    const std::string wav = dir_ / "chords.wav";
    const std::string flac = dir_ / "Song.flac";
    ASSERT_EQ(test::Run({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "2", "pluck", "C4", "pluck",
                   "G4", "gain", "-3"}).exitCode, 0);
    // Tagged as a MusicBrainz tagger tags FLAC files.
    ASSERT_EQ(test::Run({"flac", "-s", "-f", "-T", "ARTIST=Ana", "-T", "TITLE=Song", "-T", "ALBUM=Album", "-T",
                   "MUSICBRAINZ_TRACKID=4f4a4f1c-4b35-4e4b-a4c6-2e5b0a3f4d10", "-o", flac, wav}).exitCode, 0);
    // A sanitizer runtime must not refuse the preloaded library, and its leak check cannot run under ptrace.
    std::string asan = std::getenv("ASAN_OPTIONS") != nullptr ? std::getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0:detect_leaks=0").c_str(), 1);
    const std::vector<std::vector<std::string>> jobs = {
        {"-f", "mp3"}, {"-f", "mp3", "--verify"}, {"-f", "ogg"}, {"-f", "flac"}, {"-f", "wav"},
    };
    for (const auto& job : jobs) {
        SCOPED_TRACE(job.back());
        const std::string log = dir_ / "strace.log";
        const std::string counts = dir_ / "parses.txt";
        std::filesystem::remove(counts);
        std::filesystem::remove_all(dir_ / "out");
        std::vector<std::string> argv = {"strace", "-f", "-qq", "-e", "trace=open,openat,creat", "-o", log,
                                         CliPath(), "-q", "--settings", settingsFile_, "-o", dir_ / "out"};
        argv.insert(argv.end(), job.begin(), job.end());
        argv.push_back(flac);
        std::vector<std::string> env = Env();
        env.push_back(std::string("LD_PRELOAD=") + PELLORAN_TAGCOUNT_SHIM);
        env.push_back("PELLORAN_COUNT_OUT=" + counts);
        const auto r = test::Run(argv, env);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto bytes = ReadBytes(log);
        EXPECT_EQ(OpensOf(std::string(bytes.begin(), bytes.end()), flac), 1);
        // Every process that loaded the counter adds its line (strace itself says 0).
        std::ifstream in(counts);
        int parses = 0;
        for (int n = 0; in >> n;) parses += n;
        EXPECT_EQ(parses, 1);
    }
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
}

}  // namespace
}  // namespace pelloran::test
