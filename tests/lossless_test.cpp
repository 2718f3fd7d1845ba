// FLAC, ALAC and WAV through the wide path: bit-exact round trips from every lossless reader, what the FLAC
// files carry, the writers' format rules, and tags with pictures as an independent reader sees them.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "encode/AlacWriter.h"
#include "encode/FlacWriter.h"
#include "encode/Mp3Writer.h"
#include "encode/OpusWriter.h"
#include "encode/WavWriter.h"
#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

// pelloran-cli with scratch settings, and sources made by sox and ffmpeg.
class Lossless : public Hostile {
protected:
    std::string Make(const std::string& name, std::vector<std::string> command) const {
        const std::string path = dir_ / name;
        for (std::string& arg : command) {
            if (arg == "OUT") arg = path;
        }
        const CommandResult r = test::Run(command);
        EXPECT_EQ(r.exitCode, 0) << name << ": " << r.err;
        return path;
    }
    // Converts into dir_/out; the output's path.
    std::string Convert(const std::string& source, const std::string& format, std::vector<std::string> args = {}) {
        std::vector<std::string> all = {"-y", "-f", format, "-o", dir_ / "out"};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back(source);
        const CommandResult r = Cli(all);
        EXPECT_EQ(r.exitCode, 0) << source << " to " << format << ": " << r.out << r.err;
        const std::string ext = format == "alac" ? "m4a" : format;
        return (fs::path(dir_ / "out") / fs::path(source).stem()).string() + "." + ext;
    }
};

// The MD5 of the samples as 32-bit integers (every width lands left-aligned), by FFmpeg's decoders.
std::string SamplesMd5(const std::string& path) {
    return test::Run({"ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-c:a", "pcm_s32le", "-f", "md5", "-"}).out;
}

// "channels bits" of the first audio stream.
std::string Shape(const std::string& path) {
    const std::string out = test::Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                 "stream=channels,bits_per_raw_sample,bits_per_sample,sample_fmt", "-of",
                                 "default=noprint_wrappers=1", path})
                                .out;
    std::map<std::string, std::string> f;
    for (size_t at = 0; at < out.size();) {
        const size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end - at);
        if (const size_t eq = line.find('='); eq != std::string::npos) f[line.substr(0, eq)] = line.substr(eq + 1);
        at = end == std::string::npos ? out.size() : end + 1;
    }
    int bits = 0;
    for (const char* key : {"bits_per_raw_sample", "bits_per_sample"}) {
        if (f.count(key) && f[key] != "N/A") bits = std::max(bits, std::atoi(f[key].c_str()));
    }
    if (bits == 0 && f["sample_fmt"].rfind("s16", 0) == 0) bits = 16;
    return f["channels"] + " " + std::to_string(bits);
}

std::vector<std::string> Sox(std::vector<std::string> format, const std::string& signal = "pinknoise") {
    std::vector<std::string> c = {"sox", "-R", "-n"};
    c.insert(c.end(), format.begin(), format.end());
    c.insert(c.end(), {"OUT", "synth", "1.3", signal, "vol", "0.5"});
    return c;
}

