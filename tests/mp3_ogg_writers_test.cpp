#include <gtest/gtest.h>
#include <lame/lame.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <cmath>
#include <optional>

#include "encode/Id3Tag.h"
#include "encode/Mp3Writer.h"
#include "encode/OggWriter.h"
#include "platform/Id3v2Header.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using test::ReadBytes;
using test::TempDir;

std::string FfprobeField(const std::string& path, const std::string& entries) {
    return test::Run({"ffprobe", "-v", "error", "-show_entries", entries, "-of", "default=noprint_wrappers=1", path})
        .out;
}

// Feeds frames of a 440/660 Hz sine to a writer.
void EncodeSine(AudioWriter& w, int rate, int frames, bool stereo) {
    std::vector<int16_t> left(1152), right(1152);
    for (int done = 0; done < frames;) {
        const int n = std::min(1152, frames - done);
        for (int i = 0; i < n; ++i) {
            const double t = static_cast<double>(done + i) / rate;
            left[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440 * t));
            right[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 660 * t));
        }
        ASSERT_TRUE(test::WriteSixteen(w, left.data(), stereo ? right.data() : nullptr, n));
        done += n;
    }
}

TagRecord Tags(std::string title, std::string artist, std::string comment, std::string composer,
               std::string copyright, std::string track) {
    TagRecord t;
    t.Title = std::move(title);
    t.Artist = std::move(artist);
    t.Album = "Album";
    t.Year = "1999";
    t.Comment = std::move(comment);
    t.Genre = "Progressive Rock";
    t.Composer = std::move(composer);
    t.Copyright = std::move(copyright);
    t.Track = std::move(track);
    return t;
}

// A short MP3 with the tags rendered as ID3v2 (stream readers want audio after the tag).
void WriteTaggedMp3(const std::string& path, const TagRecord& tags) {
    Mp3Options options;
    options.id3v2 = true;
    Mp3Writer w(options);
    ASSERT_TRUE(w.Open(path, {8000, 1, 16}, tags));
    EncodeSine(w, 8000, 1600, false);
    ASSERT_TRUE(w.Finish());
}

TEST(Mp3Writer, OptionsReachTheStream) {
    TempDir dir;
    struct Case {
        Mp3Mode mode;
        int kbps;
        int rate;
        const char* probe;
    };
    for (const Case& c : {Case{Mp3Mode::Stereo, 400, 44100, "channels=2\nbit_rate=320000\n"},  // clamped
                          Case{Mp3Mode::Mono, 3, 8000, "channels=1\nbit_rate=8000\n"}}) {  // the encoder mixes
        Mp3Options options;
        options.mode = c.mode;
        options.bitrateKbps = c.kbps;
        options.outputRate = c.rate;
        Mp3Writer w(options);
        ASSERT_TRUE(w.Open(dir / "a.mp3", {c.rate, 2, 16}, {}));
        EncodeSine(w, c.rate, c.rate, true);
        ASSERT_TRUE(w.Finish());
        EXPECT_EQ(FfprobeField(dir / "a.mp3", "stream=bit_rate,channels"), c.probe);
    }
}

TEST(Mp3Writer, TagBlocksFrameConstantBitRateAudio) {
    TempDir dir;
    const std::string path = dir / "t.mp3";
    const std::vector<uint8_t> v2 = BuildId3Tag(2, Tags("T", "A", "", "", "", ""));
    std::vector<uint8_t> v1(128, 0);
    v1[0] = 'T', v1[1] = 'A', v1[2] = 'G', v1[127] = 17;
    {
        Mp3Options options;
        options.rawId3v1 = v1;
        options.rawId3v2 = v2;
        options.outputRate = 44100;
        options.bitrateKbps = 128;
        Mp3Writer w(options);
        ASSERT_TRUE(w.Open(path, {44100, 2, 16}, {}));
        EncodeSine(w, 44100, 44100, true);
        ASSERT_TRUE(w.Finish());
        EXPECT_TRUE(w.Finish());  // already complete
    }
    const auto bytes = ReadBytes(path);
    ASSERT_GT(bytes.size(), v2.size() + 128);
    EXPECT_TRUE(std::equal(v2.begin(), v2.end(), bytes.begin()));
    EXPECT_TRUE(std::equal(v1.begin(), v1.end(), bytes.end() - 128));
    // The first audio frame follows the tag: MPEG-1 layer III at 128 kbit/s, no VBR information frame.
    const size_t at = v2.size();
    EXPECT_EQ(bytes[at], 0xFF);
    EXPECT_EQ(bytes[at + 2] >> 4, 9);
    const std::string head(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 200);
    EXPECT_EQ(head.find("Xing"), std::string::npos);
    EXPECT_EQ(head.find("Info"), std::string::npos);

    EXPECT_EQ(FfprobeField(path, "stream=codec_name,sample_rate,channels,bit_rate"),
              "codec_name=mp3\nsample_rate=44100\nchannels=2\nbit_rate=128000\n");
    ASSERT_EQ(test::Run({"mpg123", "-q", "-w", dir / "dec.wav", path}).exitCode, 0);
    const auto audio = test::DecodeWithSndfile(dir / "dec.wav");
    EXPECT_EQ(audio.channels, 2);
    EXPECT_NEAR(static_cast<double>(audio.samples.size()) / 2, 44100, 2 * 1152 + 576);  // encoder delay
}

