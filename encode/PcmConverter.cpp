#include "encode/PcmConverter.h"

#include <libresample.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pelloran {

namespace {

void Widen8To16(const uint8_t* in, int16_t* out, int frames) {
    for (int i = 0; i < frames; ++i) out[i] = static_cast<int16_t>((in[i] - 128) * 256);
}

void Narrow16To8(const int16_t* in, uint8_t* out, int frames) {
    for (int i = 0; i < frames; ++i) out[i] = static_cast<uint8_t>((in[i] >> 8) + 128);
}

void ToFloat(const void* in, int bits, int frames, float* out) {
    if (bits == 16) {
        const auto* s = static_cast<const int16_t*>(in);
        for (int i = 0; i < frames; ++i) out[i] = static_cast<float>(s[i] * 0.000030517578125);
    } else {
        const auto* u = static_cast<const uint8_t*>(in);
        for (int i = 0; i < frames; ++i) out[i] = static_cast<float>((u[i] - 128) * 0.0078125);
    }
}

void FromFloat(const float* in, int frames, int bits, uint8_t* out) {
    for (int i = 0; i < frames; ++i) {
        float x = in[i];
        if (!(x >= -1.0f)) x = -1.0f;  // NaN included
        if (x > 1.0f) x = 1.0f;
        if (bits == 16) {
            const auto v = static_cast<int16_t>(std::trunc(x * 32767.0f));
            std::memcpy(out + 2 * i, &v, 2);
        } else {
            out[i] = static_cast<uint8_t>(128 + static_cast<int>(std::trunc(x * 127.0f)));
        }
    }
}

}  // namespace

void PcmConverter::ResamplerDeleter::operator()(void* handle) const {
    if (handle != nullptr) resample_close(handle);
}

PcmConverter::PcmConverter() = default;
PcmConverter::~PcmConverter() = default;

bool PcmConverter::Prepare() {
    if (sourceRate == targetRate) return true;
    if (sourceRate <= 0 || targetRate <= 0) return false;
    factor_ = static_cast<double>(targetRate) / static_cast<double>(sourceRate);
    leftResampler_.reset(resample_open(1, factor_, factor_));
    if (!leftResampler_) return false;
    if (targetChannels == 2) {
        rightResampler_.reset(resample_open(1, factor_, factor_));
        if (!rightResampler_) return false;
    }
    return true;
}

int PcmConverter::OutputCapacity(int frames) const {
    const int ratio = sourceRate > 0 ? targetRate / sourceRate : 0;
    return (ratio + 1) * frames;
}

const void* PcmConverter::MixToMono(const void* left, const void* right, int frames, int bits) {
    const size_t bytes = static_cast<size_t>(frames) * static_cast<size_t>(bits / 8);
    if (mixBuffer_.size() < bytes) mixBuffer_.resize(bytes);
    if (bits == 16) {
        const auto* l = static_cast<const int16_t*>(left);
        const auto* r = static_cast<const int16_t*>(right);
        auto* out = reinterpret_cast<int16_t*>(mixBuffer_.data());
        for (int i = 0; i < frames; ++i) out[i] = static_cast<int16_t>((l[i] + r[i]) >> 1);
    } else {
        const auto* l = static_cast<const uint8_t*>(left);
        const auto* r = static_cast<const uint8_t*>(right);
        for (int i = 0; i < frames; ++i) mixBuffer_[i] = static_cast<uint8_t>((l[i] + r[i]) >> 1);
    }
    return mixBuffer_.data();
}

int PcmConverter::ResampleChannel(void* resampler, const void* in, int frames, int lastFlag,
                                  std::vector<uint8_t>& out, int capacity) {
    if (floatIn_.size() < static_cast<size_t>(std::max(frames, 1))) floatIn_.resize(std::max(frames, 1));
    if (floatOut_.size() < static_cast<size_t>(capacity)) floatOut_.resize(capacity);
    const size_t outBytes = static_cast<size_t>(capacity) * static_cast<size_t>(targetBits / 8);
    if (out.size() < outBytes) out.resize(outBytes);
    if (frames > 0) ToFloat(in, sourceBits, frames, floatIn_.data());
    int used = 0;
    const int n = resample_process(resampler, factor_, floatIn_.data(), frames, lastFlag, &used, floatOut_.data(),
                                   capacity);
    if (n <= 0) return 0;
    FromFloat(floatOut_.data(), n, targetBits, out.data());
    return n;
}

