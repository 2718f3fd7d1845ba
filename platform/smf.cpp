#include "platform/smf.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace pelloran {

namespace {

constexpr uint32_t kDefaultTempo = 500000;  // microseconds per quarter note (120 bpm)
constexpr uint64_t kMaxEvents = 10'000'000;

uint32_t LoadBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint16_t LoadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

struct TempoChange {
    uint64_t tick;
    uint32_t tempo;
};

class TrackReader {
public:
    TrackReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    // Reads a variable-length quantity of at most four bytes.
    bool Vlq(uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (p_ == end_) return false;
            const uint8_t b = *p_++;
            value = (value << 7) | (b & 0x7F);
            if ((b & 0x80) == 0) return true;
        }
        return false;
    }
    bool Byte(uint8_t& b) {
        if (p_ == end_) return false;
        b = *p_++;
        return true;
    }
    bool Skip(uint32_t n) {
        if (static_cast<size_t>(end_ - p_) < n) return false;
        p_ += n;
        return true;
    }
    const uint8_t* Here() const { return p_; }
    bool AtEnd() const { return p_ == end_; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// Data bytes that follow a channel or system status byte.
int DataBytes(uint8_t status) {
    switch (status & 0xF0) {
        case 0xC0:
        case 0xD0: return 1;
        case 0xF0:
            if (status == 0xF2) return 2;
            if (status == 0xF1 || status == 0xF3) return 1;
            return 0;
        default: return 2;
    }
}

// Walks one track; its last tick and its tempo changes are added. False when the track is malformed.
bool ReadTrack(const uint8_t* data, size_t size, uint64_t& events, uint64_t& lastTick,
               std::vector<TempoChange>& tempos) {
    TrackReader in(data, size);
    uint64_t tick = 0;
    uint8_t running = 0;
    while (!in.AtEnd()) {
        if (++events > kMaxEvents) return false;
        uint32_t delta = 0;
        if (!in.Vlq(delta)) return false;
        tick += delta;
        uint8_t status = 0;
        if (!in.Byte(status)) return false;

        if (status == 0xFF) {
            uint8_t type = 0;
            uint32_t length = 0;
            if (!in.Byte(type) || !in.Vlq(length)) return false;
            const uint8_t* body = in.Here();
            if (!in.Skip(length)) return false;
            if (type == 0x51 && length >= 3) {
                const uint32_t tempo = (uint32_t{body[0]} << 16) | (uint32_t{body[1]} << 8) | body[2];
                if (tempo != 0) tempos.push_back({tick, tempo});
            }
            if (type == 0x2F) break;  // end of track
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            uint32_t length = 0;
            if (!in.Vlq(length) || !in.Skip(length)) return false;
            running = 0;
            continue;
        }

        int dataBytes = 0;
        if (status & 0x80) {
            dataBytes = DataBytes(status);
            running = status < 0xF0 ? status : 0;
        } else {
            // Running status: this byte is the first data byte.
            if (running == 0) return false;
            dataBytes = DataBytes(running) - 1;
        }
        for (int i = 0; i < dataBytes; ++i) {
            uint8_t b = 0;
            if (!in.Byte(b) || (b & 0x80)) return false;
        }
    }
    lastTick = std::max(lastTick, tick);
    return true;
}

// Seconds from tick 0 to endTick under the tempo map.
double TicksToSeconds(uint64_t endTick, uint16_t division, std::vector<TempoChange>& tempos) {
    if (division & 0x8000) {
        // SMPTE time: frames per second (two's complement) and ticks per frame.
        const int fps = -static_cast<int8_t>(division >> 8);
        const int ticksPerFrame = division & 0xFF;
        const double rate = (fps == 29 ? 29.97 : fps) * ticksPerFrame;
        return static_cast<double>(endTick) / rate;
    }
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    double seconds = 0.0;
    uint64_t at = 0;
    uint32_t tempo = kDefaultTempo;
    for (const TempoChange& change : tempos) {
        if (change.tick >= endTick) break;
        seconds += static_cast<double>(change.tick - at) * tempo / (1e6 * division);
        at = change.tick;
        tempo = change.tempo;
    }
    seconds += static_cast<double>(endTick - at) * tempo / (1e6 * division);
    return seconds;
}

}  // namespace

bool ParseSmf(std::span<const uint8_t> bytes, SmfSong& song) {
    song = SmfSong{};
    const uint8_t* data = bytes.data();
    size_t size = bytes.size();

    // RMID: the SMF is the "data" chunk of a RIFF file.
    if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "RMID", 4) == 0) {
        size_t pos = 12;
        bool found = false;
        while (pos + 8 <= size) {
            const uint32_t length = static_cast<uint32_t>(data[pos + 4]) | (uint32_t{data[pos + 5]} << 8) |
                                    (uint32_t{data[pos + 6]} << 16) | (uint32_t{data[pos + 7]} << 24);
            if (length > size - pos - 8) return false;
            if (std::memcmp(data + pos, "data", 4) == 0) {
                song.offset = pos + 8;
                size = length;
                found = true;
                break;
            }
            pos += 8 + length + (length & 1);
        }
        if (!found) return false;
        data += song.offset;
    }
    song.size = size;

    if (size < 14 || std::memcmp(data, "MThd", 4) != 0) return false;
    const uint32_t headerLength = LoadBE32(data + 4);
    if (headerLength < 6 || headerLength > size - 8) return false;
    song.format = LoadBE16(data + 8);
    song.tracks = LoadBE16(data + 10);
    const uint16_t division = LoadBE16(data + 12);
    if (song.format > 2 || song.tracks == 0 || division == 0) return false;
    if ((division & 0x8000) && ((division & 0xFF) == 0 || (-static_cast<int8_t>(division >> 8)) <= 0)) return false;

    size_t pos = 8 + headerLength;
    int tracksRead = 0;
    uint64_t events = 0;
    std::vector<TempoChange> tempos;
    while (tracksRead < song.tracks) {
        if (pos + 8 > size) return false;  // a declared track is missing
        const uint32_t length = LoadBE32(data + pos + 4);
        if (length > size - pos - 8) return false;
        if (std::memcmp(data + pos, "MTrk", 4) == 0) {
            if (!ReadTrack(data + pos + 8, length, events, song.endTick, tempos)) return false;
            ++tracksRead;
        }
        pos += 8 + length;
    }
    if (song.endTick == 0) return false;
    song.seconds = TicksToSeconds(song.endTick, division, tempos);
    return song.seconds > 0.0 && song.seconds <= kSmfMaxSeconds;
}

}  // namespace pelloran
