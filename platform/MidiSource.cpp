#include "platform/MidiSource.h"

#include <dlfcn.h>
#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/File.h"
#include "platform/smf.h"

namespace pelloran {

namespace {

// FluidSynth and everything it brings (audio drivers, D-Bus, SDL) are loaded only when a MIDI file is
// rendered or the SoundFont is asked for, not at every start.
struct FluidLibrary {
    void* handle = nullptr;
    bool ok = false;
    decltype(&::fluid_set_log_function) fluid_set_log_function = nullptr;
    decltype(&::new_fluid_settings) new_fluid_settings = nullptr;
    decltype(&::delete_fluid_settings) delete_fluid_settings = nullptr;
    decltype(&::fluid_settings_setnum) fluid_settings_setnum = nullptr;
    decltype(&::fluid_settings_setint) fluid_settings_setint = nullptr;
    decltype(&::fluid_settings_setstr) fluid_settings_setstr = nullptr;
    decltype(&::new_fluid_synth) new_fluid_synth = nullptr;
    decltype(&::delete_fluid_synth) delete_fluid_synth = nullptr;
    decltype(&::fluid_synth_sfload) fluid_synth_sfload = nullptr;
    decltype(&::fluid_synth_write_s16) fluid_synth_write_s16 = nullptr;
    decltype(&::new_fluid_player) new_fluid_player = nullptr;
    decltype(&::delete_fluid_player) delete_fluid_player = nullptr;
    decltype(&::fluid_player_add_mem) fluid_player_add_mem = nullptr;
    decltype(&::fluid_player_play) fluid_player_play = nullptr;
    decltype(&::fluid_player_get_status) fluid_player_get_status = nullptr;

    FluidLibrary() {
        for (const char* name : {"libfluidsynth.so.3", "libfluidsynth.so.2", "libfluidsynth.so"}) {
            handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
            if (handle != nullptr) break;
        }
        if (handle == nullptr) return;
        ok = true;
        ok = ok && Load(fluid_set_log_function, "fluid_set_log_function");
        ok = ok && Load(new_fluid_settings, "new_fluid_settings");
        ok = ok && Load(delete_fluid_settings, "delete_fluid_settings");
        ok = ok && Load(fluid_settings_setnum, "fluid_settings_setnum");
        ok = ok && Load(fluid_settings_setint, "fluid_settings_setint");
        ok = ok && Load(fluid_settings_setstr, "fluid_settings_setstr");
        ok = ok && Load(new_fluid_synth, "new_fluid_synth");
        ok = ok && Load(delete_fluid_synth, "delete_fluid_synth");
        ok = ok && Load(fluid_synth_sfload, "fluid_synth_sfload");
        ok = ok && Load(fluid_synth_write_s16, "fluid_synth_write_s16");
        ok = ok && Load(new_fluid_player, "new_fluid_player");
        ok = ok && Load(delete_fluid_player, "delete_fluid_player");
        ok = ok && Load(fluid_player_add_mem, "fluid_player_add_mem");
        ok = ok && Load(fluid_player_play, "fluid_player_play");
        ok = ok && Load(fluid_player_get_status, "fluid_player_get_status");
    }
    template <typename F>
    bool Load(F& function, const char* name) {
        function = reinterpret_cast<F>(dlsym(handle, name));
        return function != nullptr;
    }
};

// The library, loaded once; its calls are made only after Available() said yes.
const FluidLibrary& Fluid() {
    static const FluidLibrary library;
    return library;
}

bool FluidAvailable() { return Fluid().ok; }


struct SettingsDeleter {
    void operator()(fluid_settings_t* s) const { Fluid().delete_fluid_settings(s); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* s) const { Fluid().delete_fluid_synth(s); }
};
struct PlayerDeleter {
    void operator()(fluid_player_t* p) const { Fluid().delete_fluid_player(p); }
};
using SettingsPtr = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using SynthPtr = std::unique_ptr<fluid_synth_t, SynthDeleter>;
using PlayerPtr = std::unique_ptr<fluid_player_t, PlayerDeleter>;

constexpr int kDefaultRate = 44100;
constexpr int64_t kMaxMidiBytes = 64 * 1024 * 1024;
// Frames rendered first to see that FluidSynth took the file.
constexpr uint64_t kPrimeFrames = 64;

// FluidSynth's messages would go to the terminal; the library's own failures are reported by results.
void SilenceFluidLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
            Fluid().fluid_set_log_function(level, nullptr, nullptr);
        }
    });
}

