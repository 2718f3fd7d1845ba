#include "decode/BassDecoder.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstring>

#include "decode/CdSource.h"
#include "decode/FfmpegSource.h"
#include "decode/FlacSource.h"
#include "decode/MidiSource.h"
#include "decode/ModuleSource.h"
#include "decode/Readers.h"
#include "decode/WavSource.h"
#include "platform/MpegFrames.h"

namespace pelloran {

namespace {

// The FFmpeg source as this reader uses it: its own formats, the library's choice of stream, every channel.
FfmpegSource::Options MediaOptions(const CancelCheck& cancelled) {
    return {DemuxerSet::GeneralReader, true, false, false, &cancelled};
}

std::string LowerExtension(const std::string& path) { return ToLowerAscii(PathExtension(path)); }

// The channel mode of the first audio frame's header; 4 when there is none.
int PeekChannelMode(const File& file) {
    const std::optional<uint64_t> start = FindMpegAudioStart(file);
    uint8_t header[4];
    if (!start || !file.ReadExactAt(static_cast<int64_t>(*start), header, sizeof header)) return 4;
    return MpegHeaderChannelMode(header);
}

}  // namespace

void BassDecoder::Close() {
    source_.reset();  // before the file it reads
    floatSource_.reset();
    file_.Close();
    buffer_.clear();
    buffer_.shrink_to_fit();
    narrowFrameBytes_ = 0;
    positionBytes_ = 0;
    id3_.reset();
    streamKind = kOtherStream;
    keptFloat_ = false;
    ResetState();
}

int BassDecoder::Open(const std::string& path, int rate) {
    Close();
    const std::string ext = LowerExtension(path);
    if (ext == ".mp3") {
        streamKind = kMp3Stream;
    } else if (ext == ".midi" || ext == ".mid" || ext == ".rmi" || ext == ".kar") {
        streamKind = kMidiStream;
    }
    const int renderRate = std::max(rate, 0);
    refusal_.clear();
    std::string mediaRefusal;

    if (!file_.Open(path, "rb")) {
        refusal_ = std::strerror(errno);
    } else {
        if (streamKind == kMidiStream) {
            source_ = MidiSource::Open(file_, renderRate);
        } else if (auto cd = CdSource::Open(file_)) {
            source_ = std::move(cd);
        } else if (auto wav = WavSource::Open(file_, path)) {
            source_ = std::move(wav);  // plain PCM WAV needs no FFmpeg
        } else if (auto flac = FlacSource::Open(file_, path)) {
            source_ = std::move(flac);  // nor native FLAC
        } else if (auto media = FfmpegSource::Open(file_, path, MediaOptions(cancelled_), &mediaRefusal)) {
            // The channel mode of an MP3 comes from its first frame header, not from the decoder.
            if (streamKind == kMp3Stream && media->ContainerName() == "mp3") channelMode = PeekChannelMode(file_);
            source_ = std::move(media);
        } else if ((source_ = ModuleSource::Open(file_, renderRate))) {
            streamKind = kModuleStream;
        }
    }
    if (!source_) {
        // FFmpeg's reason, the last word of the formats tried before it; a module or MIDI file's own.
        if (refusal_.empty() && streamKind != kMidiStream) refusal_ = mediaRefusal;
        Close();
        return 0;
    }
    const SourceFormat& format = source_->Format();
    const size_t frameBytes = format.FrameBytes();
    length = source_->LengthFrames() * frameBytes;
    if (length == 0 || format.rate <= 0) {
        Close();
        refusal_ = "its length is unknown";
        return 0;
    }
    const double seconds = static_cast<double>(length) / (static_cast<double>(format.rate) * frameBytes);
    durationSeconds = static_cast<int32_t>(seconds);
    sampleRate = format.rate;
    channels = format.channels;

    // The file's bytes over its playing time, else the PCM rate (modules and CD tracks have no such file).
    if (const std::optional<uint64_t> size = source_->FileBytes(); size && seconds > 0) {
        bitrateKbps = static_cast<int32_t>(std::floor(static_cast<double>(*size) / (seconds * 125) + 0.5));
    } else {
        bitrateKbps = static_cast<int32_t>(static_cast<uint32_t>(format.bits) * static_cast<uint32_t>(sampleRate) *
                                           static_cast<uint32_t>(channels) / 1000u);
    }
    narrowFrameBytes_ = frameBytes;

    // A source wider than 16 bits is read at its own width.
    if (source_->WideWidth() > 16) {
        std::unique_ptr<PcmSource> wide = source_->OpenWide();
        if (wide && wide->Format().channels == channels && wide->Format().rate == sampleRate)
            source_ = std::move(wide);
    }
    const SourceFormat& delivered = source_->Format();
    // A float WAV is FFmpeg's to read; our own source of the same frames stands by to hand out its very floats.
    if (delivered.bits == 32 && delivered.wideBits == 32 && dynamic_cast<const FfmpegSource*>(source_.get())) {
        floatSource_ = WavSource::Open(file_, path, true);
        if (floatSource_ && !(floatSource_->StoresFloat() && floatSource_->LengthFrames() == source_->LengthFrames() &&
                              floatSource_->Format().channels == delivered.channels &&
                              floatSource_->Format().rate == delivered.rate))
            floatSource_.reset();
    }
    outputChannels = std::min(channels, kMaxChannels);
    bitsPerSample = delivered.bits == 32 ? delivered.wideBits : delivered.bits;
    bytesPerSample = delivered.bits / 8;
    buffer_.assign(kBlockFrames * delivered.FrameBytes(), 0);
    return 1;
}

int BassDecoder::Read(int32_t* const* planes) {
    if (!source_ || planes == nullptr) return 0;
    const size_t frames = source_->Read(buffer_.data(), kBlockFrames);
    positionBytes_ += frames * narrowFrameBytes_;
    SplitChannels(buffer_.data(), frames, source_->Format(), outputChannels, planes);
    return static_cast<int>(frames);
}

uint64_t BassDecoder::GetPosition() { return positionBytes_; }

const uint8_t* BassDecoder::GetId3v1Block() {
    if (streamKind != kMp3Stream || !source_) return nullptr;
    if (!id3_) id3_ = ReadId3Blocks(file_);
    return id3_->v1 ? id3_->v1->data() : nullptr;
}

const uint8_t* BassDecoder::GetId3v2Block(int& size) {
    size = 0;
    if (streamKind != kMp3Stream || !source_) return nullptr;
    if (!id3_) id3_ = ReadId3Blocks(file_);
    if (id3_->v2.empty()) return nullptr;
    size = static_cast<int>(id3_->v2.size());  // an ID3v2 tag is at most 256 MB
    return id3_->v2.data();
}

bool BassDecoder::IsTruncated() const { return source_ && source_->Truncated(); }

bool BassDecoder::IsDsd() const {
    const auto* media = dynamic_cast<const FfmpegSource*>(source_.get());
    return media != nullptr && media->Dsd();
}

bool BassDecoder::StoresFloat() const { return floatSource_ != nullptr || keptFloat_; }

bool BassDecoder::KeepFloat() {
    if (keptFloat_) return true;
    if (!floatSource_ || positionBytes_ != 0 || !floatSource_->KeepFloat()) return false;
    source_ = std::move(floatSource_);
    keptFloat_ = true;
    return true;
}

PcmFormat BassDecoder::Format() {
    PcmFormat format = AudioDecoder::Format();
    format.isFloat = keptFloat_;
    return format;
}

int BassDecoder::ReadTags(TagRecord& tags) {
    TagRecord found;
    if (!source_ || !source_->ReadTags(found)) return 0;
    for (std::string* text : {&found.Title, &found.Artist, &found.Album, &found.Year, &found.Genre, &found.Comment,
                              &found.Track, &found.Composer, &found.Copyright}) {
        std::string valid;
        if (ToValidUtf8(*text, valid)) *text = std::move(valid);
    }
    tags = std::move(found);
    return 1;
}

std::unique_ptr<AudioDecoder> MakeBassDecoder() { return std::make_unique<BassDecoder>(); }

}  // namespace pelloran
