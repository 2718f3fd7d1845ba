#pragma once
// The General MIDI SoundFont that MIDI files are rendered with. Nothing of FluidSynth is set up before a
// SoundFont is asked for.

#include <string>

namespace pelloran {

// Finds the default SoundFont (program folder, user data folder, system General MIDI fonts) and checks it by
// loading it once; true when one is in place. Safe to call from any thread, and again after a failure.
bool LoadDefaultSoundFont();
// The default SoundFont found so far; "" before LoadDefaultSoundFont found one.
std::string DefaultSoundFont();

// True when FluidSynth loads the file as a SoundFont.
bool IsUsableSoundFont(const std::string& path);

}  // namespace pelloran
