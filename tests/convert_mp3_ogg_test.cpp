#include <gtest/gtest.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <filesystem>

#include "app/ConvertLoop.h"
#include "formats/EncodingParams.h"
#include "app/Progress.h"
#include "encode/Id3Tag.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;

// "rate channels bit_rate" of the first audio stream, as ffprobe reports them.
std::string Probe(const std::string& path) {
    std::string out = test::Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                 "stream=sample_rate,channels,bit_rate", "-of", "csv=p=0", path})
                          .out;
    std::replace(out.begin(), out.end(), ',', ' ');
    return out.substr(0, out.find('\n'));
}

// Channel-mode bits of the first MPEG frame after any ID3v2 block (0 stereo, 1 joint stereo, 3 mono).
int FirstFrameMode(const std::vector<uint8_t>& b) {
    for (size_t at = Id3v2BlockSize(b.data(), b.size()); at + 4 <= b.size(); ++at) {
        if (b[at] == 0xFF && (b[at + 1] & 0xE0) == 0xE0) return b[at + 3] >> 6;
    }
    return -1;
}

// An ID3v2.4 tag with UTF-8 title and artist frames, ending in a footer ("3DI").
std::vector<uint8_t> Id3v24TagWithFooter(const std::string& title, const std::string& artist) {
    const auto synchsafe = [](std::vector<uint8_t>& out, size_t n) {
        for (int shift : {21, 14, 7, 0}) out.push_back(static_cast<uint8_t>((n >> shift) & 0x7F));
    };
    std::vector<uint8_t> body;
    for (const auto& [id, text] : {std::pair<std::string, std::string>{"TIT2", title}, {"TPE1", artist}}) {
        body.insert(body.end(), id.begin(), id.end());
        synchsafe(body, text.size() + 1);
        body.insert(body.end(), {0, 0, 3});  // no frame flags; UTF-8
        body.insert(body.end(), text.begin(), text.end());
    }
    std::vector<uint8_t> header = {'I', 'D', '3', 4, 0, 0x10};
    synchsafe(header, body.size());
    std::vector<uint8_t> tag = header;
    tag.insert(tag.end(), body.begin(), body.end());
    tag.insert(tag.end(), {'3', 'D', 'I'});
    tag.insert(tag.end(), header.begin() + 3, header.end());
    return tag;
}

// Decodes with independent decoders (oggdec trims Ogg to its granule position exactly).
test::SndfileAudio Decode(const TempDir& dir, const std::string& path) {
    const std::string wav = dir / "decoded.wav";
    std::remove(wav.c_str());
    if (path.ends_with(".ogg")) test::Run({"oggdec", "-Q", "-o", wav, path});
    else test::Run({"mpg123", "-q", "-w", wav, path});
    return test::DecodeWithSndfile(wav);
}

