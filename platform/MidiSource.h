#pragma once
// MIDI files rendered by FluidSynth through a General MIDI SoundFont, one synthesizer per source, clocked by
// the samples it renders; and the finder of the default SoundFont. Nothing of FluidSynth is set up before a
// song is rendered or the SoundFont is asked for.

#include <memory>
#include <optional>
#include <string>

#include "platform/PcmSource.h"

namespace pelloran {

class File;

// Finds the default SoundFont (program folder, user data folder, system General MIDI fonts) and checks it by
// loading it once; true when one is in place. Safe to call from any thread, and again after a failure.
bool LoadDefaultSoundFont();

// True when FluidSynth loads the file as a SoundFont.
bool IsUsableSoundFont(const std::string& path);

class MidiSource final : public PcmSource {
public:
    // Null when the file is no Standard MIDI File (or RMID) or the rate is outside 8 to 96 kHz; rate 0 is
    // 44.1 kHz. The length comes from the tempo map and rendering stops there, so a song that never ends
    // still stops. Renders with the default SoundFont loaded at the time of opening; without one the song is
    // described but gives no data (rather than silence).
    static std::unique_ptr<MidiSource> Open(const File& file, int rate);
    // The same with this SoundFont ("": none).
    static std::unique_ptr<MidiSource> Open(const File& file, int rate, const std::string& soundFont);
    ~MidiSource() override;

    // The synthesizer is made at the first call; a file FluidSynth refuses gives no data.
    size_t Read(void* out, size_t frames) override;
    std::optional<uint64_t> FileBytes() const override;

private:
    MidiSource();
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace pelloran
