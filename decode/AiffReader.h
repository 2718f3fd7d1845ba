#pragma once
// Reader of AIFF and AIFF-C files: integer PCM in both byte orders, float, µ-law, A-law, raw bytes,
// IMA4, GSM 06.10 and DWVW.

#include <cstdint>
#include <string>

#include "decode/SoundFileReader.h"

namespace pelloran {

class AiffReader final : public SoundFileReader {
public:
    AiffReader() = default;
    ~AiffReader() override { Close(); }

    void Close() override;
    int Open(const std::string& path, int rate) override;

    // Compression codes.
    static constexpr int kUlaw = 1;
    static constexpr int kAlaw = 2;
    static constexpr int kFloat32 = 3;
    static constexpr int kFloat64 = 4;
    static constexpr int kPcm = 5;
    static constexpr int kIma4 = 6;
    static constexpr int kRaw = 7;
    static constexpr int kGsm = 8;
    static constexpr int kDwvw = 9;

private:
    bool Stored(StoredPcm& pcm) const override;
    bool ParseChunks();
    bool ParseComm(uint32_t size, bool aifc);
    bool SetUp();

    uint32_t frameCount = 0;
    bool frameCountStated = false;  // COMM gave a real count (not 0 or all ones)
    int32_t sourceBits = 0;
    int32_t storedBytes = 0;  // bytes of one stored sample
    int32_t compression = kPcm;
    int32_t byteOrder = 2;  // 2 big-endian, 1 little-endian
    uint64_t fileSize = 0;
    uint64_t dataStart = 0;
    uint64_t dataSize = 0;
};

}  // namespace pelloran