int Peak(const test::SndfileAudio& audio) {
    int peak = 0;
    for (int16_t s : audio.samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
}

// pelloran-cli with an empty settings file of its own.
class MpOgg : public ::testing::Test {
protected:
    void SetUp() override { test::WriteBytes(settings_, {}); }
    test::CommandResult Cli(const std::string& format, std::vector<std::string> args) {
        std::vector<std::string> argv = {test::CliPath(), "-q", "--settings", settings_, "-f", format, "-o", out_,
                                         "-s", "TargetExistsOpt=22"};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::Run(argv, {"HOME=" + dir_.path().string(), "XDG_CONFIG_HOME=" + (dir_ / "config")});
    }
    std::string Sine(const std::string& name, int rate, int channels, double seconds) {
        test::WriteSineWav(dir_ / name, rate, channels, seconds);
        return dir_ / name;
    }
    std::string Out(const std::string& name) const { return out_ + "/" + name; }

    TempDir dir_;
    std::string settings_ = dir_ / "settings.conf";
    std::string out_ = dir_ / "out";
};

TEST(EncodingParams, LookupsAndTagTexts) {
    EXPECT_EQ(AutoEncodingParams(8000, 1).rate, 11025);
    EXPECT_EQ(AutoEncodingParams(44101, 2).rate, 48000);
    EXPECT_EQ(AutoEncodingParams(44101, 2).bitrateKbps, 192);
    EXPECT_EQ(NearestInTable(100, kEncoderRateTable), 8000);
    EXPECT_EQ(NearestInTable(96000, kEncoderRateTable), 48000);
    EXPECT_EQ(NearestInTable(36, kMp3BitrateTable), 32);  // a tie takes the lower entry
    EXPECT_EQ(NearestInTable(37, kMp3BitrateTable), 40);
    EXPECT_EQ(ClampOggBitrate(8000, 2, 8), 16);
    EXPECT_EQ(ClampOggBitrate(44100, 1, 480), 224);
    EXPECT_EQ(ClampOggBitrate(44100, 2, 480), 480);

    EXPECT_EQ(CleanTagText("a\x01" "b\tc\nd\x7F"), "ab\tc\nd");
    EXPECT_EQ(CleanTagText("x\xFFy"), "x\xEF\xBF\xBDy");
    const std::string longText = std::string(100000, 'a') + "\xC3\xA9\nend";  // never cut
    EXPECT_EQ(CleanTagText(longText), longText);
}

TEST_F(MpOgg, Mp3ParametersFollowTheRules) {
    // 22050 Hz stereo, automatic or custom with every value following the source: joint stereo, 64 kbit/s.
    const std::string s22 = Sine("s22.wav", 22050, 2, 1.0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{s22}, {"-s", "AutoDestMP3EncodingParam=0", "-s", "MP3BitRate=0", "-s",
                                          "MP3SampleRate=0", "-s", "MP3ChannelMode=4", s22}}) {
        ASSERT_EQ(Cli("mp3", args).exitCode, 0);
        EXPECT_EQ(Probe(Out("s22.mp3")), "22050 2 64000");
        EXPECT_EQ(FirstFrameMode(ReadBytes(Out("s22.mp3"))), 1);
        EXPECT_NEAR(static_cast<double>(Decode(dir_, Out("s22.mp3")).samples.size()) / 2, 22050, 2 * 1152);
    }
    // An output rate of 8000 Hz limits 128 kbit/s to 64; 190 is taken to the nearest entry, plain stereo.
    const std::string s44 = Sine("s44.wav", 44100, 2, 1.0);
    ASSERT_EQ(Cli("mp3", {"-s", "AutoDestMP3EncodingParam=0", "-s", "MP3SampleRate=8000", s44}).exitCode, 0);
    EXPECT_EQ(Probe(Out("s44.mp3")), "8000 2 64000");
    ASSERT_EQ(Cli("mp3", {"-s", "AutoDestMP3EncodingParam=0", "-s", "MP3ChannelMode=0", "-s", "MP3BitRate=190", s44})
                  .exitCode,
              0);
    EXPECT_EQ(Probe(Out("s44.mp3")), "44100 2 192000");
    EXPECT_EQ(FirstFrameMode(ReadBytes(Out("s44.mp3"))), 0);
}

TEST_F(MpOgg, Mp3MonoKeepsTheChosenChannelAndWidensEightBits) {
    const std::string src = dir_ / "left.wav";  // a tone on the left, silence on the right
    ASSERT_EQ(test::Run({"sox", "-D", "-n", "-r", "44100", "-c", "2", "-b", "16", src, "synth", "1", "sine", "440",
                         "vol", "0.6", "remix", "1", "0"})
                  .exitCode,
              0);
    const auto mono = [&](const char* monoType) {
        EXPECT_EQ(Cli("mp3", {"-s", "AutoDestMP3EncodingParam=0", "-s", "MP3ChannelMode=3", "-s",
                              std::string("MonoType=") + monoType, src})
                      .exitCode,
                  0);
        const auto audio = Decode(dir_, Out("left.mp3"));
        EXPECT_EQ(audio.channels, 1);
        return Peak(audio);
    };
    EXPECT_GT(mono("1"), 17000);
    EXPECT_LT(mono("2"), 500);
    const int mixed = mono("0");  // mixed by the encoder: half the amplitude
    EXPECT_GT(mixed, 7000);
    EXPECT_LT(mixed, 13000);

    // An 8-bit source reaches the encoder as 16-bit samples of the same loudness.
    const std::string u8 = dir_ / "u8.wav";
    ASSERT_EQ(test::Run({"sox", "-n", "-r", "22050", "-c", "1", "-b", "8", "-e", "unsigned-integer", u8, "synth",
                         "1", "sine", "440", "vol", "0.5"})
                  .exitCode,
              0);
    ASSERT_EQ(Cli("mp3", {u8}).exitCode, 0);
    const auto audio = Decode(dir_, Out("u8.mp3"));
    EXPECT_EQ(audio.rate, 22050);
    EXPECT_GT(Peak(audio), 13000);
    EXPECT_LT(Peak(audio), 20000);
}

