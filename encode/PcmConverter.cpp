#include "encode/PcmConverter.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pelloran {

namespace {

void ToFloat(const int32_t* in, int bits, int frames, float* out) {
    const double scale = 1.0 / static_cast<double>(int64_t{1} << (bits - 1));
    for (int i = 0; i < frames; ++i) out[i] = static_cast<float>(in[i] * scale);
}

// Floats in [-1, 1] (beyond: clamped, NaN: -1) to samples at bits, rounded toward zero.
void FromFloat(const float* in, int frames, int bits, int32_t* out) {
    const double top = static_cast<double>((int64_t{1} << (bits - 1)) - 1);
    const float topFloat = static_cast<float>(top);
    for (int i = 0; i < frames; ++i) {
        float x = in[i];
        if (!(x >= -1.0f)) x = -1.0f;  // NaN included
        if (x > 1.0f) x = 1.0f;
        out[i] = bits <= 16 ? static_cast<int32_t>(std::trunc(x * topFloat))
                            : static_cast<int32_t>(std::trunc(static_cast<double>(x) * top));
    }
}

// Input frames one later stage asks of the stage before it at a time.
constexpr int kChunkFrames = 1024;

// Drops what a queue's reader has taken, then makes room for frames more; the new room's start.
template <typename T>
T* Append(std::vector<T>& queue, size_t& taken, size_t frames) {
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(taken));
    taken = 0;
    const size_t old = queue.size();
    queue.resize(old + frames);
    return queue.data() + old;
}

// Speaker roles of FFmpeg's standard layouts by channel count.
enum Role { FrontLeft, FrontRight, Centre, Lfe, SurroundLeft, SurroundRight, BackCentre };
constexpr Role kLayouts[kMaxChannels + 1][kMaxChannels] = {
    {},
    {Centre},
    {FrontLeft, FrontRight},
    {FrontLeft, FrontRight, Centre},
    {FrontLeft, FrontRight, SurroundLeft, SurroundRight},
    {FrontLeft, FrontRight, Centre, SurroundLeft, SurroundRight},
    {FrontLeft, FrontRight, Centre, Lfe, SurroundLeft, SurroundRight},
    {FrontLeft, FrontRight, Centre, Lfe, BackCentre, SurroundLeft, SurroundRight},
    {FrontLeft, FrontRight, Centre, Lfe, SurroundLeft, SurroundRight, SurroundLeft, SurroundRight},
};

}  // namespace

ChannelChoice ChooseChannels(int sourceChannels, int targetChannels, int monoType) {
    if (sourceChannels == targetChannels) return ChannelChoice::Same;
    if (sourceChannels < targetChannels) return ChannelChoice::Spread;
    if (sourceChannels > 2) return ChannelChoice::Downmix;
    if (monoType == 1) return ChannelChoice::Left;
    if (monoType == 2) return ChannelChoice::Right;
    return ChannelChoice::Mix;
}

DownmixWeights StereoDownmix(int channels) {
    DownmixWeights w;
    if (channels < 1 || channels > kMaxChannels) return w;
    constexpr float kMinus3dB = 0.70710678f;
    float sumLeft = 0.0f;
    float sumRight = 0.0f;
    for (int c = 0; c < channels; ++c) {
        switch (kLayouts[channels][c]) {
            case FrontLeft: w.left[c] = 1.0f; break;
            case FrontRight: w.right[c] = 1.0f; break;
            case Centre: w.left[c] = w.right[c] = kMinus3dB; break;
            case Lfe: break;
            case SurroundLeft: w.left[c] = kMinus3dB; break;
            case SurroundRight: w.right[c] = kMinus3dB; break;
            case BackCentre: w.left[c] = w.right[c] = 0.5f; break;
        }
        sumLeft += w.left[c];
        sumRight += w.right[c];
    }
    // Both sides by the larger sum, so that full-scale input in every channel cannot clip and the balance stays.
    const float sum = std::max({sumLeft, sumRight, 1.0f});
    for (int c = 0; c < channels; ++c) {
        w.left[c] /= sum;
        w.right[c] /= sum;
    }
    return w;
}

