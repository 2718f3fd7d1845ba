#pragma once
// The WMA layer, built on FFmpeg: the runtime check (the WMA decoders, the wmav2 encoder, the ASF container)
// and the writer, the ASF muxer with the wmav2 encoder (WMA 9 Standard). Header attributes are written with
// TagLib once the file is complete. Reading goes through the FFmpeg source (decode/WmaReader).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/TagRecord.h"

namespace pelloran {

// True once LoadWmaRuntime has found the WMA codecs and the ASF container (process-wide).
bool WmaRuntimeReady();
// Looks for the WMA decoder, the wmav2 encoder and the ASF muxer; sets the ready flag when all exist.
bool LoadWmaRuntime();

// Address of the runtime's download page, opened when the user asks for it.
extern const char* const kWmaRuntimeDownloadAddress;

// A format of the encoder.
struct WmaFormat {
    int rate = 0;
    int channels = 0;
    uint32_t bitrate = 0;   // bits per second
    bool forVideo = false;  // a variant tuned for video files
};

// The formats the encoder accepts, video variants included; empty until the runtime is loaded.
std::vector<WmaFormat> WmaEncoderFormats();

// An ASF file with one WMA 9 Standard stream, written from interleaved PCM.
class WmaFileWriter {
public:
    WmaFileWriter();
    // A file that was not finished is closed as it is.
    ~WmaFileWriter();
    WmaFileWriter(const WmaFileWriter&) = delete;
    WmaFileWriter& operator=(const WmaFileWriter&) = delete;

    // Creates (or replaces) path for format, taking PCM at inputRate with inputBits (8 unsigned or 16
    // signed) and inputChannels (1 or 2). The writer converts it to the format's rate and channel count: mono
    // is spread to both sides at full level, a pair is averaged into mono.
    bool Open(const std::string& path, const WmaFormat& format, int inputRate, int inputBits, int inputChannels);
    // Encodes a block of input PCM; false when it could not be encoded or written.
    bool Write(const void* pcm, size_t bytes);
    // Flushes the encoder, completes the file and stores tags as header attributes (Title, Author, Description,
    // Copyright, WM/AlbumTitle, WM/Genre, WM/TrackNumber, WM/Year, WM/Composer, every value of each; the other
    // fields by the taggers' names, kTagNames); empty fields are left out. False when any of it failed.
    bool Finish(const TagRecord& tags);
    // Closes the file as it is, without completing it.
    void Close();

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace pelloran
