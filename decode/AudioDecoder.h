#pragma once
// The interface every reader implements, its shared state, and the input-format table.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "media/PcmFormat.h"
#include "media/TagRecord.h"

namespace pelloran {

class File;

// Frames per channel in one PCM block.
inline constexpr int kBlockFrames = 1152;

class AudioDecoder {
public:
    AudioDecoder() { ResetState(); }
    virtual ~AudioDecoder() = default;
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // Asked during the reader's long calls (opening a file, reading it); true makes them give up. Set before
    // Open; an empty one never cancels.
    void SetCancel(std::function<bool()> cancelled) { cancelled_ = std::move(cancelled); }
    // Why the last Open failed, in a few words for the user; "" when the reader has nothing to add.
    const std::string& Refusal() const { return refusal_; }

    // Releases the file and every decoding resource.
    virtual void Close() = 0;
    // Opens a file; rate is the rendering rate for modules and MIDI (0 = default). Nonzero on success.
    virtual int Open(const std::string& path, int rate) = 0;
    // Delivers up to kBlockFrames frames into planes[0..Format().channels-1], each with room for kBlockFrames
    // samples; 0 at the end of the stream or on an error.
    virtual int Read(int32_t* const* planes) = 0;
    // What Read delivers, fixed by Open: the source's rate, its channels (the first kMaxChannels) and its width
    // (a lossless source's own, else 16; 8 for 8-bit sources).
    virtual PcmFormat Format() { return {sampleRate, outputChannels, bitsPerSample}; }

    virtual uint64_t GetLength() { return length; }
    virtual uint64_t GetPosition() { return position; }
    virtual int GetDurationSeconds() { return durationSeconds; }
    // The source's channels (Format() may deliver fewer).
    virtual int GetChannels() { return channels; }
    virtual int GetSampleRate() { return sampleRate; }
    virtual int GetChannelMode() { return channelMode; }
    virtual int GetBitrateKbps() { return bitrateKbps; }
    // The raw 128-byte ID3v1 block of the source, or null.
    virtual const uint8_t* GetId3v1Block() { return nullptr; }
    // The raw ID3v2 block (header included), or null with size 0.
    virtual const uint8_t* GetId3v2Block(int& size) {
        size = 0;
        return nullptr;
    }
    // Fills the tag texts it finds; nonzero when tags were found (untouched otherwise).
    virtual int ReadTags(TagRecord& tags) {
        (void)tags;
        return 0;
    }
    virtual void GetVideoSize(int& width, int& height) {
        width = videoWidth;
        height = videoHeight;
    }
    virtual double GetFrameRate() { return frameRate; }
    // The source file the reader holds open, for reading its tags without opening it again; null when the
    // reader keeps none of its own.
    virtual const File* SourceFile() const { return nullptr; }
    // True for DSD sources: their rate is a decoder's, not the music's (outputs take 88.2 or 176.4 kHz).
    virtual bool IsDsd() const { return false; }
    // True when the stream ended before the extent its header gives (asked once the reading is over).
    virtual bool IsTruncated() const { return false; }
    // True when the source stores 32-bit IEEE floats that KeepFloat can hand out as they are.
    virtual bool StoresFloat() const { return false; }
    // Asked before the first Read: switches Read to the source's float bit patterns (Format() then says isFloat)
    // and returns true; false when the reader cannot, which changes nothing.
    virtual bool KeepFloat() { return false; }

protected:
    void ResetState();
    bool Cancelled() const { return cancelled_ && cancelled_(); }

    std::function<bool()> cancelled_;
    std::string refusal_;

    uint64_t length = 0;    // extent of the stream in the reader's progress unit
    uint64_t position = 0;  // progress so far, same unit
    int32_t durationSeconds = 0;
    int32_t sampleRate = 0;
    int32_t channels = 0;
    int32_t outputChannels = 0;  // delivered channels, 1 to kMaxChannels
    int32_t bitsPerSample = 0;   // delivered width: 8, 16, 24 or 32
    int32_t bytesPerSample = 0;
    int32_t bitrateKbps = 0;
    int32_t channelMode = 4;  // MPEG channel mode; 4 = none given
    int32_t videoWidth = 0;
    int32_t videoHeight = 0;
    double frameRate = 0.0;
};

// Input-format codes chosen from the file extension.
enum InputFormatCode : uint16_t {
    kInputMp3 = 1000,
    kInputWav = 2000,
    kInputModule = 3000,
    kInputMidi = 3050,
    kInputCda = 3100,
    kInputFlac = 3200,
    kInputWavPack = 3300,
    kInputAdx = 3500,
    kInputApe = 3600,
    kInputMusepack = 3700,
    kInputSpeex = 3800,
    kInputTta = 3900,
    kInputOgg = 4000,
    kInputAu = 5000,
    kInputAiff = 5100,
    kInputAac = 6000,
    kInputM4a = 6500,
    kInputMp4 = 6600,
    kInputWindowsMedia = 7000,
    kInputOther = 9000,
};

// Extension of a path's file-name part, from its last full stop (dot included), or "".
std::string_view PathExtension(std::string_view path);
// Code for a path by its extension (case-insensitive); kInputOther when unknown or absent.
uint16_t InputFormatFromPath(std::string_view path);

}  // namespace pelloran
