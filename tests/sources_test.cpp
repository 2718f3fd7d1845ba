#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "decode/BassDecoder.h"
#include "decode/CdSource.h"
#include "decode/FfmpegSource.h"
#include "decode/MidiSource.h"
#include "decode/ModuleSource.h"
#include "platform/File.h"
#include "platform/MpegFrames.h"
#include "platform/SoundFont.h"
#include "platform/TagReader.h"
#include "platform/smf.h"
#include "tests/bass_fixtures.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using test::PutMidiChunk;
using test::PutVlq;

constexpr FfmpegSource::Options kGeneral{DemuxerSet::GeneralReader, true, false};

File OpenFile(const std::string& path) {
    File file;
    EXPECT_TRUE(file.Open(path, "rb")) << path;
    return file;
}

class Sources : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed";
    }
    std::string Make(const std::string& name, int rate, int channels, const std::vector<std::string>& codec) {
        return test::EncodeTone(dir, name, rate, channels, 1.0, codec);
    }
    test::TempDir dir;
};

TEST_F(Sources, EachFamilyTakesOnlyItsFiles) {
    const File flac = OpenFile(Make("a.flac", 44100, 2, {"-c:a", "flac"}));
    const File ogg = OpenFile(Make("a.ogg", 44100, 2, {"-c:a", "libvorbis"}));
    const std::string modPath = dir / "a.mod";
    test::WriteBytes(modPath, test::MakeModule(false));
    const File mod = OpenFile(modPath);

    EXPECT_NE(FfmpegSource::Open(flac, "a.flac", kGeneral), nullptr);
    EXPECT_EQ(FfmpegSource::Open(mod, "a.mod", kGeneral), nullptr);
    EXPECT_EQ(FfmpegSource::Open(ogg, "a.ogg", kGeneral), nullptr);  // Vorbis is left to its own reader
    EXPECT_NE(FfmpegSource::Open(ogg, "a.ogg", {}), nullptr);
    EXPECT_NE(ModuleSource::Open(mod, 0), nullptr);
    EXPECT_EQ(ModuleSource::Open(flac, 0), nullptr);
    EXPECT_EQ(MidiSource::Open(flac, 0, ""), nullptr);
    EXPECT_EQ(CdSource::Open(flac), nullptr);
}

TEST_F(Sources, FfmpegDataComesInWholeFramesOfEveryChannel) {
    const File six = OpenFile(Make("six.flac", 48000, 6, {"-c:a", "flac"}));
    const auto source = FfmpegSource::Open(six, "six.flac", kGeneral);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Format().rate, 48000);
    EXPECT_EQ(source->Format().channels, 6);
    EXPECT_EQ(source->Format().bits, 16);
    EXPECT_EQ(source->LengthFrames(), 48000u);

    std::vector<char> buffer(4096 * 12);
    EXPECT_EQ(source->Read(buffer.data(), 8), 8u);
    uint64_t total = 8;
    for (size_t got; (got = source->Read(buffer.data(), 4096)) > 0;) total += got;
    EXPECT_EQ(total, 48000u);
    EXPECT_EQ(source->Read(buffer.data(), 4096), 0u);  // stays at the end
    EXPECT_FALSE(source->Truncated());
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

TEST_F(Sources, RawId3BlocksAreBoundedByTheFile) {
    const std::string plain = Make("plain.mp3", 44100, 2, {"-c:a", "libmp3lame", "-write_xing", "0",
                                                            "-id3v2_version", "0", "-map_metadata", "-1"});
    const std::vector<uint8_t> audio = test::ReadBytes(plain);
    ASSERT_EQ(audio[0], 0xFF);

    // A sound tag of 300 bytes in front: the audio starts after it.
    std::vector<uint8_t> bytes = Id3v2Tag(290, 290);
    bytes.insert(bytes.end(), audio.begin(), audio.end());
    test::WriteBytes(dir / "good.mp3", bytes);
    const File good = OpenFile(dir / "good.mp3");
    EXPECT_EQ(FindMpegAudioStart(good), 300u);
    const Id3Blocks blocks = ReadId3Blocks(good);
    EXPECT_TRUE(blocks.v2 == std::vector<uint8_t>(bytes.begin(), bytes.begin() + 300));
    EXPECT_FALSE(blocks.v1.has_value());

    // A tag claiming more than the whole file: no block (a copy would read past the end).
    bytes = Id3v2Tag(290, 50'000'000);
    bytes.insert(bytes.end(), audio.begin(), audio.end());
    test::WriteBytes(dir / "huge.mp3", bytes);
    const File huge = OpenFile(dir / "huge.mp3");
    EXPECT_TRUE(ReadId3Blocks(huge).v2.empty());
    EXPECT_EQ(FindMpegAudioStart(huge), 300u);  // the sync after the damaged tag
}

