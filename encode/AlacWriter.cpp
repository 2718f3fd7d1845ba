#include "encode/AlacWriter.h"

namespace pelloran {

bool AlacWriter::Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) {
    // 8-bit blocks go in as 16-bit samples.
    const int bits = format.bits == 8 ? 16 : format.bits;
    if (bits > 24) return false;
    const auto sink = [this](const uint8_t* data, size_t size, int samples) {
        return file_.WriteFrame(data, size, static_cast<uint64_t>(samples), 0) ||
               FailWith(file_.SystemError(), file_.ErrorText());
    };
    if (!encoder_.Open(format.rate, format.channels, bits, sink)) return false;
    if (!file_.CreateAlac(path, format.rate, format.channels, bits, AlacEncoder::kFrameLength, encoder_.Cookie()))
        return FailWith(file_.SystemError(), file_.ErrorText());
    file_.SetTags(tags);
    return true;
}

bool AlacWriter::Put(const int32_t* const* planes, int frames) {
    if (Format().bits != 8) return encoder_.Write(planes, frames);
    const auto n = static_cast<size_t>(frames);
    const int32_t* widened[kMaxChannels] = {};
    for (int c = 0; c < Format().channels; ++c) {
        std::vector<int32_t>& plane = samples_[c];
        plane.resize(n);
        ChangeWidth(planes[c], plane.data(), frames, 8, 16);
        widened[c] = plane.data();
    }
    return encoder_.Write(widened, frames);
}

bool AlacWriter::End() {
    // The muxer leaves a track without frames out: a file with no audio.
    if (FramesWritten() == 0) return Fail(WriterError::NoAudio);
    const bool ok = encoder_.Drain();
    return (file_.Finish() || FailWith(file_.SystemError(), file_.ErrorText())) && ok;
}

void AlacWriter::Release() {
    encoder_.Close();
    file_.Close();
    for (auto& plane : samples_) plane = {};
}

}  // namespace pelloran
