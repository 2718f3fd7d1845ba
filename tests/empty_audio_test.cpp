// Writers at their edges, through pelloran-cli: sources of zero, one and two frames into every output
// format, and writer failures (a full disk, a rate or tags FLAC cannot hold, a picture too large) that must
// name their reason and leave nothing behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "tests/support/TestSupport.h"

namespace pelloran::test {
namespace {

using Json = nlohmann::json;

constexpr const char* kNoAudio = "The source holds no audio";

std::vector<Json> JsonLines(const std::string& text) {
    std::vector<Json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '{') lines.push_back(Json::parse(line));
    }
    return lines;
}

class EdgeCases : public ::testing::Test {
protected:
    CommandResult Cli(std::vector<std::string> args) const {
        args.insert(args.begin(), {CliPath(), "-q", "--json", "-j", "1"});
        return test::Run(args, {"XDG_CONFIG_HOME=" + (dir_ / "config")});
    }
    // Runs a tool and fails the test when it fails.
    static void Make(const std::vector<std::string>& argv) {
        const CommandResult r = test::Run(argv);
        ASSERT_EQ(r.exitCode, 0) << argv[0] << ": " << r.err;
    }
    // True when the WMA runtime is missing (the CLI asks for it and converts nothing).
    static bool WmaMissing(const CommandResult& r) { return r.err.find("Runtime") != std::string::npos; }
    // Names in folder that are work files of ours.
    static std::vector<std::string> WorkFiles(const std::string& folder) {
        std::vector<std::string> left;
        if (!fs::exists(folder)) return left;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(".pelloran-", 0) == 0) left.push_back(name);
        }
        return left;
    }
    // The audio streams FFmpeg finds in path, each decoded to its end; -1 on any error.
    // error receives what ffprobe said when it failed.
    static int DecodedAudioStreams(const std::string& path, std::string* error = nullptr) {
        const CommandResult r = test::Run({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "a",
                                           "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path});
        if (error != nullptr) *error = "exit " + std::to_string(r.exitCode) + ": " + r.err;
        if (r.exitCode != 0 || !r.err.empty()) return -1;
        return static_cast<int>(std::count(r.out.begin(), r.out.end(), '\n'));
    }

    TempDir dir_;
};

// Every format takes sources of 0, 1 and 2 frames (mono and stereo, WAV from FFmpeg and AU from SoX): a file
// that FFmpeg reads, or for no frames where the format cannot hold none, a failed entry saying so. No
// library may abort the batch.
TEST_F(EdgeCases, EveryFormatTakesSourcesOfNoneOneAndTwoFrames) {
    std::vector<std::string> sources;
    fs::create_directories(dir_ / "src");
    for (int channels = 1; channels <= 2; ++channels) {
        for (int frames = 0; frames <= 2; ++frames) {
            const std::string stem = dir_ / ("src/c" + std::to_string(channels) + "f" + std::to_string(frames));
            Make({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "anoisesrc=r=44100:c=pink:a=0.3", "-ac",
                  std::to_string(channels), "-af", "atrim=end_sample=" + std::to_string(frames), "-c:a",
                  "pcm_s16le", "-y", stem + ".wav"});
            Make({"sox", "-n", "-r", "44100", "-c", std::to_string(channels), "-b", "16", "-e", "signed-integer",
                  stem + ".au", "synth", "1", "pluck", "C3", "pluck", "E3", "trim", "0",
                  std::to_string(frames) + "s"});
            sources.push_back(stem + ".wav");
            sources.push_back(stem + ".au");
        }
    }

    const struct {
        const char* format;
        const char* extension;
        bool holdsNothing;  // a source without frames gives a file; otherwise it fails with kNoAudio
    } formats[] = {
        {"wav", "wav", true},   {"flac", "flac", true}, {"ogg", "ogg", true},   {"amr", "amr", true},
        {"awb", "awb", true},   {"wma", "wma", true},   {"mp3", "mp3", false},  {"aac", "aac", false},
        {"m4a", "m4a", false},  {"mp4", "mp4", false},  {"m4b", "m4b", false},  {"opus", "opus", false},
        {"alac", "m4a", false},
    };
    for (const auto& f : formats) {
        SCOPED_TRACE(f.format);
        const std::string out = dir_ / (std::string("out-") + f.format);
        std::vector<std::string> args = {"-f", f.format, "-o", out};
        args.insert(args.end(), sources.begin(), sources.end());
        const CommandResult r = Cli(args);
        if (std::string(f.format) == "wma" && WmaMissing(r)) continue;
        ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.exitCode << " " << r.err;
        const std::vector<Json> lines = JsonLines(r.out);
        ASSERT_EQ(lines.size(), sources.size() + 1) << r.out;  // one per source and the summary
        for (size_t i = 0; i < sources.size(); ++i) {
            const Json& entry = lines[i];
            const std::string source = entry["source"].get<std::string>();
            SCOPED_TRACE(source);
            const bool empty = source.find("f0.") != std::string::npos;
            if (empty && !f.holdsNothing) {
                EXPECT_FALSE(entry["ok"].get<bool>());
                EXPECT_EQ(entry["note"], kNoAudio);
                continue;
            }
            ASSERT_TRUE(entry["ok"].get<bool>()) << entry.dump();
            const std::string target = entry["target"].get<std::string>();
            EXPECT_EQ(fs::path(target).extension(), std::string(".") + f.extension);
            std::string error;
            EXPECT_EQ(DecodedAudioStreams(target, &error), 1) << error;
        }
        EXPECT_TRUE(WorkFiles(out).empty());
    }
}

// FLAC says what it cannot hold: a rate over its 655350 Hz is brought to the highest common rate of its family,
// tags over a block's 16 MiB fail the file.
TEST_F(EdgeCases, FlacNamesWhatItCannotHold) {
    const std::string fast = dir_ / "fast.wav";
    Make({"sox", "-n", "-r", "768000", "-c", "2", "-b", "16", fast, "synth", "0.5", "pluck", "C3", "pluck", "G3"});
    // A 30 MiB comment in an MP3's ID3v2 tag, through FFmpeg's metadata file.
    const std::string meta = dir_ / "meta.txt";
    {
        std::ofstream out(meta);
        out << ";FFMETADATA1\ntitle=Long\ncomment=" << std::string(30u << 20, 'c') << '\n';
    }
    const std::string talk = dir_ / "talk.mp3";
    Make({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "anoisesrc=d=1:c=pink:a=0.2", "-i", meta, "-map", "0",
          "-map_metadata", "1", "-c:a", "libmp3lame", "-b:a", "96k", "-y", talk});

    const struct {
        std::string source;
        const char* note;
    } cases[] = {
        {talk, "The tags are larger than the 16 MiB FLAC holds"},
    };
    const CommandResult brought = Cli({"-f", "flac", "-o", dir_ / "rate", fast});
    ASSERT_EQ(brought.exitCode, 0) << brought.err;
    EXPECT_EQ(JsonLines(brought.out).at(0)["note"], "FLAC holds no 768000 Hz: converted to 384000 Hz");
    EXPECT_EQ(test::Run({"soxi", "-r", dir_ / "rate/fast.flac"}).out, "384000\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const std::string out = dir_ / "out";
        const CommandResult r = Cli({"-f", "flac", "-o", out, c.source});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        const std::vector<Json> lines = JsonLines(r.out);
        ASSERT_EQ(lines.size(), 2u) << r.out;
        EXPECT_FALSE(lines[0]["ok"].get<bool>());
        EXPECT_EQ(lines[0]["note"], c.note);
        EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out));
    }
}

