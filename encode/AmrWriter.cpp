#include "encode/AmrWriter.h"

#include <algorithm>

namespace pelloran {

void AmrWriter::Reset() {
    nb_.reset();
    wb_.reset();
    count_ = 0;
    frameSize_ = 0;
    dtx_ = 0;
    nbMode_ = 6;
    wbMode_ = 6;
    narrowBand_ = true;
    failed_ = false;
}

bool AmrWriter::Open(const std::string&, bool narrowBand) {
    Close();
    narrowBand_ = narrowBand;
    frameSize_ = narrowBand ? kAmrNbFrameSamples : kAmrWbFrameSamples;
    count_ = 0;
    framesEncoded_ = 0;
    return true;
}

bool AmrWriter::Start(const std::string& path) {
    if (frameSize_ == 0) return false;
    if (narrowBand_) {
        nb_.reset(amrnbenc_init(path, dtx_, nbMode_));
        return nb_ != nullptr;
    }
    wb_.reset(amrwbenc_init(path, dtx_, wbMode_));
    return wb_ != nullptr;
}

bool AmrWriter::EncodeFrame(const int16_t* frame) {
    const int n = narrowBand_ ? amrnbenc_encode(nb_.get(), frame) : amrwbenc_encode(wb_.get(), frame);
    ++framesEncoded_;
    if (n < 0) failed_ = true;
    return !failed_;
}

bool AmrWriter::Encode(const int16_t* samples, int count) {
    if ((!nb_ && !wb_) || failed_ || count < 0 || (count > 0 && samples == nullptr)) return false;
    if (count_ + count < frameSize_) {
        std::copy(samples, samples + count, buffer_.begin() + count_);
        count_ += count;
        return true;
    }
    int used = 0;
    if (count_ > 0) {
        used = frameSize_ - count_;
        std::copy(samples, samples + used, buffer_.begin() + count_);
        count_ = 0;
        if (!EncodeFrame(buffer_.data())) return false;
    }
    for (; count - used >= frameSize_; used += frameSize_) {
        if (!EncodeFrame(samples + used)) return false;
    }
    std::copy(samples + used, samples + count, buffer_.begin());
    count_ = count - used;
    return true;
}

bool AmrWriter::Close() {
    if (!nb_ && !wb_) {
        Reset();
        return true;
    }
    bool ok = !failed_;
    if (ok && count_ > 0) {
        std::fill(buffer_.begin() + count_, buffer_.begin() + frameSize_, 0);
        count_ = 0;
        ok = EncodeFrame(buffer_.data());
    }
    if (nb_) ok = amrnbenc_quit(nb_.release()) && ok;
    if (wb_) ok = amrwbenc_quit(wb_.release()) && ok;
    Reset();
    return ok;
}

}  // namespace pelloran