bool PcmConverter::Process(const void* left, const void* right, int frames, void* destLeft, void* destRight,
                           int& destFrames) {
    destFrames = 0;
    if (frames <= 0) return true;
    const void* l = left;
    const void* r = sourceChannels == 2 ? right : nullptr;

    if (sourceRate == targetRate) {
        if (sourceBits != targetBits) {
            const size_t bytes = static_cast<size_t>(frames) * static_cast<size_t>(targetBits / 8);
            if (widthLeft_.size() < bytes) widthLeft_.resize(bytes);
            if (r != nullptr && widthRight_.size() < bytes) widthRight_.resize(bytes);
            const auto convert = [&](const void* in, std::vector<uint8_t>& out) {
                if (targetBits == 16)
                    Widen8To16(static_cast<const uint8_t*>(in), reinterpret_cast<int16_t*>(out.data()), frames);
                else
                    Narrow16To8(static_cast<const int16_t*>(in), out.data(), frames);
            };
            convert(l, widthLeft_);
            l = widthLeft_.data();
            if (r != nullptr) {
                convert(r, widthRight_);
                r = widthRight_.data();
            }
        }
        if (targetChannels == 2 && r == nullptr) {
            r = l;
        } else if (targetChannels == 1 && r != nullptr) {
            l = MixToMono(l, r, frames, targetBits);
            r = nullptr;
        }
        const size_t bytes = static_cast<size_t>(frames) * static_cast<size_t>(targetBits / 8);
        std::memmove(destLeft, l, bytes);
        if (targetChannels == 2) std::memmove(destRight, r, bytes);
        destFrames = frames;
        return true;
    }

    if (targetChannels == 1 && r != nullptr) {
        l = MixToMono(l, r, frames, sourceBits);
        r = nullptr;
    }
    const int capacity = OutputCapacity(frames);
    const int n = ResampleChannel(leftResampler_.get(), l, frames, 0, outLeft_, capacity);
    int count = n;
    if (r != nullptr && rightResampler_) count = ResampleChannel(rightResampler_.get(), r, frames, 0, outRight_, capacity);
    const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(targetBits / 8);
    std::memcpy(destLeft, outLeft_.data(), bytes);
    if (targetChannels == 2) std::memcpy(destRight, (r != nullptr ? outRight_ : outLeft_).data(), bytes);
    destFrames = count;
    return true;
}

bool PcmConverter::Flush(void* destLeft, void* destRight, int capacityFrames, int& destFrames) {
    destFrames = 0;
    if (!leftResampler_ || capacityFrames <= 0) return true;
    const bool stereoSource = sourceChannels == 2 && targetChannels == 2 && rightResampler_;
    const int n = ResampleChannel(leftResampler_.get(), nullptr, 0, 1, outLeft_, capacityFrames);
    int count = n;
    if (stereoSource) count = std::min(n, ResampleChannel(rightResampler_.get(), nullptr, 0, 1, outRight_, capacityFrames));
    const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(targetBits / 8);
    std::memcpy(destLeft, outLeft_.data(), bytes);
    if (targetChannels == 2) std::memcpy(destRight, (stereoSource ? outRight_ : outLeft_).data(), bytes);
    destFrames = count;
    return true;
}

void AmplifySamples16(int16_t* left, int16_t* right, int frames, int channels, float gain) {
    const auto scale = [gain](int16_t* s, int n) {
        for (int i = 0; i < n; ++i) {
            const float v = std::trunc(gain * static_cast<float>(s[i]));
            s[i] = static_cast<int16_t>(std::clamp(v, -32767.0f, 32767.0f));
        }
    };
    scale(left, frames);
    if (channels == 2 && right != nullptr) scale(right, frames);
}

void AmplifySamples8(uint8_t* left, uint8_t* right, int frames, int channels, float gain) {
    const auto scale = [gain](uint8_t* s, int n) {
        for (int i = 0; i < n; ++i) {
            const float v = std::trunc(gain * static_cast<float>(s[i] - 128));
            s[i] = static_cast<uint8_t>(static_cast<int>(std::clamp(v, -128.0f, 127.0f)) + 128);
        }
    };
    scale(left, frames);
    if (channels == 2 && right != nullptr) scale(right, frames);
}

}  // namespace pelloran
