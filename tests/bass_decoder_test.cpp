#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "decode/BassDecoder.h"
#include "decode/CdSource.h"
#include "decode/MidiSource.h"
#include "platform/File.h"
#include "platform/SoundFont.h"
#include "tests/bass_fixtures.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using test::EncodeTone;

struct Decoded {
    std::vector<int16_t> samples;  // interleaved output channels
    int maxFrames = 0;
};

// Reads to the end; gives up after `limit` reads so a stream that never ends fails the test, not the run.
Decoded DecodeAll(AudioDecoder& decoder, int limit = 1 << 20) {
    Decoded out;
    std::vector<int32_t> planes[kMaxChannels];
    int32_t* pointers[kMaxChannels] = {};
    for (int c = 0; c < kMaxChannels; ++c) {
        planes[c].resize(kBlockFrames);
        pointers[c] = planes[c].data();
    }
    const PcmFormat format = decoder.Format();
    for (int reads = 0; reads < limit; ++reads) {
        const int frames = decoder.Read(pointers);
        if (frames <= 0) return out;
        out.maxFrames = std::max(out.maxFrames, frames);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < format.channels; ++c)
                out.samples.push_back(static_cast<int16_t>(planes[c][static_cast<size_t>(i)] >> (format.bits - 16)));
    }
    ADD_FAILURE() << "stream did not end";
    return out;
}

double Rms(const std::vector<int16_t>& samples) {
    double sum = 0;
    for (int16_t s : samples) sum += static_cast<double>(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / samples.size());
}

// Offset of the first byte after an ID3v2 tag at the start of the bytes.
size_t AfterId3v2(const std::vector<uint8_t>& b) {
    if (b.size() < 10 || std::memcmp(b.data(), "ID3", 3) != 0) return 0;
    return 10 + ((b[6] << 21) | (b[7] << 14) | (b[8] << 7) | b[9]);
}

class BassDecoderFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveTool("ffmpeg") || !test::HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg is needed";
    }
    test::TempDir dir;
};

