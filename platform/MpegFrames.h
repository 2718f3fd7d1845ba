#pragma once
// MPEG audio and ADTS frames read by our own code: where the audio of an MP3 starts, and lengths from the
// frames themselves for streams whose containers carry none: AAC in ADTS (.aac) and free-format MPEG audio,
// which FFmpeg can only estimate (or not read at all).

#include <cstdint>
#include <optional>

namespace pelloran {

class File;

// MPEG audio frame headers (4 bytes): the version field (3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved) and the
// layer field (3 layer I, 2 layer II, 1 layer III, 0 reserved).
inline int MpegVersionField(const uint8_t* h) { return (h[1] >> 3) & 3; }
inline int MpegLayerField(const uint8_t* h) { return (h[1] >> 1) & 3; }
// A frame sync with usable version, layer, bit-rate and sample-rate fields (free format allowed).
bool IsMpegAudioHeader(const uint8_t* h);
// The bit rate in kbit/s by the version, layer and bit-rate index; 0 for free format.
int MpegAudioKbps(const uint8_t* h);
// Bytes of the frame whose header is at h; 0 for free format or no usable header.
uint64_t MpegAudioFrameBytes(const uint8_t* h);

// MPEG audio channel mode (0 stereo .. 3 single channel) of a frame header, or 4 when the four bytes are no
// valid header (free-format bit rate included).
int MpegHeaderChannelMode(const uint8_t* h);

// Offset of the first byte after the ID3v2 tags at the start of the file (several may follow each other); a
// tag running past the end of the file ends the walk at its own start.
uint64_t SkipId3v2Tags(const File& file);

// Offset of the first MPEG audio frame header within a megabyte after any ID3v2 tags; nothing without one.
std::optional<uint64_t> FindFirstMpegFrame(const File& file);
// Offset of the first frame of audio: the first frame, or the one after it when that is an encoder's
// information frame ("Xing", "Info", "VBRI") and a frame follows it. Nothing without a sync.
std::optional<uint64_t> FindMpegAudioStart(const File& file);

struct FrameScan {
    int rate = 0;          // Hz, from the first header
    int channels = 0;
    uint64_t samples = 0;  // per channel, every frame counted
    uint64_t frames = 0;
    uint64_t audioBytes = 0;
};

// Walks the ADTS frames from the first header (after any ID3v2 tags) to the first byte that is not one; a
// frame cut short at the end still counts. Nothing when the file does not start with ADTS frames.
std::optional<FrameScan> ScanAdts(const File& file);

// A free-format MPEG audio stream (bit-rate index 0) from FindMpegAudioStart on: its frame size from the
// distance between the first two headers, then every frame walked. Nothing when the first frame has a bit rate of its own or no second
// frame follows.
std::optional<FrameScan> ScanFreeFormatMpeg(const File& file);

}  // namespace pelloran