// Low constant bit rates leave LAME no room for its tag; ours states the exact length instead, as three
// independent decoders read it.
TEST(Mp3Writer, LowBitRatesStillStateTheExactLength) {
    TempDir dir;
    struct Case {
        int rate, channels, kbps;
    };
    for (const Case& c : {Case{8000, 1, 8}, Case{11025, 1, 16}, Case{16000, 1, 24}, Case{22050, 1, 48},
                          Case{24000, 2, 32}, Case{44100, 2, 32}}) {
        SCOPED_TRACE(std::to_string(c.rate) + "/" + std::to_string(c.channels));
        const std::string path = dir / "low.mp3";
        Mp3Options options;
        options.outputRate = c.rate;
        options.bitrateKbps = c.kbps;
        options.infoFrame = true;
        options.mode = c.channels == 1 ? Mp3Mode::Mono : Mp3Mode::JointStereo;
        Mp3Writer w(options);
        ASSERT_TRUE(w.Open(path, {c.rate, c.channels, 16}, {}));
        const int frames = c.rate * 3 / 2 + 77;  // not a whole number of MPEG frames
        EncodeSine(w, c.rate, frames, c.channels == 2);
        ASSERT_TRUE(w.Finish());
        const auto ffmpeg = test::Run({"ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-"});
        EXPECT_EQ(ffmpeg.out.size(), static_cast<size_t>(frames) * 2 * c.channels);
        ASSERT_EQ(test::Run({"mpg123", "-q", "-w", dir / "m.wav", path}).exitCode, 0);
        EXPECT_EQ(test::DecodeWithSndfile(dir / "m.wav").samples.size(), static_cast<size_t>(frames) * c.channels);
        ASSERT_EQ(test::Run({"lame", "--quiet", "--decode", path, dir / "l.wav"}).exitCode, 0);
        EXPECT_EQ(test::DecodeWithSndfile(dir / "l.wav").samples.size(), static_cast<size_t>(frames) * c.channels);
    }
}

TEST(Mp3Writer, FailuresAreReported) {
    Mp3Writer w;
    EXPECT_FALSE(w.Open("/nonexistent-folder/x.mp3", {44100, 2, 16}, {}));
    const int16_t s[4] = {};
    EXPECT_FALSE(test::WriteSixteen(w, s, s, 4));

    ASSERT_TRUE(w.Open("/dev/full", {44100, 2, 16}, {}));
    std::vector<int16_t> block(1152, 1000);
    bool ok = true;
    for (int i = 0; i < 200 && ok; ++i) ok = test::WriteSixteen(w, block.data(), block.data(), 1152);
    EXPECT_FALSE(ok && w.Finish());
}

