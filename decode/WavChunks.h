#pragma once
// The chunk walk of RIFF and RF64 WAVE files, shared by the WAV reader and the general reader's WAV source:
// each chunk's id, size and where its body starts, read at offsets of an open file, every step bounded by
// the file's size.

#include <cstdint>
#include <cstring>
#include <optional>

namespace pelloran {

class File;

struct WavChunk {
    char id[4] = {};
    uint64_t size = 0;  // as stated; RF64 gives the data chunk's size in its "ds64" chunk
    uint64_t body = 0;  // offset of the first byte after the 8-byte header

    bool Is(const char (&name)[5]) const { return std::memcmp(id, name, 4) == 0; }
    uint64_t End() const { return body + size; }
};

// Where the chunk after one starts: at its end rounded up to an even offset (as FFmpeg walks the header), at
// its end plus a pad byte after an odd size (as FFmpeg looks for more data), or at the first letter from its
// end on (past pad and stray bytes some writers leave).
enum class ChunkStep { Even, EvenSize, NextLetter };

class WavChunks {
public:
    // Reads the 12-byte RIFF/RF64 WAVE header; nothing when the file is no WAVE file, or an RF64 file without
    // its "ds64" chunk first. The file must stay open while the walk lives.
    static std::optional<WavChunks> Start(const File& file, ChunkStep step);

    bool Rf64() const { return rf64_; }
    uint64_t FileSize() const { return fileSize_; }
    // The next chunk's header; nothing at the end of the file, or when the chunk before ended past it.
    std::optional<WavChunk> Next();
    // Walks on from a chunk header at offset at, stepping as step says.
    void Resume(uint64_t at, ChunkStep step) {
        at_ = at;
        step_ = step;
        first_ = true;
    }

private:
    WavChunks(const File& file, ChunkStep step, uint64_t fileSize) : file_(&file), step_(step), fileSize_(fileSize) {}
    // Offset of the first letter from at on, or nothing.
    std::optional<uint64_t> LetterFrom(uint64_t at) const;

    const File* file_;
    ChunkStep step_;
    uint64_t fileSize_;
    uint64_t at_ = 12;          // header of the next chunk, or the end of the one before
    uint64_t lastSize_ = 0;     // stated size of the one before
    bool first_ = true;
    bool rf64_ = false;
    uint64_t rf64DataSize_ = 0;  // from "ds64"
};

}  // namespace pelloran
