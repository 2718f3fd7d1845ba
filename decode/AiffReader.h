#pragma once
// Reader of AIFF and AIFF-C files: integer PCM in both byte orders, float, µ-law, A-law, raw bytes,
// IMA4, GSM 06.10 and DWVW.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decode/AudioDecoder.h"
#include "decode/Dwvw.h"
#include "decode/Gsm610.h"
#include "decode/ImaAdpcm.h"
#include "decode/WidePcm.h"
#include "platform/File.h"

namespace pelloran {

class AiffReader : public AudioDecoder {
public:
    AiffReader();
    ~AiffReader() override;

    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(void* left, void* right) override;
    bool IsTruncated() const override { return truncated; }
    PcmFormat WideFormat() override;
    bool UseWide() override;
    int ReadWide(int32_t* const* planes) override;

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
    class DataSource;

    // The stored layout of integer PCM and float data; false for the other encodings.
    bool Stored(StoredPcm& pcm) const;
    bool ParseChunks();
    bool ParseComm(uint32_t size, bool aifc);
    bool SetUp();

    // Reads up to request bytes of sound data (never past its end) into dest; bytes read.
    size_t ReadData(uint8_t* dest, size_t request);
    // Reads up to request bytes of sound data into ioBuffer; bytes read.
    size_t ReadData(size_t request);

    int ReadPcm8(void* left, void* right);
    int ReadRaw(void* left, void* right);
    int ReadPcm16(void* left, void* right);  // 9 to 32 bits, either byte order
    int ReadFloat32(void* left, void* right);
    int ReadFloat64(void* left, void* right);
    int ReadG711(void* left, void* right);
    int ReadIma4(void* left, void* right);
    int ReadGsm(void* left, void* right);
    int ReadDwvw(void* left, void* right);

    // Converts the whole frames of got bytes in ioBuffer with convert(pointer to a stored sample).
    template <typename Sample, typename Convert>
    int DeliverFrames(void* left, void* right, size_t got, Convert convert);

    int16_t (*expandByte)(uint8_t) = nullptr;
    int (AiffReader::*readRoutine)(void*, void*) = nullptr;
    uint32_t frameCount = 0;
    bool frameCountStated = false;  // COMM gave a real count (not 0 or all ones)
    int32_t sourceBits = 0;
    int32_t storedBytes = 0;      // bytes of one stored sample
    int32_t secondOffset = 0;     // bytes from channel 1 to the sample delivered as channel 2
    int32_t nextFrameOffset = 0;  // bytes from that sample to the next frame
    int32_t compression = kPcm;
    int32_t byteOrder = 2;  // 2 big-endian, 1 little-endian
    ImaChannelState imaState[2];
    Gsm610Decoder gsmState;
    int16_t gsmSamples[160] = {};
    std::unique_ptr<DwvwDecoder> dwvwState;
    std::vector<int32_t> dwvwValues;
    uint64_t dwvwValuesLeft = 0;  // values the COMM frame count still allows
    File fileHandle;
    std::vector<uint8_t> ioBuffer;  // grows to one read request, never beyond
    uint64_t fileSize = 0;
    uint64_t dataStart = 0;
    uint64_t dataSize = 0;
    uint64_t dataLeft = 0;
    bool truncated = false;  // the sound data runs past the end of the file, or a read came up short
    bool wide = false;
    bool started = false;  // a block was read
};

}  // namespace pelloran
