#pragma once
// MIDI files rendered by FluidSynth through a General MIDI SoundFont (platform/SoundFont.h), one synthesizer
// per source, clocked by the samples it renders. Nothing of FluidSynth is set up before a song is rendered.

#include <memory>
#include <optional>
#include <string>

#include "decode/PcmSource.h"

namespace pelloran {

class File;

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
