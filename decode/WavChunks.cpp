#include "decode/WavChunks.h"

#include <algorithm>

#include "platform/File.h"

namespace pelloran {

namespace {

bool IsLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

}  // namespace

std::optional<WavChunks> WavChunks::Start(const File& file, ChunkStep step) {
    const int64_t size = file.Size();
    uint8_t riff[12];
    if (size < 12 || !file.ReadExactAt(0, riff, sizeof riff) || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return std::nullopt;
    WavChunks chunks(file, step, static_cast<uint64_t>(size));
    if (std::memcmp(riff, "RIFF", 4) == 0) return chunks;
    if (std::memcmp(riff, "RF64", 4) != 0) return std::nullopt;
    // RF64: the 64-bit sizes come first, in "ds64" (RIFF size, data size, sample count, table of others).
    uint8_t ds64[8 + 24];
    if (!file.ReadExactAt(12, ds64, sizeof ds64) || std::memcmp(ds64, "ds64", 4) != 0 || LoadU32LE(ds64 + 4) < 24)
        return std::nullopt;
    chunks.rf64_ = true;
    chunks.rf64DataSize_ = LoadU32LE(ds64 + 16) | static_cast<uint64_t>(LoadU32LE(ds64 + 20)) << 32;
    return chunks;
}

std::optional<uint64_t> WavChunks::LetterFrom(uint64_t at) const {
    uint8_t bytes[256];
    while (at < fileSize_) {
        const int64_t got = file_->ReadAt(static_cast<int64_t>(at), bytes, sizeof bytes);
        if (got <= 0) return std::nullopt;
        uint8_t* end = bytes + got;
        uint8_t* letter = std::find_if(bytes, end, IsLetter);
        if (letter != end) return at + static_cast<uint64_t>(letter - bytes);
        at += static_cast<uint64_t>(got);
    }
    return std::nullopt;
}

std::optional<WavChunk> WavChunks::Next() {
    if (!first_) {
        if (at_ >= fileSize_) return std::nullopt;
        if (step_ == ChunkStep::Even) {
            at_ += at_ & 1;
        } else if (step_ == ChunkStep::EvenSize) {
            at_ += lastSize_ & 1;
        } else {
            const std::optional<uint64_t> letter = LetterFrom(at_);
            if (!letter) return std::nullopt;
            at_ = *letter;
        }
    }
    first_ = false;
    uint8_t head[8];
    if (fileSize_ < 8 || at_ > fileSize_ - 8 || !file_->ReadExactAt(static_cast<int64_t>(at_), head, sizeof head))
        return std::nullopt;
    WavChunk chunk;
    std::memcpy(chunk.id, head, 4);
    chunk.size = LoadU32LE(head + 4);
    chunk.body = at_ + 8;
    // RF64 states the data size in "ds64" when the chunk's own field is all ones.
    if (rf64_ && chunk.Is("data") && chunk.size == 0xFFFFFFFFu) chunk.size = rf64DataSize_;
    lastSize_ = chunk.size;
    at_ = chunk.End();
    return chunk;
}

}  // namespace pelloran
