#include <gtest/gtest.h>
#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <tuple>

#include "app/ConvertLoop.h"
#include "app/Progress.h"
#include "decode/DecoderFactory.h"
#include "decode/WmaReader.h"
#include "encode/WmaWriter.h"
#include "tests/encoder_fixtures.h"

namespace pelloran {
namespace {

using test::ReadBytes;
using test::TempDir;

WmaFormatEntry Entry(int rate, uint32_t bitrate, int channels) { return {rate, channels, bitrate}; }

std::tuple<int, uint32_t, int> Key(const WmaFormatEntry& e) { return {e.Rate(), e.bitrate, e.Channels()}; }

// The chosen (rate, bit rate) for a request, or (0, 0) when nothing matches.
std::pair<int, uint32_t> Find(const WmaFormatList& list, int rate, int bitrate, int channels) {
    const WmaFormatEntry* chosen = FindWmaFormat(list, rate, bitrate, channels);
    if (chosen == nullptr) return {0, 0};
    return {chosen->Rate(), chosen->bitrate};
}

TEST(WmaFormatList, InsertionKeepsOrderAndRefusesDuplicates) {
    WmaFormatList list;
    EXPECT_TRUE(InsertWmaFormat(list, Entry(48000, 128000, 2)));
    EXPECT_TRUE(InsertWmaFormat(list, Entry(44100, 96000, 2)));
    EXPECT_TRUE(InsertWmaFormat(list, Entry(44100, 64000, 2)));
    EXPECT_TRUE(InsertWmaFormat(list, Entry(44100, 96000, 1)));  // same rate and bit rate, other channels: before
    EXPECT_TRUE(InsertWmaFormat(list, Entry(22050, 32000, 2)));
    EXPECT_FALSE(InsertWmaFormat(list, Entry(44100, 96000, 2)));
    EXPECT_FALSE(InsertWmaFormat(list, Entry(44100, 96000, 1)));
    std::vector<std::tuple<int, uint32_t, int>> keys;
    for (const auto& e : list) keys.push_back(Key(e));
    const std::vector<std::tuple<int, uint32_t, int>> expected = {
        {22050, 32000, 2}, {44100, 64000, 2}, {44100, 96000, 1}, {44100, 96000, 2}, {48000, 128000, 2}};
    EXPECT_EQ(keys, expected);
}

TEST(WmaFormatList, FindPicksTheNearestFormat) {
    WmaFormatList list;
    InsertWmaFormat(list, Entry(44100, 64000, 2));
    InsertWmaFormat(list, Entry(44100, 96000, 2));
    InsertWmaFormat(list, Entry(48000, 128000, 2));
    EXPECT_EQ(Find(list, 44100, 96000, 2), std::make_pair(44100, 96000u));
    EXPECT_EQ(Find(list, 44100, 80000, 2), std::make_pair(44100, 96000u));  // a tie takes the higher
    EXPECT_EQ(Find(list, 44100, 70000, 2), std::make_pair(44100, 64000u));
    EXPECT_EQ(Find(list, 44100, 500000, 2), std::make_pair(44100, 96000u));
    EXPECT_EQ(Find(list, 44100, 1000, 2), std::make_pair(44100, 64000u));
    EXPECT_EQ(Find(list, 32000, 999, 2), std::make_pair(44100, 64000u));
    EXPECT_EQ(Find(list, 96000, 64000, 2), std::make_pair(48000, 128000u));
    EXPECT_EQ(Find(list, 44100, 64000, 1), std::make_pair(0, 0u));  // only stereo entries
}

TEST(WmaFormatList, EnumerationListsWhatTheEncoderAccepts) {
    ASSERT_TRUE(LoadWmaRuntime());
    WmaFormatList list;
    list.push_back(Entry(1, 1, 1));  // emptied first
    ASSERT_TRUE(EnumerateWmaFormats(list));
    ASSERT_GT(list.size(), 10u);
    std::set<std::tuple<int, uint32_t, int>> seen;
    const WmaFormatEntry* previous = nullptr;
    for (const auto& e : list) {
        EXPECT_TRUE(seen.insert(Key(e)).second);
        EXPECT_LE(e.Channels(), 2);
        EXPECT_GE(e.bitrate, 24000u);  // the encoder refuses less
        EXPECT_LE(e.Rate(), 48000);
        if (previous != nullptr) {
            EXPECT_TRUE(previous->Rate() < e.Rate() || (previous->Rate() == e.Rate() && previous->bitrate <= e.bitrate));
        }
        previous = &e;
    }
    EXPECT_EQ(seen.count({44100, 128000, 2}), 1u);
    EXPECT_EQ(seen.count({48000, 192000, 2}), 1u);
    EXPECT_EQ(seen.count({44100, 48000, 1}), 1u);
    // The encoder also offers variants tuned for video files; they never reach the list.
    const std::vector<WmaFormat> formats = WmaEncoderFormats();
    const auto forVideo = std::count_if(formats.begin(), formats.end(), [](const WmaFormat& f) { return f.forVideo; });
    EXPECT_GT(forVideo, 0);
    EXPECT_EQ(static_cast<long>(list.size()), static_cast<long>(formats.size()) - forVideo);
    EXPECT_TRUE(CheckWmaRuntime(nullptr, {}));
    EXPECT_EQ(SharedWmaFormats().size(), list.size());
}

// A writer on the 44100 Hz stereo 128 kbit/s format.
WmaWriter StereoWriter() {
    const WmaFormatEntry* format = LoadWmaRuntime() ? FindWmaFormat(SharedWmaFormats(), 44100, 128000, 2) : nullptr;
    return WmaWriter(WmaOptions{format != nullptr ? *format : WmaFormatEntry{}});
}

TEST(WmaWriter, EmptyTagsInventNoAttributes) {
    TempDir dir;
    const std::string path = dir / "e.wma";
    WmaWriter w = StereoWriter();
    ASSERT_TRUE(w.Open(path, {22050, 1, 8}, {}));  // 8-bit mono input, converted by the writer
    std::vector<uint8_t> block(1152, 128);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(test::WriteEight(w, block.data(), nullptr, 1152));
    ASSERT_TRUE(w.Finish());

    TagLib::ASF::File file(path.c_str());
    ASSERT_TRUE(file.isValid());
    const auto& map = file.tag()->attributeListMap();
    for (const char* name : {"WM/AlbumArtist", "WM/AlbumTitle", "WM/Genre", "WM/TrackNumber", "WM/Year",
                             "WM/Composer"})
        EXPECT_FALSE(map.contains(name)) << name;
    EXPECT_TRUE(file.tag()->copyright().isEmpty());
    const auto p = test::ProbeAudio(path);
    EXPECT_EQ(p.at("channels"), "2");
    EXPECT_EQ(p.at("sample_rate"), "44100");
    EXPECT_NEAR(test::Number(p, "format.duration"), 20.0 * 1152 / 22050, 4096.0 / 44100);
}

TEST(WmaWriter, OpenFailsCleanlyWithoutAFormatOrAFolder) {
    WmaWriter none;
    EXPECT_FALSE(none.Open("/tmp/never.wma", {44100, 2, 16}, {}));
    EXPECT_FALSE(test::fs::exists("/tmp/never.wma"));
    WmaWriter w = StereoWriter();
    EXPECT_FALSE(w.Open("/nonexistent-folder/x.wma", {44100, 2, 16}, {}));
    EXPECT_FALSE(w.Finish());

    // A full disk fails the file.
    ASSERT_TRUE(w.Open("/dev/full", {44100, 2, 16}, {}));
    std::vector<int16_t> block(1152, 1000);
    bool ok = true;
    for (int i = 0; i < 400 && ok; ++i) ok = test::WriteSixteen(w, block.data(), block.data(), 1152);
    EXPECT_FALSE(ok && w.Finish());
}

// Runs in a fresh process, where the runtime has not been loaded yet.
int ConvertBeforeTheRuntimeIsLoaded() {
    if (WmaRuntimeReady()) return 2;
    ConvertSettings settings;
    settings.OutputFormat = kOutputWma;
    NullProgress progress;
    ConvertContext context{settings, progress, {}, 1};
    const int result = ConvertFile(kInputWav, "/nonexistent/source.wav", "/nonexistent/out.wma", context);
    // No decoder was asked for the source: it would have left its note.
    return result == 0 && context.decoder.failureNote.empty() ? 0 : 1;
}

TEST(WmaLoop, WithoutTheRuntimeNothingIsOpened) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(ConvertBeforeTheRuntimeIsLoaded()), ::testing::ExitedWithCode(0), "");
}