TEST_F(Sources, TagValuesStayWholeAndContainerMetadataFillsIn) {
    const std::string lines = "line one\nline two\nline three";
    const std::string longTitle(5000, 't');
    const std::string flac = Make("t.flac", 44100, 1, {"-c:a", "flac", "-metadata", "comment=" + lines,
                                                       "-metadata", "title=" + longTitle});
    TagRecord tags;
    tags.Copyright = "stale";
    ASSERT_TRUE(ReadTagLibTags(OpenFile(flac), flac, tags));
    EXPECT_EQ(tags.Comment, lines);
    EXPECT_EQ(tags.Title, longTitle);
    EXPECT_EQ(tags.Composer, "");
    EXPECT_EQ(tags.Copyright, "");

    // TagLib goes by the name and does not know ".bin"; the container's own metadata answers.
    const std::string path = dir / "t.bin";
    test::WriteBytes(path, test::ReadBytes(Make("i.flac", 44100, 2, {"-c:a", "flac", "-metadata", "title=Inside"})));
    const File bin = OpenFile(path);
    const auto source = FfmpegSource::Open(bin, path, kGeneral);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Metadata("TITLE"), "Inside");
    ASSERT_TRUE(source->ReadTags(tags));
    EXPECT_EQ(tags.Title, "Inside");
    EXPECT_EQ(tags.Artist, "");
}

// Decoding, tags, ID3 blocks and the frame scan share one open file without disturbing each other.
TEST_F(Sources, ReadersOfOneOpenFileDoNotDisturbEachOther) {
    const std::string mp3 = Make("t.mp3", 44100, 2, {"-c:a", "libmp3lame", "-id3v2_version", "3",
                                                      "-write_id3v1", "1", "-metadata", "title=Shared"});
    const auto decodeAll = [&](bool interleaveOthers) {
        const File file = OpenFile(mp3);
        const auto source = FfmpegSource::Open(file, mp3, kGeneral);
        std::vector<int16_t> samples, block(1152 * 2);
        for (size_t got; source && (got = source->Read(block.data(), 1152)) > 0;) {
            samples.insert(samples.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got * 2));
            if (!interleaveOthers) continue;
            TagRecord tags;
            EXPECT_TRUE(source->ReadTags(tags));
            EXPECT_EQ(tags.Title, "Shared");
            EXPECT_TRUE(ReadId3Blocks(file).v1.has_value());
            EXPECT_TRUE(FindMpegAudioStart(file).has_value());
        }
        return samples;
    };
    const std::vector<int16_t> plain = decodeAll(false);
    EXPECT_GT(plain.size(), 44100u);
    EXPECT_TRUE(decodeAll(true) == plain);
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

TEST(MidiSources, SoundFontsMustBeRealSoundFonts) {
    test::TempDir dir;
    const std::string fake = dir / "fake.sf2";
    test::WriteBytes(fake, test::MakeMidiSong());
    EXPECT_FALSE(IsUsableSoundFont(fake));
    EXPECT_FALSE(IsUsableSoundFont(dir / "missing.sf2"));

    // Without a SoundFont a file is described (for the file list) but yields no data, not silence.
    const std::string song = dir / "s.mid";
    test::WriteBytes(song, test::MakeMidiSong());
    const File file = OpenFile(song);
    const auto bare = MidiSource::Open(file, 0, "");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->LengthFrames(), 44100u);
    int16_t buffer[64];
    EXPECT_EQ(bare->Read(buffer, 16), 0u);

    if (!LoadDefaultSoundFont()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    EXPECT_TRUE(LoadDefaultSoundFont());  // again: already in place
    const auto source = MidiSource::Open(file, 0);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->FileBytes(), test::MakeMidiSong().size());
    EXPECT_EQ(source->Read(buffer, 16), 16u);
    EXPECT_EQ(MidiSource::Open(file, 200000), nullptr);  // no such rate
}

}  // namespace
}  // namespace pelloran
