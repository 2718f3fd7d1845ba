#pragma once
// Ogg Vorbis reader on vorbisfile: chained streams, the comments of the current link, and multichannel
// files mixed down to stereo.

#include <memory>
#include <string>

#include "decode/AudioDecoder.h"

namespace pelloran {

class OggVorbisDecoder : public AudioDecoder {
public:
    OggVorbisDecoder();
    ~OggVorbisDecoder() override;

    void Close() override;
    int Open(const std::string& path, int rate) override;
    int Read(int32_t* const* planes) override;
    // Compressed byte offset reached.
    uint64_t GetPosition() override;
    // Fills all nine texts from the comments (empty where none matches); always 1.
    int ReadTags(TagRecord& tags) override;

    // The encoder's vendor text.
    const std::string& Vendor() const;

private:
    // Decodes until new audio is pending; false at the end of the stream.
    bool DecodeMore();

    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace pelloran
