#include "platform/File.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace pelloran {

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fp_ = other.fp_;
        other.fp_ = nullptr;
        buffer_ = std::move(other.buffer_);
    }
    return *this;
}

namespace {
constexpr size_t kBufferBytes = 256 * 1024;
}  // namespace

bool File::Open(const std::string& path, const char* mode) {
    Close();
    fp_ = std::fopen(path.c_str(), mode);
    // Large blocks: few system calls for the block-sized reads and writes of a conversion. The buffer is
    // given, since without one the library keeps its own size.
    if (fp_ != nullptr) {
        buffer_ = std::make_unique_for_overwrite<char[]>(kBufferBytes);
        std::setvbuf(fp_, buffer_.get(), _IOFBF, kBufferBytes);
    }
    return fp_ != nullptr;
}

bool File::Close() {
    if (fp_ == nullptr) return true;
    const bool flushed = std::fflush(fp_) == 0;
    const bool closed = std::fclose(fp_) == 0;
    fp_ = nullptr;
    buffer_.reset();
    return flushed && closed;
}

size_t File::Read(void* buffer, size_t bytes) {
    if (fp_ == nullptr || bytes == 0) return 0;
    return std::fread(buffer, 1, bytes, fp_);
}

int64_t File::ReadAt(int64_t offset, void* buffer, size_t bytes) const {
    if (fp_ == nullptr || offset < 0) return -1;
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < bytes) {
        const auto at = static_cast<off_t>(offset + static_cast<int64_t>(done));
        const ssize_t got = pread(fileno(fp_), out + done, bytes - done, at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool File::Write(const void* buffer, size_t bytes) {
    if (fp_ == nullptr) return false;
    if (bytes == 0) return true;
    return std::fwrite(buffer, 1, bytes, fp_) == bytes;
}

bool File::Seek(int64_t offset, int whence) {
    return fp_ != nullptr && fseeko(fp_, static_cast<off_t>(offset), whence) == 0;
}

bool File::Skip(uint64_t bytes) {
    if (fp_ == nullptr) return false;
    const int64_t here = Tell();
    const int64_t size = Size();
    if (here < 0 || size < 0) return false;
    if (bytes > static_cast<uint64_t>(size - here)) {
        Seek(0, SEEK_END);
        return false;
    }
    return Seek(here + static_cast<int64_t>(bytes));
}

int64_t File::Tell() const { return fp_ == nullptr ? -1 : static_cast<int64_t>(ftello(fp_)); }

int64_t File::Size() const {
    if (fp_ == nullptr) return -1;
    struct stat st {};
    if (fstat(fileno(fp_), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool File::AtEnd() const { return fp_ == nullptr || std::feof(fp_) != 0; }

bool File::ReadU8(uint8_t& v) { return ReadExact(&v, 1); }

bool File::ReadU16LE(uint16_t& v) {
    uint8_t b[2];
    if (!ReadExact(b, 2)) return false;
    v = LoadU16LE(b);
    return true;
}

bool File::ReadU32LE(uint32_t& v) {
    uint8_t b[4];
    if (!ReadExact(b, 4)) return false;
    v = LoadU32LE(b);
    return true;
}

bool File::ReadU16BE(uint16_t& v) {
    uint8_t b[2];
    if (!ReadExact(b, 2)) return false;
    v = LoadU16BE(b);
    return true;
}

bool File::ReadU32BE(uint32_t& v) {
    uint8_t b[4];
    if (!ReadExact(b, 4)) return false;
    v = LoadU32BE(b);
    return true;
}

}  // namespace pelloran
