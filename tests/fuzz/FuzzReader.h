#pragma once
// Shared body of the reader fuzz targets: the input becomes a file, which is opened and read to the end
// with the real block buffers. Broken promises of the reader interface abort, so the fuzzer reports them.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "decode/AudioDecoder.h"
#include "decode/PcmSource.h"

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

// Reads the open reader to the end, or for at most maxBlocks blocks, into exactly sized planes; aborts when
// it breaks the interface (a format that is none, a block too long, a sample beyond the width) or never ends.
inline void ReadBlocks(AudioDecoder& reader, size_t inputSize, size_t maxBlocks) {
    const PcmFormat format = reader.Format();
    if (!format.Valid() || reader.GetDurationSeconds() < 0) std::abort();
    std::unique_ptr<int32_t[]> planes[kMaxChannels];
    int32_t* pointers[kMaxChannels] = {};
    for (int c = 0; c < format.channels; ++c) {
        planes[c].reset(new int32_t[kBlockFrames]);
        pointers[c] = planes[c].get();
    }
    // Every block that delivers frames uses up input, so the number of blocks is bounded by its bits.
    const size_t runaway = inputSize * 8 + 64;
    const int32_t top = format.bits == 32 ? INT32_MAX : (1 << (format.bits - 1)) - 1;
    for (size_t blocks = 0; blocks < maxBlocks; ++blocks) {
        const int frames = reader.Read(pointers);
        if (frames <= 0) break;
        if (frames > kBlockFrames || blocks >= runaway) std::abort();
        for (int c = 0; c < format.channels; ++c) {
            for (int i = 0; i < frames; ++i) {
                if (pointers[c][i] > top || pointers[c][i] < -top - 1) std::abort();
            }
        }
    }
    (void)reader.GetPosition();
    (void)reader.GetLength();
}

// Reads a source to the end in pieces that divide no block and gives the frame count; aborts when its format
// is no format, a read gives more than asked, or it gives more than maxFrames (it would never end).
inline uint64_t ReadSourceToEnd(PcmSource& source, uint64_t maxFrames) {
    const SourceFormat& format = source.Format();
    if (format.rate <= 0 || format.channels < 1 || format.FrameBytes() == 0) std::abort();
    constexpr size_t kFrames = 777;
    std::vector<uint8_t> block(kFrames * format.FrameBytes());
    uint64_t total = 0;
    while (const size_t n = source.Read(block.data(), kFrames)) {
        if (n > kFrames) std::abort();
        total += n;
        if (total > maxFrames) std::abort();
    }
    return total;
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
