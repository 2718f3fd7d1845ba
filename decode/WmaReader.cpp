#include "decode/WmaReader.h"

#include <algorithm>
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
    fileReader.reset();
    fileTags = TagRecord{};
    haveTags = false;
    pendingIndex = 0;
    pendingFrames = 0;
    truncated = false;
    ResetState();
}

int WmaReader::Open(const std::string& path, int) {
    Close();
    fileReader = std::make_unique<WmaFileReader>();
    if (!WmaRuntimeReady() || !fileReader->Open(path)) {
        Close();
        return 0;
    }
    haveTags = fileReader->ReadTags(fileTags);
    length = fileReader->Duration();
    const uint64_t seconds = length / kHundredNs;
    durationSeconds = static_cast<int32_t>(seconds > INT32_MAX ? INT32_MAX : seconds);
    bitrateKbps = static_cast<int32_t>(fileReader->Bitrate() / 1000);
    position = 0;
    sampleRate = fileReader->Rate();
    outputChannels = fileReader->Channels();
    channels = std::max(fileReader->SourceChannels(), outputChannels);
    bitsPerSample = 16;
    bytesPerSample = 2;
    if (sampleRate <= 0 || outputChannels < 1 || outputChannels > 2) {
        Close();
        return 0;
    }
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
    if (!fileReader || left == nullptr || (outputChannels == 2 && right == nullptr)) return 0;
    auto* l = static_cast<int16_t*>(left);
    auto* r = static_cast<int16_t*>(right);
    int delivered = Deliver(l, r, 0);
    WmaBlock sample;
    while (delivered < kBlockFrames) {
        if (!fileReader->NextBlock(sample)) break;
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
    tags = fileTags;
    return 1;
}

}  // namespace pelloran
