#pragma once
// Inside the BASS stand-in: the channel object behind a handle and the constructors of each family.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/bass.h"

namespace pelloran::bass {

// The nine tag texts TAGS_Read can name, UTF-8.
struct TagFields {
    std::string track, title, artist, album, genre, year, comment, composer, copyright;
    bool Empty() const;
};

class Channel {
public:
    virtual ~Channel() = default;
    Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // Interleaved PCM into buffer (at most bytes, whole frames); the byte count, or kBassDataError at the end.
    virtual uint32_t GetData(void* buffer, uint32_t bytes) = 0;
    virtual uint64_t FilePosition(uint32_t mode) {
        (void)mode;
        return kBassNoValue;
    }
    // Raw ID3 blocks; null when the source has none.
    virtual const char* Tags(uint32_t kind) {
        (void)kind;
        return nullptr;
    }
    virtual TagFields ReadTagFields();
    // True once the stream has ended before the extent its header gives.
    virtual bool Truncated() { return false; }

    bool IsMusic() const { return info.ctype == BASS_CTYPE_MUSIC_MOD; }
    uint32_t FrameBytes() const { return info.chans * ((info.flags & BASS_SAMPLE_8BITS) ? 1u : 2u); }

    std::mutex mutex;          // held by every call on the channel
    BASS_CHANNELINFO info;
    uint64_t lengthBytes = 0;  // decoded length
    uint64_t positionBytes = 0;
    std::string path;
    std::string tagText;       // last TAGS_Read result
};

// Each returns null when the family does not take the file.
std::unique_ptr<Channel> OpenFfmpegChannel(const std::string& path);
std::unique_ptr<Channel> OpenModuleChannel(const std::string& path, uint32_t rate);
std::unique_ptr<Channel> OpenMidiChannel(const std::string& path, uint32_t rate, const std::string& soundFont);
// A RIFF "CDDA" file read from the drive (PELLORAN_CD_DEVICE or /dev/cdrom).
std::unique_ptr<Channel> OpenCdChannel(const std::string& path);
bool IsCdaFile(const std::string& path);

// The track number a ".cda" file names, or nothing for anything else.
std::optional<int> ReadCdaTrack(const std::string& path);

// Tags of a file through TagLib; empty when TagLib does not know the file.
TagFields ReadFileTags(const std::string& path);
// Fills a tag format; "" when every field it names is empty.
std::string FormatTagText(const char* format, const TagFields& fields);

// Raw ID3 blocks read from the file's own bytes.
struct Id3Blocks {
    std::optional<std::array<char, 128>> v1;
    std::vector<char> v2;  // empty when absent
};
Id3Blocks ReadId3Blocks(const std::string& path);
// Offset of the first MPEG audio frame header after any ID3v2 tags, or kBassNoValue.
uint64_t FindMpegAudioStart(const std::string& path);

// Loads a SoundFont into a throwaway synthesizer; true when FluidSynth accepts it.
bool CheckSoundFont(const std::string& path);

}  // namespace pelloran::bass
