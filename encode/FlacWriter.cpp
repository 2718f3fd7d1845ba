#include "encode/FlacWriter.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encode/VorbisComments.h"

namespace pelloran {

namespace {

constexpr uint32_t kSeekSpacingSeconds = 10;
constexpr uint32_t kPaddingBytes = 8192;  // room for tag editors to grow the tags in place
constexpr uint32_t kMaxBlockBytes = (1u << 24) - 1;
// The streamable subset's highest rate (frame headers state it in tens of Hz); above 65535 Hz only
// multiples of 10 are in the subset.
constexpr int kMaxRate = 655350;

template <typename Output>
FLAC__StreamEncoderWriteStatus WriteTo(const FLAC__StreamEncoder*, const FLAC__byte buffer[], size_t bytes,
                                       uint32_t, uint32_t, void* client) {
    auto* output = static_cast<Output*>(client);
    if (output->file.IsOpen() && output->file.Write(buffer, bytes)) return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    if (output->error == 0) output->error = errno;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

template <typename Output>
FLAC__StreamEncoderSeekStatus SeekTo(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* client) {
    auto* output = static_cast<Output*>(client);
    if (output->file.IsOpen() && output->file.Seek(static_cast<int64_t>(offset)))
        return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    if (output->error == 0) output->error = errno;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}

template <typename Output>
FLAC__StreamEncoderTellStatus TellOf(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* client) {
    const int64_t at = static_cast<Output*>(client)->file.Tell();
    if (at < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    *offset = static_cast<FLAC__uint64>(at);
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

uint64_t LoadU64BE(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

struct EncoderDeleter {
    void operator()(FLAC__StreamEncoder* encoder) const { FLAC__stream_encoder_delete(encoder); }
};
struct MetadataDeleter {
    void operator()(FLAC__StreamMetadata* block) const { FLAC__metadata_object_delete(block); }
};
using Metadata = std::unique_ptr<FLAC__StreamMetadata, MetadataDeleter>;

}  // namespace

struct FlacWriter::State {
    std::vector<Metadata> metadata;  // declared first, so it outlives the encoder's use of it
    std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder;
};

FlacWriter::FlacWriter(FlacOptions options) : options_(options) {}
FlacWriter::~FlacWriter() = default;

bool FlacWriter::Failed() {
    if (output_.error != 0) return Fail(WriterError::System, output_.error);
    if (!state_ || !state_->encoder) return false;
    return Fail(WriterError::Library, 0, FLAC__stream_encoder_get_resolved_state_string(state_->encoder.get()));
}

bool FlacWriter::Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) {
    if (format.bits > 24) return false;
    if (format.rate > kMaxRate) return Fail(WriterError::RateTooHigh, kMaxRate);
    output_.error = 0;
    state_ = std::make_unique<State>();
    state_->encoder.reset(FLAC__stream_encoder_new());
    if (!state_->encoder) return false;
    FLAC__StreamEncoder* encoder = state_->encoder.get();
    std::vector<Metadata>& metadata = state_->metadata;
    const auto rate = static_cast<uint32_t>(format.rate);
    bool ok = FLAC__stream_encoder_set_channels(encoder, static_cast<uint32_t>(format.channels)) &&
              FLAC__stream_encoder_set_bits_per_sample(encoder, static_cast<uint32_t>(format.bits)) &&
              FLAC__stream_encoder_set_sample_rate(encoder, rate) &&
              FLAC__stream_encoder_set_compression_level(
                  encoder, static_cast<uint32_t>(options_.compression < 0 ? 0 : options_.compression)) &&
              FLAC__stream_encoder_set_total_samples_estimate(encoder, options_.expectedFrames);
    // Other rates above 65535 Hz are stated in STREAMINFO only, outside the subset.
    if (rate > 65535 && rate % 10 != 0) ok = ok && FLAC__stream_encoder_set_streamable_subset(encoder, false);
    if (!ok) return false;

    // Tags, pictures, the seek table and padding, in that order.
    Metadata comments(FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
    if (!comments) return false;
    // The entries are made first and put in place at once: appending one by one recounts the whole block
    // each time, which takes seconds for a tagger's 100,000 fields.
    std::vector<FLAC__StreamMetadata_VorbisComment_Entry> entries;
    const auto freeEntries = [&entries] {
        for (auto& e : entries) std::free(e.entry);
    };
    for (const auto& [name, value] : VorbisCommentFields(tags)) {
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        // A name Vorbis comments cannot hold is left out.
        if (FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(), value.c_str()))
            entries.push_back(entry);
    }
    if (!entries.empty()) {
        if (!FLAC__metadata_object_vorbiscomment_resize_comments(comments.get(), static_cast<uint32_t>(entries.size()))) {
            freeEntries();
            return false;
        }
        // The block owns the entries from here (each replaces the empty entry the resize made); setting the
        // last one recounts the block's length once.
        FLAC__StreamMetadata_VorbisComment_Entry* slots = comments->data.vorbis_comment.comments;
        for (size_t k = 0; k + 1 < entries.size(); ++k) {
            std::free(slots[k].entry);
            slots[k] = entries[k];
        }
        const auto last = entries.back();
        entries.clear();
        if (!FLAC__metadata_object_vorbiscomment_set_comment(comments.get(),
                                                            comments->data.vorbis_comment.num_comments - 1, last,
                                                            false)) {
            std::free(last.entry);
            return false;
        }
    }
    if (comments->length > kMaxBlockBytes) return Fail(WriterError::TagsTooLarge, kMaxBlockBytes);
    metadata.push_back(std::move(comments));
    for (const TagPicture& picture : tags.pictures) {
        if (picture.data.size() + picture.mimeType.size() + picture.description.size() + 32 > kMaxBlockBytes)
            continue;
        Metadata block(FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE));
        if (!block) return false;
        std::string mime = picture.mimeType.empty() ? "image/" : picture.mimeType;
        std::string description;
        if (!picture.description.empty()) ToValidUtf8(picture.description, description);
        block->data.picture.type = static_cast<FLAC__StreamMetadata_Picture_Type>(
            picture.type >= 0 && picture.type <= 20 ? picture.type : 0);
        // The block states the image's size as read from it (0 for an image it cannot read).
        const ImageSize size = ImageSizeOf(picture.data);
        block->data.picture.width = size.width;
        block->data.picture.height = size.height;
        block->data.picture.depth = size.depth;
        block->data.picture.colors = size.colours;
        if (!FLAC__metadata_object_picture_set_mime_type(block.get(), mime.data(), true) ||
            !FLAC__metadata_object_picture_set_description(
                block.get(), reinterpret_cast<FLAC__byte*>(description.data()), true) ||
            // Copied, so the record's bytes are only read.
            !FLAC__metadata_object_picture_set_data(block.get(), const_cast<uint8_t*>(picture.data.data()),
                                                   static_cast<FLAC__uint32>(picture.data.size()), true))
            return false;
        const char* violation = nullptr;
        if (!FLAC__metadata_object_picture_is_legal(block.get(), &violation)) continue;
        metadata.push_back(std::move(block));
    }
    Metadata seekTable(FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE));
    if (!seekTable) return false;
    ok = options_.expectedFrames > 0
             ? FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
                   seekTable.get(), rate * kSeekSpacingSeconds, options_.expectedFrames)
             : FLAC__metadata_object_seektable_template_append_point(seekTable.get(), 0);
    if (!ok || !FLAC__metadata_object_seektable_template_sort(seekTable.get(), true)) return false;
    metadata.push_back(std::move(seekTable));
    Metadata padding(FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING));
    if (!padding) return false;
    padding->length = kPaddingBytes;
    metadata.push_back(std::move(padding));

