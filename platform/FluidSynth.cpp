#include "platform/FluidSynth.h"

#include <dlfcn.h>

#include <mutex>

namespace pelloran {

namespace {

// FluidSynth's messages would go to the terminal; the library's own failures are reported by results.
void SilenceFluidLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
            Fluid().fluid_set_log_function(level, nullptr, nullptr);
        }
    });
}

template <typename F>
bool Load(void* handle, F& function, const char* name) {
    function = reinterpret_cast<F>(dlsym(handle, name));
    return function != nullptr;
}

}  // namespace

FluidLibrary::FluidLibrary() {
    for (const char* name : {"libfluidsynth.so.3", "libfluidsynth.so.2", "libfluidsynth.so"}) {
        handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) break;
    }
    if (handle == nullptr) return;
    ok = true;
    ok = ok && Load(handle, fluid_set_log_function, "fluid_set_log_function");
    ok = ok && Load(handle, new_fluid_settings, "new_fluid_settings");
    ok = ok && Load(handle, delete_fluid_settings, "delete_fluid_settings");
    ok = ok && Load(handle, fluid_settings_setnum, "fluid_settings_setnum");
    ok = ok && Load(handle, fluid_settings_setint, "fluid_settings_setint");
    ok = ok && Load(handle, fluid_settings_setstr, "fluid_settings_setstr");
    ok = ok && Load(handle, new_fluid_synth, "new_fluid_synth");
    ok = ok && Load(handle, delete_fluid_synth, "delete_fluid_synth");
    ok = ok && Load(handle, fluid_synth_sfload, "fluid_synth_sfload");
    ok = ok && Load(handle, fluid_synth_write_s16, "fluid_synth_write_s16");
    ok = ok && Load(handle, new_fluid_player, "new_fluid_player");
    ok = ok && Load(handle, delete_fluid_player, "delete_fluid_player");
    ok = ok && Load(handle, fluid_player_add_mem, "fluid_player_add_mem");
    ok = ok && Load(handle, fluid_player_play, "fluid_player_play");
    ok = ok && Load(handle, fluid_player_get_status, "fluid_player_get_status");
}

const FluidLibrary& Fluid() {
    static const FluidLibrary library;
    return library;
}

bool FluidAvailable() { return Fluid().ok; }

bool FluidSynth::Create(const std::string& soundFont, int rate) {
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

}  // namespace pelloran