TEST_F(Lossless, RoundTripsAreBitExact) {
    const std::string wav16 = Make("m16.wav", Sox({"-r", "44100", "-b", "16", "-c", "1"}));
    const std::string flac24 = Make("s24.flac", Sox({"-r", "96000", "-b", "24", "-c", "2"}));
    const std::string six24 = Make("six24.wav", Sox({"-r", "48000", "-b", "24", "-c", "6"}));
    const std::string six16 = Make("six16.flac", Sox({"-r", "44100", "-b", "16", "-c", "6"}));
    const std::string aiff24 = Make("a24.aiff", Sox({"-r", "44100", "-b", "24", "-c", "2"}));
    const std::string au24 = Make("u24.au", Sox({"-r", "44100", "-b", "24", "-c", "2"}));
    const std::string wav32 = Make("i32.wav", Sox({"-r", "44100", "-b", "32", "-e", "signed-integer", "-c", "2"}));
    const std::string wv24 = Make("w24.wv", {"ffmpeg", "-v", "error", "-i", six24, "-c:a", "wavpack", "OUT"});
    const std::string alac24 = Make("l24.m4a", {"ffmpeg", "-v", "error", "-i", flac24, "-c:a", "alac", "OUT"});

    struct Case {
        std::string source;
        const char* format;
        std::vector<std::string> args;
        const char* shape;  // "channels bits" of the output
    };
    const Case cases[] = {
        {wav16, "flac", {}, "1 16"},
        {wav16, "alac", {}, "1 16"},
        {flac24, "flac", {}, "2 24"},
        {flac24, "alac", {}, "2 24"},
        {flac24, "wav", {}, "2 24"},
        {six24, "flac", {}, "6 24"},
        {six24, "alac", {}, "6 24"},
        {six24, "wav", {}, "6 24"},
        {six24, "flac", {"--decoder", "wav"}, "6 24"},  // the WAV reader's own wide output
        {six16, "flac", {}, "6 16"},
        {aiff24, "flac", {}, "2 24"},
        {au24, "flac", {}, "2 24"},
        {wv24, "flac", {}, "6 24"},
        {alac24, "flac", {}, "2 24"},
        {wav32, "wav", {}, "2 32"},
        // 16 bits widened into 24: the same values, eight zero bits below.
        {wav16, "wav", {"-s", "AutoDestWAVEncodingParam=0", "-s", "WAVBitsPerSample=24", "-s", "WAVSampleRate=0",
                        "-s", "WAVChannelNum=0"}, "1 24"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " to " + c.format);
        const std::string out = Convert(c.source, c.format, c.args);
        EXPECT_EQ(Shape(out), c.shape);
        const std::string expected = SamplesMd5(c.source);
        ASSERT_NE(expected, "");
        EXPECT_EQ(SamplesMd5(out), expected);
        std::filesystem::remove(out);
    }

    // Beyond what the format stores: 32 bits become FLAC's 24, and a narrower width is asked for.
    EXPECT_EQ(Shape(Convert(wav32, "flac")), "2 24");
    EXPECT_EQ(Shape(Convert(flac24, "flac", {"-s", "FLACBitsPerSample=16"})), "2 16");
    EXPECT_EQ(Shape(Convert(six24, "wav", {"-s", "AutoDestWAVEncodingParam=0", "-s", "WAVBitsPerSample=16",
                                           "-s", "WAVSampleRate=0", "-s", "WAVChannelNum=0"})),
              "6 16");
    // Another rate or channel count is converted at the source's width.
    EXPECT_EQ(Shape(Convert(flac24, "flac", {"--rate", "44100"})), "2 24");
    EXPECT_EQ(Shape(Convert(flac24, "alac", {"-s", "M4ACodec=alac"})), "2 24");
    EXPECT_EQ(Shape(Convert(flac24, "wav", {"-s", "AutoDestWAVEncodingParam=0", "-s", "WAVBitsPerSample=0",
                                            "-s", "WAVSampleRate=48000", "-s", "WAVChannelNum=1"})),
              "1 24");
}

TEST_F(Lossless, FlacHasItsSignatureSeekTableAndCompressionLevels) {
    const std::string src = Make("long.wav", {"sox", "-R", "-n", "-r", "44100", "-b", "16", "-c", "2", "OUT", "synth",
                                              "25", "pluck", "C3", "pluck", "G3", "vol", "0.5"});
    const std::string fast = Convert(src, "flac", {"--quality", "0"});
    const auto fastBytes = std::filesystem::file_size(fast);
    const std::string best = Convert(src, "flac", {"--quality", "8"});
    EXPECT_LT(std::filesystem::file_size(best), fastBytes);
    EXPECT_EQ(test::Run({"flac", "-t", "-s", best}).exitCode, 0);  // the MD5 signature matches the audio
    EXPECT_NE(test::Run({"metaflac", "--show-md5sum", best}).out, "00000000000000000000000000000000\n");
    // A point every ten seconds, each filled in; none left over past the end.
    const std::string table = test::Run({"metaflac", "--list", "--block-type=SEEKTABLE", best}).out;
    EXPECT_NE(table.find("seek points: 3"), std::string::npos) << table;
    EXPECT_NE(table.find("point 2: sample_number=88"), std::string::npos) << table;
    EXPECT_EQ(table.find("PLACEHOLDER"), std::string::npos) << table;
}

