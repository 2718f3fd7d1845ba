// CUE sheets: the parser on good sheets in every encoding and on hostile ones, the files a sheet may reach,
// track spans against cuebreakpoints, sheets inside FLAC files (metaflac), and the list's rows per track.

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <sstream>

#include "app/AddFiles.h"
#include "decode/CueTracks.h"
#include "platform/File.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

namespace fs = std::filesystem;

const std::string kAlbum =
    "REM GENRE \"Post-Rock\"\nREM DATE 2004\nPERFORMER \"Ensemble Nord\"\nTITLE \"Café Nights\"\n"
    "CATALOG 0724384260924\nFILE \"Album.wav\" WAVE\n"
    "  TRACK 01 AUDIO\n    TITLE \"Opening\"\n    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n    TITLE \"Ünder – Water\"\n    PERFORMER \"Guest\"\n    ISRC GBAYE0400001\n"
    "    INDEX 00 00:02:40\n    INDEX 01 00:03:10\n"
    "  TRACK 03 AUDIO\n    TITLE Closing Time\n    SONGWRITER \"Ana\"\n    INDEX 00 00:05:00\n"
    "    INDEX 01 00:05:30\n";

std::string Utf16(const std::u16string& text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t u : text) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

TEST(CueSheet, ReadsEveryEncodingAndLineEnd) {
    const std::u16string wide =
        u"PERFORMER \"Ensemble Nord\"\r\nTITLE \"Café Nights\"\r\nFILE \"Album.wav\" WAVE\r\n"
        u"TRACK 01 AUDIO\r\nINDEX 01 00:00:00\r\nTRACK 02 AUDIO\r\nTITLE \"Ünder – Water\"\r\nINDEX 01 00:03:10\r\n";
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"utf-8", kAlbum},
        {"utf-8 bom, crlf", "\xEF\xBB\xBF" + Replace(kAlbum, "\n", "\r\n")},
        {"utf-16 le", Utf16(wide, false)},
        {"utf-16 be", Utf16(wide, true)},
        {"windows-1252, cr, lower case",
         Replace(Replace(Replace(Replace(kAlbum, "\n", "\r"), "Café", "Caf\xE9"), "Ünder – Water", "\xDCnder \x96 Water"),
                 "TITLE", "title")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CueParse parse = ParseCueSheet(c.bytes);
        ASSERT_TRUE(parse.ok()) << static_cast<int>(parse.problem) << " at line " << parse.line;
        const CueSheet& sheet = parse.sheet;
        ASSERT_GE(sheet.tracks.size(), 2u);
        EXPECT_EQ(sheet.files.at(0).name, "Album.wav");
        EXPECT_EQ(sheet.fields.at("TITLE"), "Café Nights");
        EXPECT_EQ(sheet.fields.at("PERFORMER"), "Ensemble Nord");
        EXPECT_EQ(sheet.tracks[1].fields.at("TITLE"), "Ünder – Water");
        EXPECT_EQ(sheet.tracks[1].index01, uint64_t{3 * 75 + 10});
    }
    const CueSheet sheet = ParseCueSheet(kAlbum).sheet;
    EXPECT_EQ(sheet.tracks[2].fields.at("TITLE"), "Closing Time");  // unquoted
    EXPECT_EQ(sheet.tracks[1].index00, uint64_t{2 * 75 + 40});
    EXPECT_EQ(sheet.fields.at("GENRE"), "Post-Rock");
}

