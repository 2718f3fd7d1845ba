// The library suite: files tagged as Picard, foobar2000, mp3gain and iTunes tag them, converted into every
// tagged output and read back by mutagen: every field comes back with all its values, and tags_dropped names
// exactly what a target cannot hold.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "encode/WavWriter.h"
#include "media/PcmFormat.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {


// Tags files (tag KIND PATH...) and checks outputs (check JOINED PATH...: one line per field that differs).
constexpr const char* kLibraryScript = R"PY(
import json, sys
from mutagen.flac import FLAC
from mutagen.oggvorbis import OggVorbis
from mutagen.oggopus import OggOpus
from mutagen.id3 import ID3, Frames, UFID, COMM, TXXX
from mutagen.apev2 import APEv2
from mutagen.mp4 import MP4, MP4FreeForm
from mutagen.asf import ASF

# What the taggers write: several values where the field takes them, Picard's names for the rest.
FIELDS = {
    "TITLE": ["Second Title"], "ARTIST": ["Alice", "Bob"], "ALBUM": ["Album"], "DATE": ["2004-05-06"],
    "GENRE": ["Rock", "Jazz"], "TRACKNUMBER": ["3"], "TRACKTOTAL": ["12"], "DISCNUMBER": ["1"],
    "DISCTOTAL": ["2"], "COMPOSER": ["Carol", "Dan"], "COMMENT": ["Liner notes"], "ALBUMARTIST": ["The Band"],
    "MUSICBRAINZ_ALBUMID": ["0a1b2c3d-0000-4000-8000-000000000001"],
    "MUSICBRAINZ_TRACKID": ["0a1b2c3d-0000-4000-8000-000000000002"],
    "MUSICBRAINZ_RELEASEGROUPID": ["0a1b2c3d-0000-4000-8000-000000000003"],
    "MUSICBRAINZ_ARTISTID": ["0a1b2c3d-0000-4000-8000-00000000000a", "0a1b2c3d-0000-4000-8000-00000000000b"],
    "ACOUSTID_ID": ["0a1b2c3d-0000-4000-8000-000000000004"], "RELEASETYPE": ["album"],
    "RELEASESTATUS": ["official"], "RELEASECOUNTRY": ["GB"], "BARCODE": ["5012345678900"],
    "CATALOGNUMBER": ["CAT 001"], "LABEL": ["Label"], "ISRC": ["GBAAA0400001"], "ORIGINALDATE": ["1999-02-03"],
    "ARTISTSORT": ["Alice & Bob"], "GROUPING": ["Group"], "WORK": ["Work"], "COMPILATION": ["1"],
}
# Picard's frames, atoms and attributes (the names the program must use).
ID3_FRAMES = {"TIT2": "TITLE", "TPE1": "ARTIST", "TALB": "ALBUM", "TDRC": "DATE", "TCON": "GENRE", "TCOM": "COMPOSER",
       "TPE2": "ALBUMARTIST", "TPUB": "LABEL", "TSRC": "ISRC", "TDOR": "ORIGINALDATE", "TSOP": "ARTISTSORT",
       "TIT1": "GROUPING", "TCMP": "COMPILATION"}
TXXX_NAMES = {"MusicBrainz Album Id": "MUSICBRAINZ_ALBUMID", "MusicBrainz Release Group Id": "MUSICBRAINZ_RELEASEGROUPID",
              "MusicBrainz Artist Id": "MUSICBRAINZ_ARTISTID", "Acoustid Id": "ACOUSTID_ID",
              "MusicBrainz Album Type": "RELEASETYPE", "MusicBrainz Album Status": "RELEASESTATUS",
              "MusicBrainz Album Release Country": "RELEASECOUNTRY", "BARCODE": "BARCODE",
              "CATALOGNUMBER": "CATALOGNUMBER", "WORK": "WORK", "ORIGINALDATE": "ORIGINALDATE",
              "ARTISTSORT": "ARTISTSORT", "REPLAYGAIN_TRACK_GAIN": "REPLAYGAIN_TRACK_GAIN",
              "MusicBrainz Track Id": "MUSICBRAINZ_TRACKID"}
