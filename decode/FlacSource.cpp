#include "decode/FlacSource.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "decode/FfmpegSource.h"
#include "media/PcmFormat.h"
#include "platform/File.h"
#include "platform/Id3v2Header.h"

namespace pelloran {

namespace {

constexpr uint8_t kMetadataStreamInfo = 0;
constexpr uint8_t kMetadataVorbisComment = 4;
constexpr uint8_t kMetadataCueSheet = 5;
constexpr uint8_t kMetadataPicture = 6;
constexpr size_t kStreamInfoBytes = 34;
// Beyond these FFmpeg's probe might not see the stream header past the tag, or hand the file elsewhere.
constexpr uint64_t kMaxId3Bytes = 256 * 1024;
constexpr int kMaxRate = 655350;
constexpr int kMaxBlocks = 4096;  // metadata blocks; far more than any file has
// Decoder calls in a row that neither gave a frame nor read a byte before the stream counts as ended.
constexpr int kMaxIdleCalls = 64;
// Blocks one decoder call may give before any is read (libFLAC fills a gap it skipped with silence).
constexpr size_t kMaxPendingBlocks = 8;

// "fLaC" and a STREAMINFO block that is the last: what libFLAC reads before the first frame.
constexpr size_t kHeaderBytes = 4 + 4 + kStreamInfoBytes;

// Whether the PICTURE block's body at body (size bytes) holds its fields within the block; FFmpeg reads
// past a picture that claims more.
bool PictureFits(const File& file, uint64_t body, uint64_t size) {
    uint8_t field[4];
    uint64_t at = 4;  // picture type
    for (int i = 0; i < 2; ++i) {  // MIME type, then description
        if (at + 4 > size || !file.ReadExactAt(static_cast<int64_t>(body + at), field, 4)) return false;
        at += 4 + uint64_t{LoadU32BE(field)};
    }
    at += 16;  // width, height, depth, colours
    if (at + 4 > size || !file.ReadExactAt(static_cast<int64_t>(body + at), field, 4)) return false;
    return uint64_t{LoadU32BE(field)} <= size - at - 4;
}

// Whether the VORBIS_COMMENT block's body holds a comment (the vendor string is no tag); unclear counts.
bool HasComments(const File& file, uint64_t body, uint64_t size) {
    uint8_t field[4];
    if (size < 8 || !file.ReadExactAt(static_cast<int64_t>(body), field, 4)) return true;
    const uint64_t vendor = LoadU32LE(field);
    if (vendor > size - 8 || !file.ReadExactAt(static_cast<int64_t>(body + 4 + vendor), field, 4)) return true;
    return LoadU32LE(field) != 0;
}

}  // namespace

std::optional<FlacLayout> ParseFlacLayout(const File& file) {
    const int64_t size = file.Size();
    if (size < static_cast<int64_t>(kHeaderBytes)) return std::nullopt;
    const auto fileSize = static_cast<uint64_t>(size);
    FlacLayout layout;
    layout.fileBytes = fileSize;

    uint8_t head[kId3v2HeaderBytes];
    if (!file.ReadExactAt(0, head, sizeof head)) return std::nullopt;
    uint64_t at = 0;
    if (std::memcmp(head, "ID3", 3) == 0) {
        // One tag, no footer: FFmpeg's probe skips just one, and sizes a footer differently.
        const std::optional<Id3v2Header> tag = ParseId3v2Header(head, sizeof head);
        if (!tag || (tag->flags & 0x10) != 0 || tag->totalSize() > kMaxId3Bytes) return std::nullopt;
        at = tag->totalSize();
        layout.containerTags = true;
    }
    uint8_t start[4 + 4 + kStreamInfoBytes];
    if (at + sizeof start > fileSize || !file.ReadExactAt(static_cast<int64_t>(at), start, sizeof start) ||
        std::memcmp(start, "fLaC", 4) != 0)
        return std::nullopt;
    const uint8_t* block = start + 4;
    if ((block[0] & 0x7F) != kMetadataStreamInfo || (LoadU32BE(block) & 0xFFFFFF) != kStreamInfoBytes)
        return std::nullopt;
    const uint8_t* info = block + 4;
    std::memcpy(layout.streamInfo, info, kStreamInfoBytes);
    const uint32_t minBlock = LoadU16BE(info);
    layout.maxBlock = LoadU16BE(info + 2);
    layout.rate = static_cast<int>(uint32_t{info[10]} << 12 | uint32_t{info[11]} << 4 | info[12] >> 4);
    layout.channels = ((info[12] >> 1) & 7) + 1;
    layout.bits = ((info[12] & 1) << 4 | info[13] >> 4) + 1;
    layout.totalFrames = uint64_t{info[13] & 0x0Fu} << 32 | LoadU32BE(info + 14);
    // What FFmpeg's probe asks of it, and what this source takes.
    if (minBlock < 16 || layout.maxBlock < minBlock || layout.rate < 1 || layout.rate > kMaxRate ||
        layout.bits < 8 || layout.totalFrames == 0)
        return std::nullopt;

    bool last = (block[0] & 0x80) != 0;
    at += 4 + 4 + kStreamInfoBytes;
    // Every block moves on by at least its 4-byte header, and there are at most kMaxBlocks.
    for (int blocks = 1; !last; ++blocks) {
        uint8_t header[4];
        if (blocks > kMaxBlocks || at + 4 > fileSize || !file.ReadExactAt(static_cast<int64_t>(at), header, 4))
            return std::nullopt;
        last = (header[0] & 0x80) != 0;
        const uint8_t type = header[0] & 0x7F;
        const uint64_t body = at + 4;
        const uint64_t length = LoadU32BE(header) & 0xFFFFFF;
        if (length > fileSize - body) return std::nullopt;
        // A second STREAMINFO, a cue sheet FFmpeg may refuse, a reserved type: FFmpeg decides.
        if (type == kMetadataStreamInfo || type == kMetadataCueSheet || type > kMetadataPicture) return std::nullopt;
        if (type == kMetadataPicture) {
            if (!PictureFits(file, body, length)) return std::nullopt;
            layout.containerTags = true;
        } else if (type == kMetadataVorbisComment && !layout.containerTags) {
            layout.containerTags = HasComments(file, body, length);
        }
        at = body + length;
    }
    if (at >= fileSize) return std::nullopt;
    layout.audioStart = at;
    return layout;
}

namespace {

struct DecoderDeleter {
    void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
};
using DecoderPtr = std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter>;

int WideWidthOf(int bits) { return bits <= 16 ? 16 : bits <= 24 ? 24 : 32; }

// One block's planes interleaved into out, each sample through convert.
template <typename T, typename Convert>
void Interleave(const FLAC__int32* const* planes, int channels, size_t frames, T* out, Convert convert) {
    if (channels == 2) {
        const FLAC__int32* l = planes[0];
        const FLAC__int32* r = planes[1];
        for (size_t i = 0; i < frames; ++i) {
            out[2 * i] = convert(l[i]);
            out[2 * i + 1] = convert(r[i]);
        }
        return;
    }
    const auto n = static_cast<size_t>(channels);
    for (size_t c = 0; c < n; ++c) {
        const FLAC__int32* in = planes[c];
        for (size_t i = 0; i < frames; ++i) out[i * n + c] = convert(in[i]);
    }
}

}  // namespace

struct FlacSource::State {
    File* file = nullptr;
    std::string name;
    FlacLayout layout;
    bool wide = false;
    int shift = 0;  // left for narrow samples and the wide output, right for wide samples cut to 16 bits
    DecoderPtr decoder;

