#pragma once
// What the readers of the WAV, AIFF and AU containers share once their header is parsed: the open file and
// its sound data, read in order and never past its end; the 16-bit output of the first two channels, from
// stored PCM or through a codec (decode/SoundCodec.h); and the wide path of stored PCM.

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
    int Read(void* left, void* right) final;
    bool IsTruncated() const final { return truncated_; }
    PcmFormat WideFormat() final;
    bool UseWide() final;
    int ReadWide(int32_t* const* planes) final;

protected:
    // The stored layout of integer PCM and float data; false for coded data.
    virtual bool Stored(StoredPcm& pcm) const = 0;
    // Up to kBlockFrames frames of stored PCM into left and right; only asked when there is no codec.
    virtual int ReadStored(void* left, void* right) = 0;

    // The sound data: bytes from offset start on. False when the file cannot go there.
    bool SetData(uint64_t start, uint64_t bytes);
    size_t ReadData(uint8_t* out, size_t bytes) override;
    uint64_t DataLeft() const override { return dataLeft_; }
    void Abandon() override;
    // Reads up to bytes of the data into io_; bytes read.
    size_t ReadData(size_t bytes);

    // Reads a block of frames of bytesPerSample-byte samples and gives convert(first sample) to left and
    // convert(the sample of channel secondChannel_) to right.
    template <typename Sample, typename Convert>
    int DeliverFrames(void* left, void* right, int bytesPerSample, Convert convert);

    File file_;
    std::vector<uint8_t> io_;             // grows to one read request, never beyond the data
    std::unique_ptr<SoundCodec> codec_;   // null for stored PCM
    int secondChannel_ = 1;               // the channel that goes out as the second
    bool truncated_ = false;              // the data runs past the end of the file, or a read came up short

private:
    std::vector<int16_t> values_;  // one Read's worth of the codec's values
    uint64_t dataLeft_ = 0;
    bool wide_ = false;
    bool started_ = false;  // a block was read
};

template <typename Sample, typename Convert>
int SoundFileReader::DeliverFrames(void* left, void* right, int bytesPerSample, Convert convert) {
    const size_t frameBytes = static_cast<size_t>(channels) * static_cast<size_t>(bytesPerSample);
    const size_t got = ReadData(frameBytes * kBlockFrames);
    const int frames = static_cast<int>(std::min<size_t>(got / frameBytes, kBlockFrames));
    const uint8_t* p = io_.data();
    const size_t second = static_cast<size_t>(secondChannel_) * static_cast<size_t>(bytesPerSample);
    auto* first = static_cast<Sample*>(left);
    auto* other = static_cast<Sample*>(right);
    for (int i = 0; i < frames; ++i, p += frameBytes) {
        first[i] = convert(p);
        if (outputChannels == 2) other[i] = convert(p + second);
    }
    return frames;
}

}  // namespace pelloran