TEST_F(MpOgg, Mp3CustomTagsInBothVersions) {
    const std::string src = Sine("my.song.wav", 44100, 2, 0.3);
    ASSERT_EQ(Cli("mp3", {"-s", "MP3ID3TagType=0", "-s", "MP3WriteID3Version=2", "-s", "MP3Tag.Artist=Ärtist", "-s",
                          "MP3Tag.Genre=ROCK", "-s", "MP3Tag.TrackNumType=2", src})
                  .exitCode,
              0);
    const auto bytes = ReadBytes(Out("my.song.mp3"));
    ASSERT_GT(bytes.size(), 256u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "ID3");
    EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
    EXPECT_EQ(bytes.back(), 17);
    TagLib::MPEG::File file(Out("my.song.mp3").c_str());
    ASSERT_NE(file.ID3v2Tag(), nullptr);
    EXPECT_EQ(file.ID3v2Tag()->title().to8Bit(true), "my.song");
    EXPECT_EQ(file.ID3v2Tag()->artist().to8Bit(true), "Ärtist");
    EXPECT_EQ(file.ID3v2Tag()->genre().to8Bit(true), "ROCK");
    EXPECT_TRUE(file.ID3v2Tag()->frameListMap()["TRCK"].isEmpty());  // custom track 0

    // Version 0: only the ID3v1 block; an unknown genre is 12.
    ASSERT_EQ(Cli("mp3", {"-s", "MP3ID3TagType=0", "-s", "MP3WriteID3Version=0", "-s", "MP3Tag.Genre=Zydeco", src})
                  .exitCode,
              0);
    const auto only1 = ReadBytes(Out("my.song.mp3"));
    EXPECT_NE(std::string(only1.begin(), only1.begin() + 3), "ID3");
    EXPECT_EQ(std::string(only1.end() - 128, only1.end() - 125), "TAG");
    EXPECT_EQ(only1.back(), 12);

    // Run positions as track numbers stay with their files when two jobs convert at once.
    std::vector<std::string> args = {"-j", "2", "-s", "MP3ID3TagType=0", "-s", "MP3Tag.TrackNumType=1"};
    for (int i = 1; i <= 4; ++i) args.push_back(Sine("t" + std::to_string(i) + ".wav", 44100, 2, 0.4));
    ASSERT_EQ(Cli("mp3", args).exitCode, 0);
    for (unsigned i = 1; i <= 4; ++i) {
        TagLib::MPEG::File t(Out("t" + std::to_string(i) + ".mp3").c_str());
        ASSERT_NE(t.ID3v2Tag(), nullptr);
        EXPECT_EQ(t.ID3v2Tag()->track(), i);
    }
}

TEST_F(MpOgg, Mp3SourceTagsAreCopiedRaw) {
    ASSERT_EQ(Cli("mp3", {"-s", "MP3ID3TagType=0", "-s", "MP3WriteID3Version=2", "-s", "MP3Tag.Artist=Raw",
                          Sine("src.wav", 44100, 2, 0.5)})
                  .exitCode,
              0);
    const std::string tagged = dir_ / "tagged.mp3";
    fs::rename(Out("src.mp3"), tagged);
    const auto source = ReadBytes(tagged);
    const size_t v2 = Id3v2BlockSize(source.data(), source.size());
    ASSERT_GT(v2, 10u);
    ASSERT_EQ(Cli("mp3", {tagged}).exitCode, 0);  // tag type 1 is the default
    const auto copy = ReadBytes(Out("tagged.mp3"));
    ASSERT_GT(copy.size(), v2 + 128);
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + static_cast<long>(v2), copy.begin()));
    EXPECT_TRUE(std::equal(source.end() - 128, source.end(), copy.end() - 128));
}

TEST_F(MpOgg, Mp3SourceTagWithAFooterIsCopiedWhole) {
    const std::string plain = dir_ / "plain.mp3";
    ASSERT_EQ(test::Run({"lame", "--silent", Sine("src.wav", 44100, 2, 0.5), plain}).exitCode, 0);
    std::vector<uint8_t> bytes = Id3v24TagWithFooter("Footer Title", "Füßer Artist");
    const size_t tagSize = bytes.size();
    ASSERT_EQ(Id3v2BlockSize(bytes.data(), bytes.size()), tagSize);
    const auto audio = ReadBytes(plain);
    bytes.insert(bytes.end(), audio.begin(), audio.end());
    const std::string tagged = dir_ / "footer.mp3";
    test::WriteBytes(tagged, bytes);

    ASSERT_EQ(Cli("mp3", {"-s", "MP3ID3TagType=1", tagged}).exitCode, 0);
    const auto copy = ReadBytes(Out("footer.mp3"));
    ASSERT_GT(copy.size(), tagSize);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + static_cast<long>(tagSize), copy.begin()));
    TagLib::MPEG::File file(Out("footer.mp3").c_str());
    ASSERT_NE(file.ID3v2Tag(), nullptr);
    EXPECT_EQ(file.ID3v2Tag()->title().to8Bit(true), "Footer Title");
    EXPECT_EQ(file.ID3v2Tag()->artist().to8Bit(true), "Füßer Artist");
}

