#include "decode/OggVorbisDecoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <strings.h>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "decode/PcmSource.h"
#include "decode/Readers.h"
#include "decode/SampleAdapter.h"
#include "platform/TagReader.h"

#include "platform/FfmpegApi.h"

namespace pelloran {

namespace {

// Errors from ov_read_float in a row (gaps, bad links) before the stream is taken as ended.
constexpr int kMaxReadFailures = 256;
constexpr long kMaxSampleRate = 1000000;

// Float samples to 16-bit ones as the adapter's resampler library converts them: scaled by 32768, clipped,
// rounded to nearest (ties to even) by adding 1.5 * 2^23, which leaves the integer in the low mantissa bits.
// Floats to 16-bit values, rounded to nearest and clamped (the mantissa trick: adding 1.5 * 2^23 leaves the
// rounded integer in the low bits).
void ToSixteen(const float* from, size_t n, int32_t* to) {
    for (size_t i = 0; i < n; ++i) {
        const float v = std::min(std::max(from[i] * 32768.0f, -32768.0f), 32767.0f) + 12582912.0f;
        int32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        to[i] = bits - 0x4B400000;
    }
}

// Channel meaning of Vorbis streams of 1 to 8 channels, and where each channel of the library's order
// sits in the Vorbis order.
struct VorbisMapping {
    uint64_t mask;
    int order[8];
};
constexpr VorbisMapping kVorbisMappings[8] = {
    {AV_CH_LAYOUT_MONO, {0}},
    {AV_CH_LAYOUT_STEREO, {0, 1}},
    {AV_CH_LAYOUT_SURROUND, {0, 2, 1}},                   // L C R
    {AV_CH_LAYOUT_QUAD, {0, 1, 2, 3}},                    // FL FR RL RR
    {AV_CH_LAYOUT_5POINT0_BACK, {0, 2, 1, 3, 4}},         // FL FC FR RL RR
    {AV_CH_LAYOUT_5POINT1_BACK, {0, 2, 1, 5, 3, 4}},      // FL FC FR RL RR LFE
    {AV_CH_LAYOUT_6POINT1, {0, 2, 1, 6, 5, 3, 4}},        // FL FC FR SL SR RC LFE
    {AV_CH_LAYOUT_7POINT1, {0, 2, 1, 7, 5, 6, 3, 4}},     // FL FC FR SL SR RL RR LFE
};

struct Keyed {
    const char* key;
    std::string TagRecord::*field;
};
constexpr Keyed kCommentKeys[] = {
    {"TITLE=", &TagRecord::Title},         {"ARTIST=", &TagRecord::Artist},   {"ALBUM=", &TagRecord::Album},
    {"DATE=", &TagRecord::Year},           {"GENRE=", &TagRecord::Genre},     {"COMMENT=", &TagRecord::Comment},
    {"TRACKNUMBER=", &TagRecord::Track},   {"COMPOSER=", &TagRecord::Composer}, {"COPYRIGHT=", &TagRecord::Copyright},
};

// A comment as stored, whole, up to its first zero byte.
std::string_view CommentText(const char* text, int length) {
    if (text == nullptr || length <= 0) return {};
    std::string_view raw(text, static_cast<size_t>(length));
    return raw.substr(0, raw.find('\0'));
}

}  // namespace

struct OggVorbisDecoder::State {
    bool isOpen = false;
    OggVorbis_File vorbisFile{};
    int vorbisVersion = -1;
    TagRecord tags;  // from the comments of the opening link
    std::string vendor;
    // Links of the opening's rate and one or two channels are converted here (no FFmpeg needed); any other
    // link, and all that follow it, go through the adapter.
    float** direct = nullptr;  // vorbisfile's planes of the last read, valid until the next
    size_t directFrames = 0;
    size_t directTaken = 0;
    SampleAdapter adapter;
    bool adapterReady = false;
    bool ended = false;

    ~State() { Reset(); }

