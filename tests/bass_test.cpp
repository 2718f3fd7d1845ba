#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/bass.h"
#include "platform/bass_channel.h"
#include "platform/smf.h"
#include "tests/bass_fixtures.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using test::PutMidiChunk;
using test::PutVlq;

TEST(BassStartup, CallsSucceedAsTheStartUpExpects) {
    EXPECT_EQ(BASS_GetVersion() >> 16, 0x0204u);
    EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 0));
    EXPECT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_NE(BASS_PluginLoad("/opt/pelloran/addons/bass_tta.dll", 0), 0u);  // built in
    EXPECT_TRUE(BASS_Free());
    EXPECT_TRUE(BASS_PluginFree(0));
}

class BassChannels : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed";
    }
    std::string Make(const std::string& name, int rate, int channels, const std::vector<std::string>& codec) {
        return test::EncodeTone(dir, name, rate, channels, 1.0, codec);
    }
    test::TempDir dir;
};

TEST_F(BassChannels, HandlesAreFreedOnceAndByTheirKind) {
    const std::string flac = Make("a.flac", 44100, 2, {"-c:a", "flac"});
    const std::string mod = dir / "a.mod";
    test::WriteBytes(mod, test::MakeModule(false));

    const HSTREAM stream = BASS_StreamCreateFile(flac, 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(stream, 0u);
    EXPECT_EQ(BASS_StreamCreateFile(mod, 0, 0, BASS_STREAM_DECODE), 0u);  // modules are no file streams
    const HMUSIC music = BASS_MusicLoad(mod, 0, 0, BASS_STREAM_DECODE | BASS_MUSIC_PRESCAN, 0);
    ASSERT_NE(music, 0u);
    EXPECT_NE(music, stream);
    EXPECT_EQ(BASS_MusicLoad(flac, 0, 0, 0, 0), 0u);

    EXPECT_FALSE(BASS_MusicFree(stream));
    EXPECT_FALSE(BASS_StreamFree(music));
    EXPECT_EQ(BASS_StreamGetFilePosition(music, BASS_FILEPOS_END), kBassNoValue);
    EXPECT_TRUE(BASS_StreamFree(stream));
    EXPECT_FALSE(BASS_StreamFree(stream));
    EXPECT_TRUE(BASS_MusicFree(music));

    // A freed handle answers nothing.
    char buffer[64];
    BASS_CHANNELINFO info;
    EXPECT_EQ(BASS_ChannelGetLength(stream, BASS_POS_BYTE), kBassNoValue);
    EXPECT_EQ(BASS_ChannelGetData(stream, buffer, sizeof buffer), kBassDataError);
    EXPECT_FALSE(BASS_ChannelGetInfo(music, &info));
    EXPECT_STREQ(TAGS_Read(stream, "%TITL"), "");
    EXPECT_EQ(BASS_ChannelGetTags(0, BASS_TAG_ID3), nullptr);
}

TEST_F(BassChannels, DataComesInWholeFrames) {
    const std::string six = Make("six.flac", 48000, 6, {"-c:a", "flac"});
    const HSTREAM h = BASS_StreamCreateFile(six, 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    BASS_CHANNELINFO info;
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, 48000u);
    EXPECT_EQ(info.chans, 6u);
    EXPECT_EQ(info.flags & BASS_SAMPLE_8BITS, 0u);
    EXPECT_EQ(BASS_ChannelGetLength(h, BASS_POS_BYTE), 48000u * 12);
    EXPECT_DOUBLE_EQ(BASS_ChannelBytes2Seconds(h, 48000u * 12), 1.0);

    std::vector<char> buffer(4096);
    EXPECT_EQ(BASS_ChannelGetData(h, buffer.data(), 100), 96u);  // 8 frames of 12 bytes
    EXPECT_EQ(BASS_ChannelGetData(h, buffer.data(), 11), 0u);    // less than one frame
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), 96u);
    uint64_t total = 96;
    for (uint32_t got; (got = BASS_ChannelGetData(h, buffer.data(), 4000)) != kBassDataError;) {
        EXPECT_EQ(got % 12, 0u);
        total += got;
    }
    EXPECT_EQ(total, 48000u * 12);
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), total);
    EXPECT_TRUE(BASS_StreamFree(h));
}

// ID3v2 header with a synchsafe size, then that many bytes of body.
std::vector<uint8_t> Id3v2Tag(uint32_t bodySize, uint32_t claimedSize) {
    std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0};
    tag.push_back(static_cast<uint8_t>((claimedSize >> 21) & 0x7F));
    tag.push_back(static_cast<uint8_t>((claimedSize >> 14) & 0x7F));
    tag.push_back(static_cast<uint8_t>((claimedSize >> 7) & 0x7F));
    tag.push_back(static_cast<uint8_t>(claimedSize & 0x7F));
    tag.resize(10 + bodySize, 0);
    return tag;
}