TEST_F(MpOgg, OggParametersFollowTheRules) {
    // 8000 Hz mono at 128 kbit/s is limited to 40.
    ASSERT_EQ(Cli("ogg", {"-s", "AutoDestOGGEncodingParam=0", "-s", "OGGSampleRate=8000", "-s", "OGGChannels=1",
                          Sine("m8.wav", 8000, 1, 1.0)})
                  .exitCode,
              0);
    EXPECT_EQ(Probe(Out("m8.ogg")), "8000 1 40000");

    // Automatic: the source's rate and channels, every frame kept.
    const std::string s22 = Sine("s22.wav", 22050, 2, 1.5);
    ASSERT_EQ(Cli("ogg", {s22}).exitCode, 0);
    EXPECT_EQ(Probe(Out("s22.ogg")), "22050 2 64000");
    auto audio = Decode(dir_, Out("s22.ogg"));
    EXPECT_EQ(audio.samples.size(), 2u * 33075);

    // Custom: resampled to 44100 Hz and mixed to mono, the resampler's tail kept.
    ASSERT_EQ(Cli("ogg", {"-s", "AutoDestOGGEncodingParam=0", "-s", "OGGChannels=1", s22}).exitCode, 0);
    audio = Decode(dir_, Out("s22.ogg"));
    EXPECT_EQ(audio.rate, 44100);
    EXPECT_EQ(audio.channels, 1);
    EXPECT_NEAR(static_cast<double>(audio.samples.size()), 66150, 100);
    EXPECT_GT(Peak(audio), 8000);

    // A source without frames still gives a valid, empty Ogg Vorbis file.
    ASSERT_EQ(Cli("ogg", {Sine("empty.wav", 44100, 2, 0.0)}).exitCode, 0);
    EXPECT_EQ(Probe(Out("empty.ogg")), "44100 2 128000");
    EXPECT_EQ(Decode(dir_, Out("empty.ogg")).samples.size(), 0u);
}

TEST_F(MpOgg, OggCommentsFromOptionsAndFromTheSource) {
    const std::string src = Sine("piece.wav", 44100, 2, 0.5);
    const std::string noisy = "Na\x01me " + std::string(6000, 'z');
    ASSERT_EQ(Cli("ogg", {"-s", "OGGID3TagType=0", "-s", "OGGTag.Artist=Ärtist ✓", "-s", "OGGTag.Album=" + noisy, "-s",
                          "OGGTag.TrackNumType=2", "-s", "OGGTag.CustomTrackNum=5", src})
                  .exitCode,
              0);
    {
        TagLib::Ogg::Vorbis::File file(Out("piece.ogg").c_str());
        ASSERT_TRUE(file.isValid());
        const auto& fields = file.tag()->fieldListMap();
        EXPECT_EQ(fields["TITLE"].toString().to8Bit(true), "piece");
        EXPECT_EQ(fields["ARTIST"].toString().to8Bit(true), "Ärtist ✓");
        EXPECT_EQ(fields["TRACKNUMBER"].toString().to8Bit(true), "5");
        EXPECT_FALSE(fields.contains("COMPOSER"));
        EXPECT_EQ(fields["ALBUM"].toString().to8Bit(true), "Name " + std::string(6000, 'z'));  // cleaned, whole
    }
    // Tag type 1 from an Ogg source: the comments travel to the ID3v2 tag of an MP3.
    const std::string ogg = dir_ / "piece.ogg";
    fs::rename(Out("piece.ogg"), ogg);
    ASSERT_EQ(Cli("mp3", {ogg}).exitCode, 0);
    TagLib::MPEG::File mp3(Out("piece.mp3").c_str());
    ASSERT_NE(mp3.ID3v2Tag(), nullptr);
    EXPECT_EQ(mp3.ID3v2Tag()->artist().to8Bit(true), "Ärtist ✓");
    EXPECT_EQ(mp3.ID3v2Tag()->track(), 5u);

    // An MP4-family source is read through its metadata reader.
    const std::string m4a = dir_ / "tune.m4a";
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-i", src, "-c:a", "aac", "-metadata", "artist=Mp4 Ärtist",
                         "-metadata", "composer=Writer", "-metadata", "track=4", m4a})
                  .exitCode,
              0);
    ASSERT_EQ(Cli("ogg", {m4a}).exitCode, 0);
    TagLib::Ogg::Vorbis::File fromMp4(Out("tune.ogg").c_str());
    ASSERT_TRUE(fromMp4.isValid());
    const auto& mp4Fields = fromMp4.tag()->fieldListMap();
    EXPECT_EQ(mp4Fields["ARTIST"].toString().to8Bit(true), "Mp4 Ärtist");
    EXPECT_EQ(mp4Fields["COMPOSER"].toString().to8Bit(true), "Writer");
    EXPECT_EQ(mp4Fields["TRACKNUMBER"].toString().to8Bit(true), "4");

    // Any other tag type writes no comments.
    ASSERT_EQ(Cli("ogg", {"-s", "OGGID3TagType=2", "-s", "OGGTag.Artist=X", src}).exitCode, 0);
    TagLib::Ogg::Vorbis::File none(Out("piece.ogg").c_str());
    ASSERT_TRUE(none.isValid());
    EXPECT_TRUE(none.tag()->fieldListMap().isEmpty());
}