// A full disk fails the entry with the system's words, in every format whose file outgrows it, and the work
// file goes. The disk is a small tmpfs in a user and mount namespace.
TEST_F(EdgeCases, FullDiskSaysSo) {
    const std::string disk = dir_ / "disk";
    fs::create_directories(disk);
    const std::string mount = "mount -t tmpfs -o size=200k tmpfs '" + disk + "'";
    const CommandResult probe = test::Run({"unshare", "-rm", "sh", "-c", mount});
    if (probe.exitCode != 0) GTEST_SKIP() << "no user and mount namespace here: " << probe.err;

    // A minute of plucked chords over soft noise: every format here takes more than 200 KiB for it.
    const std::string music = dir_ / "music.wav";
    Make({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", music, "synth", "60", "pluck", "C3", "pluck", "E3",
          "pluck", "G3", "pinknoise", "vol", "0.4"});
    for (const char* format : {"mp3", "wav", "ogg", "aac", "m4a", "flac", "opus", "alac", "wma"}) {
        SCOPED_TRACE(format);
        // The listing of the disk follows the JSON lines: the tmpfs is gone with the namespace.
        const std::string script = mount + " && '" + CliPath() + "' -q --json -j 1 -f " + format + " -o '" + disk +
                                   "' '" + music + "'; echo \"exit $?\"; ls -A '" + disk + "'";
        const CommandResult r =
            test::Run({"unshare", "-rm", "sh", "-c", script}, {"XDG_CONFIG_HOME=" + (dir_ / "config")});
        if (std::string(format) == "wma" && WmaMissing(r)) continue;
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<Json> lines = JsonLines(r.out);
        ASSERT_EQ(lines.size(), 2u) << r.out;
        EXPECT_FALSE(lines[0]["ok"].get<bool>());
        EXPECT_EQ(lines[0]["note"], "No space left on device");
        const std::string rest = r.out.substr(r.out.find("exit "));
        EXPECT_EQ(rest, "exit 1\n") << "left on the disk: " << rest;
    }
}

