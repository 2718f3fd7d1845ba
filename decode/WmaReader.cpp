#include "decode/WmaReader.h"

#include <cstring>
#include <limits>

#include "decode/Readers.h"
#include "platform/ffmpeg_input.h"
#include "platform/wm.h"

namespace pelloran {

namespace {
constexpr int32_t kInitialSampleBuffer = 0x19000;  // 102400 bytes
constexpr uint64_t kHundredNs = 10000000;
}  // namespace

std::unique_ptr<AudioDecoder> MakeWmaReader() { return std::make_unique<WmaReader>(); }

WmaReader::WmaReader() : sampleBuffer(kInitialSampleBuffer), sampleBufferSize(kInitialSampleBuffer) {}
WmaReader::~WmaReader() { Close(); }

void WmaReader::Close() {
    if (syncReader && readerOpen) syncReader->Close();
    syncReader.reset();
    audioStreamNumber = 0;
    audioOutput = 0;
    titleText.clear();
    authorText.clear();
    descriptionText.clear();
    albumText.clear();
    genreText.clear();
    trackNumber = 0;
    yearText.clear();
    copyrightText.clear();
    composerText.clear();
    haveTags = false;
    pendingIndex = 0;
    pendingFrames = 0;
    readerOpen = 0;
    truncated = false;
    ResetState();
}

bool WmaReader::ReadAttributes() {
    const auto text = [&](const char* name, std::string& field) {
        WmAttribute value;
        const uint32_t result = syncReader->GetAttributeByName(name, value);
        if (result == kWmAttributeMissing) return true;
        if (result != 0) return false;
        if (value.type == WmAttribute::Type::String) field = value.text;
        haveTags = true;
        return true;
    };
    if (!text("Title", titleText) || !text("Author", authorText) || !text("Description", descriptionText) ||
        !text("WM/AlbumTitle", albumText) || !text("WM/Genre", genreText))
        return false;

    WmAttribute value;
    uint32_t result = syncReader->GetAttributeByName("WM/TrackNumber", value);
    if (result == 0) {
        haveTags = true;
        if (value.type == WmAttribute::Type::DWord) trackNumber = static_cast<int32_t>(value.number);
        else if (value.type == WmAttribute::Type::String) trackNumber = TrackNumber(value.text);
    } else if (result != kWmAttributeMissing) {
        return false;
    }

    if (!text("WM/Year", yearText) || !text("Copyright", copyrightText) || !text("WM/Composer", composerText))
        return false;

    result = syncReader->GetAttributeByName("Duration", value);
    if (result == 0 && value.type == WmAttribute::Type::QWord) {
        length = value.number;
        const uint64_t seconds = value.number / kHundredNs;
        durationSeconds = static_cast<int32_t>(seconds > INT32_MAX ? INT32_MAX : seconds);
    } else if (result != 0 && result != kWmAttributeMissing) {
        return false;
    }
    result = syncReader->GetAttributeByName("Bitrate", value);
    if (result == 0) bitrateKbps = static_cast<int32_t>(value.number / 1000);
    else if (result != kWmAttributeMissing) return false;
    return true;
}

int WmaReader::Open(const std::string& path, int) {
    Close();
    syncReader = std::make_unique<WmSyncReader>();
    if (!WmaRuntimeReady() || !syncReader->Open(path)) {
        Close();
        return 0;
    }
    readerOpen = 1;
    audioStreamNumber = syncReader->AudioStreamNumber();
    if (audioStreamNumber == 0 || !ReadAttributes()) {
        Close();
        return 0;
    }
    position = 0;
    audioOutput = 0;
    sampleRate = syncReader->OutputRate();
    outputChannels = syncReader->OutputChannels();
    channels = outputChannels;
    bitsPerSample = 16;
    bytesPerSample = 2;
    if (sampleRate <= 0 || outputChannels < 1 || outputChannels > 2) {
        Close();
        return 0;
    }
    pendingIndex = 0;
    pendingFrames = 0;
    truncated = AsfDataCutShort(path);
    return 1;
}

int WmaReader::Deliver(int16_t* left, int16_t* right, int delivered) {
    const auto* values = reinterpret_cast<const int16_t*>(sampleBuffer.data());
    while (pendingFrames > 0 && delivered < kBlockFrames) {
        if (outputChannels == 2) {
            left[delivered] = values[pendingIndex++];
            right[delivered] = values[pendingIndex++];
        } else {
            left[delivered] = values[pendingIndex++];
        }
        --pendingFrames;
        ++delivered;
    }
    return delivered;
}

int WmaReader::Read(void* left, void* right) {
    if (!readerOpen || left == nullptr || (outputChannels == 2 && right == nullptr)) return 0;
    auto* l = static_cast<int16_t*>(left);
    auto* r = static_cast<int16_t*>(right);
    int delivered = Deliver(l, r, 0);
    WmSample sample;
    while (delivered < kBlockFrames) {
        if (!syncReader->GetNextSample(sample)) break;
        position = sample.time;
        const size_t bytes = sample.pcm.size() * sizeof(int16_t);
        if (bytes > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2)) break;
        const auto length = static_cast<int32_t>(bytes);
        if (sampleBufferSize < length) {
            // Grows by an eighth above the need, to a multiple of 4, plus 4 bytes.
            const int32_t size = ((length + length / 8) & ~3) + 4;
            sampleBuffer.assign(static_cast<size_t>(size), 0);
            sampleBufferSize = size;
        }
        std::memcpy(sampleBuffer.data(), sample.pcm.data(), bytes);
        pendingIndex = 0;
        pendingFrames = length / (2 * outputChannels);
        delivered = Deliver(l, r, delivered);
    }
    return delivered;
}

int WmaReader::ReadTags(TagRecord& tags) {
    if (!haveTags) return 0;
    tags.Title = titleText;
    tags.Artist = authorText;
    tags.Album = albumText;
    tags.Year = yearText;
    tags.Genre = genreText;
    tags.Comment = descriptionText;
    tags.Track = std::to_string(trackNumber);
    tags.Composer = composerText;
    tags.Copyright = copyrightText;
    return 1;
}

}  // namespace pelloran
