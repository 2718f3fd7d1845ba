#pragma once
// FLAC writer on libFLAC: narrow blocks (8 or 16 bits, one or two channels) or wide ones (16 or 24 bits, up
// to eight channels), tags as Vorbis comments and pictures as picture blocks, the MD5 signature of the audio
// and a seek table with a point every ten seconds.

#include <cstdint>
#include <memory>
#include <vector>

#include "encode/AudioWriter.h"
#include "platform/File.h"

namespace pelloran {

struct FlacOptions {
    int compression = 5;          // 0 fastest .. 8 smallest
    uint64_t expectedFrames = 0;  // the source's length, where the seek points go; 0 when unknown
};

class FlacWriter final : public AudioWriter {
public:
    explicit FlacWriter(FlacOptions options = {});
    ~FlacWriter() override;

protected:
    // Refused: a wide width of 32 bits (beyond the streamable subset), a rate above the subset's 655350 Hz and
    // tags over a metadata block's 16 MiB.
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const int32_t* const* planes, int frames) override;
    bool End() override;
    void Release() override;

private:
    struct State;
    // What the library's callbacks write to.
    struct Output {
        File file;
        int error = 0;  // errno of the first failed write
    };

    // The reason of a failed library call: the write's errno, else the library's state.
    bool Failed();
    // Seek points the source's length promised but the stream never reached become placeholders.
    bool ClearUnreachedSeekPoints();

    FlacOptions options_;
    Output output_;
    std::unique_ptr<State> state_;
};

}  // namespace pelloran
