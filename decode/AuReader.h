#pragma once
// Reader of Sun/NeXT AU and SND files in either byte order: linear PCM, float, G.711 and G.721/G.723 ADPCM.

#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/SoundFileReader.h"

namespace pelloran {

class AuReader final : public SoundFileReader {
public:
    AuReader() = default;
    ~AuReader() override { Close(); }

    void Close() override;
    int Open(const std::string& path, int rate) override;

private:
    bool ParseHeader(const uint8_t* header, size_t size);
    bool Stored(StoredPcm& pcm) const override;
    uint32_t Load32(const uint8_t* p) const { return bigEndian ? LoadU32BE(p) : LoadU32LE(p); }

    int32_t sourceBits = 0;
    int32_t storedBytes = 0;
    uint32_t encoding = 0;
    int32_t bigEndian = 1;
};

}  // namespace pelloran
