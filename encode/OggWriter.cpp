#include "encode/OggWriter.h"

#include "encode/Interleave.h"
#include "encode/VorbisComments.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <random>

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
    bool endWritten = false;  // the end-of-stream page is out
};

OggWriter::OggWriter(OggOptions options) : options_(options) {}
OggWriter::~OggWriter() = default;

bool OggWriter::Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) {
    if ((!options_.useQuality && options_.bitrate <= 0)) return false;
    state_ = std::make_unique<State>();
    State& s = *state_;
    vorbis_info* vi = &s.info.vi;
    const bool ready = options_.useQuality
                           ? vorbis_encode_setup_vbr(vi, format.channels, format.rate, options_.quality) == 0
                           : vorbis_encode_setup_managed(vi, format.channels, format.rate, -1, options_.bitrate,
                                                         -1) == 0 &&
                                 vorbis_encode_ctl(vi, OV_ECTL_RATEMANAGE2_SET, nullptr) == 0;
    if (!ready || vorbis_encode_setup_init(vi) != 0)
        return false;

    for (const auto& [name, value] : VorbisCommentFields(tags))
        vorbis_comment_add_tag(&s.comment.vc, name.c_str(), value.c_str());
    for (const auto& [name, value] : VorbisPictureFields(tags))
        vorbis_comment_add_tag(&s.comment.vc, name.c_str(), value.c_str());

    if (!Io(file_.Open(path, "wb")) || vorbis_analysis_init(&s.dsp.vd, vi) != 0) return false;
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

bool OggWriter::WritePage(const void* header, long headerBytes, const void* body, long bodyBytes) {
    return Io(file_.Write(header, static_cast<size_t>(headerBytes)) &&
              file_.Write(body, static_cast<size_t>(bodyBytes)));
}

bool OggWriter::Flush() {
    State& s = *state_;
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
    return true;
}

bool OggWriter::Put(const int32_t* const* planes, int frames) {
    State& s = *state_;
    const PcmFormat& format = Format();
    // The library moves its whole pending buffer after every block it takes out, so it is fed in small
    // pieces: a block of 16384 frames at once costs twice the time in those moves.
    constexpr int kPieceFrames = 1024;
    for (int done = 0; done < frames;) {
        const int n = std::min(kPieceFrames, frames - done);
        float** buffer = vorbis_analysis_buffer(&s.dsp.vd, n);
        const int* order = VorbisOrder(format.channels);
        for (int c = 0; c < format.channels; ++c)
            PlaneToFloat(planes[order[c]] + done, format.bits, static_cast<size_t>(n), buffer[c]);
        vorbis_analysis_wrote(&s.dsp.vd, n);
        if (!Flush()) return false;
        done += n;
    }
    return true;
}

bool OggWriter::End() {
    vorbis_analysis_wrote(&state_->dsp.vd, 0);  // end of stream
    const bool ok = Flush() && state_->endWritten;
    return Io(file_.Close()) && ok;
}

void OggWriter::Release() {
    file_.Close();
    state_.reset();
}

}  // namespace pelloran
