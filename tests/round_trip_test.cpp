// Tags and cover art through conversion, end to end with pelloran-cli, read back by mutagen
// (tests/support/tag_dump.py): every field and picture a target holds arrives, what it cannot hold is reported.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using Json = nlohmann::json;
using test::TempDir;

struct Field {
    std::string name;
    std::string value;
};

// A multi-line comment, several scripts and emoji, and the fields beyond the nine.
const std::vector<Field> kRichFields = {
    {"TITLE", "Zo\xC3\xAB \xE2\x9C\x93 \xF0\x9D\x84\x9E \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xF0\x9F\x98\x80"},
    {"ARTIST", "\xC3\x84rtist"},
    {"ALBUM", "\xD0\x90\xD0\xBB\xD1\x8C\xD0\xB1\xD0\xBE\xD0\xBC"},
    {"DATE", "2001-05-03"},
    {"GENRE", "Progressive Rock"},
    {"COMMENT", "line one\nline two\n\xD8\xB3\xD8\xB7\xD8\xB1"},
    {"TRACKNUMBER", "7"},
    {"TRACKTOTAL", "12"},
    {"DISCNUMBER", "1"},
    {"DISCTOTAL", "2"},
    {"ALBUMARTIST", "Various \xE6\x97\xA5\xE6\x9C\xAC"},
    {"COMPOSER", "J. S. Bach"},
    {"COPYRIGHT", "(c) 2001"},
    {"LYRICS", "la la \xF0\x9F\x98\x80\nsecond line"},
    {"COMPILATION", "1"},
    {"BPM", "120"},
    {"ISRC", "USRC17607839"},
    {"MUSICBRAINZ_TRACKID", "8f2b5c5e-1111-2222-3333-444455556666"},
    {"REPLAYGAIN_TRACK_GAIN", "-6.50 dB"},
    {"MOOD", "happy"},
};

// Bytes that read as a JPEG: the marker, then noise.
std::vector<uint8_t> FakeJpeg(size_t size, unsigned seed) {
    std::vector<uint8_t> bytes(size);
    std::mt19937 random(seed);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0};
    std::copy(std::begin(head), std::end(head), bytes.begin());
    return bytes;
}

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override { test::WriteBytes(settings_, {}); }

    // pelloran-cli with scratch settings and --json; the first line (the conversion's object).
    Json Convert(const std::string& format, const std::string& source, const std::string& folder,
                 std::vector<std::string> extra = {}) const {
        std::vector<std::string> argv = {test::CliPath(), "-q", "--json", "--settings", settings_, "-f", format,
                                         "-o", folder};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(source);
        const test::CommandResult r = test::Run(argv, {"HOME=" + dir_.path().string()});
        const Json j = Json::parse(r.out.substr(0, r.out.find('\n')), nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << r.out << r.err;
        return j;
    }
    static Json Dump(const std::string& path) {
        const test::CommandResult r =
            test::Run({"/usr/bin/python3", std::string(PELLORAN_SOURCE_DIR) + "/tests/support/tag_dump.py", path});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return Json::parse(r.out, nullptr, false);
    }
    // A short FLAC with the fields (values from files, so that any length goes) and one front cover.
    std::string Flac(const std::string& name, const std::vector<Field>& fields, const std::vector<uint8_t>& cover) {
        const std::string wav = dir_ / (name + ".wav");
        const std::string flac = dir_ / (name + ".flac");
        test::WriteSineWav(wav, 44100, 2, 0.3);
        EXPECT_EQ(test::Run({"flac", "-s", "-f", "-o", flac, wav}).exitCode, 0);
        Json values = Json::object();
        for (const Field& f : fields) values[f.name] = f.value;
        const std::string json = dir_ / (name + ".json");
        const std::string text = values.dump();
        test::WriteBytes(json, {text.begin(), text.end()});
        const std::string picture = dir_ / (name + ".jpg");
        test::WriteBytes(picture, cover);
        // metaflac refuses values of a megabyte; mutagen writes any.
        const char* script =
            "import json, sys\nfrom mutagen.flac import FLAC, Picture\nf = FLAC(sys.argv[1])\n"
            "for k, v in json.load(open(sys.argv[2], encoding='utf-8')).items(): f[k] = v\n"
            "p = Picture()\np.type = 3\np.mime = 'image/jpeg'\np.desc = 'Front \\u2713'\n"
            "p.data = open(sys.argv[3], 'rb').read()\nf.add_picture(p)\nf.save()\n";
        const test::CommandResult r = test::Run({"/usr/bin/python3", "-c", script, flac, json, picture});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return flac;
    }
    // Every field and the cover are in the file as mutagen reads it.
    static void ExpectCarried(const Json& dump, const std::vector<Field>& fields, const std::vector<uint8_t>& cover,
                              bool coverTyped) {
        for (const Field& f : fields) {
            const auto it = dump["fields"].find(f.name);
            ASSERT_NE(it, dump["fields"].end()) << f.name;
            EXPECT_EQ(it->get<std::string>(), f.value) << f.name;
        }
        ASSERT_EQ(dump["pictures"].size(), 1u);
        const Json& p = dump["pictures"][0];
        EXPECT_EQ(p["size"].get<size_t>(), cover.size());
        if (coverTyped) {
            EXPECT_EQ(p["type"].get<int>(), 3);
            EXPECT_EQ(p["description"].get<std::string>(), "Front \xE2\x9C\x93");
        }
    }

    TempDir dir_;
    std::string settings_ = dir_ / "settings.conf";
};

