#pragma once
// Helpers of the AAC, MP4, AMR and WMA tests: pelloran-cli runs with settings of their own, ffprobe fields,
// decoding with ffmpeg, and hand-made WAV sources.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace pelloran::test {

// Fields of the first audio stream and of the container, as ffprobe reports them.
inline std::map<std::string, std::string> ProbeAudio(const std::string& path) {
    const auto r = Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                        "stream=codec_name,sample_rate,channels,bit_rate,duration:format=duration,bit_rate:"
                        "format_tags",
                        "-of", "default=noprint_wrappers=1", path});
    std::map<std::string, std::string> fields;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        // The format's duration and bit rate come after the stream's; keep both apart.
        if (fields.count(key) != 0) key = "format." + key;
        fields[key] = line.substr(eq + 1);
    }
    return fields;
}

inline double Number(const std::map<std::string, std::string>& fields, const std::string& key) {
    const auto it = fields.find(key);
    return it == fields.end() ? -1.0 : std::atof(it->second.c_str());
}

// Decodes any file with ffmpeg into 16-bit PCM (the independent decoder).
inline SndfileAudio DecodeWithFfmpeg(const std::string& path, const std::string& scratchWav) {
    std::remove(scratchWav.c_str());
    Run({"ffmpeg", "-v", "error", "-y", "-i", path, "-c:a", "pcm_s16le", scratchWav});
    return DecodeWithSndfile(scratchWav);
}

// Root mean square of one channel between two times (seconds).
inline double Rms(const SndfileAudio& audio, int channel, double from, double to) {
    if (audio.channels <= 0 || audio.rate <= 0) return -1.0;
    const size_t frames = audio.samples.size() / static_cast<size_t>(audio.channels);
    const size_t begin = std::min(frames, static_cast<size_t>(from * audio.rate));
    const size_t end = std::min(frames, static_cast<size_t>(to * audio.rate));
    if (end <= begin) return 0.0;
    double sum = 0;
    for (size_t i = begin; i < end; ++i) {
        const double v = audio.samples[i * static_cast<size_t>(audio.channels) + static_cast<size_t>(channel)];
        sum += v * v;
    }
    return std::sqrt(sum / static_cast<double>(end - begin));
}

// A 16-bit stereo WAV: a 440 Hz sine of amplitude 20000 on the left, silence on the right.
inline void WriteLeftToneWav(const std::string& path, int rate, int frames) {
    std::vector<uint8_t> b;
    PutTag(b, "RIFF");
    PutU32LE(b, static_cast<uint32_t>(36 + frames * 4));
    PutTag(b, "WAVE");
    PutTag(b, "fmt ");
    PutU32LE(b, 16);
    PutU16LE(b, 1);
    PutU16LE(b, 2);
    PutU32LE(b, static_cast<uint32_t>(rate));
    PutU32LE(b, static_cast<uint32_t>(rate * 4));
    PutU16LE(b, 4);
    PutU16LE(b, 16);
    PutTag(b, "data");
    PutU32LE(b, static_cast<uint32_t>(frames * 4));
    for (int i = 0; i < frames; ++i) {
        PutU16LE(b, static_cast<uint16_t>(static_cast<int16_t>(20000 * std::sin(2 * M_PI * 440.0 * i / rate))));
        PutU16LE(b, 0);
    }
    WriteBytes(path, b);
}

// pelloran-cli with an empty settings file and a home of its own; outputs go to out().
class CliFixture : public ::testing::Test {
protected:
    void SetUp() override { WriteBytes(settings_, {}); }

    CommandResult Cli(const std::string& format, const std::vector<std::string>& args) {
        std::vector<std::string> argv = {CliPath(), "-q", "-j1", "--settings", settings_, "-f", format, "-o", out_};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::Run(argv, {"HOME=" + dir_.path().string(), "XDG_CONFIG_HOME=" + (dir_ / "config")});
    }
    std::string Sine(const std::string& name, int rate, int channels, double seconds, int bits = 16) {
        const std::string path = dir_ / name;
        WriteSineWav(path, rate, channels, seconds, 440.0, bits);
        return path;
    }
    std::string Out(const std::string& name) const { return out_ + "/" + name; }

    TempDir dir_;
    std::string settings_ = dir_ / "settings.conf";
    std::string out_ = dir_ / "out";
};

}  // namespace pelloran::test