// An MP3 source's own ID3v2 block travels whole into an MP3, unless it holds a picture over 16 MiB: then the
// tags are written anew without it (a small back cover stays), as for every other format.
TEST_F(EdgeCases, Mp3LeavesOutPicturesOver16MiB) {
    // Square noise pictures: PNG cannot shrink noise, 3 bytes a pixel stay.
    std::minstd_rand noise(7);
    const auto picture = [&](const std::string& name, int side) {
        std::vector<uint8_t> pixels(static_cast<size_t>(side) * static_cast<size_t>(side) * 3);
        for (uint8_t& p : pixels) p = static_cast<uint8_t>(noise() >> 8);
        const std::string raw = dir_ / "pixels.rgb";
        WriteBytes(raw, pixels);
        const std::string path = dir_ / (name + ".png");
        const std::string size = std::to_string(side) + "x" + std::to_string(side);
        Make({"ffmpeg", "-v", "error", "-f", "rawvideo", "-pix_fmt", "rgb24", "-s", size, "-i", raw, "-frames:v", "1",
              "-y", path});
        return path;
    };
    const std::string back = picture("back", 32);
    const struct {
        const char* name;
        int side;
        bool kept;
    } cases[] = {
        {"small", 64, true},
        {"large", 2450, false},  // about 17 MiB
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string front = picture(c.name, c.side);
        ASSERT_EQ(fs::file_size(front) > (16u << 20), !c.kept);
        const std::string source = dir_ / (std::string(c.name) + ".mp3");
        Make({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "anoisesrc=d=2:c=pink:a=0.2", "-i", front, "-i", back,
              "-map", "0", "-map", "1", "-map", "2", "-c:a", "libmp3lame", "-b:a", "128k", "-c:v", "copy",
              "-disposition:v", "attached_pic", "-metadata:s:v:1", "comment=Cover (back)", "-id3v2_version", "3",
              "-metadata", "title=Cover Song", "-metadata", "artist=Ana", "-y", source});

        const std::string out = dir_ / ("out-" + std::string(c.name));
        const CommandResult r = Cli({"-f", "mp3", "-o", out, source});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<Json> lines = JsonLines(r.out);
        ASSERT_EQ(lines.size(), 2u) << r.out;
        EXPECT_EQ(lines[0]["note"], c.kept ? "" : "A picture over 16 MiB was left out");
        EXPECT_EQ(lines[0]["tags_dropped"], c.kept ? Json::array() : Json::array({"PICTURE"}));

        const std::string target = lines[0]["target"].get<std::string>();
        const CommandResult streams = test::Run({"ffprobe", "-v", "error", "-show_entries",
                                                 "stream=codec_type:stream_tags=comment", "-of", "csv=p=0", target});
        EXPECT_EQ(streams.out, c.kept ? "audio\nvideo,Other\nvideo,Cover (back)\n" : "audio\nvideo,Cover (back)\n");
        const CommandResult tags = test::Run({"ffprobe", "-v", "error", "-show_entries", "format_tags=title,artist",
                                              "-of", "default=nw=1", target});
        EXPECT_NE(tags.out.find("title=Cover Song"), std::string::npos) << tags.out;
        EXPECT_NE(tags.out.find("artist=Ana"), std::string::npos) << tags.out;
    }
}

}  // namespace
}  // namespace pelloran::test
