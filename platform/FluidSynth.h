#pragma once
// FluidSynth, opened at run time (it brings audio drivers, D-Bus and SDL, so it is loaded only when a MIDI file
// is rendered or a SoundFont is asked for): its functions, owners of its objects, and a synthesizer rendering
// without an audio driver.

#include <fluidsynth.h>

#include <memory>
#include <string>

namespace pelloran {

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

    FluidLibrary();
};

// The library, loaded once; its calls are made only after FluidAvailable() said yes.
const FluidLibrary& Fluid();
bool FluidAvailable();

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

// A synthesizer with a SoundFont loaded, rendering at a rate without an audio driver.
struct FluidSynth {
    SettingsPtr settings;
    SynthPtr synth;

    // False when the library is missing or refuses the SoundFont.
    bool Create(const std::string& soundFont, int rate);
};

}  // namespace pelloran
