#include "encode/PcmConverter.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pelloran {

namespace {

// One sample at any width as a left-aligned 32-bit value, and back (8 bits unsigned, 16 signed, 24 and 32 as
// right-aligned int32).
int32_t ToTop(const void* in, int bits, int i) {
    switch (bits) {
        case 8: return static_cast<int32_t>(static_cast<uint32_t>(static_cast<const uint8_t*>(in)[i] ^ 0x80) << 24);
        case 16: return static_cast<int32_t>(static_cast<uint32_t>(static_cast<const int16_t*>(in)[i]) << 16);
        default: return static_cast<int32_t>(static_cast<uint32_t>(static_cast<const int32_t*>(in)[i]) << (32 - bits));
    }
}

void FromTop(int32_t top, int bits, void* out, int i) {
    switch (bits) {
        case 8: static_cast<uint8_t*>(out)[i] = static_cast<uint8_t>((top >> 24) + 128); break;
        case 16: static_cast<int16_t*>(out)[i] = static_cast<int16_t>(top >> 16); break;
        default: static_cast<int32_t*>(out)[i] = top >> (32 - bits); break;
    }
}

void ToFloat(const void* in, int bits, int frames, float* out) {
    if (bits == 16) {
        const auto* s = static_cast<const int16_t*>(in);
        for (int i = 0; i < frames; ++i) out[i] = static_cast<float>(s[i] * 0.000030517578125);
    } else if (bits == 8) {
        const auto* u = static_cast<const uint8_t*>(in);
        for (int i = 0; i < frames; ++i) out[i] = static_cast<float>((u[i] - 128) * 0.0078125);
    } else {
        const auto* w = static_cast<const int32_t*>(in);
        const double scale = 1.0 / static_cast<double>(int64_t{1} << (bits - 1));
        for (int i = 0; i < frames; ++i) out[i] = static_cast<float>(w[i] * scale);
    }
}

void FromFloat(const float* in, int frames, int bits, uint8_t* out) {
    const double top = static_cast<double>((int64_t{1} << (bits - 1)) - 1);
    for (int i = 0; i < frames; ++i) {
        float x = in[i];
        if (!(x >= -1.0f)) x = -1.0f;  // NaN included
        if (x > 1.0f) x = 1.0f;
        if (bits == 16) {
            const auto v = static_cast<int16_t>(std::trunc(x * 32767.0f));
            std::memcpy(out + 2 * i, &v, 2);
        } else if (bits == 8) {
            out[i] = static_cast<uint8_t>(128 + static_cast<int>(std::trunc(x * 127.0f)));
        } else {
            const auto v = static_cast<int32_t>(std::trunc(static_cast<double>(x) * top));
            std::memcpy(out + 4 * i, &v, 4);
        }
    }
}

// Input frames one later stage asks of the stage before it at a time.
constexpr int kChunkFrames = 1024;

// Converts frames from one width to another (narrower ones are cut, wider ones padded with zero bits) and
// appends them to out.
void AppendWidth(const void* in, int inBits, int outBits, int frames, std::vector<uint8_t>& out) {
    const size_t old = out.size();
    out.resize(old + static_cast<size_t>(frames) * SampleBytes(outBits));
    uint8_t* dest = out.data() + old;
    if (inBits == outBits) {
        std::memcpy(dest, in, static_cast<size_t>(frames) * SampleBytes(outBits));
        return;
    }
    for (int i = 0; i < frames; ++i) FromTop(ToTop(in, inBits, i), outBits, dest, i);
}

// Appends frames as floats to a stage's input, dropping what it has taken already.
void AppendFloat(const void* in, int bits, int frames, std::vector<float>& queue, size_t& taken) {
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(taken));
    taken = 0;
    const size_t old = queue.size();
    queue.resize(old + static_cast<size_t>(frames));
    ToFloat(in, bits, frames, queue.data() + old);
}

// out = (left + right) / 2, floored; out may be left.
void Mix(const void* left, const void* right, int frames, int bits, void* out) {
    if (bits > 16) {
        const auto* l = static_cast<const int32_t*>(left);
        const auto* r = static_cast<const int32_t*>(right);
        auto* o = static_cast<int32_t*>(out);
        for (int i = 0; i < frames; ++i) o[i] = static_cast<int32_t>((int64_t{l[i]} + r[i]) >> 1);
    } else if (bits == 16) {
        const auto* l = static_cast<const int16_t*>(left);
        const auto* r = static_cast<const int16_t*>(right);
        auto* o = static_cast<int16_t*>(out);
        for (int i = 0; i < frames; ++i) o[i] = static_cast<int16_t>((l[i] + r[i]) >> 1);
    } else {
        const auto* l = static_cast<const uint8_t*>(left);
        const auto* r = static_cast<const uint8_t*>(right);
        auto* o = static_cast<uint8_t*>(out);
        for (int i = 0; i < frames; ++i) o[i] = static_cast<uint8_t>((l[i] + r[i]) >> 1);
    }
}

}  // namespace

