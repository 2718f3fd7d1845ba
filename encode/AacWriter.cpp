#include "encode/AacWriter.h"

#include <cstdlib>

namespace pelloran {

void ApplyFaacOptions(faacEncConfiguration& config, int vbr, int quality, int abrKbps, int tns, int midside,
                      int blockType, int channels) {
    if (vbr != 0) {
        if (quality >= 10 && quality <= 500) config.quantqual = static_cast<unsigned long>(quality);
    } else if (channels > 0 && abrKbps > 0) {
        config.bitRate = static_cast<unsigned long>(abrKbps) * 1000 / static_cast<unsigned long>(channels);
    }
    config.useTns = tns != 0 ? 1 : 0;
    config.allowMidside = midside != 0 ? 1 : 0;
    config.shortctl = blockType;
}

int NearestAacRate(int rate) {
    static constexpr int kRates[] = {7350, 8000, 11025, 12000, 16000, 22050, 24000,
                                     32000, 44100, 48000, 64000, 88200, 96000};
    int best = kRates[0];
    for (int r : kRates) {
        const long long d = std::llabs(static_cast<long long>(r) - rate);
        const long long bestD = std::llabs(static_cast<long long>(best) - rate);
        if (d <= bestD) best = r;
    }
    return best;
}

bool FaacStream::OpenEncoder(int rate, int channels, unsigned outputFormat) {
    CloseEncoder();
    if (rate <= 0 || channels < 1 || channels > 2) return false;
    encoder_.reset(faacEncOpen(static_cast<unsigned long>(rate), static_cast<unsigned>(channels), &inputSamples_,
                               &maxOutputBytes_));
    if (!encoder_) return false;
    config_ = faacEncGetCurrentConfiguration(encoder_.get());
    if (config_ == nullptr) {
        CloseEncoder();
        return false;
    }
    config_->aacObjectType = LOW;
    config_->mpegVersion = MPEG4;
    config_->useTns = 0;
    config_->allowMidside = 1;
    config_->bandWidth = 0;
    config_->outputFormat = outputFormat;
    config_->inputFormat = FAAC_INPUT_16BIT;
    channels_ = channels;
    return true;
}

bool FaacStream::StartEncoder() {
    if (!encoder_ || config_ == nullptr) return false;
    if (faacEncSetConfiguration(encoder_.get(), config_) == 0) return false;
    samples_.assign(inputSamples_, 0);
    output_.assign(maxOutputBytes_, 0);
    fill_ = 0;
    started_ = true;
    failed_ = false;
    return true;
}

bool FaacStream::EncodeBuffer() {
    const unsigned passed = static_cast<unsigned>(fill_);
    const int n = faacEncEncode(encoder_.get(), samples_.data(), passed, output_.data(),
                                static_cast<unsigned>(output_.size()));
    fill_ = 0;
    if (n < 0) return false;
    return Consume(passed, output_.data(), n);
}

template <typename Sample, typename Widen>
bool FaacStream::Buffer(const Sample* left, const Sample* right, int frames, Widen widen) {
    if (!started_ || failed_ || frames < 0 || left == nullptr || (channels_ == 2 && right == nullptr))
        return false;
    int i = 0;
    while (i < frames) {
        while (i < frames && fill_ < inputSamples_) {
            samples_[fill_++] = widen(left[i]);
            if (channels_ == 2) samples_[fill_++] = widen(right[i]);
            ++i;
        }
        if (fill_ < inputSamples_) break;  // waits for the next block
        if (!EncodeBuffer()) {
            failed_ = true;
            return false;
        }
    }
    return true;
}

bool FaacStream::Encode16(const int16_t* left, const int16_t* right, int frames) {
    return Buffer(left, right, frames, [](int16_t s) { return s; });
}

bool FaacStream::Encode8(const uint8_t* left, const uint8_t* right, int frames) {
    return Buffer(left, right, frames, [](uint8_t u) { return static_cast<int16_t>((u - 128) * 256); });
}

bool FaacStream::DrainEncoder() {
    if (!started_ || failed_) return false;
    // The call with the buffered rest may return nothing (a stream shorter than the encoder's delay), so
    // draining goes on with empty calls until one of them returns nothing.
    if (!EncodeBuffer()) return false;
    for (unsigned long guard = 0; guard < 64; ++guard) {
        const int n = faacEncEncode(encoder_.get(), nullptr, 0, output_.data(), static_cast<unsigned>(output_.size()));
        if (n < 0) return false;
        if (!Consume(0, output_.data(), n)) return false;
        if (n == 0) return true;
    }
    return false;
}

void FaacStream::CloseEncoder() {
    encoder_.reset();
    config_ = nullptr;
    channels_ = 0;
    inputSamples_ = 0;
    maxOutputBytes_ = 0;
    samples_.clear();
    output_.clear();
    fill_ = 0;
    started_ = false;
    failed_ = false;
}

bool AacWriter::Open(const std::string& path, int rate, int channels, int width) {
    Close();
    if (width != 8 && width != 16) return false;
    if (!file_.Open(path, "wb")) return false;
    writeFailed_ = false;
    if (!OpenEncoder(rate, channels, ADTS_STREAM)) {
        file_.Close();
        return false;
    }
    return true;
}

bool AacWriter::Start() { return file_.IsOpen() && StartEncoder(); }

bool AacWriter::Consume(unsigned, const uint8_t* data, int bytes) {
    if (bytes > 0 && !file_.Write(data, static_cast<size_t>(bytes))) writeFailed_ = true;
    return !writeFailed_;
}

bool AacWriter::Close() {
    if (!file_.IsOpen()) {
        CloseEncoder();
        return true;
    }
    bool ok = EncoderStarted() && DrainEncoder() && !writeFailed_;
    ok = file_.Close() && ok;
    CloseEncoder();
    writeFailed_ = false;
    return ok;
}

}  // namespace pelloran
