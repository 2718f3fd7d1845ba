#include <gtest/gtest.h>

#include "encode/VorbisComments.h"
#include "formats/EncodingParams.h"
#include "media/TagRecord.h"
#include "formats/SettingsTable.h"
#include "frontend/Wording.h"

namespace pelloran {
namespace {

TEST(GenreTable, LookupIgnoresCaseAndFallsBackToOther) {
    EXPECT_EQ(GenreIndex("hip-hop"), 7);
    EXPECT_EQ(GenreIndex("HIP-HOP"), 7);
    EXPECT_EQ(GenreIndex("Alt. Rock"), 40);
    EXPECT_EQ(GenreIndex("AlternRock"), 12);
    EXPECT_STREQ(kGenreNames[67], "Psychadelic");
    EXPECT_STREQ(kGenreNames[85], "Bebob");
    EXPECT_STREQ(kGenreNames[144], "Trash Metal");
    EXPECT_STREQ(kGenreNames[147], "Synthpop");
}

TEST(TagTexts, Utf8IsValidatedAndInvalidBytesReplaced) {
    std::string out;
    EXPECT_FALSE(ToValidUtf8("", out));
    ASSERT_TRUE(ToValidUtf8("A", out));
    EXPECT_EQ(out, "A");
    ASSERT_TRUE(ToValidUtf8("\xC3\xA9", out));
    EXPECT_EQ(out, "\xC3\xA9");
    ASSERT_TRUE(ToValidUtf8("\xF0\x9F\x8E\xB5 x", out));  // 4-byte sequence kept
    EXPECT_EQ(out, "\xF0\x9F\x8E\xB5 x");
    ASSERT_TRUE(ToValidUtf8("a\xE9z", out));  // a lone Latin-1 byte
    EXPECT_EQ(out, "a\xEF\xBF\xBDz");
    ASSERT_TRUE(ToValidUtf8("\xC0\xAF", out));  // overlong encoding
    EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
    ASSERT_TRUE(ToValidUtf8("\xE2\x82", out));  // truncated sequence
    EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(TagTexts, TrackNumberTakesLeadingDigits) {
    EXPECT_EQ(TrackNumber("7"), 7);
    EXPECT_EQ(TrackNumber("  12/14"), 12);
    EXPECT_EQ(TrackNumber("-3"), -3);
    EXPECT_EQ(TrackNumber("x1"), 0);
    EXPECT_EQ(TrackNumber(""), 0);
}

TEST(TagSettingsValues, TitleFromFileNameAndTrackByType) {
    TagSettings s;
    s.Artist = "Ana";
    TagRecord t = TagsFromSettings(s, "/music/my.song.flac", 3);
    EXPECT_EQ(t.Title, "my.song");
    EXPECT_EQ(t.Artist, "Ana");
    EXPECT_EQ(t.Track, "");
    EXPECT_EQ(TagsFromSettings(s, "/music/.hidden", 1).Title, ".hidden");
    EXPECT_EQ(TagsFromSettings(s, "/music/plain", 1).Title, "plain");

    s.TitleAsFileName = 0;
    s.Title = "Given";
    s.TrackNumType = 1;
    t = TagsFromSettings(s, "/a/b.wav", 5);
    EXPECT_EQ(t.Title, "Given");
    EXPECT_EQ(t.Track, "5");
    s.TrackNumType = 2;
    s.CustomTrackNum = 0;
    EXPECT_EQ(TagsFromSettings(s, "/a/b.wav", 5).Track, "");
    s.CustomTrackNum = 9;
    EXPECT_EQ(TagsFromSettings(s, "/a/b.wav", 5).Track, "9");
}

TEST(TagValues, LastOfASingleFieldAllOfAListAndTheTotalsNamedOnce) {
    TagRecord t;
    t.extra = {{"TITLE", {"first title", "Second Title"}}, {"ARTIST", {"Alice", "Bob"}}, {"GENRE", {"Rock"}},
               {"TOTALTRACKS", {"12"}}, {"DISCTOTAL", {"2"}}, {"TOTALDISCS", {"3"}}, {"DISCNUMBER", {"1", "2"}}};
    SettleValues(t);
    EXPECT_EQ(t.Title, "Second Title");
    EXPECT_EQ(t.Artist, "Alice");
    EXPECT_EQ(t.Values("ARTIST"), (std::vector<std::string>{"Alice", "Bob"}));
    EXPECT_EQ(t.Genre, "Rock");
    EXPECT_EQ(t.extra.count("GENRE"), 0u);  // one value lives in the field alone
    EXPECT_EQ(t.extra.count("TITLE"), 0u);
    EXPECT_EQ(t.Extra("TRACKTOTAL"), "12");
    EXPECT_EQ(t.Extra("DISCTOTAL"), "2");  // the one already named so stays
    EXPECT_EQ(t.extra.count("TOTALDISCS"), 0u);
    EXPECT_EQ(t.extra["DISCNUMBER"], std::vector<std::string>{"2"});
    // A field set anew (custom tags on top) replaces the list it headed.
    t.Artist = "Eve";
    EXPECT_EQ(t.Values("ARTIST"), std::vector<std::string>{"Eve"});
}

TEST(TagValues, TaggersNamesMapToOneProperty) {
    const std::pair<const char*, const char*> cases[] = {
        {"MusicBrainz Album Id", "MUSICBRAINZ_ALBUMID"},   // TXXX and MP4 freeform
        {"MUSICBRAINZ ALBUM TYPE", "RELEASETYPE"},         // TagLib's upper-cased TXXX description
        {"MusicBrainz/Album Release Country", "RELEASECOUNTRY"},  // ASF
        {"WM/Publisher", "LABEL"},
        {"Acoustid/Id", "ACOUSTID_ID"},
        {"TotalTracks", "TRACKTOTAL"},
        {"WORK", "WORK"},
        {"Unknown Thing", ""},
    };
    for (const auto& [name, property] : cases) EXPECT_EQ(PropertyOfTagName(name), property) << name;
    ASSERT_NE(TagNameOf("GROUPING"), nullptr);
    EXPECT_STREQ(TagNameOf("GROUPING")->id3, "TIT1");
    EXPECT_STREQ(TagNameOf("MUSICBRAINZ_TRACKID")->id3, "UFID:http://musicbrainz.org");
}

TEST(TagValues, PictureBlocksStateTheImageSize) {
    struct Case {
        std::vector<uint8_t> bytes;
        ImageSize size;
    };
    const Case cases[] = {
        // PNG IHDR: 640 x 480, 8 bits, RGB
        {{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 2, 128, 0, 0, 1, 224, 8, 2, 0, 0, 0},
         {640, 480, 24, 0}},
        // JPEG: APP0 of 4 bytes, then SOF0 300 high, 200 wide, 3 components
        {{0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 0, 0, 0xFF, 0xC0, 0, 17, 8, 1, 44, 0, 200, 3}, {200, 300, 24, 0}},
        // GIF with a 256-colour table
        {{'G', 'I', 'F', '8', '9', 'a', 16, 0, 32, 0, 0xF7, 0, 0}, {16, 32, 24, 256}},
        // cut short, unknown
        {{0xFF, 0xD8, 0xFF, 0xE0, 0, 200}, {0, 0, 0, 0}},
        {{'x'}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const ImageSize s = ImageSizeOf(c.bytes);
        EXPECT_EQ(std::tie(s.width, s.height, s.depth, s.colours),
                  std::tie(c.size.width, c.size.height, c.size.depth, c.size.colours));
    }
}

}  // namespace
}  // namespace pelloran
