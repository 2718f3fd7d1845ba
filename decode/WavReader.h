#pragma once
// Reader of RIFF and RF64 WAVE files: integer PCM, float, A-law, µ-law, Microsoft and IMA ADPCM, GSM 06.10.

#include <cstdint>
#include <string>

#include "decode/SoundFileReader.h"

namespace pelloran {

struct WavChunk;

class WavReader final : public SoundFileReader {
public:
    WavReader() = default;
    ~WavReader() override { Close(); }

    void Close() override;
    int Open(const std::string& path, int rate) override;

private:
    bool Stored(StoredPcm& pcm) const override;

    // Walks the chunks up to the first data chunk; false when the file is no WAV file this reader takes.
    bool WalkChunks();
    bool ReadFormatChunk(const WavChunk& chunk);

    int32_t formatTag = 0;
    int32_t sourceBits = 0;
    int32_t sourceSamplesPerBlock = 0;  // per channel, of a block format
    int32_t blockAlign = 0;
};

}  // namespace pelloran