    // libFLAC reads a stream of our header followed by the file's audio from audioStart.
    uint8_t header[kHeaderBytes] = {};
    uint64_t position = 0;  // in that stream
    uint64_t consumed = 0;  // bytes handed to libFLAC
    bool readError = false;

    std::vector<uint8_t> pending;  // output frames of the last blocks (one, unless libFLAC filled a gap)
    size_t pendingFrames = 0;
    size_t takenFrames = 0;
    size_t frameBytes = 0;
    uint64_t nextSample = 0;  // the first sample a block may start at
    uint64_t blocks = 0;       // blocks libFLAC gave, taken or not
    bool firstMatched = true;  // the first of them fits the STREAMINFO
    bool ended = false;

    uint64_t StreamBytes() const { return kHeaderBytes + (layout.fileBytes - layout.audioStart); }

    // The frame's block as output frames; false (the block dropped) when it does not fit the stream.
    bool Take(const FLAC__Frame& frame, const FLAC__int32* const* planes) {
        const FLAC__FrameHeader& h = frame.header;
        const uint64_t first = h.number.sample_number;
        const bool fits = static_cast<int>(h.channels) == layout.channels &&
                          static_cast<int>(h.bits_per_sample) == layout.bits &&
                          static_cast<int>(h.sample_rate) == layout.rate && h.blocksize <= layout.maxBlock;
        if (blocks++ == 0 && !fits) firstMatched = false;
        // Blocks in order and within the stated length.
        if (!fits || first < nextSample || first >= layout.totalFrames) return false;
        const size_t frames = h.blocksize;
        if (takenFrames == pendingFrames) pendingFrames = takenFrames = 0;
        const size_t need = (pendingFrames + frames) * frameBytes;
        if (need > pending.size()) {
            if (pendingFrames + frames > kMaxPendingBlocks * size_t{layout.maxBlock}) return false;
            pending.resize(need);
        }
        uint8_t* out = pending.data() + pendingFrames * frameBytes;
        const int s = shift;
        if (wide) {
            Interleave(planes, layout.channels, frames, reinterpret_cast<int32_t*>(out),
                       [s](FLAC__int32 v) { return static_cast<int32_t>(static_cast<uint32_t>(v) << s); });
        } else if (layout.bits <= 16) {
            Interleave(planes, layout.channels, frames, reinterpret_cast<int16_t*>(out),
                       [s](FLAC__int32 v) { return static_cast<int16_t>(static_cast<uint32_t>(v) << s); });
        } else {
            // FFmpeg's conversion of the decoder's 32-bit samples to 16 bits keeps their top bits.
            Interleave(planes, layout.channels, frames, reinterpret_cast<int16_t*>(out),
                       [s](FLAC__int32 v) { return static_cast<int16_t>(v >> s); });
        }
        pendingFrames += frames;
        nextSample = first + frames;
        return true;
    }

