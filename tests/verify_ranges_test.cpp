// --verify end to end: every output format from sources at every common rate, mono and stereo. Each output must
// verify, and an independent count of what it decodes to must lie in the range docs/cli-output.md gives for its
// format and rate.

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};

// A plucked chord with tremolo, made at 48 kHz (pluck's own rate) and resampled by sox to the rate asked for.
bool MakeMusic(const std::string& path, int rate, int channels, uint64_t frames) {
    return test::Run({"sox", "-r", "48000", "-n", "-b", "16", "-c", std::to_string(channels), path, "synth",
                      std::to_string(static_cast<double>(frames) / rate + 0.2), "pluck", "A2", "pluck", "E3", "pluck",
                      "C4", "tremolo", "5", "30", "gain", "-3", "rate", std::to_string(rate), "trim", "0",
                      std::to_string(frames) + "s"})
               .exitCode == 0;
}

std::vector<Json> JsonLines(const std::string& text) {
    std::vector<Json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
    return lines;
}

struct Probe {
    int rate = 0;
    bool delayTold = false;  // the stream starts late: a LAME tag gave the encoder's delay
    uint64_t frames = 0;     // what the output decodes to
};

// The number after the first `key` in text, 0 when it is not there.
double NumberAfter(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    return at == std::string::npos ? 0.0 : std::strtod(text.c_str() + at + key.size(), nullptr);
}

// WAV, FLAC and Ogg Vorbis by libsndfile and libvorbisfile (soxi: the header, the last granule); an MP4 by its
// edit list (ffprobe; FFmpeg's decoder goes past its end); every other format by what FFmpeg's decoder gives.
Probe ProbeOutput(const std::string& path) {
    Probe p;
    const std::string ext = fs::path(path).extension().string();
    if (ext == ".wav" || ext == ".flac" || ext == ".ogg") {
        const std::string info = test::Run({"soxi", path}).out;
        p.rate = static_cast<int>(NumberAfter(info, "Sample Rate    : "));
        const size_t equals = info.find(" = ", info.find("Duration"));
        if (equals != std::string::npos) p.frames = std::strtoull(info.c_str() + equals + 3, nullptr, 10);
        return p;
    }
    if (ext == ".m4a" || ext == ".mp4" || ext == ".m4b") {
        const std::string info = test::Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                            "stream=sample_rate,duration_ts", "-of", "default=nw=1", path})
                                     .out;
        p.rate = static_cast<int>(NumberAfter(info, "sample_rate="));
        p.frames = static_cast<uint64_t>(NumberAfter(info, "duration_ts="));
        return p;
    }
    const auto decoded = test::Run({"ffmpeg", "-v", "info", "-i", path, "-f", "s16le", "-ac", "1", "-"});
    const size_t audio = decoded.err.find("Audio: ");
    const size_t hz = decoded.err.find(" Hz", audio);
    if (audio != std::string::npos && hz != std::string::npos) {
        const size_t comma = decoded.err.rfind(", ", hz);
        p.rate = std::atoi(decoded.err.c_str() + comma + 2);
    }
    p.delayTold = NumberAfter(decoded.err, ", start: ") > 0.0;
    p.frames = decoded.out.size() / 2;
    return p;
}

// The documented frames of an output, E frames of source at the output's rate.
struct Range {
    uint64_t min, max;
};

uint64_t LameLength(uint64_t e, int rate) {
    const uint64_t frame = rate >= 32000 ? 1152 : 576;
    const uint64_t p = frame - (e + 576) % frame;
    return e + 576 + (p < 576 ? p + frame : p);
}

Range Documented(const std::string& format, uint64_t e, int rate, bool mp3Tag, bool resampled) {
    if (format == "mp3" && !mp3Tag) {
        if (!resampled) return {LameLength(e, rate), LameLength(e, rate)};
        return {LameLength(e - 2, rate), LameLength(e + 2, rate)};
    }
    Range r{e, e};
    if (format == "aac") r = {e + 1024, e + 2047};
    if (format == "amr") r = {e, e + 159};
    if (format == "awb") r = {e, e + 319};
    if (format == "wma") r = {e, e + 2047};
    if (resampled) r = {r.min - 2, r.max + 2};
    return r;
}

