#include "encode/Mp3Writer.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
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

// Layer III bit rates by header index: MPEG-1, then MPEG-2 and 2.5.
constexpr int kKbps[2][15] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                              {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
// The Xing/Info fields (120 bytes) and the LAME extension (36 bytes).
constexpr int kTagBytes = 156;

// CRC-16 (polynomial 0x8005, reflected), as the LAME extension states its CRCs.
uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

// Bytes of a layer III frame without padding; version: LAME's (1 MPEG-1, else MPEG-2 or 2.5).
int FrameBytes(int version, int kbps, int rate) { return (version == 1 ? 144000 : 72000) * kbps / rate; }

// The header and side information before the tag: 4 bytes and 32/17 (MPEG-1) or 17/9 (MPEG-2, 2.5).
int SideInfoEnd(int version, bool mono) { return 4 + (version == 1 ? (mono ? 17 : 32) : (mono ? 9 : 17)); }

void PutBE(uint8_t* at, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, value >>= 8) at[i] = static_cast<uint8_t>(value & 0xFF);
}

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
    PlanOwnInfoFrame();

    std::vector<uint8_t> v2 = options_.id3v2 ? BuildId3Tag(2, tags) : std::vector<uint8_t>{};
    if (v2.empty()) v2 = options_.rawId3v2;
    id3v1_ = options_.id3v1 ? BuildId3Tag(1, tags) : std::vector<uint8_t>{};
    if (id3v1_.size() != 128) id3v1_ = options_.rawId3v1;
    if (id3v1_.size() != 128) id3v1_.clear();
    audioStart_ = static_cast<int64_t>(v2.size());
    if (!Io(file_.Open(path, "wb")) || !Io(file_.Write(v2.data(), v2.size()))) return false;
    // Room for our own information frame, filled in at the end.
    const std::vector<uint8_t> room(static_cast<size_t>(ownInfoBytes_), 0);
    return Io(file_.Write(room.data(), room.size()));
}

void Mp3Writer::PlanOwnInfoFrame() {
    lame_global_struct* lame = lame_.get();
    ownInfoBytes_ = 0;
    musicCrc_ = 0;
    if (lame_get_bWriteVbrTag(lame) == 0 || lame_get_VBR(lame) != vbr_off) return;
    const int version = lame_get_version(lame);
    const int rate = lame_get_out_samplerate(lame);
    const bool mono = lame_get_mode(lame) == MONO;
    if (rate <= 0) return;
    // LAME's rule: its tag goes into a frame of the stream's bit rate, with the CRC when the stream has one.
    const int lameNeeds = SideInfoEnd(version, mono) + (lame_get_error_protection(lame) ? 2 : 0) + kTagBytes;
    if (FrameBytes(version, lame_get_brate(lame), rate) >= lameNeeds) return;
    // Ours has no CRC, and the smallest bit rate whose frame holds the tag.
    const int needs = SideInfoEnd(version, mono) + kTagBytes;
    for (const int kbps : kKbps[version == 1 ? 0 : 1]) {
        if (kbps > 0 && FrameBytes(version, kbps, rate) >= needs) {
            ownInfoKbps_ = kbps;
            ownInfoBytes_ = FrameBytes(version, kbps, rate);
            return;
        }
    }
}

std::vector<uint8_t> Mp3Writer::OwnInfoFrame(int64_t audioBytes) const {
    lame_global_struct* lame = lame_.get();
    const int version = lame_get_version(lame);
    const int rate = lame_get_out_samplerate(lame);
    const MPEG_mode mode = lame_get_mode(lame);
    const bool mono = mode == MONO;
    const int table = version == 1 ? 0 : 1;
    const int kbpsIndex = static_cast<int>(std::find(kKbps[table], kKbps[table] + 15, ownInfoKbps_) - kKbps[table]);
    // Rates by header index: MPEG-1 44.1/48/32 kHz; MPEG-2 and 2.5 a half and a quarter of those.
    const bool mpeg25 = version != 1 && rate < 16000;  // LAME reports MPEG-2.5 as MPEG-2
    const int base = version == 1 ? 1 : mpeg25 ? 4 : 2;
    const int rateIndex = rate * base == 44100 ? 0 : rate * base == 48000 ? 1 : 2;
    std::vector<uint8_t> frame(static_cast<size_t>(ownInfoBytes_), 0);
    frame[0] = 0xFF;
    const uint8_t versionBits = version == 1 ? 3 : mpeg25 ? 0 : 2;
    frame[1] = static_cast<uint8_t>(0xE0 | (versionBits << 3) | (1 << 1) | 1);  // layer III, no CRC
    frame[2] = static_cast<uint8_t>((kbpsIndex << 4) | (rateIndex << 2));
    frame[3] = static_cast<uint8_t>((mono ? 3 : mode == JOINT_STEREO ? 1 : 0) << 6 | 0x04);  // original
    uint8_t* tag = frame.data() + SideInfoEnd(version, mono);
    std::memcpy(tag, "Info", 4);
    PutBE(tag + 4, 0x0F, 4);  // frames, bytes, seek table and quality follow
    const auto frames = static_cast<uint32_t>(std::max(0, lame_get_frameNum(lame)));
    PutBE(tag + 8, frames, 4);
    PutBE(tag + 12, static_cast<uint32_t>(std::min<int64_t>(audioBytes, UINT32_MAX)), 4);
    for (int i = 0; i < 100; ++i) tag[16 + i] = static_cast<uint8_t>(i * 256 / 100);  // constant bit rate
    PutBE(tag + 116, 0, 4);
    uint8_t* lameTag = tag + 120;
    std::string version9 = get_lame_very_short_version();
    version9.resize(9, ' ');
    std::memcpy(lameTag, version9.data(), 9);
    lameTag[9] = 1;  // tag revision 0, constant bit rate
    lameTag[10] = static_cast<uint8_t>(std::clamp((lame_get_lowpassfreq(lame) + 50) / 100, 0, 255));
    lameTag[20] = static_cast<uint8_t>(std::min(lame_get_brate(lame), 255));
    const auto delay = static_cast<uint32_t>(std::clamp(lame_get_encoder_delay(lame), 0, 4095));
    const auto padding = static_cast<uint32_t>(std::clamp(lame_get_encoder_padding(lame), 0, 4095));
    PutBE(lameTag + 21, (delay << 12) | padding, 3);
    PutBE(lameTag + 28, static_cast<uint32_t>(std::min<int64_t>(audioBytes, UINT32_MAX)), 4);
    PutBE(lameTag + 32, musicCrc_, 2);
    // The tag's own CRC covers the frame up to it.
    const auto crcAt = static_cast<size_t>(lameTag + 34 - frame.data());
    PutBE(lameTag + 34, Crc16(0, frame.data(), crcAt), 2);
    return frame;
}

bool Mp3Writer::WriteOutput(int bytes) {
    if (bytes < 0) return Fail(WriterError::Library, 0, "LAME error " + std::to_string(bytes));
    if (ownInfoBytes_ > 0) musicCrc_ = Crc16(musicCrc_, output_.data(), static_cast<size_t>(bytes));
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
    const int64_t audioEnd = file_.Tell();
    ok = ok && Io(file_.Write(id3v1_.data(), id3v1_.size()));
    if (ok && ownInfoBytes_ > 0) {
        const std::vector<uint8_t> frame = OwnInfoFrame(audioEnd - audioStart_);
        ok = audioEnd > audioStart_ && Io(file_.Seek(audioStart_) && file_.Write(frame.data(), frame.size()));
    } else if (ok && lame_get_bWriteVbrTag(lame_.get()) != 0) {
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
