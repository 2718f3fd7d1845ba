#include "decode/MidiSource.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/File.h"
#include "platform/FluidSynth.h"
#include "platform/SoundFont.h"
#include "platform/smf.h"

namespace pelloran {

namespace {

constexpr int kDefaultRate = 44100;
constexpr int64_t kMaxMidiBytes = 64 * 1024 * 1024;
// Frames rendered first to see that FluidSynth took the file.
constexpr uint64_t kPrimeFrames = 64;

}  // namespace

struct MidiSource::State {
    std::vector<uint8_t> smf;
    std::string soundFont;
    int rate = kDefaultRate;
    uint64_t framesLeft = 0;
    uint64_t fileBytes = 0;
    bool started = false;
    FluidSynth synth;
    PlayerPtr player;  // declared after the synthesizer: destroyed first
    std::vector<int16_t> primed;

    size_t Render(int16_t* out, uint64_t frames) {
        constexpr uint64_t kChunk = 4096;
        uint64_t done = 0;
        while (done < frames) {
            const int n = static_cast<int>(std::min(kChunk, frames - done));
            int16_t* at = out + done * 2;
            if (Fluid().fluid_synth_write_s16(synth.synth.get(), n, at, 0, 2, at, 1, 2) != FLUID_OK) break;
            done += static_cast<uint64_t>(n);
        }
        framesLeft -= done;
        return static_cast<size_t>(done);
    }

    // Sets FluidSynth up and renders the first frames: it loads the file on its first block, and a file it
    // refuses would only give silence.
    bool Start() {
        if (soundFont.empty() || !synth.Create(soundFont, rate)) return false;
        player.reset(Fluid().new_fluid_player(synth.synth.get()));
        if (!player || Fluid().fluid_player_add_mem(player.get(), smf.data(), smf.size()) != FLUID_OK ||
            Fluid().fluid_player_play(player.get()) != FLUID_OK)
            return false;
        primed.resize(std::min(kPrimeFrames, framesLeft) * 2);
        primed.resize(Render(primed.data(), primed.size() / 2) * 2);
        return Fluid().fluid_player_get_status(player.get()) == FLUID_PLAYER_PLAYING || framesLeft == 0;
    }
};

MidiSource::MidiSource() : s_(std::make_unique<State>()) {}
MidiSource::~MidiSource() = default;

std::unique_ptr<MidiSource> MidiSource::Open(const File& file, int rate) {
    return Open(file, rate, DefaultSoundFont());
}

std::unique_ptr<MidiSource> MidiSource::Open(const File& file, int rate, const std::string& soundFont) {
    const int64_t size = file.Size();
    if (size <= 0 || size > kMaxMidiBytes) return nullptr;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!file.ReadExactAt(0, bytes.data(), bytes.size())) return nullptr;
    SmfSong song;
    if (!ParseSmf(bytes, song)) return nullptr;
    const int outRate = rate == 0 ? kDefaultRate : rate;
    if (outRate < 8000 || outRate > 96000) return nullptr;  // FluidSynth's range
    const auto frames = static_cast<uint64_t>(std::llround(song.seconds * outRate));
    if (frames == 0) return nullptr;

    std::unique_ptr<MidiSource> source(new MidiSource);
    State& s = *source->s_;
    s.smf.assign(bytes.begin() + static_cast<std::ptrdiff_t>(song.offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(song.offset + song.size));
    s.soundFont = soundFont;
    s.rate = outRate;
    s.framesLeft = frames;
    s.fileBytes = static_cast<uint64_t>(size);
    source->format_ = {outRate, 2, 16};
    source->lengthFrames_ = frames;
    return source;
}

size_t MidiSource::Read(void* out, size_t frames) {
    State& s = *s_;
    if (!s.started) {
        s.started = true;
        if (!s.Start()) {
            s.framesLeft = 0;
            s.primed.clear();
        }
    }
    auto* samples = static_cast<int16_t*>(out);
    size_t done = std::min(frames, s.primed.size() / 2);
    std::copy(s.primed.begin(), s.primed.begin() + static_cast<std::ptrdiff_t>(done * 2), samples);
    s.primed.erase(s.primed.begin(), s.primed.begin() + static_cast<std::ptrdiff_t>(done * 2));
    // Rendering runs to the song's length; notes still sounding are cut there.
    if (s.framesLeft > 0) done += s.Render(samples + done * 2, std::min<uint64_t>(frames - done, s.framesLeft));
    return done;
}

std::optional<uint64_t> MidiSource::FileBytes() const { return s_->fileBytes; }

}  // namespace pelloran
