#include "encode/OpusWriter.h"

#include <opusenc.h>

#include <algorithm>
#include <memory>
#include <random>

#include "encode/VorbisComments.h"

namespace pelloran {

namespace {

struct CommentsDeleter {
    void operator()(OggOpusComments* comments) const { ope_comments_destroy(comments); }
};

int WritePage(void* client, const unsigned char* data, opus_int32 bytes) {
    auto* file = static_cast<File*>(client);
    return file->IsOpen() && bytes >= 0 && file->Write(data, static_cast<size_t>(bytes)) ? 0 : 1;
}

// The file is closed by the writer, which knows whether it was completed.
int KeepOpen(void*) { return 0; }

constexpr OpusEncCallbacks kCallbacks{WritePage, KeepOpen};

}  // namespace

void OpusWriter::EncoderDeleter::operator()(OggOpusEnc* encoder) const { ope_encoder_destroy(encoder); }

OpusWriter::OpusWriter(OpusOptions options) : options_(options) {}
OpusWriter::~OpusWriter() = default;

bool OpusWriter::Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) {
    std::unique_ptr<OggOpusComments, CommentsDeleter> comments(ope_comments_create());
    if (!comments) return false;
    for (const auto& [name, value] : VorbisCommentFields(tags)) {
        if (ope_comments_add(comments.get(), name.c_str(), value.c_str()) != OPE_OK) continue;
    }
    for (const TagPicture& picture : tags.pictures) {
        const std::string encoded = Base64Encode(FlacPictureBlock(picture));
        if (ope_comments_add(comments.get(), "METADATA_BLOCK_PICTURE", encoded.c_str()) != OPE_OK) return false;
    }
    if (!file_.Open(path, "wb")) return false;
    int error = OPE_OK;
    encoder_.reset(ope_encoder_create_callbacks(&kCallbacks, &file_, comments.get(), format.rate, format.channels,
                                                0, &error));
    if (!encoder_ || error != OPE_OK) return false;
    OggOpusEnc* encoder = encoder_.get();
    // Any serial number will do; a per-writer generator keeps parallel conversions apart.
    std::random_device device;
    std::minstd_rand generator(device());
    const int bitrate = std::clamp(options_.bitrateKbps, 6, 510) * 1000;
    return ope_encoder_ctl(encoder, OPE_SET_SERIALNO(static_cast<opus_int32>(generator() & 0x7FFFFFFF))) == OPE_OK &&
           ope_encoder_ctl(encoder, OPUS_SET_BITRATE(bitrate)) == OPE_OK &&
           ope_encoder_ctl(encoder, OPUS_SET_VBR(options_.mode == OpusMode::Cbr ? 0 : 1)) == OPE_OK &&
           ope_encoder_ctl(encoder, OPUS_SET_VBR_CONSTRAINT(options_.mode == OpusMode::ConstrainedVbr ? 1 : 0)) ==
               OPE_OK &&
           ope_encoder_ctl(encoder, OPUS_SET_COMPLEXITY(std::clamp(options_.complexity, 0, 10))) == OPE_OK;
}

bool OpusWriter::Put(const void* left, const void* right, int frames) {
    const int channels = Format().channels;
    const auto n = static_cast<size_t>(frames);
    interleaved_.resize(n * static_cast<size_t>(channels));
    const void* sources[2] = {left, right};
    for (int c = 0; c < channels; ++c) {
        int16_t* out = interleaved_.data() + c;
        if (Format().bits == 8) {
            const auto* in = static_cast<const uint8_t*>(sources[c]);
            for (size_t i = 0; i < n; ++i, out += channels) *out = static_cast<int16_t>((in[i] - 128) * 256);
        } else {
            const auto* in = static_cast<const int16_t*>(sources[c]);
            for (size_t i = 0; i < n; ++i, out += channels) *out = in[i];
        }
    }
    return ope_encoder_write(encoder_.get(), interleaved_.data(), frames) == OPE_OK;
}

bool OpusWriter::End() {
    // Draining pads the last packet and sets the end granule position to the length of the input.
    const bool ok = ope_encoder_drain(encoder_.get()) == OPE_OK;
    return file_.Close() && ok;
}

void OpusWriter::Release() {
    file_.Close();
    encoder_.reset();
    interleaved_ = {};
}

}  // namespace pelloran
