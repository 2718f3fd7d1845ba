#include "platform/Loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace pelloran {

namespace {

// Frames interleaved per library call: the buffer stays small (64 KiB at 8 channels) whatever the block size.
constexpr int kChunkFrames = 2048;

int LibraryChannel(ChannelRole role) {
    switch (role) {
        case ChannelRole::Left: return EBUR128_LEFT;
        case ChannelRole::Right: return EBUR128_RIGHT;
        case ChannelRole::Center: return EBUR128_CENTER;
        case ChannelRole::LeftSurround: return EBUR128_Mp110;
        case ChannelRole::RightSurround: return EBUR128_Mm110;
        case ChannelRole::LeftSide: return EBUR128_Mp090;
        case ChannelRole::RightSide: return EBUR128_Mm090;
        case ChannelRole::LeftBack: return EBUR128_Mp135;
        case ChannelRole::RightBack: return EBUR128_Mm135;
        case ChannelRole::BackCenter: return EBUR128_Mp180;
        case ChannelRole::DualMono: return EBUR128_DUAL_MONO;
        case ChannelRole::Lfe:
        case ChannelRole::Unused: break;
    }
    return EBUR128_UNUSED;
}

std::optional<double> Finite(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

// The highest sample and true peaks of all channels into result (a true peak only when it has one).
void AddPeaks(ebur128_state* meter, int channels, LoudnessResult& result) {
    double value = 0.0;
    for (int c = 0; c < channels; ++c) {
        if (ebur128_sample_peak(meter, static_cast<unsigned>(c), &value) == EBUR128_SUCCESS && std::isfinite(value))
            result.samplePeak = std::max(result.samplePeak, value);
        if (result.truePeak && ebur128_true_peak(meter, static_cast<unsigned>(c), &value) == EBUR128_SUCCESS &&
            std::isfinite(value))
            result.truePeak = std::max(*result.truePeak, value);
    }
}

}  // namespace

struct LoudnessMeter::State {
    ebur128_state* meter = nullptr;
    std::unique_ptr<float[]> interleaved;
    bool truePeak = false;

    State() = default;
    ~State() {
        if (meter) ebur128_destroy(&meter);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
};

ChannelRoles DefaultChannelRoles(int channels) {
    using R = ChannelRole;
    ChannelRoles roles;
    roles.fill(R::Unused);
    const auto set = [&](std::initializer_list<R> list) { std::copy(list.begin(), list.end(), roles.begin()); };
    switch (channels) {
        case 1: set({R::Left}); break;
        case 3: set({R::Left, R::Right, R::Center}); break;
        case 4: set({R::Left, R::Right, R::LeftSurround, R::RightSurround}); break;
        case 5: set({R::Left, R::Right, R::Center, R::LeftSurround, R::RightSurround}); break;
        case 6: set({R::Left, R::Right, R::Center, R::Lfe, R::LeftSurround, R::RightSurround}); break;
        case 7: set({R::Left, R::Right, R::Center, R::Lfe, R::BackCenter, R::LeftSurround, R::RightSurround}); break;
        case 8:
            set({R::Left, R::Right, R::Center, R::Lfe, R::LeftBack, R::RightBack, R::LeftSide, R::RightSide});
            break;
        default: set({R::Left, R::Right}); break;
    }
    return roles;
}

std::optional<double> AmplitudeToDb(double linear) {
    if (!(linear > 0.0) || !std::isfinite(linear)) return std::nullopt;
    return 20.0 * std::log10(linear);
}

std::optional<double> LoudnessResult::SamplePeakDb() const { return AmplitudeToDb(samplePeak); }
std::optional<double> LoudnessResult::TruePeakDb() const {
    return truePeak ? AmplitudeToDb(*truePeak) : std::nullopt;
}

LoudnessMeter::LoudnessMeter(int rate, int channels, bool truePeak, bool range)
    : LoudnessMeter(rate, channels, DefaultChannelRoles(channels), truePeak, range) {}

LoudnessMeter::LoudnessMeter(int rate, int channels, const ChannelRoles& roles, bool truePeak, bool range) {
    if (rate <= 0 || channels < 1 || channels > kMaxChannels) return;
    auto state = std::make_unique<State>();
    state->meter = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                                EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK | (range ? EBUR128_MODE_LRA : 0) |
                                    (truePeak ? EBUR128_MODE_TRUE_PEAK : 0));
    if (!state->meter) return;
    state->truePeak = truePeak;
    for (int c = 0; c < channels; ++c) {
        if (ebur128_set_channel(state->meter, static_cast<unsigned>(c), LibraryChannel(roles[c])) != EBUR128_SUCCESS)
            return;
    }
    state->interleaved = std::make_unique<float[]>(static_cast<size_t>(kChunkFrames) * channels);
    rate_ = rate;
    channels_ = channels;
    state_ = std::move(state);
}

LoudnessMeter::~LoudnessMeter() = default;
LoudnessMeter::LoudnessMeter(LoudnessMeter&&) noexcept = default;
LoudnessMeter& LoudnessMeter::operator=(LoudnessMeter&&) noexcept = default;

bool LoudnessMeter::Add(const int32_t* const* planes, int frames, int bits) {
    if (!state_ || frames < 0 || (bits != 8 && bits != 16 && bits != 24 && bits != 32)) return false;
    if (frames == 0) return true;
    if (!planes) return false;
    for (int c = 0; c < channels_; ++c) {
        if (!planes[c]) return false;
    }
    const float scale = std::ldexp(1.0f, 1 - bits);
    float* buffer = state_->interleaved.get();
    for (int done = 0; done < frames;) {
        const int count = std::min(kChunkFrames, frames - done);
        for (int c = 0; c < channels_; ++c) {
            const int32_t* in = planes[c] + done;
            float* out = buffer + c;
            for (int i = 0; i < count; ++i) out[static_cast<size_t>(i) * channels_] = static_cast<float>(in[i]) * scale;
        }
        if (ebur128_add_frames_float(state_->meter, buffer, static_cast<size_t>(count)) != EBUR128_SUCCESS)
            return false;
        done += count;
    }
    return true;
}

LoudnessResult LoudnessMeter::Result() const {
    LoudnessResult result;
    if (!state_) return result;
    ebur128_state* meter = state_->meter;
    double value = 0.0;
    if (ebur128_loudness_global(meter, &value) == EBUR128_SUCCESS) result.integrated = Finite(value);
    if (result.integrated && ebur128_loudness_range(meter, &value) == EBUR128_SUCCESS) result.range = Finite(value);
    if (state_->truePeak) result.truePeak = 0.0;
    AddPeaks(meter, channels_, result);
    return result;
}

LoudnessResult LoudnessMeter::Album(std::span<const LoudnessMeter* const> tracks) {
    LoudnessResult album;
    std::vector<ebur128_state*> states;
    states.reserve(tracks.size());
    album.truePeak = 0.0;
    for (const LoudnessMeter* track : tracks) {
        if (!track || !track->state_) continue;
        states.push_back(track->state_->meter);
        if (!track->state_->truePeak) album.truePeak.reset();
        AddPeaks(track->state_->meter, track->channels_, album);
    }
    if (states.empty()) return {};
    double value = 0.0;
    if (ebur128_loudness_global_multiple(states.data(), states.size(), &value) == EBUR128_SUCCESS)
        album.integrated = Finite(value);
    if (album.integrated && ebur128_loudness_range_multiple(states.data(), states.size(), &value) == EBUR128_SUCCESS)
        album.range = Finite(value);
    return album;
}

}  // namespace pelloran
