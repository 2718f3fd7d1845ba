#include "decode/FfmpegDecoder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "decode/FfmpegSource.h"
#include "decode/Readers.h"

namespace pelloran {

namespace {

// This reader's use of the source: every self-contained container, its first audio stream, every channel.
FfmpegSource::Options ReaderOptions(const CancelCheck& cancelled) {
    return {DemuxerSet::Media, false, false, false, &cancelled};
}

int BitrateKbps(int64_t bitsPerSecond) {
    if (bitsPerSecond <= 0) return 0;
    return static_cast<int>(std::min<int64_t>(bitsPerSecond / 1000, INT32_MAX));
}

}  // namespace

FfmpegDecoder::FfmpegDecoder() = default;

FfmpegDecoder::~FfmpegDecoder() { Close(); }

void FfmpegDecoder::Close() {
    source_.reset();  // before the file it reads
    file_.Close();
    buffer_.clear();
    ResetState();
}

int FfmpegDecoder::Open(const std::string& path, int rate) {
    (void)rate;
    Close();
    refusal_.clear();
    if (!file_.Open(path, "rb")) refusal_ = std::strerror(errno);
    else source_ = FfmpegSource::Open(file_, path, ReaderOptions(cancelled_), &refusal_);
    if (!source_) {
        Close();
        return 0;
    }
    length = source_->FileBytes().value_or(0);
    position = source_->InputOffset();
    durationSeconds = source_->ContainerSeconds();
    bitrateKbps = BitrateKbps(source_->CodecBitRate());
    channels = source_->SourceChannels();
    channelMode = channels == 1 ? 3 : 0;
    // A lossless stream wider than 16 bits is read at its own width.
    if (source_->WideWidth() > 16) {
        FfmpegSource::Options options = ReaderOptions(cancelled_);
        options.wide = true;
        std::unique_ptr<FfmpegSource> wide = FfmpegSource::Open(file_, path, options);
        if (wide && wide->Format().rate == source_->Format().rate &&
            wide->Format().channels == source_->Format().channels)
            source_ = std::move(wide);
    }
    const SourceFormat& format = source_->Format();
    sampleRate = format.rate;
    outputChannels = std::min(format.channels, kMaxChannels);
    bitsPerSample = format.bits == 32 ? format.wideBits : format.bits;
    bytesPerSample = format.bits / 8;
    buffer_.assign(kBlockFrames * format.FrameBytes(), 0);
    return 1;
}

int FfmpegDecoder::Read(int32_t* const* planes) {
    if (!source_ || planes == nullptr) return 0;
    const size_t frames = source_->Read(buffer_.data(), kBlockFrames);
    SplitChannels(buffer_.data(), frames, source_->Format(), outputChannels, planes);
    position = source_->InputOffset();
    return static_cast<int>(frames);
}

bool FfmpegDecoder::IsTruncated() const { return source_ && source_->Truncated(); }

bool FfmpegDecoder::IsDsd() const { return source_ && source_->Dsd(); }

int FfmpegDecoder::ReadTags(TagRecord& tags) {
    if (!source_) return 0;
    // TagLib's reading (FFmpeg is not shown leading ID3v2 tags), else the container's metadata by property name
    // and its attached pictures.
    TagRecord found;
    if (!source_->ReadTags(found)) return 0;
    for (const TagFieldName& f : kTagFieldNames) {
        std::string valid;
        ToValidUtf8(found.*f.field, valid);
        found.*f.field = std::move(valid);
    }
    tags = std::move(found);
    return 1;
}

void FfmpegProbe::Close() { ResetState(); }

int FfmpegProbe::Open(const std::string& path, int rate) {
    (void)rate;
    Close();
    refusal_.clear();
    File file;
    if (!file.Open(path, "rb")) {
        refusal_ = std::strerror(errno);
        return 0;
    }
    const std::optional<MediaProperties> p = FfmpegSource::Probe(file, path, &cancelled_, &refusal_);
    if (!p) return 0;
    sampleRate = p->sampleRate;
    bitrateKbps = BitrateKbps(p->bitRate);
    channels = p->channels;
    if (channels > 0) {
        outputChannels = std::min(channels, kMaxChannels);
        channelMode = channels == 1 ? 3 : 0;
    }
    if (p->audio) {
        bitsPerSample = p->eightBit ? 8 : 16;
        bytesPerSample = bitsPerSample / 8;
    }
    frameRate = p->frameRate;
    videoWidth = p->videoWidth;
    videoHeight = p->videoHeight;
    durationSeconds = p->durationSeconds;
    return 1;
}

int FfmpegProbe::Read(int32_t* const*) { return 0; }

std::unique_ptr<AudioDecoder> MakeFfmpegDecoder() { return std::make_unique<FfmpegDecoder>(); }
std::unique_ptr<AudioDecoder> MakeFfmpegProbe() { return std::make_unique<FfmpegProbe>(); }

}  // namespace pelloran
