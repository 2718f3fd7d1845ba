#include "encode/Mp4Writer.h"

#include <vector>

#include "media/TagRecord.h"

namespace pelloran {

namespace {
constexpr uint32_t kMovieTimeScale = 90000;
constexpr uint8_t kAudioProfileLevel = 0x0F;
}  // namespace

bool Mp4Writer::Open(const std::string& path, int rate, int channels, int width) {
    Close();
    if (width != 8 && width != 16) return false;
    file_.reset(MP4CreateExx(path));
    if (!file_) return false;
    if (!OpenEncoder(rate, channels, RAW_STREAM)) {
        file_.reset();
        return false;
    }
    rate_ = rate;
    frameLength_ = InputSamples() / static_cast<unsigned long>(channels);
    failed_ = false;
    return true;
}

bool Mp4Writer::Start() {
    if (!file_ || !StartEncoder()) return false;
    MP4SetTimeScaleExx(file_.get(), kMovieTimeScale);
    track_ = MP4AddAudioTrackExx(file_.get(), static_cast<uint32_t>(rate_), MP4_INVALID_DURATION,
                                 MP4_MPEG4_AUDIO_TYPE);
    MP4SetAudioProfileLevelExx(file_.get(), kAudioProfileLevel);
    std::vector<uint8_t> info;
    if (!faacEncGetDecoderSpecificInfo(Encoder(), info) ||
        !MP4SetTrackESConfigurationExx(file_.get(), track_, info.data(), static_cast<uint32_t>(info.size())))
        return false;
    encoded_ = 0;
    written_ = 0;
    return true;
}

void Mp4Writer::SetMetadata(const std::string& title, const std::string& artist, const std::string& album,
                            const std::string& genre, const std::string& year, const std::string& comment,
                            const std::string& composer, const std::string&, int trackNumber) {
    if (!file_) return;
    const auto put = [&](const std::string& text, bool (*set)(MP4FileHandle, const char*)) {
        std::string utf8;
        if (!text.empty() && AnsiToUtf8(text, utf8)) set(file_.get(), utf8.c_str());
    };
    put(title, MP4SetMetadataNameExx);
    put(artist, MP4SetMetadataArtistExx);
    put(album, MP4SetMetadataAlbumExx);
    if (trackNumber > 0) {
        const uint16_t track = trackNumber > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(trackNumber);
        MP4SetMetadataTrackExx(file_.get(), track, 0);
    }
    put(year, MP4SetMetadataYearExx);
    put(genre, MP4SetMetadataGenreExx);
    put(comment, MP4SetMetadataCommentExx);
    put(composer, MP4SetMetadataWriterExx);
}

bool Mp4Writer::Consume(unsigned samplesPassed, const uint8_t* data, int bytes) {
    encoded_ += samplesPassed / static_cast<unsigned>(StreamChannels());
    if (bytes <= 0) return !failed_;
    // No sample lasts longer than a frame, and the durations never add up to more than the input plus
    // the one frame of delay that the first sample's offset tells players to skip.
    const uint64_t left = encoded_ + frameLength_ - written_;
    const uint64_t duration = left <= frameLength_ ? left : frameLength_;
    const uint64_t offset = written_ == 0 ? frameLength_ : 0;
    if (!MP4WriteSampleExx(file_.get(), track_, data, static_cast<uint32_t>(bytes), duration, offset, true))
        failed_ = true;
    written_ += duration;
    return !failed_;
}

bool Mp4Writer::Close() {
    if (!file_) {
        CloseEncoder();
        return true;
    }
    bool ok = EncoderStarted() && DrainEncoder() && !failed_;
    ok = MP4CloseExx(file_.release()) && ok;
    CloseEncoder();
    track_ = MP4_INVALID_TRACK_ID;
    rate_ = 0;
    frameLength_ = 0;
    failed_ = false;
    return ok;
}

}  // namespace pelloran
