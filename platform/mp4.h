#pragma once
// Reading side of the MPEG-4 layer: the iTunes-style metadata of a file, through TagLib's MP4 support.

#include <string>

#include "media/TagRecord.h"

namespace pelloran {

// Fills tags from the metadata items of an MPEG-4 file: title, artist, album, year, genre, comment,
// composer (UTF-8) and the track number; items the file lacks leave their fields as they are, and the
// copyright (no item here) is cleared. True when at least one text item was found.
bool ReadMp4Metadata(const std::string& path, TagRecord& tags);

}  // namespace pelloran
