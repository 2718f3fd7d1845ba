#pragma once
// Helpers shared by the tests: scratch folders, running programs, making and reading WAV files.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pelloran {
class AudioDecoder;
class AudioWriter;
class PcmSource;
}  // namespace pelloran

namespace pelloran::test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program with an argument vector (no shell); stdin is /dev/null.
CommandResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// True when a program of that name is on PATH.
bool HaveTool(const std::string& name);
// Path of the built pelloran-cli.
std::string CliPath();

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Interleaved 16-bit samples of a WAV file, decoded by libsndfile (the oracle); empty on failure.
struct SndfileAudio {
    int rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;
};
SndfileAudio DecodeWithSndfile(const std::string& path);

// A canonical 16-bit PCM WAV with a sine of the given frequency on each channel (phase-shifted per channel).
void WriteSineWav(const std::string& path, int rate, int channels, double seconds, double frequency = 440.0,
                  int bits = 16);

// An in-memory file with a path (/proc/self/fd/N), for the many small files of the damage tests.
class MemoryFile {
public:
    explicit MemoryFile(const std::vector<uint8_t>& bytes);
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

// Largest sample difference, or -1 when the lengths differ.
int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b);

// Little-endian byte builders for hand-made files.
void PutU16LE(std::vector<uint8_t>& out, uint16_t v);
void PutU32LE(std::vector<uint8_t>& out, uint32_t v);
void PutU16BE(std::vector<uint8_t>& out, uint16_t v);
void PutU32BE(std::vector<uint8_t>& out, uint32_t v);
void PutTag(std::vector<uint8_t>& out, const char* fourcc);

// The frames an MP4-family file presents by its edit list (ffprobe's duration of the first audio stream); 0 for
// other files. FFmpeg 5 decodes past the list's end, our readers stop there.
size_t EditListFrames(const std::string& path);

// Everything a source gives, read in blocks of 1000 frames (which divide no codec's blocks).
std::vector<uint8_t> ReadAllFrames(PcmSource& source);

// Tests' 16-bit planar blocks (right only for two channels) through a writer's int32 planes.
bool WriteSixteen(AudioWriter& writer, const int16_t* left, const int16_t* right, int frames);
// The same for 8-bit unsigned samples, as WAV stores them.
bool WriteEight(AudioWriter& writer, const uint8_t* left, const uint8_t* right, int frames);

// One block of a reader's output as 16-bit (or, at 8 bits, unsigned 8-bit) planar samples of its first two
// channels, as tests compare them; frames read.
int ReadSixteen(AudioDecoder& reader, int16_t* left, int16_t* right);
int ReadEight(AudioDecoder& reader, uint8_t* left, uint8_t* right);
// Everything a reader delivers, interleaved at its width.
std::vector<int32_t> ReadAllSamples(AudioDecoder& reader);

}  // namespace pelloran::test