    std::vector<FLAC__StreamMetadata*> blocks;
    for (const Metadata& block : metadata) blocks.push_back(block.get());
    if (!FLAC__stream_encoder_set_metadata(encoder, blocks.data(), static_cast<uint32_t>(blocks.size()))) return false;
    // Read access lets the writer mend the seek table at the end.
    if (!Io(output_.file.Open(path, "w+b"))) return false;
    const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
        encoder, WriteTo<Output>, SeekTo<Output>, TellOf<Output>, nullptr, &output_);
    if (status == FLAC__STREAM_ENCODER_INIT_STATUS_OK) return true;
    if (status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR) return Failed();
    return Fail(WriterError::Library, status, FLAC__StreamEncoderInitStatusString[status]);
}

bool FlacWriter::Put(const int32_t* const* planes, int frames) {
    return FLAC__stream_encoder_process(state_->encoder.get(), planes, static_cast<uint32_t>(frames)) || Failed();
}

bool FlacWriter::End() {
    // Finishing writes the MD5 signature, the length and the seek points into the blocks at the start.
    bool ok = FLAC__stream_encoder_finish(state_->encoder.get()) || Failed();
    ok = ok && Io(ClearUnreachedSeekPoints());
    return Io(output_.file.Close()) && ok;
}

bool FlacWriter::ClearUnreachedSeekPoints() {
    // "fLaC", then blocks of a 4-byte header (last flag, type, 24-bit length); the seek table is type 3 with
    // 18-byte points: sample number, stream offset, frame samples. Reads go past the stream's buffer.
    if (std::fflush(output_.file.Get()) != 0) return false;
    int64_t at = 4;
    for (int blocks = 0; blocks < 1024; ++blocks) {
        uint8_t header[4];
        if (!output_.file.ReadExactAt(at, header, sizeof header)) return false;
        const uint32_t length = (static_cast<uint32_t>(header[1]) << 16) | (header[2] << 8) | header[3];
        if ((header[0] & 0x7F) == FLAC__METADATA_TYPE_SEEKTABLE) {
            std::vector<uint8_t> points(length);
            if (!output_.file.ReadExactAt(at + 4, points.data(), points.size())) return false;
            bool changed = false;
            for (size_t p = 0; p + 18 <= points.size(); p += 18) {
                const bool placeholder = LoadU64BE(&points[p]) == FLAC__STREAM_METADATA_SEEKPOINT_PLACEHOLDER;
                if (placeholder || points[p + 16] != 0 || points[p + 17] != 0) continue;
                std::memset(&points[p], 0xFF, 8);
                std::memset(&points[p + 8], 0, 10);
                changed = true;
            }
            if (!changed) return true;
            return output_.file.Seek(at + 4) && output_.file.Write(points.data(), points.size());
        }
        if (header[0] & 0x80) return true;
        at += 4 + static_cast<int64_t>(length);
    }
    return true;
}

void FlacWriter::Release() {
    // The file closes first, so that deleting an unfinished encoder writes nothing.
    output_.file.Close();
    state_.reset();
}

}  // namespace pelloran
