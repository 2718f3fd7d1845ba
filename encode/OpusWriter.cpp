#include "encode/OpusWriter.h"

#include <opusenc.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <random>

#include "encode/Interleave.h"
#include "encode/VorbisComments.h"

namespace pelloran {

namespace {

struct CommentsDeleter {
    void operator()(OggOpusComments* comments) const { ope_comments_destroy(comments); }
};

template <typename Output>
int WritePage(void* client, const unsigned char* data, opus_int32 bytes) {
    auto* output = static_cast<Output*>(client);
    if (output->file.IsOpen() && bytes >= 0 && output->file.Write(data, static_cast<size_t>(bytes))) return 0;
    if (output->error == 0) output->error = errno;
    return 1;
}

// The file is closed by the writer, which knows whether it was completed.
int KeepOpen(void*) { return 0; }

}  // namespace

void OpusWriter::EncoderDeleter::operator()(OggOpusEnc* encoder) const { ope_encoder_destroy(encoder); }

OpusWriter::OpusWriter(OpusOptions options) : options_(options) {}
OpusWriter::~OpusWriter() = default;

bool OpusWriter::Failed(int result) {
    if (output_.error != 0) return Fail(WriterError::System, output_.error);
    return Fail(WriterError::Library, result, ope_strerror(result));
}

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
    output_.error = 0;
    if (!Io(output_.file.Open(path, "wb"))) return false;
    static constexpr OpusEncCallbacks kCallbacks{WritePage<Output>, KeepOpen};
    int error = OPE_OK;
    // More than two channels: mapping family 1, the Vorbis order (Put reorders).
    encoder_.reset(ope_encoder_create_callbacks(&kCallbacks, &output_, comments.get(), format.rate, format.channels,
                                                format.channels > 2 ? 1 : 0, &error));
    if (!encoder_ || error != OPE_OK) return Failed(error);
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

bool OpusWriter::Put(const int32_t* const* planes, int frames) {
    const int channels = Format().channels;
    const int* order = VorbisOrder(channels);
    const int32_t* ordered[kMaxChannels] = {};
    for (int c = 0; c < channels; ++c) ordered[c] = planes[order[c]];
    InterleaveSixteen(ordered, channels, Format().bits, static_cast<size_t>(frames), interleaved_);
    const int written = ope_encoder_write(encoder_.get(), interleaved_.data(), frames);
    return written == OPE_OK || Failed(written);
}

bool OpusWriter::End() {
    // The library cannot end a stream that got no samples (it asserts, or writes a broken end).
    if (FramesWritten() == 0) return Fail(WriterError::NoAudio);
    // Draining pads the last packet and sets the end granule position to the length of the input.
    const int drained = ope_encoder_drain(encoder_.get());
    const bool ok = drained == OPE_OK || Failed(drained);
    return Io(output_.file.Close()) && ok;
}

void OpusWriter::Release() {
    output_.file.Close();
    encoder_.reset();
    interleaved_ = {};
}

}  // namespace pelloran
