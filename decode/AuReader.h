#pragma once
// Reader of Sun/NeXT AU and SND files in either byte order: linear PCM, float, G.711 and G.721/G.723 ADPCM.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "decode/AudioDecoder.h"
#include "decode/G726.h"
#include "decode/WidePcm.h"
#include "platform/File.h"

namespace pelloran {

class AuReader : public AudioDecoder {
public:
    AuReader();
    ~AuReader() override;

    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(void* left, void* right) override;
    bool IsTruncated() const override { return truncated; }
    PcmFormat WideFormat() override;
    bool UseWide() override;
    int ReadWide(int32_t* const* planes) override;

private:
    bool ParseHeader(const uint8_t* header, size_t size);
    // The stored layout of linear PCM and float data; false for the other encodings.
    bool Stored(StoredPcm& pcm) const;
    uint32_t Load32(const uint8_t* p) const { return bigEndian ? LoadU32BE(p) : LoadU32LE(p); }

    // Requests up to request bytes of audio data into ioBuffer; bytes read.
    size_t ReadData(size_t request);

    int ReadLinear(void* left, void* right);  // 8 to 32 bits, float, double, G.711
    int ReadAdpcm(void* left, void* right);

    int16_t ConvertSample(const uint8_t* p) const;

    int16_t (*expandByte)(uint8_t) = nullptr;
    int (AuReader::*readRoutine)(void*, void*) = nullptr;
    File fileHandle;
    std::vector<uint8_t> ioBuffer;  // grows to one read request, never beyond
    uint64_t dataStart = 0;
    int32_t sourceBits = 0;
    int32_t storedBytes = 0;
    uint32_t encoding = 0;
    int32_t bigEndian = 1;
    G726Decoder adpcmState[2];  // one decoder per channel
    int32_t codeBits = 0;
    uint32_t bitBuffer = 0;
    int32_t bitCount = 0;
    bool truncated = false;  // the stated data size runs past the end of the file, or a read came up short
    bool wide = false;
    bool started = false;  // a block was read
};

}  // namespace pelloran