    // Decodes until a block is pending; false at the end of the stream.
    bool DecodeMore() {
        for (int idle = 0; !ended && idle < kMaxIdleCalls;) {
            const uint64_t bytesBefore = consumed;
            const uint64_t blocksBefore = blocks;
            const bool ok = FLAC__stream_decoder_process_single(decoder.get()) != 0;
            const bool progressed = blocks != blocksBefore || consumed != bytesBefore;
            if (takenFrames < pendingFrames) return true;
            const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder.get());
            if (!ok || state == FLAC__STREAM_DECODER_END_OF_STREAM || state == FLAC__STREAM_DECODER_ABORTED) break;
            idle = progressed ? 0 : idle + 1;
        }
        ended = true;
        return false;
    }
};

namespace {

FlacSource::State& StateOf(void* client) { return *static_cast<FlacSource::State*>(client); }

FLAC__StreamDecoderReadStatus ReadFrom(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                       void* client) {
    FlacSource::State& s = StateOf(client);
    size_t done = 0;
    if (s.position < kHeaderBytes) {
        done = std::min(*bytes, static_cast<size_t>(kHeaderBytes - s.position));
        std::memcpy(buffer, s.header + s.position, done);
    }
    if (done < *bytes && s.position + done >= kHeaderBytes) {
        // The file's stream may have been moved by another source sharing it.
        const auto at = static_cast<int64_t>(s.layout.audioStart + (s.position + done - kHeaderBytes));
        if (s.file->Tell() != at && !s.file->Seek(at)) {
            s.readError = true;
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        done += s.file->Read(buffer + done, *bytes - done);
        if (done == 0 && std::ferror(s.file->Get()) != 0) {
            s.readError = true;
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
    }
    s.position += done;
    s.consumed += done;
    *bytes = done;
    return done == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus SeekTo(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* client) {
    FlacSource::State& s = StateOf(client);
    if (offset > s.StreamBytes()) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    s.position = offset;
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus TellOf(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* client) {
    *offset = StateOf(client).position;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus LengthOf(const FLAC__StreamDecoder*, FLAC__uint64* length, void* client) {
    *length = StateOf(client).StreamBytes();
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool AtEnd(const FLAC__StreamDecoder*, void* client) {
    const FlacSource::State& s = StateOf(client);
    return s.readError || s.position >= s.StreamBytes();
}

FLAC__StreamDecoderWriteStatus WriteTo(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                       const FLAC__int32* const buffer[], void* client) {
    FlacSource::State& s = StateOf(client);
    s.Take(*frame, buffer);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

// libFLAC goes on by itself: a block that fails its check comes as silence, lost sync is searched for.
void OnError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

}  // namespace

FlacSource::FlacSource(std::unique_ptr<State> state) : s_(std::move(state)) {
    const FlacLayout& layout = s_->layout;
    if (s_->wide) format_ = {layout.rate, layout.channels, 32, WideWidthOf(layout.bits)};
    else format_ = {layout.rate, layout.channels, 16};
    lengthFrames_ = layout.totalFrames;
}

FlacSource::~FlacSource() = default;

std::unique_ptr<FlacSource> FlacSource::Open(File& file, const std::string& name, bool wide) {
    if (!file.IsOpen()) return nullptr;
    const std::optional<FlacLayout> layout = ParseFlacLayout(file);
    if (!layout || layout->channels > kMaxWideChannels) return nullptr;
    auto s = std::make_unique<State>();
    s->file = &file;
    s->name = name;
    s->layout = *layout;
    s->wide = wide;
    const int bits = layout->bits;
    s->shift = wide ? WideWidthOf(bits) - bits : bits <= 16 ? 16 - bits : bits - 16;
    std::memcpy(s->header, "fLaC", 4);
    s->header[4] = 0x80 | kMetadataStreamInfo;
    s->header[7] = kStreamInfoBytes;
    std::memcpy(s->header + 8, layout->streamInfo, kStreamInfoBytes);
    s->frameBytes = static_cast<size_t>(layout->channels) * (wide ? 4 : 2);
    s->pending.resize(size_t{layout->maxBlock} * s->frameBytes);

    s->decoder.reset(FLAC__stream_decoder_new());
    FLAC__StreamDecoder* decoder = s->decoder.get();
    if (decoder == nullptr || !FLAC__stream_decoder_set_md5_checking(decoder, false) ||
        FLAC__stream_decoder_init_stream(decoder, ReadFrom, SeekTo, TellOf, LengthOf, AtEnd, WriteTo, nullptr,
                                         OnError, s.get()) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
        !FLAC__stream_decoder_process_until_end_of_metadata(decoder))
        return nullptr;
    // The first block decides: one that does not fit the STREAMINFO, or none at all, goes to FFmpeg.
    if (!s->DecodeMore() || !s->firstMatched) return nullptr;
    return std::unique_ptr<FlacSource>(new FlacSource(std::move(s)));
}

size_t FlacSource::Read(void* out, size_t frames) {
    State& s = *s_;
    auto* at = static_cast<uint8_t*>(out);
    const size_t frameBytes = format_.FrameBytes();
    size_t done = 0;
    while (done < frames) {
        if (s.takenFrames == s.pendingFrames && !s.DecodeMore()) break;
        const size_t n = std::min(frames - done, s.pendingFrames - s.takenFrames);
        std::memcpy(at + done * frameBytes, s.pending.data() + s.takenFrames * frameBytes, n * frameBytes);
        s.takenFrames += n;
        done += n;
    }
    return done;
}

std::optional<uint64_t> FlacSource::FileBytes() const { return s_->layout.fileBytes; }

bool FlacSource::Truncated() const {
    const State& s = *s_;
    if (s.readError) return true;
    if (!s.ended) return false;
    // As the FFmpeg source judges it: short by more than a second and more than 1 %.
    const uint64_t total = s.layout.totalFrames;
    const uint64_t margin = std::max<uint64_t>(static_cast<uint64_t>(s.layout.rate), total / 100);
    return total > margin && s.nextSample < total - margin;
}

int FlacSource::WideWidth() const { return WideWidthOf(s_->layout.bits); }

std::unique_ptr<PcmSource> FlacSource::OpenWide() const { return Open(*s_->file, s_->name, true); }

bool FlacSource::ReadTags(TagRecord& tags) {
    return ReadTagsAsMediaSource(*s_->file, s_->name, s_->layout.containerTags, tags);
}

}  // namespace pelloran