FREEFORM = dict(TXXX_NAMES, LABEL="LABEL", ISRC="ISRC", ORIGINALDATE="ORIGINALDATE")
MP4_ATOMS = {"\xa9nam": "TITLE", "\xa9ART": "ARTIST", "\xa9alb": "ALBUM", "\xa9day": "DATE", "\xa9gen": "GENRE",
             "\xa9wrt": "COMPOSER", "\xa9cmt": "COMMENT", "aART": "ALBUMARTIST", "soar": "ARTISTSORT",
             "\xa9grp": "GROUPING", "\xa9wrk": "WORK", "\xa9too": "ENCODEDBY"}
ASF_NAMES = {"Title": "TITLE", "Author": "ARTIST", "WM/AlbumTitle": "ALBUM", "WM/Year": "DATE", "WM/Genre": "GENRE",
             "WM/TrackNumber": "TRACKNUMBER", "TotalTracks": "TRACKTOTAL", "TotalDiscs": "DISCTOTAL",
             "WM/Composer": "COMPOSER", "Description": "COMMENT", "WM/AlbumArtist": "ALBUMARTIST",
             "WM/Publisher": "LABEL", "WM/ISRC": "ISRC", "WM/OriginalReleaseTime": "ORIGINALDATE",
             "WM/ArtistSortOrder": "ARTISTSORT", "WM/ContentGroupDescription": "GROUPING", "WM/Work": "WORK",
             "WM/IsCompilation": "COMPILATION", "WM/Barcode": "BARCODE", "WM/CatalogNo": "CATALOGNUMBER",
             "Acoustid/Id": "ACOUSTID_ID", "REPLAYGAIN_TRACK_GAIN": "REPLAYGAIN_TRACK_GAIN"}
for t, p in TXXX_NAMES.items():
    ASF_NAMES.setdefault("MusicBrainz/" + t[len("MusicBrainz "):], p)


def tag(path, kind):
    f = dict(FIELDS)
    if kind == "picard-flac":  # Vorbis comments, a title written twice (the last one counts)
        a = FLAC(path)
        a.tags.append(("title", "first title"))
        for k, vs in f.items():
            for v in vs:
                a.tags.append((k, v))
        a.save()
    elif kind == "foobar-ogg":  # foobar2000's TOTALTRACKS and TOTALDISCS
        a = OggVorbis(path)
        f["TOTALTRACKS"] = f.pop("TRACKTOTAL")
        f["TOTALDISCS"] = f.pop("DISCTOTAL")
        for k, vs in f.items():
            a[k] = vs
        a.save()
    elif kind == "picard-mp3":  # ID3v2.4 by Picard, then mp3gain's APEv2 tag
        t = ID3()
        skip = {"TRACKNUMBER", "TRACKTOTAL", "DISCNUMBER", "DISCTOTAL", "COMMENT", "MUSICBRAINZ_TRACKID"}
        for fid, p in ID3_FRAMES.items():
            t.add(Frames[fid](encoding=3, text=f[p]))
        for desc, p in TXXX_NAMES.items():
            if p in f and p not in ID3_FRAMES.values() and p not in skip:
                t.add(TXXX(encoding=3, desc=desc, text=f[p]))
        t.add(Frames["TRCK"](encoding=3, text="3/12"))
        t.add(Frames["TPOS"](encoding=3, text="1/2"))
        t.add(COMM(encoding=3, lang="eng", desc="", text=f["COMMENT"]))
        t.add(UFID(owner="http://musicbrainz.org", data=f["MUSICBRAINZ_TRACKID"][0].encode()))
        t.save(path, v2_version=4)
        ape = APEv2()
        ape["REPLAYGAIN_TRACK_GAIN"] = "-6.50 dB"
        ape.save(path)
    elif kind == "itunes-m4a":  # iTunes atoms, Picard's freeform names, iTunes' own encoder
        a = MP4(path)
        for atom, p in MP4_ATOMS.items():
            if p in f:
                a[atom] = f[p]
        a["\xa9too"] = ["iTunes 11.1"]
        a["trkn"] = [(3, 12)]
        a["disk"] = [(1, 2)]
        a["cpil"] = True
        for name, p in FREEFORM.items():
            if p in f and p not in MP4_ATOMS.values() and p != "COMPILATION":
                a["----:com.apple.iTunes:" + name] = [MP4FreeForm(v.encode()) for v in f[p]]
        a.save()


def split(fields, name, total, text):
    n, _, t = str(text).partition("/")
    fields.setdefault(name, []).append(n)
    if t:
        fields.setdefault(total, []).append(t)


