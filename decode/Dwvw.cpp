#include "decode/Dwvw.h"

#include <algorithm>

namespace pelloran {

bool DwvwDecoder::Init(int bits) {
    if (bits < 8 || bits > 24) return false;
    maxWidthModifier_ = bits / 2;
    bitWidth_ = bits;
    maxDelta_ = int32_t{1} << (bits - 1);
    span_ = int32_t{1} << bits;
    bitCount_ = 0;
    bitBuffer_ = 0;
    paddedBits_ = 0;
    lastDeltaWidth_ = 0;
    lastSample_ = 0;
    byteIndex_ = 0;
    byteCount_ = 0;
    sourceDone_ = false;
    return true;
}

bool DwvwDecoder::Refill(SoundData& source) {
    byteIndex_ = 0;
    byteCount_ = sourceDone_ ? 0 : source.ReadData(buffer_, sizeof buffer_);
    if (byteCount_ > sizeof buffer_) byteCount_ = 0;
    if (byteCount_ == 0) sourceDone_ = true;
    return byteCount_ != 0;
}

bool DwvwDecoder::ReadBits(int n, uint32_t& value, SoundData& source) {
    while (bitCount_ < n) {
        if (byteIndex_ >= byteCount_) Refill(source);
        if (byteIndex_ >= byteCount_) {
            if (n < 8) return false;
            paddedBits_ += 8;  // past the end: pad with a zero byte
        }
        bitBuffer_ <<= 8;
        if (byteIndex_ < byteCount_) bitBuffer_ |= buffer_[byteIndex_++];
        bitCount_ += 8;
    }
    value = n == 0 ? 0 : (bitBuffer_ >> (bitCount_ - n)) & ((uint32_t{1} << n) - 1);
    bitCount_ -= n;
    return true;
}

int DwvwDecoder::Decode(int32_t* out, int count, SoundData& source) {
    if (bitWidth_ == 0) return 0;
    int decoded = 0;
    while (decoded < count) {
        // Width modifier: zeros up to a one, at most maxWidthModifier of them, then a sign bit.
        int modifier = 0;
        uint32_t bit = 0;
        while (modifier < maxWidthModifier_) {
            if (!ReadBits(1, bit, source)) return decoded;
            if (bit != 0) break;
            ++modifier;
        }
        if (modifier != 0) {
            if (!ReadBits(1, bit, source)) return decoded;
            if (bit != 0) modifier = -modifier;
        }
        const int deltaWidth = (modifier + bitWidth_ + lastDeltaWidth_) % bitWidth_;

        int32_t delta = 0;
        if (deltaWidth > 0) {
            uint32_t bits = 0;
            uint32_t sign = 0;
            if (!ReadBits(deltaWidth - 1, bits, source)) return decoded;
            delta = static_cast<int32_t>(bits | (uint32_t{1} << (deltaWidth - 1)));
            if (!ReadBits(1, sign, source)) return decoded;
            if (delta == maxDelta_ - 1) {
                uint32_t extra = 0;
                if (!ReadBits(1, extra, source)) return decoded;
                delta += static_cast<int32_t>(extra);
            }
            if (sign != 0) delta = -delta;
        }

        // A value that needed bits from beyond the end of the data is not part of the stream.
        if (paddedBits_ > bitCount_) {
            bitCount_ = 0;
            paddedBits_ = 0;
            return decoded;
        }

        int32_t sample = lastSample_ + delta;
        if (sample >= maxDelta_) {
            sample -= span_;
        } else if (sample < -maxDelta_) {
            sample += span_;
        }
        lastDeltaWidth_ = deltaWidth;
        lastSample_ = sample;
        out[decoded++] = static_cast<int32_t>(static_cast<uint32_t>(sample) << (32 - bitWidth_));
    }
    return decoded;
}

bool DwvwCodec::Init(int bits, uint64_t values) {
    valuesLeft_ = values;
    return decoder_.Init(bits);
}

int DwvwCodec::Decode(SoundData& data, int16_t* out, int count) {
    const int n = static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(std::max(count, 0)), valuesLeft_));
    if (values_.size() < static_cast<size_t>(n)) values_.resize(static_cast<size_t>(n));
    const int decoded = decoder_.Decode(values_.data(), n, data);
    if (decoded <= 0) return 0;
    valuesLeft_ -= static_cast<uint64_t>(decoded);
    for (int i = 0; i < decoded; ++i) out[i] = static_cast<int16_t>(values_[static_cast<size_t>(i)] >> 16);
    return decoded;
}

}  // namespace pelloran