TEST(CueSheet, RefusesHostileSheetsAtOnce) {
    const std::string head = "FILE \"a.wav\" WAVE\n";
    std::string manyTracks = head;
    for (int i = 1; i <= 10000; ++i) manyTracks += "TRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    std::string binary(4096, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7919 % 251);
    const struct {
        const char* name;
        std::string bytes;
        CueProblem problem;
        size_t line;
    } cases[] = {
        {"10 MB", std::string(10u << 20, ' '), CueProblem::TooLarge, 0},
        {"10,000 tracks", manyTracks, CueProblem::TooManyTracks, 200},
        {"binary", binary, CueProblem::NotText, 0},
        {"controls", head + std::string(200, '\x01'), CueProblem::NotText, 0},
        {"data only", head + "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\n", CueProblem::NoAudioTracks, 0},
        {"seconds 60", head + "TRACK 01 AUDIO\nINDEX 01 00:60:00\n", CueProblem::BadTime, 3},
        {"frames 75", head + "TRACK 01 AUDIO\nINDEX 01 00:00:75\n", CueProblem::BadTime, 3},
        {"beyond 99:59:74", head + "TRACK 01 AUDIO\nINDEX 01 100:00:00\n", CueProblem::BadTime, 3},
        {"01 before 00", head + "TRACK 01 AUDIO\nINDEX 01 00:02:00\nINDEX 00 00:01:00\n", CueProblem::IndexOrder, 4},
        {"before the track before",
         head + "TRACK 01 AUDIO\nINDEX 01 00:09:00\nTRACK 02 AUDIO\nINDEX 01 00:08:00\n", CueProblem::IndexOrder, 5},
        {"index without track", head + "INDEX 01 00:00:00\n", CueProblem::IndexWithoutTrack, 2},
        {"track without file", "TRACK 01 AUDIO\nINDEX 01 00:00:00\n", CueProblem::TrackWithoutFile, 1},
        {"no index 01", head + "TRACK 01 AUDIO\nINDEX 00 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n",
         CueProblem::MissingIndex01, 2},
        {"track 0", head + "TRACK 00 AUDIO\nINDEX 01 00:00:00\n", CueProblem::BadTrack, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        const CueParse parse = ParseCueSheet(c.bytes);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
        EXPECT_EQ(parse.problem, c.problem);
        EXPECT_EQ(parse.line, c.line);
        EXPECT_TRUE(parse.sheet.tracks.empty());
    }
}

TEST(CueSheet, FindsFilesOnlyInItsOwnFolder) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "a" / "b");
    const std::string folder = dir / "a/b/";
    for (const char* name : {"x.flac", "a/x.flac", "a/b/Album.FLAC", "a/b/Album.ape", "a/b/Album.log", "a/b/Other.wv"})
        test::WriteBytes(dir / name, {1});
    CueSheet sheet;
    for (const char* name : {"/etc/passwd", "../../x.flac", "Album.wav", "album.flac", "C:\\rips\\Other.wv", ".."})
        sheet.files.push_back({name, "WAVE"});
    const std::vector<std::string> expected = {"", "", folder + "Album.FLAC", folder + "Album.FLAC", folder + "Other.wv",
                                               ""};
    EXPECT_EQ(ResolveCueFiles(sheet, folder + "Album.cue"), expected);
}

// Breakpoints in sample frames at 44.1 kHz, as cuebreakpoints prints them (m:ss.ff).
std::set<uint64_t> Breakpoints(const std::string& sheet, const char* mode) {
    const test::CommandResult r = test::Run({"cuebreakpoints", mode, sheet});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::set<uint64_t> points;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        unsigned m = 0, s = 0, f = 0;
        if (std::sscanf(line.c_str(), "%u:%u.%u", &m, &s, &f) == 3) points.insert(((m * 60 + s) * 75 + f) * 588ull);
    }
    return points;
}

TEST(CueSheet, SpansAgreeWithCuebreakpoints) {
    if (!test::HaveTool("cuebreakpoints")) GTEST_SKIP() << "cuetools are not installed";
    test::TempDir dir;
    const std::string path = dir / "Album.cue";
    test::WriteBytes(path, std::vector<uint8_t>(kAlbum.begin(), kAlbum.end()));
    const CueSheet sheet = ParseCueSheet(kAlbum).sheet;
    const uint64_t frames = 441000;
    const struct {
        CueGapMode mode;
        const char* option;
    } modes[] = {{CueGapMode::Appended, "--append-gaps"},
                 {CueGapMode::Prepended, "--prepend-gaps"},
                 {CueGapMode::LeftOut, "--split-gaps"}};
    for (const auto& m : modes) {
        SCOPED_TRACE(m.option);
        const std::vector<CueTrackSpan> spans = CueSpans(sheet, 0, 44100, frames, m.mode);
        ASSERT_EQ(spans.size(), 3u);
        std::set<uint64_t> ours;
        for (const CueTrackSpan& span : spans) {
            EXPECT_EQ(span.problem, CueProblem::None);
            if (span.first != 0) ours.insert(span.first);
            if (span.end != frames) ours.insert(span.end);
        }
        EXPECT_EQ(ours, Breakpoints(path, m.option));
        if (m.mode == CueGapMode::Appended) {
            // A lossless album's tracks make up the whole file.
            for (size_t i = 0; i < spans.size(); ++i)
                EXPECT_EQ(spans[i].first, i == 0 ? 0 : spans[i - 1].end);
            EXPECT_EQ(spans.back().end, frames);
        }
    }
}