def read(path):
    import mutagen
    a = mutagen.File(path)
    out = {}
    put = lambda k, vs: out.setdefault(k, []).extend(str(v) for v in vs)
    if isinstance(a, (FLAC, OggVorbis, OggOpus)):
        for k, v in a.tags:
            if k.upper() not in ("METADATA_BLOCK_PICTURE", "ENCODER"):
                put(k.upper(), [v])
    elif isinstance(a, MP4):
        for k, vs in a.tags.items():
            if k in MP4_ATOMS:
                put(MP4_ATOMS[k], vs)
            elif k in ("trkn", "disk"):
                n, t = vs[0]
                put("TRACKNUMBER" if k == "trkn" else "DISCNUMBER", [n])
                put("TRACKTOTAL" if k == "trkn" else "DISCTOTAL", [t])
            elif k == "cpil":
                put("COMPILATION", ["1" if vs else "0"])
            elif k.startswith("----:com.apple.iTunes:"):
                name = k.split(":", 2)[2]
                if name != "iTunSMPB":
                    put(FREEFORM.get(name, "?" + name), [bytes(v).decode() for v in vs])
            else:
                put("?" + k, vs)
    elif isinstance(a, ASF):
        for k, vs in a.tags.items():
            if k == "WM/PartOfSet":
                split(out, "DISCNUMBER", "DISCTOTAL", vs[0])
            elif k == "TotalDiscs" and "WM/PartOfSet" in a.tags:
                pass  # the same total as PartOfSet's "1/2"
            elif k == "WM/IsCompilation":
                put("COMPILATION", ["1" if vs[0].value else "0"])
            elif k in ("Copyright", "Rating") and all(str(v.value) == "" for v in vs):
                pass  # the content description's empty texts TagLib always writes
            elif k != "WM/EncodingSettings":
                put(ASF_NAMES.get(k, "?" + k), [v.value for v in vs])
    else:  # ID3 (MP3, the id3 chunk of WAV)
        for k, fr in a.tags.items():
            fid = k[:4]
            if fid in ID3_FRAMES:
                put(ID3_FRAMES[fid], fr.text)
            elif fid in ("TRCK", "TPOS"):
                split(out, "TRACKNUMBER" if fid == "TRCK" else "DISCNUMBER",
                      "TRACKTOTAL" if fid == "TRCK" else "DISCTOTAL", fr.text[0])
            elif fid == "COMM":
                put("COMMENT", fr.text)
            elif fid == "TXXX":
                put(TXXX_NAMES.get(fr.desc, "?" + fr.desc), fr.text)
            elif fid == "UFID" and fr.owner == "http://musicbrainz.org":
                put("MUSICBRAINZ_TRACKID", [fr.data.decode()])
            elif fid not in ("TSSE", "APIC"):
                put("?" + k, getattr(fr, "text", ["?"]))
    return out


# tag KIND PATH... | check JOINED PATH... (JOINED: ID3v2.3 joins several values with "/")
if sys.argv[1] == "tag":
    for p in sys.argv[3:]:
        tag(p, sys.argv[2])
else:
    want = dict(FIELDS)
    want["TITLE"] = ["Second Title"]
    if sys.argv[2] == "1":
        want = {k: ["/".join(v)] for k, v in want.items()}
    for p in sys.argv[3:]:
        got = read(p)
        # mp3gain's field of the MP3 source travels too.
        here = dict(want, REPLAYGAIN_TRACK_GAIN=["-6.50 dB"]) if "src_mp3" in p else want
        for k in sorted(set(here) | set(got)):
            if got.get(k) != here.get(k):
                print(p.rsplit("/", 1)[-1], k, "got", got.get(k), "want", want.get(k))
)PY";

constexpr const char* kPython = "/usr/bin/python3";

class TagLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (test::Run({kPython, "-c", "import mutagen"}).exitCode != 0 || !test::HaveTool("ffmpeg")) return;
        dir_ = new test::TempDir;
        WriteScript();
        // A short chord with a decaying note, not a bare sine.
        for (const auto& [ext, kind] : kSources) {
            const std::string path = *dir_ / ("src_" + ext + "." + ext);
            test::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                 "aevalsrc=0.3*sin(2*PI*220*t)*exp(-3*t)+0.2*sin(2*PI*330*t)+0.1*sin(2*PI*495*t):s=44100:d=0.2",
                 "-ac", "2", "-y", path});
            test::Run({kPython, Script(), "tag", kind, path});
            sources_.push_back(path);
        }
        test::WriteBytes(*dir_ / "settings.conf", {});
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
        sources_.clear();
    }
    void SetUp() override {
        if (dir_ == nullptr) GTEST_SKIP() << "needs mutagen and ffmpeg";
    }

    static std::string Script() { return *dir_ / "library.py"; }
    static void WriteScript() {
        const std::string text = kLibraryScript;
        test::WriteBytes(Script(), std::vector<uint8_t>(text.begin(), text.end()));
    }

    // Converts every source into format; the JSON lines of the run.
    static test::CommandResult Convert(const std::string& format, const std::string& out,
                                       const std::vector<std::string>& sets = {}) {
        std::vector<std::string> argv = {test::CliPath(), "-q", "-j2", "--json", "--settings", *dir_ / "settings.conf",
                                         "-f", format, "-o", out};
        for (const std::string& set : sets) argv.insert(argv.end(), {"-s", set});
        argv.insert(argv.end(), sources_.begin(), sources_.end());
        return test::Run(argv, {"HOME=" + dir_->path().string(), "XDG_CONFIG_HOME=" + (*dir_ / "config")});
    }

    static std::vector<std::string> Outputs(const std::string& folder) {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        return files;
    }

    static inline const std::pair<std::string, std::string> kSources[] = {
        {"flac", "picard-flac"}, {"ogg", "foobar-ogg"}, {"mp3", "picard-mp3"}, {"m4a", "itunes-m4a"}};
    static inline test::TempDir* dir_ = nullptr;
    static inline std::vector<std::string> sources_;
};

size_t Count(const std::string& text, const std::string& word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

TEST_F(TagLibrary, EveryTaggedOutputKeepsEveryFieldWithAllItsValues) {
    struct Target {
        const char* format;
        const char* folder;
        std::vector<std::string> sets;
        bool joined;  // ID3v2.3: several values joined with "/"
    };
    const Target targets[] = {
        {"flac", "flac", {}, false}, {"ogg", "ogg", {}, false},  {"opus", "opus", {}, false},
        {"m4a", "m4a", {}, false},   {"wma", "wma", {}, false},  {"mp3", "mp3v24", {"MP3WriteID3Version=3"}, false},
        {"mp3", "mp3v23", {}, true}, {"wav", "wav", {}, false},
    };
    for (const Target& t : targets) {
        SCOPED_TRACE(t.folder);
        const std::string out = *dir_ / t.folder;
        const auto run = Convert(t.format, out, t.sets);
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_EQ(Count(run.out, "\"tags_dropped\":[]"), sources_.size()) << run.out;
        std::vector<std::string> argv = {kPython, Script(), "check", t.joined ? "1" : "0"};
        const std::vector<std::string> files = Outputs(out);
        ASSERT_EQ(files.size(), sources_.size());
        argv.insert(argv.end(), files.begin(), files.end());
        const auto check = test::Run(argv);
        // The MP3 source into ID3v2.3 keeps its ID3v2.4 block as it is: its values stay apart.
        std::string differences;
        std::istringstream lines(check.out);
        for (std::string line; std::getline(lines, line);) {
            if (!(t.joined && line.rfind("src_mp3.mp3 ", 0) == 0)) differences += line + "\n";
        }
        EXPECT_EQ(check.exitCode, 0) << check.err;
        EXPECT_EQ(differences, "");
    }
}

TEST_F(TagLibrary, Id3v1OnlyReportsWhatItCannotHold) {
    const auto run = Convert("mp3", *dir_ / "v1", {"MP3WriteID3Version=0"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // ID3v1 holds one title, artist, album, year, comment, track and a listed genre; the rest is named.
    for (const char* name : {"\"COMPOSER\"", "\"ALBUMARTIST\"", "\"MUSICBRAINZ_ALBUMID\"", "\"DISCNUMBER\"",
                             "\"ARTIST\"", "\"GENRE\""})
        EXPECT_EQ(Count(run.out, name), sources_.size()) << name << run.out;
    EXPECT_EQ(Count(run.out, "\"REPLAYGAIN_TRACK_GAIN\""), 1u) << "the MP3 source's APEv2 field";
    EXPECT_EQ(Count(run.out, "\"TITLE\""), 0u);
    EXPECT_EQ(Count(run.out, "\"ALBUM\""), 0u);
    EXPECT_EQ(Count(run.out, "\"ENCODEDBY\""), 0u) << "iTunes' encoder is no field of the music";
}

// A back cover stays a back cover, and FLAC's picture block states the image's size.
TEST_F(TagLibrary, PicturesKeepTheirTypeAndFlacStatesTheirSize) {
    const std::string png = *dir_ / "front.png", jpg = *dir_ / "back.jpg", src = *dir_ / "pictures.flac";
    for (const auto& [file, size] : {std::pair{png, "64x48"}, std::pair{jpg, "40x30"}})
        ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", std::string("testsrc=s=") + size, "-frames:v",
                             "1", "-y", file}).exitCode, 0);
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=330:d=0.3", "-y", src}).exitCode, 0);
    // metaflac reads the size from the image itself, as taggers do.
    ASSERT_EQ(test::Run({"metaflac", "--import-picture-from=3||Front||" + png,
                         "--import-picture-from=4||Back||" + jpg, src}).exitCode, 0);
    const std::string dump = std::string(PELLORAN_SOURCE_DIR) + "/tests/support/tag_dump.py";
    for (const auto& [format, typed] : {std::pair{"flac", true}, std::pair{"mp3", true}, std::pair{"ogg", true},
                                        std::pair{"wma", true}, std::pair{"wav", true}}) {
        SCOPED_TRACE(format);
        const std::string out = *dir_ / ("pictures-" + std::string(format));
        auto argv = std::vector<std::string>{test::CliPath(), "-q", "--settings", *dir_ / "settings.conf", "-f",
                                             format, "-o", out, src};
        ASSERT_EQ(test::Run(argv, {"HOME=" + dir_->path().string()}).exitCode, 0);
        const std::string output = out + "/pictures." + format;
        const auto r = test::Run({kPython, dump, output});
        const nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_FALSE(j.is_discarded()) << r.out << r.err;
        ASSERT_EQ(j["pictures"].size(), 2u);
        std::vector<int> types;
        for (const auto& p : j["pictures"]) types.push_back(p["type"].get<int>());
        std::sort(types.begin(), types.end());
        EXPECT_EQ(types, (std::vector<int>{3, 4}));
        if (std::string(format) != "flac") continue;
        const auto list = test::Run({"metaflac", "--list", "--block-type=PICTURE", output});
        EXPECT_NE(list.out.find("width: 64"), std::string::npos) << list.out;
        EXPECT_NE(list.out.find("height: 48"), std::string::npos) << list.out;
        EXPECT_NE(list.out.find("width: 40"), std::string::npos) << list.out;
    }
}

