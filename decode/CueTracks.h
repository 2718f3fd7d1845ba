#pragma once
// The tracks of a CUE sheet as spans of sample frames of their files, the files found beside the sheet, and
// each track's tags.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/CueSheet.h"
#include "media/TagRecord.h"

namespace pelloran {

// Where the gap before a track's INDEX 01 (from its INDEX 00) goes.
enum class CueGapMode {
    Appended,   // to the track before (each track runs from its INDEX 01 to the next one's)
    Prepended,  // to the track itself (from its INDEX 00)
    LeftOut,    // to neither (from INDEX 01 to the next track's INDEX 00)
};

struct CueTrackSpan {
    int number = 0;            // 0: the hidden audio before track 1
    size_t track = SIZE_MAX;   // index into CueSheet::tracks; SIZE_MAX for the hidden track
    uint64_t first = 0;        // sample frames of the file
    uint64_t end = 0;          // 0: to the file's end
    CueProblem problem = CueProblem::None;  // TrackPastEnd or TrackEmpty: the track cannot be cut
};

// Audio before track 1's INDEX 01 longer than this is a track of its own (track 0); shorter, track 1 takes it.
inline constexpr uint32_t kHiddenTrackSeconds = 4;

// The file each FILE line names, found in the sheet's folder only: the named file's base name there (any
// folder part of the name is dropped, so "/etc/passwd" and "../../x.flac" never leave the folder), the same
// name in another letter case, else the same stem with another audio extension (flac, wv, ape, wav, then any
// the readers know). "" where none is found. For a sheet carried inside a file, every FILE is that file.
std::vector<std::string> ResolveCueFiles(const CueSheet& sheet, const std::string& sheetPath);

// The audio tracks of one FILE of the sheet, in sheet order. rate: the file's sample rate (CD frames are
// converted exactly, index * rate / 75); fileFrames: its length, 0 when unknown. A track that starts at or past
// the file's end says TrackPastEnd, one with no frames TrackEmpty; an end past the file's end is cut to it.
std::vector<CueTrackSpan> CueSpans(const CueSheet& sheet, size_t file, uint32_t rate, uint64_t fileFrames,
                                   CueGapMode mode = CueGapMode::Appended);

// The audio tracks of the sheet (TRACKTOTAL).
int CueAudioTrackCount(const CueSheet& sheet);

// A track's tags: the album file's own tags with the sheet's over them. The sheet's per-track fields replace
// the file's (title, number, ISRC, track gain); TITLE of the sheet is the album, its PERFORMER the album
// artist (always, as the common taggers write it) and every track's artist unless the track names its own;
// SONGWRITER is the composer, CATALOG (a UPC/EAN) the barcode. Pictures and every other field are kept.
TagRecord CueTrackTags(const CueSheet& sheet, const CueTrackSpan& span, const TagRecord& albumTags);

// "03 — Title", or "03" for a track without a title.
std::string CueDisplayName(const CueSheet& sheet, const CueTrackSpan& span);

}  // namespace pelloran
