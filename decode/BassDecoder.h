#pragma once
// The general reader: MP3, CD tracks, FLAC, WavPack, APE, Musepack, Speex, TTA, ADX, AAC and MPEG-4 audio,
// WAV (plain PCM by our own code), WMA, tracker modules and MIDI; the fallback for Ogg and AIFF. The source
// file is opened once and everything that reads it (decoding, tags, raw ID3 blocks, the frame-header peek)
// shares that open.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decode/AudioDecoder.h"
#include "decode/PcmSource.h"
#include "decode/WavSource.h"
#include "platform/File.h"
#include "platform/TagReader.h"

namespace pelloran {

class BassDecoder final : public AudioDecoder {
public:
    enum StreamKind { kOtherStream = 0, kMp3Stream = 1, kModuleStream = 2, kMidiStream = 3 };

    BassDecoder() = default;
    ~BassDecoder() override { Close(); }

    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(int32_t* const* planes) override;
    uint64_t GetPosition() override;
    const uint8_t* GetId3v1Block() override;
    const uint8_t* GetId3v2Block(int& size) override;
    int ReadTags(TagRecord& tags) override;
    const File* SourceFile() const override { return file_.IsOpen() ? &file_ : nullptr; }
    bool IsTruncated() const override;
    bool IsDsd() const override;
    bool StoresFloat() const override;
    bool KeepFloat() override;
    PcmFormat Format() override;

    int GetStreamKind() const { return streamKind; }
    // The source reading the open file (tests ask which kind it is).
    const PcmSource* Source() const { return source_.get(); }

private:
    File file_;                           // the source's one open; outlives the source reading it
    std::unique_ptr<PcmSource> source_;
    std::unique_ptr<WavSource> floatSource_;  // a float WAV's own floats, taken by KeepFloat
    std::vector<uint8_t> buffer_;         // interleaved frames of one Read
    size_t narrowFrameBytes_ = 0;         // bytes of one 16-bit frame of every channel (the progress unit)
    uint64_t positionBytes_ = 0;          // decoded bytes handed out
    std::optional<Id3Blocks> id3_;        // read at the first request
    int32_t streamKind = kOtherStream;
    bool keptFloat_ = false;              // Read hands out float bit patterns
};

}  // namespace pelloran
