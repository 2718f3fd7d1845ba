#include "decode/SoundFileReader.h"

namespace pelloran {

void SoundFileReader::Close() {
    file_.Close();
    io_ = {};
    codec_.reset();
    truncated_ = false;
    values_ = {};
    dataLeft_ = 0;
    ResetState();
}

bool SoundFileReader::SetData(uint64_t start, uint64_t bytes) {
    dataLeft_ = bytes;
    return file_.Seek(static_cast<int64_t>(start));
}

size_t SoundFileReader::ReadData(uint8_t* out, size_t bytes) {
    const auto want = static_cast<size_t>(std::min<uint64_t>(bytes, dataLeft_));
    if (want == 0) return 0;
    const size_t got = file_.Read(out, want);
    // A short read ends the data: the file ended early.
    if (got < want) truncated_ = true;
    dataLeft_ = got < want ? 0 : dataLeft_ - want;
    position += got;
    return got;
}

size_t SoundFileReader::ReadData(size_t bytes) {
    const auto want = static_cast<size_t>(std::min<uint64_t>(bytes, dataLeft_));
    if (io_.size() < want) io_.resize(want);
    return ReadData(io_.data(), want);
}

void SoundFileReader::Abandon() {
    position += dataLeft_;
    dataLeft_ = 0;
}

PcmFormat SoundFileReader::Format() {
    StoredPcm pcm;
    const int bits = codec_ || !Stored(pcm) ? 16 : pcm.bytes == 1 && bitsPerSample == 8 ? 8 : pcm.WideBits();
    return {sampleRate, std::min(channels, kMaxChannels), bits};
}

int SoundFileReader::Read(int32_t* const* planes) {
    if (!file_.IsOpen() || planes == nullptr || channels <= 0) return 0;
    const int keep = std::min(channels, kMaxChannels);
    if (codec_) {
        const int count = channels * kBlockFrames;
        values_.resize(static_cast<size_t>(count));
        const int frames = codec_->Decode(*this, values_.data(), count) / channels;
        for (int c = 0; c < keep; ++c) {
            const int16_t* v = values_.data() + c;
            for (int i = 0; i < frames; ++i, v += channels) planes[c][i] = *v;
        }
        return frames;
    }
    StoredPcm pcm;
    if (!Stored(pcm)) return 0;
    const size_t frameBytes = static_cast<size_t>(channels) * static_cast<size_t>(pcm.bytes);
    const size_t got = ReadData(frameBytes * kBlockFrames);
    const size_t frames = got / frameBytes;
    DecodeStoredPcm(io_.data(), frames, channels, pcm, Format().bits, planes, keep);
    return static_cast<int>(frames);
}

}  // namespace pelloran
