#pragma once
// Stand-in for the BASS 2.4 decoding calls, its MIDI add-on, its format plug-ins and the tag add-on.
// Channels are 32-bit handles into a process-wide, thread-safe table; each channel is used by one thread
// at a time. Decoding is built on FFmpeg (file streams), libopenmpt (tracker modules), FluidSynth (MIDI)
// and libcdio-paranoia (CD tracks named by ".cda" files); tag texts come from TagLib.

#include <cstdint>
#include <string>

namespace pelloran {

using HSTREAM = uint32_t;
using HMUSIC = uint32_t;
using HSOUNDFONT = uint32_t;
using HPLUGIN = uint32_t;

inline constexpr uint32_t kBassVersion = 0x02040000;

// Configuration options and flags.
inline constexpr uint32_t BASS_CONFIG_UPDATEPERIOD = 1;
inline constexpr uint32_t BASS_SAMPLE_8BITS = 0x1;
inline constexpr uint32_t BASS_MUSIC_RAMP = 0x200;
inline constexpr uint32_t BASS_MUSIC_PRESCAN = 0x20000;
inline constexpr uint32_t BASS_STREAM_DECODE = 0x200000;

// Position modes and file-position modes.
inline constexpr uint32_t BASS_POS_BYTE = 0;
inline constexpr uint32_t BASS_FILEPOS_CURRENT = 0;
inline constexpr uint32_t BASS_FILEPOS_END = 2;
inline constexpr uint32_t BASS_FILEPOS_START = 3;

// Tag kinds of BASS_ChannelGetTags.
inline constexpr uint32_t BASS_TAG_ID3 = 0;
inline constexpr uint32_t BASS_TAG_ID3V2 = 1;

// Error value of BASS_ChannelGetData; all bits set in 64-bit results means "not available".
inline constexpr uint32_t kBassDataError = 0xFFFFFFFFu;
inline constexpr uint64_t kBassNoValue = ~uint64_t{0};

// Channel types reported in BASS_CHANNELINFO::ctype.
inline constexpr uint32_t BASS_CTYPE_STREAM = 0x10000;
inline constexpr uint32_t BASS_CTYPE_STREAM_CD = 0x10200;
inline constexpr uint32_t BASS_CTYPE_STREAM_MIDI = 0x10d00;
inline constexpr uint32_t BASS_CTYPE_MUSIC_MOD = 0x20000;

struct BASS_CHANNELINFO {
    uint32_t freq = 0;     // sample rate
    uint32_t chans = 0;    // channel count
    uint32_t flags = 0;    // BASS_SAMPLE_8BITS for unsigned 8-bit data, else 16-bit signed
    uint32_t ctype = 0;    // BASS_CTYPE_*
    uint32_t origres = 0;  // bits per sample of the source, 0 when unknown
};

struct BASS_MIDI_FONT {
    HSOUNDFONT font = 0;
    int preset = -1;  // -1: every preset
    int bank = 0;
};

// Version word: the high 16 bits are 0x0204.
uint32_t BASS_GetVersion();
bool BASS_SetConfig(uint32_t option, uint32_t value);
// Device 0 is "no sound output", the only device there is.
bool BASS_Init(int device, uint32_t freq, uint32_t flags, void* window, void* clsid);
bool BASS_Free();
// The format plug-ins are built in: a known plug-in file name gives its handle, anything else 0.
HPLUGIN BASS_PluginLoad(const std::string& file, uint32_t flags);
bool BASS_PluginFree(HPLUGIN handle);

// A SoundFont handle for file (checked by loading it once), 0 when it is not a usable SoundFont.
HSOUNDFONT BASS_MIDI_FontInit(const std::string& file, uint32_t flags);
// With handle 0, makes fonts[0] the default SoundFont of all MIDI streams created afterwards.
bool BASS_MIDI_StreamSetFonts(uint32_t handle, const BASS_MIDI_FONT* fonts, uint32_t count);
// Finds the SoundFont (program folder, user data folder, system General MIDI fonts) and installs it as the
// default; true when a default SoundFont is installed. Safe to call from any thread, again after a failure.
bool LoadDefaultSoundFont();

// Decode-only channels; 0 on failure. offset and length must be 0 (whole file). rate 0 = 44100.
// A MIDI stream made while no default SoundFont is installed describes the file but delivers no data.
HSTREAM BASS_MIDI_StreamCreateFile(const std::string& file, uint64_t offset, uint64_t length, uint32_t flags,
                                   uint32_t rate);
HSTREAM BASS_StreamCreateFile(const std::string& file, uint64_t offset, uint64_t length, uint32_t flags);
HMUSIC BASS_MusicLoad(const std::string& file, uint64_t offset, uint32_t length, uint32_t flags, uint32_t rate);

// Decoded length in bytes (mode BASS_POS_BYTE), kBassNoValue on error.
uint64_t BASS_ChannelGetLength(uint32_t handle, uint32_t mode);
double BASS_ChannelBytes2Seconds(uint32_t handle, uint64_t bytes);
bool BASS_ChannelGetInfo(uint32_t handle, BASS_CHANNELINFO* info);
// BASS_FILEPOS_START: offset of the first audio byte; BASS_FILEPOS_END: file size; kBassNoValue when unknown.
uint64_t BASS_StreamGetFilePosition(uint32_t handle, uint32_t mode);
// Interleaved PCM, whole frames only; bytes written, kBassDataError at the end or on an error.
uint32_t BASS_ChannelGetData(uint32_t handle, void* buffer, uint32_t length);
// The stand-in's own call: true when a file stream ended before the extent its header gives.
bool BASS_StreamIsTruncated(HSTREAM handle);
// Bytes decoded so far.
uint64_t BASS_ChannelGetPosition(uint32_t handle, uint32_t mode);
// BASS_TAG_ID3: the 128-byte ID3v1 block; BASS_TAG_ID3V2: the ID3v2 block from its header; or null.
// The block stays valid until the channel is freed.
const char* BASS_ChannelGetTags(uint32_t handle, uint32_t tags);
bool BASS_MusicFree(HMUSIC handle);
bool BASS_StreamFree(HSTREAM handle);

// Tag text of a channel by a format of %TRCK %TITL %ARTI %ALBM %GNRE %YEAR %CMNT %COMP %COPY codes and
// literal text, in UTF-8; "" when none of the fields is found. Valid until the next call for the channel.
const char* TAGS_Read(uint32_t handle, const char* format);

}  // namespace pelloran
