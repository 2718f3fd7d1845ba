#pragma once
// Shared body of the reader fuzz targets: the input becomes a file, which is opened and read to the end
// with the real block buffers. Broken promises of the reader interface abort, so the fuzzer reports them.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "decode/AudioDecoder.h"

namespace pelloran::fuzz {

// Owns an in-memory file that the readers open by its /proc path.
class MemoryFile {
public:
    MemoryFile(const uint8_t* data, size_t size) : fd_(memfd_create("fuzz-input", 0)) {
        size_t done = 0;
        while (fd_ >= 0 && done < size) {
            const ssize_t n = write(fd_, data + done, size - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        complete_ = fd_ >= 0 && done == size;
    }
    ~MemoryFile() {
        if (fd_ >= 0) close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool Ok() const { return complete_; }
    std::string Path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
    bool complete_ = false;
};

// Reads the open reader to the end, or for at most maxBlocks blocks; aborts when it breaks the
// interface or never ends.
inline void ReadBlocks(AudioDecoder& reader, size_t inputSize, size_t maxBlocks) {
    const int outputChannels = reader.GetOutputChannels();
    const int bits = reader.GetBitsPerSample();
    if ((outputChannels != 1 && outputChannels != 2) || (bits != 8 && bits != 16)) std::abort();
    if (reader.GetSampleRate() <= 0 || reader.GetDurationSeconds() < 0) std::abort();
    const size_t bufferBytes = static_cast<size_t>(kBlockFrames) * static_cast<size_t>(bits / 8);
    // Exactly sized, so that a write past a block is caught; no second buffer for mono output.
    std::unique_ptr<uint8_t[]> left(new uint8_t[bufferBytes]);
    std::unique_ptr<uint8_t[]> right(outputChannels == 2 ? new uint8_t[bufferBytes] : nullptr);
    // Every block that delivers frames uses up input, so the number of blocks is bounded by its bits.
    const size_t runaway = inputSize * 8 + 64;
    for (size_t blocks = 0; blocks < maxBlocks; ++blocks) {
        const int frames = reader.Read(left.get(), right.get());
        if (frames <= 0) break;
        if (frames > kBlockFrames || blocks >= runaway) std::abort();
    }
    (void)reader.GetPosition();
    (void)reader.GetLength();
}

inline int FuzzReader(std::unique_ptr<AudioDecoder> reader, const uint8_t* data, size_t size) {
    if (!reader) return 0;
    MemoryFile file(data, size);
    if (!file.Ok()) return 0;
    if (reader->Open(file.Path(), 0)) {
        ReadBlocks(*reader, size, SIZE_MAX);
        // Opening again on an open reader starts over; read a little of it.
        if (reader->Open(file.Path(), 0)) ReadBlocks(*reader, size, 2);
        reader->Close();
    }
    return 0;
}

}  // namespace pelloran::fuzz