TEST(LosslessWriters, FormatsEachWriterTakes) {
    TempDir dir;
    struct Case {
        const char* writer;
        PcmFormat format;
        bool opens;
    };
    const Case cases[] = {
        {"flac", {44100, 2, 8}, true},
        {"flac", {44100, 6, 24}, true},
        {"flac", {44100, 2, 32}, false},  // beyond the streamable subset
        {"alac", {48000, 8, 24}, true},
        {"alac", {48000, 2, 32}, false},
        {"wav", {48000, 8, 32}, true},
        {"wav", {48000, 9, 16}, false},
        {"mp3", {44100, 6, 16}, false},  // MP3 holds two channels
        {"mp3", {44100, 2, 24}, true},   // lossy writers take any width
        {"opus", {44100, 1, 16}, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.writer) + " " + std::to_string(c.format.channels) + "x" +
                     std::to_string(c.format.bits));
        const std::string path = dir / std::to_string(n++);
        std::unique_ptr<AudioWriter> w;
        if (std::string(c.writer) == "flac") w = std::make_unique<FlacWriter>();
        if (std::string(c.writer) == "alac") w = std::make_unique<AlacWriter>();
        if (std::string(c.writer) == "wav") w = std::make_unique<WavWriter>();
        if (std::string(c.writer) == "mp3") w = std::make_unique<Mp3Writer>();
        if (std::string(c.writer) == "opus") w = std::make_unique<OpusWriter>();
        EXPECT_EQ(w->Open(path, c.format, {}), c.opens);
        EXPECT_EQ(std::filesystem::exists(path), c.opens);  // a refused format leaves nothing
        const int32_t samples[4] = {};
        const int32_t* planes[8] = {samples, samples, samples, samples, samples, samples, samples, samples};
        if (c.opens) {
            EXPECT_TRUE(w->Write(planes, 4));
        }
        w->Abort();
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

// Runs python with mutagen, the reference tag reader; "" when none is installed.
std::string Mutagen(const std::string& script, const std::string& path) {
    for (const char* python : {"/usr/bin/python3", "python3"}) {
        const CommandResult r = test::Run({python, "-c", "import mutagen, sys\n" + script, path});
        if (r.exitCode == 0) return r.out;
    }
    return "";
}

TEST_F(Lossless, TagsAndPicturesReadBackByMutagen) {
    const std::string png = dir_ / "cover.png";
    // The smallest PNG: a 1x1 picture.
    WriteBytes(png, {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
                     0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
                     0x00, 0x90, 0x77, 0x53, 0xde, 0x00, 0x00, 0x00, 0x0c, 0x49, 0x44, 0x41, 0x54, 0x78,
                     0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0xc9, 0xfe, 0x92,
                     0xef, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82});
    const std::string src = Make("tagged.flac", Sox({"-r", "44100", "-b", "24", "-c", "2"}));
    ASSERT_EQ(test::Run({"metaflac", "--set-tag=TITLE=Tïtle", "--set-tag=ARTIST=Ärtist", "--set-tag=ALBUMARTIST=Band",
                   "--set-tag=TRACKNUMBER=3", "--import-picture-from=3|image/png|Front|1x1x24|" + png, src})
                  .exitCode,
              0);
    // One line per tag, then every picture as type, MIME type, description and size.
    const std::string script = R"(
f = mutagen.File(sys.argv[1])
t = f.tags
def get(*keys):
    for k in keys:
        if k in t: return str(t[k][0])
    return '-'
print(get('title', '\xa9nam'), get('artist', '\xa9ART'), get('albumartist', 'aART'),
      get('tracknumber', 'trkn').replace('(3, 0)', '3'))
pics = list(getattr(f, 'pictures', []))
if 'metadata_block_picture' in t:
    import base64
    pics = [mutagen.flac.Picture(base64.b64decode(v)) for v in t['metadata_block_picture']]
for p in pics: print(p.type, p.mime, p.desc, len(p.data))
for c in t.get('covr', []): print(3, 'image/png' if c.imageformat == 14 else '?', '-', len(c))
)";
    const std::string pngBytes = std::to_string(std::filesystem::file_size(png));
    const std::string expected[] = {"Tïtle Ärtist Band 3\n3 image/png Front " + pngBytes + "\n",
                                    "Tïtle Ärtist Band 3\n3 image/png Front " + pngBytes + "\n",
                                    "Tïtle Ärtist Band 3\n3 image/png - " + pngBytes + "\n"};
    const char* formats[] = {"flac", "opus", "alac"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(formats[i]);
        const std::string read = Mutagen("import mutagen.flac\n" + script, Convert(src, formats[i]));
        if (read.empty()) GTEST_SKIP() << "python3 with mutagen is not installed";
        EXPECT_EQ(read, expected[i]);
    }
    // Fields set on top of the source's tags.
    const std::string read = Mutagen("import mutagen.flac\n" + script, Convert(src, "flac", {"--tag", "title=New"}));
    EXPECT_EQ(read.substr(0, read.find('\n')), "New Ärtist Band 3");
}

}  // namespace
}  // namespace pelloran::test
