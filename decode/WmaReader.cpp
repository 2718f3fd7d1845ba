#include "decode/WmaReader.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "decode/FfmpegSource.h"
#include "decode/Readers.h"
#include "platform/TagReader.h"
#include "platform/ffmpeg_input.h"
#include "platform/wm.h"

namespace pelloran {

namespace {

constexpr uint64_t kHundredNs = 10000000;

// The header attributes of the tag fields, by the keys FFmpeg's ASF demuxer keeps them under (its own names
// first): Title, Author, Description, WM/AlbumTitle, WM/Genre, WM/Year, Copyright, WM/Composer.
struct AttributeKeys {
    std::string TagRecord::*field;
    const char* keys[3];
};
constexpr AttributeKeys kAttributeKeys[] = {
    {&TagRecord::Title, {"title", nullptr, nullptr}},
    {&TagRecord::Artist, {"artist", "author", nullptr}},
    {&TagRecord::Comment, {"comment", "description", nullptr}},
    {&TagRecord::Album, {"album", nullptr, nullptr}},
    {&TagRecord::Genre, {"genre", nullptr, nullptr}},
    {&TagRecord::Year, {"WM/Year", "date", "year"}},
    {&TagRecord::Copyright, {"copyright", nullptr, nullptr}},
    {&TagRecord::Composer, {"composer", nullptr, nullptr}},
};

using Metadata = std::vector<std::pair<std::string, std::string>>;

// The first non-empty value under key (in any case, as the library looks keys up), or null.
const std::string* Value(const Metadata& metadata, const char* key) {
    for (const auto& [name, value] : metadata) {
        if (EqualsIgnoreCase(name, key)) return value.empty() ? nullptr : &value;
    }
    return nullptr;
}

// The header attributes as tags: every attribute with a property name, the others in extra; the track number
// as its integer value ("0" when the file has none).
TagRecord AttributeTags(const Metadata& metadata) {
    TagRecord tags;
    for (const AttributeKeys& entry : kAttributeKeys) {
        for (int i = 0; i < 3 && entry.keys[i] != nullptr; ++i) {
            if (const std::string* value = Value(metadata, entry.keys[i])) {
                tags.*entry.field = *value;
                break;
            }
        }
    }
    for (const auto& [key, value] : metadata) {
        if (value.empty()) continue;
        const std::string property = PropertyNameOfMetadataKey(key);
        if (property.empty() || TagFieldOf(property) != nullptr) continue;
        tags.AddValue(property, value);
    }
    const std::string* track = Value(metadata, "track");  // WM/TrackNumber
    tags.Track = std::to_string(track != nullptr ? TrackNumber(*track) : 0);
    return tags;
}

}  // namespace

std::unique_ptr<AudioDecoder> MakeWmaReader() { return std::make_unique<WmaReader>(); }

WmaReader::WmaReader() = default;
WmaReader::~WmaReader() { Close(); }

void WmaReader::Close() {
    source_.reset();  // before the file it reads
    file_.Close();
    buffer_ = {};
    frames_ = 0;
    tags_ = TagRecord{};
    truncated_ = false;
    ResetState();
}

int WmaReader::Open(const std::string& path, int) {
    Close();
    if (!WmaRuntimeReady() || !file_.Open(path, "rb")) {
        Close();
        return 0;
    }
    const FfmpegSource::Options options{DemuxerSet::WindowsMedia, false, true, false, &cancelled_, true};
    source_ = FfmpegSource::Open(file_, path, options);
    if (!source_) {
        Close();
        return 0;
    }
    const SourceFormat& format = source_->Format();
    tags_ = AttributeTags(source_->ContainerMetadata());
    length = source_->ContainerMicroseconds() * (kHundredNs / 1000000);
    durationSeconds = static_cast<int32_t>(std::min<uint64_t>(length / kHundredNs, INT32_MAX));
    int64_t bitrate = source_->ContainerBitRate();
    if (bitrate <= 0) bitrate = source_->CodecBitRate();
    bitrateKbps = static_cast<int32_t>(bitrate > 0 && bitrate <= UINT32_MAX ? bitrate / 1000 : 0);
    position = 0;
    sampleRate = format.rate;
    outputChannels = std::min(format.channels, kMaxChannels);
    channels = std::max(source_->SourceChannels(), outputChannels);
    bitsPerSample = 16;
    bytesPerSample = 2;
    truncated_ = AsfDataCutShort(file_);
    return 1;
}

int WmaReader::Read(int32_t* const* planes) {
    if (!source_ || planes == nullptr) return 0;
    const SourceFormat& format = source_->Format();
    buffer_.resize(kBlockFrames * format.FrameBytes());
    const size_t frames = source_->Read(buffer_.data(), kBlockFrames);
    SplitChannels(buffer_.data(), frames, format, outputChannels, planes);
    frames_ += frames;
    position = frames_ * kHundredNs / static_cast<uint64_t>(sampleRate);
    return static_cast<int>(frames);
}

int WmaReader::ReadTags(TagRecord& tags) {
    if (!source_) return 0;
    tags = tags_;
    return 1;
}

}  // namespace pelloran
