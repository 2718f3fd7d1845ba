#include "decode/SampleAdapter.h"
#include "platform/FfmpegHandles.h"

#include "platform/FfmpegApi.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace pelloran {

namespace {

// Largest output of one conversion step, in frames; a decoded block never comes near it.
constexpr int64_t kMaxConvertFrames = 1 << 21;
constexpr int kMaxSampleRate = 1000000;
constexpr int kMaxResamplerChannels = 64;  // the resampler's limit


// Releases a layout; one never set needs no call (and so no FFmpeg: an adapter never used does not load it).
void Release(AVChannelLayout& layout) {
    if (layout.nb_channels != 0 || layout.u.map != nullptr) av_channel_layout_uninit(&layout);
}

// An AVChannelLayout that releases itself.
struct Layout {
    AVChannelLayout v{};
    Layout() = default;
    ~Layout() { Release(v); }
    Layout(const Layout&) = delete;
    Layout& operator=(const Layout&) = delete;
};

// One or two channels are taken as they come; larger layouts keep their meaning when the library knows it,
// else the usual layout for that count stands in.
bool Normalised(const AVChannelLayout& layout, Layout& out) {
    Release(out.v);
    if (layout.nb_channels > 2 && layout.order == AV_CHANNEL_ORDER_NATIVE)
        return av_channel_layout_copy(&out.v, &layout) >= 0;
    av_channel_layout_default(&out.v, layout.nb_channels);
    return true;
}

}  // namespace

struct SampleAdapter::State {
    int outRate = 0;
    Layout outLayout;
    bool eightBit = false;
    SwrPtr swr;
    // The input set-up the resampler was built for.
    int inFormat = AV_SAMPLE_FMT_NONE;
    int inRate = 0;
    Layout inLayout;
    std::vector<uint8_t> pending;  // packed output samples
    size_t consumedFrames = 0;

    int OutChannels() const { return outLayout.v.nb_channels; }
    size_t FrameBytes() const { return static_cast<size_t>(OutChannels()) * (eightBit ? 1 : 2); }
    size_t TotalFrames() const { return FrameBytes() == 0 ? 0 : pending.size() / FrameBytes(); }

    void Compact() {
        if (consumedFrames == 0) return;
        pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(consumedFrames * FrameBytes()));
        consumedFrames = 0;
    }

    // Runs the resampler into the pending buffer; room is the most frames it may produce.
    bool Convert(const uint8_t** in, int inFrames, int64_t room) {
        if (room <= 0) return true;
        if (room > kMaxConvertFrames) return false;
        Compact();
        const size_t old = pending.size();
        pending.resize(old + static_cast<size_t>(room) * FrameBytes());
        uint8_t* out = pending.data() + old;
        const int made = swr_convert(swr.get(), &out, static_cast<int>(room), in, inFrames);
        pending.resize(old + static_cast<size_t>(std::max(made, 0)) * FrameBytes());
        return made >= 0;
    }

    bool Configure(int format, const AVChannelLayout& layout, int rate) {
        swr.reset();
        av_channel_layout_uninit(&inLayout.v);
        inFormat = AV_SAMPLE_FMT_NONE;
        inRate = 0;

        const int n = layout.nb_channels;
        const int outChannels = OutChannels();
        Layout in;
        if (!Normalised(layout, in)) return false;
        SwrContext* raw = nullptr;
        if (swr_alloc_set_opts2(&raw, &outLayout.v, eightBit ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16, outRate, &in.v,
                                static_cast<AVSampleFormat>(format), rate, 0, nullptr) < 0)
            return false;
        SwrPtr context(raw);

        // Plain matrices where the library's mixing rules do not fit: mono spread to both sides at full
        // level, a pair averaged into mono, and the first two channels of a layout without known meaning.
        if (n != outChannels && (n <= 2 || in.v.order != AV_CHANNEL_ORDER_NATIVE)) {
            std::vector<double> matrix(static_cast<size_t>(outChannels) * n, 0.0);
            if (outChannels == 1) {
                const int used = std::min(n, 2);
                for (int i = 0; i < used; ++i) matrix[i] = 1.0 / used;
            } else {
                matrix[0] = 1.0;
                matrix[static_cast<size_t>(n) + (n > 1 ? 1 : 0)] = 1.0;
            }
            if (swr_set_matrix(context.get(), matrix.data(), n) < 0) return false;
        }
        if (swr_init(context.get()) < 0) return false;

        if (av_channel_layout_copy(&inLayout.v, &layout) < 0) return false;
        swr = std::move(context);
        inFormat = format;
        inRate = rate;
        return true;
    }
};