// Formats that hold every field and a picture; M4A's covr has no type or description.
struct Target {
    const char* format;
    const char* extension;
    bool coverTyped;
};
constexpr Target kTargets[] = {{"mp3", "mp3", true},   {"ogg", "ogg", true}, {"m4a", "m4a", false},
                               {"wma", "wma", true},   {"flac", "flac", true}, {"opus", "opus", true}};

TEST_F(RoundTrip, EveryFieldAndTheCoverReachEveryFormatAndComeBack) {
    const std::vector<uint8_t> cover = FakeJpeg(3000, 1);
    const std::string source = Flac("rich", kRichFields, cover);
    // First hop: FLAC to each format; second hop: each lossy output to each format again.
    for (const Target& first : kTargets) {
        SCOPED_TRACE(first.format);
        const std::string folder = dir_ / ("1-" + std::string(first.format));
        const Json result = Convert(first.format, source, folder);
        ASSERT_TRUE(result["ok"].get<bool>()) << result.dump();
        EXPECT_TRUE(result["tags_dropped"].empty()) << result.dump();
        const std::string output = folder + "/rich." + first.extension;
        ExpectCarried(Dump(output), kRichFields, cover, first.coverTyped);
        if (std::string(first.format) == "flac" || std::string(first.format) == "opus") continue;
        for (const Target& second : kTargets) {
            SCOPED_TRACE(second.format);
            const std::string again = dir_ / ("2-" + std::string(first.format) + "-" + second.format);
            ASSERT_TRUE(Convert(second.format, output, again)["ok"].get<bool>());
            ExpectCarried(Dump(again + "/rich." + second.extension), kRichFields, cover,
                          first.coverTyped && second.coverTyped);
        }
    }
}

TEST_F(RoundTrip, LargeValuesAndPicturesStayWhole) {
    std::string lyrics;
    for (int i = 0; lyrics.size() < (1u << 20); ++i) lyrics += "verse " + std::to_string(i) + " \xE2\x99\xAA\n";
    const std::vector<Field> fields = {{"TITLE", "Large"}, {"LYRICS", lyrics}};
    const std::vector<uint8_t> cover = FakeJpeg(5u << 20, 2);
    const std::string source = Flac("large", fields, cover);
    for (const Target& target : kTargets) {
        SCOPED_TRACE(target.format);
        const std::string folder = dir_ / target.format;
        ASSERT_TRUE(Convert(target.format, source, folder)["ok"].get<bool>());
        const Json dump = Dump(folder + "/large." + target.extension);
        ExpectCarried(dump, fields, cover, target.coverTyped);
    }
}