TEST_F(BassDecoderFiles, EachFormatDecodesLikeFfmpeg) {
    struct Case {
        const char* file;
        std::vector<std::string> codec;
        int rate, channels;
        int tolerance;  // largest sample difference from ffmpeg's own decode
    };
    const Case cases[] = {
        {"a.mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}, 44100, 2, 1},
        {"a.flac", {"-c:a", "flac"}, 48000, 2, 0},
        {"a.wv", {"-c:a", "wavpack"}, 44100, 2, 0},
        {"a.tta", {"-c:a", "tta"}, 44100, 2, 0},
        {"alac.m4a", {"-c:a", "alac"}, 44100, 2, 0},
        {"aac.m4a", {"-c:a", "aac", "-b:a", "128k"}, 44100, 2, 1},
        {"a.aac", {"-c:a", "aac", "-b:a", "64k"}, 32000, 1, 1},
        {"a.wma", {"-c:a", "wmav2", "-b:a", "128k"}, 44100, 2, 1},
        {"a.spx", {"-c:a", "libspeex"}, 16000, 1, 1},
        {"a.adx", {"-c:a", "adpcm_adx"}, 44100, 2, 0},
        {"a.wav", {"-c:a", "pcm_s16le"}, 22050, 2, 0},
        {"float.wav", {"-c:a", "pcm_f32le"}, 44100, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = EncodeTone(dir, c.file, c.rate, c.channels, 2.0, c.codec);
        ASSERT_FALSE(path.empty());
        const test::RawAudio reference = test::FfmpegDecode(path, dir / "ref.raw");
        ASSERT_EQ(reference.channels, c.channels);

        BassDecoder decoder;
        ASSERT_EQ(decoder.Open(path, 0), 1);
        EXPECT_EQ(decoder.GetSampleRate(), c.rate);
        EXPECT_EQ(decoder.GetChannels(), c.channels);
        EXPECT_EQ(decoder.Format().channels, c.channels);
        // Float sources are read at 32 bits, the others at 16.
        EXPECT_EQ(decoder.Format().bits, std::string(c.file) == "float.wav" ? 32 : 16);
        EXPECT_GE(decoder.GetDurationSeconds(), 1);
        EXPECT_LE(decoder.GetDurationSeconds(), 2);
        EXPECT_GT(decoder.GetBitrateKbps(), 0);
        // The length is for progress: close to the decoded size.
        const double expectedBytes = 2.0 * c.rate * c.channels * 2;
        EXPECT_NEAR(static_cast<double>(decoder.GetLength()), expectedBytes, expectedBytes * 0.1);

        const Decoded decoded = DecodeAll(decoder);
        ASSERT_EQ(decoded.samples.size(), reference.samples.size());
        int worst = 0;
        for (size_t i = 0; i < decoded.samples.size(); ++i) {
            worst = std::max(worst, std::abs(decoded.samples[i] - reference.samples[i]));
        }
        EXPECT_LE(worst, c.tolerance);
        EXPECT_EQ(decoder.GetPosition(), decoded.samples.size() * 2);
        EXPECT_EQ(test::ReadSixteen(decoder, nullptr, nullptr), 0);  // stays at the end
    }
}

TEST_F(BassDecoderFiles, UnsignedEightBitSourcesStayEightBit) {
    const std::string path = EncodeTone(dir, "u8.wav", 11025, 2, 1.0, {"-c:a", "pcm_u8"});
    const std::vector<uint8_t> file = test::ReadBytes(path);
    BassDecoder decoder;
    ASSERT_EQ(decoder.Open(path, 0), 1);
    EXPECT_EQ(decoder.Format().bits, 8);
    EXPECT_EQ(decoder.GetBitrateKbps(), static_cast<int>(std::floor(file.size() / 125.0 + 0.5)));
    std::vector<uint8_t> left(kBlockFrames), right(kBlockFrames), all;
    for (int n; (n = test::ReadEight(decoder, left.data(), right.data())) > 0;) {
        for (int i = 0; i < n; ++i) all.insert(all.end(), {left[i], right[i]});
    }
    ASSERT_EQ(all.size(), 11025u * 2);
    EXPECT_TRUE(std::equal(all.begin(), all.end(), file.end() - static_cast<std::ptrdiff_t>(all.size())));
}

TEST_F(BassDecoderFiles, ChannelModeComesFromTheFirstAudioFrame) {
    // Joint stereo, read past the encoder's "Info" frame (whose header says plain stereo).
    const std::string stereo = EncodeTone(dir, "cbr.mp3", 44100, 2, 4.0, {"-c:a", "libmp3lame", "-b:a", "160k"});
    BassDecoder decoder;
    ASSERT_EQ(decoder.Open(stereo, 0), 1);
    EXPECT_EQ(decoder.GetStreamKind(), BassDecoder::kMp3Stream);
    EXPECT_EQ(decoder.GetChannelMode(), 1);
    EXPECT_NEAR(decoder.GetBitrateKbps(), 160, 8);  // from the file size and the length

    const std::string mono = EncodeTone(dir, "mono.mp3", 44100, 1, 1.0,
                                        {"-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0", "-metadata",
                                         "title=mono"});
    std::vector<uint8_t> bytes = test::ReadBytes(mono);
    const size_t at = AfterId3v2(bytes);
    ASSERT_GT(at, 10u);  // the header follows an ID3v2 tag, which must be skipped
    ASSERT_EQ(bytes[at], 0xFF);
    ASSERT_EQ(bytes[at + 1], 0xFB);
    ASSERT_EQ(bytes[at + 2], 0x90);
    bytes[at + 3] = 0xC4;  // single channel, original
    test::WriteBytes(mono, bytes);
    ASSERT_EQ(decoder.Open(mono, 0), 1);
    EXPECT_EQ(decoder.GetChannelMode(), 3);
    EXPECT_EQ(decoder.GetChannels(), 1);

    // The same first frame with bit-rate index 0 (free format) is no valid header.
    bytes[at + 2] = 0x00;
    test::WriteBytes(dir / "free.mp3", bytes);
    ASSERT_EQ(decoder.Open(dir / "free.mp3", 0), 1);
    EXPECT_EQ(decoder.GetChannelMode(), 4);

    // Only files named .mp3 are peeked at.
    bytes[at + 2] = 0x90;
    test::WriteBytes(dir / "mono.bin", bytes);
    ASSERT_EQ(decoder.Open(dir / "mono.bin", 0), 1);
    EXPECT_EQ(decoder.GetStreamKind(), BassDecoder::kOtherStream);
    EXPECT_EQ(decoder.GetChannelMode(), 4);
}

TEST_F(BassDecoderFiles, SixChannelFlacDeliversEveryChannel) {
    const std::string path = EncodeTone(dir, "six.flac", 44100, 6, 1.0, {"-c:a", "flac"});
    const test::RawAudio reference = test::FfmpegDecode(path, dir / "ref.raw");
    ASSERT_EQ(reference.channels, 6);
    BassDecoder decoder;
    ASSERT_EQ(decoder.Open(path, 0), 1);
    EXPECT_EQ(decoder.GetChannels(), 6);
    EXPECT_EQ(decoder.Format().channels, 6);
    const Decoded decoded = DecodeAll(decoder);
    EXPECT_EQ(decoded.maxFrames, kBlockFrames);
    EXPECT_EQ(decoded.samples, reference.samples);
}

TEST_F(BassDecoderFiles, Id3BlocksAreCopiesOfTheFileBytes) {
    const std::string path = EncodeTone(dir, "tagged.mp3", 44100, 2, 1.0,
                                        {"-c:a", "libmp3lame", "-id3v2_version", "3", "-write_id3v1", "1",
                                         "-metadata", "title=Blocks"});
    const std::vector<uint8_t> file = test::ReadBytes(path);
    BassDecoder decoder;
    ASSERT_EQ(decoder.Open(path, 0), 1);
    const uint8_t* v1 = decoder.GetId3v1Block();
    ASSERT_NE(v1, nullptr);
    EXPECT_EQ(std::memcmp(v1, file.data() + file.size() - 128, 128), 0);
    EXPECT_EQ(decoder.GetId3v1Block(), v1);  // the same copy again
    int size = 0;
    const uint8_t* v2 = decoder.GetId3v2Block(size);
    ASSERT_NE(v2, nullptr);
    EXPECT_EQ(static_cast<size_t>(size), AfterId3v2(file));
    EXPECT_EQ(std::memcmp(v2, file.data(), static_cast<size_t>(size)), 0);
    EXPECT_EQ(decoder.GetId3v2Block(size), v2);

    // Other kinds never hand out blocks.
    ASSERT_EQ(decoder.Open(EncodeTone(dir, "a.flac", 44100, 2, 1.0, {"-c:a", "flac"}), 0), 1);
    EXPECT_EQ(decoder.GetId3v1Block(), nullptr);
    EXPECT_EQ(decoder.GetId3v2Block(size), nullptr);
    EXPECT_EQ(size, 0);
}

TEST_F(BassDecoderFiles, TagsWrittenByFfmpegComeBack) {
    const std::vector<std::string> metadata = {
        "-metadata", "title=Caf\xC3\xA9 Song", "-metadata", "artist=Ana",  "-metadata", "album=First",
        "-metadata", "genre=Rock",             "-metadata", "date=2001",   "-metadata", "comment=Nice\nand long",
        "-metadata", "track=3",                "-metadata", "composer=Bo", "-metadata", "copyright=2001 Ana"};
    for (const char* name : {"t.mp3", "t.flac", "t.wv"}) {
        SCOPED_TRACE(name);
        std::vector<std::string> codec = metadata;
        if (std::string(name) == "t.mp3") codec.insert(codec.end(), {"-id3v2_version", "3"});
        BassDecoder decoder;
        ASSERT_EQ(decoder.Open(EncodeTone(dir, name, 44100, 2, 1.0, codec), 0), 1);
        TagRecord tags;
        ASSERT_EQ(decoder.ReadTags(tags), 1);
        EXPECT_EQ(tags.Title, "Caf\xC3\xA9 Song");
        EXPECT_EQ(tags.Artist, "Ana");
        EXPECT_EQ(tags.Album, "First");
        EXPECT_EQ(tags.Genre, "Rock");
        EXPECT_EQ(tags.Year, "2001");
        EXPECT_EQ(tags.Comment, "Nice\nand long");  // whole: a line feed ends no field
        EXPECT_EQ(tags.Track, "3");
        EXPECT_EQ(tags.Composer, "Bo");
        EXPECT_EQ(tags.Copyright, "2001 Ana");
    }
    // A file without tags reports none and leaves the texts alone.
    BassDecoder decoder;
    ASSERT_EQ(decoder.Open(EncodeTone(dir, "bare.flac", 44100, 1, 0.5,
                                      {"-map_metadata", "-1", "-fflags", "+bitexact", "-c:a", "flac"}),
                           0),
              1);
    TagRecord tags;
    tags.Title = "keep";
    EXPECT_EQ(decoder.ReadTags(tags), 0);
    EXPECT_EQ(tags.Title, "keep");
}

TEST(BassDecoderModules, ModuleFallsBackToMusicLoadWithPcmBitRate) {
    test::TempDir dir;
    const std::string path = dir / "tune.mod";
    test::WriteBytes(path, test::MakeModule(false));
    BassDecoder decoder;
    ASSERT_EQ(decoder.Open(path, 0), 1);
    EXPECT_EQ(decoder.GetStreamKind(), BassDecoder::kModuleStream);
    EXPECT_EQ(decoder.GetSampleRate(), 44100);
    EXPECT_EQ(decoder.GetChannels(), 2);
    EXPECT_EQ(decoder.GetBitrateKbps(), 16 * 44100 * 2 / 1000);
    EXPECT_EQ(decoder.GetDurationSeconds(), 1);
    EXPECT_EQ(decoder.GetLength(), 56448u * 4);  // 1.28 s
    TagRecord tags;
    ASSERT_EQ(decoder.ReadTags(tags), 1);
    EXPECT_EQ(tags.Title, "pelloran test");

    const Decoded decoded = DecodeAll(decoder);
    EXPECT_EQ(decoded.samples.size(), 56448u * 2);
    EXPECT_GT(Rms(decoded.samples), 500.0);
    EXPECT_GE(decoder.GetPosition(), decoder.GetLength());

    ASSERT_EQ(decoder.Open(path, 22050), 1);
    EXPECT_EQ(decoder.GetSampleRate(), 22050);
    EXPECT_EQ(DecodeAll(decoder).samples.size(), 28224u * 2);

    // A song that jumps back to its start forever stops at its length.
    test::WriteBytes(path, test::MakeModule(true));
    ASSERT_EQ(decoder.Open(path, 0), 1);
    EXPECT_EQ(decoder.GetLength(), 56448u * 4);
    EXPECT_EQ(DecodeAll(decoder, 10000).samples.size(), 56448u * 2);
}

TEST(BassDecoderMidi, MidiFileRendersAudibleSoundOfItsLength) {
    if (!LoadDefaultSoundFont()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    test::TempDir dir;
    const std::string path = dir / "song.mid";
    test::WriteBytes(path, test::MakeMidiSong());
    BassDecoder decoder;
    ASSERT_EQ(decoder.Open(path, 0), 1);
    EXPECT_EQ(decoder.GetStreamKind(), BassDecoder::kMidiStream);
    EXPECT_EQ(decoder.GetSampleRate(), 44100);
    EXPECT_EQ(decoder.GetChannels(), 2);
    EXPECT_EQ(decoder.GetDurationSeconds(), 1);
    EXPECT_EQ(decoder.GetLength(), 44100u * 4);
    const Decoded decoded = DecodeAll(decoder);
    ASSERT_EQ(decoded.samples.size(), 44100u * 2);
    // Sound in both halves: the first note and the notes after the tempo change.
    EXPECT_GT(Rms({decoded.samples.begin(), decoded.samples.begin() + 44100}), 200.0);
    EXPECT_GT(Rms({decoded.samples.begin() + 44100, decoded.samples.end()}), 200.0);

    ASSERT_EQ(decoder.Open(path, 32000), 1);
    EXPECT_EQ(DecodeAll(decoder).samples.size(), 32000u * 2);

    test::WriteBytes(dir / "fake.mid", test::MakeModule(false));
    EXPECT_EQ(decoder.Open(dir / "fake.mid", 0), 0);
}

// A Windows .cda file naming a track of the disc in the drive (serial, sectors and times are not used).
std::vector<uint8_t> MakeCda(uint16_t track) {
    std::vector<uint8_t> cda;
    test::PutTag(cda, "RIFF");
    test::PutU32LE(cda, 36);
    test::PutTag(cda, "CDDA");
    test::PutTag(cda, "fmt ");
    test::PutU32LE(cda, 24);
    test::PutU16LE(cda, 1);  // version
    test::PutU16LE(cda, track);
    cda.resize(44, 0);
    return cda;
}

// A CUE/BIN image of one audio track of `frames` known frames, and .cda files naming track 1 and track 4.
std::vector<int16_t> WriteCdImage(const test::TempDir& dir, int frames) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    std::vector<uint8_t> bin;
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(8000 * std::sin(static_cast<double>(i) * (i % 2 ? 0.031 : 0.05)));
        test::PutU16LE(bin, static_cast<uint16_t>(samples[i]));
    }
    test::WriteBytes(dir / "disc.bin", bin);
    const std::string cue = "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    test::WriteBytes(dir / "disc.cue", std::vector<uint8_t>(cue.begin(), cue.end()));
    for (uint16_t track : {1, 4}) {
        test::WriteBytes(dir / ("Track" + std::to_string(track) + ".cda"), MakeCda(track));
    }
    return samples;
}

TEST(CdSources, CdaFilesNameATrack) {
    test::TempDir dir;
    const std::vector<uint8_t> cda = MakeCda(7);
    const std::string path = dir / "Track07.cda";
    const auto trackOf = [&](const std::vector<uint8_t>& bytes) {
        test::WriteBytes(path, bytes);
        File file;
        EXPECT_TRUE(file.Open(path, "rb"));
        return ReadCdaTrack(file);
    };
    EXPECT_EQ(trackOf(cda), 7);
    for (size_t n = 0; n < cda.size(); ++n) {
        EXPECT_EQ(trackOf(std::vector<uint8_t>(cda.begin(), cda.begin() + static_cast<std::ptrdiff_t>(n))),
                  std::nullopt)
            << n;
    }
    std::vector<uint8_t> zero = cda;
    zero[22] = 0;  // track 0 does not exist
    EXPECT_EQ(trackOf(zero), std::nullopt);
    std::vector<uint8_t> oversized = cda;
    oversized[16] = 0xFF;  // fmt chunk longer than the file
    EXPECT_EQ(trackOf(oversized), std::nullopt);
}

TEST(BassDecoderCd, TrackIsReadFromTheImageTheCdaNames) {
    test::TempDir dir;
    const int frames = 588 * 150;  // two seconds
    const std::vector<int16_t> expected = WriteCdImage(dir, frames);
    setenv("PELLORAN_CD_DEVICE", (dir / "disc.cue").c_str(), 1);
    BassDecoder decoder;
    ASSERT_EQ(decoder.Open(dir / "Track1.cda", 0), 1);
    EXPECT_EQ(decoder.GetSampleRate(), 44100);
    EXPECT_EQ(decoder.GetChannels(), 2);
    EXPECT_EQ(decoder.GetDurationSeconds(), 2);
    EXPECT_EQ(decoder.GetBitrateKbps(), 1411);
    EXPECT_EQ(decoder.GetLength(), static_cast<uint64_t>(frames) * 4);
    EXPECT_TRUE(DecodeAll(decoder).samples == expected);

    EXPECT_EQ(decoder.Open(dir / "Track4.cda", 0), 0);  // no such track
    setenv("PELLORAN_CD_DEVICE", (dir / "no-drive").c_str(), 1);
    EXPECT_EQ(decoder.Open(dir / "Track1.cda", 0), 0);  // no disc
    unsetenv("PELLORAN_CD_DEVICE");
}

TEST_F(BassDecoderFiles, FormatsLeftToOtherReadersAreRefused) {
    BassDecoder decoder;
    EXPECT_EQ(decoder.Open(EncodeTone(dir, "a.aiff", 44100, 2, 0.5, {"-c:a", "pcm_s16be"}), 0), 0);
    EXPECT_EQ(decoder.Open(EncodeTone(dir, "a.ogg", 44100, 2, 0.5, {"-c:a", "libvorbis"}), 0), 0);
    EXPECT_EQ(decoder.Open(EncodeTone(dir, "b.ogg", 48000, 2, 0.5, {"-c:a", "libopus"}), 0), 0);
}

TEST_F(BassDecoderFiles, UndecodableAudioIsRefusedNotSilent) {
    // A FLAC stream header followed by noise instead of frames.
    std::vector<uint8_t> bytes = test::ReadBytes(EncodeTone(dir, "good.flac", 44100, 2, 1.0, {"-c:a", "flac"}));
    size_t pos = 4;
    for (bool last = false; !last && pos + 4 <= bytes.size();) {
        last = (bytes[pos] & 0x80) != 0;
        pos += 4 + ((bytes[pos + 1] << 16) | (bytes[pos + 2] << 8) | bytes[pos + 3]);
    }
    std::mt19937 random(7);
    for (size_t i = pos; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(random() & 0x7F);
    test::WriteBytes(dir / "noise.flac", bytes);

    // A WAV file of a codec nobody knows (format tag 0x7A7A).
    bytes = test::ReadBytes(EncodeTone(dir, "odd.wav", 44100, 2, 0.5, {"-c:a", "pcm_s16le"}));
    bytes[20] = 0x7A;
    bytes[21] = 0x7A;
    test::WriteBytes(dir / "odd.wav", bytes);

    BassDecoder decoder;
    EXPECT_EQ(decoder.Open(dir / "noise.flac", 0), 0);
    EXPECT_EQ(decoder.Open(dir / "odd.wav", 0), 0);
}

TEST_F(BassDecoderFiles, DamagedFilesNeverCrashOrHang) {
    std::vector<std::string> sources;
    for (const auto& [name, codec] : std::vector<std::pair<std::string, std::string>>{
             {"d.mp3", "libmp3lame"}, {"d.flac", "flac"}, {"d.m4a", "aac"}, {"d.wma", "wmav2"},
             {"d.wv", "wavpack"}, {"d.tta", "tta"}}) {
        sources.push_back(EncodeTone(dir, name, 44100, 2, 1.0, {"-c:a", codec}));
    }
    sources.push_back(EncodeTone(dir, "d.spx", 16000, 1, 1.0, {"-c:a", "libspeex"}));
    test::WriteBytes(dir / "d.mod", test::MakeModule(true));
    test::WriteBytes(dir / "d.mid", test::MakeMidiSong());
    sources.insert(sources.end(), {dir / "d.mod", dir / "d.mid"});
    LoadDefaultSoundFont();

    std::mt19937 random(1234);
    int opened = 0;
    for (const std::string& source : sources) {
        const std::vector<uint8_t> whole = test::ReadBytes(source);
        ASSERT_FALSE(whole.empty()) << source;
        std::vector<std::vector<uint8_t>> variants;
        for (size_t cut : {size_t{0}, size_t{4}, size_t{12}, size_t{64}, size_t{300}, whole.size() / 3,
                           whole.size() / 2, whole.size() - 1}) {
            variants.emplace_back(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(std::min(cut, whole.size())));
        }
        for (int k = 0; k < 4; ++k) {
            std::vector<uint8_t> damaged = whole;
            for (size_t i = damaged.size() / 4; i < damaged.size(); i += 1 + random() % 61) {
                damaged[i] = static_cast<uint8_t>(random());
            }
            variants.push_back(std::move(damaged));
        }
        variants.emplace_back(5000);
        for (auto& b : variants.back()) b = static_cast<uint8_t>(random());

        for (size_t v = 0; v < variants.size(); ++v) {
            SCOPED_TRACE(source + " variant " + std::to_string(v));
            const std::string path = dir / ("damaged" + source.substr(source.rfind('.')));
            test::WriteBytes(path, variants[v]);
            BassDecoder decoder;
            if (decoder.Open(path, 0) != 1) continue;
            ++opened;
            // Finite: about the samples the undamaged file holds, with room for resynchronisation.
            EXPECT_LE(DecodeAll(decoder, 4000).samples.size(), 44100u * 2 * 3);
            TagRecord tags;
            decoder.ReadTags(tags);
            int size = 0;
            decoder.GetId3v2Block(size);
            decoder.GetId3v1Block();
        }
    }
    EXPECT_GT(opened, 0);
}

TEST_F(BassDecoderFiles, FilesDecodeTheSameOnParallelThreads) {
    const std::string mod = dir / "p.mod";
    test::WriteBytes(mod, test::MakeModule(false));
    const std::vector<std::string> files = {EncodeTone(dir, "p.flac", 44100, 2, 1.5, {"-c:a", "flac"}),
                                            EncodeTone(dir, "p.mp3", 44100, 2, 1.5, {"-c:a", "libmp3lame"}), mod};
    std::vector<std::vector<int16_t>> expected;
    for (const std::string& f : files) {
        BassDecoder decoder;
        ASSERT_EQ(decoder.Open(f, 0), 1);
        expected.push_back(DecodeAll(decoder).samples);
    }
    // Four threads decode the three files twice each, all at once.
    std::vector<std::vector<std::vector<int16_t>>> results(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 6; ++i) {
                BassDecoder decoder;
                decoder.Open(files[i % 3], 0);
                results[t].push_back(DecodeAll(decoder).samples);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 6; ++i) EXPECT_TRUE(results[t][i] == expected[i % 3]) << t << " " << i;
    }
}

}  // namespace
}  // namespace pelloran