class WmaCli : public test::CliFixture {};

TEST_F(WmaCli, AutomaticFormatTagsAndTheWayBackToWav) {
    const std::string src = Sine("song.wav", 44100, 2, 2.0);
    ASSERT_EQ(Cli("wma", {"-s", "WMAID3TagType=0", "-s", "WMATag.Artist=Ann \xC3\x89", "-s", "WMATag.Album=Al", "-s",
                          "WMATag.Year=2001", "-s", "WMATag.Genre=Jazz", "-s", "WMATag.Comment=Note", "-s",
                          "WMATag.Composer=Comp", "-s", "WMATag.Copyright=(c) C", "-s", "WMATag.TrackNumType=2", "-s",
                          "WMATag.CustomTrackNum=7", src})
                  .exitCode,
              0);
    const std::string wma = Out("song.wma");
    const auto p = test::ProbeAudio(wma);
    EXPECT_EQ(p.at("codec_name"), "wmav2");
    EXPECT_EQ(p.at("sample_rate"), "44100");
    EXPECT_EQ(p.at("channels"), "2");
    EXPECT_NEAR(test::Number(p, "bit_rate"), 128000, 1000);
    // Length: the source's, up to one padded frame and the frame that carries the decoder's overlap.
    const auto audio = test::DecodeWithFfmpeg(wma, dir_ / "d.wav");
    EXPECT_GE(audio.samples.size() / 2, 88200u);
    EXPECT_LE(audio.samples.size() / 2, 88200u + 2 * 2048u);
    EXPECT_GT(test::Rms(audio, 0, 1.9, 2.0), 5000.0);  // the end of the audio is kept

    TagLib::ASF::File file(wma.c_str());
    ASSERT_TRUE(file.isValid());
    TagLib::ASF::Tag* tag = file.tag();
    EXPECT_EQ(tag->title().to8Bit(true), "song");
    EXPECT_EQ(tag->artist().to8Bit(true), "Ann \xC3\x89");
    EXPECT_EQ(tag->comment().to8Bit(true), "Note");
    EXPECT_EQ(tag->copyright().to8Bit(true), "(c) C");
    const auto& map = tag->attributeListMap();
    EXPECT_FALSE(map.contains("WM/AlbumArtist"));  // the artist is not copied into the album artist
    EXPECT_EQ(map["WM/AlbumTitle"].front().toString().to8Bit(true), "Al");
    EXPECT_EQ(map["WM/Genre"].front().toString().to8Bit(true), "Jazz");
    EXPECT_EQ(map["WM/Year"].front().toString().to8Bit(true), "2001");
    EXPECT_EQ(map["WM/Composer"].front().toString().to8Bit(true), "Comp");
    EXPECT_EQ(map["WM/TrackNumber"].front().toUInt(), 7u);

    // Back to WAV through the WMA reader, with its tags carried into an M4A file.
    ASSERT_EQ(Cli("wav", {"--decoder", "wma", wma}).exitCode, 0);
    const auto wav = test::DecodeWithSndfile(Out("song.wav"));
    EXPECT_EQ(wav.rate, 44100);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.samples.size(), audio.samples.size());
    ASSERT_EQ(Cli("m4a", {wma}).exitCode, 0);
    const auto m4a = test::ProbeAudio(Out("song.m4a"));
    EXPECT_EQ(m4a.at("TAG:title"), "song");
    EXPECT_EQ(m4a.at("TAG:artist"), "Ann \xC3\x89");
    EXPECT_EQ(m4a.at("TAG:track"), "7");
}

