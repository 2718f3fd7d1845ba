#pragma once
// Owning wrapper of a stdio stream, with the little- and big-endian reads the readers use.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace pelloran {

class File {
public:
    File() = default;
    ~File() { Close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept : fp_(other.fp_), buffer_(std::move(other.buffer_)) { other.fp_ = nullptr; }
    File& operator=(File&& other) noexcept;

    bool Open(const std::string& path, const char* mode);
    // Flushes and closes; false when buffered data could not be written.
    bool Close();
    bool IsOpen() const { return fp_ != nullptr; }
    std::FILE* Get() const { return fp_; }

    size_t Read(void* buffer, size_t bytes);
    bool ReadExact(void* buffer, size_t bytes) { return Read(buffer, bytes) == bytes; }
    // Reads at an offset without moving the stream, so that several readers can share one open file.
    // Bytes read (fewer at the end of the file), -1 on a read error.
    int64_t ReadAt(int64_t offset, void* buffer, size_t bytes) const;
    bool ReadExactAt(int64_t offset, void* buffer, size_t bytes) const {
        return ReadAt(offset, buffer, bytes) == static_cast<int64_t>(bytes);
    }
    bool Write(const void* buffer, size_t bytes);
    bool Seek(int64_t offset, int whence = SEEK_SET);
    // Moves forward by bytes without reading them; false past the end of the file.
    bool Skip(uint64_t bytes);
    int64_t Tell() const;
    // Size of the open file in bytes, -1 when unknown.
    int64_t Size() const;
    bool AtEnd() const;

    bool ReadU8(uint8_t& v);
    bool ReadU16LE(uint16_t& v);
    bool ReadU32LE(uint32_t& v);
    bool ReadU16BE(uint16_t& v);
    bool ReadU32BE(uint32_t& v);

private:
    std::FILE* fp_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // the stream's buffer (the library would pick its own small size)
};

inline uint16_t LoadU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32LE(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t LoadU16BE(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t LoadU32BE(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline void StoreU16LE(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32LE(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace pelloran
