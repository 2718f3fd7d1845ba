#include "encode/WavWriter.h"

#include <cstring>
#include <limits>

#include "encode/Interleave.h"

namespace pelloran {

namespace {

// Speaker positions of each channel count, in the order FLAC and WAVE give them by default.
constexpr uint32_t kChannelMasks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};
// The sub-format GUID of integer PCM.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

bool WavWriter::Begin(const std::string& path, const PcmFormat& format, const TagRecord&) {
    if (!Io(file_.Open(path, "wb"))) return false;
    const auto channels = static_cast<uint16_t>(format.channels);
    const auto bits = static_cast<uint16_t>(format.bits);
    const auto rate = static_cast<uint32_t>(format.rate);
    // More than two channels or more than 16 bits need the extensible header (its channel mask and valid bits).
    const bool extensible = format.channels > 2 || format.bits > 16;
    const uint32_t fmtBytes = extensible ? 40 : 16;
    dataOffset_ = 12 + 8 + fmtBytes + 8;
    std::vector<uint8_t> header(static_cast<size_t>(dataOffset_));
    uint8_t* h = header.data();
    std::memcpy(h, "RIFF", 4);
    StoreU32LE(h + 4, static_cast<uint32_t>(dataOffset_ - 8));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    StoreU32LE(h + 16, fmtBytes);
    StoreU16LE(h + 20, extensible ? 0xFFFE : 1);
    StoreU16LE(h + 22, channels);
    StoreU32LE(h + 24, rate);
    StoreU32LE(h + 28, (static_cast<uint32_t>(channels) * bits * rate) >> 3);
    StoreU16LE(h + 32, static_cast<uint16_t>(channels * bits / 8));
    StoreU16LE(h + 34, bits);
    if (extensible) {
        StoreU16LE(h + 36, 22);
        StoreU16LE(h + 38, bits);  // valid bits: all of the container
        StoreU32LE(h + 40, kChannelMasks[channels]);
        std::memcpy(h + 44, kPcmSubFormat, sizeof kPcmSubFormat);
    }
    std::memcpy(h + dataOffset_ - 8, "data", 4);
    StoreU32LE(h + dataOffset_ - 4, 0);
    return Io(file_.Write(header.data(), header.size()));
}

bool WavWriter::Put(const int32_t* const* planes, int frames) {
    const PcmFormat& format = Format();
    InterleaveBytes(planes, format.channels, format.bits, static_cast<size_t>(frames), interleave_);
    const size_t bytes = static_cast<size_t>(frames) * static_cast<size_t>(format.channels * format.bits / 8);
    return Io(file_.Write(interleave_.data(), bytes));
}

bool WavWriter::End() {
    const int64_t dataEnd = file_.Tell();
    // A chunk of odd size is followed by a pad byte, counted by RIFF but not by the data chunk.
    bool ok = dataEnd >= 0 && ((dataEnd - dataOffset_) % 2 == 0 || Io(file_.Write("", 1)));
    ok = Io(std::fflush(file_.Get()) == 0) && ok;
    const int64_t size = file_.Tell();
    // RIFF sizes are 32-bit; a file past 4 GiB cannot be described and is refused.
    if (size < dataOffset_ || size - 8 > static_cast<int64_t>(std::numeric_limits<uint32_t>::max())) ok = false;
    if (ok) {
        uint8_t field[4];
        StoreU32LE(field, static_cast<uint32_t>(size - 8));
        ok = Io(file_.Seek(4) && file_.Write(field, 4));
        StoreU32LE(field, static_cast<uint32_t>(dataEnd - dataOffset_));
        ok = ok && Io(file_.Seek(dataOffset_ - 4) && file_.Write(field, 4));
    }
    return Io(file_.Close()) && ok;
}

void WavWriter::Release() {
    file_.Close();
    interleave_.clear();
}

}  // namespace pelloran
