#pragma once
// Inputs for the decoder tests: files made by ffmpeg, and tracker modules and MIDI files built from bytes.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace pelloran::test {

// Runs ffmpeg quietly on a generated tone; true when the output was made.
inline bool MakeWithFfmpeg(const std::vector<std::string>& inputAndCodecArgs, const std::string& output) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-nostdin", "-y"};
    argv.insert(argv.end(), inputAndCodecArgs.begin(), inputAndCodecArgs.end());
    argv.push_back(output);
    return Run(argv).exitCode == 0;
}

// A tone of `seconds` with `channels` channels (a different frequency per channel) at `rate`, as ffmpeg input.
inline std::vector<std::string> ToneInput(int rate, int channels, double seconds) {
    std::string graph;
    for (int c = 0; c < channels; ++c) {
        graph += "sine=frequency=" + std::to_string(220 * (c + 1)) + ":sample_rate=" + std::to_string(rate) +
                 ":duration=" + std::to_string(seconds) + "[c" + std::to_string(c) + "];";
    }
    for (int c = 0; c < channels; ++c) graph += "[c" + std::to_string(c) + "]";
    if (channels > 1) {
        graph += "amerge=inputs=" + std::to_string(channels);
    } else {
        graph += "anull";
    }
    return {"-filter_complex", graph};
}

// A tone encoded by ffmpeg into dir/name with the given codec arguments; its path ("" when ffmpeg failed).
inline std::string EncodeTone(const TempDir& dir, const std::string& name, int rate, int channels, double seconds,
                              const std::vector<std::string>& codec) {
    std::vector<std::string> args = ToneInput(rate, channels, seconds);
    args.insert(args.end(), codec.begin(), codec.end());
    const std::string path = dir / name;
    return MakeWithFfmpeg(args, path) ? path : std::string();
}

struct RawAudio {
    std::vector<int16_t> samples;  // interleaved
    int channels = 0;
};

// ffmpeg's own decode of a file as 16-bit interleaved samples, every channel (the reference).
inline RawAudio FfmpegDecode(const std::string& path, const std::string& scratch) {
    RawAudio audio;
    const CommandResult probe = Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                     "stream=channels", "-of", "csv=p=0", path});
    audio.channels = std::atoi(probe.out.c_str());
    if (Run({"ffmpeg", "-v", "error", "-nostdin", "-y", "-i", path, "-map", "0:a:0", "-f", "s16le", "-acodec",
             "pcm_s16le", scratch})
            .exitCode != 0) {
        return audio;
    }
    const std::vector<uint8_t> bytes = ReadBytes(scratch);
    audio.samples.resize(bytes.size() / 2);
    for (size_t i = 0; i < audio.samples.size(); ++i) {
        audio.samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    // Our readers end where an MP4 edit list ends.
    if (const size_t frames = EditListFrames(path); frames > 0 && audio.channels > 0)
        audio.samples.resize(std::min(audio.samples.size(), frames * static_cast<size_t>(audio.channels)));
    return audio;
}

// A four-channel ProTracker module: one looped square-wave sample played on row 0 at speed 1, so the single
// pattern lasts 64 rows x 20 ms = 1.28 s. With loop, the last row jumps back to the start forever.
inline std::vector<uint8_t> MakeModule(bool loop) {
    const char title[20] = "pelloran test";
    std::vector<uint8_t> mod(title, title + 20);
    for (int s = 0; s < 31; ++s) {
        std::vector<uint8_t> header(30, 0);
        if (s == 0) {
            const char name[] = "square";
            std::copy(name, name + 6, header.begin());
            header[22] = 0;
            header[23] = 16;  // length in words
            header[25] = 64;  // volume
            header[29] = 16;  // repeat length in words: loop the whole sample
        } else {
            header[29] = 1;
        }
        mod.insert(mod.end(), header.begin(), header.end());
    }
    mod.push_back(1);    // song length
    mod.push_back(127);  // restart position
    std::vector<uint8_t> orders(128, 0);
    mod.insert(mod.end(), orders.begin(), orders.end());
    PutTag(mod, "M.K.");

    std::vector<uint8_t> pattern(64 * 4 * 4, 0);
    auto cell = [&](int row, int channel) { return pattern.begin() + (row * 4 + channel) * 4; };
    auto c0 = cell(0, 0);
    c0[0] = 0x00;  // sample high nibble, period high bits
    c0[1] = 214;   // period of C-3
    c0[2] = 0x10;  // sample 1, no effect
    auto c1 = cell(0, 1);
    c1[2] = 0x0F;  // set speed
    c1[3] = 0x01;
    if (loop) {
        auto jump = cell(63, 1);
        jump[2] = 0x0B;  // position jump to order 0
        jump[3] = 0x00;
    }
    mod.insert(mod.end(), pattern.begin(), pattern.end());
    for (int i = 0; i < 32; ++i) mod.push_back(i < 16 ? 100 : static_cast<uint8_t>(-100));
    return mod;
}

inline void PutVlq(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    int n = 0;
    do {
        bytes[n++] = value & 0x7F;
        value >>= 7;
    } while (value != 0 && n < 4);
    for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(bytes[i] | (i > 0 ? 0x80 : 0)));
}

inline void PutMidiChunk(std::vector<uint8_t>& out, const char* tag, const std::vector<uint8_t>& body) {
    PutTag(out, tag);
    PutU32BE(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

// Format 0, 480 ticks per quarter: a piano note for 480 ticks at 120 bpm (0.5 s), then the tempo doubles
// and a second note and a rest take 960 ticks (0.5 s). One second in all.
inline std::vector<uint8_t> MakeMidiSong() {
    std::vector<uint8_t> track;
    auto event = [&](uint32_t delta, std::initializer_list<uint8_t> bytes) {
        PutVlq(track, delta);
        track.insert(track.end(), bytes);
    };
    event(0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});  // 500000 us per quarter
    event(0, {0xC0, 0x00});                          // piano
    event(0, {0x90, 60, 100});
    event(480, {0x80, 60, 0});
    event(0, {0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90});  // 250000 us per quarter
    event(0, {0x90, 67, 100});
    event(0, {71, 100});                             // running status: a third note on
    event(480, {0x80, 67, 0});
    event(0, {71, 0});                               // running status note off
    event(480, {0xFF, 0x2F, 0x00});

    std::vector<uint8_t> header;
    PutU16BE(header, 0);    // format
    PutU16BE(header, 1);    // tracks
    PutU16BE(header, 480);  // division
    std::vector<uint8_t> smf;
    PutMidiChunk(smf, "MThd", header);
    PutMidiChunk(smf, "MTrk", track);
    return smf;
}

}  // namespace pelloran::test