TEST_F(RoundTrip, WhatATargetCannotHoldIsReported) {
    const std::vector<uint8_t> cover = FakeJpeg(2000, 3);
    const std::string source = Flac("song", kRichFields, cover);
    struct Case {
        const char* format;
        std::vector<std::string> settings;
        std::vector<std::string> dropped;  // in order: the nine, the others by name, the pictures
    };
    const std::vector<std::string> others = {"ALBUMARTIST", "BPM", "COMPILATION", "DISCNUMBER", "DISCTOTAL",
                                             "ISRC", "LYRICS", "MOOD", "MUSICBRAINZ_TRACKID",
                                             "REPLAYGAIN_TRACK_GAIN", "TRACKTOTAL"};
    std::vector<std::string> all = {"TITLE", "ARTIST", "ALBUM", "DATE", "GENRE", "COMMENT", "TRACKNUMBER",
                                    "COMPOSER", "COPYRIGHT"};
    all.insert(all.end(), others.begin(), others.end());
    all.push_back("PICTURE");
    std::vector<std::string> id3v1 = {"COMPOSER", "COPYRIGHT"};
    id3v1.insert(id3v1.end(), others.begin(), others.end());
    id3v1.push_back("PICTURE");
    const std::vector<Case> cases = {
        {"wav", {}, {}},  // LIST/INFO and an ID3 chunk hold everything
        {"aac", {}, all},
        {"mp3", {"-s", "MP3WriteID3Version=v1"}, id3v1},
        {"mp3", {"-s", "MP3ID3TagType=none"}, {}},
        {"ogg", {"-s", "OGGCopyCover=0"}, {}},  // left behind by choice, not dropped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format + (c.settings.empty() ? "" : " " + c.settings.back()));
        const Json result = Convert(c.format, source, dir_ / ("d" + std::to_string(&c - cases.data())), c.settings);
        ASSERT_TRUE(result["ok"].get<bool>()) << result.dump();
        EXPECT_EQ(result["tags_dropped"].get<std::vector<std::string>>(), c.dropped);
    }
    // The switch leaves the pictures behind and nothing else.
    const Json noCover = Dump((dir_ / "d4") + "/song.ogg");
    EXPECT_TRUE(noCover["pictures"].empty());
    EXPECT_EQ(noCover["fields"]["LYRICS"], "la la \xF0\x9F\x98\x80\nsecond line");
}

TEST_F(RoundTrip, MergePutsMyFieldsOnTopOfTheSourceTags) {
    const std::string source = Flac("merge", kRichFields, FakeJpeg(1000, 4));
    for (const Target& target : {kTargets[0], kTargets[2], kTargets[3]}) {
        SCOPED_TRACE(target.format);
        const std::string folder = dir_ / target.format;
        ASSERT_TRUE(Convert(target.format, source, folder, {"--tag", "artist=Mine", "--tag", "track=3"})["ok"]
                        .get<bool>());
        const Json dump = Dump(folder + "/merge." + target.extension);
        EXPECT_EQ(dump["fields"]["ARTIST"], "Mine");
        EXPECT_EQ(dump["fields"]["TRACKNUMBER"], "3");
        // Everything else is the source's: the title (not the file name), the extras and the cover.
        EXPECT_EQ(dump["fields"]["TITLE"], kRichFields[0].value);
        EXPECT_EQ(dump["fields"]["LYRICS"], "la la \xF0\x9F\x98\x80\nsecond line");
        EXPECT_EQ(dump["pictures"].size(), 1u);
    }
}

TEST_F(RoundTrip, OversizePictureIsLeftOutWithANote) {
    const std::string mp3 = dir_ / "big.mp3";
    const std::string wav = dir_ / "big.wav";
    test::WriteSineWav(wav, 44100, 1, 0.3);
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-i", wav, mp3}).exitCode, 0);
    const std::string script =
        "import sys\nfrom mutagen.id3 import ID3, APIC, TIT2\nt = ID3()\nt.add(TIT2(encoding=3, text='Big'))\n"
        "t.add(APIC(encoding=3, mime='image/jpeg', type=3, desc='', data=b'\\xff\\xd8\\xff\\xe0' + bytes(17 << 20)))\n"
        "t.add(APIC(encoding=3, mime='image/jpeg', type=4, desc='back', data=b'\\xff\\xd8\\xff\\xe0' + bytes(100)))\n"
        "t.save(sys.argv[1])\n";
    ASSERT_EQ(test::Run({"/usr/bin/python3", "-c", script, mp3}).exitCode, 0);
    const Json result = Convert("ogg", mp3, dir_ / "out");
    ASSERT_TRUE(result["ok"].get<bool>()) << result.dump();
    EXPECT_EQ(result["note"], "A picture over 16 MiB was left out");
    EXPECT_EQ(result["tags_dropped"], Json::array({"PICTURE"}));
    const Json dump = Dump((dir_ / "out") + "/big.ogg");
    EXPECT_EQ(dump["fields"]["TITLE"], "Big");
    ASSERT_EQ(dump["pictures"].size(), 1u);
    EXPECT_EQ(dump["pictures"][0]["description"], "back");
}

TEST_F(RoundTrip, OggDescriptionIsTheCommentWithoutComment) {
    const std::string ogg = dir_ / "d.ogg";
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=d=0.3", "-c:a", "libvorbis", "-metadata",
                         "DESCRIPTION=told\nin two lines", "-metadata", "TITLE=T", ogg})
                  .exitCode,
              0);
    ASSERT_TRUE(Convert("mp3", ogg, dir_ / "out", {"--decoder", "vorbis"})["ok"].get<bool>());
    EXPECT_EQ(Dump((dir_ / "out") + "/d.mp3")["fields"]["COMMENT"], "told\nin two lines");
}

}  // namespace
}  // namespace pelloran