TEST(Id3Tag, Version2FramesReadBackByTwoReaders) {
    TempDir dir;
    const std::string path = dir / "v2.mp3";
    WriteTaggedMp3(path, Tags("Zoë's Song", "Ärtist ✓ 𝄞", "", "", "", "7"));
    TagLib::MPEG::File file(path.c_str());
    TagLib::ID3v2::Tag* v2 = file.ID3v2Tag();
    ASSERT_NE(v2, nullptr);
    EXPECT_EQ(v2->title().to8Bit(true), "Zoë's Song");
    EXPECT_EQ(v2->artist().to8Bit(true), "Ärtist ✓ 𝄞");
    EXPECT_EQ(v2->year(), 1999u);
    EXPECT_EQ(v2->genre().to8Bit(true), "Progressive Rock");
    auto frames = v2->frameListMap();
    ASSERT_FALSE(frames["TRCK"].isEmpty());
    EXPECT_EQ(frames["TRCK"].front()->toString().to8Bit(true), "7");
    EXPECT_TRUE(frames["TCOM"].isEmpty());   // empty composer and copyright add no frame
    EXPECT_TRUE(frames["TCOP"].isEmpty());
    EXPECT_TRUE(frames["COMM"].isEmpty());  // nor does an empty comment nobody gave

    const std::string typed = dir / "typed.mp3";
    TagRecord given = Tags("T", "A", "", "", "", "1");
    given.commentGiven = true;  // the user typed an empty comment: it stays
    WriteTaggedMp3(typed, given);
    TagLib::MPEG::File third(typed.c_str());
    EXPECT_FALSE(third.ID3v2Tag()->frameListMap()["COMM"].isEmpty());

    const std::string other = dir / "c.mp3";
    WriteTaggedMp3(other, Tags("T", "A", "héllo wörld", "J. S. Bach", "(c) Ünion", "0"));
    TagLib::MPEG::File second(other.c_str());
    frames = second.ID3v2Tag()->frameListMap();
    EXPECT_TRUE(frames["TRCK"].isEmpty());  // track 0
    ASSERT_FALSE(frames["TCOP"].isEmpty());
    EXPECT_EQ(frames["TCOP"].front()->toString().to8Bit(true), "(c) Ünion");
    EXPECT_EQ(second.ID3v2Tag()->comment().to8Bit(true), "héllo wörld");
    // ffmpeg insists on a byte-order mark for every UTF-16 string, the empty description included.
    const auto r = test::Run({"ffprobe", "-v", "error", "-show_entries", "format_tags=comment,composer", "-of",
                              "default=noprint_wrappers=1", other});
    EXPECT_EQ(r.out, "TAG:comment=héllo wörld\nTAG:composer=J. S. Bach\n") << r.err;
}

TEST(Id3Tag, Version1IsLatin1WithGenreIndexAndBoundedTexts) {
    TagRecord t{"Café", "Ünïcödé ✓", "Album", "2001", "ROCK", "note", "7", "", "", {}, {}};
    const auto rock = BuildId3Tag(1, t);
    ASSERT_EQ(rock.size(), 128u);
    EXPECT_EQ(std::string(rock.begin(), rock.begin() + 8), std::string("TAGCaf\xE9\0", 8));
    EXPECT_EQ(std::string(rock.begin() + 33, rock.begin() + 42), "\xDCn\xEF" "c\xF6" "d\xE9 ?");
    EXPECT_EQ(std::string(rock.begin() + 93, rock.begin() + 97), "2001");
    EXPECT_EQ(rock[126], 7);  // ID3v1.1 track byte
    EXPECT_EQ(rock[127], 17);
    TagRecord genre;
    genre.Genre = "AlternRock";
    EXPECT_EQ(BuildId3Tag(1, genre).at(127), 12);
    genre.Genre = "hip-hop";
    EXPECT_EQ(BuildId3Tag(1, genre).at(127), 7);

    const std::string longText(100000, 'x');
    const std::string broken = "bad \xC3\x28 \xFF\xFE end";
    const TagRecord huge{longText, broken, longText, longText, longText, longText, "255", "", "", {}, {}};
    const auto v1 = BuildId3Tag(1, huge);
    ASSERT_EQ(v1.size(), 128u);
    EXPECT_EQ(std::string(v1.begin() + 3, v1.begin() + 33), std::string(30, 'x'));
    const auto v2 = BuildId3Tag(2, TagRecord{longText, broken, "", "", "", "", "1", "", "", {}, {}});
    EXPECT_EQ(Id3v2BlockSize(v2.data(), v2.size()), v2.size());
    EXPECT_GT(v2.size(), longText.size());
}

TEST(Id3Tag, RawBlockHeaderChecks) {
    std::vector<uint8_t> block = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    block.resize(30, 0);
    EXPECT_EQ(Id3v2BlockSize(block.data(), block.size()), 30u);
    EXPECT_EQ(Id3v2BlockSize(block.data(), 29), 0u);  // claims more than there is
    block[8] = 0x80;                                   // not synchsafe
    EXPECT_EQ(Id3v2BlockSize(block.data(), block.size()), 0u);
    block[8] = 0;
    block[3] = 5;
    EXPECT_EQ(Id3v2BlockSize(block.data(), block.size()), 0u);
    block[3] = 4;
    block[5] = 0x10;  // a v2.4 footer adds ten bytes
    EXPECT_EQ(Id3v2BlockSize(block.data(), block.size()), 0u);
    block.resize(40, 0);
    EXPECT_EQ(Id3v2BlockSize(block.data(), block.size()), 40u);
}