    void Reset() {
        if (isOpen) ov_clear(&vorbisFile);
        std::memset(&vorbisFile, 0, sizeof vorbisFile);
        isOpen = false;
        vorbisVersion = -1;
        tags = TagRecord{};
        vendor.clear();
        direct = nullptr;
        directFrames = directTaken = 0;
        adapter.Reset();
        adapterReady = false;
        ended = false;
    }
};

OggVorbisDecoder::OggVorbisDecoder() : s_(std::make_unique<State>()) {}

OggVorbisDecoder::~OggVorbisDecoder() { Close(); }

void OggVorbisDecoder::Close() {
    s_->Reset();
    ResetState();
}

int OggVorbisDecoder::Open(const std::string& path, int rate) {
    (void)rate;
    Close();
    State& s = *s_;
    // On failure vorbisfile has already released the stream and closed the file.
    if (ov_fopen(path.c_str(), &s.vorbisFile) < 0) {
        std::memset(&s.vorbisFile, 0, sizeof s.vorbisFile);
        return 0;
    }
    s.isOpen = true;
    // After its scan of the links vorbisfile may stand past the first audio: in a chained file whose first
    // link holds one page of audio, or in a file with a damaged page. Reading starts from the top instead.
    if (ov_seekable(&s.vorbisFile)) (void)ov_raw_seek(&s.vorbisFile, 0);

    const vorbis_info* info = ov_info(&s.vorbisFile, -1);
    if (info == nullptr || info->rate <= 0 || info->rate > kMaxSampleRate || info->channels <= 0) {
        Close();
        return 0;
    }
    const int delivered = info->channels < 3 ? info->channels : 2;

    if (const vorbis_comment* vc = ov_comment(&s.vorbisFile, -1)) {
        // Later comments overwrite earlier ones with the same key; every other comment goes to extra by its
        // upper-cased name, pictures to the pictures.
        std::string description;
        for (int i = 0; i < vc->comments; ++i) {
            const int len = vc->comment_lengths ? vc->comment_lengths[i] : 0;
            const std::string_view comment = CommentText(vc->user_comments[i], len);
            bool known = false;
            for (const Keyed& k : kCommentKeys) {
                const size_t n = std::strlen(k.key);
                if (comment.size() < n || strncasecmp(comment.data(), k.key, n) != 0) continue;
                std::string value;
                ToValidUtf8(comment.substr(n), value);
                s.tags.*k.field = std::move(value);
                known = true;
            }
            const size_t equals = comment.find('=');
            if (known || equals == std::string_view::npos || equals == 0) continue;
            const std::string name = ToUpperAscii(comment.substr(0, equals));
            const std::string_view raw = comment.substr(equals + 1);
            if (name == "METADATA_BLOCK_PICTURE") {
                TagPicture picture;
                if (PictureFromVorbisComment(raw, picture)) s.tags.pictures.push_back(std::move(picture));
                continue;
            }
            std::string value;
            if (!ToValidUtf8(raw, value)) continue;
            if (name == "DESCRIPTION" && description.empty()) description = value;
            else s.tags.AddValue(name, std::move(value));
        }
        // DESCRIPTION is the comment when there is no COMMENT.
        if (s.tags.Comment.empty()) s.tags.Comment = std::move(description);
        else if (!description.empty()) s.tags.extra["DESCRIPTION"].insert(s.tags.extra["DESCRIPTION"].begin(), description);
        if (vc->vendor) s.vendor = vc->vendor;
    }

    s.vorbisVersion = info->version;
    sampleRate = static_cast<int>(info->rate);
    channels = info->channels;
    outputChannels = delivered;
    bitrateKbps = info->bitrate_nominal > 0 ? static_cast<int>(std::min<long>(info->bitrate_nominal / 1000, INT_MAX))
                                            : 0;
    bitsPerSample = 16;
    bytesPerSample = 2;
    const double seconds = ov_time_total(&s.vorbisFile, -1);
    durationSeconds = seconds > 0 ? static_cast<int>(std::min(seconds, static_cast<double>(INT32_MAX))) : 0;
    // The whole file: vorbisfile's own total stops at the start of the last page, short of where
    // ov_raw_tell ends.
    std::error_code error;
    const uintmax_t fileSize = std::filesystem::file_size(path, error);
    const ogg_int64_t total = ov_raw_total(&s.vorbisFile, -1);
    length = !error ? static_cast<uint64_t>(fileSize) : total > 0 ? static_cast<uint64_t>(total) : 0;

    // A stream that yields no audio at all is refused, so that another reader can try it.
    if (!DecodeMore()) {
        Close();
        return 0;
    }
    return 1;
}

bool OggVorbisDecoder::DecodeMore() {
    State& s = *s_;
    int failures = 0;
    while (!s.ended) {
        float** pcm = nullptr;
        int link = -1;
        const long got = ov_read_float(&s.vorbisFile, &pcm, kBlockFrames, &link);
        if (got == 0) {
            s.ended = true;
            break;
        }
        // A gap or a bad link: go on with what follows, but not for ever.
        const vorbis_info* info = got > 0 ? ov_info(&s.vorbisFile, link) : nullptr;
        if (info == nullptr || info->channels <= 0 || pcm == nullptr) {
            if (++failures > kMaxReadFailures) s.ended = true;
            continue;
        }

        if (!s.adapterReady && info->channels == outputChannels && info->rate == sampleRate) {
            s.direct = pcm;
            s.directFrames = static_cast<size_t>(got);
            s.directTaken = 0;
            failures = 0;
            return true;
        }
        // Each link is taken in its own channel meaning and rate; the adapter brings it to the opening's.
        if (!s.adapterReady && !(s.adapterReady = s.adapter.Setup(sampleRate, outputChannels, false))) {
            s.ended = true;  // FFmpeg could not be loaded
            break;
        }
        const uint8_t* planes[8];
        AVChannelLayout layout{};
        int used = info->channels;
        if (used <= 8) {
            const VorbisMapping& map = kVorbisMappings[used - 1];
            for (int i = 0; i < used; ++i) planes[i] = reinterpret_cast<const uint8_t*>(pcm[map.order[i]]);
            av_channel_layout_from_mask(&layout, map.mask);
        } else {
            // Beyond eight channels the order is the application's: the first two stand for left and right.
            used = 2;
            planes[0] = reinterpret_cast<const uint8_t*>(pcm[0]);
            planes[1] = reinterpret_cast<const uint8_t*>(pcm[1]);
            av_channel_layout_from_mask(&layout, AV_CH_LAYOUT_STEREO);
        }
        const bool pushed = s.adapter.Push(planes, static_cast<int>(got), AV_SAMPLE_FMT_FLTP, layout,
                                           static_cast<int>(info->rate));
        av_channel_layout_uninit(&layout);
        if (!pushed) {
            if (++failures > kMaxReadFailures) s.ended = true;
            continue;
        }
        failures = 0;
        if (s.adapter.PendingFrames() > 0) return true;
    }
    s.adapter.Drain();
    return s.adapter.PendingFrames() > 0;
}

int OggVorbisDecoder::Read(int32_t* const* planes) {
    State& s = *s_;
    if (!s.isOpen || planes == nullptr) return 0;
    const SourceFormat format{sampleRate, outputChannels, 16};
    const auto wanted = static_cast<size_t>(kBlockFrames);
    size_t done = 0;
    while (done < wanted) {
        if (s.directTaken < s.directFrames) {
            const size_t n = std::min(s.directFrames - s.directTaken, wanted - done);
            for (int c = 0; c < outputChannels; ++c) ToSixteen(s.direct[c] + s.directTaken, n, planes[c] + done);
            s.directTaken += n;
            done += n;
        } else if (s.adapter.PendingFrames() > 0) {
            int16_t block[kBlockFrames * 2];
            const size_t n = s.adapter.Take(block, wanted - done);
            int32_t* at[2] = {planes[0] + done, outputChannels == 2 ? planes[1] + done : nullptr};
            SplitChannels(block, n, format, outputChannels, at);
            done += n;
        } else if (s.ended || !DecodeMore()) {
            break;
        }
    }
    position = GetPosition();
    return static_cast<int>(done);
}

uint64_t OggVorbisDecoder::GetPosition() {
    if (!s_->isOpen) return position;
    const ogg_int64_t offset = ov_raw_tell(&s_->vorbisFile);
    return offset > 0 ? static_cast<uint64_t>(offset) : 0;
}

int OggVorbisDecoder::ReadTags(TagRecord& tags) {
    tags = s_->tags;
    return 1;
}

const std::string& OggVorbisDecoder::Vendor() const { return s_->vendor; }

std::unique_ptr<AudioDecoder> MakeOggVorbisDecoder() { return std::make_unique<OggVorbisDecoder>(); }

}  // namespace pelloran