// A source comment over several lines travels whole to Ogg and to MP3; no line of it lands in another field.
TEST_F(MpOgg, MultiLineSourceCommentStaysWhole) {
    const std::string comment = "line one\nline two\nline three";
    const std::string flac = dir_ / "lines.flac";
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-i", Sine("lines.wav", 44100, 2, 0.5), "-c:a", "flac",
                         "-metadata", "title=Lines", "-metadata", "comment=" + comment, flac})
                  .exitCode,
              0);
    ASSERT_EQ(Cli("ogg", {flac}).exitCode, 0);
    TagLib::Ogg::Vorbis::File ogg(Out("lines.ogg").c_str());
    ASSERT_TRUE(ogg.isValid());
    const auto& fields = ogg.tag()->fieldListMap();
    EXPECT_EQ(fields["TITLE"].toString().to8Bit(true), "Lines");
    EXPECT_EQ(fields["COMMENT"].toString().to8Bit(true), comment);
    EXPECT_FALSE(fields.contains("COMPOSER"));
    EXPECT_FALSE(fields.contains("COPYRIGHT"));

    ASSERT_EQ(Cli("mp3", {flac}).exitCode, 0);
    TagLib::MPEG::File mp3(Out("lines.mp3").c_str());
    ASSERT_NE(mp3.ID3v2Tag(), nullptr);
    EXPECT_EQ(mp3.ID3v2Tag()->comment().to8Bit(true), comment);
    EXPECT_TRUE(mp3.ID3v2Tag()->frameListMap()["TCOM"].isEmpty());
    EXPECT_TRUE(mp3.ID3v2Tag()->frameListMap()["TCOP"].isEmpty());
}

// Progress that asks for Cancel after a number of pumps.
class CancellingProgress : public NullProgress {
public:
    explicit CancellingProgress(int pumps) : left_(pumps) {}
    void Pump() override { --left_; }
    bool CancelRequested() const override { return left_ <= 0; }

private:
    int left_;
};

TEST(ConvertMp3Ogg, CancelDeletesThePartialFile) {
    TempDir dir;
    const std::string src = dir / "long.wav";
    test::WriteSineWav(src, 44100, 2, 3.0);
    ConvertSettings settings;
    for (const auto& [format, name] : {std::pair{kOutputMp3, "x.mp3"}, std::pair{kOutputOgg, "x.ogg"}}) {
        settings.OutputFormat = format;
        CancellingProgress progress(5);
        ConvertContext cancelled{settings, progress, {}, 1};
        EXPECT_EQ(ConvertFile(kInputWav, src, dir / name, cancelled), 0);
        EXPECT_FALSE(fs::exists(dir / name)) << name;
        NullProgress whole;
        ConvertContext complete{settings, whole, {}, 1};
        EXPECT_EQ(ConvertFile(kInputWav, src, dir / name, complete), 1);
        EXPECT_TRUE(fs::exists(dir / name)) << name;
    }
}

}  // namespace
}  // namespace pelloran
