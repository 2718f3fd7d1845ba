#include "encode/Mp3Writer.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdarg>

namespace pelloran {

namespace {

// The library reports to stderr by default; a conversion keeps the terminal clean.
void Silent(const char*, va_list) {}

constexpr size_t kOutputBytes = 16384;

// Worst case LAME asks room for: 1.25 * samples + 7200 bytes.
size_t OutputNeeded(int frames) { return static_cast<size_t>(frames) * 5 / 4 + 7200; }

}  // namespace

void Mp3Writer::LameCloser::operator()(lame_global_struct* handle) const { lame_close(handle); }

bool Mp3Writer::Open(const std::string& path) {
    Finish();
    failed_ = false;
    started_ = false;
    if (!file_.Open(path, "wb")) return false;
    lame_.reset(lame_init());
    if (!lame_) {
        file_.Close();
        return false;
    }
    lame_set_errorf(lame_.get(), Silent);
    lame_set_debugf(lame_.get(), Silent);
    lame_set_msgf(lame_.get(), Silent);
    output_.resize(kOutputBytes);
    return true;
}

void Mp3Writer::SetId3v1Block(const uint8_t* block128) {
    if (block128 == nullptr) return;
    id3v1_.assign(block128, block128 + 128);
}

void Mp3Writer::SetId3v2Block(const uint8_t* block, size_t size) {
    if (block == nullptr || size == 0) return;
    id3v2_.assign(block, block + size);
}

void Mp3Writer::SetInputRate(int rate) {
    if (lame_) lame_set_in_samplerate(lame_.get(), rate);
}

void Mp3Writer::SetChannels(int channels) {
    if (lame_) lame_set_num_channels(lame_.get(), std::clamp(channels, 1, 2));
}

void Mp3Writer::SetMode(int mode) {
    if (!lame_) return;
    MPEG_mode m = STEREO;
    if (mode == 1) m = JOINT_STEREO;
    else if (mode == 3) m = MONO;
    lame_set_mode(lame_.get(), m);
}

void Mp3Writer::SetOutputRate(int rate) {
    if (lame_) lame_set_out_samplerate(lame_.get(), rate);
}

void Mp3Writer::SetBitRateKbps(int kbps) {
    if (lame_) lame_set_brate(lame_.get(), std::clamp(kbps, 8, 320));
}

bool Mp3Writer::Start() {
    if (!lame_ || !file_.IsOpen()) return false;
    lame_set_bWriteVbrTag(lame_.get(), 0);
    lame_set_VBR(lame_.get(), vbr_off);
    if (lame_init_params(lame_.get()) < 0) return false;
    started_ = true;
    if (!id3v2_.empty() && !file_.Write(id3v2_.data(), id3v2_.size())) failed_ = true;
    return !failed_;
}

bool Mp3Writer::WriteOutput(int bytes) {
    if (bytes < 0) {
        failed_ = true;
        return false;
    }
    if (bytes > 0 && !file_.Write(output_.data(), static_cast<size_t>(bytes))) failed_ = true;
    return !failed_;
}

bool Mp3Writer::Encode(const int16_t* left, const int16_t* right, int frames) {
    if (!started_ || failed_ || frames < 0 || left == nullptr) return false;
    if (frames == 0) return true;
    if (output_.size() < OutputNeeded(frames)) output_.resize(OutputNeeded(frames));
    if (right == nullptr) right = left;  // one input channel: LAME does not read it
    const int n = lame_encode_buffer(lame_.get(), left, right, frames, output_.data(),
                                     static_cast<int>(output_.size()));
    return WriteOutput(n);
}

bool Mp3Writer::Finish() {
    if (!file_.IsOpen()) {
        lame_.reset();
        id3v1_.clear();
        id3v2_.clear();
        return true;
    }
    if (started_ && !failed_) {
        if (output_.size() < 7200) output_.resize(7200);
        WriteOutput(lame_encode_flush(lame_.get(), output_.data(), static_cast<int>(output_.size())));
    }
    if (!id3v1_.empty() && !file_.Write(id3v1_.data(), id3v1_.size())) failed_ = true;
    const bool closed = file_.Close();
    const bool ok = closed && !failed_ && started_;
    id3v1_.clear();
    id3v2_.clear();
    lame_.reset();
    started_ = false;
    failed_ = false;
    return ok;
}

int Mp3Writer::Channels() const { return lame_ ? lame_get_num_channels(lame_.get()) : -1; }
int Mp3Writer::Mode() const { return lame_ ? static_cast<int>(lame_get_mode(lame_.get())) : -1; }
int Mp3Writer::BitRateKbps() const { return lame_ ? lame_get_brate(lame_.get()) : -1; }

}  // namespace pelloran
