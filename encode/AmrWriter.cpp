#include "encode/AmrWriter.h"

#include <algorithm>

#include "encode/Interleave.h"

namespace pelloran {

AmrWriter::AmrWriter(AmrOptions options) : options_(options) {}

bool AmrWriter::Begin(const std::string& path, const PcmFormat& format, const TagRecord&) {
    count_ = 0;
    framesEncoded_ = 0;
    if (!encoder_.Open(options_.band, options_.mode, options_.dtx)) return false;
    if (format.rate != encoder_.Rate() || format.channels != 1 || format.bits != 16) return false;
    const std::string_view header = encoder_.FileHeader();
    return Io(file_.Open(path, "wb")) && Io(file_.Write(header.data(), header.size()));
}

bool AmrWriter::EncodeFrame(const int16_t* frame) {
    ++framesEncoded_;
    const std::span<const uint8_t> bytes = encoder_.Encode(frame);
    return !bytes.empty() && Io(file_.Write(bytes.data(), bytes.size()));
}

bool AmrWriter::Put(const int32_t* const* planes, int count) {
    if (sixteen_.size() < static_cast<size_t>(count)) sixteen_.resize(static_cast<size_t>(count));
    PlaneToSixteen(planes[0], 16, static_cast<size_t>(count), sixteen_.data());
    const int16_t* samples = sixteen_.data();
    const int frameSize = encoder_.FrameSamples();
    int used = 0;
    if (count_ > 0) {
        used = std::min(count, frameSize - count_);
        std::copy(samples, samples + used, buffer_.begin() + count_);
        count_ += used;
        if (count_ < frameSize) return true;
        count_ = 0;
        if (!EncodeFrame(buffer_.data())) return false;
    }
    for (; count - used >= frameSize; used += frameSize) {
        if (!EncodeFrame(samples + used)) return false;
    }
    std::copy(samples + used, samples + count, buffer_.begin());
    count_ = count - used;
    return true;
}

bool AmrWriter::End() {
    bool ok = true;
    if (count_ > 0) {
        std::fill(buffer_.begin() + count_, buffer_.begin() + encoder_.FrameSamples(), 0);
        count_ = 0;
        ok = EncodeFrame(buffer_.data());
    }
    return Io(file_.Close()) && ok;
}

void AmrWriter::Release() {
    file_.Close();
    encoder_.Close();
    count_ = 0;
}

}  // namespace pelloran