TEST_F(BassChannels, RawId3BlocksAreBoundedByTheFile) {
    const std::string plain = Make("plain.mp3", 44100, 2, {"-c:a", "libmp3lame", "-write_xing", "0",
                                                            "-id3v2_version", "0", "-map_metadata", "-1"});
    const std::vector<uint8_t> audio = test::ReadBytes(plain);
    ASSERT_EQ(audio[0], 0xFF);

    // A sound tag of 300 bytes in front: the audio starts after it.
    std::vector<uint8_t> bytes = Id3v2Tag(290, 290);
    bytes.insert(bytes.end(), audio.begin(), audio.end());
    const std::string good = dir / "good.mp3";
    test::WriteBytes(good, bytes);
    HSTREAM h = BASS_StreamCreateFile(good, 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_START), 300u);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), bytes.size());
    const char* v2 = BASS_ChannelGetTags(h, BASS_TAG_ID3V2);
    ASSERT_NE(v2, nullptr);
    EXPECT_EQ(std::memcmp(v2, bytes.data(), 10), 0);
    EXPECT_EQ(BASS_ChannelGetTags(h, BASS_TAG_ID3), nullptr);  // no ID3v1 block
    BASS_StreamFree(h);

    // A tag claiming more than the whole file: no block (a copy would read past the end).
    bytes = Id3v2Tag(290, 50'000'000);
    bytes.insert(bytes.end(), audio.begin(), audio.end());
    const std::string huge = dir / "huge.mp3";
    test::WriteBytes(huge, bytes);
    EXPECT_TRUE(bass::ReadId3Blocks(huge).v2.empty());
    EXPECT_EQ(bass::FindMpegAudioStart(huge), 300u);  // the sync after the damaged tag
}

