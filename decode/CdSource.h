#pragma once
// CD tracks: a ".cda" file (RIFF "CDDA") names a track, which libcdio-paranoia reads from the drive in
// PELLORAN_CD_DEVICE (a drive or a CUE/BIN image) or /dev/cdrom.

#include <memory>
#include <optional>

#include "decode/PcmSource.h"

namespace pelloran {

class File;

// The track number a ".cda" file names, or nothing for anything else.
std::optional<int> ReadCdaTrack(const File& file);

class CdSource final : public PcmSource {
public:
    // Null when the file names no track, or there is no drive, no disc or no such audio track.
    static std::unique_ptr<CdSource> Open(const File& cda);
    ~CdSource() override;

    size_t Read(void* out, size_t frames) override;

private:
    CdSource();
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace pelloran