TEST_F(WmaCli, ManualFormatSelectsOneChannel) {
    const std::string src = dir_ / "left.wav";
    test::WriteLeftToneWav(src, 44100, 44100);
    const std::vector<std::string> manual = {"-s", "AutoDestWMAEncodingParam=0", "-s", "WMAChannels=1", "-s",
                                             "WMABitRate=48000", "-s", "WMASampleRate=44100", "-s",
                                             "TargetExistsOpt=22"};
    double rms[2] = {};
    for (int monoType = 1; monoType <= 2; ++monoType) {
        auto args = manual;
        args.insert(args.end(), {"-s", "MonoType=" + std::to_string(monoType), src});
        ASSERT_EQ(Cli("wma", args).exitCode, 0);
        const auto p = test::ProbeAudio(Out("left.wma"));
        EXPECT_EQ(p.at("channels"), "1");
        EXPECT_NEAR(test::Number(p, "bit_rate"), 48000, 1000);
        rms[monoType - 1] = test::Rms(test::DecodeWithFfmpeg(Out("left.wma"), dir_ / "d.wav"), 0, 0.1, 0.9);
    }
    EXPECT_GT(rms[0], 20000 / std::sqrt(2.0) * 0.7);
    EXPECT_LT(rms[1], 300.0);
}

