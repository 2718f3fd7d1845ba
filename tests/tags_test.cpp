#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pelloran