void PcmConverter::ResamplerDeleter::operator()(void* handle) const {
    if (handle != nullptr) soxr_delete(static_cast<soxr_t>(handle));
}

PcmConverter::PcmConverter() = default;
PcmConverter::~PcmConverter() = default;

bool PcmConverter::Prepare(const PcmFormat& source, const PcmFormat& target, int monoType) {
    for (auto& chain : chains_) chain.reset();
    factor_ = 0.0;
    failed_ = false;
    for (auto& queue : direct_) queue.clear();
    directTaken_ = 0;
    pushed_ = 0;
    pulled_ = 0;
    if (!source.Valid() || !target.Valid()) return false;
    source_ = source;
    target_ = target;
    choice_ = ChooseChannels(source.channels, target.channels, monoType);
    downmix_ = StereoDownmix(source.channels);
    if (source.rate == target.rate) return true;
    factor_ = static_cast<double>(target.rate) / static_cast<double>(source.rate);
    // A large ratio is split into equal steps of at most kMaxStepFactor, which keeps every step's filter and
    // buffers small.
    const double span = std::fabs(std::log(factor_)) / std::log(kMaxStepFactor);
    const int steps = std::max(1, static_cast<int>(std::ceil(span - 1e-9)));
    const double step = steps == 1 ? factor_ : std::pow(factor_, 1.0 / steps);
    for (int c = 0; c < target.channels; ++c) {
        chains_[c] = std::make_unique<Chain>();
        chains_[c]->stages.resize(static_cast<size_t>(steps));
        double inRate = source.rate;
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

void PcmConverter::MixChannels(const int32_t* const* planes, int frames) {
    const auto n = static_cast<size_t>(frames);
    for (int c = 0; c < target_.channels; ++c)
        if (mixed_[c].size() < n) mixed_[c].resize(n);
    int32_t* out0 = mixed_[0].data();
    switch (choice_) {
        case ChannelChoice::Same:  // taken as they are by Push
        case ChannelChoice::Spread:
            for (int c = 0; c < target_.channels; ++c) {
                const int32_t* in = planes[c < source_.channels ? c : 0];
                std::copy_n(in, n, mixed_[c].data());
            }
            return;
        case ChannelChoice::Left: std::copy_n(planes[0], n, out0); return;
        case ChannelChoice::Right: std::copy_n(planes[1], n, out0); return;
        case ChannelChoice::Mix:
            for (size_t i = 0; i < n; ++i)
                out0[i] = static_cast<int32_t>((int64_t{planes[0][i]} + planes[1][i]) >> 1);
            return;
        case ChannelChoice::Downmix: {
            const bool mono = target_.channels == 1;
            int32_t* outRight = mono ? nullptr : mixed_[1].data();
            for (size_t i = 0; i < n; ++i) {
                float l = 0.0f;
                float r = 0.0f;
                for (int c = 0; c < source_.channels; ++c) {
                    const auto v = static_cast<float>(planes[c][i]);
                    l += downmix_.left[c] * v;
                    r += downmix_.right[c] * v;
                }
                if (mono) {
                    out0[i] = static_cast<int32_t>(std::lrint(0.5f * (l + r)));
                } else {
                    out0[i] = static_cast<int32_t>(std::lrint(l));
                    outRight[i] = static_cast<int32_t>(std::lrint(r));
                }
            }
            return;
        }
    }
}

void PcmConverter::Push(const int32_t* const* planes, int frames) {
    if (frames <= 0 || planes == nullptr || failed_ || !target_.Valid()) return;
    const int32_t* mixed[kMaxChannels] = {};
    if (choice_ == ChannelChoice::Same) {
        std::copy_n(planes, target_.channels, mixed);
    } else {
        MixChannels(planes, frames);
        for (int c = 0; c < target_.channels; ++c) mixed[c] = mixed_[c].data();
    }
    const auto n = static_cast<size_t>(frames);
    if (!chains_[0]) {
        // Equal rates: the width only.
        for (int c = 0; c < target_.channels; ++c) {
            size_t taken = directTaken_;
            int32_t* out = Append(direct_[c], taken, n);
            if (ditherOn_ && source_.bits > target_.bits && target_.bits <= 16) {
                std::copy_n(mixed[c], n, out);
                NarrowWithDither(out, frames, source_.bits, target_.bits, dither_);
            } else {
                ChangeWidth(mixed[c], out, frames, source_.bits, target_.bits);
            }
        }
        directTaken_ = 0;
        return;
    }
    pushed_ += static_cast<uint64_t>(frames);
    for (int c = 0; c < target_.channels; ++c) {
        Stage& first = chains_[c]->stages.front();
        ToFloat(mixed[c], source_.bits, frames, Append(first.in, first.taken, n));
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

int PcmConverter::Pull(int32_t* const* dest, int capacity) {
    if (capacity <= 0 || dest == nullptr || failed_ || !target_.Valid()) return 0;
    const int channels = target_.channels;

    if (!chains_[0]) {
        const size_t pending = direct_[0].size() - directTaken_;
        const size_t count = std::min(pending, static_cast<size_t>(capacity));
        if (count == 0) return 0;
        for (int c = 0; c < channels; ++c) std::copy_n(direct_[c].data() + directTaken_, count, dest[c]);
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
    int count = capacity;
    for (int c = 0; c < channels; ++c) {
        if (floats_[c].size() < static_cast<size_t>(capacity)) floats_[c].resize(static_cast<size_t>(capacity));
        // Every channel sees the same lengths, so their resamplers give the same counts.
        count = std::min(count, PullStage(*chains_[c], last, floats_[c].data(), capacity));
    }
    if (failed_) return 0;
    if (count == 0 && chains_[0]->stages.back().done) {
        // Drained a little short (each step rounds): silence makes up the length the ratio gives.
        count = capacity;
        for (int c = 0; c < channels; ++c) std::fill_n(floats_[c].data(), count, 0.0f);
    }
    pulled_ += static_cast<uint64_t>(count);
    const bool dither = ditherOn_ && source_.bits > target_.bits && target_.bits <= 16;
    for (int c = 0; c < channels; ++c) {
        if (!dither) {
            FromFloat(floats_[c].data(), count, target_.bits, dest[c]);
            continue;
        }
        const double top = static_cast<double>((int64_t{1} << (target_.bits - 1)) - 1);
        for (int i = 0; i < count; ++i) {
            const double x = std::floor(static_cast<double>(floats_[c][static_cast<size_t>(i)]) * (top + 1.0) +
                                        dither_.Next() + 0.5);
            dest[c][i] = static_cast<int32_t>(std::clamp(x, -top - 1.0, top));
        }
    }
    return count;
}

void NarrowWithDither(int32_t* samples, int frames, int fromBits, int toBits, TpdfDither& dither) {
    const double scale = 1.0 / static_cast<double>(int64_t{1} << (fromBits - toBits));
    const double top = static_cast<double>((int64_t{1} << (toBits - 1)) - 1);
    const double bottom = -top - 1.0;
    for (int i = 0; i < frames; ++i) {
        const double x = std::floor(static_cast<double>(samples[i]) * scale + dither.Next() + 0.5);
        samples[i] = static_cast<int32_t>(std::clamp(x, bottom, top));
    }
}

void AmplifySamples(int32_t* samples, int frames, int bits, float gain) {
    if (bits <= 16) {
        // 16 bits stop at +-32767; 8 bits keep their full range.
        const float top = bits == 8 ? 127.0f : 32767.0f;
        const float bottom = bits == 8 ? -128.0f : -32767.0f;
        for (int i = 0; i < frames; ++i)
            samples[i] = static_cast<int32_t>(std::clamp(std::trunc(gain * static_cast<float>(samples[i])), bottom, top));
        return;
    }
    const double top = static_cast<double>((int64_t{1} << (bits - 1)) - 1);
    for (int i = 0; i < frames; ++i)
        samples[i] = static_cast<int32_t>(std::clamp(std::trunc(gain * static_cast<double>(samples[i])), -top, top));
}

}  // namespace pelloran