SampleAdapter::SampleAdapter() : s_(std::make_unique<State>()) {}
SampleAdapter::~SampleAdapter() = default;

bool SampleAdapter::Setup(int outRate, int outChannels, bool eightBit) {
    if (!ffmpeg::Load()) return false;
    Reset();
    if (outRate <= 0 || outRate > kMaxSampleRate || outChannels < 1 || outChannels > 2) return false;
    s_->outRate = outRate;
    av_channel_layout_default(&s_->outLayout.v, outChannels);
    s_->eightBit = eightBit;
    return true;
}

bool SampleAdapter::SetupLayout(int outRate, const AVChannelLayout& layout, bool eightBit) {
    if (!ffmpeg::Load()) return false;
    Reset();
    if (outRate <= 0 || outRate > kMaxSampleRate || layout.nb_channels < 1 || layout.nb_channels > kMaxResamplerChannels)
        return false;
    if (!Normalised(layout, s_->outLayout)) return false;
    s_->outRate = outRate;
    s_->eightBit = eightBit;
    return true;
}

void SampleAdapter::Reset() {
    s_->swr.reset();
    Release(s_->inLayout.v);
    Release(s_->outLayout.v);
    s_->inFormat = AV_SAMPLE_FMT_NONE;
    s_->inRate = 0;
    s_->pending.clear();
    s_->consumedFrames = 0;
    s_->outRate = 0;
}

bool SampleAdapter::Push(const uint8_t* const* data, int frames, int sampleFormat, const AVChannelLayout& layout,
                         int rate) {
    State& s = *s_;
    if (s.OutChannels() == 0 || data == nullptr || frames <= 0) return false;
    if (rate <= 0 || rate > kMaxSampleRate || layout.nb_channels <= 0 || layout.nb_channels > kMaxResamplerChannels)
        return false;
    if (sampleFormat <= AV_SAMPLE_FMT_NONE || sampleFormat >= AV_SAMPLE_FMT_NB) return false;
    // Blocks already in the output's shape (a WAV file's 16-bit samples, say) are taken as they are.
    const int outFormat = s.eightBit ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    // One or two channels count as the same layout whatever their order says (they are taken as they come).
    const bool sameLayout = layout.nb_channels == s.OutChannels() &&
                            (layout.nb_channels <= 2 || av_channel_layout_compare(&layout, &s.outLayout.v) == 0);
    if (sampleFormat == outFormat && rate == s.outRate && sameLayout) {
        Drain();
        s.Compact();
        const size_t bytes = static_cast<size_t>(frames) * s.FrameBytes();
        const size_t old = s.pending.size();
        s.pending.resize(old + bytes);
        std::memcpy(s.pending.data() + old, data[0], bytes);
        return true;
    }
    if (!s.swr || sampleFormat != s.inFormat || rate != s.inRate ||
        av_channel_layout_compare(&layout, &s.inLayout.v) != 0) {
        Drain();  // what the old set-up still holds comes first
        if (!s.Configure(sampleFormat, layout, rate)) return false;
    }
    const int room = swr_get_out_samples(s.swr.get(), frames);
    if (room < 0) return false;
    return s.Convert(const_cast<const uint8_t**>(data), frames, room);
}

void SampleAdapter::Drain() {
    State& s = *s_;
    if (!s.swr) return;
    const int room = swr_get_out_samples(s.swr.get(), 0);
    if (room > 0) s.Convert(nullptr, 0, room);
}

int SampleAdapter::PendingFrames() const { return static_cast<int>(s_->TotalFrames() - s_->consumedFrames); }

size_t SampleAdapter::Take(void* out, size_t frames) {
    State& s = *s_;
    const size_t n = std::min(static_cast<size_t>(PendingFrames()), frames);
    if (n == 0) return 0;
    const size_t frameBytes = s.FrameBytes();
    std::memcpy(out, s.pending.data() + s.consumedFrames * frameBytes, n * frameBytes);
    s.consumedFrames += n;
    if (s.consumedFrames * frameBytes >= s.pending.size()) {
        s.pending.clear();
        s.consumedFrames = 0;
    }
    return n;
}

int SampleAdapter::Rate() const { return s_->outRate; }
int SampleAdapter::Channels() const { return s_->OutChannels(); }
bool SampleAdapter::EightBit() const { return s_->eightBit; }

}  // namespace pelloran
