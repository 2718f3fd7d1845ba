#include "encode/Mp3Writer.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdarg>
#include <string>

#include "encode/Id3Tag.h"
#include "encode/Interleave.h"

namespace pelloran {

namespace {

// The library reports to stderr by default; a conversion keeps the terminal clean.
void Silent(const char*, va_list) {}

constexpr size_t kOutputBytes = 16384;

// Worst case LAME asks room for: 1.25 * samples + 7200 bytes.
size_t OutputNeeded(int frames) { return static_cast<size_t>(frames) * 5 / 4 + 7200; }

MPEG_mode LameMode(Mp3Mode mode) {
    switch (mode) {
        case Mp3Mode::JointStereo: return JOINT_STEREO;
        case Mp3Mode::Mono: return MONO;
        default: return STEREO;
    }
}

}  // namespace

void Mp3Writer::LameCloser::operator()(lame_global_struct* handle) const { lame_close(handle); }

Mp3Writer::Mp3Writer(Mp3Options options) : options_(std::move(options)) {}
Mp3Writer::~Mp3Writer() = default;

bool Mp3Writer::Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) {
    if (format.channels > 2) return false;
    lame_.reset(lame_init());
    if (!lame_) return false;
    lame_global_struct* lame = lame_.get();
    lame_set_errorf(lame, Silent);
    lame_set_debugf(lame, Silent);
    lame_set_msgf(lame, Silent);
    lame_set_in_samplerate(lame, format.rate);
    lame_set_num_channels(lame, format.channels);
    if (options_.mode != Mp3Mode::Auto) lame_set_mode(lame, LameMode(options_.mode));
    if (options_.outputRate > 0) lame_set_out_samplerate(lame, options_.outputRate);
    const int kbps = std::clamp(options_.bitrateKbps, 8, 320);
    switch (options_.rateMode) {
        case Mp3RateMode::Cbr:
            lame_set_VBR(lame, vbr_off);
            if (options_.bitrateKbps > 0) lame_set_brate(lame, kbps);
            break;
        case Mp3RateMode::Vbr:
            lame_set_VBR(lame, vbr_default);
            lame_set_VBR_q(lame, std::clamp(options_.vbrQuality, 0, 9));
            break;
        case Mp3RateMode::Abr:
            lame_set_VBR(lame, vbr_abr);
            lame_set_VBR_mean_bitrate_kbps(lame, options_.bitrateKbps > 0 ? kbps : 128);
            break;
    }
    // LAME leaves room for the information frame as the first frame and fills it in at the end.
    lame_set_bWriteVbrTag(lame, options_.infoFrame || options_.rateMode != Mp3RateMode::Cbr ? 1 : 0);
    if (lame_init_params(lame) < 0) return false;
    output_.resize(kOutputBytes);

    std::vector<uint8_t> v2 = options_.id3v2 ? BuildId3Tag(2, tags) : std::vector<uint8_t>{};
    if (v2.empty()) v2 = options_.rawId3v2;
    id3v1_ = options_.id3v1 ? BuildId3Tag(1, tags) : std::vector<uint8_t>{};
    if (id3v1_.size() != 128) id3v1_ = options_.rawId3v1;
    if (id3v1_.size() != 128) id3v1_.clear();
    audioStart_ = static_cast<int64_t>(v2.size());
    return Io(file_.Open(path, "wb")) && Io(file_.Write(v2.data(), v2.size()));
}

bool Mp3Writer::WriteOutput(int bytes) {
    if (bytes < 0) return Fail(WriterError::Library, 0, "LAME error " + std::to_string(bytes));
    return Io(file_.Write(output_.data(), static_cast<size_t>(bytes)));
}

bool Mp3Writer::Put(const int32_t* const* planes, int frames) {
    if (output_.size() < OutputNeeded(frames)) output_.resize(OutputNeeded(frames));
    const auto n = static_cast<size_t>(frames);
    const int bits = Format().bits;
    for (int c = 0; c < Format().channels; ++c) {
        if (sixteen_[c].size() < n) sixteen_[c].resize(n);
        PlaneToSixteen(planes[c], bits, n, sixteen_[c].data());
    }
    const int16_t* l = sixteen_[0].data();
    // One input channel: LAME does not read the right buffer.
    const int16_t* r = Format().channels == 2 ? sixteen_[1].data() : l;
    return WriteOutput(
        lame_encode_buffer(lame_.get(), l, r, frames, output_.data(), static_cast<int>(output_.size())));
}

bool Mp3Writer::End() {
    // LAME would still write its padding frames, a file that readers take for damaged.
    if (FramesWritten() == 0) return Fail(WriterError::NoAudio);
    if (output_.size() < 7200) output_.resize(7200);
    bool ok = WriteOutput(lame_encode_flush(lame_.get(), output_.data(), static_cast<int>(output_.size())));
    ok = ok && Io(file_.Write(id3v1_.data(), id3v1_.size()));
    if (ok && lame_get_bWriteVbrTag(lame_.get()) != 0) {
        // None when the frames are too small to hold it (LAME then left no room for it either).
        const size_t bytes = lame_get_lametag_frame(lame_.get(), output_.data(), output_.size());
        ok = bytes <= output_.size() &&
             (bytes == 0 || Io(file_.Seek(audioStart_) && file_.Write(output_.data(), bytes)));
    }
    return Io(file_.Close()) && ok;
}

void Mp3Writer::Release() {
    file_.Close();
    lame_.reset();
    output_.clear();
    id3v1_.clear();
}

}  // namespace pelloran
