#include "encode/WavWriter.h"

#include <cstring>
#include <limits>

#include "encode/Interleave.h"

namespace pelloran {

bool WavWriter::Begin(const std::string& path, const PcmFormat& format, const TagRecord&) {
    if (!file_.Open(path, "wb")) return false;
    const auto channels = static_cast<uint16_t>(format.channels);
    const auto bits = static_cast<uint16_t>(format.bits);
    const auto rate = static_cast<uint32_t>(format.rate);
    uint8_t header[44];
    std::memcpy(header, "RIFF", 4);
    StoreU32LE(header + 4, 36);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    StoreU32LE(header + 16, 16);
    StoreU16LE(header + 20, 1);
    StoreU16LE(header + 22, channels);
    StoreU32LE(header + 24, rate);
    StoreU32LE(header + 28, (static_cast<uint32_t>(channels) * bits * rate) >> 3);
    StoreU16LE(header + 32, static_cast<uint16_t>(channels * bits / 8));
    StoreU16LE(header + 34, bits);
    std::memcpy(header + 36, "data", 4);
    StoreU32LE(header + 40, 0);
    return file_.Write(header, sizeof header);
}

bool WavWriter::Put(const void* left, const void* right, int frames) {
    const size_t n = static_cast<size_t>(frames);
    const size_t sampleBytes = static_cast<size_t>(Format().bits / 8);
    if (Format().channels == 1) return file_.Write(left, n * sampleBytes);
    InterleaveStereo(left, right, n, sampleBytes, interleave_);
    return file_.Write(interleave_.data(), interleave_.size());
}

bool WavWriter::End() {
    bool ok = std::fflush(file_.Get()) == 0;
    const int64_t size = file_.Tell();
    // RIFF sizes are 32-bit; a file past 4 GiB cannot be described and is refused.
    if (size < 44 || size - 8 > static_cast<int64_t>(std::numeric_limits<uint32_t>::max())) ok = false;
    if (ok) {
        uint8_t field[4];
        StoreU32LE(field, static_cast<uint32_t>(size - 8));
        ok = file_.Seek(4) && file_.Write(field, 4);
        StoreU32LE(field, static_cast<uint32_t>(size - 44));
        ok = ok && file_.Seek(40) && file_.Write(field, 4);
    }
    return file_.Close() && ok;
}

void WavWriter::Release() {
    file_.Close();
    interleave_.clear();
}

}  // namespace pelloran