// A synthesizer with the SoundFont loaded, rendering at rate without an audio driver.
struct Synth {
    SettingsPtr settings;
    SynthPtr synth;

    bool Create(const std::string& soundFont, int rate) {
        if (!FluidAvailable()) return false;
        SilenceFluidLog();
        // Creation touches FluidSynth's process-wide initialisation: keep it to one thread at a time.
        {
            static std::mutex createMutex;
            std::lock_guard lock(createMutex);
            settings.reset(Fluid().new_fluid_settings());
            if (!settings) return false;
            Fluid().fluid_settings_setnum(settings.get(), "synth.sample-rate", rate);
            Fluid().fluid_settings_setnum(settings.get(), "synth.gain", 0.5);
            Fluid().fluid_settings_setint(settings.get(), "synth.cpu-cores", 1);
            Fluid().fluid_settings_setstr(settings.get(), "player.timing-source", "sample");
            Fluid().fluid_settings_setint(settings.get(), "synth.lock-memory", 0);
            synth.reset(Fluid().new_fluid_synth(settings.get()));
            if (!synth) return false;
        }
        return Fluid().fluid_synth_sfload(synth.get(), soundFont.c_str(), 1) != FLUID_FAILED;
    }
};

// The default SoundFont once found.
struct DefaultFont {
    std::mutex mutex;
    std::string path;
};

DefaultFont& Default() {
    static DefaultFont font;
    return font;
}

std::string ProgramFolderPath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

// Candidate SoundFonts in the order they are tried.
std::vector<std::string> SoundFontCandidates() {
    std::vector<std::string> paths;
    const std::string programFolder = ProgramFolderPath();
    if (!programFolder.empty()) paths.push_back(programFolder + "/ct4mgm.sf2");
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        paths.push_back(std::string(xdg) + "/pelloran/ct4mgm.sf2");
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        paths.push_back(std::string(home) + "/.local/share/pelloran/ct4mgm.sf2");
    }
    for (const char* name : {"default-GM.sf2", "TimGM6mb.sf2", "FluidR3_GM.sf2"}) {
        paths.push_back(std::string("/usr/share/sounds/sf2/") + name);
    }
    return paths;
}

}  // namespace

bool IsUsableSoundFont(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    Synth synth;
    return synth.Create(path, kDefaultRate);
}

bool LoadDefaultSoundFont() {
    // One search at a time; later calls find the font in place.
    static std::mutex searchMutex;
    std::lock_guard search(searchMutex);
    DefaultFont& font = Default();
    {
        std::lock_guard lock(font.mutex);
        if (!font.path.empty()) return true;
    }
    for (const std::string& candidate : SoundFontCandidates()) {
        if (!IsUsableSoundFont(candidate)) continue;
        std::lock_guard lock(font.mutex);
        font.path = candidate;
        return true;
    }
    return false;
}

struct MidiSource::State {
    std::vector<uint8_t> smf;
    std::string soundFont;
    int rate = kDefaultRate;
    uint64_t framesLeft = 0;
    uint64_t fileBytes = 0;
    bool started = false;
    Synth synth;
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
    std::string font;
    {
        DefaultFont& fonts = Default();
        std::lock_guard lock(fonts.mutex);
        font = fonts.path;
    }
    return Open(file, rate, font);
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
