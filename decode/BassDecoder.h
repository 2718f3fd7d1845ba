#pragma once
// The reader for everything the BASS stand-in decodes: MP3, CD tracks, FLAC, WavPack, APE, Musepack, Speex,
// TTA, ADX, AAC and MPEG-4 audio, WAV, WMA, tracker modules and MIDI; the fallback for Ogg and AIFF.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decode/AudioDecoder.h"

namespace pelloran {

class BassDecoder final : public AudioDecoder {
public:
    enum StreamKind { kOtherStream = 0, kMp3Stream = 1, kModuleStream = 2, kMidiStream = 3 };

    BassDecoder() = default;
    ~BassDecoder() override { Close(); }

    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(void* left, void* right) override;
    uint64_t GetPosition() override;
    const uint8_t* GetId3v1Block() override;
    const uint8_t* GetId3v2Block(int& size) override;
    int ReadTags(TagRecord& tags) override;
    bool IsTruncated() const override;

    int GetStreamKind() const { return streamKind; }

private:
    void ReadMpegChannelMode(const std::string& file);

    uint32_t handle = 0;
    std::vector<uint8_t> buffer;  // interleaved samples of one Read
    int32_t bufferSize = 0;       // bytes asked for per Read
    std::unique_ptr<std::array<uint8_t, 128>> id3v1Copy;
    std::vector<uint8_t> id3v2Copy;  // empty while there is no copy
    int32_t id3v2Size = 0;
    int32_t streamKind = kOtherStream;
    std::string path;
};

// MPEG audio channel mode (0 stereo .. 3 single channel) of a frame header, or 4 when the four bytes are no
// valid header (free-format bit rate included).
int MpegHeaderChannelMode(const uint8_t header[4]);

// Splits a tag text of lines track, title, artist, album, genre, year, comment, composer and the rest as
// copyright; a piece is stored only when its line feed is found.
void SplitTagText(const std::string& text, TagRecord& tags);

// Metadata of an MPEG-4 audio file; nonzero when at least one text field was found.
int ReadMp4Tags(const std::string& path, TagRecord& tags);

}  // namespace pelloran
