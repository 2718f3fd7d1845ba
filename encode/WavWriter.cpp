#include "encode/WavWriter.h"

#include <cstring>
#include <limits>

#include "encode/Interleave.h"

namespace pelloran {

bool WavWriter::Open(const std::string& path, bool stereo, int bits, int rate) {
    Close();
    failed_ = false;
    if (!file_.Open(path, "wb")) return false;
    channels_ = stereo ? 2 : 1;
    const auto bitsU = static_cast<uint16_t>(bits);
    uint8_t header[44];
    std::memcpy(header, "RIFF", 4);
    StoreU32LE(header + 4, 36);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    StoreU32LE(header + 16, 16);
    StoreU16LE(header + 20, 1);
    StoreU16LE(header + 22, channels_);
    StoreU32LE(header + 24, static_cast<uint32_t>(rate));
    StoreU32LE(header + 28, (static_cast<uint32_t>(channels_) * bitsU * static_cast<uint32_t>(rate)) >> 3);
    StoreU16LE(header + 32, static_cast<uint16_t>(channels_ * bitsU / 8));
    StoreU16LE(header + 34, bitsU);
    std::memcpy(header + 36, "data", 4);
    StoreU32LE(header + 40, 0);
    if (!file_.Write(header, sizeof header)) failed_ = true;
    return true;
}

bool WavWriter::WriteInterleaved(const void* left, const void* right, int frames, int bytesPerSample) {
    if (!file_.IsOpen() || frames < 0) return false;
    if (failed_) return false;
    const size_t n = static_cast<size_t>(frames);
    const size_t sampleBytes = static_cast<size_t>(bytesPerSample);
    bool ok = false;
    if (channels_ == 1) {
        ok = file_.Write(left, n * sampleBytes);
    } else {
        InterleaveStereo(left, right, n, sampleBytes, interleave_);
        ok = file_.Write(interleave_.data(), interleave_.size());
    }
    if (!ok) failed_ = true;
    return ok;
}

bool WavWriter::Write16(const int16_t* left, const int16_t* right, int frames) {
    return WriteInterleaved(left, right, frames, 2);
}

bool WavWriter::Write8(const uint8_t* left, const uint8_t* right, int frames) {
    return WriteInterleaved(left, right, frames, 1);
}

bool WavWriter::Close() {
    if (!file_.IsOpen()) return true;
    bool ok = !failed_ && std::fflush(file_.Get()) == 0;
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
    ok = file_.Close() && ok;
    failed_ = false;
    return ok;
}

}  // namespace pelloran
