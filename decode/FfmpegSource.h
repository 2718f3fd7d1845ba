#pragma once
// The FFmpeg media source: a local file read through one of our open files, demuxed by an allowed demuxer,
// one audio stream decoded and converted to interleaved 8-bit unsigned or 16-bit signed PCM at the rate of
// its first block. Readers choose with the options which demuxers, which stream and which channels.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decode/PcmSource.h"
#include "platform/ffmpeg_input.h"

namespace pelloran {

class File;

// What a container says of its first audio and first video stream (cover pictures aside), decoding nothing.
struct MediaProperties {
    bool audio = false;  // an audio stream was found
    int sampleRate = 0;
    int channels = 0;
    bool eightBit = false;
    int64_t bitRate = 0;  // bits per second, 0 when unknown
    int videoWidth = 0;
    int videoHeight = 0;
    double frameRate = 0.0;
    int durationSeconds = 0;  // the container's, 0 when unknown
};

// Tags as the general reader's FFmpeg source would give them for a file read by a source of our own: TagLib's
// reading, else, when the file may hold tags only FFmpeg reads (containerTags), FFmpeg's reading of the
// container. False (tags untouched) when neither finds any.
bool ReadTagsAsMediaSource(const File& file, const std::string& name, bool containerTags, TagRecord& tags);

// "" when FFmpeg can be loaded, else which library is missing and why (loads it on first use).
std::string MediaLibraryProblem();

class FfmpegSource final : public PcmSource {
public:
    struct Options {
        DemuxerSet demuxers = DemuxerSet::Media;
        bool bestStream = false;   // the library's choice of audio stream, else the first one
        bool mixToStereo = false;  // a mono or stereo mix, else every channel as decoded
        // Every channel as int32 samples at the stream's own width (WideBits), at its own rate; only
        // streams of a lossless codec open so.
        bool wide = false;
        // When set, true stops every blocking call of the library (opening and reading alike); it must
        // outlive the source.
        const CancelCheck* cancelled = nullptr;
        // The output fixed by the stream's header before anything is decoded: 16-bit at its rate, mono or a
        // stereo mix (with mixToStereo). A stream that then gives no audio opens all the same, and is empty.
        bool headerFormat = false;
    };

    // Null when no demuxer of the set takes the file, it has no decodable audio stream, or the stream gives no
    // audio at all; refusal then says which (the library's words where it has them). The file must stay open
    // while the source lives; name serves the format guess only.
    static std::unique_ptr<FfmpegSource> Open(const File& file, const std::string& name, const Options& options,
                                              std::string* refusal = nullptr);
    static std::optional<MediaProperties> Probe(const File& file, const std::string& name,
                                                const CancelCheck* cancelled = nullptr,
                                                std::string* refusal = nullptr);
    ~FfmpegSource() override;

    size_t Read(void* out, size_t frames) override;
    std::optional<uint64_t> FileBytes() const override;
    bool Truncated() const override;
    // TagLib's reading of the file, else the container's own metadata.
    bool ReadTags(TagRecord& tags) override;
    // The width the wide output would give (16, 24 or 32), 0 when the codec is not lossless.
    int WideWidth() const override;
    // The same file reopened wide, with the same demuxers and choice of stream.
    std::unique_ptr<PcmSource> OpenWide() const override;
    // The container's and the stream's metadata (every key with a property name) and the attached pictures.
    void ReadContainerTags(TagRecord& tags) const;

    // Channels of the decoded stream before any mix.
    int SourceChannels() const;
    // The stream is DSD (1-bit audio at megahertz rates, decoded to floats at an eighth of its rate).
    bool Dsd() const;
    // Where in the file the demuxer has read to.
    uint64_t InputOffset() const;
    int ContainerSeconds() const;
    // The container's duration in microseconds and its bit rate in bits per second; 0 when unknown.
    uint64_t ContainerMicroseconds() const;
    int64_t ContainerBitRate() const;
    // The container's own metadata entries (key, value), in its order.
    std::vector<std::pair<std::string, std::string>> ContainerMetadata() const;
    // The codec's bit rate in bits per second, 0 when unknown.
    int64_t CodecBitRate() const;
    // The library's name of the demuxer ("mp3", "flac", ...).
    std::string ContainerName() const;
    // A metadata value of the container, else of the audio stream (Ogg and some others keep it there); ""
    // when neither has it.
    std::string Metadata(const char* key) const;

private:
    FfmpegSource();
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace pelloran
