#pragma once
// What the readers of the WAV, AIFF and AU containers share once their header is parsed: the open file and
// its sound data, read in order and never past its end, and its samples as int32 planes, from stored PCM at
// its own width or through a codec (decode/SoundCodec.h) at 16 bits.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "decode/AudioDecoder.h"
#include "decode/SoundCodec.h"
#include "decode/WidePcm.h"
#include "platform/File.h"

namespace pelloran {

class SoundFileReader : public AudioDecoder, protected SoundData {
public:
    void Close() override;
    int Read(int32_t* const* planes) final;
    PcmFormat Format() final;
    bool IsTruncated() const final { return truncated_; }

protected:
    // The stored layout of integer PCM and float data; false for coded data. With bitsPerSample 8, stored
    // 1-byte samples are delivered at 8 bits.
    virtual bool Stored(StoredPcm& pcm) const = 0;

    // The sound data: bytes from offset start on. False when the file cannot go there.
    bool SetData(uint64_t start, uint64_t bytes);
    size_t ReadData(uint8_t* out, size_t bytes) override;
    uint64_t DataLeft() const override { return dataLeft_; }
    void Abandon() override;
    // Reads up to bytes of the data into io_; bytes read.
    size_t ReadData(size_t bytes);

    File file_;
    std::vector<uint8_t> io_;             // grows to one read request, never beyond the data
    std::unique_ptr<SoundCodec> codec_;   // null for stored PCM
    bool truncated_ = false;              // the data runs past the end of the file, or a read came up short

private:
    std::vector<int16_t> values_;  // one Read's worth of the codec's values
    uint64_t dataLeft_ = 0;
};

}  // namespace pelloran
