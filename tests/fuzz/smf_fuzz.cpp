// libFuzzer entry point: the MIDI file reader; a song it accepts must lie inside the input and last a while.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/smf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pelloran::SmfSong song;
    if (!pelloran::ParseSmf({data, size}, song)) return 0;
    if (song.offset > size || song.size > size - song.offset) std::abort();
    if (song.format < 0 || song.format > 2 || song.tracks < 1 || song.endTick == 0) std::abort();
    if (!(song.seconds > 0.0 && song.seconds <= pelloran::kSmfMaxSeconds)) std::abort();
    return 0;
}