TEST_F(BassChannels, TagFormatFillsCodesAndKeepsLiteralText) {
    const std::string path = Make("t.flac", 44100, 1, {"-c:a", "flac", "-metadata", "title=Song", "-metadata",
                                                       "artist=Ana", "-metadata", "TRACKNUMBER=4"});
    const HSTREAM h = BASS_StreamCreateFile(path, 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    EXPECT_STREQ(TAGS_Read(h, "%TITL - %ARTI (%TRCK) 100%% %XYZ"), "Song - Ana (4) 100% %XYZ");
    EXPECT_STREQ(TAGS_Read(h, "[%ALBM]"), "");  // nothing found
    EXPECT_STREQ(TAGS_Read(h, "%TITL\n%YEAR"), "Song\n");
    BASS_StreamFree(h);

    bass::TagFields fields;
    EXPECT_EQ(bass::FormatTagText("%TITL%", fields), "");
    fields.copyright = "c";
    EXPECT_EQ(bass::FormatTagText("%", fields), "");
    EXPECT_EQ(bass::FormatTagText("x%COPY%", fields), "xc%");
}

TEST_F(BassChannels, ContainerMetadataFillsInWhereTagLibHasNothing) {
    // TagLib goes by the name and does not know ".bin"; the container's own metadata answers.
    const std::string flac = Make("t.flac", 44100, 2, {"-c:a", "flac", "-metadata", "title=Inside"});
    const std::string path = dir / "t.bin";
    test::WriteBytes(path, test::ReadBytes(flac));
    const HSTREAM h = BASS_StreamCreateFile(path, 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    EXPECT_STREQ(TAGS_Read(h, "%TITL|%ARTI"), "Inside|");
    BASS_StreamFree(h);
}

// --- Standard MIDI files ---

std::vector<uint8_t> Smf(uint16_t format, uint16_t division, const std::vector<std::vector<uint8_t>>& tracks,
                         int declaredTracks = -1) {
    std::vector<uint8_t> header;
    test::PutU16BE(header, format);
    test::PutU16BE(header, static_cast<uint16_t>(declaredTracks < 0 ? tracks.size() : declaredTracks));
    test::PutU16BE(header, division);
    std::vector<uint8_t> smf;
    PutMidiChunk(smf, "MThd", header);
    for (const auto& t : tracks) PutMidiChunk(smf, "MTrk", t);
    return smf;
}

std::vector<uint8_t> Track(std::initializer_list<std::pair<uint32_t, std::vector<uint8_t>>> events) {
    std::vector<uint8_t> track;
    for (const auto& [delta, bytes] : events) {
        PutVlq(track, delta);
        track.insert(track.end(), bytes.begin(), bytes.end());
    }
    return track;
}

TEST(SmfReader, LengthFollowsTheTempoMap) {
    SmfSong song;
    const std::vector<uint8_t> bytes = test::MakeMidiSong();
    ASSERT_TRUE(ParseSmf(bytes, song));
    EXPECT_EQ(song.format, 0);
    EXPECT_EQ(song.tracks, 1);
    EXPECT_EQ(song.endTick, 1440u);
    EXPECT_DOUBLE_EQ(song.seconds, 1.0);
    EXPECT_EQ(song.offset, 0u);
    EXPECT_EQ(song.size, bytes.size());

    // Format 1: the tempo map is in the first track, the notes track is the longest.
    const auto tempo = Track({{0, {0xFF, 0x51, 3, 0x0F, 0x42, 0x40}},   // 1 s per quarter
                              {96, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20}},  // 0.5 s per quarter from tick 96
                              {0, {0xFF, 0x2F, 0}}});
    const auto notes = Track({{0, {0x90, 60, 90}}, {1056, {0x80, 60, 0}}, {0, {0xFF, 0x2F, 0}}});
    ASSERT_TRUE(ParseSmf(Smf(1, 96, {tempo, notes}), song));
    EXPECT_EQ(song.endTick, 1056u);
    // 96 ticks at 1 s, then 960 ticks at 0.5 s per 96 ticks.
    EXPECT_DOUBLE_EQ(song.seconds, 1.0 + 5.0);

    // SMPTE division: 25 frames of 40 ticks per second.
    const uint16_t smpte = static_cast<uint16_t>((static_cast<uint8_t>(-25) << 8) | 40);
    ASSERT_TRUE(ParseSmf(Smf(0, smpte, {Track({{0, {0x90, 60, 90}}, {2500, {0x80, 60, 0}}})}), song));
    EXPECT_DOUBLE_EQ(song.seconds, 2.5);
}

TEST(SmfReader, RmidWrapperAndUnknownChunks) {
    std::vector<uint8_t> smf = test::MakeMidiSong();
    // An unknown chunk between header and track is skipped.
    std::vector<uint8_t> withJunk(smf.begin(), smf.begin() + 14);
    PutMidiChunk(withJunk, "XFIH", {1, 2, 3});
    withJunk.insert(withJunk.end(), smf.begin() + 14, smf.end());
    SmfSong song;
    ASSERT_TRUE(ParseSmf(withJunk, song));
    EXPECT_DOUBLE_EQ(song.seconds, 1.0);

    std::vector<uint8_t> rmid;
    test::PutTag(rmid, "RIFF");
    test::PutU32LE(rmid, static_cast<uint32_t>(4 + 8 + 4 + 8 + smf.size()));
    test::PutTag(rmid, "RMID");
    test::PutTag(rmid, "LIST");
    test::PutU32LE(rmid, 4);
    test::PutTag(rmid, "INFO");
    test::PutTag(rmid, "data");
    test::PutU32LE(rmid, static_cast<uint32_t>(smf.size()));
    rmid.insert(rmid.end(), smf.begin(), smf.end());
    ASSERT_TRUE(ParseSmf(rmid, song));
    EXPECT_EQ(song.offset, 32u);
    EXPECT_EQ(song.size, smf.size());
    EXPECT_DOUBLE_EQ(song.seconds, 1.0);

    rmid.resize(rmid.size() - 5);  // the data chunk claims more than there is
    EXPECT_FALSE(ParseSmf(rmid, song));
}

TEST(SmfReader, MalformedFilesAreRefused) {
    SmfSong song;
    const auto good = Track({{0, {0x90, 60, 90}}, {100, {0x80, 60, 0}}, {0, {0xFF, 0x2F, 0}}});
    ASSERT_TRUE(ParseSmf(Smf(0, 96, {good}), song));

    EXPECT_FALSE(ParseSmf(std::vector<uint8_t>{}, song));
    EXPECT_FALSE(ParseSmf(test::MakeModule(false), song));
    EXPECT_FALSE(ParseSmf(Smf(3, 96, {good}), song));     // unknown format
    EXPECT_FALSE(ParseSmf(Smf(0, 0, {good}), song));      // no division
    EXPECT_FALSE(ParseSmf(Smf(1, 96, {good}, 2), song));  // a declared track is missing
    EXPECT_FALSE(ParseSmf(Smf(0, 96, {}, 0), song));      // no tracks
    // A data byte with no status before it.
    EXPECT_FALSE(ParseSmf(Smf(0, 96, {Track({{0, {60, 90}}, {10, {0x80, 60, 0}}})}), song));
    // A variable-length delta of five bytes.
    EXPECT_FALSE(ParseSmf(Smf(0, 96, {{0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 90}}), song));
    // A meta event longer than its track.
    EXPECT_FALSE(ParseSmf(Smf(0, 96, {Track({{10, {0xFF, 0x01, 0x40, 'a'}}})}), song));
    // Nothing after tick 0.
    EXPECT_FALSE(ParseSmf(Smf(0, 96, {Track({{0, {0x90, 60, 90}}, {0, {0xFF, 0x2F, 0}}})}), song));
    // Far too long a song (days at one tick per quarter note).
    EXPECT_FALSE(ParseSmf(Smf(0, 1, {Track({{0, {0x90, 60, 90}}, {0x0FFFFFFF, {0x80, 60, 0}}})}), song));
    // A track chunk claiming more bytes than the file has.
    std::vector<uint8_t> cut = Smf(0, 96, {good});
    cut.resize(cut.size() - 2);
    EXPECT_FALSE(ParseSmf(cut, song));
}

TEST(SmfReader, EveryPrefixAndMutationIsHandled) {
    const std::vector<uint8_t> smf = test::MakeMidiSong();
    SmfSong song;
    for (size_t n = 0; n < smf.size(); ++n) {
        std::vector<uint8_t> prefix(smf.begin(), smf.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(ParseSmf(prefix, song)) << n;
    }
    std::mt19937 random(99);
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> mutated = smf;
        for (int k = 0; k < 3; ++k) mutated[random() % mutated.size()] = static_cast<uint8_t>(random());
        if (ParseSmf(mutated, song)) {
            EXPECT_GT(song.seconds, 0.0);
            EXPECT_LE(song.seconds, kSmfMaxSeconds);
            EXPECT_LE(song.offset + song.size, mutated.size());
        }
    }
}

TEST(BassMidi, SoundFontsMustBeRealSoundFonts) {
    test::TempDir dir;
    const std::string fake = dir / "fake.sf2";
    test::WriteBytes(fake, test::MakeMidiSong());
    EXPECT_EQ(BASS_MIDI_FontInit(fake, 0), 0u);
    EXPECT_EQ(BASS_MIDI_FontInit(dir / "missing.sf2", 0), 0u);
    const BASS_MIDI_FONT unknown{0x7FFFFFF0, -1, 0};
    EXPECT_FALSE(BASS_MIDI_StreamSetFonts(0, &unknown, 1));
    EXPECT_FALSE(BASS_MIDI_StreamSetFonts(0, nullptr, 0));

    // Without a SoundFont a file is described (for the file list) but yields no data, not silence.
    const std::string song = dir / "s.mid";
    test::WriteBytes(song, test::MakeMidiSong());
    const std::unique_ptr<bass::Channel> bare = bass::OpenMidiChannel(song, 0, "");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->lengthBytes, 44100u * 4);
    char buffer[64];
    EXPECT_EQ(bare->GetData(buffer, sizeof buffer), kBassDataError);

    if (!LoadDefaultSoundFont()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    EXPECT_TRUE(LoadDefaultSoundFont());  // again: already installed
    const HSTREAM h = BASS_MIDI_StreamCreateFile(song, 0, 0, BASS_STREAM_DECODE, 0);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), test::MakeMidiSong().size());
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_EQ(BASS_MIDI_StreamCreateFile(song, 0, 0, BASS_STREAM_DECODE, 200000), 0u);  // no such rate
}

