#include "decode/CdSource.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/File.h"

namespace pelloran {

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

constexpr size_t kSectorBytes = CDIO_CD_FRAMESIZE_RAW;  // 2352: 588 stereo 16-bit frames
constexpr size_t kFrameBytes = 4;
constexpr int kReadRetries = 20;

// libcdio reports a missing drive or disc on stderr; the refused source says enough.
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

}  // namespace

std::optional<int> ReadCdaTrack(const File& file) {
    const int64_t size = file.Size();
    uint8_t header[12];
    if (size < 12 || !file.ReadExactAt(0, header, sizeof header)) return std::nullopt;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "CDDA", 4) != 0) return std::nullopt;

    // Walk the chunks for "fmt ": version (16 bits), then the track number (16 bits).
    int64_t pos = 12;
    while (pos + 8 <= size) {
        uint8_t chunk[8];
        if (!file.ReadExactAt(pos, chunk, sizeof chunk)) return std::nullopt;
        const uint32_t length = LoadU32LE(chunk + 4);
        if (length > static_cast<uint64_t>(size - pos - 8)) return std::nullopt;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t body[4];
            if (length < 4 || !file.ReadExactAt(pos + 8, body, sizeof body)) return std::nullopt;
            const int track = LoadU16LE(body + 2);
            if (track < 1 || track > 99) return std::nullopt;
            return track;
        }
        pos += 8 + int64_t{length} + (length & 1);
    }
    return std::nullopt;
}

struct CdSource::State {
    // In creation order: paranoia goes first, the device last.
    CdioPtr cdio;
    DrivePtr drive;
    ParanoiaPtr paranoia;
    lsn_t nextSector = 0;
    lsn_t lastSector = 0;
    uint8_t sector[kSectorBytes] = {};
    size_t sectorPos = kSectorBytes;  // bytes of sector already handed out
};

CdSource::CdSource() : s_(std::make_unique<State>()) {}
CdSource::~CdSource() = default;

std::unique_ptr<CdSource> CdSource::Open(const File& cda) {
    const std::optional<int> track = ReadCdaTrack(cda);
    if (!track) return nullptr;

    QuietCdioLog();
    std::unique_ptr<CdSource> source(new CdSource);
    State& s = *source->s_;
    const char* env = std::getenv("PELLORAN_CD_DEVICE");
    s.cdio.reset(OpenDevice(env && *env ? env : "/dev/cdrom"));
    if (!s.cdio) return nullptr;

    const track_t first = cdio_get_first_track_num(s.cdio.get());
    const track_t count = cdio_get_num_tracks(s.cdio.get());
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK) return nullptr;  // no disc
    if (*track < first || *track >= first + count) return nullptr;
    const auto trackNumber = static_cast<track_t>(*track);
    if (cdio_get_track_format(s.cdio.get(), trackNumber) != TRACK_FORMAT_AUDIO) return nullptr;

    s.drive.reset(cdio_cddap_identify_cdio(s.cdio.get(), CDDA_MESSAGE_FORGETIT, nullptr));
    if (!s.drive || cdio_cddap_open(s.drive.get()) != 0) return nullptr;
    s.nextSector = cdio_cddap_track_firstsector(s.drive.get(), trackNumber);
    s.lastSector = cdio_cddap_track_lastsector(s.drive.get(), trackNumber);
    if (s.nextSector < 0 || s.lastSector < s.nextSector) return nullptr;

    s.paranoia.reset(cdio_paranoia_init(s.drive.get()));
    if (!s.paranoia) return nullptr;
    cdio_paranoia_modeset(s.paranoia.get(), PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
    cdio_paranoia_seek(s.paranoia.get(), s.nextSector, SEEK_SET);

    source->format_ = {44100, 2, 16};
    source->lengthFrames_ = static_cast<uint64_t>(s.lastSector - s.nextSector + 1) * (kSectorBytes / kFrameBytes);
    return source;
}

size_t CdSource::Read(void* out, size_t frames) {
    State& s = *s_;
    auto* at = static_cast<uint8_t*>(out);
    const size_t bytes = frames * kFrameBytes;
    size_t written = 0;
    while (written < bytes) {
        if (s.sectorPos == kSectorBytes) {
            if (s.nextSector > s.lastSector) break;
            const int16_t* samples = cdio_paranoia_read_limited(s.paranoia.get(), nullptr, kReadRetries);
            if (samples == nullptr) {
                s.nextSector = s.lastSector + 1;  // unreadable: the track ends here
                break;
            }
            std::memcpy(s.sector, samples, kSectorBytes);
            ++s.nextSector;
            s.sectorPos = 0;
        }
        const size_t take = std::min(bytes - written, kSectorBytes - s.sectorPos);
        std::memcpy(at + written, s.sector + s.sectorPos, take);
        s.sectorPos += take;
        written += take;
    }
    return written / kFrameBytes;
}

}  // namespace pelloran
