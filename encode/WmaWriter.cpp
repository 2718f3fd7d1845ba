#include "encode/WmaWriter.h"

#include <cerrno>
#include <mutex>

#include "encode/Interleave.h"

namespace pelloran {

bool InsertWmaFormat(WmaFormatList& list, WmaFormatEntry entry) {
    const int r = entry.Rate();
    const uint32_t b = entry.bitrate;
    const int c = entry.Channels();
    for (const WmaFormatEntry& e : list) {
        if (e.Rate() == r && e.bitrate == b && e.Channels() == c) return false;
    }
    auto at = list.begin();
    for (; at != list.end(); ++at) {
        if (at->Rate() > r || (at->Rate() == r && at->bitrate > b) ||
            (at->Rate() == r && at->bitrate == b && at->Channels() != c))
            break;
    }
    list.insert(at, std::move(entry));
    return true;
}

bool EnumerateWmaFormats(WmaFormatList& list) {
    list.clear();
    if (!WmaRuntimeReady()) return false;
    for (const WmaFormat& format : WmaEncoderFormats()) {
        if (!format.forVideo && format.channels <= 2)
            InsertWmaFormat(list, WmaFormatEntry{format.rate, format.channels, format.bitrate});
    }
    return true;
}

const WmaFormatEntry* FindWmaFormat(const WmaFormatList& list, int rate, int wantedBitRate, int channels) {
    const WmaFormatEntry* exact = nullptr;
    const WmaFormatEntry* lower = nullptr;   // at the rate, the highest bit rate below
    const WmaFormatEntry* higher = nullptr;  // at the rate, the lowest bit rate above
    const WmaFormatEntry* firstAbove = nullptr;
    const WmaFormatEntry* lastBelow = nullptr;
    const int64_t wanted = wantedBitRate;
    for (const WmaFormatEntry& e : list) {
        if (e.Channels() != channels) continue;
        if (e.Rate() == rate) {
            const int64_t b = e.bitrate;
            if (b == wanted && exact == nullptr) exact = &e;
            if (b < wanted && (lower == nullptr || b > lower->bitrate)) lower = &e;
            if (b > wanted && (higher == nullptr || b < higher->bitrate)) higher = &e;
        } else if (e.Rate() > rate) {
            if (firstAbove == nullptr) firstAbove = &e;
        } else {
            lastBelow = &e;
        }
    }
    const WmaFormatEntry* chosen = exact;
    if (chosen == nullptr && lower != nullptr && higher != nullptr) {
        const int64_t below = wanted - static_cast<int64_t>(lower->bitrate);
        const int64_t above = static_cast<int64_t>(higher->bitrate) - wanted;
        chosen = above <= below ? higher : lower;
    }
    if (chosen == nullptr) chosen = higher != nullptr ? higher : lower;
    if (chosen == nullptr) chosen = firstAbove != nullptr ? firstAbove : lastBelow;
    return chosen;
}

const WmaFormatList& SharedWmaFormats() {
    static std::mutex mutex;
    static WmaFormatList list;
    static bool filled = false;
    std::lock_guard lock(mutex);
    // Entries are never changed once listed, so references stay valid while other threads read them.
    if (!filled && WmaRuntimeReady()) filled = EnumerateWmaFormats(list);
    return list;
}

bool CheckWmaRuntime(UserPrompt* prompt, const std::function<void(const std::string&)>& openAddress) {
    if (WmaRuntimeReady() || LoadWmaRuntime()) {
        SharedWmaFormats();
        return true;
    }
    if (prompt != nullptr && prompt->Ask(Question::WmaRuntimeMissing, {}) && openAddress)
        openAddress(kWmaRuntimeDownloadAddress);
    return false;
}

WmaWriter::WmaWriter(WmaOptions options) : options_(options) {}

bool WmaWriter::Begin(const std::string& path, const PcmFormat& format, const TagRecord& tags) {
    tags_ = tags;
    const WmaFormatEntry& f = options_.format;
    // The runtime may fail without a system error: none is left from before.
    errno = 0;
    return Io(file_.Open(path, WmaFormat{f.rate, f.channels, f.bitrate, false}, format.rate, 16,
                         format.channels));
}

bool WmaWriter::Put(const int32_t* const* planes, int frames) {
    InterleaveSixteen(planes, Format().channels, Format().bits, static_cast<size_t>(frames), interleave_);
    errno = 0;
    return Io(file_.Write(interleave_.data(), static_cast<size_t>(frames) * static_cast<size_t>(Format().channels) * 2));
}

bool WmaWriter::End() {
    errno = 0;
    return Io(file_.Finish(tags_));
}

void WmaWriter::Release() {
    file_.Close();
    tags_ = TagRecord{};
    interleave_.clear();
}

}  // namespace pelloran
