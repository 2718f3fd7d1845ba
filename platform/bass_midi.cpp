// MIDI streams of the BASS stand-in: FluidSynth renders the file through the SoundFont, one synthesizer per
// stream, clocked by the samples it renders. The length comes from the file's tempo map and rendering stops
// there, so a file that never ends still stops.

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/bass_channel.h"
#include "platform/smf.h"

namespace pelloran::bass {

namespace {

struct SettingsDeleter {
    void operator()(fluid_settings_t* s) const { delete_fluid_settings(s); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* s) const { delete_fluid_synth(s); }
};
struct PlayerDeleter {
    void operator()(fluid_player_t* p) const { delete_fluid_player(p); }
};
using SettingsPtr = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using SynthPtr = std::unique_ptr<fluid_synth_t, SynthDeleter>;
using PlayerPtr = std::unique_ptr<fluid_player_t, PlayerDeleter>;

constexpr int kDefaultRate = 44100;
constexpr int64_t kMaxMidiBytes = 64 * 1024 * 1024;
// Frames rendered at open to see that FluidSynth took the file.
constexpr int kPrimeFrames = 64;

// FluidSynth's messages would go to the terminal; the library's own failures are reported by results.
void SilenceFluidLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
            fluid_set_log_function(level, nullptr, nullptr);
        }
    });
}

// A synthesizer with the SoundFont loaded, rendering at rate without an audio driver.
struct Synth {
    SettingsPtr settings;
    SynthPtr synth;

    bool Create(const std::string& soundFont, int rate) {
        SilenceFluidLog();
        // Creation touches FluidSynth's process-wide initialisation: keep it to one thread at a time.
        {
            static std::mutex createMutex;
            std::lock_guard lock(createMutex);
            settings.reset(new_fluid_settings());
            if (!settings) return false;
            fluid_settings_setnum(settings.get(), "synth.sample-rate", rate);
            fluid_settings_setnum(settings.get(), "synth.gain", 0.5);
            fluid_settings_setint(settings.get(), "synth.cpu-cores", 1);
            fluid_settings_setstr(settings.get(), "player.timing-source", "sample");
            fluid_settings_setint(settings.get(), "synth.lock-memory", 0);
            synth.reset(new_fluid_synth(settings.get()));
            if (!synth) return false;
        }
        return fluid_synth_sfload(synth.get(), soundFont.c_str(), 1) != FLUID_FAILED;
    }
};

class MidiChannel final : public Channel {
public:
    bool Open(const std::string& file, uint32_t rate, const std::string& soundFont);
    uint32_t GetData(void* buffer, uint32_t bytes) override;
    uint64_t FilePosition(uint32_t mode) override;

private:
    uint32_t Render(int16_t* out, uint64_t frames);

    Synth synth_;
    PlayerPtr player_;  // declared after the synthesizer: destroyed first
    std::vector<uint8_t> smf_;
    std::vector<int16_t> primed_;
    uint64_t framesLeft_ = 0;
    uint64_t fileSize_ = 0;
};

bool MidiChannel::Open(const std::string& file, uint32_t rate, const std::string& soundFont) {
    path = file;
    File in;
    if (!in.Open(file, "rb")) return false;
    const int64_t size = in.Size();
    if (size <= 0 || size > kMaxMidiBytes) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!in.ReadExact(bytes.data(), bytes.size())) return false;
    fileSize_ = static_cast<uint64_t>(size);

    SmfSong song;
    if (!ParseSmf(bytes, song)) return false;
    smf_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(song.offset),
                bytes.begin() + static_cast<std::ptrdiff_t>(song.offset + song.size));

    const int outRate = rate == 0 ? kDefaultRate : static_cast<int>(rate);
    if (outRate < 8000 || outRate > 96000) return false;  // FluidSynth's range
    framesLeft_ = static_cast<uint64_t>(std::llround(song.seconds * outRate));
    if (framesLeft_ == 0) return false;

    info.freq = static_cast<uint32_t>(outRate);
    info.chans = 2;
    info.flags = 0;
    info.ctype = BASS_CTYPE_STREAM_MIDI;
    info.origres = 16;
    lengthBytes = framesLeft_ * FrameBytes();
    // Without a SoundFont the file can be described but not rendered: no data rather than silence.
    if (soundFont.empty()) {
        framesLeft_ = 0;
        return true;
    }

    if (!synth_.Create(soundFont, outRate)) return false;
    player_.reset(new_fluid_player(synth_.synth.get()));
    if (!player_) return false;
    if (fluid_player_add_mem(player_.get(), smf_.data(), smf_.size()) != FLUID_OK) return false;
    if (fluid_player_play(player_.get()) != FLUID_OK) return false;

    // FluidSynth loads the file on its first block; a file it refuses would only give silence.
    const uint64_t prime = std::min<uint64_t>(kPrimeFrames, framesLeft_);
    primed_.resize(prime * 2);
    Render(primed_.data(), prime);
    const bool playing = fluid_player_get_status(player_.get()) == FLUID_PLAYER_PLAYING;
    return playing || framesLeft_ == 0;
}

uint32_t MidiChannel::Render(int16_t* out, uint64_t frames) {
    constexpr uint64_t kChunk = 4096;
    uint64_t done = 0;
    while (done < frames) {
        const int n = static_cast<int>(std::min(kChunk, frames - done));
        int16_t* at = out + done * 2;
        if (fluid_synth_write_s16(synth_.synth.get(), n, at, 0, 2, at, 1, 2) != FLUID_OK) break;
        done += static_cast<uint64_t>(n);
    }
    framesLeft_ -= done;
    return static_cast<uint32_t>(done);
}

uint32_t MidiChannel::GetData(void* buffer, uint32_t bytes) {
    auto* out = static_cast<int16_t*>(buffer);
    uint64_t want = bytes / FrameBytes();
    uint64_t done = 0;
    if (!primed_.empty()) {
        const uint64_t take = std::min<uint64_t>(want, primed_.size() / 2);
        std::copy(primed_.begin(), primed_.begin() + static_cast<std::ptrdiff_t>(take * 2), out);
        primed_.erase(primed_.begin(), primed_.begin() + static_cast<std::ptrdiff_t>(take * 2));
        done = take;
    }
    // Rendering runs to the song's length; notes still sounding are cut there.
    if (framesLeft_ > 0) done += Render(out + done * 2, std::min(want - done, framesLeft_));
    if (done == 0) return kBassDataError;
    return static_cast<uint32_t>(done * FrameBytes());
}

uint64_t MidiChannel::FilePosition(uint32_t mode) {
    if (mode == BASS_FILEPOS_END) return fileSize_;
    if (mode == BASS_FILEPOS_START) return 0;
    return kBassNoValue;
}

}  // namespace

std::unique_ptr<Channel> OpenMidiChannel(const std::string& path, uint32_t rate, const std::string& soundFont) {
    auto channel = std::make_unique<MidiChannel>();
    if (!channel->Open(path, rate, soundFont)) return nullptr;
    return channel;
}

bool CheckSoundFont(const std::string& path) {
    Synth synth;
    return synth.Create(path, kDefaultRate);
}

}  // namespace pelloran::bass