TEST_F(TagLibrary, WavCarriesInfoAndId3Chunks) {
    TagRecord tags;
    tags.Title = "Second Title";
    tags.Artist = "Alice";
    tags.extra["ARTIST"] = {"Alice", "Bob"};
    tags.Album = "Album";
    tags.Year = "2004-05-06";
    tags.Track = "3";
    tags.extra["MUSICBRAINZ_ALBUMID"] = {"0a1b2c3d-0000-4000-8000-000000000001"};
    const std::string path = *dir_ / "tagged.wav";
    WavWriter writer;
    ASSERT_TRUE(writer.Open(path, PcmFormat{44100, 2, 16}, tags));
    std::vector<int16_t> left(4410, 1000), right(4410, -1000);
    ASSERT_TRUE(test::WriteSixteen(writer, left.data(), right.data(), 4410));
    ASSERT_TRUE(writer.Finish());
    // mutagen reads the id3 chunk, FFmpeg the LIST/INFO chunk; the samples are where they were.
    const auto id3 = test::Run({kPython, "-c",
                          "import sys, mutagen.wave as w; t = w.WAVE(sys.argv[1]).tags; "
                          "print(t['TPE1'].text, t['TDRC'].text[0], t['TXXX:MusicBrainz Album Id'].text[0])",
                          path});
    EXPECT_EQ(id3.out, "['Alice', 'Bob'] 2004-05-06 0a1b2c3d-0000-4000-8000-000000000001\n") << id3.err;
    const auto info = test::Run({"ffprobe", "-v", "error", "-show_entries", "format_tags=title,album,track", "-of",
                           "default=noprint_wrappers=1", path});
    EXPECT_NE(info.out.find("TAG:title=Second Title"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("TAG:album=Album"), std::string::npos) << info.out;
    const test::SndfileAudio audio = test::DecodeWithSndfile(path);
    ASSERT_EQ(audio.samples.size(), 8820u);
    EXPECT_EQ(audio.samples[0], 1000);
    EXPECT_EQ(audio.samples[8819], -1000);
}

}  // namespace
}  // namespace pelloran
