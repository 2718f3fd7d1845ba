#include "encode/WmaWriter.h"

#include <cctype>
#include <cstring>
#include <mutex>

#include "encode/Interleave.h"

namespace pelloran {

namespace {
constexpr uint64_t kHundredNs = 10000000;
}

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

bool IsAudioVideoFormat(std::string_view description) {
    std::string upper(description);
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return upper.find("(A/V)") != std::string::npos;
}

bool EnumerateWmaFormats(WmaFormatList& list) {
    list.clear();
    if (!WmaRuntimeReady()) return false;
    const int codecs = WmaCodecCount();
    for (int codec = 0; codec < codecs; ++codec) {
        const int formats = WmaCodecFormatCount(codec);
        for (int i = 0; i < formats; ++i) {
            WmaCodecFormat format;
            if (!WmaCodecFormatDesc(codec, i, format)) return false;
            if (IsAudioVideoFormat(format.description)) continue;
            const uint16_t tag = format.mediaType.formatTag;
            if ((tag != kWmaStandardFormatTag && tag != kWmaProfessionalFormatTag) || format.mediaType.channels > 2)
                continue;
            InsertWmaFormat(list, WmaFormatEntry{std::move(format.mediaType), format.bitrate});
        }
    }
    return true;
}

bool FindWmaFormat(const WmaFormatList& list, int rate, int wantedBitRate, int channels,
                   const WmaMediaType*& mediaType, uint32_t& chosenBitRate) {
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
    if (chosen == nullptr) return false;
    mediaType = &chosen->mediaType;
    chosenBitRate = chosen->bitrate;
    return true;
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

void WmaWriter::SetInputFormat(int rate, int width, int channels) {
    rate_ = rate;
    width_ = width;
    channels_ = channels;
}

void WmaWriter::SetFormat(const WmaMediaType* mediaType, uint32_t bitrate) {
    mediaType_ = mediaType;
    bitrate_ = bitrate;
}

void WmaWriter::SetTags(const std::string& title, const std::string& album, const std::string& artist,
                        const std::string& genre, const std::string& year, const std::string& comment,
                        const std::string& composer, const std::string& copyright, int trackNumber) {
    title_ = title;
    album_ = album;
    artist_ = artist;
    genre_ = genre;
    year_ = year;
    comment_ = comment;
    composer_ = composer;
    copyright_ = copyright;
    trackNumber_ = trackNumber;
}

void WmaWriter::Reset() {
    writer_.reset();
    path_.clear();
    rate_ = width_ = channels_ = 0;
    mediaType_ = nullptr;
    bitrate_ = 0;
    title_.clear();
    album_.clear();
    artist_.clear();
    genre_.clear();
    year_.clear();
    comment_.clear();
    composer_.clear();
    copyright_.clear();
    trackNumber_ = 0;
    framesWritten_ = 0;
    presentationTime_ = 0;
}

bool WmaWriter::Start() {
    if (mediaType_ == nullptr || path_.empty()) {
        Reset();
        return false;
    }
    auto writer = std::make_unique<WmWriter>();
    if (!writer->SetProfile(*mediaType_, bitrate_) || !writer->SetInputProps(rate_, width_, channels_)) {
        Reset();
        return false;
    }
    writer->AddAttribute("Title", title_);
    writer->AddAttribute("Author", artist_);
    writer->AddAttribute("WM/AlbumArtist", artist_);
    writer->AddAttribute("Description", comment_);
    writer->AddAttribute("WM/AlbumTitle", album_);
    writer->AddAttribute("WM/Genre", genre_);
    writer->AddAttribute("WM/TrackNumber", static_cast<uint32_t>(trackNumber_));
    writer->AddAttribute("WM/Year", year_);
    writer->AddAttribute("WM/Composer", composer_);
    writer->AddAttribute("Copyright", copyright_);
    if (!writer->SetOutputFilename(path_) || !writer->BeginWriting()) {
        Reset();
        return false;
    }
    writer_ = std::move(writer);
    framesWritten_ = 0;
    presentationTime_ = 0;
    return true;
}

bool WmaWriter::Write(const void* left, const void* right, int frames, int bytesPerSample) {
    if (!writer_ || frames < 0 || left == nullptr || (channels_ == 2 && right == nullptr)) return false;
    const size_t n = static_cast<size_t>(frames);
    const size_t sampleBytes = static_cast<size_t>(bytesPerSample);
    const void* data = left;
    if (channels_ == 2) {
        InterleaveStereo(left, right, n, sampleBytes, interleave_);
        data = interleave_.data();
    }
    const bool ok = writer_->WriteSample(data, n * static_cast<size_t>(channels_) * sampleBytes);
    // Time stamps follow the total frames, so rounding never accumulates from block to block.
    framesWritten_ += n;
    presentationTime_ = framesWritten_ * kHundredNs / static_cast<uint64_t>(rate_);
    return ok;
}

bool WmaWriter::Encode16(const int16_t* left, const int16_t* right, int frames) {
    return width_ == 16 && Write(left, right, frames, 2);
}

bool WmaWriter::Encode8(const uint8_t* left, const uint8_t* right, int frames) {
    return width_ == 8 && Write(left, right, frames, 1);
}

bool WmaWriter::Finish() {
    const bool ok = writer_ && writer_->EndWriting();
    Reset();
    return ok;
}

}  // namespace pelloran
