#pragma once
// MPEG layer III writer on LAME: 16-bit input; constant bit rate, VBR by quality or an average bit rate; the
// Xing/LAME information frame (length, seek table, encoder delay and padding) as the first frame when asked
// and always for VBR and ABR; an optional ID3v2 block before the audio and an optional 128-byte ID3v1 block
// after it.

#include <cstdint>
#include <memory>
#include <vector>

#include "encode/AudioWriter.h"
#include "platform/File.h"

struct lame_global_struct;

namespace pelloran {

enum class Mp3Mode { Auto, Stereo, JointStereo, Mono };
enum class Mp3RateMode { Cbr, Vbr, Abr };

struct Mp3Options {
    Mp3Mode mode = Mp3Mode::Auto;  // Auto: the encoder's choice for the channel count
    int outputRate = 0;            // Hz; 0: the encoder's choice for the input rate
    int bitrateKbps = 0;           // clamped to 8..320; 0: the encoder's default (CBR, or ABR's mean)
    Mp3RateMode rateMode = Mp3RateMode::Cbr;
    int vbrQuality = 2;            // V0 (best) .. V9
    bool infoFrame = false;        // the information frame for CBR too
    bool id3v1 = false;            // render the tags as an ID3v1 block after the audio
    bool id3v2 = false;            // and as an ID3v2 block before it
    // Blocks copied as they are (an MP3 source's own); a rendered block takes the place of its version's.
    std::vector<uint8_t> rawId3v1;  // 128 bytes, or empty
    std::vector<uint8_t> rawId3v2;
};

class Mp3Writer final : public AudioWriter {
public:
    explicit Mp3Writer(Mp3Options options = {});
    ~Mp3Writer() override;

protected:
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) override;
    bool Put(const int32_t* const* planes, int frames) override;
    bool End() override;
    void Release() override;

private:
    struct LameCloser {
        void operator()(lame_global_struct* handle) const;
    };

    bool WriteOutput(int bytes);
    // The information frame when LAME's own would not fit the stream's frames (low constant bit rates).
    void PlanOwnInfoFrame();
    std::vector<uint8_t> OwnInfoFrame(int64_t audioBytes) const;

    Mp3Options options_;
    File file_;
    std::unique_ptr<lame_global_struct, LameCloser> lame_;
    std::vector<uint8_t> output_;
    std::vector<int16_t> sixteen_[2];  // one block as LAME takes it
    std::vector<uint8_t> id3v1_;  // written after the audio
    int64_t audioStart_ = 0;      // where the information frame goes
    int ownInfoBytes_ = 0;        // the size of our own information frame; 0 when LAME writes its own
    int ownInfoKbps_ = 0;         // its bit rate, the smallest whose frame holds the tag
    uint16_t musicCrc_ = 0;       // CRC-16 of the audio frames after it, as the tag states it
};

}  // namespace pelloran