TEST(Id3Tag, Id3v2HeaderTable) {
    struct Case {
        const char* what;
        std::vector<uint8_t> header;
        size_t available;   // bytes the tag may take
        bool valid;
        uint32_t body;
        bool footer;
        size_t blockSize;   // Id3v2BlockSize: 0 when invalid or beyond the data
    };
    const Case cases[] = {
        {"v2.3", {'I', 'D', '3', 3, 0, 0, 0, 0, 0x01, 0x02}, 140, true, 130, false, 140},
        {"v2.4 with footer", {'I', 'D', '3', 4, 0, 0x10, 0, 0, 0x01, 0x02}, 150, true, 130, true, 150},
        {"footer beyond the data", {'I', 'D', '3', 4, 0, 0x10, 0, 0, 0x01, 0x02}, 149, true, 130, true, 0},
        {"size beyond the data", {'I', 'D', '3', 3, 0, 0, 0, 0, 0x01, 0x02}, 139, true, 130, false, 0},
        {"footer flag on v2.3", {'I', 'D', '3', 3, 0, 0x10, 0, 0, 0x01, 0x02}, 140, true, 130, false, 140},
        {"largest size", {'I', 'D', '3', 2, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}, 100, true, (1u << 28) - 1, false, 0},
        {"bad synchsafe byte", {'I', 'D', '3', 3, 0, 0, 0, 0, 0x81, 0x02}, 1000, false, 0, false, 0},
        {"version 5", {'I', 'D', '3', 5, 0, 0, 0, 0, 0, 0}, 10, false, 0, false, 0},
        {"revision 0xFF", {'I', 'D', '3', 3, 0xFF, 0, 0, 0, 0, 0}, 10, false, 0, false, 0},
        {"not ID3", {'I', 'D', '2', 3, 0, 0, 0, 0, 0, 0}, 10, false, 0, false, 0},
        {"short header", {'I', 'D', '3', 3, 0, 0, 0, 0, 0}, 9, false, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Only the header is real memory: the parser must not look past it.
        const std::optional<Id3v2Header> header = ParseId3v2Header(c.header.data(), c.header.size());
        ASSERT_EQ(header.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(header->bodySize, c.body);
            EXPECT_EQ(header->footer, c.footer);
            EXPECT_EQ(header->totalSize(), 10 + c.body + (c.footer ? 10u : 0u));
        }
        std::vector<uint8_t> block = c.header;
        block.resize(c.available, 0);
        EXPECT_EQ(Id3v2BlockSize(block.data(), block.size()), c.blockSize);
    }
}

struct OggPage {
    uint8_t flags = 0;
    int64_t granule = 0;
};

// The pages of an Ogg file by their headers; empty when a page is cut short.
std::vector<OggPage> Pages(const std::vector<uint8_t>& b) {
    std::vector<OggPage> pages;
    size_t at = 0;
    while (at + 27 <= b.size() && std::equal(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4,
                                              "OggS")) {
        OggPage page{b[at + 5], 0};
        for (int k = 7; k >= 0; --k) page.granule = (page.granule << 8) | b[at + 6 + static_cast<size_t>(k)];
        const size_t segments = b[at + 26];
        size_t body = 0;
        for (size_t s = 0; s < segments && at + 27 + s < b.size(); ++s) body += b[at + 27 + s];
        at += 27 + segments + body;
        pages.push_back(page);
    }
    return at == b.size() ? pages : std::vector<OggPage>{};
}

// oggdec trims the last page to its granule position exactly.
test::SndfileAudio OggDecode(const TempDir& dir, const std::string& path) {
    test::Run({"oggdec", "-Q", "-o", dir / "dec.wav", path});
    return test::DecodeWithSndfile(dir / "dec.wav");
}

void WriteOgg(const std::string& path, int rate, bool stereo, int frames) {
    OggWriter w(OggOptions{stereo ? 128000 : 48000});
    ASSERT_TRUE(w.Open(path, {rate, stereo ? 2 : 1, 16}, {}));
    EncodeSine(w, rate, frames, stereo);
    ASSERT_TRUE(w.Finish());
    ASSERT_TRUE(w.Finish());  // a second finish changes nothing
}

TEST(OggWriter, StreamsKeepEveryFrame) {
    TempDir dir;
    WriteOgg(dir / "s.ogg", 44100, true, 44100 + 321);
    const auto pages = Pages(ReadBytes(dir / "s.ogg"));
    ASSERT_GE(pages.size(), 3u);
    EXPECT_EQ(pages.front().flags, 0x02);  // the identification header alone on the first page
    EXPECT_EQ(pages.back().flags & 0x04, 0x04);
    EXPECT_EQ(pages.back().granule, 44100 + 321);
    auto audio = OggDecode(dir, dir / "s.ogg");
    EXPECT_EQ(audio.rate, 44100);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_EQ(audio.samples.size(), 2u * (44100 + 321));
    EXPECT_EQ(FfprobeField(dir / "s.ogg", "stream=codec_name,bit_rate"), "codec_name=vorbis\nbit_rate=128000\n");

    WriteOgg(dir / "m.ogg", 22050, false, 5000);  // mono: the right buffer is never read
    audio = OggDecode(dir, dir / "m.ogg");
    EXPECT_EQ(audio.channels, 1);
    EXPECT_EQ(audio.samples.size(), 5000u);

    WriteOgg(dir / "z.ogg", 44100, true, 0);  // no audio: headers and an end-of-stream page
    const auto empty = Pages(ReadBytes(dir / "z.ogg"));
    ASSERT_GE(empty.size(), 3u);
    EXPECT_EQ(empty.back().flags & 0x04, 0x04);
    EXPECT_EQ(FfprobeField(dir / "z.ogg", "stream=codec_name,channels"), "codec_name=vorbis\nchannels=2\n");
}

TEST(OggWriter, CommentsSkipEmptyValuesAndNonPositiveTracks) {
    TempDir dir;
    const auto write = [&](const std::string& path, std::string composer, std::string track) {
        OggWriter w(OggOptions{96000});
        const TagRecord tags{"Tïtle", "Ärtist ✓", "Album", "2004", "Jazz", "", track, composer, "(c) me", {}, {}};
        ASSERT_TRUE(w.Open(path, {44100, 2, 16}, tags));
        ASSERT_TRUE(w.Finish());
    };
    write(dir / "a.ogg", "", "0");
    write(dir / "b.ogg", "Bach", "3/12");
    TagLib::Ogg::Vorbis::File a((dir / "a.ogg").c_str());
    ASSERT_TRUE(a.isValid());
    const auto& fa = a.tag()->fieldListMap();
    EXPECT_EQ(fa["TITLE"].toString().to8Bit(true), "Tïtle");
    EXPECT_EQ(fa["ARTIST"].toString().to8Bit(true), "Ärtist ✓");
    EXPECT_EQ(fa["DATE"].toString().to8Bit(true), "2004");
    EXPECT_EQ(fa["COPYRIGHT"].toString().to8Bit(true), "(c) me");
    EXPECT_FALSE(fa.contains("COMMENT"));
    EXPECT_FALSE(fa.contains("COMPOSER"));
    EXPECT_FALSE(fa.contains("TRACKNUMBER"));
    TagLib::Ogg::Vorbis::File b((dir / "b.ogg").c_str());
    const auto& fb = b.tag()->fieldListMap();
    EXPECT_EQ(fb["COMPOSER"].toString().to8Bit(true), "Bach");
    EXPECT_EQ(fb["TRACKNUMBER"].toString().to8Bit(true), "3/12");
}

TEST(OggWriter, RefusalsAndWriteErrors) {
    TempDir dir;
    OggWriter w(OggOptions{480000});
    EXPECT_FALSE(w.Open("/nonexistent-folder/x.ogg", {44100, 2, 16}, {}));
    EXPECT_FALSE(w.Open(dir / "bad.ogg", {8000, 2, 16}, {}));  // no Vorbis mode for this
    EXPECT_FALSE(test::fs::exists(dir / "bad.ogg"));
    EXPECT_FALSE(w.Open(dir / "bad.ogg", {44100, 9, 16}, {}));  // no such format

    OggWriter full;
    bool ok = full.Open("/dev/full", {44100, 2, 16}, {});  // the headers may fail already
    std::vector<int16_t> block(1152, 500);
    for (int i = 0; i < 200 && ok; ++i) ok = test::WriteSixteen(full, block.data(), block.data(), 1152);
    EXPECT_FALSE(ok && full.Finish());
}

}  // namespace
}  // namespace pelloran