TEST_F(WmaCli, LongMultiLineCommentReachesOggWhole) {
    std::string comment;
    for (int i = 0; i < 300; ++i) comment += "line " + std::to_string(i) + " of a comment\r\n\tindented\n";
    ASSERT_GT(comment.size(), 8000u);
    const std::string wma = dir_ / "notes.wma";
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=d=0.5", "-c:a", "wmav2", "-metadata",
                         "comment=" + comment, "-metadata", "title=Notes", wma})
                  .exitCode,
              0);
    ASSERT_EQ(Cli("ogg", {"--decoder", "wma", wma}).exitCode, 0);
    TagLib::Ogg::Vorbis::File ogg(Out("notes.ogg").c_str());
    ASSERT_TRUE(ogg.isValid());
    EXPECT_EQ(ogg.tag()->fieldListMap()["COMMENT"].toString().to8Bit(true), comment);
    EXPECT_EQ(ogg.tag()->fieldListMap()["TITLE"].toString().to8Bit(true), "Notes");
}

TEST(WmaReader, ReadsVideoFilesAndFilesWithoutTags) {
    TempDir dir;
    const std::string wmv = dir / "v.wmv";
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=1:r=22050", "-f", "lavfi", "-i",
                         "testsrc=d=1:s=64x48", "-c:v", "wmv2", "-c:a", "wmav2", "-ac", "1", "-map_metadata", "-1",
                         "-fflags", "+bitexact", wmv})
                  .exitCode,
              0);
    ASSERT_TRUE(LoadWmaRuntime());
    WmaReader reader;
    ASSERT_EQ(reader.Open(wmv, 0), 1);
    EXPECT_EQ(reader.GetSampleRate(), 22050);
    EXPECT_EQ(reader.Format().channels, 1);
    EXPECT_EQ(reader.Format().bits, 16);
    EXPECT_EQ(reader.GetDurationSeconds(), 1);
    EXPECT_GT(reader.GetLength(), 9000000u);
    TagRecord none;
    EXPECT_EQ(reader.ReadTags(none), 1);  // an open file reads, even with nothing in the header
    EXPECT_TRUE(none.Title.empty() && none.Artist.empty() && none.Comment.empty());

    std::vector<int16_t> left(kBlockFrames);
    size_t frames = 0;
    int n = 0;
    uint64_t lastPosition = 0;
    while ((n = test::ReadSixteen(reader, left.data(), nullptr)) > 0) {
        EXPECT_LE(n, kBlockFrames);
        EXPECT_GE(reader.GetPosition(), lastPosition);
        lastPosition = reader.GetPosition();
        frames += static_cast<size_t>(n);
    }
    EXPECT_GE(frames, 20000u);
    EXPECT_LE(frames, 22050u + 2048u);
    EXPECT_GT(lastPosition, 8000000u);

    // A file with a title only: the missing track number reads as 0.
    const std::string titled = dir / "t.wma";
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=d=0.5", "-c:a", "wmav2", "-metadata",
                         "title=Only", titled})
                  .exitCode,
              0);
    ASSERT_EQ(reader.Open(titled, 0), 1);
    TagRecord tags;
    ASSERT_EQ(reader.ReadTags(tags), 1);
    EXPECT_EQ(tags.Title, "Only");
    EXPECT_EQ(tags.Track, "0");
}

TEST(WmaReader, DamagedFilesFailOrEndCleanly) {
    TempDir dir;
    const std::string good = dir / "g.wma";
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=d=2", "-ac", "2", "-c:a", "wmav2", good})
                  .exitCode,
              0);
    ASSERT_TRUE(LoadWmaRuntime());
    const auto bytes = ReadBytes(good);
    std::mt19937 random(7);
    std::vector<std::vector<uint8_t>> cases;
    cases.emplace_back(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(bytes.size() / 2));  // cut short
    cases.emplace_back(bytes.begin(), bytes.begin() + 40);                                         // header only
    cases.push_back({});
    for (int i = 0; i < 12; ++i) {
        auto damaged = bytes;
        for (int j = 0; j < 30; ++j) damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
        cases.push_back(std::move(damaged));
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string path = dir / ("bad" + std::to_string(i) + ".wma");
        test::WriteBytes(path, cases[i]);
        WmaReader reader;
        if (reader.Open(path, 0) == 0) continue;
        std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
        size_t frames = 0;
        int n = 0;
        while ((n = test::ReadSixteen(reader, left.data(), right.data())) > 0) {
            ASSERT_LE(n, kBlockFrames);
            frames += static_cast<size_t>(n);
            ASSERT_LT(frames, 10u * 44100u) << i;  // bounded: never more than the file can hold
        }
    }
    // A file that is not ASF is refused; the factory then tries the next reader.
    test::WriteBytes(dir / "x.wma", std::vector<uint8_t>(4096, 0x41));
    WmaReader reader;
    EXPECT_EQ(reader.Open(dir / "x.wma", 0), 0);
}

}  // namespace
}  // namespace pelloran