ChannelChoice ChooseChannels(int sourceChannels, int targetChannels, int monoType) {
    if (sourceChannels == targetChannels) return ChannelChoice::Same;
    if (sourceChannels < targetChannels) return ChannelChoice::Spread;
    if (monoType == 1) return ChannelChoice::Left;
    if (monoType == 2) return ChannelChoice::Right;
    return ChannelChoice::Mix;
}

void PcmConverter::ResamplerDeleter::operator()(void* handle) const {
    if (handle != nullptr) soxr_delete(static_cast<soxr_t>(handle));
}

PcmConverter::PcmConverter() = default;
PcmConverter::~PcmConverter() = default;

bool PcmConverter::Prepare() {
    chains_[0].reset();
    chains_[1].reset();
    factor_ = 0.0;
    failed_ = false;
    directLeft_.clear();
    directRight_.clear();
    directTaken_ = 0;
    pushed_ = 0;
    pulled_ = 0;
    if (sourceRate == targetRate) return true;
    if (sourceRate <= 0 || targetRate <= 0) return false;
    factor_ = static_cast<double>(targetRate) / static_cast<double>(sourceRate);
    // A large ratio is split into equal steps of at most kMaxStepFactor, which keeps every step's filter and
    // buffers small.
    const double span = std::fabs(std::log(factor_)) / std::log(kMaxStepFactor);
    const int steps = std::max(1, static_cast<int>(std::ceil(span - 1e-9)));
    const double step = steps == 1 ? factor_ : std::pow(factor_, 1.0 / steps);
    const int chainCount = sourceChannels == 2 && targetChannels == 2 ? 2 : 1;
    for (int c = 0; c < chainCount; ++c) {
        chains_[c] = std::make_unique<Chain>();
        chains_[c]->stages.resize(static_cast<size_t>(steps));
        double inRate = sourceRate;
        for (Stage& stage : chains_[c]->stages) {
            stage.factor = step;
            // High quality: flat to 20 kHz at 44.1 kHz and images far below 16 bits; one thread, since files
            // convert in parallel already.
            soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
            const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
            soxr_error_t error = nullptr;
            stage.handle.reset(soxr_create(inRate, inRate * step, 1, &error, &io, &quality, &runtime));
            if (!stage.handle || error != nullptr) return false;
            inRate *= step;
        }
    }
    return true;
}

void PcmConverter::Push(const void* left, const void* right, int frames) {
    if (frames <= 0 || left == nullptr || failed_) return;
    const void* l = left;
    const void* r = sourceChannels == 2 ? right : nullptr;

    if (!chains_[0]) {
        // Equal rates: width first, then the channels, at the target width.
        const size_t sampleBytes = SampleBytes(targetBits);
        const auto takenBytes = static_cast<std::ptrdiff_t>(directTaken_ * sampleBytes);
        directLeft_.erase(directLeft_.begin(), directLeft_.begin() + takenBytes);
        if (!directRight_.empty()) directRight_.erase(directRight_.begin(), directRight_.begin() + takenBytes);
        directTaken_ = 0;
        const size_t old = directLeft_.size();
        AppendWidth(l, sourceBits, targetBits, frames, directLeft_);
        if (r != nullptr) {
            const size_t rightOld = directRight_.size();
            AppendWidth(r, sourceBits, targetBits, frames, directRight_);
            if (targetChannels == 1) {
                Mix(directLeft_.data() + old, directRight_.data() + rightOld, frames, targetBits,
                    directLeft_.data() + old);
                directRight_.resize(rightOld);
            }
        } else if (targetChannels == 2) {
            directRight_.insert(directRight_.end(), directLeft_.begin() + static_cast<std::ptrdiff_t>(old),
                                directLeft_.end());
        }
        return;
    }

    if (targetChannels == 1 && r != nullptr) {
        const size_t bytes = static_cast<size_t>(frames) * SampleBytes(sourceBits);
        if (mixBuffer_.size() < bytes) mixBuffer_.resize(bytes);
        Mix(l, r, frames, sourceBits, mixBuffer_.data());
        l = mixBuffer_.data();
        r = nullptr;
    }
    pushed_ += static_cast<uint64_t>(frames);
    Stage& first = chains_[0]->stages.front();
    AppendFloat(l, sourceBits, frames, first.in, first.taken);
    if (chains_[1]) {
        Stage& second = chains_[1]->stages.front();
        AppendFloat(r != nullptr ? r : l, sourceBits, frames, second.in, second.taken);
    }
}

