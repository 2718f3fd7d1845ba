#pragma once
// iTunes-style metadata of a finished MPEG-4 file, written by TagLib: atoms for what has one, freeform
// "----:com.apple.iTunes:NAME" items for the rest, covr for the pictures, iTunSMPB for gapless players.

#include <cstdint>
#include <string>

#include "media/TagRecord.h"

namespace pelloran {

// Encoder delay and padding of an AAC track, in samples (iTunSMPB); all 0 leaves the item out.
struct Mp4Gapless {
    uint64_t delay = 0;
    uint64_t padding = 0;
    uint64_t samples = 0;  // the presented ones
};

// Stores tags (UTF-8) and the gapless item in the file at path. Pictures covr cannot hold (other than JPEG,
// PNG, BMP, GIF) are left out. False when TagLib cannot read or save the file.
bool WriteMp4Tags(const std::string& path, const TagRecord& tags, const Mp4Gapless& gapless);

// The iTunSMPB text of a track.
std::string ItunesGaplessText(const Mp4Gapless& gapless);

}  // namespace pelloran