class VerifyRanges : public ::testing::Test {
protected:
    // Mono and stereo at each rate, about a second each; the lengths differ so that the last frames are padded
    // differently.
    static void SetUpTestSuite() {
        shared_ = new test::TempDir;
        sources_ = new std::map<std::string, std::pair<int, uint64_t>>;
        fs::create_directories(*shared_ / "sources");
        int n = 0;
        for (const int rate : kRates) {
            for (const int channels : {1, 2}) {
                const uint64_t frames = static_cast<uint64_t>(rate) + 97u * static_cast<uint64_t>(++n) * 7u;
                const std::string path =
                    *shared_ / ("sources/s" + std::to_string(rate) + "_" + std::to_string(channels) + ".wav");
                ASSERT_TRUE(MakeMusic(path, rate, channels, frames)) << path;
                (*sources_)[path] = {rate, frames};
            }
        }
    }
    static void TearDownTestSuite() {
        delete sources_;
        delete shared_;
    }
    std::vector<std::string> Env() const {
        return {"HOME=" + dir_.path().string(), "XDG_CONFIG_HOME=" + (dir_ / "config")};
    }
    test::CommandResult Cli(std::vector<std::string> args) {
        std::vector<std::string> argv = {test::CliPath(), "-q", "--json", "--verify", "-j", "2", "--settings",
                                         settingsFile_};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::Run(argv, Env());
    }
    // Converts every source to format in one run and checks each output; false when no output was made.
    bool CheckFormat(const std::string& format, const std::vector<std::string>& settings = {}) {
        const std::string out = dir_ / ("out-" + format + std::to_string(settings.size()));
        std::vector<std::string> args = {"-f", format, "-o", out};
        for (const std::string& s : settings) args.insert(args.end(), {"-s", s});
        args.push_back(*shared_ / "sources");
        const test::CommandResult r = Cli(args);
        const std::vector<Json> lines = JsonLines(r.out);
        EXPECT_EQ(lines.size(), sources_->size() + 1) << r.out << r.err;
        std::vector<std::pair<Json, Probe>> outputs;
        for (const Json& line : lines) {
            if (line.contains("summary")) continue;
            if (!line["ok"].get<bool>()) ADD_FAILURE() << format << ": " << line.dump();
            else outputs.emplace_back(line, Probe{});
        }
        // Probed two at a time: the tools take longer to start than to read a second of sound.
        std::vector<std::thread> probes;
        for (size_t first = 0; first < 2; ++first) {
            probes.emplace_back([&outputs, first] {
                for (size_t i = first; i < outputs.size(); i += 2)
                    outputs[i].second = ProbeOutput(outputs[i].first["target"]);
            });
        }
        for (std::thread& t : probes) t.join();
        for (const auto& [line, p] : outputs) {
            const std::string source = line["source"];
            SCOPED_TRACE(format + " " + fs::path(source).filename().string());
            const auto [rate, frames] = sources_->at(source);
            EXPECT_TRUE(line["verified"].get<bool>());
            EXPECT_EQ(line["frames_source"], frames);
            EXPECT_EQ(line["frames_output"], p.frames) << "the independent count differs";
            const auto e = static_cast<uint64_t>(static_cast<double>(frames) * p.rate / rate + 0.5);
            const Range range = Documented(format, e, p.rate, p.delayTold, p.rate != rate);
            EXPECT_GE(p.frames, range.min) << "E " << e << " at " << p.rate;
            EXPECT_LE(p.frames, range.max) << "E " << e << " at " << p.rate;
        }
        const bool made = !outputs.empty();
        return made;
    }

    static test::TempDir* shared_;
    static std::map<std::string, std::pair<int, uint64_t>>* sources_;  // path: rate, frames
    test::TempDir dir_;
    std::string settingsFile_ = dir_ / "settings.conf";
};

test::TempDir* VerifyRanges::shared_ = nullptr;
std::map<std::string, std::pair<int, uint64_t>>* VerifyRanges::sources_ = nullptr;

TEST_F(VerifyRanges, EveryFormatAtEveryRateDecodesToItsDocumentedLength) {
    test::WriteBytes(settingsFile_, {});
    for (const char* format : {"wav", "ogg", "aac", "m4a", "mp4", "m4b", "amr", "awb", "flac", "opus", "alac"})
        CheckFormat(format);
    // MP3 as it comes (with the LAME tag where LAME has room for it: not in the small frames of mono below
    // 32 kHz), and without the tag.
    CheckFormat("mp3");
    CheckFormat("mp3", {"MP3WriteInfoTag=0"});
}

TEST_F(VerifyRanges, WmaWhenItsRuntimeIsThere) {
    test::WriteBytes(settingsFile_, {});
    const std::string probe = dir_ / "probe";
    const auto r = Cli({"-f", "wma", "-o", probe, sources_->begin()->first});
    if (r.out.find("\"ok\":true") == std::string::npos) GTEST_SKIP() << "no WMA runtime: " << r.out;
    EXPECT_TRUE(CheckFormat("wma"));
}

// The source is swapped for a shorter one while it is converted: verification holds the MP3 against the frames
// the conversion read from the file it opened, not against whatever the path names afterwards.
TEST_F(VerifyRanges, TheOutputIsHeldAgainstWhatTheConversionRead) {
    test::WriteBytes(settingsFile_, {});
    constexpr uint64_t kFrames = 2297 * 576;  // a minute at 22050 Hz, LAME's padding then a whole 1152 frames
    const std::string source = dir_ / "song.wav";
    const std::string shorter = dir_ / "shorter.wav";
    ASSERT_TRUE(MakeMusic(source, 22050, 1, kFrames));
    ASSERT_EQ(test::Run({"sox", source, shorter, "trim", "0", std::to_string(kFrames - 600) + "s"}).exitCode, 0);
    const std::string out = dir_ / "out";
    const std::string printed = dir_ / "printed";
    // The shell swaps the files once the encoder has written its first bytes (the source is open by then).
    const std::string script =
        "\"$0\" -q --json --verify --settings \"$1\" -f mp3 -s MP3WriteInfoTag=0 -o \"$2\" \"$3\" > \"$5\" & "
        "until [ -n \"$(find \"$2\" -name '.pelloran-*' -size +0 2>/dev/null)\" ]; do sleep 0.002; done; "
        "mv \"$4\" \"$3\"; wait $!";
    const auto r = test::Run({"bash", "-c", script, test::CliPath(), settingsFile_, out, source, shorter, printed},
                             Env());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto bytes = test::ReadBytes(printed);
    const std::vector<Json> lines = JsonLines(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(lines.size(), 2u);
    const Json& line = lines[0];
    EXPECT_EQ(line["status_code"], "converted");
    EXPECT_TRUE(line["verified"].get<bool>());
    EXPECT_EQ(line["frames_source"], kFrames);
    EXPECT_EQ(line["frames_output"], kFrames + 1152);
}

}  // namespace
}  // namespace pelloran
