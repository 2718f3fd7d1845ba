#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

#include "decode/AudioDecoder.h"
#include "decode/PcmSource.h"
#include "encode/AudioWriter.h"

extern char** environ;

namespace pelloran::test {

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("pelloran-test-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore write permission on folders the tests made read-only, so they can be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

CommandResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    CommandResult result;
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0) return result;
    if (pipe(errPipe) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);

    // The extra variables replace those of the same name: getenv finds the first one.
    const auto overridden = [&env](std::string_view entry) {
        const std::string_view name = entry.substr(0, entry.find('='));
        return std::any_of(env.begin(), env.end(), [name](const std::string& extra) {
            return std::string_view(extra).substr(0, extra.find('=')) == name;
        });
    };
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        if (!overridden(*e)) envStrings.emplace_back(*e);
    }
    for (const auto& extra : env) envStrings.push_back(extra);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> args = argv;
    std::vector<char*> cargv;
    for (auto& a : args) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (rc != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

bool HaveTool(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string p = path;
    size_t start = 0;
    while (start <= p.size()) {
        const size_t end = p.find(':', start);
        const std::string dir = p.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

std::string CliPath() { return PELLORAN_CLI_PATH; }

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

SndfileAudio DecodeWithSndfile(const std::string& path) {
    SndfileAudio audio;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return audio;
    audio.rate = info.samplerate;
    audio.channels = info.channels;
    // Float data is read scaled to the full 16-bit range, not cast.
    sf_command(file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    audio.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t got = sf_readf_short(file, audio.samples.data(), info.frames);
    audio.samples.resize(static_cast<size_t>(got) * static_cast<size_t>(info.channels));
    sf_close(file);
    return audio;
}

MemoryFile::MemoryFile(const std::vector<uint8_t>& bytes) : fd_(memfd_create("cut", 0)) {
    if (fd_ >= 0 && !bytes.empty()) {
        if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("cannot fill an in-memory file");
    }
}

MemoryFile::~MemoryFile() {
    if (fd_ >= 0) close(fd_);
}

int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    if (a.size() != b.size()) return -1;
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

void PutU16LE(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32LE(std::vector<uint8_t>& out, uint32_t v) {
    PutU16LE(out, static_cast<uint16_t>(v));
    PutU16LE(out, static_cast<uint16_t>(v >> 16));
}
void PutU16BE(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}
void PutU32BE(std::vector<uint8_t>& out, uint32_t v) {
    PutU16BE(out, static_cast<uint16_t>(v >> 16));
    PutU16BE(out, static_cast<uint16_t>(v));
}
void PutTag(std::vector<uint8_t>& out, const char* fourcc) { out.insert(out.end(), fourcc, fourcc + 4); }

void WriteSineWav(const std::string& path, int rate, int channels, double seconds, double frequency, int bits) {
    const uint32_t frames = static_cast<uint32_t>(rate * seconds);
    const int bytes = bits / 8;
    const uint32_t dataSize = frames * static_cast<uint32_t>(channels * bytes);
    std::vector<uint8_t> out;
    PutTag(out, "RIFF");
    PutU32LE(out, 36 + dataSize);
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    PutU32LE(out, 16);
    PutU16LE(out, 1);
    PutU16LE(out, static_cast<uint16_t>(channels));
    PutU32LE(out, static_cast<uint32_t>(rate));
    PutU32LE(out, static_cast<uint32_t>(rate * channels * bytes));
    PutU16LE(out, static_cast<uint16_t>(channels * bytes));
    PutU16LE(out, static_cast<uint16_t>(bits));
    PutTag(out, "data");
    PutU32LE(out, dataSize);
    for (uint32_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double v = 0.5 * std::sin(2.0 * M_PI * frequency * i / rate + c * 0.7);
            if (bits == 8) {
                out.push_back(static_cast<uint8_t>(128 + static_cast<int>(v * 127)));
            } else {
                PutU16LE(out, static_cast<uint16_t>(static_cast<int16_t>(v * 32767)));
            }
        }
    }
    WriteBytes(path, out);
}

size_t EditListFrames(const std::string& path) {
    const CommandResult probe = Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                     "format=format_name:stream=duration_ts", "-of", "default=nw=1", path});
    if (probe.out.find("format_name=mov") == std::string::npos) return 0;
    const size_t at = probe.out.find("duration_ts=");
    return at == std::string::npos ? 0 : std::strtoull(probe.out.c_str() + at + 12, nullptr, 10);
}

std::vector<uint8_t> ReadAllFrames(PcmSource& source) {
    const size_t frameBytes = source.Format().FrameBytes();
    std::vector<uint8_t> all, block(1000 * frameBytes);
    while (const size_t n = source.Read(block.data(), 1000))
        all.insert(all.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(n * frameBytes));
    return all;
}

bool WriteSixteen(AudioWriter& writer, const int16_t* left, const int16_t* right, int frames) {
    const auto n = static_cast<size_t>(std::max(frames, 0));
    std::vector<int32_t> l(left, left + n);
    std::vector<int32_t> r = right != nullptr ? std::vector<int32_t>(right, right + n) : std::vector<int32_t>{};
    const int32_t* planes[2] = {l.data(), right != nullptr ? r.data() : nullptr};
    return writer.Write(planes, frames);
}

bool WriteEight(AudioWriter& writer, const uint8_t* left, const uint8_t* right, int frames) {
    const auto n = static_cast<size_t>(std::max(frames, 0));
    std::vector<int32_t> l(n), r(right != nullptr ? n : 0);
    for (size_t i = 0; i < n; ++i) {
        l[i] = left[i] - 128;
        if (right != nullptr) r[i] = right[i] - 128;
    }
    const int32_t* planes[2] = {l.data(), right != nullptr ? r.data() : nullptr};
    return writer.Write(planes, frames);
}

namespace {

int ReadFirstTwo(AudioDecoder& reader, std::vector<int32_t> (&planes)[kMaxChannels]) {
    const PcmFormat format = reader.Format();
    int32_t* pointers[kMaxChannels] = {};
    for (int c = 0; c < std::clamp(format.channels, 1, kMaxChannels); ++c) {
        planes[c].resize(kBlockFrames);
        pointers[c] = planes[c].data();
    }
    return reader.Read(pointers);
}

}  // namespace

int ReadSixteen(AudioDecoder& reader, int16_t* left, int16_t* right) {
    std::vector<int32_t> planes[kMaxChannels];
    const int frames = ReadFirstTwo(reader, planes);
    const int bits = reader.Format().bits;
    for (int i = 0; i < frames; ++i) {
        const auto at = static_cast<size_t>(i);
        const auto narrow = [bits](int32_t v) {
            return static_cast<int16_t>(bits < 16 ? v * (1 << (16 - bits)) : v >> (bits - 16));
        };
        left[i] = narrow(planes[0][at]);
        if (right != nullptr && reader.Format().channels > 1) right[i] = narrow(planes[1][at]);
    }
    return frames;
}

int ReadEight(AudioDecoder& reader, uint8_t* left, uint8_t* right) {
    std::vector<int32_t> planes[kMaxChannels];
    const int frames = ReadFirstTwo(reader, planes);
    for (int i = 0; i < frames; ++i) {
        const auto at = static_cast<size_t>(i);
        left[i] = static_cast<uint8_t>(planes[0][at] + 128);
        if (right != nullptr && reader.Format().channels > 1) right[i] = static_cast<uint8_t>(planes[1][at] + 128);
    }
    return frames;
}

std::vector<int32_t> ReadAllSamples(AudioDecoder& reader) {
    std::vector<int32_t> all;
    std::vector<int32_t> planes[kMaxChannels];
    const int channels = reader.Format().channels;
    while (true) {
        const int frames = ReadFirstTwo(reader, planes);
        if (frames <= 0) break;
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c) all.push_back(planes[c][static_cast<size_t>(i)]);
    }
    return all;
}

}  // namespace pelloran::test
