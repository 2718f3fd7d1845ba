#include "decode/SoundFileReader.h"

namespace pelloran {

void SoundFileReader::Close() {
    file_.Close();
    io_ = {};
    codec_.reset();
    secondChannel_ = 1;
    truncated_ = false;
    values_ = {};
    dataLeft_ = 0;
    wide_ = false;
    started_ = false;
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

int SoundFileReader::Read(void* left, void* right) {
    if (!file_.IsOpen() || wide_ || left == nullptr) return 0;
    started_ = true;
    if (outputChannels == 2 && right == nullptr) return 0;
    if (!codec_) return ReadStored(left, right);

    const int count = channels * kBlockFrames;
    values_.resize(static_cast<size_t>(count));
    const int frames = codec_->Decode(*this, values_.data(), count) / channels;
    auto* first = static_cast<int16_t*>(left);
    auto* other = static_cast<int16_t*>(right);
    const int16_t* v = values_.data();
    for (int i = 0; i < frames; ++i, v += channels) {
        first[i] = v[0];
        if (outputChannels == 2) other[i] = v[secondChannel_];
    }
    return frames;
}

PcmFormat SoundFileReader::WideFormat() {
    StoredPcm pcm;
    if (!file_.IsOpen() || started_ || !Stored(pcm)) return {0, 0, 0, true};
    return {sampleRate, channels, pcm.WideBits(), true};
}

bool SoundFileReader::UseWide() {
    if (WideFormat().rate == 0) return false;
    wide_ = true;
    return true;
}

int SoundFileReader::ReadWide(int32_t* const* planes) {
    StoredPcm pcm;
    if (!wide_ || planes == nullptr || !file_.IsOpen() || !Stored(pcm)) return 0;
    const size_t frameBytes = static_cast<size_t>(channels) * static_cast<size_t>(pcm.bytes);
    const size_t got = ReadData(frameBytes * kBlockFrames);
    const size_t frames = got / frameBytes;
    DecodeStoredPcm(io_.data(), frames, channels, pcm, pcm.WideBits(), planes);
    return static_cast<int>(frames);
}

}  // namespace pelloran
