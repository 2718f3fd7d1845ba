#include "encode/OggWriter.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <random>

#include "media/TagRecord.h"

namespace pelloran {

namespace {

// Each libvorbis/libogg state is cleared by its own owner, in reverse order of creation.
struct InfoState {
    vorbis_info vi{};
    InfoState() { vorbis_info_init(&vi); }
    ~InfoState() { vorbis_info_clear(&vi); }
};

struct CommentState {
    vorbis_comment vc{};
    CommentState() { vorbis_comment_init(&vc); }
    ~CommentState() { vorbis_comment_clear(&vc); }
};

struct DspState {
    vorbis_dsp_state vd{};
    bool live = false;
    ~DspState() {
        if (live) vorbis_dsp_clear(&vd);
    }
};

struct BlockState {
    vorbis_block vb{};
    bool live = false;
    ~BlockState() {
        if (live) vorbis_block_clear(&vb);
    }
};

struct StreamState {
    ogg_stream_state os{};
    bool live = false;
    ~StreamState() {
        if (live) ogg_stream_clear(&os);
    }
};

}  // namespace

struct OggWriter::State {
    InfoState info;
    CommentState comment;
    DspState dsp;
    BlockState block;
    StreamState stream;
    bool setUp = false;
    bool endWritten = false;  // the end-of-stream page is out
};

OggWriter::OggWriter() = default;
OggWriter::~OggWriter() { Close(); }

bool OggWriter::HeadersWritten() const { return state_ && state_->stream.live; }

bool OggWriter::Open(const std::string& path) {
    Close();
    state_ = std::make_unique<State>();
    if (!file_.Open(path, "wb")) {
        state_.reset();
        return false;
    }
    return true;
}

bool OggWriter::Setup(int rate, int channels, int bitrate) {
    if (!state_ || state_->setUp || rate <= 0 || channels < 1 || channels > 2 || bitrate <= 0) return false;
    vorbis_info* vi = &state_->info.vi;
    if (vorbis_encode_setup_managed(vi, channels, rate, -1, bitrate, -1) != 0) return false;
    if (vorbis_encode_ctl(vi, OV_ECTL_RATEMANAGE2_SET, nullptr) != 0) return false;
    if (vorbis_encode_setup_init(vi) != 0) return false;
    channels_ = channels;
    state_->setUp = true;
    return true;
}

void OggWriter::AddComments(std::string_view title, std::string_view artist, std::string_view album,
                            std::string_view year, std::string_view genre, std::string_view comment,
                            std::string_view composer, std::string_view copyright, std::string_view track) {
    if (!state_ || HeadersWritten()) return;
    const std::pair<const char*, std::string_view> pairs[] = {
        {"TITLE", title},       {"ARTIST", artist},   {"ALBUM", album},
        {"DATE", year},         {"GENRE", genre},     {"COMMENT", comment},
        {"COMPOSER", composer}, {"COPYRIGHT", copyright}};
    std::string utf8;
    for (const auto& [name, value] : pairs) {
        if (value.empty() || !AnsiToUtf8(value, utf8)) continue;
        vorbis_comment_add_tag(&state_->comment.vc, name, utf8.c_str());
    }
    if (TrackNumber(track) > 0 && AnsiToUtf8(track, utf8))
        vorbis_comment_add_tag(&state_->comment.vc, "TRACKNUMBER", utf8.c_str());
}

bool OggWriter::WritePage(const void* header, long headerBytes, const void* body, long bodyBytes) {
    if (failed_) return false;
    if (!file_.Write(header, static_cast<size_t>(headerBytes)) || !file_.Write(body, static_cast<size_t>(bodyBytes)))
        failed_ = true;
    return !failed_;
}

bool OggWriter::WriteHeaders() {
    if (!state_ || !state_->setUp || HeadersWritten() || !file_.IsOpen()) return false;
    State& s = *state_;
    if (vorbis_analysis_init(&s.dsp.vd, &s.info.vi) != 0) return false;
    s.dsp.live = true;
    if (vorbis_block_init(&s.dsp.vd, &s.block.vb) != 0) return false;
    s.block.live = true;

    // Any serial number will do; a per-writer generator keeps parallel conversions apart.
    std::random_device device;
    std::minstd_rand generator(device());
    if (ogg_stream_init(&s.stream.os, static_cast<int>(generator() & 0x7FFFFFFF)) != 0) return false;
    s.stream.live = true;

    ogg_packet identification;
    ogg_packet comments;
    ogg_packet codebooks;
    if (vorbis_analysis_headerout(&s.dsp.vd, &s.comment.vc, &identification, &comments, &codebooks) != 0)
        return false;
    ogg_stream_packetin(&s.stream.os, &identification);
    ogg_stream_packetin(&s.stream.os, &comments);
    ogg_stream_packetin(&s.stream.os, &codebooks);
    // Flushing puts the headers on pages of their own, so that audio starts on a new page.
    ogg_page page;
    while (ogg_stream_flush(&s.stream.os, &page) != 0) {
        if (!WritePage(page.header, page.header_len, page.body, page.body_len)) return false;
    }
    return true;
}

bool OggWriter::Encode(const int16_t* left, const int16_t* right, int frames) {
    if (!HeadersWritten() || failed_) return false;
    State& s = *state_;
    if (s.endWritten) return true;
    if (frames >= 1 && left == nullptr) return false;
    if (frames >= 1) {
        float** buffer = vorbis_analysis_buffer(&s.dsp.vd, frames);
        constexpr float kScale = 1.0f / 32768.0f;
        for (int i = 0; i < frames; ++i) buffer[0][i] = static_cast<float>(left[i]) * kScale;
        if (channels_ == 2) {
            const int16_t* r = right != nullptr ? right : left;
            for (int i = 0; i < frames; ++i) buffer[1][i] = static_cast<float>(r[i]) * kScale;
        }
        vorbis_analysis_wrote(&s.dsp.vd, frames);
    } else {
        vorbis_analysis_wrote(&s.dsp.vd, 0);  // end of stream
    }

    ogg_packet packet;
    ogg_page page;
    while (vorbis_analysis_blockout(&s.dsp.vd, &s.block.vb) == 1) {
        vorbis_analysis(&s.block.vb, nullptr);
        vorbis_bitrate_addblock(&s.block.vb);
        while (vorbis_bitrate_flushpacket(&s.dsp.vd, &packet) == 1) {
            ogg_stream_packetin(&s.stream.os, &packet);
            while (!s.endWritten && ogg_stream_pageout(&s.stream.os, &page) != 0) {
                if (!WritePage(page.header, page.header_len, page.body, page.body_len)) return false;
                if (ogg_page_eos(&page)) s.endWritten = true;
            }
        }
    }
    return !failed_;
}

bool OggWriter::Close() {
    if (!file_.IsOpen()) {
        state_.reset();
        return true;
    }
    const bool complete = state_ && state_->endWritten;
    const bool closed = file_.Close();
    const bool ok = closed && !failed_ && complete;
    state_.reset();
    channels_ = 0;
    failed_ = false;
    return ok;
}

}  // namespace pelloran
