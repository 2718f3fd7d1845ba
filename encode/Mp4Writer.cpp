#include "encode/Mp4Writer.h"

namespace pelloran {

namespace {
constexpr uint64_t kFrameLength = AacEncoder::kFrameLength;
}

Mp4Writer::Mp4Writer(AacOptions options) : options_(options) {}

bool Mp4Writer::Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) {
    encoded_ = 0;
    written_ = 0;
    const auto sink = [this](int framesPassed, const std::vector<uint8_t>& frame) { return Store(framesPassed, frame); };
    if (!stream_.Open(format.rate, format.channels, AacSettings(options_, false), sink)) return false;
    if (!file_.Create(path, format.rate, stream_.Encoder().DecoderConfig()))
        return FailWith(file_.SystemError(), file_.ErrorText());
    file_.SetTags(tags);
    return true;
}

bool Mp4Writer::Store(int framesPassed, const std::vector<uint8_t>& frame) {
    encoded_ += static_cast<uint64_t>(framesPassed);
    if (frame.empty()) return true;
    // No frame lasts longer than a frame, and the durations never add up to more than the input plus the one
    // frame of delay that the first frame's offset tells players to skip.
    const uint64_t left = encoded_ + kFrameLength - written_;
    const uint64_t duration = left <= kFrameLength ? left : kFrameLength;
    const uint64_t offset = written_ == 0 ? kFrameLength : 0;
    if (!file_.WriteFrame(frame.data(), frame.size(), duration, offset))
        return FailWith(file_.SystemError(), file_.ErrorText());
    written_ += duration;
    return true;
}

bool Mp4Writer::Put(const int32_t* const* planes, int frames) {
    return stream_.Write(planes, frames, Format().bits);
}

bool Mp4Writer::End() {
    // The muxer leaves a track without frames out: a file with no audio.
    if (FramesWritten() == 0) return Fail(WriterError::NoAudio);
    const bool ok = stream_.Drain();
    return (file_.Finish() || FailWith(file_.SystemError(), file_.ErrorText())) && ok;
}

void Mp4Writer::Release() {
    stream_.Close();
    file_.Close();
}

}  // namespace pelloran