TEST(CueSheet, HiddenTrackAndTracksPastTheEnd) {
    const struct {
        const char* first;
        uint64_t fileFrames;
        std::vector<std::pair<int, CueProblem>> tracks;
        uint64_t track1First;
    } cases[] = {
        {"00:04:01", 0, {{0, CueProblem::None}, {1, CueProblem::None}, {2, CueProblem::None}}, 301 * 588},
        {"00:04:00", 0, {{1, CueProblem::None}, {2, CueProblem::None}}, 0},
        {"00:01:00", 44100 * 5, {{1, CueProblem::None}, {2, CueProblem::TrackPastEnd}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const CueParse parse = ParseCueSheet(std::string("FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 ") + c.first +
                                             "\nTRACK 02 AUDIO\nINDEX 01 00:10:00\n");
        ASSERT_TRUE(parse.ok());
        const auto spans = CueSpans(parse.sheet, 0, 44100, c.fileFrames);
        ASSERT_EQ(spans.size(), c.tracks.size());
        for (size_t i = 0; i < spans.size(); ++i) {
            EXPECT_EQ(spans[i].number, c.tracks[i].first);
            EXPECT_EQ(spans[i].problem, c.tracks[i].second);
            if (spans[i].number == 1) {
                EXPECT_EQ(spans[i].first, c.track1First);
            }
        }
        EXPECT_EQ(CueDisplayName(parse.sheet, spans[0]), spans[0].number == 0 ? "00" : "01");
    }
}

class CueAlbum : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveTool("sox") || !test::HaveTool("flac") || !test::HaveTool("metaflac"))
            GTEST_SKIP() << "sox and flac are needed";
        // Three tracks of plucked chords, 3.52 s each, as one album file tagged by a tagger.
        std::string chain;
        for (const char* chord : {"pluck C3 pluck E4 pluck G4", "pluck A2 pluck C4 pluck E4", "pluck F2 pluck A3 pluck C5"})
            chain += std::string(" \"|sox -n -r 44100 -c 2 -b 16 -p synth 3.52 ") + chord + " tremolo 6 40 gain -6\"";
        ASSERT_EQ(test::Run({"sh", "-c", "sox" + chain + " '" + wav_ + "' && flac -s -f -T ARTIST=Somebody -T "
                                                          "ALBUM=Whole -T TITLE=Whole -o '" + flac_ + "' '" + wav_ + "'"})
                      .exitCode,
                  0);
        fs::remove(wav_);
        frames_ = 3 * 155232;  // whole CD frames, as a CD-DA sheet block needs
    }
    void WriteSheet(const std::string& text) { test::WriteBytes(sheet_, std::vector<uint8_t>(text.begin(), text.end())); }
    std::vector<AddedFile> Add(std::vector<AddPath> paths, bool cue = true, bool open = true) {
        PathIndex seen;
        AddFilesOptions options;
        options.cue = cue;
        options.openReaders = open;
        return AddFiles(paths, ConvertSettings{}, seen, options, {});
    }

    test::TempDir dir_;
    std::string wav_ = dir_ / "Album.wav", flac_ = dir_ / "Album.flac", sheet_ = dir_ / "Album.cue";
    uint64_t frames_ = 0;
};

