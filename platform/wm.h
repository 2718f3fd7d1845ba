#pragma once
// Stand-in for the Windows Media runtime, built on FFmpeg: the ASF muxer with the wmav2 encoder (WMA 9
// Standard, format tag 0x161) for writing, the ASF demuxer with FFmpeg's WMA decoders for reading. Header
// attributes are written with TagLib once the file is complete.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelloran {

// True once LoadWmaRuntime has found the WMA codecs and the ASF container (process-wide).
bool WmaRuntimeReady();
// Looks for the WMA decoder, the wmav2 encoder and the ASF muxer; sets the ready flag when all exist.
bool LoadWmaRuntime();

// Address of the runtime's download page, opened when the user asks for it.
extern const char* const kWmaRuntimeDownloadAddress;

inline constexpr uint16_t kWmaStandardFormatTag = 0x161;
inline constexpr uint16_t kWmaProfessionalFormatTag = 0x162;
// The runtime's result for an attribute that the file does not have.
inline constexpr uint32_t kWmAttributeMissing = 0xC00D07F0;
inline constexpr uint32_t kWmFailed = 0x80004005;

// The WAVEFORMATEX-style description of a codec format.
struct WmaMediaType {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    std::vector<uint8_t> extra;  // codec-specific bytes after the base record
};

// One format of a codec as the runtime describes it.
struct WmaCodecFormat {
    std::string description;  // "128 kbps, 44 kHz, stereo 1-pass CBR"
    WmaMediaType mediaType;
    uint32_t bitrate = 0;     // bits per second of the stream
};

// The runtime's audio codecs and their formats. Only formats that the encoder accepts are offered; the
// descriptions include the "(A/V)" variants meant for video files.
int WmaCodecCount();
int WmaCodecFormatCount(int codec);
bool WmaCodecFormatDesc(int codec, int index, WmaCodecFormat& format);

// The writer object with its one-stream audio profile and header attributes.
class WmWriter {
public:
    WmWriter();
    ~WmWriter();
    WmWriter(const WmWriter&) = delete;
    WmWriter& operator=(const WmWriter&) = delete;

    // The stream's codec format and bit rate (only WMA 9 Standard can be encoded).
    bool SetProfile(const WmaMediaType& type, uint32_t bitrate);
    // The PCM that WriteSample receives: interleaved, 8-bit unsigned or 16-bit signed, 1 or 2 channels.
    // The writer converts it to the profile's rate and channel count.
    bool SetInputProps(int rate, int bits, int channels);
    // Header attributes (stream 0): a text (UTF-8 here, UTF-16 in the file) or a 32-bit number.
    void AddAttribute(const std::string& name, const std::string& value);
    void AddAttribute(const std::string& name, uint32_t value);
    bool SetOutputFilename(const std::string& path);
    // Creates the file and starts the encoder.
    bool BeginWriting();
    // Encodes a block of input PCM; false when it could not be encoded or written.
    bool WriteSample(const void* pcm, size_t bytes);
    // Flushes the encoder, completes the file and writes the attributes; false when any of it failed.
    bool EndWriting();

private:
    struct State;
    std::unique_ptr<State> s_;
};

// A header attribute as read back from a file.
struct WmAttribute {
    enum class Type { String, DWord, QWord } type = Type::String;
    std::string text;     // UTF-8
    uint64_t number = 0;
};

// One block of decoded audio: interleaved 16-bit PCM of the reader's output format.
struct WmSample {
    std::vector<int16_t> pcm;
    uint64_t time = 0;      // presentation time, 100-ns units
    uint64_t duration = 0;  // 100-ns units
};

// The synchronous reader: the first audio stream of an ASF file, decoded to 16-bit PCM with the source's
// channel count (files of more than two channels come out as stereo).
class WmSyncReader {
public:
    WmSyncReader();
    ~WmSyncReader();
    WmSyncReader(const WmSyncReader&) = delete;
    WmSyncReader& operator=(const WmSyncReader&) = delete;

    // Opens an ASF file and selects its first audio stream; false when the file is not ASF or has no
    // audio stream that can be decoded.
    bool Open(const std::string& path);
    void Close();

    // ASF number of the selected stream (1-based), 0 when none.
    uint16_t AudioStreamNumber() const;
    int OutputRate() const;
    int OutputChannels() const;

    // 0 with the value, kWmAttributeMissing, or kWmFailed. Names as the runtime knows them ("Title",
    // "Author", "WM/AlbumTitle", "Duration" in 100-ns units, "Bitrate" in bits per second ...).
    uint32_t GetAttributeByName(const std::string& name, WmAttribute& value) const;

    // The next block of decoded audio; false at the end of the stream or when it cannot go on.
    bool GetNextSample(WmSample& sample);

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace pelloran
