#pragma once
// A small Standard MIDI File reader: checks the file's structure and works out its playing time from the
// tempo map, before anything is rendered.

#include <cstddef>
#include <cstdint>
#include <span>

namespace pelloran {

struct SmfSong {
    size_t offset = 0;      // where the SMF data starts (after an RMID wrapper)
    size_t size = 0;        // bytes of SMF data
    int format = 0;         // 0, 1 or 2
    int tracks = 0;
    uint64_t endTick = 0;   // tick of the last event of the longest track
    double seconds = 0.0;   // playing time up to endTick
};

// Songs longer than this are refused as damaged.
inline constexpr double kSmfMaxSeconds = 6 * 3600.0;

// Parses an SMF, or an RMID file ("RIFF" ... "RMID") that holds one. False for anything malformed: a bad
// header, a missing or truncated track, an event without a status, too many events, or a song too long.
bool ParseSmf(std::span<const uint8_t> bytes, SmfSong& song);

}  // namespace pelloran
