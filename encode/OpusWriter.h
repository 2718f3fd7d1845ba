#pragma once
// Ogg Opus writer on libopus through libopusenc: narrow blocks at any rate (the library resamples to
// 48 kHz), a bit rate in one of three modes, tags as OpusTags with pictures as METADATA_BLOCK_PICTURE, and
// the exact length: the pre-skip and the last page's granule position make decoders give the source's
// samples at 48 kHz.

#include <cstdint>
#include <memory>
#include <vector>

#include "encode/AudioWriter.h"
#include "platform/File.h"

struct OggOpusEnc;

namespace pelloran {

enum class OpusMode { Vbr, ConstrainedVbr, Cbr };

struct OpusOptions {
    int bitrateKbps = 128;  // 6..510
    OpusMode mode = OpusMode::Vbr;
    int complexity = 10;    // 0..10
};

class OpusWriter final : public AudioWriter {
public:
    explicit OpusWriter(OpusOptions options = {});
    ~OpusWriter() override;

protected:
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const int32_t* const* planes, int frames) override;
    bool End() override;
    void Release() override;

private:
    struct EncoderDeleter {
        void operator()(OggOpusEnc* encoder) const;
    };

    // What the library's page callback writes to.
    struct Output {
        File file;
        int error = 0;  // errno of the first failed write
    };

    // The reason of a failed library call: the write's errno, else the library's message.
    bool Failed(int result);

    OpusOptions options_;
    Output output_;
    std::unique_ptr<OggOpusEnc, EncoderDeleter> encoder_;
    std::vector<int16_t> interleaved_;
};

}  // namespace pelloran