void PcmConverter::End() {
    for (auto& chain : chains_)
        if (chain) chain->stages.front().ended = true;
}

int PcmConverter::PullStage(Chain& chain, size_t index, float* out, int capacity) {
    Stage& s = chain.stages[index];
    int produced = 0;
    while (produced < capacity && !s.done && !failed_) {
        if (s.taken == s.in.size() && !s.ended && index > 0) {
            s.in.resize(kChunkFrames);
            s.taken = 0;
            const int got = PullStage(chain, index - 1, s.in.data(), kChunkFrames);
            s.in.resize(static_cast<size_t>(got));
            if (got == 0 && chain.stages[index - 1].done) s.ended = true;
        }
        const size_t available = s.in.size() - s.taken;
        // With all of its input taken, an ended stage is drained by calls without input.
        const bool drain = s.ended && available == 0;
        size_t used = 0;
        size_t n = 0;
        const soxr_error_t error =
            soxr_process(static_cast<soxr_t>(s.handle.get()), drain ? nullptr : s.in.data() + s.taken, available,
                         &used, out + produced, static_cast<size_t>(capacity - produced), &n);
        if (error != nullptr || n > static_cast<size_t>(capacity - produced) || used > available) {
            failed_ = true;
            break;
        }
        s.taken += used;
        produced += static_cast<int>(n);
        if (n == 0 && used == 0) {
            // Nothing moved: the stage waits for input, or drained, has given everything.
            if (drain) s.done = true;
            break;
        }
    }
    return produced;
}

int PcmConverter::Pull(void* destLeft, void* destRight, int capacity) {
    if (capacity <= 0 || destLeft == nullptr || failed_) return 0;
    if (targetChannels == 2 && destRight == nullptr) return 0;
    const size_t sampleBytes = SampleBytes(targetBits);

    if (!chains_[0]) {
        const size_t pending = directLeft_.size() / sampleBytes - directTaken_;
        const size_t count = std::min(pending, static_cast<size_t>(capacity));
        if (count == 0) return 0;
        std::memcpy(destLeft, directLeft_.data() + directTaken_ * sampleBytes, count * sampleBytes);
        if (targetChannels == 2)
            std::memcpy(destRight, directRight_.data() + directTaken_ * sampleBytes, count * sampleBytes);
        directTaken_ += count;
        return static_cast<int>(count);
    }

    const size_t last = chains_[0]->stages.size() - 1;
    {
        // The output is the input times the ratio, rounded: a step may end a little long or short.
        const auto allowed = static_cast<uint64_t>(std::llround(static_cast<double>(pushed_) * factor_));
        if (pulled_ >= allowed) return 0;
        capacity = static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(capacity), allowed - pulled_));
    }
    if (floatLeft_.size() < static_cast<size_t>(capacity)) floatLeft_.resize(static_cast<size_t>(capacity));
    int count = PullStage(*chains_[0], last, floatLeft_.data(), capacity);
    if (chains_[1]) {
        if (floatRight_.size() < static_cast<size_t>(capacity)) floatRight_.resize(static_cast<size_t>(capacity));
        // Both channels see the same lengths, so their resamplers give the same counts.
        count = std::min(count, PullStage(*chains_[1], last, floatRight_.data(), capacity));
    }
    if (failed_) return 0;
    if (count == 0 && chains_[0]->stages.back().done) {
        // Drained a little short (each step rounds): silence makes up the length the ratio gives.
        count = capacity;
        std::fill_n(floatLeft_.data(), count, 0.0f);
        if (chains_[1]) std::fill_n(floatRight_.data(), count, 0.0f);
    }
    pulled_ += static_cast<uint64_t>(count);
    FromFloat(floatLeft_.data(), count, targetBits, static_cast<uint8_t*>(destLeft));
    if (targetChannels == 2)
        FromFloat((chains_[1] ? floatRight_ : floatLeft_).data(), count, targetBits, static_cast<uint8_t*>(destRight));
    return count;
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