TEST(BassCd, CdaFilesNameATrack) {
    test::TempDir dir;
    std::vector<uint8_t> cda;
    test::PutTag(cda, "RIFF");
    test::PutU32LE(cda, 36);
    test::PutTag(cda, "CDDA");
    test::PutTag(cda, "fmt ");
    test::PutU32LE(cda, 24);
    test::PutU16LE(cda, 1);
    test::PutU16LE(cda, 7);
    cda.resize(44, 0);
    const std::string path = dir / "Track07.cda";
    test::WriteBytes(path, cda);
    EXPECT_TRUE(bass::IsCdaFile(path));
    EXPECT_EQ(bass::ReadCdaTrack(path), 7);

    for (size_t n = 0; n < cda.size(); ++n) {
        test::WriteBytes(path, std::vector<uint8_t>(cda.begin(), cda.begin() + static_cast<std::ptrdiff_t>(n)));
        EXPECT_EQ(bass::ReadCdaTrack(path), std::nullopt) << n;
    }
    std::vector<uint8_t> zero = cda;
    zero[22] = 0;  // track 0 does not exist
    test::WriteBytes(path, zero);
    EXPECT_EQ(bass::ReadCdaTrack(path), std::nullopt);
    std::vector<uint8_t> oversized = cda;
    oversized[16] = 0xFF;  // fmt chunk longer than the file
    test::WriteBytes(path, oversized);
    EXPECT_EQ(bass::ReadCdaTrack(path), std::nullopt);
}

}  // namespace
}  // namespace pelloran