TEST_F(CueAlbum, SheetInsideTheFlacKeepsSampleOffsets) {
    WriteSheet(kAlbum);
    ASSERT_EQ(test::Run({"metaflac", "--import-cuesheet-from=" + sheet_, flac_}).exitCode, 0);
    ASSERT_EQ(test::Run({"metaflac", "--set-tag-from-file=CUESHEET=" + sheet_, flac_}).exitCode, 0);
    fs::remove(sheet_);
    File file;
    ASSERT_TRUE(file.Open(flac_, "rb"));
    const EmbeddedCue embedded = ReadEmbeddedCue(file, flac_);
    EXPECT_EQ(embedded.frames, frames_);
    ASSERT_TRUE(embedded.sheet && embedded.sheet->sampleOffsets);
    const std::vector<uint64_t> starts = {0, (3 * 75 + 10) * 588, (5 * 75 + 30) * 588};
    ASSERT_EQ(embedded.sheet->tracks.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(embedded.sheet->tracks[i].index01, starts[i]);
    EXPECT_EQ(embedded.sheet->tracks[1].fields.at("TITLE"), "Ünder – Water");  // words from the comment

    const std::vector<AddedFile> rows = Add({{flac_, AddPath::Kind::File}});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].probe.item.cue->firstFrame, starts[2]);
    EXPECT_EQ(rows[2].probe.item.tags.Extra("CUESHEET"), "");
    EXPECT_EQ(Add({{flac_, AddPath::Kind::File}}, false).size(), 1u);
}

TEST_F(CueAlbum, OneRowPerTrackAndTheAlbumOnce) {
    WriteSheet(kAlbum);  // names Album.wav: the album was re-encoded to FLAC since
    const struct {
        const char* name;
        std::vector<AddPath> paths;
        bool open;
    } cases[] = {
        {"folder", {{dir_.path().string(), AddPath::Kind::Folder}}, true},
        {"sheet and album named", {{sheet_, AddPath::Kind::File}, {flac_, AddPath::Kind::File}}, true},
        {"album named, sheet beside it, not opened", {{flac_, AddPath::Kind::File}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<AddedFile> rows = Add(c.paths, true, c.open);
        ASSERT_EQ(rows.size(), 3u);
        uint64_t next = 0;
        for (const AddedFile& row : rows) {
            ASSERT_TRUE(row.probe.ok && row.probe.item.cue);
            EXPECT_EQ(row.path, flac_);
            EXPECT_EQ(row.probe.item.cue->firstFrame, next);
            next = row.probe.item.cue->endFrame;
        }
        EXPECT_EQ(next, frames_);
        const TagRecord& tags = rows[1].probe.item.tags;
        EXPECT_EQ(rows[1].probe.item.cue->title, "02 — Ünder – Water");
        EXPECT_EQ(rows[1].probe.item.durationSeconds, 2u);
        EXPECT_EQ(tags.Title, "Ünder – Water");
        EXPECT_EQ(tags.Artist, "Guest");
        EXPECT_EQ(tags.Album, "Café Nights");
        EXPECT_EQ(tags.Extra("ALBUMARTIST"), "Ensemble Nord");
        EXPECT_EQ(tags.Track, "2");
        EXPECT_EQ(tags.Extra("TRACKTOTAL"), "3");
        EXPECT_EQ(tags.Extra("ISRC"), "GBAYE0400001");
        EXPECT_EQ(tags.Year, "2004");
        EXPECT_EQ(rows[2].probe.item.tags.Composer, "Ana");
        EXPECT_EQ(rows[2].probe.item.tags.Artist, "Ensemble Nord");
    }
    // Turned off, the album is one file; a sheet that cannot be used says why.
    EXPECT_EQ(Add({{flac_, AddPath::Kind::File}}, false).size(), 1u);
    WriteSheet("FILE \"Album.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:80\n");
    const std::vector<AddedFile> rows = Add({{sheet_, AddPath::Kind::File}});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_FALSE(rows[0].probe.ok);
    EXPECT_EQ(rows[0].probe.note, ValuesNote(NoteCode::CueSheet, {static_cast<uint64_t>(CueProblem::BadTime), 3}));
}

}  // namespace
}  // namespace pelloran
