#pragma once
// Reader of RIFF WAVE files: integer PCM, float, A-law, µ-law, Microsoft and IMA ADPCM, GSM 06.10.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decode/AudioDecoder.h"
#include "decode/Gsm610.h"
#include "decode/MsAdpcm.h"
#include "decode/WidePcm.h"
#include "platform/File.h"

namespace pelloran {

class ImaAdpcmBlockDecoder;

class WavReader : public AudioDecoder {
public:
    WavReader();
    ~WavReader() override;

    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(void* left, void* right) override;
    bool IsTruncated() const override { return truncated; }
    PcmFormat WideFormat() override;
    bool UseWide() override;
    int ReadWide(int32_t* const* planes) override;

private:
    // The stored layout of integer PCM and float data; false for the other encodings.
    bool Stored(StoredPcm& pcm) const;

    bool WalkChunks();
    bool ReadFormatChunk(uint32_t size);
    bool SetUpFormat();
    // Passes over pad and stray bytes up to the next chunk id (a letter); false at the end of the file.
    bool SkipToNextChunk();

    int ReadPcm8(void* left, void* right);
    int ReadPcm(void* left, void* right);
    int ReadFloat(void* left, void* right);
    int ReadG711(void* left, void* right);
    int ReadBlocks(void* left, void* right);

    // Requests up to bytesPerRead bytes of the data chunk into rawBuffer; bytes read.
    size_t ReadRaw();
    // Decodes the block in rawBuffer into blockSamples; false on a decoder error.
    bool DecodeBlock();
    // Moves pending values of blockSamples into the output; returns the new frame count.
    int DeliverBlock(int16_t* left, int16_t* right, int frames);

    int (WavReader::*readRoutine)(void*, void*) = nullptr;
    int16_t (*expandByte)(uint8_t) = nullptr;
    File file;
    int32_t formatTag = 0;
    int32_t sourceBits = 0;
    std::unique_ptr<MsAdpcmDecoder> msAdpcm;
    std::unique_ptr<ImaAdpcmBlockDecoder> imaAdpcm;
    std::unique_ptr<Gsm610Decoder> gsmState;
    std::vector<uint8_t> rawBuffer;
    std::vector<int16_t> blockSamples;
    int32_t bytesPerRead = 0;
    int32_t samplesPerBlock = 0;  // values in blockSamples after one block
    int32_t nextSample = 0;       // next undelivered value; 0 when none is pending

    // Fields of the "fmt " chunk that the set-up needs.
    int32_t blockAlign = 0;
    int32_t sourceSamplesPerBlock = 0;
    bool formatSeen = false;
    bool truncated = false;  // the data chunk runs past the end of the file, or a read came up short
    bool wide = false;
    bool started = false;  // a block was read
};

}  // namespace pelloran
