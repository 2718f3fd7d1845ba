// CD tracks of the BASS stand-in: a ".cda" file (RIFF "CDDA") names a track, which libcdio-paranoia reads
// from the drive in PELLORAN_CD_DEVICE (a drive or a CUE/BIN image) or /dev/cdrom.

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/File.h"
#include "platform/bass_channel.h"

namespace pelloran::bass {

namespace {

struct CdioDestroyer {
    void operator()(CdIo_t* p) const { cdio_destroy(p); }
};
struct DriveCloser {
    void operator()(cdrom_drive_t* d) const { cdio_cddap_close_no_free_cdio(d); }
};
struct ParanoiaFreer {
    void operator()(cdrom_paranoia_t* p) const { cdio_paranoia_free(p); }
};
using CdioPtr = std::unique_ptr<CdIo_t, CdioDestroyer>;
using DrivePtr = std::unique_ptr<cdrom_drive_t, DriveCloser>;
using ParanoiaPtr = std::unique_ptr<cdrom_paranoia_t, ParanoiaFreer>;

constexpr int kSectorBytes = CDIO_CD_FRAMESIZE_RAW;  // 2352: 588 stereo 16-bit frames
constexpr int kReadRetries = 20;

// libcdio reports a missing drive or disc on stderr; the refused stream says enough.
void QuietCdioLog() {
    static std::once_flag once;
    std::call_once(once, [] { cdio_log_set_handler([](cdio_log_level_t, const char*) {}); });
}

bool EndsWith(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != suffix[i]) return false;
    }
    return true;
}

CdIo_t* OpenDevice(const std::string& device) {
    if (EndsWith(device, ".cue")) return cdio_open_cue(device.c_str());
    return cdio_open(device.c_str(), DRIVER_UNKNOWN);
}

class CdChannel final : public Channel {
public:
    bool Open(const std::string& file);
    uint32_t GetData(void* buffer, uint32_t bytes) override;
    TagFields ReadTagFields() override { return {}; }

private:
    // Members in creation order: destroyed paranoia first, the device last.
    CdioPtr cdio_;
    DrivePtr drive_;
    ParanoiaPtr paranoia_;
    lsn_t nextSector_ = 0;
    lsn_t lastSector_ = 0;
    uint8_t sector_[kSectorBytes] = {};
    size_t sectorPos_ = kSectorBytes;  // bytes of sector_ already handed out
};

bool CdChannel::Open(const std::string& file) {
    path = file;
    const std::optional<int> track = ReadCdaTrack(file);
    if (!track) return false;

    QuietCdioLog();
    const char* env = std::getenv("PELLORAN_CD_DEVICE");
    const std::string device = env && *env ? env : "/dev/cdrom";
    cdio_.reset(OpenDevice(device));
    if (!cdio_) return false;

    const track_t first = cdio_get_first_track_num(cdio_.get());
    const track_t count = cdio_get_num_tracks(cdio_.get());
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK) return false;  // no disc
    if (*track < first || *track >= first + count) return false;
    const auto trackNumber = static_cast<track_t>(*track);
    if (cdio_get_track_format(cdio_.get(), trackNumber) != TRACK_FORMAT_AUDIO) return false;

    drive_.reset(cdio_cddap_identify_cdio(cdio_.get(), CDDA_MESSAGE_FORGETIT, nullptr));
    if (!drive_ || cdio_cddap_open(drive_.get()) != 0) return false;
    nextSector_ = cdio_cddap_track_firstsector(drive_.get(), trackNumber);
    lastSector_ = cdio_cddap_track_lastsector(drive_.get(), trackNumber);
    if (nextSector_ < 0 || lastSector_ < nextSector_) return false;

    paranoia_.reset(cdio_paranoia_init(drive_.get()));
    if (!paranoia_) return false;
    cdio_paranoia_modeset(paranoia_.get(), PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
    cdio_paranoia_seek(paranoia_.get(), nextSector_, SEEK_SET);

    info.freq = 44100;
    info.chans = 2;
    info.flags = 0;
    info.ctype = BASS_CTYPE_STREAM_CD;
    info.origres = 16;
    lengthBytes = static_cast<uint64_t>(lastSector_ - nextSector_ + 1) * kSectorBytes;
    return true;
}

uint32_t CdChannel::GetData(void* buffer, uint32_t bytes) {
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t written = 0;
    while (written < bytes) {
        if (sectorPos_ == kSectorBytes) {
            if (nextSector_ > lastSector_) break;
            const int16_t* samples = cdio_paranoia_read_limited(paranoia_.get(), nullptr, kReadRetries);
            if (samples == nullptr) {
                nextSector_ = lastSector_ + 1;  // unreadable: the track ends here
                break;
            }
            std::memcpy(sector_, samples, kSectorBytes);
            ++nextSector_;
            sectorPos_ = 0;
        }
        const size_t take = std::min<size_t>(bytes - written, kSectorBytes - sectorPos_);
        std::memcpy(out + written, sector_ + sectorPos_, take);
        sectorPos_ += take;
        written += static_cast<uint32_t>(take);
    }
    return written == 0 ? kBassDataError : written;
}

}  // namespace

std::optional<int> ReadCdaTrack(const std::string& path) {
    File file;
    if (!file.Open(path, "rb")) return std::nullopt;
    const int64_t size = file.Size();
    uint8_t header[12];
    if (size < 12 || !file.ReadExact(header, sizeof header)) return std::nullopt;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "CDDA", 4) != 0) return std::nullopt;

    // Walk the chunks for "fmt ": version (16 bits), then the track number (16 bits).
    int64_t pos = 12;
    while (pos + 8 <= size) {
        uint8_t chunk[8];
        if (!file.Seek(pos) || !file.ReadExact(chunk, sizeof chunk)) return std::nullopt;
        const uint32_t length = LoadU32LE(chunk + 4);
        if (length > static_cast<uint64_t>(size - pos - 8)) return std::nullopt;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t body[4];
            if (length < 4 || !file.ReadExact(body, sizeof body)) return std::nullopt;
            const int track = LoadU16LE(body + 2);
            if (track < 1 || track > 99) return std::nullopt;
            return track;
        }
        pos += 8 + int64_t{length} + (length & 1);
    }
    return std::nullopt;
}

bool IsCdaFile(const std::string& path) {
    File file;
    uint8_t header[12];
    return file.Open(path, "rb") && file.ReadExact(header, sizeof header) && std::memcmp(header, "RIFF", 4) == 0 &&
           std::memcmp(header + 8, "CDDA", 4) == 0;
}

std::unique_ptr<Channel> OpenCdChannel(const std::string& path) {
    auto channel = std::make_unique<CdChannel>();
    if (!channel->Open(path)) return nullptr;
    return channel;
}

}  // namespace pelloran::bass
