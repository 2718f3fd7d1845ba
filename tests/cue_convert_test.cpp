// Albums with a CUE sheet converted track by track through pelloran-cli: sample-exact cuts (the lossless tracks
// concatenate to the album bit for bit, boundaries as cuebreakpoints gives them), exact lengths in the lossy
// formats, "NN - Title" names and the tracks' tags read back by mutagen.

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

namespace fs = std::filesystem;

// Three plucked chords of 3.2, 2.5 and 4.1 s as one FLAC album, with a pregap before track 2 and a
// hidden-track region too short to stand alone.
class CueAlbum : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string d = dir.path().string();
        ASSERT_EQ(test::Run({"sh", "-c",
                       "cd '" + d + "' && sox -n -r 44100 -c 2 -b 16 a.wav synth 3.2 pluck C4 pluck E4 gain -6 && "
                       "sox -n -r 44100 -c 2 -b 16 b.wav synth 2.5 pluck G4 gain -6 && "
                       "sox -n -r 44100 -c 2 -b 16 c.wav synth 4.1 pluck A3 pinknoise gain -9 && "
                       "sox a.wav b.wav c.wav Album.wav && flac -s -f Album.wav -o Album.flac && rm a.wav b.wav c.wav Album.wav"})
                      .exitCode,
                  0);
        test::WriteBytes(dir / "Album.cue", Bytes(
            "PERFORMER \"The Band\"\nTITLE \"First Album\"\nREM DATE 2001\nFILE \"Album.wav\" WAVE\n"
            "  TRACK 01 AUDIO\n    TITLE \"Opening\"\n    INDEX 01 00:01:00\n"
            "  TRACK 02 AUDIO\n    TITLE \"Middle/Part\"\n    PERFORMER \"Guest\"\n"
            "    INDEX 00 00:03:10\n    INDEX 01 00:03:15\n"
            "  TRACK 03 AUDIO\n    TITLE \"End\"\n    INDEX 01 00:05:50\n"));
    }
    static std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
    // Raw 16-bit samples of a file, decoded by sox.
    std::string Raw(const std::string& file) {
        const auto r = test::Run({"sox", file, "-t", "raw", "-"});
        EXPECT_EQ(r.exitCode, 0) << file;
        return r.out;
    }
    test::TempDir dir;
};

TEST_F(CueAlbum, LosslessTracksConcatenateToTheAlbumAtTheSheetsBoundaries) {
    const auto r = test::Run({test::CliPath(), "-f", "flac", "--verify", "-o", dir / "out", dir / "Album.cue"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> names = {"01 - Opening.flac", "02 - Middle_Part.flac", "03 - End.flac"};
    std::string joined;
    std::vector<uint64_t> ends;
    for (const std::string& name : names) {
        ASSERT_TRUE(fs::exists((dir.path() / "out" / name).string())) << name << "\n" << r.out;
        joined += Raw((dir.path() / "out" / name).string());
        ends.push_back(joined.size() / 4);
    }
    EXPECT_EQ(joined, Raw(dir / "Album.flac"));  // the hidden second goes to track 1, gaps to the track before
    // Boundaries at each INDEX 01, as cuebreakpoints gives them (m:ss.ff, 75 frames a second).
    const auto points = test::Run({"cuebreakpoints", "--append-gaps", dir / "Album.cue"});
    ASSERT_EQ(points.exitCode, 0);
    std::istringstream lines(points.out);
    std::vector<uint64_t> expected;
    for (std::string line; std::getline(lines, line);) {
        int m = 0, s = 0, f = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d:%d.%d", &m, &s, &f), 3) << line;
        expected.push_back((static_cast<uint64_t>(m) * 60 + s) * 44100 + static_cast<uint64_t>(f) * 588);
    }
    ASSERT_EQ(expected.size(), 2u);  // the first point (track 1 at 0:01) belongs to the short hidden part
    EXPECT_EQ(ends[0], expected[0]);
    EXPECT_EQ(ends[1], expected[1]);

    // The tracks' own tags over the album's, as mutagen reads them.
    const auto tags = test::Run({"/usr/bin/python3", "-c",
                           "import mutagen,sys\nf=mutagen.File(sys.argv[1])\n"
                           "print('|'.join(f[k][0] for k in ('title','artist','album','albumartist','tracknumber','date')))",
                           (dir.path() / "out" / names[1]).string()});
    EXPECT_EQ(tags.out, "Middle/Part|Guest|First Album|The Band|2|2001\n");
}

TEST_F(CueAlbum, LossyTracksKeepTheirExactLengthsAndNoCueKeepsTheAlbumWhole) {
    for (const char* format : {"mp3", "opus"}) {
        SCOPED_TRACE(format);
        const auto r = test::Run({test::CliPath(), "-f", format, "--verify", "-o", (dir.path() / format).string(), dir / "Album.flac"});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / format), fs::directory_iterator{}), 3);
    }
    const auto whole = test::Run({test::CliPath(), "-f", "wav", "--no-cue", "-o", dir / "whole", dir / "Album.flac"});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_TRUE(fs::exists(dir.path() / "whole" / "Album.wav"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "whole"), fs::directory_iterator{}), 1);
}

}  // namespace
}  // namespace pelloran
